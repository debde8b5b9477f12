// Highlight: a ramp looked up by the angle between the surface's normal and a
// direction; a zero direction is reported and (0, 0, 1) used. Also named
// Directional.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "base/vecmath.h"
#include "platform/report.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "angle_min", .type = ANY, .description = "Angle at the start of the ramp, degrees."},
    {.name = "angle_max",
     .type = ANY,
     .value = {90.0f},
     .description = "Angle at the end of the ramp, degrees."},
    {.name = "hltype", .type = ANY, .description = "How the angle is measured."},
    {.name = "hldirection",
     .type = ANY,
     .value = {0.0f, 0.0f, 1.0f},
     .description = "The direction, made unit length."},
    {.name = "hldirection_x", .type = ANY, .description = "The direction's x, when given alone."},
    {.name = "hldirection_y", .type = ANY, .description = "The direction's y, when given alone."},
    {.name = "hldirection_z",
     .type = ANY,
     .value = {1.0f},
     .description = "The direction's z, when given alone."},
    {.name = "ramp", .type = ANY, .description = "The colours the angle is looked up in."},
};
constexpr ParameterTable kTable = procedure_table(
    kRows, "ERROR: Unknown parameter in Highlight: %s\n", "NIL HighlightNode found\n");

constexpr int kDirection = parameter_index(kRows, "hldirection");
constexpr int kComponents[] = {parameter_index(kRows, "hldirection_x"),
                               parameter_index(kRows, "hldirection_y"),
                               parameter_index(kRows, "hldirection_z")};

// The direction, its components written one by one overriding the vector,
// made unit length; a zero direction is reported and the z axis used.
bool eval_highlight(AR_TextureInfo& texture) {
    if (!eval_procedure_parameters(texture)) return false;
    Triple& d = procedure_value(texture, kDirection).value.colour;
    float* axes[] = {&d.x, &d.y, &d.z};
    for (int i = 0; i < 3; ++i)
        if (procedure_expression(texture, kComponents[i]))
            *axes[i] = procedure_value(texture, kComponents[i]).value.scalar;
    if (!(length(d) > 0.0f)) {
        rptError("Bad highlight direction vector, setting to (0, 0, 1)\n");
        d = Triple{0.0f, 0.0f, 1.0f};
        return true;
    }
    d = to_triple(normalise(to_imath(d)));  // each component divided by the length
    return true;
}

}  // namespace

const AR_TextureProcedure kHighlightProcedure =
    procedure_row("Highlight", kTable, not_drawn<"texture procedure Highlight">, TEXTURE_SURFACE,
                  false, eval_highlight);
const AR_TextureProcedure kDirectionalProcedure =
    procedure_row("Directional", kTable, not_drawn<"texture procedure Highlight">, TEXTURE_SURFACE,
                  false, eval_highlight);

}  // namespace sky
