// The depth file of a camera render: an 8-byte header, then one 32-bit value
// per pixel, rows from the top of the window down, all little-endian.
//
//   offset 0  uint32  magic: 55655 (floats, eye distances) or 56655 (integers)
//   offset 4  uint16  width in pixels
//   offset 6  uint16  height in rows (of one field when rendering fields)
//   offset 8  width x height values
//
// The integer variant maps the camera's near plane to 2147483647 and its far
// plane (and anything beyond it) to 0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sky {

inline constexpr std::uint32_t kDepthMagicFloat = 55655;
inline constexpr std::uint32_t kDepthMagicInteger = 56655;
inline constexpr std::size_t kDepthHeaderSize = 8;

void encode_depth_header(std::uint8_t* header, bool integer, int width, int height);

// The integer depth of eye distance `z` between the camera's clipping planes.
std::int32_t integer_depth(float z, double near, double far);

// `width` depths (eye distances) as the file stores them, 4 bytes each.
void encode_depth_row(const float* depth, int width, bool integer, double near, double far,
                      std::uint8_t* out);

// Writes all of `size` bytes, retrying short writes; false with errno set
// when the file refuses any of them.
bool write_fully(int descriptor, const void* bytes, std::size_t size);

}  // namespace sky
