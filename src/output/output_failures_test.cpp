// Outputs that cannot be made or written end the run with their message and
// status 1, and a file missing rows is never reported complete.
#include <csignal>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gmock/gmock.h>

#include "output/output_test_support.h"

namespace sky {
namespace {

using test::OutputFixture;
using test::Window;
using testing::ExitedWithCode;

class OutputFailures : public OutputFixture {
protected:
    // Opens the outputs of `record` for a 4 x 3 window and delivers `rows`
    // rows of it, top first, then closes: in a child process, with the error
    // channel back on standard error.
    void run(const CameraRecord& record, int rows) {
        rptSetErrorCB(nullptr);
        rptSetUserCB(nullptr);
        OutputContext context;
        const Window window{0, 3, 0, 2};
        open_outputs(context, record, 0, 3, 0, 2, 0);
        std::vector<std::int32_t> order = top_down(window);
        order.resize(static_cast<std::size_t>(rows));
        deliver(context, window, order);
        close_outputs(context);
        std::exit(0);
    }
};

TEST_F(OutputFailures, FilesThatCannotBeCreated) {
    EXPECT_EXIT(run(camera("no/such/dir/a"), 3), ExitedWithCode(1),
                "^Warning: .+\nCan't create image file .*/no/such/dir/a\n$");
    EXPECT_EXIT(run(camera("a", "no/such/dir/m"), 3), ExitedWithCode(1),
                "^Warning: .+\nCan't create alpha file .*/no/such/dir/m\n$");
    // The depth file's directory is made when missing, but not a whole path.
    EXPECT_EXIT(run(camera("", "", "no/such/d"), 3), ExitedWithCode(1),
                "^Warning: '.*/no/such' directory does not exist, trying to create it.\n"
                "Cannot create depth directory: No such file or directory\n"
                "Can't create depth file .*/no/such/d; perhaps you need to create a 'depth' "
                "directory.\n$");
    // A directory that exists gets no second try.
    std::filesystem::create_directory(file("taken"));
    EXPECT_EXIT(run(camera("", "", "taken"), 3), ExitedWithCode(1),
                "^Can't create depth file .*/taken; perhaps you need to create a 'depth' "
                "directory.\n$");
}

// Every image format, and the matte and depth files, on a device that is
// always full and on a disk that fills up (a file-size limit): the run ends
// with the file's message, nothing is reported complete, and no file is
// left under its final name or its hidden one.
class FullDisk : public OutputFailures, public testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        OutputFailures::SetUp();
        render_options().image_format = GetParam();
    }
    // As run(), for a 128 x 96 window, with files limited to 4096 bytes:
    // every output file needs more, the messages (which the test reads from
    // a file too) much less.
    void run_filling_up(const CameraRecord& record) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) std::exit(2);
        rptSetErrorCB(nullptr);
        rptSetUserCB(nullptr);
        OutputContext context;
        const Window window{0, 127, 0, 95};
        open_outputs(context, record, 0, 127, 0, 95, 0);
        deliver(context, window, top_down(window));
        close_outputs(context);
        std::_Exit(0);  // not expected: the test fails on the status
    }
    // The files in the scratch directory. Directories are not outputs: the
    // temporary rendering one, and the scratch directory a death test's
    // re-run child makes under TMPDIR (sanitizer builds re-run the binary).
    std::vector<std::string> files_left() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(file("")))
            if (!entry.is_directory()) names.push_back(entry.path().filename());
        return names;
    }
};

TEST_P(FullDisk, IsReportedAndNothingIsCompleted) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    EXPECT_EXIT(run(camera("/dev/full"), 3), ExitedWithCode(1),
                "^Problem writing image file: /dev/full: .*No space left on device\n$");
    EXPECT_EXIT(run(camera("", "/dev/full"), 3), ExitedWithCode(1),
                "^Problem writing mask file: /dev/full: .*No space left on device\n$");
    EXPECT_EXIT(run(camera("", "", "/dev/full"), 3), ExitedWithCode(1),
                "^Problem writing depth file: No space left on device\n"
                "Could not complete render due to write problems\n$");
}

