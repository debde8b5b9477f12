// The layer list of a sample: depth order, the cut-off of opaque hits, the
// shared-edge rule of transparent surfaces, and the pool's blocks.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "render/sample_node.h"
#include "scene/scene_objects.h"

namespace sky {
namespace {

struct Scene {
    ObjectShading opaque_shading{}, clear_shading{};
    RenderObject opaque, clear;
    std::vector<ScreenTriangle> triangles;
    std::vector<BucketCell> cells;
    LayerPool pool;

    Scene() {
        clear_shading.transparent = true;
        opaque.shading = &opaque_shading;
        clear.shading = &clear_shading;
        triangles.reserve(64);
    }
    // A triangle through three screen points (x, y) at constant depth z.
    void add(float x0, float y0, float x1, float y1, float x2, float y2, float z,
             bool transparent) {
        ScreenTriangle t{};
        const float D = (x1 - x0) * (y2 - y0) - (x2 - x0) * (y1 - y0);
        t.x0 = x0, t.y0 = y0, t.z0 = z;
        t.a = (x1 - x0) / D, t.b = (y1 - y0) / D;
        t.c = (x2 - x0) / D, t.d = (y2 - y0) / D;
        t.object = transparent ? &clear : &opaque;
        triangles.push_back(t);
    }
    // A square [0, 4]² at depth z.
    void square(float z, bool transparent) {
        add(0, 0, 4, 0, 4, 4, z, transparent), add(0, 0, 4, 4, 0, 4, z, transparent);
    }

    std::vector<const RC_Layer*> layers(float x, float y, bool* transparent = nullptr) {
        cells.assign(triangles.size(), BucketCell{});
        for (std::size_t k = 0; k < triangles.size(); ++k) {
            cells[k].triangle = &triangles[k];
            cells[k].next = k + 1 < triangles.size() ? &cells[k + 1] : nullptr;
        }
        bool seen = false;
        std::vector<const RC_Layer*> out;
        for (const RC_Layer* l =
                 collect_layers(cells.empty() ? nullptr : &cells[0], x, y, pool, seen);
             l; l = l->next)
            out.push_back(l);
        if (transparent) *transparent = seen;
        return out;
    }
};

TEST(Layers, TheNearestOpaqueHitEndsTheList) {
    Scene s;
    s.square(0.2f, true);  // behind the opaque one: never shaded
    s.square(0.5f, false);
    s.square(0.8f, true);  // in front: shaded over it
    s.square(0.3f, false);
    bool transparent = false;
    auto list = s.layers(1.0f, 3.0f, &transparent);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_FLOAT_EQ(list[0]->depth, 0.5f);
    EXPECT_FLOAT_EQ(list[1]->depth, 0.8f);
    EXPECT_TRUE(transparent);
    EXPECT_TRUE(s.layers(9.0f, 9.0f).empty());
}

TEST(Layers, OfTwoOpaqueHitsAtOneDepthTheFirstListedWins) {
    Scene s;
    s.square(0.5f, false);
    s.square(0.5f, false);
    auto list = s.layers(1.0f, 3.0f);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->triangle, &s.triangles[1]);  // the first square's upper triangle
}

TEST(Layers, ATransparentSurfaceCountsOnceOnItsSharedEdge) {
    Scene s;
    s.square(0.6f, true);
    s.square(0.4f, false);
    // (2, 2) lies on the diagonal both triangles of the square share.
    auto on_edge = s.layers(2.0f, 2.0f);
    ASSERT_EQ(on_edge.size(), 2u);
    EXPECT_FLOAT_EQ(on_edge[1]->depth, 0.6f);
    // Two different transparent surfaces at distinct depths both count.
    s.square(0.7f, true);
    EXPECT_EQ(s.layers(2.0f, 2.0f).size(), 3u);
}

TEST(Layers, DepthOrderAndSlopedTriangles) {
    Scene s;
    // Depth growing with x: nearer on the right.
    ScreenTriangle t{};
    s.add(0, 0, 4, 0, 0, 4, 0.1f, true);
    s.triangles.back().dz1 = 0.8f;  // at P1 the depth is 0.9
    s.square(0.5f, true);
    auto left = s.layers(0.5f, 0.5f);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_NEAR(left[0]->depth, 0.2f, 1e-6);
    EXPECT_FLOAT_EQ(left[1]->depth, 0.5f);
    auto right = s.layers(3.0f, 0.5f);
    ASSERT_EQ(right.size(), 2u);
    EXPECT_NEAR(right[1]->depth, 0.7f, 1e-6);
    EXPECT_NEAR(right[1]->s, 0.75f, 1e-6);
    (void)t;
}

// A sample covers a triangle where its weights s and t lie in [0, 1] and
// s + t is at most 1, as the triangle's own arithmetic rounds them: on its
// edges and corners it is covered, a rounding beyond them it is not, and a
// NaN weight never covers. Points on the edges of many triangles, at their
// corners, and one float step off either way.
TEST(Layers, APointOnATrianglesEdgeIsCoveredAndOneStepBeyondIsNot) {
    std::mt19937 random(16);
    std::uniform_real_distribution<float> coordinate(-8.0f, 8.0f), along(0.0f, 1.0f);
    int covered = 0, missed = 0;
    for (int k = 0; k < 3000; ++k) {
        Scene s;
        const float x0 = coordinate(random), y0 = coordinate(random);
        const float x1 = coordinate(random), y1 = coordinate(random);
        const float x2 = coordinate(random), y2 = coordinate(random);
        s.add(x0, y0, x1, y1, x2, y2, 0.5f, false);
        const ScreenTriangle& t = s.triangles.back();
        const float f = k % 7 == 0 ? 0.0f : k % 7 == 1 ? 1.0f : along(random);
        const float corners[3][2] = {{x0, y0}, {x1, y1}, {x2, y2}};
        const float* a = corners[k % 3];
        const float* b = corners[(k + 1) % 3];
        const float ex = a[0] + f * (b[0] - a[0]), ey = a[1] + f * (b[1] - a[1]);
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy) {
                const float x = dx == 0 ? ex : std::nextafter(ex, dx * INFINITY);
                const float y = dy == 0 ? ey : std::nextafter(ey, dy * INFINITY);
                const float u = x - t.x0, v = y - t.y0;
                const float ws = u * t.d - v * t.c, wt = v * t.a - u * t.b;
                const bool inside =
                    ws >= 0.0f && ws <= 1.0f && wt >= 0.0f && wt <= 1.0f && !(ws + wt > 1.0f);
                ASSERT_EQ(s.layers(x, y).size(), inside ? 1u : 0u) << k << ": " << x << ", " << y;
                (inside ? covered : missed) += 1;
            }
    }
    EXPECT_GT(covered, 1000);
    EXPECT_GT(missed, 1000);
    // A triangle of no area has NaN or infinite weights: it covers nothing.
    Scene flat;
    flat.add(0, 0, 1, 1, 2, 2, 0.5f, false);
    EXPECT_TRUE(flat.layers(1.0f, 1.0f).empty());
    EXPECT_TRUE(flat.layers(0.5f, 0.5f).empty());
}

