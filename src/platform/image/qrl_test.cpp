// Tests of the native .qrl format (its run-length codec is tested in
// run_length_test.cpp): the byte layout documented in docs/qrl-format.md,
// streaming, and hostile files (every truncation, every flipped byte, absurd
// headers) read through FBopen.
#include "platform/image/qrl.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/image/fb.h"
#include "platform/image/image_test_support.h"

namespace sky {
namespace {

using test::random_bytes;
using test::read_all;
using test::read_bytes;
using test::ScratchDir;
using test::write_bytes;
using ::testing::HasSubstr;
using Bytes = std::vector<std::uint8_t>;

// Interleaved samples of `count` pixels with `channels` channels, mixing
// noise, long runs and runs of two (the encoder's awkward case).
Bytes mixed_samples(std::size_t count, int channels, unsigned seed) {
    Bytes noise = random_bytes(count * channels, seed);
    for (std::size_t i = 0; i < noise.size(); ++i) {
        std::size_t pixel = i / channels;
        if ((pixel / 40) % 3 == 1) noise[i] = static_cast<std::uint8_t>(i % channels);
        if ((pixel / 40) % 3 == 2) noise[i] = static_cast<std::uint8_t>(pixel / 2);
    }
    return noise;
}

// The worked example of docs/qrl-format.md: 4 x 1 pixels, 3 channels, red
// red red blue.
TEST(QrlFile, MatchesTheDocumentedWorkedExample) {
    ScratchDir dir;
    const std::string name = dir.file("example.qrl");
    const Bytes row = {255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 0, 255};
    QrlWriter writer;
    ASSERT_TRUE(writer.open(name.c_str(), 4, 1, 3)) << writer.error();
    ASSERT_TRUE(writer.write_row(row.data(), false));
    ASSERT_TRUE(writer.close()) << writer.error();
    const Bytes documented = {0x89, 0x51, 0x52, 0x4C, 0x0D, 0x0A, 0x1A, 0x0A, 0x01,
                              0x00, 0x04, 0x00, 0x01, 0x00, 0x03, 0x08, 0x01, 0x00,
                              0x00, 0x00, 0x6E, 0x26, 0xB7, 0xFC,  // header
                              0x0A, 0x00, 0x00, 0x00, 0xFE, 0xFF, 0x00, 0x00, 0xFD,
                              0x00, 0xFE, 0x00, 0x00, 0xFF, 0xE3, 0x97, 0xF1, 0xA6,  // row 1
                              0x51, 0x45, 0x4E, 0x44, 0x01, 0x00, 0x00, 0x00};       // end marker
    EXPECT_EQ(read_bytes(name), documented);
}

TEST(QrlFile, RowsReachTheDiskAsTheyAreWrittenAndReadOneByOne) {
    ScratchDir dir;
    const std::string name = dir.file("stream.qrl");
    const int width = 300, channels = 4;
    QrlWriter writer;
    ASSERT_TRUE(writer.open(name.c_str(), width, 3, channels)) << writer.error();
    Bytes first = mixed_samples(width, channels, 1), second = mixed_samples(width, channels, 2);
    ASSERT_TRUE(writer.write_row(first.data(), true));
    ASSERT_TRUE(writer.write_row(second.data(), true));
    EXPECT_GT(std::filesystem::file_size(name), kQrlHeaderSize + 2 * 8);

    // The writer is still open: a reader sees the finished rows, and then
    // reports the file as cut short rather than inventing a third.
    QrlReader reader;
    ASSERT_TRUE(reader.open(name.c_str())) << reader.error();
    EXPECT_EQ(reader.width(), width);
    EXPECT_EQ(reader.height(), 3);
    EXPECT_EQ(reader.channels(), channels);
    Bytes row(width * channels);
    ASSERT_TRUE(reader.read_row(row.data())) << reader.error();
    EXPECT_EQ(row, first);
    ASSERT_TRUE(reader.read_row(row.data())) << reader.error();
    EXPECT_EQ(row, second);
    EXPECT_FALSE(reader.read_row(row.data()));
    EXPECT_THAT(reader.error(), HasSubstr("truncated in row 3 of 3"));
}

TEST(QrlFile, FlatAreasTakeLittleSpace) {
    ScratchDir dir;
    const std::string name = dir.file("flat.qrl");
    const int width = 645, height = 486;
    FBhandle* out =
        FBopen(name.c_str(), FB_WRITE_ROWS, FB_FORMAT_QRL, width, height, 4, 0, 0, 90.0);
    ASSERT_NE(out, nullptr) << FBgetError();
    Bytes row(width * 4, 90);
    for (int y = 0; y < height; ++y) ASSERT_NE(FBwrite_and_flush(out, row.data()), 0);
    ASSERT_NE(FBclose(out), 0) << FBgetError();
    EXPECT_LT(std::filesystem::file_size(name), std::uintmax_t{width} * height * 4 / 40);
}

// Reads a whole file through the public interface; true if it all went well.
// Either way the library must not crash and must say what went wrong.
class QrlDamage : public ::testing::Test {
protected:
    void SetUp() override {
        name_ = dir_.file("small.qrl");
        FBhandle* out = FBopen(name_.c_str(), FB_WRITE_IMAGE, FB_FORMAT_QRL, 9, 3, 4, 0, 0, 90.0);
        ASSERT_NE(out, nullptr) << FBgetError();
        Bytes pixels = mixed_samples(9 * 3, 4, 5);
        ASSERT_NE(FBwrite(out, pixels.data()), 0);
        ASSERT_NE(FBclose(out), 0) << FBgetError();
        bytes_ = read_bytes(name_);
        ASSERT_TRUE(read_all(name_)) << FBgetError();
    }

