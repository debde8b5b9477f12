// motion() along a motion curve, and motion-path channels along it by arc
// length: positions on a circle drawn as a rational NURBS curve, the
// behaviours beyond the path's ends, and the messages of curves that cannot
// be followed; through scenes read from SDL.
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "geometry/geometry_evaluation.h"
#include "platform/report.h"
#include "sdl/animation.h"
#include "sdl/expr.h"
#include "sdl/parse_test_support.h"
#include "sdl/scene_description.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

std::string errors;
void capture(const char* text) {
    errors += text;
}

// A circle of radius 2 about (1, 0, 0) in the plane z = 3: nine CVs, the
// corners of its square weighted √2/2, one quarter per unit of parameter.
const char* const kCircle =
    "curve ring (degree = 2, knots = (0, 0, 1, 1, 2, 2, 3, 3, 4, 4),\n"
    "  cvs = (cv((3, 0, 3), 1), cv((3, 2, 3), 0.70710678), cv((1, 2, 3), 1),\n"
    "         cv((-1, 2, 3), 0.70710678), cv((-1, 0, 3), 1), cv((-1, -2, 3), 0.70710678),\n"
    "         cv((1, -2, 3), 1), cv((3, -2, 3), 0.70710678), cv((3, 0, 3), 1)));\n";

class MotionPath : public ::testing::Test {
protected:
    void SetUp() override { install_geometry_hooks(); }
    void TearDown() override {
        rptSetErrorCB(nullptr);
        remove_geometry_hooks();
    }

    // Reads the scene's definitions with `triple where motion(...)` among them.
    void read(const std::string& definitions) {
        reset_front_end();
        ASSERT_EQ(parse_scene_text("DEFINITION\n" + definitions + "MODEL\n"), 0);
    }
    // `where` at the given time (the scene's `frame`).
    bool where(float frame, Triple& out) {
        set_system_scalar("frame", frame);
        const Symbol* symbol = find_symbol("where");
        return symbol != nullptr && AR_evaluate(SDL_TRIPLE, &out, symbol->initialiser, nullptr);
    }
};

TEST_F(MotionPath, FollowsACircleWithinItsTolerance) {
    read(std::string(kCircle) +
         "motion_curve m (ring, in = PRE_CONSTANT);\ntriple where motion(m, frame);\n");
    for (float t = 0.0f; t <= 4.0f; t += 0.125f) {
        Triple p;
        ASSERT_TRUE(where(t, p)) << t;
        const double radius = std::hypot(p.x - 1.0, p.y);
        EXPECT_NEAR(radius, 2.0, 1e-4) << "at " << t;
        EXPECT_NEAR(p.z, 3.0f, 1e-5f);
    }
    // A quarter of the circle per unit, counterclockwise from (3, 0).
    const float corners[4][2] = {{3, 0}, {1, 2}, {-1, 0}, {1, -2}};
    for (int k = 0; k < 4; ++k) {
        Triple p;
        ASSERT_TRUE(where(static_cast<float>(k), p));
        EXPECT_NEAR(p.x, corners[k][0], 1e-5f) << "at " << k;
        EXPECT_NEAR(p.y, corners[k][1], 1e-5f) << "at " << k;
    }
}

TEST_F(MotionPath, BeyondItsEndsThePathHoldsCyclesOrContinues) {
    read(std::string(kCircle) +
         "curve line (degree = 1, knots = (0, 10), cvs = (cv((0, 0, 0), 1), cv((10, 20, 0), 1)));\n"
         "motion_curve held (line, in = PRE_CONSTANT, out = POST_CONSTANT);\n"
         "motion_curve cycled (ring, in = PRE_CYCLE, out = POST_CYCLE);\n"
         "motion_curve swung (line, in = PRE_OSCILLATE, out = POST_OSCILLATE);\n"
         "motion_curve onward (line, in = PRE_LINEAR, out = POST_LINEAR);\n"
         "triple where motion(held, frame);\n"
         "triple cycled_at motion(cycled, frame);\n"
         "triple swung_at motion(swung, frame);\n"
         "triple onward_at motion(onward, frame);\n");
    auto at = [&](const char* name, float frame) {
        set_system_scalar("frame", frame);
        Triple p{-99, -99, -99};
        EXPECT_TRUE(AR_evaluate(SDL_TRIPLE, &p, find_symbol(name)->initialiser, nullptr)) << name;
        return p;
    };
    EXPECT_NEAR(at("where", 14).x, 10.0f, 1e-5f);  // held at the end
    EXPECT_NEAR(at("where", -3).y, 0.0f, 1e-5f);
    const Triple cycled = at("cycled_at", 5), once = at("cycled_at", 1);
    EXPECT_NEAR(cycled.x, once.x, 1e-4f);
    EXPECT_NEAR(cycled.y, once.y, 1e-4f);
    EXPECT_NEAR(at("swung_at", 13).x, 7.0f, 1e-4f);    // back three from the end
    EXPECT_NEAR(at("onward_at", 12).y, 24.0f, 1e-3f);  // on along the line
    EXPECT_NEAR(at("onward_at", -1).x, -1.0f, 1e-3f);
}

TEST_F(MotionPath, ACurveThatCannotBeFollowedFailsWithItsMessage) {
    // Knots that do not match the CVs.
    read(
        "curve bent (degree = 2, knots = (0, 1), cvs = (cv((0, 0, 0), 1), cv((1, 0, 0), 1)));\n"
        "motion_curve m (bent, out = POST_CONSTANT);\ntriple where motion(m, frame);\n");
    errors.clear();
    rptSetErrorCB(capture);
    Triple p;
    EXPECT_FALSE(where(1.0f, p));
    EXPECT_NE(errors.find("Cannot evaluate curve for MOTION function on"), std::string::npos)
        << errors;
}

