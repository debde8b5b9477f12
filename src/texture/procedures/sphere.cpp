// Sphere: a picture wrapped around a sphere about the scene, looked up by
// direction.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    shared_rows::kImage,
    {.name = "flip", .type = ANY, .description = "On: the picture is mirrored."},
    {.name = "shear_u", .type = ANY, .description = "Shear of the picture across u."},
    {.name = "shear_v", .type = ANY, .description = "Shear of the picture across v."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Sphere: %s\n", "NIL SphereNode found\n");

}  // namespace

const AR_TextureProcedure kSphereProcedure =
    procedure_row("Sphere", kTable, not_drawn<"texture procedure Sphere">, TEXTURE_ENVIRONMENT);

}  // namespace sky
