#include "run/unbuilt_settings.h"

#include "base/not_built.h"
#include "scene/camera.h"
#include "sdl/body.h"
#include "sdl/scene_description.h"

namespace sky {

void warn_unbuilt_settings(const RenderOptions&) {
    // A command without a result patch would be skipped anyway.
    for (const CommandRecord& command : scene_description().commands)
        if (command.body && command.body->find("result_patch"))
            warn_not_built("the multi-fillet command");
}

void warn_unbuilt_camera_features(const CameraRecord&, const RenderOptions& options) {
    if (options.motion_blur && options.camera_motion_blur)
        warn_not_built("motion blur of a moving camera");
}

}  // namespace sky
