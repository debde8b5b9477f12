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
    {.name = "image", .type = ANY, .description = "The picture."},
    {.name = "projection",
     .type = ANY,
     .value = {1.0f},
     .description = "The projection: planar, spherical, cylindrical ... as a number."},
    {.name = "sfile_type", .type = ANY, .description = "How the picture is repeated."},
    {.name = "level_min", .type = ANY, .description = "Finest level of the distortion's detail."},
    {.name = "level_max",
     .type = ANY,
     .value = {20.0f},
     .description = "Coarsest level of the distortion's detail."},
    {.name = "ratio",
     .type = ANY,
     .value = {0.707f},
     .description = "Strength of each finer level against the last."},
    {.name = "xripples",
     .type = ANY,
     .value = {1.0f},
     .description = "Frequency of the pattern along x."},
    {.name = "yripples",
     .type = ANY,
     .value = {1.0f},
     .description = "Frequency of the pattern along y."},
    {.name = "zripples",
     .type = ANY,
     .value = {1.0f},
     .description = "Frequency of the pattern along z."},
    {.name = "xmult", .type = ANY, .value = {1.0f}, .description = "Scale of the picture across."},
    {.name = "ymult", .type = ANY, .value = {1.0f}, .description = "Scale of the picture up."},
    {.name = "xoffset", .type = ANY, .description = "Offset of the picture across."},
    {.name = "yoffset", .type = ANY, .description = "Offset of the picture up."},
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
