// Water: the height of a water surface, 0.5 at rest, as a grey and alpha
// (most often a bump map). Two kinds of motion add up:
//
// Waves: `numwaves` trains of plane waves travelling with the wind
// (`wind_u`, `wind_v`), each turned a little off it, as high as the wind
// is strong (its length) times `wave_amplitude`. The first has
// `frequency` waves across the frame (or `wavenumber`/2π when that is
// given) and `wave_amplitude`; each further train is `wave_frequency_step`
// (0: 0.3) times the first's frequency higher, its amplitude divided by
// (1 + k)^`wave_amplitude_power` and damped by `smoothness`, and its height
// swells and shrinks over `sub_frequency` of its length. They move with
// `wave_velocity` × `wave_time` from (`wave_u_origin`, `wave_v_origin`).
//
// Ripples: a ring of waves around (`ripple_u_origin`, `ripple_v_origin`),
// of `ripple_frequency` waves across the frame (or `ripple_wavenumber`/2π),
// `ripple_amplitude` high. At `ripple_time` 0 it is a drop of radius
// `ripple_drop_size` (in tenths of the frame); then the ring travels out at
// `ripple_group_velocity` and its crests at `ripple_phase_velocity`, its
// width growing from `ripple_spread_start` + `ripple_origin_spread` at
// `ripple_spread_rate`. With `reflection_boundary` on, the ring is
// reflected by the edges of the water `reflections` times (first-order
// mirror images across each edge, at most four).
//
// The water covers `umin`..`umax` by `vmin`..`vmax` of the frame: outside
// it lies flat. Waves and ripples finer than the filter fade out.
#include <algorithm>
#include <cmath>
#include "texture/procedures/pattern_noise.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "reflection_boundary",
     .type = ANY,
     .description = "On: reflections stop at the texture's boundary."},
    {.name = "reflections", .type = ANY, .description = "On: the waves reflect at the boundary."},
    {.name = "ripple_frequency",
     .type = ANY,
     .value = {25.0f},
     .description = "Frequency of the ripples."},
    {.name = "ripple_wavenumber", .type = ANY, .description = "Wave number of the ripples."},
    {.name = "ripple_phase_velocity",
     .type = ANY,
     .value = {2.5f},
     .description = "Speed of the ripples' crests."},
    {.name = "ripple_group_velocity",
     .type = ANY,
     .value = {1.0f},
     .description = "Speed of the ripples' group."},
    {.name = "ripple_spread_start",
     .type = ANY,
     .value = {0.005f},
     .description = "Size of the ripples at their start."},
    {.name = "ripple_origin_spread",
     .type = ANY,
     .value = {0.01f},
     .description = "Size of the ripples' origin."},
    {.name = "ripple_spread_rate",
     .type = ANY,
     .value = {1.0f},
     .description = "How fast the ripples spread."},
    {.name = "ripple_amplitude",
     .type = ANY,
     .value = {0.05f},
     .description = "Height of the ripples."},
    {.name = "ripple_u_origin",
     .type = ANY,
     .value = {0.5f},
     .description = "Origin of the ripples across u."},
    {.name = "ripple_v_origin",
     .type = ANY,
     .value = {0.5f},
     .description = "Origin of the ripples across v."},
    {.name = "ripple_time", .type = ANY, .description = "Time since the ripples began."},
    {.name = "ripple_drop_size",
     .type = ANY,
     .value = {0.3f},
     .description = "Size of the drop that makes the ripples."},
    {.name = "numwaves", .type = ANY, .value = {8.0f}, .description = "Number of waves."},
    {.name = "sub_frequency",
     .type = ANY,
     .value = {0.125f},
     .description = "Frequency of the smaller waves."},
    {.name = "wave_frequency_step", .type = ANY, .description = "Frequency step between waves."},
    {.name = "wind_u", .type = ANY, .value = {1.0f}, .description = "Wind direction across u."},
    {.name = "wind_v", .type = ANY, .description = "Wind direction across v."},
    {.name = "wave_time", .type = ANY, .description = "Time of the waves."},
    {.name = "wave_amplitude",
     .type = ANY,
     .value = {0.05f},
     .description = "Height of the waves."},
    {.name = "wave_amplitude_power",
     .type = ANY,
     .description = "How the height falls with frequency."},
    {.name = "wave_velocity", .type = ANY, .value = {1.0f}, .description = "Speed of the waves."},
    {.name = "wave_u_origin", .type = ANY, .description = "Origin of the waves across u."},
    {.name = "wave_v_origin", .type = ANY, .description = "Origin of the waves across v."},
    {.name = "frequency",
     .type = ANY,
     .value = {4.0f},
     .description = "Base frequency of the waves."},
    {.name = "wavenumber", .type = ANY, .description = "Wave number."},
    {.name = "smoothness", .type = ANY, .value = {2.0f}, .description = "Smoothness of the waves."},
    {.name = "umin", .type = ANY, .description = "Start of the water across u."},
    {.name = "umax", .type = ANY, .value = {1.0f}, .description = "End of the water across u."},
    {.name = "vmin", .type = ANY, .description = "Start of the water across v."},
    {.name = "vmax", .type = ANY, .value = {1.0f}, .description = "End of the water across v."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Water: %s\n", "NIL WaterNode found\n");

#define ROW(name) constexpr int k_##name = parameter_index(kRows, #name)
ROW(reflection_boundary);
ROW(reflections);
ROW(ripple_frequency);
ROW(ripple_wavenumber);
ROW(ripple_phase_velocity);
ROW(ripple_group_velocity);
ROW(ripple_spread_start);
ROW(ripple_origin_spread);
ROW(ripple_spread_rate);
ROW(ripple_amplitude);
ROW(ripple_u_origin);
ROW(ripple_v_origin);
ROW(ripple_time);
ROW(ripple_drop_size);
ROW(numwaves);
ROW(sub_frequency);
ROW(wave_frequency_step);
ROW(wind_u);
ROW(wind_v);
ROW(wave_time);
ROW(wave_amplitude);
ROW(wave_amplitude_power);
ROW(wave_velocity);
ROW(wave_u_origin);
ROW(wave_v_origin);
ROW(frequency);
ROW(wavenumber);
ROW(smoothness);
ROW(umin);
ROW(umax);
ROW(vmin);
ROW(vmax);
#undef ROW

constexpr int kMaxWaves = 64;

float number(const AR_TextureInfo& texture, int row) {
    float x = parameter_scalar(texture, row);
    return std::isfinite(x) ? x : 0.0f;
}

float waves(const AR_TextureInfo& texture, float u, float v, float w) {
    int count = std::clamp(static_cast<int>(number(texture, k_numwaves)), 0, kMaxWaves);
    float wavenumber = number(texture, k_wavenumber);
    float base = wavenumber > 0.0f ? wavenumber / kTwoPi : number(texture, k_frequency);
    float step = number(texture, k_wave_frequency_step);
    if (step <= 0.0f) step = 0.3f;
    float wind = std::atan2(number(texture, k_wind_v), number(texture, k_wind_u));
    float strength = std::hypot(number(texture, k_wind_v), number(texture, k_wind_u));
    float x = u - number(texture, k_wave_u_origin), y = v - number(texture, k_wave_v_origin);
    float travel = number(texture, k_wave_velocity) * number(texture, k_wave_time);
    float power = number(texture, k_wave_amplitude_power);
    float smoothness = std::max(0.0f, number(texture, k_smoothness));
    float sub = number(texture, k_sub_frequency);
    float height = 0.0f;
    for (int k = 0; k < count; ++k) {
        float frequency = base * (1.0f + step * static_cast<float>(k));
        float keep = pattern::level_weight(frequency, w);
        if (keep <= 0.0f) continue;
        float angle = wind + (pattern::unit_hash(k, 0, 0, 31) - 0.5f) * 1.2f;
        float along = x * std::cos(angle) + y * std::sin(angle);
        float across = -x * std::sin(angle) + y * std::cos(angle);
        float phase = pattern::unit_hash(k, 1, 0, 31);
        float amplitude = std::pow(1.0f + static_cast<float>(k), -power) /
                          (1.0f + 0.2f * smoothness * static_cast<float>(k));
        float swell = 0.75f + 0.25f * std::sin(kTwoPi * (sub * frequency * across + phase));
        height += keep * amplitude * swell *
                  std::sin(kTwoPi * (frequency * along - travel * std::sqrt(frequency) + phase));
    }
    return number(texture, k_wave_amplitude) * strength * height;
}

float ring(const AR_TextureInfo& texture, float u, float v, float ou, float ov, float w) {
    float wavenumber = number(texture, k_ripple_wavenumber);
    float frequency = wavenumber > 0.0f ? wavenumber / kTwoPi : number(texture, k_ripple_frequency);
    float keep = pattern::level_weight(frequency, w);
    if (keep <= 0.0f) return 0.0f;
    float time = std::max(0.0f, number(texture, k_ripple_time));
    float r = std::hypot(u - ou, v - ov);
    float front = 0.1f * number(texture, k_ripple_drop_size) +
                  number(texture, k_ripple_group_velocity) * time;
    float width = std::max(1e-4f, number(texture, k_ripple_spread_start) +
                                      number(texture, k_ripple_origin_spread) +
                                      number(texture, k_ripple_spread_rate) * 0.02f * time);
    float d = (r - front) / width;
    float envelope = std::exp(-d * d);
    if (envelope < 1e-4f) return 0.0f;
    return keep * envelope *
           std::cos(kTwoPi * (frequency * r - number(texture, k_ripple_phase_velocity) * time));
}

float ripples(const AR_TextureInfo& texture, float u, float v, float w) {
    float ou = number(texture, k_ripple_u_origin), ov = number(texture, k_ripple_v_origin);
    float height = ring(texture, u, v, ou, ov, w);
    if (number(texture, k_reflection_boundary) >= 0.5f) {
        int count = std::clamp(static_cast<int>(number(texture, k_reflections)), 0, 4);
        float umin = number(texture, k_umin), umax = number(texture, k_umax);
        float vmin = number(texture, k_vmin), vmax = number(texture, k_vmax);
        const float images[4][2] = {
            {2 * umin - ou, ov}, {2 * umax - ou, ov}, {ou, 2 * vmin - ov}, {ou, 2 * vmax - ov}};
        for (int i = 0; i < count; ++i)
            height += ring(texture, u, v, images[i][0], images[i][1], w);
    }
    return number(texture, k_ripple_amplitude) * height;
}

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    float u = call.u, v = call.v;
    if (u < number(texture, k_umin) || u > number(texture, k_umax) || v < number(texture, k_vmin) ||
        v > number(texture, k_vmax)) {
        scalar_result(0.5f, out);
        return;
    }
    float w = filter_width(texture, call);
    scalar_result(0.5f + waves(texture, u, v, w) + ripples(texture, u, v, w), out);
}

}  // namespace

const AR_TextureProcedure kWaterProcedure =
    procedure_row("Water", kTable, calculate, TEXTURE_SURFACE);

}  // namespace sky
