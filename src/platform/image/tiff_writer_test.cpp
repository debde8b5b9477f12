// Tests of the TIFF writer through the image file library: files written by
// FBopen with format codes 4 and 5 must read back (through OpenImageIO, which
// reads them) with the very samples written, keep the layout readers expect,
// and fail loudly when incomplete (a full disk is tested with the other
// formats, fb_test.cpp).
#include "platform/image/tiff_writer.h"

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/image/fb.h"
#include "platform/image/image_test_support.h"

namespace sky {
namespace {

using test::random_bytes;
using test::read_bytes;
using test::ScratchDir;
using ::testing::HasSubstr;
using Bytes = std::vector<std::uint8_t>;

FBhandle* open_for_writing(const std::string& name, int mode, int format, int width, int height,
                           int channels) {
    return FBopen(name.c_str(), mode, format, width, height, channels, 0, 0, 90.0);
}

// The pixel a reader gets back, as 16-bit quantities per channel, from an
// RGBA buffer pixel written with `written16` transfer to a file of
// `channels` channels of 16 (file16) or 8 bits: one channel keeps the
// fourth value (the matte) with black colour, three channels read back opaque.
void expected_pixel(const std::uint8_t* written, bool written16, int channels, bool file16,
                    unsigned value[4]) {
    for (int c = 0; c < 4; ++c) {
        unsigned v = written16 ? written[4 + c] * 256u + written[c] : written[c] * 257u;
        if (!file16) v = (v >> 8) * 257u;
        if (channels == 1 && c < 3) v = 0;
        if (channels == 3 && c == 3) v = 0xFFFF;
        value[c] = v;
    }
}

// ------------------------------------------------------------ round trips

struct Shape {
    int channels, bits, width, height;
};

class TiffRoundTrip : public ::testing::TestWithParam<Shape> {};

TEST_P(TiffRoundTrip, SamplesComeBackExactlyThroughTheReader) {
    const Shape shape = GetParam();
    const bool file16 = shape.bits == 16;
    const int format = file16 ? FB_FORMAT_TIFF16 : FB_FORMAT_TIFF;
    const std::size_t bpp = file16 ? 8 : 4;
    const std::size_t row_bytes = shape.width * bpp;
    ScratchDir dir;
    const std::string name = dir.file("frame.001");  // no telling extension

    Bytes pixels = random_bytes(row_bytes * shape.height, 31u * shape.width + shape.channels);
    FBhandle* out =
        open_for_writing(name, FB_WRITE_ROWS, format, shape.width, shape.height, shape.channels);
    ASSERT_NE(out, nullptr) << FBgetError();
    for (int y = 0; y < shape.height; ++y)
        ASSERT_NE(FBwrite(out, pixels.data() + y * row_bytes), 0) << FBgetError();
    ASSERT_NE(FBclose(out), 0) << FBgetError();

    FBhandle* in = FBopen(name.c_str(), FB_READ_ROWS, FB_FORMAT_ANY, 0, 0, 0, 0, 0, 90.0);
    ASSERT_NE(in, nullptr) << FBgetError();
    EXPECT_EQ(in->width, shape.width);
    EXPECT_EQ(in->height, shape.height);
    EXPECT_EQ(in->channels, shape.channels);
    EXPECT_EQ(in->format, format);
    FBtiff16_set(in, 1);
    Bytes row(shape.width * 8);
    for (int y = 0; y < shape.height; ++y) {
        ASSERT_EQ(FBread(in, row.data()), shape.width) << FBgetError();
        for (int x = 0; x < shape.width; ++x) {
            unsigned want[4];
            expected_pixel(pixels.data() + y * row_bytes + x * bpp, file16, shape.channels, file16,
                           want);
            for (int c = 0; c < 4; ++c) {
                unsigned got = row[x * 8 + 4 + c] * 256u + row[x * 8 + c];
                ASSERT_EQ(got, want[c]) << "pixel " << x << "," << y << " channel " << c;
            }
        }
    }
    EXPECT_NE(FBclose(in), 0);
}

std::vector<Shape> shapes() {
    std::vector<Shape> all;
    for (int bits : {8, 16})
        for (int channels : {1, 3, 4})
            for (auto [w, h] : {std::pair{1, 1}, {645, 486}, {3, 5}, {1021, 9}, {4099, 2}})
                all.push_back({channels, bits, w, h});
    return all;
}

std::string shape_name(const ::testing::TestParamInfo<Shape>& param) {
    const Shape& s = param.param;
    return std::to_string(s.channels) + "ch_" + std::to_string(s.bits) + "bit_" +
           std::to_string(s.width) + "x" + std::to_string(s.height);
}

INSTANTIATE_TEST_SUITE_P(Shapes, TiffRoundTrip, ::testing::ValuesIn(shapes()), shape_name);

// ------------------------------------------------------------ file layout

struct Tag {
    unsigned type;
    std::uint32_t count;
    std::vector<std::uint32_t> values;
};

unsigned le16(const Bytes& b, std::size_t at) {
    return b.at(at) | b.at(at + 1) << 8;
}
std::uint32_t le32(const Bytes& b, std::size_t at) {
    return le16(b, at) | static_cast<std::uint32_t>(le16(b, at + 2)) << 16;
}

// Reads the first directory of a little-endian TIFF; fails the test when the
// tags are out of order.
std::map<unsigned, Tag> read_directory(const Bytes& file) {
    std::map<unsigned, Tag> tags;
    EXPECT_EQ(file.at(0), 'I');
    EXPECT_EQ(file.at(1), 'I');
    EXPECT_EQ(le16(file, 2), 42u);
    std::size_t ifd = le32(file, 4);
    unsigned count = le16(file, ifd);
    unsigned previous = 0;
    for (unsigned i = 0; i < count; ++i) {
        std::size_t e = ifd + 2 + 12 * i;
        unsigned tag = le16(file, e);
        EXPECT_GT(tag, previous) << "tags out of order";
        previous = tag;
        Tag t{le16(file, e + 2), le32(file, e + 4), {}};
        std::size_t size = t.type == 3 ? 2 : t.type == 4 ? 4 : 8;
        std::size_t at = size * t.count <= 4 ? e + 8 : le32(file, e + 8);
        EXPECT_EQ(at % 2, 0u) << "tag " << tag << " value not word-aligned";
        for (std::uint32_t k = 0; k < (t.type == 5 ? 2 : t.count); ++k)
            t.values.push_back(t.type == 3 ? le16(file, at + 2 * k) : le32(file, at + 4 * k));
        tags[tag] = t;
    }
    EXPECT_EQ(le32(file, ifd + 2 + 12 * count), 0u) << "a single directory";
    return tags;
}

TEST(TiffLayout, BaselineTagsDescribeTheStripsExactly) {
    ScratchDir dir;
    for (int channels : {1, 3, 4}) {
        for (int bits : {8, 16}) {
            SCOPED_TRACE(std::to_string(channels) + " channels, " + std::to_string(bits) + " bits");
            const int width = 645, height = 486;
            const std::string name = dir.file("layout.tif");
            const std::size_t bpp = bits == 16 ? 8 : 4;
            Bytes pixels = random_bytes(width * height * bpp, 5);
            FBhandle* out = open_for_writing(name, FB_WRITE_IMAGE,
                                             bits == 16 ? FB_FORMAT_TIFF16 : FB_FORMAT_TIFF, width,
                                             height, channels);
            ASSERT_NE(out, nullptr) << FBgetError();
            ASSERT_NE(FBwrite(out, pixels.data()), 0) << FBgetError();
            ASSERT_NE(FBclose(out), 0) << FBgetError();

            Bytes file = read_bytes(name);
            auto tags = read_directory(file);
            auto value = [&](unsigned tag) {
                return tags.count(tag) != 0 ? tags[tag].values.at(0) : 0xDEADu;
            };
            const std::vector<std::uint32_t> per_sample(channels, bits);
            EXPECT_EQ(value(256), 645u);
            EXPECT_EQ(value(257), 486u);
            EXPECT_EQ(tags[258].values, per_sample);
            EXPECT_EQ(value(259), 1u);
            EXPECT_EQ(value(262), channels == 1 ? 1u : 2u);
            EXPECT_EQ(value(274), 1u);
            EXPECT_EQ(value(277), static_cast<unsigned>(channels));
            EXPECT_EQ(value(284), 1u);
            EXPECT_EQ(tags[282].values, (std::vector<std::uint32_t>{72, 1}));
            EXPECT_EQ(tags[283].values, (std::vector<std::uint32_t>{72, 1}));
            EXPECT_EQ(value(296), 2u);
            EXPECT_EQ(tags.count(338), channels == 4 ? 1u : 0u);
            if (channels == 4) {
                EXPECT_EQ(value(338), 1u) << "associated alpha, as before";
            }
            EXPECT_EQ(tags[339].values, std::vector<std::uint32_t>(channels, 1));

            // The strips cover the rows in order, back to back, to the file's end.
            const std::size_t row_bytes = width * channels * bits / 8;
            const std::uint32_t rows_per_strip = value(278);
            const auto& offsets = tags[273].values;
            const auto& sizes = tags[279].values;
            ASSERT_EQ(offsets.size(), (height + rows_per_strip - 1) / rows_per_strip);
            ASSERT_EQ(sizes.size(), offsets.size());
            std::size_t rows = 0;
            for (std::size_t s = 0; s < offsets.size(); ++s) {
                if (s > 0) {
                    EXPECT_EQ(offsets[s], offsets[s - 1] + sizes[s - 1]);
                }
                EXPECT_EQ(sizes[s] % row_bytes, 0u);
                rows += sizes[s] / row_bytes;
            }
            EXPECT_EQ(rows, static_cast<std::size_t>(height));
            EXPECT_EQ(offsets.back() + sizes.back(), file.size());
            // Row 0, first pixel: the FB layer's order (RGB, or the matte alone).
            const std::uint8_t* first = file.data() + offsets[0];
            if (bits == 8) {
                EXPECT_EQ(first[0], pixels[channels == 1 ? 3 : 0]);
            }
        }
    }
}

// ------------------------------------------------------------ failures

TEST(TiffFailures, MissingRowsFailTheCloseButLeaveAReadableFile) {
    ScratchDir dir;
    for (int format : {FB_FORMAT_TIFF, FB_FORMAT_TIFF16}) {
        const std::string name = dir.file("short" + std::to_string(format));
        Bytes row(7 * 8, 200);
        FBhandle* out = open_for_writing(name, FB_WRITE_ROWS, format, 7, 4, 4);
        ASSERT_NE(out, nullptr) << FBgetError();
        ASSERT_NE(FBwrite_and_flush(out, row.data()), 0) << FBgetError();
        EXPECT_EQ(FBclose(out), 0);
        EXPECT_THAT(FBgetError(), HasSubstr(name + ": file incomplete: 1 of 4 rows written"));

        FBhandle* in = FBopen(name.c_str(), FB_READ_IMAGE, FB_FORMAT_ANY, 0, 0, 0, 0, 0, 90.0);
        ASSERT_NE(in, nullptr) << FBgetError();
        Bytes image(7 * 4 * 4);
        ASSERT_NE(FBread(in, image.data()), 0) << FBgetError();
        EXPECT_EQ(image[0], 200);  // the row written
        EXPECT_EQ(image[7 * 4 * 3 + 3], 0) << "missing rows are black, matte included";
        FBclose(in);
    }
}

TEST(TiffFailures, UnwritablePlacesAndBadShapesAreRefusedAtOpen) {
    ScratchDir dir;
    const std::string nowhere = dir.file("no/such/dir/frame.tif");
    EXPECT_EQ(open_for_writing(nowhere, FB_WRITE_ROWS, FB_FORMAT_TIFF, 4, 4, 3), nullptr);
    EXPECT_THAT(FBgetError(), HasSubstr(nowhere + ": cannot create file: No such file"));

    TiffWriter writer;
    EXPECT_FALSE(writer.open(dir.file("a.tif").c_str(), 4, 4, 2, 8));
    EXPECT_THAT(writer.error(), HasSubstr("channel count"));
    EXPECT_FALSE(writer.open(dir.file("a.tif").c_str(), 4, 4, 3, 12));
    EXPECT_THAT(writer.error(), HasSubstr("bits per sample"));
    // 65535 x 65535 RGBA at 16 bits needs offsets past 32 bits.
    EXPECT_FALSE(writer.open(dir.file("a.tif").c_str(), 65535, 65535, 4, 16));
    EXPECT_THAT(writer.error(), HasSubstr("too large for a TIFF file"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("a.tif")));
}

}  // namespace
}  // namespace sky
