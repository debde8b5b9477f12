#include "run/unbuilt_settings.h"

#include "base/not_built.h"
#include "scene/camera.h"

namespace sky {

void warn_unbuilt_camera_features(const CameraRecord&, const RenderOptions& options) {
    if (options.motion_blur && options.camera_motion_blur)
        warn_not_built("motion blur of a moving camera");
}

}  // namespace sky
