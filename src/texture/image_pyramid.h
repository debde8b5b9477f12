// Image pyramids: an image and its successively halved copies, down to one
// pixel, for filtered lookups whose cost does not grow with the footprint.
//
// Pixels are 8-bit RGBA, rows top first, as the image file library delivers
// them. Texture space has (0, 0) at the bottom-left corner of the image and
// (1, 1) at the top-right; the image repeats outside [0, 1).
#pragma once

#include <cstdint>
#include <vector>

#include "texture/texture.h"

namespace sky {

// Filter kinds, as scenes name them (BLEND_FILTER ... GAUSS_FILTER).
enum TextureFilter : std::int32_t {
    FILTER_BLEND = 1,      // blend of the two nearest levels
    FILTER_BOX = 2,        // the nearest coarser level alone
    FILTER_QUADRATIC = 3,  // weighted taps over the footprint, (1 - r²)
    FILTER_QUARTIC = 4,    // (1 - r²)²
    FILTER_GAUSS = 5,      // exp(-2 r²)
};

struct PyramidLevel {
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;  // width × height × 4
};

class ImagePyramid {
public:
    // From a whole image (width × height × 4 bytes). False when memory runs out.
    bool build(int width, int height, std::vector<std::uint8_t>&& pixels);

    // The colour over a square footprint `width` wide (texture units) centred
    // at (u, v): colour 0..255, alpha 0..1. Allocates nothing.
    void lookup(float u, float v, float width, TextureFilter filter, TextureColour& out) const;

    int levels() const { return static_cast<int>(levels_.size()); }
    const PyramidLevel& level(int i) const { return levels_[static_cast<std::size_t>(i)]; }
    std::size_t bytes() const;

private:
    void bilinear(int level, float u, float v, float rgba[4]) const;
    void filtered(int level, float u, float v, float width, TextureFilter filter,
                  float rgba[4]) const;

    std::vector<PyramidLevel> levels_;
};

}  // namespace sky