// Opaque and transparent surfaces at distinct depths, listed in every
// kind of order (opaque ones first, last, between): the list is the nearest
// opaque surface and the transparent ones in front of it, far to near.
TEST(Layers, AnyOrderOfOpaqueAndTransparentSurfacesGivesTheSameList) {
    std::mt19937 random(21);
    for (int k = 0; k < 400; ++k) {
        const int count = 1 + k % 9;
        std::vector<std::pair<float, bool>> surfaces;
        for (int j = 0; j < count; ++j)
            surfaces.emplace_back(0.05f + 0.1f * static_cast<float>(j), random() % 3 == 0);
        std::shuffle(surfaces.begin(), surfaces.end(), random);
        Scene s;
        float nearest_opaque = -1.0f;
        for (auto [depth, opaque] : surfaces) {
            s.square(depth, !opaque);
            if (opaque) nearest_opaque = std::max(nearest_opaque, depth);
        }
        std::vector<float> expected;
        for (auto [depth, opaque] : surfaces)
            if (depth == nearest_opaque || (!opaque && depth > nearest_opaque))
                expected.push_back(depth);
        // A transparent surface nearer than every opaque one met before it
        // was inserted, whatever hides it later.
        bool inserted = false;
        float cutoff = -1.0f;
        for (auto [depth, opaque] : surfaces) {
            if (opaque) cutoff = std::max(cutoff, depth);
            inserted = inserted || (!opaque && depth > cutoff);
        }
        std::sort(expected.begin(), expected.end());
        bool transparent = false;
        const auto list = s.layers(1.0f, 3.0f, &transparent);
        ASSERT_EQ(list.size(), expected.size()) << "case " << k;
        for (std::size_t j = 0; j < list.size(); ++j)
            EXPECT_FLOAT_EQ(list[j]->depth, expected[j]) << "case " << k << ", layer " << j;
        EXPECT_EQ(transparent, inserted) << "case " << k;
    }
}

TEST(Layers, ThePoolGrowsByBlocksAndIsReused) {
    Scene s;
    for (int k = 0; k < 600; ++k) s.add(0, 0, 4, 0, 4, 4, 0.001f * k, true);
    EXPECT_EQ(s.layers(3.0f, 1.0f).size(), 600u);
    EXPECT_EQ(s.pool.blocks(), 2);
    for (int k = 0; k < 3; ++k) s.layers(3.0f, 1.0f);
    EXPECT_EQ(s.pool.blocks(), 2);
}

}  // namespace
}  // namespace sky
