// What the light models share: their parameter nodes, the evaluation of
// their parameters, and the steps every positional light takes at a point
// (colour, shadow, decay).
#pragma once

#include <cmath>
#include <cstdint>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "base/vecmath.h"
#include "platform/fatal.h"
#include "shading/light.h"
#include "shading/lights/shadow_query.h"

namespace sky::lights {

// What the positional models say of their decay.
inline constexpr const char* kInvalidDecay = "Invalid decay (not 0,1,2, or 3)\n";
inline constexpr const char* kDecay =
    "Fall-off with distance beyond 1: 0 none, 1 linear, 2 quadratic, 3 cubic.";
inline constexpr const char* kDropoff =
    "Fall-off away from the light's axis: a power of the cosine, 0 for none.";

// A model's parameter expressions, by the row of the model's table.
inline constexpr int kMaxModelParameters = 32;
struct ModelNode {
    Expr* values[kMaxModelParameters] = {};
};

// A model parameter from the parser: into its row's place in the node, or
// the table's unknown-name message.
bool parse_model_parameter(const ParameterTable& table, void* node, const char* name, Expr* value);

// Every parameter of the model into its info, defaults and ranges
// included; false when one does not evaluate.
bool evaluate_model(const ParameterTable& table, const void* node, void* info);

void* allocate_node();
void release_node(void* node);

// A new info with every parameter of the model at its default.
template <typename Info, const ParameterTable& table>
void* allocate_info() {
    auto* info = new Info();
    store_defaults(table.rows, info);
    return info;
}
template <typename Info>
bool copy_info(void* to, const void* from) {
    if (to == nullptr || from == nullptr) return false;
    *static_cast<Info*>(to) = *static_cast<const Info*>(from);
    return true;
}
template <typename Info>
void release_info(void* info) {
    delete static_cast<Info*>(info);
}
bool no_init(AR_LightInfo&);

// The parse routine of a model whose parameters are `table`: the parameter
// into its row's place, or the table's unknown-name rule. A call without a
// node, name or value ends the run with the table's missing_node message.
template <const ParameterTable& table>
bool parse_model(void* node, const char* name, Expr* value) {
    if (node == nullptr || name == nullptr || value == nullptr) fatal("%s", table.missing_node);
    return parse_model_parameter(table, node, name, value);
}

// A model's row: its own routines, with the shared node, info, copy and
// release routines for an info of type `Info` whose parameters are `table`.
template <typename Info, const ParameterTable& table>
constexpr AR_LightModel light_row(const char* name,
                                  decltype(AR_LightModel::calculation) calculation,
                                  decltype(AR_LightModel::parse) parse,
                                  decltype(AR_LightModel::eval) eval,
                                  decltype(AR_LightModel::init) init, LightKind kind) {
    return AR_LightModel{.name = name,
                         .calculation = calculation,
                         .alloc_node = allocate_node,
                         .alloc_info = allocate_info<Info, table>,
                         .parse = parse,
                         .eval = eval,
                         .init = init,
                         .copy = copy_info<Info>,
                         .release = release_info<Info>,
                         .kind = kind,
                         .parameters = &table};
}

// The light's colour at the point (the texture looked up there when the
// colour is textured), scaled by its intensity. `textured` says whether a
// texture gave it.
Triple textured_colour_at(const AR_LightInfo& light, const AR_ShadePoint& point, bool& textured);
inline Triple colour_at(const AR_LightInfo& light, const AR_ShadePoint& point, bool& textured) {
    textured = false;
    // Lights are rarely textured: their plain colour is worked out inline.
    if (light.colour.texture) return textured_colour_at(light, point, textured);
    return mul(light.colour.colour, light.colour_scale);
}

// Divides by 1, d, d² or d³ for decay 0..3 beyond a distance of 1; no decay
// within it, so a light close to a surface never brightens it beyond its
// own colour.
inline float decay_factor(std::int32_t decay, float distance) {
    if (distance <= 1.0f || decay <= 0) return 1.0f;
    switch (decay) {
        case 1:
            return 1.0f / distance;
        case 2:
            return 1.0f / (distance * distance);
        default:
            return 1.0f / (distance * distance * distance);
    }
}

// The steps of a positional light after its geometry: the N·L test
// (returns false when the light does not reach the front of the surface and
// no translucency was asked for), shadow (transmission per channel into
// `colour`: `shadowed` is the fraction of the point in the light's shadow,
// tinted toward `shadow_color`), then `factor` (decay, cone, dropoff)
// applied. With
// intensity_only the scalar answer is left in sample.intensity. Returns
// false when the light does not reach the point.
inline bool orient(const AR_ShadePoint& point, AR_LightSample& sample) {
    if (point.normal.x == kNoNormal) return true;
    double n_dot_l = dot(point.normal, sample.direction);
    sample.has_n_dot_l = true;
    sample.n_dot_l = n_dot_l;
    if (n_dot_l < 0.0001) {
        if (sample.translucent == 0.0f) return false;
        sample.diffuse_kind = 0;
        sample.specular = false;
    }
    return true;
}

// A light at a position: its distance and direction from the point, the
// point's side toward it settled. The distance, or -1 when the light is
// behind a point that takes no translucency.
inline float aim_at_light(const AR_LightInfo& light, const AR_ShadePoint& point,
                          AR_LightSample& sample) {
    Triple to_light = sub(light.position, point.position);
    float distance = length(to_light);
    sample.distance = distance;
    sample.direction = distance > 0.0f ? scale(to_light, 1.0f / distance) : to_light;
    if (!sample.intensity_only && !orient(point, sample)) return -1.0f;
    sample.ambient = false;
    return distance;
}

inline bool finish_positional(const AR_LightInfo& light, const AR_ShadePoint& point, float factor,
                              AR_LightSample& sample, float shadowed = 0.0f) {
    bool textured = false;
    Triple colour = colour_at(light, point, textured);
    // Shadow: a fully shadowed point still receives `shadow_color` (black
    // by default); in between, each channel moves linearly toward it.
    Triple transmission{1.0f, 1.0f, 1.0f};
    if (const float s = shadowed; s > 0.0f) {
        const Triple& depth = light.shadow_depth;
        transmission = Triple{1.0f - s * depth.x, 1.0f - s * depth.y, 1.0f - s * depth.z};
        if (transmission.x < 0.001f && transmission.y < 0.001f && transmission.z < 0.001f)
            return false;
    }
    if (sample.intensity_only) {
        float mean_transmission = (transmission.x + transmission.y + transmission.z) / 3.0f;
        float value = factor * mean_transmission;
        if (textured) value *= (colour.x + colour.y + colour.z) / 765.0f;
        sample.intensity = value;
        return true;
    }
    sample.colour = scale(mul(colour, transmission), factor);
    return true;
}

// --- the lights of nearly every lit sample --------------------------------------
// The spot and ambient lights' calculations, inline: the lighting loop
// takes them without a call (`spot_light` and `ambient_light` are the
// rows' calculations, the loop's test of which model a light has).

int spot_light(const AR_LightInfo& light, const AR_ShadePoint& point, AR_LightSample& sample);
int ambient_light(const AR_LightInfo& light, const AR_ShadePoint& point, AR_LightSample& s);

// The shadowed fraction of an eye-space point at `distance` from the spot
// light, through the light's map (0 when it has none).
inline float spot_shadow_fraction(const AR_LightInfo& light, const Triple& eye_point,
                                  float distance) {
    const ShadowMap* map = light.shadow_map;
    if (map == nullptr || map->size < 1) return 0.0f;
    const float* m = map->clip_from_eye.m;
#if defined(__SSE2__)
    // The point times the matrix's rows, a lane for each of X, Y, Z and W
    // with the sums in the order of the scalar lines below; then both
    // quotients in one division.
    const __m128 row_sum =
        _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(eye_point.x), _mm_loadu_ps(m)),
                                         _mm_mul_ps(_mm_set1_ps(eye_point.y), _mm_loadu_ps(m + 4))),
                              _mm_mul_ps(_mm_set1_ps(eye_point.z), _mm_loadu_ps(m + 8))),
                   _mm_loadu_ps(m + 12));
    alignas(16) float clip[4];
    _mm_store_ps(clip, row_sum);
    float W = clip[3];
    if (std::fabs(W) < 0.00001f) W = W < 0.0f ? -0.00001f : 0.00001f;
    const __m128 negated = _mm_xor_ps(row_sum, _mm_set1_ps(-0.0f));
    alignas(16) float projected[4];
    _mm_store_ps(projected, _mm_div_ps(negated, _mm_set1_ps(W)));
    const float x = projected[0], y = projected[1];
