// Shader glow: glowing surfaces light up the image around them. While the
// camera renders, the samplers deposit each sample's glow colour into a
// coarse grid; after the render the grid is spread by the glow's and the
// halo's kernels (a soft dome with optional stars, radial noise and rings),
// normalised, and added to the written image.
#pragma once

#include <cstdint>
#include <string>

#include "base/vecmath.h"

namespace sky {

struct AR_TextureInfo;
struct CameraRecord;

// One of the two effects of the scene's `shader_glow` block.
struct GlowEffect {
    std::int32_t type = 1;
    float intensity = 1.0f, spread = 0.05f, eccentricity = 0.1f, radial_noise = 0.0f,
          star_level = 0.0f, opacity = 0.0f, lens_flare = 0.0f, ring_intensity = 0.0f,
          ring_frequency = 0.5f;
    Triple colour{100.0f, 100.0f, 100.0f};
    // A textured colour instead: looked up across the kernel, (0, 0) at
    // its lower left corner and (1, 1) at its upper right.
    const AR_TextureInfo* texture = nullptr;
};

struct ShaderGlowSettings {
    GlowEffect glow;
    GlowEffect halo{.spread = 0.3f};
    float quality = 0.5f, threshold = 0.0f, radial_noise_frequency = 0.5f, star_points = 4.0f,
          rotation = 0.0f;
    bool auto_exposure = true;
};

// The settings of the scene's block, each absent or failing one at its
// default; names outside the block's list are ignored.
ShaderGlowSettings shader_glow_settings();

// The resolution (grid cells per pixel) and odd filter width, in cells, of an
// effect with `spread` at `quality` over a window `span` pixels wide.
struct GlowFilter {
    double resolution = 0.0;
    std::int32_t width = 0;
    std::int32_t columns = 0, rows = 0;
};
GlowFilter glow_filter(float spread, float quality, std::int32_t x_span, std::int32_t y_span);

// Per camera, when some shader glows this frame: the filters for the
// camera's window and an empty glow buffer. Main thread, before the tiles.
void set_up_shader_glow();
// The same for given settings and window (inclusive pixel bounds).
void start_shader_glow(const ShaderGlowSettings& settings, std::int32_t xleft, std::int32_t xright,
                       std::int32_t ylow, std::int32_t yhigh, bool quiet);
// Whether the camera being rendered has shader glow (set up and not yet applied).
bool shader_glow_active();

// A sample's glow colour (0..255 a channel, null for none) at image position
// (x, y), from any worker. Deposits add into the cell's totals, so the
// grid holds the same averages whatever order the workers deposit in.
void deposit_glow_sample(double x, double y, const float* colour);

// After the render: threshold, spread and normalise. False when the grids or
// kernels cannot be made (the image is then left without glow).
bool compute_shader_glow();

// Adds the computed glow to one row of the image (4 bytes a pixel, 8 when
// `sixteen`), image row `y`; only columns inside [x_first, x_last] (window
// columns, from 0) take glow. The jitter of -u's absence is seeded by the row,
// so a frame glows the same on every run.
void apply_shader_glow_row(std::uint8_t* row, std::int32_t width, bool sixteen, std::int32_t y,
                           std::int32_t x_first, std::int32_t x_last);

// The glow of this camera is done.
void finish_shader_glow();

}  // namespace sky
