// Inputs with which the image fuzzer (tests/fuzz/image_fuzzer.cpp) found
// faults, or which hung a render, read through the library: each is refused
// at once with a message naming it, without the hang, crash, leak or huge
// allocation it once caused (the sanitizer builds watch for the last ones).
// They live among the fuzzer's seeds, so every fuzzing run replays them.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/image/fb.h"
#include "platform/image/image_test_support.h"

namespace sky {
namespace {

using ::testing::HasSubstr;

struct Finding {
    const char* file;
    const char* reason;
};

TEST(HostileImages, EachIsRefusedAtOnceNamingTheFile) {
    const Finding findings[] = {
        // OpenImageIO's RLA reader looped for ever on 0 bits per sample.
        {"rla_zero_bits.rla", "unsupported RLA colour channels (type 0, 0 bits per sample)"},
        // An RLA header with an impossible window: OpenImageIO aborted
        // while trying its readers on it in turn.
        {"rla_bad_window.rla", "not an image file of a format skyloom reads"},
        // A PNG file cut short: reading it leaked through libpng.
        {"png_cut.png", "PNG file truncated (no end chunk)"},
        // 35 bytes whose header declares a 2 GB text attribute.
        {"exr_huge_attribute.exr", "OpenEXR file refused: attribute comments larger than the file"},
        // A box declared 144 bytes long: OpenEXR read its 16 and went on
        // reading the rest of the header from there, into string
        // attributes of 700 MB each.
        {"exr_attribute_size.exr",
         "OpenEXR file refused: attribute dataWindow of type box2i declares 144 bytes, not 16"},
        // A DPX header for which OpenImageIO allocated 3 GB (DPX is not read).
        {"dpx_huge_allocation.dpx", "not an image file of a format skyloom reads"},
    };
    for (const Finding& finding : findings) {
        const std::string name =
            std::string(SKYLOOM_SOURCE_DIR) + "/tests/fuzz/seeds/images/" + finding.file;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(test::read_all(name)) << finding.file;
        EXPECT_THAT(FBgetError(), HasSubstr(name + ": " + finding.reason));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5))
            << finding.file;
    }
}

// A JPEG file whose Photoshop segment declares an IPTC record larger than
// itself: OpenImageIO's JPEG reader read past the segment decoding it. The
// metadata is left out of what that reader sees, and the pixels are those of
// the same file without the segment.
TEST(HostileImages, LyingJpegMetadataIsLeftOutPixelsKept) {
    const std::string name =
        std::string(SKYLOOM_SOURCE_DIR) + "/tests/fuzz/seeds/images/jpeg_iptc_overread.jpg";
    const std::vector<std::uint8_t> bytes = test::read_bytes(name);
    const std::uint8_t marker[] = {0xFF, 0xED};
    const auto at = std::search(bytes.begin(), bytes.end(), std::begin(marker), std::end(marker));
    ASSERT_LT(at + 4, bytes.end());
    const std::size_t length = at[2] << 8 | at[3];
    std::vector<std::uint8_t> without(bytes.begin(), at);
    without.insert(without.end(), at + 2 + static_cast<std::ptrdiff_t>(length), bytes.end());

    test::ScratchDir dir;
    test::write_bytes(dir.file("without.jpg"), without);
    const std::vector<std::uint8_t> expected = test::read_sixteen(dir.file("without.jpg"));
    ASSERT_FALSE(expected.empty()) << FBgetError();
    EXPECT_EQ(test::read_sixteen(name), expected) << FBgetError();
}

}  // namespace
}  // namespace sky
