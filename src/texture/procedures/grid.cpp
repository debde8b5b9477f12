// Grid: lines along u and v over a filler colour. The lines sit on the
// edges of the texture's frame, `uwidth` and `vwidth` its fraction across;
// so the lines cover 1 − (1 − uwidth)(1 − vwidth) of the frame.
//
// Filtering is exact for a box footprint: each direction's line fraction
// over the footprint is integrated in closed form, so wide filters reach
// the coverage-weighted mean of the two colours.
#include <algorithm>
#include <cmath>
#include "texture/procedures/pattern_noise.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "uwidth", .type = ANY, .value = {0.1f}, .description = "Width of the lines across u."},
    {.name = "vwidth", .type = ANY, .value = {0.1f}, .description = "Width of the lines across v."},
    {.name = "contrast",
     .type = ANY,
     .value = {1.0f},
     .description = "Contrast between lines and filler."},
    {.name = "line_color",
     .also = "line_colour",
     .type = ANY,
     .value = grey(255.0f),
     .description = "Colour of the lines."},
    {.name = "filler_color",
     .also = "filler_colour",
     .type = ANY,
     .description = "Colour between the lines."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Grid: %s\n", "NIL GridNode found\n");

constexpr int kUWidth = parameter_index(kRows, "uwidth");
constexpr int kVWidth = parameter_index(kRows, "vwidth");
constexpr int kContrast = parameter_index(kRows, "contrast");
constexpr int kLine = parameter_index(kRows, "line_color");
constexpr int kFiller = parameter_index(kRows, "filler_color");

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    float w = filter_width(texture, call);
    float uw = parameter_number(texture, kUWidth, call);
    float vw = parameter_number(texture, kVWidth, call);
    float a = pattern::line_share(call.u, uw, w);
    float b = pattern::line_share(call.v, vw, w);
    float line = 1.0f - (1.0f - a) * (1.0f - b);
    // Contrast pulls both colours toward their coverage-weighted mean.
    float coverage =
        1.0f - (1.0f - std::clamp(uw, 0.0f, 1.0f)) * (1.0f - std::clamp(vw, 0.0f, 1.0f));
    float c = std::clamp(parameter_number(texture, kContrast, call), 0.0f, 1.0f);
    float t = coverage + c * (line - coverage);
    colour_result(pattern::mix(parameter_colour(texture, kFiller, call),
                               parameter_colour(texture, kLine, call), t),
                  out);
}

}  // namespace

const AR_TextureProcedure kGridProcedure =
    procedure_row("Grid", kTable, calculate, TEXTURE_SURFACE);

}  // namespace sky
