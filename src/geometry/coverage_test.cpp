// Whole scenes through evaluation, tessellation and bucket entry: what the
// visibility pass will find in each pixel's bucket.
#include <cmath>

#include <gtest/gtest.h>

#include "base/arena.h"
#include "base/tiles.h"
#include "geometry/buckets.h"
#include "geometry/geometry_test_support.h"
#include "geometry/object_queue.h"
#include "scene/camera.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

class Coverage : public GeometryScene {
protected:
    void TearDown() override {
        clear_cameras();
        GeometryScene::TearDown();
    }

    // Evaluates the scene at frame 1 and takes its camera.
    CameraRecord& view(const std::string& definitions, const std::string& model) {
        parse(definitions, model);
        initialise_declared_values();
        build_camera_entries();
        release_frame_objects();
        render_options().quiet = 1;
        scene_clock() = SceneClock{};
        evaluate_scene(scene_description().model, true);
        CameraEntry* camera = select_next_camera(nullptr, 0);
        EXPECT_NE(camera, nullptr) << geometry_errors();
        return *camera->evaluated;
    }

    // Renders every tile's buckets on this thread and counts, per pixel row
    // and column, whether its bucket holds a triangle.
    std::vector<std::vector<bool>> filled(CameraRecord& camera) {
        const RenderOptions& o = render_options();
        std::vector<std::vector<bool>> holds(static_cast<std::size_t>(o.yhigh + 1),
                                             std::vector<bool>(o.xright + 1, false));
        make_tiles();
        give_tile_buffers(tile_layout().width, tile_layout().rows, 1);
        queue_tiles();
        queue_camera_objects(camera);
        for (Tile& tile : tile_list()) {
            process_tile(tile);
            for (int y = tile.y_first; y <= tile.y_last; ++y)
                for (int x = tile.x_first; x <= tile.x_last; ++x)
                    holds[y][x] = bucket_at(bucket_grid(), y, x) != nullptr;
            release_tile(tile);
            rewind_arena(tile_arena());
        }
        release_object_queue();
        rewind_arena(pass_arena());
        return holds;
    }
};

constexpr const char* kCamera = "camera (pix = \"c\", eye = (0, 0, 5), view = origin, aov = 90);\n";

TEST_F(Coverage, APatchFillingTheScreenReachesEveryPixelsBucket) {
    CameraRecord& camera = view(
        "triple origin (0, 0, 0);",
        std::string(kCamera) +
            "patch (shader = (s), udegree = 3, vdegree = 3, subdivide = ON, divisions = (1, 8),"
            " uknots = (0, 0, 0, 1, 1, 1), vknots = (0, 0, 0, 1, 1, 1), cvs = ("
            "(cv((-9, -9, 0), 1), cv((-3, -9, 1), 1), cv((3, -9, 1), 1), cv((9, -9, 0), 1)),"
            "(cv((-9, -3, 1), 1), cv((-3, -3, 2), 1), cv((3, -3, 2), 1), cv((9, -3, 1), 1)),"
            "(cv((-9, 3, 1), 1), cv((-3, 3, 2), 1), cv((3, 3, 2), 1), cv((9, 3, 1), 1)),"
            "(cv((-9, 9, 0), 1), cv((-3, 9, 1), 1), cv((3, 9, 1), 1), cv((9, 9, 0), 1))));\n");
    auto holds = filled(camera);
    int empty = 0;
    for (const auto& row : holds)
        for (bool h : row) empty += !h;
    EXPECT_EQ(empty, 0) << geometry_errors();
}

// Pixels well inside the image of the square hole from `low` to `high` see
// nothing; pixels well outside it see the surface.
void expect_square_hole(const CameraRecord& camera, const std::vector<std::vector<bool>>& holds,
                        const Triple& low_corner, const Triple& high_corner) {
    const ScreenPoint low = world_to_screen(camera.view, low_corner);
    const ScreenPoint high = world_to_screen(camera.view, high_corner);
    const double cx = (low.x + high.x) / 2, cy = (low.y + high.y) / 2;
    const double half_x = std::abs(high.x - low.x) / 2, half_y = std::abs(high.y - low.y) / 2;
    ASSERT_GT(half_x, 50);
    int inside_filled = 0, outside_empty = 0;
    for (int y = 0; y < static_cast<int>(holds.size()); ++y)
        for (int x = 0; x < static_cast<int>(holds[y].size()); ++x) {
            const double dx = std::abs(x + 0.5 - cx), dy = std::abs(y + 0.5 - cy);
            if (dx < half_x - 2 && dy < half_y - 2) inside_filled += holds[y][x];
            if (dx > half_x + 2 || dy > half_y + 2) outside_empty += !holds[y][x];
        }
    EXPECT_EQ(inside_filled, 0);
    EXPECT_EQ(outside_empty, 0) << geometry_errors();
}

TEST_F(Coverage, AFacesHoleLeavesItsInnerPixelsEmpty) {
    CameraRecord& camera = view(
        "triple origin (0, 0, 0);",
        std::string(kCamera) +
            "face (shader = (s), divisions = 1, boundaries = ("
            "(degree = 1, knots = (0, 1, 2, 3, 4), cvs = (cv((-9, -9, 0), 1), cv((9, -9, 0), 1),"
            " cv((9, 9, 0), 1), cv((-9, 9, 0), 1), cv((-9, -9, 0), 1))),"
            "(degree = 1, knots = (0, 1, 2, 3, 4), cvs = (cv((-2, -2, 0), 1), cv((2, -2, 0), 1),"
            " cv((2, 2, 0), 1), cv((-2, 2, 0), 1), cv((-2, -2, 0), 1)))));\n");
    expect_square_hole(camera, filled(camera), {-2, -2, 0}, {2, 2, 0});
}

TEST_F(Coverage, ATrimmedHoleLeavesItsInnerPixelsEmpty) {
    // A flat patch from (-9, -9) to (9, 9); the hole from 0.4 to 0.6 of its
    // parameters is the square from (-1.8, -1.8) to (1.8, 1.8).
    CameraRecord& camera = view(
        "triple origin (0, 0, 0);",
        std::string(kCamera) +
            "patch (shader = (s), udegree = 1, vdegree = 1, subdivide = ON, divisions = (2, 16),"
            " uknots = (0, 1), vknots = (0, 1), cvs = ("
            "(cv((-9, -9, 0), 1), cv((-9, 9, 0), 1)), (cv((9, -9, 0), 1), cv((9, 9, 0), 1))),"
            " trim_region = (cvs = (trim_vertex(0, 0, 0), trim_vertex(1, 0, 0),"
            " trim_vertex(1, 1, 0), trim_vertex(0, 1, 0)),"
            " trim_hole = (trim_vertex(0.4, 0.4, 0), trim_vertex(0.4, 0.6, 0),"
            " trim_vertex(0.6, 0.6, 0), trim_vertex(0.6, 0.4, 0))));\n");
    expect_square_hole(camera, filled(camera), {-1.8, -1.8, 0}, {1.8, 1.8, 0});
}

}  // namespace
}  // namespace sky
