// The phases of a whole render of one scene file, timed apart: the parse
// (with its rate, MB of SDL a second), the depth maps of the shadow pass,
// tessellation with bucket entry, and sampling, with the samples per pixel
// and the peak memory of the process. Run by render_bench.py, one process per
// scene, on the knot scenes it generates.
//
//     skyloom_render_bench scene.sdl [workers] [map repeats]
//
// With map repeats the shadow pass is run that many times more before the
// camera (the maps are built afresh each time) and the median of those runs
// is printed: the map pass alone, steadier than one run on a busy machine.
// Tessellation and entry are measured by a pass that only enters the
// tiles' geometry; the full pass then does it again with sampling, and the
// sampling time is the difference. Lines before the last give the pages
// the pool of large blocks handed out fresh and again, and the peak
// resident memory as each phase ends.
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/arena.h"
#include "base/frame_passes.h"
#include "base/options.h"
#include "base/tiles.h"
#include "base/workers.h"
#include "geometry/geometry_evaluation.h"
#include "geometry/object_queue.h"
#include "platform/input_stream.h"
#include "platform/large_blocks.h"
#include "platform/memory.h"
#include "render/rows.h"
#include "render/shadow_pass.h"
#include "run/frame_schedule.h"
#include "scene/camera.h"
#include "scene/dag.h"
#include "scene/scene_objects.h"
#include "sdl/environment_transfer.h"
#include "sdl/lexer.h"
#include "sdl/reader.h"
#include "sdl/scene_description.h"
#include "sdl/sdl_input.h"
#include "sdl/symbols.h"
#include "shading/shader.h"
#include "texture/texture.h"

