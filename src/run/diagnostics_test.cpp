#include "run/diagnostics.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/report.h"

namespace sky {
namespace {

std::string out, err;
void capture_out(const char* text) {
    out += text;
}
void capture_err(const char* text) {
    err += text;
}

TEST(DiagnosticsDeathTest, PrintedOnceWithTheLinesItsConditionsCallFor) {
    auto run = [] {
        rptSetUserCB(capture_out);
        rptSetErrorCB(capture_err);
        RenderOptions o;
        o.motion_blur = true;
        o.animation = false;
        o.quiet = 0;
        print_diagnostics(o, 1.0f, false);
        print_diagnostics(o, 2.0f, true);  // a second call prints nothing
        rptSetUserCB(nullptr);
        rptSetErrorCB(nullptr);
        std::fprintf(stderr, "%s|%s", err.c_str(), out.c_str());
        std::fflush(stderr);
        std::_Exit(0);  // skip exit handlers: library threads do not survive the fork
    };
    // Run in a child: the printed-once mark lasts for the process.
    EXPECT_EXIT(run(), testing::ExitedWithCode(0),
                "^\n\nPERFORMING DIAGNOSITICS...\n\tMotion blur is turned on but anim is not.\n"
                "\tNo blurring will occur.\n\n\\|\tWarning: there are no lights in this scene.\n\n"
                "\tBe careful.  The saved geometry flag is no longer\n"
                "\tsupported.  If you really want to use it, use the\n\t-G option.\n\n$");
}

}  // namespace
}  // namespace sky
