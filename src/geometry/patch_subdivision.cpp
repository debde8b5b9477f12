// Classic subdivision of patches into triangles, and the choice between it
// and the tessellator (geometry/patch_tessellator.h).
//
// The surface is converted to Bézier spans (raised to cubic when lower).
// Uniform subdivision cuts every span into udivisions × vdivisions cells and
// walks the whole surface as one grid of rows, so points on span borders are
// evaluated once and neighbouring spans share them exactly.
//
// Adaptive subdivision halves each span's control grid (de Casteljau at the
// middle) until it is flat or the maximum level is reached. The leaves are
// collected on a lattice of the finest level across all spans and meshed
// without cracks at the T-junctions between levels (geometry/lattice_mesh.h).
//
// Points are evaluated on the Bézier spans, which are the surface itself;
// each carries its position, unit normal and the surface's (u, v).
//
// A trimmed patch is subdivided the same way, but its leaves only say where
// the surface must be sampled: the trim regions are triangulated over their
// corners (trimmed_surface.h).
#include "geometry/patch_subdivision.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "base/vecmath.h"
#include "geometry/lattice_mesh.h"
#include "geometry/nurbs_internal.h"
#include "geometry/patch_tessellator.h"
#include "geometry/tessellate.h"
#include "geometry/trimmed_surface.h"
#include "platform/fatal.h"
#include "platform/report.h"

namespace sky {

using namespace nurbs_detail;

namespace {

// An adaptive run that would keep more cells than this is refused rather
// than exhausting memory (4M cells are 8M triangles).
constexpr std::size_t kMaxAdaptiveCells = std::size_t{1} << 22;
// Uniform subdivision keeps only two rows, but a surface of more cells than
// this (128M triangles) is a mistake in the divisions, not a render.
constexpr long kMaxUniformCells = long{1} << 26;

int ceil_log2(int n) {
    int level = 0;
    while ((1 << level) < n && level < 30) ++level;
    return level;
}

// A span is never cut into fewer than one cell.
int span_divisions(int divisions) {
    if (divisions < 1) fatal("Error: the subdivision control cannot be less than 0\n");
    return divisions;
}

bool segments_flat(const std::array<double, 3>& a, const std::array<double, 3>& b, double c2) {
    const double ab = dot(a, b), aa = dot(a, a), bb = dot(b, b);
    return ab > 0 && ab * ab > c2 * aa * bb;
}

std::array<double, 3> segment(const Homogeneous& from, const Homogeneous& to) {
    return {to.x / to.w - from.x / from.w, to.y / to.w - from.y / from.w,
            to.z / to.w - from.z / from.w};
}

// The line of `count` points starting at `p` with `stride` is flat.
bool line_flat(const Homogeneous* p, int count, int stride, double c2) {
    return segments_flat(segment(p[0], p[stride]),
                         segment(p[(count - 2) * stride], p[(count - 1) * stride]), c2);
}

void set_point(const SurfaceEval& eval, double u, double v, SurfacePoint& point) {
    for (std::size_t i = 0; i < 3; ++i) {
        point.position[i] = eval.position[i];
        point.normal[i] = eval.normal[i];
    }
    point.u = u;
    point.v = v;
}

// The surface's Bézier spans and how to evaluate a point of the whole
// span grid given as (span, local parameter) in each direction.
struct Spans {
    BuiltSurface surface;
    BezierPatches bezier;

    void point(int su, double s, int sv, double t, SurfacePoint& out) const {
        SurfaceEval eval;
        evaluate_bezier_patch(bezier.patch(su, sv), bezier.uorder, bezier.vorder, s, t, eval,
                              surface.extent);
        const double u = (1 - s) * bezier.ubreaks[static_cast<std::size_t>(su)] +
                         s * bezier.ubreaks[static_cast<std::size_t>(su) + 1];
        const double v = (1 - t) * bezier.vbreaks[static_cast<std::size_t>(sv)] +
                         t * bezier.vbreaks[static_cast<std::size_t>(sv) + 1];
        set_point(eval, u, v, out);
        // On a collapsed border the sum of the basis functions rounds
        // differently from point to point; the pole itself is exact.
        const Homogeneous* grid = bezier.patch(su, sv);
        const int uo = bezier.uorder, vo = bezier.vorder;
        if (s == 0 || s == 1) snap_to_pole(grid + (s == 0 ? 0 : (uo - 1) * vo), vo, 1, out);
        if (t == 0 || t == 1) snap_to_pole(grid + (t == 0 ? 0 : vo - 1), uo, vo, out);
    }

