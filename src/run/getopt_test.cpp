#include "run/getopt.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "run/option_pass.h"

namespace sky {
namespace {

// Runs the scanner over `words` and records each result as text:
// "a=3" for an option with argument, "k" without, "?" for errors.
struct Scan {
    std::vector<std::string> results;
    int end_index;
};

Scan scan(std::vector<std::string> words, int error_flag = 1) {
    std::vector<char*> argv;
    static std::string program = "skyloom";
    argv.push_back(program.data());
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    getopt_reset();
    opterr = error_flag;
    Scan result;
    int option;
    while ((option = getopt(static_cast<int>(argv.size()) - 1, argv.data(), kOptionString)) != -1) {
        std::string text(1, static_cast<char>(option));
        if (optarg) text += "=" + std::string(optarg);
        result.results.push_back(text);
    }
    EXPECT_EQ(optarg, nullptr);
    result.end_index = optind;
    opterr = 1;
    return result;
}

using Results = std::vector<std::string>;

TEST(OptionScanner, ArgumentsComeFromTheRestOfTheWordOrTheNextWord) {
    EXPECT_EQ(scan({"-a3", "-b", "2.5"}).results, (Results{"a=3", "b=2.5"}));
    EXPECT_EQ(scan({"-kGa5"}).results, (Results{"k", "G", "a=5"}));
    EXPECT_EQ(scan({"-kp", "out.qrl"}).results, (Results{"k", "p=out.qrl"}));
    // An argument is taken even when it looks like an option.
    EXPECT_EQ(scan({"-s", "-10", "-k"}).results, (Results{"s=-10", "k"}));
}

TEST(OptionScanner, SlashWordsAreOptionWords) {
    EXPECT_EQ(scan({"/a3"}).results, (Results{"a=3"}));
    EXPECT_EQ(scan({"/k", "-G"}).results, (Results{"k", "G"}));
}

TEST(OptionScanner, AnExistingPathIsNeverAnOptionWord) {
    Scan result = scan({"-k", "/tmp"});
    EXPECT_EQ(result.results, (Results{"k"}));
    EXPECT_EQ(result.end_index, 2);
}

TEST(OptionScanner, AWordThatCanOnlyBeAPathIsNeverAnOptionWord) {
    // Missing files: a second "/" or a file extension still makes them paths.
    EXPECT_EQ(scan({"/shows/ep01/scene.sdl"}).end_index, 1);
    EXPECT_EQ(scan({"/scene.sdl"}).end_index, 1);
    EXPECT_EQ(scan({"-k", "/no/such"}).results, (Results{"k"}));
    // Option words with numbers keep their meaning.
    EXPECT_EQ(scan({"/b0.5", "/a3"}).results, (Results{"b=0.5", "a=3"}));
}

TEST(OptionScanner, EndOfOptions) {
    // A positional argument stops the scan and stays at optind.
    Scan positional = scan({"-k", "scene.sdl", "-G"});
    EXPECT_EQ(positional.results, (Results{"k"}));
    EXPECT_EQ(positional.end_index, 2);
    // "-" and "--" end the scan and are passed over.
    Scan dash = scan({"-k", "-", "scene.sdl"});
    EXPECT_EQ(dash.results, (Results{"k"}));
    EXPECT_EQ(dash.end_index, 3);
    Scan double_dash = scan({"--", "-k"});
    EXPECT_TRUE(double_dash.results.empty());
    EXPECT_EQ(double_dash.end_index, 2);
    EXPECT_EQ(scan({}).end_index, 1);
    // An empty argument is a positional one.
    EXPECT_EQ(scan({"", "-k"}).end_index, 1);
}

TEST(OptionScanner, ErrorsDependOnOpterr) {
    // An unknown letter drops the rest of its word.
    EXPECT_EQ(scan({"-Fk", "-G"}).results, (Results{"?", "G"}));
    EXPECT_EQ(scan({"-Fk", "-G"}, 0).results, (Results{"F", "G"}));
    EXPECT_EQ(scan({"-:"}).results, (Results{"?"}));
    EXPECT_EQ(scan({"-:"}, 0).results, (Results{":"}));
    // A missing argument at the end of the command line.
    EXPECT_EQ(scan({"-k", "-a"}).results, (Results{"k", "?"}));
    EXPECT_EQ(scan({"-k", "-a"}, 0).results, (Results{"k", "a"}));
}

TEST(OptionScanner, ALoneSlashIsTheRootDirectory) {
    Scan result = scan({"/", "-k"});
    EXPECT_TRUE(result.results.empty());
    EXPECT_EQ(result.end_index, 1);
}

}  // namespace
}  // namespace sky
