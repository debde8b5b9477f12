// File textures: images written through the image file library and read
// back as textures; placement checked against the texel each lookup lands on.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/options.h"

#include "platform/image/fb.h"
#include "platform/image/image_test_support.h"
#include "platform/memory.h"
#include "platform/report.h"
#include "texture/block_texture.h"
#include "texture/image_pyramid.h"
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

// An RGBA image of our own format.
bool write_qrl(const std::string& name, int width, int height,
               const std::vector<std::uint8_t>& pixels) {
    FBhandle* file =
        FBopen(name.c_str(), FB_WRITE_IMAGE, FB_FORMAT_QRL, width, height, 4, 0, 0, 90.0);
    if (file == nullptr) return false;
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

// --- the disk cache ---------------------------------------------------------------

// With texture caching on, pyramids live in files of the temporary
// directory mapped into memory: the lookups are the same, the memory the
// statistics count is not taken, and no file is left behind. Where the
// disk cannot take a pyramid it stays in memory with a message.
class DiskCache : public FileTexture {
protected:
    void SetUp() override {
        FileTexture::SetUp();
        saved_ = render_options();
        const char* tmpdir = std::getenv("TMPDIR");
        saved_tmpdir_ = tmpdir ? tmpdir : "";
        ::setenv("TMPDIR", cache_dir_.file("").c_str(), 1);
        render_options().texture_caching = 1;
        render_options().texture_cache_disk_limit = 5000;
    }
    void TearDown() override {
        clear_texture_cache();
        render_options() = saved_;
        if (saved_tmpdir_.empty())
            ::unsetenv("TMPDIR");
        else
            ::setenv("TMPDIR", saved_tmpdir_.c_str(), 1);
        FileTexture::TearDown();
    }
    // Every lookup of a 5 × 5 grid of points at two footprints.
    std::vector<TextureColour> lookups(const AR_TextureInfo& t) {
        std::vector<TextureColour> all;
        for (float width : {0.0f, 0.3f})
            for (int j = 0; j < 5; ++j)
                for (int i = 0; i < 5; ++i)
                    all.push_back(look(t, 0.1f + 0.2f * i, 0.13f + 0.2f * j, width, width));
        return all;
    }
    static void expect_same(const std::vector<TextureColour>& a,
                            const std::vector<TextureColour>& b) {
        ASSERT_EQ(a.size(), b.size());
        for (std::size_t i = 0; i < a.size(); ++i)
            expect_colour(a[i], b[i].r, b[i].g, b[i].b, 0.0f);
    }
    // A temporary directory that does not exist: no file can be made there.
    void lose_temporary_directory() { ::setenv("TMPDIR", cache_dir_.file("missing").c_str(), 1); }
    std::size_t files_left() const {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& entry :
             std::filesystem::directory_iterator(cache_dir_.file("")))
            ++n;
        return n;
    }

    // In a child process: a 64 × 64 image (a pyramid of 21 kB) with files
    // limited to 4 kB, which the messages fit. Exits 0 when the texture is
    // read into memory and looks up right.
    void load_on_a_full_disk() {
        const std::string image = scratch_.file("sixty-four.qrl");
        if (!write_qrl(image, 64, 64, std::vector<std::uint8_t>(64 * 64 * 4, 120))) std::_Exit(2);
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) std::_Exit(2);
        rptSetErrorCB(nullptr);
        AR_TextureInfo* t =
            declared("environment t (procedure = file, image = \"" + image + "\");");
        if (t == nullptr || texture_image(image)->in_file()) std::_Exit(3);
        std::_Exit(look(*t, 0.3f, 0.6f).r == 120.0f ? 0 : 4);
    }

    ScratchDir cache_dir_;
    RenderOptions saved_;
    std::string saved_tmpdir_;
};

