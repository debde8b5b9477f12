#include "platform/report.h"

#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/fatal.h"
#include "platform/report_test_support.h"

namespace sky {
namespace {

class Reports : public testing::Test {
protected:
    test::CapturedReports reports_;
};

TEST_F(Reports, EachChannelReachesItsOwnCallback) {
    rptUser("Making %d tiles.\n", 33);
    rptError("Error: %s\n", "bad");
    EXPECT_EQ(reports_.user, "Making 33 tiles.\n");
    EXPECT_EQ(reports_.errors, "Error: bad\n");
}

TEST_F(Reports, WarningsAreWrappedOnTheErrorChannel) {
    rptWarning("Can't create temporary rendering directory: %s\n", "/tmp/x");
    EXPECT_EQ(reports_.errors, "Warning: Can't create temporary rendering directory: /tmp/x\n\n");
    EXPECT_EQ(reports_.user, "");
}

TEST_F(Reports, LongTextsAreNotCutOff) {
    std::string name(5000, 'n');
    rptUser("Completed %s file\n", name.c_str());
    EXPECT_EQ(reports_.user, "Completed " + name + " file\n");
}

TEST(ReportFormatting, AlwaysTerminatesTheBuffer) {
    char buffer[8];
    auto format = [&](const char* f, ...) {
        va_list args;
        va_start(args, f);
        int length = AL_vsnprintf(buffer, sizeof buffer, f, args);
        va_end(args);
        return length;
    };
    EXPECT_EQ(format("%s", "0123456789"), 10);
    EXPECT_STREQ(buffer, "0123456");
}

int cleanup_order = 0;
void first_cleanup(int) {
    std::fprintf(stderr, "first %d\n", cleanup_order++);
}
void second_cleanup(int) {
    std::fprintf(stderr, "second %d\n", cleanup_order++);
}

TEST(FatalDeathTest, PrintsRunsCleanupsInReverseAndExitsOne) {
    auto run = [] {
        add_cleanup_handler(first_cleanup);
        add_cleanup_handler(second_cleanup);
        add_cleanup_handler(second_cleanup);  // registered once
        fatal("Can't create image file %s\n", "out.qrl");
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(1),
                "^Can't create image file out.qrl\nsecond 0\nfirst 1\n$");
}

TEST(FatalDeathTest, RemovedHandlersDoNotRun) {
    auto run = [] {
        add_cleanup_handler(first_cleanup);
        add_cleanup_handler(second_cleanup);
        remove_cleanup_handler(first_cleanup);
        fatal("stop\n");
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(1), "^stop\nsecond 0\n$");
}

TEST(FatalDeathTest, MemoryRunningOutInAWorkerEndsWithAMessageAndStatusOne) {
    auto run = [] {
        end_uncaught_out_of_memory();
        add_cleanup_handler(first_cleanup);
        // As a container's growth throws it when the allocation fails.
        std::thread worker([] { throw std::bad_alloc(); });
        worker.join();
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(1), "^Error: out of memory.\nfirst 0\n$");
}

TEST(FatalDeathTest, OtherUncaughtExceptionsStillAbort) {
    auto run = [] {
        end_uncaught_out_of_memory();
        std::thread worker([] { throw std::runtime_error("not memory"); });
        worker.join();
    };
    EXPECT_DEATH(run(), "not memory");
}

TEST(FatalDeathTest, InternalErrorsNameFileAndLine) {
    EXPECT_EXIT(SKY_CHECK(1 + 1 == 3), testing::ExitedWithCode(1),
                "report_test.cpp, line [0-9]+: 1 \\+ 1 == 3");
}

}  // namespace
}  // namespace sky
