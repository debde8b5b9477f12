// Grid: lines across u and v over a filler colour.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
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

}  // namespace

const AR_TextureProcedure kGridProcedure =
    procedure_row("Grid", kTable, not_drawn<"texture procedure Grid">, TEXTURE_SURFACE);

}  // namespace sky
