// Cube: an environment cube: six pictures of the surroundings, looked up by
// direction; a cube without any picture is reported (\"No pix specified for
// Cube.\").
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "platform/report.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "left", .type = ANY, .description = "Picture of the left face."},
    {.name = "right", .type = ANY, .description = "Picture of the right face."},
    {.name = "front", .type = ANY, .description = "Picture of the front face."},
    {.name = "back", .type = ANY, .description = "Picture of the back face."},
    {.name = "bottom", .type = ANY, .description = "Picture of the bottom face."},
    {.name = "crossOrient", .type = ANY, .description = "Orientation of the cross-shaped picture."},
    {.name = "crossImg", .type = ANY, .description = "All six faces in one cross-shaped picture."},
    {.name = "finiteSize",
     .type = ANY,
     .description = "On: the cube has a finite size rather than lying at infinity."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Cube: %s\n", "NIL CubeNode found\n");

// A cube needs at least one picture; without any it is reported, and the
// texture goes on with none.
bool eval_cube(AR_TextureInfo& texture) {
    if (!eval_procedure_parameters(texture)) return false;
    for (const char* face : {"left", "right", "front", "back", "bottom", "crossImg"})
        if (procedure_expression(texture, parameter_index(kRows, face))) return true;
    rptError("No pix specified for Cube.\n");
    return true;
}

}  // namespace

const AR_TextureProcedure kCubeProcedure = procedure_row(
    "Cube", kTable, not_drawn<"texture procedure Cube">, TEXTURE_ENVIRONMENT, false, eval_cube);

}  // namespace sky
