// Marble: veins across the surface over a filler colour. The veins run
// along v, four to the frame, wandering by a fractal sum of noise that
// `diffusion` scales; `vein_thickness` is their width (in the vein
// profile's units, 0..1) and `contrast` how strongly they show (0 none,
// 0.5 and above full colour at their middle). The colours are given one
// channel at a time. Wide filters fade the veins to their mean share.
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
     .value = {0.5f},
     .description = "Contrast between veins and filler."},
    {.name = "vein_thickness",
     .type = ANY,
     .value = {0.1f},
     .description = "Thickness of the veins."},
    {.name = "diffusion",
     .type = ANY,
     .value = {0.5f},
     .description = "How far the veins bleed into the filler."},
    {.name = "vein_color_r",
     .also = "vein_colour_r",
     .type = ANY,
     .value = {76.0f},
     .description = "Red of the veins."},
    {.name = "vein_color_g",
     .also = "vein_colour_g",
     .type = ANY,
     .description = "Green of the veins."},
    {.name = "vein_color_b",
     .also = "vein_colour_b",
     .type = ANY,
     .description = "Blue of the veins."},
    {.name = "filler_color_r",
     .also = "filler_colour_r",
     .type = ANY,
     .value = {255.0f},
     .description = "Red of the filler."},
    {.name = "filler_color_g",
     .also = "filler_colour_g",
     .type = ANY,
     .value = {255.0f},
     .description = "Green of the filler."},
    {.name = "filler_color_b",
     .also = "filler_colour_b",
     .type = ANY,
     .value = {255.0f},
     .description = "Blue of the filler."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Marble: %s\n", "NIL MarbleNode found\n");

constexpr int kContrast = parameter_index(kRows, "contrast");
constexpr int kThickness = parameter_index(kRows, "vein_thickness");
constexpr int kDiffusion = parameter_index(kRows, "diffusion");
constexpr int kVein[] = {parameter_index(kRows, "vein_color_r"),
                         parameter_index(kRows, "vein_color_g"),
                         parameter_index(kRows, "vein_color_b")};
constexpr int kFiller[] = {parameter_index(kRows, "filler_color_r"),
                           parameter_index(kRows, "filler_color_g"),
                           parameter_index(kRows, "filler_color_b")};
constexpr float kVeins = 4.0f;

Triple channels(const AR_TextureInfo& texture, const int (&rows)[3], const TextureCall& call) {
    return Triple{parameter_number(texture, rows[0], call),
                  parameter_number(texture, rows[1], call),
                  parameter_number(texture, rows[2], call)};
}

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    float w = filter_width(texture, call);
    pattern::Fractal f{.first = 0, .last = 6, .ratio = 0.6f, .base = 2.0f, .seed = 11};
    float wander =
        parameter_number(texture, kDiffusion, call) * pattern::fractal2(call.u, call.v, w, f, 1);
    float s = std::fabs(std::sin(kPi * (kVeins * call.u + 2.0f * wander)));
    float thickness = std::clamp(parameter_number(texture, kThickness, call), 0.0f, 1.0f);
    float vein = 1.0f - pattern::smooth_step(0.0f, 2.0f * thickness, s);
    // Under wide filters the veins' share of the frame: about where the
    // profile stays below the thickness.
    float share = 2.0f / kPi * std::asin(std::min(1.0f, 1.5f * thickness));
    vein = share + pattern::level_weight(kVeins, w) * (vein - share);
    float strength =
        std::clamp(2.0f * parameter_number(texture, kContrast, call) * vein, 0.0f, 1.0f);
    colour_result(
        pattern::mix(channels(texture, kFiller, call), channels(texture, kVein, call), strength),
        out);
}

}  // namespace

const AR_TextureProcedure kMarbleProcedure =
    procedure_row("Marble", kTable, calculate, TEXTURE_SURFACE);

}  // namespace sky
