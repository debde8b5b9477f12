#include "sdl/animation.h"

#include <cmath>

#include <string>

#include <gtest/gtest.h>

#include "platform/report.h"
#include "sdl/parse_test_support.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

// The cubic Hermite segment in its basis-function form, written apart from
// the code's polynomial coefficients.
double hermite(double t0, double v0, double m0, double t1, double v1, double m1, double t) {
    const double h = t1 - t0, u = (t - t0) / h;
    const double h00 = 2 * u * u * u - 3 * u * u + 1, h10 = u * u * u - 2 * u * u + u;
    const double h01 = -2 * u * u * u + 3 * u * u, h11 = u * u * u - u * u;
    return h00 * v0 + h10 * h * m0 + h01 * v1 + h11 * h * m1;
}

Keyframe key(float time, double value, float out_x = 1, float out_y = 0) {
    Keyframe k;
    k.time = time;
    k.value = value;
    k.in_x = -out_x;
    k.in_y = -out_y;
    k.out_x = out_x;
    k.out_y = out_y;
    return k;
}

Aa_Action action_of(std::initializer_list<Keyframe> keys, std::uint32_t mode = kDefaultOutOfRange) {
    Aa_Action action;
    action.mode = mode;
    for (const Keyframe& k : keys) action.keys.add(new_keyframe(k));
    return action;
}

double at(Aa_Action& action, double t) {
    double value = -12345;
    EXPECT_EQ(evaluate_keyframe_action(&action, t, value), ACTION_OK) << t;
    return value;
}

TEST(KeyframeAction, FlatKeysMakeAnSCurveThroughTheMidpoint) {
    Aa_Action a = action_of({key(0, 0), key(10, 10)});
    EXPECT_DOUBLE_EQ(at(a, 5), 5.0);
    for (double t : {0.0, 1.0, 2.5, 7.25, 10.0})
        EXPECT_NEAR(at(a, t), hermite(0, 0, 0, 10, 10, 0, t), 1e-9) << t;
}

TEST(KeyframeAction, KeysGivenOutOfOrderAreSortedFirst) {
    Aa_Action a = action_of({key(10, 10), key(0, 0), key(20, -4, 1, 1)});
    EXPECT_NEAR(at(a, 15), hermite(10, 10, 0, 20, -4, 1, 15), 1e-9);
    EXPECT_NEAR(at(a, 3), hermite(0, 0, 0, 10, 10, 0, 3), 1e-9);
}

TEST(KeyframeAction, AZeroOutTangentHoldsTheValueUntilTheNextKey) {
    Aa_Action a = action_of({key(0, 2, 0, 0), key(10, 7)});
    EXPECT_EQ(at(a, 0), 2.0);
    EXPECT_EQ(at(a, 9.99), 2.0);
    EXPECT_EQ(at(a, 10), 7.0);
}

TEST(KeyframeAction, AVerticalTangentTakesTheSlopeOf89Point9Degrees) {
    Aa_Action a = action_of({key(0, 0, 0, 1), key(4, 1)});
    const double steep = std::tan(89.9 * M_PI / 180.0);
    EXPECT_NEAR(at(a, 1), hermite(0, 0, steep, 4, 1, 0, 1), 1e-6);
}

TEST(KeyframeAction, StatusesForWhatCannotBeRead) {
    double value = 0;
    EXPECT_EQ(evaluate_keyframe_action(nullptr, 1, value), ACTION_BAD_ARGUMENTS);
    Aa_Action empty;
    EXPECT_EQ(evaluate_keyframe_action(&empty, 1, value), ACTION_NO_KEYS);
    Aa_Action path = action_of({key(0, 0)});
    path.kind = MOTION_PATH_ACTION;
    EXPECT_EQ(evaluate_keyframe_action(&path, 1, value), ACTION_NO_OPERATION);
}

