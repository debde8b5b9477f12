#include "geometry/patch_tessellator.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "base/options.h"
#include "base/options_test_support.h"
#include "geometry/geometry_view.h"
#include "geometry/tessellate.h"
#include "geometry/tessellator_test_support.h"
#include "platform/report.h"

namespace sky {
namespace {

using namespace test;

std::string errors, output;
void capture_error(const char* text) {
    errors += text;
}
void capture_output(const char* text) {
    output += text;
}

PatchGeometry patch(NurbsSurface s, float smoothness = 0.005f) {
    PatchGeometry p;
    p.surface = std::move(s);
    p.tessellator_path = true;
    p.surface_smoothness = smoothness;
    return p;
}

// A flat square of `spans` × `spans` bilinear spans, `size` across.
NurbsSurface plane(int spans, double size = 1) {
    std::vector<double> knots;
    for (int k = 0; k <= spans; ++k) knots.push_back(k);
    std::vector<WeightedPoint> cvs;
    for (int i = 0; i <= spans; ++i)
        for (int j = 0; j <= spans; ++j) cvs.push_back({size * i / spans, size * j / spans, 0, 1});
    return surface(1, 1, spans + 1, spans + 1, knots, knots, cvs);
}

// One bicubic span, 10 × 10, whose four middle CVs rise by `height`.
NurbsSurface bump(double height) {
    std::vector<WeightedPoint> cvs;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            const bool middle = (i == 1 || i == 2) && (j == 1 || j == 2);
            cvs.push_back({10.0 * i / 3, 10.0 * j / 3, middle ? height : 0, 1});
        }
    }
    return surface(3, 3, 4, 4, bezier_knots(3), bezier_knots(3), cvs);
}

// A tube around the z axis, closed along v, whose circle bulges out just
// after the seam: the cells on the two sides of the seam refine differently.
NurbsSurface lopsided_tube() {
    const double h = kHalfRoot2;
    const double circle[9][3] = {{1, 0, 1},   {1, 1.8, h}, {0, 1, 1},  {-1, 1, h}, {-1, 0, 1},
                                 {-1, -1, h}, {0, -1, 1},  {1, -1, h}, {1, 0, 1}};
    std::vector<WeightedPoint> cvs;
    for (double z : {0.0, 1.0, 2.0})
        for (const auto& c : circle) cvs.push_back({c[0], c[1], z, c[2]});
    NurbsSurface s = surface(2, 2, 3, 9, {0, 0, 1, 1}, {0, 0, 1, 1, 2, 2, 3, 3, 4, 4}, cvs);
    s.vform = NURBS_CLOSED;
    return s;
}

TrimRegion square(double u0, double v0, double u1, double v1) {
    TrimRegion region;
    region.loops.push_back({{{u0, v0}, {u1, v0}, {u1, v1}, {u0, v1}}});
    return region;
}

class Tessellator : public testing::Test {
protected:
    void SetUp() override {
        saved_view_ = geometry_view();
        render_options().quiet = 1;
        errors.clear();
        output.clear();
        rptSetErrorCB(capture_error);
        rptSetUserCB(capture_output);
    }
    void TearDown() override {
        rptSetErrorCB(nullptr);
        rptSetUserCB(nullptr);
        geometry_view() = saved_view_;
    }

    std::vector<Triangle> tessellate(const PatchGeometry& p,
                                     const TessellatorEnvironment& environment = {}) {
        CollectingSink sink;
        EXPECT_TRUE(tessellate_with_tessellator(p, "test", environment, sink)) << errors;
        return std::move(sink.triangles);
    }

    // The set-up lines printed for the patch.
    std::string set_up(const PatchGeometry& p, const TessellatorEnvironment& environment = {}) {
        render_options().quiet = 0;
        output.clear();
        tessellate(p, environment);
        render_options().quiet = 1;
        return output;
    }

    test::RenderOptionsGuard options_;
    GeometryView saved_view_;
};

TEST_F(Tessellator, VerticesLieOnTheSurface) {
    int index = 0;
    for (NurbsSurface s : {wavy_surface(), half_flat(), quarter_cylinder(), unit_sphere()}) {
        SCOPED_TRACE(index);
        // Poles and seams share one position, within 1e-9 of the surface's size.
        expect_on_surface(s, tessellate(patch(s)), index++ >= 2, 1e-8);
    }
}

