// sMarble: solid marble: veins of one colour through a filler.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr auto kRows = join_rows(
    {
        {.name = "contrast",
         .type = ANY,
         .value = {0.5f},
         .description = "Contrast between veins and filler."},
    },
    shared_rows::kLevels,
    {
        {.name = "amplitude",
         .type = ANY,
         .value = {1.5f},
         .description = "Distortion of the veins."},
        {.name = "filler_color",
         .type = ANY,
         .value = grey(255.0f),
         .description = "Colour of the filler."},
        {.name = "vein_color",
         .type = ANY,
         .value = {76.0f, 0.0f, 0.0f},
         .description = "Colour of the veins."},
        {.name = "vein_thickness",
         .type = ANY,
         .value = {0.1f},
         .description = "Thickness of the veins."},
        {.name = "vein_width",
         .type = ANY,
         .value = {0.1f},
         .description = "Spacing of the veins."},
        {.name = "diffusion",
         .type = ANY,
         .value = {0.5f},
         .description = "How far the veins bleed into the filler."},
    },
    shared_rows::kRipples, shared_rows::kScaleAndOffset, {shared_rows::kYAmplitude},
    shared_rows::kOrigin);
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in sMarble: %s\n", "NIL sMarbleNode found\n");

}  // namespace

const AR_TextureProcedure kSMarbleProcedure =
    procedure_row("sMarble", kTable, not_drawn<"texture procedure sMarble">, TEXTURE_SOLID);

}  // namespace sky
