// One large mesh, as the knot scenes have it: the tessellation of a polyset
// of N triangles into its screen triangles (by one worker, and in parts by
// two), and its bucket entry tile by tile, from the tiles' bins or walking
// the whole object for every tile.
#include <atomic>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "base/arena.h"
#include "base/options.h"
#include "base/tiles.h"
#include "base/vecmath.h"
#include "geometry/buckets.h"
#include "geometry/enter.h"
#include "geometry/tessellate_object.h"
#include "scene/scene_objects.h"
#include "scene/transform.h"
#include "sdl/types.h"

namespace sky {
namespace {

// A wavy sheet of about `triangles` triangles with vertex normals, filling
// most of the default 645 × 486 window ten units down −z.
std::shared_ptr<PolysetMesh> sheet(std::int64_t triangles) {
    const int nv = static_cast<int>(std::sqrt(triangles / 2.0 * 486 / 645));
    const int nu = static_cast<int>(triangles / 2 / nv);
    auto mesh = std::make_shared<PolysetMesh>();
    for (int i = 0; i <= nu; ++i)
        for (int j = 0; j <= nv; ++j) {
            PolysetVertex v;
            v.position[0] = -5.0 + 10.0 * i / nu;
            v.position[1] = -3.7 + 7.4 * j / nv;
            v.position[2] = 0.3 * std::sin(i * 0.05) * std::cos(j * 0.07);
            v.normal[0] = 0.1 * std::sin(j * 0.3), v.normal[1] = 0.1, v.normal[2] = 1;
            v.has_normal = true;
            mesh->add_vertex(v);
        }
    auto at = [nv](int i, int j) { return static_cast<std::int32_t>(i * (nv + 1) + j); };
    for (int i = 0; i < nu; ++i)
        for (int j = 0; j < nv; ++j) {
            PolysetPolygon a, b;
            a.vertices = {at(i, j), at(i + 1, j), at(i + 1, j + 1)};
            b.vertices = {at(i, j), at(i + 1, j + 1), at(i, j + 1)};
            mesh->add_polygon(a);
            mesh->add_polygon(b);
        }
    return mesh;
}

struct Mesh {
    PolysetGeometry polyset;
    RenderObject object;
};

std::unique_ptr<Mesh> make_mesh(std::int64_t triangles) {
    RenderOptions& options = render_options();
    options.quiet = 1;
    GeometryView& view = geometry_view();
    view = GeometryView{};
    view.screen = ScreenMapping{322.5f, 243, 600, 600, true};
    view.near = 0.5f, view.far = 100;
    view.depth_scale = 100 / 99.5f, view.depth_offset = -50 / 99.5f;
    view.xleft = options.xleft, view.xright = options.xright;
    view.ylow = options.ylow, view.yhigh = options.yhigh;
    view.guard_x = 64500, view.guard_y = 48600;
    restore_tessellators();
    auto mesh = std::make_unique<Mesh>();
    mesh->polyset.type = SDL_POLYSET;
    mesh->polyset.mesh = sheet(triangles);
    mesh->object.type = SDL_POLYSET;
    mesh->object.name = "sheet";
    mesh->object.geometry = &mesh->polyset;
    mesh->object.placement.model = translation_matrix({0, 0, -10});
    return mesh;
}

// Range(1): 1 = with a second worker taking parts, 0 = one worker.
void BM_TessellateLargePolyset(benchmark::State& state) {
    auto mesh = make_mesh(state.range(0));
    const bool helped = state.range(1) != 0;
    std::int64_t made = 0;
    for (auto _ : state) {
        transform_state().value = mesh->object.placement;
        ObjectTriangles storage(&mesh->object);
        SharedTessellation shared;
        std::atomic<bool> done{false};
        std::thread helper;
        if (helped)
            helper = std::thread([&] {
                while (!done.load(std::memory_order_acquire)) {
                    help_tessellate(shared);
                    std::this_thread::yield();
                }
            });
        tessellate_object(mesh->object, storage, helped ? &shared : nullptr);
        done.store(true, std::memory_order_release);
        if (helper.joinable()) helper.join();
        made = storage.triangle_count;
        benchmark::DoNotOptimize(storage.last);
    }
    state.SetItemsProcessed(state.iterations() * made);
}
BENCHMARK(BM_TessellateLargePolyset)
    ->Args({100000, 0})
    ->Args({100000, 1})
    ->Args({1000000, 0})
    ->Args({1000000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Range(1): 1 = from the tiles' bins, 0 = the whole object for every tile.
void BM_EnterLargeObject(benchmark::State& state) {
    auto mesh = make_mesh(state.range(0));
    make_tiles();
    give_tile_buffers(0, 0, 1);
    transform_state().value = mesh->object.placement;
    ObjectTriangles storage(&mesh->object);
    tessellate_object(mesh->object, storage);
    if (state.range(1) != 0) {
        std::vector<GridRows> rows;
        for (const Tile& tile : tile_list()) {
            const std::int32_t first = std::max(tile.y_first - 1, 0);
            rows.push_back({&tile, first, first + tile.y_last - tile.y_first + 2});
        }
        bin_object_triangles(storage, geometry_view(), std::move(rows));
    }
    BucketGrid& grid = bucket_grid();
    const ArenaId arena = tile_arena();
    for (auto _ : state) {
        for (Tile& tile : tile_list()) {
            map_tile_to_buckets(grid, &tile);
            bucket_object(grid, geometry_view(), storage, &tile);
            benchmark::DoNotOptimize(grid.heads[grid.width + 1]);
            rewind_arena(arena);
        }
    }
    state.SetItemsProcessed(state.iterations() * storage.triangle_count);
    rewind_arena(pass_arena());
}
BENCHMARK(BM_EnterLargeObject)
    ->Args({100000, 0})
    ->Args({100000, 1})
    ->Args({1000000, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sky
