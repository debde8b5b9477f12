// Rendering scenes in tests: SDL text read by the renderer's own reader,
// evaluated for its first frame and rendered by the ray caster on a crew
// of workers, the finished rows caught in memory instead of files.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "base/arena.h"
#include "base/frame_passes.h"
#include "base/options.h"
#include "base/options_test_support.h"
#include "base/tiles.h"
#include "base/workers.h"
#include "geometry/geometry_evaluation.h"
#include "geometry/object_queue.h"
#include "render/rows.h"
#include "render/shadow_pass.h"
#include "scene/camera.h"
#include "scene/dag.h"
#include "scene/scene_clock.h"
#include "scene/scene_objects.h"
#include "sdl/environment_transfer.h"
#include "sdl/parse_test_support.h"
#include "sdl/scene_description.h"
#include "sdl/symbols.h"
#include "shading/light.h"
#include "shading/shader.h"
#include "texture/texture.h"

namespace sky::test {

struct RenderedImage {
    std::int32_t width = 0, height = 0;
    std::vector<float> rgba;   // 4 per pixel, row y at y·width (y up)
    std::vector<float> depth;  // 1 per pixel
    std::vector<int> rows_seen;
    std::int64_t samples = 0;
    bool ok = false;
    // The camera's screen mapping, for analytic comparisons.
    ScreenMapping screen;

