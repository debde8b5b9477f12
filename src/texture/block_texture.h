// Block-ordered textures: a large texture's pyramid rewritten into a file of
// square blocks of texels and read back, block by block, through one block
// cache the whole run shares, so the memory large textures take is the
// cache's, however many and however large they are.
//
// Each block holds 32 × 32 texels of one level (4 kB) behind a header that
// names it (level and index) and carries a checksum of its texels. A block
// that cannot be read, does not decode or fails its checksum is reported
// once per texture and shows the texture's mean colour, never stray bytes.
//
// Conversion happens on the main thread while the texture is read; lookups
// come from every worker at once and allocate nothing.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sky {

class ImagePyramid;

class BlockTexture {
public:
    // The pyramid's levels written to a block file in the temporary
    // directory (unlinked once reopened for reading), or null with a
    // warning when it cannot be written or reopened; `name` is the
    // texture's, for messages.
    static std::unique_ptr<BlockTexture> convert(const std::string& name,
                                                 const ImagePyramid& pyramid);
    ~BlockTexture();
    BlockTexture(const BlockTexture&) = delete;
    BlockTexture& operator=(const BlockTexture&) = delete;

    // The texel (x, y) of `level` (rows from the top), RGBA. False, with the
    // texture's mean colour, when its block cannot be had.
    bool texel(int level, int x, int y, std::uint8_t rgba[4]) const;

    // The file's descriptor (tests damage the file through it).
    int descriptor() const { return fd_; }

private:
    BlockTexture() = default;
    void report(int kind, const char* detail) const;

    struct Level {
        int width, height, blocks_across;
        std::uint32_t first_block;
    };
    std::string name_;
    int fd_ = -1;
    std::uint32_t id_ = 0;  // this texture's blocks in the shared cache
    std::vector<Level> levels_;
    std::uint8_t mean_[4] = {0, 0, 0, 0};
    mutable std::atomic<bool> reported_{false};
};

// The shared cache's size in bytes (0: `texture_cache_size` megabytes),
// for tests: the cache is made with the first block-ordered texture.
void set_block_cache_bytes(std::size_t bytes);

}  // namespace sky
