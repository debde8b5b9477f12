// Helpers the camera files share and nothing else needs.
#pragma once

#include <cstdint>

namespace sky {

// An SDL value truncated toward zero as a 32-bit integer; values beyond its
// range saturate and NaN gives 0, where a plain cast would be undefined.
inline std::int32_t truncated(double value) {
    if (!(value == value)) return 0;
    if (value >= 2147483647.0) return 2147483647;
    if (value <= -2147483648.0) return -2147483647 - 1;
    return static_cast<std::int32_t>(value);
}

struct CameraRecord;

// The names of the files an image writes, from the names the scene wrote
// (prepare_camera's first step).
void form_output_names(CameraRecord& record, bool fields, int parity, bool number_frames,
                       int frame_number);

// Camera motion blur, in the render options and in the scene clock that the
// model walk's motion gates read.
void set_camera_motion(bool on);

}  // namespace sky
