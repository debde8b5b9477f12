// skyloom-convert: turns any image the renderer reads or writes (.qrl
// included) into the format named by the output's extension, and a render's
// image, matte and depth file into one OpenEXR for compositing
// (docs/images.md).
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "output/exr_output.h"
#include "platform/image/convert.h"
#include "platform/image/fb.h"

namespace {

const char* const kUsage =
    "usage: skyloom-convert INPUT OUTPUT\n"
    "       skyloom-convert [--half | --float] [--matte MATTE] [--depth DEPTH] [--far Z]\n"
    "                       INPUT OUTPUT.exr\n"
    "\n"
    "Converts INPUT (any image skyloom reads: .qrl, TIFF, SGI, RLA, PNG, ...) into\n"
    "OUTPUT in the format its extension names. An OpenEXR output (.exr) takes\n"
    "images, mattes and depth files: colour as R, G, B, a matte as A, a depth\n"
    "file as Z in scene units.\n"
    "\n"
    "  --half       colour and alpha as 16-bit floats (the default)\n"
    "  --float      colour and alpha as 32-bit floats (Z is always 32-bit)\n"
    "  --matte F    the matte file F as the alpha channel\n"
    "  --depth F    the depth file F as the Z channel\n"
    "  --far Z      the depth of pixels that see nothing (default: infinity)\n"
    "\n"
    "Exit status 0 on success, 1 on failure; no partial output is left.\n";

bool ends_with_exr(const char* name) {
    const std::size_t n = std::strlen(name);
    return n > 4 && strcasecmp(name + n - 4, ".exr") == 0;
}

int usage_error(const char* why) {
    if (why != nullptr) std::fprintf(stderr, "skyloom-convert: %s\n", why);
    std::fputs(kUsage, stderr);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    sky::ExrRequest exr;
    bool exr_options = false;
    int at = 1;
    for (; at < argc && std::strncmp(argv[at], "--", 2) == 0; ++at) {
        const std::string option = argv[at];
        const bool takes_value = option == "--matte" || option == "--depth" || option == "--far";
        if (takes_value && at + 1 >= argc) return usage_error((option + " needs a value").c_str());
        if (option == "--half") {
            exr.half = true;
        } else if (option == "--float") {
            exr.half = false;
        } else if (option == "--matte") {
            exr.matte = argv[++at];
        } else if (option == "--depth") {
            exr.depth = argv[++at];
        } else if (option == "--far") {
            const char* text = argv[++at];
            char* end = nullptr;
            errno = 0;
            const float far = std::strtof(text, &end);
            if (end == text || *end != '\0' || errno != 0 || std::isnan(far))
                return usage_error(("--far " + std::string(text) + ": not a number").c_str());
            exr.far = far;
        } else {
            return usage_error(("unknown option " + option).c_str());
        }
        exr_options = true;
    }
    if (argc - at != 2) return usage_error(nullptr);
    const char* input = argv[at];
    const char* output = argv[at + 1];
    if (!ends_with_exr(output)) {
        if (exr_options)
            return usage_error("--half, --float, --matte, --depth and --far need an .exr output");
        if (!sky::convert_image(input, output)) {
            std::fprintf(stderr, "skyloom-convert: %s\n", sky::FBgetError());
            return 1;
        }
        return 0;
    }
    exr.image = input;
    exr.output = output;
    for (const std::string* name : {&exr.image, &exr.matte, &exr.depth}) {
        if (!name->empty() && *name == exr.output) {
            std::fprintf(stderr, "skyloom-convert: %s: the output would overwrite an input\n",
                         output);
            return 1;
        }
    }
    std::string error;
    if (!sky::write_exr(exr, error)) {
        std::fprintf(stderr, "skyloom-convert: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
