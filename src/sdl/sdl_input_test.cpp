#include "sdl/sdl_input.h"

#include <cstdio>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/input_stream.h"

namespace sky {
namespace {

// A stream over a temporary file holding `bytes`.
std::unique_ptr<InputStream> stream_of(const std::string& bytes) {
    std::string path = testing::TempDir() + "sdl_input_test_" + std::to_string(::getpid()) + ".sdl";
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    std::string error;
    auto stream = InputStream::open_file(path, error);
    EXPECT_TRUE(stream) << error;
    return stream;
}

// Everything the scanner would receive, read `chunk` bytes at a time.
std::string drain(SdlInput& input, std::size_t chunk) {
    std::string all;
    std::string buffer(chunk, '\0');
    ssize_t count;
    while ((count = input.read(buffer.data(), chunk)) > 0) all.append(buffer.data(), count);
    return all;
}

TEST(SdlInputProbe, TextIsReplayedWholeWhateverTheReadSize) {
    const std::string text = "resolution = 320 240;\n";
    for (std::size_t chunk : {1, 2, 3, 4, 5, 8192}) {
        auto stream = stream_of(text);
        SdlInput input;
        input.bind(stream.get());
        EXPECT_FALSE(input.probe());
        EXPECT_EQ(drain(input, chunk), text) << chunk;
    }
}

TEST(SdlInputProbe, ShortStreamsKeepTheirBytes) {
    for (std::string text : {"", "a", "ab", "abc", "\xab\xb2\xd8"}) {
        auto stream = stream_of(text);
        SdlInput input;
        input.bind(stream.get());
        EXPECT_FALSE(input.probe());
        EXPECT_EQ(drain(input, 16), text);
    }
}

TEST(SdlInputProbe, TheMagicMarksBinaryDataAndIsNotReplayed) {
    auto stream = stream_of(std::string("\xab\xb2\xd8\xf9") + "packets");
    SdlInput input;
    input.bind(stream.get());
    EXPECT_TRUE(input.probe());
    EXPECT_TRUE(input.is_binary());
    EXPECT_TRUE(input.probe());  // probing again reads nothing more
    EXPECT_EQ(drain(input, 64), "packets");
}

TEST(SdlInputProbe, TheMagicInAnotherByteOrderIsText) {
    auto stream = stream_of("\xf9\xd8\xb2\xab");
    SdlInput input;
    input.bind(stream.get());
    EXPECT_FALSE(input.probe());
}

TEST(InputStreams, OpenFailuresCarryTheSystemText) {
    std::string error;
    EXPECT_EQ(InputStream::open_file("/no/such/scene.sdl", error), nullptr);
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_EQ(InputStream::open_file("/", error), nullptr);
    EXPECT_EQ(error, "Is a directory");
}

}  // namespace
}  // namespace sky