// Channels driving `where` from motion curves of the scene.
class PathChannel : public MotionPath {
protected:
    void TearDown() override {
        release_animation_universe();
        MotionPath::TearDown();
    }
    void load(const std::string& definitions) {
        read(std::string(kCircle) +
             "curve line (degree = 1, knots = (0, 10), cvs = (cv((0, 0, 0), 1), cv((10, 20, 0), "
             "1)));\n"
             "triple where (0, 0, 0);\n" +
             definitions);
        initialise_declared_values();
        errors.clear();
        rptSetErrorCB(capture);
        load_animation_channels();
    }
    // `where` once the channels are updated at the frame (timing = frame).
    Triple at(float frame) {
        set_system_scalar("frame", frame);
        update_animation(frame);
        return *static_cast<const Triple*>(find_symbol("where")->value);
    }
};

TEST_F(PathChannel, TravelsTheCircleAtASteadySpeed) {
    // The ring's parameter runs unevenly (a rational quadratic is slowest
    // at its quarter points' weights): by length, equal fractions are equal
    // angles, counterclockwise from (3, 0).
    load("motion_curve orbit (ring, channel = where, timing = frame);\n");
    for (int k = 0; k <= 64; ++k) {
        const double f = k / 64.0, angle = 2 * M_PI * f;
        const Triple p = at(static_cast<float>(f));
        EXPECT_NEAR(p.x, 1 + 2 * std::cos(angle), 2e-5) << "at " << f;
        EXPECT_NEAR(p.y, 2 * std::sin(angle), 2e-5) << "at " << f;
        EXPECT_NEAR(p.z, 3.0, 1e-6);
    }
    EXPECT_EQ(errors, "");
}

TEST_F(PathChannel, BeyondItsEndsTheModesDecide) {
    load(
        "motion_curve held (line, channel = where, timing = frame);\n"
        "triple cycled (0, 0, 0); triple shifted (0, 0, 0); triple onward (0, 0, 0);\n"
        "triple swung (0, 0, 0);\n"
        "motion_curve c1 (ring, in = PRE_CYCLE, out = POST_CYCLE, channel = cycled, timing = "
        "frame);\n"
        "motion_curve c2 (line, in = PRE_CYCLE_OFFSET, out = POST_CYCLE_OFFSET, channel = "
        "shifted,\n"
        "                 timing = frame);\n"
        "motion_curve c3 (line, in = PRE_LINEAR, out = POST_IDENTITY, channel = onward, timing = "
        "frame);\n"
        "motion_curve c4 (line, out = POST_OSCILLATE, channel = swung, timing = frame);\n");
    auto value = [](const char* name) {
        return *static_cast<const Triple*>(find_symbol(name)->value);
    };
    Triple p = at(1.5f);
    EXPECT_NEAR(p.x, 10, 1e-5);  // held at the end
    EXPECT_NEAR(p.y, 20, 1e-5);
    EXPECT_NEAR(value("cycled").x, 1 + 2 * std::cos(M_PI), 1e-4);  // half way round again
    EXPECT_NEAR(value("shifted").x, 15, 1e-4);                     // one lap on, half way
    EXPECT_NEAR(value("shifted").y, 30, 1e-4);
    EXPECT_NEAR(value("onward").x, 15, 1e-4);  // on along the line at its speed
    EXPECT_NEAR(value("onward").y, 30, 1e-4);
    EXPECT_NEAR(value("swung").x, 5, 1e-4);  // back half way
    p = at(-0.25f);
    EXPECT_NEAR(p.x, 0, 1e-6);
    EXPECT_NEAR(value("cycled").y, -2, 1e-4);         // three quarters round
    EXPECT_NEAR(value("shifted").x, 7.5 - 10, 1e-4);  // a lap back, three quarters on
    EXPECT_NEAR(value("shifted").y, 15 - 20, 1e-4);
    EXPECT_NEAR(value("onward").x, -2.5, 1e-4);
    EXPECT_NEAR(value("onward").y, -5, 1e-4);
    EXPECT_EQ(errors, "");
}

TEST_F(PathChannel, APathThatMovesIsFollowedWhereItIsNow) {
    load(
        "curve slide (degree = 1, knots = (0, 1),\n"
        "  cvs = (cv((frame, 0, 0), 1), cv((frame, 4, 0), 1)));\n"
        "motion_curve m (slide, channel = where, timing = 0.5);\n");
    EXPECT_NEAR(at(1).x, 1, 1e-6);
    EXPECT_NEAR(at(2).x, 2, 1e-6);
    EXPECT_NEAR(at(2).y, 2, 1e-6);
}

TEST_F(PathChannel, PathsThatCannotBeFollowedAreReported) {
    load(
        "curve point (degree = 1, knots = (0, 1), cvs = (cv((1, 1, 1), 1), cv((1, 1, 1), 1)));\n"
        "triple other (5, 5, 5);\n"
        "motion_curve still (point, channel = where, timing = frame);\n"
        "motion_curve lost (nothing, channel = other, timing = frame);\n");
    EXPECT_EQ(errors, "channel for other has a bad action\n");
    errors.clear();
    for (float f : {0.0f, 0.5f}) {
        const Triple p = at(f);
        EXPECT_EQ(p.x, 0.0f);  // the variable keeps its value
        EXPECT_EQ(static_cast<const Triple*>(find_symbol("other")->value)->x, 5.0f);
    }
    // Once, however often the channel is read.
    EXPECT_EQ(errors,
              "Unable to compute start and end tangents in Ai_compute_motion_path_points().\n");
}

}  // namespace
}  // namespace sky