TEST(KeyframeAction, BracketingKeysBySearch) {
    KeyframeList list;
    std::uint32_t ids[5];
    for (int i = 0; i < 5; ++i) list.add(ids[i] = new_keyframe(key(float(i * 2), i)));
    std::uint32_t lo, hi;
    ASSERT_TRUE(find_bracketing_keys(list, 5, lo, hi));
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(ids[2], ids[3]));
    ASSERT_TRUE(find_bracketing_keys(list, 6, lo, hi));
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(ids[3], ids[3]));
    ASSERT_TRUE(find_bracketing_keys(list, -1, lo, hi));
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(kNoKey, ids[0]));
    ASSERT_TRUE(find_bracketing_keys(list, 8, lo, hi));
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(ids[4], ids[4]));
    ASSERT_TRUE(find_bracketing_keys(list, 9, lo, hi));
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(ids[4], kNoKey));
    EXPECT_FALSE(find_bracketing_keys(KeyframeList{}, 1, lo, hi));
}

// Keys 0 -> 1 and 10 -> 5 with slopes 0.5 leaving the first and 2 arriving
// at the last; each mode against its own reading of the curve.
class OutOfRangeModes : public ::testing::Test {
protected:
    double inside(double t) { return hermite(0, 1, 0.5, 10, 5, 2, t); }
    Aa_Action make(std::uint32_t mode) {
        Keyframe first = key(0, 1, 2, 1), last = key(10, 5, 1, 2);
        return action_of({first, last}, mode);
    }
};

TEST_F(OutOfRangeModes, Before) {
    Aa_Action constant = make(PRE_CONSTANT | POST_CONSTANT);
    EXPECT_EQ(at(constant, -3), 1.0);
    Aa_Action linear = make(PRE_LINEAR);
    EXPECT_NEAR(at(linear, -3), 1 - 3 * 0.5, 1e-9);
    Aa_Action identity = make(PRE_IDENTITY);
    EXPECT_NEAR(at(identity, -3), 1 - 3, 1e-9);
    Aa_Action cycle = make(PRE_CYCLE);
    EXPECT_NEAR(at(cycle, -3), inside(7), 1e-9);
    EXPECT_NEAR(at(cycle, -23), inside(7), 1e-9);
    Aa_Action offset = make(PRE_CYCLE_OFFSET);
    EXPECT_NEAR(at(offset, -3), inside(7) - 4, 1e-9);
    EXPECT_NEAR(at(offset, -23), inside(7) - 3 * 4, 1e-9);
    // Mirrored about the first key, then about the last.
    Aa_Action oscillate = make(PRE_OSCILLATE);
    EXPECT_NEAR(at(oscillate, -3), inside(3), 1e-9);
    EXPECT_NEAR(at(oscillate, -13), inside(7), 1e-9);
}

TEST_F(OutOfRangeModes, After) {
    Aa_Action constant = make(PRE_CONSTANT | POST_CONSTANT);
    EXPECT_EQ(at(constant, 14), 5.0);
    Aa_Action linear = make(POST_LINEAR);
    EXPECT_NEAR(at(linear, 14), 5 + 4 * 2.0, 1e-9);
    Aa_Action identity = make(POST_IDENTITY);
    EXPECT_NEAR(at(identity, 14), 5 + 4, 1e-9);
    Aa_Action cycle = make(POST_CYCLE);
    EXPECT_NEAR(at(cycle, 25), inside(5), 1e-9);
    Aa_Action offset = make(POST_CYCLE_OFFSET);
    EXPECT_NEAR(at(offset, 25), inside(5) + 2 * 4, 1e-9);
    Aa_Action oscillate = make(POST_OSCILLATE);
    EXPECT_NEAR(at(oscillate, 13), inside(7), 1e-9);
    EXPECT_NEAR(at(oscillate, 23), inside(3), 1e-9);
}

TEST_F(OutOfRangeModes, ASingleKeyHasNoPeriod) {
    for (std::uint32_t mode : {PRE_CYCLE | POST_CYCLE, PRE_OSCILLATE | POST_OSCILLATE,
                               PRE_CYCLE_OFFSET | POST_CYCLE_OFFSET}) {
        Aa_Action one = action_of({key(3, 9)}, mode);
        EXPECT_EQ(at(one, -5), 9.0);
        EXPECT_EQ(at(one, 50), 9.0);
    }
}

