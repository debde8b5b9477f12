// The frame loop runs on the main thread, worker 0. Everything a pass reads
// (scene, lights, view, outputs) is prepared before the start barrier and
// finished after the end barrier; between the two the main thread only
// renders tiles like any other worker.
#include "run/frame_loop.h"

#include <cmath>
#include <string>

#include "base/arena.h"
#include "base/counters.h"
#include "base/options.h"
#include "base/tiles.h"
#include "geometry/object_queue.h"
#include "geometry/saved_geometry.h"
#include "geometry/tessellate_object.h"
#include "output/output_context.h"
#include "output/statistics.h"
#include "platform/fatal.h"
#include "platform/files.h"
#include "platform/report.h"
#include "platform/stopwatch.h"
#include "render/rows.h"
#include "run/diagnostics.h"
#include "run/farm_frames.h"
#include "run/frame_schedule.h"
#include "run/post_program.h"
#include "run/progress.h"
#include "run/signals.h"
#include "run/startup.h"
#include "scene/camera.h"
#include "scene/dag.h"
#include "scene/scene_clock.h"
#include "scene/scene_objects.h"
#include "sdl/animation.h"
#include "sdl/scene_description.h"
#include "sdl/symbols.h"
#include "texture/texture.h"

namespace sky {
namespace {

// One camera's image, steps 1 to 19 of its sequence.
void render_camera(CameraEntry& entry, bool first_of_frame, bool maps_built, float frame,
                   std::int32_t extension) {
    RenderOptions& options = render_options();
    const FramePasses& passes = frame_passes();
    CameraRecord& camera = *entry.evaluated;
    const std::int64_t camera_start = wall_seconds();
    double near = camera.near, far = camera.far;
    reset_geometry_counters();

    if (passes.prepare_lights) passes.prepare_lights(camera);
    if (passes.set_up_glow) passes.set_up_glow();
    if (options.diagnostics) print_diagnostics(options, camera.pixel_aspect, !light_list().empty());

    // A depth-map pass, or an earlier camera, consumed the object lists.
    if (maps_built || !first_of_frame) {
        if (passes.rebuild_object_lists) passes.rebuild_object_lists();
        if (passes.set_up_glow) passes.set_up_glow();
    }

    make_tiles();
    give_tile_buffers(tile_layout().width, tile_layout().rows, worker_count(),
                      passes.tile_border ? passes.tile_border(camera) : 1);
    queue_tiles();

    if (camera.near == 0 && passes.automatic_clipping &&
        passes.automatic_clipping(camera, near, far))
        set_camera_clipping(camera, near, far);
    if (passes.prepare_shadow_lookups) passes.prepare_shadow_lookups(camera);
    if (passes.queue_objects) passes.queue_objects(camera);

    if (passes.open_outputs) passes.open_outputs(camera);

    if (passes.prepare_render) passes.prepare_render(camera);
    RenderPass pass = passes.camera_pass;
    pass.tile_finished = progress_tile_finished;
    install_render_pass(pass);
    progress_pass_started(frame, tile_layout().count);
    run_pass();
    progress_pass_finished();

    if (passes.release_shadow_lookups) passes.release_shadow_lookups();
    if (passes.close_outputs) passes.close_outputs();
    rewind_arena(pass_arena());
    rewind_arena(tile_arena());
    if (passes.release_camera_lights) passes.release_camera_lights();

    if (passes.post_effects) passes.post_effects(camera);
    if (!options.post_program.empty())
        run_post_program(options.post_program, frame, extension, camera.image_name,
                         camera.matte_name);
    // In link mode the rows were sent over the link as they were written;
    // the files (in the temporary rendering directory) served the post effects.
    if (options.link_mode) {
        const OutputContext& output = camera_output();
        for (const std::string* name : {&output.image_name, &output.matte_name, &output.depth_name})
            if (!name->empty()) oxFileDelete(*name);
    }

    print_statistics("Ray Casting", "Camera");
    report_elapsed_time(wall_seconds() - camera_start, "Raycast");
}

}  // namespace

int frame_loop(std::int64_t run_start) {
    RenderOptions& options = render_options();
    Ar_set_texturing(options.textures_active);
    // Declared values take their initial values once, before the first
    // frame; animation and assignments change them from there.
    initialise_declared_values();
    load_animation_channels();
    FrameSchedule schedule(options);
    double stalled_frame = 0;
    if (double step = schedule.stalled_step(stalled_frame); step != 0)
        fatal("The frame step %g is too small to advance from frame %g\n", step, stalled_frame);
    start_workers(decide_worker_count());
    start_farm_frames();
    start_progress_display();

    FrameTime next;
    while (schedule.next(next)) {
        const std::int64_t frame_start = wall_seconds();
        options.frame = static_cast<float>(next.time);
        options.extension = next.extension;
        options.field_parity = next.parity;

        fix_shutter(options);
        evaluate_frame_scene();
        if (farm_frame_done(next.time, next.extension, next.parity)) {
            release_frame_objects();
            rewind_arena(pass_arena());
            continue;
        }

        // The frame's objects are placed: what their passes share is made
        // while every worker is free to help.
        prepare_frame_polysets();

        bool maps_built = false;
        if (frame_passes().shadow_pass) {
            set_shadow_pass(true);
            maps_built = frame_passes().shadow_pass();
            set_shadow_pass(false);
        }
        reset_scratch_pools();

        bool first = true;
        for (CameraEntry* camera = select_next_camera(nullptr, next.parity); camera;
             camera = select_next_camera(camera, next.parity)) {
            render_camera(*camera, first, maps_built, options.frame, options.extension);
            first = false;
        }

        release_frame_objects();
        rewind_arena(pass_arena());
        saved_geometry_end_frame();
        report_elapsed_time(wall_seconds() - frame_start, "Frame Render");
        rptUser("\n");
    }

    finish_farm_frames();
    restore_signal_handlers();
    report_elapsed_time(wall_seconds() - run_start, "Total Render");
    clear_cameras();
    end_of_run();
    return 0;
}

}  // namespace sky
