#include "geometry/buckets.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "base/options_test_support.h"
#include "geometry/bucket_spans.h"
#include "geometry/entry_test_support.h"

namespace sky {
namespace {

using testing_support::corner;

class Buckets : public testing::Test {
protected:
    void SetUp() override {
        testing_support::use_plain_view();
        release_arena(pass_arena());
        give_tile_buffers(0, 15, 1);
        tile_.x_first = 0, tile_.x_last = 644;
        tile_.y_first = 100, tile_.y_last = 114;
    }
    void TearDown() override {
        release_arena(tile_arena());  // other suites count its blocks
        release_arena(pass_arena());
    }

    // Enters the storage's triangles into a freshly mapped grid.
    BucketGrid& fill(const ObjectTriangles& storage) {
        rewind_arena(tile_arena());
        BucketGrid& grid = bucket_grid();
        map_tile_to_buckets(grid, &tile_);
        bucket_object(grid, geometry_view(), storage);
        return grid;
    }

    static bool holds(const BucketGrid& grid, int x, int y, const ObjectTriangles& storage) {
        for (const BucketCell* cell = bucket_at(grid, y, x); cell; cell = cell->next)
            if (cell->triangle->object == storage.object) return true;
        return false;
    }

    // The pixels of the grid that hold a triangle of the storage.
    static std::set<std::pair<int, int>> covered(const BucketGrid& grid,
                                                 const ObjectTriangles& storage) {
        std::set<std::pair<int, int>> pixels;
        for (int y = grid.y0; y < grid.y0 + grid.height; ++y)
            for (int x = grid.x0; x < grid.x0 + grid.width; ++x)
                if (holds(grid, x, y, storage)) pixels.insert({x, y});
        return pixels;
    }

