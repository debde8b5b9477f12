// Knots, building, evaluation, bounds and comparison of NURBS surfaces and
// curves. Bézier conversion and refinement live in nurbs_bezier.cpp.
#include "geometry/nurbs_ops.h"

#include <algorithm>
#include <cmath>

#include "geometry/nurbs_internal.h"
#include "platform/report.h"

namespace sky {

using namespace nurbs_detail;

double KnotNodes::full(int i) const {
    if (nodes.empty()) return 0;
    return (*this)[std::clamp(i - 1, 0, size() - 1)];
}

void full_knots(const std::vector<double>& knots, std::vector<double>& full) {
    full.clear();
    if (knots.empty()) return;
    full.reserve(knots.size() + 2);
    full.push_back(knots.front());
    full.insert(full.end(), knots.begin(), knots.end());
    full.push_back(knots.back());
}

void make_knot_nodes(const std::vector<double>& knots, KnotNodes& out) {
    out.values.clear();
    out.nodes.clear();
    for (double k : knots) {
        if (out.values.empty() || k != out.values.back()) out.values.push_back(k);
        out.nodes.push_back(static_cast<std::int32_t>(out.values.size()) - 1);
    }
}

// --- knot helpers ----------------------------------------------------------

double MC_knot_largest(const KnotNodes& knots) {
    if (knots.size() == 0) return 1e-10;
    return std::max({std::fabs(knots[0]), std::fabs(knots[knots.size() - 1]), 1e-10});
}

namespace {

void separate(KnotNodes& knots) {
    std::vector<double> values(static_cast<std::size_t>(knots.size()));
    for (int i = 0; i < knots.size(); ++i) values[static_cast<std::size_t>(i)] = knots[i];
    knots.values = std::move(values);
    for (int i = 0; i < knots.size(); ++i) knots.nodes[static_cast<std::size_t>(i)] = i;
}

void join(KnotNodes& knots, double tolerance) {
    separate(knots);
    std::size_t shared = 0;  // values kept so far, compacted in place
    for (std::size_t i = 0; i < knots.nodes.size(); ++i) {
        double value = knots.values[i];
        if (shared == 0 || !(std::fabs(value - knots.values[shared - 1]) <= tolerance)) {
            knots.values[shared++] = value;
        }
        knots.nodes[i] = static_cast<std::int32_t>(shared - 1);
    }
    knots.values.resize(shared);
}

bool has_knots(const BuiltSurface& surface) {
    if (surface.uknots.size() > 0 && surface.vknots.size() > 0) return true;
    rptError("bad data\n");
    return false;
}

}  // namespace

void MC_knot_pointers_separate(BuiltSurface& surface) {
    separate(surface.uknots);
    separate(surface.vknots);
}

bool MC_knot_pointers_join_tol(BuiltSurface& surface, double tolerance) {
    if (!has_knots(surface)) return false;
    join(surface.uknots, tolerance);
    join(surface.vknots, tolerance);
    return true;
}

bool MC_knot_pointers_join(BuiltSurface& surface) {
    if (!has_knots(surface)) return false;
    join(surface.uknots, 1e-10 * MC_knot_largest(surface.uknots));
    join(surface.vknots, 1e-10 * MC_knot_largest(surface.vknots));
    return true;
}

// --- building --------------------------------------------------------------

namespace {

bool finite_point(const WeightedPoint& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) && std::isfinite(p.w) &&
           p.w > 0;
}

// Finite, non-decreasing, and a parameter range of positive length.
bool valid_knots(const std::vector<double>& knots, int count, int degree) {
    if (degree < 1 || degree > kMaxNurbsDegree || count < degree + 1) return false;
    if (knots.size() != static_cast<std::size_t>(count + degree - 1)) return false;
    for (std::size_t i = 0; i < knots.size(); ++i) {
        if (!std::isfinite(knots[i])) return false;
        if (i > 0 && knots[i] < knots[i - 1]) return false;
    }
    // The range runs from full knot `degree` to full knot `count`.
    return knots[static_cast<std::size_t>(degree - 1)] < knots[static_cast<std::size_t>(count - 1)];
}

Homogeneous homogeneous(const WeightedPoint& p) {
    return {p.x * p.w, p.y * p.w, p.z * p.w, p.w};
}

double hull_diagonal(const std::vector<Homogeneous>& cvs) {
    double bound[6];
    hull_bound(cvs, bound);
    return std::hypot(bound[1] - bound[0], bound[3] - bound[2], bound[5] - bound[4]);
}

// The iso-curve at parameter t of a direction whose `count` rows hold `m`
// CVs each: its m homogeneous CVs.
void iso_row(const std::vector<double>& full, int degree, int count, const Homogeneous* cvs, int m,
             double t, Homogeneous* out) {
    auto knot = [&](int i) { return full[static_cast<std::size_t>(i)]; };
    double n[kMaxOrder];
    int k = find_span(knot, degree, count, t);
    basis(knot, k, degree, t, n, nullptr);
    for (int c = 0; c < m; ++c) {
        Homogeneous sum{0, 0, 0, 0};
        for (int r = 0; r <= degree; ++r) add_scaled(sum, n[r], cvs[(k - degree + r) * m + c]);
        out[c] = sum;
    }
}

bool same_point(const Homogeneous& a, const Homogeneous& b, double tolerance) {
    return std::fabs(a.x / a.w - b.x / b.w) <= tolerance &&
           std::fabs(a.y / a.w - b.y / b.w) <= tolerance &&
           std::fabs(a.z / a.w - b.z / b.w) <= tolerance &&
           std::fabs(a.w - b.w) <= 1e-9 * std::max(a.w, b.w);
}

// Whether the boundary curves at the two ends of the direction coincide.
bool direction_closes(const std::vector<double>& knots, int degree, int count,
                      const std::vector<Homogeneous>& cvs, int m, double tolerance) {
    std::vector<double> full;
    full_knots(knots, full);
    std::vector<Homogeneous> first(static_cast<std::size_t>(m)), last(static_cast<std::size_t>(m));
    iso_row(full, degree, count, cvs.data(), m, full[static_cast<std::size_t>(degree)],
            first.data());
    iso_row(full, degree, count, cvs.data(), m, full[static_cast<std::size_t>(count)], last.data());
    for (int c = 0; c < m; ++c) {
        if (!same_point(first[static_cast<std::size_t>(c)], last[static_cast<std::size_t>(c)],
                        tolerance)) {
            return false;
        }
    }
    return true;
}

// Makes a periodic B-spline of the direction: its first `degree` rows are
// repeated after the last, and the full knot vector's spacing over one
// period (its intervals 1..count) repeats, so that the knots around both
// ends of the new range match and the ends join. Spacing with zero-length
// intervals (clamped ends, multiple knots) could not join smoothly, so then
// the range is spaced uniformly instead. The range keeps its start.
void wrap_direction(std::vector<double>& knots, int& count, int degree,
                    std::vector<Homogeneous>& cvs, int m) {
    std::vector<double> full;
    full_knots(knots, full);
    std::vector<double> step(static_cast<std::size_t>(count));
    bool positive = true;
    for (int i = 0; i < count; ++i) {
        step[static_cast<std::size_t>(i)] =
            full[static_cast<std::size_t>(i + 2)] - full[static_cast<std::size_t>(i + 1)];
        positive = positive && step[static_cast<std::size_t>(i)] > 0;
    }
    if (!positive) {
        double range =
            full[static_cast<std::size_t>(count)] - full[static_cast<std::size_t>(degree)];
        std::fill(step.begin(), step.end(), range / (count - degree));
    }
    // Interval i of the new full vector (between knots i and i + 1).
    auto interval = [&](int i) { return step[static_cast<std::size_t>((i - 1) % count)]; };
    int wrapped = count + degree;
    std::vector<double> next(static_cast<std::size_t>(wrapped + degree + 1));
    next[static_cast<std::size_t>(degree)] = full[static_cast<std::size_t>(degree)];
    for (int i = degree; i < wrapped + degree; ++i) {
        next[static_cast<std::size_t>(i + 1)] = next[static_cast<std::size_t>(i)] + interval(i);
    }
    for (int i = degree - 1; i >= 1; --i) {
        next[static_cast<std::size_t>(i)] = next[static_cast<std::size_t>(i + 1)] - interval(i);
    }
    knots.assign(next.begin() + 1, next.end() - 1);
    for (int i = 0; i < degree * m; ++i) cvs.push_back(cvs[static_cast<std::size_t>(i)]);
    count = wrapped;
}

// Transposes a rows × columns grid.
void transpose(std::vector<Homogeneous>& cvs, int rows, int columns) {
    std::vector<Homogeneous> out(cvs.size());
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            out[static_cast<std::size_t>(c) * rows + r] =
                cvs[static_cast<std::size_t>(r) * columns + c];
        }
    }
    cvs.swap(out);
}

