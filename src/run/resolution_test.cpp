#include "run/resolution.h"

#include <cstring>

#include <gtest/gtest.h>

namespace sky {
namespace {

RenderOptions default_window() {
    RenderOptions options;  // 645 × 486, window 0..644 × 0..485
    return options;
}

ResolutionScale scale_x(int columns, const RenderOptions& options) {
    ResolutionScale scale;
    scale.x_given = true;
    scale.x = static_cast<float>(columns) / static_cast<float>(options.xresolution);
    return scale;
}

ResolutionScale scale_y(int rows, const RenderOptions& options) {
    ResolutionScale scale;
    scale.y_given = true;
    scale.y = static_cast<float>(rows) / static_cast<float>(options.yresolution);
    return scale;
}

TEST(ResolutionScaling, HalvingTheColumnsKeepsTheWindowAndSetsTheTolerance) {
    RenderOptions options = default_window();
    ASSERT_EQ(scale_resolution(options, scale_x(320, options)), nullptr);
    EXPECT_EQ(options.xresolution, 320);
    EXPECT_EQ(options.xleft, 0);
    EXPECT_EQ(options.xright, 319);
    EXPECT_FLOAT_EQ(options.area_tolerance, 0.00004f);  // from the larger dimension, 486
    EXPECT_EQ(options.yresolution, 486);
}

TEST(ResolutionScaling, RowsScaleWithTheBackgroundWindow) {
    RenderOptions options = default_window();
    options.ylow = 100;
    options.yhigh = 299;
    options.background_ylow = 100;
    options.background_yhigh = 299;
    ASSERT_EQ(scale_resolution(options, scale_y(972, options)), nullptr);
    EXPECT_EQ(options.yresolution, 972);
    EXPECT_EQ(options.ylow, 200);
    EXPECT_EQ(options.yhigh, 599);
    EXPECT_EQ(options.background_ylow, 200);
    EXPECT_EQ(options.background_yhigh, 599);
    EXPECT_FLOAT_EQ(options.area_tolerance, 0.0f);  // only -Q sets it
}

TEST(ResolutionScaling, OneRowIsEnoughAndNoRowsFail) {
    RenderOptions one = default_window();
    ASSERT_EQ(scale_resolution(one, scale_y(1, one)), nullptr);
    EXPECT_EQ(one.yresolution, 1);
    EXPECT_EQ(one.ylow, 0);
    EXPECT_EQ(one.yhigh, 0);

    RenderOptions none = default_window();
    EXPECT_STREQ(scale_resolution(none, scale_y(0, none)), "yresolution too small");
    RenderOptions columns = default_window();
    EXPECT_STREQ(scale_resolution(columns, scale_x(-2, columns)), "xresolution too small");
}

TEST(ResolutionScaling, RoundingFollowsSinglePrecisionProducts) {
    // 31 / 14 in single precision makes 7 × factor 15.499999, not 15.5: the
    // far edge is trunc(15.499999 - 0.5) = 14, where exact arithmetic gives 15.
    RenderOptions options;
    options.xresolution = 14;
    options.xleft = 0;
    options.xright = 6;
    ASSERT_EQ(scale_resolution(options, scale_x(31, options)), nullptr);
    EXPECT_EQ(options.xresolution, 31);
    EXPECT_EQ(options.xright, 14);
}

TEST(ResolutionScaling, ToleranceFollowsTheLargerDimension) {
    struct Case {
        int columns;
        float tolerance;
    } cases[] = {{256, 0.00001f},  {257, 0.00004f},  {512, 0.00004f}, {600, 0.00016f},
                 {1025, 0.00064f}, {2049, 0.00256f}, {4097, 0.01024f}};
    for (const Case& c : cases) {
        RenderOptions options = default_window();
        options.yresolution = 100;
        ASSERT_EQ(scale_resolution(options, scale_x(c.columns, options)), nullptr);
        EXPECT_FLOAT_EQ(options.area_tolerance, c.tolerance) << c.columns;
    }
    // The rows count as much as the columns.
    RenderOptions tall = default_window();
    tall.yresolution = 3000;
    ASSERT_EQ(scale_resolution(tall, scale_x(200, tall)), nullptr);
    EXPECT_FLOAT_EQ(tall.area_tolerance, 0.00256f);
}

TEST(ResolutionScaling, AbsurdFactorsSaturateInsteadOfOverflowing) {
    RenderOptions options = default_window();
    ResolutionScale scale;
    scale.x_given = true;
    scale.x = 1e30f;
    EXPECT_EQ(scale_resolution(options, scale), nullptr);
    EXPECT_EQ(options.xresolution, 2147483647);
}

TEST(WindowCheck, NamesTheEdgeThatIsWrong) {
    RenderOptions options = default_window();
    EXPECT_EQ(window_error(options), nullptr);
    options.yhigh = 0;
    EXPECT_STREQ(window_error(options), "yhigh must be positive and greater than ylow\n");
    options = default_window();
    options.ylow = 300;
    options.yhigh = 200;
    EXPECT_STREQ(window_error(options), "yhigh must be positive and greater than ylow\n");
    options = default_window();
    options.xleft = 10;
    options.xright = 9;
    EXPECT_STREQ(window_error(options), "xright must be positive and greater that xleft\n");
    // A window one pixel wide is allowed.
    options = default_window();
    options.xleft = options.xright = 5;
    options.ylow = options.yhigh = 7;
    EXPECT_EQ(window_error(options), nullptr);
}

}  // namespace
}  // namespace sky
