// sWood: solid wood: growth rings of veins and grain about an axis.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr auto kRows = join_rows(
    {
        {.name = "randomness",
         .type = ANY,
         .value = {0.5f},
         .description = "Randomness of the rings."},
        shared_rows::kLevelMin,
        shared_rows::kLevelMax,
        {.name = "ratio",
         .type = ANY,
         .value = {0.35f},
         .description = "Strength of each finer level against the last."},
        {.name = "filler_color",
         .type = ANY,
         .value = {230.0f, 170.0f, 110.0f},
         .description = "Colour of the wood between the veins."},
        {.name = "vein_color",
         .type = ANY,
         .value = {120.0f, 70.0f, 30.0f},
         .description = "Colour of the veins."},
        {.name = "grain_color",
         .type = ANY,
         .value = {100.0f, 60.0f, 30.0f},
         .description = "Colour of the grain."},
    },
    shared_rows::kRipples, shared_rows::kScaleAndOffset,
    {
        {.name = "xamplitude", .type = ANY, .value = {0.1f}, .description = "Distortion across."},
        {.name = "yamplitude", .type = ANY, .value = {0.1f}, .description = "Distortion up."},
    },
    shared_rows::kOrigin,
    {
        {.name = "center_u",
         .type = ANY,
         .value = {0.5f},
         .description = "Centre of the rings across u."},
        {.name = "center_v",
         .type = ANY,
         .value = {-0.5f},
         .description = "Centre of the rings across v."},
        {.name = "vein_spread", .type = ANY, .value = {0.25f}, .description = "Width of a vein."},
        {.name = "grain_contrast",
         .type = ANY,
         .value = {1.0f},
         .description = "Contrast of the grain."},
        {.name = "grain_spacing",
         .type = ANY,
         .value = {0.01f},
         .description = "Spacing of the grain."},
        {.name = "layer_size",
         .type = ANY,
         .value = {0.02f},
         .description = "Thickness of a growth ring."},
        {.name = "layer_thickness",
         .type = ANY,
         .value = {0.5f},
         .description = "Share of a ring taken by its vein."},
        {.name = "layer_randomisation",
         .type = ANY,
         .value = {0.5f},
         .description = "Randomness of the rings' thickness."},
        {.name = "layer_growth_time", .type = ANY, .description = "Age of the wood."},
    });
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in sWood: %s\n", "NIL sWoodNode found\n");

}  // namespace

const AR_TextureProcedure kSWoodProcedure =
    procedure_row("sWood", kTable, not_drawn<"texture procedure sWood">, TEXTURE_SOLID);

}  // namespace sky
