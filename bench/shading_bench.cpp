// Shaded points per second: Lambert, Phong and Blinn layers lit by 1, 4 and
// 16 point lights, each point a little different so nothing is cached.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "base/vecmath.h"
#include "sdl/body.h"
#include "sdl/parse_test_support.h"
#include "sdl/reader.h"
#include "sdl/symbols.h"
#include "shading/light.h"
#include "shading/shader.h"
#include "texture/texture.h"

namespace sky {
namespace {

template <typename Record>
Record* record_of(const char* name) {
    const Body* body = static_cast<ObjectValue*>(find_symbol(name)->value)->body;
    return static_cast<Record*>(const_cast<void*>(body->definition));
}

void shade_points(benchmark::State& state, const char* model) {
    install_texture_hooks();
    install_shading_hooks();
    reset_front_end();
    std::string scene = std::string("DEFINITION\nshader s (model = ") + model +
                        ", color = (200, 150, 100));\nlight l (model = point, decay = 2);\nMODEL\n";
    parse_scene_text(scene);
    RR_Shader* shader = record_of<RR_Shader>("s");
    Rr_evaluate_shader(*shader);

    const int count = static_cast<int>(state.range(0));
    std::vector<std::unique_ptr<AR_LightInfo>> lights;
    std::vector<const AR_LightInfo*> list;
    for (int i = 0; i < count; ++i) {
        auto info = std::make_unique<AR_LightInfo>();
        Ar_evaluate_light(*record_of<RR_Light>("l"), *info);
        const Triple at{static_cast<float>(i % 4) - 1.5f, static_cast<float>(i / 4) - 1.5f, 5.0f};
        Ar_place_light(*info, translation_matrix(at), Matrix4{});
        Ar_prepare_light_for_camera(*info, Matrix4{}, Matrix4{});
        list.push_back(info.get());
        lights.push_back(std::move(info));
    }

    float output[4] = {0, 0, 0, 0};
    AR_ShadePoint point;
    point.lights = list;
    point.output = output;
    std::uint32_t i = 0;
    for (auto _ : state) {
        float t = static_cast<float>(i++ % 1024) / 1024.0f;
        point.position = Triple{t, 1.0f - t, 0.0f};
        point.normal = Triple{0.0f, 0.0f, 1.0f};
        point.view = Triple{0.0f, 0.6f * t, 0.8f};
        Ar_shade_layer(*shader->info, point);
        benchmark::DoNotOptimize(output);
    }
    state.SetItemsProcessed(state.iterations());
    for (auto& info : lights) Ar_release_light_info(*info);
    remove_shading_hooks();
    remove_texture_hooks();
}

void BM_Lambert(benchmark::State& state) {
    shade_points(state, "lambert");
}
void BM_Phong(benchmark::State& state) {
    shade_points(state, "phong");
}
void BM_Blinn(benchmark::State& state) {
    shade_points(state, "blinn");
}

BENCHMARK(BM_Lambert)->Arg(1)->Arg(4)->Arg(16);
BENCHMARK(BM_Phong)->Arg(1)->Arg(4)->Arg(16);
BENCHMARK(BM_Blinn)->Arg(1)->Arg(4)->Arg(16);

}  // namespace
}  // namespace sky