// The distance from the cylinder's or sphere's true surface at every
// triangle's centroid and edge midpoints.
double worst_distance(const std::vector<Triangle>& triangles, bool sphere) {
    double worst = 0;
    for (const Triangle& t : triangles) {
        const Vec a = position(t.a), b = position(t.b), c = position(t.c);
        for (const auto& w : {std::array<double, 3>{1 / 3.0, 1 / 3.0, 1 / 3.0},
                              {0.5, 0.5, 0},
                              {0, 0.5, 0.5},
                              {0.5, 0, 0.5}}) {
            Vec p;
            for (std::size_t k = 0; k < 3; ++k) p[k] = w[0] * a[k] + w[1] * b[k] + w[2] * c[k];
            const double r = sphere ? length(p) : std::hypot(p[0], p[1]);
            worst = std::max(worst, std::fabs(1 - r));
        }
    }
    return worst;
}

TEST_F(Tessellator, TheMeshStaysWithinTheToleranceAndFinerMeansMore) {
    for (bool sphere : {false, true}) {
        SCOPED_TRACE(sphere);
        NurbsSurface s = sphere ? unit_sphere() : quarter_cylinder();
        BuiltSurface built;
        ASSERT_TRUE(build_surface(s, built));
        std::size_t previous = 0;
        for (float smoothness : {0.02f, 0.005f, 0.001f}) {
            std::vector<Triangle> triangles = tessellate(patch(s, smoothness));
            const double tolerance = smoothness * built.extent;
            const double worst = worst_distance(triangles, sphere);
            EXPECT_LE(worst, tolerance) << smoothness;
            // No finer than it has to be.
            EXPECT_GE(worst, tolerance / 4) << smoothness;
            EXPECT_GT(triangles.size(), previous) << smoothness;
            previous = triangles.size();
        }
    }
}

TEST_F(Tessellator, RefinementFollowsCurvature) {
    std::vector<Triangle> triangles = tessellate(patch(half_flat()));
    int flat = 0, curved = 0;
    for (const Triangle& t : triangles) (t.a.u + t.b.u + t.c.u < 6 ? flat : curved)++;
    EXPECT_GT(flat, 0);
    EXPECT_GT(curved, 4 * flat);
    // The same extent, a higher bump: more triangles.
    std::size_t previous = 0;
    for (double height : {0.5, 2.0, 4.0}) {
        const std::size_t count = tessellate(patch(bump(height))).size();
        EXPECT_GT(count, previous) << height;
        previous = count;
    }
}

TEST_F(Tessellator, InitialGridFromSpansDegreesOrAFixedCount) {
    EXPECT_EQ(set_up(patch(bump(1))), "  degree 3 by 3\n  spans  1 by 1\n  initial grid 3 by 3\n");
    EXPECT_EQ(set_up(patch(half_flat())),
              "  degree 3 by 3\n  spans  4 by 1\n  initial grid 4 by 3\n");
    // A closed direction starts from at least 8 cells.
    EXPECT_EQ(set_up(patch(unit_sphere())),
              "  degree 2 by 2\n  spans  2 by 4\n  initial grid 3 by 8\n");
    // Degree 1 in either direction: spans × degree.
    EXPECT_EQ(set_up(patch(plane(2))), "  degree 1 by 1\n  spans  2 by 2\n  initial grid 2 by 2\n");
    NurbsSurface mixed = half_flat();
    mixed.vdegree = 1;
    mixed.vknots = {0, 1, 2, 3};
    EXPECT_EQ(set_up(patch(mixed)), "  degree 3 by 1\n  spans  4 by 3\n  initial grid 12 by 3\n");
    // QUORL_AG_DEGREE_GRID asks for it whatever the degrees.
    TessellatorEnvironment by_degree;
    by_degree.degree_grid = true;
    EXPECT_EQ(set_up(patch(half_flat()), by_degree),
              "  degree 3 by 3\n  spans  4 by 1\n  initial grid 12 by 3\n");

    // A fixed grid of n lines: (r·n truncated, n), r the view's width over height.
    GeometryView& view = geometry_view();
    view.xleft = 0, view.xright = 644, view.ylow = 0, view.yhigh = 485;
    PatchGeometry fixed = patch(half_flat());
    fixed.fixed_grid = 10;
    EXPECT_EQ(set_up(fixed), "  degree 3 by 3\n  spans  4 by 1\n  initial grid 13 by 10\n");
    view.xright = 99, view.yhigh = 199;
    EXPECT_EQ(set_up(fixed), "  degree 3 by 3\n  spans  4 by 1\n  initial grid 5 by 10\n");
    view.xright = 0, view.yhigh = 99;
    EXPECT_EQ(set_up(fixed), "  degree 3 by 3\n  spans  4 by 1\n  initial grid 1 by 10\n");
    // Beyond 10000 cells both are scaled by √(10000 / product), to nearest.
    view.xright = 644, view.yhigh = 485;
    fixed.fixed_grid = 200;  // 265 × 200 → 115.1 × 86.9
    EXPECT_EQ(set_up(fixed), "  degree 3 by 3\n  spans  4 by 1\n  initial grid 115 by 87\n");
    EXPECT_EQ(set_up(patch(plane(200))),
              "  degree 1 by 1\n  spans  200 by 200\n  initial grid 100 by 100\n");
    EXPECT_EQ(errors, "");
}