TEST_F(DiskCache, PyramidsLiveInUnlinkedMappedFilesAndLookUpTheSame) {
    render_options().texture_caching = 0;
    std::vector<TextureColour> in_memory = lookups(*file_texture());
    clear_texture_cache();

    render_options().texture_caching = 1;
    const std::size_t before = MA_get_memory_used();
    AR_TextureInfo* t = file_texture();
    ASSERT_NE(t, nullptr);
    std::shared_ptr<const ImagePyramid> pyramid = texture_image(image_);
    ASSERT_TRUE(pyramid);
    EXPECT_TRUE(pyramid->in_file());
    EXPECT_EQ(pyramid->memory_bytes(), 0u);
    EXPECT_EQ(pyramid->bytes(), (16u + 4u + 1u) * 4u);
    EXPECT_LT(MA_get_memory_used(), before + pyramid->bytes());
    expect_same(lookups(*t), in_memory);
    EXPECT_EQ(files_left(), 0u);
    EXPECT_EQ(errors, "");
}

TEST_F(DiskCache, CommandLineMegabytesStandForTheScenesSettings) {
    render_options().texture_caching = 0;
    render_options().texture_map_megabytes = 1;
    ASSERT_NE(file_texture(), nullptr);
    EXPECT_TRUE(texture_image(image_)->in_file());
    clear_texture_cache();
    // Negative: leave that much of the disk free, which no disk can.
    render_options().texture_map_megabytes = -2000000000;
    ASSERT_NE(file_texture(), nullptr);
    EXPECT_FALSE(texture_image(image_)->in_file());
    EXPECT_EQ(errors, "Warning: Not enough disk space or limit exceeded for mmaping texture " +
                          image_ + ". Will use swap space instead.\n");
}

TEST_F(DiskCache, APyramidOverTheLimitStaysInMemoryWithAMessage) {
    // A megabyte: a pyramid of 600 x 600 texels takes 1.9.
    const std::string big = scratch_.file("big.qrl");
    ASSERT_TRUE(write_qrl(big, 600, 600, std::vector<std::uint8_t>(600 * 600 * 4, 90)));
    render_options().texture_cache_disk_limit = 1;
    ASSERT_NE(file_texture(), nullptr);  // the small one fits
    AR_TextureInfo* t = declared("environment t (procedure = file, image = \"" + big + "\");");
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(texture_image(image_)->in_file());
    EXPECT_FALSE(texture_image(big)->in_file());
    EXPECT_EQ(errors, "Warning: Not enough disk space or limit exceeded for mmaping texture " +
                          big + ". Will use swap space instead.\n");
    expect_colour(look(*t, 0.5f, 0.5f), 90, 90, 90, 0.01f);
}

TEST_F(DiskCache, ATemporaryDirectoryThatCannotTakeFilesLeavesPyramidsInMemory) {
    lose_temporary_directory();
    AR_TextureInfo* t = file_texture();
    ASSERT_NE(t, nullptr);
    EXPECT_FALSE(texture_image(image_)->in_file());
    EXPECT_EQ(errors, "Error: can't open mmap file for texture " + image_ +
                          ". No such file or directory\n");
    expect_texel(look(*t, centre_u(1), centre_v(2)), 1, 2);
}

// A disk that fills up (a file-size limit stands in for it): the blocks are
// asked for before the mapping is written, so the run is told and goes on
// from memory instead of dying of a bus error at the first lookup.
TEST_F(DiskCache, AFullDiskLeavesPyramidsInMemoryWithAMessage) {
    EXPECT_EXIT(
        load_on_a_full_disk(), testing::ExitedWithCode(0),
        "^Warning: Not enough disk space or limit exceeded for mmaping texture .*sixty-four.qrl. "
        "Will use swap space instead.\n$");
}

// --- the block-ordered cache -------------------------------------------------------

