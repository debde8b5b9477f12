// Tests of the image file library through its public calls: write-read round
// trips for every format, the pixel-layout conventions, format recognition by
// content, orientation checked independently of the library, and failures
// (bad arguments, damaged files, incomplete and unwritable output).
#include "platform/image/fb.h"

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <OpenImageIO/imageio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/image/image_test_support.h"

namespace sky {
namespace {

using test::random_bytes;
using test::read_bytes;
using test::ScratchDir;
using test::write_bytes;
using ::testing::HasSubstr;
using Bytes = std::vector<std::uint8_t>;

FBhandle* open_for_reading(const std::string& name, int mode = FB_READ_ROWS) {
    return FBopen(name.c_str(), mode, FB_FORMAT_ANY, 0, 0, 0, 0, 0, 90.0);
}

FBhandle* open_for_writing(const std::string& name, int mode, int format, int width, int height,
                           int channels) {
    return FBopen(name.c_str(), mode, format, width, height, channels, 0, 0, 90.0);
}

// Writes `pixels` (4 or 8 bytes per pixel, as the handle expects) row by row.
void write_rows(const std::string& name, int format, int width, int height, int channels,
                const Bytes& pixels, bool sixteen) {
    FBhandle* out = open_for_writing(name, FB_WRITE_ROWS, format, width, height, channels);
    ASSERT_NE(out, nullptr) << FBgetError();
    FBtiff16_set(out, sixteen);
    std::size_t row_bytes = static_cast<std::size_t>(width) * (sixteen ? 8 : 4);
    for (int y = 0; y < height; ++y)
        ASSERT_NE(FBwrite_and_flush(out, pixels.data() + y * row_bytes), 0) << FBgetError();
    ASSERT_NE(FBclose(out), 0) << FBgetError();
}

Bytes read_whole(const std::string& name, bool sixteen) {
    FBhandle* in = open_for_reading(name, FB_READ_IMAGE);
    if (in == nullptr) {
        ADD_FAILURE() << FBgetError();
        return {};
    }
    FBtiff16_set(in, sixteen);
    Bytes pixels(static_cast<std::size_t>(in->width) * in->height * (sixteen ? 8 : 4));
    EXPECT_EQ(FBread(in, pixels.data()), in->width * in->height) << FBgetError();
    EXPECT_NE(FBclose(in), 0);
    return pixels;
}

// What a reader gets back from `written` after a trip through a file with
// `channels` channels of 16 (file16) or 8 bits. Values are compared as 16-bit
// quantities: an 8-bit byte v stands for v * 257 and 8-bit files keep the
// high byte.
Bytes expected_pixels(const Bytes& written, bool written16, int channels, bool file16,
                      bool read16) {
    std::size_t count = written.size() / (written16 ? 8 : 4);
    Bytes result(count * (read16 ? 8 : 4));
    for (std::size_t i = 0; i < count; ++i) {
        for (int c = 0; c < 4; ++c) {
            unsigned v = written16 ? written[i * 8 + 4 + c] * 256u + written[i * 8 + c]
                                   : written[i * 4 + c] * 257u;
            if (!file16) v = (v >> 8) * 257u;
            if (channels == 1 && c < 3) v = 0;
            if (channels == 3 && c == 3) v = 0xFFFF;
            if (read16) {
                result[i * 8 + c] = static_cast<std::uint8_t>(v & 0xFF);
                result[i * 8 + 4 + c] = static_cast<std::uint8_t>(v >> 8);
            } else {
                result[i * 4 + c] = static_cast<std::uint8_t>(v >> 8);
            }
        }
    }
    return result;
}

// ------------------------------------------------------------ round trips

struct Size {
    int width, height;
};

class FbRoundTrip : public ::testing::TestWithParam<std::tuple<int, int, Size>> {};

TEST_P(FbRoundTrip, RowsAndWholeImagesComeBackExactly) {
    auto [format, channels, size] = GetParam();
    const int width = size.width, height = size.height;
    const bool file16 = format == FB_FORMAT_TIFF16;  // written with 16-bit transfer by default
    const std::size_t bpp = file16 ? 8 : 4;
    ScratchDir dir;
    const std::string name = dir.file("frame.001");

    // Row by row, flushed, read back row by row.
    Bytes pixels = random_bytes(width * height * bpp, 1000u + format * 10 + channels);
    {
        FBhandle* out = open_for_writing(name, FB_WRITE_ROWS, format, width, height, channels);
        ASSERT_NE(out, nullptr) << FBgetError();
        for (int y = 0; y < height; ++y)
            ASSERT_NE(FBwrite_and_flush(out, pixels.data() + y * width * bpp), 0) << FBgetError();
        ASSERT_NE(FBclose(out), 0) << FBgetError();
    }
    FBhandle* in = open_for_reading(name, FB_READ_ROWS);
    ASSERT_NE(in, nullptr) << FBgetError();
    EXPECT_EQ(in->width, width);
    EXPECT_EQ(in->height, height);
    EXPECT_EQ(in->channels, channels);
    EXPECT_EQ(in->format, format);  // found from the content, whatever the name
    FBtiff16_set(in, file16);
    Bytes expected = expected_pixels(pixels, file16, channels, file16, file16);
    Bytes row(width * bpp);
    for (int y = 0; y < height; ++y) {
        ASSERT_EQ(FBread(in, row.data()), width) << FBgetError();
        ASSERT_TRUE(std::equal(row.begin(), row.end(), expected.begin() + y * width * bpp))
            << "row " << y;
    }
    EXPECT_EQ(FBread(in, row.data()), 0);
    EXPECT_THAT(FBgetError(), HasSubstr("no rows left"));
    EXPECT_NE(FBclose(in), 0);

    // Whole image (mode 2), read back whole (mode 1).
    pixels = random_bytes(width * height * bpp, 2000u + format * 10 + channels);
    FBhandle* out = open_for_writing(name, FB_WRITE_IMAGE, format, width, height, channels);
    ASSERT_NE(out, nullptr) << FBgetError();
    ASSERT_NE(FBwrite(out, pixels.data()), 0) << FBgetError();
    ASSERT_NE(FBclose(out), 0) << FBgetError();
    EXPECT_EQ(read_whole(name, file16), expected_pixels(pixels, file16, channels, file16, file16));
}

std::string round_trip_name(const ::testing::TestParamInfo<FbRoundTrip::ParamType>& info) {
    const auto& [format, channels, size] = info.param;
    return "format" + std::to_string(format) + "_" + std::to_string(channels) + "ch_" +
           std::to_string(size.width) + "x" + std::to_string(size.height);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormat, FbRoundTrip,
    ::testing::Combine(::testing::Values(FB_FORMAT_QRL, FB_FORMAT_SGI, FB_FORMAT_TIFF,
                                         FB_FORMAT_TIFF16, FB_FORMAT_RLA),
                       ::testing::Values(1, 3, 4),
                       ::testing::Values(Size{1, 1}, Size{7, 3}, Size{645, 486})),
    round_trip_name);

TEST(FbSixteenBit, TransferSwitchesBetweenHighBytesAndFullSamples) {
    ScratchDir dir;
    const int width = 5, height = 4;

    // The renderer's example: 127.75 travels as low byte 192, high byte 127.
    Bytes deep = random_bytes(width * height * 8, 7);
    deep[0] = 192;
    deep[4] = 127;
    const std::string tiff16 = dir.file("deep");
    write_rows(tiff16, FB_FORMAT_TIFF16, width, height, 4, deep, true);
    Bytes full = read_whole(tiff16, true);
    EXPECT_EQ(full, deep);
    Bytes high = read_whole(tiff16, false);  // reading starts with transfer off
    ASSERT_EQ(high.size(), deep.size() / 2);
    for (std::size_t i = 0; i < high.size(); ++i) EXPECT_EQ(high[i], deep[(i / 4) * 8 + 4 + i % 4]);

    // An 8-bit buffer into a 16-bit file: full scale stays full scale.
    Bytes shallow = random_bytes(width * height * 4, 8);
    shallow[0] = 255;
    write_rows(tiff16, FB_FORMAT_TIFF16, width, height, 4, shallow, false);
    EXPECT_EQ(read_whole(tiff16, true), expected_pixels(shallow, false, 4, true, true));
    EXPECT_EQ(read_whole(tiff16, false), shallow);

    // Asking for 16 bits from an 8-bit file gives both bytes equal.
    const std::string tiff8 = dir.file("shallow");
    write_rows(tiff8, FB_FORMAT_TIFF, width, height, 3, shallow, false);
    EXPECT_EQ(read_whole(tiff8, true), expected_pixels(shallow, false, 3, false, true));
}

TEST(FbHandle, NamePointsAtTheHandlesOwnCopy) {
    ScratchDir dir;
    std::string name = dir.file("copy.qrl");
    write_rows(name, FB_FORMAT_QRL, 3, 2, 3, Bytes(3 * 2 * 4, 9), false);
    FBhandle* in = open_for_reading(name);
    ASSERT_NE(in, nullptr) << FBgetError();
    EXPECT_NE(static_cast<const void*>(in->name), static_cast<const void*>(name.c_str()));
    name.assign(name.size(), 'x');  // the caller's string may change or go away
    EXPECT_THAT(in->name, HasSubstr("copy.qrl"));
    FBclose(in);
}

TEST(FbOtherFormats, GreyAlphaSixteenBitPngArrivesAsRgbaExactly) {
    ScratchDir dir;
    const std::string name = dir.file("grey");  // no extension: found by content
    const int width = 9, height = 2;
    std::vector<std::uint16_t> samples(width * height * 2);
    Bytes noise = random_bytes(samples.size() * 2, 11);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = noise[2 * i] * 256 + noise[2 * i + 1];
    auto png = OIIO::ImageOutput::create("png");
    OIIO::ImageSpec spec(width, height, 2, OIIO::TypeDesc::UINT16);
    spec.alpha_channel = 1;
    spec.attribute("oiio:UnassociatedAlpha", 1);
    ASSERT_TRUE(png->open(name, spec)) << png->geterror();
    ASSERT_TRUE(png->write_image(OIIO::TypeDesc::UINT16, samples.data()));
    ASSERT_TRUE(png->close());

    Bytes pixels = read_whole(name, true);
    ASSERT_EQ(pixels.size(), static_cast<std::size_t>(width * height * 8));
    for (int i = 0; i < width * height; ++i) {
        for (int c = 0; c < 4; ++c) {
            unsigned want = samples[i * 2 + (c == 3 ? 1 : 0)];
            EXPECT_EQ(pixels[i * 8 + c] + 256u * pixels[i * 8 + 4 + c], want) << i << "/" << c;
        }
    }
}

TEST(FbOtherFormats, FilesWithMoreThanFourChannelsGiveTheirFirstFour) {
    ScratchDir dir;
    const std::string name = dir.file("layers.tif");
    const int width = 6, height = 3, channels = 6;
    const Bytes samples = random_bytes(width * height * channels, 12);
    auto tiff = OIIO::ImageOutput::create("tiff");
    ASSERT_TRUE(tiff->open(name, OIIO::ImageSpec(width, height, channels, OIIO::TypeDesc::UINT8)));
    ASSERT_TRUE(tiff->write_image(OIIO::TypeDesc::UINT8, samples.data()));
    ASSERT_TRUE(tiff->close());

    FBhandle* in = open_for_reading(name);
    ASSERT_NE(in, nullptr) << FBgetError();
    EXPECT_EQ(in->channels, 4);
    Bytes row(width * 4);
    for (int y = 0; y < height; ++y) {
        ASSERT_EQ(FBread(in, row.data()), width) << FBgetError();
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c)
                EXPECT_EQ(row[x * 4 + c], samples[(y * width + x) * channels + c]);
    }
    FBclose(in);
}

// OpenImageIO 2.4's own RLA writer loses the last sample of rows like these
// and every sample of rows one pixel wide; ours must not.
TEST(FbRla, RowsThatDefeatOpenImageIOsWriterComeBackExactly) {
    ScratchDir dir;
    const std::string name = dir.file("runs.rla");
    const Bytes rows = {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 9, 9, 9, 9,  // run of 3, then 1 other
                        1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2};
    write_rows(name, FB_FORMAT_RLA, 4, 2, 4, rows, false);
    EXPECT_EQ(read_whole(name, false), rows);
    const Bytes one = {200, 100, 50, 25};
    write_rows(name, FB_FORMAT_RLA, 1, 1, 4, one, false);
    EXPECT_EQ(read_whole(name, false), one);
}

TEST(FbRla, HeaderMatchesWhatOpenImageIOWrites) {
    ScratchDir dir;
    for (int channels : {1, 3, 4}) {
        const std::string ours = dir.file("ours.rla"), theirs = dir.file("theirs.rla");
        const int width = 12, height = 5;
        write_rows(ours, FB_FORMAT_RLA, width, height, channels, Bytes(width * height * 4, 3),
                   false);
        auto rla = OIIO::ImageOutput::create("rla");
        ASSERT_TRUE(
            rla->open(theirs, OIIO::ImageSpec(width, height, channels, OIIO::TypeDesc::UINT8)));
        ASSERT_TRUE(
            rla->write_image(OIIO::TypeDesc::UINT8, Bytes(width * height * channels, 3).data()));
        ASSERT_TRUE(rla->close());
        const Bytes a = read_bytes(ours), b = read_bytes(theirs);
        ASSERT_GE(a.size(), 740u);
        ASSERT_GE(b.size(), 740u);
        for (std::size_t i = 0; i < 740; ++i) {
            bool program = i >= 0x190 && i < 0x1D0, date = i >= 0x210 && i < 0x224;
            if (!program && !date) {
                EXPECT_EQ(a[i], b[i]) << channels << " channels, byte " << i;
            }
        }
    }
}

// ------------------------------------------------------------------ JPEG

// The bytes of a JPEG file OpenImageIO writes of `pixels` (3 bytes a pixel).
Bytes jpeg_of(const std::string& name, const Bytes& pixels, int width, int height) {
    auto out = OIIO::ImageOutput::create("jpeg");
    EXPECT_TRUE(out && out->open(name, OIIO::ImageSpec(width, height, 3, OIIO::TypeDesc::UINT8)));
    EXPECT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, pixels.data()));
    EXPECT_TRUE(out->close());
    return read_bytes(name);
}

