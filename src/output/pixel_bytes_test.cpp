// Gamma, clamping and the bytes of 8- and 16-bit output files.
#include "output/pixel_bytes.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace sky {
namespace {

struct Converted {
    std::vector<std::uint8_t> bytes;
    std::vector<float> corrected;
};

Converted convert(std::vector<float> colour, ByteConversion conversion) {
    const int width = static_cast<int>(colour.size() / 4);
    Converted out;
    out.bytes.resize(static_cast<std::size_t>(width) * bytes_per_output_pixel(conversion));
    out.corrected.resize(colour.size());
    convert_output_row(colour.data(), width, conversion, out.bytes.data(), out.corrected.data());
    return out;
}

TEST(OutputBytes, ValuesAreClampedAndTruncated) {
    Converted c = convert({300.0f, -4.0f, 127.99f, 255.0f, 0.5f, 254.999f, 1.0f, 400.0f}, {});
    EXPECT_EQ(c.bytes, (std::vector<std::uint8_t>{255, 0, 127, 255, 0, 254, 1, 255}));
    EXPECT_FLOAT_EQ(c.corrected[0], 255.0f);
    EXPECT_FLOAT_EQ(c.corrected[1], 0.0f);
}

TEST(OutputBytes, EveryPixelOfALongRowKeepsItsOwnChannels) {
    // Rows are converted several pixels at a time with a remainder: each
    // byte must land on its own pixel and channel, whatever the width.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float odd[] = {nan, -inf, inf, -0.0f, 254.9999f, 255.5f, 1e30f, -1e-30f, 0.99f};
    for (int width : {1, 3, 4, 5, 8, 11, 16}) {
        std::vector<float> colour(static_cast<std::size_t>(width) * 4);
        for (std::size_t k = 0; k < colour.size(); ++k)
            colour[k] = k % 5 == 4 ? odd[k / 5 % 9] : static_cast<float>((k * 37) % 300) + 0.75f;
        const Converted c = convert(colour, {});
        for (std::size_t k = 0; k < colour.size(); ++k) {
            const float v = colour[k];
            const float expected = v > 0.0f ? (v < 255.0f ? v : 255.0f) : 0.0f;
            EXPECT_EQ(c.bytes[k], static_cast<std::uint8_t>(expected))
                << "width " << width << ", byte " << k;
            EXPECT_EQ(c.corrected[k], expected) << "width " << width << ", channel " << k;
        }
    }
}

TEST(OutputBytes, GammaRaisesColourButNotAlpha) {
    ByteConversion gamma2{true, 2.0f, false};
    Converted c = convert({127.5f, 255.0f, 0.0f, 127.5f, 300.0f, 51.0f, 10.0f, 64.0f}, gamma2);
    EXPECT_FLOAT_EQ(c.corrected[0], 63.75f);
    EXPECT_EQ(c.bytes[0], 63);
    EXPECT_EQ(c.bytes[1], 255);
    EXPECT_EQ(c.bytes[2], 0);
    EXPECT_EQ(c.bytes[3], 127);  // alpha as handed
    EXPECT_EQ(c.bytes[4], 255);  // corrected beyond the range, then clamped
    EXPECT_EQ(c.bytes[5], 10);   // 255 * 0.2^2 = 10.2
    EXPECT_FLOAT_EQ(c.corrected[7], 64.0f);

    ByteConversion gamma045{true, 0.45f, false};
    Converted d = convert({127.5f, 0, 0, 0}, gamma045);
    EXPECT_EQ(d.bytes[0], static_cast<std::uint8_t>(255.0 * std::pow(0.5, 0.45)));
}

TEST(OutputBytes, SixteenBitPixelsCarryFractionsInTheirLowBytes) {
    ByteConversion sixteen{false, 1.0f, true};
    Converted c = convert({127.75f, 0.5f, 255.0f, 10.25f}, sixteen);
    ASSERT_EQ(c.bytes.size(), 8u);
    EXPECT_EQ(c.bytes, (std::vector<std::uint8_t>{192, 128, 0, 64, 127, 0, 255, 10}));
    // A fraction just below one stays in its byte.
    Converted d = convert({0.9999f, 0, 0, 0}, sixteen);
    EXPECT_EQ(d.bytes[0], 255);
    EXPECT_EQ(d.bytes[4], 0);
}

TEST(OutputBytes, ValuesThatAreNotNumbersAreBlack) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Converted c = convert({nan, nan, nan, nan}, ByteConversion{true, 2.2f, true});
    for (std::uint8_t b : c.bytes) EXPECT_EQ(b, 0);
    Converted d = convert({-20.0f, 0, 0, 0}, ByteConversion{true, 2.2f, false});
    EXPECT_EQ(d.bytes[0], 0);
}

}  // namespace
}  // namespace sky
