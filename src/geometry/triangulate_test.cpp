#include "geometry/triangulate.h"

#include <cmath>
#include <random>

#include <gtest/gtest.h>

namespace sky {
namespace {

using Loops = std::vector<std::vector<Point2>>;

std::vector<Point2> rectangle(double x0, double y0, double x1, double y1) {
    return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
}

std::vector<Point2> reversed(std::vector<Point2> loop) {
    std::reverse(loop.begin(), loop.end());
    return loop;
}

double triangle_area2(const Triangulation& t, const std::array<std::int32_t, 3>& tri) {
    const Point2& a = t.points[static_cast<std::size_t>(tri[0])];
    const Point2& b = t.points[static_cast<std::size_t>(tri[1])];
    const Point2& c = t.points[static_cast<std::size_t>(tri[2])];
    return (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
}

// Sum of the triangles' areas; fails the test on any triangle that is not
// counter-clockwise or refers outside the points.
double covered_area(const Triangulation& t) {
    double sum = 0;
    for (const auto& tri : t.triangles) {
        for (std::int32_t i : tri) {
            EXPECT_GE(i, 0);
            EXPECT_LT(static_cast<std::size_t>(i), t.points.size());
        }
        double a2 = triangle_area2(t, tri);
        EXPECT_GT(a2, 0) << "triangle not counter-clockwise";
        sum += a2 / 2;
    }
    return sum;
}

bool inside_loop(const std::vector<Point2>& loop, const Point2& p) {
    bool inside = false;
    for (std::size_t i = 0, j = loop.size() - 1; i < loop.size(); j = i++) {
        const Point2& a = loop[i];
        const Point2& b = loop[j];
        if ((a[1] > p[1]) != (b[1] > p[1]) &&
            p[0] < (b[0] - a[0]) * (p[1] - a[1]) / (b[1] - a[1]) + a[0])
            inside = !inside;
    }
    return inside;
}

int winding(const std::vector<Point2>& loop, const Point2& p) {
    int w = 0;
    for (std::size_t i = 0; i < loop.size(); ++i) {
        const Point2& a = loop[i];
        const Point2& b = loop[(i + 1) % loop.size()];
        double side = (b[0] - a[0]) * (p[1] - a[1]) - (b[1] - a[1]) * (p[0] - a[0]);
        if (a[1] <= p[1] && b[1] > p[1] && side > 0) ++w;
        if (a[1] > p[1] && b[1] <= p[1] && side < 0) --w;
    }
    return w;
}

// Inside the outline by the odd rule and outside the holes, whose windings
// add up with every hole turned counter-clockwise.
bool inside_region(const Loops& loops, const Point2& p) {
    if (!inside_loop(loops[0], p)) return false;
    int holes = 0;
    for (std::size_t l = 1; l < loops.size(); ++l)
        holes += (loop_area2(loops[l]) >= 0 ? 1 : -1) * winding(loops[l], p);
    return holes == 0;
}

bool inside_triangles(const Triangulation& t, const Point2& p) {
    for (const auto& tri : t.triangles) {
        bool in = true;
        for (int k = 0; k < 3 && in; ++k) {
            const Point2& a = t.points[static_cast<std::size_t>(tri[k])];
            const Point2& b = t.points[static_cast<std::size_t>(tri[(k + 1) % 3])];
            in = (b[0] - a[0]) * (p[1] - a[1]) - (b[1] - a[1]) * (p[0] - a[0]) >= 0;
        }
        if (in) return true;
    }
    return false;
}

// Every triangle's centroid lies in the region.
void expect_centroids_inside(const Loops& loops, const Triangulation& t) {
    for (const auto& tri : t.triangles) {
        Point2 c{0, 0};
        for (std::int32_t i : tri) {
            c[0] += t.points[static_cast<std::size_t>(i)][0] / 3;
            c[1] += t.points[static_cast<std::size_t>(i)][1] / 3;
        }
        EXPECT_TRUE(inside_region(loops, c)) << "centroid " << c[0] << ", " << c[1];
    }
}

// Random sample points agree with the triangles about the region.
void expect_same_region(const Loops& loops, const Triangulation& t, unsigned seed) {
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    for (const auto& loop : loops)
        for (const Point2& p : loop) {
            x0 = std::min(x0, p[0]), x1 = std::max(x1, p[0]);
            y0 = std::min(y0, p[1]), y1 = std::max(y1, p[1]);
        }
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> ux(x0, x1), uy(y0, y1);
    for (int i = 0; i < 500; ++i) {
        Point2 p{ux(random), uy(random)};
        EXPECT_EQ(inside_region(loops, p), inside_triangles(t, p)) << p[0] << ", " << p[1];
    }
}

struct HoleCase {
    const char* what;
    Loops loops;
    double area;
    TriangulateStatus status;
};

TEST(TriangulateHoles, TheRegionIsTheOutlineLessTheHoles) {
    Loops grid{rectangle(0, 0, 20, 20)};
    for (int i = 0; i < 10; ++i)
        for (int j = 0; j < 10; ++j)
            grid.push_back(rectangle(2 * i + 0.5, 2 * j + 0.5, 2 * i + 1.5, 2 * j + 1.5));
    const HoleCase cases[] = {
        {"one hole", {rectangle(0, 0, 10, 10), rectangle(2, 2, 4, 5)}, 94, TriangulateStatus::ok},
        {"holes of either winding",
         {reversed(rectangle(0, 0, 10, 10)),
          rectangle(1, 1, 3, 3),
          reversed(rectangle(5, 5, 9, 6)),
          {{6, 1}, {9, 1}, {7.5, 4}}},
         100 - 4 - 4 - 4.5,
         TriangulateStatus::ok},
        {"a hundred holes", grid, 300, TriangulateStatus::ok},
        // Along the outline's edge, sharing a corner, overlapping.
        {"touching holes",
         {rectangle(0, 0, 10, 10), rectangle(0, 0, 2, 2), rectangle(4, 4, 5, 5),
          rectangle(5, 5, 6, 6), rectangle(7, 1, 9, 3), reversed(rectangle(8, 2, 9.5, 4))},
         100 - 4 - 1 - 1 - (4 + 3 - 1),
         TriangulateStatus::repaired},
        {"hole outside",
         {rectangle(0, 0, 4, 4), rectangle(6, 6, 8, 8)},
         16,
         TriangulateStatus::repaired},
        {"hole across",
         {rectangle(0, 0, 4, 4), rectangle(3, 1, 6, 2)},
         15,
         TriangulateStatus::repaired},
        {"hole covering",
         {rectangle(1, 1, 2, 2), rectangle(0, 0, 3, 3)},
         0,
         TriangulateStatus::empty},
    };
    Triangulation t;
    unsigned seed = 1;
    for (const HoleCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(triangulate_region(c.loops, t), c.status);
        EXPECT_NEAR(covered_area(t), c.area, 1e-9);
        expect_centroids_inside(c.loops, t);
        expect_same_region(c.loops, t, seed++);
    }
}

TEST(TriangulateOutlines, ConcaveOutlinesKeepTheirArea) {
    std::vector<Point2> comb{{0, 0}, {9, 0}, {9, 5}, {8, 5}, {8, 1}, {7, 1}, {7, 5},
                             {6, 5}, {6, 1}, {5, 1}, {5, 5}, {4, 5}, {4, 1}, {3, 1},
                             {3, 5}, {2, 5}, {2, 1}, {1, 1}, {1, 5}, {0, 5}};
    std::vector<Point2> ell{{0, 0}, {3, 0}, {3, 1}, {1, 1}, {1, 4}, {0, 4}};
    std::vector<Point2> star;
    for (int i = 0; i < 10; ++i) {
        double angle = M_PI * i / 5, r = i % 2 ? 1 : 3;
        star.push_back({r * std::cos(angle), r * std::sin(angle)});
    }
    Triangulation t;
    for (const auto& outline : {comb, ell, star, reversed(comb)}) {
        EXPECT_EQ(triangulate_polygon(outline, t), TriangulateStatus::ok);
        EXPECT_EQ(t.triangles.size(), outline.size() - 2);
        EXPECT_NEAR(covered_area(t), std::fabs(loop_area2(outline)) / 2, 1e-9);
        expect_centroids_inside({outline}, t);
    }
}

TEST(TriangulateOutlines, ConvexLoopsAreFannedInInputIndices) {
    Triangulation t;
    std::vector<Point2> quad{{0, 0}, {0, 2}, {3, 2}, {3, 0}};  // clockwise
    EXPECT_EQ(triangulate_polygon(quad, t), TriangulateStatus::ok);
    ASSERT_EQ(t.triangles.size(), 2u);
    EXPECT_DOUBLE_EQ(covered_area(t), 6);
    EXPECT_EQ(t.points.size(), 4u);

    std::vector<Point2> triangle{{0, 0}, {1, 0}, {0, 1}, {0, 0}};  // closing repeat
    EXPECT_EQ(triangulate_polygon(triangle, t), TriangulateStatus::ok);
    ASSERT_EQ(t.triangles.size(), 1u);
    EXPECT_EQ(t.triangles[0], (std::array<std::int32_t, 3>{0, 1, 2}));
}

TEST(TriangulateOutlines, SelfCrossingOutlinesUseTheOddRule) {
    std::vector<Point2> bow_tie{{0, 0}, {2, 2}, {2, 0}, {0, 2}};
    Triangulation t;
    EXPECT_EQ(triangulate_polygon(bow_tie, t), TriangulateStatus::repaired);
    EXPECT_NEAR(covered_area(t), 2, 1e-9);
    ASSERT_EQ(t.crossings.size(), 1u);
    const Point2& made = t.points[static_cast<std::size_t>(t.input_count)];
    EXPECT_NEAR(made[0], 1, 1e-12);
    EXPECT_NEAR(made[1], 1, 1e-12);
    const CrossingPoint& c = t.crossings[0];
    const Point2& a = t.points[static_cast<std::size_t>(c.from)];
    const Point2& b = t.points[static_cast<std::size_t>(c.to)];
    EXPECT_NEAR(a[0] + c.t * (b[0] - a[0]), 1, 1e-12);
    EXPECT_NEAR(a[1] + c.t * (b[1] - a[1]), 1, 1e-12);

    // A pentagram: its middle is crossed twice and stays empty.
    std::vector<Point2> pentagram;
    for (int i = 0; i < 5; ++i) {
        double angle = M_PI / 2 + 4 * M_PI * i / 5;
        pentagram.push_back({std::cos(angle), std::sin(angle)});
    }
    EXPECT_EQ(triangulate_polygon(pentagram, t), TriangulateStatus::repaired);
    expect_centroids_inside({pentagram}, t);
    expect_same_region({pentagram}, t, 3);
    EXPECT_FALSE(inside_triangles(t, {0, 0}));
}

TEST(TriangulateDegenerate, NoAreaGivesNoTriangles) {
    Triangulation t;
    std::vector<std::vector<Point2>> cases{
        {},
        {{1, 1}},
        {{0, 0}, {1, 1}},
        {{0, 0}, {1, 1}, {0, 0}, {1, 1}},
        {{2, 2}, {2, 2}, {2, 2}, {2, 2}},
        {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {1, 1}},
        {{0, 0}, {4, 0}, {2, 0}},
    };
    for (const auto& outline : cases) {
        EXPECT_EQ(triangulate_polygon(outline, t), TriangulateStatus::empty) << outline.size();
        EXPECT_TRUE(t.triangles.empty());
    }
    EXPECT_EQ(triangulate_region(std::span<const Loop2>(), t), TriangulateStatus::empty);
}

TEST(TriangulateDegenerate, RepeatedAndCollinearPointsAreHarmless) {
    // Repeated corners, points along the edges, a spike out and back.
    std::vector<Point2> outline{{0, 0}, {0, 0}, {1, 0}, {2, 0}, {4, 0}, {4, 0}, {4, 4},
                                {2, 4}, {2, 6}, {2, 4}, {0, 4}, {0, 2}, {0, 0}};
    Triangulation t;
    TriangulateStatus status = triangulate_polygon(outline, t);
    EXPECT_TRUE(status == TriangulateStatus::ok || status == TriangulateStatus::repaired);
    EXPECT_NEAR(covered_area(t), 16, 1e-9);
    EXPECT_EQ(t.input_count, static_cast<std::int32_t>(outline.size()));

    // A flat hole takes nothing away.
    Loops loops{rectangle(0, 0, 4, 4), {{1, 1}, {2, 2}, {3, 3}}};
    EXPECT_EQ(triangulate_region(loops, t), TriangulateStatus::repaired);
    EXPECT_NEAR(covered_area(t), 16, 1e-9);
}

TEST(TriangulateDegenerate, CoordinatesThatAreNotFiniteAreRefused) {
    Triangulation t;
    std::vector<Point2> outline{{0, 0}, {1, 0}, {NAN, 1}, {0, 1}};
    EXPECT_EQ(triangulate_polygon(outline, t), TriangulateStatus::invalid);
    EXPECT_TRUE(t.triangles.empty());
    Loops loops{rectangle(0, 0, 4, 4), {{1, 1}, {INFINITY, 2}, {1, 2}}};
    EXPECT_EQ(triangulate_region(loops, t), TriangulateStatus::invalid);
}

TEST(TriangulateRandom, StarShapedPolygonsKeepAreaAndOrientation) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> radius(0.2, 5);
    Triangulation t;
    for (int trial = 0; trial < 200; ++trial) {
        int n = 3 + trial % 40;
        std::vector<Point2> outline;
        for (int i = 0; i < n; ++i) {
            double angle = 2 * M_PI * i / n, r = radius(random);
            outline.push_back({r * std::cos(angle), r * std::sin(angle)});
        }
        if (trial % 2) outline = reversed(outline);
        ASSERT_EQ(triangulate_polygon(outline, t), TriangulateStatus::ok);
        EXPECT_EQ(t.triangles.size(), static_cast<std::size_t>(n - 2));
        EXPECT_NEAR(covered_area(t), std::fabs(loop_area2(outline)) / 2, 1e-9);
    }
}

TEST(TriangulateRandom, TangledLoopsFollowTheRule) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> coordinate(0, 10);
    // Coarse coordinates make repeated points and collinear runs likely.
    std::uniform_int_distribution<int> grid(0, 6);
    Triangulation t;
    for (int trial = 0; trial < 60; ++trial) {
        Loops loops(1 + trial % 3);
        for (auto& loop : loops) {
            int n = 3 + trial % 9;
            for (int i = 0; i < n; ++i) {
                if (trial % 2)
                    loop.push_back({coordinate(random), coordinate(random)});
                else
                    loop.push_back(
                        {static_cast<double>(grid(random)), static_cast<double>(grid(random))});
            }
        }
        TriangulateStatus status = triangulate_region(loops, t);
        ASSERT_NE(status, TriangulateStatus::failed);
        ASSERT_NE(status, TriangulateStatus::invalid);
        double area = covered_area(t);
        EXPECT_LE(area, 100 + 1e-9);
        EXPECT_EQ(status == TriangulateStatus::empty, t.triangles.empty());
        EXPECT_EQ(t.crossings.size(), t.points.size() - static_cast<std::size_t>(t.input_count));
        if (trial % 2) expect_same_region(loops, t, static_cast<unsigned>(trial));
    }
}

}  // namespace
}  // namespace sky
