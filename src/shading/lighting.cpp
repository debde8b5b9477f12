// Shading one layer: the surface's textured parameters at the point, bump
// mapping, the loop over the object's lights (ambient, diffuse,
// translucence, highlights), reflection, and the finishing steps that
// composite the layer over what lies behind it. Runs on every worker at
// once; reads the evaluated infos, writes the shading point and the
// sample's colour and glow only, allocates nothing.
//
// Colour scales: surface and light colours 0..255. The ambient and diffuse
// sums are 0..1 (the ambient light's colour comes divided by 255, the
// diffuse term divides by 255), so colour × sums is 0..255; highlights are
// summed in light-colour units and weighted by the 0..1 highlight colour.
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>

#include "base/vecmath.h"
#include "scene/scene_objects.h"
#include "shading/image_lighting.h"
#include "shading/light.h"
#include "shading/light_internal.h"
#include "shading/shader_internal.h"
#include "texture/texture.h"

namespace sky {
namespace {

using namespace shading;

std::atomic<BackgroundLookup> background_lookup{nullptr};
Matrix4 world_from_eye_matrix;  // written between renders only

TextureLookup lookup_at(const AR_ShadePoint& shaded) {
    const AR_ShadePoint& point = texture_inputs(shaded);
    TextureLookup at = surface_lookup(point);
    // The footprint in space, for solid textures: how far the point moves
    // across the sample (the tangents are in eye space, which the object's
    // placement rarely scales much).
    at.dpoint = std::fmax(length(point.dp_du) * std::fabs(point.du),
                          length(point.dp_dv) * std::fabs(point.dv));
    if (point.object) at.chord_length = point.object->chord_length;
    for (int e = 0; e < 2; ++e) {
        at.along[e] = point.edge[e];
        at.normal_change[e] = point.normal_change[e];
    }
    return at;
}

// The point's texture lookup, made when a texture first asks for it: most
// surfaces have no texture, and making it costs two square roots a sample.
// Shading changes nothing the lookup reads (the normal bump mapping turns is
// not among them), so it is the same whenever it is made.
// Held unmade until then: filling its defaults was a dozen stores a sample.
class PointLookup {
public:
    explicit PointLookup(const AR_ShadePoint& point) : point_(point) {}
    const TextureLookup& get() {
        if (!at_) at_.emplace(lookup_at(point_));
        return *at_;
    }

private:
    const AR_ShadePoint& point_;
    std::optional<TextureLookup> at_;
};

// A textured colour at the point (0..255), and the lookup's alpha. Most
// slots have no texture, so that case stays inline in the caller and the
// look-up is a call of its own.
[[gnu::noinline]] Triple texture_colour(const TexturedColour& slot, PointLookup& at, float* alpha) {
    TextureColour out;
    if (Ar_invoke_texture(*slot.texture, at.get(), out)) {
        if (alpha) *alpha = out.alpha;
        return out.rgb();
    }
    if (alpha) *alpha = luminance(slot.colour) / 255.0f;
    return slot.colour;
}
inline Triple textured(const TexturedColour& slot, PointLookup& at) {
    return slot.texture ? texture_colour(slot, at, nullptr) : slot.colour;
}

// A colour-or-scalar model parameter at the point, 0..1 per channel.
[[gnu::noinline]] Triple texture_slot_colour(const ColourSlot& slot, PointLookup& at) {
    TextureColour out;
    if (Ar_invoke_texture(*slot.texture, at.get(), out)) return scale(out.rgb(), 1.0f / 255.0f);
    return slot.colour;
}
inline Triple slot_colour(const ColourSlot& slot, PointLookup& at) {
    return slot.texture ? texture_slot_colour(slot, at) : slot.colour;
}

// The height the bump texture gives at (u, v): its alpha (the scalar
// result every texture has, scaled by its `amult`).
float bump_height(const AR_TextureInfo& texture, TextureLookup at, float u, float v) {
    at.u = u;
    at.v = v;
    TextureColour out;
    return Ar_invoke_texture(texture, at, out) ? out.alpha : 0.0f;
}

// Bump mapping as a height field over the surface: the height's slopes
// along u and v (central differences over the sample's footprint, at least
// 1/1000 of the parameter range) tilt the normal by the classic
// perturbation N' = N + (h_u (N × P_v) − h_v (N × P_u)) / |N|.
void bump(const AR_ShaderInfo& shader, AR_ShadePoint& point, PointLookup& lookup) {
    if (shader.bump.texture == nullptr) return;
    texture_inputs(point);
    if (length(point.dp_du) == 0.0f || length(point.dp_dv) == 0.0f) return;
    const TextureLookup& at = lookup.get();
    float du = std::fmax(point.du, 1e-3f), dv = std::fmax(point.dv, 1e-3f);
    const AR_TextureInfo& t = *shader.bump.texture;
    float hu =
        (bump_height(t, at, point.u + du, point.v) - bump_height(t, at, point.u - du, point.v)) /
        (2 * du);
    float hv =
        (bump_height(t, at, point.u, point.v + dv) - bump_height(t, at, point.u, point.v - dv)) /
        (2 * dv);
    const Triple& n = point.normal;
    Triple tilt = sub(scale(cross(n, point.dp_dv), hu), scale(cross(n, point.dp_du), hv));
    Triple bumped = normalise(add(n, tilt));
    if (length(bumped) > 0.0f) point.normal = bumped;
}

// The surface's colour, incandescence and transparency at the point.
void surface(const AR_ShaderInfo& shader, AR_ShadePoint& point, PointLookup& at) {
    point.colour = textured(shader.color, at);
    point.incandescence = textured(shader.incandescence, at);
    float alpha = shader.transparency_luminance;
    Triple t = shader.transparency.colour;
    if (shader.transparency.texture) {
        t = texture_colour(shader.transparency, at, &alpha);
        alpha = clamp01(alpha);
    }
    if ((std::bit_cast<std::uint32_t>(t.x) | std::bit_cast<std::uint32_t>(t.y) |
         std::bit_cast<std::uint32_t>(t.z)) == 0) {
        // Opaque (+0 in every channel, which the divisions below keep): most
        // surfaces, spared three divisions a sample.
        point.transparency[0] = point.transparency[1] = point.transparency[2] = 0.0f;
    } else {
        point.transparency[0] = clamp01(t.x / 255.0f);
        point.transparency[1] = clamp01(t.y / 255.0f);
        point.transparency[2] = clamp01(t.z / 255.0f);
    }
    point.transparency[3] = alpha;

    // Transparency shade: surfaces grow opaque toward their silhouettes.
    float shade = shader.param[SHADER_TRANSPARENCY_SHADE];
    if (shade > 0.0f && point.normal.x != kNoNormal) {
        float facing = std::fabs(dot(point.normal, point.view));
        float keep = 1.0f - shade * (1.0f - facing);
        for (float& c : point.transparency) c *= keep;
    }
    // Opacity depth: the longer the ray runs inside the object, the less
    // it lets through, down to opaque at `opacity_depth`.
    float depth = shader.param[SHADER_OPACITY_DEPTH];
    if (depth > 0.0f && point.thickness > 0.0) {
        float keep = clamp01(1.0f - static_cast<float>(point.thickness) / depth);
        for (float& c : point.transparency) c *= keep;
    }
}

// The shading map: the shaded colour's brightness looks the map up (u the
// brightness 0..1, v ½) and the map's colour replaces the result.
[[gnu::noinline]] Triple mapped_shading(const AR_ShaderInfo& shader, const Triple& result,
                                        PointLookup& at) {
    TextureLookup map = at.get();
    map.u = clamp01(luminance(result) / 255.0f);
    map.v = 0.5f;
    map.du = map.dv = 0.0f;
    TextureColour out;
    return Ar_invoke_texture(*shader.shading_map.texture, map, out) ? out.rgb() : result;
}
inline Triple shading_map(const AR_ShaderInfo& shader, const Triple& result, PointLookup& at) {
    return shader.shading_map.texture ? mapped_shading(shader, result, at) : result;
}

// Steps 1 to 5 of finishing: `result` is the layer's colour before
// transparency, `highlight` the part of it that opacity depth dims.
void finish(const AR_ShaderInfo& shader, AR_ShadePoint& point, Triple result,
            const Triple& highlight) {
    Triple incandescence = point.incandescence;
    const float* t = point.transparency;
    if (shader.param[SHADER_OPACITY_DEPTH] != 0.0f) {
        float keep = 1.0f - (t[0] + t[1] + t[2]) / 3.0f;
        incandescence = scale(incandescence, keep);
        result = add(sub(result, highlight), scale(highlight, keep));
    }
    const Triple before_transparency = result;
    float* out = point.output;
    // Not ±0 in some channel (a NaN counts), in one test: the bits
    // without the sign are zero only for ±0.
    const bool transparent =
        ((std::bit_cast<std::uint32_t>(t[0]) | std::bit_cast<std::uint32_t>(t[1]) |
          std::bit_cast<std::uint32_t>(t[2])) &
         0x7fffffffu) != 0;
    float alpha = 255.0f;
    if (transparent) {
        result.x += (out[0] - result.x) * t[0];
        result.y += (out[1] - result.y) * t[1];
        result.z += (out[2] - result.z) * t[2];
        alpha = 255.0f + (out[3] - 255.0f) * t[3];
    }
    result = add(result, incandescence);

    float g = shader.param[SHADER_GLOW_INTENSITY];
    if (point.mode == 1) {
        if (point.glow && Ar_shader_glow_on() && g > 0.0f) {
            const Triple& k = before_transparency;
            const Triple& in = incandescence;
            float kc[3] = {k.x, k.y, k.z}, ic[3] = {in.x, in.y, in.z};
            for (int c = 0; c < 3; ++c) {
                float G;
                if (shader.param[SHADER_HIDE_GLOW_SOURCE] != 0.0f) {
                    point.glow[c] = std::fmax(point.glow[c], (1.0f - t[c]) * g * (kc[c] + ic[c]));
                    G = g * (kc[c] + ic[c]);
                } else {
                    G = g * kc[c];
                }
                if (transparent)
                    point.glow[c] = std::fmax(point.glow[c] * t[c], (1.0f - t[c]) * G);
                else
                    point.glow[c] = G;
                point.glow[c] += ic[c] * g;
            }
        }
        return;  // the glow pass leaves the sample's colour alone
    }
    out[0] = result.x;
    out[1] = result.y;
    out[2] = result.z;
    out[3] = alpha;
}

// How far (radians) the mirror direction turns across the sample's
// footprint, so reflection maps are filtered as the surface spreads them:
// the line of sight turns by the footprint's width across it over its
// distance, and the mirror by that and twice the normal's turn.
float reflection_spread(const AR_ShadePoint& shaded) {
    const AR_ShadePoint& point = texture_inputs(shaded);
    const float distance = length(point.position);
    float spread = 0.0f;
    for (const float* reach : {point.edge_x, point.edge_y}) {
        Triple step = add(scale(point.edge[0], reach[0]), scale(point.edge[1], reach[1]));
        Triple turn =
            add(scale(point.normal_change[0], reach[0]), scale(point.normal_change[1], reach[1]));
        Triple across = sub(step, scale(point.view, dot(step, point.view)));
        if (distance > 0.0f) spread += length(across) / distance;
        spread += 2.0f * length(turn);
    }
    return std::isfinite(spread) ? spread : 0.0f;
}

// The reflection colour (0..255) in the mirror direction, or none.
bool reflection_colour(const AR_ShaderInfo& shader, const ColourSlot& reflection,
                       const AR_ShadePoint& point, const Triple& mirror, PointLookup& at,
                       Triple& colour) {
    if (shader.param[SHADER_REFLECT_BACKGROUND] != 0.0f) {
        BackgroundLookup lookup = background_lookup.load(std::memory_order_relaxed);
        return lookup && lookup(mirror, reflection_spread(point), colour);
    }
    if (reflection.texture == nullptr) return false;
    TextureLookup env = at.get();
    env.direction = normalise(transform_vector(mirror, world_from_eye_matrix));
    env.eye_direction = normalise(mirror);
    env.du = env.dv = reflection_spread(point);
    TextureColour out;
    if (!Ar_invoke_texture(*reflection.texture, env, out)) return false;
    colour = out.rgb();
    return true;
}

// The light probe as one more light: its irradiance as diffuse light and,
// for highlights, its specular map in the mirror direction (colours 0..255
// like the lights').
void add_image_lighting(const LitModel& model, const Triple& n, const Triple& v, const Triple& d,
                        Triple& diffuse, Triple& specular) {
    const Triple world_normal = normalise(transform_vector(n, world_from_eye_matrix));
    diffuse = add(diffuse, mul(image_diffuse(world_normal), d));
    if (model.highlight == Highlight::NONE) return;
    const Triple mirror = normalise(transform_vector(reflect(v, n), world_from_eye_matrix));
    const std::int32_t lobe =
        model.highlight == Highlight::PHONG ? phong_lobe(model.shinyness) : blinn_lobe(model.c);
    specular = add(specular, scale(image_specular(mirror, lobe), 255.0f));
}

}  // namespace

namespace shading {

float phong_highlight(const Triple& normal, const Triple& view, const Triple& to_light,
                      std::int32_t shinyness) {
    float r_dot_l = dot(reflect(view, normal), to_light);
    if (r_dot_l <= 0.0f) return 0.0f;
    float exponent = std::log(r_dot_l) * static_cast<float>(shinyness);
    if (exponent < -12.5f) return 0.0f;
    float s = std::exp(exponent);
    return s > 1e-5f ? s : 0.0f;
}

float blinn_highlight(const Triple& normal, const Triple& view, const Triple& to_light,
                      float n_dot_l, float n_dot_v, float c, float rolloff) {
    Triple h = normalise(add(to_light, view));
    float n_dot_h = dot(normal, h), v_dot_h = dot(view, h);
    if (v_dot_h <= 0.0f) return 0.0f;  // the geometric term is undefined behind the half vector
    float d = (c + 1.0f) / (n_dot_h * n_dot_h + c);
    float g;
    if (n_dot_l > n_dot_v)
        g = v_dot_h > 2.0f * n_dot_h * n_dot_v ? 2.0f * n_dot_h / v_dot_h : 1.0f / n_dot_v;
    else
        g = v_dot_h > 2.0f * n_dot_h * n_dot_l ? 2.0f * n_dot_h * n_dot_l / (v_dot_h * n_dot_v)
                                               : 1.0f / n_dot_v;
    float fresnel = std::pow(1.0f - v_dot_h, 3.0f);
    float f = (1.0f - fresnel) * (1.0f - rolloff) + fresnel;
    float s = f * d * d * g;
    return s > 1e-5f ? s : 0.0f;
}

// Its steps inlined: every lit sample takes them. One copy for each
// highlight, so a surface without one carries none of their steps.
template <Highlight kHighlight>
[[gnu::flatten]] void shade_lit(const AR_ShaderInfo& shader, AR_ShadePoint& point,
                                const LitModel& model) {
    PointLookup at(point);
    surface(shader, point, at);
    bump(shader, point, at);
    const Triple& n = point.normal;
    const Triple& v = point.view;

    float n_dot_v = 0.0f;
    if (kHighlight == Highlight::BLINN) {
        n_dot_v = std::fmin(std::fmax(dot(n, v), -1.0f), 1.0f);
        if (n_dot_v == 0.0f) {
            point.output[0] = point.output[1] = point.output[2] = 0.0f;
            point.output[3] = 255.0f;
            return;
        }
    }

    Triple d = model.diffuse ? slot_colour(*model.diffuse, at) : Triple{};
    d = Triple{clamp01(d.x), clamp01(d.y), clamp01(d.z)};
    const float translucence = shader.param[SHADER_TRANSLUCENCE];
    const float translucence_depth = shader.param[SHADER_TRANSLUCENCE_DEPTH];
    // Read only by a translucent surface: no division for the others.
    const float tau = translucence != 0.0f ? translucence / 255.0f : 0.0f;
    const float translucent = translucence != 0.0f ? translucence_depth : 0.0f;

    Triple ambient, diffuse, specular;
    // What one light's answer adds.
    const auto add_light = [&](const AR_LightSample& sample) {
        const Triple& colour = sample.colour;
        if (sample.ambient) ambient = add(ambient, colour);
        float n_dot_l =
            sample.has_n_dot_l ? static_cast<float>(sample.n_dot_l) : dot(n, sample.direction);
        if (sample.diffuse_kind == 2)
            diffuse = add(diffuse, scale(mul(colour, d), 1.0f / 255.0f));
        else if (sample.diffuse_kind == 1)
            diffuse = add(diffuse, scale(mul(colour, d), n_dot_l / 255.0f));
        if (translucence != 0.0f && !sample.ambient) {
            float t = tau;
            if (translucence_depth == 0.0f && n_dot_l < 0.2f) t = tau * n_dot_l / 0.2f;
            diffuse = add(diffuse, scale(colour, t));
        }
        if (kHighlight != Highlight::NONE && sample.specular) {
            float s = kHighlight == Highlight::PHONG
                          ? phong_highlight(n, v, sample.direction, model.shinyness)
                          : blinn_highlight(n, v, sample.direction, n_dot_l, n_dot_v, model.c,
                                            model.specular_rolloff);
            if (s > 0.0f) specular = add(specular, scale(colour, s));
        }
    };
    for (const AR_LightInfo* light : point.lights) {
        if (light == nullptr || !light->on || light->model->calculation == nullptr) continue;
        // The lights of nearly every scene without a call, each answer in
        // a record of its own that stays in registers. Every model fills
        // what is read of its answer, so no light sees another's.
        const auto calculation = light->model->calculation;
        if (calculation == lights::spot_light) {
            AR_LightSample sample;
            preset_light_sample(sample, translucent);
            if (lights::spot_light_at(*light, point, sample)) add_light(sample);
        } else if (calculation == lights::ambient_light) {
            AR_LightSample sample;
            preset_light_sample(sample, translucent);
            if (lights::ambient_light_at(*light, point, sample)) add_light(sample);
        } else {
            AR_LightSample sample;
            preset_light_sample(sample, translucent);
            if (calculation(*light, point, sample)) add_light(sample);
        }
    }

    if (shader.param[SHADER_REFLECT_BACKGROUND] != 0.0f && image_lighting_on())
        add_image_lighting(model, n, v, d, diffuse, specular);

    Triple result = mul(point.colour, add(ambient, diffuse));
    Triple highlight;
    if (kHighlight != Highlight::NONE) {
        Triple spec = slot_colour(*model.specular, at);
        Triple mix =
            add(scale(point.colour, (1.0f - model.gloss) / 255.0f), scale(spec, model.gloss));
        highlight = scale(mul(specular, mix), model.specular_intensity);
        Triple mirror;
        Triple reflected = reflect(v, n);
        if (reflection_colour(shader, *model.reflection, point, reflected, at, mirror)) {
            float r = model.reflectivity->texture ? luminance(slot_colour(*model.reflectivity, at))
                                                  : model.reflectivity->scalar;
            r = std::fmin(r, 1.0f);
            result = add(result, scale(mul(mirror, spec), r));
        }
        result = add(result, highlight);
    }
    finish(shader, point, shading_map(shader, result, at), highlight);
}

template void shade_lit<Highlight::NONE>(const AR_ShaderInfo&, AR_ShadePoint&, const LitModel&);
template void shade_lit<Highlight::PHONG>(const AR_ShaderInfo&, AR_ShadePoint&, const LitModel&);
template void shade_lit<Highlight::BLINN>(const AR_ShaderInfo&, AR_ShadePoint&, const LitModel&);

void shade_unlit(const AR_ShaderInfo& shader, AR_ShadePoint& point) {
    PointLookup at(point);
    surface(shader, point, at);
    finish(shader, point, shading_map(shader, point.colour, at), Triple{});
}

}  // namespace shading

void Ar_shade_layer(const AR_ShaderInfo& shader, AR_ShadePoint& point) {
    // The flag is almost always clear already.
    const bool scan = Ar_get_scan_flag();
    if (scan) Ar_set_scan_flag(false);
    shader.model->calculation(shader, point.position, point, point.object);
    if (scan) Ar_set_scan_flag(true);
}

void set_background_lookup(BackgroundLookup lookup) {
    background_lookup.store(lookup);
}

void set_shading_camera(const Matrix4& world_from_eye) {
    world_from_eye_matrix = world_from_eye;
}

}  // namespace sky
