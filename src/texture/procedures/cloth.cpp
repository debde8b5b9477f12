// Cloth: woven threads in two directions over a gap colour.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
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

}  // namespace

const AR_TextureProcedure kClothProcedure =
    procedure_row("Cloth", kTable, not_drawn<"texture procedure Cloth">, TEXTURE_SURFACE);

}  // namespace sky
