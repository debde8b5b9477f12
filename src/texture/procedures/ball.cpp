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
static_assert(rows_are_consistent(kRows));
constexpr ParameterTable kTable{kRows, "ERROR: Unknown parameter in Ball: %s\n",
                                UnknownName::REPORT, "NIL BallNode found\n"};

std::atomic<bool> warned{false};

void calculate(const AR_TextureInfo& texture, const TextureCall&, TextureColour& out) {
    not_drawn_yet(warned, "texture procedure Ball");
    texture_default_colour(texture, out);
}

}  // namespace

const AR_TextureProcedure kBallProcedure =
    procedure_row("Ball", kTable, calculate, TEXTURE_ENVIRONMENT);

}  // namespace sky
