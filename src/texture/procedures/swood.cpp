// sWood: growth rings around an axis along y, through space. The point,
// moved by the origin (`xorigin` ...) and scaled by the ripples, gives
// x' = x × `xmult` + `xoffset` and z' = z × `ymult` + `yoffset`, bent by
// `xamplitude` and `yamplitude` × one fractal noise (levels `level_min` ..
// `level_max`, `ratio`); the rings' centre is (`center_u`, `center_v`) in
// (x', z'). Rings are `layer_size` apart, `layer_randomisation` varies
// their spacing, `randomness` wobbles them, and `layer_growth_time` adds
// that many rings' growth. Each ring ends in a vein (`vein_color`) taking
// `layer_thickness` of it, fading into the `filler_color` over
// `vein_spread`. Fine grain runs along y, `grain_spacing` apart, in
// `grain_color` at `grain_contrast`. Wide footprints fade rings and grain
// to their means.
#include <algorithm>
#include <cmath>
#include "texture/procedures/pattern_noise.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr auto kRows = join_rows(
    {
        {.name = "randomness",
         .type = ANY,
         .value = {0.5f},
         .description = "Randomness of the rings."},
        shared_rows::kLevelMin,
        shared_rows::kLevelMax,
        {.name = "ratio",
         .type = ANY,
         .value = {0.35f},
         .description = "Strength of each finer level against the last."},
        {.name = "filler_color",
         .type = ANY,
         .value = {230.0f, 170.0f, 110.0f},
         .description = "Colour of the wood between the veins."},
        {.name = "vein_color",
         .type = ANY,
         .value = {120.0f, 70.0f, 30.0f},
         .description = "Colour of the veins."},
        {.name = "grain_color",
         .type = ANY,
         .value = {100.0f, 60.0f, 30.0f},
         .description = "Colour of the grain."},
    },
    shared_rows::kRipples, shared_rows::kScaleAndOffset,
    {
        {.name = "xamplitude", .type = ANY, .value = {0.1f}, .description = "Distortion across."},
        {.name = "yamplitude", .type = ANY, .value = {0.1f}, .description = "Distortion up."},
    },
    shared_rows::kOrigin,
    {
        {.name = "center_u",
         .type = ANY,
         .value = {0.5f},
         .description = "Centre of the rings across u."},
        {.name = "center_v",
         .type = ANY,
         .value = {-0.5f},
         .description = "Centre of the rings across v."},
        {.name = "vein_spread", .type = ANY, .value = {0.25f}, .description = "Width of a vein."},
        {.name = "grain_contrast",
         .type = ANY,
         .value = {1.0f},
         .description = "Contrast of the grain."},
        {.name = "grain_spacing",
         .type = ANY,
         .value = {0.01f},
         .description = "Spacing of the grain."},
        {.name = "layer_size",
         .type = ANY,
         .value = {0.02f},
         .description = "Thickness of a growth ring."},
        {.name = "layer_thickness",
         .type = ANY,
         .value = {0.5f},
         .description = "Share of a ring taken by its vein."},
        {.name = "layer_randomisation",
         .type = ANY,
         .value = {0.5f},
         .description = "Randomness of the rings' thickness."},
        {.name = "layer_growth_time", .type = ANY, .description = "Age of the wood."},
    });
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in sWood: %s\n", "NIL sWoodNode found\n");

#define ROW(name) constexpr int k_##name = parameter_index(kRows, #name)
ROW(randomness);
ROW(level_min);
ROW(level_max);
ROW(ratio);
ROW(filler_color);
ROW(vein_color);
ROW(grain_color);
ROW(xripples);
ROW(yripples);
ROW(zripples);
ROW(xmult);
ROW(ymult);
ROW(xoffset);
ROW(yoffset);
ROW(xamplitude);
ROW(yamplitude);
ROW(xorigin);
ROW(yorigin);
ROW(zorigin);
ROW(center_u);
ROW(center_v);
ROW(vein_spread);
ROW(grain_contrast);
ROW(grain_spacing);
ROW(layer_size);
ROW(layer_thickness);
ROW(layer_randomisation);
ROW(layer_growth_time);
#undef ROW
static_assert(k_level_max == k_level_min + 1 && k_ratio == k_level_min + 2 &&
              k_zripples == k_xripples + 2);  // read as groups

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    auto [p, w] = rippled_point(texture, call, k_xripples, k_xorigin);
    pattern::Fractal f = fractal_levels(texture, call, k_level_min, 71);
    float x = p.x * parameter_scalar(texture, k_xmult) + parameter_scalar(texture, k_xoffset);
    float z = p.z * parameter_scalar(texture, k_ymult) + parameter_scalar(texture, k_yoffset);
    // One fractal bends the rings both ways (a second would double the cost).
    float wobble = pattern::fractal3(p, w, f);
    x += parameter_number(texture, k_xamplitude, call) * wobble;
    z += parameter_number(texture, k_yamplitude, call) * wobble;

    float size = std::max(std::fabs(parameter_number(texture, k_layer_size, call)), 1e-4f);
    float radius = std::hypot(x - parameter_scalar(texture, k_center_u),
                              z - parameter_scalar(texture, k_center_v));
    float rings = radius / size + parameter_number(texture, k_layer_growth_time, call);
    rings += parameter_number(texture, k_randomness, call) * 0.5f *
             pattern::noise3(Triple{p.x * 2.0f, p.y * 0.5f, p.z * 2.0f}, 73);
    // Spacing varies ring by ring: each ring's fraction is bent by its own
    // random power.
    float ring = std::floor(rings);
    float fraction = rings - ring;
    float bend = 1.0f + parameter_number(texture, k_layer_randomisation, call) *
                            (pattern::unit_hash(static_cast<std::int32_t>(ring), 0, 0, 74) - 0.5f);
    fraction = std::pow(fraction, std::max(bend, 0.05f));
    float thickness = std::clamp(parameter_number(texture, k_layer_thickness, call), 0.0f, 1.0f);
    float spread = std::max(parameter_number(texture, k_vein_spread, call), 0.0f);
    float vein =
        pattern::smooth_step(1.0f - thickness - spread * thickness, 1.0f - thickness, fraction);
    float vein_mean = thickness + 0.5f * spread * thickness;
    vein = vein_mean + pattern::level_weight(1.0f / size, w) * (vein - vein_mean);
    Triple colour =
        pattern::mix(parameter_colour(texture, k_filler_color, call),
                     parameter_colour(texture, k_vein_color, call), std::clamp(vein, 0.0f, 1.0f));

    // Grain: thin streaks along y.
    float spacing = std::max(std::fabs(parameter_number(texture, k_grain_spacing, call)), 1e-4f);
    float streak = pattern::noise3(Triple{x / spacing, p.y * 0.05f / spacing, z / spacing}, 75);
    float grain =
        pattern::smooth_step(0.3f, 0.7f, streak) * pattern::level_weight(1.0f / spacing, w);
    float g = std::clamp(parameter_number(texture, k_grain_contrast, call), 0.0f, 1.0f) * grain;
    colour_result(pattern::mix(colour, parameter_colour(texture, k_grain_color, call), g), out);
}

}  // namespace

const AR_TextureProcedure kSWoodProcedure =
    procedure_row("sWood", kTable, calculate, TEXTURE_SOLID);

}  // namespace sky