// A marker segment; `length` as its header declares it, if not its own.
Bytes segment(std::uint8_t marker, const Bytes& payload, int length = -1) {
    if (length < 0) length = static_cast<int>(payload.size()) + 2;
    Bytes bytes = {0xFF, marker, static_cast<std::uint8_t>(length >> 8),
                   static_cast<std::uint8_t>(length & 0xFF)};
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

// Photoshop's metadata: a caption in an IPTC resource (type 0x404, no name)
// that says it holds `declared` bytes.
Bytes photoshop(std::uint32_t declared) {
    const std::string caption = "\x1c\x02\x78\x00\x05hello";
    std::string text = std::string("Photoshop 3.0\0008BIM\x04\x04\0\0", 22);
    for (int shift = 24; shift >= 0; shift -= 8)
        text.push_back(static_cast<char>(declared >> shift));
    text += caption;
    return Bytes(text.begin(), text.end());
}

// Where the segments after the start marker end, in order, up to the scan.
std::vector<std::size_t> segment_ends(const Bytes& jpeg) {
    std::vector<std::size_t> ends;
    for (std::size_t at = 2; at + 4 <= jpeg.size() && jpeg[at + 1] != 0xDA;) {
        at += 2 + (jpeg[at + 2] << 8 | jpeg[at + 3]);
        ends.push_back(at);
    }
    return ends;
}

Bytes inserted(const Bytes& jpeg, std::size_t at, const Bytes& extra) {
    Bytes bytes(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(at));
    bytes.insert(bytes.end(), extra.begin(), extra.end());
    bytes.insert(bytes.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(at), jpeg.end());
    return bytes;
}

// OpenImageIO's JPEG reader trusts the sizes inside Photoshop metadata and
// read past the segment when they lied. The metadata is left out of what it
// reads, whatever it says, without changing a pixel.
TEST(FbJpeg, PhotoshopMetadataChangesNoPixel) {
    ScratchDir dir;
    const int width = 24, height = 9;
    const Bytes plain =
        jpeg_of(dir.file("plain.jpg"), random_bytes(width * height * 3, 31), width, height);
    const Bytes expected = read_whole(dir.file("plain.jpg"), false);
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(width * height * 4));
    const std::vector<std::size_t> ends = segment_ends(plain);
    ASSERT_GE(ends.size(), 3u);
    const Bytes sound = segment(0xED, photoshop(10));
    const Bytes lying = segment(0xED, photoshop(60000));
    Bytes filled = {0xFF, 0xFF, 0xFF};  // fill bytes before a marker belong to it
    filled.insert(filled.end(), lying.begin(), lying.end());
    Bytes two = sound;
    two.insert(two.end(), lying.begin(), lying.end());
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"sound", inserted(plain, 2, sound)},
        {"lying", inserted(plain, 2, lying)},
        {"between tables", inserted(plain, ends[1], lying)},
        {"two", inserted(plain, ends[0], two)},
        {"fill bytes", inserted(plain, ends[0], filled)},
        {"bogus length", inserted(plain, 2, segment(0xED, {}, 1))},
        {"not Photoshop's", inserted(plain, 2, segment(0xED, {'x', 'y'}))},
    };
    for (const auto& c : cases) {
        const std::string name = dir.file("with.jpg");
        write_bytes(name, c.bytes);
        EXPECT_EQ(read_whole(name, false), expected) << c.what;
        FBhandle* in = open_for_reading(name);  // row by row too
        ASSERT_NE(in, nullptr) << c.what << ": " << FBgetError();
        Bytes row(width * 4);
        for (int y = 0; y < height; ++y) {
            ASSERT_EQ(FBread(in, row.data()), width) << c.what;
            EXPECT_TRUE(std::equal(row.begin(), row.end(), expected.begin() + y * width * 4))
                << c.what << " row " << y;
        }
        FBclose(in);
    }
}

