// Whole renders at the edges of what a sample sees: nothing at all (the
// background colour, texture or backdrop image, and no depth), pixels
// outside the film gate, and composite rendering's uncovered pixels.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/image/fb.h"
#include "platform/image/image_test_support.h"
#include "render/render_test_support.h"

namespace sky::test {
namespace {

std::string definition(const std::string& extra) {
    return "DEFINITION\nversion = 8;\nresolution = 64 48;\ntriple origin (0, 0, 0);\n"
           "shader w (model = lightsource, color = (90, 160, 220));\n" +
           extra;
}

// A self-lit square of side 2·half at z = 0, facing the camera.
std::string square(double half) {
    std::ostringstream s;
    s << "polyset (shader = (w), vertices = ((cv((" << -half << ", " << -half << ", 0), 1)),"
      << " (cv((" << half << ", " << -half << ", 0), 1)), (cv((" << half << ", " << half
      << ", 0), 1)), (cv((" << -half << ", " << half << ", 0), 1))),"
      << " polygons = (polygon(0, 1, 2, 3)));\n";
    return s.str();
}

std::string camera(const std::string& extra = "") {
    return "MODEL\ncamera (eye = (0, 0, 10), view = origin, aov = 40, pix = \"p\", depth_file = "
           "\"d\"" +
           extra + ");\n";
}

RenderSettings sampled(int aa_max) {
    return {1, 15, [aa_max](RenderOptions& o) {
                o.aalevelmax = aa_max;
                o.aalevelmin = aa_max ? 1 : 0;
            }};
}

// The square of side 1.2 at 10 in front of a 40° camera covers the middle
// of the image only; `far_from_square` keeps clear of it.
bool far_from_square(std::int32_t x, std::int32_t y) {
    return x < 20 || x > 44 || y < 12 || y > 36;
}

void expect_nothing_seen(const RenderedImage& image, std::int32_t x, std::int32_t y, float r,
                         float g, float b) {
    const float* c = image.at(x, y);
    EXPECT_FLOAT_EQ(c[0], r) << x << ", " << y;
    EXPECT_FLOAT_EQ(c[1], g) << x << ", " << y;
    EXPECT_FLOAT_EQ(c[2], b) << x << ", " << y;
    EXPECT_FLOAT_EQ(c[3], 0.0f) << x << ", " << y;
    EXPECT_EQ(image.depth_at(x, y), 1e8f) << x << ", " << y;
}

TEST(RenderEdges, WhereNothingIsHitTheBackgroundTextureShows) {
    // Checks of two colours, one per quarter of the image: the texture
    // spans the image whatever its resolution.
    const std::string scene = definition(
                                  "ENVIRONMENT\nbackground = environment (procedure = Checker,"
                                  " color1 = (200, 10, 0), color2 = (0, 10, 200));\n") +
                              camera() + square(0.6);
    for (int aa : {0, 16}) {
        RenderedImage image = render_scene(scene, sampled(aa));
        ASSERT_TRUE(image.ok);
        int compared = 0;
        for (std::int32_t y = 0; y < image.height; ++y) {
            for (std::int32_t x = 0; x < image.width; ++x) {
                if (!far_from_square(x, y) || (x >= 29 && x <= 33) || (y >= 21 && y <= 25))
                    continue;
                const bool first = (x < 31) == (y < 23);
                expect_nothing_seen(image, x, y, first ? 200.0f : 0.0f, 10.0f,
                                    first ? 0.0f : 200.0f);
                ++compared;
            }
        }
        EXPECT_GT(compared, 1500);
        EXPECT_FLOAT_EQ(image.at(32, 24)[0], 90.0f);
        EXPECT_FLOAT_EQ(image.at(32, 24)[3], 255.0f);
    }
}

TEST(RenderEdges, WhereNothingIsHitTheBackdropImageShows) {
    ScratchDir dir;
    // A 4 × 4 backdrop whose red names its column and green its row
    // counted from the top.
    const std::string backdrop = dir.file("backdrop.qrl");
    std::vector<std::uint8_t> pixels(4 * 4 * 4);
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column) {
            std::uint8_t* p = &pixels[static_cast<std::size_t>(row * 4 + column) * 4];
            p[0] = static_cast<std::uint8_t>(10 + 60 * column);
            p[1] = static_cast<std::uint8_t>(10 + 60 * row);
            p[2] = 100;
            p[3] = 255;
        }
    FBhandle* file = FBopen(backdrop.c_str(), FB_WRITE_IMAGE, FB_FORMAT_QRL, 4, 4, 4, 0, 0, 90.0);
    ASSERT_NE(file, nullptr) << FBgetError();
    ASSERT_NE(FBwrite(file, pixels.data()), 0) << FBgetError();
    ASSERT_NE(FBclose(file), 0) << FBgetError();

