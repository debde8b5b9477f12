// The volume light: lights the points inside a shape placed by the light's
// transformation, fading toward the shape's boundary.
//
// Shapes, in the light's own frame: the box [−1, 1]³; the unit sphere; the
// cylinder of radius 1 about the y axis from y = −1 to 1; the cone about
// the y axis with radius 1 at y = −1 narrowing to `cone_end_radius` at
// y = 1; the torus about the y axis with major radius 1 and tube radius
// `torus_radius`. For a point inside, r in [0, 1] is how far it lies from
// the shape's core toward its boundary (a for the cylinder and cone: along
// their axis). Intensity:
//   decay: 1 up to `decay_start`, then ((1 − r)/(1 − decay_start))^decay;
//   dropoff: the same along the axis (cylinder, cone) or in r (others),
//            from `dropoff_start` with exponent `dropoff`;
//   turbulence: × (1 − intensity × (1 − n)), n a smooth fractal noise in
//            [0, 1] of the point in the light's frame (moving with the frame
//            when `turbulence_animated`).
// Direction: away from the core (`concentric`), away from the axis
// (`radial`) or along `directional`; `directionality` blends N·L shading
// (1) with light that ignores orientation (0). `exclude` turns the shape
// inside out: the light reaches only points outside it.
#include <cmath>

#include "base/vecmath.h"
#include "platform/fatal.h"
#include "scene/scene_clock.h"
#include "shading/light_internal.h"

