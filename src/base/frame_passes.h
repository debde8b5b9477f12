// The fixed places of the frame loop where the subsystems plug in their
// stages (depth maps, lights, geometry entry, sampling, outputs, post
// effects). The table sits below every subsystem so that each can install
// its own stages without knowing the loop; run/subsystems.cpp fills it, and
// a stage not installed is skipped, so the loop runs, and steps through its
// frames and cameras, with any subset.
#pragma once

#include <cstdint>

#include "base/workers.h"

namespace sky {

struct CameraEntry;
struct CameraRecord;

struct FramePasses {
    // The frame's depth maps, on all workers; true when any map was built.
    bool (*shadow_pass)() = nullptr;
    // Per camera, before the tiles are made: the lights and the shader glow.
    void (*prepare_lights)(const CameraRecord& camera) = nullptr;
    void (*set_up_glow)() = nullptr;
    // Per camera, before the tiles' buffers are given: how many pixels
    // beyond its tile a worker's buckets must reach (1 when not installed).
    std::int32_t (*tile_border)(const CameraRecord& camera) = nullptr;
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

}  // namespace sky