TEST_F(Tessellator, TheGridIsWhatTheMeshStartsFrom) {
    // A flat surface needs no refinement: two triangles per grid cell, with
    // every span border among the grid lines.
    std::vector<Triangle> triangles = tessellate(patch(plane(5)));
    EXPECT_EQ(triangles.size(), 2u * 5 * 5);
    std::vector<Triangle> capped = tessellate(patch(plane(200)));
    EXPECT_EQ(capped.size(), 2u * 100 * 100);
    // Level 0 keeps the grid however much the surface bends.
    TessellatorEnvironment unrefined;
    unrefined.max_level = 0;
    EXPECT_EQ(tessellate(patch(half_flat(), 1e-6f), unrefined).size(), 2u * 4 * 3);
}

TEST_F(Tessellator, ClosedAndMultiSpanSurfacesHaveNoCracks) {
    for (float smoothness : {0.05f, 0.002f}) {
        SCOPED_TRACE(smoothness);
        expect_closed(tessellate(patch(unit_sphere(), smoothness)));
        expect_watertight(wavy_surface(), tessellate(patch(wavy_surface(), smoothness)));
        expect_watertight(half_flat(), tessellate(patch(half_flat(), smoothness)));
        // Across the seam of a closed direction too: the only open edges are
        // the tube's two ends.
        NurbsSurface tube = lopsided_tube();
        std::vector<Triangle> triangles = tessellate(patch(tube, smoothness));
        const DirectedEdges edges = directed_edges(triangles);
        int open = 0;
        for (const auto& [edge, count] : edges) {
            const auto& [from, to] = edge;
            if (edges.count({to, from})) continue;
            ++open;
            EXPECT_TRUE(from[2] == to[2] && (from[2] == 0 || from[2] == 2))
                << "crack at (" << from[0] << ", " << from[1] << ", " << from[2] << ")";
        }
        EXPECT_GT(open, 0);
    }
}

TEST_F(Tessellator, EdgesCanBeLimitedInLength) {
    PatchGeometry p = patch(bump(0), 0.01f);  // flat, 10 across
    EXPECT_EQ(tessellate(p).size(), 2u * 3 * 3);
    p.limit_edge_length = true;
    p.max_edge_length = 0.7f;
    std::vector<Triangle> triangles = tessellate(p);
    for (const Triangle& t : triangles) {
        for (const auto& [a, b] : {std::pair{&t.a, &t.b}, {&t.b, &t.c}, {&t.c, &t.a}}) {
            const Vec d = sub(position(*a), position(*b));
            ASSERT_LE(length(d), 0.7 + 1e-9);
        }
    }
    EXPECT_GE(triangles.size(), 2u * 15 * 15);
    p.max_edge_length = 0;  // no length at all is no limit
    EXPECT_EQ(tessellate(p).size(), 2u * 3 * 3);
}

