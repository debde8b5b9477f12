// What the frame loop does for a render farm (docs/farm.md), switched on by
// the environment of the farm's tasks:
//
//   SKYLOOM_LIST_OUTPUTS=FILE  nothing is rendered: each frame's scene is
//                              evaluated and the files its cameras would
//                              write are listed in FILE, with their state;
//   SKYLOOM_RESUME=1           a frame whose files are all complete is not
//                              rendered again (its scene is still evaluated,
//                              so what later frames inherit stays the same);
//   SKYLOOM_OUTPUT_SUFFIX=S    every file name ends in S (a window of a split
//                              frame); with SKYLOOM_RESUME a frame whose
//                              assembled files (without S) are complete is
//                              not rendered either;
//   SKYLOOM_ANIMATION=1        the run renders a chunk of a longer animation:
//                              it is an animation (numbered names, motion
//                              blur) even when the chunk is a single frame,
//                              unless the scene sets `animation` itself.
#pragma once

#include <cstdint>

namespace sky {

// Whether SKYLOOM_ANIMATION is set.
bool farm_chunk_of_animation();

// Reads the settings and opens the list; call once before the first frame.
// Failures to create the list are fatal.
void start_farm_frames();

// After the frame's scene is evaluated: true when the frame is not to be
// rendered (listed only, or complete from an earlier run).
bool farm_frame_done(double frame, std::int32_t extension, int parity);

// Completes the list; call after the last frame.
void finish_farm_frames();

}  // namespace sky
