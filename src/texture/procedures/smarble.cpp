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
    {.name = "level_min", .type = ANY, .description = "Finest level of detail."},
    {.name = "level_max",
     .type = ANY,
     .value = {20.0f},
     .description = "Coarsest level of detail."},
    {.name = "ratio",
     .type = ANY,
     .value = {0.707f},
     .description = "Strength of each finer level against the last."},
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
    {.name = "xripples",
     .type = ANY,
     .value = {1.0f},
     .description = "Frequency of the pattern along x."},
    {.name = "yripples",
     .type = ANY,
     .value = {1.0f},
     .description = "Frequency of the pattern along y."},
    {.name = "zripples",
     .type = ANY,
     .value = {1.0f},
     .description = "Frequency of the pattern along z."},
    {.name = "xmult", .type = ANY, .value = {1.0f}, .description = "Scale across."},
    {.name = "ymult", .type = ANY, .value = {1.0f}, .description = "Scale up."},
    {.name = "xoffset", .type = ANY, .description = "Offset across."},
    {.name = "yoffset", .type = ANY, .description = "Offset up."},
    {.name = "yamplitude", .type = ANY, .description = "Distortion up."},
    {.name = "xorigin", .type = ANY, .description = "Origin, x."},
    {.name = "yorigin", .type = ANY, .description = "Origin, y."},
    {.name = "zorigin", .type = ANY, .description = "Origin, z."},
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
