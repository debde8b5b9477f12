// Looking a texture up at a sample: placement of (u, v) in the texture's
// frame, the procedure's calculation, then the frame's colour adjustments.
// Runs on every worker at once; reads the evaluated record only.
//
// Placement, in order (s, t are the coordinates in the texture's frame):
//   1. coverage and translation: the covered range [translate, translate +
//      coverage] becomes [0, 1]; outside it, a direction that does not wrap
//      shows `rgbout`/`aout` (and the overlay) instead of the texture;
//   2. rotation by `rotate` degrees (counter-clockwise) about the centre of
//      the frame;
//   3. repetition, then the offset, in repetitions;
//   4. stagger: odd rows of repetitions move by half a repetition in s;
//   5. mirror: odd repetitions are turned over;
//   6. the procedure sees the position within one repetition, in [0, 1).
// Filter widths follow the same scaling and rotation.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

#include "scene/scene_objects.h"
#include "texture/procedures/pattern_noise.h"
#include "texture/procedures/procedure_parameters.h"
#include "texture/texture.h"
#include "texture/texture_procedure.h"

namespace sky {
namespace {

bool texturing = true;
thread_local bool scan_flag = false;

constexpr float kDegrees = std::numbers::pi_v<float> / 180.0f;

float fraction(float x) {
    return x - std::floor(x);
}

// Turns over odd repetitions: 1.25 -> 0.75.
float mirrored(float x) {
    float cell = std::floor(x);
    float f = x - cell;
    bool odd = static_cast<long long>(cell) % 2 != 0;
    return odd ? 1.0f - f : f;
}

// A placed lookup: false when (u, v) falls outside a covered range that
// does not wrap.
bool place(const TextureFrameValues& f, const TextureLookup& at, TextureCall& call) {
    float s = f.ucoverage != 0.0f ? (at.u - f.utranslate) / f.ucoverage : 0.0f;
    float t = f.vcoverage != 0.0f ? (at.v - f.vtranslate) / f.vcoverage : 0.0f;
    if ((!f.uwrap && (s < 0.0f || s >= 1.0f)) || (!f.vwrap && (t < 0.0f || t >= 1.0f)))
        return false;
    float ds = f.ucoverage != 0.0f ? std::fabs(at.du / f.ucoverage) : 0.0f;
    float dt = f.vcoverage != 0.0f ? std::fabs(at.dv / f.vcoverage) : 0.0f;

    if (f.rotate != 0.0f) {
        // The texture turns by `rotate`: look up at the point turned back.
        float c = std::cos(f.rotate * kDegrees), sn = std::sin(f.rotate * kDegrees);
        float x = s - 0.5f, y = t - 0.5f;
        s = 0.5f + c * x + sn * y;
        t = 0.5f - sn * x + c * y;
        float rds = std::fabs(c) * ds + std::fabs(sn) * dt;
        float rdt = std::fabs(sn) * ds + std::fabs(c) * dt;
        ds = rds;
        dt = rdt;
    }

    s = s * f.urepeat + f.uoffset;
    t = t * f.vrepeat + f.voffset;
    ds *= std::fabs(f.urepeat);
    dt *= std::fabs(f.vrepeat);

    if (f.stagger && static_cast<long long>(std::floor(t)) % 2 != 0) s += 0.5f;
    if (f.mirror) {
        s = mirrored(s);
        t = mirrored(t);
    } else {
        s = fraction(s);
        t = fraction(t);
    }
    call.u = s;
    call.v = t;
    call.du = ds;
    call.dv = dt;
    return true;
}

// Moves the lookup by the smear map's result. Solid textures take its
// colour as a displacement of the point (one channel per axis); surface
// textures take its value as a distance and its hue, weighted by its
// saturation, as a direction in (u, v).
void smear(const TextureFrameValues& f, const TextureLookup& at, TextureKind kind,
           TextureCall& call) {
    TextureColour offset;
    if (!invoke_nested_texture(*f.smear_map, at, offset)) return;
    if (kind == TEXTURE_SOLID) {
        call.point.x += offset.r / 255.0f;
        call.point.y += offset.g / 255.0f;
        call.point.z += offset.b / 255.0f;
        return;
    }
    float h, s, v;
    pattern::to_hsv(offset.r, offset.g, offset.b, h, s, v);
    float angle = h * std::numbers::pi_v<float> * s / 180.0f;
    call.u += v * std::cos(angle);
    call.v += v * std::sin(angle);
}

// The overlay goes over the result by its own alpha.
void apply_overlay(const TextureFrameValues& f, const TextureLookup& at, TextureColour& out) {
    if (f.overlay == nullptr) return;
    TextureColour over;
    if (!invoke_nested_texture(*f.overlay, at, over)) return;
    float a = std::clamp(over.alpha, 0.0f, 1.0f);
    out.r = over.r * a + out.r * (1.0f - a);
    out.g = over.g * a + out.g * (1.0f - a);
    out.b = over.b * a + out.b * (1.0f - a);
    out.alpha = a + out.alpha * (1.0f - a);
}

// Multiplies by a multiplier that may be a texture (which defaults to 1).
void multiply(const TexturedValue& m, const TextureLookup& at, bool colour, TextureColour& out) {
    if (m.texture == nullptr) {
        if (colour) {
            out.r *= m.colour.x;
            out.g *= m.colour.y;
            out.b *= m.colour.z;
        } else {
            out.alpha *= m.scalar;
        }
        return;
    }
    TextureColour factor;
    factor.r = factor.g = factor.b = 255.0f;
    factor.alpha = 1.0f;
    invoke_nested_texture(*m.texture, at, factor);
    if (colour) {
        out.r *= factor.r / 255.0f;
        out.g *= factor.g / 255.0f;
        out.b *= factor.b / 255.0f;
    }
    out.alpha *= factor.alpha;
}

void add(const TexturedValue& o, const TextureLookup& at, bool colour, TextureColour& out) {
    if (o.texture == nullptr) {
        if (colour) {
            out.r += o.colour.x;
            out.g += o.colour.y;
            out.b += o.colour.z;
        } else {
            out.alpha += o.scalar;
        }
        return;
    }
    TextureColour term;
    if (!invoke_nested_texture(*o.texture, at, term)) return;
    out.r += term.r;
    out.g += term.g;
    out.b += term.b;
    out.alpha += term.alpha;
}

bool usable_direction(const Triple& d) {
    float n = d.x * d.x + d.y * d.y + d.z * d.z;
    return std::isfinite(n) && n > 1e-20f;
}

}  // namespace

bool Ar_invoke_texture(const AR_TextureInfo& texture, const TextureLookup& at, TextureColour& out) {
    if (!texturing) return false;
    const TextureFrameValues& f = texture.frame;
    if (!f.active) return false;
    const AR_TextureProcedure& procedure = *texture.procedure;

    // An environment texture used where no direction is known (a surface's
    // colour) looks along the surface's normal instead.
    // (A changed copy of the lookup is made only when one is needed.)
    std::optional<TextureLookup> changed;
    const TextureLookup* where = &at;
    if (procedure.kind == TEXTURE_ENVIRONMENT && !usable_direction(at.direction)) {
        changed.emplace(at);
        changed->direction = usable_direction(at.normal) ? at.normal : Triple{0.0f, 0.0f, 1.0f};
        where = &*changed;
    }
    TextureCall call;
    call.at = where;
    if (procedure.kind == TEXTURE_SURFACE) {
        // By chord length: the surface's parameters redistributed along its
        // control net, their filter widths stretched alike.
        if (f.chord_length && at.chord_length) {
            const ChordLengthMap& m = *at.chord_length;
            changed.emplace(at);
            changed->u = ChordLengthMap::apply(m.u_from, m.u_to, at.u);
            changed->v = ChordLengthMap::apply(m.v_from, m.v_to, at.v);
            changed->du = at.du * std::fabs(ChordLengthMap::slope(m.u_from, m.u_to, at.u));
            changed->dv = at.dv * std::fabs(ChordLengthMap::slope(m.v_from, m.v_to, at.v));
            where = &*changed;
            call.at = where;
        }
        if (!place(f, *where, call)) {
            texture_default_colour(texture, out);
            apply_overlay(f, at, out);
            return true;
        }
    } else if (procedure.kind == TEXTURE_SOLID) {
        call.u = at.u;
        call.v = at.v;
        call.du = call.dv = std::fabs(at.dpoint) * f.texture_scale;
    } else {
        call.u = at.u;
        call.v = at.v;
        call.du = std::fabs(at.du);
        call.dv = std::fabs(at.dv);
    }
    call.point = procedure.kind == TEXTURE_SOLID ? transform_point(at.point, f.texture_from_object)
                                                 : at.point;
    if (f.smear_map) smear(f, at, procedure.kind, call);
    call.filter = std::max(call.du, call.dv);

    procedure.calculation(texture, call, out);

    if (f.invert) {
        out.r = 255.0f - out.r;
        out.g = 255.0f - out.g;
        out.b = 255.0f - out.b;
        out.alpha = 1.0f - out.alpha;
    }
    if (procedure.scalar_output) {
        multiply(f.amult, at, false, out);
        apply_overlay(f, at, out);
        return true;
    }
    if (f.color_remap) {
        float h, s, v;
        pattern::to_hsv(out.r, out.g, out.b, h, s, v);
        TextureLookup remap;
        remap.u = h / 360.0f;
        remap.v = std::min(out.alpha, 0.9999f);
        remap.du = remap.dv = 0.001f;
        remap.object_name = at.object_name;
        TextureColour replaced = out;
        if (invoke_nested_texture(*f.color_remap, remap, replaced)) {
            out.r = replaced.r;
            out.g = replaced.g;
            out.b = replaced.b;
        }
    }
    multiply(f.rgbmult, at, true, out);
    multiply(f.amult, at, false, out);
    add(f.rgboffset, at, true, out);
    add(f.aoffset, at, false, out);
    apply_overlay(f, at, out);
    return true;
}

bool invoke_nested_texture(const AR_TextureInfo& texture, const TextureLookup& at,
                           TextureColour& out) {
    bool saved = scan_flag;
    scan_flag = false;
    bool given = Ar_invoke_texture(texture, at, out);
    scan_flag = saved;
    return given;
}

void Ar_set_texturing(bool on) {
    texturing = on;
}
bool Ar_texturing_on() {
    return texturing;
}

bool Ar_get_scan_flag() {
    return scan_flag;
}
void Ar_set_scan_flag(bool on) {
    scan_flag = on;
}

}  // namespace sky
