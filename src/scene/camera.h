// Cameras: the entries made from the scene's camera bodies, their evaluation
// at each frame, their output file names, and the view, projection and
// screen mapping a rendered image uses.
//
// The model walk calls place_camera for each camera statement; the frame
// loop resets, evaluates and selects cameras.
#pragma once

#include "scene/transform.h"
#include "sdl/body.h"

namespace sky {

// Camera statement of the model section (statement kind 711): records the
// current transformation as the placement of the camera written with `body`
// (and of the field and stereo copies that follow it). Uses scene_clock()
// for the motion gates.
void place_camera(const Body* body, const TransformState& state);

// At the start of each scene evaluation: frees every entry's placements.
void reset_cameras();

// After the walk: evaluates every camera that has an output name expression.
// A camera that fails to evaluate ends the program.
void evaluate_all_cameras();

// Whether any camera is motion blurred (see camera.cpp).
bool camera_is_moving();

}  // namespace sky
