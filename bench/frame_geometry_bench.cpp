// A frame's geometry from scene to buckets: sixteen bicubic patches of 4 × 4
// spans each, placed side by side to fill the default 645 × 486 window,
// tessellated (uniform divisions chosen for about 10k, 100k and 1M screen
// triangles, or adaptive) and entered tile by tile, as one worker of a
// render does it: object queue, tessellation, placement, projection,
// clipping, triangle set-up and bucket entry. Parsing and the model walk
// are outside the timing.
#include <algorithm>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "base/arena.h"
#include "base/options.h"
#include "base/tiles.h"
#include "geometry/buckets.h"
#include "geometry/geometry_evaluation.h"
#include "geometry/object_queue.h"
#include "geometry/screen_geometry.h"
#include "scene/camera.h"
#include "scene/dag.h"
#include "scene/scene_clock.h"
#include "scene/scene_objects.h"
#include "sdl/parse_test_support.h"
#include "sdl/scene_description.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

// A wavy sheet of 7 × 7 CVs over [0, 4]², 4 × 4 cubic spans.
std::string sheet(const std::string& subdivision) {
    std::string rows;
    for (int i = 0; i < 7; ++i) {
        rows += i ? ", (" : "(";
        for (int j = 0; j < 7; ++j) {
            const double x = 4.0 * i / 6, y = 4.0 * j / 6, z = 0.4 * ((i + j) % 3) - 0.4;
            rows += (j ? ", cv((" : "cv((") + std::to_string(x) + ", " + std::to_string(y) + ", " +
                    std::to_string(z) + "), 1)";
        }
        rows += ")";
    }
    return "patch sheet (shader = (s), udegree = 3, vdegree = 3, " + subdivision +
           ", uknots = (0, 0, 0, 1, 2, 3, 4, 4, 4), vknots = (0, 0, 0, 1, 2, 3, 4, 4, 4),"
           " cvs = (" +
           rows + "));\n";
}

CameraRecord* set_up(const std::string& subdivision) {
    install_geometry_hooks();
    reset_front_end();
    std::string model = "camera (pix = \"bench\", eye = (8, 8, 21), view = centre, aov = 50);\n";
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            model += "{ translate (" + std::to_string(4 * i) + ", " + std::to_string(4 * j) +
                     ", 0); instance sheet (); }\n";
    parse_scene_text("DEFINITION\nshader s (model = lambert);\ntriple centre (8, 8, 0);\n" +
                     sheet(subdivision) + "MODEL\n" + model);
    initialise_declared_values();
    build_camera_entries();
    release_frame_objects();
    render_options().quiet = 1;
    scene_clock() = SceneClock{};
    evaluate_scene(scene_description().model, true);
    CameraEntry* camera = select_next_camera(nullptr, 0);
    return camera ? camera->evaluated : nullptr;
}

void run_frames(benchmark::State& state, const std::string& subdivision) {
    CameraRecord* camera = set_up(subdivision);
    if (camera == nullptr) {
        state.SkipWithError("the scene did not read");
        return;
    }
    make_tiles();
    give_tile_buffers(tile_layout().width, tile_layout().rows, 1);
    std::int64_t triangles = 0;
    std::vector<const RenderObject*> seen;
    for (auto _ : state) {
        queue_tiles();
        queue_camera_objects(*camera);
        triangles = 0;
        seen.clear();
        for (Tile& tile : tile_list()) {
            process_tile(tile);
            benchmark::DoNotOptimize(bucket_at(bucket_grid(), tile.y_first, tile.x_first));
            for (const RenderObject* object : tile.objects) {
                if (std::find(seen.begin(), seen.end(), object) != seen.end()) continue;
                seen.push_back(object);
                if (const ObjectTriangles* t = queued_triangles(object))
                    triangles += t->triangle_count;
            }
            release_tile(tile);
            rewind_arena(tile_arena());
        }
        release_object_queue();
        rewind_arena(pass_arena());
    }
    state.SetItemsProcessed(state.iterations() * triangles);
    state.counters["triangles"] = static_cast<double>(triangles);
    release_frame_objects();
    clear_cameras();
    remove_geometry_hooks();
}

// Divisions (u, v) per span: 16 patches × 16 spans × 2 triangles each.
void BM_FrameGeometryUniform(benchmark::State& state) {
    run_frames(state, "subdivide = OFF, divisions = (" + std::to_string(state.range(0)) + ", " +
                          std::to_string(state.range(1)) + ")");
}
BENCHMARK(BM_FrameGeometryUniform)
    ->Args({4, 5})    // 10 240 triangles
    ->Args({13, 15})  // 99 840
    ->Args({43, 45})  // 990 720
    ->Unit(benchmark::kMillisecond);

void BM_FrameGeometryAdaptive(benchmark::State& state) {
    run_frames(state, "subdivide = ON, curvature = 0.99, divisions = (1, " +
                          std::to_string(state.range(0)) + ")");
}
BENCHMARK(BM_FrameGeometryAdaptive)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sky
