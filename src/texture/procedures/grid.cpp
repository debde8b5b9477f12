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
static_assert(rows_are_consistent(kRows));
constexpr ParameterTable kTable{kRows, "ERROR: Unknown parameter in Grid: %s\n",
                                UnknownName::REPORT, "NIL GridNode found\n"};

std::atomic<bool> warned{false};

void calculate(const AR_TextureInfo& texture, const TextureCall&, TextureColour& out) {
    not_drawn_yet(warned, "texture procedure Grid");
    texture_default_colour(texture, out);
}

}  // namespace

const AR_TextureProcedure kGridProcedure =
    procedure_row("Grid", kTable, calculate, TEXTURE_SURFACE);

}  // namespace sky