    ScratchDir dir_;
    std::string name_;
    Bytes bytes_;
};

TEST_F(QrlDamage, EveryTruncationIsDetected) {
    const std::string cut = dir_.file("cut");
    for (std::size_t length = 0; length < bytes_.size(); ++length) {
        write_bytes(cut, Bytes(bytes_.begin(), bytes_.begin() + length));
        EXPECT_FALSE(read_all(cut)) << "cut at " << length;
        EXPECT_THAT(FBgetError(), HasSubstr(cut)) << "cut at " << length;
    }
}

TEST_F(QrlDamage, EveryFlippedByteIsDetected) {
    const std::string damaged = dir_.file("damaged");
    for (std::size_t at = kQrlMagicSize; at < bytes_.size(); ++at) {
        for (std::uint8_t mask : {0x01, 0x80, 0xFF}) {
            Bytes copy = bytes_;
            copy[at] ^= mask;
            write_bytes(damaged, copy);
            EXPECT_FALSE(read_all(damaged)) << "byte " << at << " ^ " << int{mask};
            EXPECT_THAT(FBgetError(), HasSubstr(damaged));
        }
    }
}

TEST_F(QrlDamage, DataAfterTheEndMarkerIsRejected) {
    Bytes longer = bytes_;
    longer.push_back(0);
    const std::string name = dir_.file("longer");
    write_bytes(name, longer);
    EXPECT_FALSE(read_all(name));
    EXPECT_THAT(FBgetError(), HasSubstr("unexpected data after the last row"));
}

// A header with a valid checksum, so that only the checks on its fields stop it.
Bytes header(unsigned version, unsigned width, unsigned height, unsigned channels, unsigned bits,
             unsigned compression, unsigned flags = 0) {
    Bytes h = {0x89, 'Q', 'R', 'L', '\r', '\n', 0x1A, '\n'};
    for (unsigned v : {version, width, height}) {
        h.push_back(static_cast<std::uint8_t>(v));
        h.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    for (unsigned v : {channels, bits, compression, flags, 0u, 0u})
        h.push_back(static_cast<std::uint8_t>(v));
    std::uint32_t crc = qrl_crc32(h.data(), h.size());
    for (int i = 0; i < 4; ++i) h.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
    return h;
}

TEST(QrlHostile, AbsurdHeadersAreRejectedBeforeAnythingLarge) {
    ScratchDir dir;
    struct Case {
        Bytes bytes;
        const char* reason;
    };
    // Long enough for its rows, but a row claims more than a row can take.
    Bytes huge_row = header(1, 10, 2, 3, 8, 1);
    for (std::uint8_t b : {0xFF, 0xFF, 0xFF, 0xFF}) huge_row.push_back(b);
    huge_row.resize(huge_row.size() + 60, 1);
    // 65535 x 65535 pixels in a few bytes: refused before a row is read.
    Bytes missing_rows = header(1, 65535, 65535, 4, 8, 1);
    for (std::uint8_t b : {0x10, 0x00, 0x00, 0x00, 1, 2}) missing_rows.push_back(b);
    const Bytes valid = header(1, 10, 10, 3, 8, 1);
    Bytes bad_crc = header(1, 4, 4, 3, 8, 1);
    bad_crc[10] = 200;
    const Case cases[] = {
        {huge_row, "exceeds the limit"},
        {missing_rows, "truncated: 65535x65535 image in 30 bytes"},
        {bad_crc, "checksum"},
        {header(1, 0, 10, 3, 8, 1), "empty image"},
        {header(1, 10, 0, 3, 8, 1), "empty image"},
        {header(1, 10, 10, 2, 8, 1), "channel count 2"},
        {header(1, 10, 10, 255, 8, 1), "channel count 255"},
        {header(1, 10, 10, 3, 16, 1), "16 bits"},
        {header(1, 10, 10, 3, 8, 0), "compression 0"},
        {header(2, 10, 10, 3, 8, 1), "version 2"},
        {header(1, 10, 10, 3, 8, 1, 1), "flags"},
        {Bytes(valid.begin(), valid.begin() + 12), "truncated in its header"},
    };
    const std::string name = dir.file("hostile");
    for (const Case& c : cases) {
        write_bytes(name, c.bytes);
        EXPECT_FALSE(read_all(name));
        EXPECT_THAT(FBgetError(), HasSubstr(c.reason));
    }
}

}  // namespace
}  // namespace sky
