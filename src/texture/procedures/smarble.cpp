// sMarble: solid marble: veins of one colour through a filler.
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
    shared_rows::kLevelMin,
    shared_rows::kLevelMax,
    shared_rows::kRatio,
    {.name = "amplitude", .type = ANY, .value = {1.5f}, .description = "Distortion of the veins."},
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
    {.name = "vein_width", .type = ANY, .value = {0.1f}, .description = "Spacing of the veins."},
    {.name = "diffusion",
     .type = ANY,
     .value = {0.5f},
     .description = "How far the veins bleed into the filler."},
    shared_rows::kXRipples,
    shared_rows::kYRipples,
    shared_rows::kZRipples,
    shared_rows::kXMult,
    shared_rows::kYMult,
    shared_rows::kXOffset,
    shared_rows::kYOffset,
    {.name = "yamplitude", .type = ANY, .description = "Distortion up."},
    shared_rows::kXOrigin,
    shared_rows::kYOrigin,
    shared_rows::kZOrigin,
};
static_assert(rows_are_consistent(kRows));
constexpr ParameterTable kTable{kRows, "ERROR: Unknown parameter in sMarble: %s\n",
                                UnknownName::REPORT, "NIL sMarbleNode found\n"};

std::atomic<bool> warned{false};

void calculate(const AR_TextureInfo& texture, const TextureCall&, TextureColour& out) {
    not_drawn_yet(warned, "texture procedure sMarble");
    texture_default_colour(texture, out);
}

}  // namespace

const AR_TextureProcedure kSMarbleProcedure =
    procedure_row("sMarble", kTable, calculate, TEXTURE_SOLID);

}  // namespace sky
