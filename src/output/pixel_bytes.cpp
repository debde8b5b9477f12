#include "output/pixel_bytes.h"

#include <cmath>

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

}  // namespace

void convert_output_row(const float* colour, int width, const ByteConversion& conversion,
                        std::uint8_t* bytes, float* corrected) {
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
