// Ramp: colours at positions along a measure of the surface, blended in
// between. Write `ramp_color` and `position` once per entry, in pairs
// (entries without a position are spread evenly); without colours the
// ramp runs from black at 0 to white at 1. At an entry's position the ramp
// is that entry's colour exactly.
//
// `ramp_type` picks the measure: 0 v, 1 u, 2 diagonal (u + v)/2, 3 radial
// (the angle around the frame's centre), 4 circular (the distance from the
// centre, 1 at the edges' middles), 5 box (the larger distance from the
// centre along u or v, 1 at the edges), 6 the product u·v.
// `interpolation`: 0 none (each entry holds until the next), 1 linear,
// 2 smooth, 3 slow start, 4 fast start. `u_wave` and `v_wave` bend the
// measure along u and v; `noise` moves it by noise of `noise_frequency`
// (0.5: eight cells across the frame), and the hue, saturation and value
// noises move the colour's parts likewise. Wide filters fade it to its
// mean colour.
#include <algorithm>
#include <cmath>
#include "texture/procedures/pattern_noise.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "u_wave", .type = ANY, .description = "Waviness across u."},
    {.name = "v_wave", .type = ANY, .description = "Waviness across v."},
    {.name = "interpolation",
     .type = ANY,
     .value = {1.0f},
     .description = "How the colours blend: none, linear, smooth ... as a number."},
    {.name = "ramp_type",
     .type = ANY,
     .description = "What the ramp runs along: v, u, diagonal, radial ... as a number."},
    {.name = "noise", .type = ANY, .description = "Noise in the position."},
    {.name = "noise_frequency",
     .type = ANY,
     .value = {0.5f},
     .description = "Frequency of that noise."},
    {.name = "hue_noise", .type = ANY, .description = "Noise in the hue."},
    {.name = "hue_noise_frequency",
     .type = ANY,
     .value = {0.5f},
     .description = "Frequency of the hue noise."},
    {.name = "sat_noise", .type = ANY, .description = "Noise in the saturation."},
    {.name = "sat_noise_frequency",
     .type = ANY,
     .value = {0.5f},
     .description = "Frequency of the saturation noise."},
    {.name = "val_noise", .type = ANY, .description = "Noise in the value."},
    {.name = "val_noise_frequency",
     .type = ANY,
     .value = {0.5f},
     .description = "Frequency of the value noise."},
    {.name = "ramp_color", .type = ANY, .description = "The colours, in order."},
    {.name = "position", .type = ANY, .description = "Their positions, 0..1."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Ramp: %s\n", "NIL RampNode found\n");

constexpr int kUWave = parameter_index(kRows, "u_wave");
constexpr int kVWave = parameter_index(kRows, "v_wave");
constexpr int kInterpolation = parameter_index(kRows, "interpolation");
constexpr int kType = parameter_index(kRows, "ramp_type");
constexpr int kNoise = parameter_index(kRows, "noise");
constexpr int kNoiseFrequency = parameter_index(kRows, "noise_frequency");
constexpr int kHueNoise = parameter_index(kRows, "hue_noise");
constexpr int kHueFrequency = parameter_index(kRows, "hue_noise_frequency");
constexpr int kSatNoise = parameter_index(kRows, "sat_noise");
constexpr int kSatFrequency = parameter_index(kRows, "sat_noise_frequency");
constexpr int kValNoise = parameter_index(kRows, "val_noise");
constexpr int kValFrequency = parameter_index(kRows, "val_noise_frequency");
constexpr int kColour = parameter_index(kRows, "ramp_color");
constexpr int kPosition = parameter_index(kRows, "position");

// The derived values: the entry count, then per entry in position order its
// index among the written colours (-1: the built-in black or white) and
// its position.
constexpr int kMaxEntries = (DerivedValues::kCount - 1) / 2;
constexpr int kIndexes = 1, kPositions = 1 + kMaxEntries;

int entry_count(const DerivedValues& d) {
    return static_cast<int>(d.value[0]);
}

Triple entry_colour(const AR_TextureInfo& texture, const DerivedValues& d, int i,
                    const TextureCall& call) {
    int index = static_cast<int>(d.value[kIndexes + i]);
    if (index < 0) return d.value[kPositions + i] > 0.5f ? Triple{255, 255, 255} : Triple{};
    return value_colour(procedure_entry(texture, kColour, index).value, call);
}

// Cells of noise across the frame for a frequency parameter (0.5: eight).
int cells(float frequency) {
    return std::clamp(static_cast<int>(std::lround(16.0f * frequency)), 1, 4096);
}

float measure(int type, float u, float v) {
    switch (type) {
        case 1:
            return u;
        case 2:
            return 0.5f * (u + v);
        case 3: {
            float a = std::atan2(v - 0.5f, u - 0.5f) / kTwoPi;
            return a < 0.0f ? a + 1.0f : a;
        }
        case 4:
            return 2.0f * std::hypot(u - 0.5f, v - 0.5f);
        case 5:
            return 2.0f * std::max(std::fabs(u - 0.5f), std::fabs(v - 0.5f));
        case 6:
            return u * v;
        default:
            return v;
    }
}

float blend(int interpolation, float t) {
    switch (interpolation) {
        case 0:
            return 0.0f;
        case 2:
            return t * t * (3.0f - 2.0f * t);
        case 3:
            return t * t;
        case 4:
            return 1.0f - (1.0f - t) * (1.0f - t);
        default:
            return t;
    }
}

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    const DerivedValues& d = procedure_derived(texture);
    float u = call.u, v = call.v;
    int type = static_cast<int>(parameter_scalar(texture, kType));
    float t = measure(type, u, v);
    t += 0.1f * parameter_number(texture, kUWave, call) * std::sin(kTwoPi * u);
    t += 0.1f * parameter_number(texture, kVWave, call) * std::sin(kTwoPi * v);
    if (float amount = parameter_number(texture, kNoise, call); amount != 0.0f) {
        int n = cells(parameter_number(texture, kNoiseFrequency, call));
        t += 0.5f * amount * pattern::noise2(u * n, v * n, n, 21);
    }
    int count = entry_count(d);
    int i = 0;
    while (i + 1 < count && d.value[kPositions + i + 1] <= t) ++i;
    Triple colour = entry_colour(texture, d, i, call);
    if (i + 1 < count && t > d.value[kPositions + i]) {
        float p0 = d.value[kPositions + i], p1 = d.value[kPositions + i + 1];
        float f = p1 > p0 ? (t - p0) / (p1 - p0) : 0.0f;
        float b = blend(static_cast<int>(parameter_scalar(texture, kInterpolation)), f);
        if (b > 0.0f) colour = pattern::mix(colour, entry_colour(texture, d, i + 1, call), b);
    }
    float hue = parameter_number(texture, kHueNoise, call);
    float sat = parameter_number(texture, kSatNoise, call);
    float val = parameter_number(texture, kValNoise, call);
    if (hue != 0.0f || sat != 0.0f || val != 0.0f) {
        float h, s, value;
        pattern::to_hsv(colour.x, colour.y, colour.z, h, s, value);
        auto noise = [&](int row, std::uint32_t seed) {
            int n = cells(parameter_number(texture, row, call));
            return pattern::noise2(u * n, v * n, n, seed);
        };
        if (hue != 0.0f) h += 180.0f * hue * noise(kHueFrequency, 22);
        if (sat != 0.0f) s += sat * noise(kSatFrequency, 23);
        if (val != 0.0f) value += val * noise(kValFrequency, 24);
        colour = pattern::from_hsv(h, s, value);
    }
    colour_result(colour, out);
    fade_to_mean(d.mean, pattern::level_weight(1.0f, filter_width(texture, call)), out);
}

