// Rendered colours to the bytes of an output file: gamma correction, clamping
// and truncation, with the low bytes of 16-bit files.
#pragma once

#include <cstdint>

namespace sky {

struct ByteConversion {
    bool gamma_on = false;
    float gamma = 1.0f;    // red, green and blue become 255 · (value / 255)^gamma
    bool sixteen = false;  // 8 bytes a pixel: four low bytes, then four high bytes
};

inline int bytes_per_output_pixel(const ByteConversion& conversion) {
    return conversion.sixteen ? 8 : 4;
}

// One row of `width` pixels of red, green, blue, alpha floats (0..255) into
// `bytes` (4 or 8 a pixel, red, green, blue, alpha). `corrected` receives the
// row as the files carry it: gamma-corrected and clamped to 0..255 (alpha is
// never gamma-corrected). A byte is the truncated value; a low byte the
// truncated fraction times 256. Values that are not numbers count as 0.
void convert_output_row(const float* colour, int width, const ByteConversion& conversion,
                        std::uint8_t* bytes, float* corrected);

}  // namespace sky
