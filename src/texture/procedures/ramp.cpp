// Ramp: colours at positions along u, v or another measure, blended in between.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "u_wave", .type = ANY, .description = "Waviness across u."},
    {.name = "v_wave", .type = ANY, .description = "Waviness across v."},
    {.name = "interpolation",
     .type = ANY,
     .value = {1.0f},
     .description = "How the colours blend: none, linear, smooth ... as a number."},
    {.name = "ramp_type",
     .type = ANY,
     .description = "What the ramp runs along: v, u, diagonal, radial ... as a number."},
    {.name = "noise", .type = ANY, .description = "Noise in the position."},
    {.name = "noise_frequency",
     .type = ANY,
     .value = {0.5f},
     .description = "Frequency of that noise."},
    {.name = "hue_noise", .type = ANY, .description = "Noise in the hue."},
    {.name = "hue_noise_frequency",
     .type = ANY,
     .value = {0.5f},
     .description = "Frequency of the hue noise."},
    {.name = "sat_noise", .type = ANY, .description = "Noise in the saturation."},
    {.name = "sat_noise_frequency",
     .type = ANY,
     .value = {0.5f},
     .description = "Frequency of the saturation noise."},
    {.name = "val_noise", .type = ANY, .description = "Noise in the value."},
    {.name = "val_noise_frequency",
     .type = ANY,
     .value = {0.5f},
     .description = "Frequency of the value noise."},
    {.name = "ramp_color", .type = ANY, .description = "The colours, in order."},
    {.name = "position", .type = ANY, .description = "Their positions, 0..1."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Ramp: %s\n", "NIL RampNode found\n");

}  // namespace

const AR_TextureProcedure kRampProcedure =
    procedure_row("Ramp", kTable, not_drawn<"texture procedure Ramp">, TEXTURE_SURFACE);

}  // namespace sky