    static void snap_to_pole(const Homogeneous* line, int count, int stride, SurfacePoint& out) {
        for (int i = 1; i < count; ++i) {
            const Homogeneous &a = line[0], &b = line[i * stride];
            if (a.x != b.x || a.y != b.y || a.z != b.z || a.w != b.w) return;
        }
        out.position[0] = line[0].x / line[0].w;
        out.position[1] = line[0].y / line[0].w;
        out.position[2] = line[0].z / line[0].w;
    }
};

// --- uniform ---------------------------------------------------------------

bool uniform(const Spans& spans, int udivisions, int vdivisions, TriangleSink& sink) {
    const int ud = span_divisions(udivisions), vd = span_divisions(vdivisions);
    const BezierPatches& b = spans.bezier;
    const long rows = static_cast<long>(b.uspans) * ud, columns = static_cast<long>(b.vspans) * vd;
    if (rows > kMaxUniformCells / columns) return false;
    std::vector<SurfacePoint> previous(static_cast<std::size_t>(columns + 1)),
        current(previous.size());
    for (long i = 0; i <= rows; ++i) {
        const int su = static_cast<int>(std::min<long>(i / ud, b.uspans - 1));
        const double s = static_cast<double>(i - static_cast<long>(su) * ud) / ud;
        for (long j = 0; j <= columns; ++j) {
            const int sv = static_cast<int>(std::min<long>(j / vd, b.vspans - 1));
            const double t = static_cast<double>(j - static_cast<long>(sv) * vd) / vd;
            spans.point(su, s, sv, t, current[static_cast<std::size_t>(j)]);
        }
        if (i > 0) {
            for (std::size_t j = 0; j < static_cast<std::size_t>(columns); ++j) {
                // Counter-clockwise in (u, v), so seen from the du × dv side.
                emit_unless_degenerate(sink, previous[j], current[j], current[j + 1]);
                emit_unless_degenerate(sink, previous[j], current[j + 1], previous[j + 1]);
            }
        }
        previous.swap(current);
    }
    return true;
}

// --- adaptive --------------------------------------------------------------

class Adaptive : public LatticeSurface {
public:
    Adaptive(const Spans& spans, SubdivisionLevels levels, double curvature)
        : spans_(spans),
          levels_(levels),
          c2_(curvature * curvature),
          order_u_(spans.bezier.uorder),
          order_v_(spans.bezier.vorder),
          grid_size_(static_cast<std::size_t>(order_u_ * order_v_)) {}

    bool run(TriangleSink& sink) {
        if (!subdivide()) return false;
        LatticeMesher mesher;
        mesher.mesh(cells_, *this, sink);
        return true;
    }

    // The leaves as parameter rectangles, for a trimmed surface.
    bool leaf_cells(std::vector<UvCell>& out) {
        if (!subdivide()) return false;
        out.clear();
        out.reserve(cells_.size());
        for (const LatticeCell& c : cells_) {
            const auto [u0, v0] = lattice_parameters(c.i0, c.j0);
            const auto [u1, v1] = lattice_parameters(c.i1, c.j1);
            out.push_back({u0, v0, u1, v1});
        }
        return true;
    }

    void lattice_point(double i, double j, SurfacePoint& out) const override {
        const double side = static_cast<double>(1u << levels_.maximum);
        const int su = std::min(static_cast<int>(i / side), spans_.bezier.uspans - 1);
        const int sv = std::min(static_cast<int>(j / side), spans_.bezier.vspans - 1);
        spans_.point(su, i / side - su, sv, j / side - sv, out);
    }

private:
    bool subdivide() {
        const BezierPatches& b = spans_.bezier;
        if ((std::uint64_t{static_cast<std::uint32_t>(std::max(b.uspans, b.vspans))}
             << levels_.maximum) >= (std::uint64_t{1} << 32)) {
            return false;
        }
        // Two halves per depth; a split halves one direction at a time.
        grids_.resize(grid_size_ * 2 * static_cast<std::size_t>(2 * levels_.maximum + 2));
        for (int su = 0; su < b.uspans; ++su) {
            for (int sv = 0; sv < b.vspans; ++sv) {
                const std::uint32_t side = 1u << levels_.maximum;
                if (!refine(b.patch(su, sv), 0, 0, 0, static_cast<std::uint32_t>(su) * side,
                            static_cast<std::uint32_t>(sv) * side)) {
                    return false;
                }
            }
        }
        return true;
    }