// Sorts the entries by position once per frame.
bool init_ramp(AR_TextureInfo& texture) {
    if (!init_procedure_parameters(texture)) return false;
    DerivedValues& d = procedure_derived(texture);
    int colours = std::min(procedure_entry_count(texture, kColour), kMaxEntries);
    int positions = procedure_entry_count(texture, kPosition);
    struct Entry {
        float position;
        int index;
    };
    Entry entries[kMaxEntries];
    int count = 0;
    if (colours == 0) {
        entries[count++] = {0.0f, -1};
        entries[count++] = {1.0f, -1};
    }
    for (int i = 0; i < colours; ++i) {
        float position =
            colours > 1 ? static_cast<float>(i) / static_cast<float>(colours - 1) : 0.0f;
        if (i < positions) position = procedure_entry(texture, kPosition, i).value.scalar;
        entries[count++] = {std::isfinite(position) ? position : 0.0f, i};
    }
    std::stable_sort(entries, entries + count,
                     [](const Entry& a, const Entry& b) { return a.position < b.position; });
    d.value[0] = static_cast<float>(count);
    for (int i = 0; i < count; ++i) {
        d.value[kIndexes + i] = static_cast<float>(entries[i].index);
        d.value[kPositions + i] = entries[i].position;
    }
    d.mean = TextureColour{};
    d.mean = surface_mean(texture, calculate);
    return true;
}

}  // namespace

const AR_TextureProcedure kRampProcedure = procedure_row(
    "Ramp", kTable, calculate, TEXTURE_SURFACE, false, eval_procedure_parameters, init_ramp);

}  // namespace sky
