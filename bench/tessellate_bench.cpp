// Classic subdivision of the Utah teapot's 32 bicubic patches: triangles per
// second for uniform and adaptive division settings.
#include <vector>

#include <benchmark/benchmark.h>

#include "geometry/nurbs_test_support.h"
#include "geometry/tessellate.h"

namespace {

std::vector<sky::PatchGeometry> teapot(bool adaptive, int udivisions, int vdivisions) {
    std::vector<sky::PatchGeometry> patches;
    for (sky::NurbsSurface& s : sky::test::read_teapot(SKYLOOM_TEAPOT_DATA)) {
        sky::PatchGeometry p;
        p.surface = std::move(s);
        p.adaptive = adaptive;
        p.udivisions = udivisions;
        p.vdivisions = vdivisions;
        patches.push_back(std::move(p));
    }
    return patches;
}

void run(benchmark::State& state, bool adaptive, int udivisions, int vdivisions) {
    std::vector<sky::PatchGeometry> patches = teapot(adaptive, udivisions, vdivisions);
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

void BM_TeapotUniform(benchmark::State& state) {
    const int divisions = static_cast<int>(state.range(0));
    run(state, false, divisions, divisions);
}
BENCHMARK(BM_TeapotUniform)->Arg(4)->Arg(8)->Arg(16)->Arg(32);

void BM_TeapotAdaptive(benchmark::State& state) {
    run(state, true, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
}
BENCHMARK(BM_TeapotAdaptive)->Args({1, 8})->Args({2, 16})->Args({4, 32});

}  // namespace
