// The geometry-library operations the renderer needs on NURBS curves and
// surfaces: building a surface ready for evaluation, point evaluation with
// partial derivatives and normals, bounds, comparison, conversion of spans to
// Bézier form, degree raising, pole marking and the knot helpers.
//
// A scene gives n + d − 1 knots for n control vertices of degree d; the
// outermost knot at each end of the usual n + d + 1 is implied and repeats
// its neighbour. Evaluation never reads those two, so the choice cannot
// change a surface; it only keeps every index of the full vector defined.
//
// Everything here works in homogeneous coordinates (x·w, y·w, z·w, w) and
// divides by the weight only when a point is handed out.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "geometry/nurbs.h"

namespace sky {

// Larger degrees are refused: the evaluators keep their basis functions on
// the stack.
inline constexpr int kMaxNurbsDegree = 31;

struct Homogeneous {
    double x = 0, y = 0, z = 0, w = 1;
};

// Knots as nodes pointing at stored values: equal successive knots share one
// value, so a knot's multiplicity is the number of nodes pointing at it.
// The nodes hold the scene's n + d − 1 knots.
struct KnotNodes {
    std::vector<double> values;
    std::vector<std::int32_t> nodes;

    int size() const { return static_cast<int>(nodes.size()); }
    double operator[](int i) const { return values[static_cast<std::size_t>(nodes[i])]; }
    // Knot i of the full vector of size() + 2 knots, the implied ends included.
    double full(int i) const;
};

// A surface as the geometry library holds it once built: knot nodes, CVs in
// homogeneous form (row by row, cvs[u * vcount + v]) and the pole marks.
// Closed directions are already wrapped (see build_surface).
struct BuiltSurface {
    int udegree = 1, vdegree = 1;
    int ucount = 0, vcount = 0;
    int uform = NURBS_OPEN, vform = NURBS_OPEN;
    KnotNodes uknots, vknots;
    std::vector<Homogeneous> cvs;
    // Rows (u) or columns (v) of coincident CVs at the low and high ends.
    bool upole[2] = {false, false};
    bool vpole[2] = {false, false};
    // Diagonal of the CV hull: the scale of the degeneracy tests.
    double extent = 0;

    const Homogeneous& cv(int u, int v) const {
        return cvs[static_cast<std::size_t>(u) * vcount + v];
    }
    double umin() const { return uknots.full(udegree); }
    double umax() const { return uknots.full(ucount); }
    double vmin() const { return vknots.full(vdegree); }
    double vmax() const { return vknots.full(vcount); }
};

struct BuiltCurve {
    int degree = 1;
    int count = 0;
    int form = NURBS_OPEN;
    KnotNodes knots;
    std::vector<Homogeneous> cvs;
    double extent = 0;

