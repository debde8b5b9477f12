// libFuzzer harness for the image readers: any bytes, as a file, are opened
// through the image file library and read row by row to the end, the way
// file textures and backdrops are read. The native .qrl reader and the
// formats read through OpenImageIO (TIFF, SGI, RLA, ...) are all reached,
// as the library recognises the format from the content.
// Build and run: docs/fuzzing.md.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/image/fb.h"
#include "platform/report.h"

namespace {

void discard(const char*) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool configured = [] {
        sky::rptSetErrorCB(discard);
        sky::rptSetUserCB(discard);
        return true;
    }();
    (void)configured;

    // A file in memory: the library opens images by name.
    const int fd = ::memfd_create("image_fuzzer", 0);
    if (fd < 0) return 0;
    for (std::size_t written = 0; written < size;) {
        const ssize_t n = ::write(fd, data + written, size - written);
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    const std::string name = "/proc/self/fd/" + std::to_string(fd);
    if (sky::FBhandle* image =
            sky::FBopen(name.c_str(), sky::FB_READ_ROWS, sky::FB_FORMAT_ANY, 0, 0, 0, 0, 0, 0.0)) {
        std::vector<std::uint8_t> row(static_cast<std::size_t>(image->width) * 8 + 8);
        for (int y = 0; y < image->height; ++y)
            if (sky::FBread(image, row.data()) == 0) break;
        sky::FBclose(image);
    }
    ::close(fd);
    return 0;
}