    Tile tile_;
    RenderObject* const owner_ = reinterpret_cast<RenderObject*>(0x10);

private:
    test::RenderOptionsGuard options_;
};

// Whether the closed triangle touches the half-open pixel square
// [i, i+1) × [j, j+1): clip it to the closed square, then look for a point
// of the clipped polygon off the square's right and top edges.
using Real = long double;
struct P2 {
    Real x, y;
};
bool touches(const P2 tri[3], int i, int j) {
    const Real xmin = std::min({tri[0].x, tri[1].x, tri[2].x}),
               xmax = std::max({tri[0].x, tri[1].x, tri[2].x});
    const Real ymin = std::min({tri[0].y, tri[1].y, tri[2].y}),
               ymax = std::max({tri[0].y, tri[1].y, tri[2].y});
    if (xmax < i || xmin >= i + 1 || ymax < j || ymin >= j + 1) return false;
    std::vector<P2> poly(tri, tri + 3);
    auto clip = [&](Real a, Real b, Real c) {  // keep a·x + b·y ≤ c
        std::vector<P2> out;
        for (std::size_t k = 0; k < poly.size(); ++k) {
            const P2& p = poly[k];
            const P2& q = poly[(k + 1) % poly.size()];
            const Real fp = a * p.x + b * p.y - c, fq = a * q.x + b * q.y - c;
            if (fp <= 0) out.push_back(p);
            if ((fp < 0 && fq > 0) || (fp > 0 && fq < 0)) {
                const Real s = fp / (fp - fq);
                out.push_back({p.x + s * (q.x - p.x), p.y + s * (q.y - p.y)});
            }
        }
        poly = out;
    };
    clip(-1, 0, -i), clip(1, 0, i + 1), clip(0, -1, -j), clip(0, 1, j + 1);
    bool left_of_right = false, below_top = false;
    for (const P2& p : poly) {
        left_of_right = left_of_right || p.x < i + 1;
        below_top = below_top || p.y < j + 1;
    }
    return !poly.empty() && left_of_right && below_top;
}

TEST_F(Buckets, EveryPixelARandomTriangleTouchesHoldsIt) {
    std::mt19937 random(20261207);
    std::uniform_real_distribution<float> unit(0, 1);
    auto coordinate = [&](float centre, float extent, int kind) {
        float v = centre + (unit(random) - 0.5f) * extent;
        if (kind == 1) return std::round(v);          // on a pixel edge
        if (kind == 2) return std::round(v * 2) / 2;  // on a pixel centre line
        return v;
    };
    long exact_pixels = 0, extra_pixels = 0, triangles = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        const int shape = trial % 5;
        const int kind = (trial / 5) % 3;
        const float extent = shape == 0 ? 0.8f : shape == 1 ? 6.0f : shape == 2 ? 40.0f : 2000.0f;
        const float cx = unit(random) * 660 - 8, cy = 92 + unit(random) * 30;
        float x[3], y[3];
        for (int k = 0; k < 3; ++k)
            x[k] = coordinate(cx, extent, kind), y[k] = coordinate(cy, extent, kind);
        if (shape == 4) {  // a sliver: the third vertex near the line of the first two
            const float s = unit(random);
            x[2] = x[0] + s * (x[1] - x[0]) + (unit(random) - 0.5f) * 0.01f;
            y[2] = y[0] + s * (y[1] - y[0]) + (unit(random) - 0.5f) * 0.01f;
        }
        ObjectTriangles storage(owner_);
        if (!enter_triangle(storage, corner(x[0], y[0]), corner(x[1], y[1]), corner(x[2], y[2]), 0))
            continue;
        ++triangles;
        finish_object_triangles(storage);
        const BucketGrid& grid = fill(storage);
        const P2 tri[3] = {{x[0], y[0]}, {x[1], y[1]}, {x[2], y[2]}};
        for (int j = tile_.y_first; j <= tile_.y_last; ++j) {
            for (int i = tile_.x_first; i <= tile_.x_last; ++i) {
                const bool touched = touches(tri, i, j), held = holds(grid, i, j, storage);
                if (touched && !held) {
                    ADD_FAILURE() << "pixel (" << i << ", " << j << ") misses triangle (" << x[0]
                                  << ", " << y[0] << ") (" << x[1] << ", " << y[1] << ") (" << x[2]
                                  << ", " << y[2] << ")";
                    return;
                }
                exact_pixels += touched;
                extra_pixels += held && !touched;
            }
        }
    }
    EXPECT_GT(triangles, 2000);
    std::printf(
        "[ conservative ] %ld triangles: %ld pixels touched, %ld extra pixels entered (%.1f%%)\n",
        triangles, exact_pixels, extra_pixels, 100.0 * extra_pixels / std::max(exact_pixels, 1L));
}

TEST_F(Buckets, AVertexInsideARowReachesItsColumnThroughTheExtendedEdges) {
    ObjectTriangles storage(owner_);
    ASSERT_TRUE(
        enter_triangle(storage, corner(2, 100.2f), corner(40.5f, 105.5f), corner(3, 110.7f), 0));
    const BucketGrid& grid = fill(storage);
    EXPECT_TRUE(holds(grid, 40, 105, storage));
    EXPECT_FALSE(holds(grid, 42, 105, storage));
}

TEST_F(Buckets, AHorizontalEdgeWidensNothingButItsRowIsCoveredByTheOthers) {
    ObjectTriangles storage(owner_);
    ASSERT_TRUE(enter_triangle(storage, corner(2, 105), corner(20, 105), corner(10, 110), 0));
    const BucketGrid& grid = fill(storage);
    for (int x = 2; x <= 20; ++x) EXPECT_TRUE(holds(grid, x, 105, storage)) << x;
    EXPECT_FALSE(holds(grid, 10, 104, storage));
    EXPECT_FALSE(holds(grid, 1, 105, storage));
    EXPECT_FALSE(holds(grid, 21, 105, storage));
}

TEST_F(Buckets, ATriangleOfNearlyEqualHeightsStillReachesAllItsPixels) {
    // Every edge is flatter than the ignored extent: the vertices' own rows
    // take them.
    // Two and four steps of single precision apart, near the bottom of
    // the image where the steps are finer than the ignored extent.
    const float y0 = 3.3f, y1 = std::nextafter(std::nextafter(y0, 9.f), 9.f);
    const float y2 = std::nextafter(std::nextafter(y1, 9.f), 9.f);
    ObjectTriangles storage(owner_);
    ASSERT_TRUE(
        enter_triangle(storage, corner(0.5f, y0), corner(600.5f, y1), corner(300.25f, y2), 0));
    tile_.y_first = 0, tile_.y_last = 14;
    const BucketGrid& grid = fill(storage);
    for (int x = 0; x <= 600; ++x) ASSERT_TRUE(holds(grid, x, 3, storage)) << x;
}

TEST(SpanEntry, ACrossingJustShortOfAPixelEdgeKeepsThatPixelAndItsNeighbours) {
    // Crossings a hair left of x = 5 (single precision rounds them to 5)
    // reach back into column 4; a row spans the union of its two lines,
    // whichever edge gave each.
    RowSpan spans[5];
    SpanGrid grid;
    grid.spans = spans, grid.width = 10, grid.height = 4;
    const double left = 5.0 - 1e-12;
    const SpanPoint p[3] = {{left, 0.2}, {left, 1.8}, {8.0, 1.0}};
    std::vector<std::array<int, 3>> rows;
    enter_still_triangle(grid, p, [&](std::int32_t r, std::int32_t start, std::int32_t end) {
        rows.push_back({r, start, end});
    });
    EXPECT_EQ(rows, (std::vector<std::array<int, 3>>{{1, 4, 8}, {0, 4, 8}}));

    // In a grid that starts one column further left, lower down, and
    // reaching past the grid's last column: clipped there.
    grid.x0 = -1;
    rows.clear();
    const SpanPoint q[3] = {{left, 2.5}, {left, 3.5}, {12.0, 3.0}};
    enter_still_triangle(grid, q, [&](std::int32_t r, std::int32_t start, std::int32_t end) {
        rows.push_back({r, start, end});
    });
    EXPECT_EQ(rows, (std::vector<std::array<int, 3>>{{3, 5, 9}, {2, 5, 9}}));
}

// The cells span entry gives a triangle, row by row, without any shortcut.
std::vector<std::array<int, 3>> spans_of(const SpanGrid& grid, const SpanPoint p[3]) {
    std::vector<std::array<int, 3>> rows;
    SpanEntry entry(grid);
    if (!entry.rows(p, 3)) return rows;
    bool flat[3];
    for (int i = 0; i < 3; ++i) {
        flat[i] = std::fabs(p[i].y - p[(i + 1) % 3].y) <= kFlatEdge;
        entry.edge(p[i], p[(i + 1) % 3]);
    }
    for (int i = 0; i < 3; ++i)
        if (flat[i] && flat[(i + 2) % 3]) entry.point(p[i]);
    entry.fill([&](int r, int start, int end) { rows.push_back({r, start, end}); });
    return rows;
}

// Triangles of a dense mesh: a cell or two across, corners often on the
// grid's lines or a hair beside them, some reaching out of the grid.
std::vector<std::array<SpanPoint, 3>> small_triangles(int count) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0, 1);
    auto coordinate = [&](double base) {
        switch (static_cast<int>(unit(random) * 5)) {
            case 0:
                return std::floor(base);  // on a line
            case 1:
                return std::floor(base) + 1e-12;  // just above one
            case 2:
                return std::ceil(base) - 1e-12;  // just below one
            case 3:
                return std::floor(base) + 0.5 + 4e-7;  // near the centre
            default:
                return base;
        }
    };
    std::vector<std::array<SpanPoint, 3>> out;
    for (int i = 0; i < count; ++i) {
        const double cx = unit(random) * 14 - 1, cy = unit(random) * 8 - 1;
        const double size = i % 3 == 0 ? 0.3 : 1.6;
        std::array<SpanPoint, 3> t;
        for (SpanPoint& q : t)
            q = {coordinate(cx + unit(random) * size), coordinate(cy + unit(random) * size)};
        if (i % 7 == 0) t[1].y = t[0].y + 5e-7;  // a flat edge
        out.push_back(t);
    }
    // Corners no box can hold.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    out.push_back({{{1.2, 1.2}, {nan, 1.4}, {1.6, 1.3}}});
    out.push_back({{{1.2, 1.2}, {1.3, nan}, {1.6, 1.3}}});
    out.push_back({{{1.2, 1.2}, {1.3, INFINITY}, {1.6, 1.3}}});
    out.push_back({{{1.2, -0.2}, {1.3, 0.4}, {1.6, 0.3}}});
    out.push_back({{{1.2, 1.2}, {-INFINITY, 1.4}, {INFINITY, 1.3}}});
    out.push_back({{{1.2, 1.2}, {1.3, -INFINITY}, {1.6, INFINITY}}});
    out.push_back({{{1.2, 1.2}, {1.3, 1.4}, {1e9, 1.3}}});
    // Far out, but with a box.
    out.push_back({{{1.2, 1.2}, {1.3, 1.4}, {999999999.5, 1.3}}});
    return out;
}

