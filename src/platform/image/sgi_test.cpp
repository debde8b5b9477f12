// SGI files through the image file library: our writer against what
// OpenImageIO wrote before it, our reader against what OpenImageIO reads in
// the variants other programs write (run-length coded, 16 bits, more than
// four channels), and hostile files: absurd headers and tables, records
// outside the file, damaged run-length data, every truncation and flipped
// byte.
#include "platform/image/sgi.h"

#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include <OpenImageIO/imageio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/image/fb.h"
#include "platform/image/image_test_support.h"
#include "platform/image/oiio_test_support.h"

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

// Writes `pixels` (4 bytes each) row by row through the library.
void write_rows(const std::string& name, int width, int height, int channels, const Bytes& pixels) {
    FBhandle* out =
        FBopen(name.c_str(), FB_WRITE_ROWS, FB_FORMAT_SGI, width, height, channels, 0, 0, 90.0);
    ASSERT_NE(out, nullptr) << FBgetError();
    for (int y = 0; y < height; ++y)
        ASSERT_NE(FBwrite_and_flush(out, pixels.data() + y * width * 4), 0) << FBgetError();
    ASSERT_NE(FBclose(out), 0) << FBgetError();
}

Bytes read_whole(const std::string& name) {
    FBhandle* in = FBopen(name.c_str(), FB_READ_IMAGE, FB_FORMAT_ANY, 0, 0, 0, 0, 0, 90.0);
    if (in == nullptr) return {};
    Bytes pixels(static_cast<std::size_t>(in->width) * in->height * 4);
    if (FBread(in, pixels.data()) == 0) pixels.clear();
    FBclose(in);
    return pixels;
}

// SGI files were written by OpenImageIO before we wrote them ourselves:
// readers of our files see the same bytes.
TEST(SgiWriter, FilesAreWhatOpenImageIOWrote) {
    ScratchDir dir;
    for (int channels : {1, 3, 4}) {
        for (int height : {1, 5}) {
            const int width = 12;
            const Bytes pixels = random_bytes(width * height * 4, 7 + channels + height);
            Bytes samples;
            for (int i = 0; i < width * height; ++i)
                for (int c = 0; c < channels; ++c)
                    samples.push_back(pixels[i * 4 + (channels == 1 ? 3 : c)]);
            const std::string ours = dir.file("ours.rgb"), theirs = dir.file("theirs.rgb");
            write_rows(ours, width, height, channels, pixels);
            auto sgi = OIIO::ImageOutput::create("sgi");
            OIIO::ImageSpec spec(width, height, channels, OIIO::TypeDesc::UINT8);
            spec.attribute("ImageDescription", "ours.rgb");
            ASSERT_TRUE(sgi->open(theirs, spec));
            ASSERT_TRUE(sgi->write_image(OIIO::TypeDesc::UINT8, samples.data()));
            ASSERT_TRUE(sgi->close());
            EXPECT_EQ(read_bytes(ours), read_bytes(theirs))
                << channels << " channels, " << height << " rows";
        }
    }
}

// An SGI file written where no seek is possible (a pipe) arrives whole.
TEST(SgiWriter, APipeGetsTheWholeFileInOrder) {
    ScratchDir dir;
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Bytes received;
    std::thread reader([&] { received = read_bytes(fifo); });
    const Bytes pixels = random_bytes(9 * 4 * 4, 61);
    write_rows(fifo, 9, 4, 4, pixels);
    reader.join();
    const std::string copy = dir.file("copy.rgb");
    write_bytes(copy, received);
    EXPECT_EQ(read_whole(copy), pixels);
}

