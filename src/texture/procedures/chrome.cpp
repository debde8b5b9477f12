// Chrome: a studio environment for chrome: a floor, a sky and a grid of lights,
// looked up by direction.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "floor_color",
     .also = "floor_colour",
     .type = ANY,
     .value = {80.0f, 40.0f, 20.0f},
     .description = "Colour of the floor."},
    {.name = "horizon_color",
     .also = "horizon_colour",
     .type = ANY,
     .value = {200.0f, 170.0f, 150.0f},
     .description = "Colour at the horizon."},
    {.name = "sky_color",
     .also = "sky_colour",
     .type = ANY,
     .value = {40.0f, 80.0f, 180.0f},
     .description = "Colour of the sky."},
    {.name = "zenith_color",
     .also = "zenith_colour",
     .type = ANY,
     .value = {10.0f, 30.0f, 90.0f},
     .description = "Colour straight up."},
    {.name = "light_color",
     .also = "light_colour",
     .type = ANY,
     .value = grey(255.0f),
     .description = "Colour of the lights."},
    {.name = "grid_color",
     .also = "grid_colour",
     .type = ANY,
     .value = grey(255.0f),
     .description = "Colour of the floor's grid."},
    {.name = "light_width_mult",
     .type = ANY,
     .value = {1.0f},
     .description = "Multiplier of the lights' width."},
    {.name = "light_depth_mult",
     .type = ANY,
     .value = {1.0f},
     .description = "Multiplier of the lights' depth."},
    {.name = "light_width_offset", .type = ANY, .description = "Offset of the lights' width."},
    {.name = "light_depth_offset", .type = ANY, .description = "Offset of the lights' depth."},
    {.name = "light_width", .type = ANY, .value = {0.1f}, .description = "Width of a light."},
    {.name = "light_depth", .type = ANY, .value = {0.1f}, .description = "Depth of a light."},
    {.name = "grid_width_mult",
     .type = ANY,
     .value = {1.0f},
     .description = "Multiplier of the grid lines' width."},
    {.name = "grid_depth_mult",
     .type = ANY,
     .value = {1.0f},
     .description = "Multiplier of the grid lines' depth."},
    {.name = "grid_width_offset", .type = ANY, .description = "Offset of the grid lines' width."},
    {.name = "grid_depth_offset", .type = ANY, .description = "Offset of the grid lines' depth."},
    {.name = "grid_width", .type = ANY, .value = {0.1f}, .description = "Width of a grid line."},
    {.name = "grid_depth", .type = ANY, .value = {0.1f}, .description = "Depth of a grid line."},
    {.name = "real_floor",
     .type = ANY,
     .description = "On: the floor is a plane at floor_altitude rather than at infinity."},
    {.name = "floor_altitude",
     .type = ANY,
     .value = {-1.0f},
     .description = "Height of the floor."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Chrome: %s\n", "NIL ChromeNode found\n");

}  // namespace

const AR_TextureProcedure kChromeProcedure =
    procedure_row("Chrome", kTable, not_drawn<"texture procedure Chrome">, TEXTURE_ENVIRONMENT);

}  // namespace sky