TEST(SpanEntry, SmallTrianglesReachExactlyTheCellsTheirSpansGive) {
    RowSpan spans[7];
    SpanGrid grid;
    grid.spans = spans, grid.width = 12, grid.height = 6, grid.x0 = 1, grid.y0 = 0;
    for (const auto& t : small_triangles(20000)) {
        std::vector<std::array<int, 3>> rows;
        enter_still_triangle(grid, t.data(),
                             [&](std::int32_t r, std::int32_t start, std::int32_t end) {
                                 rows.push_back({r, start, end});
                             });
        ASSERT_EQ(rows, spans_of(grid, t.data())) << t[0].x << "," << t[0].y << " " << t[1].x << ","
                                                  << t[1].y << " " << t[2].x << "," << t[2].y;
    }
}

// Triangles of a coarser mesh and slivers, whose boxes run from a few
// cells to more than the centre entry fills whole: a random corner, and
// two more up to nine cells away, or the third a hair beside the line
// through the other two (some of them along a row or a column).
std::vector<std::array<SpanPoint, 3>> wide_triangles(int count) {
    std::mt19937 random(23);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<std::array<SpanPoint, 3>> out;
    for (int i = 0; i < count; ++i) {
        const SpanPoint a{unit(random) * 16 - 2, unit(random) * 10 - 2};
        const double reach = 1 + unit(random) * 8;
        SpanPoint b{a.x + (unit(random) * 2 - 1) * reach, a.y + (unit(random) * 2 - 1) * reach};
        if (i % 5 == 0) b.y = a.y;  // along a row
        if (i % 5 == 1) b.x = a.x;  // along a column
        SpanPoint c{a.x + (unit(random) * 2 - 1) * reach, a.y + (unit(random) * 2 - 1) * reach};
        if (i % 2 == 0) {
            const double along = unit(random), aside = std::pow(10.0, -1 - 6 * unit(random));
            c = {a.x + along * (b.x - a.x) + aside, a.y + along * (b.y - a.y) - aside};
        }
        out.push_back({a, b, c});
    }
    return out;
}

// Span entry's outward rounding: the float at or below (above) a double
// is the conversion, or the float next to it that way when the conversion
// went the wrong way, around zero and at the ends of the range as well.
TEST(SpanEntry, RowsRoundOutwardToTheNearestFloatThatHoldsTheSpan) {
    const double denorm = std::numeric_limits<float>::denorm_min();
    const double values[] = {0.0,       -0.0,       1.0,        -1.0,          1.0 + 1e-12,
                             1 - 1e-12, -1 - 1e-12, -1 + 1e-12, 1e-50,         -1e-50,
                             denorm,    -denorm,    denorm / 3, -denorm / 3,   644.9999999,
                             1e38,      -1e38,      3.5e38,     -3.5e38,       1e300,
                             -1e300,    1.0 / 3,    -1.0 / 3,   123456789.123, -123456789.123};
    for (double v : values) {
        SCOPED_TRACE(v);
        const float f = static_cast<float>(v);
        const float below = static_cast<double>(f) > v ? std::nextafter(f, -INFINITY) : f;
        const float above = static_cast<double>(f) < v ? std::nextafter(f, INFINITY) : f;
        EXPECT_EQ(std::bit_cast<std::uint32_t>(float_at_or_below(v)),
                  std::bit_cast<std::uint32_t>(below));
        EXPECT_EQ(std::bit_cast<std::uint32_t>(float_at_or_above(v)),
                  std::bit_cast<std::uint32_t>(above));
        EXPECT_LE(static_cast<double>(float_at_or_below(v)), v);
        EXPECT_GE(static_cast<double>(float_at_or_above(v)), v);
    }
    EXPECT_TRUE(std::isnan(float_at_or_below(std::nan(""))));
    EXPECT_TRUE(std::isnan(float_at_or_above(std::nan(""))));
    // A column from the left end of a span takes the float's trunc, also
    // a hair below an integer and around 2^24, where floats stop holding
    // every integer.
    for (double base : {-2.0, -1.0, 0.0, 1.0, 644.0, 8388608.0, 16777215.0, 16777216.0, 16777217.0,
                        33554433.0, 999999999.0}) {
        for (double offset : {-0.5, -1e-9, -1e-15, 0.0, 1e-15, 1e-9, 0.5, 0.9999999}) {
            const double v = base + offset;
            EXPECT_EQ(column_at_or_below(v), trunc_to_int(float_at_or_below(v))) << v;
        }
    }
    EXPECT_EQ(column_at_or_below(std::nan("")), trunc_to_int(float_at_or_below(std::nan(""))));
}

