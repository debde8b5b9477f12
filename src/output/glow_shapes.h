// What the shader glow and the light effects share: the bytes of image rows
// as the image file library moves them, and the shapes that break a round
// glow up into a star and streaks.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace sky {

// Channel c of pixel x of a row: 4 bytes a pixel, or 8 (four low bytes,
// then four high bytes) when `sixteen`, as a value 0..255 with fraction.
inline float pixel_channel(const std::uint8_t* row, std::int32_t x, int c, bool sixteen) {
    if (!sixteen) return row[4 * x + c];
    return row[8 * x + 4 + c] + row[8 * x + c] / 256.0f;
}

// Stores `value`, limited to 0..255 and truncated (the fraction into the
// low byte of a 16-bit row).
inline void set_pixel_channel(std::uint8_t* row, std::int32_t x, int c, bool sixteen, float value) {
    value = value > 0.0f ? (value < 255.0f ? value : 255.0f) : 0.0f;
    if (!sixteen) {
        row[4 * x + c] = static_cast<std::uint8_t>(value);
        return;
    }
    row[8 * x + 4 + c] = static_cast<std::uint8_t>(value);
    row[8 * x + c] =
        static_cast<std::uint8_t>(std::min((value - std::trunc(value)) * 256.0f, 255.0f));
}

// A number in [0, 1) from `n`, the same on every run.
float hash_unit(std::uint32_t n);

// The factor that turns a round glow into a star and streaks in direction
// `angle` (radians): `points` arms at `star_level` (at 1, twice the glow
// along an arm and none between arms), times smooth radial streaks of
// strength `streaks` with `frequency` × 40 of them to a turn. 1 when both
// are 0.
double star_and_streaks(double star_level, double points, double streaks, double frequency,
                        double angle);

}  // namespace sky
