// Helpers shared by the image library's tests: a scratch directory removed
// after each test, whole-file reads and writes, reproducible random pixels,
// images read back through the library.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/image/fb.h"

namespace sky::test {

class ScratchDir {
public:
    ScratchDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "skyloom-image-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }
    ~ScratchDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::vector<std::uint8_t> read_bytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_bytes(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> random_bytes(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::vector<std::uint8_t> bytes(count);
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(generator() >> 24);
    return bytes;
}

// Reads every row through the library, row by row, so that a header claiming
// 65535 x 65535 costs nothing: true when the whole image was read.
inline bool read_all(const std::string& name) {
    FBhandle* in = FBopen(name.c_str(), FB_READ_ROWS, FB_FORMAT_ANY, 0, 0, 0, 0, 0, 90.0);
    if (in == nullptr) return false;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(in->width) * 4);
    bool ok = true;
    for (int y = 0; y < in->height && ok; ++y) ok = FBread(in, row.data()) == in->width;
    FBclose(in);
    return ok;
}

// The whole image at 16 bits a sample (8 bytes a pixel), or nothing.
inline std::vector<std::uint8_t> read_sixteen(const std::string& name) {
    FBhandle* in = FBopen(name.c_str(), FB_READ_IMAGE, FB_FORMAT_ANY, 0, 0, 0, 0, 0, 90.0);
    if (in == nullptr) return {};
    FBtiff16_set(in, 1);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(in->width) * in->height * 8);
    if (FBread(in, pixels.data()) == 0) pixels.clear();
    FBclose(in);
    return pixels;
}

}  // namespace sky::test