// Triangles whose boxes have more than one row and column take the spans
// without trunc's guards; they must reach exactly the cells the guarded
// spans give, in grids that start at the screen's origin (where a line no
// edge reaches lies at x = -1) or away from it, for triangles larger than
// the grid, slivers, corners on the cells' lines and triangles the grid
// cuts on any side.
TEST(SpanEntry, WideTrianglesReachExactlyTheCellsTheirSpansGive) {
    RowSpan spans[11];
    SpanGrid grid;
    grid.spans = spans, grid.width = 14, grid.height = 10;
    auto triangles = wide_triangles(20000);
    // The same with every corner on a line or a hair above it, half of
    // them on a column's edge.
    for (std::size_t i = 0, n = triangles.size(); i < n; ++i) {
        auto t = triangles[i];
        for (SpanPoint& q : t) q = {std::round(q.x * 2) / 2, std::floor(q.y) + (i % 2) * 1e-13};
        triangles.push_back(t);
    }
    for (const auto origin : {std::array<int, 2>{0, 0}, {1, 0}, {0, 3}, {5, 7}}) {
        grid.x0 = origin[0], grid.y0 = origin[1];
        for (const auto& t : triangles) {
            std::vector<std::array<int, 3>> rows;
            enter_still_triangle(grid, t.data(),
                                 [&](std::int32_t r, std::int32_t start, std::int32_t end) {
                                     rows.push_back({r, start, end});
                                 });
            ASSERT_EQ(rows, spans_of(grid, t.data()))
                << t[0].x << "," << t[0].y << " " << t[1].x << "," << t[1].y << " " << t[2].x << ","
                << t[2].y << " in a grid at " << grid.x0 << "," << grid.y0;
        }
    }
}

// Centre entry must find exactly the centres span entry's cells hold, each
// once, and reach every cell span entry gives.
void expect_the_centres_of_span_entry(const SpanGrid& grid,
                                      const std::vector<std::array<SpanPoint, 3>>& triangles) {
    // Whether the closed triangle covers a cell's centre, in double.
    auto covers = [&](const std::array<SpanPoint, 3>& t, int r, int c) {
        const double x = c + grid.x0 + 0.5, y = r + grid.y0 + 0.5;
        double side[3];
        for (int i = 0; i < 3; ++i) {
            const SpanPoint& a = t[i];
            const SpanPoint& b = t[(i + 1) % 3];
            side[i] = (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
        }
        return (side[0] >= 0 && side[1] >= 0 && side[2] >= 0) ||
               (side[0] <= 0 && side[1] <= 0 && side[2] <= 0);
    };
    for (const auto& t : triangles) {
        SCOPED_TRACE(testing::Message() << t[0].x << "," << t[0].y << " " << t[1].x << "," << t[1].y
                                        << " " << t[2].x << "," << t[2].y);
        std::set<std::pair<int, int>> by_spans, by_centres, reached;
        for (const auto& row : spans_of(grid, t.data()))
            for (int c = row[1]; c <= row[2]; ++c) {
                reached.insert({row[0], c});
                if (covers(t, row[0], c)) by_spans.insert({row[0], c});
            }
        enter_still_triangle_centres(grid, t.data(),
                                     [&](std::int32_t r, std::int32_t start, std::int32_t end) {
                                         for (int c = start; c <= end; ++c) {
                                             reached.erase({r, c});
                                             // Each cell once.
                                             if (covers(t, r, c)) {
                                                 ASSERT_TRUE(by_centres.insert({r, c}).second);
                                             }
                                         }
                                     });
        EXPECT_TRUE(reached.empty());
        ASSERT_EQ(by_centres, by_spans);
    }
}

TEST(SpanEntry, CentreEntryFindsTheCentresSpanEntryFinds) {
    RowSpan spans[7];
    SpanGrid grid;
    grid.spans = spans, grid.width = 12, grid.height = 6, grid.x0 = 0, grid.y0 = 1;
    expect_the_centres_of_span_entry(grid, small_triangles(20000));
    RowSpan more_spans[11];
    grid.spans = more_spans, grid.width = 14, grid.height = 10, grid.x0 = 1, grid.y0 = 0;
    expect_the_centres_of_span_entry(grid, wide_triangles(20000));
}

// A still triangle whose cell box is at most two rows and two columns
// goes to the cells its set-up kept, without its vertices. Through
// enter_triangle and bucket_object it must reach exactly the cells span
// entry gives its corners (projected as bucket entry projects them), in
// tiles down the screen whose grids cut it or reach past the image's
// edges, for corners on the cells' lines or a hair beside them, in
// perspective and orthographic views; larger triangles, some taller than
// a tile, as before.
TEST_F(Buckets, SmallTrianglesHoldTheCellsTheirSpansGive) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> unit(0, 1);
    auto coordinate = [&](double base) {
        switch (static_cast<int>(unit(random) * 5)) {
            case 0:
                return std::floor(base);
            case 1:
                return std::floor(base) + 1e-5;
            case 2:
                return std::ceil(base) - 1e-5;
            case 3:
                return std::floor(base) + 0.5;
            default:
                return base;
        }
    };
    long small = 0, others = 0;
    for (bool perspective : {false, true}) {
        GeometryView& view = geometry_view();
        view.screen = perspective ? ScreenMapping{322.5f, 243, 600, 600, true}
                                  : ScreenMapping{0, 0, 1, 1, false};
        view.near = 0.5f, view.far = 100;
        for (int trial = 0; trial < 3000; ++trial) {
            tile_.y_first = trial % 3 == 0 ? 0 : 15 * (trial % 31),
            tile_.y_last = tile_.y_first + 14;
            const double cx = unit(random) * 649 - 2, cy = tile_.y_first - 2 + unit(random) * 19;
            const double size = trial % 4 == 0 ? 3.0 : trial % 4 == 1 ? 40.0 : 1.2;
            CornerValues c[3];
            for (CornerValues& v : c) {
                const double x = coordinate(cx + unit(random) * size);
                const double y = coordinate(cy + unit(random) * size);
                // The eye point the view maps there, 7 units down -z.
                const double ex = perspective ? (322.5 - x) * -7.0 / -600.0 : x;
                const double ey = perspective ? (243 - y) * -7.0 / -600.0 : y;
                v = corner(static_cast<float>(ex), static_cast<float>(ey), -7.0f);
            }
            ObjectTriangles storage(owner_);
            if (!enter_triangle(storage, c[0], c[1], c[2], 0)) continue;
            finish_object_triangles(storage);
            const ScreenTriangle& t = *storage.first;
            (has_small_cells(t) ? small : others) += 1;
            const std::set<std::pair<int, int>> held = covered(fill(storage), storage);
            const BucketGrid& grid = bucket_grid();
            SpanPoint p[3];
            int i = 0;
            for (const ScreenVertex* v : {t.P0, t.P1, t.P2})
                p[i++] = project_to_screen(view, v->shading->eye);
            std::set<std::pair<int, int>> spans;
            const SpanGrid span_grid{grid.spans, grid.width, grid.height, grid.x0, grid.y0};
            for (const auto& row : spans_of(span_grid, p))
                for (int column = row[1]; column <= row[2]; ++column)
                    spans.insert({column + grid.x0, row[0] + grid.y0});
            ASSERT_EQ(held, spans) << p[0].x << "," << p[0].y << " " << p[1].x << "," << p[1].y
                                   << " " << p[2].x << "," << p[2].y << " tile " << tile_.y_first;
        }
    }
    EXPECT_GT(small, 1000);
    EXPECT_GT(others, 1000);
}

