// The frame's depth maps: for every spot light that casts shadows through a
// map and needs a fresh one, a square depth image of the scene seen from
// the light, rendered by all workers through the same tiles and geometry
// entry as a camera; the maps' files; and the lights' lookups per camera.
#pragma once

#include <cstdint>

namespace sky {

// The smallest triangle a map of `size` texels a side keeps, in square
// texels: the camera's rule for an image of that size.
float map_area_tolerance(std::int32_t size);

// Fills the frame loop's shadow and clipping slots.
void install_shadow_passes();
void remove_shadow_passes();  // tests

}  // namespace sky
