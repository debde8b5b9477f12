// Texture lookups per second: Checker, and a file texture through its
// pyramid at a narrow and a wide footprint.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/image/fb.h"
#include "sdl/parse_test_support.h"
#include "sdl/reader.h"
#include "sdl/symbols.h"
#include "texture/texture.h"

namespace sky {
namespace {

AR_TextureInfo* declared_texture(const std::string& definition) {
    install_texture_hooks();
    reset_front_end();
    if (parse_scene_text("DEFINITION\n" + definition + "\nMODEL\n") != 0) return nullptr;
    initialise_declared_values();
    AR_TextureInfo* texture = texture_of(*static_cast<TextureValue*>(find_symbol("t")->value));
    Ar_evaluate_texture(*texture);
    Ar_init_texture(*texture);
    return texture;
}

void run_lookups(benchmark::State& state, const AR_TextureInfo& texture, float width) {
    TextureLookup at;
    at.du = at.dv = width;
    TextureColour out;
    std::uint32_t i = 0;
    for (auto _ : state) {
        // A walk over the texture that does not stay in one texel.
        at.u = static_cast<float>(i % 997) / 997.0f;
        at.v = static_cast<float>(i % 991) / 991.0f;
        ++i;
        Ar_invoke_texture(texture, at, out);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Checker(benchmark::State& state) {
    AR_TextureInfo* t = declared_texture(
        "environment t (procedure = Checker, color1 = (255, 0, 0), urepeat = 8, vrepeat = 8);");
    if (t == nullptr) return state.SkipWithError("the scene did not read");
    run_lookups(state, *t, 0.001f);
}
BENCHMARK(BM_Checker);

void BM_FileTexture(benchmark::State& state) {
    const int size = 512;
    std::string name = "/tmp/skyloom-bench-texture-" + std::to_string(::getpid()) + ".qrl";
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(size) * size * 4);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint8_t>(i * 37 >> 3);
    FBhandle* file = FBopen(name.c_str(), FB_WRITE_IMAGE, FB_FORMAT_QRL, size, size, 4, 0, 0, 90.0);
    if (file == nullptr) return state.SkipWithError("cannot write the image");
    FBwrite(file, pixels.data());
    FBclose(file);
    AR_TextureInfo* t =
        declared_texture("environment t (procedure = file, image = \"" + name + "\", filter = " +
                         (state.range(1) ? "GAUSS_FILTER" : "BLEND_FILTER") + ");");
    ::unlink(name.c_str());
    if (t == nullptr) return state.SkipWithError("the scene did not read");
    run_lookups(state, *t, static_cast<float>(state.range(0)) / 1000.0f);
}
// Footprints of 0.001 and 0.05 of the image; blend and Gaussian filters.
BENCHMARK(BM_FileTexture)->Args({1, 0})->Args({50, 0})->Args({1, 1})->Args({50, 1});

}  // namespace
}  // namespace sky
