// Trimmed surfaces: the trim regions triangulated over the subdivision's
// sample points, then evaluated on the surface.
#include "geometry/trimmed_surface.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "geometry/triangulate.h"
#include "platform/report.h"

namespace sky {
namespace {

// More points than this along the trim loops of one region would only
// describe the loops more finely than the surface is sampled anywhere.
constexpr std::size_t kMaxLoopPoints = std::size_t{1} << 22;

// The smallest cell width and height near each place of the domain, on a
// coarse grid of buckets: how finely a trim loop crossing there is split.
class CellSizes {
public:
    CellSizes(const double domain[4], std::span<const UvCell> cells) {
        u0_ = domain[0];
        v0_ = domain[1];
        const double side = std::ceil(std::sqrt(static_cast<double>(cells.size())));
        nu_ = nv_ = static_cast<int>(std::clamp(side, 1.0, 256.0));
        su_ = nu_ / std::max(domain[2] - domain[0], 1e-300);
        sv_ = nv_ / std::max(domain[3] - domain[1], 1e-300);
        const double inf = std::numeric_limits<double>::infinity();
        sizes_.assign(static_cast<std::size_t>(nu_) * nv_, {inf, inf});
        for (const UvCell& c : cells) {
            const int i0 = column(c.u0), i1 = column(c.u1), j0 = row(c.v0), j1 = row(c.v1);
            for (int i = i0; i <= i1; ++i) {
                for (int j = j0; j <= j1; ++j) {
                    auto& s = sizes_[static_cast<std::size_t>(i) * nv_ + j];
                    s[0] = std::min(s[0], c.u1 - c.u0);
                    s[1] = std::min(s[1], c.v1 - c.v0);
                }
            }
        }
        // Buckets no cell reached (outside the domain's cells) take the
        // coarsest size seen, so loops there are still split sensibly.
        double wu = 0, wv = 0;
        for (const auto& s : sizes_) {
            if (std::isfinite(s[0])) wu = std::max(wu, s[0]);
            if (std::isfinite(s[1])) wv = std::max(wv, s[1]);
        }
        if (wu <= 0) wu = domain[2] - domain[0];
        if (wv <= 0) wv = domain[3] - domain[1];
        for (auto& s : sizes_) {
            if (!std::isfinite(s[0])) s[0] = wu;
            if (!std::isfinite(s[1])) s[1] = wv;
        }
    }

    const std::array<double, 2>& at(double u, double v) const {
        return sizes_[static_cast<std::size_t>(column(u)) * nv_ + row(v)];
    }

private:
    int column(double u) const {
        const double x = (u - u0_) * su_;
        return x > 0 ? std::min(static_cast<int>(std::fmin(x, 1e9)), nu_ - 1) : 0;
    }
    int row(double v) const {
        const double y = (v - v0_) * sv_;
        return y > 0 ? std::min(static_cast<int>(std::fmin(y, 1e9)), nv_ - 1) : 0;
    }

