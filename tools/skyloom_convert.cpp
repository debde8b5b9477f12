// skyloom-convert: turns any image the renderer reads or writes (.qrl
// included) into the format named by the output's extension (docs/images.md).
#include <cstdio>
#include <cstring>

#include "platform/image/convert.h"
#include "platform/image/fb.h"

namespace {

const char* const kUsage = "usage: skyloom-convert INPUT OUTPUT\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc != 3) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    if (!sky::convert_image(argv[1], argv[2])) {
        std::fprintf(stderr, "skyloom-convert: %s\n", sky::FBgetError());
        return 1;
    }
    return 0;
}