    std::pair<double, double> lattice_parameters(std::uint32_t i, std::uint32_t j) const {
        const BezierPatches& b = spans_.bezier;
        const std::uint32_t side = 1u << levels_.maximum;
        auto along = [side](const std::vector<double>& breaks, int spans, std::uint32_t k) {
            const auto span =
                std::min<std::uint32_t>(k / side, static_cast<std::uint32_t>(spans - 1));
            const double s = static_cast<double>(k - span * side) / side;
            return (1 - s) * breaks[span] + s * breaks[span + 1];
        };
        return {along(b.ubreaks, b.uspans, i), along(b.vbreaks, b.vspans, j)};
    }

    bool refine(const Homogeneous* grid, int lu, int lv, int depth, std::uint32_t i0,
                std::uint32_t j0) {
        bool split_u = lu < levels_.minimum, split_v = lv < levels_.minimum;
        if (!split_u && !split_v) {
            const GridFlatness flat = grid_flatness(grid, order_u_, order_v_, std::sqrt(c2_));
            split_u = lu < levels_.maximum && !(flat.along_u && flat.diagonals);
            split_v = lv < levels_.maximum && !(flat.along_v && flat.diagonals);
        }
        const std::uint32_t du = 1u << (levels_.maximum - lu), dv = 1u << (levels_.maximum - lv);
        if (!split_u && !split_v) {
            if (cells_.size() >= kMaxAdaptiveCells) return false;
            cells_.push_back({i0, j0, i0 + du, j0 + dv});
            return true;
        }
        Homogeneous* low = grids_.data() + grid_size_ * 2 * static_cast<std::size_t>(depth);
        Homogeneous* high = low + grid_size_;
        if (split_u) {
            for (int c = 0; c < order_v_; ++c)
                split(grid + c, order_u_, order_v_, low + c, high + c);
            return refine(low, lu + 1, lv, depth + 1, i0, j0) &&
                   refine(high, lu + 1, lv, depth + 1, i0 + du / 2, j0);
        }
        for (int r = 0; r < order_u_; ++r) {
            const int row = r * order_v_;
            split(grid + row, order_v_, 1, low + row, high + row);
        }
        return refine(low, lu, lv + 1, depth + 1, i0, j0) &&
               refine(high, lu, lv + 1, depth + 1, i0, j0 + dv / 2);
    }

    // De Casteljau at the middle of a polygon of `n` points read with `stride`.
    static void split(const Homogeneous* in, int n, int stride, Homogeneous* low,
                      Homogeneous* high) {
        Homogeneous work[kMaxOrder];
        for (int i = 0; i < n; ++i) work[i] = in[i * stride];
        low[0] = work[0];
        high[(n - 1) * stride] = work[n - 1];
        for (int level = 1; level < n; ++level) {
            for (int i = 0; i < n - level; ++i) work[i] = lerp(work[i], work[i + 1], 0.5);
            low[level * stride] = work[0];
            high[(n - 1 - level) * stride] = work[n - 1 - level];
        }
    }

