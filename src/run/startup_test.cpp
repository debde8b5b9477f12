#include "run/startup.h"

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "base/options.h"
#include "base/options_test_support.h"
#include "platform/report_test_support.h"

namespace sky {
namespace {

TEST(ElapsedTime, PrintsHoursMinutesAndSeconds) {
    test::CapturedReports reports;
    report_elapsed_time(3725, "Frame Render");
    report_elapsed_time(0, "parse");
    report_elapsed_time(100 * 3600 + 59, "Total Render");
    EXPECT_EQ(reports.user,
              "Elapsed time for the Frame Render (hh:mm:ss): 01:02:05\n"
              "Elapsed time for the parse (hh:mm:ss): 00:00:00\n"
              "Elapsed time for the Total Render (hh:mm:ss): 100:00:59\n");
}

TEST(EndOfRun, SaysDoneUnlessQuiet) {
    test::RenderOptionsGuard options;
    test::CapturedReports reports;
    render_options().quiet = 1;
    end_of_run();
    render_options().quiet = 0;
    end_of_run();
    EXPECT_EQ(reports.user, "done\n");
}

TEST(StartupSwitches, ReadFromTheEnvironment) {
    ::setenv("FIXED_DISPLACEMENT", "", 1);
    ::setenv("QUORL_LIGHTFOG_BLOBBY", "0", 1);
    ::unsetenv("RR_CATCHSIG");
    ::unsetenv("QUORL_ILLUMINATED_SHADOWS_ONLY");
    StartupSwitches switches = read_startup_switches();
    ::unsetenv("FIXED_DISPLACEMENT");
    ::unsetenv("QUORL_LIGHTFOG_BLOBBY");
    // Being set is what counts, whatever the value.
    EXPECT_FLOAT_EQ(switches.fixed_displacement, 1.0f);
    EXPECT_TRUE(switches.lightfog_blobby);
    EXPECT_FALSE(switches.catch_signals);
    EXPECT_FALSE(switches.illuminated_shadows_only);
}

}  // namespace
}  // namespace sky
