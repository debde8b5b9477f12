#include "output/pixel_bytes.h"

#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
inline Pixel clamped_pixel(const float* colour) {
    const Pixel zero = {0.0f, 0.0f, 0.0f, 0.0f};
    const Pixel full = {255.0f, 255.0f, 255.0f, 255.0f};
    Pixel in;
    std::memcpy(&in, colour, sizeof in);
    const Pixel below = in < full ? in : full;
    return in > zero ? below : zero;
}

void convert_plain_row(const float* colour, int width, std::uint8_t* bytes, float* corrected) {
    int x = 0;
#if defined(__SSE2__)
    // Four pixels' truncated channels, all 0 to 255, narrowed with
    // saturation (which then changes none of them) into sixteen bytes.
    for (; x + 4 <= width; x += 4) {
        __m128i whole[4];
        for (int k = 0; k < 4; ++k) {
            const Pixel out = clamped_pixel(colour + 4 * (x + k));
            std::memcpy(corrected + 4 * (x + k), &out, sizeof out);
            whole[k] = _mm_cvttps_epi32(reinterpret_cast<__m128>(out));
        }
        const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(whole[0], whole[1]),
                                                _mm_packs_epi32(whole[2], whole[3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + 4 * x), packed);
    }
#endif
    for (; x < width; ++x) {
        const Pixel out = clamped_pixel(colour + 4 * x);
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
