// Tests of the image comparison behind the reference tests: which
// differences a tolerance lets through per pixel and in the mean, which
// channels count for images and mattes, images of another shape, unreadable
// files, and the difference picture (read back through OpenImageIO).
#include "platform/image/compare.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/image/fb.h"
#include "platform/image/image_test_support.h"

namespace sky {
namespace {

using test::random_bytes;
using test::ScratchDir;
using ::testing::HasSubstr;
using Bytes = std::vector<std::uint8_t>;

constexpr int kWidth = 16, kHeight = 12;

// Writes 4 bytes per pixel (the library's layout) as a `.qrl` file.
void write_image(const std::string& name, int channels, const Bytes& pixels, int width = kWidth,
                 int height = kHeight) {
    FBhandle* out =
        FBopen(name.c_str(), FB_WRITE_IMAGE, FB_FORMAT_QRL, width, height, channels, 0, 0, 90.0);
    ASSERT_NE(out, nullptr) << FBgetError();
    ASSERT_NE(FBwrite(out, pixels.data()), 0) << FBgetError();
    ASSERT_NE(FBclose(out), 0) << FBgetError();
}

class ImageCompare : public ::testing::Test {
protected:
    ImageCompare() : pixels(random_bytes(kWidth * kHeight * 4, 7)) {
        // Away from 0 and 255 so that any value can move both ways.
        for (std::uint8_t& b : pixels) b = static_cast<std::uint8_t>(8 + b % 240);
    }
    ImageDifference compare(const Bytes& changed, int channels = 4,
                            const ImageTolerance& tolerance = {},
                            const std::string& difference_image = {}) {
        write_image(dir.file("reference.qrl"), channels, pixels);
        write_image(dir.file("image.qrl"), channels, changed);
        ImageDifference d;
        EXPECT_TRUE(compare_images(dir.file("reference.qrl"), dir.file("image.qrl"), tolerance, d,
                                   difference_image))
            << FBgetError();
        return d;
    }
    static std::size_t at(int x, int y, int channel) {
        return (static_cast<std::size_t>(y) * kWidth + x) * 4 + channel;
    }