TEST_F(Tessellator, TheTeapotTessellates) {
    std::vector<NurbsSurface> teapot = read_teapot(SKYLOOM_TEAPOT_DATA);
    ASSERT_EQ(teapot.size(), 32u) << SKYLOOM_TEAPOT_DATA;
    double area_tessellated = 0, area_fine = 0;
    for (const NurbsSurface& s : teapot) {
        std::vector<Triangle> triangles = tessellate(patch(s));
        ASSERT_FALSE(triangles.empty());
        expect_on_surface(s, triangles, false, 1e-8);
        expect_watertight(s, triangles);
        for (const Triangle& t : triangles) area_tessellated += area(t);
        for (const Triangle& t : tessellate(patch(s, 0.0002f))) area_fine += area(t);
    }
    EXPECT_NEAR(area_tessellated / area_fine, 1, 0.01);
}

TEST_F(Tessellator, TheTessellatorPathIsTakenForItsPatches) {
    CollectingSink sink;
    PatchGeometry p = patch(bump(1));
    render_options().quiet = 0;
    EXPECT_TRUE(tessellate_patch(p, "lid", sink));
    EXPECT_EQ(output, "  degree 3 by 3\n  spans  1 by 1\n  initial grid 3 by 3\n");
    EXPECT_FALSE(sink.triangles.empty());
    EXPECT_EQ(errors, "");
}

// Scene data of every shape, good and bad, with settings of every kind:
// each patch either becomes finite triangles or is reported, nothing crashes.
TEST_F(Tessellator, RandomSurfacesNeverCrash) {
    RandomSurfaces random(11);
    int refused = 0, made = 0;
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        PatchGeometry p = patch(random.next(), static_cast<float>(random.real(0.001, 0.1)));
        p.limit_edge_length = random.pick(0, 3) == 0;
        p.max_edge_length = static_cast<float>(random.real(-1, 3));
        if (random.pick(0, 5) == 0) p.fixed_grid = random.pick(-2, 300);
        if (random.pick(0, 4) == 0) {
            const double u = random.real(-3, 3), v = random.real(-3, 3);
            p.trims.push_back(square(u, v, u + random.real(-1, 2), v + random.real(-1, 2)));
        }
        TessellatorEnvironment environment;
        environment.max_level = random.pick(0, 8);
        environment.degree_grid = random.pick(0, 3) == 0;
        errors.clear();
        CollectingSink sink;
        if (!tessellate_with_tessellator(p, "random", environment, sink)) {
            EXPECT_FALSE(errors.empty());
            ++refused;
            continue;
        }
        ++made;
        expect_finite(sink.triangles);
    }
    EXPECT_GT(made, 80);
    EXPECT_GT(refused, 60);
}

// --- settings of the environment ---------------------------------------------

class TessellatorEnvironmentTest : public Tessellator {
protected:
    void TearDown() override {
        for (const char* name :
             {"QUORL_AG_DEGREE_GRID", "QUORL_AG_MAXSUBD", "QUORL_AG_FTOL", "QUORL_AG_DUMP"})
            ::unsetenv(name);
        Tessellator::TearDown();
    }
};

