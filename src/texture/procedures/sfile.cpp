// sFile: a picture projected through space (planar, spherical, cylindrical
// ...). Also named Projection.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    shared_rows::kImage,
    {.name = "projection",
     .type = ANY,
     .value = {1.0f},
     .description = "The projection: planar, spherical, cylindrical ... as a number."},
    {.name = "sfile_type", .type = ANY, .description = "How the picture is repeated."},
    shared_rows::kLevelMin,
    shared_rows::kLevelMax,
    shared_rows::kRatio,
    shared_rows::kXRipples,
    shared_rows::kYRipples,
    shared_rows::kZRipples,
    shared_rows::kXMult,
    shared_rows::kYMult,
    shared_rows::kXOffset,
    shared_rows::kYOffset,
    {.name = "xamplitude", .type = ANY, .description = "Distortion across."},
    {.name = "yamplitude", .type = ANY, .description = "Distortion up."},
};
static_assert(rows_are_consistent(kRows));
constexpr ParameterTable kTable{kRows, "ERROR: Unknown parameter in Projection: %s\n",
                                UnknownName::REPORT, "NIL sFileNode found\n"};

std::atomic<bool> warned{false};

void calculate(const AR_TextureInfo& texture, const TextureCall&, TextureColour& out) {
    not_drawn_yet(warned, "texture procedure sFile");
    texture_default_colour(texture, out);
}

}  // namespace

const AR_TextureProcedure kSFileProcedure =
    procedure_row("sFile", kTable, calculate, TEXTURE_SOLID);
const AR_TextureProcedure kProjectionProcedure =
    procedure_row("Projection", kTable, calculate, TEXTURE_SOLID);

}  // namespace sky
