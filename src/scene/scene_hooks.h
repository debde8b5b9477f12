// What the model walk asks of the subsystems that evaluate what it places:
// the geometry (patches, faces, polysets), the lights, the shaders and
// textures. Each is a function a subsystem installs; until it does, the walk
// does without (objects keep their bodies, lights are always on).
#pragma once

#include <span>

#include "scene/scene_objects.h"
#include "scene/transform.h"

namespace sky {

struct SceneHooks {
    // Geometry. evaluate builds object.geometry from object.value at the
    // current time (false: the object is dropped). The geometry must not
    // refer back to `object`: a moving object's shutter-close half is
    // evaluated in a temporary record and its geometry handed to the object
    // made at shutter open. release frees what
    // evaluate built; motion_bounds builds the motion-blurred bounds from the
    // open and close geometry (false is not reported); prepare_shaders gets
    // the object's shaders ready for the frame.
    bool (*evaluate_geometry)(RenderObject& object) = nullptr;
    void (*release_geometry)(RenderObject& object) = nullptr;
    bool (*motion_bounds)(RenderObject& object) = nullptr;
    void (*prepare_shaders)(RenderObject& object) = nullptr;
    // After the walk (not at shutter open or close): the texture placements.
    void (*build_texture_placements)(RenderObject& object) = nullptr;

    // Lights. evaluate fills light.record from light.value; false or
    // is_on false: the light produces nothing this frame. place_spot lets a
    // spot light place itself from the walk's transformation state.
    bool (*evaluate_light)(PlacedLight& light) = nullptr;
    bool (*light_is_on)(const PlacedLight& light) = nullptr;
    void (*place_spot_light)(PlacedLight& light, const TransformState& state) = nullptr;
    bool (*is_spot_light)(const PlacedLight& light) = nullptr;
    void (*release_light)(PlacedLight& light) = nullptr;

    // Declared variables re-evaluated each frame.
    void (*evaluate_declared_lights)() = nullptr;
    void (*evaluate_declared_geometry)() = nullptr;
    // Animation channels write the frame's values into their variables.
    void (*update_animation)(float time) = nullptr;
    // The texture-file cache learns of a new frame (before and after the walk).
    void (*texture_cache_new_frame)() = nullptr;
    // The environment's shader, when the scene has one.
    void (*evaluate_environment_shader)() = nullptr;
    // Once the frame's walks are done: the scene's commands (which may add
    // objects), then the image-based lighting of the frame.
    void (*run_commands)() = nullptr;
    void (*prepare_image_lighting)() = nullptr;

    // Geometry with several shaders (polysets) renders as one object per
    // shader slot: how many slots the object has (1 without the hook), and
    // the geometry of slot `slot` made from the first slot's (null: none).
    int (*shader_slots)(const RenderObject& object) = nullptr;
    void* (*slot_geometry)(void* geometry, int slot) = nullptr;
    // The object's shader and light-list expressions as its geometry holds
    // them, for the subsystems that do not know the geometry's kind (empty
    // without the hook).
    std::span<Expr* const> (*object_shaders)(const RenderObject& object) = nullptr;
    std::span<Expr* const> (*object_lights)(const RenderObject& object) = nullptr;
};

SceneHooks& scene_hooks();

}  // namespace sky
