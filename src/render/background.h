// The background: what a sample sees where no geometry covers it. The
// environment gives a plain colour, a texture looked up across the image,
// or a backdrop image; the samplers ask for the colour at an image
// position before any layer is composited over it.
#pragma once

#include <cstdint>

#include "scene/camera.h"

namespace sky {

// Main thread, before a camera's tiles: evaluates the environment's
// background for the frame, the image size and the camera (which
// environment textures need for the eye rays' directions), and installs
// the background as what `reflect_background` reflections see.
void prepare_background(std::int32_t xresolution, std::int32_t yresolution,
                        const CameraView* camera = nullptr);

// True when the background is a plain colour (no texture, no backdrop).
bool background_is_flat();

// The background at image position (x, y) into `out` (RGBA, 0..255). The
// alpha is 0: the background is not coverage.
void background_colour(double x, double y, float* out);

}  // namespace sky
