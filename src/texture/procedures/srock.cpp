// sRock: solid rock: grains of two colours.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "contrast",
     .type = ANY,
     .value = {1.0f},
     .description = "Contrast between the two colours."},
    {.name = "color1", .type = ANY, .description = "Colour of the first grain."},
    {.name = "color2",
     .type = ANY,
     .value = grey(255.0f),
     .description = "Colour of the second grain."},
    {.name = "mix_ratio", .type = ANY, .value = {0.5f}, .description = "Mix of the two colours."},
    {.name = "diffusion",
     .type = ANY,
     .value = {0.5f},
     .description = "How far the grains bleed into each other."},
    {.name = "grain_size", .type = ANY, .value = {0.01f}, .description = "Size of a grain."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in sRock: %s\n", "NIL sRockNode found\n");

}  // namespace

const AR_TextureProcedure kSRockProcedure =
    procedure_row("sRock", kTable, not_drawn<"texture procedure sRock">, TEXTURE_SOLID);

}  // namespace sky
