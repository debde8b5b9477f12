#include "platform/app.h"

#include <cstdlib>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/random.h"
#include "platform/stopwatch.h"

namespace sky {
namespace {

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (had_)
            ::setenv(name_.c_str(), old_.c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }

private:
    std::string name_, old_;
    bool had_ = false;
};

TEST(ProgramIdentity, KeepsTheLastComponentOfTheName) {
    APP_setProgramName("/opt/farm/bin/skyloom");
    EXPECT_TRUE(APP_isProgramNameDefined());
    EXPECT_STREQ(APP_getProgramName(), "skyloom");
}

TEST(ProgramIdentity, FindsProgramsAlongThePath) {
    ScopedEnv path("PATH", "/nonexistent:/bin:/usr/bin");
    std::string sh = find_executable("sh");
    EXPECT_TRUE(sh == "/bin/sh" || sh == "/usr/bin/sh") << sh;
    EXPECT_EQ(find_executable("./relative/skyloom"), "./relative/skyloom");
    EXPECT_EQ(find_executable("no-such-program-anywhere"), "");
}

TEST(TempPath, HonoursTmpdirWhenItIsADirectory) {
    {
        ScopedEnv tmp("TMPDIR", "/usr/");
        EXPECT_EQ(APP_getTempPath(), "/usr");
    }
    {
        ScopedEnv tmp("TMPDIR", "/no/such/directory");
        EXPECT_EQ(APP_getTempPath(), "/tmp");
    }
    {
        ScopedEnv tmp("TMPDIR", nullptr);
        EXPECT_EQ(APP_getTempPath(), "/tmp");
    }
}

TEST(Processors, PhysicalCoresNeverExceedLogicalProcessors) {
    int logical = logical_processor_count();
    int physical = physical_processor_count();
    EXPECT_GE(physical, 1);
    EXPECT_LE(physical, logical);
    EXPECT_EQ(oxOS_SysInfo_numCPUs(), logical);
}

TEST(Random, MatchesThePosixGenerator) {
    for (long seed : {0L, 1L, 12345L, -7L}) {
        sky::srand48(seed);
        ::srand48(seed);
        for (int i = 0; i < 100; ++i) ASSERT_EQ(sky::drand48(), ::drand48()) << seed << " " << i;
    }
}

TEST(Random, ValuesLieInTheUnitInterval) {
    sky::srand48(99);
    for (int i = 0; i < 10000; ++i) {
        double value = sky::drand48();
        ASSERT_GE(value, 0.0);
        ASSERT_LT(value, 1.0);
    }
}

TEST(Stopwatch, MeasuresForwardTime) {
    oxOS_StopWatch watch;
    watch.start();
    double first = watch.stop();
    double second = watch.stop();
    EXPECT_GE(first, 0.0);
    EXPECT_GE(second, first);
}

class ImageSearchPath : public testing::Test {
protected:
    void SetUp() override {
        dir_ = testing::TempDir() + "skyloom-search-" + std::to_string(::getpid());
        ASSERT_EQ(
            std::system(("rm -rf " + dir_ + " && mkdir -p " + dir_ + "/a " + dir_ + "/b && touch " +
                         dir_ + "/b/wood.tif " + dir_ + "/a/wood.tif " + dir_ + "/b/only_b.tif")
                            .c_str()),
            0);
    }
    std::string dir_;
};

TEST_F(ImageSearchPath, FirstDirectoryHoldingTheNameWins) {
    std::string path = dir_ + "/missing:" + dir_ + "/a:" + dir_ + "/b/";
    ScopedEnv search("SKYLOOM_IMAGE_PATH", path.c_str());
    EXPECT_EQ(Ar_expand_pixname("wood.tif", 1), dir_ + "/a/wood.tif");
    EXPECT_EQ(Ar_expand_pixname("only_b.tif", 1), dir_ + "/b/only_b.tif");
    EXPECT_EQ(Ar_expand_pixname(dir_ + "/a/wood.tif", 1), dir_ + "/a/wood.tif");
    EXPECT_EQ(Ar_expand_pixname("nowhere.tif", 1), std::nullopt);
    EXPECT_EQ(Ar_expand_pixname("nowhere.tif", 0), "nowhere.tif");
    EXPECT_EQ(Ar_expand_pixname("", 0), std::nullopt);
}

TEST_F(ImageSearchPath, FilesCanBeTestedAndDeleted) {
    std::string file = dir_ + "/b/only_b.tif";
    EXPECT_TRUE(SB_FileExists(file));
    EXPECT_TRUE(oxFileDelete(file));
    EXPECT_FALSE(SB_FileExists(file));
    EXPECT_TRUE(oxFileDelete(file));          // already gone counts as deleted
    EXPECT_FALSE(oxFileDelete(dir_ + "/a"));  // directories are not removed
}

}  // namespace
}  // namespace sky