TEST(FbJpeg, DamagedSegmentsBeforeTheImageAreRefusedNamingTheFile) {
    ScratchDir dir;
    const Bytes plain = jpeg_of(dir.file("plain.jpg"), random_bytes(8 * 8 * 3, 32), 8, 8);
    const std::vector<std::size_t> ends = segment_ends(plain);
    ASSERT_GE(ends.size(), 2u);
    const Bytes photoshop_segment = segment(0xED, photoshop(10));
    const struct {
        const char* what;
        Bytes bytes;
        const char* reason;
    } cases[] = {
        {"metadata past the end",
         inserted(Bytes(plain.begin(), plain.begin() + 2), 2, segment(0xED, photoshop(10), 4000)),
         "JPEG file truncated before its image data"},
        {"cut in the tables", Bytes(plain.begin(), plain.begin() + ends[1] - 5),
         "JPEG file truncated before its image data"},
        {"cut after metadata",
         inserted(Bytes(plain.begin(), plain.begin() + ends[0]), 2, photoshop_segment),
         "JPEG file truncated before its image data"},
        {"table length 1", inserted(plain, ends[0], segment(0xDB, {}, 1)),
         "JPEG file damaged (marker segment length 1)"},
        {"end before the image", inserted(plain, ends[0], {0xFF, 0xD9}),
         "JPEG file damaged (end marker before any image data)"},
        {"second start", inserted(plain, ends[0], {0xFF, 0xD8}),
         "JPEG file damaged (second start marker)"},
    };
    for (const auto& c : cases) {
        const std::string name = dir.file("damaged.jpg");
        write_bytes(name, c.bytes);
        EXPECT_EQ(open_for_reading(name), nullptr) << c.what;
        EXPECT_THAT(FBgetError(), HasSubstr(name + ": " + c.reason)) << c.what;
    }
}

