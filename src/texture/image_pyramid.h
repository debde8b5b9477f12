// Image pyramids: an image and its successively halved copies, down to one
// pixel, for filtered lookups whose cost does not grow with the footprint.
//
// Pixels are 8-bit RGBA, rows top first, as the image file library delivers
// them. Texture space has (0, 0) at the bottom-left corner of the image and
// (1, 1) at the top-right; the image repeats outside [0, 1).
//
// Levels come from the tracked allocator, so the memory the statistics print
// includes every texture held.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/memory.h"
#include "texture/block_texture.h"
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
    TrackedBlock pixels;                   // width × height × 4, while held in memory
    const std::uint8_t* mapped = nullptr;  // or here, in a file mapped into memory

    const std::uint8_t* texels() const { return mapped ? mapped : pixels.data(); }
    std::size_t bytes() const { return static_cast<std::size_t>(width) * height * 4; }
};

// A file mapped into memory that holds a pyramid's levels instead of the
// process's own memory: the system pages them in from the file as lookups
// need them and drops them again under pressure. Unmapping gives the file
// back (it was unlinked when made) and tells `on_release` its size.
class MappedLevels {
public:
    MappedLevels(std::uint8_t* data, std::size_t size, void (*on_release)(std::size_t))
        : data_(data), size_(size), on_release_(on_release) {}
    ~MappedLevels();
    MappedLevels(const MappedLevels&) = delete;
    MappedLevels& operator=(const MappedLevels&) = delete;

    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    std::uint8_t* data_;
    std::size_t size_;
    void (*on_release_)(std::size_t);
};

// An image halved `halvings` times while its rows arrive, top first, exactly
// as the pyramid halves its levels (so the result is the level the whole
// image's pyramid would have), holding one row per halving besides the
// result. The result grows with the rows that arrive, so a file that ends
// early never costs the memory its header promised.
class ReducedImage {
public:
    // False when memory runs out.
    bool start(int width, int height, int halvings);
    // Takes the next row (width × 4 bytes). False when memory runs out.
    bool add_row(const std::uint8_t* row);

    int width() const { return widths_.back(); }
    int height() const { return heights_.back(); }
    // The result, once every row has arrived: width() × height() × 4 bytes.
    TrackedBlock take();

private:
    bool pass_on(std::size_t stage, const std::uint8_t* row);

    std::vector<int> widths_, heights_;  // per stage, the source first
    std::vector<int> rows_;              // rows each halving has taken
    std::vector<TrackedBlock> pending_;  // per halving: an even row awaiting its pair
    std::vector<TrackedBlock> made_;     // per halving: the row it makes
    TrackedBlock result_;
    int result_rows_ = 0;
};

class ImagePyramid {
public:
    // From a whole image (width × height × 4 bytes). False when memory runs out.
    bool build(int width, int height, TrackedBlock&& pixels);

    // The colour over a square footprint `width` wide (texture units) centred
    // at (u, v): colour 0..255, alpha 0..1. Allocates nothing.
    void lookup(float u, float v, float width, TextureFilter filter, TextureColour& out) const;

    int levels() const { return static_cast<int>(levels_.size()); }
    const PyramidLevel& level(int i) const { return levels_[static_cast<std::size_t>(i)]; }
    // The bytes of every level, wherever they are held.
    std::size_t bytes() const;
    // The bytes held in the process's own memory (none once moved to a file).
    std::size_t memory_bytes() const;
    // Moves every level into `file` (at least bytes() long) and frees their
    // memory. Before the pyramid is shared only.
    void move_to(std::unique_ptr<MappedLevels> file);
    bool in_file() const { return file_ != nullptr; }
    // Reads every level through `blocks` (made from this pyramid) from now
    // on and frees their memory. Before the pyramid is shared only.
    void use_blocks(std::unique_ptr<BlockTexture> blocks);
    bool in_blocks() const { return blocks_ != nullptr; }
    // The texel (x, y) of `level`, rows from the top, RGBA; wherever held.
    void texel(int level, int x, int y, std::uint8_t rgba[4]) const;

private:
    void bilinear(int level, float u, float v, float rgba[4]) const;
    void filtered(int level, float u, float v, float width, TextureFilter filter,
                  float rgba[4]) const;

    std::vector<PyramidLevel> levels_;
    std::unique_ptr<MappedLevels> file_;
    std::unique_ptr<BlockTexture> blocks_;
};

}  // namespace sky
