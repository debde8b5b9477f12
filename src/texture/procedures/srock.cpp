// sRock: grains of two colours through space, `grain_size` across: each
// grain is `color1` or, with chance 1 − `mix_ratio`, `color2`; near their
// borders grains blend over `diffusion` of their size, and `contrast` sets
// how far the colours stand from their mean. Grains smaller than the
// footprint fade to that mean.
#include <algorithm>
#include <cmath>
#include "texture/procedures/pattern_noise.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "contrast",
     .type = ANY,
     .value = {1.0f},
     .description = "Contrast between the two colours."},
    {.name = "color1", .type = ANY, .description = "Colour of the first grain."},
    {.name = "color2",
     .type = ANY,
     .value = grey(255.0f),
     .description = "Colour of the second grain."},
    {.name = "mix_ratio", .type = ANY, .value = {0.5f}, .description = "Mix of the two colours."},
    {.name = "diffusion",
     .type = ANY,
     .value = {0.5f},
     .description = "How far the grains bleed into each other."},
    {.name = "grain_size", .type = ANY, .value = {0.01f}, .description = "Size of a grain."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in sRock: %s\n", "NIL sRockNode found\n");

#define ROW(name) constexpr int k_##name = parameter_index(kRows, #name)
ROW(contrast);
ROW(color1);
ROW(color2);
ROW(mix_ratio);
ROW(diffusion);
ROW(grain_size);
#undef ROW

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    float size = std::max(std::fabs(parameter_number(texture, k_grain_size, call)), 1e-5f);
    const Triple& q = call.point;
    pattern::Cells c = pattern::cells3(Triple{q.x / size, q.y / size, q.z / size}, 1.0f, 81);
    float ratio = std::clamp(parameter_number(texture, k_mix_ratio, call), 0.0f, 1.0f);
    float first = c.id < ratio ? 1.0f : 0.0f;
    // Toward the border (f2 − f1 → 0) the grain blends with its neighbour's mean.
    float diffusion = std::max(parameter_number(texture, k_diffusion, call), 0.0f);
    float border = diffusion > 0.0f ? pattern::smooth_step(0.0f, diffusion, c.f2 - c.f1) : 1.0f;
    float t = ratio + border * (first - ratio);
    float contrast = std::clamp(parameter_number(texture, k_contrast, call), 0.0f, 1.0f);
    t = ratio + contrast * (t - ratio);
    t = ratio + pattern::level_weight(1.0f / size, filter_width(texture, call)) * (t - ratio);
    colour_result(pattern::mix(parameter_colour(texture, k_color2, call),
                               parameter_colour(texture, k_color1, call), t),
                  out);
}

}  // namespace

const AR_TextureProcedure kSRockProcedure =
    procedure_row("sRock", kTable, calculate, TEXTURE_SOLID);

}  // namespace sky
