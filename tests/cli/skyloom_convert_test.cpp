// Whole-program tests of skyloom-convert: the built tool is run on files made
// through the image library, and its output is checked with OpenImageIO.
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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
using test::read_bytes;
using test::ScratchDir;
using test::write_bytes;
using ::testing::HasSubstr;
using ::testing::Not;
using Bytes = std::vector<std::uint8_t>;

struct ToolRun {
    int status;
    std::string errors;
};

ToolRun convert(const ScratchDir& dir, const std::vector<std::string>& args) {
    std::string command = SKYLOOM_CONVERT_BINARY;
    for (const std::string& arg : args) command += " '" + arg + "'";
    const std::string errors = dir.file("stderr.txt");
    command += " 2>'" + errors + "'";
    int raw = std::system(command.c_str());
    Bytes text = read_bytes(errors);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, std::string(text.begin(), text.end())};
}

void write_image(const std::string& name, int format, int width, int height, int channels,
                 const Bytes& pixels) {
    FBhandle* out =
        FBopen(name.c_str(), FB_WRITE_IMAGE, format, width, height, channels, 0, 0, 90.0);
    ASSERT_NE(out, nullptr) << FBgetError();
    ASSERT_NE(FBwrite(out, pixels.data()), 0) << FBgetError();
    ASSERT_NE(FBclose(out), 0) << FBgetError();
}

// Reads a file with OpenImageIO alone: its channel count, type and samples.
struct Independent {
    int channels = 0;
    OIIO::TypeDesc type;
    std::vector<std::uint16_t> samples;  // in the file's own type's range
};

Independent read_independently(const std::string& name) {
    Independent result;
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto input = OIIO::ImageInput::open(name, &config);
    if (!input) {
        ADD_FAILURE() << OIIO::geterror();
        return result;
    }
    const OIIO::ImageSpec& spec = input->spec();
    result.channels = spec.nchannels;
    result.type = spec.format;
    result.samples.resize(spec.image_pixels() * spec.nchannels);
    OIIO::TypeDesc as =
        spec.format == OIIO::TypeDesc::UINT8 ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::UINT16;
    if (as == OIIO::TypeDesc::UINT8) {
        Bytes bytes(result.samples.size());
        EXPECT_TRUE(input->read_image(0, 0, 0, spec.nchannels, as, bytes.data()));
        result.samples.assign(bytes.begin(), bytes.end());
    } else {
        EXPECT_TRUE(input->read_image(0, 0, 0, spec.nchannels, as, result.samples.data()));
    }
    return result;
}

TEST(SkyloomConvert, QrlBecomesPngWithEveryPixelKept) {
    ScratchDir dir;
    const int width = 33, height = 17;
    Bytes pixels = random_bytes(width * height * 4, 51);
    pixels[3] = 0;  // colour under zero alpha must survive: no (un)premultiplying
    pixels[0] = 200;
    const std::string qrl = dir.file("frame.qrl");
    write_image(qrl, FB_FORMAT_QRL, width, height, 4, pixels);

    const std::string png = dir.file("frame.png");
    ToolRun run = convert(dir, {qrl, png});
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    Independent result = read_independently(png);
    ASSERT_EQ(result.channels, 4);
    EXPECT_EQ(result.type, OIIO::TypeDesc::UINT8);
    EXPECT_EQ(result.samples, std::vector<std::uint16_t>(pixels.begin(), pixels.end()));

    // And back: the PNG converted to .qrl holds the same pixels.
    const std::string again = dir.file("again.qrl");
    ASSERT_EQ(convert(dir, {png, again}).status, 0);
    FBhandle* in = FBopen(again.c_str(), FB_READ_IMAGE, FB_FORMAT_ANY, 0, 0, 0, 0, 0, 90.0);
    ASSERT_NE(in, nullptr) << FBgetError();
    Bytes back(pixels.size());
    EXPECT_EQ(FBread(in, back.data()), width * height);
    FBclose(in);
    EXPECT_EQ(back, pixels);
}

