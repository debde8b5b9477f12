// Building blocks shared by the NURBS operations and the patch subdivider:
// basis functions, spans, homogeneous arithmetic and the normal fallback.
// Knot vectors are read through an accessor `knot(i)` of the full vector.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "base/vecmath.h"
#include "geometry/nurbs_ops.h"

namespace sky::nurbs_detail {

inline constexpr int kMaxOrder = kMaxNurbsDegree + 1;

inline void add_scaled(Homogeneous& sum, double a, const Homogeneous& p) {
    sum.x += a * p.x;
    sum.y += a * p.y;
    sum.z += a * p.z;
    sum.w += a * p.w;
}

// In the form a + t·(b − a), which keeps coincident points (poles) exactly
// coincident through subdivision and knot insertion.
inline Homogeneous lerp(const Homogeneous& a, const Homogeneous& b, double t) {
    return {a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), a.z + t * (b.z - a.z),
            a.w + t * (b.w - a.w)};
}

// The span k (degree <= k < count) with knot(k) <= t < knot(k + 1), never an
// empty one: at the end of the range the last non-empty span. The range
// knot(degree) < knot(count) must not be empty.
template <typename Knot>
int find_span(const Knot& knot, int degree, int count, double t) {
    if (t >= knot(count)) {
        int k = count - 1;
        while (k > degree && knot(k) >= knot(count)) --k;
        return k;
    }
    if (t <= knot(degree)) {
        int k = degree;
        while (k < count - 1 && knot(k + 1) <= knot(degree)) ++k;
        return k;
    }
    int low = degree, high = count;  // knot(low) <= t < knot(high)
    while (high - low > 1) {
        int mid = (low + high) / 2;
        if (t < knot(mid)) {
            high = mid;
        } else {
            low = mid;
        }
    }
    return low;
}

// The degree + 1 basis functions that do not vanish on span k, at t, and
// their derivatives when `dn` is given. Span k must not be empty, which
// keeps every denominator positive.
template <typename Knot>
void basis(const Knot& knot, int k, int degree, double t, double* n, double* dn) {
    double left[kMaxOrder], right[kMaxOrder];
    n[0] = 1;
    for (int j = 1; j <= degree; ++j) {
        left[j] = t - knot(k + 1 - j);
        right[j] = knot(k + j) - t;
        if (j == degree && dn) {
            // From the functions of one degree lower, still in n[0..degree-1].
            for (int r = 0; r <= degree; ++r) {
                int i = k - degree + r;
                double a = r > 0 ? n[r - 1] / (knot(i + degree) - knot(i)) : 0;
                double b = r < degree ? n[r] / (knot(i + degree + 1) - knot(i + 1)) : 0;
                dn[r] = degree * (a - b);
            }
        }
        double saved = 0;
        for (int r = 0; r < j; ++r) {
            double temp = n[r] / (right[r + 1] + left[j - r]);
            n[r] = saved + right[r + 1] * temp;
            saved = left[j - r] * temp;
        }
        n[j] = saved;
    }
}

// Bernstein polynomials of `order` at s in [0, 1], and their derivatives.
inline void bernstein(int order, double s, double* b, double* db) {
    const int degree = order - 1;
    b[0] = 1;
    if (degree == 0) db[0] = 0;
    for (int j = 1; j <= degree; ++j) {
        if (j == degree) {
            db[0] = -degree * b[0];
            for (int r = 1; r < degree; ++r) db[r] = degree * (b[r - 1] - b[r]);
            db[degree] = degree * b[degree - 1];
        }
        b[j] = s * b[j - 1];
        for (int r = j - 1; r >= 1; --r) b[r] = (1 - s) * b[r] + s * b[r - 1];
        b[0] *= 1 - s;
    }
}

// Position and partials from homogeneous ones (quotient rule).
inline void to_cartesian(const Homogeneous& h, const Homogeneous& hu, const Homogeneous& hv,
                         SurfaceEval& out) {
    out.position = {h.x / h.w, h.y / h.w, h.z / h.w};
    const double hu3[3] = {hu.x, hu.y, hu.z}, hv3[3] = {hv.x, hv.y, hv.z};
    for (std::size_t i = 0; i < 3; ++i) {
        out.du[i] = (hu3[i] - hu.w * out.position[i]) / h.w;
        out.dv[i] = (hv3[i] - hv.w * out.position[i]) / h.w;
    }
}

// The unit du × dv, or false at a degenerate point: a partial shorter than
// its floor (a pole) or partials too close to parallel for a direction.
inline bool unit_normal(const std::array<double, 3>& du, const std::array<double, 3>& dv,
                        double du_floor, double dv_floor, std::array<double, 3>& normal) {
    const Imath::V3d u = to_imath(du), v = to_imath(dv);
    const double lu = length(u), lv = length(v);
    if (!(lu > du_floor) || !(lv > dv_floor)) return false;
    const Imath::V3d c = cross(u, v);
    const double lc = length(c);
    if (!(lc > 1e-10 * lu * lv)) return false;
    normal = to_array(c / lc);  // divided only once the length has passed
    return true;
}

// The normal at a degenerate point, taken from ever farther parameters
// towards the inside of the range (u first, then v, then both); zero when
// none has one. `normal_at(u, v, normal)` returns whether it found one.
template <typename NormalAt>
void nearby_normal(double u, double v, double u0, double u1, double v0, double v1,
                   const NormalAt& normal_at, std::array<double, 3>& normal) {
    const double su = u < 0.5 * (u0 + u1) ? 1 : -1, sv = v < 0.5 * (v0 + v1) ? 1 : -1;
    for (double fraction : {1e-6, 1e-4, 1e-2, 1e-1}) {
        double du = su * fraction * (u1 - u0), dv = sv * fraction * (v1 - v0);
        if (normal_at(u + du, v, normal) || normal_at(u, v + dv, normal) ||
            normal_at(u + du, v + dv, normal)) {
            return;
        }
    }
    normal = {0, 0, 0};
}

inline void hull_bound(const std::vector<Homogeneous>& cvs, double bound[6]) {
    const double big = std::numeric_limits<double>::max();
    bound[0] = bound[2] = bound[4] = big;
    bound[1] = bound[3] = bound[5] = -big;
    for (const Homogeneous& p : cvs) {
        const double c[3] = {p.x / p.w, p.y / p.w, p.z / p.w};
        for (int i = 0; i < 3; ++i) {
            bound[2 * i] = std::min(bound[2 * i], c[i]);
            bound[2 * i + 1] = std::max(bound[2 * i + 1], c[i]);
        }
    }
    if (cvs.empty()) std::fill(bound, bound + 6, 0.0);
}

}  // namespace sky::nurbs_detail
