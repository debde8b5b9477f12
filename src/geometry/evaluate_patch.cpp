// A patch at the current scene time: its switches, the subdivision settings
// of the path the scene tessellates by, its shaders, the surface with its
// knots and weights, the trim loops and the bound of its control net.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "base/options.h"
#include "geometry/evaluate_common.h"
#include "geometry/geometry_evaluation.h"
#include "geometry/geometry_lists.h"
#include "geometry/nurbs_ops.h"
#include "platform/fatal.h"
#include "platform/report.h"
#include "sdl/cluster.h"
#include "sdl/environment.h"
#include "sdl/expr_internal.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

bool tessellator_settings(const PatchDefinition& d, PatchGeometry& out) {
    float smoothness = 0, edge = 0, detail = 0, limit = 0, max_edge = 10.0f;
    if (!scalar_parameter(d.surface_smoothness, 0.0f, smoothness) ||
        !scalar_parameter(d.edge_smoothness, 0.0f, edge) ||
        !scalar_parameter(d.displacement_detail, 0.0f, detail) ||
        !scalar_parameter(d.limit_edge_length, 0.0f, limit) ||
        !scalar_parameter(d.max_edge_length, 10.0f, max_edge))
        return false;
    out.tessellator_path = true;
    out.surface_smoothness = smoothness <= 0 ? 0.005f : smoothness;
    out.edge_smoothness = edge > 0 ? edge : 0.0f;
    out.displacement_detail = truncate_to_int(detail <= 0 ? 60.0f : detail);
    out.limit_edge_length = limit > 0;
    out.max_edge_length = max_edge;
    return true;
}

bool classic_settings(const PatchDefinition& d, const char* name, bool trimmed,
                      PatchGeometry& out) {
    std::int32_t values[2] = {0, 0};
    int count = 0;
    bool readable = for_each_item(d.divisions, [&](const float* packed, Expr* node) {
        float value = 0;
        if (packed)
            value = packed[0];
        else if (!AR_evaluate(SDL_SCALAR, &value, node, nullptr))
            return false;
        if (count < 2) values[count] = truncate_to_int(value);
        ++count;
        return true;
    });
    if (!readable || count != 2 || values[0] < 1 || values[1] < 1)
        fatal("Invalid divisions on %s\n", name);
    float subdivide = 0, curvature = 0.9f;
    if (!scalar_parameter(d.subdivide, 0.0f, subdivide) ||
        !scalar_parameter(d.curvature, 0.9f, curvature))
        return false;
    out.adaptive = subdivide != 0;
    if (out.adaptive && values[1] < values[0]) {
        rptWarning("Invalid divisions on %s, switching %d and %d\n", name, values[0], values[1]);
        std::swap(values[0], values[1]);
    }
    if (trimmed && !out.adaptive) {
        rptWarning(
            "Trimmed patches must be adaptively subdivided; changing '%s' to adaptive "
            "subdivision\n",
            name);
        out.adaptive = true;
    }
    out.udivisions = values[0];
    out.vdivisions = values[1];
    out.curvature = std::isnan(curvature) ? 0.0f : std::fmin(std::fmax(curvature, 0.0f), 1.0f);
    out.saved_geometry_allowed = render_options().saved_geometry && constant_list(d.divisions) &&
                                 constant_rows(d.cvs) && constant_list(d.uknots) &&
                                 constant_list(d.vknots);
    return true;
}

bool evaluate_knots(const Expr* list, bool join, std::vector<double>& knots) {
    knots.clear();
    bool ok = for_each_item(list, [&](const float* packed, Expr* node) {
        float value = 0;
        if (packed)
            value = packed[0];
        else if (!AR_evaluate(SDL_SCALAR, &value, node, nullptr))
            return false;
        knots.push_back(value);
        return true;
    });
    if (!ok || !join || knots.empty()) return ok;
    // The tessellator recognises a multiple knot by equal values: knots that
    // differ only by rounding become one value.
    double largest = std::fmax(std::fmax(std::fabs(knots.front()), std::fabs(knots.back())), 1e-10);
    double tolerance = 1e-10 * largest;
    for (std::size_t i = 1; i < knots.size(); ++i)
        if (std::fabs(knots[i] - knots[i - 1]) <= tolerance) knots[i] = knots[i - 1];
    return true;
}

bool evaluate_cvs(const PatchDefinition& d, NurbsSurface& surface) {
    surface.cvs.clear();
    surface.cvs.reserve(static_cast<std::size_t>(d.ucount) * d.vcount);
    return for_each_item(d.cvs, [&](const float*, Expr* row) {
        return for_each_item(row, [&](const float* packed, Expr* node) {
            CvValue cv;
            if (packed)
                cv = CvValue{packed[0], packed[1], packed[2], packed[3]};
            else if (!AR_evaluate(SDL_CV, &cv, node, nullptr))
                return false;
            surface.cvs.push_back({cv.x, cv.y, cv.z, clamp_weight(cv.w)});
            return true;
        });
    });
}

