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
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Bulge: %s\n", "NIL BulgeNode found\n");

}  // namespace

const AR_TextureProcedure kBulgeProcedure =
    procedure_row("Bulge", kTable, not_drawn<"texture procedure Bulge">, TEXTURE_SURFACE, true);

}  // namespace sky
