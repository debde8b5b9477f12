// The outputs of a camera render through their public calls: rows in any
// order from any thread, every format's channels, the depth file, fields, the
// temporary rendering directory and the post filter and link stages.
#include <cstring>
#include <filesystem>

#include <gmock/gmock.h>

#include "output/depth_file.h"
#include "output/output_test_support.h"
#include "platform/app.h"
#include "platform/memory.h"

namespace sky {
namespace {

using test::OutputFixture;
using test::read_bytes;
using test::read_image;
using test::ReadBack;
using test::Window;

class OutputRows : public OutputFixture {};

// The image byte of pixel x, channel c, image row y, as the files hold it.
std::uint8_t expected_byte(std::int32_t x, std::int32_t y, int c) {
    return static_cast<std::uint8_t>(test::pattern(x, y, c));
}

// The file row r (0 at the top) holds image row y.
void expect_row(const ReadBack& image, int r, std::int32_t y, int channels_checked = 4) {
    for (int x = 0; x < image.width; ++x)
        for (int c = 0; c < channels_checked; ++c)
            ASSERT_EQ(image.pixels[(static_cast<std::size_t>(r) * image.width + x) * 4 + c],
                      expected_byte(x, y, c))
                << "file row " << r << " x " << x << " channel " << c;
}

TEST_F(OutputRows, RowsLeaveTopToBottomWhateverOrderTheyArriveIn) {
    render_options().image_format = 2;
    OutputContext context;
    Window window{0, 3, 5, 7};
    render(context, camera("a.rgb", "a.matte"), window, {5, 7, 6});
    ReadBack image = read_image(file("a.rgb"));
    ASSERT_TRUE(image.ok) << FBgetError();
    ASSERT_EQ(image.height, 3);
    expect_row(image, 0, 7);
    expect_row(image, 1, 6);
    expect_row(image, 2, 5);
    EXPECT_EQ(user(), "Completed " + file("a.rgb") + " file\n");
    EXPECT_EQ(context.pending, nullptr);
}

// The property the renderer's worker count must not change: 1 worker delivers
// rows in order, several deliver them in any order.
TEST_F(OutputRows, ShuffledRowsFromSeveralThreadsMakeTheSameFilesAsRowsInOrder) {
    const Window window{3, 52, 10, 69};
    // Some formats record the file's name: the two renders use the same names
    // in two directories.
    std::filesystem::create_directory(file("one"));
    std::filesystem::create_directory(file("many"));
    for (int format : {1, 2, 4, 5, 9}) {
        SCOPED_TRACE(format);
        render_options().image_format = format;
        for (bool integer : {false, true}) {
            render_options().use_lumenfold_depth = integer;
            const std::string base = "f" + std::to_string(format) + (integer ? "i" : "f");
            auto names = [&](const std::string& dir) {
                return camera(dir + "/" + base, dir + "/" + base + "m", dir + "/" + base + "d", 2,
                              60);
            };
            OutputContext in_order, shuffled;
            render(in_order, names("one"), window, top_down(window));
            render(shuffled, names("many"), window,
                   test::OutputFixture::shuffled(window, 7u + format), 4);
            for (const char* suffix : {"", "m", "d"}) {
                const std::string a = file("one/" + base + suffix);
                const std::string b = file("many/" + base + suffix);
                if (!std::filesystem::exists(a)) {
                    EXPECT_FALSE(std::filesystem::exists(b)) << b;
                    continue;
                }
                EXPECT_EQ(read_bytes(a), read_bytes(b)) << a;
            }
        }
    }
}

TEST_F(OutputRows, ARowDeliveredTwiceIsReportedAndWrittenOnce) {
    OutputContext context;
    Window window{0, 7, 0, 5};
    // Twice while waiting for its turn, and once more after it was written.
    render(context, camera("twice", "", "twice.depth"), window, {3, 3, 5, 4, 2, 4, 1, 0});
    EXPECT_EQ(user(), std::string("Error, outputting the same scanline twice\n") +
                          "Error, outputting the same scanline twice\n" + "Completed " +
                          file("twice") + " file\n" + "Completed " + file("twice.depth") +
                          " file\n");
    ReadBack image = read_image(file("twice"));
    ASSERT_TRUE(image.ok) << FBgetError();
    ASSERT_EQ(image.height, 6);
    for (int r = 0; r < 6; ++r) expect_row(image, r, 5 - r, 3);
    EXPECT_EQ(read_bytes(file("twice.depth")).size(), kDepthHeaderSize + 6u * 8 * 4);
}

TEST_F(OutputRows, RowsAllocateNothingOnceThePendingListHasGrown) {
    OutputContext context;
    const Window window{0, 99, 0, 59};
    const auto order = shuffled(window, 3);
    render(context, camera("warm", "", "warm.depth"), window, order, 1);
    const std::size_t warm = MA_get_memory_used();
    render(context, camera("steady", "", "steady.depth"), window, order, 1);
    EXPECT_EQ(MA_get_memory_used(), warm);
    release_pending_rows(context);
}

// --- formats and channels -------------------------------------------------------

struct FormatCase {
    int format;
    bool with_matte;
    int image_channels;  // as read back
    bool matte_file;     // a file of its own
};

TEST_F(OutputRows, EveryFormatCarriesItsChannelsAndTheMatteInsideOrBeside) {
    const Window window{0, 9, 0, 3};
    const FormatCase cases[] = {
        {1, false, 3, false}, {1, true, 3, true},   {2, false, 3, false},
        {2, true, 4, false},  {4, false, 3, false}, {4, true, 4, false},
        {5, true, 4, false},  {9, false, 4, false}, {9, true, 4, false},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "format " << c.format << " matte " << c.with_matte);
        render_options().image_format = c.format;
        const std::string base = "c" + std::to_string(c.format) + (c.with_matte ? "m" : "");
        OutputContext context;
        render(context, camera(base, c.with_matte ? base + ".matte" : ""), window,
               top_down(window));
        ReadBack image = read_image(file(base));
        ASSERT_TRUE(image.ok) << FBgetError();
        EXPECT_EQ(image.width, 10);
        EXPECT_EQ(image.height, 4);
        EXPECT_EQ(image.channels, c.image_channels);
        for (int r = 0; r < 4; ++r) expect_row(image, r, 3 - r, c.image_channels == 4 ? 4 : 3);
        EXPECT_EQ(std::filesystem::exists(file(base + ".matte")), c.matte_file);
        if (c.matte_file) {
            ReadBack matte = read_image(file(base + ".matte"));
            ASSERT_TRUE(matte.ok) << FBgetError();
            EXPECT_EQ(matte.channels, 1);
            for (int r = 0; r < 4; ++r)
                for (int x = 0; x < 10; ++x)
                    EXPECT_EQ(matte.pixels[(static_cast<std::size_t>(r) * 10 + x) * 4 + 3],
                              expected_byte(x, 3 - r, 3));
        }
    }
}

TEST_F(OutputRows, SixteenBitFilesKeepTheFractions) {
    render_options().image_format = 5;
    OutputContext context;
    open_outputs(context, camera("deep.tif", "deep.matte"), 0, 0, 0, 0, 0);
    const float colour[4] = {127.75f, 0.5f, 255.0f, 10.25f};
    output_scanline(0, context, colour, nullptr, nullptr);
    close_outputs(context);
    ReadBack image = read_image(file("deep.tif"), true);
    ASSERT_TRUE(image.ok) << FBgetError();
    EXPECT_EQ(image.channels, 4);
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{192, 128, 0, 64, 127, 0, 255, 10}));
}