TEST_F(Buckets, BucketAtClampsToTheFirstAndLastList) {
    ObjectTriangles storage(owner_);
    ASSERT_TRUE(enter_triangle(storage, corner(-5, 90), corner(20, 99.5f), corner(-5, 99.5f), 0));
    ObjectTriangles other(reinterpret_cast<RenderObject*>(0x20));
    ASSERT_TRUE(
        enter_triangle(other, corner(640, 115.5f), corner(660, 115.5f), corner(660, 130), 0));
    // Buffers for bands of 15 rows, then for the whole window.
    for (int rows : {15, 0}) {
        give_tile_buffers(0, rows, 1);
        rewind_arena(tile_arena());
        BucketGrid& grid = bucket_grid();
        map_tile_to_buckets(grid, &tile_);
        EXPECT_EQ(grid.height, 17);
        bucket_object(grid, geometry_view(), storage);
        bucket_object(grid, geometry_view(), other);
        EXPECT_EQ(grid.x0, 0);
        EXPECT_EQ(grid.y0, 99);
        ASSERT_NE(bucket_at(grid, 99, 0), nullptr);
        EXPECT_EQ(bucket_at(grid, -1000, -1000), bucket_at(grid, 99, 0));
        EXPECT_EQ(bucket_at(grid, 98, 0), bucket_at(grid, 99, 0));
        const int last_x = grid.x0 + grid.width - 1, last_y = grid.y0 + grid.height - 1;
        ASSERT_NE(bucket_at(grid, last_y, last_x), nullptr);
        EXPECT_EQ(bucket_at(grid, 100000, 100000), bucket_at(grid, last_y, last_x));
        EXPECT_EQ(bucket_at(grid, last_y, last_x)->triangle->object, other.object);
    }
}

TEST_F(Buckets, CellsOutgrowOneBlockWithinATile) {
    ObjectTriangles storage(owner_);
    ASSERT_TRUE(enter_triangle(storage, corner(0, 99), corner(644, 99), corner(0, 116), 0));
    ASSERT_TRUE(enter_triangle(storage, corner(644, 99), corner(644, 116), corner(0, 116), 0));
    const BucketGrid& grid = fill(storage);
    EXPECT_GT(covered(grid, storage).size(), 2u * kBucketBlockRecords);
}