TEST_F(TessellatorEnvironmentTest, VariablesAreReadAndCheckedValues) {
    TessellatorEnvironment e = read_tessellator_environment();
    EXPECT_FALSE(e.degree_grid);
    EXPECT_FALSE(e.dump);
    EXPECT_EQ(e.max_level, 10);
    EXPECT_EQ(e.flatness, 0);

    ::setenv("QUORL_AG_DEGREE_GRID", "", 1);
    ::setenv("QUORL_AG_DUMP", "1", 1);
    ::setenv("QUORL_AG_MAXSUBD", " 7 ", 1);
    ::setenv("QUORL_AG_FTOL", "0.0025", 1);
    e = read_tessellator_environment();
    EXPECT_TRUE(e.degree_grid);
    EXPECT_TRUE(e.dump);
    EXPECT_EQ(e.max_level, 7);
    EXPECT_DOUBLE_EQ(e.flatness, 0.0025);
    EXPECT_EQ(errors, "");

    for (auto [text, level] : {std::pair{"25", 20}, {"-3", 0}, {"99999999999999999999", 20}}) {
        ::setenv("QUORL_AG_MAXSUBD", text, 1);
        EXPECT_EQ(read_tessellator_environment().max_level, level) << text;
    }
    EXPECT_EQ(errors,
              "Warning: QUORL_AG_MAXSUBD=25 is outside 0 to 20: using 20\n"
              "Warning: QUORL_AG_MAXSUBD=-3 is outside 0 to 20: using 0\n"
              "Warning: QUORL_AG_MAXSUBD=99999999999999999999 is outside 0 to 20: using 20\n");
    errors.clear();
    ::setenv("QUORL_AG_MAXSUBD", "8x", 1);
    ::setenv("QUORL_AG_FTOL", "-1", 1);
    e = read_tessellator_environment();
    EXPECT_EQ(e.max_level, 10);
    EXPECT_EQ(e.flatness, 0);
    ::unsetenv("QUORL_AG_MAXSUBD");
    ::setenv("QUORL_AG_FTOL", "nan", 1);
    EXPECT_EQ(read_tessellator_environment().flatness, 0);
    EXPECT_EQ(errors,
              "Warning: QUORL_AG_MAXSUBD=8x is not a whole number: the deepest subdivision "
              "level stays 10\n"
              "Warning: QUORL_AG_FTOL=-1 is not a positive number: each patch's "
              "surface_smoothness is used\n"
              "Warning: QUORL_AG_FTOL=nan is not a positive number: each patch's "
              "surface_smoothness is used\n");
}

TEST_F(TessellatorEnvironmentTest, TheToleranceOfTheEnvironmentWinsOverThePatchs) {
    const std::size_t own = tessellate(patch(unit_sphere(), 0.05f)).size();
    TessellatorEnvironment fine;
    fine.flatness = 0.001f;
    const std::size_t overridden = tessellate(patch(unit_sphere(), 0.05f), fine).size();
    EXPECT_EQ(overridden, tessellate(patch(unit_sphere(), 0.001f)).size());
    EXPECT_GT(overridden, 4 * own);
}

// --- failures ------------------------------------------------------------------

TEST_F(Tessellator, SurfacesThatCannotBeTessellatedAreReportedAndSkipped) {
    CollectingSink sink;
    PatchGeometry bad = patch(quarter_cylinder());
    bad.surface.uknots.pop_back();
    EXPECT_FALSE(tessellate_with_tessellator(bad, "spout", {}, sink));
    PatchGeometry nothing = patch(quarter_cylinder());
    for (WeightedPoint& cv : nothing.surface.cvs) cv = {1, 2, 3, 1};
    EXPECT_FALSE(tessellate_with_tessellator(nothing, nullptr, {}, sink));
    EXPECT_EQ(errors,
              "Warning: surface spout failed to tessellate: could not identify reasonable "
              "isoparametric grid for the tessellation process\n\n"
              "object spout failed to tessellate.\n"
              "Warning: surface Patch failed to tessellate: geometric bounding box too small - "
              "likely NULL or scaled by zero geometry.\n\n"
              "object Patch failed to tessellate.\n");
    EXPECT_TRUE(sink.triangles.empty());
    EXPECT_STREQ(tessellation_error_text(3),
                 "(u,v) trim boundaries so complex that maximum subdivision level reached "
                 "without producing simply-connected polygons; reduce complexity of the trim "
                 "curves\n");
    EXPECT_STREQ(tessellation_error_text(4),
                 "failure in polygon subdivision-by-isoparam logic (try again with different "
                 "primary tessellation parameters)\n");
    EXPECT_STREQ(tessellation_error_text(0), "unknown error condition.\n");
    EXPECT_STREQ(tessellation_error_text(6), "unknown error condition.\n");
}

