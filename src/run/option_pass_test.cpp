#include "run/option_pass.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/workers.h"
#include "platform/report.h"

namespace sky {
namespace {

// Arguments as main receives them.
class Args {
public:
    Args(std::initializer_list<const char*> words) {
        storage_.push_back("skyloom");
        for (const char* word : words) storage_.push_back(word);
        for (std::string& word : storage_) pointers_.push_back(word.data());
        pointers_.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(storage_.size()); }
    char** argv() { return pointers_.data(); }

private:
    std::vector<std::string> storage_;
    std::vector<char*> pointers_;
};

std::string captured_errors;
void capture_error(const char* text) {
    captured_errors += text;
}

RenderOptions apply(std::initializer_list<const char*> words, SecondScan* scan_out = nullptr) {
    Args args(words);
    RenderOptions options;
    SecondScan scan = second_scan(args.argc(), args.argv(), options);
    if (scan_out) *scan_out = scan;
    return options;
}

TEST(SecondScan, EveryOptionSetsItsField) {
    SecondScan scan;
    RenderOptions o =
        apply({"-a",  "9",  "-B3", "-b", "0.5",   "-C",      "map", "-c", "quant", "-d",  "depth.z",
               "-E",  "4",  "-e",  "24", "-f",    "post.sh", "-G",  "-g", "2.2",   "-K1", "-k",
               "-L",  "-l", "-20", "-m", "matte", "-N",      "-n",  "2",  "-P",    "-p",  "out",
               "-q0", "-r", "1.5", "-S", "7",     "-s",      "3",   "-T", "20",    "-t",  "0.25",
               "-u",  "-v", "-V",  "-W", "12",    "-X",      "2",   "-Y", "400"},
              &scan);
    EXPECT_EQ(o.aalevelmax, 9);
    EXPECT_TRUE(o.hidden_line);
    EXPECT_EQ(o.byextension, 3);
    EXPECT_TRUE(scan.byextension_given);
    EXPECT_FLOAT_EQ(o.byframe, 0.5f);
    EXPECT_EQ(o.colour_map_file, "map");
    EXPECT_EQ(o.quantize_output_file, "quant");
    EXPECT_EQ(o.depth_name, "depth.z");
    EXPECT_EQ(o.extensionsize, 4);
    EXPECT_FLOAT_EQ(o.endframe, 24.0f);
    EXPECT_EQ(o.post_program, "post.sh");
    EXPECT_TRUE(o.saved_geometry);
    EXPECT_TRUE(o.gamma_correction_on);
    EXPECT_FLOAT_EQ(o.gamma, 2.2f);
    EXPECT_EQ(o.spot_depth, 1);
    EXPECT_TRUE(o.spot_memory);
    EXPECT_TRUE(o.scale_background);
    EXPECT_EQ(o.texture_map_megabytes, -20);
    EXPECT_EQ(o.matte_name, "matte");
    EXPECT_TRUE(o.diagnostics);
    EXPECT_EQ(o.processors, 2);
    EXPECT_TRUE(o.keep_noglow);
    EXPECT_EQ(o.image_name, "out");
    EXPECT_EQ(o.quiet, 0);
    EXPECT_TRUE(o.aspect_ratio_given);
    EXPECT_FLOAT_EQ(o.aspect_ratio, 1.5f);
    EXPECT_EQ(o.startextension, 7);
    EXPECT_TRUE(scan.startextension_given);
    EXPECT_FLOAT_EQ(o.startframe, 3.0f);
    EXPECT_EQ(o.tile_rows, 20);
    EXPECT_FLOAT_EQ(o.aathreshold, 0.25f);
    EXPECT_FALSE(o.glow_jitter);
    EXPECT_TRUE(o.ignore_filmgate);
    EXPECT_EQ(o.background_ylow, 12);
    EXPECT_EQ(o.file_type_extension, 2);
    EXPECT_EQ(o.background_yhigh, 400);
}

TEST(SecondScan, WindowOptionsAreOffsetByTheirLowEdge) {
    SecondScan scan;
    RenderOptions o = apply({"-y", "10", "-h", "100", "-x", "5", "-w", "50"}, &scan);
    finish_window(o, scan);
    EXPECT_EQ(o.ylow, 10);
    EXPECT_EQ(o.yhigh, 110);
    EXPECT_EQ(o.xleft, 5);
    EXPECT_EQ(o.xright, 55);
}

TEST(SecondScan, WithoutOffsetsTheWindowIsTakenAsGiven) {
    SecondScan scan;
    RenderOptions o = apply({"-y", "10", "-x", "5"}, &scan);
    finish_window(o, scan);
    EXPECT_EQ(o.yhigh, 485);
    EXPECT_EQ(o.xright, 644);
}

TEST(SecondScan, ScalingUsesTheLastOccurrence) {
    SecondScan scan;
    RenderOptions o = apply({"-Q", "100", "-Q", "320", "-R", "243"}, &scan);
    finish_window(o, scan);
    EXPECT_EQ(o.xresolution, 320);
    EXPECT_EQ(o.xright, 319);
    EXPECT_EQ(o.yresolution, 243);
    EXPECT_EQ(o.yhigh, 242);
}

TEST(SecondScan, ExtensionSizeIsCappedAtTwenty) {
    captured_errors.clear();
    rptSetErrorCB(capture_error);
    RenderOptions capped = apply({"-E", "25"});
    RenderOptions kept = apply({"-E", "20"});
    rptSetErrorCB(nullptr);
    EXPECT_EQ(capped.extensionsize, 20);
    EXPECT_EQ(kept.extensionsize, 20);
    EXPECT_EQ(captured_errors, "The extension size is too large, capping to 20.\n");
}

TEST(SecondScan, DeleteInputNeedsAnEarlierLinkMode) {
    EXPECT_FALSE(apply({"-z", "-A"}).delete_input);
    EXPECT_TRUE(apply({"-A", "-z"}).delete_input);
    EXPECT_TRUE(apply({"-Az"}).link_mode);
}

TEST(SecondScan, TimingDepthSwitchesTheDepthFile) {
    RenderOptions o = apply({"-d", "mine", "-J"});
    EXPECT_TRUE(o.timing_depth);
    EXPECT_EQ(o.depth_name, "depth/timing");
    EXPECT_FALSE(o.use_lumenfold_depth);
}

TEST(SecondScan, MotionByframe) {
    EXPECT_FLOAT_EQ(apply({"-O"}).motion_byframe, 1.0f);
    EXPECT_FLOAT_EQ(apply({"-o", "0.25"}).motion_byframe, 0.25f);
    EXPECT_FLOAT_EQ(apply({}).motion_byframe, 0.0f);
}

TEST(SecondScan, NumbersReadLikeAtoiButNeverOverflow) {
    EXPECT_EQ(apply({"-a", "12abc"}).aalevelmax, 12);
    EXPECT_EQ(apply({"-a", "abc"}).aalevelmax, 0);
    EXPECT_EQ(apply({"-a", "99999999999999"}).aalevelmax, 2147483647);
    EXPECT_EQ(apply({"-a", "-99999999999999"}).aalevelmax, -2147483647 - 1);
}

TEST(SecondScanDeathTest, UnknownLettersPrintTheUsage) {
    EXPECT_EXIT(apply({"-F"}), testing::ExitedWithCode(1), "^Usage:\nskyweave\\|skyloom");
    EXPECT_EXIT(apply({"-a"}), testing::ExitedWithCode(1), "^Usage:");
    EXPECT_EXIT(apply({"-H"}), testing::ExitedWithCode(1), "^Usage:");
}

TEST(FirstScan, OnlyLinkModeAndProcessorsAreNotedAndThePositionalArgumentFound) {
    // Unknown letters wait for the second scan.
    Args args({"-A", "-F", "-n", "3", "-k", "-n1", "host:7000", "-q0"});
    FirstScan scan = first_scan(args.argc(), args.argv());
    EXPECT_TRUE(scan.link_mode);
    EXPECT_EQ(scan.processors, 1);  // the last, as the second scan applies it
    EXPECT_EQ(scan.positional, 7);

    Args plain({"-a", "3"});
    FirstScan none = first_scan(plain.argc(), plain.argv());
    EXPECT_FALSE(none.link_mode);
    EXPECT_EQ(none.processors, -1);
    EXPECT_EQ(none.positional, plain.argc());
}

TEST(ExpectedWorkerCount, OneForOneProcessorAndForCountsTheRunRefuses) {
    EXPECT_EQ(expected_worker_count(1), 1);
    EXPECT_EQ(expected_worker_count(0), 1);
    EXPECT_EQ(expected_worker_count(-5), 1);
    EXPECT_EQ(expected_worker_count(1 << 20), 1);
    EXPECT_GE(expected_worker_count(-1), 1);
}

TEST(FirstScanDeathTest, EndsTheRunForUsageAndTitle) {
    Args help({"-k", "-H"});
    EXPECT_EXIT(first_scan(help.argc(), help.argv()), testing::ExitedWithCode(1), "^Usage:");
    Args dashes({"--", "scene.sdl"});
    EXPECT_EXIT(first_scan(dashes.argc(), dashes.argv()), testing::ExitedWithCode(1), "^Usage:");
    Args unknown_last({"-k", "-F"});
    EXPECT_EXIT(first_scan(unknown_last.argc(), unknown_last.argv()), testing::ExitedWithCode(1),
                "^Usage:");
    Args title({"-i"});
    EXPECT_EXIT(first_scan(title.argc(), title.argv()), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace sky
