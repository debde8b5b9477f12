// Tiles: the horizontal bands of scanlines a render pass is cut into, the
// queue the workers take them from, and each worker's tile buffers.
//
// Tiles are handed out on demand, top band first, to whichever worker asks
// next: a worker that meets a cheap band simply takes another, so no worker
// waits for another within a pass. The tile list is made on the main thread
// before the pass and stays unchanged until its end.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace sky {

struct RenderObject;
struct BucketCell;

struct Tile {
    // Inclusive, clipped to the window.
    std::int32_t x_first = 0;
    std::int32_t x_last = 0;
    std::int32_t y_first = 0;
    std::int32_t y_last = 0;
    // The objects entered into this tile. Only the worker rendering the
    // tile touches it during the pass.
    std::vector<RenderObject*> objects;
};

// What the last make_tiles recorded for the tile buffers.
struct TileLayout {
    std::int32_t width = 0;  // columns of every tile (the window's width)
    std::int32_t rows = 0;   // rows of every full tile
    std::int32_t count = 0;  // tiles in the list
};

inline constexpr std::int32_t kSmallestTileRows = 5;

// Builds the tile list for the window of the render options, top band first.
// Clamps `tile_rows` (reporting what the user asked for that cannot be used)
// and stores the value used back into the render options.
void make_tiles();

std::span<Tile> tile_list();
const TileLayout& tile_layout();

// Puts every tile of the list into the queue, in list order.
void queue_tiles();
// The next tile of the queue, or null when it is empty. Safe from any worker.
Tile* next_tile();

// --- tile buffers ------------------------------------------------------------

// One entry of the per-row list: a span of screen x on one grid line, kept
// in double while a triangle's edges widen it and rounded once per row.
struct RowSpan {
    double minimum;
    double maximum;
};
static_assert(sizeof(RowSpan) == 16);

inline constexpr std::int32_t kBucketBlockRecords = 2500;

// A worker's buffers for one pass: a grid of list heads with a border of
// `tile_border()` cells on every side of the tile, a row list, and the size
// of the first block of bucket-entry records.
struct TileBuffers {
    BucketCell** slots = nullptr;  // slots_per_row × slot_rows
    RowSpan* row_list = nullptr;   // slot_rows + 1 entries
    std::int32_t slots_per_row = 0;
    std::int32_t slot_rows = 0;
    std::int32_t first_block_capacity = 0;
    std::int32_t first_block_used = 0;
};

// Gives each of the first `count` workers (at most 512) buffers for tiles of
// `width` columns and `rows` rows with a border of `border` (at least 1)
// around them; 0 stands for the window's width or height. The buffers come
// from the calling thread's pass arena: they live until the main thread
// rewinds it after the pass.
void give_tile_buffers(std::int32_t width, std::int32_t rows, std::int32_t count,
                       std::int32_t border = 1);

// How far beyond its tile, in pixels, a worker's bucket grid reaches in the
// pass the buffers were last given for: a pixel of the tile that looks at
// its neighbours (a hidden line drawn wide) needs the triangles there too.
std::int32_t tile_border();

// The buffers of a worker, by worker index.
TileBuffers& tile_buffers(int worker);

}  // namespace sky
