#include "sdl/sdl_errors.h"

#include <string>

#include <gtest/gtest.h>

#include "platform/report.h"
#include "sdl/types.h"

namespace sky {
namespace {

std::string errors;
void capture_error(const char* text) {
    errors += text;
}

class SdlErrors : public testing::Test {
protected:
    void SetUp() override {
        errors.clear();
        rptSetErrorCB(capture_error);
        sdl_reset_error_count();
        sdl_set_line(1);
    }
    void TearDown() override {
        rptSetErrorCB(nullptr);
        sdl_reset_error_count();
        sdl_set_line(1);
    }
};

TEST_F(SdlErrors, MessagesNameTheCurrentLineAndAreCounted) {
    sdl_set_line(7);
    sdl_report_error("undeclared variable %s", "spin");
    sdl_set_line(9);
    sdl_report_error_int("bad degree %d", 12);
    sdl_report_error("unexpected EOF");
    EXPECT_EQ(errors,
              "line 7: undeclared variable spin\nline 9: bad degree 12\nline 9: unexpected EOF\n");
    EXPECT_EQ(sdl_error_count(), 3);
}

TEST_F(SdlErrors, SyntaxErrorsArePrintedAsTheyStand) {
    sdl_report_syntax_error("parse error near 100%s");
    EXPECT_EQ(errors, "line 1: parse error near 100%s\n");
    EXPECT_EQ(sdl_error_count(), 1);
}

TEST_F(SdlErrors, WarningsAreNotCounted) {
    sdl_warning("light %s has no colour, using %d", "key", 255);
    EXPECT_EQ(errors, "Warning: light key has no colour, using 255\n");
    EXPECT_EQ(sdl_error_count(), 0);
}

TEST_F(SdlErrors, LongMessagesAreCutButStayOneLine) {
    std::string name(5000, 'n');
    sdl_report_error("undeclared variable %s", name.c_str());
    ASSERT_GT(errors.size(), 1000u);
    EXPECT_LT(errors.size(), 1100u);
    EXPECT_EQ(errors.rfind("line 1: undeclared variable nnn", 0), 0u);
    EXPECT_EQ(errors.back(), '\n');
    EXPECT_EQ(errors.find('\n'), errors.size() - 1);

    errors.clear();
    sdl_warning("%s", name.c_str());
    EXPECT_LT(errors.size(), 1100u);
    EXPECT_EQ(errors.back(), '\n');
}

TEST(SdlErrorsDeathTest, TheHundredAndFirstErrorEndsTheRun) {
    auto run = [] {
        sdl_reset_error_count();
        sdl_set_line(3);
        for (int i = 0; i < 100; ++i) sdl_report_error("invalid character %s", "?");
        std::fputs("still going\n", stderr);
        sdl_report_error("invalid character %s", "$");
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(1),
                "line 3: invalid character \\?\nstill going\nline 3: invalid character \\$\n"
                "line 3: too many errors, giving up\n$");
}

TEST(SdlErrorsDeathTest, TypeConflictsNameBothTypesAndTheLine) {
    EXPECT_EXIT(sdl_type_conflict(SDL_TRIPLE, SDL_SCALAR, 12), testing::ExitedWithCode(1),
                "^Data type conflict, wanted TRIPLE, got SCALAR, on line 12\n$");
    EXPECT_EXIT(sdl_type_conflict(SDL_PATCH, SDL_COLOUR, 4), testing::ExitedWithCode(1),
                "^Data type conflict, wanted PATCH, got UNKNOWN, on line 4\n$");
}

TEST(SdlTypeNames, CodesWithoutANameAreUnknown) {
    EXPECT_STREQ(sdl_type_name(SDL_SCALAR), "SCALAR");
    EXPECT_STREQ(sdl_type_name(SDL_BOUNDARY_CURVE), "BOUNDARY_CURVE");
    EXPECT_STREQ(sdl_type_name(SDL_SHARED_EDGE), "SHARED_EDGE");
    EXPECT_STREQ(sdl_type_name(SDL_COMMAND), "COMMAND");
    for (int code : {0, 700, 719, 721, 722, 730, 742, 744, 746, 748, -1})
        EXPECT_STREQ(sdl_type_name(code), "UNKNOWN") << code;
}

}  // namespace
}  // namespace sky
