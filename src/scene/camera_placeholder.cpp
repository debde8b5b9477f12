// Placeholder definitions until the camera module lands.
#include "scene/camera.h"

namespace sky {

void place_camera(const Body*, const TransformState&) {}
void reset_cameras() {}
void evaluate_all_cameras() {}
bool camera_is_moving() { return false; }

}  // namespace sky
