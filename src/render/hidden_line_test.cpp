// Hidden-line drawings rendered whole and compared with where the surfaces'
// edges, isoparametric lines and creases project, computed here from the
// scene's coordinates and the camera's screen mapping.
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "base/not_built.h"
#include "render/hidden_line.h"
#include "render/render_test_support.h"

namespace sky::test {
namespace {

// Black lines over a white background; `extra` adds settings and shaders.
std::string drawing(const std::string& extra) {
    return "DEFINITION\nversion = 9.0;\nresolution = 90 60;\nhidden_line = ON;\n"
           "triple origin (0, 0, 0);\n" +
           extra +
           "ENVIRONMENT\nbackground (color = (255, 255, 255));\n"
           "MODEL\ncamera (eye = (0, 0, 10), view = origin, aov = 40, pix = \"p\");\n";
}

std::string quad(const char* shader, double x0, double y0, double z0, double x1, double y1,
                 double z1) {
    std::ostringstream s;
    s << "polyset (shader = (" << shader << "), vertices = ((cv((" << x0 << ", " << y0 << ", " << z0
      << "), 1)), (cv((" << x1 << ", " << y0 << ", " << z1 << "), 1)), (cv((" << x1 << ", " << y1
      << ", " << z1 << "), 1)), (cv((" << x0 << ", " << y1 << ", " << z0
      << "), 1))), polygons = (polygon(0, 1, 2, 3)));\n";
    return s.str();
}

RenderSettings levels(int aa_max, int workers = 1, int tile_rows = 15) {
    return {workers, tile_rows, [aa_max](RenderOptions& o) {
                o.aalevelmax = aa_max;
                o.aalevelmin = aa_max ? 1 : 0;
            }};
}

// Screen position of a world point of the plane z = `z` (the eye at 10).
double screen_x(const RenderedImage& image, double wx, double z = 0.0) {
    return image.screen.cx + image.screen.sx * wx / (10.0 - z);
}
double screen_y(const RenderedImage& image, double wy, double z = 0.0) {
    return image.screen.cy + image.screen.sy * wy / (10.0 - z);
}

// Without anti-aliasing the lattice points are the pixel corners (offset
// by 0.001): an edge at screen x crosses the pixel whose corners lie on
// either side of it.
std::int32_t crossed_pixel(double edge) {
    return static_cast<std::int32_t>(std::floor(edge - 0.001));
}

bool is_line(const float* c) {
    return c[0] == 0.0f && c[1] == 0.0f && c[2] == 0.0f;
}

std::set<std::int32_t> line_columns(const RenderedImage& image, std::int32_t y) {
    std::set<std::int32_t> columns;
    for (std::int32_t x = 0; x < image.width; ++x)
        if (is_line(image.at(x, y))) columns.insert(x);
    return columns;
}

TEST(HiddenLine, IsoparametricLinesDivideAPatchEvenly) {
    // u runs along x from −1.9 to 2.3: three lines at u = 1/4, 1/2, 3/4.
    const std::string scene =
        drawing("shader s (model = lambert, hl_isoparam_u = 3);\n") +
        "patch (shader = (s), uknots = (0, 1), vknots = (0, 1), divisions = (1, 1),\n"
        "       cvs = ((cv((-1.9, -1.5, 0), 1), cv((-1.9, 1.5, 0), 1)),\n"
        "              (cv((2.3, -1.5, 0), 1), cv((2.3, 1.5, 0), 1))));\n";
    RenderedImage image = render_scene(scene, levels(0));
    ASSERT_TRUE(image.ok);
    std::set<std::int32_t> expected;
    for (double u : {0.0, 0.25, 0.5, 0.75, 1.0})
        expected.insert(crossed_pixel(screen_x(image, -1.9 + 4.2 * u)));
    const auto middle = static_cast<std::int32_t>(screen_y(image, 0.0));
    EXPECT_EQ(line_columns(image, middle), expected);
    // No line across v: above and below the middle the same columns.
    EXPECT_EQ(line_columns(image, middle + 5), expected);
    EXPECT_EQ(line_columns(image, middle - 5), expected);
}

// One polyset of two polygons meeting at x = 0, their outer edges at x = ±1.5
// and z = `z`.
std::string roof(double z) {
    std::ostringstream s;
    s << "polyset (shader = (s), vertices = ((cv((-1.5, -1, " << z << "), 1)), (cv((0, -1, 0), 1)),"
      << " (cv((0, 1, 0), 1)), (cv((-1.5, 1, " << z << "), 1)), (cv((1.5, -1, " << z << "), 1)),"
      << " (cv((1.5, 1, " << z
      << "), 1))), polygons = (polygon(0, 1, 2, 3), polygon(1, 4, 5, 2)));\n";
    return s.str();
}

TEST(HiddenLine, CreasesAreDrawnButEdgesBetweenCoplanarPolygonsAreNot) {
    // The two halves meet at 56°, or lie flat.
    const std::string shader = "shader s (model = lambert);\n";
    RenderedImage ridged = render_scene(drawing(shader) + roof(-0.8), levels(0));
    RenderedImage flat = render_scene(drawing(shader) + roof(0.0), levels(0));
    ASSERT_TRUE(ridged.ok && flat.ok);
    const auto middle = static_cast<std::int32_t>(screen_y(flat, 0.0));
    EXPECT_EQ(line_columns(ridged, middle),
              (std::set<std::int32_t>{crossed_pixel(screen_x(ridged, -1.5, -0.8)),
                                      crossed_pixel(screen_x(ridged, 0.0)),
                                      crossed_pixel(screen_x(ridged, 1.5, -0.8))}));
    EXPECT_EQ(line_columns(flat, middle),
              (std::set<std::int32_t>{crossed_pixel(screen_x(flat, -1.5)),
                                      crossed_pixel(screen_x(flat, 1.5))}));
    // Two objects meet at an outline, however flat.
    RenderedImage two = render_scene(
        drawing(shader) + quad("s", -1.5, -1, 0, 0, 1, 0) + quad("s", 0, -1, 0, 1.5, 1, 0),
        levels(0));
    ASSERT_TRUE(two.ok);
    EXPECT_TRUE(line_columns(two, middle).count(crossed_pixel(screen_x(two, 0.0))));
}

TEST(HiddenLine, AntiAliasedLinesCoverTheHalfPixelCellsAroundTheEdge) {
    // With anti-aliasing the lattice has half-pixel cells; a line covers
    // the cell the edge crosses and its neighbours, and each pixel shows
    // the share of its cells the line covers.
    RenderedImage image = render_scene(
        drawing("shader s (model = lambert);\n") + quad("s", -1.53, -1.5, 0, 1.5, 1.5, 0),
        levels(4));
    ASSERT_TRUE(image.ok);
    const double edge = screen_x(image, -1.53);
    const auto crossed = static_cast<std::int32_t>(std::ceil((edge - 0.001) * 2.0)) - 1;
    const auto middle = static_cast<std::int32_t>(screen_y(image, 0.0));
    for (std::int32_t x = crossed / 2 - 2; x <= crossed / 2 + 2; ++x) {
        int covered = 0;
        for (std::int32_t cell : {2 * x, 2 * x + 1}) covered += std::abs(cell - crossed) <= 1;
        const float expected = 255.0f * (1.0f - covered / 2.0f);
        for (std::int32_t y : {middle - 3, middle, middle + 3})
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(image.at(x, y)[k], expected, 0.01f) << x << ", " << y;
    }
}

TEST(HiddenLine, TheDrawingDoesNotDependOnWorkersOrTiles) {
    const std::string scene =
        drawing(
            "shader s (model = lambert, use_fill_color = ON, fill_color = (90, 120, 200));\n"
            "shader t (model = lambert);\n") +
        quad("s", -1.5, -1, -0.8, 0, 1, 0) + quad("s", 0, -1, 0, 1.5, 1, -0.8) +
        quad("t", -0.7, -0.3, 1, 0.9, 2.1, 1) + polyset_sphere(12, "t");
    // Lines wider than a tile reach into the neighbouring tiles' rows.
    const std::string wide = std::regex_replace(scene, std::regex("model = lambert"),
                                                "model = lambert, hl_line_width = 7");
    for (const std::string& drawn : {scene, wide}) {
        for (int aa : {0, 4}) {
            RenderedImage one = render_scene(drawn, levels(aa, 1, 15));
            RenderedImage two = render_scene(drawn, levels(aa, 2, 5));
            ASSERT_TRUE(one.ok && two.ok);
            EXPECT_EQ(one.rgba, two.rgba) << aa;
            EXPECT_EQ(one.depth, two.depth) << aa;
        }
    }
}

TEST(HiddenLine, FillsComeFromTheShaderOrFromTheGlobalSettings) {
    const std::string shaders =
        "shader s (model = lambert, use_fill_color = ON, fill_color = (200, 0, 0));\n"
        "shader t (model = lambert);\n";
    const std::string objects = quad("s", -2, -1, 0, -0.5, 1, 0) + quad("t", 0.5, -1, 0, 2, 1, 0);
    RenderedImage own = render_scene(drawing(shaders) + objects, levels(0));
    RenderedImage global =
        render_scene(drawing("hline_from_global = ON;\nhline_to_fill_color = 1;\n"
                             "hline_fill_color = (10, 200, 30);\nhline_line_color = (0, 0, 0);\n" +
                             shaders) +
                         objects,
                     levels(0));
    ASSERT_TRUE(own.ok && global.ok);
    const auto y = static_cast<std::int32_t>(screen_y(own, 0.0));
    const auto left = static_cast<std::int32_t>(screen_x(own, -1.25));
    const auto right = static_cast<std::int32_t>(screen_x(own, 1.25));
    auto expect_colour = [](const float* c, float r, float g, float b, float a) {
        EXPECT_FLOAT_EQ(c[0], r);
        EXPECT_FLOAT_EQ(c[1], g);
        EXPECT_FLOAT_EQ(c[2], b);
        EXPECT_FLOAT_EQ(c[3], a);
    };
    expect_colour(own.at(left, y), 200, 0, 0, 255);
    // Unfilled: the background's colour, but the surface's coverage.
    expect_colour(own.at(right, y), 255, 255, 255, 255);
    expect_colour(own.at(45, 2), 255, 255, 255, 0);
    expect_colour(global.at(left, y), 10, 200, 30, 255);
    expect_colour(global.at(right, y), 10, 200, 30, 255);
}

TEST(HiddenLine, ValuesBeyondTheirRangesAreHeldAtTheirEnds) {
    // Colours beyond 0..255 are clamped; line counts beyond any patch's
    // pixels, or below zero, draw as many lines as fit, or none.
    const std::string scene =
        drawing(
            "shader s (model = lambert, use_fill_color = ON, fill_color = (400, -20, 1e30),"
            " u_patch_lines = 1e20, v_patch_lines = -5);\n") +
        "patch (shader = (s), uknots = (0, 1), vknots = (0, 1), divisions = (1, 1),\n"
        "       cvs = ((cv((-2, -1.5, 0), 1), cv((-2, 1.5, 0), 1)),\n"
        "              (cv((2, -1.5, 0), 1), cv((2, 1.5, 0), 1))));\n";
    RenderedImage image = render_scene(scene, levels(0));
    ASSERT_TRUE(image.ok);
    const auto y = static_cast<std::int32_t>(screen_y(image, 0.0));
    const auto left = static_cast<std::int32_t>(std::ceil(screen_x(image, -2.0)));
    const auto right = static_cast<std::int32_t>(screen_x(image, 2.0)) - 1;
    for (std::int32_t x = left; x < right; ++x) EXPECT_TRUE(is_line(image.at(x, y))) << x;
    RenderedImage flat = render_scene(
        drawing(
            "shader s (model = lambert, use_fill_color = ON, fill_color = (400, -20, 1e30));\n") +
            quad("s", -2, -1.5, 0, 2, 1.5, 0),
        levels(0));
    ASSERT_TRUE(flat.ok);
    const float* c = flat.at(45, 30);
    EXPECT_FLOAT_EQ(c[0], 255.0f);
    EXPECT_FLOAT_EQ(c[1], 0.0f);
    EXPECT_FLOAT_EQ(c[2], 255.0f);
}

TEST(HiddenLine, PixelsKeepTheDepthOfTheNearestSurfaceTheirCornersSee) {
    RenderedImage image = render_scene(
        drawing("shader s (model = lambert);\n") + quad("s", -2, -1.5, 0, 2, 1.5, 0), levels(0));
    ASSERT_TRUE(image.ok);
    for (std::int32_t x : {30, 45, 55}) {
        for (std::int32_t y : {25, 30, 34}) {
            double nearest = 1e30;
            for (int dx = 0; dx < 2; ++dx)
                for (int dy = 0; dy < 2; ++dy) {
                    const double a = (x + dx + 0.001 - image.screen.cx) / image.screen.sx;
                    const double b = (y + dy + 0.001 - image.screen.cy) / image.screen.sy;
                    nearest = std::min(nearest, 10.0 * std::sqrt(1.0 + a * a + b * b));
                }
            EXPECT_NEAR(image.depth_at(x, y), nearest, 1e-3 * nearest) << x << ", " << y;
        }
    }
    EXPECT_EQ(image.depth_at(2, 2), 1e8f);
}

// The pixels of `row` a line `width` pixels wide around the crossed pixel
// `crossed` covers: those whose centres lie within half the width of the
// crossed pixel's centre (odd widths) or of its lower left corner (even).
std::set<std::int32_t> widened(std::int32_t crossed, int width) {
    const double centre = crossed + (width % 2 ? 0.5 : 0.0);
    std::set<std::int32_t> columns;
    for (std::int32_t x = crossed - width; x <= crossed + width; ++x)
        if (std::fabs(x + 0.5 - centre) <= width / 2.0) columns.insert(x);
    return columns;
}

std::set<std::int32_t> joined(std::initializer_list<std::set<std::int32_t>> parts) {
    std::set<std::int32_t> all;
    for (const auto& part : parts) all.insert(part.begin(), part.end());
    return all;
}

TEST(HiddenLine, WideLinesCoverThePixelsWithinHalfTheirWidthOfTheEdge) {
    for (int width : {2, 3, 5, 8}) {
        const std::string shader =
            "shader s (model = lambert, hl_line_width = " + std::to_string(width) + ");\n";
        RenderedImage image =
            render_scene(drawing(shader) + quad("s", -2, -1.5, 0, 2, 1.5, 0), levels(0));
        ASSERT_TRUE(image.ok);
        const auto middle = static_cast<std::int32_t>(screen_y(image, 0.0));
        EXPECT_EQ(line_columns(image, middle),
                  joined({widened(crossed_pixel(screen_x(image, -2.0)), width),
                          widened(crossed_pixel(screen_x(image, 2.0)), width)}))
            << width;
    }
    // The global setting, with `hline_from_global`, for every object.
    RenderedImage global = render_scene(
        drawing("hline_from_global = ON;\nhline_line_width = 3;\nhline_line_color = (0, 0, 0);\n"
                "shader s (model = lambert, hl_line_width = 9);\n") +
            quad("s", -2, -1.5, 0, 2, 1.5, 0),
        levels(0));
    ASSERT_TRUE(global.ok);
    const auto middle = static_cast<std::int32_t>(screen_y(global, 0.0));
    EXPECT_EQ(line_columns(global, middle),
              joined({widened(crossed_pixel(screen_x(global, -2.0)), 3),
                      widened(crossed_pixel(screen_x(global, 2.0)), 3)}));
}

TEST(HiddenLine, WhereTwoSurfacesMeetTheWiderLineIsDrawn) {
    // A wide-lined square behind a thin-lined one that covers its right part.
    const std::string scene = drawing(
                                  "shader wide (model = lambert, hl_line_width = 5);\n"
                                  "shader thin (model = lambert);\n") +
                              quad("wide", -3, -1.5, -1, 1, 1.5, -1) +
                              quad("thin", -1, -1, 0, 3, 1, 0);
    RenderedImage image = render_scene(scene, levels(0));
    ASSERT_TRUE(image.ok);
    const auto middle = static_cast<std::int32_t>(screen_y(image, 0.0));
    EXPECT_EQ(line_columns(image, middle),
              joined({widened(crossed_pixel(screen_x(image, -3.0, -1.0)), 5),
                      widened(crossed_pixel(screen_x(image, -1.0)), 5),
                      widened(crossed_pixel(screen_x(image, 3.0)), 1)}));
}

TEST(HiddenLine, AntiAliasedWideLinesCoverTheHalfPixelCellsWithinHalfTheirWidth) {
    // The half-pixel cell the edge crosses and the `width` cells on either
    // side; each pixel shows the share of its cells the line covers.
    for (int width : {2, 3}) {
        RenderedImage image = render_scene(drawing("shader s (model = lambert, hl_line_width = " +
                                                   std::to_string(width) + ");\n") +
                                               quad("s", -1.53, -1.5, 0, 1.5, 1.5, 0),
                                           levels(4));
        ASSERT_TRUE(image.ok);
        const double edge = screen_x(image, -1.53);
        const auto crossed = static_cast<std::int32_t>(std::ceil((edge - 0.001) * 2.0)) - 1;
        const auto middle = static_cast<std::int32_t>(screen_y(image, 0.0));
        for (std::int32_t x = crossed / 2 - width - 1; x <= crossed / 2 + width + 1; ++x) {
            int covered = 0;
            for (std::int32_t cell : {2 * x, 2 * x + 1})
                covered += std::abs(cell - crossed) <= width;
            const float expected = 255.0f * (1.0f - covered / 2.0f);
            for (std::int32_t y : {middle - 3, middle, middle + 3})
                EXPECT_NEAR(image.at(x, y)[0], expected, 0.01f) << width << ": " << x << ", " << y;
        }
    }
}

TEST(HiddenLine, LinesWiderThanTheLimitAreDrawnAtTheLimit) {
    reset_not_built_warnings();
    RenderedImage image = render_scene(
        drawing("resolution = 200 120;\nshader s (model = lambert, line_thickness = 1e6);\n") +
            quad("s", -1, -1, 0, 1, 1, 0),
        levels(0));
    ASSERT_TRUE(image.ok);
    EXPECT_TRUE(not_built_warnings().empty());
    const auto middle = static_cast<std::int32_t>(screen_y(image, 0.0));
    const std::int32_t left = crossed_pixel(screen_x(image, -1.0));
    const std::set<std::int32_t> columns = line_columns(image, middle);
    for (std::int32_t x : widened(left, kMaxLineWidth)) EXPECT_TRUE(columns.count(x)) << x;
    EXPECT_FALSE(columns.count(left - kMaxLineWidth / 2 - 1));
}

TEST(HiddenLine, IsoparametricLinesOfAClosedPatchDivideItsWrappedRange) {
    // A square tube around the y axis, closed in u: four sides of one span
    // each, the front one (u from 0 to 1) from x = -1 to 1 at z = 1. Wrapped,
    // u runs from 0 to 4: seven lines fall every half span, one across the
    // middle of the front; three fall on the corners only.
    auto tube = [](int lines) {
        return drawing("shader s (model = lambert, hl_isoparam_u = " + std::to_string(lines) +
                       ");\n") +
               "patch (shader = (s), uclosed = 1, uknots = (0, 1, 2, 3), vknots = (0, 1),\n"
               "       divisions = (1, 1),\n"
               "       cvs = ((cv((-1, -1.5, 1), 1), cv((-1, 1.5, 1), 1)),\n"
               "              (cv((1, -1.5, 1), 1), cv((1, 1.5, 1), 1)),\n"
               "              (cv((1, -1.5, -1), 1), cv((1, 1.5, -1), 1)),\n"
               "              (cv((-1, -1.5, -1), 1), cv((-1, 1.5, -1), 1))));\n";
    };
    RenderedImage seven = render_scene(tube(7), levels(0));
    RenderedImage three = render_scene(tube(3), levels(0));
    ASSERT_TRUE(seven.ok && three.ok);
    const auto middle = static_cast<std::int32_t>(screen_y(seven, 0.0, 1.0));
    const std::set<std::int32_t> outline{crossed_pixel(screen_x(seven, -1.0, 1.0)),
                                         crossed_pixel(screen_x(seven, 1.0, 1.0))};
    EXPECT_EQ(line_columns(three, middle), outline);
    EXPECT_EQ(line_columns(seven, middle),
              joined({outline, {crossed_pixel(screen_x(seven, 0.0, 1.0))}}));
}

TEST(HiddenLine, WithTimingThePixelsCarryTheTimeTheirPointsTook) {
    RenderedImage image =
        render_scene(drawing("shader s (model = lambert);\n") + quad("s", -2, -1.5, 0, 2, 1.5, 0),
                     {1, 15, [](RenderOptions& o) {
                          o.aalevelmax = 0;
                          o.timing_depth = true;
                      }});
    ASSERT_TRUE(image.ok);
    // Neither the surface's distance nor the nothing beyond it: a few
    // microseconds a point.
    for (float t : image.depth) {
        EXPECT_GE(t, 0.0f);
        EXPECT_LT(t, 1000.0f);
    }
    EXPECT_LT(image.depth_at(2, 2), 1000.0f);
}

}  // namespace
}  // namespace sky::test
