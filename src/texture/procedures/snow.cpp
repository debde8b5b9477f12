// Snow: snow lying on the parts of a surface that face the direction it
// falls from (`vector_x`, `vector_y`, `vector_z`, object space). Where the
// normal's cosine to it passes `threshold` snow begins, reaching full
// cover over a band that `contrast` narrows (1: sharp); its depth is
// `thickness` × the cover, made uneven by noise whose cells are
// 1/`depth_decay` across. The colours are `snow_color` and
// `surface_color`, or the textures `snow` and `surface`. Selected as
// SnowBW it gives the cover as black and white; as SnowDepthRGB the depth
// as a grey. The uneven depth fades under footprints wider than its cells.
#include <algorithm>
#include <cmath>
#include <cstring>
#include "base/vecmath.h"
#include "texture/procedures/pattern_noise.h"
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

#define ROW(name) constexpr int k_##name = parameter_index(kRows, #name)
ROW(threshold);
ROW(contrast);
ROW(snow_color);
ROW(surface_color);
ROW(vector_x);
ROW(vector_y);
ROW(vector_z);
ROW(depth_decay);
ROW(thickness);
ROW(surface);
ROW(snow);
#undef ROW

Triple either(const AR_TextureInfo& texture, int texture_row, int colour_row,
              const TextureCall& call) {
    const TexturedValue& given = procedure_value(texture, texture_row).value;
    if (given.texture) return value_colour(given, call);
    return parameter_colour(texture, colour_row, call);
}

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    Triple from{parameter_scalar(texture, k_vector_x), parameter_scalar(texture, k_vector_y),
                parameter_scalar(texture, k_vector_z)};
    const Triple& n = call.at->normal;
    float lengths = length(from) * length(n);
    float facing = lengths > 0.0f ? dot(from, n) / lengths : 0.0f;
    float threshold = parameter_number(texture, k_threshold, call);
    float band =
        0.02f + 0.5f * (1.0f - std::clamp(parameter_number(texture, k_contrast, call), 0.0f, 1.0f));
    float cover = pattern::smooth_step(threshold, threshold + band, facing);
    float decay = std::max(std::fabs(parameter_number(texture, k_depth_decay, call)), 1e-4f);
    const Triple& q = call.point;
    float uneven = pattern::noise3(Triple{q.x * decay, q.y * decay, q.z * decay}, 111) *
                   pattern::level_weight(decay, filter_width(texture, call));
    float depth = std::max(
        0.0f, parameter_number(texture, k_thickness, call) * cover * (1.0f + 0.5f * uneven));
    const char* variant = texture.variant ? texture.variant : "";
    if (std::strcmp(variant, "SnowBW") == 0) {
        scalar_result(cover, out);
        return;
    }
    if (std::strcmp(variant, "SnowDepthRGB") == 0) {
        scalar_result(depth, out);
        return;
    }
    Triple colour =
        pattern::mix(either(texture, k_surface, k_surface_color, call),
                     either(texture, k_snow, k_snow_color, call), std::clamp(depth, 0.0f, 1.0f));
    colour_result(colour, out);
}

}  // namespace

const AR_TextureProcedure kSnowProcedure = procedure_row("Snow", kTable, calculate, TEXTURE_SOLID);

}  // namespace sky
