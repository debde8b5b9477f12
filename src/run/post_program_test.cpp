#include "run/post_program.h"

#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/report.h"

namespace sky {
namespace {

std::string printed;
void capture(const char* text) {
    printed += text;
}

// Runs the post program through a script that writes one argument a line.
std::string arguments_received(const std::string& image, const std::string& matte, float frame,
                               int extension) {
    std::string dir = testing::TempDir();
    std::string script = dir + "post_args_" + std::to_string(::getpid()) + ".sh",
                out = dir + "post_args_" + std::to_string(::getpid()) + ".txt";
    std::ofstream(script) << "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > "
                          << out << "\n";
    std::remove(out.c_str());
    printed.clear();
    rptSetUserCB(capture);
    run_post_program("sh " + script, frame, extension, image, matte);
    rptSetUserCB(nullptr);
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(PostProgram, ReceivesFrameExtensionAndNames) {
    EXPECT_EQ(arguments_received("shot.0007.qrl", "", 7.6f, 7), "[7]\n[7]\n[shot.0007.qrl]\n[]\n");
    EXPECT_EQ(printed, "sh " + testing::TempDir() + "post_args_" + std::to_string(::getpid()) +
                           ".sh 7 7 shot.0007.qrl \"\"\n");
}

TEST(PostProgram, NamesAreArgumentsNeverShellSyntax) {
    std::string hostile = "a b; touch /tmp/skyloom_injected '$(id)'";
    std::remove("/tmp/skyloom_injected");
    EXPECT_EQ(arguments_received(hostile, "it's", 1, 1), "[1]\n[1]\n[" + hostile + "]\n[it's]\n");
    std::ifstream injected("/tmp/skyloom_injected");
    EXPECT_FALSE(injected.good());
}

TEST(PostProgram, NamesAreNeverOptions) {
    EXPECT_EQ(arguments_received("--version", "-rf", 2, 2), "[2]\n[2]\n[./--version]\n[./-rf]\n");
    EXPECT_EQ(printed, "sh " + testing::TempDir() + "post_args_" + std::to_string(::getpid()) +
                           ".sh 2 2 ./--version ./-rf\n");
    EXPECT_EQ(not_an_option("/abs/-x"), "/abs/-x");
    EXPECT_EQ(not_an_option(""), "");
}

TEST(PostProgram, QuotingSurvivesTheShell) {
    EXPECT_EQ(shell_quote(""), "''");
    EXPECT_EQ(shell_quote("it's"), "'it'\\''s'");
}

}  // namespace
}  // namespace sky