// Keys (0, 0), (10, 10), (15, 0): each tangent type against slopes worked
// out here from the keys.
class TangentTypes : public ::testing::Test {
protected:
    Aa_Action with(TangentType type) {
        Aa_Action a = action_of({key(0, 0), key(10, 10), key(15, 0)});
        set_tangents(a.keys, type);
        return a;
    }
    void expect_slopes(TangentType type, double m0, double m1_in, double m1_out, double m2) {
        Aa_Action a = with(type);
        for (double t : {2.0, 5.0, 8.5})
            EXPECT_NEAR(at(a, t), hermite(0, 0, m0, 10, 10, m1_in, t), 1e-4) << type << " " << t;
        for (double t : {11.0, 13.5})
            EXPECT_NEAR(at(a, t), hermite(10, 10, m1_out, 15, 0, m2, t), 1e-4) << type << " " << t;
    }
};

TEST_F(TangentTypes, FlatAndSlowLieFlat) {
    expect_slopes(TAN_FLAT, 0, 0, 0, 0);
    expect_slopes(TAN_SLOW, 0, 0, 0, 0);
}

TEST_F(TangentTypes, LinearFollowsTheChords) {
    expect_slopes(TAN_LINEAR, 1, 1, -2, -2);
    Aa_Action a = with(TAN_LINEAR);
    EXPECT_NEAR(at(a, 4), 4, 1e-4);  // a straight line between keys
}

TEST_F(TangentTypes, SmoothWeighsTheChordsByTheOtherSegmentsLength) {
    const double lp = std::hypot(10, 10), ln = std::hypot(5, 10);
    const double middle = (lp * -2 + ln * 1) / (lp + ln);
    expect_slopes(TAN_SMOOTH, 1, middle, middle, -2);
}

TEST_F(TangentTypes, FastTakesTheSteeperChordAndInOutLiesFlatArriving) {
    expect_slopes(TAN_FAST, 1, -2, -2, -2);
    expect_slopes(TAN_IN_OUT, 1, 0, -2, 0);
}

TEST_F(TangentTypes, StepHoldsAndFixedKeepsTheGivenTangents) {
    Aa_Action step = with(TAN_STEP);
    EXPECT_EQ(at(step, 9.5), 0.0);
    EXPECT_EQ(at(step, 12), 10.0);
    expect_slopes(TAN_FIXED, 0, 0, 0, 0);
}

TEST(Tangents, SmoothEndsFollowTheirOnlyChordAndAnglesAreClamped) {
    Keyframe a = key(0, 0), b = key(4, 3);
    smooth_tangent(nullptr, a, &b);
    EXPECT_NEAR(a.out_x, 0.8, 1e-6);
    EXPECT_NEAR(a.out_y, 0.6, 1e-6);
    EXPECT_NEAR(a.in_x, -0.8, 1e-6);
    Keyframe alone = key(1, 1, 0, 5);
    smooth_tangent(nullptr, alone, nullptr);
    EXPECT_EQ(alone.out_x, 1.0f);
    EXPECT_EQ(alone.out_y, 0.0f);
    float x, y;
    tangent_from_angle(2.0, x, y);
    EXPECT_EQ(x, 1.0f);
    EXPECT_NEAR(y, std::tan(1.569051), 1e-2);
}

TEST(Tangents, MaskOfTheTwoTypes) {
    EXPECT_EQ(tangent_mask(TAN_FLAT, TAN_SMOOTH), 2u | 0x800000u);
    EXPECT_EQ(tangent_mask(TAN_STEP, TAN_STEP), 1024u | 0x2000000u);
    EXPECT_EQ(tangent_mask(0, 0), 2048u | 0x2000000u);
    EXPECT_EQ(tangent_mask(TAN_LINEAR, TAN_FAST), 256u | 0x10000u);
}

