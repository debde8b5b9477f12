// Bulge: a scalar pattern of raised tiles, one per repetition of the frame:
// 1 inside, falling smoothly to 0 over `uwidth` and `vwidth` (fractions of
// the frame) at its edges; the product of the two directions' profiles.
// Wide filters fade it to its mean, (1 − uwidth)(1 − vwidth).
#include <algorithm>
#include "texture/procedures/pattern_noise.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "uwidth",
     .type = ANY,
     .value = {0.1f},
     .description = "Width of the gaps between bulges across u."},
    {.name = "vwidth",
     .type = ANY,
     .value = {0.1f},
     .description = "Width of the gaps between bulges across v."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Bulge: %s\n", "NIL BulgeNode found\n");

constexpr int kUWidth = parameter_index(kRows, "uwidth");
constexpr int kVWidth = parameter_index(kRows, "vwidth");

// The profile across one direction: 0 at the edges, 1 once `width` in.
float profile(float x, float width) {
    float d = std::min(x, 1.0f - x);
    return pattern::smooth_step(0.0f, std::clamp(width, 0.0f, 0.5f), d);
}

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    float uw = std::clamp(parameter_number(texture, kUWidth, call), 0.0f, 0.5f);
    float vw = std::clamp(parameter_number(texture, kVWidth, call), 0.0f, 0.5f);
    float value = profile(call.u, uw) * profile(call.v, vw);
    float keep = pattern::level_weight(1.0f, filter_width(texture, call));
    float mean = (1.0f - uw) * (1.0f - vw);
    scalar_result(mean + keep * (value - mean), out);
}

}  // namespace

const AR_TextureProcedure kBulgeProcedure =
    procedure_row("Bulge", kTable, calculate, TEXTURE_SURFACE, true);

}  // namespace sky