// A matte with nothing to ride in still gets written.
TEST_F(OutputRows, AMatteWithoutAnImageGetsAFileOfItsOwnInAnyFormat) {
    for (int format : {2, 4, 9}) {
        SCOPED_TRACE(format);
        render_options().image_format = format;
        OutputContext context;
        const Window window{0, 4, 0, 1};
        const std::string name = "only" + std::to_string(format) + ".matte";
        render(context, camera("", name), window, top_down(window));
        ReadBack matte = read_image(file(name));
        ASSERT_TRUE(matte.ok) << FBgetError();
        EXPECT_EQ(matte.pixels[3], expected_byte(0, 1, 3));
    }
}

TEST_F(OutputRows, AnUnsupportedFormatWarnsAndWritesTheNativeFormat) {
    render_options().image_format = 3;
    OutputContext context;
    const Window window{0, 2, 0, 1};
    render(context, camera("gif"), window, top_down(window));
    EXPECT_EQ(errors(),
              "Warning: Unsupported image format specified - Using QUORL format instead\n\n");
    std::vector<std::uint8_t> bytes = read_bytes(file("gif"));
    ASSERT_GE(bytes.size(), 8u);
    ReadBack image = read_image(file("gif"));
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(image.channels, 3);
}

TEST_F(OutputRows, CompletedLinesFollowFourBlanksWhenQuiet) {
    OutputContext context;
    open_outputs(context, camera("q", "q.matte", "q.depth"), 0, 1, 0, 0, 1);
    float colour[8] = {};
    output_scanline(0, context, colour, nullptr, nullptr);
    rptSetUserCB([](const char* text) { user() += std::string("[") + text + "]"; });
    close_outputs(context);
    EXPECT_EQ(user(), "[    ][Completed " + file("q") + " file\n][    ][Completed " +
                          file("q.matte") + " file\n][    ][Completed " + file("q.depth") +
                          " file\n]");
}

