// Noise: gradient noise over the surface, a scalar pattern: 0.5 +
// 0.5 × `amplitude` × n, n in [-1, 1] with mean 0, eight noise cells across
// the frame (repeating with it, so repetitions meet without a seam). Values
// below `threshold` become 0. `animated` noise moves through a third
// dimension with `time`. Wide filters fade it to 0.5.
#include "texture/procedures/pattern_noise.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    shared_rows::kThreshold,
    {.name = "animated", .type = ANY, .description = "On: the noise changes with time."},
    {.name = "time", .type = ANY, .description = "Time of animated noise."},
    {.name = "amplitude", .type = ANY, .value = {1.0f}, .description = "Strength of the noise."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Noise: %s\n", "NIL NoiseBWNode found\n");

constexpr int kThreshold = parameter_index(kRows, "threshold");
constexpr int kAnimated = parameter_index(kRows, "animated");
constexpr int kTime = parameter_index(kRows, "time");
constexpr int kAmplitude = parameter_index(kRows, "amplitude");
constexpr float kCells = 8.0f;

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    float n;
    if (parameter_scalar(texture, kAnimated) >= 0.5f)
        n = pattern::noise3(
            Triple{call.u * kCells, call.v * kCells, parameter_number(texture, kTime, call)});
    else
        n = pattern::noise2(call.u * kCells, call.v * kCells, static_cast<int>(kCells));
    n *= pattern::level_weight(kCells, filter_width(texture, call));
    float value = 0.5f + 0.5f * parameter_number(texture, kAmplitude, call) * n;
    if (value < parameter_number(texture, kThreshold, call)) value = 0.0f;
    scalar_result(value, out);
}

}  // namespace

const AR_TextureProcedure kNoiseProcedure =
    procedure_row("Noise", kTable, calculate, TEXTURE_SURFACE, true);

}  // namespace sky
