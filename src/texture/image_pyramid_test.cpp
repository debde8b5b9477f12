// Image pyramids: each level halves the one before, and an image reduced
// while its rows arrive is exactly the level of its pyramid.
#include "texture/image_pyramid.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "platform/image/image_test_support.h"

namespace sky {
namespace {

TrackedBlock block_of(const std::vector<std::uint8_t>& bytes) {
    TrackedBlock block;
    EXPECT_TRUE(block.resize(bytes.size(), __LINE__, __FILE__));
    std::memcpy(block.data(), bytes.data(), bytes.size());
    return block;
}

std::vector<std::uint8_t> bytes_of(const TrackedBlock& block) {
    return {block.data(), block.data() + block.size()};
}

TEST(ImagePyramid, LevelsHalveDownToTheMean) {
    // Odd sizes: the last row and column count for the missing ones.
    const std::vector<std::uint8_t> image = {10, 0, 0, 0, 20, 0, 0, 0, 90, 0, 0, 0,
                                             30, 0, 0, 0, 40, 0, 0, 0, 70, 0, 0, 0};
    ImagePyramid pyramid;
    ASSERT_TRUE(pyramid.build(3, 2, block_of(image)));
    ASSERT_EQ(pyramid.levels(), 3);
    EXPECT_EQ(pyramid.level(1).width, 2);
    EXPECT_EQ(pyramid.level(1).height, 1);
    EXPECT_EQ(pyramid.level(1).pixels[0], 25);  // (10 + 20 + 30 + 40) / 4
    EXPECT_EQ(pyramid.level(1).pixels[4], 80);  // (90 + 90 + 70 + 70) / 4
    EXPECT_EQ(pyramid.level(2).pixels[0], 53);  // (25 + 80 + 25 + 80 + 2) / 4
    EXPECT_EQ(pyramid.bytes(), (6u + 2u + 1u) * 4u);
}

TEST(ReducedImage, IsTheLevelOfTheWholeImagesPyramid) {
    struct Size {
        int width, height;
    };
    for (Size size : {Size{1, 1}, Size{7, 5}, Size{64, 33}, Size{1, 40}, Size{33, 1}}) {
        const std::vector<std::uint8_t> image =
            test::random_bytes(static_cast<std::size_t>(size.width) * size.height * 4, 3);
        ImagePyramid pyramid;
        ASSERT_TRUE(pyramid.build(size.width, size.height, block_of(image)));
        for (int halvings = 0; halvings < pyramid.levels(); ++halvings) {
            ReducedImage reduced;
            ASSERT_TRUE(reduced.start(size.width, size.height, halvings));
            for (int y = 0; y < size.height; ++y)
                ASSERT_TRUE(reduced.add_row(&image[static_cast<std::size_t>(y) * size.width * 4]));
            const PyramidLevel& level = pyramid.level(halvings);
            EXPECT_EQ(reduced.width(), level.width);
            EXPECT_EQ(reduced.height(), level.height);
            EXPECT_EQ(bytes_of(reduced.take()), bytes_of(level.pixels))
                << size.width << "x" << size.height << " halved " << halvings << " times";
        }
    }
}

}  // namespace
}  // namespace sky
