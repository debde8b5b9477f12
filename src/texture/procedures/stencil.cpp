// Stencil: a picture cut out by a mask or by a colour key.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    shared_rows::kImage,
    {.name = "mask", .type = ANY, .description = "The mask, a texture or number."},
    {.name = "threshold", .type = ANY, .description = "Mask values below it are cut away."},
    {.name = "mask_blur", .type = ANY, .description = "Blur of the mask."},
    {.name = "mask_level", .type = ANY, .value = {1.0f}, .description = "Strength of the mask."},
    {.name = "edge_blend", .type = ANY, .description = "Softness of the cut's edge."},
    {.name = "hue_range",
     .type = ANY,
     .value = {0.5f},
     .description = "Colour key: range of hues keyed out."},
    {.name = "sat_range",
     .type = ANY,
     .value = {0.5f},
     .description = "Colour key: range of saturations keyed out."},
    {.name = "val_range",
     .type = ANY,
     .value = {0.5f},
     .description = "Colour key: range of values keyed out."},
    {.name = "key_masking", .type = ANY, .description = "On: the colour key cuts the picture."},
    {.name = "positive_key",
     .type = ANY,
     .description = "On: the key keeps its colour rather than removing it."},
    {.name = "color_key", .type = ANY, .value = grey(255.0f), .description = "The key colour."},
    {.name = "image_file", .type = ANY, .description = "The picture's file."},
    {.name = "mask_file", .type = ANY, .description = "The mask's file."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Stencil: %s\n", "NIL StencilNode found\n");

}  // namespace

const AR_TextureProcedure kStencilProcedure =
    procedure_row("Stencil", kTable, not_drawn<"texture procedure Stencil">, TEXTURE_SURFACE);

}  // namespace sky
