// The tessellator: the initial iso-parametric grid, quadtree refinement by
// flatness and edge length, crack-free meshing or trimmed faces, and the
// failure reports with their diagnostic dumps.
//
// Coordinates: the surface's (u, v) parameters, and an integer lattice on
// which every leaf's corners lie: grid cell (a, b) is the lattice square
// [a·2^L, (a+1)·2^L] × [b·2^L, (b+1)·2^L] for the deepest level L, and a
// lattice coordinate maps linearly onto its grid cell's parameter range.
// Grid lines, span borders among them, are therefore sampled exactly.
//
// Flatness is measured in object space against the surface's size (the
// diagonal of its control net's bound): a tolerance of 0.005 asks that no
// triangle stray from the surface by more than half a percent of the
// patch's size, whatever the units of the scene.
#include "geometry/patch_tessellator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <queue>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/options.h"
#include "base/vecmath.h"
#include "geometry/geometry_view.h"
#include "geometry/lattice_mesh.h"
#include "geometry/nurbs_ops.h"
#include "geometry/patch_tessellator_dump.h"
#include "geometry/trimmed_surface.h"
#include "platform/report.h"

namespace sky {
namespace {

// A refinement that would keep more leaves than this (8M triangles) is
// refused rather than exhausting memory.
constexpr std::size_t kMaxLeaves = std::size_t{1} << 22;
// A control net smaller than this across is taken for geometry scaled to
// nothing.
constexpr double kSmallestExtent = 1e-10;
// Borders whose samples lie within this fraction of the surface's size of
// each other are one point (a pole) or one curve (a seam).
constexpr double kCoincident = 1e-9;
constexpr int kBorderSamples = 17;

using Vec = std::array<double, 3>;

// How far `p` lies from the middle of the chord from `a` to `b`.
double deviation(const Vec& p, const Vec& a, const Vec& b) {
    const Vec middle = {0.5 * (a[0] + b[0]), 0.5 * (a[1] + b[1]), 0.5 * (a[2] + b[2])};
    return distance(p, middle);
}

// --- environment -----------------------------------------------------------

bool whole_number(const char* text, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 10);  // beyond long: the largest, clamped later
    if (end == text) return false;
    while (*end == ' ' || *end == '\t') ++end;
    return *end == '\0';
}

bool real_number(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    if (end == text) return false;
    while (*end == ' ' || *end == '\t') ++end;
    return *end == '\0';
}

// --- the initial grid ------------------------------------------------------

// The distinct knot values of a direction's parameter range: its span borders.
std::vector<double> span_borders(const KnotNodes& knots, int degree, int count) {
    std::vector<double> borders;
    for (int k = degree; k <= count; ++k) {
        const double value = knots.full(k);
        if (borders.empty() || value > borders.back()) borders.push_back(value);
    }
    return borders;
}

// The parameters of `cells` + 1 grid lines. With at least as many cells as
// spans every span border is a line and each span is divided evenly, the
// spans whose cells would be widest getting the next cell; with fewer, the
// lines fall on borders spread evenly among them.
std::vector<double> grid_lines(const std::vector<double>& borders, int cells) {
    const int spans = static_cast<int>(borders.size()) - 1;
    std::vector<double> lines;
    lines.reserve(static_cast<std::size_t>(cells) + 1);
    if (cells < spans) {
        for (int k = 0; k <= cells; ++k)
            lines.push_back(borders[static_cast<std::size_t>(std::int64_t{k} * spans / cells)]);
        return lines;
    }
    auto width = [&](int s) {
        return borders[static_cast<std::size_t>(s) + 1] - borders[static_cast<std::size_t>(s)];
    };
    std::vector<int> count(static_cast<std::size_t>(spans), 1);
    std::priority_queue<std::pair<double, int>> widest;  // cell width, −span
    for (int s = 0; s < spans; ++s) widest.push({width(s), -s});
    for (int extra = cells - spans; extra > 0; --extra) {
        const int s = -widest.top().second;
        widest.pop();
        const int n = ++count[static_cast<std::size_t>(s)];
        widest.push({width(s) / n, -s});
    }
    for (int s = 0; s < spans; ++s) {
        const int n = count[static_cast<std::size_t>(s)];
        for (int k = 0; k < n; ++k)
            lines.push_back(borders[static_cast<std::size_t>(s)] + width(s) * k / n);
    }
    lines.push_back(borders.back());
    return lines;
}

// Width over height of the current view's window; 1 before there is one.
// The view is set before each pass and only read while it renders, so every
// thread sees the same ratio.
double view_ratio() {
    const GeometryView& view = geometry_view();
    const double width = static_cast<double>(view.xright) - view.xleft + 1;
    const double height = static_cast<double>(view.yhigh) - view.ylow + 1;
    return width > 0 && height > 0 ? width / height : 1.0;
}

int at_least_one(double cells) {
    return static_cast<int>(std::clamp(cells, 1.0, 1e9));
}

// Fills the grid fields of `setup` from the surface, the patch and the
// environment. False when the grid cannot be set up.
bool choose_grid(const BuiltSurface& s, const PatchGeometry& patch,
                 const TessellatorEnvironment& environment, TessellatorSetup& setup) {
    setup.udegree = s.udegree;
    setup.vdegree = s.vdegree;
    setup.uborders = span_borders(s.uknots, s.udegree, s.ucount);
    setup.vborders = span_borders(s.vknots, s.vdegree, s.vcount);
    setup.uspans = static_cast<int>(setup.uborders.size()) - 1;
    setup.vspans = static_cast<int>(setup.vborders.size()) - 1;
    if (setup.uspans < 1 || setup.vspans < 1) return false;
    double ucells, vcells;
    if (patch.fixed_grid > 0) {
        setup.mode = InitialGridMode::span;
        ucells = std::trunc(view_ratio() * patch.fixed_grid);
        vcells = patch.fixed_grid;
    } else if (environment.degree_grid || s.udegree < 2 || s.vdegree < 2) {
        setup.mode = InitialGridMode::degree;
        ucells = static_cast<double>(setup.uspans) * s.udegree;
        vcells = static_cast<double>(setup.vspans) * s.vdegree;
    } else {
        setup.mode = InitialGridMode::span;
        ucells = std::max(setup.uspans, s.uform == NURBS_CLOSED ? 8 : 3);
        vcells = std::max(setup.vspans, s.vform == NURBS_CLOSED ? 8 : 3);
    }
    ucells = std::max(ucells, 1.0);
    vcells = std::max(vcells, 1.0);
    if (ucells * vcells > kMaxInitialGridCells) {
        const double scale = std::sqrt(kMaxInitialGridCells / (ucells * vcells));
        ucells = std::round(ucells * scale);
        vcells = std::round(vcells * scale);
    }
    setup.ucells = at_least_one(ucells);
    setup.vcells = at_least_one(vcells);
    // Lattice coordinates are 32-bit: the deepest level is lowered where the
    // grid times 2^level would not fit (level 18 at 10000 cells, far finer
    // than any tolerance asks for).
    setup.max_level = environment.max_level;
    const std::uint64_t widest = static_cast<std::uint64_t>(std::max(setup.ucells, setup.vcells));
    while (setup.max_level > 0 && (widest << setup.max_level) >= (std::uint64_t{1} << 32))
        --setup.max_level;
    return (widest << setup.max_level) < (std::uint64_t{1} << 32);
}

// --- sampling the surface --------------------------------------------------

// The surface at grid and lattice coordinates. Points on a border collapsed
// to a pole take the pole's one position, and points on the far side of a
// seam (a closed direction's borders meeting) the position of the near side,
// so that triangles meeting there share their corners exactly.
class Sampler : public LatticeSurface, public SurfaceEvaluator {
public:
    Sampler(const BuiltSurface& surface, const TessellatorSetup& setup)
        : s_(surface), side_(std::uint32_t{1} << setup.max_level) {
        ulines_ = grid_lines(setup.uborders, setup.ucells);
        vlines_ = grid_lines(setup.vborders, setup.vcells);
        find_poles_and_seams();
    }

