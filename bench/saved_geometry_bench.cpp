// Saved geometry on the Utah teapot (uniform divisions 16): triangles per
// second replayed from the store, against recording them (a tessellation
// with every triangle also written to the store).
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "base/options.h"
#include "geometry/nurbs_test_support.h"
#include "geometry/saved_geometry.h"
#include "geometry/tessellate.h"
#include "scene/scene_objects.h"
#include "sdl/types.h"

namespace {

struct SavedPatch {
    sky::Expr definition;
    sky::PatchGeometry geometry;
    sky::RenderObject object;
};

std::vector<std::unique_ptr<SavedPatch>> teapot() {
    std::vector<std::unique_ptr<SavedPatch>> patches;
    for (sky::NurbsSurface& s : sky::test::read_teapot(SKYLOOM_TEAPOT_DATA)) {
        auto p = std::make_unique<SavedPatch>();
        p->geometry.type = sky::SDL_PATCH;
        p->geometry.surface = std::move(s);
        p->geometry.udivisions = p->geometry.vdivisions = 16;
        p->geometry.saved_geometry_allowed = true;
        p->object.type = sky::SDL_PATCH;
        p->object.definition = &p->definition;
        p->object.geometry = &p->geometry;
        patches.push_back(std::move(p));
    }
    return patches;
}

bool tessellate(const void* context, sky::TriangleSink& sink) {
    return sky::tessellate_patch(*static_cast<const sky::PatchGeometry*>(context), "teapot", sink);
}

void pass(std::vector<std::unique_ptr<SavedPatch>>& patches, sky::TriangleSink& sink) {
    for (auto& p : patches) {
        const sky::SaveTicket ticket = sky::Ar_save_mode(p->object, p->geometry, 1.0f, false);
        sky::Ar_check_save(ticket, "teapot", sink, tessellate, &p->geometry);
    }
}

void run(benchmark::State& state, bool replay) {
    auto patches = teapot();
    if (patches.empty()) {
        state.SkipWithError("cannot read " SKYLOOM_TEAPOT_DATA);
        return;
    }
    sky::render_options().saved_geometry = true;
    sky::reset_saved_geometry();
    sky::test::CountingSink sink;
    if (replay) pass(patches, sink);
    sink.count = 0;
    for (auto _ : state) {
        if (!replay) {
            state.PauseTiming();
            sky::reset_saved_geometry();
            state.ResumeTiming();
        }
        pass(patches, sink);
    }
    benchmark::DoNotOptimize(sink.checksum);
    state.counters["triangles"] =
        benchmark::Counter(static_cast<double>(sink.count), benchmark::Counter::kIsRate);
    sky::reset_saved_geometry();
    sky::render_options().saved_geometry = false;
}

void BM_SavedTeapotRecord(benchmark::State& state) {
    run(state, false);
}
BENCHMARK(BM_SavedTeapotRecord);

void BM_SavedTeapotReplay(benchmark::State& state) {
    run(state, true);
}
BENCHMARK(BM_SavedTeapotReplay);

}  // namespace