    const float* at(std::int32_t x, std::int32_t y) const {
        return &rgba[4 * (static_cast<std::size_t>(y) * width + x)];
    }
    float depth_at(std::int32_t x, std::int32_t y) const {
        return depth[static_cast<std::size_t>(y) * width + x];
    }
    // For looking at a result by eye while debugging.
    void write_ppm(const std::string& name) const {
        std::FILE* f = std::fopen(name.c_str(), "wb");
        if (!f) return;
        std::fprintf(f, "P6 %d %d 255\n", width, height);
        for (std::int32_t y = height - 1; y >= 0; --y)
            for (std::int32_t x = 0; x < width; ++x)
                for (int k = 0; k < 3; ++k) std::fputc(static_cast<int>(at(x, y)[k] + 0.5f), f);
        std::fclose(f);
    }
};

struct RenderSettings {
    int workers = 1;
    int tile_rows = 15;
    // Applied to the options after the scene's settings.
    std::function<void(RenderOptions&)> adjust;
    // Called with the options once the depth maps are built.
    std::function<void(const RenderOptions&)> after_maps;
};

namespace detail {
inline RenderedImage* catching = nullptr;
inline std::mutex catching_lock;
inline void catch_row(std::int32_t y, const float* colour, const float* depth, const std::uint8_t*,
                      std::int32_t width) {
    std::lock_guard<std::mutex> hold(catching_lock);
    RenderedImage& image = *catching;
    const RenderOptions& options = render_options();
    const std::int32_t row = y - options.ylow;
    if (row < 0 || row >= image.height || width != image.width) return;
    std::copy(colour, colour + 4 * width,
              image.rgba.begin() + 4 * static_cast<std::size_t>(row) * width);
    std::copy(depth, depth + width, image.depth.begin() + static_cast<std::size_t>(row) * width);
    image.rows_seen.push_back(y);
}
}  // namespace detail

// A unit sphere of `segments` around, as a polyset with true normals.
inline std::string polyset_sphere(int segments, const char* shader) {
    std::ostringstream s;
    s.setf(std::ios::fixed);
    s.precision(9);
    const int rings = segments / 2;
    s << "polyset (shader = (" << shader << "), vertices = (";
    for (int r = 0; r <= rings; ++r) {
        const double theta = M_PI * r / rings;
        for (int k = 0; k < segments; ++k) {
            const double phi = 2 * M_PI * k / segments;
            const double x = std::sin(theta) * std::cos(phi), y = std::cos(theta),
                         z = std::sin(theta) * std::sin(phi);
            s << (r || k ? "," : "") << "(cv((" << x << "," << y << "," << z << "),1),st(0,0),norm("
              << x << "," << y << "," << z << "))";
        }
    }
    s << "), polygons = (";
    bool first = true;
    for (int r = 0; r < rings; ++r) {
        for (int k = 0; k < segments; ++k) {
            const int a = r * segments + k, b = r * segments + (k + 1) % segments;
            const int c = a + segments, d = b + segments;
            s << (first ? "" : ",") << "polygon(" << a << "," << c << "," << d << "),polygon(" << a
              << "," << d << "," << b << ")";
            first = false;
        }
    }
    s << "));\n";
    return s.str();
}

// Renders the first camera of `scene` at its first frame.
inline RenderedImage render_scene(const std::string& scene, const RenderSettings& settings = {}) {
    RenderedImage image;
    install_geometry_hooks();
    install_texture_hooks();
    install_shading_hooks();
    install_geometry_passes();
    install_render_passes();
    install_shadow_passes();
    reset_front_end();
    scene_description().stages.assign(1, StageRecord{});
    if (parse_scene_text(scene) != 0) return image;

    test::RenderOptionsGuard keep;  // the scene's settings stay with this render
    RenderOptions& options = render_options();
    options = RenderOptions{};
    transfer_environment(options, kRendererCaster, kModeFullRender);
    options.quiet = 1;
    options.tile_rows = settings.tile_rows;
    options.frame = options.startframe;
    if (settings.adjust) settings.adjust(options);
    initialise_declared_values();
    build_camera_entries();
    Ar_set_texturing(options.textures_active);

    image.width = options.xright - options.xleft + 1;
    image.height = options.yhigh - options.ylow + 1;
    image.rgba.assign(4 * static_cast<std::size_t>(image.width) * image.height, -1.0f);
    image.depth.assign(static_cast<std::size_t>(image.width) * image.height, -1.0f);
    {
        WorkerCrew crew(settings.workers);
        scene_clock() = SceneClock{};
        scene_clock().frame = options.frame;
        scene_clock().motion_blur = options.motion_blur;
        scene_clock().shutter_open = options.shutter_open;
        scene_clock().shutter_close = options.shutter_close;
        scene_clock().camera_motion = options.camera_motion_blur;
        evaluate_frame_scene();
        FramePasses& passes = frame_passes();
        set_shadow_pass(true);
        const bool maps_built = passes.shadow_pass();
        set_shadow_pass(false);
        if (settings.after_maps) settings.after_maps(render_options());
        reset_scratch_pools();
        CameraEntry* entry = select_next_camera(nullptr, 0);
        if (entry == nullptr) return image;
        CameraRecord& camera = *entry->evaluated;
        if (passes.prepare_lights) passes.prepare_lights(camera);
        if (maps_built) passes.rebuild_object_lists();
        make_tiles();
        give_tile_buffers(tile_layout().width, tile_layout().rows, worker_count(),
                          passes.tile_border ? passes.tile_border(camera) : 1);
        queue_tiles();
        double near = camera.near, far = camera.far;
        if (camera.near == 0 && passes.automatic_clipping(camera, near, far))
            set_camera_clipping(camera, near, far);
        passes.prepare_shadow_lookups(camera);
        passes.queue_objects(camera);
        passes.prepare_render(camera);
        reset_sample_counts();
        detail::catching = &image;
        set_row_sink(detail::catch_row);
        install_render_pass(passes.camera_pass);
        run_pass();
        // The pass refers to this camera, which goes below: later passes of
        // other tests must not find it installed.
        install_render_pass(RenderPass{});
        set_row_sink(nullptr);
        detail::catching = nullptr;
        for (int w = 0; w < worker_count(); ++w) image.samples += worker_samples(w);
        image.screen = camera.view.screen;
        // Other tests count worker 0's blocks: give them back.
        release_arena(pass_arena());
        release_arena(tile_arena());
        if (passes.release_camera_lights) passes.release_camera_lights();
        release_object_queue();
        release_frame_objects();
    }
    clear_cameras();
    remove_shadow_passes();
    remove_render_passes();
    remove_shading_hooks();
    remove_texture_hooks();
    remove_geometry_hooks();
    image.ok = true;
    return image;
}

}  // namespace sky::test
