// sFractal: solid fractal noise, a scalar pattern.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "threshold", .type = ANY, .description = "Values below it are cut to 0."},
    {.name = "level_min", .type = ANY, .description = "Finest level of detail."},
    {.name = "level_max",
     .type = ANY,
     .value = {20.0f},
     .description = "Coarsest level of detail."},
    {.name = "ratio",
     .type = ANY,
     .value = {0.707f},
     .description = "Strength of each finer level against the last."},
    {.name = "amplitude", .type = ANY, .value = {1.0f}, .description = "Strength of the pattern."},
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
    {.name = "origin_x", .type = ANY, .description = "Origin of the pattern, x."},
    {.name = "origin_y", .type = ANY, .description = "Origin of the pattern, y."},
    {.name = "origin_z", .type = ANY, .description = "Origin of the pattern, z."},
};
static_assert(rows_are_consistent(kRows));
constexpr ParameterTable kTable{kRows, "ERROR: Unknown parameter in sFractal: %s\n",
                                UnknownName::REPORT, "NIL sFractalNode found\n"};

std::atomic<bool> warned{false};

void calculate(const AR_TextureInfo& texture, const TextureCall&, TextureColour& out) {
    not_drawn_yet(warned, "texture procedure sFractal");
    texture_default_colour(texture, out);
}

}  // namespace

const AR_TextureProcedure kSFractalProcedure =
    procedure_row("sFractal", kTable, calculate, TEXTURE_SOLID, true);

}  // namespace sky