TEST(SkyloomConvert, SixteenBitsAndMattesKeepTheirMeaning) {
    ScratchDir dir;
    const int width = 8, height = 5;
    const Bytes deep = random_bytes(width * height * 8, 52);
    const std::string tiff = dir.file("deep.001");  // no telling extension
    write_image(tiff, FB_FORMAT_TIFF16, width, height, 3, deep);
    const std::string png16 = dir.file("deep.png");
    ToolRun run = convert(dir, {tiff, png16});
    ASSERT_EQ(run.status, 0) << run.errors;
    Independent result = read_independently(png16);
    ASSERT_EQ(result.channels, 3);
    EXPECT_EQ(result.type, OIIO::TypeDesc::UINT16);
    for (int i = 0; i < width * height; ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(result.samples[i * 3 + c], deep[i * 8 + 4 + c] * 256 + deep[i * 8 + c]);

    // A matte file holds the fourth byte of each pixel; it converts to grey.
    const Bytes rgba = random_bytes(width * height * 4, 53);
    const std::string matte = dir.file("matte.qrl");
    write_image(matte, FB_FORMAT_QRL, width, height, 1, rgba);
    const std::string grey = dir.file("matte.png");
    ASSERT_EQ(convert(dir, {matte, grey}).status, 0);
    result = read_independently(grey);
    ASSERT_EQ(result.channels, 1);
    for (int i = 0; i < width * height; ++i) EXPECT_EQ(result.samples[i], rgba[i * 4 + 3]);

    // Formats without alpha get the colour channels.
    const Bytes colour = random_bytes(width * height * 4, 54);
    const std::string rgba_qrl = dir.file("colour.qrl");
    write_image(rgba_qrl, FB_FORMAT_QRL, width, height, 4, colour);
    const std::string jpeg = dir.file("colour.jpg");
    run = convert(dir, {rgba_qrl, jpeg});
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(read_independently(jpeg).channels, 3);
}

TEST(SkyloomConvert, FailuresNameTheFileOnOneLineAndExitWithOne) {
    ScratchDir dir;
    const std::string good = dir.file("good.qrl");
    write_image(good, FB_FORMAT_QRL, 4, 4, 3, Bytes(4 * 4 * 4, 9));
    const std::string garbage = dir.file("garbage.tif");
    write_bytes(garbage, random_bytes(200, 55));
    const std::string out = dir.file("out.png");
    const std::string cut = dir.file("cut.qrl");  // rows missing: fails part way
    Bytes bytes = read_bytes(good);
    write_bytes(cut, Bytes(bytes.begin(), bytes.begin() + bytes.size() * 2 / 3));

    struct Case {
        std::vector<std::string> args;
        std::string named;
    };
    const Case cases[] = {
        {{dir.file("missing.qrl"), out}, dir.file("missing.qrl")},
        {{garbage, out}, garbage},
        {{cut, out}, cut},
        {{good, dir.file("out.unknownformat")}, dir.file("out.unknownformat")},
        {{good, dir.file("no/such/dir/out.png")}, dir.file("no/such/dir/out.png")},
        {{good, good}, good},
    };
    for (const Case& c : cases) {
        ToolRun run = convert(dir, c.args);
        EXPECT_EQ(run.status, 1) << c.named;
        EXPECT_THAT(run.errors, HasSubstr(c.named));
        ASSERT_FALSE(run.errors.empty());
        EXPECT_EQ(run.errors.find('\n'), run.errors.size() - 1) << run.errors;
    }
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.unknownformat")));

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {good}, {good, out, out}}) {
        ToolRun run = convert(dir, args);
        EXPECT_EQ(run.status, 1);
        EXPECT_THAT(run.errors, HasSubstr("usage: skyloom-convert INPUT OUTPUT"));
    }
    EXPECT_THAT(convert(dir, {good, out}).errors, Not(HasSubstr("usage")));
}

// ---------------------------------------------------------------- OpenEXR

struct Exr {
    std::vector<std::string> names;
    std::vector<OIIO::TypeDesc> types;
    int width = 0, height = 0;
    std::vector<float> values;  // interleaved
    float at(int pixel, const std::string& channel) const {
        const auto c = std::find(names.begin(), names.end(), channel) - names.begin();
        return values[static_cast<std::size_t>(pixel) * names.size() + c];
    }
};