TEST(Channels, AnActionIsReadOncePerTime) {
    Aa_Action a = action_of({key(0, 0), key(10, 10)});
    Aa_AnimChannelData data(&a);
    double value = 0;
    ASSERT_TRUE(data.read(5, value));
    const double first = value;
    EXPECT_DOUBLE_EQ(first, 5.0);
    keyframe(a.keys.ids[1]).value = 20;  // unseen until the time changes
    ASSERT_TRUE(data.read(5, value));
    EXPECT_EQ(value, first);
    ASSERT_TRUE(data.read(10, value));
    EXPECT_EQ(value, 20.0);
}

// Scalars driven by expression channels, read against the same expressions
// written where the value is used.
class ExpressionChannels : public ::testing::Test {
protected:
    void TearDown() override {
        release_animation_universe();
        rptSetErrorCB(nullptr);
    }
    static void capture(const char* text) { errors() += text; }
    static std::string& errors() {
        static std::string text;
        return text;
    }
    void load(const std::string& definitions) {
        reset_front_end();
        ASSERT_EQ(parse_scene_text("DEFINITION\n" + definitions + "MODEL\n"), 0);
        errors().clear();
        rptSetErrorCB(capture);
        load_animation_channels();
    }
    // `name` once the channels are updated at `frame`.
    float at(const char* name, float frame) {
        set_system_scalar("frame", frame);
        update_animation(frame);
        return find_symbol(name)->scalar();
    }
    // The initialiser of `name` (a plain declaration) evaluated at `frame`.
    float written(const char* name, float frame) {
        set_system_scalar("frame", frame);
        float value = 0;
        EXPECT_TRUE(AR_evaluate(SDL_SCALAR, &value, find_symbol(name)->initialiser, nullptr));
        return value;
    }
};

TEST_F(ExpressionChannels, FollowTheFrameAtTheirTiming) {
    load(
        "parameter_curve bounce (out = POST_OSCILLATE,\n"
        "  cvs = (parameter_vertex(0, -1, (1, 0), (1, 0)), parameter_vertex(4, 1.2, (1, 0.5), (1, "
        "0.5))));\n"
        "scalar h (0, channel = animate(bounce, frame), timing = frame * 1.5 - 2);\n"
        "scalar h_written (animate(bounce, frame * 1.5 - 2));\n"
        "scalar wave (7, timing = frame, channel = sin(frame * 20) * 3 + frame);\n"
        "scalar wave_written (sin(frame * 20) * 3 + frame);\n");
    EXPECT_EQ(errors(), "");
    EXPECT_EQ(find_symbol("wave")->scalar(), 7.0f);  // its value until the first update
    for (float frame : {1.0f, 2.5f, 3.0f, 7.25f, 12.0f}) {
        EXPECT_FLOAT_EQ(at("h", frame), written("h_written", frame)) << frame;
        EXPECT_FLOAT_EQ(at("wave", frame), written("wave_written", frame)) << frame;
    }
    EXPECT_EQ(find_symbol("frame")->scalar(), 12.0f);  // `frame` itself is left alone
}

TEST_F(ExpressionChannels, ReadOtherVariablesAsTheyAreAtTheUpdate) {
    load(
        "scalar speed (2);\n"
        "scalar k (0, channel = 3, timing = frame);\n"
        "scalar s (0, channel = speed * frame, timing = frame);\n");
    EXPECT_EQ(at("s", 4), 8.0f);
    find_symbol("speed")->scalar() = 5;  // as the model section may
    EXPECT_EQ(at("s", 4), 20.0f);
    EXPECT_EQ(at("k", 9), 3.0f);
    const auto& channels = animation_universe().channels;
    ASSERT_EQ(channels.size(), 2u);
    const auto& constant = static_cast<const Aa_ExprChannelData&>(*channels[0]->data);
    EXPECT_FALSE(constant.has_frame);
}

TEST_F(ExpressionChannels, WithoutTimingTheyReadTheFrame) {
    load("scalar h (0, channel = frame * 2);\n");
    EXPECT_EQ(errors(), "channel for h has bad timing, using frame\n");
    EXPECT_EQ(at("h", 3), 6.0f);
}

}  // namespace
}  // namespace sky
