// Output rows per second: the byte conversion of a 645-pixel row, and whole
// images of rows arriving as workers deliver them (each tile's rows in order,
// the tiles out of order) into a depth file, so that the queue, conversion and
// depth encoding are measured rather than a disk.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "output/output_context.h"
#include "platform/image/fb.h"
#include "platform/report.h"
#include "scene/camera.h"

namespace sky {
namespace {

constexpr int kWidth = 645;
constexpr int kHeight = 486;

std::vector<float> colour_row(int seed) {
    std::vector<float> row(kWidth * 4);
    for (int i = 0; i < kWidth * 4; ++i) row[i] = std::fmod(i * 3.7f + seed * 11.3f, 255.0f);
    return row;
}

void BM_ConvertRow(benchmark::State& state) {
    ByteConversion conversion{state.range(0) != 0, 2.2f, state.range(1) != 0};
    std::vector<float> colour = colour_row(1), corrected(kWidth * 4);
    std::vector<std::uint8_t> bytes(kWidth * 8);
    for (auto _ : state) {
        convert_output_row(colour.data(), kWidth, conversion, bytes.data(), corrected.data());
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetItemsProcessed(state.iterations() * kWidth);
}
BENCHMARK(BM_ConvertRow)->ArgNames({"gamma", "sixteen"})->Args({0, 0})->Args({1, 0})->Args({1, 1});

void BM_ImageOfRows(benchmark::State& state) {
    const int tile_rows = 15;
    std::vector<int> tiles;
    for (int top = kHeight - 1; top >= 0; top -= tile_rows) tiles.push_back(top);
    if (state.range(0)) std::shuffle(tiles.begin(), tiles.end(), std::mt19937(3));
    std::vector<int> order;
    for (int top : tiles)
        for (int y = top; y > top - tile_rows && y >= 0; --y) order.push_back(y);
    std::vector<float> colour = colour_row(2), depth(kWidth, 10.0f);

    rptSetUserCB([](const char*) {});  // the "Completed" lines
    Rr_gamma_correction_on = true;
    Rr_gamma_value = 2.2f;
    CameraRecord camera;
    camera.depth_name = "/dev/null";
    camera.near = 1;
    camera.far = 100;
    OutputContext context;
    for (auto _ : state) {
        open_outputs(context, camera, 0, kWidth - 1, 0, kHeight - 1, 0);
        for (int y : order) output_scanline(y, context, colour.data(), depth.data(), nullptr);
        state.PauseTiming();
        close_outputs(context);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kHeight);
    release_pending_rows(context);
    rptSetUserCB(nullptr);
}
BENCHMARK(BM_ImageOfRows)->ArgName("tiles_shuffled")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sky