// --- the depth file ---------------------------------------------------------------

std::uint32_t u32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

TEST_F(OutputRows, TheDepthFileHoldsTheDepthsHandedToIt) {
    OutputContext context;
    const Window window{2, 8, 4, 6};  // 7 x 3
    render(context, camera("", "", "d"), window, shuffled(window, 11), 2);
    std::vector<std::uint8_t> bytes = read_bytes(file("d"));
    ASSERT_EQ(bytes.size(), 8u + 7 * 3 * 4);
    EXPECT_EQ(u32(bytes, 0), 55655u);
    EXPECT_EQ(bytes[4] | bytes[5] << 8, 7);
    EXPECT_EQ(bytes[6] | bytes[7] << 8, 3);
    for (int r = 0; r < 3; ++r) {
        std::vector<float> expected = test::depth_row(6 - r, 7);
        for (int x = 0; x < 7; ++x) {
            float value;
            std::memcpy(&value, &bytes[8 + (static_cast<std::size_t>(r) * 7 + x) * 4], 4);
            EXPECT_EQ(value, expected[static_cast<std::size_t>(x)]) << r << " " << x;
        }
    }
}

TEST_F(OutputRows, RowsWithoutDepthsRecordNothingSeen) {
    OutputContext context;
    const Window window{0, 2, 0, 1};
    render(context, camera("", "", "none.depth"), window, top_down(window), 1, false);
    std::vector<std::uint8_t> bytes = read_bytes(file("none.depth"));
    ASSERT_EQ(bytes.size(), 8u + 6 * 4);
    for (std::size_t at = 8; at < bytes.size(); at += 4) {
        float value;
        std::memcpy(&value, &bytes[at], 4);
        EXPECT_EQ(value, 1e8f);
    }
}

TEST_F(OutputRows, IntegerDepthsSpanTheClippingPlanes) {
    render_options().use_lumenfold_depth = true;
    OutputContext context;
    open_outputs(context, camera("", "", "int.depth", 10, 110), 0, 4, 0, 0, 0);
    const float colour[20] = {};
    const float depth[5] = {10.0f, 5.0f, 60.0f, 110.0f, 1e8f};
    output_scanline(0, context, colour, depth, nullptr);
    close_outputs(context);
    std::vector<std::uint8_t> bytes = read_bytes(file("int.depth"));
    ASSERT_EQ(bytes.size(), 8u + 5 * 4);
    EXPECT_EQ(u32(bytes, 0), 56655u);
    EXPECT_EQ(u32(bytes, 8), 2147483647u);   // at the near plane
    EXPECT_EQ(u32(bytes, 12), 2147483647u);  // in front of it
    EXPECT_EQ(u32(bytes, 16), 1073741823u);  // half way
    EXPECT_EQ(u32(bytes, 20), 0u);           // at the far plane
    EXPECT_EQ(u32(bytes, 24), 0u);           // nothing seen
}

