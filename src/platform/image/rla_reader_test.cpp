// The RLA reader through the image file library: the files other programs
// write (OpenImageIO's variants, read here as OpenImageIO reads them), the
// file that made OpenImageIO's reader loop for ever, and hostile files:
// absurd headers, offsets and records outside the file, damaged run-length
// data, every truncation and flipped byte.
#include "platform/image/rla_reader.h"

#include <cstring>
#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/image/fb.h"
#include "platform/image/image_test_support.h"
#include "platform/image/oiio_test_support.h"
#include "platform/image/rla_writer.h"

namespace sky {
namespace {

using test::as_openimageio_reads;
using test::random_bytes;
using test::read_all;
using test::read_bytes;
using test::read_sixteen;
using test::ScratchDir;
using test::write_bytes;
using ::testing::HasSubstr;
using Bytes = std::vector<std::uint8_t>;

// Writes `samples` (16-bit values, width * height * channels) with
// OpenImageIO's RLA writer, stored as `type`.
void write_theirs(const std::string& name, int width, int height, int channels, OIIO::TypeDesc type,
                  const std::vector<std::uint16_t>& samples) {
    auto out = OIIO::ImageOutput::create("rla");
    ASSERT_TRUE(out);
    ASSERT_TRUE(out->open(name, OIIO::ImageSpec(width, height, channels, type)));
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT16, samples.data()));
    ASSERT_TRUE(out->close());
}

TEST(RlaReader, ReadsOtherWritersFilesAsOpenImageIOReadsThem) {
    ScratchDir dir;
    const int width = 300, height = 5;
    const std::string name = dir.file("theirs.rla");
    for (int channels : {1, 2, 3, 4, 5}) {
        for (OIIO::TypeDesc type :
             {OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT16, OIIO::TypeDesc::FLOAT}) {
            const Bytes noise = random_bytes(width * height * channels * 2, channels);
            std::vector<std::uint16_t> samples(width * height * channels);
            for (std::size_t i = 0; i < samples.size(); ++i) {
                samples[i] = static_cast<std::uint16_t>(noise[2 * i] * 256 + noise[2 * i + 1]);
                if (i % 200 < 150) samples[i] = 0xFFFF;  // long runs too
            }
            write_theirs(name, width, height, channels, type, samples);
            const Bytes expected = as_openimageio_reads(name);
            ASSERT_EQ(expected.size(), width * height * 8u);
            EXPECT_EQ(read_sixteen(name), expected)
                << channels << " channels of " << type.c_str() << ": " << FBgetError();
        }
    }
}

// A small file of our writer's, to damage.
class RlaDamage : public ::testing::Test {
protected:
    void SetUp() override {
        name_ = dir_.file("small.rla");
        FBhandle* out = FBopen(name_.c_str(), FB_WRITE_IMAGE, FB_FORMAT_RLA, 9, 3, 4, 0, 0, 90.0);
        ASSERT_NE(out, nullptr) << FBgetError();
        ASSERT_NE(FBwrite(out, random_bytes(9 * 3 * 4, 5).data()), 0);
        ASSERT_NE(FBclose(out), 0) << FBgetError();
        bytes_ = read_bytes(name_);
        ASSERT_TRUE(read_all(name_)) << FBgetError();
    }

    // The file with `patch` applied, read through the library: the error, or
    // "" when it reads.
    std::string damaged(void (*patch)(Bytes&)) {
        Bytes copy = bytes_;
        patch(copy);
        const std::string name = dir_.file("damaged");
        write_bytes(name, copy);
        if (read_all(name)) return "";
        EXPECT_THAT(FBgetError(), HasSubstr(name));
        return FBgetError();
    }

    static void put16(Bytes& b, std::size_t at, unsigned v) {
        b[at] = static_cast<std::uint8_t>(v >> 8);
        b[at + 1] = static_cast<std::uint8_t>(v);
    }
    // The offset of the top row, which is read first: the table's last entry.
    static std::size_t top_row(const Bytes& b) {
        const std::size_t entry = kRlaHeaderSize + 4 * 2;
        return (std::size_t{b[entry]} << 24) | (std::size_t{b[entry + 1]} << 16) |
               (std::size_t{b[entry + 2]} << 8) | b[entry + 3];
    }

    ScratchDir dir_;
    std::string name_;
    Bytes bytes_;
};

TEST_F(RlaDamage, AbsurdHeadersAndRecordsAreRefusedBeforeAnythingLarge) {
    // 65535 x 65535 pixels in a file of some hundred bytes.
    EXPECT_THAT(damaged([](Bytes& b) {
                    for (std::size_t window : {0, 8}) {
                        put16(b, window, 0x8000);  // -32768 to 32766
                        put16(b, window + 2, 0x7FFE);
                        put16(b, window + 4, 0x8000);
                        put16(b, window + 6, 0x7FFE);
                    }
                }),
                HasSubstr("truncated: 65535x65535 RLA image in"));
    EXPECT_THAT(damaged([](Bytes& b) { b[kRlaHeaderSize + 8] = 0x70; }),
                HasSubstr("row 1 damaged: offset"));
    EXPECT_THAT(damaged([](Bytes& b) { put16(b, top_row(b), 0xFFFF); }),
                HasSubstr("file truncated in row 1"));
    // A literal of 128 samples in a row 9 wide.
    EXPECT_THAT(damaged([](Bytes& b) { b[top_row(b) + 2] = 0x80; }),
                HasSubstr("row 1 damaged (bad run-length data in channel 1)"));
    EXPECT_THAT(damaged([](Bytes& b) { put16(b, 18, 3); }),
                HasSubstr("unsupported RLA colour channels (type 3, 8 bits"));
    EXPECT_THAT(damaged([](Bytes& b) { put16(b, 662, 40); }),
                HasSubstr("unsupported RLA matte channels (type 0, 40 bits"));
    // The older revision is read as well.
    EXPECT_EQ(damaged([](Bytes& b) { put16(b, 26, 0); }), "");
}

// Files cut inside the header are no RLA files (and go to OpenImageIO,
// which takes its time over each): a few of those, then every other length.
TEST_F(RlaDamage, EveryTruncationIsDetected) {
    const std::string cut = dir_.file("cut");
    std::vector<std::size_t> lengths = {0, 1, 27, kRlaHeaderSize - 1};
    for (std::size_t length = kRlaHeaderSize; length < bytes_.size(); ++length)
        lengths.push_back(length);
    for (std::size_t length : lengths) {
        write_bytes(cut, Bytes(bytes_.begin(), bytes_.begin() + length));
        EXPECT_FALSE(read_all(cut)) << "cut at " << length;
        EXPECT_THAT(FBgetError(), HasSubstr(cut)) << "cut at " << length;
    }
}

// RLA has no checksums: a flipped byte may go unnoticed, but never past the
// data (the sanitizer builds see to that) or without a message naming the
// file. The header's fields from the sample depths on matter; before them
// come texts, and the fields that make a file RLA at all, which are the
// absurd headers' business.
TEST_F(RlaDamage, EveryFlippedByteIsReadOrRefused) {
    const std::string name = dir_.file("flipped");
    for (std::size_t at = 658; at < bytes_.size(); ++at) {
        for (std::uint8_t mask : {0x01, 0xFF}) {
            Bytes copy = bytes_;
            copy[at] ^= mask;
            write_bytes(name, copy);
            if (!read_all(name)) {
                EXPECT_THAT(FBgetError(), HasSubstr(name)) << "byte " << at;
            }
        }
    }
}

}  // namespace
}  // namespace sky