// --- trims --------------------------------------------------------------------

// The expression a trim item names: a variable's initialiser, or itself.
const Expr* named_value(const Expr* node) {
    if (node && node->kind == &kVariableKind && node->symbol) return node->symbol->initialiser;
    return node;
}

// A trim curve of trim vertices as one loop in (u, v).
void add_trim_curve(const Expr* curve, bool hole, std::vector<TrimRegion>& regions) {
    const Expr* value = named_value(curve);
    const Body* body = is_body_node(value) ? body_of(value) : nullptr;
    const BodyItem* cvs = body ? body->find("cvs") : nullptr;
    TrimLoop loop;
    for_each_item(cvs ? cvs->value : nullptr, [&](const float*, Expr* vertex) {
        TrimCvValue tv;
        if (vertex && AR_evaluate(SDL_TRIM_CV, &tv, vertex, nullptr))
            loop.points.push_back({tv.u, tv.v});
        return true;
    });
    if (loop.points.empty()) {
        rptError("No vertices for TRIM_CURVE on line %d\n", curve ? curve->line : 0);
        return;
    }
    if (!hole || regions.empty()) regions.emplace_back();
    regions.back().loops.push_back(std::move(loop));
}

// One trim B-spline (tbs) of a trim face: its control points (u, v, weight)
// and its order. The scene gives no knots: a spline of order k and n points
// is the open uniform one, clamped to its end points. Order 2 (and any
// spline with fewer points than its order) is the polyline of its points;
// higher orders are stepped `divisions` times per span.
void add_trim_spline(const Body& spline, int divisions, std::vector<std::array<double, 2>>& out) {
    NurbsCurve curve;
    const BodyItem* tcvs = spline.find("tcvs");
    for_each_item(tcvs ? tcvs->value : nullptr, [&](const float*, Expr* tcv) {
        float values[3] = {0, 0, 1};
        Expr* c = list_first(tcv);
        for (int k = 0; k < 3 && c; ++k, c = c->next)
            AR_evaluate(SDL_SCALAR, &values[k], c, nullptr);
        curve.cvs.push_back({values[0], values[1], 0, clamp_weight(values[2])});
        return true;
    });
    float order = 2;
    if (const BodyItem* item = spline.find("order"))
        AR_evaluate(SDL_SCALAR, &order, item->value, nullptr);
    const int n = static_cast<int>(curve.cvs.size());
    const int degree = std::clamp(truncate_to_int(order) - 1, 1, kMaxNurbsDegree);
    std::vector<std::array<double, 3>> points;
    if (degree > 1 && n > degree) {
        curve.degree = degree;
        for (int i = 0; i < n + degree - 1; ++i)
            curve.knots.push_back(std::clamp(i - degree + 1, 0, n - degree));
        if (!refine_curve(curve, std::max(divisions, 1), points)) points.clear();
    }
    if (points.empty()) {
        for (const WeightedPoint& cv : curve.cvs) points.push_back({cv.x, cv.y, 0});
    }
    for (const auto& p : points) {
        const std::array<double, 2> uv{p[0], p[1]};
        if (out.empty() || out.back() != uv) out.push_back(uv);
    }
}

// A trim face: each boundary (tb) one loop through its edges' B-splines in
// order; a boundary of positive type starts a region, the others are its
// holes. An edge that does not start where the last one ended is joined to
// it by a straight piece.
void add_trim_face(const Body& face, std::vector<TrimRegion>& regions) {
    const int divisions = std::clamp(face.divisions, 1, 1024);
    const BodyItem* boundaries = face.find("boundaries");
    for_each_item(boundaries ? boundaries->value : nullptr, [&](const float*, Expr* tb) {
        const Body* boundary = is_body_node(tb) ? body_of(tb) : nullptr;
        if (boundary == nullptr) return true;
        float btype = 1;
        const BodyItem* type = boundary->find("btype");
        if (type) AR_evaluate(SDL_SCALAR, &btype, type->value, nullptr);
        TrimLoop loop;
        const BodyItem* edges = boundary->find("edges");
        for_each_item(edges ? edges->value : nullptr, [&](const float*, Expr* te) {
            const Body* edge = is_body_node(te) ? body_of(te) : nullptr;
            const BodyItem* splines = edge ? edge->find("bsplines") : nullptr;
            std::vector<std::array<double, 2>> points;
            for_each_item(splines ? splines->value : nullptr, [&](const float*, Expr* tbs) {
                if (const Body* spline = is_body_node(tbs) ? body_of(tbs) : nullptr)
                    add_trim_spline(*spline, divisions, points);
                return true;
            });
            if (points.empty()) return true;
            if (!loop.points.empty()) {
                const auto& end = loop.points.back();
                const auto& start = points.front();
                if (std::fabs(end[0] - start[0]) > 1e-6 || std::fabs(end[1] - start[1]) > 1e-6)
                    rptWarning("reparameterized trim edge to repair discontinuity.");
            }
            for (const auto& p : points) {
                if (loop.points.empty() || loop.points.back() != p) loop.points.push_back(p);
            }
            return true;
        });
        if (loop.points.empty()) return true;
        if (btype > 0 || regions.empty()) regions.emplace_back();
        regions.back().loops.push_back(std::move(loop));
        return true;
    });
}