TEST_F(OutputRows, AMissingDepthDirectoryIsCreatedWithTwoReports) {
    OutputContext context;
    const Window window{0, 1, 0, 0};
    render(context, camera("", "", "depth/shot"), window, top_down(window));
    EXPECT_EQ(errors(), "Warning: '" + file("depth") +
                            "' directory does not exist, trying to create it.\nCreated '" +
                            file("depth") + "' directory.\n");
    EXPECT_EQ(read_bytes(file("depth/shot")).size(), 8u + 2 * 4);
}

// Depth of field's own depth image stays in memory for it.
TEST_F(OutputRows, TheDepthOfFieldDepthImageIsKeptInMemory) {
    OutputContext context;
    const Window window{0, 3, 0, 2};
    CameraRecord record = camera("");
    record.depth_name = APP_getTempPath() + "/TempDepthFileForDOF123";
    render(context, record, window, shuffled(window, 5), 2);
    EXPECT_FALSE(std::filesystem::exists(record.depth_name));
    EXPECT_EQ(user(), "");
    ASSERT_NE(context.depth_block, nullptr);
    std::vector<float> top = test::depth_row(2, 4), bottom = test::depth_row(0, 4);
    EXPECT_EQ(context.depth_block[1], top[1]);
    EXPECT_EQ(context.depth_block[8 + 3], bottom[3]);
    release_depth_block(context);
    EXPECT_EQ(context.depth_block, nullptr);
}

// --- fields ---------------------------------------------------------------------------

TEST_F(OutputRows, FieldFilesHoldHalfTheRowsAndNeedAnEvenNumberOfThem) {
    render_options().fields = true;
    OutputContext context;
    const Window window{0, 644, 0, 485};
    std::vector<std::int32_t> rows;
    for (std::int32_t y = 485; y >= 0; y -= 2) rows.push_back(y);
    render(context, camera("", "", "field.depth"), window, rows, 2, false);
    std::vector<std::uint8_t> depth = read_bytes(file("field.depth"));
    EXPECT_EQ(depth[6] | depth[7] << 8, 243);
    EXPECT_EQ(depth.size(), 8u + 645 * 243 * 4);

    OutputContext odd;
    EXPECT_EXIT(
        {
            rptSetErrorCB(nullptr);
            open_outputs(odd, camera("odd"), 0, 644, 0, 484, 0);
        },
        testing::ExitedWithCode(1), "^Can't render an odd number of scanlines on fields\n$");
}

TEST_F(OutputRows, FieldRowsOfEitherParityFillTheFieldTopDown) {
    render_options().fields = true;
    const Window window{0, 3, 2, 9};  // 8 rows, 4 per field
    for (int parity : {0, 1}) {
        OutputContext context;
        const std::string name = "parity" + std::to_string(parity);
        std::vector<std::int32_t> rows;
        for (std::int32_t y = window.ylow + parity; y <= window.yhigh; y += 2) rows.push_back(y);
        render(context, camera(name, "", name + ".depth"), window, rows);
        ReadBack image = read_image(file(name));
        ASSERT_TRUE(image.ok) << FBgetError();
        ASSERT_EQ(image.height, 4);
        for (int r = 0; r < 4; ++r) expect_row(image, r, 8 + parity - 2 * r, 3);
        std::vector<std::uint8_t> depth = read_bytes(file(name + ".depth"));
        EXPECT_EQ(depth[6] | depth[7] << 8, 4);
    }
}

// --- the temporary rendering directory --------------------------------------------------

TEST_F(OutputRows, OpeningMakesTheTemporaryRenderingDirectory) {
    EXPECT_EQ(temporary_rendering_directory(), file("QuorlRenderer"));
    OutputContext context;
    render(context, camera("t"), Window{0, 0, 0, 0}, {0});
    EXPECT_TRUE(std::filesystem::is_directory(file("QuorlRenderer")));
    render(context, camera("t"), Window{0, 0, 0, 0}, {0});  // and finds it made
    EXPECT_EQ(errors(), "");
}