void close_if_open(std::vector<double>& knots, int& count, int degree,
                   std::vector<Homogeneous>& cvs, int m, double extent) {
    if (!direction_closes(knots, degree, count, cvs, m, 1e-9 * extent)) {
        wrap_direction(knots, count, degree, cvs, m);
    }
}

bool coincide(const Homogeneous* cvs, int count, int stride, double tolerance) {
    for (int i = 1; i < count; ++i) {
        if (!same_point(cvs[0], cvs[i * stride], tolerance)) return false;
    }
    return true;
}

}  // namespace

bool build_surface(const NurbsSurface& surface, BuiltSurface& out) {
    const int p = surface.udegree, q = surface.vdegree;
    if (!valid_knots(surface.uknots, surface.ucount, p) ||
        !valid_knots(surface.vknots, surface.vcount, q) ||
        surface.cvs.size() != static_cast<std::size_t>(surface.ucount) * surface.vcount) {
        return false;
    }
    std::vector<Homogeneous> cvs;
    cvs.reserve(surface.cvs.size());
    for (const WeightedPoint& cv : surface.cvs) {
        if (!finite_point(cv)) return false;
        cvs.push_back(homogeneous(cv));
    }
    double extent = hull_diagonal(cvs);
    int ucount = surface.ucount, vcount = surface.vcount;
    std::vector<double> uknots = surface.uknots, vknots = surface.vknots;
    if (surface.uform == NURBS_CLOSED) close_if_open(uknots, ucount, p, cvs, vcount, extent);
    if (surface.vform == NURBS_CLOSED) {
        transpose(cvs, ucount, vcount);
        close_if_open(vknots, vcount, q, cvs, ucount, extent);
        transpose(cvs, vcount, ucount);
    }
    out.udegree = p;
    out.vdegree = q;
    out.ucount = ucount;
    out.vcount = vcount;
    out.uform = surface.uform;
    out.vform = surface.vform;
    make_knot_nodes(uknots, out.uknots);
    make_knot_nodes(vknots, out.vknots);
    out.cvs = std::move(cvs);
    out.extent = extent;
    set_poles(out);
    return true;
}

