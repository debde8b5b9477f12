// sCloud: clouds through space. Their density is 0.5 + 0.5 × `amplitude` ×
// a fractal sum of noise (levels `level_min` .. `level_max`, `ratio`) at the
// point scaled by the ripples; the colour runs from `color1` (thin) to
// `color2` (dense), spread by `contrast` about their mean. The clouds are
// transparent where thin: alpha rises from 0 at the threshold to 1 over
// `transparency_range`. The threshold is `center_threshold` where the
// surface faces the object's z axis and, with `soft_edges` on, moves to
// `edge_threshold` where it turns side-on, so round objects get soft
// edges. Levels finer than the footprint fade out.
#include <algorithm>
#include <cmath>
#include "base/vecmath.h"
#include "texture/procedures/pattern_noise.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr auto kRows = join_rows(
    {
        {.name = "contrast",
         .type = ANY,
         .value = {0.5f},
         .description = "Contrast between the two colours."},
        {.name = "color1", .type = ANY, .description = "Colour of the thin parts."},
        {.name = "color2",
         .type = ANY,
         .value = grey(255.0f),
         .description = "Colour of the dense parts."},
    },
    shared_rows::kLevels,
    {
        shared_rows::kAmplitude,
        {.name = "soft_edges",
         .type = ANY,
         .value = {1.0f},
         .description = "On: the clouds fade toward their edges."},
        {.name = "transparency_range",
         .type = ANY,
         .value = {0.5f},
         .description = "Range over which the clouds become transparent."},
        {.name = "center_threshold",
         .type = ANY,
         .description = "Threshold at the cloud's centre."},
        {.name = "edge_threshold",
         .type = ANY,
         .value = {1.0f},
         .description = "Threshold at the cloud's edge."},
    },
    shared_rows::kRipples);
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in sCloud: %s\n", "NIL sCloudNode found\n");

#define ROW(name) constexpr int k_##name = parameter_index(kRows, #name)
ROW(contrast);
ROW(color1);
ROW(color2);
ROW(level_min);
ROW(level_max);
ROW(ratio);
ROW(amplitude);
ROW(soft_edges);
ROW(transparency_range);
ROW(center_threshold);
ROW(edge_threshold);
ROW(xripples);
ROW(yripples);
ROW(zripples);
#undef ROW
static_assert(k_level_max == k_level_min + 1 && k_ratio == k_level_min + 2 &&
              k_zripples == k_xripples + 2);  // read as groups

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    auto [p, w] = rippled_point(texture, call, k_xripples, -1);
    pattern::Fractal f = fractal_levels(texture, call, k_level_min, 51);
    float density =
        0.5f + 0.5f * parameter_number(texture, k_amplitude, call) * pattern::fractal3(p, w, f);
    float contrast = parameter_number(texture, k_contrast, call);
    float t = std::clamp(0.5f + 2.0f * contrast * (density - 0.5f), 0.0f, 1.0f);
    Triple colour = pattern::mix(parameter_colour(texture, k_color1, call),
                                 parameter_colour(texture, k_color2, call), t);

    float threshold = parameter_number(texture, k_center_threshold, call);
    if (parameter_scalar(texture, k_soft_edges) >= 0.5f) {
        const Triple& n = call.at->normal;
        float length_n = length(n);
        float side_on = length_n > 0.0f ? 1.0f - std::fabs(n.z) / length_n : 0.0f;
        threshold += side_on * (parameter_number(texture, k_edge_threshold, call) - threshold);
    }
    float range = std::max(parameter_number(texture, k_transparency_range, call), 1e-4f);
    colour_result(colour, out);
    out.alpha = std::clamp((density - threshold) / range, 0.0f, 1.0f);
}

}  // namespace

const AR_TextureProcedure kSCloudProcedure =
    procedure_row("sCloud", kTable, calculate, TEXTURE_SOLID);

}  // namespace sky