namespace sky {
namespace {

// The process's highest resident memory so far, MB (/proc/self/status).
double peak_megabytes() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return 0;
    char line[256];
    double kilobytes = 0;
    while (std::fgets(line, sizeof line, status) != nullptr)
        if (std::sscanf(line, "VmHWM: %lf", &kilobytes) == 1) break;
    std::fclose(status);
    return kilobytes / 1024.0;
}

// Processor time of the whole process so far (every thread, user and
// system), s.
double processor_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void drop_row(std::int32_t, const float*, const float*, const std::uint8_t*, std::int32_t) {}

double pass(CameraRecord& camera, bool sample) {
    FramePasses& passes = frame_passes();
    const auto start = std::chrono::steady_clock::now();
    make_tiles();
    give_tile_buffers(tile_layout().width, tile_layout().rows, worker_count(),
                      passes.tile_border ? passes.tile_border(camera) : 1);
    queue_tiles();
    passes.queue_objects(camera);
    passes.prepare_render(camera);
    RenderPass p = passes.camera_pass;
    if (!sample) p.set_up = nullptr, p.render_tile = nullptr, p.tear_down = nullptr;
    install_render_pass(p);
    run_pass();
    rewind_arena(pass_arena());
    rewind_arena(tile_arena());
    release_object_queue();
    return seconds_since(start);
}

// The median wall and processor time of `repeats` more shadow passes.
void repeat_shadow_pass(int repeats) {
    std::vector<double> wall, processor;
    for (int k = 0; k < repeats; ++k) {
        const auto start = std::chrono::steady_clock::now();
        const double before = processor_seconds();
        set_shadow_pass(true);
        frame_passes().shadow_pass();
        set_shadow_pass(false);
        reset_scratch_pools();
        wall.push_back(seconds_since(start));
        processor.push_back(processor_seconds() - before);
    }
    auto median = [](std::vector<double>& v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("shadow maps again, median of %d: %.4f s, processor %.4f s\n", repeats,
                median(wall), median(processor));
}

int run(const char* path, int workers, int map_repeats) {
    return_large_blocks();
    install_geometry_hooks();
    install_texture_hooks();
    install_shading_hooks();
    install_geometry_passes();
    install_render_passes();
    install_shadow_passes();
    set_row_sink(drop_row);

    auto start = std::chrono::steady_clock::now();
    std::string error;
    auto stream = InputStream::open_file(path, error);
    if (!stream) {
        std::fprintf(stderr, "cannot open %s: %s\n", path, error.c_str());
        return 1;
    }
    reset_front_end();
    // As the program does with -n: one worker, one thread for the parse too.
    set_parse_processors(workers);
    scene_description().stages.assign(1, StageRecord{});
    SdlInput input;
    input.bind(stream.get());
    input.probe();
    if (parse_scene(input) != 0) return 1;
    const double parse = seconds_since(start);
    double cpu[6];
    cpu[0] = processor_seconds();
    const double after_parse = peak_megabytes();
    struct stat file {};
    const double megabytes = ::stat(path, &file) == 0 ? static_cast<double>(file.st_size) / 1e6 : 0;

    RenderOptions& options = render_options();
    transfer_environment(options, kRendererCaster, kModeFullRender);
    options.quiet = 1;
    options.frame = options.startframe;
    initialise_declared_values();
    build_camera_entries();
    Ar_set_texturing(options.textures_active);

    WorkerCrew crew(workers);
    // The shutter interval, as the frame loop fixes it, for scenes with
    // motion blur.
    fix_shutter(options);
    decide_camera_motion_blur(options);
    start = std::chrono::steady_clock::now();
    evaluate_frame_scene();
    const double evaluation = seconds_since(start);
    cpu[1] = processor_seconds();
    const double after_evaluation = peak_megabytes();

    FramePasses& passes = frame_passes();
    start = std::chrono::steady_clock::now();
    set_shadow_pass(true);
    const bool maps = passes.shadow_pass();
    set_shadow_pass(false);
    reset_scratch_pools();
    const double shadows = seconds_since(start);
    cpu[2] = processor_seconds();
    const double after_shadows = peak_megabytes();
    // The repeats belong to no phase: the later phases leave them out.
    double repeats = 0;
    if (map_repeats > 0) {
        repeat_shadow_pass(map_repeats);
        repeats = processor_seconds() - cpu[2];
    }

    CameraEntry* entry = select_next_camera(nullptr, 0);
    if (entry == nullptr) return 1;
    CameraRecord& camera = *entry->evaluated;
    if (passes.prepare_lights) passes.prepare_lights(camera);
    if (maps) passes.rebuild_object_lists();
    passes.prepare_shadow_lookups(camera);

    const double geometry = pass(camera, false);
    cpu[3] = processor_seconds() - repeats;
    const double after_geometry = peak_megabytes();
    reset_sample_counts();
    const double full = pass(camera, true);
    cpu[4] = processor_seconds() - repeats;
    std::int64_t samples = 0;
    for (int w = 0; w < worker_count(); ++w) samples += worker_samples(w);
    const double pixels = static_cast<double>(options.xright - options.xleft + 1) *
                          (options.yhigh - options.ylow + 1);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const LargeBlockCounts pages = large_block_pool().counts();
    std::printf(
        "large blocks: %.0f MB of fresh pages, %.0f MB of pages reused, %.0f MB given back\n",
        pages.fresh / 1048576.0, pages.reused / 1048576.0, pages.given_back / 1048576.0);
    std::printf(
        "peak after the parse %.0f MB, evaluation %.0f MB, shadow maps %.0f MB, "
        "tessellation+entry %.0f MB\n",
        after_parse, after_evaluation, after_shadows, after_geometry);
    std::printf(
        "%s: parse %.3f s (%.0f MB/s), evaluation %.3f s, shadow maps %.3f s, "
        "tessellation+entry %.3f s, sampling %.3f s, %.2f samples/pixel, peak %.0f MB\n",
        path, parse, megabytes / parse, evaluation, shadows, geometry, full - geometry,
        samples / pixels, usage.ru_maxrss / 1024.0);
    std::printf(
        "processor time: parse %.3f s, evaluation %.3f s, shadow maps %.3f s, "
        "tessellation+entry %.3f s, sampling %.3f s\n",
        cpu[0], cpu[1] - cpu[0], cpu[2] - cpu[1], cpu[3] - cpu[2],
        (cpu[4] - cpu[3]) - (cpu[3] - cpu[2]));
    std::fflush(stdout);
    // The process ends here: the scene's memory goes with it.
    std::_Exit(0);
}

}  // namespace
}  // namespace sky

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s scene.sdl [workers] [map repeats]\n", argv[0]);
        return 1;
    }
    return sky::run(argv[1], argc > 2 ? std::atoi(argv[2]) : 2, argc > 3 ? std::atoi(argv[3]) : 0);
}
