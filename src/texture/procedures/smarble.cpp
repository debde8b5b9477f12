// sMarble: veins through space. The point, moved by the origin
// (`xorigin` ...) and scaled by the ripples, gives x' = x × `xmult` +
// `xoffset`, bent by `yamplitude` × a wave along y (`ymult`, `yoffset`) and
// by `amplitude` vein spacings × turbulence (levels `level_min` .. `level_max`, `ratio`).
// Veins lie every `vein_width` along x': `vein_thickness` is their width
// (a fraction of the spacing), `diffusion` how far they bleed, `contrast`
// how strongly they show over the `filler_color`. Wide footprints fade
// the veins to their mean share.
#include <algorithm>
#include <cmath>
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
         .description = "Contrast between veins and filler."},
    },
    shared_rows::kLevels,
    {
        {.name = "amplitude",
         .type = ANY,
         .value = {1.5f},
         .description = "Distortion of the veins."},
        {.name = "filler_color",
         .type = ANY,
         .value = grey(255.0f),
         .description = "Colour of the filler."},
        {.name = "vein_color",
         .type = ANY,
         .value = {76.0f, 0.0f, 0.0f},
         .description = "Colour of the veins."},
        {.name = "vein_thickness",
         .type = ANY,
         .value = {0.1f},
         .description = "Thickness of the veins."},
        {.name = "vein_width",
         .type = ANY,
         .value = {0.1f},
         .description = "Spacing of the veins."},
        {.name = "diffusion",
         .type = ANY,
         .value = {0.5f},
         .description = "How far the veins bleed into the filler."},
    },
    shared_rows::kRipples, shared_rows::kScaleAndOffset, {shared_rows::kYAmplitude},
    shared_rows::kOrigin);
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in sMarble: %s\n", "NIL sMarbleNode found\n");

#define ROW(name) constexpr int k_##name = parameter_index(kRows, #name)
ROW(contrast);
ROW(level_min);
ROW(level_max);
ROW(ratio);
ROW(amplitude);
ROW(filler_color);
ROW(vein_color);
ROW(vein_thickness);
ROW(vein_width);
ROW(diffusion);
ROW(xripples);
ROW(yripples);
ROW(zripples);
ROW(xmult);
ROW(ymult);
ROW(xoffset);
ROW(yoffset);
ROW(yamplitude);
ROW(xorigin);
ROW(yorigin);
ROW(zorigin);
#undef ROW
static_assert(k_level_max == k_level_min + 1 && k_ratio == k_level_min + 2 &&
              k_zripples == k_xripples + 2);  // read as groups

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    auto [p, w] = rippled_point(texture, call, k_xripples, k_xorigin);
    pattern::Fractal f = fractal_levels(texture, call, k_level_min, 61);
    float x = p.x * parameter_scalar(texture, k_xmult) + parameter_scalar(texture, k_xoffset);
    x += parameter_number(texture, k_yamplitude, call) *
         std::sin(kTwoPi * (p.y * parameter_scalar(texture, k_ymult) +
                            parameter_scalar(texture, k_yoffset)));
    x += parameter_number(texture, k_amplitude, call) * 0.5f *
         (pattern::turbulence3(p, w, f) - 0.25f);

    float spacing = std::max(std::fabs(parameter_number(texture, k_vein_width, call)), 1e-4f);
    float s = x / spacing;
    float d = 2.0f * std::fabs(s - std::floor(s) - 0.5f);  // 1 at a vein's middle, 0 between
    float half = 0.5f * std::clamp(parameter_number(texture, k_vein_thickness, call), 0.0f, 1.0f);
    float bleed = std::max(0.0f, parameter_number(texture, k_diffusion, call)) * 0.5f + 1e-3f;
    float vein = pattern::smooth_step(1.0f - 2.0f * half - bleed, 1.0f - 2.0f * half, d);
    float share = 2.0f * half + 0.5f * bleed;
    float stretch_x = std::fabs(parameter_scalar(texture, k_xmult)) / spacing;
    vein = share + pattern::level_weight(stretch_x, w) * (vein - share);
    float strength =
        std::clamp(2.0f * parameter_number(texture, k_contrast, call) * vein, 0.0f, 1.0f);
    colour_result(pattern::mix(parameter_colour(texture, k_filler_color, call),
                               parameter_colour(texture, k_vein_color, call), strength),
                  out);
}

}  // namespace

const AR_TextureProcedure kSMarbleProcedure =
    procedure_row("sMarble", kTable, calculate, TEXTURE_SOLID);

}  // namespace sky
