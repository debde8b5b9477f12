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
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Volume: %s\n", "NIL VolumeNode found\n");

}  // namespace

const AR_TextureProcedure kVolumeProcedure =
    procedure_row("Volume", kTable, not_drawn<"texture procedure Volume">, TEXTURE_SOLID);

}  // namespace sky
