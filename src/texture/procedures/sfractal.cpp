// sFractal: a fractal sum of gradient noise through space, a scalar
// pattern: 0.5 + 0.5 × `amplitude` × the sum, at the point moved by the
// origin (`origin_x` ...) and scaled by the ripples (`xripples` ... cells
// per unit along each axis at level 0). Levels `level_min` .. `level_max`,
// each twice the frequency of the last with `ratio` times its weight;
// values below `threshold` become 0. Levels finer than the footprint fade
// out, leaving the mean 0.5.
#include <algorithm>
#include <cmath>
#include "texture/procedures/pattern_noise.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr auto kRows =
    join_rows({shared_rows::kThreshold}, shared_rows::kLevels, {shared_rows::kAmplitude},
              shared_rows::kRipples,
              {
                  {.name = "origin_x", .type = ANY, .description = "Origin of the pattern, x."},
                  {.name = "origin_y", .type = ANY, .description = "Origin of the pattern, y."},
                  {.name = "origin_z", .type = ANY, .description = "Origin of the pattern, z."},
              });
constexpr ParameterTable kTable = procedure_table(
    kRows, "ERROR: Unknown parameter in sFractal: %s\n", "NIL sFractalNode found\n");

#define ROW(name) constexpr int k_##name = parameter_index(kRows, #name)
ROW(threshold);
ROW(level_min);
ROW(level_max);
ROW(ratio);
ROW(amplitude);
ROW(xripples);
ROW(yripples);
ROW(zripples);
ROW(origin_x);
ROW(origin_y);
ROW(origin_z);
#undef ROW
static_assert(k_level_max == k_level_min + 1 && k_ratio == k_level_min + 2 &&
              k_zripples == k_xripples + 2);  // read as groups

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    auto [p, w] = rippled_point(texture, call, k_xripples, k_origin_x);
    pattern::Fractal f = fractal_levels(texture, call, k_level_min, 0);
    float n = pattern::fractal3(p, w, f);
    float value = 0.5f + 0.5f * parameter_number(texture, k_amplitude, call) * n;
    if (value < parameter_number(texture, k_threshold, call)) value = 0.0f;
    scalar_result(value, out);
}

}  // namespace

const AR_TextureProcedure kSFractalProcedure =
    procedure_row("sFractal", kTable, calculate, TEXTURE_SOLID, true);

}  // namespace sky
