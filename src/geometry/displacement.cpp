// Displacement at tessellation: heights from the shader's displacement,
// their limit and the bound that follows from it, and the sink that moves
// (and, where the height varies, refines) a tessellator's triangles.
#include "geometry/displacement.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <set>
#include <string>

#include "base/vecmath.h"
#include "geometry/object_geometry.h"
#include "platform/report.h"
#include "scene/scene_clock.h"
#include "sdl/types.h"
#include "sdl/values.h"
#include "shading/shader.h"
#include "texture/texture.h"

namespace sky {
namespace {

float fixed_factor = 0.0f;

// A height beyond this many times the object's own size is taken for a
// mistake of the scene (a texture scaled by a huge `amult`, a division by
// zero) rather than a shape anyone wants.
constexpr double kLargestRelativeHeight = 10.0;

// Samples per direction when a textured height's range is estimated, and
// the margin its limit keeps beyond the largest sample, for peaks that fall
// between samples.
constexpr int kRangeSamples = 33;
constexpr double kRangeMargin = 1.5;

// A height sampled only at an edge's ends and midpoint can hide a whole
// wave: displaced edges are first halved until they are no longer than
// this share of the parameter range.
constexpr double kCoarsestShare = 1.0 / 8.0;

// Refinement never halves an edge below this share of the parameter range,
// whatever `displacement_detail` asks.
constexpr double kFinestShare = 1.0 / 65536.0;

const AR_ShaderInfo* slot_shader(const GeometryCommon& geometry, std::int32_t slot) {
    if (geometry.shaders.empty()) return nullptr;
    std::size_t k = static_cast<std::size_t>(std::max(slot, 0));
    if (k >= geometry.shaders.size()) k = 0;
    ObjectValue value;
    if (!AR_evaluate(SDL_SHADER, &value, geometry.shaders[k], nullptr)) return nullptr;
    RR_Shader* shader = shader_of(value);
    if (shader == nullptr || shader->info == nullptr) return nullptr;
    Rr_evaluate_shader(*shader);
    return shader->info;
}

double bound_diagonal(const double* b) {
    if (b[0] > b[1]) return 0.0;
    return std::hypot(b[1] - b[0], b[3] - b[2], b[5] - b[4]);
}

// The parameter ranges the texture is sampled over and refinement measures
// edges against: a patch's knots, a polyset's texture coordinates.
void parameter_range(const GeometryCommon& geometry, double range[4]) {
    range[0] = 0, range[1] = 1, range[2] = 0, range[3] = 1;
    if (geometry.type == SDL_PATCH) {
        const NurbsSurface& s = static_cast<const PatchGeometry&>(geometry).surface;
        if (!s.uknots.empty() && !s.vknots.empty()) {
            range[0] = s.uknots.front(), range[1] = s.uknots.back();
            range[2] = s.vknots.front(), range[3] = s.vknots.back();
        }
    } else if (geometry.type == SDL_POLYSET) {
        const auto& polyset = static_cast<const PolysetGeometry&>(geometry);
        if (polyset.mesh && !polyset.mesh->texture_vertices.empty()) {
            range[0] = range[2] = INFINITY;
            range[1] = range[3] = -INFINITY;
            const MeshRecords<float>& st = polyset.mesh->texture_vertices;
            for (std::size_t i = 0; i < st.size(); ++i) {
                const double t[2] = {st[i][0], st[i][1]};
                range[0] = std::min(range[0], t[0]), range[1] = std::max(range[1], t[0]);
                range[2] = std::min(range[2], t[1]), range[3] = std::max(range[3], t[1]);
            }
        }
    }
}

// The largest |height| of a texture over a grid of the parameter range and
// through the bound (solid textures read the point); NaN when some sample
// was not a number.
double sampled_height(const AR_TextureInfo& texture, const double range[4], const double* b) {
    double largest = 0.0;
    bool nan = false;
    for (int i = 0; i < kRangeSamples; ++i) {
        for (int j = 0; j < kRangeSamples; ++j) {
            const double s = static_cast<double>(i) / (kRangeSamples - 1);
            const double t = static_cast<double>(j) / (kRangeSamples - 1);
            TextureLookup at;
            at.u = static_cast<float>(range[0] + s * (range[1] - range[0]));
            at.v = static_cast<float>(range[2] + t * (range[3] - range[2]));
            at.point = Triple{static_cast<float>(b[0] + s * (b[1] - b[0])),
                              static_cast<float>(b[2] + t * (b[3] - b[2])),
                              static_cast<float>(b[4] + 0.5 * (b[5] - b[4]))};
            at.normal = Triple{0, 0, 1};
            TextureColour out;
            if (!Ar_invoke_texture(texture, at, out)) return 0.0;
            if (std::isnan(out.alpha))
                nan = true;
            else
                largest = std::max(largest, static_cast<double>(std::fabs(out.alpha)));
        }
    }
    return nan ? NAN : largest;
}

// Each object's clamping is reported once per run.
void report_clamped(const char* name, double limit) {
    static std::mutex lock;
    static std::set<std::string> said;
    std::lock_guard<std::mutex> hold(lock);
    if (!said.insert(name).second) return;
    rptWarning("displacement of %s is too large or not a number; clamped to %g", name, limit);
}

// Object units per unit of height: 1, or under the fixed factor the
// reciprocal of the placement's scale (the cube root of its volume change,
// exact for uniform scales).
double object_units_per_height(const TransformValue& placement) {
    const float* m = placement.direction.m;
    const double det = m[0] * (m[5] * m[10] - m[6] * m[9]) - m[1] * (m[4] * m[10] - m[6] * m[8]) +
                       m[2] * (m[4] * m[9] - m[5] * m[8]);
    const double s = std::cbrt(std::fabs(det));
    return (1.0 - fixed_factor) + (s > 0 ? fixed_factor / s : 0.0);
}

}  // namespace

void set_fixed_displacement(float factor) {
    fixed_factor = std::clamp(factor, 0.0f, 1.0f);
}

void prepare_displacement(GeometryCommon& geometry, std::int32_t slot, const char* name) {
    geometry.displacement = Displacement{};
    geometry.displacement.name = name;
    const AR_ShaderInfo* shader = slot_shader(geometry, slot);
    if (shader == nullptr) return;
    const TexturedColour& d = shader->displacement;
    const Triple& c = d.colour;
    Displacement out;
    out.name = name;
    out.texture = d.texture;
    out.constant = (c.x + c.y + c.z) / (3.0f * 255.0f);
    if (!out.active()) return;
    if (geometry.type == SDL_FACE) {
        if (!at_shutter_open(scene_clock()) && !at_shutter_close(scene_clock()))
            rptError("Faces cannot be displacement mapped (%s)\n", name);
        return;
    }
    double range[4];
    parameter_range(geometry, range);
    const double size = bound_diagonal(geometry.bound);
    const double cap = kLargestRelativeHeight * size;
    double limit = 0.0;
    if (out.texture) {
        out.constant = 0.0f;
        const double sampled = sampled_height(*out.texture, range, geometry.bound);
        limit = std::isnan(sampled) || sampled > cap ? cap : kRangeMargin * sampled + 1e-6 * size;
        if (std::isnan(sampled) || sampled > cap) report_clamped(name, cap);
    } else {
        limit = std::fabs(out.constant);
        if (!std::isfinite(out.constant) || limit > cap) {
            report_clamped(name, cap);
            out.constant = std::isnan(out.constant) ? 0.0f : std::copysign(cap, out.constant);
            limit = std::fabs(out.constant);
        }
    }
    out.limit = static_cast<float>(std::min(limit, cap));
    if (geometry.type == SDL_PATCH) {
        const auto& patch = static_cast<const PatchGeometry&>(geometry);
        if (patch.tessellator_path && out.texture) {
            out.refine = true;
            const float smoothness =
                patch.edge_smoothness > 0 ? patch.edge_smoothness : patch.surface_smoothness;
            out.tolerance = static_cast<float>(smoothness * size);
            const double extent = std::max(range[1] - range[0], range[3] - range[2]);
            out.coarsest = extent * kCoarsestShare;
            out.finest =
                extent * std::max(1.0 / std::max(patch.displacement_detail, 1), kFinestShare);
        }
    }
    geometry.displacement = out;
}

double displacement_reach(const GeometryCommon& geometry, const TransformValue& placement) {
    const Displacement& d = geometry.displacement;
    return d.active() ? d.limit * object_units_per_height(placement) : 0.0;
}

DisplacingSink::DisplacingSink(const Displacement& displacement, const TransformValue& placement,
                               TriangleSink& next)
    : displacement_(displacement), scale_(object_units_per_height(placement)), next_(next) {}

float DisplacingSink::height_at(double u, double v, const SurfacePoint& near) {
    float h = displacement_.constant;
    if (displacement_.texture) {
        TextureLookup at;
        at.u = static_cast<float>(u);
        at.v = static_cast<float>(v);
        at.point =
            Triple{static_cast<float>(near.position[0]), static_cast<float>(near.position[1]),
                   static_cast<float>(near.position[2])};
        at.normal = Triple{static_cast<float>(near.normal[0]), static_cast<float>(near.normal[1]),
                           static_cast<float>(near.normal[2])};
        TextureColour out;
        h = Ar_invoke_texture(*displacement_.texture, at, out) ? out.alpha : 0.0f;
    }
    const float limit = displacement_.limit;
    if (std::isnan(h) || std::fabs(h) > limit) {
        ++clamped_;
        h = std::isnan(h) ? 0.0f : std::copysign(limit, h);
    }
    return h;
}

DisplacingSink::Corner DisplacingSink::corner(const SurfacePoint& p) {
    return Corner{p, height_at(p.u, p.v, p)};
}

// The edge's midpoint, made the same whichever way round the edge is
// walked, so the two triangles that share an edge agree on it.
DisplacingSink::Corner DisplacingSink::midpoint(const Corner& a, const Corner& b) {
    SurfacePoint m;
    for (int k = 0; k < 3; ++k) {
        m.position[k] = (a.point.position[k] + b.point.position[k]) * 0.5;
        m.normal[k] = (a.point.normal[k] + b.point.normal[k]) * 0.5;
    }
    const Imath::V3d n = normalise(Imath::V3d(m.normal[0], m.normal[1], m.normal[2]));
    m.normal[0] = n.x, m.normal[1] = n.y, m.normal[2] = n.z;
    m.u = (a.point.u + b.point.u) * 0.5;
    m.v = (a.point.v + b.point.v) * 0.5;
    m.has_colour = a.point.has_colour && b.point.has_colour;
    for (int k = 0; k < 3; ++k) m.colour[k] = (a.point.colour[k] + b.point.colour[k]) * 0.5f;
    return corner(m);
}

// Decided by the edge alone (its ends and midpoint), never by the triangle:
// neighbours split a shared edge alike and no crack opens between them.
bool DisplacingSink::splits(const Corner& a, const Corner& b, const Corner& mid) const {
    const double length = std::hypot(a.point.u - b.point.u, a.point.v - b.point.v);
    if (length <= displacement_.finest) return false;
    if (length > displacement_.coarsest) return true;
    const double straying = std::fabs(mid.height - 0.5 * (a.height + b.height)) * scale_;
    return straying > displacement_.tolerance;
}

void DisplacingSink::add_triangle(const SurfacePoint& a, const SurfacePoint& b,
                                  const SurfacePoint& c) {
    const Corner ca = corner(a), cb = corner(b), cc = corner(c);
    if (displacement_.refine)
        refine(ca, cb, cc, 0);
    else
        emit(ca, cb, cc);
}

void DisplacingSink::refine(const Corner& a, const Corner& b, const Corner& c, int depth) {
    // The finest edge stops every split long before; this only guards
    // against parameters that are not numbers.
    constexpr int kDeepest = 24;
    if (depth >= kDeepest) {
        emit(a, b, c);
        return;
    }
    const Corner ab = midpoint(a, b), bc = midpoint(b, c), ca = midpoint(c, a);
    const bool sab = splits(a, b, ab), sbc = splits(b, c, bc), sca = splits(c, a, ca);
    const int next = depth + 1;
    switch ((sab ? 1 : 0) | (sbc ? 2 : 0) | (sca ? 4 : 0)) {
        case 0:
            emit(a, b, c);
            break;
        case 1:
            refine(a, ab, c, next), refine(ab, b, c, next);
            break;
        case 2:
            refine(a, b, bc, next), refine(a, bc, c, next);
            break;
        case 4:
            refine(a, b, ca, next), refine(ca, b, c, next);
            break;
        case 3:
            refine(a, ab, c, next), refine(ab, b, bc, next), refine(ab, bc, c, next);
            break;
        case 6:
            refine(a, b, ca, next), refine(ca, b, bc, next), refine(ca, bc, c, next);
            break;
        case 5:
            refine(a, ab, ca, next), refine(ab, b, c, next), refine(ab, c, ca, next);
            break;
        default:
            refine(a, ab, ca, next), refine(ab, b, bc, next), refine(ca, bc, c, next),
                refine(ab, bc, ca, next);
            break;
    }
}

// Moves the corners along their normals. Where the height varies the
// normal tilts with it: the displaced surface's tangents are the surface's
// (taken from the triangle) plus the height's slopes along the normal.
void DisplacingSink::emit(const Corner& a, const Corner& b, const Corner& c) {
    const Corner* in[3] = {&a, &b, &c};
    SurfacePoint out[3] = {a.point, b.point, c.point};
    Imath::V3d pu(0), pv(0);
    bool tangents = false;
    if (displacement_.texture) {
        const auto position = [](const SurfacePoint& p) {
            return Imath::V3d(p.position[0], p.position[1], p.position[2]);
        };
        const Imath::V3d e1 = position(b.point) - position(a.point);
        const Imath::V3d e2 = position(c.point) - position(a.point);
        const double du1 = b.point.u - a.point.u, dv1 = b.point.v - a.point.v;
        const double du2 = c.point.u - a.point.u, dv2 = c.point.v - a.point.v;
        const double det = du1 * dv2 - du2 * dv1;
        if (std::fabs(det) > 1e-18) {
            pu = (e1 * dv2 - e2 * dv1) / det;
            pv = (e2 * du1 - e1 * du2) / det;
            tangents = true;
        }
    }
    for (int i = 0; i < 3; ++i) {
        const SurfacePoint& p = in[i]->point;
        const double h = in[i]->height * scale_;
        const Imath::V3d n(p.normal[0], p.normal[1], p.normal[2]);
        for (int k = 0; k < 3; ++k) out[i].position[k] = p.position[k] + h * n[k];
        if (!tangents) continue;
        const double step = std::max(displacement_.finest, 1e-4);
        const double hu =
            (height_at(p.u + step, p.v, p) - height_at(p.u - step, p.v, p)) * scale_ / (2 * step);
        const double hv =
            (height_at(p.u, p.v + step, p) - height_at(p.u, p.v - step, p)) * scale_ / (2 * step);
        if (hu == 0.0 && hv == 0.0) continue;
        // The triangle's tangents laid into the vertex's own tangent plane,
        // so that without slopes the normal stays the vertex's: neighbouring
        // triangles then agree on it and the shading shows no facets.
        const Imath::V3d tu = pu - n * n.dot(pu), tv = pv - n * n.dot(pv);
        Imath::V3d tilted = (tu + n * hu).cross(tv + n * hv);
        if (tilted.dot(n) < 0) tilted = -tilted;
        if (tilted.length() == 0.0) continue;
        tilted.normalize();
        out[i].normal[0] = tilted.x, out[i].normal[1] = tilted.y, out[i].normal[2] = tilted.z;
    }
    next_.add_triangle(out[0], out[1], out[2]);
}

}  // namespace sky
