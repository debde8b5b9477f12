// Stencil: a picture with a mask, shown inside the texture's frame. The
// picture is `image` (a nested texture, a colour or a file name) or the
// file `image_file`; the mask, the result's alpha, is `mask` (a nested texture's
// alpha, or a number) or the grey of the file `mask_file`, 1 without
// either. `mask_blur` widens the mask's filter; `mask_level` scales it and
// `threshold` cuts what stays below it to 0; `edge_blend` fades it over
// that fraction of the frame at its edges. With `key_masking` on, the mask
// is instead made from the picture's colour: 0 where its hue, saturation
// and value lie within `hue_range` (× 180 degrees), `sat_range` and
// `val_range` of `color_key`'s, 1 elsewhere, softened at the ranges' ends;
// `positive_key` turns it over. Nested pictures filter themselves.
#include <algorithm>
#include <cmath>
#include <string>
#include "texture/procedures/pattern_noise.h"
#include "texture/procedures/procedure_parameters.h"
#include "texture/texture_cache.h"

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

#define ROW(name) constexpr int k_##name = parameter_index(kRows, #name)
ROW(image);
ROW(mask);
ROW(threshold);
ROW(mask_blur);
ROW(mask_level);
ROW(edge_blend);
ROW(hue_range);
ROW(sat_range);
ROW(val_range);
ROW(key_masking);
ROW(positive_key);
ROW(color_key);
ROW(image_file);
ROW(mask_file);
#undef ROW

// How far inside a range a difference lies: 1 at its middle, 0 beyond it,
// softened over its outer fifth.
float inside(float difference, float range) {
    if (range <= 0.0f) return difference == 0.0f ? 1.0f : 0.0f;
    return 1.0f - pattern::smooth_step(0.8f * range, range, std::fabs(difference));
}

float key_mask(const AR_TextureInfo& texture, const Triple& colour, const TextureCall& call) {
    Triple key = parameter_colour(texture, k_color_key, call);
    float h, s, v, kh, ks, kv;
    pattern::to_hsv(colour.x, colour.y, colour.z, h, s, v);
    pattern::to_hsv(key.x, key.y, key.z, kh, ks, kv);
    float dh = std::fabs(h - kh);
    dh = std::min(dh, 360.0f - dh);
    float keyed = inside(dh, 180.0f * parameter_number(texture, k_hue_range, call)) *
                  inside(s - ks, parameter_number(texture, k_sat_range, call)) *
                  inside(v - kv, parameter_number(texture, k_val_range, call));
    float mask = 1.0f - keyed;
    return parameter_scalar(texture, k_positive_key) >= 0.5f ? 1.0f - mask : mask;
}

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    const DerivedValues& d = procedure_derived(texture);
    TextureLookup at = placed_lookup(call);
    Triple colour;
    if (d.images[0]) {
        TextureColour picture;
        d.images[0]->lookup(call.u, call.v, filter_width(texture, call), FILTER_BLEND, picture);
        colour = picture.rgb();
    } else {
        const TexturedValue& image = procedure_value(texture, k_image).value;
        colour = image.colour;
        TextureColour picture;
        if (image.texture && invoke_nested_texture(*image.texture, at, picture))
            colour = picture.rgb();
    }

    float mask = 1.0f;
    float blur = std::max(0.0f, parameter_number(texture, k_mask_blur, call));
    if (parameter_scalar(texture, k_key_masking) >= 0.5f) {
        mask = key_mask(texture, colour, call);
    } else if (d.images[1]) {
        TextureColour m;
        d.images[1]->lookup(call.u, call.v, filter_width(texture, call) + blur, FILTER_BLEND, m);
        mask = (0.3f * m.r + 0.59f * m.g + 0.11f * m.b) / 255.0f;
    } else if (procedure_expression(texture, k_mask)) {
        const TexturedValue& given = procedure_value(texture, k_mask).value;
        mask = given.scalar;
        TextureLookup wider = at;
        wider.du += blur;
        wider.dv += blur;
        TextureColour m;
        if (given.texture && invoke_nested_texture(*given.texture, wider, m)) mask = m.alpha;
    }
    mask *= parameter_number(texture, k_mask_level, call);
    if (mask < parameter_number(texture, k_threshold, call)) mask = 0.0f;
    float edge = parameter_number(texture, k_edge_blend, call);
    if (edge > 0.0f) {
        float inward = std::min({call.u, 1.0f - call.u, call.v, 1.0f - call.v});
        mask *= pattern::smooth_step(0.0f, edge, inward);
    }
    colour_result(colour, out);
    out.alpha = std::isfinite(mask) ? std::clamp(mask, 0.0f, 1.0f) : 0.0f;
}

// The picture and mask files, read when the texture is initialised.
bool init_stencil(AR_TextureInfo& texture) {
    if (!init_procedure_parameters(texture)) return false;
    DerivedValues& d = procedure_derived(texture);
    // A file name may be written as the image itself.
    const std::string& image = procedure_value(texture, k_image_file).text.empty()
                                   ? procedure_value(texture, k_image).text
                                   : procedure_value(texture, k_image_file).text;
    const std::string& mask = procedure_value(texture, k_mask_file).text;
    d.images[0] = image.empty() ? nullptr : texture_image(image);
    d.images[1] = mask.empty() ? nullptr : texture_image(mask);
    return true;
}

}  // namespace

const AR_TextureProcedure kStencilProcedure = procedure_row(
    "Stencil", kTable, calculate, TEXTURE_SURFACE, false, eval_procedure_parameters, init_stencil);

}  // namespace sky
