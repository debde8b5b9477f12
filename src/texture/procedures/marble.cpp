// Marble: marble veins over the surface, with the colours given channel by
// channel.
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
     .value = {0.5f},
     .description = "Contrast between veins and filler."},
    {.name = "vein_thickness",
     .type = ANY,
     .value = {0.1f},
     .description = "Thickness of the veins."},
    {.name = "diffusion",
     .type = ANY,
     .value = {0.5f},
     .description = "How far the veins bleed into the filler."},
    {.name = "vein_color_r",
     .also = "vein_colour_r",
     .type = ANY,
     .value = {76.0f},
     .description = "Red of the veins."},
    {.name = "vein_color_g",
     .also = "vein_colour_g",
     .type = ANY,
     .description = "Green of the veins."},
    {.name = "vein_color_b",
     .also = "vein_colour_b",
     .type = ANY,
     .description = "Blue of the veins."},
    {.name = "filler_color_r",
     .also = "filler_colour_r",
     .type = ANY,
     .value = {255.0f},
     .description = "Red of the filler."},
    {.name = "filler_color_g",
     .also = "filler_colour_g",
     .type = ANY,
     .value = {255.0f},
     .description = "Green of the filler."},
    {.name = "filler_color_b",
     .also = "filler_colour_b",
     .type = ANY,
     .value = {255.0f},
     .description = "Blue of the filler."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Marble: %s\n", "NIL MarbleNode found\n");

}  // namespace

const AR_TextureProcedure kMarbleProcedure =
    procedure_row("Marble", kTable, not_drawn<"texture procedure Marble">, TEXTURE_SURFACE);

}  // namespace sky
