#include "geometry/enter.h"

#include <cmath>
#include <memory>
#include <random>
#include <utility>

#include <gtest/gtest.h>

#include "base/counters.h"
#include "base/options_test_support.h"
#include "base/vecmath.h"
#include "geometry/bucket_spans.h"
#include "geometry/entry_test_support.h"

namespace sky {
namespace {

using testing_support::corner;

class Enter : public testing::Test {
protected:
    void SetUp() override { testing_support::use_plain_view(); }

    RenderObject* const owner_ = reinterpret_cast<RenderObject*>(0x10);

private:
    test::RenderOptionsGuard options_;
};

TEST_F(Enter, TheSetUpGivesEachPointItsWeightsAndDepth) {
    ObjectTriangles storage(owner_);
    ASSERT_TRUE(enter_triangle(storage, corner(1, 2, -3), corner(4, 3, -5), corner(2, 7, -11), 0));
    const ScreenTriangle& t = *storage.last;
    EXPECT_EQ(t.object, owner_);
    EXPECT_EQ(t.P0->x, 1);
    const float D = (7 - 2) * (4 - 1) - (3 - 2) * (2 - 1);
    EXPECT_FLOAT_EQ(t.a, 3 / D);
    EXPECT_FLOAT_EQ(t.b, 1 / D);
    EXPECT_FLOAT_EQ(t.c, 1 / D);
    EXPECT_FLOAT_EQ(t.d, 5 / D);
    EXPECT_FLOAT_EQ(t.z0, -3);
    EXPECT_FLOAT_EQ(t.dz1, -2);
    EXPECT_FLOAT_EQ(t.dz2, -8);
    // The weights of P1 and P2 at a point, as the samplers compute them.
    const float x = 2.5f, y = 4, u = x - t.x0, v = y - t.y0;
    const float s = u * t.d - v * t.c, w = v * t.a - u * t.b;
    EXPECT_NEAR(t.x0 + s * (4 - 1) + w * (2 - 1), x, 1e-5);
    EXPECT_NEAR(t.y0 + s * (3 - 2) + w * (7 - 2), y, 1e-5);
}

TEST_F(Enter, AThirdVertexAboveTheFirstSwapsTheFirstTwo) {
    ObjectTriangles storage(owner_);
    ASSERT_TRUE(enter_triangle(storage, corner(5, 1), corner(9, 3), corner(5, 8), 0));
    const ScreenTriangle& t = *storage.last;
    EXPECT_EQ(t.P0->x, 9);
    EXPECT_EQ(t.P1->x, 5);
    EXPECT_EQ(t.P1->y, 1);
    EXPECT_EQ(t.x0, 9);
    EXPECT_FLOAT_EQ(t.c, (5 - 9) / ((8 - 3) * (5 - 9) - (1 - 3) * (5 - 9.0f)));
}

// A caller that has the corners' screen positions in double (a corner
// shared by several triangles is projected once) gets the triangles the
// set-up makes projecting them itself: the same rows, the same cells of a
// small triangle, the same vertices, also when the third corner above the
// first swaps the first two, in perspective and orthographic views.
TEST_F(Enter, CornersProjectedAheadGiveTheTrianglesTheSetUpWouldMake) {
    std::mt19937 random(17);
    std::uniform_real_distribution<float> unit(0, 1);
    for (bool perspective : {false, true}) {
        GeometryView& view = geometry_view();
        view.screen = perspective ? ScreenMapping{322.5f, 243, 600, 600, true}
                                  : ScreenMapping{0, 0, 1, 1, false};
        ObjectTriangles projecting(owner_), handed(owner_);
        for (int i = 0; i < 4000; ++i) {
            const float x = unit(random) * 640, y = unit(random) * 480, size = i % 2 ? 1.5f : 6;
            CornerValues v[3];
            for (CornerValues& c : v) {
                const float sx = x + unit(random) * size, sy = y + unit(random) * size;
                // Eye positions the view maps to (sx, sy) at z = -7.
                c = perspective ? corner((322.5f - sx) * 7 / 600, (243 - sy) * 7 / 600, -7)
                                : corner(sx, sy);
            }
            if (i % 5 == 0) v[2] = corner(v[0].eye[0], v[2].eye[1], v[0].eye[2]);  // swaps
            double screen[3][2];
            for (int k = 0; k < 3; ++k) {
                const SpanPoint p = project_to_screen(view, v[k].eye);
                screen[k][0] = p.x, screen[k][1] = p.y;
            }
            const bool made = enter_triangle(projecting, v[0], v[1], v[2], 0);
            ASSERT_EQ(enter_triangle(handed, v[0], v[1], v[2], 0, screen), made);
            if (!made) continue;
            const ScreenTriangle& a = *projecting.last;
            const ScreenTriangle& b = *handed.last;
            EXPECT_EQ(a.row_first, b.row_first) << i;
            EXPECT_EQ(a.row_last, b.row_last) << i;
            EXPECT_EQ(a.x0, b.x0);
            EXPECT_EQ(a.y0, b.y0);
            EXPECT_EQ(a.a, b.a);
            EXPECT_EQ(a.d, b.d);
            for (auto [p, q] : {std::pair{a.P0, b.P0}, {a.P1, b.P1}, {a.P2, b.P2}}) {
                EXPECT_EQ(p->x, q->x);
                EXPECT_EQ(p->y, q->y);
                EXPECT_EQ(p->shading->eye[0], q->shading->eye[0]);
            }
        }
        EXPECT_EQ(projecting.triangle_count, handed.triangle_count);
        EXPECT_GT(handed.triangle_count, 3000);
    }
}

TEST_F(Enter, DegenerateTrianglesAreNotEntered) {
    ObjectTriangles storage(owner_);
    EXPECT_FALSE(
        enter_triangle(storage, corner(5, 1), corner(5, 8), corner(5, 3), 0));  // one column
    EXPECT_FALSE(enter_triangle(storage, corner(1, 1), corner(2, 2), corner(4, 4), 0));  // D = 0
    EXPECT_EQ(storage.triangle_count, 0);
    EXPECT_EQ(storage.vertex_count, 0);
}

TEST_F(Enter, TrianglesOutsideTheWindowAreDropped) {
    ObjectTriangles storage(owner_);
    // xright is 644: a bound starting at 645 is out, one touching 644 in.
    EXPECT_FALSE(enter_triangle(storage, corner(645, 10), corner(650, 10), corner(647, 20), 0));
    EXPECT_TRUE(enter_triangle(storage, corner(644, 10), corner(650, 10), corner(647, 20), 0));
    EXPECT_FALSE(enter_triangle(storage, corner(-9, 10), corner(-0.01f, 10), corner(-5, 20), 0));
    EXPECT_TRUE(enter_triangle(storage, corner(-9, 10), corner(0, 10), corner(-5, 20), 0));
    EXPECT_FALSE(enter_triangle(storage, corner(10, 486), corner(20, 486), corner(15, 490), 0));
    EXPECT_TRUE(enter_triangle(storage, corner(10, 485.5f), corner(20, 486), corner(15, 490), 0));
    EXPECT_FALSE(enter_triangle(storage, corner(10, -3), corner(20, -3), corner(15, -0.5f), 0));
    EXPECT_EQ(storage.triangle_count, 3);
}

TEST(MinimumArea, FollowsTheLargerImageDimension) {
    EXPECT_FLOAT_EQ(minimum_triangle_area(256), 1e-5f);
    EXPECT_FLOAT_EQ(minimum_triangle_area(257), 4e-5f);
    EXPECT_FLOAT_EQ(minimum_triangle_area(512), 4e-5f);
    EXPECT_FLOAT_EQ(minimum_triangle_area(640), 0.00016f);
    EXPECT_FLOAT_EQ(minimum_triangle_area(1024), 0.00016f);
    EXPECT_FLOAT_EQ(minimum_triangle_area(2048), 0.00064f);
    EXPECT_FLOAT_EQ(minimum_triangle_area(4096), 0.00256f);
    EXPECT_FLOAT_EQ(minimum_triangle_area(4097), 0.01024f);
}

TEST_F(Enter, At640By480ATriangleOfHalfArea00001IsDropped) {
    CameraRecord camera;
    camera.view.screen = ScreenMapping{0, 0, 1, 1, false};
    camera.near = 0.2, camera.far = 1000;
    RenderOptions& options = render_options();
    options.xresolution = 640, options.yresolution = 480, options.area_tolerance = 0;
    set_geometry_view(camera);
    EXPECT_FLOAT_EQ(geometry_view().minimum_area, 0.00016f);
    ObjectTriangles storage(owner_);
    // Bounds of 0.02 × 0.01 (half area 0.0001) and 0.02 × 0.02 (0.0002).
    EXPECT_FALSE(
        enter_triangle(storage, corner(10, 10), corner(10.02f, 10), corner(10, 10.01f), 0));
    EXPECT_TRUE(enter_triangle(storage, corner(10, 10), corner(10.02f, 10), corner(10, 10.02f), 0));
}

TEST_F(Enter, AMovingCameraSeesTheSceneFromWhereItIsAtOpenAndClose) {
    CameraRecord camera;
    camera.view_point = camera.view.view_point = Triple{0, 0, -10};
    camera.view.eye_from_world = look_at_matrix(camera.eye, camera.view_point, 0, true);
    camera.view.screen = ScreenMapping{322.5f, 243, 600, 600, true};
    camera.near = 0.2, camera.far = 1000;
    auto placed = [](float x) {
        auto t = std::make_shared<TransformValue>();
        t->model.m[12] = x;
        return t;
    };
    camera.placement = placed(0);
    camera.open_placement = placed(-1);
    camera.close_placement = placed(1);
    render_options().camera_motion_blur = true;
    set_geometry_view(camera);
    const GeometryView& view = geometry_view();
    const Triple at_open = transform_point(Triple{-1, 0, 0}, view.eye_from_world_open);
    const Triple at_close = transform_point(Triple{1, 0, 0}, view.eye_from_world_close);
    for (float v : {at_open.x, at_open.y, at_open.z, at_close.x, at_close.y, at_close.z})
        EXPECT_NEAR(v, 0, 1e-6);
    // Both still look at the view point.
    EXPECT_NEAR(transform_point(Triple{0, 0, -10}, view.eye_from_world_open).x, 0, 1e-5);
    EXPECT_NEAR(transform_point(Triple{0, 0, -10}, view.eye_from_world_close).y, 0, 1e-5);

    render_options().camera_motion_blur = false;
    set_geometry_view(camera);
    EXPECT_EQ(transform_point(Triple{-1, 0, 0}, geometry_view().eye_from_world_open).x, -1);
}

TEST_F(Enter, AHugeTriangleIsSplitNoMoreOftenThanTheDepthAllows) {
    // One vertex some thousand image widths away.
    for (int depth : {0, 1, 2, 3}) {
        ObjectTriangles storage(owner_);
        ASSERT_TRUE(
            enter_triangle(storage, corner(10, 10), corner(20, 12), corner(700000, 300), depth))
            << depth;
        EXPECT_GE(storage.triangle_count, depth == 0 ? 1 : 2) << depth;
        EXPECT_LE(storage.triangle_count, 1 << (2 * depth)) << depth;
    }
    // Within the guard band nothing is split.
    ObjectTriangles near_image(owner_);
    ASSERT_TRUE(enter_triangle(near_image, corner(10, 10), corner(20, 12), corner(60000, 300), 3));
    EXPECT_EQ(near_image.triangle_count, 1);
}

TEST_F(Enter, ConsecutiveEqualVerticesAreShared) {
    ObjectTriangles storage(owner_);
    ASSERT_TRUE(enter_triangle(storage, corner(1, 1), corner(5, 1), corner(3, 4), 0));
    ASSERT_TRUE(enter_triangle(storage, corner(3, 4), corner(7, 4), corner(5, 8), 0));
    EXPECT_EQ(storage.vertex_count, 5);
    // Normals a hair apart still share, unless the object compares exactly.
    CornerValues a = corner(5, 8), b = corner(5, 8);
    b.eye_normal[0] = 0.01f;
    b.eye_normal[2] = std::sqrt(1 - 0.0001f);
    ScreenVertex* shared = store_vertex(storage, a);
    EXPECT_EQ(store_vertex(storage, b), shared);
    storage.exact_normals = true;
    EXPECT_NE(store_vertex(storage, b), shared);
    storage.exact_normals = false;
    ScreenVertex* before = store_vertex(storage, a);
    b.eye_normal[0] = 0.1f;
    b.eye_normal[2] = std::sqrt(0.99f);
    EXPECT_NE(store_vertex(storage, b), before);
}

// A caller that keeps the vertex stored for a corner hands it back when
// the same corner comes again: a large mesh then shares it without a
// search. Only a vertex identical in every value is handed back, the
// vertex count follows the plain rule either way, and a record made
// before a flag was turned on is not shared with a corner that needs it.
TEST_F(Enter, AKnownVertexIsSharedOnlyWhereItIsTheSameInEveryValue) {
    ObjectTriangles storage(owner_);
    storage.exact_normals = true;
    auto at = [](int i) {
        return corner(static_cast<float>(i % 600), static_cast<float>(i / 600));
    };
    for (int i = 0; i < 4200; ++i) store_vertex(storage, at(i));
    const CornerValues x = corner(7.25f, 3.5f);
    ScreenVertex* known = nullptr;
    ScreenVertex* made = store_vertex(storage, x, &known);
    EXPECT_EQ(known, made);
    EXPECT_EQ(made->x, x.screen[0]);
    // The last vertex's rule leaves out the world position: a corner that
    // differs there shares the last vertex but is not known by it.
    CornerValues moved = x;
    moved.world[0] = 9;
    ScreenVertex* moved_known = nullptr;
    EXPECT_EQ(store_vertex(storage, moved, &moved_known), made);
    EXPECT_EQ(moved_known, nullptr);
    store_vertex(storage, at(11));
    const std::int64_t count = storage.vertex_count;
    EXPECT_EQ(store_vertex(storage, x, &known), made);
    EXPECT_EQ(storage.vertex_count, count + 1);
    store_vertex(storage, at(12));
    // Searched for, `moved` finds no vertex with its world position.
    ScreenVertex* own = store_vertex(storage, moved, &moved_known);
    EXPECT_NE(own, made);
    EXPECT_EQ(moved_known, own);
    EXPECT_EQ(own->shading->world[0], 9);
    EXPECT_EQ(storage.vertex_count, count + 3);

    // A small object makes its vertices anew, as its search would.
    ObjectTriangles small(owner_);
    small.exact_normals = true;
    ScreenVertex* first_known = nullptr;
    ScreenVertex* first = store_vertex(small, x, &first_known);
    store_vertex(small, at(3));
    EXPECT_NE(store_vertex(small, x, &first_known), first);

    // Texture coordinates asked for after the vertices were made: the
    // records have no room for them, and none is shared with a corner
    // that carries them, neither the last nor a known one.
    store_vertex(storage, at(13));
    storage.has_texture = true;
    CornerValues textured = x;
    textured.texture[0] = 0.5f;
    ScreenVertex* before = known;
    ScreenVertex* bare = store_vertex(storage, textured, &known);
    EXPECT_NE(bare, before);
    EXPECT_EQ(bare->shading->texture, nullptr);
    // The last vertex's corner is kept beside such a record for the rule.
    EXPECT_EQ(store_vertex(storage, textured), bare);
    textured.texture[0] = 0.25f;
    EXPECT_NE(store_vertex(storage, textured), bare);
}

TEST_F(Enter, TrianglesAreCompactedAndCountedWhenTheObjectIsDone) {
    render_options().quiet = 0;
    reset_geometry_counters();
    ObjectTriangles storage(owner_);
    for (int i = 0; i < 1300; ++i)
        ASSERT_TRUE(enter_triangle(storage, corner(i * 0.4f, 1), corner(i * 0.4f + 3, 1),
                                   corner(i * 0.4f, 5), 0));
    finish_object_triangles(storage);
    ASSERT_NE(storage.compacted, nullptr);
    EXPECT_EQ(storage.last, storage.compacted + 1299);
    int listed = 0;
    float previous_x = 1e9f;
    for_each_triangle(storage, [&](const ScreenTriangle& t) {
        EXPECT_LT(t.x0, previous_x);  // newest first
        previous_x = t.x0;
        ++listed;
    });
    EXPECT_EQ(listed, 1300);
    // The vertices moved into one block with their records, in order.
    ASSERT_NE(storage.compacted_vertices, nullptr);
    for (int i = 0; i < 1300; ++i) {
        const ScreenTriangle& t = storage.compacted[i];
        EXPECT_EQ(t.P0, storage.compacted_vertices + 3 * i) << i;
        EXPECT_EQ(t.P1, storage.compacted_vertices + 3 * i + 1) << i;
        EXPECT_EQ(t.P0->x, t.x0);
        EXPECT_EQ(t.P2->shading->eye[1], 5);
        EXPECT_EQ(t.P1->shading->eye[0], i * 0.4f);
    }
    EXPECT_EQ(render_counters().triangles.load(), 1300);
    EXPECT_EQ(render_counters().vertices.load(), 3900);
    EXPECT_EQ(render_counters().motion_vertices.load(), 0);

    render_options().quiet = 1;
    finish_object_triangles(storage);
    EXPECT_EQ(render_counters().triangles.load(), 1300);
}

TEST_F(Enter, TrianglesLiveUntilTheLastHolderLetsGo) {
    ObjectTriangles storage(owner_);
    int first, second;
    storage.holders = {&first, &second};
    ASSERT_TRUE(enter_triangle(storage, corner(1, 1), corner(5, 1), corner(3, 4), 0));
    free_object_triangles(&second, storage);
    EXPECT_EQ(storage.triangle_count, 1);
    free_object_triangles(&first, storage);
    EXPECT_EQ(storage.triangle_count, 0);
    EXPECT_EQ(storage.last, nullptr);
    EXPECT_EXIT(free_object_triangles(&first, storage), testing::ExitedWithCode(1),
                "^Logic error in RR_free_object_triangles\n$");
}

}  // namespace
}  // namespace sky
