// One complete evaluation of the scene at the scene clock's time, in the
// order the rest of the frame relies on: variables and lights first, then the
// walk, then what depends on where everything was placed.
#include "platform/fatal.h"
#include "run/options.h"
#include "run/startup.h"
#include "scene/camera.h"
#include "scene/dag.h"
#include "scene/dag_internal.h"
#include "scene/scene_clock.h"
#include "scene/scene_hooks.h"
#include "scene/transform.h"
#include "sdl/environment.h"
#include "sdl/expr.h"
#include "sdl/symbols.h"

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

}  // namespace

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
