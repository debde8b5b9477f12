// The image, matte and depth files of a camera render: opened before the
// tiles, fed finished rows by the workers in any order, written top to
// bottom, closed after the render.
#pragma once

#include <cstdint>

namespace sky {

// The outputs of one camera render (its window, files and the rows that
// arrived before their turn).
struct OutputContext;

// The context of the camera being rendered.
OutputContext& camera_output();

// A finished row from any worker, thread-safe: `y` is the image row,
// `colour_row` 4 floats per pixel of the window (red, green, blue, alpha,
// 0..255), `depth_row` 1 float per pixel or null, `coverage_row` 8 bytes per
// pixel or null. The rows are copied before the call returns.
void output_scanline(std::int32_t y, OutputContext& context, const float* colour_row,
                     const float* depth_row, const std::uint8_t* coverage_row);

}  // namespace sky
