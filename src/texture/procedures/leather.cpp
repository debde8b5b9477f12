// Leather: cells divided by creases, through space. Cells `cell_size`
// across (divided by `density`), their places jittered by `randomness`,
// are `cell_color`, each varied in brightness by `spottyness`; where a
// point lies nearly as close to the next cell as to its own (the ratio of
// the two distances above `threshold`) runs a crease in `crease_color`,
// when `creases` is on. `contrast` sets how far creases stand from cells.
// Cells smaller than the footprint fade to the pattern's mean colour.
#include <algorithm>
#include <cmath>
#include "base/vecmath.h"
#include "texture/procedures/pattern_noise.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "density", .type = ANY, .value = {1.0f}, .description = "How densely the cells lie."},
    {.name = "threshold",
     .type = ANY,
     .value = {0.83f},
     .description = "Where the cells end and the creases begin."},
    {.name = "contrast",
     .type = ANY,
     .value = {1.0f},
     .description = "Contrast between cells and creases."},
    {.name = "randomness",
     .type = ANY,
     .value = {0.5f},
     .description = "Randomness of the cells' places."},
    {.name = "creases",
     .type = ANY,
     .value = {1.0f},
     .description = "On: the cells have creased edges."},
    {.name = "cell_size", .type = ANY, .value = {0.5f}, .description = "Size of a cell."},
    {.name = "spottyness",
     .type = ANY,
     .value = {0.1f},
     .description = "Random variation of the cells' colour."},
    {.name = "cell_color",
     .type = ANY,
     .value = {120.0f, 60.0f, 20.0f},
     .description = "Colour of the cells."},
    {.name = "crease_color",
     .type = ANY,
     .value = {60.0f, 30.0f, 10.0f},
     .description = "Colour of the creases."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in sLeather: %s\n", "NIL LeatherNode found\n");

#define ROW(name) constexpr int k_##name = parameter_index(kRows, #name)
ROW(density);
ROW(threshold);
ROW(contrast);
ROW(randomness);
ROW(creases);
ROW(cell_size);
ROW(spottyness);
ROW(cell_color);
ROW(crease_color);
#undef ROW

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    float size;
    pattern::Cells c = cells_at(texture, call, k_cell_size, k_density, k_randomness, 101, size);
    float spot = cell_spot(c, parameter_number(texture, k_spottyness, call), 102);
    Triple colour = scale(parameter_colour(texture, k_cell_color, call), spot);
    if (parameter_scalar(texture, k_creases) >= 0.5f) {
        float closeness = c.f1 / std::max(c.f2, 1e-6f);  // 1 on the border
        float threshold = std::clamp(parameter_number(texture, k_threshold, call), 0.0f, 1.0f);
        float crease =
            pattern::smooth_step(threshold, std::min(1.0f, threshold + 0.08f), closeness);
        crease *= std::clamp(parameter_number(texture, k_contrast, call), 0.0f, 1.0f);
        colour = pattern::mix(colour, parameter_colour(texture, k_crease_color, call), crease);
    }
    colour_result(colour, out);
    fade_to_mean(procedure_derived(texture).mean,
                 pattern::level_weight(1.0f / size, filter_width(texture, call)), out);
}

}  // namespace

const AR_TextureProcedure kLeatherProcedure =
    procedure_row("Leather", kTable, calculate, TEXTURE_SOLID, false, eval_procedure_parameters,
                  init_with_solid_mean<calculate>);

}  // namespace sky
