#include "geometry/object_queue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/options_test_support.h"
#include "base/workers.h"
#include "geometry/buckets.h"
#include "geometry/entry_test_support.h"
#include "geometry/tessellate_object.h"
#include "platform/report.h"
#include "scene/scene_objects.h"
#include "scene/transform.h"
#include "sdl/types.h"

namespace sky {
namespace {

std::string error_text;
void capture_error(const char* text) {
    error_text += text;
}

// The fake patch tessellator: a fan of thin triangles across the whole
// window at the depth of the patch's `udivisions`, counting its calls.
constexpr int kObjects = 12;
std::atomic<int> calls[kObjects];

SurfacePoint point(double x, double y, double z) {
    SurfacePoint p;
    p.position[0] = x, p.position[1] = y, p.position[2] = z;
    p.normal[2] = 1;
    return p;
}

bool fake_patch(const PatchGeometry& patch, const char*, TriangleSink& sink) {
    calls[patch.vdivisions].fetch_add(1);
    // Long enough for other workers to find the object busy.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const double x = 10 + 50 * patch.vdivisions;
    for (int row = 0; row < 486; row += 9)
        sink.add_triangle(point(x, row, -5), point(x + 30, row + 4, -5),
                          point(x + 3, row + 12, -5));
    return true;
}
// Fails after handing on a triangle, as a trimmed patch can.
bool failing_patch(const PatchGeometry&, const char*, TriangleSink& sink) {
    sink.add_triangle(point(10, 10, -5), point(40, 14, -5), point(13, 22, -5));
    return false;
}

class ObjectQueue : public testing::Test {
protected:
    void SetUp() override {
        render_options().quiet = 1;
        error_text.clear();
        rptSetErrorCB(capture_error);
        testing_support::use_plain_view();
        tessellators().patch = fake_patch;
        for (auto& c : calls) c.store(0);
        for (int i = 0; i < kObjects; ++i) {
            geometry_[i].type = SDL_PATCH;
            geometry_[i].vdivisions = i;
            objects_[i].type = SDL_PATCH;
            objects_[i].name = "patch";
            objects_[i].moving = false;
            objects_[i].geometry = &geometry_[i];
        }
    }
    void TearDown() override {
        rptSetErrorCB(nullptr);
        restore_tessellators();
        release_object_queue();
        release_arena(pass_arena());
        release_arena(tile_arena());
    }

