// The frame schedule and the shutter interval.
#include "run/frame_schedule.h"

#include <cmath>

#include "platform/fatal.h"
#include "platform/report.h"
#include "scene/scene_clock.h"
#include "sdl/environment.h"
#include "sdl/expr.h"

namespace sky {

FrameSchedule::FrameSchedule(const RenderOptions& o) {
    extension_ = o.startextension;
    byextension_ = o.byextension;
    current_ = o.startframe;
    step_ = o.byframe;
    both_fields_ = o.fields && o.odd && o.even;
    if (o.fields) {
        if (o.motion_byframe != 0)
            half_step_ =
                o.byframe <= 0 ? -std::fabs(o.motion_byframe) * 0.5 : o.motion_byframe * 0.5;
        else
            half_step_ = o.byframe * 0.5;
        double h = std::fabs(half_step_);
        if (o.odd && o.even) {
            initial_parity_ =
                ((!o.odd_field_first && o.byframe > 0) || (o.odd_field_first && o.byframe <= 0))
                    ? 1
                    : 0;
            step_ = o.byframe - half_step_;
            if (o.byframe < 0) current_ = o.startframe + h;
        } else if (o.odd) {
            initial_parity_ = 0;
            if (!o.odd_field_first) current_ = o.startframe + h;
        } else if (o.even) {
            initial_parity_ = 1;
            if (o.odd_field_first) current_ = o.startframe + h;
        }
    }
    parity_ = initial_parity_;
    end_limit_ = o.animation ? o.endframe + 0.01 * o.byframe : current_;
    // A single field rendered half a step into its frame moves the whole run
    // by that half step: so must the end, or the last frame would be lost.
    if (o.animation && !both_fields_ && step_ > 0) end_limit_ += current_ - o.startframe;
    // A frame step of 0 would render the first frame for ever.
    single_ = step_ == 0 && !both_fields_;
}

bool FrameSchedule::next(FrameTime& out) {
    if (started_) {
        if (both_fields_) {
            parity_ ^= 1;
            if (parity_ == initial_parity_) {
                current_ += step_;
                extension_ += byextension_;
            } else {
                current_ += half_step_;
            }
        } else {
            current_ += step_;
            extension_ += byextension_;
        }
        if (single_) return false;
    }
    bool in_range = step_ > 0 ? current_ <= end_limit_ : current_ >= end_limit_;
    bool pair_open = both_fields_ && parity_ != initial_parity_;
    if (!started_) in_range = in_range || single_;
    if (!in_range && !pair_open) return false;
    started_ = true;
    out = {current_, parity_, extension_};
    return true;
}

double FrameSchedule::stalled_step(double& frame) const {
    if (single_ || current_ == end_limit_) return 0;
    for (double step : {step_, both_fields_ ? half_step_ : step_}) {
        if (step == 0) continue;
        for (double at : {current_, end_limit_}) {
            if (static_cast<float>(at + step) == static_cast<float>(at)) {
                frame = at;
                return step;
            }
        }
    }
    return 0;
}

ShutterInterval shutter_interval(const RenderOptions& options, float frame) {
    ShutterInterval shutter;
    float angle = 0, default_angle = 180;
    if (!AR_evaluate(SDL_SCALAR, &angle, environment().shutter_angle, &default_angle))
        exit_process(1);
    if (angle > 360) rptError("Warning: shutter angle of %f exceeds 360 degrees.\n", angle);
    if (angle < 1) {
        rptError("Shutter angle of %f is less than 1 degree; set to 1\n", angle);
        angle = 1;
        shutter.motion_blur = false;
    }
    float fraction = angle / 360;
    if (options.motion_byframe != 0) {
        fraction *= options.motion_byframe;
        rptError("Using optional motion-blur byframe of %f\n", options.motion_byframe);
    } else {
        fraction *= options.byframe;
        if (options.byframe > 2)
            rptError("Warning: large byframe values may %s %s",
                     "use more memory.\nThe -O and -o flags can be ",
                     "used to change the motion-blur byframes.\n");
    }
    float half_width = options.fields ? fraction * 0.25f : fraction * 0.5f;
    shutter.open = frame - half_width;
    shutter.close = frame + half_width;
    return shutter;
}

void fix_shutter(RenderOptions& options) {
    SceneClock& clock = scene_clock();
    if (options.motion_blur) {
        ShutterInterval shutter = shutter_interval(options, options.frame);
        options.shutter_open = shutter.open;
        options.shutter_close = shutter.close;
        // An angle below one degree switches motion blur off for the rest of the run.
        if (!shutter.motion_blur) options.motion_blur = false;
    }
    clock.frame = options.frame;
    clock.motion_blur = options.motion_blur;
    clock.shutter_open = options.shutter_open;
    clock.shutter_close = options.shutter_close;
}

}  // namespace sky