#else
    const float X = eye_point.x * m[0] + eye_point.y * m[4] + eye_point.z * m[8] + m[12];
    const float Y = eye_point.x * m[1] + eye_point.y * m[5] + eye_point.z * m[9] + m[13];
    float W = eye_point.x * m[3] + eye_point.y * m[7] + eye_point.z * m[11] + m[15];
    if (std::fabs(W) < 0.00001f) W = W < 0.0f ? -0.00001f : 0.00001f;
    const float x = -X / W, y = -Y / W;
#endif
    const auto& spot = *static_cast<const SpotLightInfo*>(light.model_info);
    const ShadowQuerySettings settings{spot.edge_quality, spot.min_depth, spot.blend_offset};
    return query_shadow_map(*map, x, y, distance, settings);
}

// Across the penumbra band the light fades smoothly (a cubic in the cosine,
// with zero slope at both edges) from full strength at the inner edge to
// nothing at the cut-off.
inline float penumbra_fade(const SpotLightInfo& s, float cos_theta) {
    if (!s.has_penumbra || cos_theta >= s.inner_cos) return 1.0f;
    float t = (cos_theta - s.cone_cos) / (s.inner_cos - s.cone_cos);
    t = clamp01(t);
    return t * t * (3.0f - 2.0f * t);
}

