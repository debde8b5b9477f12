// Water: water: waves driven by wind and ripples spreading from a point.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "reflection_boundary",
     .type = ANY,
     .description = "On: reflections stop at the texture's boundary."},
    {.name = "reflections", .type = ANY, .description = "On: the waves reflect at the boundary."},
    {.name = "ripple_frequency",
     .type = ANY,
     .value = {25.0f},
     .description = "Frequency of the ripples."},
    {.name = "ripple_wavenumber", .type = ANY, .description = "Wave number of the ripples."},
    {.name = "ripple_phase_velocity",
     .type = ANY,
     .value = {2.5f},
     .description = "Speed of the ripples' crests."},
    {.name = "ripple_group_velocity",
     .type = ANY,
     .value = {1.0f},
     .description = "Speed of the ripples' group."},
    {.name = "ripple_spread_start",
     .type = ANY,
     .value = {0.005f},
     .description = "Size of the ripples at their start."},
    {.name = "ripple_origin_spread",
     .type = ANY,
     .value = {0.01f},
     .description = "Size of the ripples' origin."},
    {.name = "ripple_spread_rate",
     .type = ANY,
     .value = {1.0f},
     .description = "How fast the ripples spread."},
    {.name = "ripple_amplitude",
     .type = ANY,
     .value = {0.05f},
     .description = "Height of the ripples."},
    {.name = "ripple_u_origin",
     .type = ANY,
     .value = {0.5f},
     .description = "Origin of the ripples across u."},
    {.name = "ripple_v_origin",
     .type = ANY,
     .value = {0.5f},
     .description = "Origin of the ripples across v."},
    {.name = "ripple_time", .type = ANY, .description = "Time since the ripples began."},
    {.name = "ripple_drop_size",
     .type = ANY,
     .value = {0.3f},
     .description = "Size of the drop that makes the ripples."},
    {.name = "numwaves", .type = ANY, .value = {8.0f}, .description = "Number of waves."},
    {.name = "sub_frequency",
     .type = ANY,
     .value = {0.125f},
     .description = "Frequency of the smaller waves."},
    {.name = "wave_frequency_step", .type = ANY, .description = "Frequency step between waves."},
    {.name = "wind_u", .type = ANY, .value = {1.0f}, .description = "Wind direction across u."},
    {.name = "wind_v", .type = ANY, .description = "Wind direction across v."},
    {.name = "wave_time", .type = ANY, .description = "Time of the waves."},
    {.name = "wave_amplitude",
     .type = ANY,
     .value = {0.05f},
     .description = "Height of the waves."},
    {.name = "wave_amplitude_power",
     .type = ANY,
     .description = "How the height falls with frequency."},
    {.name = "wave_velocity", .type = ANY, .value = {1.0f}, .description = "Speed of the waves."},
    {.name = "wave_u_origin", .type = ANY, .description = "Origin of the waves across u."},
    {.name = "wave_v_origin", .type = ANY, .description = "Origin of the waves across v."},
    {.name = "frequency",
     .type = ANY,
     .value = {4.0f},
     .description = "Base frequency of the waves."},
    {.name = "wavenumber", .type = ANY, .description = "Wave number."},
    {.name = "smoothness", .type = ANY, .value = {2.0f}, .description = "Smoothness of the waves."},
    {.name = "umin", .type = ANY, .description = "Start of the water across u."},
    {.name = "umax", .type = ANY, .value = {1.0f}, .description = "End of the water across u."},
    {.name = "vmin", .type = ANY, .description = "Start of the water across v."},
    {.name = "vmax", .type = ANY, .value = {1.0f}, .description = "End of the water across v."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Water: %s\n", "NIL WaterNode found\n");

}  // namespace

const AR_TextureProcedure kWaterProcedure =
    procedure_row("Water", kTable, not_drawn<"texture procedure Water">, TEXTURE_SURFACE);

}  // namespace sky
