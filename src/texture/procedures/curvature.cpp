// Curvature: the surface's curvature through a ramp; the names Gaussian, Mean,
// PrincMin and PrincMax select it with that curve_type.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
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
constexpr int kCurveType = parameter_index(kRows, "curve_type");
static_assert(kCurveType >= 0);

// `curve_type` by name, or the name that selected the procedure
// (`procedure = Gaussian`); without either the numeric `ctype` decides.
bool eval_curvature(AR_TextureInfo& texture) {
    if (!eval_procedure_parameters(texture)) return false;
    ProcedureValue& type = procedure_value(texture, kCurveType);
    if (type.text.empty() && texture.variant) type.text = texture.variant;
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
    procedure_row("Curvature", kTable, not_drawn<"texture procedure Curvature">, TEXTURE_SURFACE,
                  false, eval_curvature);

}  // namespace sky