    PatchGeometry geometry_[kObjects];
    RenderObject objects_[kObjects];

private:
    test::RenderOptionsGuard options_;
};

std::vector<std::atomic<int>>* objects_seen = nullptr;

// The render step of the test pass: which of the tile's objects reached the
// worker's buckets.
void count_entered(Tile& tile, void*) {
    const BucketGrid& grid = bucket_grid();
    int seen = 0;
    for (RenderObject* object : tile.objects) {
        bool found = false;
        for (int y = tile.y_first; y <= tile.y_last && !found; ++y)
            for (int x = tile.x_first; x <= tile.x_last && !found; ++x)
                for (const BucketCell* c = bucket_at(grid, y, x); c && !found; c = c->next)
                    found = c->triangle->object == object;
        seen += found;
    }
    (*objects_seen)[static_cast<std::size_t>(&tile - tile_list().data())].store(seen);
}

void process(Tile& tile, void*) {
    process_tile(tile);
}
void release(Tile& tile, void*) {
    release_tile(tile);
}

void render_all_tiles_on(int workers, RenderObject* objects) {
    WorkerCrew crew(workers);
    make_tiles();
    give_tile_buffers(0, 0, worker_count());
    for (Tile& tile : tile_list()) {
        tile.objects.clear();
        for (int i = 0; i < kObjects; ++i) tile.objects.push_back(&objects[i]);
    }
    queue_tile_objects(tile_list());
    queue_tiles();
    std::vector<std::atomic<int>> seen(tile_list().size());
    objects_seen = &seen;
    RenderPass pass;
    pass.enter_geometry = process;
    pass.render_tile = count_entered;
    pass.release_tile = release;
    install_render_pass(pass);
    run_pass();
    install_render_pass(RenderPass{});
    for (std::size_t k = 0; k < seen.size(); ++k)
        EXPECT_EQ(seen[k].load(), kObjects) << "tile " << k;
    rewind_arena(pass_arena());
}

TEST_F(ObjectQueue, EachObjectIsTessellatedOnceWhileTilesRenderOnTwoAndEightWorkers) {
    for (int workers : {2, 8}) {
        for (auto& c : calls) c.store(0);
        render_all_tiles_on(workers, objects_);
        for (int i = 0; i < kObjects; ++i) {
            EXPECT_EQ(calls[i].load(), 1) << workers << " workers, object " << i;
            // The last tile let go: nothing of the object is left.
            const ObjectTriangles* triangles = queued_triangles(&objects_[i]);
            ASSERT_NE(triangles, nullptr);
            EXPECT_EQ(triangles->triangle_count, 0);
            EXPECT_TRUE(triangles->holders.empty());
        }
    }
    EXPECT_EQ(error_text, "");
}

TEST_F(ObjectQueue, TheQueueAnswersMineThenBusyThenDone) {
    Tile tile;
    tile.objects = {&objects_[0]};
    Tile tiles[1] = {tile};
    queue_tile_objects(tiles);
    EXPECT_EQ(Mp_query_object_queue(&objects_[0]), kObjectYours);
    EXPECT_EQ(Mp_query_object_queue(&objects_[0]), kObjectBeingTessellated);
    Mp_object_tessellated(&objects_[0]);
    EXPECT_EQ(Mp_query_object_queue(&objects_[0]), kObjectTessellated);
    EXPECT_EQ(Mp_query_object_queue(&objects_[1]), 0);  // never queued
}

TEST_F(ObjectQueue, FailuresAreReportedAndTheTileGoesOn) {
    render_options().xright = 100, render_options().yhigh = 49, render_options().tile_rows = 10;
    make_tiles();
    give_tile_buffers(0, 0, 1);
    Tile& tile = tile_list()[0];
    objects_[1].geometry = nullptr;
    objects_[1].name = "empty";
    objects_[2].type = 999;
    objects_[2].name = "odd";
    tile.objects = {&objects_[0], &objects_[1], &objects_[2]};
    queue_tile_objects(tile_list());
    tile.objects.push_back(&objects_[3]);  // named after the queue was made
    process_tile(tile);
    EXPECT_EQ(error_text,
              "Invalid/missing tesselation object\n"
              "Bad tessellation of object empty\n"
              "Unknown object type 999\n"
              "Bad tessellation of object odd\n"
              "BAD return from Mp_query_object_queue\n");
    EXPECT_EQ(calls[0].load(), 1);

    error_text.clear();
    tessellators().patch = failing_patch;
    Tile& next = tile_list()[1];
    objects_[4].name = "broken";
    next.objects = {&objects_[4]};
    queue_tile_objects(tile_list());
    process_tile(next);
    EXPECT_EQ(error_text, "Bad tessellation of object broken\n");
    EXPECT_EQ(queued_triangles(&objects_[4])->triangle_count, 0);
    rewind_arena(tile_arena());
}

TEST_F(ObjectQueue, ACameraListsEachVisibleObjectInTheTilesItsBoundReaches) {
    ObjectList& frame = frame_objects();
    frame.clear();
    auto add = [&](PatchGeometry* geometry) -> RenderObject& {
        RenderObject& object = frame.append();
        object.type = SDL_PATCH;
        object.moving = false;
        object.geometry = geometry;
        return object;
    };
    PatchGeometry bounded;
    const double bound[6] = {10, 20, 200, 210, -5, -4};
    std::copy(bound, bound + 6, bounded.bound);
    PatchGeometry unbounded;
    RenderObject& inside = add(&bounded);
    RenderObject& everywhere = add(&unbounded);
    add(nullptr);                   // evaluation made nothing
    add(&bounded).visible = false;  // not shown
    PatchGeometry behind = bounded;
    behind.bound[4] = 1, behind.bound[5] = 2;
    add(&behind);
    PatchGeometry beyond = bounded;
    beyond.bound[4] = -2000, beyond.bound[5] = -1500;
    add(&beyond);
    PatchGeometry through = bounded;  // from behind the eye to beyond the far plane
    through.bound[4] = -2000, through.bound[5] = 10;
    RenderObject& deep = add(&through);

    CameraRecord camera;
    camera.view.screen = ScreenMapping{0, 0, 1, 1, false};
    camera.near = 0.2, camera.far = 1000;
    make_tiles();
    queue_camera_objects(camera);
    int listing_inside = 0;
    for (const Tile& tile : tile_list()) {
        const bool reaches = tile.y_last >= 199 && tile.y_first <= 211;
        ASSERT_EQ(tile.objects.size(), reaches ? 3u : 1u) << tile.y_first;
        EXPECT_EQ(tile.objects[0], reaches ? &inside : &everywhere);
        if (reaches) {
            EXPECT_EQ(tile.objects[2], &deep);
        }
        listing_inside += reaches;
    }
    EXPECT_EQ(listing_inside, 1 + (210 / 15 != 199 / 15));
    EXPECT_EQ(queued_triangles(&inside)->holders.size(), static_cast<std::size_t>(listing_inside));
    release_object_queue();
    frame.clear();
}

// --- the sink ----------------------------------------------------------------

std::vector<std::array<SurfacePoint, 3>> emitted;
bool emit_triangles(const PolysetGeometry&, const char*, TriangleSink& sink) {
    for (const auto& t : emitted) sink.add_triangle(t[0], t[1], t[2]);
    return true;
}

class Sink : public ObjectQueue {
protected:
    void SetUp() override {
        ObjectQueue::SetUp();
        tessellators().polyset = emit_triangles;
        GeometryView& view = geometry_view();
        view.screen = ScreenMapping{322.5f, 243, 600, 600, true};
        view.near = 0.5f, view.far = 100;
        view.depth_scale = 100 / 99.5f, view.depth_offset = -50 / 99.5f;
        object_.type = SDL_POLYSET;
        object_.name = "mesh";
        object_.moving = false;
        object_.geometry = &polyset_;
        object_.placement.model.m[14] = -10;  // world from object: ten units down −z
        transform_state().value = object_.placement;
    }
    PolysetGeometry polyset_;
    RenderObject object_;
};

TEST_F(Sink, TrianglesArePlacedViewedAndProjected) {
    emitted = {{point(0, 0, 0), point(1, 0, 0), point(0, 1, 0)}};
    ObjectTriangles storage(&object_);
    ASSERT_TRUE(tessellate_object(object_, storage));
    ASSERT_EQ(storage.triangle_count, 1);
    const ScreenVertex& v = *storage.last->P0;  // the third vertex lies above the first: swapped
    EXPECT_FLOAT_EQ(v.x, 322.5f + 60);
    EXPECT_FLOAT_EQ(v.y, 243);
    EXPECT_FLOAT_EQ(v.z, geometry_view().depth(-10));
    EXPECT_FLOAT_EQ(v.shading->world[2], -10);
    EXPECT_FLOAT_EQ(v.shading->eye[0], 1);
    EXPECT_FLOAT_EQ(v.normal[2], 1);
    EXPECT_EQ(v.motion, nullptr);
    EXPECT_TRUE(storage.exact_normals);
}

TEST_F(Sink, ACornerMetAgainKeepsItsValuesAndOneThatDiffersOnlyInPartGetsItsOwn) {
    // Neighbouring triangles share corners; a corner at the same place
    // with another normal or other parameters is a corner of its own.
    const SurfacePoint shared = point(0, 0, 0);
    SurfacePoint turned = shared, other_uv = shared;
    turned.normal[0] = 1, turned.normal[2] = 0;
    other_uv.u = 0.5;
    emitted = {{shared, point(1, 0, 0), point(0, 1, 0)},
               {shared, point(0, 1, 0), point(-1, 0, 0)},
               {turned, point(0, -1, 0), point(1, 0, 0)},
               {other_uv, point(-1, 0, 0), point(0, -1, 0)},
               {shared, point(1, 0, 0), point(0, 1, 0)}};
    ObjectTriangles storage(&object_);
    ASSERT_TRUE(tessellate_object(object_, storage));
    ASSERT_EQ(storage.triangle_count, 5);
    std::vector<const ShadingRecord*> at_origin;
    for_each_triangle(storage, [&](const ScreenTriangle& t) {
        for (const ScreenVertex* v : {t.P0, t.P1, t.P2})
            if (v->shading->eye[0] == 0 && v->shading->eye[1] == 0) at_origin.push_back(v->shading);
    });
    ASSERT_EQ(at_origin.size(), 5u);
    std::reverse(at_origin.begin(), at_origin.end());  // the last made comes first
    const float up[3] = {0, 0, 1}, side[3] = {1, 0, 0};
    const float expected_u[5] = {0, 0, 0, 0.5f, 0};
    for (int i = 0; i < 5; ++i) {
        const float* normal = i == 2 ? side : up;
        for (int k = 0; k < 3; ++k) EXPECT_FLOAT_EQ(at_origin[i]->normal[k], normal[k]) << i;
        EXPECT_EQ(at_origin[i]->u, expected_u[i]) << i;
        EXPECT_EQ(at_origin[i]->world[2], -10) << i;
    }
}

TEST_F(Sink, ATriangleThroughTheNearPlaneKeepsItsPartInFront) {
    // One vertex 10.2 units nearer than the others, past the eye.
    emitted = {{point(0, 0, 0), point(1, 0, 0), point(0, 1, 10.2)}};
    ObjectTriangles storage(&object_);
    ASSERT_TRUE(tessellate_object(object_, storage));
    EXPECT_EQ(storage.triangle_count, 2);
    for_each_triangle(storage, [&](const ScreenTriangle& t) {
        for (const ScreenVertex* v : {t.P0, t.P1, t.P2})
            EXPECT_LE(v->shading->eye[2], -0.5f + 1e-5f);
    });
    // Wholly behind the eye, or beyond the far plane: nothing.
    emitted = {{point(0, 0, 11), point(1, 0, 11), point(0, 1, 12)},
               {point(0, 0, -200), point(1, 0, -200), point(0, 1, -200)}};
    ASSERT_TRUE(tessellate_object(object_, storage));
    EXPECT_EQ(storage.triangle_count, 0);
}

TEST_F(Sink, AMovingObjectsVerticesRecordTheirWayThroughTheShutter) {
    geometry_view().motion_blur = true;
    object_.moving = true;
    object_.has_close = true;
    object_.close_geometry = &polyset_;
    object_.close_placement = object_.placement;
    object_.close_placement.model.m[12] = 2;  // two units to the right at close
    emitted = {{point(0, 0, 0), point(1, 0, 0), point(0, 1, 0)}};
    ObjectTriangles storage(&object_);
    ASSERT_TRUE(tessellate_object(object_, storage));
    ASSERT_EQ(storage.triangle_count, 1);
    const ScreenVertex& v = *storage.last->P0;  // the third vertex lies above the first: swapped
    ASSERT_NE(v.motion, nullptr);
    EXPECT_FLOAT_EQ(v.shading->eye[0], 2);  // the frame lies halfway
    EXPECT_FLOAT_EQ(v.motion->to_frame[0], 1);
    EXPECT_FLOAT_EQ(v.motion->to_close[0], 1);
    EXPECT_FLOAT_EQ(v.motion->world[0], 2);
    EXPECT_FLOAT_EQ(v.motion->to_frame[1], 0);
}

}  // namespace
}  // namespace sky