namespace sky::lights {
namespace {

using enum ParameterType;

#define VOLUME(member) .store = SKY_FIELD(VolumeLightInfo, member)

constexpr Parameter kVolumeRows[] = {
    {.name = "shape",
     .type = INTEGER,
     .value = {SPHERE_VOLUME},
     .below = replaced(0, 1),
     .above = replaced(4, 1),
     VOLUME(shape),
     .description = "0 box, 1 sphere, 2 cylinder, 3 cone, 4 torus; any other is a sphere."},
    {.name = "decay",
     .value = {1.0f},
     VOLUME(decay),
     .description = "Exponent of the fall-off toward the boundary."},
    {.name = "decay_start",
     .value = {0.8f},
     .below = at_least(0),
     .above = at_most(1),
     VOLUME(decay_start),
     .description = "Where the fall-off starts, 0 core .. 1 boundary."},
    {.name = "dropoff",
     VOLUME(dropoff),
     .description = "Exponent of the fall-off along the axis (cylinder, cone) or outward."},
    {.name = "dropoff_start",
     .value = {0.5f},
     .below = at_least(0),
     .above = at_most(1),
     VOLUME(dropoff_start),
     .description = "Where the dropoff starts."},
    {.name = "directionality",
     .value = {0.5f},
     .below = at_least(0),
     .above = at_most(1),
     VOLUME(directionality),
     .description = "1 shades by N·L, 0 lights every side alike."},
    {.name = "concentric",
     .type = FLAG,
     .value = {1.0f},
     VOLUME(concentric),
     .description = "Light travels away from the core."},
    {.name = "radial",
     .type = FLAG,
     VOLUME(radial),
     .description = "Light travels away from the axis (when not concentric)."},
    {.name = "torus_radius",
     .value = {0.5f},
     .below = replaced(0, 0.001f, true),
     VOLUME(torus_radius),
     .description = "The torus's tube radius."},
    {.name = "cone_end_radius",
     .below = at_least(0),
     VOLUME(cone_end_radius),
     .description = "The cone's radius at its narrow end."},
    {.name = "directional",
     .type = TRIPLE,
     .value = {0.0f, -1.0f, 0.0f},
     VOLUME(directional),
     .description = "The direction light travels when neither concentric nor radial."},
    {.name = "directional_turbulence",
     VOLUME(directional_turbulence),
     .description = "Turbulence of the direction."},
    {.name = "exclude",
     .type = FLAG,
     VOLUME(exclude),
     .description = "The light reaches only points outside the shape."},
    {.name = "specular",
     .type = FLAG,
     VOLUME(specular),
     .description = "The light makes highlights."},
    {.name = "turbulence_type",
     .type = INTEGER,
     VOLUME(turbulence_type),
     .description = "The kind of turbulence."},
    {.name = "turbulence_intensity",
     .below = at_least(0),
     .above = at_most(1),
     VOLUME(turbulence_intensity),
     .description = "How much turbulence dims the light."},
    {.name = "turbulence_spread",
     .value = {1.0f},
     VOLUME(turbulence_spread),
     .description = "Frequency of the turbulence."},
    {.name = "turbulence_persistance",
     .also = "turbulence_persistence",
     .value = {5.0f},
     VOLUME(turbulence_persistence),
     .description = "How long the turbulence lasts."},
    {.name = "turbulence_space_resolution",
     .value = {16.0f},
     VOLUME(turbulence_space_resolution),
     .description = "Detail of the turbulence in space."},
    {.name = "turbulence_time_resolution",
     .value = {16.0f},
     VOLUME(turbulence_time_resolution),
     .description = "Pace of animated turbulence."},
    {.name = "turbulence_roughness",
     .value = {0.5f},
     VOLUME(turbulence_roughness),
     .description = "Strength of each finer octave of the turbulence."},
    {.name = "turbulence_variability",
     VOLUME(turbulence_variability),
     .description = "Variation of the turbulence."},
    {.name = "turbulence_granularity",
     VOLUME(turbulence_granularity),
     .description = "Graininess of the turbulence."},
    {.name = "turbulence_animated",
     .type = FLAG,
     VOLUME(turbulence_animated),
     .description = "The turbulence moves with the frame."},
};
#undef VOLUME
static_assert(rows_are_consistent(kVolumeRows) && std::size(kVolumeRows) <= kMaxModelParameters);
constexpr ParameterTable kVolumeTable{kVolumeRows, "Unknown parameter %s for volume light.\n",
                                      UnknownName::FATAL};

bool parse_volume(void* node, const char* name, Expr* value) {
    if (node == nullptr || name == nullptr || value == nullptr)
        fatal("Internal System Error at %d in %s, Call Support\n", __LINE__, "volume_light.c");
    return parse_model_parameter(kVolumeTable, node, name, value);
}

bool eval_volume(AR_LightInfo&, void* node, void* info) {
    auto& v = *static_cast<VolumeLightInfo*>(info);
    if (!evaluate_model(kVolumeTable, node, info)) fatal("Can't evaluate volume light\n");
    // Animated turbulence moves through its noise at the time resolution's pace.
    v.time = static_cast<float>(scene_clock().time) * v.turbulence_time_resolution / 16.0f;
    return true;
}

// Value noise on the integer lattice, smoothly interpolated: [0, 1].
float lattice(int x, int y, int z, int w) {
    std::uint32_t h =
        static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u ^
        static_cast<std::uint32_t>(z) * 83492791u ^ static_cast<std::uint32_t>(w) * 2654435761u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return static_cast<float>(h & 0xffffffu) / static_cast<float>(0xffffff);
}

float smooth(float t) {
    return t * t * (3.0f - 2.0f * t);
}

float value_noise(float x, float y, float z, int w) {
    int ix = static_cast<int>(std::floor(x)), iy = static_cast<int>(std::floor(y)),
        iz = static_cast<int>(std::floor(z));
    float fx = smooth(x - ix), fy = smooth(y - iy), fz = smooth(z - iz);
    float c[2][2][2];
    for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 2; ++b)
            for (int d = 0; d < 2; ++d) c[a][b][d] = lattice(ix + a, iy + b, iz + d, w);
    auto lerp = [](float p, float q, float t) { return p + (q - p) * t; };
    float x00 = lerp(c[0][0][0], c[1][0][0], fx), x10 = lerp(c[0][1][0], c[1][1][0], fx);
    float x01 = lerp(c[0][0][1], c[1][0][1], fx), x11 = lerp(c[0][1][1], c[1][1][1], fx);
    return lerp(lerp(x00, x10, fy), lerp(x01, x11, fy), fz);
}

// Fractal sum of three octaves, each `roughness` as strong as the last.
float turbulence(const VolumeLightInfo& v, const Triple& q) {
    float frequency = std::fmax(v.turbulence_spread, 1e-3f);
    float amplitude = 1.0f, total = 0.0f, norm = 0.0f;
    int time = v.turbulence_animated ? static_cast<int>(std::floor(v.time)) : 0;
    for (int octave = 0; octave < 3; ++octave) {
        total += amplitude * value_noise(q.x * frequency, q.y * frequency, q.z * frequency, time);
        norm += amplitude;
        amplitude *= v.turbulence_roughness;
        frequency *= 2.0f;
    }
    return norm > 0.0f ? total / norm : 0.0f;
}

float falloff(float r, float start, float exponent) {
    if (exponent == 0.0f || r <= start) return 1.0f;
    if (start >= 1.0f) return 1.0f;
    return std::pow(clamp01((1.0f - r) / (1.0f - start)), exponent);
}

}  // namespace

