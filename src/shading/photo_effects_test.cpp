// The photo effects of a scene's environment on rows of pixels: the
// filter's tint, and a grain that is centred on the colour, bounded by its
// amount, fixed for a pixel and frame and different from frame to frame.
#include "shading/photo_effects.h"

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "sdl/parse_test_support.h"
#include "sdl/scene_description.h"
#include "texture/texture.h"

namespace sky {
namespace {

PhotoEffects parsed(const std::string& body, float frame) {
    reset_front_end();
    EXPECT_EQ(parse_scene_text("DEFINITION\nENVIRONMENT\nphoto_effects (" + body + ");\nMODEL\n"),
              0);
    PhotoEffects effects = evaluate_photo_effects(scene_description().photo_effects, frame, 64, 48);
    reset_front_end();
    return effects;
}

TEST(PhotoEffects, TheFilterTintsEveryPixelAndLeavesAlphaAlone) {
    const PhotoEffects effects = parsed("filter = (255, 51, 0)", 1);
    ASSERT_TRUE(effects.active);
    std::vector<float> row = {200, 100, 50, 255, 10, 20, 30, 0};
    apply_photo_effects(effects, 0, 0, 2, row.data());
    EXPECT_FLOAT_EQ(row[0], 200);
    EXPECT_FLOAT_EQ(row[1], 20);
    EXPECT_FLOAT_EQ(row[2], 0);
    EXPECT_FLOAT_EQ(row[3], 255);
    EXPECT_FLOAT_EQ(row[5], 4);
    EXPECT_FLOAT_EQ(row[7], 0);
}

TEST(PhotoEffects, ATexturedFilterIsLaidAcrossTheImage) {
    install_texture_hooks();
    reset_front_end();
    ASSERT_EQ(
        parse_scene_text("DEFINITION\nENVIRONMENT\nphoto_effects (filter = texture (procedure"
                         " = Checker, color1 = (255, 0, 0), color2 = (0, 0, 255)));\nMODEL\n"),
        0);
    const PhotoEffects effects =
        evaluate_photo_effects(scene_description().photo_effects, 1, 64, 48);
    ASSERT_TRUE(effects.active);
    std::vector<float> row(4 * 64, 100.0f);
    apply_photo_effects(effects, 0, 10, 64, row.data());  // the lower half
    EXPECT_EQ(row[4 * 10 + 0], 100.0f);
    EXPECT_EQ(row[4 * 10 + 2], 0.0f);
    EXPECT_EQ(row[4 * 50 + 0], 0.0f);
    EXPECT_EQ(row[4 * 50 + 2], 100.0f);
    reset_front_end();
    remove_texture_hooks();
}

TEST(PhotoEffects, GrainIsCentredBoundedAndFixedForAPixelAndFrame) {
    const int width = 4000;
    auto grained = [&](float frame) {
        const PhotoEffects effects = parsed("film_grain = 0.5, something_else = 3", frame);
        std::vector<float> row(4 * width, 100.0f);
        apply_photo_effects(effects, 7, 3, width, row.data());
        return row;
    };
    const std::vector<float> first = grained(1), again = grained(1), next = grained(2);
    EXPECT_EQ(first, again);
    EXPECT_NE(first, next);
    double sum = 0.0;
    for (int i = 0; i < width; ++i) {
        const float v = first[4 * i];
        ASSERT_LE(std::fabs(v - 100.0f), 25.0f);
        ASSERT_EQ(first[4 * i + 1], v);  // grey grain
        sum += v - 100.0f;
    }
    EXPECT_NEAR(sum / width, 0.0, 1.0);
    EXPECT_FALSE(parsed("", 1).active);
    EXPECT_FALSE(parsed("filter = (255, 255, 255), film_grain = 0", 1).active);
}

}  // namespace
}  // namespace sky
