// The Utah teapot's 32 bicubic patches made into triangles: triangles per
// second for classic subdivision (uniform and adaptive division settings)
// and for the tessellator at several flatness tolerances.
#include <vector>

#include <benchmark/benchmark.h>

#include "geometry/nurbs_test_support.h"
#include "geometry/tessellate.h"

namespace {

std::vector<sky::PatchGeometry> teapot(const sky::PatchGeometry& settings) {
    std::vector<sky::PatchGeometry> patches;
    for (sky::NurbsSurface& s : sky::test::read_teapot(SKYLOOM_TEAPOT_DATA)) {
        sky::PatchGeometry p = settings;
        p.surface = std::move(s);
        patches.push_back(std::move(p));
    }
    return patches;
}

void run(benchmark::State& state, const sky::PatchGeometry& settings) {
    std::vector<sky::PatchGeometry> patches = teapot(settings);
    if (patches.empty()) {
        state.SkipWithError("cannot read " SKYLOOM_TEAPOT_DATA);
        return;
    }
    sky::test::CountingSink sink;
    for (auto _ : state) {
        for (const sky::PatchGeometry& p : patches) sky::tessellate_patch(p, "teapot", sink);
    }
    benchmark::DoNotOptimize(sink.checksum);
    state.counters["triangles"] =
        benchmark::Counter(static_cast<double>(sink.count), benchmark::Counter::kIsRate);
    state.counters["per_teapot"] = static_cast<double>(sink.count) / state.iterations();
}

sky::PatchGeometry classic(bool adaptive, int udivisions, int vdivisions) {
    sky::PatchGeometry p;
    p.adaptive = adaptive;
    p.udivisions = udivisions;
    p.vdivisions = vdivisions;
    return p;
}

void BM_TeapotUniform(benchmark::State& state) {
    const int divisions = static_cast<int>(state.range(0));
    run(state, classic(false, divisions, divisions));
}
BENCHMARK(BM_TeapotUniform)->Arg(4)->Arg(8)->Arg(16)->Arg(32);

void BM_TeapotAdaptive(benchmark::State& state) {
    run(state, classic(true, static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
}
BENCHMARK(BM_TeapotAdaptive)->Args({1, 8})->Args({2, 16})->Args({4, 32});

// The argument is the surface smoothness in units of 1e-4 of a patch's size.
void BM_TeapotTessellator(benchmark::State& state) {
    sky::PatchGeometry p;
    p.tessellator_path = true;
    p.surface_smoothness = static_cast<float>(state.range(0)) * 1e-4f;
    run(state, p);
}
BENCHMARK(BM_TeapotTessellator)->Arg(200)->Arg(50)->Arg(10)->Arg(2);

}  // namespace