// texture_caching 2: textures larger than a block are read through the
// shared block cache, giving the same lookups as from memory; a damaged
// block file is reported once, naming the texture, and shows the texture's
// mean colour rather than stray bytes; a file that cannot be written leaves
// the texture to the other caches.
class BlockCache : public DiskCache {
protected:
    void SetUp() override {
        DiskCache::SetUp();
        render_options().texture_caching = 2;
        set_block_cache_bytes(64 * 4096);  // 16 sets: blocks push each other out
        big_ = scratch_.file("big.qrl");
        std::vector<std::uint8_t> pixels(kWidth * kHeight * 4);
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<std::uint8_t>((i * 7919) >> 5);
        ASSERT_TRUE(write_qrl(big_, kWidth, kHeight, pixels));
    }
    void TearDown() override {
        set_block_cache_bytes(0);
        DiskCache::TearDown();
    }
    AR_TextureInfo* big(const std::string& parameters = "") {
        return declared("environment t (procedure = file, image = \"" + big_ + "\"" + parameters +
                        ");");
    }
    // Writes `bytes` at `offset` of the texture's block file, found among
    // the open descriptors (it is unlinked).
    static bool damage(off_t offset, const std::string& bytes, bool truncate = false) {
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code ignored;
            std::string target = std::filesystem::read_symlink(entry.path(), ignored).string();
            if (target.find("skyloom-blocks-") == std::string::npos) continue;
            int fd = ::open(entry.path().c_str(), O_WRONLY);
            if (fd < 0) return false;
            bool done = truncate ? ::ftruncate(fd, offset) == 0
                                 : ::pwrite(fd, bytes.data(), bytes.size(), offset) ==
                                       static_cast<ssize_t>(bytes.size());
            ::close(fd);
            return done;
        }
        return false;
    }
    static constexpr int kWidth = 100, kHeight = 70;
    std::string big_;
};

TEST_F(BlockCache, LargeTexturesLookUpThroughBlocksAsFromMemory) {
    for (const char* filter : {"", ", filter = GAUSS_FILTER"}) {
        render_options().texture_caching = 0;
        std::vector<TextureColour> in_memory = lookups(*big(filter));
        clear_texture_cache();
        render_options().texture_caching = 2;
        AR_TextureInfo* t = big(filter);
        ASSERT_NE(t, nullptr);
        EXPECT_TRUE(texture_image(big_)->in_blocks());
        EXPECT_EQ(texture_image(big_)->memory_bytes(), 0u);
        // Twice: from the file, then (some) from the cache.
        expect_same(lookups(*t), in_memory);
        expect_same(lookups(*t), in_memory);
        clear_texture_cache();
    }
    // A texture within one block is left to the other caches.
    ASSERT_NE(file_texture(), nullptr);
    EXPECT_FALSE(texture_image(image_)->in_blocks());
    EXPECT_EQ(errors, "");
    EXPECT_EQ(files_left(), 0u);
}

TEST_F(BlockCache, DamagedBlocksAreReportedOnceAndShowTheMeanColour) {
    struct Damage {
        off_t offset;
        std::string bytes;
        bool truncate;
        std::string message;
    };
    const Damage damages[] = {
        {100, "scribbled over", false,
         "Corrupted data found in block ordered texture file " + big_ +
             ": a block's checksum does not match its texels"},
        {0, "XXXX", false, "Decode error in block ordered texture file " + big_},
        {10, "", true,
         "read error in block ordered texture file " + big_ + ": the file ends early"},
    };
    for (const Damage& d : damages) {
        clear_texture_cache();
        errors.clear();
        AR_TextureInfo* t = big();
        ASSERT_NE(t, nullptr);
        std::shared_ptr<const ImagePyramid> pyramid = texture_image(big_);
        ASSERT_TRUE(pyramid->in_blocks());
        ASSERT_TRUE(damage(d.offset, d.bytes, d.truncate));
        // The first block holds the top-left corner of the finest level.
        std::uint8_t mean[4], got[4];
        pyramid->texel(pyramid->levels() - 1, 0, 0, mean);
        pyramid->texel(0, 1, 1, got);
        EXPECT_EQ(std::vector<std::uint8_t>(got, got + 4),
                  std::vector<std::uint8_t>(mean, mean + 4));
        look(*t, 0.01f, 0.99f);
        look(*t, 0.02f, 0.98f);
        EXPECT_EQ(errors, "Error: " + d.message + "\n");
    }
}

TEST_F(BlockCache, ABlockFileThatCannotBeWrittenLeavesTheTextureToTheOtherCaches) {
    lose_temporary_directory();
    AR_TextureInfo* t = big();
    ASSERT_NE(t, nullptr);
    EXPECT_FALSE(texture_image(big_)->in_blocks());
    EXPECT_EQ(errors, "Warning: Can't use block ordered texture - write error for file " + big_ +
                          ": No such file or directory\nError: can't open mmap file for texture " +
                          big_ + ". No such file or directory\n");
    render_options().texture_caching = 0;
    clear_texture_cache();
    std::vector<TextureColour> in_memory = lookups(*big());
    expect_same(lookups(*t), in_memory);
}

}  // namespace
}  // namespace sky::test
