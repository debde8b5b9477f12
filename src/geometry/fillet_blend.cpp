// Blends between curves on surfaces, built column by column and refined
// until they meet the surfaces within the tolerance, and their merge along v.
#include "geometry/fillet_blend.h"

#include <algorithm>
#include <cmath>

#include "base/vecmath.h"
#include "geometry/nurbs_ops.h"

namespace sky {
namespace {

using Vec = Imath::V3d;

// The cubic's inner control points lie this share of the chord from its
// ends: close to a circular arc where the surfaces meet square.
constexpr double kHandle = 0.39;
// Columns start this dense and double until the blend is close enough.
constexpr int kFirstColumns = 16;
constexpr int kMostColumns = 4096;
// How far (radians) a chord may turn from the curves and the cross
// tangents from the surfaces' between two columns.
constexpr double kTurn = 0.25 * M_PI / 180.0;

Vec vec(const std::array<double, 3>& a) {
    return Vec(a[0], a[1], a[2]);
}

// A curve on a surface, and which way along it the blend runs.
struct Side {
    BuiltCurve curve;
    BuiltSurface surface;
    bool reversed = false;
};

// Where the blend leaves (or reaches) a surface at parameter t ∈ [0, 1].
struct Foot {
    Vec point, across, along;  // across: in the tangent plane, square to the curve
    bool ok = false;
};

Foot foot(const Side& side, double t, double tolerance) {
    Foot f;
    const BuiltCurve& c = side.curve;
    const double s = side.reversed ? 1.0 - t : t;
    CurveEval at;
    evaluate_curve(c, c.tmin() + s * (c.tmax() - c.tmin()), at);
    const double u = at.position[0], v = at.position[1];
    const BuiltSurface& surface = side.surface;
    const double du = surface.umax() - surface.umin(), dv = surface.vmax() - surface.vmin();
    if (!std::isfinite(u) || !std::isfinite(v) || u < surface.umin() - tolerance * du ||
        u > surface.umax() + tolerance * du || v < surface.vmin() - tolerance * dv ||
        v > surface.vmax() + tolerance * dv)
        return f;  // off its surface
    SurfaceEval e;
    evaluate_surface(surface, u, v, e);
    const Vec n = vec(e.normal);
    Vec along = vec(e.du) * at.tangent[0] + vec(e.dv) * at.tangent[1];
    if (side.reversed) along = -along;
    if (along.length() < 1e-12 || n.length() < 0.5) return f;
    f.point = vec(e.position);
    f.along = along.normalized();
    f.across = n.cross(f.along).normalized();
    f.ok = true;
    return f;
}

struct Column {
    Vec p[4];
};

bool column(const Side& a, const Side& b, double t, double tolerance, Column& out, Foot* feet) {
    const Foot fa = foot(a, t, tolerance), fb = foot(b, t, tolerance);
    if (!fa.ok || !fb.ok) return false;
    const Vec chord = fb.point - fa.point;
    // Leave the first surface toward the second, and reach the second
    // from the first's side.
    const Vec xa = fa.across.dot(chord) < 0 ? -fa.across : fa.across;
    const Vec xb = fb.across.dot(chord) > 0 ? -fb.across : fb.across;
    const double handle = kHandle * chord.length();
    out.p[0] = fa.point;
    out.p[1] = fa.point + xa * handle;
    out.p[2] = fb.point + xb * handle;
    out.p[3] = fb.point;
    if (feet) feet[0] = fa, feet[1] = fb;
    return true;
}

double angle(const Vec& x, const Vec& y) {
    const double lx = x.length(), ly = y.length();
    if (lx == 0 || ly == 0) return 0;
    return std::acos(std::clamp(x.dot(y) / (lx * ly), -1.0, 1.0));
}

// Whether the columns at t0 and t1 stand close enough together: the true
// column halfway matches their mean, and the chord between their feet
// follows the curves.
bool close_enough(const Side& a, const Side& b, const Column& c0, const Column& c1, double t0,
                  double t1, double tolerance) {
    Column mid;
    Foot feet[2];
    if (!column(a, b, 0.5 * (t0 + t1), tolerance, mid, feet)) return false;
    for (int k : {0, 3})
        if ((mid.p[k] - (c0.p[k] + c1.p[k]) * 0.5).length() > 0.5 * tolerance) return false;
    for (int k : {1, 2}) {
        const int end = k == 1 ? 0 : 3;
        const Vec mean = (c0.p[k] - c0.p[end] + c1.p[k] - c1.p[end]) * 0.5;
        if (angle(mean, mid.p[k] - mid.p[end]) > kTurn) return false;
    }
    if (angle(c1.p[0] - c0.p[0], feet[0].along) > kTurn ||
        angle(c1.p[3] - c0.p[3], feet[1].along) > kTurn)
        return false;
    return true;
}

bool built_side(const NurbsCurve& curve, const NurbsSurface& surface, Side& side) {
    return build_curve(curve, side.curve) && build_surface(surface, side.surface);
}

// The blend's columns, or none.
bool blend_columns(const NurbsCurve& curve1, const NurbsSurface& surface1, const NurbsCurve& curve2,
                   const NurbsSurface& surface2, double tolerance, std::vector<Column>& columns) {
    Side a, b;
    if (!built_side(curve1, surface1, a) || !built_side(curve2, surface2, b)) return false;
    // Run both curves the same way: the pairing of ends with the shorter
    // spans between them.
    const Foot a0 = foot(a, 0, tolerance), a1 = foot(a, 1, tolerance);
    const Foot b0 = foot(b, 0, tolerance), b1 = foot(b, 1, tolerance);
    if (!a0.ok || !a1.ok || !b0.ok || !b1.ok) return false;
    b.reversed = (a0.point - b1.point).length() + (a1.point - b0.point).length() <
                 (a0.point - b0.point).length() + (a1.point - b1.point).length();
    for (int count = kFirstColumns; count <= kMostColumns; count *= 2) {
        columns.assign(static_cast<std::size_t>(count) + 1, Column{});
        for (int i = 0; i <= count; ++i)
            if (!column(a, b, static_cast<double>(i) / count, tolerance, columns[i], nullptr))
                return false;
        bool fine = true;
        for (int i = 0; i < count && fine; ++i)
            fine = close_enough(a, b, columns[i], columns[i + 1], static_cast<double>(i) / count,
                                static_cast<double>(i + 1) / count, tolerance);
        if (fine) break;
    }
    // A curve without length has nothing to blend along.
    double length = 0;
    for (std::size_t i = 1; i < columns.size(); ++i)
        length += (columns[i].p[0] - columns[i - 1].p[0]).length() +
                  (columns[i].p[3] - columns[i - 1].p[3]).length();
    return length > tolerance;
}

bool same_column(const Column& x, const Column& y, double tolerance) {
    for (int k = 0; k < 4; ++k)
        if ((x.p[k] - y.p[k]).length() > tolerance) return false;
    return true;
}

// Columns as a surface: cubic across (u, four rows), linear along (v).
NurbsSurface surface_of(const std::vector<Column>& columns, bool closed) {
    NurbsSurface s;
    s.udegree = 3;
    s.vdegree = 1;
    s.ucount = 4;
    s.vcount = static_cast<std::int32_t>(columns.size());
    s.vform = closed ? NURBS_CLOSED : NURBS_OPEN;
    s.uknots = {0, 0, 0, 1, 1, 1};
    for (std::size_t i = 0; i < columns.size(); ++i) s.vknots.push_back(static_cast<double>(i));
    s.cvs.resize(4 * columns.size());
    for (int u = 0; u < 4; ++u)
        for (std::size_t v = 0; v < columns.size(); ++v) {
            const Vec& p = columns[v].p[u];
            s.cv(u, static_cast<int>(v)) = WeightedPoint{p.x, p.y, p.z, 1.0};
        }
    return s;
}

}  // namespace

std::optional<NurbsSurface> blend_surface(const NurbsCurve& curve1, const NurbsSurface& surface1,
                                          const NurbsCurve& curve2, const NurbsSurface& surface2,
                                          double tolerance) {
    std::vector<Column> columns;
    if (!blend_columns(curve1, surface1, curve2, surface2, tolerance, columns)) return std::nullopt;
    return surface_of(columns, false);
}

std::optional<NurbsSurface> multi_fillet(const FilletSequences& q, int* blends, double tolerance) {
    if (blends) *blends = 0;
    const std::size_t n = q.curves1.size();
    if (q.curves2.size() != n || q.surfaces1.size() != n || q.surfaces2.size() != n || n == 0)
        return std::nullopt;
    std::vector<Column> merged;
    for (std::size_t i = 0; i < n; ++i) {
        // A closed curve is walked as an open one from its first knot.
        NurbsCurve c1 = q.curves1[i], c2 = q.curves2[i];
        c1.form = c2.form = NURBS_OPEN;
        std::vector<Column> columns;
        if (!blend_columns(c1, q.surfaces1[i], c2, q.surfaces2[i], tolerance, columns)) continue;
        if (blends) ++*blends;
        // Blends that meet share their joining column.
        if (!merged.empty() && same_column(merged.back(), columns.front(), tolerance))
            merged.pop_back();
        merged.insert(merged.end(), columns.begin(), columns.end());
    }
    if (merged.size() < 2) return std::nullopt;
    const bool closed = !q.open1 && !q.open2;
    if (closed && !same_column(merged.back(), merged.front(), tolerance))
        merged.push_back(merged.front());
    if (closed) merged.back() = merged.front();
    return surface_of(merged, closed);
}

}  // namespace sky
