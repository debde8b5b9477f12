// Motion-blurred samples through whole renders: motion that degenerates
// during the shutter renders finite colours and depths, the pictures do not
// depend on the worker count, and the time a surface covers a sample
// decides its weight against what lies behind it.
#include <cmath>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "render/render_test_support.h"

namespace sky::test {
namespace {

// Shutter open at frame 0.75 and close at 1.25: `frame` runs over half a
// frame while the shutter is open.
void blurred(RenderOptions& o) {
    o.motion_blur = true;
    o.frame = 1;
    o.shutter_open = 0.75f;
    o.shutter_close = 1.25f;
    o.aalevelmin = 1;
    o.aalevelmax = 16;
}

std::string scene(const std::string& model) {
    return "DEFINITION\nversion = 8;\nresolution = 48 32;\nstartframe = 1;\n"
           "shader s (model = phong, color = (200, 120, 60));\n"
           "shader clear (model = lambert, color = (50, 200, 50), transparency = (120, 120, "
           "120));\ntriple o (0, 0, 0);\nMODEL\n"
           "camera (eye = (0, 0, 10), view = o, aov = 40, pix = \"p\", depth_file = \"d\");\n"
           "light (model = directional, direction = (-1, -1, -1));\n" +
           model;
}

// A moving triangle with corners given as expressions of `frame`.
std::string triangle(const std::string& a, const std::string& b, const std::string& c,
                     const char* shader = "s") {
    return std::string("polyset (motion_blur = ON, shader = (") + shader + "), vertices = ((cv((" +
           a + "), 1)), (cv((" + b + "), 1)), (cv((" + c +
           "), 1))), polygons = (polygon(0, 1, 2)));\n";
}

void expect_finite(const RenderedImage& image, const char* what, bool draws) {
    ASSERT_TRUE(image.ok) << what;
    int drawn = 0;
    for (std::int32_t y = 0; y < image.height; ++y)
        for (std::int32_t x = 0; x < image.width; ++x) {
            const float* c = image.at(x, y);
            for (int k = 0; k < 4; ++k)
                ASSERT_TRUE(std::isfinite(c[k]) && c[k] >= 0.0f && c[k] <= 255.0f)
                    << what << " at " << x << ", " << y;
            ASSERT_TRUE(std::isfinite(image.depth_at(x, y))) << what << " at " << x << ", " << y;
            drawn += c[0] > 0.0f;
        }
    if (draws) {
        EXPECT_GT(drawn, 0) << what << ": the moving surface drew nothing";
    }
}

TEST(MotionSample, DegenerateMotionRendersFiniteColoursAndDepths) {
    const struct {
        const char* what;
        std::string model;
        bool draws = true;
    } cases[] = {
        // The apex passes through the base at the frame time: no area then,
        // turned over afterwards.
        {"a triangle turning over", triangle("-2, -1, 0", "2, -1, 0", "0, (1 - frame) * 8 - 1, 0")},
        // All three corners meet at the frame time.
        {"a triangle shrinking to a point",
         triangle("(frame - 1) * 8 - 1, 0, 0", "(1 - frame) * 8 + 1, 0, 0",
                  "0, (frame - 1) * 8, 0")},
        {"huge displacements",
         triangle("frame * 1e6 - 1e6 - 1, -1, 0", "frame * 1e6 - 1e6 + 1, -1, 0",
                  "frame * 1e6 - 1e6, 1, 0"),
         false},  // a millionth of the shutter over any pixel
        // From behind the eye to far in front of it.
        {"a triangle passing the eye",
         triangle("-1, -1, 20 - frame * 30", "1, -1, 20 - frame * 30", "0, 1, 20 - frame * 30")},
        // Edges at pixel corners at shutter open and close exactly.
        {"edges on sample positions at both ends",
         triangle("(frame - 0.75) * 4 - 2, -2, 0", "(frame - 0.75) * 4 + 2, -2, 0",
                  "(frame - 0.75) * 4, 2, 0") +
             triangle("-1, -1, 1", "1, -1, 1", "0, 1, 1", "clear")},
    };
    for (const auto& c : cases)
        expect_finite(render_scene(scene(c.model), {2, 5, blurred, {}}), c.what, c.draws);
}

TEST(MotionSample, PicturesDoNotDependOnTheWorkers) {
    const std::string model =
        "{ translate (frame * 4 - 4, 0, 0); rotate (zaxis, frame * 40 - 40);\n" +
        triangle("-2, -2, 0", "2, -2, 0", "0, 2, 0") + "}\n" +
        triangle("-3, frame * 2 - 3, 1", "3, frame * 2 - 3, 1", "0, frame * 2, 1", "clear");
    const RenderedImage one = render_scene(scene(model), {1, 15, blurred, {}});
    for (RenderSettings settings :
         {RenderSettings{2, 15, blurred, {}}, RenderSettings{2, 5, blurred, {}}}) {
        const RenderedImage other = render_scene(scene(model), settings);
        ASSERT_TRUE(one.ok && other.ok);
        EXPECT_EQ(one.rgba, other.rgba);
        EXPECT_EQ(one.depth, other.depth);
    }
}

TEST(MotionSample, AnOpaqueSquareHidesWhatIsBehindForTheTimeItCoversIt) {
    // A square sweeping over the whole image from left to right in front of
    // a red plane: every pixel in its path is covered for the time the
    // square's width takes to pass, a quarter of the shutter here.
    const std::string plane =
        "shader red (model = lambert, color = (0, 0, 0), diffuse = 0, incandescence = (255, 0, "
        "0));\nshader white (model = lambert, color = (0, 0, 0), diffuse = 0, incandescence = "
        "(255, 255, 255));\n";
    std::string model =
        "{ polyset (shader = (red), vertices = ((cv((-20, -20, -1), 1)), (cv((20, -20, -1), 1)), "
        "(cv((20, 20, -1), 1)), (cv((-20, 20, -1), 1))), polygons = (polygon(0, 1, 2, 3))); }\n"
        "translate (frame * 32 - 24, 0, 0);\n"
        "polyset (motion_blur = ON, shader = (white), vertices = ((cv((-9, -9, 0), 1)), "
        "(cv((-5, -9, 0), 1)), (cv((-5, 9, 0), 1)), (cv((-9, 9, 0), 1))), polygons = (polygon(0, "
        "1, 2, 3)));\n";
    std::string text = scene(model);
    text.insert(text.find("MODEL"), plane);
    const RenderedImage image = render_scene(text, {2, 15, blurred, {}});
    ASSERT_TRUE(image.ok);
    // The square is 4 wide and travels 16 over the shutter; at x = 0 it
    // covers the sample from when its right edge arrives (x = -5 + 16t) to
    // when its left edge leaves (x = -9 + 16t): t from 5/16 to 9/16.
    const std::int32_t x = image.width / 2, y = image.height / 2;
    const float* c = image.at(x, y);
    EXPECT_NEAR(c[1], 255.0f * 0.25f, 2.0f);  // white only while covered
    EXPECT_NEAR(c[0], 255.0f, 1.0f);          // red the rest of the time
}

TEST(MotionSample, LightingStaysInTheWorldWhileTheCameraMoves) {
    // The camera slides past a wall lit by a point light close to it,
    // faster toward shutter close, so that the frame's view is not the
    // shutter's mean one. The blurred picture must be the mean of still
    // pictures taken through the shutter: the lit patch stays where the
    // light is, and slides through the picture as the camera passes.
    const std::string text =
        "DEFINITION\nversion = 8;\nresolution = 48 32;\nstartframe = 1;\n"
        "shader wall (model = phong, color = (230, 230, 230), diffuse = 0.8, specular = 0.6, "
        "shinyness = 30);\ntriple aim (0, 0, 0);\nMODEL\n"
        "aim = ((frame - 0.75) * (frame - 0.75) * 8 - 0.5, 0, 0);\n"
        "camera (eye = ((frame - 0.75) * (frame - 0.75) * 8 - 0.5, 0, 6), view = aim, aov = 40, "
        "motion_blur = ON, pix = \"p\");\n"
        "{ translate (0, 0, 0.6); light (model = point, intensity = 1); }\n"
        "polyset (shader = (wall), vertices = ((cv((-20, -20, 0), 1)), (cv((20, -20, 0), 1)), "
        "(cv((20, 20, 0), 1)), (cv((-20, 20, 0), 1))), polygons = (polygon(0, 1, 2, 3)));\n";
    auto at = [](double frame, bool blur) {
        return [frame, blur](RenderOptions& o) {
            blurred(o);
            o.frame = static_cast<float>(frame);
            o.motion_blur = blur;
            o.camera_motion_blur = blur;
            // Each blurred sample is lit at one time: many per pixel.
            o.aalevelmin = 16;
        };
    };
    const RenderedImage moving = render_scene(text, {2, 15, at(1.0, true), {}});
    ASSERT_TRUE(moving.ok);
    // Still pictures with the camera at even steps of its way: the blurred
    // camera goes straight from its shutter-open to its shutter-close
    // place, x = -0.5 + 2t, which the scene's path passes at frame
    // 0.75 + sqrt(t / 4).
    constexpr int kSteps = 17;
    std::vector<double> mean(moving.rgba.size(), 0.0);
    for (int i = 0; i < kSteps; ++i) {
        const double t = static_cast<double>(i) / (kSteps - 1);
        const RenderedImage still =
            render_scene(text, {1, 15, at(0.75 + std::sqrt(t / 4), false), {}});
        ASSERT_TRUE(still.ok);
        for (std::size_t k = 0; k < mean.size(); ++k) mean[k] += still.rgba[k] / kSteps;
    }
    const RenderedImage frame = render_scene(text, {1, 15, at(1.0, false), {}});
    // Each sample is lit at one time of the shutter: compare the columns'
    // means.
    auto column = [&](auto&& value, std::int32_t x) {
        double sum = 0.0;
        for (std::int32_t y = 4; y < 28; ++y)
            for (int k = 0; k < 3; ++k)
                sum += value(4 * (static_cast<std::size_t>(y) * moving.width + x) + k);
        return sum / (24 * 3);
    };
    double error = 0.0, off = 0.0;
    for (std::int32_t x = 0; x < moving.width; ++x) {
        const double expected = column([&](std::size_t i) { return mean[i]; }, x);
        error += std::fabs(column([&](std::size_t i) { return moving.rgba[i]; }, x) - expected);
        off += std::fabs(column([&](std::size_t i) { return frame.rgba[i]; }, x) - expected);
    }
    error /= moving.width;
    off /= moving.width;
    // The frame's own picture is far from the mean: the test can tell.
    EXPECT_GT(off, 3 * error);
    EXPECT_LT(error, 6.0);
}

}  // namespace
}  // namespace sky::test
