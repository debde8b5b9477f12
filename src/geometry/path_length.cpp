// Arc length of a NURBS curve by Gauss-Legendre quadrature over pieces of
// its knot spans, each piece halved until halving no longer changes its
// length; a length is turned back into a parameter by Newton steps kept
// inside the piece that holds it.
#include "geometry/path_length.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace sky {
namespace {

constexpr double kNodes[5] = {-0.9061798459386640, -0.5384693101056831, 0.0, 0.5384693101056831,
                              0.9061798459386640};
constexpr double kWeights[5] = {0.2369268850561891, 0.4786286704993665, 0.5688888888888889,
                                0.4786286704993665, 0.2369268850561891};
constexpr int kMaxHalvings = 30;

double norm(const std::array<double, 3>& v) {
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

double speed(const BuiltCurve& curve, double t) {
    CurveEval e;
    evaluate_curve(curve, t, e);
    return norm(e.tangent);
}

double gauss_length(const BuiltCurve& curve, double a, double b) {
    const double half = 0.5 * (b - a), middle = 0.5 * (a + b);
    double sum = 0;
    for (int i = 0; i < 5; ++i) sum += kWeights[i] * speed(curve, middle + half * kNodes[i]);
    return sum * half;
}

struct Piece {
    double a, b;
    double before;  // length of the curve before a
    double length;
};

class LengthTable {
public:
    LengthTable(const BuiltCurve& curve, double tolerance) : curve_(curve), tolerance_(tolerance) {
        for (int i = curve.degree; i < curve.count; ++i) {
            const double a = curve.knots.full(i), b = curve.knots.full(i + 1);
            if (b > a) add(a, b, gauss_length(curve, a, b), 0);
        }
    }

    double total() const { return total_; }

    // The parameter at which the length from the start is `length`.
    double parameter_at(double length) const {
        if (pieces_.empty()) return curve_.tmin();
        auto it = std::upper_bound(pieces_.begin(), pieces_.end(), length,
                                   [](double s, const Piece& p) { return s < p.before; });
        const Piece& p = it == pieces_.begin() ? pieces_.front() : *(it - 1);
        const double wanted = std::clamp(length - p.before, 0.0, p.length);
        double lo = p.a, hi = p.b;
        double t = p.length > 0 ? p.a + (p.b - p.a) * (wanted / p.length) : p.a;
        for (int step = 0; step < 60; ++step) {
            const double miss = gauss_length(curve_, p.a, t) - wanted;
            if (std::fabs(miss) <= tolerance_) break;
            (miss > 0 ? hi : lo) = t;
            const double v = speed(curve_, t);
            double next = v > 0 ? t - miss / v : 0.5 * (lo + hi);
            if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
            t = next;
        }
        return t;
    }

private:
    void add(double a, double b, double whole, int depth) {
        const double m = 0.5 * (a + b);
        const double left = gauss_length(curve_, a, m), right = gauss_length(curve_, m, b);
        if (depth >= kMaxHalvings || std::fabs(left + right - whole) <= tolerance_) {
            pieces_.push_back({a, m, total_, left});
            total_ += left;
            pieces_.push_back({m, b, total_, right});
            total_ += right;
            return;
        }
        add(a, m, left, depth + 1);
        add(m, b, right, depth + 1);
    }

    const BuiltCurve& curve_;
    double tolerance_;
    std::vector<Piece> pieces_;
    double total_ = 0;
};

}  // namespace

bool point_at_length(const BuiltCurve& curve, double fraction, PathPoint& out) {
    // The tolerance scales with the curve, so that a path in millimetres and
    // one in kilometres are followed equally closely.
    const double scale = std::max(curve.extent, 1e-30);
    const LengthTable table(curve, 1e-11 * scale);
    out.length = table.total();
    if (!(out.length > 1e-12 * scale)) return false;
    const double t = table.parameter_at(std::clamp(fraction, 0.0, 1.0) * out.length);
    CurveEval e;
    evaluate_curve(curve, t, e);
    out.position = e.position;
    double size = norm(e.tangent);
    std::array<double, 3> direction = e.tangent;
    if (!(size > 1e-12 * scale)) {
        // A stationary point (coincident CVs at an end): the chord to a point
        // a little further on, or a little before at the very end.
        const double range = curve.tmax() - curve.tmin(), step = 1e-6 * range;
        const bool at_end = t + step > curve.tmax();
        CurveEval near;
        evaluate_curve(curve, at_end ? t - step : t + step, near);
        for (int i = 0; i < 3; ++i)
            direction[i] =
                at_end ? e.position[i] - near.position[i] : near.position[i] - e.position[i];
        size = norm(direction);
    }
    for (int i = 0; i < 3; ++i) out.direction[i] = size > 0 ? direction[i] / size : 0.0;
    return true;
}

}  // namespace sky
