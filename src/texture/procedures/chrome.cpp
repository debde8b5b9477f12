// Chrome: a studio for chrome to reflect, looked up by direction (world
// space, y up). Below the horizon lies a floor in `floor_color` ruled by a
// grid in `grid_color`, one line per unit each way: lines across x are
// `grid_width` × `grid_width_mult` + `grid_width_offset` wide, lines across
// z `grid_depth` × `grid_depth_mult` + `grid_depth_offset` (fractions of the
// spacing). The floor lies `floor_altitude` below the point when
// `real_floor` is on, one unit below otherwise (at infinity, a floor
// the shaded point never nears). Above the horizon the walls and sky run
// from `horizon_color` through `sky_color` (half way up) to
// `zenith_color` straight up, and a ceiling one unit up carries
// rectangular lights in `light_color`, two units apart, `light_width` ×
// `light_width_mult` + `light_width_offset` wide across x and
// `light_depth` × ... deep across z (fractions of the spacing). Lines and
// lights are filtered exactly over the footprint, so far away they fade
// to their share.
#include <algorithm>
#include <cmath>
#include "base/vecmath.h"
#include "texture/procedures/pattern_noise.h"
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

#define ROW(name) constexpr int k_##name = parameter_index(kRows, #name)
ROW(floor_color);
ROW(horizon_color);
ROW(sky_color);
ROW(zenith_color);
ROW(light_color);
ROW(grid_color);
ROW(light_width_mult);
ROW(light_depth_mult);
ROW(light_width_offset);
ROW(light_depth_offset);
ROW(light_width);
ROW(light_depth);
ROW(grid_width_mult);
ROW(grid_depth_mult);
ROW(grid_width_offset);
ROW(grid_depth_offset);
ROW(grid_width);
ROW(grid_depth);
ROW(real_floor);
ROW(floor_altitude);
#undef ROW

float extent(const AR_TextureInfo& texture, int size, int mult, int offset) {
    return parameter_scalar(texture, size) * parameter_scalar(texture, mult) +
           parameter_scalar(texture, offset);
}

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    Triple d = normalise(call.at->direction);
    float w = filter_width(texture, call);
    if (d.y < 0.0f) {
        float below = 1.0f;
        Triple o;
        if (parameter_scalar(texture, k_real_floor) >= 0.5f) {
            below = std::fabs(parameter_scalar(texture, k_floor_altitude));
            o = call.at->point;
        }
        float t = below / -d.y;
        float x = o.x + t * d.x, z = o.z + t * d.z;
        // The footprint on the floor grows with the distance and the slant.
        float footprint = w * t / std::max(-d.y, 1e-3f);
        float a = pattern::line_share(
            x, extent(texture, k_grid_width, k_grid_width_mult, k_grid_width_offset), footprint);
        float b = pattern::line_share(
            z, extent(texture, k_grid_depth, k_grid_depth_mult, k_grid_depth_offset), footprint);
        float line = 1.0f - (1.0f - a) * (1.0f - b);
        colour_result(pattern::mix(parameter_colour(texture, k_floor_color, call),
                                   parameter_colour(texture, k_grid_color, call), line),
                      out);
        return;
    }
    Triple horizon = parameter_colour(texture, k_horizon_color, call);
    Triple sky = parameter_colour(texture, k_sky_color, call);
    Triple zenith = parameter_colour(texture, k_zenith_color, call);
    float up = std::asin(std::min(d.y, 1.0f)) / 1.5707963f;  // 0 at the horizon, 1 straight up
    Triple colour = up < 0.5f ? pattern::mix(horizon, sky, 2.0f * up)
                              : pattern::mix(sky, zenith, 2.0f * up - 1.0f);
    if (d.y > 1e-3f) {
        float t = 1.0f / d.y;
        float footprint = w * t / d.y / 2.0f;
        // Lights centred on the odd units, two apart: halve to the lines' units.
        float x = (t * d.x - 1.0f) / 2.0f, z = (t * d.z - 1.0f) / 2.0f;
        float a = pattern::line_share(
            x, extent(texture, k_light_width, k_light_width_mult, k_light_width_offset), footprint);
        float b = pattern::line_share(
            z, extent(texture, k_light_depth, k_light_depth_mult, k_light_depth_offset), footprint);
        colour = pattern::mix(colour, parameter_colour(texture, k_light_color, call), a * b);
    }
    colour_result(colour, out);
}

}  // namespace

const AR_TextureProcedure kChromeProcedure =
    procedure_row("Chrome", kTable, calculate, TEXTURE_ENVIRONMENT);

}  // namespace sky
