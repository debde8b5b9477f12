// Cloth: a plain weave, two threads each way across the frame. Threads
// along u (at fixed v) are `u_thread_width` of their spacing wide, those
// along v `v_thread_width`; at each crossing one thread lies on top,
// alternating like a checkerboard, shaded round across its width and
// dipping where it passes under. `u_wave` and `v_wave` bend the threads,
// `randomness` moves each thread off its place, `brightness_spread` and
// `width_spread` vary each thread's brightness and width. Between threads
// the `gap_color` shows. Wide filters fade the weave to its mean colour.
#include <algorithm>
#include <cmath>
#include "base/vecmath.h"
#include "texture/procedures/pattern_noise.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "u_thread_width",
     .type = ANY,
     .value = {0.75f},
     .description = "Width of the threads across u, 0..1 of their spacing."},
    {.name = "v_thread_width",
     .type = ANY,
     .value = {0.75f},
     .description = "Width of the threads across v."},
    {.name = "u_wave", .type = ANY, .description = "Waviness of the threads across u."},
    {.name = "v_wave", .type = ANY, .description = "Waviness of the threads across v."},
    {.name = "randomness", .type = ANY, .description = "Random variation of the weave."},
    {.name = "brightness_spread",
     .type = ANY,
     .description = "Random variation of the threads' brightness."},
    {.name = "width_spread", .type = ANY, .description = "Random variation of the threads' width."},
    {.name = "u_thread_color",
     .also = "u_thread_colour",
     .type = ANY,
     .value = grey(255.0f),
     .description = "Colour of the threads across u."},
    {.name = "v_thread_color",
     .also = "v_thread_colour",
     .type = ANY,
     .value = grey(255.0f),
     .description = "Colour of the threads across v."},
    {.name = "gap_color",
     .also = "gap_colour",
     .type = ANY,
     .description = "Colour between the threads."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Cloth: %s\n", "NIL ClothNode found\n");

constexpr int kUWidth = parameter_index(kRows, "u_thread_width");
constexpr int kVWidth = parameter_index(kRows, "v_thread_width");
constexpr int kUWave = parameter_index(kRows, "u_wave");
constexpr int kVWave = parameter_index(kRows, "v_wave");
constexpr int kRandomness = parameter_index(kRows, "randomness");
constexpr int kBrightnessSpread = parameter_index(kRows, "brightness_spread");
constexpr int kWidthSpread = parameter_index(kRows, "width_spread");
constexpr int kUColour = parameter_index(kRows, "u_thread_color");
constexpr int kVColour = parameter_index(kRows, "v_thread_color");
constexpr int kGapColour = parameter_index(kRows, "gap_color");
constexpr float kThreads = 2.0f;  // each way, across the frame

struct Thread {
    float across = 2.0f;  // -1..1 over the thread's width; beyond: not on it
    float brightness = 1.0f;
};

// The thread of index `index` (the whole part of `position`), whose
// centre wanders by `wave` along `along`.
Thread thread_at(const AR_TextureInfo& texture, const TextureCall& call, float position,
                 float along, int width_row, float wave, std::uint32_t seed) {
    int count = static_cast<int>(kThreads);
    float shifted = position + 0.25f * wave * std::sin(kPi * along);
    float cell = std::floor(shifted);
    int index = static_cast<int>(cell) % count;
    if (index < 0) index += count;
    float r1 = pattern::unit_hash(index, 0, 0, seed) - 0.5f;
    float r2 = pattern::unit_hash(index, 1, 0, seed) - 0.5f;
    float r3 = pattern::unit_hash(index, 2, 0, seed) - 0.5f;
    float width = parameter_number(texture, width_row, call) *
                  (1.0f + parameter_number(texture, kWidthSpread, call) * r1);
    width = std::clamp(width, 0.0f, 1.0f);
    float centre = 0.5f + 0.5f *
                              std::clamp(parameter_number(texture, kRandomness, call), 0.0f, 1.0f) *
                              r2 * (1.0f - width);
    Thread t;
    if (width > 0.0f) t.across = (shifted - cell - centre) / (0.5f * width);
    t.brightness = std::max(0.0f, 1.0f + parameter_number(texture, kBrightnessSpread, call) * r3);
    return t;
}

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    float x = call.u * kThreads, y = call.v * kThreads;
    // Threads along u sit at rows of y; threads along v at columns of x.
    Thread along_u =
        thread_at(texture, call, y, x, kUWidth, parameter_number(texture, kUWave, call), 1);
    Thread along_v =
        thread_at(texture, call, x, y, kVWidth, parameter_number(texture, kVWave, call), 2);
    bool u_on_top =
        (static_cast<long long>(std::floor(x)) + static_cast<long long>(std::floor(y))) % 2 == 0;
    bool on_u = std::fabs(along_u.across) <= 1.0f, on_v = std::fabs(along_v.across) <= 1.0f;
    Triple colour;
    if (!on_u && !on_v) {
        colour = parameter_colour(texture, kGapColour, call);
    } else {
        bool show_u = on_u && (u_on_top || !on_v);
        const Thread& t = show_u ? along_u : along_v;
        // Round across the thread; along it, highest midway between the
        // threads it passes under.
        float round = std::sqrt(std::max(0.0f, 1.0f - t.across * t.across));
        float f = (show_u ? x : y);
        float dip = 0.7f + 0.3f * std::fabs(std::sin(kPi * (f - std::floor(f))));
        float light = t.brightness * (0.35f + 0.65f * round) * (show_u == u_on_top ? dip : 0.6f);
        colour = scale(parameter_colour(texture, show_u ? kUColour : kVColour, call), light);
    }
    colour_result(colour, out);
    fade_to_mean(procedure_derived(texture).mean,
                 pattern::level_weight(kThreads, filter_width(texture, call)), out);
}

}  // namespace

const AR_TextureProcedure kClothProcedure =
    procedure_row("Cloth", kTable, calculate, TEXTURE_SURFACE, false, eval_procedure_parameters,
                  init_with_mean<calculate>);

}  // namespace sky
