#include "output/pixel_bytes.h"

#include <cmath>
#include <cstring>

namespace sky {
namespace {

// NaN fails both comparisons and becomes 0.
inline float clamp_channel(float value) {
    return value > 0.0f ? (value < 255.0f ? value : 255.0f) : 0.0f;
}

inline float gamma_corrected(float value, float gamma) {
    return value > 0.0f ? 255.0f * std::pow(value / 255.0f, gamma) : value;
}

inline std::uint8_t low_byte(float value) {
    float fraction = (value - std::trunc(value)) * 256.0f;
    return static_cast<std::uint8_t>(fraction > 0.0f ? (fraction < 255.0f ? fraction : 255.0f)
                                                     : 0.0f);
}

using Pixel = float __attribute__((vector_size(16)));
using PixelMask = std::int32_t __attribute__((vector_size(16)));

// The common row, 8-bit without gamma: a pixel's four channels at once,
// each clamped and truncated as clamp_channel and the byte cast do it.
void convert_plain_row(const float* colour, int width, std::uint8_t* bytes, float* corrected) {
    const Pixel zero = {0.0f, 0.0f, 0.0f, 0.0f};
    const Pixel full = {255.0f, 255.0f, 255.0f, 255.0f};
    for (int x = 0; x < width; ++x) {
        Pixel in;
        std::memcpy(&in, colour + 4 * x, sizeof in);
        const Pixel below = in < full ? in : full;
        const Pixel out = in > zero ? below : zero;
        std::memcpy(corrected + 4 * x, &out, sizeof out);
        const PixelMask whole = __builtin_convertvector(out, PixelMask);
        std::uint8_t* pixel = bytes + 4 * x;
        for (int c = 0; c < 4; ++c) pixel[c] = static_cast<std::uint8_t>(whole[c]);
    }
}

}  // namespace

void convert_output_row(const float* colour, int width, const ByteConversion& conversion,
                        std::uint8_t* bytes, float* corrected) {
    if (!conversion.gamma_on && !conversion.sixteen)
        return convert_plain_row(colour, width, bytes, corrected);
    for (int x = 0; x < width; ++x) {
        const float* in = colour + 4 * x;
        float* out = corrected + 4 * x;
        for (int c = 0; c < 3; ++c) {
            float value = conversion.gamma_on ? gamma_corrected(in[c], conversion.gamma) : in[c];
            out[c] = clamp_channel(value);
        }
        // Alpha is not corrected, but a byte cannot hold more than 255 either.
        out[3] = clamp_channel(in[3]);
        if (conversion.sixteen) {
            std::uint8_t* pixel = bytes + 8 * x;
            for (int c = 0; c < 4; ++c) {
                pixel[c] = low_byte(out[c]);
                pixel[4 + c] = static_cast<std::uint8_t>(out[c]);
            }
        } else {
            std::uint8_t* pixel = bytes + 4 * x;
            for (int c = 0; c < 4; ++c) pixel[c] = static_cast<std::uint8_t>(out[c]);
        }
    }
}

}  // namespace sky
