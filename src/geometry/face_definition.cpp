// Face definitions: the parameters of a `face` body and the check that each
// boundary curve is a curve the face can be bounded by.
#include <cstring>

#include "geometry/geometry_definition.h"
#include "geometry/geometry_lists.h"
#include "platform/fatal.h"
#include "sdl/expr_internal.h"
#include "sdl/sdl_errors.h"

namespace sky {

namespace {

// Knot counts a boundary curve may have: the scene's n + d − 1, or the full
// n + d + 1 that some writers give (the outermost two are then dropped).
bool curve_fits(const Body& curve) {
    const BodyItem* cvs = curve.find("cvs");
    const BodyItem* knots = curve.find("knots");
    const BodyItem* degree_item = curve.find("degree");
    if (cvs == nullptr || knots == nullptr) return false;
    int count = 0;
    bool rows_ok = for_each_item(cvs->value, [&](const float*, Expr* cv) {
        ++count;
        return cv == nullptr || cv->type == SDL_CV || cv->type == SDL_ARRAY;
    });
    float degree_value = 1.0f, fallback = 1.0f;
    if (!rows_ok || !AR_evaluate(SDL_SCALAR, &degree_value,
                                 degree_item ? degree_item->value : nullptr, &fallback))
        return false;
    int degree = truncate_to_int(degree_value);
    int given = list_count(knots->value);
    return degree >= 1 && count >= degree + 1 &&
           (given == count + degree - 1 || given == count + degree + 1);
}

}  // namespace

constexpr ParameterField<FaceDefinition> kFaceParameters[] = {
    {"boundaries", &FaceDefinition::boundaries},
    {"divisions", &FaceDefinition::divisions},
};

void set_face_parameter(FaceDefinition& definition, const BodyItem& item) {
    if (!store_parameter(kFaceParameters, definition, item) &&
        !set_common_parameter(definition.common, item))
        fatal("Unknown FACE parameter %s\n", item.name);
}

void finish_face_definition(FaceDefinition& definition) {
    definition.valid = false;
    bool bound = list_count(definition.boundaries) > 0 &&
                 for_each_item(definition.boundaries, [](const float*, Expr* curve) {
                     const Body* body = curve ? object_body(curve) : nullptr;
                     return curve && curve->type == SDL_BOUNDARY_CURVE && body && curve_fits(*body);
                 });
    if (!bound) sdl_report_error("Bad FACE data");
    bool has_divisions = definition.divisions != nullptr;
    if (!has_divisions) sdl_report_error("divisions must be specified");
    bool has_shader = list_count(definition.common.shader) > 0;
    if (!has_shader) sdl_report_error("a shader must be given");
    // The curves stay chained in the order written: the outline, then the holes.
    definition.valid = bound && has_divisions && has_shader;
}

}  // namespace sky