Exr read_exr(const std::string& name) {
    Exr result;
    auto input = OIIO::ImageInput::open(name);
    if (!input) {
        ADD_FAILURE() << OIIO::geterror();
        return result;
    }
    const OIIO::ImageSpec& spec = input->spec();
    EXPECT_STREQ(input->format_name(), "openexr");
    result.names = spec.channelnames;
    for (int c = 0; c < spec.nchannels; ++c) result.types.push_back(spec.channelformat(c));
    result.width = spec.width;
    result.height = spec.height;
    result.values.resize(spec.image_pixels() * spec.nchannels);
    EXPECT_TRUE(
        input->read_image(0, 0, 0, spec.nchannels, OIIO::TypeDesc::FLOAT, result.values.data()));
    return result;
}

void write_depth(const std::string& name, std::uint32_t magic, int width, int height,
                 const std::vector<float>& values) {
    Bytes bytes(8 + values.size() * 4);
    for (int k = 0; k < 4; ++k) bytes[k] = static_cast<std::uint8_t>(magic >> (8 * k));
    bytes[4] = width & 255, bytes[5] = width >> 8, bytes[6] = height & 255, bytes[7] = height >> 8;
    std::memcpy(bytes.data() + 8, values.data(), values.size() * 4);  // little-endian host
    write_bytes(name, bytes);
}

TEST(SkyloomConvertExr, DepthFilesBecomeAFloatZChannelOfTheSameDistances) {
    ScratchDir dir;
    const int width = 5, height = 3;
    const std::vector<float> depths = {0.001f, 1.0f,  2.5f,    1e8f,      7.123456f,
                                       1e7f,   42.f,  1e8f,    0.333333f, 99999.5f,
                                       3.0f,   1e-6f, 65504.f, 65520.f,   12.75f};
    const std::string depth = dir.file("shot_depth.0007");
    write_depth(depth, 55655, width, height, depths);

    const std::string exr = dir.file("depth.exr");
    ToolRun run = convert(dir, {depth, exr});
    ASSERT_EQ(run.status, 0) << run.errors;
    Exr z = read_exr(exr);
    ASSERT_EQ(z.names, std::vector<std::string>{"Z"});
    EXPECT_EQ(z.types[0], OIIO::TypeDesc::FLOAT);  // even under --half: distances stay exact
    ASSERT_EQ(z.width * z.height, width * height);
    for (int i = 0; i < width * height; ++i) {
        if (depths[i] == 1e8f)
            EXPECT_TRUE(std::isinf(z.at(i, "Z")) && z.at(i, "Z") > 0) << i;
        else
            EXPECT_EQ(z.at(i, "Z"), depths[i]) << i;
    }

    // A far value stands in for "nothing seen", and only there.
    ASSERT_EQ(convert(dir, {"--half", "--far", "5000", depth, exr}).status, 0);
    z = read_exr(exr);
    for (int i = 0; i < width * height; ++i)
        EXPECT_EQ(z.at(i, "Z"), depths[i] == 1e8f ? 5000.0f : depths[i]) << i;
}

