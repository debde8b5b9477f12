#include "platform/image/compare.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/image/fb.h"
#include "platform/image/fb_internal.h"

namespace sky {
namespace {

struct Pixels {
    int width = 0, height = 0, channels = 0;
    std::vector<std::uint8_t> rgba;  // 4 bytes per pixel, top row first
};

bool read_image(const std::string& name, Pixels& out) {
    FBhandle* in = FBopen(name.c_str(), FB_READ_IMAGE, FB_FORMAT_ANY, 0, 0, 0, 0, 0, 90.0);
    if (in == nullptr) return false;
    out.width = in->width;
    out.height = in->height;
    out.channels = in->channels;
    out.rgba.assign(static_cast<std::size_t>(out.width) * out.height * 4, 0);
    const bool ok = FBread(in, out.rgba.data()) == out.width * out.height;
    std::string error = ok ? "" : FBgetError();
    FBclose(in);
    if (!ok) fb_set_error("%s", error.c_str());
    return ok;
}

// The bytes of a pixel that carry the file's channels (the library's layout
// puts a matte's value in the fourth).
struct Compared {
    int first, count;
};
Compared compared_channels(int channels) {
    if (channels == 1) return {3, 1};
    if (channels == 3) return {0, 3};
    return {0, 4};
}

bool write_difference(const std::string& name, const Pixels& reference, const Pixels& image,
                      Compared compared, int tolerance) {
    FBhandle* out = fb_open_by_extension(name.c_str(), image.width, image.height, 3, 8);
    if (out == nullptr) return false;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(image.width) * 4);
    bool ok = true;
    for (int y = 0; y < image.height && ok; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const std::size_t at = (static_cast<std::size_t>(y) * image.width + x) * 4;
            const std::uint8_t* r = &reference.rgba[at];
            const std::uint8_t* p = &image.rgba[at];
            int largest = 0;
            for (int c = compared.first; c < compared.first + compared.count; ++c)
                largest = std::max(largest, std::abs(int(r[c]) - int(p[c])));
            std::uint8_t* o = &row[static_cast<std::size_t>(x) * 4];
            if (largest == 0) {
                // A matte shows its value; an image the mean of its colours.
                int grey = compared.count == 1 ? r[3] : (r[0] + r[1] + r[2]) / 3;
                o[0] = o[1] = o[2] = static_cast<std::uint8_t>(grey / 4);
            } else if (largest <= tolerance) {
                o[0] = o[1] = static_cast<std::uint8_t>(std::min(255, 96 + 32 * largest));
                o[2] = 0;
            } else {
                o[0] = 255;
                o[1] = o[2] = 0;
            }
            o[3] = 255;
        }
        ok = FBwrite(out, row.data()) != 0;
    }
    return FBclose(out) != 0 && ok;
}

}  // namespace

bool compare_images(const std::string& reference, const std::string& image,
                    const ImageTolerance& tolerance, ImageDifference& difference,
                    const std::string& difference_image) {
    difference = ImageDifference{};
    Pixels want, got;
    if (!read_image(reference, want) || !read_image(image, got)) return false;
    difference.width = got.width;
    difference.height = got.height;
    difference.channels = got.channels;
    difference.reference_width = want.width;
    difference.reference_height = want.height;
    difference.reference_channels = want.channels;
    difference.same_shape =
        got.width == want.width && got.height == want.height && got.channels == want.channels;
    if (!difference.same_shape) return true;

    const Compared compared = compared_channels(got.channels);
    long double sum = 0;
    for (int y = 0; y < got.height; ++y) {
        for (int x = 0; x < got.width; ++x) {
            const std::size_t at = (static_cast<std::size_t>(y) * got.width + x) * 4;
            bool beyond = false;
            for (int c = compared.first; c < compared.first + compared.count; ++c) {
                const int d = std::abs(int(want.rgba[at + c]) - int(got.rgba[at + c]));
                sum += d;
                beyond = beyond || d > tolerance.pixel;
                if (d > difference.largest) {
                    difference.largest = d;
                    difference.largest_x = x;
                    difference.largest_y = y;
                    difference.largest_channel = c;
                }
            }
            difference.pixels_beyond += beyond;
        }
    }
    const long double values = static_cast<long double>(got.width) * got.height * compared.count;
    difference.mean = values > 0 ? static_cast<double>(sum / values) : 0.0;
    if (!difference_image.empty() &&
        !write_difference(difference_image, want, got, compared, tolerance.pixel))
        return false;
    return true;
}

const char* channel_name(int channel, int channels) {
    if (channels == 1) return "value";
    static const char* const names[] = {"red", "green", "blue", "alpha"};
    return channel >= 0 && channel < 4 ? names[channel] : "?";
}

}  // namespace sky
