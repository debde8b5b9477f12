#include "run/frame_schedule.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/report.h"
#include "sdl/parse_test_support.h"
#include "sdl/reader.h"

namespace sky {
namespace {

struct Rendered {
    double time;
    int parity;
    int extension;
    bool operator==(const Rendered&) const = default;
};

std::vector<Rendered> schedule(RenderOptions o) {
    std::vector<Rendered> times;
    FrameSchedule frames(o);
    FrameTime t;
    while (frames.next(t) && times.size() < 100) times.push_back({t.time, t.parity, t.extension});
    return times;
}

RenderOptions frames(float start, float end, float by, bool animation = true) {
    RenderOptions o;
    o.startframe = start;
    o.endframe = end;
    o.byframe = by;
    o.animation = animation;
    o.startextension = static_cast<int>(start);
    o.byextension = static_cast<int>(by) == 0 ? 1 : static_cast<int>(by);
    return o;
}

TEST(FrameSchedule, FramesAndExtensions) {
    EXPECT_EQ(schedule(frames(1, 3, 1)), (std::vector<Rendered>{{1, 0, 1}, {2, 0, 2}, {3, 0, 3}}));
    EXPECT_EQ(schedule(frames(1, 3, 1, false)), (std::vector<Rendered>{{1, 0, 1}}));
    // A negative step runs backwards; the end limit is the end frame - 0.01.
    EXPECT_EQ(schedule(frames(3, 1, -1)), (std::vector<Rendered>{{3, 0, 3}, {2, 0, 2}, {1, 0, 1}}));
    // A fractional step keeps the frames exact up to the end.
    EXPECT_EQ(schedule(frames(1, 2, 0.5f)).size(), 3u);
}

TEST(FrameSchedule, BothFieldsOddFirst) {
    RenderOptions o = frames(1, 2, 1);
    o.fields = o.odd = o.even = o.odd_field_first = true;
    EXPECT_EQ(schedule(o), (std::vector<Rendered>{{1, 0, 1}, {1.5, 1, 1}, {2, 0, 2}, {2.5, 1, 2}}));
}

TEST(FrameSchedule, ThePairInProgressIsCompleted) {
    RenderOptions o = frames(1, 1.2f, 1);
    o.fields = o.odd = o.even = o.odd_field_first = true;
    // The even field at 1.5 lies past the end limit 1.21 but completes the pair.
    EXPECT_EQ(schedule(o), (std::vector<Rendered>{{1, 0, 1}, {1.5, 1, 1}}));
}

TEST(FrameSchedule, EvenFirstAndSingleFields) {
    RenderOptions even_first = frames(1, 1, 1, false);
    even_first.fields = even_first.odd = even_first.even = true;
    even_first.odd_field_first = false;
    EXPECT_EQ(schedule(even_first), (std::vector<Rendered>{{1, 1, 1}, {1.5, 0, 1}}));

    RenderOptions odd_only = frames(1, 2, 1);
    odd_only.fields = odd_only.odd = true;
    odd_only.even = false;
    odd_only.odd_field_first = false;
    EXPECT_EQ(schedule(odd_only), (std::vector<Rendered>{{1.5, 0, 1}, {2.5, 0, 2}}));
}

TEST(FrameSchedule, MotionByframeSetsTheFieldSpacing) {
    RenderOptions o = frames(1, 3, 2);
    o.fields = o.odd = o.even = o.odd_field_first = true;
    o.motion_byframe = 1.0f;  // -O
    EXPECT_EQ(schedule(o), (std::vector<Rendered>{{1, 0, 1}, {1.5, 1, 1}, {3, 0, 3}, {3.5, 1, 3}}));
}

TEST(FrameSchedule, AZeroStepRendersOneFrameRatherThanForEver) {
    EXPECT_EQ(schedule(frames(1, 5, 0)), (std::vector<Rendered>{{1, 0, 1}}));
    EXPECT_EQ(schedule(frames(5, 1, 0)), (std::vector<Rendered>{{5, 0, 5}}));
}

double stalled(RenderOptions o, double& at) {
    return FrameSchedule(o).stalled_step(at);
}

TEST(FrameSchedule, AStepThatCannotMoveTheFrameIsFound) {
    double at = 0;
    EXPECT_EQ(stalled(frames(1, 10, 1e-8f), at), static_cast<double>(1e-8f));
    EXPECT_EQ(at, 1);
    // Fine at the start, but not by the end: 2^24 + 1 is not a float.
    EXPECT_NE(stalled(frames(16777000, 16777300, 0.5f), at), 0);
    EXPECT_EQ(stalled(frames(1, 10, 0.001f), at), 0);
    EXPECT_EQ(stalled(frames(10, 1, -1e-9f), at), static_cast<double>(-1e-9f));
    EXPECT_EQ(stalled(frames(1, 5, 0), at), 0);                           // one frame
    EXPECT_EQ(stalled(frames(1, 5, 1e-9f, /*animation=*/false), at), 0);  // one frame
}

std::string errors;
void capture(const char* text) {
    errors += text;
}

ShutterInterval shutter(const std::string& definitions, RenderOptions o, float frame) {
    reset_front_end();
    EXPECT_EQ(parse_scene_text("DEFINITION " + definitions + " MODEL\n"), 0);
    errors.clear();
    rptSetErrorCB(capture);
    ShutterInterval s = shutter_interval(o, frame);
    rptSetErrorCB(nullptr);
    return s;
}

TEST(ShutterInterval, HalfAFrameOpenAtTheDefaultAngle) {
    ShutterInterval s = shutter("", frames(1, 1, 1), 5);
    EXPECT_FLOAT_EQ(s.open, 4.75f);
    EXPECT_FLOAT_EQ(s.close, 5.25f);
    EXPECT_EQ(errors, "");
    RenderOptions fields = frames(1, 1, 1);
    fields.fields = true;
    s = shutter("shutter_angle = 180;", fields, 5);
    EXPECT_FLOAT_EQ(s.open, 4.875f);
    EXPECT_FLOAT_EQ(s.close, 5.125f);
}

TEST(ShutterInterval, AnglesOutOfRangeAreReported) {
    ShutterInterval s = shutter("shutter_angle = 0.5;", frames(1, 1, 1), 2);
    EXPECT_FALSE(s.motion_blur);
    EXPECT_EQ(errors, "Shutter angle of 0.500000 is less than 1 degree; set to 1\n");
    s = shutter("shutter_angle = 400;", frames(1, 1, 1), 2);
    EXPECT_EQ(errors, "Warning: shutter angle of 400.000000 exceeds 360 degrees.\n");
    EXPECT_TRUE(s.motion_blur);
}

TEST(ShutterInterval, ByframesWidenTheShutter) {
    RenderOptions o = frames(1, 9, 4);
    ShutterInterval s = shutter("", o, 1);
    EXPECT_FLOAT_EQ(s.close - s.open, 2.0f);
    EXPECT_EQ(errors,
              "Warning: large byframe values may use more memory.\nThe -O and -o flags can be "
              " used to change the motion-blur byframes.\n");
    o.motion_byframe = 0.5f;
    s = shutter("", o, 1);
    EXPECT_FLOAT_EQ(s.close - s.open, 0.25f);
    EXPECT_EQ(errors, "Using optional motion-blur byframe of 0.500000\n");
}

}  // namespace
}  // namespace sky