    const std::string scene =
        definition("ENVIRONMENT\nbackground = \"" + backdrop + "\";\n") + camera() + square(0.6);
    for (int aa : {0, 16}) {
        RenderedImage image = render_scene(scene, sampled(aa));
        ASSERT_TRUE(image.ok);
        for (std::int32_t y = 0; y < image.height; ++y) {
            for (std::int32_t x = 0; x < image.width; ++x) {
                if (!far_from_square(x, y)) continue;
                // 16 image columns and 12 image rows per backdrop pixel.
                expect_nothing_seen(image, x, y, 10.0f + 60.0f * (x / 16),
                                    10.0f + 60.0f * (3 - y / 12), 100.0f);
            }
        }
    }
}

TEST(RenderEdges, PixelsOutsideTheFilmGateAreBlackAndFarAway) {
    const struct {
        const char* camera;
        std::int32_t left, right, low, high;  // the pixels inside the gate
    } cases[] = {
        // Film fitted up a wider image: columns beside it are outside.
        {", placement_fit_code = 2", 8, 55, 0, 47},
        // Fitted across a wider film: rows above and below are outside.
        {", filmaperture_y = 0.5, placement_fit_code = 1", 0, 63, 7, 39},
        // Pixels twice as wide as tall: half the image width is gated.
        {", aspect_ratio_pixel = 2", 16, 48, 0, 47},
    };
    for (const auto& c : cases) {
        for (bool ignore : {false, true}) {
            for (int aa : {0, 16}) {
                SCOPED_TRACE(std::string(c.camera) + (ignore ? ", ignoring the gate" : "") +
                             ", aalevelmax " + std::to_string(aa));
                RenderSettings settings = sampled(aa);
                settings.adjust = [aa, ignore](RenderOptions& o) {
                    o.aalevelmax = aa;
                    o.aalevelmin = aa ? 1 : 0;
                    o.ignore_filmgate = ignore;
                };
                RenderedImage image =
                    render_scene(definition("") + camera(c.camera) + square(40), settings);
                ASSERT_TRUE(image.ok);
                for (std::int32_t y = 0; y < image.height; ++y) {
                    for (std::int32_t x = 0; x < image.width; ++x) {
                        const bool inside =
                            ignore || (x >= c.left && x <= c.right && y >= c.low && y <= c.high);
                        const float* p = image.at(x, y);
                        ASSERT_FLOAT_EQ(p[0], inside ? 90.0f : 0.0f) << x << ", " << y;
                        ASSERT_FLOAT_EQ(p[1], inside ? 160.0f : 0.0f) << x << ", " << y;
                        ASSERT_FLOAT_EQ(p[3], inside ? 255.0f : 0.0f) << x << ", " << y;
                        if (inside)
                            ASSERT_LT(image.depth_at(x, y), 20.0f) << x << ", " << y;
                        else
                            ASSERT_EQ(image.depth_at(x, y), 1e8f) << x << ", " << y;
                    }
                }
            }
        }
    }
}

TEST(RenderEdges, CompositeRenderingGivesUncoveredPixelsTheBackgroundWithoutAlpha) {
    const std::string scene = definition("composite_rendering = 1;\n") +
                              "ENVIRONMENT\nbackground = color (10, 20, 30);\n" + camera() +
                              square(0.6);
    RenderedImage adaptive = render_scene(scene, sampled(16));
    ASSERT_TRUE(adaptive.ok);
    // A single sample that misses gives nothing at all.
    RenderedImage single = render_scene(scene, sampled(0));
    ASSERT_TRUE(single.ok);
    for (std::int32_t y = 0; y < adaptive.height; ++y) {
        for (std::int32_t x = 0; x < adaptive.width; ++x) {
            if (!far_from_square(x, y)) continue;
            expect_nothing_seen(adaptive, x, y, 10.0f, 20.0f, 30.0f);
            expect_nothing_seen(single, x, y, 0.0f, 0.0f, 0.0f);
        }
    }
    for (const RenderedImage* image : {&adaptive, &single}) {
        const float* centre = image->at(32, 24);
        EXPECT_FLOAT_EQ(centre[0], 90.0f);
        EXPECT_FLOAT_EQ(centre[2], 220.0f);
        EXPECT_FLOAT_EQ(centre[3], 255.0f);
        EXPECT_LT(image->depth_at(32, 24), 11.0f);
    }
}

}  // namespace
}  // namespace sky::test