// ----------------------------------------------------- recognition, orientation

TEST(FbRecognition, ContentDecidesWhateverTheNameSays) {
    ScratchDir dir;
    const Bytes pixels = random_bytes(7 * 3 * 4, 21);
    const int formats[] = {FB_FORMAT_QRL, FB_FORMAT_SGI, FB_FORMAT_TIFF, FB_FORMAT_RLA};
    for (int format : formats) {
        for (const char* suffix : {"", ".001", ".png", ".qrl", ".tif"}) {
            std::string name = dir.file("f" + std::to_string(format) + suffix);
            write_rows(name, format, 7, 3, 4, pixels, false);
            EXPECT_EQ(read_whole(name, false), pixels) << name;
        }
    }
}

// Rows are numbered from the top in every format. The library's own round trip
// cannot see a flip made on both ways, so the files are also read without it.
TEST(FbOrientation, RowZeroIsTheTopRowForOtherReadersToo) {
    ScratchDir dir;
    const int width = 6, height = 4;
    Bytes pixels(width * height * 4);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width * 4; ++i) pixels[y * width * 4 + i] = 10 + 60 * y;
    for (int format : {FB_FORMAT_SGI, FB_FORMAT_TIFF, FB_FORMAT_RLA}) {
        std::string name = dir.file("rows" + std::to_string(format));
        write_rows(name, format, width, height, 3, pixels, false);
        auto input = OIIO::ImageInput::open(name);
        ASSERT_TRUE(input) << OIIO::geterror();
        const OIIO::ImageSpec& spec = input->spec();
        std::vector<std::uint8_t> line(width * 3);
        for (int y = 0; y < height; ++y) {
            ASSERT_TRUE(input->read_scanline(spec.y + y, 0, OIIO::TypeDesc::UINT8, line.data()));
            EXPECT_EQ(line[0], 10 + 60 * y) << "format " << format << " row " << y;
        }
    }
    // SGI stores the bottom row first, straight after its 512-byte header
    // (uncompressed, one plane after another).
    Bytes sgi = read_bytes(dir.file("rows2"));
    ASSERT_EQ(sgi.size(), 512u + width * height * 3);
    EXPECT_EQ(sgi[512], 10 + 60 * (height - 1));
    EXPECT_EQ(sgi[512 + width * (height - 1)], 10);
}

