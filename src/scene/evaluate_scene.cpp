// One complete evaluation of the scene at the scene clock's time, in the
// order the rest of the frame relies on: variables and lights first, then the
// walk, then what depends on where everything was placed.
#include <cmath>

#include "base/counters.h"
#include "base/options.h"
#include "platform/fatal.h"
#include "scene/camera.h"
#include "scene/dag.h"
#include "scene/dag_internal.h"
#include "scene/scene_clock.h"
#include "scene/scene_hooks.h"
#include "scene/transform.h"
#include "sdl/environment.h"
#include "sdl/expr.h"
#include "sdl/scene_description.h"
#include "sdl/symbols.h"
#include "sdl/types.h"

namespace sky {
namespace {

bool current_transform(TransformValue* out) {
    *out = snapshot(transform_state());
    return true;
}

void release_lights() {
    SceneHooks& hooks = scene_hooks();
    for (auto& entry : light_list())
        if (hooks.release_light) {
            hooks.release_light(entry->working);
            hooks.release_light(entry->reference);
        }
    light_list().clear();
}

// Sets the scene counters from the frame's objects and lights.
void count_frame_scene() {
    RenderCounters& c = render_counters();
    std::int32_t patches = 0, faces = 0, polysets = 0;
    ObjectList& objects = frame_objects();
    for (std::size_t i = 0; i < objects.size(); ++i) {
        switch (objects[i].type) {
            case SDL_PATCH:
                ++patches;
                break;
            case SDL_FACE:
                ++faces;
                break;
            case SDL_POLYSET:
                ++polysets;
                break;
            default:
                break;
        }
    }
    c.patches.store(patches, std::memory_order_relaxed);
    c.faces.store(faces, std::memory_order_relaxed);
    c.polysets.store(polysets, std::memory_order_relaxed);
    c.lights.store(static_cast<std::int32_t>(light_list().size()), std::memory_order_relaxed);
}

// The time of the last evaluation that started a new frame.
float last_evaluated_frame = -100000.0f;

void evaluate_at(float time, bool new_frame) {
    scene_clock().time = time;
    frame_objects().reset_cursor();
    evaluate_scene(scene_description().model, new_frame);
}

}  // namespace

void evaluate_frame_scene() {
    const RenderOptions& options = render_options();
    const float frame = options.frame;
    bool new_frame = std::fabs(frame - last_evaluated_frame) > 1e-6f;
    if (new_frame) last_evaluated_frame = frame;

    release_frame_objects();
    reset_scene_counters();
    if (options.motion_blur) {
        evaluate_at(options.shutter_open, new_frame);
        evaluate_at(options.shutter_close, false);
        evaluate_at(frame, false);
    } else {
        evaluate_at(frame, new_frame);
    }
    SceneHooks& hooks = scene_hooks();
    if (hooks.run_commands) hooks.run_commands();
    if (hooks.prepare_image_lighting) hooks.prepare_image_lighting();
    count_frame_scene();
}

void release_frame_objects() {
    SceneHooks& hooks = scene_hooks();
    ObjectList& objects = frame_objects();
    if (hooks.release_geometry)
        for (std::size_t i = 0; i < objects.size(); ++i) hooks.release_geometry(objects[i]);
    objects.clear();
    release_lights();
}

void evaluate_scene(Statement* model, bool new_frame) {
    SceneClock& clock = scene_clock();
    const RenderOptions& options = render_options();
    SceneHooks& hooks = scene_hooks();
    clock.new_frame = new_frame;
    clock.listing = options.quiet == 0 && clock.time == options.startframe;

    // Expressions that ask for the current transformation read the walk's.
    expression_context().current_transform = current_transform;
    clear_forward_references();

    RenderOptions published = options;
    published.frame = clock.time;
    publish_system_variables(published);

    if (sdl_version() >= 6.0f) pre_pass(model);
    if (hooks.evaluate_declared_lights) hooks.evaluate_declared_lights();
    if (hooks.update_animation) hooks.update_animation(clock.time);
    if (!(clock.motion_blur && !at_shutter_open(clock))) reset_cameras();
    release_lights();

    TransformState& state = transform_state();
    reset_transform_state(state);
    if (new_frame && hooks.texture_cache_new_frame) hooks.texture_cache_new_frame();

    walk(model, 0);
    resolve_forward_references();

    if (hooks.evaluate_declared_geometry) hooks.evaluate_declared_geometry();
    bool shutter_walk = at_shutter_open(clock) || at_shutter_close(clock);
    if (!shutter_walk || camera_is_moving()) evaluate_all_cameras();
    if (hooks.evaluate_environment_shader) hooks.evaluate_environment_shader();
    if (!shutter_walk && hooks.build_texture_placements) {
        ObjectList& objects = frame_objects();
        for (std::size_t i = 0; i < objects.size(); ++i) hooks.build_texture_placements(objects[i]);
    }
    if (new_frame && hooks.texture_cache_new_frame) hooks.texture_cache_new_frame();
}

// `forward(p)` yields p's value where it is evaluated. A forward reference is
// not written back after the walk: the place its value went to may be a
// temporary long gone by then.
void resolve_forward_references() {}
void clear_forward_references() {}

}  // namespace sky