// Writes `samples` (16-bit values, width * height * channels, top row
// first) as an SGI file: plain by OpenImageIO's writer, or run-length coded
// here (OpenImageIO writes no such files), with runs of three or more.
void write_theirs(const std::string& name, int width, int height, int channels, int bytes, bool rle,
                  const std::vector<std::uint16_t>& samples) {
    if (!rle) {
        auto out = OIIO::ImageOutput::create("sgi");
        ASSERT_TRUE(out);
        OIIO::TypeDesc type = bytes == 1 ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::UINT16;
        ASSERT_TRUE(out->open(name, OIIO::ImageSpec(width, height, channels, type)));
        ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT16, samples.data()));
        ASSERT_TRUE(out->close());
        return;
    }
    Bytes file(kSgiHeaderSize);
    auto put = [](Bytes& b, std::size_t at, std::uint32_t v, int size) {
        for (int i = 0; i < size; ++i)
            b[at + i] = static_cast<std::uint8_t>(v >> (8 * (size - 1 - i)));
    };
    put(file, 0, 474, 2);
    file[2] = 1;
    file[3] = static_cast<std::uint8_t>(bytes);
    put(file, 4, channels > 1 ? 3 : height > 1 ? 2 : 1, 2);
    put(file, 6, width, 2);
    put(file, 8, height, 2);
    put(file, 10, channels, 2);
    put(file, 16, bytes == 1 ? 255 : 65535, 4);
    const std::size_t rows = static_cast<std::size_t>(height) * channels;
    file.resize(kSgiHeaderSize + 8 * rows);
    for (int c = 0; c < channels; ++c) {
        for (int y = 0; y < height; ++y) {
            std::vector<unsigned> row(width);
            for (int x = 0; x < width; ++x) {
                unsigned v = samples[((height - 1 - y) * width + x) * channels + c];
                row[x] = bytes == 1 ? v >> 8 : v;
            }
            std::vector<unsigned> units;
            for (int x = 0; x < width;) {
                int run = 1;
                while (x + run < width && run < 127 && row[x + run] == row[x]) ++run;
                if (run >= 3) {
                    units.push_back(static_cast<unsigned>(run));
                    units.push_back(row[x]);
                    x += run;
                    continue;
                }
                int literal = 0;
                std::size_t control = units.size();
                units.push_back(0);
                while (x < width && literal < 127 &&
                       !(x + 2 < width && row[x] == row[x + 1] && row[x] == row[x + 2])) {
                    units.push_back(row[x++]);
                    ++literal;
                }
                units[control] = 0x80u | static_cast<unsigned>(literal);
            }
            units.push_back(0);
            const std::size_t entry = static_cast<std::size_t>(c) * height + y;
            put(file, kSgiHeaderSize + 4 * entry, static_cast<std::uint32_t>(file.size()), 4);
            put(file, kSgiHeaderSize + 4 * rows + 4 * entry,
                static_cast<std::uint32_t>(units.size() * bytes), 4);
            for (unsigned u : units) {
                file.resize(file.size() + bytes);
                put(file, file.size() - bytes, u, bytes);
            }
        }
    }
    write_bytes(name, file);
}

TEST(SgiReader, ReadsOtherWritersFilesAsOpenImageIOReadsThem) {
    ScratchDir dir;
    const std::string name = dir.file("theirs.rgb");
    for (int height : {1, 6}) {
        for (int channels : {1, 2, 3, 4, 5}) {
            for (int bytes : {1, 2}) {
                for (bool rle : {false, true}) {
                    const int width = 300;
                    const Bytes noise = random_bytes(width * height * channels * 2, channels);
                    std::vector<std::uint16_t> samples(width * height * channels);
                    for (std::size_t i = 0; i < samples.size(); ++i) {
                        samples[i] =
                            static_cast<std::uint16_t>(noise[2 * i] * 256 + noise[2 * i + 1]);
                        if (i % 400 < 300) samples[i] = 0x8080;  // long runs too
                    }
                    write_theirs(name, width, height, channels, bytes, rle, samples);
                    const Bytes expected = as_openimageio_reads(name);
                    ASSERT_EQ(expected.size(), width * height * 8u);
                    EXPECT_EQ(read_sixteen(name), expected)
                        << channels << " channels of " << bytes << " bytes" << (rle ? ", rle" : "")
                        << ", height " << height << ": " << FBgetError();
                }
            }
        }
    }
}

