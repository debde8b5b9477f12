// The SDL input binding: the stream a scene is read from, and the probe that
// tells binary scene data from SDL text by the stream's first four bytes.
//
// When the bytes are not the binary magic they are not lost: the first read
// the scanner makes receives them again, followed by the rest of the stream.
#pragma once

#include <cstddef>
#include <cstdint>

#include <sys/types.h>

namespace sky {

class InputStream;

// The first four bytes of binary scene data (the little-endian word F9D8B2AB).
inline constexpr std::uint8_t kBinarySceneMagic[4] = {0xAB, 0xB2, 0xD8, 0xF9};

class SdlInput {
public:
    void bind(InputStream* stream);
    InputStream* stream() const { return stream_; }

    // Reads the first four bytes once; true when they are the binary magic.
    bool probe();
    bool is_binary() const { return binary_; }

    // The scanner's read: the probed bytes first, then the stream.
    // Returns the bytes delivered, 0 at the end of input, -1 on an error.
    ssize_t read(char* buffer, std::size_t size);

private:
    InputStream* stream_ = nullptr;
    std::uint8_t lookahead_[4] = {};
    std::size_t lookahead_size_ = 0;  // fewer than 4 when the stream was that short
    bool probed_ = false;
    bool binary_ = false;
    bool replay_ = false;
};

}  // namespace sky
