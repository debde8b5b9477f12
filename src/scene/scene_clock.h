// The time a scene evaluation runs at, and the motion-blur gates that depend
// on it. Set by the frame loop before each evaluation of the model section.
#pragma once

#include <cstdint>

namespace sky {

// Which of a frame's evaluations is running.
enum TimeCode : std::int32_t {
    TIME_SHUTTER_OPEN = 5,
    TIME_FRAME = 10,
    TIME_SHUTTER_CLOSE = 15,
};

struct SceneClock {
    float time = 1.0f;          // the scene time being evaluated, in frames
    float frame = 1.0f;         // the frame being rendered
    float shutter_open = 1.0f;  // in frames
    float shutter_close = 1.0f;
    bool motion_blur = false;    // the global motion-blur switch
    bool camera_motion = false;  // some camera is motion blurred
    bool new_frame = false;      // the evaluation that starts a new frame
    bool listing = false;        // print the statements as they are walked
};

SceneClock& scene_clock();

// Motion is active when the global switch is on or a camera moves.
inline bool motion_active(const SceneClock& c) {
    return c.motion_blur || c.camera_motion;
}
inline bool at_shutter_open(const SceneClock& c) {
    return motion_active(c) && c.time == c.shutter_open;
}
inline bool at_shutter_close(const SceneClock& c) {
    return motion_active(c) && c.time == c.shutter_close;
}
inline TimeCode time_code(const SceneClock& c) {
    return at_shutter_open(c)    ? TIME_SHUTTER_OPEN
           : at_shutter_close(c) ? TIME_SHUTTER_CLOSE
                                 : TIME_FRAME;
}

}  // namespace sky