// --- the stages around the files ------------------------------------------------------

struct HeldRow {
    bool held = false;
    std::vector<std::uint8_t> bytes;
    std::vector<float> colour, depth;
    std::vector<std::int32_t> calls;
};
HeldRow held;

// A post filter that changes nothing but keeps one row back, as filters do.
void hold_one_row(OutputContext& context, const std::uint8_t* bytes, const float* depth,
                  const std::uint8_t*, const float* colour, std::int32_t width,
                  std::int32_t height) {
    held.calls.push_back(bytes ? context.next_row : -1);
    if (held.held)
        write_row(context, held.bytes.data(), held.colour.data(),
                  held.depth.empty() ? nullptr : held.depth.data(), width, height);
    held.held = bytes != nullptr;
    if (!held.held) return;
    held.bytes.assign(bytes, bytes + width * 4);
    held.colour.assign(colour, colour + width * 4);
    if (depth) held.depth.assign(depth, depth + width);
}

TEST_F(OutputRows, ThePostFilterSeesEveryRowInOrderAndIsFlushedAtClose) {
    const Window window{0, 5, 0, 6};
    OutputContext plain;
    render(plain, camera("plain", "", "plain.depth"), window, shuffled(window, 2), 3);

    render_options().post_filter = true;
    output_stages().post_filter_row = hold_one_row;
    held = HeldRow{};
    OutputContext filtered;
    render(filtered, camera("filtered", "", "filtered.depth"), window, shuffled(window, 9), 3);
    EXPECT_EQ(held.calls, (std::vector<std::int32_t>{6, 5, 4, 3, 2, 1, 0, -1}));
    EXPECT_EQ(read_bytes(file("plain")), read_bytes(file("filtered")));
    EXPECT_EQ(read_bytes(file("plain.depth")), read_bytes(file("filtered.depth")));
}

struct LinkLog {
    std::string file;
    std::vector<std::int32_t> rows;
    std::vector<std::pair<std::int32_t, std::int32_t>> progress;
    std::vector<float> first_record;
};
LinkLog link_log;

TEST_F(OutputRows, LinkModeSendsRowsAndProgressAndWritesNoFilesWithoutPostEffects) {
    render_options().link_mode = true;
    OutputStages& stages = output_stages();
    link_log = LinkLog{};
    stages.send_file = [](const char* name, bool image, bool depth, bool matte) {
        link_log.file =
            std::string(name) + (image ? " i" : "") + (depth ? " d" : "") + (matte ? " m" : "");
        return true;
    };
    stages.send_pixels = [](std::int32_t, std::int32_t y, std::int32_t width, std::int32_t rows,
                            float* records) {
        link_log.rows.push_back(y);
        if (link_log.first_record.empty()) link_log.first_record.assign(records, records + 5);
        return width == 2 && rows == 1;
    };
    stages.send_progress = [](char letter, std::int32_t done, std::int32_t total) {
        link_log.progress.emplace_back(letter == 'r' ? done : -1, total);
        return true;
    };
    OutputContext context;
    const Window window{0, 1, 10, 13};
    render(context, camera("shot"), window, {12, 11, 13, 10}, 1, false);
    EXPECT_EQ(link_log.file, file("shot") + " i");
    EXPECT_EQ(link_log.rows, (std::vector<std::int32_t>{3, 2, 1, 0}));
    EXPECT_EQ(link_log.progress,
              (std::vector<std::pair<std::int32_t, std::int32_t>>{{1, 4}, {2, 4}, {3, 4}, {4, 4}}));
    EXPECT_EQ(link_log.first_record,
              (std::vector<float>{test::pattern(0, 13, 0), test::pattern(0, 13, 1),
                                  test::pattern(0, 13, 2), test::pattern(0, 13, 3), 0.0f}));
    EXPECT_EQ(context.image_name, file("QuorlRenderer/shot"));
    EXPECT_FALSE(std::filesystem::exists(file("shot")));
    EXPECT_FALSE(std::filesystem::exists(file("QuorlRenderer/shot")));
    EXPECT_EQ(user(), "");
}

}  // namespace
}  // namespace sky
