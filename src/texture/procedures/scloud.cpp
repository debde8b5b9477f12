// sCloud: solid clouds: fractal noise that fades toward its edges.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr auto kRows = join_rows(
    {
        {.name = "contrast",
         .type = ANY,
         .value = {0.5f},
         .description = "Contrast between the two colours."},
        {.name = "color1", .type = ANY, .description = "Colour of the thin parts."},
        {.name = "color2",
         .type = ANY,
         .value = grey(255.0f),
         .description = "Colour of the dense parts."},
    },
    shared_rows::kLevels,
    {
        shared_rows::kAmplitude,
        {.name = "soft_edges",
         .type = ANY,
         .value = {1.0f},
         .description = "On: the clouds fade toward their edges."},
        {.name = "transparency_range",
         .type = ANY,
         .value = {0.5f},
         .description = "Range over which the clouds become transparent."},
        {.name = "center_threshold",
         .type = ANY,
         .description = "Threshold at the cloud's centre."},
        {.name = "edge_threshold",
         .type = ANY,
         .value = {1.0f},
         .description = "Threshold at the cloud's edge."},
    },
    shared_rows::kRipples);
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in sCloud: %s\n", "NIL sCloudNode found\n");

}  // namespace

const AR_TextureProcedure kSCloudProcedure =
    procedure_row("sCloud", kTable, not_drawn<"texture procedure sCloud">, TEXTURE_SOLID);

}  // namespace sky
