// Fractal: a fractal sum of gradient noise over the surface, a scalar
// pattern: 0.5 + 0.5 × `amplitude` × the sum. Level 0 has two noise cells
// across the frame, each further level twice as many with `ratio` times the
// weight; `level_min` .. `level_max` are summed (so a larger `ratio` keeps
// more fine detail). Values below `threshold` become 0. `animated` moves
// the pattern through a third dimension with `time`. Levels finer than
// the filter fade out; the mean stays 0.5.
#include "texture/procedures/pattern_noise.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    shared_rows::kThreshold,
    {.name = "animated", .type = ANY, .description = "On: the pattern changes with time."},
    shared_rows::kLevelMin,
    {.name = "level_max",
     .type = ANY,
     .value = {9.0f},
     .description = "Finest level summed; each level doubles the frequency."},
    {.name = "time", .type = ANY, .description = "Time of an animated pattern."},
    shared_rows::kRatio,
    shared_rows::kAmplitude,
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Fractal: %s\n", "NIL FractalNode found\n");

constexpr int kThreshold = parameter_index(kRows, "threshold");
constexpr int kAnimated = parameter_index(kRows, "animated");
constexpr int kLevelMin = parameter_index(kRows, "level_min");
constexpr int kLevelMax = parameter_index(kRows, "level_max");
constexpr int kTime = parameter_index(kRows, "time");
constexpr int kRatio = parameter_index(kRows, "ratio");
constexpr int kAmplitude = parameter_index(kRows, "amplitude");

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    pattern::Fractal f;
    f.first = static_cast<int>(parameter_scalar(texture, kLevelMin));
    f.last = static_cast<int>(parameter_scalar(texture, kLevelMax));
    f.ratio = parameter_number(texture, kRatio, call);
    f.base = 2.0f;
    float w = filter_width(texture, call);
    float n;
    if (parameter_scalar(texture, kAnimated) >= 0.5f) {
        float time = parameter_number(texture, kTime, call);
        n = pattern::fractal3(Triple{call.u, call.v, time / f.base}, w, f);
    } else {
        n = pattern::fractal2(call.u, call.v, w, f, 1);
    }
    float value = 0.5f + 0.5f * parameter_number(texture, kAmplitude, call) * n;
    if (value < parameter_number(texture, kThreshold, call)) value = 0.0f;
    scalar_result(value, out);
}

}  // namespace

const AR_TextureProcedure kFractalProcedure =
    procedure_row("Fractal", kTable, calculate, TEXTURE_SURFACE, true);

}  // namespace sky