    double u0_ = 0, v0_ = 0, su_ = 1, sv_ = 1;
    int nu_ = 1, nv_ = 1;
    std::vector<std::array<double, 2>> sizes_;
};

// A loop with every edge split into pieces no longer than the cells it
// crosses, so that the triangles along the trim are as fine as the rest.
bool refine_loop(const TrimLoop& loop, const CellSizes& sizes, std::vector<Point2>& out) {
    out.clear();
    const std::size_t n = loop.points.size();
    for (std::size_t k = 0; k < n; ++k) {
        const Point2& a = loop.points[k];
        const Point2& b = loop.points[(k + 1) % n];
        out.push_back(a);
        const double du = b[0] - a[0], dv = b[1] - a[1];
        double t = 0;
        while (true) {
            const auto& size = sizes.at(a[0] + t * du, a[1] + t * dv);
            double step = std::numeric_limits<double>::infinity();
            if (du != 0) step = std::min(step, size[0] / std::fabs(du));
            if (dv != 0) step = std::min(step, size[1] / std::fabs(dv));
            if (!(step > 1e-9)) step = 1e-9;  // a degenerate cell must not stall the walk
            t += step;
            if (t >= 1 - 1e-9) break;
            out.push_back({a[0] + t * du, a[1] + t * dv});
            if (out.size() > kMaxLoopPoints) return false;
        }
    }
    return true;
}

// The loop cut to the surface's range, one side of the range after the
// other. Outside the range there is no surface; cut there, the loop still
// keeps every point of the range it kept before (an inside point's winding
// number does not change), and its pieces along the range's sides merely
// retrace them.
bool clip_to_domain(const TrimLoop& loop, const double domain[4], TrimLoop& out) {
    for (const auto& p : loop.points) {
        if (!std::isfinite(p[0]) || !std::isfinite(p[1])) return false;
    }
    out.points = loop.points;
    std::vector<std::array<double, 2>> next;
    for (int side = 0; side < 4; ++side) {
        const int axis = side % 2;
        const double limit = domain[side];
        const bool low = side < 2;
        auto in = [&](const std::array<double, 2>& p) {
            return low ? p[axis] >= limit : p[axis] <= limit;
        };
        next.clear();
        const std::size_t n = out.points.size();
        for (std::size_t k = 0; k < n; ++k) {
            const auto& a = out.points[k];
            const auto& b = out.points[(k + 1) % n];
            if (in(a)) next.push_back(a);
            if (in(a) != in(b)) {
                const double t = (limit - a[axis]) / (b[axis] - a[axis]);
                std::array<double, 2> cut{a[0] + t * (b[0] - a[0]), a[1] + t * (b[1] - a[1])};
                cut[axis] = limit;
                next.push_back(cut);
            }
        }
        out.points.swap(next);
    }
    return true;
}

double clamp_to(double x, double low, double high) {
    return x < low ? low : (x > high ? high : x);
}

bool same_position(const SurfacePoint& a, const SurfacePoint& b) {
    return a.position[0] == b.position[0] && a.position[1] == b.position[1] &&
           a.position[2] == b.position[2];
}

}  // namespace

void BuiltSurfaceEvaluator::point(double u, double v, SurfacePoint& out) const {
    SurfaceEval eval;
    evaluate_surface(surface_, u, v, eval);
    for (std::size_t i = 0; i < 3; ++i) {
        out.position[i] = eval.position[i];
        out.normal[i] = eval.normal[i];
    }
    out.u = u;
    out.v = v;
}

void BuiltSurfaceEvaluator::domain(double out[4]) const {
    out[0] = surface_.umin();
    out[1] = surface_.vmin();
    out[2] = surface_.umax();
    out[3] = surface_.vmax();
}

std::vector<TrimRegion> clean_trim_regions(std::span<const TrimRegion> regions) {
    std::vector<TrimRegion> cleaned;
    for (const TrimRegion& region : regions) {
        TrimRegion kept;
        for (std::size_t l = 0; l < region.loops.size(); ++l) {
            const auto& points = region.loops[l].points;
            TrimLoop loop;
            if (points.size() == 1) {
                rptWarning("Ignoring a trim curve with only one point.");
            } else {
                for (const auto& p : points) {
                    if (loop.points.empty() || loop.points.back() != p) loop.points.push_back(p);
                }
                while (loop.points.size() > 1 && loop.points.back() == loop.points.front())
                    loop.points.pop_back();
                if (loop.points.size() == 1) {
                    rptError(
                        "Error: trim curve reduced to a single point with duplicates removed.\n");
                    loop.points.clear();
                }
            }
            if (loop.points.empty() && l == 0) break;  // no outline: the holes go too
            if (!loop.points.empty()) kept.loops.push_back(std::move(loop));
        }
        if (!kept.loops.empty()) cleaned.push_back(std::move(kept));
    }
    return cleaned;
}

TrimmedResult tessellate_trimmed(const SurfaceEvaluator& surface, const double domain[4],
                                 std::span<const TrimRegion> regions, std::span<const UvCell> cells,
                                 TriangleSink& sink) {
    TrimmedResult result;
    const CellSizes sizes(domain, cells);

    // Every cell corner once, row by row: neighbours follow each other.
    std::vector<Point2> corners;
    corners.reserve(cells.size() * 4);
    for (const UvCell& c : cells) {
        corners.push_back({c.u0, c.v0});
        corners.push_back({c.u1, c.v0});
        corners.push_back({c.u0, c.v1});
        corners.push_back({c.u1, c.v1});
    }
    std::sort(corners.begin(), corners.end());
    corners.erase(std::unique(corners.begin(), corners.end()), corners.end());

    std::vector<std::vector<Point2>> loops;
    std::vector<Loop2> spans;
    TrimLoop clipped;
    std::vector<Point2> inside;
    Triangulation triangulation;
    std::vector<SurfacePoint> points;
    std::vector<char> evaluated;
    for (std::size_t r = 0; r < regions.size(); ++r) {
        const TrimRegion& region = regions[r];
        loops.resize(region.loops.size());
        spans.clear();
        double box[4] = {
            std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
            -std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
        bool refined = true, finite = true;
        for (std::size_t l = 0; l < region.loops.size() && refined && finite; ++l) {
            finite = clip_to_domain(region.loops[l], domain, clipped);
            refined = finite && refine_loop(clipped, sizes, loops[l]);
            spans.emplace_back(loops[l]);
            if (l == 0) {
                for (const Point2& p : loops[l]) {
                    box[0] = std::min(box[0], p[0]);
                    box[1] = std::min(box[1], p[1]);
                    box[2] = std::max(box[2], p[0]);
                    box[3] = std::max(box[3], p[1]);
                }
            }
        }
        if (!finite || !refined) {
            result.failures.emplace_back(static_cast<int>(r),
                                         finite ? TrimFailure::failed : TrimFailure::invalid);
            continue;
        }
        // Only corners that can lie in the region: the outline's box.
        inside.clear();
        auto first = std::lower_bound(corners.begin(), corners.end(), Point2{box[0], box[1]});
        for (auto it = first; it != corners.end() && (*it)[0] <= box[2]; ++it) {
            if ((*it)[1] >= box[1] && (*it)[1] <= box[3]) inside.push_back(*it);
        }

        const TriangulateStatus status = triangulate_region(spans, inside, triangulation);
        if (status == TriangulateStatus::empty) {
            result.failures.emplace_back(static_cast<int>(r), TrimFailure::degenerate);
            continue;
        }
        if (status == TriangulateStatus::invalid || status == TriangulateStatus::failed) {
            result.failures.emplace_back(static_cast<int>(r), status == TriangulateStatus::invalid
                                                                  ? TrimFailure::invalid
                                                                  : TrimFailure::failed);
            continue;
        }

        points.resize(triangulation.points.size());
        evaluated.assign(triangulation.points.size(), 0);
        auto point = [&](std::int32_t index) -> const SurfacePoint& {
            const auto k = static_cast<std::size_t>(index);
            if (!evaluated[k]) {
                const Point2& p = triangulation.points[k];
                surface.point(clamp_to(p[0], domain[0], domain[2]),
                              clamp_to(p[1], domain[1], domain[3]), points[k]);
                evaluated[k] = 1;
            }
            return points[k];
        };
        for (const auto& t : triangulation.triangles) {
            const SurfacePoint &a = point(t[0]), &b = point(t[1]), &c = point(t[2]);
            // Corners that meet in space (at a pole) make nothing to see.
            if (same_position(a, b) || same_position(b, c) || same_position(a, c)) continue;
            sink.add_triangle(a, b, c);
            ++result.triangles;
        }
        ++result.regions_done;
    }
    return result;
}

}  // namespace sky
