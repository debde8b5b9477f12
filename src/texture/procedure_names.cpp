// The registry of texture procedures: every row of the table, in its order,
// and the names that select a procedure with a setting.
#include "texture/procedure_names.h"

#include <cstring>

#include "texture/texture_procedure.h"

namespace sky {
namespace {

// Every row, in the table's order.
constexpr const AR_TextureProcedure* kProcedures[] = {
    &kCheckerProcedure,   &kFileProcedure,        &kBallProcedure,       &kBulgeProcedure,
    &kChromeProcedure,    &kClothProcedure,       &kCubeProcedure,       &kCurvatureProcedure,
    &kFractalProcedure,   &kGeometricProcedure,   &kGraniteProcedure,    &kGridProcedure,
    &kHighlightProcedure, &kDirectionalProcedure, &kLeatherProcedure,    &kMarbleProcedure,
    &kMountProcedure,     &kMountainProcedure,    &kNoiseProcedure,      &kRampProcedure,
    &kSCloudProcedure,    &kSFileProcedure,       &kProjectionProcedure, &kSFractalProcedure,
    &kSkyProcedure,       &kSMarbleProcedure,     &kSnowProcedure,       &kSphereProcedure,
    &kSRockProcedure,     &kStencilProcedure,     &kSWoodProcedure,      &kVolumeProcedure,
    &kWaterProcedure,
};
static_assert(std::size(kProcedures) <= kMaxTextureProcedures);

struct Selection {
    const char* name;
    const char* procedure;
};

// Names that pick a procedure and set one of its parameters to the name.
constexpr Selection kSelections[] = {
    {"Gaussian", "Curvature"}, {"Mean", "Curvature"}, {"PrincMin", "Curvature"},
    {"PrincMax", "Curvature"}, {"SnowBW", "Snow"},    {"SnowDepthRGB", "Snow"},
};

const AR_TextureProcedure* exact(const char* name) {
    for (const AR_TextureProcedure* row : kProcedures)
        if (std::strcmp(row->name, name) == 0) return row;
    return nullptr;
}

}  // namespace

const AR_TextureProcedure* find_texture_procedure(const char* name) {
    if (name == nullptr) return nullptr;
    if (const AR_TextureProcedure* row = exact(name)) return row;
    for (const Selection& selection : kSelections)
        if (std::strcmp(selection.name, name) == 0) return exact(selection.procedure);
    return nullptr;
}

bool texture_procedure_exists(const char* name) {
    return find_texture_procedure(name) != nullptr;
}

int texture_procedure_count() {
    return static_cast<int>(std::size(kProcedures));
}

std::span<const AR_TextureProcedure* const> texture_procedures() {
    return kProcedures;
}

}  // namespace sky
