// sFractal: solid fractal noise, a scalar pattern.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr auto kRows =
    join_rows({shared_rows::kThreshold}, shared_rows::kLevels, {shared_rows::kAmplitude},
              shared_rows::kRipples,
              {
                  {.name = "origin_x", .type = ANY, .description = "Origin of the pattern, x."},
                  {.name = "origin_y", .type = ANY, .description = "Origin of the pattern, y."},
                  {.name = "origin_z", .type = ANY, .description = "Origin of the pattern, z."},
              });
constexpr ParameterTable kTable = procedure_table(
    kRows, "ERROR: Unknown parameter in sFractal: %s\n", "NIL sFractalNode found\n");

}  // namespace

const AR_TextureProcedure kSFractalProcedure =
    procedure_row("sFractal", kTable, not_drawn<"texture procedure sFractal">, TEXTURE_SOLID, true);

}  // namespace sky
