// The run's and the cameras' settings that the renderer reads but does not
// draw yet: each is named once per run through warn_not_built
// (base/not_built.h) when a scene asks for it, and the picture is rendered
// without it.
#pragma once

#include "base/options.h"

namespace sky {

struct CameraRecord;

// For a camera about to be rendered: the motion blur of moving cameras
// (which the options carry for every camera).
void warn_unbuilt_camera_features(const CameraRecord& camera, const RenderOptions& options);

}  // namespace sky
