// Granite: grains in a filler, through space. Cells `cell_size` across
// (divided by `density`) hold one grain each at a place jittered by
// `randomness`; a grain fills its cell out to `threshold` of the way to the
// border, in `color1`, `color2` or `color3` (the first two each with
// chance `mix_ratio`/2), its brightness varied by `spottyness`; the
// `filler_color` shows between. With `creases` on the cells' borders
// darken. `contrast` sets how far the grains stand from the filler. Cells
// smaller than the footprint fade to the pattern's mean colour.
#include <algorithm>
#include <cmath>
#include "base/vecmath.h"
#include "texture/procedures/pattern_noise.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "density", .type = ANY, .value = {1.0f}, .description = "How densely the grains lie."},
    {.name = "threshold",
     .type = ANY,
     .value = {0.5f},
     .description = "How much of the volume the grains fill."},
    {.name = "contrast",
     .type = ANY,
     .value = {1.0f},
     .description = "Contrast between grains and filler."},
    {.name = "color1",
     .type = ANY,
     .value = grey(0.0f),
     .description = "Colour of the first grain."},
    {.name = "color2",
     .type = ANY,
     .value = grey(128.0f),
     .description = "Colour of the second grain."},
    {.name = "color3",
     .type = ANY,
     .value = grey(255.0f),
     .description = "Colour of the third grain."},
    {.name = "filler_color",
     .type = ANY,
     .value = grey(180.0f),
     .description = "Colour between the grains."},
    {.name = "randomness",
     .type = ANY,
     .value = {1.0f},
     .description = "Randomness of the grains' places."},
    {.name = "creases",
     .type = ANY,
     .value = {1.0f},
     .description = "On: grains have creased edges."},
    {.name = "cell_size", .type = ANY, .value = {0.15f}, .description = "Size of a grain."},
    {.name = "spottyness",
     .type = ANY,
     .value = {0.3f},
     .description = "Random variation of the grains' colour."},
    {.name = "mix_ratio", .type = ANY, .value = {0.5f}, .description = "Mix of the grain colours."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in sGranite: %s\n", "NIL GraniteNode found\n");

#define ROW(name) constexpr int k_##name = parameter_index(kRows, #name)
ROW(density);
ROW(threshold);
ROW(contrast);
ROW(color1);
ROW(color2);
ROW(color3);
ROW(filler_color);
ROW(randomness);
ROW(creases);
ROW(cell_size);
ROW(spottyness);
ROW(mix_ratio);
#undef ROW

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    float size;
    pattern::Cells c = cells_at(texture, call, k_cell_size, k_density, k_randomness, 91, size);
    // How far from the grain's centre toward the border: 0 .. 1.
    float reach = c.f1 / std::max(0.5f * (c.f1 + c.f2), 1e-6f);
    float threshold = std::clamp(parameter_number(texture, k_threshold, call), 0.0f, 1.0f);
    float inside = 1.0f - pattern::smooth_step(threshold - 0.05f, threshold + 0.05f, reach);
    float ratio = std::clamp(parameter_number(texture, k_mix_ratio, call), 0.0f, 1.0f);
    int which = c.id < 0.5f * ratio ? k_color1 : (c.id < ratio ? k_color2 : k_color3);
    float spot = cell_spot(c, parameter_number(texture, k_spottyness, call), 92);
    Triple filler = parameter_colour(texture, k_filler_color, call);
    Triple grain = scale(parameter_colour(texture, which, call), spot);
    float contrast = std::clamp(parameter_number(texture, k_contrast, call), 0.0f, 1.0f);
    Triple colour = pattern::mix(filler, grain, inside * contrast);
    if (parameter_scalar(texture, k_creases) >= 0.5f)
        colour = scale(colour, 0.6f + 0.4f * pattern::smooth_step(0.0f, 0.15f, c.f2 - c.f1));
    colour_result(colour, out);
    fade_to_mean(procedure_derived(texture).mean,
                 pattern::level_weight(1.0f / size, filter_width(texture, call)), out);
}

}  // namespace

const AR_TextureProcedure kGraniteProcedure =
    procedure_row("Granite", kTable, calculate, TEXTURE_SOLID, false, eval_procedure_parameters,
                  init_with_solid_mean<calculate>);

}  // namespace sky
