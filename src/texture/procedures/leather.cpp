// Leather: solid leather: cells separated by creases.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "density", .type = ANY, .value = {1.0f}, .description = "How densely the cells lie."},
    {.name = "threshold",
     .type = ANY,
     .value = {0.83f},
     .description = "Where the cells end and the creases begin."},
    {.name = "contrast",
     .type = ANY,
     .value = {1.0f},
     .description = "Contrast between cells and creases."},
    {.name = "randomness",
     .type = ANY,
     .value = {0.5f},
     .description = "Randomness of the cells' places."},
    {.name = "creases",
     .type = ANY,
     .value = {1.0f},
     .description = "On: the cells have creased edges."},
    {.name = "cell_size", .type = ANY, .value = {0.5f}, .description = "Size of a cell."},
    {.name = "spottyness",
     .type = ANY,
     .value = {0.1f},
     .description = "Random variation of the cells' colour."},
    {.name = "cell_color",
     .type = ANY,
     .value = {120.0f, 60.0f, 20.0f},
     .description = "Colour of the cells."},
    {.name = "crease_color",
     .type = ANY,
     .value = {60.0f, 30.0f, 10.0f},
     .description = "Colour of the creases."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in sLeather: %s\n", "NIL LeatherNode found\n");

}  // namespace

const AR_TextureProcedure kLeatherProcedure =
    procedure_row("Leather", kTable, not_drawn<"texture procedure Leather">, TEXTURE_SOLID);

}  // namespace sky