// ------------------------------------------------------------------ failures

TEST(FbFailures, UnreadableFilesFailWithTheirNameAndReason) {
    ScratchDir dir;
    struct Case {
        std::string name;
        Bytes content;
        const char* reason;
    };
    const Case cases[] = {
        {dir.file("empty.tif"), {}, "empty"},
        {dir.file("garbage.tif"), random_bytes(5000, 3), "Not a TIFF"},  // OpenImageIO's words
        {dir.file("garbage"), random_bytes(100, 4), "not an image file of a format skyloom reads"},
        {dir.file("text.qrl"), Bytes{'h', 'e', 'l', 'l', 'o', '\n'}, "format skyloom reads"},
    };
    for (const Case& c : cases) {
        write_bytes(c.name, c.content);
        EXPECT_EQ(open_for_reading(c.name), nullptr) << c.name;
        EXPECT_THAT(FBgetError(), HasSubstr(c.name));
        EXPECT_THAT(FBgetError(), HasSubstr(c.reason));
    }
    EXPECT_EQ(open_for_reading(dir.file("missing.tif")), nullptr);
    EXPECT_THAT(FBgetError(), HasSubstr("No such file"));
    std::filesystem::create_directory(dir.file("folder"));
    EXPECT_EQ(open_for_reading(dir.file("folder")), nullptr);
    EXPECT_THAT(FBgetError(), HasSubstr("directory"));
}