    std::uint32_t side() const { return side_; }
    std::uint32_t ucells() const { return static_cast<std::uint32_t>(ulines_.size() - 1); }
    std::uint32_t vcells() const { return static_cast<std::uint32_t>(vlines_.size() - 1); }
    bool useam() const { return useam_; }
    bool vseam() const { return vseam_; }

    double u_at(double i) const { return at(ulines_, i); }
    double v_at(double j) const { return at(vlines_, j); }

    Vec position(double u, double v) const {
        SurfaceEval e;
        evaluate_surface(s_, u, v, e);
        return e.position;
    }

    void point(double u, double v, SurfacePoint& out) const override {
        SurfaceEval e;
        evaluate_surface(s_, u, v, e);
        Vec where = e.position;
        const bool far_u = useam_ && u == s_.umax(), far_v = vseam_ && v == s_.vmax();
        if (far_u || far_v) where = position(far_u ? s_.umin() : u, far_v ? s_.vmin() : v);
        if (u == s_.umin() && upole_[0]) where = upole_position_[0];
        if (u == s_.umax() && upole_[1]) where = upole_position_[1];
        if (v == s_.vmin() && vpole_[0]) where = vpole_position_[0];
        if (v == s_.vmax() && vpole_[1]) where = vpole_position_[1];
        for (std::size_t k = 0; k < 3; ++k) {
            out.position[k] = where[k];
            out.normal[k] = e.normal[k];
        }
        out.u = u;
        out.v = v;
    }

