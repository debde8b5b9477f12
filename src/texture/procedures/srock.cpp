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
static_assert(rows_are_consistent(kRows));
constexpr ParameterTable kTable{kRows, "ERROR: Unknown parameter in sRock: %s\n",
                                UnknownName::REPORT, "NIL sRockNode found\n"};

std::atomic<bool> warned{false};

void calculate(const AR_TextureInfo& texture, const TextureCall&, TextureColour& out) {
    not_drawn_yet(warned, "texture procedure sRock");
    texture_default_colour(texture, out);
}

}  // namespace

const AR_TextureProcedure kSRockProcedure =
    procedure_row("sRock", kTable, calculate, TEXTURE_SOLID);

}  // namespace sky
