// Snow: snow on the surfaces that face a direction; the names SnowBW and
// SnowDepthRGB select it.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "threshold",
     .type = ANY,
     .value = {0.5f},
     .description = "How much a surface must face the direction to hold snow."},
    {.name = "contrast",
     .type = ANY,
     .value = {1.0f},
     .description = "Contrast between snow and surface."},
    {.name = "snow_color",
     .type = ANY,
     .value = grey(255.0f),
     .description = "Colour of the snow."},
    {.name = "surface_color",
     .type = ANY,
     .value = grey(128.0f),
     .description = "Colour of the surface without snow."},
    {.name = "vector_x", .type = ANY, .description = "The direction snow falls from, x."},
    {.name = "vector_y",
     .type = ANY,
     .value = {1.0f},
     .description = "The direction snow falls from, y."},
    {.name = "vector_z", .type = ANY, .description = "The direction snow falls from, z."},
    {.name = "depth_decay",
     .type = ANY,
     .value = {5.0f},
     .description = "How quickly the snow thins with depth."},
    {.name = "thickness", .type = ANY, .value = {1.0f}, .description = "Thickness of the snow."},
    {.name = "surface", .type = ANY, .description = "A texture for the surface without snow."},
    {.name = "snow", .type = ANY, .description = "A texture for the snow."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in SnowBW: %s\n", "NIL SnowBWNode found\n");

}  // namespace

const AR_TextureProcedure kSnowProcedure =
    procedure_row("Snow", kTable, not_drawn<"texture procedure Snow">, TEXTURE_SOLID);

}  // namespace sky