    void lattice_point(double i, double j, SurfacePoint& out) const override {
        point(u_at(i), v_at(j), out);
    }

private:
    // Lattice line i lies in grid cell i / 2^L; whole cells give their lines
    // exactly.
    double at(const std::vector<double>& lines, double i) const {
        const double side = side_;
        const double last = static_cast<double>(lines.size() - 1);
        const double cell = std::min(std::floor(i / side), last - 1);
        const double f = (i - cell * side) / side;
        const std::size_t c = static_cast<std::size_t>(cell);
        if (f <= 0) return lines[c];
        if (f >= 1) return lines[c + 1];
        return lines[c] + f * (lines[c + 1] - lines[c]);
    }

    // Samples along the border u = `u` (or v = `v` when `along_u`).
    void border(bool along_u, double fixed, Vec* samples) const {
        for (int k = 0; k < kBorderSamples; ++k) {
            const double t = static_cast<double>(k) / (kBorderSamples - 1);
            samples[k] = along_u ? position(s_.umin() + t * (s_.umax() - s_.umin()), fixed)
                                 : position(fixed, s_.vmin() + t * (s_.vmax() - s_.vmin()));
        }
    }

    bool all_within(const Vec* a, const Vec* b, double tolerance) const {
        for (int k = 0; k < kBorderSamples; ++k)
            if (!(distance(a[k], b[k]) <= tolerance)) return false;
        return true;
    }

    void find_poles_and_seams() {
        const double tolerance = kCoincident * s_.extent;
        Vec low[kBorderSamples], high[kBorderSamples], first[kBorderSamples];
        auto pole = [&](const Vec* samples, Vec& at) {
            std::fill(first, first + kBorderSamples, samples[0]);
            at = samples[0];
            return all_within(samples, first, tolerance);
        };
        border(false, s_.umin(), low);
        border(false, s_.umax(), high);
        upole_[0] = pole(low, upole_position_[0]);
        upole_[1] = pole(high, upole_position_[1]);
        useam_ = all_within(low, high, tolerance);
        border(true, s_.vmin(), low);
        border(true, s_.vmax(), high);
        vpole_[0] = pole(low, vpole_position_[0]);
        vpole_[1] = pole(high, vpole_position_[1]);
        vseam_ = all_within(low, high, tolerance);
    }

