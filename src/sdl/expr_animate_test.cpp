// ease and animate: every ease type, keyframe interpolation checked against a
// separately written Hermite basis, and every out-of-range behaviour.
#include <cmath>
#include <numbers>
#include <vector>

#include "sdl/expr_test_support.h"

namespace sky {
namespace {

using test::error_output;

class Ease : public test::SdlTest {
protected:
    void SetUp() override {
        SdlTest::SetUp();
        predefine_scalar("frame", 0);
    }
    static float ease_at(float frame, float p, float q, int type, float s, float t) {
        set_system_scalar("frame", frame);
        return value_of(make_ease(num(p), num(q), type, num(s), num(t), 1));
    }
};

TEST_F(Ease, InOutFromTheEdgeCases) {
    EXPECT_FLOAT_EQ(ease_at(5, 0, 10, 4, 0, 10), 5.0f);
    EXPECT_FLOAT_EQ(ease_at(20, 0, 10, 4, 0, 10), 10.0f);
    EXPECT_FLOAT_EQ(ease_at(-3, 0, 10, 4, 0, 10), 0.0f);
}

TEST_F(Ease, EveryTypeAtSeveralFrames) {
    const double pi = std::numbers::pi;
    auto weight = [&](int type, double u) {
        switch (type) {
            case 2:
                return 1 - std::cos(u * pi / 2);
            case 3:
                return std::sin(u * pi / 2);  // cos(x - pi/2)
            case 4:
                return (1 - std::cos(u * pi)) / 2;
            case 5:
                return std::pow(u, 1.8547);
            case 6:
                return std::pow(u, 0.3);
            default:
                return u;
        }
    };
    for (int type : {1, 2, 3, 4, 5, 6, 9}) {
        for (float frame : {-2.0f, 0.0f, 3.0f, 7.5f, 10.0f, 12.0f}) {
            double u = std::min(std::max(double(frame), 0.0), 10.0) / 10.0;
            double w = weight(type, u);
            double expected = (1 - w) * 2 + w * 12;
            EXPECT_NEAR(ease_at(frame, 2, 12, type, 0, 10), expected, 1e-5)
                << "type " << type << " frame " << frame;
        }
    }
}

TEST_F(Ease, EqualFramesStepAtTheFrame) {
    EXPECT_EQ(ease_at(4, 1, 9, 1, 5, 5), 1.0f);
    EXPECT_EQ(ease_at(5, 1, 9, 1, 5, 5), 9.0f);
    EXPECT_EQ(ease_at(6, 1, 9, 1, 5, 5), 9.0f);
}

TEST_F(Ease, NeedsTheFrameAndFiveArguments) {
    reset_symbol_table();
    float value = 0;
    EXPECT_FALSE(eval(make_ease(num(0), num(1), 1, num(0), num(1), 3), value));
    EXPECT_EQ(error_output(), "Cannot evaluate SCALAR on line 3\n");
    EXPECT_EQ(make_ease(num(0), nullptr, 1, num(0), num(1), 4), nullptr);
}

// A key as stored: in x already negative, out x positive.
struct Key {
    double t, v, in_x, in_y, out_x, out_y;
};

const double kVertical = std::tan(1.5705061082024432);

double slope(double x, double y) {
    return x == 0 ? kVertical : y / x;
}

// The cubic Hermite segment in its basis-function form.
double hermite(const Key& a, const Key& b, double t) {
    double h = b.t - a.t, s = (t - a.t) / h;
    double h00 = 2 * s * s * s - 3 * s * s + 1, h10 = s * s * s - 2 * s * s + s;
    double h01 = -2 * s * s * s + 3 * s * s, h11 = s * s * s - s * s;
    return h00 * a.v + h10 * h * slope(a.out_x, a.out_y) + h01 * b.v +
           h11 * h * slope(b.in_x, b.in_y);
}

class Animate : public test::SdlTest {
protected:
    const std::vector<Key> keys_ = {
        {0, 0, -1, -1, 1, 2}, {4, 10, -1, 0, 1, 0}, {10, 20, -2, -1, 1, 3}};

