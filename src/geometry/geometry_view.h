// What bucket entry needs to know of the camera (or light) of the current
// pass: the view, the screen mapping, the clipping planes and the window.
// Set on the main thread before the pass; the workers only read it.
#pragma once

#include <cstdint>

#include "scene/camera.h"
#include "sdl/values.h"

namespace sky {

// How many times a triangle reaching far beyond the image is halved.
inline constexpr int kGuardBandSplitDepth = 4;

struct GeometryView {
    // Eye from world at the frame time and, for a moving camera, at shutter
    // open and close (the frame view otherwise).
    Matrix4 eye_from_world, eye_from_world_open, eye_from_world_close;
    ScreenMapping screen;
    // Screen depth = depth_scale + depth_offset / eye z (perspective).
    float depth_scale = 1.0f, depth_offset = 0.0f;
    float near = 0.2f, far = 1000.0f;  // distances in front of the eye
    // The render window, inclusive.
    std::int32_t xleft = 0, xright = 644, ylow = 0, yhigh = 485;
    // Beyond ±guard_x, ±guard_y a triangle is split before it is set up.
    float guard_x = 64500.0f, guard_y = 48600.0f;
    float minimum_area = 0.00016f;
    int split_depth = kGuardBandSplitDepth;
    bool motion_blur = false;
    // The pass needs only the depth of the surfaces (a shadow map): still
    // objects make depth triangles (ObjectTriangles::depth_only).
    bool depth_only = false;
    // Where the frame time lies in the shutter interval (0 open, 1 close).
    float frame_fraction = 0.5f;

    ScreenPoint project(const float* eye) const {
        return screen.map(Triple{eye[0], eye[1], eye[2]});
    }
    float depth(float eye_z) const {
        return screen.perspective ? depth_scale + depth_offset / eye_z : eye_z;
    }
};

GeometryView& geometry_view();

// The smallest half bound area a triangle keeps, from the larger image
// dimension (the area tolerance of the options when one is set).
float minimum_triangle_area(std::int32_t larger_dimension);

// The view of a prepared camera, with the window, tolerance and shutter of
// the render options, for a pass that is not depth-only. Main thread,
// before the pass.
void set_geometry_view(const CameraRecord& camera);

}  // namespace sky