    const Spans& spans_;
    SubdivisionLevels levels_;
    double c2_;
    int order_u_, order_v_;
    std::size_t grid_size_;
    std::vector<Homogeneous> grids_;
    std::vector<LatticeCell> cells_;
};

// A trimmed patch: the subdivision only decides where the surface is
// sampled; the regions are triangulated over those samples.
bool trimmed(const PatchGeometry& patch, const Spans& spans, const char* name, TriangleSink& sink) {
    std::vector<UvCell> cells;
    const BezierPatches& b = spans.bezier;
    if (patch.adaptive) {
        const double curvature = std::clamp(static_cast<double>(patch.curvature), 0.0, 1.0);
        Adaptive adaptive(spans, adaptive_levels(patch.udivisions, patch.vdivisions), curvature);
        if (!adaptive.leaf_cells(cells)) {
            rptError("Problem encountered while rendering surface %s\n", name);
            return false;
        }
    } else {
        const int ud = span_divisions(patch.udivisions), vd = span_divisions(patch.vdivisions);
        if (static_cast<long>(b.uspans) * ud * b.vspans * vd > kMaxUniformCells / 64) {
            rptError("Problem encountered while rendering surface %s\n", name);
            return false;
        }
        for (int su = 0; su < b.uspans; ++su) {
            for (int i = 0; i < ud; ++i) {
                const double u0 = b.ubreaks[su] + (b.ubreaks[su + 1] - b.ubreaks[su]) * i / ud;
                const double u1 =
                    b.ubreaks[su] + (b.ubreaks[su + 1] - b.ubreaks[su]) * (i + 1) / ud;
                for (int sv = 0; sv < b.vspans; ++sv) {
                    for (int j = 0; j < vd; ++j) {
                        const double w = b.vbreaks[sv + 1] - b.vbreaks[sv];
                        cells.push_back(
                            {u0, b.vbreaks[sv] + w * j / vd, u1, b.vbreaks[sv] + w * (j + 1) / vd});
                    }
                }
            }
        }
    }
    const std::vector<TrimRegion> regions = clean_trim_regions(patch.trims);
    const BuiltSurfaceEvaluator evaluator(spans.surface);
    double domain[4];
    evaluator.domain(domain);
    const TrimmedResult result = tessellate_trimmed(evaluator, domain, regions, cells, sink);
    for (const auto& [region, failure] : result.failures) {
        // A region without area draws nothing and is no fault.
        if (failure == TrimFailure::degenerate) continue;
        rptError("Problem encountered while rendering surface %s\n", name);
        break;
    }
    return result.regions_done > 0 || result.failures.empty() ||
           std::all_of(result.failures.begin(), result.failures.end(),
                       [](const auto& f) { return f.second == TrimFailure::degenerate; });
}

}  // namespace

SubdivisionLevels adaptive_levels(int udivisions, int vdivisions) {
    SubdivisionLevels levels;
    levels.minimum = std::min(ceil_log2(span_divisions(udivisions)), kMaxSubdivisionLevel);
    levels.maximum = std::min(ceil_log2(span_divisions(vdivisions)), kMaxSubdivisionLevel);
    levels.maximum = std::max(levels.maximum, levels.minimum);
    return levels;
}

GridFlatness grid_flatness(const Homogeneous* grid, int uorder, int vorder, double curvature) {
    const double c2 = curvature * curvature;
    GridFlatness flat;
    flat.along_v = true;
    for (int r = 0; r < uorder && flat.along_v; ++r) {
        flat.along_v = line_flat(grid + r * vorder, vorder, 1, c2);
    }
    flat.along_u = true;
    for (int c = 0; c < vorder && flat.along_u; ++c) {
        flat.along_u = line_flat(grid + c, uorder, vorder, c2);
    }
    auto at = [&](int r, int c) -> const Homogeneous& { return grid[r * vorder + c]; };
    const int lr = uorder - 1, lc = vorder - 1;
    flat.diagonals =
        segments_flat(segment(at(0, 0), at(1, 1)), segment(at(lr - 1, lc - 1), at(lr, lc)), c2) &&
        segments_flat(segment(at(0, lc), at(1, lc - 1)), segment(at(lr - 1, 1), at(lr, 0)), c2);
    return flat;
}

bool tessellate_patch(const PatchGeometry& patch, const char* name, TriangleSink& sink) {
    if (!name) name = "Patch";
    if (patch.tessellator_path)
        return tessellate_with_tessellator(patch, name, tessellator_environment(), sink);
    if (patch.udivisions < 1 || patch.vdivisions < 1) {
        fatal("Cannot have udivisions or vdivision < 1\n");
    }
    Spans spans;
    if (!build_surface(patch.surface, spans.surface)) {
        rptError("Problem encountered while rendering surface %s\n", name);
        return false;
    }
    if (!surface_to_bezier(spans.surface, spans.bezier)) {
        rptError("nurb could not be converted to bezier basis!\n");
        return false;
    }
    raise_to_cubic(spans.bezier);
    if (!patch.trims.empty()) return trimmed(patch, spans, name, sink);
    bool done;
    if (patch.adaptive) {
        const double curvature = std::clamp(static_cast<double>(patch.curvature), 0.0, 1.0);
        Adaptive adaptive(spans, adaptive_levels(patch.udivisions, patch.vdivisions), curvature);
        done = adaptive.run(sink);
    } else {
        done = uniform(spans, patch.udivisions, patch.vdivisions, sink);
    }
    if (!done) {
        rptError("Problem encountered while rendering surface %s\n", name);
        return false;
    }
    return true;
}

}  // namespace sky
