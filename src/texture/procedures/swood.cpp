// sWood: solid wood: growth rings of veins and grain about an axis.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "randomness", .type = ANY, .value = {0.5f}, .description = "Randomness of the rings."},
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
    shared_rows::kXRipples,
    shared_rows::kYRipples,
    shared_rows::kZRipples,
    shared_rows::kXMult,
    shared_rows::kYMult,
    shared_rows::kXOffset,
    shared_rows::kYOffset,
    {.name = "xamplitude", .type = ANY, .value = {0.1f}, .description = "Distortion across."},
    {.name = "yamplitude", .type = ANY, .value = {0.1f}, .description = "Distortion up."},
    shared_rows::kXOrigin,
    shared_rows::kYOrigin,
    shared_rows::kZOrigin,
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
};
static_assert(rows_are_consistent(kRows));
constexpr ParameterTable kTable{kRows, "ERROR: Unknown parameter in sWood: %s\n",
                                UnknownName::REPORT, "NIL sWoodNode found\n"};

std::atomic<bool> warned{false};

void calculate(const AR_TextureInfo& texture, const TextureCall&, TextureColour& out) {
    not_drawn_yet(warned, "texture procedure sWood");
    texture_default_colour(texture, out);
}

}  // namespace

const AR_TextureProcedure kSWoodProcedure =
    procedure_row("sWood", kTable, calculate, TEXTURE_SOLID);

}  // namespace sky