// OpenImageIO reads only the formats it is given by their signature: its
// other readers (GIF, PSD, video, camera raw, ...) never see a file, and
// neither does its RLA reader, which crashed on files it merely looked at.
TEST(FbFailures, FormatsOpenImageIOIsNotGivenAreRefused) {
    ScratchDir dir;
    auto write = [](const std::string& name, const char* format) {
        auto out = OIIO::ImageOutput::create(format);
        ASSERT_TRUE(out);
        ASSERT_TRUE(out->open(name, OIIO::ImageSpec(4, 4, 3, OIIO::TypeDesc::UINT8)));
        ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, Bytes(4 * 4 * 3, 9).data()));
        ASSERT_TRUE(out->close());
    };
    const std::string gif = dir.file("picture.gif");
    write(gif, "gif");
    EXPECT_EQ(open_for_reading(gif), nullptr);
    EXPECT_THAT(FBgetError(), HasSubstr(gif + ": not an image file of a format skyloom reads"));
    // A PNG file cut short, whose reading once leaked through libpng.
    const std::string png = dir.file("cut.png");
    write(png, "png");
    Bytes bytes = read_bytes(png);
    bytes.resize(bytes.size() - 12);  // without its end chunk
    write_bytes(png, bytes);
    EXPECT_EQ(open_for_reading(png), nullptr);
    EXPECT_THAT(FBgetError(), HasSubstr(png + ": PNG file truncated"));
}

TEST(FbFailures, TruncatedFilesOfEveryFormatAreRejected) {
    ScratchDir dir;
    const int width = 40, height = 20;
    for (int format :
         {FB_FORMAT_QRL, FB_FORMAT_SGI, FB_FORMAT_TIFF, FB_FORMAT_TIFF16, FB_FORMAT_RLA}) {
        const std::string whole = dir.file("whole");
        const bool sixteen = format == FB_FORMAT_TIFF16;
        write_rows(whole, format, width, height, 4,
                   random_bytes(width * height * (sixteen ? 8 : 4), 5), sixteen);
        const Bytes bytes = read_bytes(whole);
        for (std::size_t length : {std::size_t{1}, std::size_t{20}, bytes.size() / 3,
                                   bytes.size() / 2, bytes.size() - bytes.size() / 4}) {
            const std::string cut = dir.file("cut");
            write_bytes(cut, Bytes(bytes.begin(), bytes.begin() + length));
            FBhandle* in = open_for_reading(cut, FB_READ_IMAGE);
            if (in == nullptr) {
                EXPECT_THAT(FBgetError(), HasSubstr(cut));
                continue;
            }
            Bytes pixels(width * height * 4);
            EXPECT_EQ(FBread(in, pixels.data()), 0) << "format " << format << " cut at " << length;
            EXPECT_THAT(FBgetError(), HasSubstr(cut));
            FBclose(in);
        }
    }
}

TEST(FbFailures, OpenRejectsBadArgumentsAndCreatesNothing) {
    ScratchDir dir;
    const std::string name = dir.file("never");
    struct Case {
        const char* name;
        int mode, format, width, height, channels;
        const char* reason;
    };
    const Case cases[] = {
        {nullptr, 6, 1, 4, 4, 4, "no file name"},
        {"", 6, 1, 4, 4, 4, "no file name"},
        {name.c_str(), 3, 1, 4, 4, 4, "invalid mode 3"},
        {name.c_str(), 0, -1, 4, 4, 4, "invalid mode 0"},
        {name.c_str(), 6, 3, 4, 4, 4, "format code 3 cannot be written (1, 2, 4, 5 or 9)"},
        {name.c_str(), 2, -1, 4, 4, 4, "format code -1 cannot be written (1, 2, 4, 5 or 9)"},
        {name.c_str(), 6, 1, 0, 4, 4, "out of range"},
        {name.c_str(), 6, 2, 65536, 4, 4, "out of range"},
        {name.c_str(), 6, 4, 4, 0, 4, "out of range"},
        {name.c_str(), 6, 9, 4, -3, 4, "out of range"},
        {name.c_str(), 2, 1, 4, 4, 2, "2 channels"},
        {name.c_str(), 2, 5, 4, 4, 0, "0 channels"},
        {name.c_str(), 2, 5, 4, 4, 5, "5 channels"},
        {name.c_str(), 5, 7, 0, 0, 0, "unknown format code 7 (reading takes -1)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FBopen(c.name, c.mode, c.format, c.width, c.height, c.channels, 0, 0, 90.0),
                  nullptr);
        EXPECT_THAT(FBgetError(), HasSubstr(c.reason));
    }
    EXPECT_FALSE(std::filesystem::exists(name));
}

