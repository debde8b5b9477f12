// sFile: a picture projected through space (planar, spherical, cylindrical
// ...). Also named Projection.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr auto kRows = join_rows(
    {
        shared_rows::kImage,
        {.name = "projection",
         .type = ANY,
         .value = {1.0f},
         .description = "The projection: planar, spherical, cylindrical ... as a number."},
        {.name = "sfile_type", .type = ANY, .description = "How the picture is repeated."},
    },
    shared_rows::kLevels, shared_rows::kRipples, shared_rows::kScaleAndOffset,
    {
        {.name = "xamplitude", .type = ANY, .description = "Distortion across."},
        shared_rows::kYAmplitude,
    });
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Projection: %s\n", "NIL sFileNode found\n");

}  // namespace

const AR_TextureProcedure kSFileProcedure =
    procedure_row("sFile", kTable, not_drawn<"texture procedure sFile">, TEXTURE_SOLID);
const AR_TextureProcedure kProjectionProcedure =
    procedure_row("Projection", kTable, not_drawn<"texture procedure sFile">, TEXTURE_SOLID);

}  // namespace sky
