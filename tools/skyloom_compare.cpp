// skyloom-compare: compares rendered images with their references within a
// tolerance per pixel and in the mean (tests/reference/README.md).
//
//   skyloom-compare [--pixel N] [--mean M] [[--diff DIFFERENCE] REFERENCE IMAGE]...
//
// For each pair prints one line, starting with IMAGE and a colon, that says
// whether it matches its reference and by how much it differs; --diff before
// a pair writes the picture of its differences. Exits 0 when every image is
// within the tolerance, 1 when one is beyond it (or has another size), 2
// when an image cannot be read or the arguments are wrong.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/image/compare.h"
#include "platform/image/fb.h"

namespace {

const char* const kUsage =
    "usage: skyloom-compare [--pixel N] [--mean M] [[--diff DIFFERENCE] REFERENCE IMAGE]...\n";

struct Pair {
    std::string reference, image, difference;
};

bool number(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && value >= 0;
}

// 0 within the tolerance, 1 beyond it, 2 unreadable.
int compare(const Pair& pair, const sky::ImageTolerance& tolerance) {
    const char* image = pair.image.c_str();
    const char* reference = pair.reference.c_str();
    sky::ImageDifference d;
    if (!sky::compare_images(reference, image, tolerance, d, pair.difference)) {
        std::printf("%s: cannot be compared with %s: %s\n", image, reference, sky::FBgetError());
        return 2;
    }
    if (!d.same_shape) {
        std::printf("%s: DIFFERS from %s: %dx%d with %d channels, the reference %dx%d with %d\n",
                    image, reference, d.width, d.height, d.channels, d.reference_width,
                    d.reference_height, d.reference_channels);
        return 1;
    }
    if (d.largest == 0) {
        std::printf("%s: matches %s exactly\n", image, reference);
        return 0;
    }
    const bool ok = d.within(tolerance);
    std::printf(
        "%s: %s %s: largest difference %d (%s at column %d, row %d from the top), %lld of %d "
        "pixels beyond %d; mean difference %.4f (at most %g)\n",
        image, ok ? "matches" : "DIFFERS from", reference, d.largest,
        sky::channel_name(d.largest_channel, d.channels), d.largest_x, d.largest_y, d.pixels_beyond,
        d.width * d.height, tolerance.pixel, d.mean, tolerance.mean);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    sky::ImageTolerance tolerance;
    std::vector<Pair> pairs;
    Pair next;
    bool have_reference = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        double value = 0;
        if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(a, "--pixel") == 0 && i + 1 < argc && number(argv[i + 1], value)) {
            tolerance.pixel = static_cast<int>(value);
            ++i;
        } else if (std::strcmp(a, "--mean") == 0 && i + 1 < argc && number(argv[i + 1], value)) {
            tolerance.mean = value;
            ++i;
        } else if (std::strcmp(a, "--diff") == 0 && i + 1 < argc && !have_reference) {
            next.difference = argv[++i];
        } else if (a[0] != '-' && !have_reference) {
            next.reference = a;
            have_reference = true;
        } else if (a[0] != '-') {
            next.image = a;
            pairs.push_back(next);
            next = Pair{};
            have_reference = false;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (pairs.empty() || have_reference || !next.difference.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    int status = 0;
    for (const Pair& pair : pairs) {
        const int result = compare(pair, tolerance);
        if (result > status) status = result;
    }
    return status;
}