// Trim data named by a `tcvs` item or an external reference.
void add_named_trim(const Expr* reference, std::vector<TrimRegion>& regions) {
    const char* name = reference && reference->kind == &kVariableKind && reference->symbol
                           ? reference->symbol->name
                           : filename_text(reference);
    const Symbol* symbol = name ? find_symbol(name) : nullptr;
    const Expr* value = symbol ? symbol->initialiser : nullptr;
    if (value && value->type == SDL_TRIM_FACE && is_body_node(value)) {
        add_trim_face(*body_of(value), regions);
    } else if (value && value->type == SDL_TRIM_CV_CURVE) {
        add_trim_curve(value, false, regions);
    } else {
        rptError("Cannot find trim data %s.\n", name ? name : "");
    }
}

void evaluate_trims(const PatchDefinition& d, std::vector<TrimRegion>& regions) {
    regions.clear();
    for_each_item(d.trim_region, [&](const float*, Expr* item) {
        const Body* body = is_body_node(item) ? body_of(item) : nullptr;
        if (body == nullptr || body->items.empty()) return true;
        const BodyItem& tagged = body->items[0];
        std::string_view tag = tagged.name;
        if (tag == "cvs")
            add_trim_curve(tagged.value, false, regions);
        else if (tag == "trim_hole")
            add_trim_curve(tagged.value, true, regions);
        else
            add_named_trim(tagged.value, regions);  // tcvs, extreference
        return true;
    });
}

}  // namespace

bool patch_is_moving(const PatchDefinition& definition) {
    return marked_moving(definition.common);
}

std::unique_ptr<PatchGeometry> evaluate_patch(const PatchDefinition& d, const char* name) {
    if (!d.valid) return nullptr;
    auto patch = std::make_unique<PatchGeometry>();
    patch->type = SDL_PATCH;
    if (!evaluate_switches(d.common, true, *patch)) return nullptr;
    bool trimmed = list_count(d.trim_region) > 0;
    bool tessellator = render_options().tessellator;
    if (!(tessellator ? tessellator_settings(d, *patch)
                      : classic_settings(d, name, trimmed, *patch)))
        return nullptr;
    evaluate_shaders(d.common, name, *patch);

    NurbsSurface& surface = patch->surface;
    float uclosed = 0, vclosed = 0;
    if (!scalar_parameter(d.uclosed, 0.0f, uclosed) || !scalar_parameter(d.vclosed, 0.0f, vclosed))
        return nullptr;
    surface.uform = uclosed != 0 ? NURBS_CLOSED : NURBS_OPEN;
    surface.vform = vclosed != 0 ? NURBS_CLOSED : NURBS_OPEN;
    surface.udegree = d.udegree_value;
    surface.vdegree = d.vdegree_value;
    surface.ucount = d.ucount;
    surface.vcount = d.vcount;
    const ClusterScope clusters(d.common.clusters);
    if (!evaluate_knots(d.uknots, tessellator, surface.uknots) ||
        !evaluate_knots(d.vknots, tessellator, surface.vknots) || !evaluate_cvs(d, surface))
        return nullptr;
    // The counts were checked when the scene was read; expressions cannot
    // change them, but a list element that stopped evaluating could.
    if (surface.cvs.size() != static_cast<std::size_t>(d.ucount) * d.vcount ||
        surface.uknots.size() != static_cast<std::size_t>(d.ucount + d.udegree_value - 1) ||
        surface.vknots.size() != static_cast<std::size_t>(d.vcount + d.vdegree_value - 1))
        return nullptr;

    evaluate_trims(d, patch->trims);
    empty_bound(patch->bound);
    for (const WeightedPoint& cv : surface.cvs) extend_bound(patch->bound, cv.x, cv.y, cv.z);
    return patch;
}

}  // namespace sky
