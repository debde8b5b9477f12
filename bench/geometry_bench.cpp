// Per-frame evaluation of big geometry: a 100 000-triangle polyset and a
// 64 × 64 patch, as a scene writes them (packed constants). Runs once per
// object per evaluation, so it bounds how long a heavy scene takes to walk.
#include <string>

#include <benchmark/benchmark.h>

#include "geometry/geometry_evaluation.h"
#include "sdl/parse_test_support.h"
#include "sdl/symbols.h"

namespace {

using namespace sky;

const Body* declared_body(const std::string& name, std::int32_t type) {
    ObjectValue value;
    AR_evaluate(type, &value, find_symbol(name.c_str())->initialiser, nullptr);
    return value.body;
}

void parse(const std::string& text) {
    install_geometry_hooks();
    reset_front_end();
    parse_scene_text("DEFINITION\nshader s (model = lambert);\n" + text + "\nMODEL\n");
}

void BM_EvaluatePolyset(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    std::string vertices, polygons;
    for (int y = 0; y <= side; ++y)
        for (int x = 0; x <= side; ++x)
            vertices += (vertices.empty() ? "" : ", ") + std::string("(cv((") + std::to_string(x) +
                        ", " + std::to_string(y) + ", 0), 1))";
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            int a = y * (side + 1) + x, b = a + 1, c = a + side + 1, d = c + 1;
            polygons += (polygons.empty() ? "" : ", ") + std::string("polygon(") +
                        std::to_string(a) + ", " + std::to_string(b) + ", " + std::to_string(d) +
                        "), polygon(" + std::to_string(a) + ", " + std::to_string(d) + ", " +
                        std::to_string(c) + ")";
        }
    parse("polyset mesh (shader = (s), vertices = (" + vertices + "), polygons = (" + polygons +
          "));");
    const PolysetDefinition* definition = polyset_definition(declared_body("mesh", SDL_POLYSET));
    if (definition == nullptr || !evaluate_polyset(*definition, "mesh"))
        state.SkipWithError("bad scene");
    for (auto _ : state) benchmark::DoNotOptimize(evaluate_polyset(*definition, "mesh"));
    state.SetItemsProcessed(state.iterations() * 2 * side * side);
    remove_geometry_hooks();
}
BENCHMARK(BM_EvaluatePolyset)->Arg(224)->Unit(benchmark::kMillisecond);

void BM_EvaluatePatch(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::string rows, knots;
    for (int u = 0; u < n; ++u) {
        rows += u ? ", (" : "(";
        for (int v = 0; v < n; ++v)
            rows += (v ? ", " : "") + std::string("cv((") + std::to_string(u) + ", " +
                    std::to_string(v) + ", 0), 1)";
        rows += ")";
    }
    for (int k = 0; k < n + 2; ++k) knots += (k ? ", " : "") + std::to_string(k);
    parse("patch sheet (shader = (s), divisions = (2, 2), udegree = 3, vdegree = 3, uknots = (" +
          knots + "), vknots = (" + knots + "), cvs = (" + rows + "));");
    const PatchDefinition* definition = patch_definition(declared_body("sheet", SDL_PATCH));
    if (definition == nullptr || !evaluate_patch(*definition, "sheet"))
        state.SkipWithError("bad scene");
    for (auto _ : state) benchmark::DoNotOptimize(evaluate_patch(*definition, "sheet"));
    state.SetItemsProcessed(state.iterations() * n * n);
    remove_geometry_hooks();
}
BENCHMARK(BM_EvaluatePatch)->Arg(64)->Unit(benchmark::kMicrosecond);

}  // namespace