// Rows of cells running over the ends of blocks: every list holds each
// triangle that reaches it once, in the one order of entry that all lists
// share, and no two lists share a cell.
TEST_F(Buckets, RowsThatCrossBlockEndsKeepEveryListInOrder) {
    ObjectTriangles storage(owner_);
    for (int k = 0; k < 12; ++k) {
        const float left = static_cast<float>(7 * k), top = 99.0f + static_cast<float>(k % 5);
        ASSERT_TRUE(enter_triangle(storage, corner(left, top), corner(644, top + 1),
                                   corner(left + 3, 116), 0));
    }
    const BucketGrid& grid = fill(storage);
    std::vector<const ScreenTriangle*> order;
    for_each_triangle(storage, [&](const ScreenTriangle& t) { order.push_back(&t); });
    std::set<const BucketCell*> cells;
    std::size_t count = 0;
    for (int y = grid.y0; y < grid.y0 + grid.height; ++y)
        for (int x = grid.x0; x < grid.x0 + grid.width; ++x) {
            std::ptrdiff_t last = std::numeric_limits<std::ptrdiff_t>::max();
            for (const BucketCell* cell = bucket_at(grid, y, x); cell; cell = cell->next) {
                const auto at = std::find(order.begin(), order.end(), cell->triangle);
                ASSERT_NE(at, order.end());
                // Newest first: the list runs back through the order of entry.
                const std::ptrdiff_t position = at - order.begin();
                ASSERT_LT(position, last) << x << "," << y;
                last = position;
                EXPECT_TRUE(cells.insert(cell).second);
                ++count;
            }
        }
    EXPECT_GT(count, 3u * kBucketBlockRecords);
}

TEST_F(Buckets, ATileThatDoesNotFitTheGridIsFatal) {
    Tile wide = tile_;
    wide.x_last = 645;
    EXPECT_EXIT(map_tile_to_buckets(bucket_grid(), &wide), testing::ExitedWithCode(1),
                "^Bad tile to bucket mapping\n$");
    Tile tall = tile_;
    tall.y_last = 140;
    EXPECT_EXIT(map_tile_to_buckets(bucket_grid(), &tall), testing::ExitedWithCode(1),
                "^Bad tile to bucket mapping\n$");
}

// --- moving triangles ----------------------------------------------------------

CornerValues moving_corner(float x, float y, float z, const float open_shift[3],
                           const float close_shift[3]) {
    CornerValues c = corner(x, y, z);
    for (int k = 0; k < 3; ++k) c.motion[k] = open_shift[k], c.motion[3 + k] = close_shift[k];
    return c;
}

class MovingBuckets : public Buckets {
protected:
    // Whether the moving triangle's cells hold every point of it at `times`
    // (0 open, 1 close): each vertex moving in a straight line on the
    // screen between the two, or, when `through_frame`, in eye space from
    // open to its frame position and on to close.
    void compare(const float (*frame)[3], const float open_shift[3], const float close_shift[3],
                 std::initializer_list<float> times, bool through_frame = false) {
        ObjectTriangles moving(owner_);
        moving.moving = true;
        CornerValues m[3];
        for (int i = 0; i < 3; ++i)
            m[i] = moving_corner(frame[i][0], frame[i][1], frame[i][2], open_shift, close_shift);
        ASSERT_TRUE(enter_triangle(moving, m[0], m[1], m[2], 0));
        std::set<std::pair<int, int>> swept = covered(fill(moving), moving);
        const GeometryView& view = geometry_view();
        int checked = 0;
        for (float time : times) {
            ScreenPoint corners[3];
            bool behind_near = false;
            for (int i = 0; i < 3; ++i) {
                float open[3], close[3], p[3];
                for (int k = 0; k < 3; ++k) {
                    open[k] = frame[i][k] - open_shift[k];
                    close[k] = frame[i][k] + close_shift[k];
                    p[k] = time < 0.5f ? open[k] + 2 * time * (frame[i][k] - open[k])
                                       : frame[i][k] + (2 * time - 1) * (close[k] - frame[i][k]);
                }
                behind_near = behind_near || p[2] > -view.near;
                corners[i] = view.screen.map(Triple{p[0], p[1], p[2]});
                if (!through_frame) {
                    const ScreenPoint a = view.screen.map(Triple{open[0], open[1], open[2]});
                    const ScreenPoint b = view.screen.map(Triple{close[0], close[1], close[2]});
                    corners[i] = {a.x + time * (b.x - a.x), a.y + time * (b.y - a.y)};
                }
            }
            if (through_frame && behind_near) continue;
            for (int i = 0; i <= 40; ++i)
                for (int j = 0; i + j <= 40; ++j) {
                    const float u = i / 40.0f, v = j / 40.0f;
                    const float x = corners[0].x + u * (corners[1].x - corners[0].x) +
                                    v * (corners[2].x - corners[0].x);
                    const float y = corners[0].y + u * (corners[1].y - corners[0].y) +
                                    v * (corners[2].y - corners[0].y);
                    const int px = static_cast<int>(std::floor(x));
                    const int py = static_cast<int>(std::floor(y));
                    if (py < tile_.y_first || py > tile_.y_last) continue;
                    ++checked;
                    EXPECT_TRUE(swept.count({px, py}))
                        << "time " << time << " at " << x << ", " << y;
                }
        }
        EXPECT_GT(checked, 0);
    }
};

TEST_F(MovingBuckets, TheSweepHoldsTheTriangleAtOpenAndCloseAndOnTheWayBetween) {
    const float frame[3][3] = {{100, 101, -5}, {104, 103, -5}, {101, 109, -5}};
    const float open[3] = {30, 2, 0}, close[3] = {25, -3, 0};
    compare(frame, open, close, {0.0f, 0.2f, 0.5f, 0.7f, 1.0f});
    // Coming toward the eye in perspective: on the screen the frame position
    // lies off the way from open to close.
    GeometryView& view = geometry_view();
    view.screen = ScreenMapping{322.5f, 107, 300, 300, true};
    view.near = 0.5f;
    const float deep[3][3] = {{0.2f, 0.0f, -5}, {0.5f, 0.05f, -5}, {0.3f, 0.2f, -5}};
    const float far_open[3] = {0.5f, 0.1f, 2.5f}, near_close[3] = {-0.3f, 0.05f, 3.5f};
    compare(deep, far_open, near_close, {0.0f, 0.1f, 0.3f, 0.6f, 0.9f, 1.0f});
}