TEST(SkyloomConvertExr, ARendersImageMatteAndDepthGoIntoOneFile) {
    ScratchDir dir;
    const std::string scene = dir.file("s.sdl");
    const std::string text =
        "DEFINITION resolution = 24 16; triple target (0, 0.8, 0);\n"
        "shader grey (model = lambert, color = (120, 130, 140));\n"
        "light fill (model = ambient, intensity = 0.5);\n"
        "patch ground (shader = (grey), uknots = (0, 1), vknots = (0, 1), divisions = (1, 1),\n"
        " cvs = ((cv((-6, 0, -6), 1), cv((-6, 0, 6), 1)), (cv((6, 0, -6), 1), cv((6, 0, 6), "
        "1))));\n"
        "MODEL camera (pix = \"a\", mask = \"m\", depth_file = \"d\", eye = (4.5, 3.5, 6),\n"
        " view = target, aov = 45); instance fill (); instance ground ();\n";
    write_bytes(scene, Bytes(text.begin(), text.end()));
    const std::string command =
        "cd '" + dir.file("") + "' && " + SKYLOOM_BINARY + " -q1 s.sdl >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);

    const std::string exr = dir.file("a.exr");
    ToolRun run = convert(dir, {"--float", "--matte", dir.file("m"), "--depth", dir.file("d"),
                                dir.file("a.qrl"), exr});
    ASSERT_EQ(run.status, 0) << run.errors;
    Exr all = read_exr(exr);
    EXPECT_EQ(all.names, (std::vector<std::string>{"R", "G", "B", "A", "Z"}));
    for (const OIIO::TypeDesc& type : all.types) EXPECT_EQ(type, OIIO::TypeDesc::FLOAT);

    FBhandle* in =
        FBopen(dir.file("a.qrl").c_str(), FB_READ_IMAGE, FB_FORMAT_ANY, 0, 0, 0, 0, 0, 90.0);
    ASSERT_NE(in, nullptr);
    Bytes image(24 * 16 * 4);
    FBread(in, image.data());
    FBclose(in);
    in = FBopen(dir.file("m").c_str(), FB_READ_IMAGE, FB_FORMAT_ANY, 0, 0, 0, 0, 0, 90.0);
    ASSERT_NE(in, nullptr);
    Bytes matte(24 * 16 * 4);
    FBread(in, matte.data());
    FBclose(in);
    const Bytes depth = read_bytes(dir.file("d"));
    int seen = 0;
    for (int i = 0; i < 24 * 16; ++i) {
        EXPECT_EQ(all.at(i, "R"), image[i * 4] / 255.0f);
        EXPECT_EQ(all.at(i, "B"), image[i * 4 + 2] / 255.0f);
        EXPECT_EQ(all.at(i, "A"), matte[i * 4 + 3] / 255.0f);
        float z;
        std::memcpy(&z, depth.data() + 8 + i * 4, 4);
        if (z >= 1e8f) {
            EXPECT_TRUE(std::isinf(all.at(i, "Z")));
        } else {
            ++seen;
            EXPECT_EQ(all.at(i, "Z"), z);
        }
    }
    EXPECT_GT(seen, 0);

    // Half colour by default: within half precision, Z still exact.
    ASSERT_EQ(
        convert(dir, {"--matte", dir.file("m"), "--depth", dir.file("d"), dir.file("a.qrl"), exr})
            .status,
        0);
    Exr half = read_exr(exr);
    EXPECT_EQ(half.types[0], OIIO::TypeDesc::HALF);
    EXPECT_EQ(half.types[4], OIIO::TypeDesc::FLOAT);
    for (int i = 0; i < 24 * 16; ++i) {
        EXPECT_NEAR(half.at(i, "G"), all.at(i, "G"), 1e-3);
        EXPECT_EQ(half.at(i, "Z"), all.at(i, "Z"));
    }
    // A matte alone is an alpha channel.
    ASSERT_EQ(convert(dir, {dir.file("m"), exr}).status, 0);
    EXPECT_EQ(read_exr(exr).names, std::vector<std::string>{"A"});
}

TEST(SkyloomConvertExr, WhatCannotBecomeAnExrIsRefusedWithoutOutput) {
    ScratchDir dir;
    const std::string integer = dir.file("int_depth");
    write_depth(integer, 56655, 2, 2, {1, 2, 3, 4});
    const std::string small = dir.file("small_depth");
    write_depth(small, 55655, 2, 2, {1, 2, 3, 4});
    const std::string cut = dir.file("cut_depth");
    write_depth(cut, 55655, 2, 2, {1, 2, 3, 4});
    Bytes bytes = read_bytes(cut);
    bytes.resize(bytes.size() - 3);
    write_bytes(cut, bytes);
    const std::string image = dir.file("image.qrl");
    write_image(image, FB_FORMAT_QRL, 4, 4, 3, Bytes(4 * 4 * 4, 9));
    const std::string out = dir.file("out.exr");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{integer, out}, integer + ": integer depths (use_lumenfold_depth) hold no distances"},
        {{cut, out}, cut + ": rows are missing"},
        {{"--depth", small, image, out}, small + ": 2x2 does not match " + image + " (4x4)"},
        {{"--matte", image, image, out}, image + ": a matte has one channel, this file has 3"},
        {{"--far", "deep", small, out}, "--far deep: not a number"},
        {{"--matte", small, image, dir.file("out.png")}, "need an .exr output"},
        {{"--sideways", image, out}, "unknown option --sideways"},
        {{small, small + ".exr", "--float"}, "usage: skyloom-convert"},
    };
    for (const Case& c : cases) {
        ToolRun run = convert(dir, c.args);
        EXPECT_EQ(run.status, 1) << c.message;
        EXPECT_THAT(run.errors, HasSubstr(c.message));
    }
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.png")));
}

}  // namespace
}  // namespace sky
