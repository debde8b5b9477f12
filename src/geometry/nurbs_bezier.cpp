// Bézier form of NURBS surfaces and curves, degree raising, and the
// refinement of curves into polylines.
//
// A span's Bézier points are its blossom values f(a,…,a, b,…,b) at the span's
// ends a and b: de Boor's algorithm run with a at some levels and b at the
// others. That is knot insertion of a and b to full multiplicity done for
// one span at a time, and it reads only the 2d knots around the span, so the
// implied outermost knots never matter.
#include <algorithm>
#include <cmath>

#include "geometry/nurbs_internal.h"
#include "geometry/nurbs_ops.h"

namespace sky {

using namespace nurbs_detail;

namespace {

// The Bézier points of span k (degree p) of control points `cvs`: p + 1
// groups of m homogeneous values each (m > 1 converts whole rows at once).
// `work` is scratch of at least (p + 1) · m values.
template <typename Knot>
void span_to_bezier(const Knot& knot, int p, int k, const Homogeneous* cvs, int m, Homogeneous* out,
                    Homogeneous* work) {
    const double a = knot(k), b = knot(k + 1);
    const std::size_t group = static_cast<std::size_t>(m);
    for (int i = 0; i <= p; ++i) {
        std::copy(cvs, cvs + (p + 1) * group, work);
        for (int r = 1; r <= p; ++r) {
            const double t = r <= p - i ? a : b;
            for (int j = k; j >= k - p + r; --j) {
                const double alpha = (t - knot(j)) / (knot(j + p + 1 - r) - knot(j));
                Homogeneous* to = work + static_cast<std::size_t>(j - (k - p)) * group;
                const Homogeneous* from = to - group;
                for (std::size_t c = 0; c < group; ++c) to[c] = lerp(from[c], to[c], alpha);
            }
        }
        std::copy(work + p * group, work + (p + 1) * group, out + i * group);
    }
}

// The non-empty spans of a direction, or false when its knots decrease.
template <typename Knot>
bool spans_of(const Knot& knot, int degree, int count, std::vector<int>& spans,
              std::vector<double>& breaks) {
    spans.clear();
    breaks.clear();
    for (int k = degree; k < count; ++k) {
        const double a = knot(k), b = knot(k + 1);
        if (!(a <= b)) return false;
        if (a < b) {
            spans.push_back(k);
            breaks.push_back(a);
        }
    }
    if (spans.empty()) return false;
    breaks.push_back(knot(spans.back() + 1));
    return true;
}

}  // namespace

bool surface_to_bezier(const BuiltSurface& s, BezierPatches& out) {
    auto uknot = [&](int i) { return s.uknots.full(i); };
    auto vknot = [&](int i) { return s.vknots.full(i); };
    const int p = s.udegree, q = s.vdegree;
    std::vector<int> uspans, vspans;
    if (!spans_of(uknot, p, s.ucount, uspans, out.ubreaks) ||
        !spans_of(vknot, q, s.vcount, vspans, out.vbreaks)) {
        return false;
    }
    out.uorder = p + 1;
    out.vorder = q + 1;
    out.uspans = static_cast<int>(uspans.size());
    out.vspans = static_cast<int>(vspans.size());
    const std::size_t patch_size = static_cast<std::size_t>(out.uorder * out.vorder);
    out.points.resize(patch_size * uspans.size() * vspans.size());
    std::vector<Homogeneous> rows(patch_size), work(patch_size);
    Homogeneous* patch = out.points.data();
    for (int ku : uspans) {
        for (int kv : vspans) {
            // Each row along v first, then the rows as groups along u.
            for (int r = 0; r <= p; ++r) {
                span_to_bezier(vknot, q, kv, &s.cv(ku - p + r, kv - q), 1,
                               rows.data() + r * out.vorder, work.data());
            }
            span_to_bezier(uknot, p, ku, rows.data(), out.vorder, patch, work.data());
            patch += patch_size;
        }
    }
    return true;
}

bool curve_to_bezier(const BuiltCurve& curve, BezierCurves& out) {
    auto knot = [&](int i) { return curve.knots.full(i); };
    const int p = curve.degree;
    std::vector<int> spans;
    if (!spans_of(knot, p, curve.count, spans, out.breaks)) return false;
    out.order = p + 1;
    out.spans = static_cast<int>(spans.size());
    out.points.resize(static_cast<std::size_t>(out.order) * spans.size());
    std::vector<Homogeneous> work(static_cast<std::size_t>(out.order));
    for (std::size_t i = 0; i < spans.size(); ++i) {
        span_to_bezier(knot, p, spans[i], &curve.cvs[static_cast<std::size_t>(spans[i] - p)], 1,
                       out.points.data() + i * static_cast<std::size_t>(out.order), work.data());
    }
    return true;
}

void raise_bezier_degree(const Homogeneous* in, int order, int stride, Homogeneous* out) {
    out[0] = in[0];
    out[order] = in[static_cast<std::ptrdiff_t>(order - 1) * stride];
    for (int i = 1; i < order; ++i) {
        const double a = static_cast<double>(i) / order;
        out[i] = lerp(in[static_cast<std::ptrdiff_t>(i) * stride],
                      in[static_cast<std::ptrdiff_t>(i - 1) * stride], a);
    }
}

namespace {

// Raises a polygon of `order` points (read with `stride`) to 4 points.
void raise_polygon_to_cubic(const Homogeneous* in, int order, int stride, Homogeneous* out) {
    Homogeneous a[4], b[4];
    for (int i = 0; i < order; ++i) a[i] = in[static_cast<std::ptrdiff_t>(i) * stride];
    for (; order < 4; ++order) {
        raise_bezier_degree(a, order, 1, b);
        std::copy(b, b + order + 1, a);
    }
    std::copy(a, a + 4, out);
}

}  // namespace

void raise_to_cubic(BezierPatches& patches) {
    const int uo = patches.uorder, vo = patches.vorder;
    if (uo >= 4 && vo >= 4) return;
    const int nuo = std::max(uo, 4), nvo = std::max(vo, 4);
    const std::size_t count = static_cast<std::size_t>(patches.uspans) * patches.vspans;
    std::vector<Homogeneous> raised(count * static_cast<std::size_t>(nuo * nvo));
    std::vector<Homogeneous> rows(static_cast<std::size_t>(uo * nvo));
    for (std::size_t i = 0; i < count; ++i) {
        const Homogeneous* in = patches.points.data() + i * static_cast<std::size_t>(uo * vo);
        Homogeneous* out = raised.data() + i * static_cast<std::size_t>(nuo * nvo);
        for (int r = 0; r < uo; ++r) {
            if (vo < 4) {
                raise_polygon_to_cubic(in + r * vo, vo, 1, rows.data() + r * nvo);
            } else {
                std::copy(in + r * vo, in + (r + 1) * vo, rows.data() + r * nvo);
            }
        }
        for (int c = 0; c < nvo; ++c) {
            if (uo < 4) {
                Homogeneous column[4];
                raise_polygon_to_cubic(rows.data() + c, uo, nvo, column);
                for (int r = 0; r < 4; ++r) out[r * nvo + c] = column[r];
            } else {
                for (int r = 0; r < uo; ++r)
                    out[r * nvo + c] = rows[static_cast<std::size_t>(r * nvo + c)];
            }
        }
    }
    patches.points.swap(raised);
    patches.uorder = nuo;
    patches.vorder = nvo;
}

void raise_to_cubic(BezierCurves& curves) {
    if (curves.order >= 4) return;
    std::vector<Homogeneous> raised(static_cast<std::size_t>(curves.spans) * 4);
    for (int s = 0; s < curves.spans; ++s) {
        raise_polygon_to_cubic(curves.span(s), curves.order, 1, raised.data() + s * 4);
    }
    curves.points.swap(raised);
    curves.order = 4;
}

// --- refinement ------------------------------------------------------------

namespace {

// The Bézier polygon at t by de Casteljau.
Homogeneous de_casteljau(const Homogeneous* points, int order, double t, Homogeneous* work) {
    std::copy(points, points + order, work);
    for (int level = order - 1; level > 0; --level) {
        for (int i = 0; i < level; ++i) work[i] = lerp(work[i], work[i + 1], t);
    }
    return work[0];
}

std::array<double, 3> cartesian(const Homogeneous& h) {
    return {h.x / h.w, h.y / h.w, h.z / h.w};
}

// Appends `steps` points after the span's start: the polynomial's first
// `order` values make its difference table, which then steps along.
void step_span(const Homogeneous* points, int order, int steps,
               std::vector<std::array<double, 3>>& out) {
    Homogeneous table[kMaxOrder], work[kMaxOrder];
    const double h = 1.0 / steps;
    for (int i = 0; i < order; ++i) table[i] = de_casteljau(points, order, i * h, work);
    // Turn the values into forward differences in place: table[j] = Δ^j f(0).
    for (int j = 1; j < order; ++j) {
        for (int i = order - 1; i >= j; --i) {
            table[i] = {table[i].x - table[i - 1].x, table[i].y - table[i - 1].y,
                        table[i].z - table[i - 1].z, table[i].w - table[i - 1].w};
        }
    }
    for (int step = 0; step < steps; ++step) {
        for (int j = 0; j < order - 1; ++j) add_scaled(table[j], 1, table[j + 1]);
        out.push_back(cartesian(table[0]));
    }
}

}  // namespace

bool refine_curve(const NurbsCurve& curve, int steps, std::vector<std::array<double, 3>>& points) {
    BuiltCurve built;
    BezierCurves spans;
    if (!build_curve(curve, built) || !curve_to_bezier(built, spans)) return false;
    raise_to_cubic(spans);
    steps = std::max(steps, 1);
    const std::size_t first = points.size();
    points.push_back(cartesian(spans.span(0)[0]));
    for (int s = 0; s < spans.spans; ++s) step_span(spans.span(s), spans.order, steps, points);
    const auto& start = points[first];
    const auto& last = points.back();
    if (points.size() - first > 1 && std::fabs(last[0] - start[0]) <= 1e-6 &&
        std::fabs(last[1] - start[1]) <= 1e-6) {
        points.pop_back();
    }
    return true;
}

}  // namespace sky