bool build_curve(const NurbsCurve& curve, BuiltCurve& out) {
    if (!valid_knots(curve.knots, static_cast<int>(curve.cvs.size()), curve.degree)) return false;
    std::vector<Homogeneous> cvs;
    cvs.reserve(curve.cvs.size());
    for (const WeightedPoint& cv : curve.cvs) {
        if (!finite_point(cv)) return false;
        cvs.push_back(homogeneous(cv));
    }
    double extent = hull_diagonal(cvs);
    int count = static_cast<int>(cvs.size());
    std::vector<double> knots = curve.knots;
    if (curve.form == NURBS_CLOSED) close_if_open(knots, count, curve.degree, cvs, 1, extent);
    out.degree = curve.degree;
    out.count = count;
    out.form = curve.form;
    make_knot_nodes(knots, out.knots);
    out.cvs = std::move(cvs);
    out.extent = extent;
    return true;
}

void set_poles(BuiltSurface& s) {
    double tolerance = 1e-10 * s.extent;
    const Homogeneous* cvs = s.cvs.data();
    s.upole[0] = coincide(cvs, s.vcount, 1, tolerance);
    s.upole[1] =
        coincide(cvs + static_cast<std::size_t>(s.ucount - 1) * s.vcount, s.vcount, 1, tolerance);
    s.vpole[0] = coincide(cvs, s.ucount, s.vcount, tolerance);
    s.vpole[1] = coincide(cvs + s.vcount - 1, s.ucount, s.vcount, tolerance);
}

void surface_bound(const BuiltSurface& surface, double bound[6]) {
    hull_bound(surface.cvs, bound);
}

bool surfaces_equal(const BuiltSurface& a, const BuiltSurface& b) {
    if (a.udegree != b.udegree || a.vdegree != b.vdegree || a.ucount != b.ucount ||
        a.vcount != b.vcount || a.uform != b.uform || a.vform != b.vform ||
        a.uknots.size() != b.uknots.size() || a.vknots.size() != b.vknots.size() ||
        a.cvs.size() != b.cvs.size()) {
        return false;
    }
    for (int i = 0; i < a.uknots.size(); ++i) {
        if (a.uknots[i] != b.uknots[i]) return false;
    }
    for (int i = 0; i < a.vknots.size(); ++i) {
        if (a.vknots[i] != b.vknots[i]) return false;
    }
    for (std::size_t i = 0; i < a.cvs.size(); ++i) {
        const Homogeneous &p = a.cvs[i], &r = b.cvs[i];
        if (p.x != r.x || p.y != r.y || p.z != r.z || p.w != r.w) return false;
    }
    return true;
}

// --- evaluation ------------------------------------------------------------

