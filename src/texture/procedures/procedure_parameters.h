// What the procedures described by a parameter table share: one set of
// routines that allocates, parses, evaluates, initialises and copies their
// parameters, the groups of rows several procedures declare alike, and the
// row that puts a procedure's table and calculation into the procedure table.
//
// A procedure's file holds its table, its calculation and its row:
//
//     constexpr auto kRows = join_rows({shared_rows::kThreshold, {.name = "time", ...}},
//                                      shared_rows::kLevels);
//     constexpr ParameterTable kTable = procedure_table(
//         kRows, "ERROR: Unknown parameter in Noise: %s\n", "NIL NoiseBWNode found\n");
//     constexpr int kAmplitude = parameter_index(kRows, "amplitude");
//     void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
//         float amplitude = procedure_value(texture, kAmplitude).value.scalar;
//         ...
//     }
//     const AR_TextureProcedure kNoiseProcedure =
//         procedure_row("Noise", kTable, calculate, TEXTURE_SURFACE, true);
//
// A procedure whose picture is not drawn yet passes not_drawn<"texture
// procedure Noise"> as its calculation.
//
// Every parameter may be written as a number, a colour, a file name or a
// nested texture and keeps whichever it was given: a ProcedureValue holds
// the number in `value.scalar`, the colour in `value.colour` (0..255), the
// nested texture in `value.texture` (evaluated and initialised with this
// one) and a name in `text`. Calculations read them and allocate nothing.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>
#include <numbers>
#include <span>
#include <string>
#include <vector>

#include "base/not_built.h"
#include "sdl/parameter_table.h"
#include "texture/image_pyramid.h"
#include "texture/procedures/pattern_noise.h"
#include "texture/texture_procedure.h"

