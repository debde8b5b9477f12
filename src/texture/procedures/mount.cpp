// Mountain (also Mount): a snow-capped fractal terrain seen from above.
// The terrain's height is 0.5 + 0.5 × `amplitude` × a fractal sum of
// `level_max` levels (two cells across the frame at level 0) with ratio
// `rock_roughness`; it is the result's alpha. Snow lies where the height
// is above `snow_altitude` (a snow line made rough by a fractal of
// ratio `snow_fractal_ratio`, scaled by `boundary_roughness`), thinning
// below it over 0.1/`snow_dropoff`, widened by `snow_border_ratio`, and
// only where the slope is gentle: full below `snow_slope` × `snow_max_slope`,
// none above `snow_max_slope` (slopes in height per frame, / 8). Rock is
// `rock_color` mottled by a fractal of ratio `rock_fractal_ratio` and
// strength `rock_amplitude`; the snow's brightness varies by
// `snow_roughness`. Levels finer than the filter fade out.
#include <algorithm>
#include <cmath>
#include "base/vecmath.h"
#include "texture/procedures/pattern_noise.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    shared_rows::kLevelMax,
    {.name = "amplitude", .type = ANY, .value = {1.0f}, .description = "Height of the mountains."},
    {.name = "snow_color",
     .type = ANY,
     .value = grey(255.0f),
     .description = "Colour of the snow."},
    {.name = "rock_color",
     .type = ANY,
     .value = {120.0f, 90.0f, 70.0f},
     .description = "Colour of the rock."},
    {.name = "snow_altitude",
     .type = ANY,
     .value = {0.5f},
     .description = "Height above which snow lies."},
    {.name = "snow_dropoff",
     .type = ANY,
     .value = {2.0f},
     .description = "How quickly the snow thins below its altitude."},
    {.name = "snow_max_slope",
     .type = ANY,
     .value = {0.8f},
     .description = "Steepest slope that holds snow."},
    {.name = "snow_slope",
     .type = ANY,
     .value = {0.8f},
     .description = "Slope at which snow starts to thin."},
    {.name = "snow_roughness",
     .type = ANY,
     .value = {0.4f},
     .description = "Roughness of the snow's surface."},
    {.name = "snow_fractal_ratio",
     .type = ANY,
     .value = {0.73f},
     .description = "Detail ratio of the snow's fractal."},
    {.name = "boundary_roughness",
     .type = ANY,
     .value = {0.6f},
     .description = "Roughness of the snow line."},
    {.name = "snow_border_ratio", .type = ANY, .description = "Width of the snow line."},
    {.name = "rock_amplitude",
     .type = ANY,
     .value = {1.0f},
     .description = "Strength of the rock's pattern."},
    {.name = "rock_roughness",
     .type = ANY,
     .value = {0.707f},
     .description = "Roughness of the rock."},
    {.name = "rock_fractal_ratio",
     .type = ANY,
     .value = {0.707f},
     .description = "Detail ratio of the rock's fractal."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Mount: %s\n", "NIL MountNode found\n");

#define ROW(name) constexpr int k_##name = parameter_index(kRows, #name)
ROW(level_max);
ROW(amplitude);
ROW(snow_color);
ROW(rock_color);
ROW(snow_altitude);
ROW(snow_dropoff);
ROW(snow_max_slope);
ROW(snow_slope);
ROW(snow_roughness);
ROW(snow_fractal_ratio);
ROW(boundary_roughness);
ROW(snow_border_ratio);
ROW(rock_amplitude);
ROW(rock_roughness);
ROW(rock_fractal_ratio);
#undef ROW

// The slope is measured on the terrain's coarse levels, a step apart.
constexpr float kSlopeStep = 1.0f / 256.0f;
constexpr int kSlopeLevels = 2;

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    float u = call.u, v = call.v, w = filter_width(texture, call);
    int levels = static_cast<int>(parameter_scalar(texture, k_level_max));
    float amplitude = parameter_number(texture, k_amplitude, call);
    pattern::Fractal terrain{.first = 0,
                             .last = levels,
                             .ratio = parameter_number(texture, k_rock_roughness, call),
                             .base = 2.0f,
                             .seed = 41};
    float height = 0.5f + 0.5f * amplitude * pattern::fractal2(u, v, w, terrain, 1);

    pattern::Fractal line{.first = 0,
                          .last = std::min(levels, 3),
                          .ratio = parameter_number(texture, k_snow_fractal_ratio, call),
                          .base = 4.0f,
                          .seed = 42};
    float snow_line = parameter_number(texture, k_snow_altitude, call) +
                      0.2f * parameter_number(texture, k_boundary_roughness, call) *
                          pattern::fractal2(u, v, w, line, 1);
    float band = 0.1f / std::max(parameter_number(texture, k_snow_dropoff, call), 1e-3f) *
                 (1.0f + std::max(0.0f, parameter_number(texture, k_snow_border_ratio, call)));
    float snow = pattern::smooth_step(snow_line - band, snow_line, height);
    // The slope only decides where snow could lie: below the snow line the
    // three lookups it takes are saved.
    if (snow > 0.0f) {
        pattern::Fractal coarse = terrain;
        coarse.last = std::min(levels, kSlopeLevels);
        float here = pattern::fractal2(u, v, w, coarse, 1);
        float du = pattern::fractal2(u + kSlopeStep, v, w, coarse, 1) - here;
        float dv = pattern::fractal2(u, v + kSlopeStep, w, coarse, 1) - here;
        float slope = 0.5f * std::fabs(amplitude) * std::hypot(du, dv) / kSlopeStep / 8.0f;
        float max_slope = parameter_number(texture, k_snow_max_slope, call);
        snow *=
            1.0f - pattern::smooth_step(parameter_number(texture, k_snow_slope, call) * max_slope,
                                        max_slope, slope);
    }

    pattern::Fractal grain{.first = 0,
                           .last = std::min(levels, 1),
                           .ratio = parameter_number(texture, k_rock_fractal_ratio, call),
                           .base = 8.0f,
                           .seed = 43};
    float mottle = pattern::fractal2(u, v, w, grain, 1);
    Triple rock = scale(
        parameter_colour(texture, k_rock_color, call),
        std::max(0.0f, 1.0f + 0.5f * parameter_number(texture, k_rock_amplitude, call) * mottle));
    Triple white =
        scale(parameter_colour(texture, k_snow_color, call),
              std::clamp(1.0f - 0.3f * parameter_number(texture, k_snow_roughness, call) *
                                    std::fabs(mottle),
                         0.0f, 1.0f));
    colour_result(pattern::mix(rock, white, snow), out);
    out.alpha = std::clamp(height, 0.0f, 1.0f);
}

}  // namespace

const AR_TextureProcedure kMountProcedure =
    procedure_row("Mount", kTable, calculate, TEXTURE_SURFACE);
const AR_TextureProcedure kMountainProcedure =
    procedure_row("Mountain", kTable, calculate, TEXTURE_SURFACE);

}  // namespace sky