    const BuiltSurface& s_;
    std::uint32_t side_;
    std::vector<double> ulines_, vlines_;
    bool upole_[2] = {false, false}, vpole_[2] = {false, false};
    Vec upole_position_[2], vpole_position_[2];
    bool useam_ = false, vseam_ = false;
};

// --- refinement ------------------------------------------------------------

// A cell's surface samples at s, t ∈ {0, ½, 1} of its parameter ranges.
struct Samples {
    Vec p[3][3];
};

class Refiner {
public:
    Refiner(const Sampler& sampler, const TessellatorSetup& setup)
        : sampler_(sampler), setup_(setup) {}

    // The leaves of every grid cell's quadtree; false when there would be
    // too many.
    bool run(std::vector<LatticeCell>& leaves) {
        leaves_ = &leaves;
        const std::uint32_t side = sampler_.side();
        for (std::uint32_t a = 0; a < sampler_.ucells(); ++a) {
            for (std::uint32_t b = 0; b < sampler_.vcells(); ++b) {
                const LatticeCell cell{a * side, b * side, (a + 1) * side, (b + 1) * side};
                Samples samples;
                for (int x = 0; x < 3; ++x)
                    for (int y = 0; y < 3; ++y) samples.p[x][y] = sample(cell, 2 * x, 2 * y);
                if (!refine(cell, 0, 0, samples)) return false;
            }
        }
        return true;
    }

private:
    // The surface at quarter steps (qu, qv ∈ 0..4) across the cell.
    Vec sample(const LatticeCell& c, int qu, int qv) const {
        const double u = sampler_.u_at(c.i0 + (static_cast<double>(c.i1) - c.i0) * qu / 4);
        const double v = sampler_.v_at(c.j0 + (static_cast<double>(c.j1) - c.j0) * qv / 4);
        return sampler_.position(u, v);
    }

    bool refine(const LatticeCell& c, int lu, int lv, const Samples& s) {
        if (lu >= setup_.max_level && lv >= setup_.max_level) return keep(c);
        const auto& p = s.p;
        double udev = 0, vdev = 0;
        for (int k = 0; k < 3; ++k) {
            udev = std::max(udev, deviation(p[1][k], p[0][k], p[2][k]));
            vdev = std::max(vdev, deviation(p[k][1], p[k][0], p[k][2]));
        }
        const double tolerance = setup_.tolerance;
        bool split_u = !(udev <= tolerance), split_v = !(vdev <= tolerance);
        // Its triangles share the diagonal from (u0, v0) to (u1, v1): a
        // twisted cell bulges away from it.
        if (!split_u && !split_v && !(deviation(p[1][1], p[0][0], p[2][2]) <= tolerance))
            split_u = split_v = true;
        if (setup_.max_edge > 0) {
            const double limit = setup_.max_edge;
            split_u =
                split_u || distance(p[0][0], p[2][0]) > limit || distance(p[0][2], p[2][2]) > limit;
            split_v =
                split_v || distance(p[0][0], p[0][2]) > limit || distance(p[2][0], p[2][2]) > limit;
            if (!split_u && !split_v && distance(p[0][0], p[2][2]) > limit)
                split_u = split_v = true;
        }
        split_u = split_u && lu < setup_.max_level;
        split_v = split_v && lv < setup_.max_level;
        if (!split_u && !split_v) return keep(c);
        const std::uint32_t mi = split_u ? c.i0 + (c.i1 - c.i0) / 2 : c.i1;
        const std::uint32_t mj = split_v ? c.j0 + (c.j1 - c.j0) / 2 : c.j1;
        const int nu = split_u ? 2 : 1, nv = split_v ? 2 : 1;
        for (int a = 0; a < nu; ++a) {
            for (int b = 0; b < nv; ++b) {
                const LatticeCell child{a ? mi : c.i0, b ? mj : c.j0, a || !split_u ? c.i1 : mi,
                                        b || !split_v ? c.j1 : mj};
                const int cu = lu + split_u, cv = lv + split_v;
                Samples cs{};
                // The deepest cells are kept untested.
                if (cu < setup_.max_level || cv < setup_.max_level)
                    child_samples(c, s, split_u, split_v, a, b, cs);
                if (!refine(child, cu, cv, cs)) return false;
            }
        }
        return true;
    }

