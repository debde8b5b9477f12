#include "run/unbuilt_settings.h"

#include "base/not_built.h"
#include "scene/camera.h"
#include "sdl/body.h"
#include "sdl/scene_description.h"

namespace sky {

void warn_unbuilt_settings(const RenderOptions& options) {
    if (options.post_filter) warn_not_built("the post filter");
    // An empty photo_effects () asks for nothing.
    const Body* photo = scene_description().photo_effects;
    if (photo && !photo->items.empty()) warn_not_built("the photo_effects setting");
}

void warn_unbuilt_camera_features(const CameraRecord& camera, const RenderOptions&) {
    if (camera.depth_of_field != 0) warn_not_built("depth of field");
}

}  // namespace sky
