// Outputs that cannot be made or written end the run with their message and
// status 1, and a file missing rows is never reported complete.
#include <fstream>

#include <fcntl.h>
#include <unistd.h>

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

TEST_F(OutputFailures, AFullDisk) {
    EXPECT_EXIT(run(camera("/dev/full"), 3), ExitedWithCode(1),
                "^Problem writing image file: .*No space left on device.*\n$");
    EXPECT_EXIT(run(camera("a", "/dev/full"), 3), ExitedWithCode(1),
                "^Problem writing mask file: .*No space left on device.*\n$");
    EXPECT_EXIT(run(camera("a", "", "/dev/full"), 3), ExitedWithCode(1),
                "^Problem writing depth file: No space left on device\n"
                "Could not complete render due to write problems\n$");
}

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
