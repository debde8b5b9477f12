// sFractal: solid fractal noise, a scalar pattern.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    shared_rows::kThreshold,
    shared_rows::kLevelMin,
    shared_rows::kLevelMax,
    shared_rows::kRatio,
    shared_rows::kAmplitude,
    shared_rows::kXRipples,
    shared_rows::kYRipples,
    shared_rows::kZRipples,
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