TEST(FbFailures, CallsRejectNullsWrongModesAndRowsBeyondTheImage) {
    ScratchDir dir;
    Bytes row(8 * 4 * 3, 50);
    EXPECT_EQ(FBread(nullptr, row.data()), 0);
    EXPECT_THAT(FBgetError(), HasSubstr("no image handle"));
    EXPECT_EQ(FBwrite(nullptr, row.data()), 0);
    EXPECT_EQ(FBwrite_and_flush(nullptr, row.data()), 0);
    EXPECT_EQ(FBclose(nullptr), 0);
    FBtiff16_set(nullptr, 1);
    EXPECT_THAT(FBgetError(), HasSubstr("FBtiff16_set"));

    const std::string name = dir.file("rows.qrl");
    FBhandle* rows = open_for_writing(name, FB_WRITE_ROWS, FB_FORMAT_QRL, 8, 2, 4);
    ASSERT_NE(rows, nullptr) << FBgetError();
    EXPECT_EQ(FBread(rows, row.data()), 0);
    EXPECT_THAT(FBgetError(), HasSubstr("open for writing"));
    EXPECT_EQ(FBwrite(rows, nullptr), 0);
    EXPECT_THAT(FBgetError(), HasSubstr("no pixel buffer"));
    EXPECT_NE(FBwrite(rows, row.data()), 0);
    EXPECT_NE(FBwrite_and_flush(rows, row.data()), 0);
    EXPECT_EQ(FBwrite(rows, row.data()), 0);
    EXPECT_THAT(FBgetError(), HasSubstr("more rows"));
    EXPECT_EQ(FBclose(rows), 0);  // the extra row is the writer's failure

    FBhandle* whole = open_for_writing(name, FB_WRITE_IMAGE, FB_FORMAT_SGI, 8, 3, 4);
    ASSERT_NE(whole, nullptr) << FBgetError();
    EXPECT_EQ(FBwrite_and_flush(whole, row.data()), 0);
    EXPECT_THAT(FBgetError(), HasSubstr("mode 2"));
    EXPECT_NE(FBwrite(whole, row.data()), 0);
    EXPECT_EQ(FBwrite(whole, row.data()), 0);
    EXPECT_THAT(FBgetError(), HasSubstr("already been written"));
    EXPECT_NE(FBclose(whole), 0);

    FBhandle* reader = open_for_reading(name, FB_READ_IMAGE);
    ASSERT_NE(reader, nullptr) << FBgetError();
    EXPECT_EQ(FBwrite(reader, row.data()), 0);
    EXPECT_THAT(FBgetError(), HasSubstr("open for reading"));
    EXPECT_EQ(FBread(reader, row.data()), 8 * 3);
    EXPECT_EQ(FBread(reader, row.data()), 0);
    EXPECT_THAT(FBgetError(), HasSubstr("already been read"));
    EXPECT_NE(FBclose(reader), 0);
}

TEST(FbFailures, ClosingAWriterThatMissesRowsFails) {
    ScratchDir dir;
    Bytes row(5 * 8, 77);
    for (int format :
         {FB_FORMAT_QRL, FB_FORMAT_SGI, FB_FORMAT_TIFF, FB_FORMAT_TIFF16, FB_FORMAT_RLA}) {
        const std::string name = dir.file("short" + std::to_string(format));
        FBhandle* out = open_for_writing(name, FB_WRITE_ROWS, format, 5, 3, 3);
        ASSERT_NE(out, nullptr) << FBgetError();
        ASSERT_NE(FBwrite_and_flush(out, row.data()), 0);
        ASSERT_NE(FBwrite_and_flush(out, row.data()), 0);
        EXPECT_EQ(FBclose(out), 0) << "format " << format;
        EXPECT_THAT(FBgetError(), HasSubstr("incomplete: 2 of 3 rows"));
        EXPECT_THAT(FBgetError(), HasSubstr(name));
    }
    // Our own format also marks the file, so a later reader is not fooled:
    // this one is too short for its three rows.
    EXPECT_EQ(open_for_reading(dir.file("short1"), FB_READ_IMAGE), nullptr);
    EXPECT_THAT(FBgetError(), HasSubstr("truncated"));
}