    ScratchDir dir;
    Bytes pixels;
};

TEST_F(ImageCompare, SameImagesMatchExactly) {
    ImageDifference d = compare(pixels);
    EXPECT_TRUE(d.same_shape);
    EXPECT_EQ(d.largest, 0);
    EXPECT_EQ(d.pixels_beyond, 0);
    EXPECT_EQ(d.mean, 0.0);
    EXPECT_TRUE(d.within(ImageTolerance{0, 0.0}));
}

TEST_F(ImageCompare, OneChannelOfOnePixelBeyondTheToleranceFails) {
    Bytes changed = pixels;
    changed[at(5, 3, 2)] += 3;
    ImageDifference d = compare(changed);
    EXPECT_EQ(d.largest, 3);
    EXPECT_EQ(d.largest_x, 5);
    EXPECT_EQ(d.largest_y, 3);
    EXPECT_STREQ(channel_name(d.largest_channel, d.channels), "blue");
    EXPECT_EQ(d.pixels_beyond, 1);
    EXPECT_DOUBLE_EQ(d.mean, 3.0 / (kWidth * kHeight * 4));
    EXPECT_FALSE(d.within(ImageTolerance{2, 0.05}));
    EXPECT_TRUE(d.within(ImageTolerance{3, 0.05}));
}

TEST_F(ImageCompare, SmallDifferencesEverywhereFailInTheMean) {
    Bytes changed = pixels;
    for (std::size_t i = 0; i < changed.size(); i += 2) changed[i] -= 1;  // half the values
    ImageDifference d = compare(changed);
    EXPECT_EQ(d.largest, 1);
    EXPECT_EQ(d.pixels_beyond, 0);
    EXPECT_DOUBLE_EQ(d.mean, 0.5);
    EXPECT_FALSE(d.within(ImageTolerance{2, 0.05}));
    EXPECT_TRUE(d.within(ImageTolerance{2, 0.5}));
}

TEST_F(ImageCompare, OnlyTheChannelsAFileCarriesCount) {
    // A three-channel file has no alpha to differ in, a matte only its value.
    Bytes changed = pixels;
    for (int x = 0; x < kWidth; ++x) changed[at(x, 0, 3)] ^= 0x40;
    EXPECT_EQ(compare(changed, 3).largest, 0);
    ImageDifference matte = compare(changed, 1);
    EXPECT_EQ(matte.largest, 0x40);
    EXPECT_EQ(matte.pixels_beyond, kWidth);
    EXPECT_DOUBLE_EQ(matte.mean, 64.0 * kWidth / (kWidth * kHeight));
    EXPECT_STREQ(channel_name(matte.largest_channel, matte.channels), "value");
    changed = pixels;
    changed[at(0, 0, 0)] ^= 0x40;
    EXPECT_EQ(compare(changed, 1).largest, 0);
}

TEST_F(ImageCompare, ImagesOfAnotherShapeNeverMatch) {
    write_image(dir.file("reference.qrl"), 4, pixels);
    write_image(dir.file("small.qrl"), 4, pixels, kWidth, kHeight - 1);
    write_image(dir.file("rgb.qrl"), 3, pixels);
    ImageDifference d;
    ASSERT_TRUE(
        compare_images(dir.file("reference.qrl"), dir.file("small.qrl"), ImageTolerance{}, d));
    EXPECT_FALSE(d.same_shape);
    EXPECT_EQ(d.height, kHeight - 1);
    EXPECT_EQ(d.reference_height, kHeight);
    EXPECT_FALSE(d.within(ImageTolerance{255, 255.0}));
    ASSERT_TRUE(
        compare_images(dir.file("reference.qrl"), dir.file("rgb.qrl"), ImageTolerance{}, d));
    EXPECT_FALSE(d.same_shape);
    EXPECT_EQ(d.channels, 3);
}

TEST_F(ImageCompare, AnUnreadableImageIsAFailureThatSaysWhy) {
    write_image(dir.file("reference.qrl"), 4, pixels);
    ImageDifference d;
    EXPECT_FALSE(
        compare_images(dir.file("reference.qrl"), dir.file("missing.qrl"), ImageTolerance{}, d));
    EXPECT_THAT(FBgetError(), HasSubstr("missing.qrl"));
}

TEST_F(ImageCompare, TheDifferencePictureMarksWhereAndHowMuch) {
    Bytes changed = pixels;
    changed[at(2, 1, 0)] += 1;  // within the tolerance
    changed[at(9, 7, 3)] -= 6;  // beyond it, in alpha
    const std::string picture = dir.file("difference.png");
    compare(changed, 4, ImageTolerance{2, 0.05}, picture);

    auto in = OIIO::ImageInput::open(picture);
    ASSERT_TRUE(in);
    const OIIO::ImageSpec& spec = in->spec();
    ASSERT_EQ(spec.width, kWidth);
    ASSERT_EQ(spec.height, kHeight);
    ASSERT_EQ(spec.nchannels, 3);
    Bytes rgb(static_cast<std::size_t>(kWidth) * kHeight * 3);
    ASSERT_TRUE(in->read_image(0, 0, 0, 3, OIIO::TypeDesc::UINT8, rgb.data()));
    auto pixel = [&](int x, int y) {
        const std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * kWidth + x) * 3];
        return std::vector<int>{p[0], p[1], p[2]};
    };
    EXPECT_EQ(pixel(9, 7), (std::vector<int>{255, 0, 0}));  // red: beyond
    std::vector<int> within = pixel(2, 1);                  // yellow: within
    EXPECT_EQ(within[0], within[1]);
    EXPECT_GT(within[0], 0);
    EXPECT_EQ(within[2], 0);
    const std::uint8_t* r = &pixels[at(4, 4, 0)];  // the reference, dimmed
    const int grey = (r[0] + r[1] + r[2]) / 3 / 4;
    EXPECT_EQ(pixel(4, 4), (std::vector<int>{grey, grey, grey}));
}

}  // namespace
}  // namespace sky