// A small run-length coded file (we write them plain), to damage.
class SgiDamage : public ::testing::Test {
protected:
    void SetUp() override {
        name_ = dir_.file("small.rgb");
        std::vector<std::uint16_t> samples(9 * 3 * 4);
        const Bytes noise = random_bytes(samples.size(), 9);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<std::uint16_t>((i % 5 < 3 ? 7 : noise[i]) * 257);
        write_theirs(name_, 9, 3, 4, 1, true, samples);
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
    static void put32(Bytes& b, std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    }
    // Table entries of the top row (stored last) of channel 0: its start and length.
    static constexpr std::size_t kTopStart = kSgiHeaderSize + 4 * 2;
    static constexpr std::size_t kTopLength = kSgiHeaderSize + 4 * 3 * 4 + 4 * 2;

    ScratchDir dir_;
    std::string name_;
    Bytes bytes_;
};

TEST_F(SgiDamage, AbsurdHeadersAndTablesAreRefusedBeforeAnythingLarge) {
    EXPECT_THAT(damaged([](Bytes& b) {
                    put16(b, 6, 65535);
                    put16(b, 8, 65535);
                }),
                HasSubstr("truncated: 65535x65535 SGI image in"));
    EXPECT_THAT(damaged([](Bytes& b) {
                    b[2] = 0;  // plain: the samples must all be there
                    put16(b, 6, 4000);
                }),
                HasSubstr("truncated: 4000x3 SGI image"));
    EXPECT_THAT(damaged([](Bytes& b) { put32(b, kTopStart, 0xFFFFFF00); }),
                HasSubstr("file truncated in row 1"));
    EXPECT_THAT(damaged([](Bytes& b) { put32(b, kTopLength, 100000); }),
                HasSubstr("row 1 damaged: run-length record of 100000 bytes"));
    // A count of 100 samples in a row 9 wide.
    EXPECT_THAT(damaged([](Bytes& b) {
                    const std::size_t start =
                        (std::size_t{b[kTopStart + 2]} << 8) | b[kTopStart + 3];
                    b[start] = 100;
                }),
                HasSubstr("row 1 damaged (bad run-length data)"));
    EXPECT_THAT(damaged([](Bytes& b) { b[2] = 2; }), HasSubstr("unknown SGI storage 2"));
    EXPECT_THAT(damaged([](Bytes& b) { b[3] = 4; }), HasSubstr("samples of 4 bytes"));
    EXPECT_THAT(damaged([](Bytes& b) { put16(b, 4, 7); }), HasSubstr("dimension 7"));
    EXPECT_THAT(damaged([](Bytes& b) { put32(b, 104, 3); }), HasSubstr("colour-mapped"));
    EXPECT_THAT(damaged([](Bytes& b) { put16(b, 6, 0); }), HasSubstr("empty SGI image"));
}

// Cuts inside the header's unused bytes all fail alike, and are skipped.
TEST_F(SgiDamage, EveryTruncationIsDetected) {
    const std::string cut = dir_.file("cut");
    for (std::size_t length = 0; length < bytes_.size(); ++length) {
        if (length > 24 && length < kSgiHeaderSize - 1) continue;
        write_bytes(cut, Bytes(bytes_.begin(), bytes_.begin() + length));
        EXPECT_FALSE(read_all(cut)) << "cut at " << length;
        EXPECT_THAT(FBgetError(), HasSubstr(cut)) << "cut at " << length;
    }
}

// Without checksums a flipped byte may go unnoticed, but never past the data
// or without a message naming the file. The header from its image name on
// holds nothing a reader needs but the colour map kind.
TEST_F(SgiDamage, EveryFlippedByteIsReadOrRefused) {
    const std::string name = dir_.file("flipped");
    for (std::size_t at = 2; at < bytes_.size(); ++at) {
        if (at >= 24 && at < kSgiHeaderSize && (at < 104 || at >= 108)) continue;
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
