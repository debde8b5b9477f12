// Highlight (scenes write Directional): a ramp looked up by the angle
// between the surface's normal (object space) and a direction; a zero
// direction is reported and (0, 0, 1) used. The angle runs from
// `angle_min` (the ramp's start, v = 0) to `angle_max` (its end, v = 1);
// `hltype` 1 measures it from the opposite direction. `ramp` is a texture
// looked up at (0.5, t); without one the result runs from white to black.
// It follows the normal, not a pattern over the surface, so it needs no
// filtering of its own (the ramp filters itself).
#include <algorithm>
#include <cmath>

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

constexpr int kAngleMin = parameter_index(kRows, "angle_min");
constexpr int kAngleMax = parameter_index(kRows, "angle_max");
constexpr int kType = parameter_index(kRows, "hltype");
constexpr int kRamp = parameter_index(kRows, "ramp");

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    const Triple& direction = procedure_value(texture, kDirection).value.colour;
    Triple n = call.at->normal;
    float length_n = length(n);
    float c = length_n > 0.0f ? dot(n, direction) / length_n : 1.0f;
    if (parameter_scalar(texture, kType) >= 0.5f) c = -c;
    float angle = std::acos(std::clamp(c, -1.0f, 1.0f)) * (180.0f / kPi);
    float low = parameter_number(texture, kAngleMin, call);
    float high = parameter_number(texture, kAngleMax, call);
    float t = high != low ? std::clamp((angle - low) / (high - low), 0.0f, 1.0f)
                          : (angle >= high ? 1.0f : 0.0f);
    TextureColour colour;
    if (ramp_at(texture, kRamp, call, t, colour))
        out = colour;
    else
        scalar_result(1.0f - t, out);
}

}  // namespace

const AR_TextureProcedure kHighlightProcedure =
    procedure_row("Highlight", kTable, calculate, TEXTURE_SURFACE, false, eval_highlight);
const AR_TextureProcedure kDirectionalProcedure =
    procedure_row("Directional", kTable, calculate, TEXTURE_SURFACE, false, eval_highlight);

}  // namespace sky
