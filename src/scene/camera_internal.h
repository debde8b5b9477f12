// Helpers the camera files share and nothing else needs.
#pragma once

#include <cstdint>

namespace sky {

struct CameraRecord;

// The names of the files an image writes, from the names the scene wrote
// (prepare_camera's first step).
void form_output_names(CameraRecord& record, bool fields, int parity, bool number_frames,
                       int frame_number);

// Camera motion blur, in the render options and in the scene clock that the
// model walk's motion gates read.
void set_camera_motion(bool on);

}  // namespace sky
