// File textures: images written through the image file library and read
// back as textures; placement checked against the texel each lookup lands on.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/image/fb.h"
#include "platform/image/image_test_support.h"
#include "platform/memory.h"
#include "platform/report.h"
#include "texture/texture_cache.h"
#include "texture/texture_test_support.h"

namespace sky::test {
namespace {

// Texel (x, row) of the 4×4 test image, rows counted from the top: its red
// and green name the texel.
float texel_red(int x) {
    return 10.0f + 60.0f * x;
}
float texel_green(int row) {
    return 10.0f + 60.0f * row;
}

bool write_image(const std::string& name, int format) {
    std::vector<std::uint8_t> pixels(4 * 4 * 4);
    for (int row = 0; row < 4; ++row)
        for (int x = 0; x < 4; ++x) {
            std::uint8_t* p = &pixels[(row * 4 + x) * 4];
            p[0] = static_cast<std::uint8_t>(texel_red(x));
            p[1] = static_cast<std::uint8_t>(texel_green(row));
            p[2] = 200;
            p[3] = 255;
        }
    FBhandle* file = FBopen(name.c_str(), FB_WRITE_IMAGE, format, 4, 4, 4, 0, 0, 90.0);
    if (file == nullptr) return false;
    FBtiff16_set(file, 0);  // 8-bit values, whatever the file takes
    bool written = FBwrite(file, pixels.data()) != 0;
    return FBclose(file) != 0 && written;
}

std::string errors;
void capture(const char* text) {
    errors += text;
}

class FileTexture : public TextureTest {
protected:
    void SetUp() override {
        TextureTest::SetUp();
        clear_texture_cache();
        image_ = scratch_.file("grid.qrl");
        ASSERT_TRUE(write_image(image_, FB_FORMAT_QRL));
        errors.clear();
        rptSetErrorCB(capture);
    }
    void TearDown() override {
        rptSetErrorCB(nullptr);
        clear_texture_cache();
        TextureTest::TearDown();
    }
    AR_TextureInfo* file_texture(const std::string& parameters = "") {
        return declared("environment t (procedure = file, image = \"" + image_ + "\"" + parameters +
                        ");");
    }
    // The texel (x, row) the lookup at (u, v) returned, checked to be a texel's exact colour.
    static void expect_texel(const TextureColour& got, int x, int row) {
        expect_colour(got, texel_red(x), texel_green(row), 200, 0.01f);
    }
    // The centre of texel (x, row) in texture space: v grows upward.
    static float centre_u(int x) { return (x + 0.5f) / 4.0f; }
    static float centre_v(int row) { return 1.0f - (row + 0.5f) / 4.0f; }