inline int spot_light_at(const AR_LightInfo& light, const AR_ShadePoint& point,
                         AR_LightSample& sample) {
    const auto& s = *static_cast<const SpotLightInfo*>(light.model_info);
    const float distance = aim_at_light(light, point, sample);
    if (distance < 0.0f) return 0;

    float cos_theta = -dot(sample.direction, s.eye_axis);
    if (cos_theta < s.cone_cos) return 0;
    float factor = decay_factor(s.decay, distance);
    if (s.dropoff != 0.0f) factor *= std::pow(cos_theta, s.dropoff);
    factor *= penumbra_fade(s, cos_theta);
    if (factor <= 0.0f) return 0;
    const float shadowed =
        light.casts_shadows ? spot_shadow_fraction(light, point.position, distance) : 0.0f;
    return finish_positional(light, point, factor, sample, shadowed) ? 1 : 0;
}

// Whether every coordinate of both is finite, in one test: x − x is +0 for
// a finite x and NaN for an infinity or a NaN, and a sum of them is NaN as
// soon as one is.
inline bool all_finite(const Triple& a, const Triple& b) {
    const float zeros =
        (a.x - a.x) + (a.y - a.y) + (a.z - a.z) + (b.x - b.x) + (b.y - b.y) + (b.z - b.z);
    return zeros == 0.0f;
}

// all_finite(light.position − point.position, point.normal), a coordinate
// to a lane: each Triple is read with the float that follows it in its
// record (the light's first axis, the geometric normal, the view), whose
// lane the answer leaves out.
inline bool aim_and_normal_finite(const AR_LightInfo& light, const AR_ShadePoint& point) {
#if defined(__SSE2__)
    const __m128 to_light =
        _mm_sub_ps(_mm_loadu_ps(&light.position.x), _mm_loadu_ps(&point.position.x));
    const __m128 normal = _mm_loadu_ps(&point.normal.x);
    const __m128 zeros = _mm_add_ps(_mm_sub_ps(to_light, to_light), _mm_sub_ps(normal, normal));
    return (_mm_movemask_ps(_mm_cmpneq_ps(zeros, _mm_setzero_ps())) & 7) == 0;
#else
    return all_finite(sub(light.position, point.position), point.normal);
#endif
}

// Light from everywhere, darkened on the sides turned away from the light's
// position by `ambient_shade`: 0 lights every side alike, 1 shades like a
// point light without highlights.
inline int ambient_light_at(const AR_LightInfo& light, const AR_ShadePoint& point,
                            AR_LightSample& s) {
    const auto& a = *static_cast<const AmbientLightInfo*>(light.model_info);
    float factor = 1.0f;
    if (a.ambient_shade == 0.0f && aim_and_normal_finite(light, point)) {
        // Light alike from every side (the factor below is exactly 1 for
        // any finite N·L): its direction and distance would go unused, and
        // finding them is most of this light's cost on every sample.
        s.distance = 0.0f;
        s.direction = Triple{};
    } else {
        const Triple to_light = sub(light.position, point.position);
        s.distance = length(to_light);
        s.direction = normalise(to_light);
        if (point.normal.x != kNoNormal)
            factor = (dot(point.normal, s.direction) - 1.0f) * a.ambient_shade + 1.0f;
    }
    if (factor <= 0.0f && s.translucent == 0.0f) return 0;
    s.diffuse_kind = 0;
    s.specular = false;
    bool textured = false;
    Triple colour = colour_at(light, point, textured);
    if (s.intensity_only) {
        s.intensity = textured ? factor * (colour.x + colour.y + colour.z) / 765.0f : factor;
        return 1;
    }
    // A light alike from every side has a factor of exactly 1, whose
    // quotient is the constant's.
    constexpr float kPerUnit = 1.0f / 255.0f;
    s.colour = scale(colour, factor == 1.0f ? kPerUnit : factor / 255.0f);
    return 1;
}

// Where a point of the volume light's own frame lies in its shape: inside
// or not, and r and the axial place of the model's fading (volume.cpp).
struct VolumePlace {
    float r = 0.0f, axial = 0.0f;
    bool inside = false;
};
VolumePlace volume_place(const VolumeLightInfo& v, const Triple& q);
// The radius about the frame's origin that holds the whole shape.
float volume_bound(const VolumeLightInfo& v);

// A linear light of no length is reported once per placed light.
void warn_degenerate_linear(AR_LightInfo& light);

// Rows exported by the models' files.
extern const AR_LightModel kPointLight;
extern const AR_LightModel kDirectionalLight;
extern const AR_LightModel kSpotLight;
extern const AR_LightModel kLinearLight;
extern const AR_LightModel kAreaLight;
extern const AR_LightModel kAmbientLight;
extern const AR_LightModel kVolumeLight;

}  // namespace sky::lights