namespace {

void surface_partials(const BuiltSurface& s, double u, double v, Homogeneous& h, Homogeneous& hu,
                      Homogeneous& hv) {
    auto uknot = [&](int i) { return s.uknots.full(i); };
    auto vknot = [&](int i) { return s.vknots.full(i); };
    const int p = s.udegree, q = s.vdegree;
    double nu[kMaxOrder], dnu[kMaxOrder], nv[kMaxOrder], dnv[kMaxOrder];
    int ku = find_span(uknot, p, s.ucount, u);
    int kv = find_span(vknot, q, s.vcount, v);
    basis(uknot, ku, p, u, nu, dnu);
    basis(vknot, kv, q, v, nv, dnv);
    h = hu = hv = Homogeneous{0, 0, 0, 0};
    for (int r = 0; r <= p; ++r) {
        // The row's combination along v, then its weight along u.
        Homogeneous row{0, 0, 0, 0}, row_dv{0, 0, 0, 0};
        const Homogeneous* cvs = &s.cv(ku - p + r, kv - q);
        for (int c = 0; c <= q; ++c) {
            add_scaled(row, nv[c], cvs[c]);
            add_scaled(row_dv, dnv[c], cvs[c]);
        }
        add_scaled(h, nu[r], row);
        add_scaled(hu, dnu[r], row);
        add_scaled(hv, nu[r], row_dv);
    }
}

}  // namespace

void evaluate_surface(const BuiltSurface& s, double u, double v, SurfaceEval& out) {
    const double u0 = s.umin(), u1 = s.umax(), v0 = s.vmin(), v1 = s.vmax();
    u = std::clamp(u, u0, u1);
    v = std::clamp(v, v0, v1);
    Homogeneous h, hu, hv;
    surface_partials(s, u, v, h, hu, hv);
    to_cartesian(h, hu, hv, out);
    // A derivative below this is a rounding residue (a pole), not a direction.
    double du_floor = 1e-9 * s.extent / (u1 - u0), dv_floor = 1e-9 * s.extent / (v1 - v0);
    if (unit_normal(out.du, out.dv, du_floor, dv_floor, out.normal)) return;
    auto normal_at = [&](double un, double vn, std::array<double, 3>& normal) {
        SurfaceEval near;
        Homogeneous nh, nhu, nhv;
        surface_partials(s, un, vn, nh, nhu, nhv);
        to_cartesian(nh, nhu, nhv, near);
        return unit_normal(near.du, near.dv, du_floor, dv_floor, normal);
    };
    nearby_normal(u, v, u0, u1, v0, v1, normal_at, out.normal);
}

void evaluate_curve(const BuiltCurve& curve, double t, CurveEval& out) {
    auto knot = [&](int i) { return curve.knots.full(i); };
    const int p = curve.degree;
    t = std::clamp(t, curve.tmin(), curve.tmax());
    double n[kMaxOrder], dn[kMaxOrder];
    int k = find_span(knot, p, curve.count, t);
    basis(knot, k, p, t, n, dn);
    Homogeneous h{0, 0, 0, 0}, ht{0, 0, 0, 0};
    for (int r = 0; r <= p; ++r) {
        add_scaled(h, n[r], curve.cvs[static_cast<std::size_t>(k - p + r)]);
        add_scaled(ht, dn[r], curve.cvs[static_cast<std::size_t>(k - p + r)]);
    }
    out.position = {h.x / h.w, h.y / h.w, h.z / h.w};
    for (int i = 0; i < 3; ++i) {
        double hi = i == 0 ? ht.x : i == 1 ? ht.y : ht.z;
        out.tangent[static_cast<std::size_t>(i)] =
            (hi - ht.w * out.position[static_cast<std::size_t>(i)]) / h.w;
    }
}

void evaluate_bezier_patch(const Homogeneous* points, int uorder, int vorder, double s, double t,
                           SurfaceEval& out, double extent) {
    auto partials = [&](double a, double b, SurfaceEval& eval) {
        double bu[kMaxOrder], dbu[kMaxOrder], bv[kMaxOrder], dbv[kMaxOrder];
        bernstein(uorder, a, bu, dbu);
        bernstein(vorder, b, bv, dbv);
        Homogeneous h{0, 0, 0, 0}, hu{0, 0, 0, 0}, hv{0, 0, 0, 0};
        for (int r = 0; r < uorder; ++r) {
            Homogeneous row{0, 0, 0, 0}, row_dv{0, 0, 0, 0};
            const Homogeneous* p = points + r * vorder;
            for (int c = 0; c < vorder; ++c) {
                add_scaled(row, bv[c], p[c]);
                add_scaled(row_dv, dbv[c], p[c]);
            }
            add_scaled(h, bu[r], row);
            add_scaled(hu, dbu[r], row);
            add_scaled(hv, bu[r], row_dv);
        }
        to_cartesian(h, hu, hv, eval);
    };
    partials(s, t, out);
    double floor = 1e-9 * extent;
    if (unit_normal(out.du, out.dv, floor, floor, out.normal)) return;
    auto normal_at = [&](double a, double b, std::array<double, 3>& normal) {
        SurfaceEval near;
        partials(a, b, near);
        return unit_normal(near.du, near.dv, floor, floor, normal);
    };
    nearby_normal(s, t, 0.0, 1.0, 0.0, 1.0, normal_at, out.normal);
}

}  // namespace sky
