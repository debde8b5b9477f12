// Post effects on a 1920 × 1080 image: post-filter rows per second through
// the outputs, depth of field over a scene of a sharp foreground and a
// blurred background, and shader glow (deposits, compute and the rows it is
// applied to) for a glowing disc.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "base/options.h"
#include "output/depth_of_field.h"
#include "output/output_context.h"
#include "output/post_filter.h"
#include "output/shader_glow.h"
#include "platform/report.h"
#include "scene/camera.h"

namespace sky {
namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

void quiet_reports() {
    rptSetUserCB([](const char*) {});
    rptSetErrorCB([](const char*) {});
}

void BM_PostFilterRows(benchmark::State& state) {
    quiet_reports();
    OutputStages saved = output_stages();
    output_stages().post_filter_set_up = post_filter_set_up;
    output_stages().post_filter_row = post_filter_row;
    render_options().post_filter = state.range(0) != 0;
    std::vector<float> colour(kWidth * 4), depth(kWidth, 10.0f);
    for (int i = 0; i < kWidth * 4; ++i) colour[i] = std::fmod(i * 3.7f, 255.0f);
    CameraRecord camera;
    camera.depth_name = "/dev/null";
    camera.near = 1;
    camera.far = 100;
    OutputContext context;
    for (auto _ : state) {
        open_outputs(context, camera, 0, kWidth - 1, 0, kHeight - 1, 0);
        for (int y = kHeight - 1; y >= 0; --y)
            output_scanline(y, context, colour.data(), depth.data(), nullptr);
        state.PauseTiming();
        close_outputs(context);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kHeight);
    release_pending_rows(context);
    render_options().post_filter = false;
    output_stages() = saved;
    rptSetUserCB(nullptr);
    rptSetErrorCB(nullptr);
}
BENCHMARK(BM_PostFilterRows)->ArgName("filter")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A sharp foreground over the left half, a background behind whose discs
// of confusion have radius `range(0)` pixels.
void BM_DepthOfField(benchmark::State& state) {
    quiet_reports();
    const double focus = 10.0, k = 20.0;
    const double radius = static_cast<double>(state.range(0));
    const double far = focus * k / (k - radius);  // |z - focus| k / z = radius
    std::vector<std::uint8_t> original(static_cast<std::size_t>(kWidth) * kHeight * 4);
    for (std::size_t i = 0; i < original.size(); ++i)
        original[i] = static_cast<std::uint8_t>((i * 7) % 251);
    std::vector<std::uint8_t> pixels;
    std::vector<float> depth(static_cast<std::size_t>(kWidth) * kHeight);
    for (auto _ : state) {
        state.PauseTiming();
        pixels = original;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                depth[static_cast<std::size_t>(y) * kWidth + x] =
                    static_cast<float>(x < kWidth / 2 ? focus : far);
        ImageBytes image{kWidth, kHeight, false, pixels.data()};
        state.ResumeTiming();
        apply_depth_of_field(image, depth.data(), focus, k);
        benchmark::DoNotOptimize(pixels.data());
    }
    rptSetUserCB(nullptr);
    rptSetErrorCB(nullptr);
}
BENCHMARK(BM_DepthOfField)->ArgName("radius")->Arg(3)->Arg(8)->Unit(benchmark::kMillisecond);

// A glowing disc of a tenth of the image's height, sampled once a pixel,
// with the default glow and halo.
void BM_ShaderGlow(benchmark::State& state) {
    quiet_reports();
    render_options().glow_jitter = true;
    std::vector<std::uint8_t> row(kWidth * 4);
    const float white[3] = {255.0f, 240.0f, 200.0f}, black[3] = {0.0f, 0.0f, 0.0f};
    const double cx = kWidth / 2.0, cy = kHeight / 2.0, r = kHeight / 20.0;
    for (auto _ : state) {
        start_shader_glow(ShaderGlowSettings{}, 0, kWidth - 1, 0, kHeight - 1, true);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const bool inside = std::hypot(x + 0.5 - cx, y + 0.5 - cy) < r;
                deposit_glow_sample(x + 0.5, y + 0.5, inside ? white : black);
            }
        compute_shader_glow();
        for (int y = 0; y < kHeight; ++y) {
            std::fill(row.begin(), row.end(), 40);
            apply_shader_glow_row(row.data(), kWidth, false, y, 0, kWidth - 1);
        }
        benchmark::DoNotOptimize(row.data());
        finish_shader_glow();
    }
    rptSetUserCB(nullptr);
    rptSetErrorCB(nullptr);
}
BENCHMARK(BM_ShaderGlow)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sky