VolumePlace volume_place(const VolumeLightInfo& v, const Triple& q) {
    VolumePlace place;
    const float radial = std::sqrt(q.x * q.x + q.z * q.z);
    switch (v.shape) {
        case BOX_VOLUME:
            place.r = std::fmax(std::fabs(q.x), std::fmax(std::fabs(q.y), std::fabs(q.z)));
            place.inside = place.r <= 1.0f;
            break;
        case SPHERE_VOLUME:
            place.r = length(q);
            place.inside = place.r <= 1.0f;
            break;
        case CYLINDER_VOLUME:
            place.r = radial;
            place.axial = std::fabs(q.y);
            place.inside = place.r <= 1.0f && place.axial <= 1.0f;
            break;
        case CONE_VOLUME: {
            const float t = (q.y + 1.0f) * 0.5f;  // 0 at the wide end
            const float radius = 1.0f + (v.cone_end_radius - 1.0f) * t;
            place.r = radius > 0.0f ? radial / radius : (radial > 0.0f ? 2.0f : 0.0f);
            place.axial = t;
            place.inside = q.y >= -1.0f && q.y <= 1.0f && place.r <= 1.0f;
            break;
        }
        default: {
            const float ring = radial - 1.0f;
            place.r = std::sqrt(ring * ring + q.y * q.y) / v.torus_radius;
            place.inside = place.r <= 1.0f;
            break;
        }
    }
    return place;
}

float volume_bound(const VolumeLightInfo& v) {
    switch (v.shape) {
        case SPHERE_VOLUME:
            return 1.0f;
        case CONE_VOLUME:
            return std::sqrt(1.0f + std::fmax(1.0f, v.cone_end_radius * v.cone_end_radius));
        case BOX_VOLUME:
        case CYLINDER_VOLUME:
            return std::sqrt(3.0f);
        default:
            return 1.0f + std::fabs(v.torus_radius);
    }
}

namespace {

int volume_light(const AR_LightInfo& light, const AR_ShadePoint& point, AR_LightSample& s) {
    const auto& v = *static_cast<const VolumeLightInfo*>(light.model_info);
    Triple q = transform_point(point.position, light.light_from_eye);
    const VolumePlace place = volume_place(v, q);
    const float r = place.r, axial = place.axial;
    const bool inside = place.inside;
    if (inside == v.exclude) return 0;
    float factor = 1.0f;
    if (!v.exclude) {
        factor *= falloff(r, v.decay_start, v.decay);
        bool along_axis = v.shape == CYLINDER_VOLUME || v.shape == CONE_VOLUME;
        factor *= falloff(along_axis ? axial : r, v.dropoff_start, v.dropoff);
    }
    if (v.turbulence_intensity > 0.0f)
        factor *= 1.0f - v.turbulence_intensity * (1.0f - turbulence(v, q));
    if (factor <= 0.0f) return 0;

    // The direction the light travels, eye space; the light comes from its opposite.
    Triple travel;
    if (v.concentric)
        travel = sub(point.position, light.position);
    else if (v.radial)
        travel = sub(point.position,
                     add(light.position,
                         scale(normalise(light.axis[1]), dot(sub(point.position, light.position),
                                                             normalise(light.axis[1])))));
    else
        travel = v.eye_directional;
    s.direction = normalise(scale(travel, -1.0f));
    s.distance = length(sub(light.position, point.position));
    s.ambient = false;
    s.specular = v.specular;
    if (point.normal.x != kNoNormal && !s.intensity_only) {
        float ndl = dot(point.normal, s.direction);
        s.has_n_dot_l = true;
        s.n_dot_l = v.directionality * ndl + (1.0f - v.directionality);
        if (s.n_dot_l < 0.0001) {
            if (s.translucent == 0.0f) return 0;
            s.diffuse_kind = 0;
            s.specular = false;
        }
    }
    return finish_positional(light, point, factor, s) ? 1 : 0;
}

}  // namespace

const AR_LightModel kVolumeLight = light_row<VolumeLightInfo, kVolumeTable>(
    "volume", volume_light, parse_volume, eval_volume, no_init, LIGHT_VOLUME);

}  // namespace sky::lights
