// Granite: a solid granite of three kinds of grain in a filler.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "density", .type = ANY, .value = {1.0f}, .description = "How densely the grains lie."},
    {.name = "threshold",
     .type = ANY,
     .value = {0.5f},
     .description = "How much of the volume the grains fill."},
    {.name = "contrast",
     .type = ANY,
     .value = {1.0f},
     .description = "Contrast between grains and filler."},
    {.name = "color1",
     .type = ANY,
     .value = grey(0.0f),
     .description = "Colour of the first grain."},
    {.name = "color2",
     .type = ANY,
     .value = grey(128.0f),
     .description = "Colour of the second grain."},
    {.name = "color3",
     .type = ANY,
     .value = grey(255.0f),
     .description = "Colour of the third grain."},
    {.name = "filler_color",
     .type = ANY,
     .value = grey(180.0f),
     .description = "Colour between the grains."},
    {.name = "randomness",
     .type = ANY,
     .value = {1.0f},
     .description = "Randomness of the grains' places."},
    {.name = "creases",
     .type = ANY,
     .value = {1.0f},
     .description = "On: grains have creased edges."},
    {.name = "cell_size", .type = ANY, .value = {0.15f}, .description = "Size of a grain."},
    {.name = "spottyness",
     .type = ANY,
     .value = {0.3f},
     .description = "Random variation of the grains' colour."},
    {.name = "mix_ratio", .type = ANY, .value = {0.5f}, .description = "Mix of the grain colours."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in sGranite: %s\n", "NIL GraniteNode found\n");

}  // namespace

const AR_TextureProcedure kGraniteProcedure =
    procedure_row("Granite", kTable, not_drawn<"texture procedure Granite">, TEXTURE_SOLID);

}  // namespace sky