    ScratchDir scratch_;
    std::string image_;
};

TEST_F(FileTexture, PixelCentresGiveTheFilesColours) {
    AR_TextureInfo* t = file_texture();
    ASSERT_NE(t, nullptr);
    for (int row = 0; row < 4; ++row)
        for (int x = 0; x < 4; ++x) {
            TextureColour out = look(*t, centre_u(x), centre_v(row));
            expect_texel(out, x, row);
            EXPECT_NEAR(out.alpha, 1.0f, 1e-6f);
        }
    EXPECT_EQ(errors, "");
}

TEST_F(FileTexture, TheResultFollowsTheFilterWidth) {
    AR_TextureInfo* t = file_texture();
    ASSERT_NE(t, nullptr);
    // A footprint much wider than the image gives the image's mean.
    expect_colour(look(*t, centre_u(0), centre_v(0), 10.0f, 10.0f), 100, 100, 200, 1.0f);
    // Between: the result moves from the texel toward the mean.
    TextureColour middle = look(*t, centre_u(0), centre_v(0), 0.4f, 0.4f);
    EXPECT_GT(middle.r, texel_red(0) + 1.0f);
    EXPECT_LT(middle.r, 100.0f);
}

TEST_F(FileTexture, EveryFilterReachesTheMeanAndKeepsFlatAreas) {
    for (const char* filter :
         {"BLEND_FILTER", "BOX_FILTER", "QUADRATIC_FILTER", "QUARTIC_FILTER", "GAUSS_FILTER"}) {
        AR_TextureInfo* t = file_texture(std::string(", filter = ") + filter);
        ASSERT_NE(t, nullptr) << filter;
        expect_colour(look(*t, 0.3f, 0.6f, 50.0f, 50.0f), 100, 100, 200, 1.0f);
        EXPECT_NEAR(look(*t, 0.3f, 0.6f, 0.1f, 0.1f).b, 200.0f, 0.01f) << filter;
    }
}

TEST_F(FileTexture, EveryFormatTheRendererWritesReadsAsWell) {
    for (int format : {FB_FORMAT_SGI, FB_FORMAT_TIFF, FB_FORMAT_TIFF16, FB_FORMAT_RLA}) {
        std::string name = scratch_.file("grid" + std::to_string(format));
        ASSERT_TRUE(write_image(name, format));
        AR_TextureInfo* t = declared("environment t (procedure = file, image = \"" + name + "\");");
        ASSERT_NE(t, nullptr);
        expect_texel(look(*t, centre_u(2), centre_v(1)), 2, 1);
    }
    EXPECT_EQ(errors, "");
}

TEST_F(FileTexture, RepeatMirrorAndStaggerPlaceTheImage) {
    AR_TextureInfo* repeat = file_texture(", urepeat = 2");
    ASSERT_NE(repeat, nullptr);
    expect_texel(look(*repeat, 0.0625f, centre_v(3)), 0, 3);         // s = 0.125
    expect_texel(look(*repeat, 0.5f + 0.0625f, centre_v(3)), 0, 3);  // s = 1.125

    AR_TextureInfo* mirror = file_texture(", urepeat = 2, mirror = ON");
    ASSERT_NE(mirror, nullptr);
    expect_texel(look(*mirror, 0.0625f, centre_v(3)), 0, 3);
    expect_texel(look(*mirror, 0.5f + 0.0625f, centre_v(3)), 3, 3);  // turned over

    // Odd rows of repetitions move by half a repetition.
    AR_TextureInfo* stagger = file_texture(", vrepeat = 2, stagger = ON");
    ASSERT_NE(stagger, nullptr);
    expect_texel(look(*stagger, centre_u(0), 0.0625f), 0, 3);         // t = 0.125, row 0
    expect_texel(look(*stagger, centre_u(0), 0.5f + 0.0625f), 2, 3);  // t = 1.125, row 1
}

TEST_F(FileTexture, CoverageTranslationAndWrap) {
    AR_TextureInfo* clipped = file_texture(
        ", ucoverage = 0.5, utranslate = 0.25, uwrap = OFF,"
        " rgbout = (1, 2, 3)");
    ASSERT_NE(clipped, nullptr);
    expect_texel(look(*clipped, 0.25f + 0.5f * 0.125f, centre_v(0)), 0, 0);
    expect_texel(look(*clipped, 0.25f + 0.5f * 0.875f, centre_v(0)), 3, 0);
    expect_colour(look(*clipped, 0.0625f, centre_v(0)), 1, 2, 3);
    // Wrapping, the frame repeats outside its range: s = -0.375 shows 0.625.
    AR_TextureInfo* wrapped = file_texture(", ucoverage = 0.5, utranslate = 0.25");
    ASSERT_NE(wrapped, nullptr);
    expect_texel(look(*wrapped, 0.0625f, centre_v(0)), 2, 0);
}

TEST_F(FileTexture, RotationTurnsTheImageAboutItsCentre) {
    AR_TextureInfo* t = file_texture(", rotate = 90");
    ASSERT_NE(t, nullptr);
    // Turned a quarter counter-clockwise, texel (1, 0) near the top-left
    // corner goes to the bottom-left: its centre (0.375, 0.875) is seen at
    // (0.5 - (0.875 - 0.5), 0.5 + (0.375 - 0.5)).
    expect_texel(look(*t, 0.125f, 0.375f), 1, 0);
    expect_texel(look(*t, 0.625f, 0.875f), 3, 2);
}

TEST_F(FileTexture, FrameExtensionsNameASequence) {
    std::string frame7 = image_ + ".7";
    ASSERT_TRUE(write_image(frame7, FB_FORMAT_QRL));
    AR_TextureInfo* t = file_texture(", use_extension = ON, frame_extension = 7");
    ASSERT_NE(t, nullptr);
    expect_texel(look(*t, centre_u(1), centre_v(1)), 1, 1);
    EXPECT_EQ(errors, "");
}

TEST_F(FileTexture, MissingAndDamagedFilesAreReportedOnceAndShowRgbout) {
    AR_TextureInfo* missing = declared("environment t (procedure = file, image = \"" +
                                       scratch_.file("none.qrl") + "\", rgbout = (5, 6, 7));");
    ASSERT_NE(missing, nullptr);
    expect_colour(look(*missing, 0.5f, 0.5f), 5, 6, 7);
    Ar_init_texture(*missing);
    EXPECT_EQ(errors, "Warning: Couldn't find texture file '" + scratch_.file("none.qrl") + "'\n");

    errors.clear();
    std::string junk = scratch_.file("junk.qrl");
    write_bytes(junk, std::vector<std::uint8_t>{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a',
                                                'g', 'e'});
    AR_TextureInfo* damaged =
        declared("environment t (procedure = file, image = \"" + junk + "\");");
    ASSERT_NE(damaged, nullptr);
    expect_colour(look(*damaged, 0.5f, 0.5f), 0, 0, 0);
    EXPECT_EQ(errors, "Warning: Couldn't open texture file '" + junk + "'\n");

    errors.clear();
    AR_TextureInfo* unnamed = declared("environment t (procedure = file, image = \"\");");
    ASSERT_NE(unnamed, nullptr);
    EXPECT_EQ(errors, "");
}

TEST_F(FileTexture, ObjectsGetTheirOwnImages) {
    std::string other = scratch_.file("other.qrl");
    ASSERT_TRUE(write_image(other, FB_FORMAT_QRL));
    AR_TextureInfo* t =
        declared("environment t (procedure = file, image = \"" + scratch_.file("none.qrl") +
                 "\", object = \"teapot\", object_image = \"" + other + "\");");
    ASSERT_NE(t, nullptr);
    TextureLookup at;
    at.u = centre_u(2);
    at.v = centre_v(2);
    at.object_name = "teapot";
    TextureColour out;
    ASSERT_TRUE(Ar_invoke_texture(*t, at, out));
    expect_texel(out, 2, 2);
    at.object_name = "cup";
    ASSERT_TRUE(Ar_invoke_texture(*t, at, out));
    expect_colour(out, 0, 0, 0);
}

TEST_F(FileTexture, ALoneObjectNameIsReported) {
    AR_TextureInfo* t = file_texture(", object = \"teapot\"");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(errors, "Unmatched object / object_image pair in file texture.\n");
}

TEST_F(FileTexture, ImagesAreReadOnceAndSharedUntilTheCacheLimit) {
    AR_TextureInfo* first = file_texture();
    AR_TextureInfo* second = file_texture(", urepeat = 3");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(texture_image(image_).get(), texture_image(image_).get());
    std::size_t held = texture_cache_bytes();
    EXPECT_GT(held, 0u);
    // Held by textures: kept whatever the limit.
    set_texture_cache_limit(0);
    texture_cache_new_frame();
    EXPECT_EQ(texture_cache_bytes(), held);
}

// The statistics print the tracked memory: a texture's pyramid is in it for
// as long as the texture is held.
TEST_F(FileTexture, TheMemoryOfATextureIsCountedWhileItIsHeld) {
    const std::size_t before = MA_get_memory_used();
    std::shared_ptr<const ImagePyramid> pyramid = texture_image(image_);
    ASSERT_TRUE(pyramid);
    EXPECT_EQ(pyramid->bytes(), (16u + 4u + 1u) * 4u);
    EXPECT_GE(MA_get_memory_used(), before + pyramid->bytes());
    pyramid.reset();
    clear_texture_cache();
    EXPECT_LE(MA_get_memory_used(), before);
}

// An image beyond the pixel limit is halved as its pyramid would halve it:
// the texture is that level of the full image's pyramid.
TEST_F(FileTexture, AnImageBeyondTheLimitIsReducedWithAWarning) {
    set_texture_pixel_limit(15);  // 4 x 4 is too many, 2 x 2 fits
    AR_TextureInfo* t = file_texture();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(errors, "Warning: Texture file " + image_ +
                          " reduced from 4x4 to 2x2 pixels: textures are limited to 15 pixels\n");
    std::shared_ptr<const ImagePyramid> reduced = texture_image(image_);
    ASSERT_TRUE(reduced);
    EXPECT_EQ(reduced->level(0).width, 2);
    EXPECT_EQ(reduced->bytes(), (4u + 1u) * 4u);
    // The top-left texel is the mean of the image's top-left four.
    expect_colour(look(*t, 0.25f, 0.75f), (texel_red(0) + texel_red(1)) / 2,
                  (texel_green(0) + texel_green(1)) / 2, 200, 0.51f);
}

}  // namespace
}  // namespace sky::test
