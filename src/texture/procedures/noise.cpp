// Noise: noise over the surface, a scalar pattern.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    shared_rows::kThreshold,
    {.name = "animated", .type = ANY, .description = "On: the noise changes with time."},
    {.name = "time", .type = ANY, .description = "Time of animated noise."},
    {.name = "amplitude", .type = ANY, .value = {1.0f}, .description = "Strength of the noise."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Noise: %s\n", "NIL NoiseBWNode found\n");

}  // namespace

const AR_TextureProcedure kNoiseProcedure =
    procedure_row("Noise", kTable, not_drawn<"texture procedure Noise">, TEXTURE_SURFACE, true);

}  // namespace sky