    bool keep(const LatticeCell& c) {
        if (leaves_->size() >= kMaxLeaves) return false;
        leaves_->push_back(c);
        return true;
    }

    // A child's samples: those on the parent's half steps are copied, the
    // others evaluated.
    void child_samples(const LatticeCell& parent, const Samples& s, bool split_u, bool split_v,
                       int a, int b, Samples& out) const {
        for (int x = 0; x < 3; ++x) {
            for (int y = 0; y < 3; ++y) {
                const int qu = split_u ? 2 * a + x : 2 * x;
                const int qv = split_v ? 2 * b + y : 2 * y;
                out.p[x][y] =
                    qu % 2 == 0 && qv % 2 == 0 ? s.p[qu / 2][qv / 2] : sample(parent, qu, qv);
            }
        }
    }

    const Sampler& sampler_;
    const TessellatorSetup& setup_;
    std::vector<LatticeCell>* leaves_ = nullptr;
};

// --- reports ---------------------------------------------------------------

// In one report, so that the lines of patches tessellated on other threads
// cannot come between them.
void report_set_up(const TessellatorSetup& setup) {
    if (render_options().quiet) return;
    rptUser("  degree %d by %d\n  spans  %d by %d\n  initial grid %d by %d\n", setup.udegree,
            setup.vdegree, setup.uspans, setup.vspans, setup.ucells, setup.vcells);
}

bool surface_failed(const char* name, int code) {
    rptWarning("surface %s failed to tessellate: %s", name, tessellation_error_text(code));
    rptError("object %s failed to tessellate.\n", name);
    return false;
}

// The trim regions one face at a time, each over the same leaves. A region
// whose outline cleans away draws nothing and is no failure. There are no
// 3-D trim boundaries here to repair before trying a face again, so a face
// that fails is reported at once.
bool tessellate_faces(const PatchGeometry& patch, const char* name, const BuiltSurface& surface,
                      const Sampler& sampler, const std::vector<LatticeCell>& leaves,
                      const TessellatorSetup& setup, const TessellatorEnvironment& environment,
                      TriangleSink& sink) {
    std::vector<UvCell> cells;
    cells.reserve(leaves.size());
    for (const LatticeCell& c : leaves)
        cells.push_back(
            {sampler.u_at(c.i0), sampler.v_at(c.j0), sampler.u_at(c.i1), sampler.v_at(c.j1)});
    const double domain[4] = {surface.umin(), surface.vmin(), surface.umax(), surface.vmax()};
    bool failed = false;
    for (std::size_t r = 0; r < patch.trims.size(); ++r) {
        const std::vector<TrimRegion> face = clean_trim_regions({&patch.trims[r], 1});
        if (face.empty()) continue;
        const TrimmedResult result = tessellate_trimmed(sampler, domain, face, cells, sink);
        for (const auto& [index, why] : result.failures) {
            if (why != TrimFailure::failed && why != TrimFailure::invalid) continue;
            const std::string face_name = std::string(name) + ".trim" + std::to_string(r + 1);
            const char* text = tessellation_error_text(kTessellationBadPolygon);
            rptWarning("trim %s failed to tessellate: %s", face_name.c_str(), text);
            if (environment.dump &&
                !dump_failed_face(face_name, name, patch.surface, patch.trims[r], setup, text))
                rptError("Failed to dump diagnostic geometry\n");
            failed = true;
        }
    }
    if (failed) rptError("object %s failed to tessellate.\n", name);
    return !failed;
}

}  // namespace