namespace sky {

// The angles the procedures' patterns turn through, in single precision.
inline constexpr float kPi = std::numbers::pi_v<float>;
inline constexpr float kTwoPi = 2 * kPi;

// A parameter as evaluated for the frame.
struct ProcedureValue {
    TexturedValue value;
    std::string text;  // a file or type name, when written as a string
};

// Rows several procedures share word for word: the fractal's levels, the
// solid textures' ripples, placement and origin, a picture. A procedure
// joins a group where it declares those rows in that order.
namespace shared_rows {
using enum ParameterType;
inline constexpr Parameter kLevelMin{
    .name = "level_min", .type = ANY, .description = "Coarsest level summed (0: the first)."};
inline constexpr Parameter kLevelMax{
    .name = "level_max",
    .type = ANY,
    .value = {20.0f},
    .description = "Finest level summed; each level doubles the frequency of the last."};
inline constexpr Parameter kRatio{.name = "ratio",
                                  .type = ANY,
                                  .value = {0.707f},
                                  .description = "Strength of each finer level against the last."};
inline constexpr Parameter kAmplitude{
    .name = "amplitude", .type = ANY, .value = {1.0f}, .description = "Strength of the pattern."};
inline constexpr Parameter kThreshold{
    .name = "threshold", .type = ANY, .description = "Values below it are cut to 0."};
inline constexpr Parameter kImage{.name = "image", .type = ANY, .description = "The picture."};
inline constexpr Parameter kYAmplitude{
    .name = "yamplitude", .type = ANY, .description = "Distortion up."};

inline constexpr Parameter kLevels[] = {kLevelMin, kLevelMax, kRatio};
inline constexpr Parameter kRipples[] = {
    {.name = "xripples",
     .type = ANY,
     .value = {1.0f},
     .description = "Frequency of the pattern along x."},
    {.name = "yripples",
     .type = ANY,
     .value = {1.0f},
     .description = "Frequency of the pattern along y."},
    {.name = "zripples",
     .type = ANY,
     .value = {1.0f},
     .description = "Frequency of the pattern along z."},
};
inline constexpr Parameter kScaleAndOffset[] = {
    {.name = "xmult", .type = ANY, .value = {1.0f}, .description = "Scale across."},
    {.name = "ymult", .type = ANY, .value = {1.0f}, .description = "Scale up."},
    {.name = "xoffset", .type = ANY, .description = "Offset across."},
    {.name = "yoffset", .type = ANY, .description = "Offset up."},
};
inline constexpr Parameter kOrigin[] = {
    {.name = "xorigin", .type = ANY, .description = "Origin, x."},
    {.name = "yorigin", .type = ANY, .description = "Origin, y."},
    {.name = "zorigin", .type = ANY, .description = "Origin, z."},
};
}  // namespace shared_rows

using TextureCalculation = void (*)(const AR_TextureInfo& texture, const TextureCall& call,
                                    TextureColour& out);

// What a procedure works out from its parameters once per frame, in its
// eval or init routine, for its calculation to read: numbers (the mean of
// its pattern, sorted ramp positions ...) and the images it reads.
struct DerivedValues {
    static constexpr int kCount = 96;
    float value[kCount] = {};
    TextureColour mean;  // the unfiltered pattern's mean over its frame
    std::shared_ptr<const ImagePyramid> images[8];
    std::vector<std::shared_ptr<const ImagePyramid>> slices;  // a Volume's pictures
};

// A procedure's table: its rows, checked against each other at compile
// time (a table that fails the check does not compile), the message for a
// name no row knows (reported, and the parse fails) and the message of its
// parse routine when handed no node.
consteval ParameterTable procedure_table(std::span<const Parameter> rows, const char* unknown,
                                         const char* missing_node) {
    if (!rows_are_consistent(rows))
        throw "two rows share a name, or a row's store has the wrong type";
    return ParameterTable{rows, unknown, UnknownName::REPORT, missing_node};
}

// The evaluated parameter of row `row` of the texture's table.
const ProcedureValue& procedure_value(const AR_TextureInfo& texture, int row);
ProcedureValue& procedure_value(AR_TextureInfo& texture, int row);
// The expression the scene wrote for row `row`, or null.
Expr* procedure_expression(const AR_TextureInfo& texture, int row);
DerivedValues& procedure_derived(AR_TextureInfo& texture);
const DerivedValues& procedure_derived(const AR_TextureInfo& texture);
// A parameter written more than once (the colours and positions of a ramp)
// keeps every value, in the order written; procedure_value is the last.
int procedure_entry_count(const AR_TextureInfo& texture, int row);
const ProcedureValue& procedure_entry(const AR_TextureInfo& texture, int row, int index);

// For calculations: a parameter as a colour (0..255) or a number, a nested
// texture looked up at the call's point (its colour, or its alpha for a
// number).
Triple parameter_colour(const AR_TextureInfo& texture, int row, const TextureCall& call);
float parameter_number(const AR_TextureInfo& texture, int row, const TextureCall& call);
Triple value_colour(const TexturedValue& value, const TextureCall& call);
inline float parameter_scalar(const AR_TextureInfo& texture, int row) {
    return procedure_value(texture, row).value.scalar;
}
// The filter width the texture asks for at the call: `blurmult` × the
// call's filter + `bluroffset`, never negative.
float filter_width(const AR_TextureInfo& texture, const TextureCall& call);
// The ramp texture of row `row` looked up unfiltered at (0.5, t) into
// `out`; false when the row is no texture or gives nothing.
bool ramp_at(const AR_TextureInfo& texture, int row, const TextureCall& call, float t,
             TextureColour& out);
// Solid procedures: the call's point moved back by the origin in rows
// `origin`, `origin` + 1, `origin` + 2 (none for -1) and scaled by the
// ripples in rows `ripples` .. `ripples` + 2, and the filter width in the
// scaled space.
struct RippledPoint {
    Triple p;
    float filter;
};
RippledPoint rippled_point(const AR_TextureInfo& texture, const TextureCall& call, int ripples,
                           int origin = -1);
// The fractal levels in rows `level_min`, `level_min` + 1 (level_max) and
// `level_min` + 2 (ratio), level 0 at one cell per unit.
pattern::Fractal fractal_levels(const AR_TextureInfo& texture, const TextureCall& call,
                                int level_min, std::uint32_t seed);
// Cellular solid procedures: the cells at the call's point, `cell_size` /
// `density` across (`size`), their feature points jittered by
// `randomness` (rows); and a cell's own brightness factor about 1, spread
// by `spread`.
pattern::Cells cells_at(const AR_TextureInfo& texture, const TextureCall& call, int cell_size,
                        int density, int randomness, std::uint32_t seed, float& size);
float cell_spot(const pattern::Cells& cells, float spread, std::uint32_t seed);
// Results: a value 0..1 as a grey and alpha; a colour with its luminance as
// alpha. Both leave no NaN or infinity in the result.
void scalar_result(float value, TextureColour& out);
// The mean of a surface pattern over one repetition of its frame, from a
// grid of unfiltered lookups at the centres of `grid` × `grid` cells (for
// init routines: patterns fade to it under wide filters).
TextureColour surface_mean(const AR_TextureInfo& texture, TextureCalculation calculation,
                           int grid = 32);
// The lookup of a nested texture at the call's placed (u, v) and widths:
// pictures a procedure shows inside its own frame.
TextureLookup placed_lookup(const TextureCall& call);
// The same for a solid pattern over the unit cube of texture space.
TextureColour solid_mean(const AR_TextureInfo& texture, TextureCalculation calculation,
                         int grid = 12);
// Pictures: a parameter that names a file (read into images[slot] by
// load_picture, at init) or holds a nested texture or a colour, looked up
// at (u, v) with a footprint `width`. False when the parameter was not
// written.
void load_picture(AR_TextureInfo& texture, int row, int slot);
bool picture(const AR_TextureInfo& texture, int row, int slot, float u, float v, float width,
             const TextureCall& call, TextureColour& out);
// Moves a result toward the mean, keeping `keep` (0..1) of its difference.
void fade_to_mean(const TextureColour& mean, float keep, TextureColour& out);
void colour_result(const Triple& colour, TextureColour& out);

// The shared routines.
void* alloc_procedure_node(const AR_TextureInfo& texture);
void* alloc_procedure_info(const AR_TextureInfo& texture);
bool parse_procedure_parameter(AR_TextureInfo& texture, void* node, const char* name, Expr* value);
// Every parameter, from its expression or its row's default.
bool eval_procedure_parameters(AR_TextureInfo& texture);
bool init_procedure_parameters(AR_TextureInfo& texture);
bool copy_procedure_parameters(AR_TextureInfo& to, const AR_TextureInfo& from);
void release_procedure_parameters(AR_TextureInfo& texture);

// The init routine of a surface pattern that fades to its mean.
template <TextureCalculation calculation>
bool init_with_mean(AR_TextureInfo& texture) {
    if (!init_procedure_parameters(texture)) return false;
    procedure_derived(texture).mean = surface_mean(texture, calculation);
    return true;
}
template <TextureCalculation calculation>
bool init_with_solid_mean(AR_TextureInfo& texture) {
    if (!init_procedure_parameters(texture)) return false;
    procedure_derived(texture).mean = solid_mean(texture, calculation);
    return true;
}

// The row of a procedure described by `table`. A procedure that checks its
// parameters after evaluating them passes its own eval routine, which calls
// eval_procedure_parameters first; one that works out values for its
// calculation passes its own init routine, which calls
// init_procedure_parameters first.
constexpr AR_TextureProcedure procedure_row(
    const char* name, const ParameterTable& table, TextureCalculation calculation, TextureKind kind,
    bool scalar_output = false, bool (*eval)(AR_TextureInfo&) = eval_procedure_parameters,
    bool (*init)(AR_TextureInfo&) = init_procedure_parameters) {
    return AR_TextureProcedure{name,
                               calculation,
                               alloc_procedure_node,
                               alloc_procedure_info,
                               parse_procedure_parameter,
                               eval,
                               init,
                               copy_procedure_parameters,
                               release_procedure_parameters,
                               kind,
                               scalar_output,
                               &table};
}

// A calculation that does not draw its picture yet says so the first time
// it runs (any worker); later calls cost one relaxed load.
inline void not_drawn_yet(std::atomic<bool>& said, const char* what) {
    if (!said.load(std::memory_order_relaxed) && !said.exchange(true)) warn_not_built(what);
}

// A string literal as a template argument.
template <std::size_t Size>
struct Literal {
    char text[Size];
    constexpr Literal(const char (&literal)[Size]) { std::copy_n(literal, Size, text); }
};

// The calculation of a procedure whose picture is not drawn yet: the
// texture's `rgbout` and `aout`, after the warning that names it (`what`,
// as "texture procedure Noise"). Rows that pass the same `what` (a procedure
// and its synonym) share one warning.
template <Literal what>
void not_drawn(const AR_TextureInfo& texture, const TextureCall&, TextureColour& out) {
    static std::atomic<bool> said{false};
    not_drawn_yet(said, what.text);
    texture_default_colour(texture, out);
}

}  // namespace sky