    double expected(double t) const {
        for (std::size_t i = 0; i + 1 < keys_.size(); ++i)
            if (t <= keys_[i + 1].t) return hermite(keys_[i], keys_[i + 1], t);
        return keys_.back().v;
    }

    static Expr* key(const Key& k) {
        Expr* values[6] = {num(k.t),    num(k.v),     num(k.in_x),
                           num(k.in_y), num(k.out_x), num(k.out_y)};
        return make_param_vertex(2, values, 6, 0, 1);
    }

    void declare_curve(const char* name, const std::vector<Key>& keys, int in = 0, int out = 0) {
        Body* curve = body(SDL_PARAM_CV_CURVE);
        if (in) add_item(curve, "in", num(in));
        if (out) add_item(curve, "out", num(out));
        Expr* first = nullptr;
        Expr* last = nullptr;
        for (const Key& k : keys) {
            Expr* node = key(k);
            if (last)
                last->next = node;
            else
                first = node;
            last = node;
        }
        add_item(curve, "cvs", make_list(first, 1));
        ASSERT_TRUE(Declare(name, SDL_PARAM_CV_CURVE, make_object(SDL_PARAM_CV_CURVE, curve, 1)));
    }

    static float at(const char* name, double t) { return value_of(call(540, {ref(name), num(t)})); }
};

TEST_F(Animate, InterpolatesKeysWithHermiteSegments) {
    declare_curve("c", keys_);
    for (double t : {0.0, 0.5, 2.0, 3.9, 4.0, 5.0, 7.5, 9.99, 10.0})
        EXPECT_NEAR(at("c", t), expected(t), 1e-4) << t;
    EXPECT_EQ(at("c", 4), 10.0f);
    EXPECT_EQ(at("c", 10), 20.0f);
    // By name, as a string or as a filename variable.
    EXPECT_NEAR(value_of(call(540, {make_filename("c", nullptr, 1), num(2)})), expected(2), 1e-4);
    ASSERT_TRUE(Declare("which", SDL_FILENAME, make_filename("c", nullptr, 1)));
    initialise_declared_values();
    EXPECT_NEAR(value_of(call(540, {ref("which"), num(2)})), expected(2), 1e-4);
    EXPECT_EQ(error_output(), "");
}

TEST_F(Animate, BeforeTheFirstKey) {
    declare_curve("constant", keys_, 512);
    EXPECT_EQ(at("constant", -5), 0.0f);
    declare_curve("linear", keys_, 2048);
    EXPECT_EQ(at("linear", -5), -10.0f);  // first out-tangent slope 2
    declare_curve("identity", keys_, 4096);
    EXPECT_EQ(at("identity", -5), -5.0f);
    declare_curve("cycle", keys_, 1024);
    EXPECT_NEAR(at("cycle", -3), expected(7), 1e-4);
    EXPECT_NEAR(at("cycle", -10), expected(0), 1e-4);
    EXPECT_NEAR(at("cycle", -0.5), expected(9.5), 1e-4);  // fractional frames cycle too
    declare_curve("oscillate", keys_, 256);
    EXPECT_NEAR(at("oscillate", -3), expected(3), 1e-4);
    EXPECT_NEAR(at("oscillate", -13), expected(7), 1e-4);
    declare_curve("offset", keys_, 8192);
    EXPECT_NEAR(at("offset", -3), expected(7) - 20, 1e-4);
    EXPECT_NEAR(at("offset", -13), expected(7) - 40, 1e-4);
    EXPECT_NEAR(at("offset", -10), -20.0, 1e-4);
    EXPECT_EQ(error_output(), "");
}

TEST_F(Animate, AfterTheLastKey) {
    declare_curve("constant", keys_, 0, 2);
    EXPECT_EQ(at("constant", 15), 20.0f);
    declare_curve("linear", keys_, 0, 8);
    EXPECT_EQ(at("linear", 15), 22.5f);  // last in-tangent slope 0.5
    declare_curve("identity", keys_, 0, 16);
    EXPECT_EQ(at("identity", 15), 25.0f);
    declare_curve("cycle", keys_, 0, 4);
    EXPECT_NEAR(at("cycle", 13), expected(3), 1e-4);
    EXPECT_NEAR(at("cycle", 20), expected(10), 1e-4);
    EXPECT_NEAR(at("cycle", 10.5), expected(0.5), 1e-4);
    declare_curve("oscillate", keys_, 0, 1);
    EXPECT_NEAR(at("oscillate", 13), expected(7), 1e-4);
    EXPECT_NEAR(at("oscillate", 23), expected(3), 1e-4);
    declare_curve("offset", keys_, 0, 32);
    EXPECT_NEAR(at("offset", 13), expected(3) + 20, 1e-4);
    EXPECT_NEAR(at("offset", 20), 40.0, 1e-4);
    EXPECT_NEAR(at("offset", 29), expected(9) + 40, 1e-4);
    EXPECT_EQ(error_output(), "");
}

TEST_F(Animate, WithoutKnownBehaviourOutsideTheKeysItFails) {
    declare_curve("c", keys_, 3, 64);
    float value = 0;
    EXPECT_FALSE(eval(call(540, {ref("c"), num(-1)}, 8), value));
    EXPECT_FALSE(eval(call(540, {ref("c"), num(11)}, 9), value));
    EXPECT_NEAR(at("c", 5), expected(5), 1e-4);  // inside the keys all is well
    EXPECT_EQ(
        error_output(),
        "Can't evaluate ANIMATE function on line 8\nCan't evaluate ANIMATE function on line 9\n");
}

TEST_F(Animate, StepKeysHoldAndVerticalTangentsAreSteep) {
    declare_curve("step", {{0, 5, -1, 0, 0, 0}, {10, 15, -1, 0, 1, 0}});
    EXPECT_EQ(at("step", 9.9), 5.0f);
    EXPECT_EQ(at("step", 10), 15.0f);

    std::vector<Key> steep = {{0, 0, -1, 0, 0, 1}, {10, 10, -1, -1, 1, 1}};
    declare_curve("steep", steep);
    EXPECT_NEAR(kVertical, 3445.68, 0.01);
    for (double t : {0.01, 0.5, 5.0})
        EXPECT_NEAR(at("steep", t), hermite(steep[0], steep[1], t),
                    1e-3 * std::fabs(hermite(steep[0], steep[1], t)) + 1e-3);
}

TEST_F(Animate, KeysAreReadAtEveryEvaluationInTimeOrder) {
    declare_scalar("level", 10);
    Body* curve = body(SDL_PARAM_CV_CURVE);
    Expr* late[6] = {num(10), ref("level"), num(-1), num(0), num(1), num(0)};
    Expr* early[6] = {num(0), num(0), num(-1), num(0), num(1), num(0)};
    add_item(
        curve, "cvs",
        make_list(args({make_param_vertex(2, late, 6, 0, 1), make_param_vertex(2, early, 6, 0, 1)}),
                  1));
    ASSERT_TRUE(Declare("c", SDL_PARAM_CV_CURVE, make_object(SDL_PARAM_CV_CURVE, curve, 1)));
    Expr* animate = call(540, {ref("c"), num(5)});
    EXPECT_FLOAT_EQ(value_of(animate), 5.0f);  // flat tangents: halfway is half
    find_symbol("level")->scalar() = 30;
    EXPECT_FLOAT_EQ(value_of(animate), 15.0f);
}

TEST_F(Animate, OneKeyHoldsItsValueEverywhere) {
    declare_curve("one", {{3, 7, -1, 0, 1, 0}}, 1024, 4);
    EXPECT_EQ(at("one", 0), 7.0f);
    EXPECT_EQ(at("one", 3), 7.0f);
    EXPECT_EQ(at("one", 9), 7.0f);
}

TEST_F(Animate, Messages) {
    declare_curve("c", keys_);
    float value = 0;
    EXPECT_FALSE(eval(call(540, {}, 5), value));
    EXPECT_FALSE(eval(call(540, {ref("c")}, 6), value));
    EXPECT_FALSE(eval(call(540, {make_filename("nope", nullptr, 1), num(1)}, 7), value));
    Body* empty = body(SDL_PARAM_CV_CURVE);
    ASSERT_TRUE(Declare("empty", SDL_PARAM_CV_CURVE, make_object(SDL_PARAM_CV_CURVE, empty, 1)));
    EXPECT_FALSE(eval(call(540, {ref("empty"), num(1)}, 8), value));
    EXPECT_FALSE(eval(call(540, {ref("c"), silent_failure()}, 9), value));
    EXPECT_EQ(error_output(),
              "No arguments given for ANIMATE function on 5\n"
              "No second argument given for ANIMATE function on 6\n"
              "Cannot evaluate curve for ANIMATE function on 7\n"
              "Cannot evaluate curve for ANIMATE function on 8\n"
              "Can't evaluate ANIMATE function on line 9\n");
    error_output().clear();
    set_quiet_evaluation(true);
    EXPECT_FALSE(eval(call(540, {}, 5), value));
    EXPECT_EQ(error_output(), "");
}

class MotionCurves : public Animate {
protected:
    void declare_track(Expr* cvs) {
        Body* track = body(SDL_BOUNDARY_CURVE);
        add_item(track, "degree", num(3));
        add_item(track, "cvs", cvs);
        ASSERT_TRUE(
            Declare("track", SDL_BOUNDARY_CURVE, make_object(SDL_BOUNDARY_CURVE, track, 1)));
    }
    void declare_motion(const char* name, int in, int out) {
        Body* motion = body(SDL_MOTION_CURVE);
        motion->model = "track";
        add_item(motion, "in", num(in));
        add_item(motion, "out", num(out));
        ASSERT_TRUE(Declare(name, SDL_MOTION_CURVE, make_object(SDL_MOTION_CURVE, motion, 1)));
    }
    static Expr* cv(float x, float y) { return make_cv(triple(x, y, 0), num(1), 1); }
};

TEST_F(MotionCurves, FollowTheControlPolygon) {
    declare_track(make_list(args({cv(0, 0), cv(10, 5), cv(20, 25)}), 1));
    declare_motion("move", 512, 8);
    EXPECT_FLOAT_EQ(at("move", 5), 2.5f);
    EXPECT_FLOAT_EQ(at("move", 15), 15.0f);
    EXPECT_FLOAT_EQ(at("move", 30), 45.0f);  // the last chord goes on
    EXPECT_FLOAT_EQ(at("move", -3), 0.0f);
    EXPECT_FLOAT_EQ(value_of(call(540, {make_filename("move", nullptr, 1), num(12)})), 9.0f);
}

TEST_F(MotionCurves, ReadPackedControlVertices) {
    static const float cvs[] = {0, 0, 0, 1, 10, 5, 0, 1, 20, 25, 0, 1};
    declare_track(make_packed_list(PackedList{3, 4, SDL_CV, cvs}, 1));
    declare_motion("move", 2048, 2);
    EXPECT_FLOAT_EQ(at("move", 12), 9.0f);
    EXPECT_FLOAT_EQ(at("move", -2), -1.0f);
    EXPECT_FLOAT_EQ(at("move", 40), 25.0f);
}

TEST_F(MotionCurves, NeedACurveToFollow) {
    Body* motion = body(SDL_MOTION_CURVE);
    motion->model = "missing";
    ASSERT_TRUE(Declare("move", SDL_MOTION_CURVE, make_object(SDL_MOTION_CURVE, motion, 1)));
    float value = 0;
    EXPECT_FALSE(eval(call(540, {ref("move"), num(1)}, 4), value));
    EXPECT_EQ(error_output(), "Cannot evaluate curve for ANIMATE function on 4\n");
}

}  // namespace
}  // namespace sky
