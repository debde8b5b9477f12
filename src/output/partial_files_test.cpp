// Output files appear under their final names only when complete: while a
// camera renders, its files are hidden beside their names, and a run that
// ends early leaves the final names as they were.
#include "output/partial_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "output/output_test_support.h"
#include "platform/partial_names.h"

namespace sky {
namespace {

using test::OutputFixture;
using test::Window;
using testing::ExitedWithCode;

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The names in a directory that are not the renderer's own temporary
// rendering directory.
std::vector<std::string> names_in(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        if (entry.path().filename() != "QuorlRenderer")
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class PartialFiles : public OutputFixture {};

TEST_F(PartialFiles, FilesTakeTheirNamesWhenClosed) {
    std::ofstream(file("shot")) << "last night's frame";
    OutputContext context;
    const Window window{0, 3, 0, 2};
    open_outputs(context, camera("shot", "shot.matte", "shot.depth"), 0, 3, 0, 2, 0);
    deliver(context, window, {2, 1});
    // Mid-frame: the old frame is whole under its name, the new files hidden.
    EXPECT_EQ(contents(file("shot")), "last night's frame");
    const std::string pid = std::to_string(::getpid());
    EXPECT_EQ(names_in(file("")),
              (std::vector<std::string>{".shot.depth.skyloom-" + pid, ".shot.matte.skyloom-" + pid,
                                        ".shot.skyloom-" + pid, "shot"}));
    deliver(context, window, {0});
    close_outputs(context);
    EXPECT_EQ(names_in(file("")), (std::vector<std::string>{"shot", "shot.depth", "shot.matte"}));
    EXPECT_NE(contents(file("shot")), "last night's frame");
    EXPECT_EQ(user(), "Completed " + file("shot") + " file\nCompleted " + file("shot.matte") +
                          " file\nCompleted " + file("shot.depth") + " file\n");
}

TEST_F(PartialFiles, ARunThatEndsMidFrameLeavesNothingUnderAFinalName) {
    // A directory of its own that the death test's child finds too, when it
    // runs the test again from the start in a scratch directory of its own.
    const std::string directory = testing::TempDir() + "partial_files_cut/";
    std::filesystem::remove_all(directory);
    std::filesystem::create_directories(directory);
    auto run = [&] {
        rptSetErrorCB(nullptr);
        rptSetUserCB(nullptr);
        OutputContext context;
        open_outputs(context,
                     camera(directory + "cut", directory + "cut.matte", directory + "cut.depth"), 0,
                     3, 0, 2, 0);
        deliver(context, Window{0, 3, 0, 2}, {2, 1});
        close_outputs(context);  // a row short: fatal
        std::exit(0);
    };
    EXPECT_EXIT(run(), ExitedWithCode(1), "Problem writing");
    EXPECT_EQ(names_in(directory), std::vector<std::string>{});
    std::filesystem::remove_all(directory);
}

TEST_F(PartialFiles, NamesThatAreNotRegularFilesAreWrittenInPlace) {
    ASSERT_EQ(::mkfifo(file("fifo").c_str(), 0600), 0);
    EXPECT_EQ(partial_name(file("fifo")), "");
    EXPECT_EQ(partial_name("/dev/null"), "");
    ASSERT_EQ(::symlink("elsewhere", file("link").c_str()), 0);
    EXPECT_EQ(partial_name(file("link")), "");
    EXPECT_EQ(partial_name("frame.0001"), ".frame.0001.skyloom-" + std::to_string(::getpid()));
    EXPECT_EQ(partial_name("dir/"), "");
    EXPECT_EQ(as_final("cannot write /a/.b.skyloom-1: full", "/a/.b.skyloom-1", "/a/b"),
              "cannot write /a/b: full");
}

TEST_F(PartialFiles, TheFinalNameIsFoundBehindTheHiddenOne) {
    for (const char* name : {"frame.0001", "/a/b/frame", "dir/.hidden", "x.skyloom-12"})
        EXPECT_EQ(final_name_of(partial_name_of(name, 4321)), name);
    for (const char* name : {".a.skyloom-", ".a.skyloom-1x", "a.skyloom-1", "/d/.skyloom-1"})
        EXPECT_EQ(final_name_of(name), name);
}

// SGI files carry an image name in their header: the final one.
TEST_F(PartialFiles, AnSgiHeaderNamesTheFinalFile) {
    render_options().image_format = 2;
    OutputContext context;
    const Window window{0, 3, 0, 2};
    render(context, camera("named.rgb"), window, top_down(window));
    const std::string header = contents(file("named.rgb")).substr(24, 80);
    EXPECT_EQ(std::string(header.c_str()), "named.rgb");
}

}  // namespace
}  // namespace sky
