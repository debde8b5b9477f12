// Volume: a solid texture stacked from a sequence of pictures.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "from", .type = ANY, .description = "The first picture's index."},
    {.name = "pix_sequence",
     .type = ANY,
     .description = "The pictures: a file texture whose frames are the slices."},
    {.name = "mapping", .type = ANY, .description = "How the slices fill the volume."},
};
static_assert(rows_are_consistent(kRows));
constexpr ParameterTable kTable{kRows, "ERROR: Unknown parameter in Volume: %s\n",
                                UnknownName::REPORT, "NIL VolumeNode found\n"};

std::atomic<bool> warned{false};

void calculate(const AR_TextureInfo& texture, const TextureCall&, TextureColour& out) {
    not_drawn_yet(warned, "texture procedure Volume");
    texture_default_colour(texture, out);
}

}  // namespace

const AR_TextureProcedure kVolumeProcedure =
    procedure_row("Volume", kTable, calculate, TEXTURE_SOLID);

}  // namespace sky
