// A face at the current scene time: its switches, shaders, division count
// and the boundary curves (the outline, then the holes).
#include "base/options.h"
#include "geometry/evaluate_common.h"
#include "geometry/geometry_evaluation.h"
#include "geometry/geometry_lists.h"
#include "sdl/cluster.h"
#include "sdl/expr_internal.h"

namespace sky {

bool evaluate_boundary_curve(const Body& body, NurbsCurve& curve) {
    const BodyItem* degree = body.find("degree");
    const BodyItem* knots = body.find("knots");
    const BodyItem* cvs = body.find("cvs");
    if (!int_parameter(degree ? degree->value : nullptr, 1.0f, curve.degree) || !knots || !cvs)
        return false;
    curve.cvs.clear();
    curve.knots.clear();
    bool ok = for_each_item(cvs->value, [&](const float* packed, Expr* node) {
        CvValue cv;
        if (packed)
            cv = CvValue{packed[0], packed[1], packed[2], packed[3]};
        else if (!AR_evaluate(SDL_CV, &cv, node, nullptr))
            return false;
        curve.cvs.push_back({cv.x, cv.y, cv.z, clamp_weight(cv.w)});
        return true;
    });
    ok = ok && for_each_item(knots->value, [&](const float* packed, Expr* node) {
             float value = 0;
             if (packed)
                 value = packed[0];
             else if (!AR_evaluate(SDL_SCALAR, &value, node, nullptr))
                 return false;
             curve.knots.push_back(value);
             return true;
         });
    if (!ok) return false;
    std::size_t wanted = curve.cvs.size() + static_cast<std::size_t>(curve.degree) - 1;
    if (curve.knots.size() == wanted + 2) {  // written with the two implied end knots
        curve.knots.pop_back();
        curve.knots.erase(curve.knots.begin());
    }
    return curve.knots.size() == wanted;
}

bool face_is_moving(const FaceDefinition& definition) {
    return marked_moving(definition.common);
}

std::unique_ptr<FaceGeometry> evaluate_face(const FaceDefinition& d, const char* name) {
    if (!d.valid) return nullptr;
    auto face = std::make_unique<FaceGeometry>();
    face->type = SDL_FACE;
    if (!evaluate_switches(d.common, false, *face)) return nullptr;
    bool constant = d.divisions && is_literal(d.divisions);
    if (!int_parameter(d.divisions, 1.0f, face->divisions)) return nullptr;
    // A face refined with no steps would have no outline at all.
    if (face->divisions < 1) face->divisions = 1;
    evaluate_shaders(d.common, name, *face);
    empty_bound(face->bound);
    const ClusterScope clusters(d.common.clusters);
    bool ok = for_each_item(d.boundaries, [&](const float*, Expr* node) {
        const Body* body = object_body(node);
        NurbsCurve curve;
        if (body == nullptr || !evaluate_boundary_curve(*body, curve)) return false;
        const BodyItem* cvs = body->find("cvs");
        constant = constant && constant_list(cvs ? cvs->value : nullptr);
        for (const WeightedPoint& cv : curve.cvs) extend_bound(face->bound, cv.x, cv.y, cv.z);
        face->boundaries.push_back(std::move(curve));
        return true;
    });
    if (!ok || face->boundaries.empty()) return nullptr;
    face->saved_geometry_allowed = render_options().saved_geometry && constant;
    return face;
}

}  // namespace sky