TEST_F(Tessellator, TrimmedPatchesKeepTheirRegions) {
    PatchGeometry p = patch(bump(1));
    p.trims = {square(0.1, 0.1, 0.4, 0.9), square(0.6, 0.2, 0.9, 0.5)};
    TrimRegion line;  // no area: nothing to draw, and nothing to report
    line.loops.push_back({{{0.5, 0.1}, {0.5, 0.5}, {0.5, 0.9}}});
    p.trims.push_back(line);
    std::vector<Triangle> triangles = tessellate(p);
    ASSERT_FALSE(triangles.empty());
    for (const Triangle& t : triangles) {
        for (const SurfacePoint* v : {&t.a, &t.b, &t.c}) {
            const bool first = v->u >= 0.1 - 1e-9 && v->u <= 0.4 + 1e-9 && v->v >= 0.1 - 1e-9 &&
                               v->v <= 0.9 + 1e-9;
            const bool second = v->u >= 0.6 - 1e-9 && v->u <= 0.9 + 1e-9 && v->v >= 0.2 - 1e-9 &&
                                v->v <= 0.5 + 1e-9;
            EXPECT_TRUE(first || second) << v->u << ", " << v->v;
        }
    }
    expect_on_surface(p.surface, triangles, true, 1e-9);
    EXPECT_EQ(errors, "");
}

const char* const kBadPolygon =
    "polygon failed consistency check (verify reasonable (u,v) trim boundaries; or, try again "
    "with different tessellation parameters\n";

std::string file_text(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs in a scratch directory, where dumps are written.
class TrimFailures : public Tessellator {
protected:
    void SetUp() override {
        Tessellator::SetUp();
        previous_ = std::filesystem::current_path();
        scratch_ = std::filesystem::temp_directory_path() /
                   ("skyloom_tessellator_" + std::to_string(::getpid()));
        std::filesystem::remove_all(scratch_);
        std::filesystem::create_directories(scratch_);
        std::filesystem::current_path(scratch_);
    }
    void TearDown() override {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(scratch_);
        Tessellator::TearDown();
    }

    // A patch whose second region has a point that is not a number.
    static PatchGeometry broken_lid() {
        PatchGeometry p = patch(bump(1));
        p.trims = {square(0.1, 0.1, 0.4, 0.9), square(0.6, 0.2, 0.9, 0.5)};
        p.trims[1].loops[0].points[2][0] = NAN;
        return p;
    }

    std::filesystem::path previous_, scratch_;
};

TEST_F(TrimFailures, AFailedFaceSkipsTheObject) {
    CollectingSink sink;
    EXPECT_FALSE(tessellate_with_tessellator(broken_lid(), "lid", {}, sink));
    EXPECT_EQ(errors, std::string("Warning: trim lid.trim2 failed to tessellate: ") + kBadPolygon +
                          "\nobject lid failed to tessellate.\n");
    EXPECT_TRUE(std::filesystem::is_empty(scratch_));
}

TEST_F(TrimFailures, AFailedFaceIsDumpedOnRequest) {
    CollectingSink sink;
    TessellatorEnvironment dump;
    dump.dump = true;
    EXPECT_FALSE(tessellate_with_tessellator(broken_lid(), "lid", dump, sink));
    EXPECT_EQ(errors, std::string("Warning: trim lid.trim2 failed to tessellate: ") + kBadPolygon +
                          "\nobject lid failed to tessellate.\n");
    const std::string geometry = file_text("lid.trim2.ag");
    EXPECT_NE(geometry.find("degree 3 3\n"), std::string::npos) << geometry;
    EXPECT_NE(geometry.find("loop 4\n0.59999999999999998 0.20000000000000001\n"), std::string::npos)
        << geometry;
    EXPECT_NE(geometry.find("nan 0.5"), std::string::npos) << geometry;
    const std::string setup = file_text("lid.trim2.setup");
    EXPECT_NE(setup.find("initial grid 3 by 3\n"), std::string::npos) << setup;
    EXPECT_NE(setup.find("maximum subdivision level 10\n"), std::string::npos) << setup;
    EXPECT_NE(file_text("lid.trim2.comment").find(kBadPolygon), std::string::npos);

    // Where the files cannot be written, the dump says so; the object is
    // still skipped with its messages.
    errors.clear();
    std::filesystem::remove("lid.trim2.setup");
    std::filesystem::create_directory("lid.trim2.setup");
    EXPECT_FALSE(tessellate_with_tessellator(broken_lid(), "lid", dump, sink));
    EXPECT_EQ(errors, std::string("Warning: trim lid.trim2 failed to tessellate: ") + kBadPolygon +
                          "\nFailed to dump diagnostic geometry\n"
                          "object lid failed to tessellate.\n");
}

}  // namespace
}  // namespace sky
