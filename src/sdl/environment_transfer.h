// The scene's environment settings turned into the render options, and the
// ray tracer's limits checked.
#pragma once

#include <vector>

#include "base/options.h"

namespace sky {

// Evaluates and validates the limits; fatal on a value out of range.
void check_ray_trace_limits(RayTraceLimits& limits, std::vector<SubdivisionControl>& control);

// Copies and evaluates every setting into `options`; a setting that fails to
// evaluate ends the process with status 1 (its evaluator has said why).
// Records in `scene_set` which of startextension, byextension and animation
// the scene set.
struct SceneGiven {
    bool startextension = false;
    bool byextension = false;
    bool animation = false;
};
SceneGiven transfer_environment(RenderOptions& options, int renderer_kind, int mode);

}  // namespace sky
