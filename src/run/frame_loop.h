// The frame loop: every frame (and video field) of the run, the scene
// evaluated at the times the frame needs, and every active camera rendered
// on all workers.
//
// The stages that the subsystems provide plug into fixed places of the loop
// through FramePasses (base/frame_passes.h).
#pragma once

#include <cstdint>

#include "base/frame_passes.h"

namespace sky {

// Starts the workers, renders every frame, ends the run. `run_start` is the
// wall-clock second the run began, for the "Total Render" time. Returns the
// process's exit status.
int frame_loop(std::int64_t run_start);

}  // namespace sky
