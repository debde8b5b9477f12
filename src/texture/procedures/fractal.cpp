// Fractal: fractal noise over the surface, a scalar pattern.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    shared_rows::kThreshold,
    {.name = "animated", .type = ANY, .description = "On: the pattern changes with time."},
    shared_rows::kLevelMin,
    {.name = "level_max", .type = ANY, .value = {9.0f}, .description = "Coarsest level of detail."},
    {.name = "time", .type = ANY, .description = "Time of an animated pattern."},
    shared_rows::kRatio,
    shared_rows::kAmplitude,
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Fractal: %s\n", "NIL FractalNode found\n");

}  // namespace

const AR_TextureProcedure kFractalProcedure =
    procedure_row("Fractal", kTable, not_drawn<"texture procedure Fractal">, TEXTURE_SURFACE, true);

}  // namespace sky
