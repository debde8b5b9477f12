// Bulge: a grid of soft bumps, a scalar pattern.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "uwidth",
     .type = ANY,
     .value = {0.1f},
     .description = "Width of the gaps between bulges across u."},
    {.name = "vwidth",
     .type = ANY,
     .value = {0.1f},
     .description = "Width of the gaps between bulges across v."},
};
static_assert(rows_are_consistent(kRows));
constexpr ParameterTable kTable{kRows, "ERROR: Unknown parameter in Bulge: %s\n",
                                UnknownName::REPORT, "NIL BulgeNode found\n"};

std::atomic<bool> warned{false};

void calculate(const AR_TextureInfo& texture, const TextureCall&, TextureColour& out) {
    not_drawn_yet(warned, "texture procedure Bulge");
    texture_default_colour(texture, out);
}

}  // namespace

const AR_TextureProcedure kBulgeProcedure =
    procedure_row("Bulge", kTable, calculate, TEXTURE_SURFACE, true);

}  // namespace sky