    double tmin() const { return knots.full(degree); }
    double tmax() const { return knots.full(count); }
};

// --- knots -----------------------------------------------------------------

// The n + d + 1 knots of the full vector from the scene's n + d − 1.
void full_knots(const std::vector<double>& knots, std::vector<double>& full);

// Equal successive knots share one stored value.
void make_knot_nodes(const std::vector<double>& knots, KnotNodes& out);

// The larger absolute value of the first and last knot, at least 1e-10.
double MC_knot_largest(const KnotNodes& knots);
// Every knot node gets a value of its own.
void MC_knot_pointers_separate(BuiltSurface& surface);
// Separates, then each knot within `tolerance` of its predecessor's (already
// shared) value shares that value, so a run of close knots cannot drift
// further than the tolerance from its first. Prints "bad data" and returns
// false for a surface without knots in either direction.
bool MC_knot_pointers_join_tol(BuiltSurface& surface, double tolerance);
// Joins each direction with tolerance 1e-10 × MC_knot_largest of its knots.
bool MC_knot_pointers_join(BuiltSurface& surface);

// --- building --------------------------------------------------------------

// Checks the layout (counts, degrees 1..kMaxNurbsDegree, knot counts,
// non-decreasing finite knots with a range of positive length, finite CVs,
// positive weights) and builds the surface. A closed (form 2) direction that
// does not already close on itself (its boundary curves at both ends of the
// range differ) is wrapped as a periodic B-spline: the first d rows of CVs
// are repeated after the last and the knot spacing of one period repeats,
// which joins the ends with continuity d − 1 (spacing with zero-length
// intervals is made uniform first, as it could not join). A direction that
// already closes (the usual periodic layout with d repeated CVs, or clamped
// ends that meet) is kept as given. Marks the poles. Returns false on bad
// data, printing nothing.
bool build_surface(const NurbsSurface& surface, BuiltSurface& out);
bool build_curve(const NurbsCurve& curve, BuiltCurve& out);

// Marks rows or columns of coincident CVs at either end of each direction.
void set_poles(BuiltSurface& surface);

// The CV hull, Cartesian: xmin, xmax, ymin, ymax, zmin, zmax.
void surface_bound(const BuiltSurface& surface, double bound[6]);

// Same layout, knots and CVs (exact comparison). A copy is a plain copy.
bool surfaces_equal(const BuiltSurface& a, const BuiltSurface& b);

// --- evaluation ------------------------------------------------------------

struct SurfaceEval {
    std::array<double, 3> position{};
    std::array<double, 3> du{}, dv{};  // partial derivatives
    std::array<double, 3> normal{};    // unit du × dv; zero when it cannot be found
};

// (u, v) is clamped to the surface's range. At a degenerate point (a pole,
// or parallel partials) the normal is taken from a nearby parameter towards
// the inside of the range.
void evaluate_surface(const BuiltSurface& surface, double u, double v, SurfaceEval& out);

// A Bézier patch of uorder × vorder homogeneous points (rows along u) at
// local parameters (s, t) in [0, 1]²; partials are per unit of s and t.
// `extent` is the size of the surface, the scale of the degeneracy tests.
void evaluate_bezier_patch(const Homogeneous* points, int uorder, int vorder, double s, double t,
                           SurfaceEval& out, double extent);

struct CurveEval {
    std::array<double, 3> position{};
    std::array<double, 3> tangent{};  // the derivative
};
void evaluate_curve(const BuiltCurve& curve, double t, CurveEval& out);

// --- Bézier form -----------------------------------------------------------

// Bézier patches of a surface, one per non-empty span, in span order (u
// major). Each holds (uorder × vorder) homogeneous points, row by row along u.
struct BezierPatches {
    int uorder = 0, vorder = 0;  // degree + 1
    int uspans = 0, vspans = 0;
    std::vector<double> ubreaks;  // uspans + 1 parameter values
    std::vector<double> vbreaks;
    std::vector<Homogeneous> points;

    const Homogeneous* patch(int su, int sv) const {
        return points.data() + (static_cast<std::size_t>(su) * vspans + sv) *
                                   static_cast<std::size_t>(uorder * vorder);
    }
};

struct BezierCurves {
    int order = 0;
    int spans = 0;
    std::vector<double> breaks;
    std::vector<Homogeneous> points;

    const Homogeneous* span(int s) const {
        return points.data() + static_cast<std::size_t>(s) * order;
    }
};

// Converts span by span, inserting each span's end knots to full
// multiplicity. False when the surface has no span of positive length or
// its knots are out of order.
bool surface_to_bezier(const BuiltSurface& surface, BezierPatches& out);
bool curve_to_bezier(const BuiltCurve& curve, BezierCurves& out);

// Raises every patch (or span) to cubic when its degree is below 3.
void raise_to_cubic(BezierPatches& patches);
void raise_to_cubic(BezierCurves& curves);

// One degree step of a Bézier control polygon of `order` points read with
// `stride`; `out` receives order + 1 points with stride 1.
void raise_bezier_degree(const Homogeneous* in, int order, int stride, Homogeneous* out);

// --- refinement ------------------------------------------------------------

// The curve as a polyline: every Bézier span (raised to cubic when lower)
// stepped `steps` times (at least once) by forward differencing in
// homogeneous coordinates, the curve's start and each step's point appended;
// a last point within 1e-6 of the first in x and y is dropped, so a closed
// outline does not repeat its start. False, with nothing appended, when the
// curve cannot be built or converted.
bool refine_curve(const NurbsCurve& curve, int steps, std::vector<std::array<double, 3>>& points);

}  // namespace sky
