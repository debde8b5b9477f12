// Which times a run renders: frames from the start to the end frame by the
// frame step, or with video fields two fields per frame, each with the
// file-name extension number of its frame.
#pragma once

#include <cstdint>

#include "base/options.h"

namespace sky {

struct FrameTime {
    double time;             // in frames
    int parity;              // 0 the odd field, 1 the even field (meaningful with fields)
    std::int32_t extension;  // the file-name extension number
};

class FrameSchedule {
public:
    explicit FrameSchedule(const RenderOptions& options);

    // The next time to render; false when the run is over.
    bool next(FrameTime& out);

    // Both fields of every frame are rendered.
    bool both_fields() const { return both_fields_; }

    // A step so small that a frame of the run, held in single precision as
    // everything downstream holds it, would not change: the same frame would
    // be rendered over and over under new extensions. Returns the step, and
    // the frame it cannot leave in `frame`; 0 when every step advances.
    double stalled_step(double& frame) const;

private:
    double current_ = 1;
    double step_ = 1;
    double half_step_ = 0;
    double end_limit_ = 1;
    int parity_ = 0;
    int initial_parity_ = 0;
    std::int32_t extension_ = 1;
    std::int32_t byextension_ = 1;
    bool both_fields_ = false;
    bool started_ = false;
    bool single_ = false;  // a step of 0: one frame, rather than the same frame for ever
};

// The shutter interval of a frame under motion blur, from `shutter_angle`.
struct ShutterInterval {
    float open = 0;
    float close = 0;
    bool motion_blur = true;  // false when the angle switched motion blur off
};

// Evaluates the angle and prints the reports the interval calls for; a
// `shutter_angle` that cannot be evaluated ends the process with status 1.
ShutterInterval shutter_interval(const RenderOptions& options, float frame);

// Fixes the frame's shutter interval in the options (motion blur off for
// the rest of the run when the angle leaves none) and copies the frame and
// the shutter into the scene clock.
void fix_shutter(RenderOptions& options);

}  // namespace sky
