// Texture lookups per second: Checker, a file texture through its pyramid
// at a narrow and a wide footprint, and every procedure at its default
// settings (a nested Checker for the pictures of the image-driven ones),
// with the footprint of a pixel of a 1024-pixel image across the frame (a
// unit object, a radian).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cmath>
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

// Every procedure, looked up the way its kind is: over the surface, through
// a unit cube of space, or round the sphere of directions.
void BM_Procedure_lookups(benchmark::State& state, const AR_TextureInfo& texture) {
    const float width = 1.0f / 1024.0f;
    TextureLookup at;
    at.du = at.dv = width;
    at.dpoint = width;
    at.normal = Triple{0.0f, 0.6f, 0.8f};
    TextureColour out;
    std::uint32_t i = 0;
    for (auto _ : state) {
        float a = static_cast<float>(i % 997) / 997.0f, b = static_cast<float>(i % 991) / 991.0f;
        ++i;
        at.u = a;
        at.v = b;
        at.point = Triple{a, b, 0.5f * (a + b)};
        // A ball of radius 2 around the point.
        at.along[0] = Triple{0.01f, 0.0f, 0.0f};
        at.along[1] = Triple{0.0f, 0.01f, 0.0f};
        at.normal_change[0] = Triple{0.005f, 0.0f, 0.0f};
        at.normal_change[1] = Triple{0.0f, 0.005f, 0.0f};
        float z = 2.0f * b - 1.0f, r = std::sqrt(1.0f - z * z);
        at.direction = Triple{r * std::cos(6.2831853f * a), z, r * std::sin(6.2831853f * a)};
        Ar_invoke_texture(texture, at, out);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Procedure(benchmark::State& state, const char* name, const char* settings) {
    AR_TextureInfo* t = declared_texture(std::string("environment t (procedure = ") + name +
                                         (*settings ? ", " : "") + settings + ");");
    if (t == nullptr) return state.SkipWithError("the scene did not read");
    BM_Procedure_lookups(state, *t);
}

constexpr const char* kPicture = "image = environment (procedure = Checker)";
BENCHMARK_CAPTURE(BM_Procedure, Bulge, "Bulge", "");
BENCHMARK_CAPTURE(BM_Procedure, Cloth, "Cloth", "");
BENCHMARK_CAPTURE(BM_Procedure, Fractal, "Fractal", "");
BENCHMARK_CAPTURE(BM_Procedure, Grid, "Grid", "");
BENCHMARK_CAPTURE(BM_Procedure, Directional, "Directional", "");
BENCHMARK_CAPTURE(BM_Procedure, Marble, "Marble", "");
BENCHMARK_CAPTURE(BM_Procedure, Mountain, "Mountain", "");
BENCHMARK_CAPTURE(BM_Procedure, Noise, "Noise", "");
BENCHMARK_CAPTURE(BM_Procedure, Ramp, "Ramp", "");
BENCHMARK_CAPTURE(BM_Procedure, Stencil, "Stencil", kPicture);
BENCHMARK_CAPTURE(BM_Procedure, Water, "Water", "");
BENCHMARK_CAPTURE(BM_Procedure, Granite, "Granite", "");
BENCHMARK_CAPTURE(BM_Procedure, Leather, "Leather", "");
BENCHMARK_CAPTURE(BM_Procedure, Projection, "Projection", kPicture);
BENCHMARK_CAPTURE(BM_Procedure, sCloud, "sCloud", "");
BENCHMARK_CAPTURE(BM_Procedure, sFractal, "sFractal", "");
BENCHMARK_CAPTURE(BM_Procedure, sMarble, "sMarble", "");
BENCHMARK_CAPTURE(BM_Procedure, Snow, "Snow", "");
BENCHMARK_CAPTURE(BM_Procedure, sRock, "sRock", "");
BENCHMARK_CAPTURE(BM_Procedure, sWood, "sWood", "");
BENCHMARK_CAPTURE(BM_Procedure, Ball, "Ball", kPicture);
BENCHMARK_CAPTURE(BM_Procedure, Chrome, "Chrome", "");
BENCHMARK_CAPTURE(BM_Procedure, Cube, "Cube", "crossImg = environment (procedure = Checker)");
BENCHMARK_CAPTURE(BM_Procedure, Geometric, "Geometric", kPicture);
BENCHMARK_CAPTURE(BM_Procedure, Sky, "Sky", "");
BENCHMARK_CAPTURE(BM_Procedure, Sphere, "Sphere", kPicture);
// The curvature of the lookup's surface: a ball's, through a ramp.
BENCHMARK_CAPTURE(BM_Procedure, Gaussian, "Gaussian",
                  "cscale = 0.5, ramp = environment (procedure = Ramp)");

// Volume's slices: eight small images of a ring, written for the run.
void BM_Volume(benchmark::State& state) {
    const std::string stem = "/tmp/skyloom-bench-slice-" + std::to_string(::getpid());
    std::vector<std::uint8_t> pixels(16 * 16 * 4);
    for (int k = 1; k <= 8; ++k) {
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<std::uint8_t>(i * (k + 3));
        FBhandle* file = FBopen((stem + "." + std::to_string(k)).c_str(), FB_WRITE_IMAGE,
                                FB_FORMAT_QRL, 16, 16, 4, 0, 0, 90.0);
        if (file == nullptr) return state.SkipWithError("cannot write the slices");
        FBwrite(file, pixels.data());
        FBclose(file);
    }
    AR_TextureInfo* t = declared_texture("environment t (procedure = Volume, pix_sequence = \"" +
                                         stem + "\", from = 1, mapping = 1);");
    for (int k = 1; k <= 8; ++k) ::unlink((stem + "." + std::to_string(k)).c_str());
    if (t == nullptr) return state.SkipWithError("the scene did not read");
    BM_Procedure_lookups(state, *t);
}
BENCHMARK(BM_Volume);

}  // namespace
}  // namespace sky