TessellatorEnvironment read_tessellator_environment() {
    TessellatorEnvironment environment;
    environment.degree_grid = std::getenv("QUORL_AG_DEGREE_GRID") != nullptr;
    environment.dump = std::getenv("QUORL_AG_DUMP") != nullptr;
    if (const char* text = std::getenv("QUORL_AG_MAXSUBD"); text && *text) {
        long level = 0;
        if (!whole_number(text, level)) {
            rptWarning(
                "QUORL_AG_MAXSUBD=%s is not a whole number: the deepest subdivision "
                "level stays %d",
                text, kDefaultTessellatorLevel);
        } else if (level < 0 || level > kMaxTessellatorLevel) {
            environment.max_level =
                static_cast<int>(std::clamp(level, 0L, long{kMaxTessellatorLevel}));
            rptWarning("QUORL_AG_MAXSUBD=%s is outside 0 to %d: using %d", text,
                       kMaxTessellatorLevel, environment.max_level);
        } else {
            environment.max_level = static_cast<int>(level);
        }
    }
    if (const char* text = std::getenv("QUORL_AG_FTOL"); text && *text) {
        double tolerance = 0;
        if (real_number(text, tolerance) && std::isfinite(tolerance) && tolerance > 0) {
            environment.flatness = tolerance;
        } else {
            rptWarning(
                "QUORL_AG_FTOL=%s is not a positive number: each patch's "
                "surface_smoothness is used",
                text);
        }
    }
    return environment;
}

const TessellatorEnvironment& tessellator_environment() {
    static const TessellatorEnvironment environment = read_tessellator_environment();
    return environment;
}

const char* tessellation_error_text(int code) {
    switch (code) {
        case kTessellationNoGrid:
            return "could not identify reasonable isoparametric grid for the tessellation "
                   "process\n";
        case kTessellationBadPolygon:
            return "polygon failed consistency check (verify reasonable (u,v) trim boundaries; "
                   "or, try again with different tessellation parameters\n";
        case kTessellationTrimsTooComplex:
            return "(u,v) trim boundaries so complex that maximum subdivision level reached "
                   "without producing simply-connected polygons; reduce complexity of the trim "
                   "curves\n";
        case kTessellationSubdivisionFailed:
            return "failure in polygon subdivision-by-isoparam logic (try again with different "
                   "primary tessellation parameters)\n";
        case kTessellationBoundTooSmall:
            return "geometric bounding box too small - likely NULL or scaled by zero geometry.\n";
        default:
            return "unknown error condition.\n";
    }
}

bool tessellate_with_tessellator(const PatchGeometry& patch, const char* name,
                                 const TessellatorEnvironment& environment, TriangleSink& sink) {
    if (!name) name = "Patch";
    BuiltSurface surface;
    if (!build_surface(patch.surface, surface)) return surface_failed(name, kTessellationNoGrid);
    if (!(surface.extent > kSmallestExtent) || !std::isfinite(surface.extent))
        return surface_failed(name, kTessellationBoundTooSmall);
    TessellatorSetup setup;
    if (!choose_grid(surface, patch, environment, setup))
        return surface_failed(name, kTessellationNoGrid);
    double relative = environment.flatness > 0 ? environment.flatness : patch.surface_smoothness;
    if (!(relative > 0) || !std::isfinite(relative)) relative = 0.005;
    setup.tolerance = relative * surface.extent;
    const bool limited = patch.limit_edge_length && patch.max_edge_length > 0 &&
                         std::isfinite(patch.max_edge_length);
    setup.max_edge = limited ? patch.max_edge_length : 0;
    report_set_up(setup);

    Sampler sampler(surface, setup);
    std::vector<LatticeCell> leaves;
    if (!Refiner(sampler, setup).run(leaves))
        return surface_failed(name, kTessellationSubdivisionFailed);
    if (!patch.trims.empty())
        return tessellate_faces(patch, name, surface, sampler, leaves, setup, environment, sink);
    LatticeMesher mesher;
    const std::uint32_t side = sampler.side();
    mesher.mesh(leaves, sampler, sink, sampler.useam() ? sampler.ucells() * side : 0,
                sampler.vseam() ? sampler.vcells() * side : 0);
    return true;
}

}  // namespace sky
