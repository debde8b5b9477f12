// Ball: an environment ball: a photograph of a reflective ball, looked up by
// direction.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "image", .type = ANY, .description = "The picture of the ball."},
    {.name = "left", .type = ANY, .description = "Picture of the scene's left side."},
    {.name = "right", .type = ANY, .description = "Picture of the right side."},
    {.name = "front", .type = ANY, .description = "Picture of the front."},
    {.name = "back", .type = ANY, .description = "Picture of the back."},
    {.name = "bottom", .type = ANY, .description = "Picture of the bottom."},
    {.name = "inclination", .type = ANY, .description = "Tilt of the ball, degrees."},
    {.name = "altitude", .type = ANY, .description = "Height of the ball above the floor."},
    {.name = "eyespace", .type = ANY, .description = "On: the ball follows the camera."},
    {.name = "elevation",
     .type = ANY,
     .description = "Elevation of the view of the ball, degrees."},
    {.name = "sky_radius", .type = ANY, .description = "Radius of the sky around the ball."},
    {.name = "reflect",
     .type = ANY,
     .value = {1.0f},
     .description = "On: the ball is seen reflected rather than directly."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Ball: %s\n", "NIL BallNode found\n");

}  // namespace

const AR_TextureProcedure kBallProcedure =
    procedure_row("Ball", kTable, not_drawn<"texture procedure Ball">, TEXTURE_ENVIRONMENT);

}  // namespace sky
