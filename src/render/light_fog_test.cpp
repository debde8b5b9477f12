// Light fog through whole renders: a spot light shining across the view,
// its fog against the length of each pixel's ray inside the cone, measured
// here by marching along the ray.
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "render/render_test_support.h"

namespace sky::test {
namespace {

// The spot light sits at (-4, 0, 0) and shines along +x with a 40 degree
// cone; its fog reaches 10 × fog_spread = 15 from the light. The camera at
// (0, 0, 10) looks down −z, so eye space is world moved by −10 in z.
std::string fog_scene(bool wall) {
    std::string scene =
        "DEFINITION\nversion = 9.0;\nresolution = 64 48;\naalevelmin = 0;\naalevelmax = 0;\n"
        "triple origin (0, 0, 0);\nshader black (model = lambert, color = (0, 0, 0));\n"
        "MODEL\ncamera (eye = (0, 0, 10), view = origin, aov = 60, pix = \"p\");\n";
    // A wall across the view at z = −1 cuts the cone's far part off.
    if (wall)
        scene +=
            "polyset (shader = (black), vertices = ((cv((-9, -9, -1), 1)),"
            " (cv((9, -9, -1), 1)), (cv((9, 9, -1), 1)), (cv((-9, 9, -1), 1))),"
            " polygons = (polygon(0, 1, 2, 3)));\n";
    return scene +
           "translate (-4, 0, 0);\n"
           "light (model = spot, spread = 40, shine_along = (1, 0, 0), fog_type = 1,"
           " fog_intensity = 0.8, fog_spread = 1.5);\n";
}

// Length inside the cone (and within reach of the light) of the ray from
// the eye through image position (x, y), by marching in small steps.
double marched_length(const ScreenMapping& m, double x, double y) {
    double d[3] = {(x - m.cx) / m.sx, (y - m.cy) / m.sy, -1.0};
    const double n = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    for (double& c : d) c /= n;
    const double half = 20.0 * M_PI / 180.0, step = 0.002;
    double inside = 0.0;
    for (double t = 0.5 * step; t < 40.0; t += step) {
        // World point: the eye at z = 10.
        const double p[3] = {d[0] * t + 4.0, d[1] * t, 10.0 + d[2] * t};  // from the light
        const double r = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
        if (r > 15.0 || p[0] <= 0.0) continue;
        if (std::acos(p[0] / r) <= half) inside += step;
    }
    return inside;
}

TEST(LightFog, EachPixelsFogGrowsWithTheLengthOfItsRayInsideTheSpotLightsCone) {
    RenderedImage image = render_scene(fog_scene(false));
    ASSERT_TRUE(image.ok);
    int lit = 0, dark = 0;
    double longest = 0.0;
    for (std::int32_t y = 0; y < image.height; y += 3)
        for (std::int32_t x = 0; x < image.width; x += 3) {
            const double length = marched_length(image.screen, x + 0.507, y + 0.485);
            const double expected = 255.0 * (1.0 - std::exp(-0.1 * 0.8 * length));
            ASSERT_NEAR(image.at(x, y)[0], expected, 1.0) << x << "," << y << " length " << length;
            EXPECT_FLOAT_EQ(image.at(x, y)[0], image.at(x, y)[2]);  // white light, white fog
            (length > 0.0 ? lit : dark) += 1;
            longest = std::max(longest, length);
        }
    EXPECT_GT(lit, 40);
    EXPECT_GT(dark, 40);
    EXPECT_GT(longest, 3.0);
}

TEST(LightFog, FogStopsAtTheSurfaceInFrontAndIsTheSameOnOneWorkerAndTwo) {
    const std::string scene = fog_scene(true);
    RenderedImage open = render_scene(fog_scene(false));
    RenderSettings two;
    two.workers = 2;
    two.tile_rows = 5;
    RenderedImage walled = render_scene(scene, two);
    RenderedImage walled_one = render_scene(scene);
    ASSERT_TRUE(open.ok && walled.ok && walled_one.ok);
    EXPECT_EQ(walled.rgba, walled_one.rgba);
    int less = 0;
    for (std::size_t i = 0; i < open.rgba.size(); i += 4) {
        ASSERT_LE(walled.rgba[i], open.rgba[i] + 1e-3f);
        less += walled.rgba[i] < open.rgba[i] - 1.0f;
    }
    EXPECT_GT(less, 20);
}

// A volume light's fog fills its shape: a sphere of radius 2 and a box of
// half-side 2 at the origin, seen from (0, 0, 10).
TEST(LightFog, AVolumeLightsFogFillsItsShape) {
    for (int shape : {0, 1}) {
        const std::string scene =
            "DEFINITION\nversion = 9.0;\nresolution = 64 48;\naalevelmin = 0;\naalevelmax = 0;\n"
            "triple origin (0, 0, 0);\n"
            "MODEL\ncamera (eye = (0, 0, 10), view = origin, aov = 40, pix = \"p\");\n"
            "scale (2, 2, 2);\n"
            "light (model = volume, shape = " +
            std::to_string(shape) + ", fog_type = 1, fog_intensity = 1.5);\n";
        RenderedImage image = render_scene(scene);
        ASSERT_TRUE(image.ok);
        for (std::int32_t y = 0; y < image.height; y += 2)
            for (std::int32_t x = 0; x < image.width; x += 2) {
                double d[3] = {(x + 0.507 - image.screen.cx) / image.screen.sx,
                               (y + 0.485 - image.screen.cy) / image.screen.sy, -1.0};
                const double n = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
                // The chord through the shape, found by fine steps.
                double length = 0.0;
                for (double t = 0.0005; t < 20.0; t += 0.001) {
                    const double p[3] = {d[0] / n * t, d[1] / n * t, 10.0 + d[2] / n * t};
                    const bool inside = shape == 1 ? p[0] * p[0] + p[1] * p[1] + p[2] * p[2] <= 4.0
                                                   : std::fabs(p[0]) <= 2 && std::fabs(p[1]) <= 2 &&
                                                         std::fabs(p[2]) <= 2;
                    if (inside) length += 0.001;
                }
                // The fog's own steps are 1/96 of the bounding ball's chord.
                const double step = 2.0 * 2.0 * (shape == 1 ? 1.0 : std::sqrt(3.0)) / 96.0;
                const double low =
                    255.0 * (1.0 - std::exp(-0.15 * std::max(0.0, length - 2 * step)));
                const double high = 255.0 * (1.0 - std::exp(-0.15 * (length + 2 * step)));
                ASSERT_GE(image.at(x, y)[1], low - 0.5) << shape << ": " << x << "," << y;
                ASSERT_LE(image.at(x, y)[1], high + 0.5) << shape << ": " << x << "," << y;
            }
        // Through the middle the ray crosses the whole shape: 4 long.
        EXPECT_NEAR(image.at(32, 24)[1], 255.0 * (1.0 - std::exp(-0.15 * 4.0)), 3.0);
    }
}

}  // namespace
}  // namespace sky::test
