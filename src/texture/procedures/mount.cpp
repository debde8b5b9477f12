// Mount: fractal mountains: rock with snow above an altitude and below a slope.
// Also named Mountain.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
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

}  // namespace

const AR_TextureProcedure kMountProcedure =
    procedure_row("Mount", kTable, not_drawn<"texture procedure Mount">, TEXTURE_SURFACE);
const AR_TextureProcedure kMountainProcedure =
    procedure_row("Mountain", kTable, not_drawn<"texture procedure Mount">, TEXTURE_SURFACE);

}  // namespace sky
