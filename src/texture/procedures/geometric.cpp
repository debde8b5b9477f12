// Geometric: a picture mapped onto a simple shape around the scene, looked up
// by direction.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    shared_rows::kImage,
    {.name = "geometry_type",
     .type = ANY,
     .value = {1.0f},
     .description = "The shape: sphere, cylinder, cube ... as a number."},
    {.name = "Rotate", .type = ANY, .description = "Rotation of the shape, degrees."},
    {.name = "Scale", .type = ANY, .value = {1.0f}, .description = "Size of the shape."},
    {.name = "Height", .type = ANY, .value = {1.0f}, .description = "Height of the shape."},
};
constexpr ParameterTable kTable = procedure_table(
    kRows, "ERROR: Unknown parameter in Geometric: %s\n", "NIL GeometricNode found\n");

}  // namespace

const AR_TextureProcedure kGeometricProcedure = procedure_row(
    "Geometric", kTable, not_drawn<"texture procedure Geometric">, TEXTURE_ENVIRONMENT);

}  // namespace sky