// Every writer pushes a flushed row to the disk, so the first one meets the
// full disk; unflushed rows meet it at the latest when the file is closed.
TEST(FbFailures, AFullDiskIsReportedNotIgnored) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    for (int format :
         {FB_FORMAT_QRL, FB_FORMAT_SGI, FB_FORMAT_TIFF, FB_FORMAT_TIFF16, FB_FORMAT_RLA}) {
        const Bytes row(645 * 8, 1);  // room for 16-bit transfer
        FBhandle* out = open_for_writing("/dev/full", FB_WRITE_ROWS, format, 645, 4, 4);
        ASSERT_NE(out, nullptr) << FBgetError();
        EXPECT_EQ(FBwrite_and_flush(out, row.data()), 0) << "format " << format;
        EXPECT_THAT(FBgetError(), HasSubstr("/dev/full: cannot write row: No space left"))
            << "format " << format;
        EXPECT_EQ(FBclose(out), 0) << "format " << format;
        EXPECT_THAT(FBgetError(), HasSubstr("No space left")) << "format " << format;

        const Bytes image(2 * 2 * 8, 1);
        out = open_for_writing("/dev/full", FB_WRITE_IMAGE, format, 2, 2, 4);
        ASSERT_NE(out, nullptr) << FBgetError();
        FBwrite(out, image.data());  // SGI's rows go to several places: it may fail here
        EXPECT_EQ(FBclose(out), 0) << "format " << format;
        EXPECT_THAT(FBgetError(), HasSubstr("No space left")) << "format " << format;
    }
}

TEST(FbFailures, EachThreadKeepsItsOwnLastError) {
    ScratchDir dir;
    EXPECT_EQ(open_for_reading(dir.file("first-missing")), nullptr);
    std::string other;
    std::thread([&] {
        EXPECT_EQ(open_for_reading(dir.file("second-missing")), nullptr);
        other = FBgetError();
    }).join();
    EXPECT_THAT(other, HasSubstr("second-missing"));
    EXPECT_THAT(FBgetError(), HasSubstr("first-missing"));
}

// ---------------------------------------------------------------- conversion

TEST(FbConvertImageFile, TurnsAnyReadableImageIntoQrl) {
    ScratchDir dir;
    const int width = 37, height = 11;
    const Bytes deep = random_bytes(width * height * 8, 31);
    const std::string tiff = dir.file("texture.tif");
    write_rows(tiff, FB_FORMAT_TIFF16, width, height, 4, deep, true);
    const std::string qrl = dir.file("texture.tmp");
    ASSERT_NE(convertImageFile(tiff.c_str(), qrl.c_str()), 0) << FBgetError();
    const Bytes bytes = read_bytes(qrl);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(std::memcmp(bytes.data(), "\x89QRL", 4), 0);
    EXPECT_EQ(read_whole(qrl, false), expected_pixels(deep, true, 4, false, false));
}

TEST(FbConvertImageFile, FailureSaysWhyAndLeavesNoOutput) {
    ScratchDir dir;
    const std::string garbage = dir.file("garbage.tif");
    write_bytes(garbage, random_bytes(300, 41));
    const std::string out = dir.file("out.qrl");
    EXPECT_EQ(convertImageFile(garbage.c_str(), out.c_str()), 0);
    EXPECT_THAT(FBgetError(), HasSubstr(garbage));
    EXPECT_FALSE(std::filesystem::exists(out));

    // A damaged input fails part way: the half-written output is removed.
    const std::string good = dir.file("good.qrl");
    write_rows(good, FB_FORMAT_QRL, 30, 10, 3, random_bytes(30 * 10 * 4, 42), false);
    Bytes bytes = read_bytes(good);
    const std::size_t good_size = bytes.size();
    bytes.resize(good_size * 2 / 3);
    const std::string cut = dir.file("cut.qrl");
    write_bytes(cut, bytes);
    EXPECT_EQ(convertImageFile(cut.c_str(), out.c_str()), 0);
    EXPECT_THAT(FBgetError(), HasSubstr("truncated"));
    EXPECT_FALSE(std::filesystem::exists(out));

    EXPECT_EQ(convertImageFile(good.c_str(), good.c_str()), 0);
    EXPECT_THAT(FBgetError(), HasSubstr("overwrite the input"));
    EXPECT_EQ(read_bytes(good).size(), good_size);
    EXPECT_EQ(convertImageFile(nullptr, out.c_str()), 0);
}

}  // namespace
}  // namespace sky