TEST_F(MovingBuckets, ATriangleReachingThroughTheNearPlaneIsHeldAtItsFramePositionToo) {
    GeometryView& view = geometry_view();
    view.screen = ScreenMapping{322.5f, 107, 300, 300, true};
    view.near = 1;
    // The open position lies between the eye and the near plane.
    const float frame[3][3] = {{0.2f, -0.05f, -3}, {0.6f, -0.05f, -3}, {0.3f, 0.1f, -3}};
    const float open[3] = {0, 0, -2.5f}, close[3] = {0.4f, 0.1f, 0};
    compare(frame, open, close, {0.5f, 1.0f}, true);
}

TEST_F(MovingBuckets, EveryPointOfTheSweepInFrontOfTheEyeIsHeld) {
    GeometryView& view = geometry_view();
    view.screen = ScreenMapping{322.5f, 107, 300, 300, true};
    view.near = 0.5f;
    std::mt19937 random(5);
    std::uniform_real_distribution<float> unit(0, 1);
    auto around = [&](float centre, float extent) {
        return centre + (unit(random) - 0.5f) * extent;
    };
    int checked = 0, cut = 0;
    for (int trial = 0; trial < 150; ++trial) {
        ObjectTriangles moving(owner_);
        moving.moving = true;
        CornerValues c[3];
        bool reaches_near = false;
        for (int i = 0; i < 3; ++i) {
            const float open[3] = {around(0, 1), around(0, 0.3f), around(0, 2)};
            const float close[3] = {around(0, 1), around(0, 0.3f), around(0, 2)};
            c[i] = moving_corner(around(0, 2), around(0, 0.5f), around(-1.5f, 2), open, close);
            const float* e = c[i].eye;
            reaches_near =
                reaches_near || e[2] - open[2] >= -view.near || e[2] + close[2] >= -view.near;
        }
        if (!enter_triangle(moving, c[0], c[1], c[2], 0)) continue;
        cut += reaches_near;
        const std::set<std::pair<int, int>> swept = covered(fill(moving), moving);
        for (int sample = 0; sample < 400; ++sample) {
            // A point of the triangle at a time of the shutter: each vertex
            // moves on the screen from where it is at open to where it is at
            // close; one cut by the near plane holds it where it is in eye
            // space as it moves from open to the frame, then on to close.
            const float time = unit(random);
            float w[3] = {unit(random), unit(random), 0};
            if (w[0] + w[1] > 1) w[0] = 1 - w[0], w[1] = 1 - w[1];
            w[2] = 1 - w[0] - w[1];
            ScreenPoint s{0, 0};
            if (reaches_near) {
                float p[3] = {0, 0, 0};
                for (int i = 0; i < 3; ++i)
                    for (int k = 0; k < 3; ++k) {
                        const float* e = c[i].eye;
                        const float* m = c[i].motion;
                        const float at = time < 0.5f ? e[k] - m[k] * (1 - 2 * time)
                                                     : e[k] + m[3 + k] * (2 * time - 1);
                        p[k] += w[i] * at;
                    }
                if (p[2] > -view.near - 1e-4f) continue;
                s = view.screen.map(Triple{p[0], p[1], p[2]});
            } else {
                for (int i = 0; i < 3; ++i) {
                    const float* e = c[i].eye;
                    const float* m = c[i].motion;
                    const ScreenPoint a =
                        view.screen.map(Triple{e[0] - m[0], e[1] - m[1], e[2] - m[2]});
                    const ScreenPoint b =
                        view.screen.map(Triple{e[0] + m[3], e[1] + m[4], e[2] + m[5]});
                    s.x += w[i] * (a.x + time * (b.x - a.x));
                    s.y += w[i] * (a.y + time * (b.y - a.y));
                }
            }
            const int x = static_cast<int>(std::floor(s.x)), y = static_cast<int>(std::floor(s.y));
            if (x < 0 || x > 644 || y < tile_.y_first || y > tile_.y_last) continue;
            // Away from pixel edges, where single precision could tip it over.
            if (s.x - x < 1e-3f || x + 1 - s.x < 1e-3f || s.y - y < 1e-3f || y + 1 - s.y < 1e-3f)
                continue;
            ++checked;
            ASSERT_TRUE(swept.count({x, y}))
                << "trial " << trial << " time " << time << " at " << s.x << ", " << s.y;
        }
    }
    EXPECT_GT(checked, 2000);
    EXPECT_GT(cut, 10);  // both ways of bounding the sweep were tried
}

TEST_F(MovingBuckets, ATriangleThatDoesNotMoveCoversWhatAStillOneDoes) {
    const float none[3] = {0, 0, 0};
    ObjectTriangles moving(owner_), still(owner_);
    moving.moving = true;
    ASSERT_TRUE(enter_triangle(moving, moving_corner(100, 101, -5, none, none),
                               moving_corner(104, 103, -5, none, none),
                               moving_corner(101, 109, -5, none, none), 0));
    ASSERT_TRUE(enter_triangle(still, corner(100, 101), corner(104, 103), corner(101, 109), 0));
    EXPECT_EQ(covered(fill(moving), moving), covered(fill(still), still));
}

