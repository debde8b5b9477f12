#include "geometry/patch_subdivision.h"

#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "geometry/tessellate.h"
#include "geometry/tessellator_test_support.h"
#include "platform/report.h"

namespace sky {
namespace {

using namespace test;

PatchGeometry patch(NurbsSurface s, bool adaptive, int udivisions, int vdivisions,
                    float curvature = 0.9f) {
    PatchGeometry p;
    p.surface = std::move(s);
    p.adaptive = adaptive;
    p.udivisions = udivisions;
    p.vdivisions = vdivisions;
    p.curvature = curvature;
    return p;
}

std::vector<Triangle> tessellate(const PatchGeometry& p) {
    CollectingSink sink;
    EXPECT_TRUE(tessellate_patch(p, "test", sink));
    return std::move(sink.triangles);
}

TEST(PatchSubdivision, UniformCellsOnTheSurface) {
    NurbsSurface s = test::wavy_surface();  // rational, 2 × 2 spans
    std::vector<Triangle> triangles = tessellate(patch(s, false, 3, 2));
    EXPECT_EQ(triangles.size(), 2u * 2 * 3 * 2 * 2);
    expect_on_surface(s, triangles);
    expect_watertight(s, triangles);
}

TEST(PatchSubdivision, AdaptiveCellsOnTheSurfaceWithoutCracks) {
    int index = 0;
    for (NurbsSurface s : {test::wavy_surface(), half_flat(), quarter_cylinder()}) {
        SCOPED_TRACE(index);
        std::vector<Triangle> triangles = tessellate(patch(s, true, 1, 32));
        // Cells of the bent surfaces at the maximum level can still fold.
        expect_on_surface(s, triangles, index++ == 2);
        expect_watertight(s, triangles);
    }
}

TEST(PatchSubdivision, FlatnessBoundsTheDistanceToTheSurface) {
    // Cells of a cylinder stop splitting once the end tangents of their arcs
    // are within acos(c) of each other, so a triangle's centroid lies within
    // the sagitta of that angle, 1 - cos(acos(c) / 2), of the unit cylinder;
    // and one level earlier would have been too coarse, so not far within.
    for (float c : {0.9f, 0.99f}) {
        std::vector<Triangle> triangles = tessellate(patch(quarter_cylinder(), true, 1, 1024, c));
        const double bound = 1 - std::cos(std::acos(double{c}) / 2);
        double worst = 0;
        for (const Triangle& t : triangles) {
            Vec centroid = {(t.a.position[0] + t.b.position[0] + t.c.position[0]) / 3,
                            (t.a.position[1] + t.b.position[1] + t.c.position[1]) / 3, 0};
            worst = std::max(worst, 1 - length(centroid));
        }
        EXPECT_LE(worst, bound) << c;
        EXPECT_GE(worst, bound / 4) << c;
    }
}

TEST(PatchSubdivision, AdaptiveRefinesWhereTheSurfaceBends) {
    std::vector<Triangle> triangles = tessellate(patch(half_flat(), true, 1, 16));
    int flat = 0, curved = 0;
    for (const Triangle& t : triangles) (t.a.u + t.b.u + t.c.u < 6 ? flat : curved)++;
    EXPECT_GT(flat, 0);
    EXPECT_GT(curved, 4 * flat);
    // The minimum level applies everywhere, the flat half included.
    std::vector<Triangle> finer = tessellate(patch(half_flat(), true, 4, 16));
    int flat_at_minimum = 0;
    for (const Triangle& t : finer) flat_at_minimum += t.a.u + t.b.u + t.c.u < 6;
    EXPECT_GE(flat_at_minimum, 2 * 2 * 4 * 4);
}

TEST(PatchSubdivision, FlatnessTestByAngle) {
    // A row bending by angle θ at its middle: flat while cos θ > c.
    auto bent = [](double degrees) {
        const double a = degrees * M_PI / 180;
        std::vector<Homogeneous> grid;
        for (int r = 0; r < 4; ++r) {
            grid.push_back({0, double(r), 0, 1});
            grid.push_back({1, double(r), 0, 1});
            grid.push_back({1 + std::cos(a), double(r), std::sin(a), 1});
            grid.push_back({1 + 2 * std::cos(a), double(r), 2 * std::sin(a), 1});
        }
        return grid;
    };
    GridFlatness f = grid_flatness(bent(20).data(), 4, 4, 0.9);
    EXPECT_TRUE(f.along_v);
    EXPECT_TRUE(f.along_u);
    EXPECT_TRUE(f.diagonals);
    f = grid_flatness(bent(30).data(), 4, 4, 0.9);
    EXPECT_FALSE(f.along_v);
    EXPECT_TRUE(f.along_u);
    // Weights divide out: scaling a point's homogeneous form changes nothing.
    std::vector<Homogeneous> weighted = bent(20);
    for (Homogeneous& p : weighted) p = {p.x * 3, p.y * 3, p.z * 3, 3};
    EXPECT_TRUE(grid_flatness(weighted.data(), 4, 4, 0.9).along_v);
    // Coincident points (a pole) have no direction and are never flat.
    std::vector<Homogeneous> pole = bent(0);
    for (int c = 0; c < 4; ++c) pole[static_cast<std::size_t>(c)] = {0, 0, 0, 1};
    EXPECT_FALSE(grid_flatness(pole.data(), 4, 4, 0.9).along_v);
    // A curvature of 1 is never met: it asks for (a·b)² > |a|²·|b|².
    EXPECT_FALSE(grid_flatness(bent(0).data(), 4, 4, 1.0).along_v);
}

TEST(PatchSubdivision, LevelsFromDivisions) {
    SubdivisionLevels l = adaptive_levels(3, 16);
    EXPECT_EQ(l.minimum, 2);
    EXPECT_EQ(l.maximum, 4);
    l = adaptive_levels(8, 2);  // a maximum below the minimum is raised to it
    EXPECT_EQ(l.minimum, 3);
    EXPECT_EQ(l.maximum, 3);
    EXPECT_EQ(adaptive_levels(1, 1 << 30).maximum, kMaxSubdivisionLevel);
}

// Surface area of a Bézier surface by 3-point Gauss rules on 16 × 16 cells.
double surface_area(const NurbsSurface& s) {
    BuiltSurface b;
    EXPECT_TRUE(build_surface(s, b));
    const double x[3] = {-std::sqrt(0.6), 0, std::sqrt(0.6)}, w[3] = {5 / 9.0, 8 / 9.0, 5 / 9.0};
    const int cells = 16;
    double total = 0;
    for (int i = 0; i < cells; ++i) {
        for (int j = 0; j < cells; ++j) {
            for (int a = 0; a < 3; ++a) {
                for (int c = 0; c < 3; ++c) {
                    SurfaceEval e;
                    evaluate_surface(b, (i + 0.5 + 0.5 * x[a]) / cells,
                                     (j + 0.5 + 0.5 * x[c]) / cells, e);
                    Vec n = cross(e.du, e.dv);
                    total += w[a] * w[c] * length(n) / (4.0 * cells * cells);
                }
            }
        }
    }
    return total;
}

TEST(PatchSubdivision, TeapotAreaConverges) {
    std::vector<NurbsSurface> teapot = test::read_teapot(SKYLOOM_TEAPOT_DATA);
    ASSERT_EQ(teapot.size(), 32u) << SKYLOOM_TEAPOT_DATA;
    double exact = 0;
    for (const NurbsSurface& s : teapot) exact += surface_area(s);
    double previous_error = INFINITY;
    for (int divisions : {2, 4, 8, 16, 32}) {
        double total = 0;
        for (const NurbsSurface& s : teapot) {
            for (const Triangle& t : tessellate(patch(s, false, divisions, divisions))) {
                total += area(t);
            }
        }
        const double error = std::fabs(total - exact) / exact;
        EXPECT_LT(error, previous_error) << divisions;
        previous_error = error;
    }
    EXPECT_LT(previous_error, 1e-3);
}

TEST(PatchSubdivision, TeapotAdaptiveHasUnitNormalsEverywhere) {
    std::vector<NurbsSurface> teapot = test::read_teapot(SKYLOOM_TEAPOT_DATA);
    ASSERT_EQ(teapot.size(), 32u);
    for (const NurbsSurface& s : teapot) {
        std::vector<Triangle> triangles = tessellate(patch(s, true, 2, 16));
        ASSERT_FALSE(triangles.empty());
        // The handle's cells, flat by their end tangents, can still fold a
        // little across: facing is not checked here.
        expect_on_surface(s, triangles, false);
        expect_watertight(s, triangles);
        for (const Triangle& t : triangles) {
            for (const SurfacePoint* p : {&t.a, &t.b, &t.c}) {
                EXPECT_NEAR(std::hypot(p->normal[0], p->normal[1], p->normal[2]), 1, 1e-9);
            }
        }
    }
}

std::string errors;
void capture_error(const char* text) {
    errors += text;
}

TEST(PatchSubdivision, BadSurfacesAreReported) {
    errors.clear();
    rptSetErrorCB(capture_error);
    CollectingSink sink;
    PatchGeometry bad = patch(quarter_cylinder(), false, 2, 2);
    bad.surface.uknots.pop_back();
    EXPECT_FALSE(tessellate_patch(bad, "spout", sink));
    bad.surface = quarter_cylinder();
    bad.surface.cvs[1].w = -1;
    EXPECT_FALSE(tessellate_patch(bad, nullptr, sink));
    // Divisions beyond any render are refused rather than exhausting memory.
    EXPECT_FALSE(tessellate_patch(patch(quarter_cylinder(), false, 100000, 100000), "big", sink));
    rptSetErrorCB(nullptr);
    EXPECT_EQ(errors,
              "Problem encountered while rendering surface spout\n"
              "Problem encountered while rendering surface Patch\n"
              "Problem encountered while rendering surface big\n");
    EXPECT_TRUE(sink.triangles.empty());
}

// Scene data of every shape, good and bad: each surface either becomes
// finite triangles or is reported; nothing crashes.
TEST(PatchSubdivision, RandomSurfacesNeverCrash) {
    RandomSurfaces random(7);
    rptSetErrorCB(capture_error);
    int refused = 0, made = 0;
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE(round);
        NurbsSurface s = random.next();
        PatchGeometry p = patch(s, random.pick(0, 1), random.pick(1, 6), random.pick(1, 12),
                                float(random.real(0, 1)));
        errors.clear();
        CollectingSink sink;
        if (!tessellate_patch(p, "random", sink)) {
            EXPECT_FALSE(errors.empty());
            ++refused;
            continue;
        }
        ++made;
        expect_finite(sink.triangles);
    }
    rptSetErrorCB(nullptr);
    EXPECT_GT(made, 100);
    EXPECT_GT(refused, 40);
}

TEST(PatchSubdivisionDeathTest, DivisionsBelowOneEndTheRun) {
    CollectingSink sink;
    EXPECT_EXIT(tessellate_patch(patch(quarter_cylinder(), false, 0, 4), "p", sink),
                testing::ExitedWithCode(1), "^Cannot have udivisions or vdivision < 1\n$");
    EXPECT_EXIT(tessellate_patch(patch(quarter_cylinder(), true, 4, -2), "p", sink),
                testing::ExitedWithCode(1), "^Cannot have udivisions or vdivision < 1\n$");
}

}  // namespace
}  // namespace sky
