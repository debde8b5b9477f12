// Whole-program tests of skyloom-convert: the built tool is run on files made
// through the image library, and its output is checked with OpenImageIO.
#include <sys/wait.h>

#include <cstdlib>
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

}  // namespace
}  // namespace sky
