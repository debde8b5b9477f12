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
static_assert(rows_are_consistent(kRows));
constexpr ParameterTable kTable{kRows, "ERROR: Unknown parameter in Geometric: %s\n",
                                UnknownName::REPORT, "NIL GeometricNode found\n"};

std::atomic<bool> warned{false};

void calculate(const AR_TextureInfo& texture, const TextureCall&, TextureColour& out) {
    not_drawn_yet(warned, "texture procedure Geometric");
    texture_default_colour(texture, out);
}

}  // namespace

const AR_TextureProcedure kGeometricProcedure =
    procedure_row("Geometric", kTable, calculate, TEXTURE_ENVIRONMENT);

}  // namespace sky