TEST_P(FullDisk, ThatFillsUpIsReportedAndLeavesNoFile) {
    EXPECT_EXIT(run_filling_up(camera("a")), ExitedWithCode(1),
                "^Problem writing image file: .*/a: .*File too large\n$");
    EXPECT_THAT(files_left(), testing::IsEmpty());
    EXPECT_EXIT(run_filling_up(camera("", "m")), ExitedWithCode(1),
                "^Problem writing mask file: .*/m: .*File too large\n$");
    EXPECT_THAT(files_left(), testing::IsEmpty());
    EXPECT_EXIT(run_filling_up(camera("", "", "d")), ExitedWithCode(1),
                "^Problem writing depth file: File too large\n"
                "Could not complete render due to write problems\n$");
    EXPECT_THAT(files_left(), testing::IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, FullDisk,
                         testing::Values(FB_FORMAT_QRL, FB_FORMAT_SGI, FB_FORMAT_TIFF,
                                         FB_FORMAT_TIFF16, FB_FORMAT_RLA),
                         [](const testing::TestParamInfo<int>& format) {
                             switch (format.param) {
                                 case FB_FORMAT_QRL:
                                     return "qrl";
                                 case FB_FORMAT_SGI:
                                     return "SGI";
                                 case FB_FORMAT_TIFF:
                                     return "TIFF";
                                 case FB_FORMAT_TIFF16:
                                     return "TIFF16";
                                 default:
                                     return "RLA";
                             }
                         });

// Opens `kind`'s file on a pipe whose reader goes away once the file is open.
void render_into_closed_pipe(OutputFixture& fixture, const std::string& kind) {
    int ends[2];
    if (::pipe(ends) != 0) std::exit(2);
    const std::string name = "/proc/self/fd/" + std::to_string(ends[1]);
    rptSetErrorCB(nullptr);
    rptSetUserCB(nullptr);
    CameraRecord record;
    if (kind == "image") record.image_name = name;
    if (kind == "depth") record.depth_name = name;
    OutputContext context;
    open_outputs(context, record, 0, 3, 0, 2, 0);
    ::close(ends[0]);
    const float colour[16] = {}, depth[4] = {};
    for (std::int32_t y = 2; y >= 0; --y) output_scanline(y, context, colour, depth, nullptr);
    close_outputs(context);
    std::exit(0);
}

TEST_F(OutputFailures, APipeWhoseReaderWentAway) {
    EXPECT_EXIT(render_into_closed_pipe(*this, "image"), ExitedWithCode(1),
                "^Problem writing image file: .*Broken pipe.*\n$");
    EXPECT_EXIT(render_into_closed_pipe(*this, "depth"), ExitedWithCode(1),
                "^Problem writing depth file: Broken pipe\n"
                "Could not complete render due to write problems\n$");
}

TEST_F(OutputFailures, ARenderMissingRowsIsNeverReportedComplete) {
    EXPECT_EXIT(run(camera("short"), 2), ExitedWithCode(1), "^Problem writing image file: .+\n$");
    EXPECT_EXIT(run(camera("", "short.matte"), 2), ExitedWithCode(1),
                "^Problem writing mask file: .+\n$");
    EXPECT_EXIT(run(camera("", "", "short.depth"), 2), ExitedWithCode(1),
                "^Problem writing depth file: .*/short.depth: 2 of 3 rows written\n"
                "Could not complete render due to write problems\n$");
}

TEST_F(OutputFailures, ATemporaryRenderingDirectoryThatCannotBeMade) {
    std::ofstream(file("QuorlRenderer")) << "in the way";
    EXPECT_EXIT(run(camera("a"), 3), ExitedWithCode(1),
                "^Warning: Can't create temporary rendering directory: .*/QuorlRenderer\n\n"
                "Can't create temporary rendering directory: .*/QuorlRenderer\n$");
}

}  // namespace
}  // namespace sky
