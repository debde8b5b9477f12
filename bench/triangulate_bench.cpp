// Triangulation and polyset tessellation throughput, in triangles per second:
// meshes of n-gons (convex ones take the fan, concave ones the constrained
// Delaunay step) and a trim-like region with many holes.
#include <cmath>
#include <memory>

#include <benchmark/benchmark.h>

#include "geometry/tessellate.h"
#include "geometry/triangulate.h"

namespace {

using namespace sky;

class CountingSink : public TriangleSink {
public:
    std::int64_t count = 0;
    void add_triangle(const SurfacePoint& a, const SurfacePoint&, const SurfacePoint&) override {
        benchmark::DoNotOptimize(a.position[0]);
        ++count;
    }
};

// A grid of `cells` × `cells` polygons of `sides` corners each; concave ones
// are stars (every other corner pulled in). Vertex normals are left to be
// computed.
std::shared_ptr<PolysetMesh> ngon_mesh(int cells, int sides, bool concave) {
    auto mesh = std::make_shared<PolysetMesh>();
    for (int i = 0; i < cells; ++i)
        for (int j = 0; j < cells; ++j) {
            PolysetPolygon polygon;
            for (int k = 0; k < sides; ++k) {
                double angle = 2 * M_PI * k / sides;
                double r = concave && k % 2 ? 0.2 : 0.45;
                PolysetVertex v;
                v.position[0] = i + r * std::cos(angle);
                v.position[1] = j + r * std::sin(angle);
                v.position[2] = 0.1 * std::sin(i + j);
                polygon.vertices.push_back(static_cast<std::int32_t>(mesh->vertex_count()));
                mesh->add_vertex(v);
            }
            mesh->add_polygon(polygon);
        }
    return mesh;
}

void BM_PolysetNgons(benchmark::State& state) {
    PolysetGeometry geometry;
    geometry.mesh = ngon_mesh(64, static_cast<int>(state.range(0)), state.range(1) != 0);
    CountingSink sink;
    for (auto _ : state) tessellate_polyset(geometry, "bench", sink);
    state.counters["triangles/s"] =
        benchmark::Counter(static_cast<double>(sink.count), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PolysetNgons)
    ->ArgNames({"sides", "concave"})
    ->Args({4, 0})
    ->Args({8, 0})
    ->Args({8, 1})
    ->Args({32, 1})
    ->Unit(benchmark::kMillisecond);

// A square with a grid of `n` × `n` small round holes.
void BM_RegionWithHoles(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    std::vector<std::vector<Point2>> loops{
        {{0, 0}, {double(n), 0}, {double(n), double(n)}, {0, double(n)}}};
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            std::vector<Point2> hole;
            for (int k = 0; k < 12; ++k) {
                double angle = -2 * M_PI * k / 12;
                hole.push_back({i + 0.5 + 0.3 * std::cos(angle), j + 0.5 + 0.3 * std::sin(angle)});
            }
            loops.push_back(hole);
        }
    Triangulation triangulation;
    std::int64_t triangles = 0;
    for (auto _ : state) {
        triangulate_region(loops, triangulation);
        triangles += static_cast<std::int64_t>(triangulation.triangles.size());
    }
    state.counters["triangles/s"] =
        benchmark::Counter(static_cast<double>(triangles), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RegionWithHoles)->Arg(4)->Arg(32)->Unit(benchmark::kMillisecond);

}  // namespace