// Every list of the tile, and how many of their cells follow one another
// in memory.
struct TileLists {
    std::vector<std::vector<const ScreenTriangle*>> triangles;
    std::size_t cells = 0, side_by_side = 0;
};

class GroupedEntry : public MovingBuckets {
protected:
    template <typename Enter>
    TileLists lists_of(Enter&& enter) {
        rewind_arena(tile_arena());
        BucketGrid& grid = bucket_grid();
        map_tile_to_buckets(grid, &tile_);
        enter(grid);
        TileLists lists;
        for (int y = grid.y0; y < grid.y0 + grid.height; ++y)
            for (int x = grid.x0; x < grid.x0 + grid.width; ++x) {
                std::vector<const ScreenTriangle*>& list = lists.triangles.emplace_back();
                for (const BucketCell* cell = bucket_at(grid, y, x); cell; cell = cell->next) {
                    list.push_back(cell->triangle);
                    ++lists.cells;
                    if (cell->next != nullptr && (cell->next == cell - 1 || cell->next == cell + 1))
                        ++lists.side_by_side;
                }
            }
        return lists;
    }
    // `count` moving triangles of corners `shape` (pixels from a place that
    // steps through `columns` × `rows` places from (300, `y`)), each
    // sliding `shift` pixels to the right from open to frame and on to close.
    void add_sliding(ObjectTriangles& moving, int count, float shift, int columns, int rows,
                     float y, const float (&shape)[3][2]) {
        moving.moving = true;
        const float along[3] = {shift, 0, 0};
        for (int k = 0; k < count; ++k) {
            const float x0 = 300.0f + static_cast<float>(k % columns);
            const float y0 = y + static_cast<float>(k % rows);
            CornerValues c[3];
            for (int i = 0; i < 3; ++i)
                c[i] = moving_corner(x0 + shape[i][0], y0 + shape[i][1], -5, along, along);
            ASSERT_TRUE(enter_triangle(moving, c[0], c[1], c[2], 0));
        }
    }
    // The object entered whole against its triangles entered one by one.
    void compare_with_direct_entry(const ObjectTriangles& moving, std::size_t fewest_cells) {
        const TileLists grouped =
            lists_of([&](BucketGrid& grid) { bucket_object(grid, geometry_view(), moving); });
        const TileLists direct = lists_of([&](BucketGrid& grid) {
            for_each_triangle(moving, [&](const ScreenTriangle& t) {
                bucket_triangle(grid, geometry_view(), moving, t);
            });
        });
        EXPECT_GT(grouped.cells, fewest_cells);
        EXPECT_EQ(grouped.cells, direct.cells);
        EXPECT_TRUE(grouped.triangles == direct.triangles);
        // One triangle after another, a pixel's cells lie apart.
        EXPECT_GT(grouped.side_by_side, grouped.cells * 9 / 10);
        EXPECT_LT(direct.side_by_side, direct.cells / 10);
    }
};

TEST_F(GroupedEntry, AMovingObjectsListsKeepTheOrderOfEntryAndTheirCellsLieSideBySide) {
    // Triangles sweeping across the whole tile: far more cells than are
    // held back at once, so that they are entered in several batches.
    ObjectTriangles moving(owner_);
    add_sliding(moving, 120, 300, 7, 13, 98, {{0, 0}, {4, 1}, {1, 5}});
    compare_with_direct_entry(moving, 300000);
}

TEST_F(GroupedEntry, PixelsThatThousandsOfMovingTrianglesReachKeepTheirOrderToo) {
    // Small triangles sliding a few pixels over one spot: its pixels hold
    // thousands of cells each, more than are laid out together elsewhere.
    ObjectTriangles moving(owner_);
    add_sliding(moving, 3000, 2, 3, 2, 105, {{0, 0}, {1, 0}, {0, 1}});
    compare_with_direct_entry(moving, 3000 * 8);
    const TileLists grouped =
        lists_of([&](BucketGrid& grid) { bucket_object(grid, geometry_view(), moving); });
    std::size_t longest = 0;
    for (const auto& list : grouped.triangles) longest = std::max(longest, list.size());
    EXPECT_GT(longest, 2000u);
}

TEST_F(MovingBuckets, AVertexWithoutMotionEndsTheRunAsAFailure) {
    ObjectTriangles storage(owner_);
    ASSERT_TRUE(enter_triangle(storage, corner(100, 101), corner(104, 103), corner(101, 109), 0));
    storage.moving = true;  // the records were made for a still object
    EXPECT_EXIT(fill(storage), testing::ExitedWithCode(1),
                "^Logical error: no motion info on motion blurred triangle\n$");
}

TEST_F(MovingBuckets, ATriangleInFrontOfTheNearPlaneThroughTheShutterIsDropped) {
    GeometryView& view = geometry_view();
    view.near = 1;
    ObjectTriangles storage(owner_);
    storage.moving = true;
    const float open[3] = {0, 0, 0.2f}, close[3] = {0, 0, 0.2f};
    EXPECT_FALSE(enter_triangle(storage, moving_corner(100, 101, -0.5f, open, close),
                                moving_corner(104, 103, -0.5f, open, close),
                                moving_corner(101, 109, -0.5f, open, close), 0));
    const float far_open[3] = {0, 0, 0.8f};
    EXPECT_TRUE(enter_triangle(storage, moving_corner(100, 101, -0.5f, far_open, close),
                               moving_corner(104, 103, -0.5f, far_open, close),
                               moving_corner(101, 109, -0.5f, far_open, close), 0));
}

}  // namespace
}  // namespace sky
