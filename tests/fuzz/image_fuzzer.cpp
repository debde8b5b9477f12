// libFuzzer harness for the image readers: any bytes, as a file, are opened
// through the image file library and read row by row to the end, the way
// file textures and backdrops are read. Our own readers (qrl, SGI, RLA) and
// the formats read through OpenImageIO (TIFF, PNG, JPEG, OpenEXR) are all
// reached, as the library recognises the format from the content; where the
// content names none, the file's extension chooses, so the file is reached
// through a name whose extension the input's last byte picks.
// Build and run: docs/fuzzing.md.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "platform/image/fb.h"
#include "platform/report.h"

namespace {

void discard(const char*) {}

constexpr const char* kExtensions[] = {"", ".tif", ".png", ".jpg", ".exr", ".rla", ".rgb"};

// A directory of this process's for the names.
const std::string& name_directory() {
    static const std::string directory = [] {
        char pattern[] = "/tmp/image_fuzzer-XXXXXX";
        return std::string(::mkdtemp(pattern) != nullptr ? pattern : "/tmp");
    }();
    return directory;
}

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
    const std::string file = "/proc/self/fd/" + std::to_string(fd);
    const char* extension = size > 0 ? kExtensions[data[size - 1] % std::size(kExtensions)] : "";
    const std::string name = name_directory() + "/image" + extension;
    ::unlink(name.c_str());
    if (::symlink(file.c_str(), name.c_str()) != 0) {
        ::close(fd);
        return 0;
    }
    if (sky::FBhandle* image =
            sky::FBopen(name.c_str(), sky::FB_READ_ROWS, sky::FB_FORMAT_ANY, 0, 0, 0, 0, 0, 0.0)) {
        std::vector<std::uint8_t> row(static_cast<std::size_t>(image->width) * 8 + 8);
        for (int y = 0; y < image->height; ++y)
            if (sky::FBread(image, row.data()) == 0) break;
        sky::FBclose(image);
    }
    ::unlink(name.c_str());
    ::close(fd);
    return 0;
}
