// Curvature: the surface's curvature through a ramp; the names Gaussian, Mean,
// PrincMin and PrincMax select it with that curve_type.
//
// The curvature comes from the shape operator of the surface around the
// point: its two fundamental forms over any two directions along it and
// the normal's change along them (so it does not depend on how the surface
// is parameterised). Curvatures are in inverse scene units, positive where
// the surface bulges toward the viewer: a sphere of radius r seen from
// outside has Gaussian 1/r², mean and both principal curvatures 1/r.
// The value looked up is t = `cvalue` + `cscale` × curvature, kept to 0..1:
// in `ramp` at (0.5, t) when there is one, else as the grey t.
#include <algorithm>
#include <cmath>

#include "base/vecmath.h"
#include "platform/fatal.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "ctype", .type = ANY, .description = "The kind of curvature, as a number."},
    {.name = "curve_type",
     .type = ANY,
     .description = "The kind of curvature by name: Gaussian, Mean, PrincMin or PrincMax; any "
                    "other ends the run (\"Unknown Texture: Curvature=%s\")."},
    {.name = "ramp", .type = ANY, .description = "The colours the curvature is looked up in."},
    {.name = "cscale", .type = ANY, .value = {1.0f}, .description = "Scale of the curvature."},
    {.name = "cvalue", .type = ANY, .description = "Offset of the curvature."},
};
constexpr ParameterTable kTable = procedure_table(
    kRows, "ERROR: Unknown parameter in Curvature: %s\n", "NIL CurvatureNode found\n");

// The Curvature types a name may select, in the order of their numbers.
constexpr const char* kCurvatureTypes[] = {"Gaussian", "Mean", "PrincMin", "PrincMax"};
constexpr int kCType = parameter_index(kRows, "ctype");
constexpr int kCurveType = parameter_index(kRows, "curve_type");
constexpr int kRamp = parameter_index(kRows, "ramp");
constexpr int kCScale = parameter_index(kRows, "cscale");
constexpr int kCValue = parameter_index(kRows, "cvalue");
static_assert(kCurveType >= 0);

enum CurveType { GAUSSIAN = 0, MEAN = 1, PRINC_MIN = 2, PRINC_MAX = 3 };

// The curvature of the kind asked for at the lookup; 0 where the lookup
// does not know the surface's shape (or the shape is degenerate).
float curvature(const TextureLookup& at, int type) {
    const Triple& a = at.along[0];
    const Triple& b = at.along[1];
    // First fundamental form over the two directions, and the second from
    // the normal's change (signed so that normals that spread apart, a bulge
    // toward their side, count positive).
    float e = dot(a, a), f = dot(a, b), g = dot(b, b);
    float l = dot(a, at.normal_change[0]);
    float m = 0.5f * (dot(a, at.normal_change[1]) + dot(b, at.normal_change[0]));
    float n = dot(b, at.normal_change[1]);
    float area = e * g - f * f;
    if (!(area > 1e-30f * (e * g)) || !std::isfinite(area)) return 0.0f;
    float gaussian = (l * n - m * m) / area;
    float mean = 0.5f * (e * n - 2.0f * f * m + g * l) / area;
    float root = std::sqrt(std::max(mean * mean - gaussian, 0.0f));
    float k;
    switch (type) {
        case GAUSSIAN:
            k = gaussian;
            break;
        case MEAN:
            k = mean;
            break;
        case PRINC_MIN:
            k = mean - root;
            break;
        default:
            k = mean + root;
            break;
    }
    return std::isfinite(k) ? k : 0.0f;
}

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    float type = parameter_scalar(texture, kCType);
    if (procedure_expression(texture, kCurveType) || texture.variant)
        type = parameter_scalar(texture, kCurveType);
    int kind = std::isfinite(type) ? std::clamp(static_cast<int>(type), 0, 3) : 0;
    float t = parameter_number(texture, kCValue, call) +
              parameter_number(texture, kCScale, call) * curvature(*call.at, kind);
    t = std::isfinite(t) ? std::clamp(t, 0.0f, 1.0f) : 0.0f;
    if (!ramp_at(texture, kRamp, call, t, out)) scalar_result(t, out);
}

// `curve_type` by name, or the name that selected the procedure
// (`procedure = Gaussian`); without either the numeric `ctype` decides.
bool eval_curvature(AR_TextureInfo& texture) {
    if (!eval_procedure_parameters(texture)) return false;
    ProcedureValue& type = procedure_value(texture, kCurveType);
    // A curve_type written as a number stands as written.
    if (type.text.empty() && texture.variant && !procedure_expression(texture, kCurveType))
        type.text = texture.variant;
    if (type.text.empty()) return true;
    for (std::size_t i = 0; i < std::size(kCurvatureTypes); ++i)
        if (type.text == kCurvatureTypes[i]) {
            type.value.scalar = static_cast<float>(i);
            return true;
        }
    fatal("Unknown Texture: Curvature=%s\n", type.text.c_str());
}

}  // namespace

const AR_TextureProcedure kCurvatureProcedure =
    procedure_row("Curvature", kTable, calculate, TEXTURE_SURFACE, false, eval_curvature);

}  // namespace sky
