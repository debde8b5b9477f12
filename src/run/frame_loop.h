// The frame loop: every frame (and video field) of the run, the scene
// evaluated at the times the frame needs, and every active camera rendered
// on all workers.
//
// The stages that later parts of the renderer provide (depth maps, lights,
// geometry entry, sampling, outputs, post effects) plug into fixed places of
// the loop through FramePasses; a stage not installed is skipped, so the
// loop runs, and steps through its frames and cameras, with any subset.
#pragma once

#include <cstdint>

#include "run/workers.h"

namespace sky {

struct CameraEntry;
struct CameraRecord;

struct FramePasses {
    // The frame's depth maps, on all workers; true when any map was built.
    bool (*shadow_pass)() = nullptr;
    // Per camera, before the tiles are made: the lights and the shader glow.
    void (*prepare_lights)(const CameraRecord& camera) = nullptr;
    void (*set_up_glow)() = nullptr;
    // The object lists a depth-map pass consumed, made again for the camera.
    void (*rebuild_object_lists)() = nullptr;
    // Once the tiles are made and the view is final: the visible objects
    // into the lists of the tiles they reach.
    void (*queue_objects)(const CameraRecord& camera) = nullptr;
    // Automatic clipping (near 0): the near and far planes from the scene;
    // false keeps the camera's own.
    bool (*automatic_clipping)(const CameraRecord& camera, double& near, double& far) = nullptr;
    // After the view is set: the lights' shadow lookups for this camera, and
    // their release after the render.
    void (*prepare_shadow_lookups)(const CameraRecord& camera) = nullptr;
    void (*release_shadow_lookups)() = nullptr;
    // The image, matte and depth outputs of the camera's window.
    void (*open_outputs)(const CameraRecord& camera) = nullptr;
    void (*close_outputs)() = nullptr;
    // Depth of field and glow on the finished image.
    void (*post_effects)(const CameraRecord& camera) = nullptr;
    // The lights' per-camera data, after the render.
    void (*release_camera_lights)() = nullptr;
    // Main thread, just before the camera's tiles are rendered: what the
    // samplers need of the camera and the objects.
    void (*prepare_render)(const CameraRecord& camera) = nullptr;
    // The camera render's tile routines (sampling and visibility).
    RenderPass camera_pass;
};

FramePasses& frame_passes();

// Starts the workers, renders every frame, ends the run. `run_start` is the
// wall-clock second the run began, for the "Total Render" time. Returns the
// process's exit status.
int frame_loop(std::int64_t run_start);

// The frame's scene evaluations at options.frame: three under motion blur
// (shutter open, shutter close, frame time), one otherwise.
void evaluate_frame_scene();

}  // namespace sky
