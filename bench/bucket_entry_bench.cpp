// Bucket entry of whole scenes, tile by tile as a render enters them: a
// tessellated grid and a cloud of random small triangles over the default
// 645 × 486 window, cut into objects of 2000 triangles in bands of rows so
// that each tile lists only the objects that reach it. The `Workers`
// variant enters the tiles in a pass of two workers, each taking tiles
// from the queue into its own grid, as the camera pass does: against the
// one-worker figure it shows what the workers cost each other (wall time;
// the workers' processor time is not the benchmark thread's).
#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "base/arena.h"
#include "base/options.h"
#include "base/tiles.h"
#include "base/workers.h"
#include "geometry/buckets.h"
#include "geometry/enter.h"

namespace sky {
namespace {

constexpr int kTrianglesPerObject = 2000;

struct Scene {
    std::vector<std::unique_ptr<ObjectTriangles>> objects;
    std::vector<std::vector<const ObjectTriangles*>> tile_objects;
    std::int64_t triangles = 0;
};

CornerValues corner(float x, float y) {
    CornerValues c{};
    c.eye[0] = x, c.eye[1] = y, c.eye[2] = -5;
    c.eye_normal[2] = 1;
    project_corner(geometry_view(), c);
    return c;
}

struct Flat {
    float x[3], y[3];
};

std::vector<Flat> grid_triangles(std::int64_t count) {
    const double side = std::sqrt(645.0 * 486.0 / (count / 2.0));
    const int columns = static_cast<int>(std::ceil(645 / side)),
              rows = static_cast<int>(std::ceil(486 / side));
    std::vector<Flat> out;
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns && static_cast<std::int64_t>(out.size()) < count; ++i) {
            const float x = static_cast<float>(i * side), y = static_cast<float>(j * side),
                        s = static_cast<float>(side);
            out.push_back({{x, x + s, x}, {y, y, y + s}});
            out.push_back({{x + s, x + s, x}, {y, y + s, y + s}});
        }
    return out;
}

std::vector<Flat> random_triangles(std::int64_t count) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(0, 1);
    const float size = static_cast<float>(1.5 * std::sqrt(645.0 * 486.0 / count));
    std::vector<Flat> out(static_cast<std::size_t>(count));
    for (Flat& t : out) {
        const float cx = unit(random) * 645, cy = unit(random) * 486;
        for (int k = 0; k < 3; ++k)
            t.x[k] = cx + (unit(random) - 0.5f) * size, t.y[k] = cy + (unit(random) - 0.5f) * size;
    }
    return out;
}

// Sets up every triangle, groups them into objects by rows, and lists each
// object in the tiles it reaches.
Scene make_scene(std::vector<Flat> flats) {
    GeometryView& view = geometry_view();
    view = GeometryView{};
    view.screen = ScreenMapping{0, 0, 1, 1, false};
    std::sort(flats.begin(), flats.end(),
              [](const Flat& a, const Flat& b) { return a.y[0] < b.y[0]; });
    Scene scene;
    make_tiles();
    scene.tile_objects.resize(tile_list().size());
    for (std::size_t first = 0; first < flats.size(); first += kTrianglesPerObject) {
        auto storage = std::make_unique<ObjectTriangles>(nullptr);
        float ymin = INFINITY, ymax = -INFINITY;
        for (std::size_t i = first; i < std::min(flats.size(), first + kTrianglesPerObject); ++i) {
            const Flat& f = flats[i];
            if (enter_triangle(*storage, corner(f.x[0], f.y[0]), corner(f.x[1], f.y[1]),
                               corner(f.x[2], f.y[2]), view.split_depth))
                ++scene.triangles;
            for (float y : f.y) ymin = std::min(ymin, y), ymax = std::max(ymax, y);
        }
        finish_object_triangles(*storage);
        for (std::size_t k = 0; k < tile_list().size(); ++k) {
            const Tile& tile = tile_list()[k];
            if (ymax >= tile.y_first - 1 && ymin <= tile.y_last + 1)
                scene.tile_objects[k].push_back(storage.get());
        }
        scene.objects.push_back(std::move(storage));
    }
    return scene;
}

void enter_scene(benchmark::State& state, const Scene& scene) {
    give_tile_buffers(0, 0, 1);
    BucketGrid& grid = bucket_grid();
    const ArenaId arena = tile_arena();
    for (auto _ : state) {
        for (std::size_t k = 0; k < tile_list().size(); ++k) {
            map_tile_to_buckets(grid, &tile_list()[k]);
            for (const ObjectTriangles* object : scene.tile_objects[k])
                bucket_object(grid, geometry_view(), *object);
            benchmark::DoNotOptimize(grid.heads[grid.width + 1]);
            rewind_arena(arena);
        }
    }
    state.SetItemsProcessed(state.iterations() * scene.triangles);
    state.counters["triangles"] = static_cast<double>(scene.triangles);
    rewind_arena(pass_arena());
}

const Scene* entered_scene = nullptr;

void enter_tile(Tile& tile, void*) {
    BucketGrid& grid = bucket_grid();
    map_tile_to_buckets(grid, &tile);
    const auto k = static_cast<std::size_t>(&tile - tile_list().data());
    for (const ObjectTriangles* object : entered_scene->tile_objects[k])
        bucket_object(grid, geometry_view(), *object);
    benchmark::DoNotOptimize(grid.heads[grid.width + 1]);
}

void enter_scene_on_workers(benchmark::State& state, const Scene& scene, int workers) {
    WorkerCrew crew(workers);
    entered_scene = &scene;
    RenderPass pass;
    pass.enter_geometry = enter_tile;
    install_render_pass(pass);
    for (auto _ : state) {
        give_tile_buffers(0, 0, worker_count());
        queue_tiles();
        run_pass();
        rewind_arena(pass_arena());
    }
    install_render_pass(RenderPass{});
    state.SetItemsProcessed(state.iterations() * scene.triangles);
    state.counters["triangles"] = static_cast<double>(scene.triangles);
}

void BM_BucketEntryGrid(benchmark::State& state) {
    render_options().quiet = 1;
    enter_scene(state, make_scene(grid_triangles(state.range(0))));
}
BENCHMARK(BM_BucketEntryGrid)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_BucketEntryRandom(benchmark::State& state) {
    render_options().quiet = 1;
    enter_scene(state, make_scene(random_triangles(state.range(0))));
}
BENCHMARK(BM_BucketEntryRandom)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

void BM_BucketEntryRandomWorkers(benchmark::State& state) {
    render_options().quiet = 1;
    enter_scene_on_workers(state, make_scene(random_triangles(state.range(0))),
                           static_cast<int>(state.range(1)));
}
BENCHMARK(BM_BucketEntryRandomWorkers)
    ->Args({1000000, 1})
    ->Args({1000000, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace sky
