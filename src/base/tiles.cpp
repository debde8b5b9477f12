// The tile list, the tile queue and the tile buffers.
//
// The list keeps the tiles of earlier passes and only clears their object
// lists, so a new pass reuses their storage instead of going back to the
// heap for every tile of every camera and depth map.
#include "base/tiles.h"

#include <algorithm>
#include <mutex>
#include <new>

#include "base/arena.h"
#include "base/barrier.h"
#include "base/options.h"
#include "base/workers.h"
#include "platform/fatal.h"
#include "platform/report.h"

namespace sky {
namespace {

std::vector<Tile> tile_storage;
TileLayout layout;

// The queue is the part of the list not yet handed out: tiles from
// queue_head up to queue_end. Guarded by the tile-queue lock.
std::int32_t queue_head = 0;
std::int32_t queue_end = 0;

TileBuffers buffers_table[kMaxWorkers];
std::int32_t border_cells = 1;

// The row count a pass uses, with the reports for what the user asked for.
std::int32_t clamp_tile_rows(std::int32_t rows, std::int64_t last_column_offset) {
    if (rows < kSmallestTileRows) {
        rptError("tile size cannot be less than 5, setting it to 5.\n");
        return kSmallestTileRows;
    }
    const std::int64_t half = last_column_offset / 2;  // trunc(W × 0.5) for W ≥ 0
    if (half < kSmallestTileRows) return kSmallestTileRows;
    if (rows > half) {
        rptError("tile size cannot be greater than one half of the image, setting to %d.\n",
                 static_cast<int>(half));
        return static_cast<std::int32_t>(half);
    }
    return rows;
}

}  // namespace

void make_tiles() {
    RenderOptions& options = render_options();
    const std::int64_t last_column_offset =
        static_cast<std::int64_t>(options.xright) - options.xleft;                            // W
    const std::int64_t height = static_cast<std::int64_t>(options.yhigh) - options.ylow + 1;  // H

    {
        std::lock_guard lock(tile_queue_lock());
        queue_head = queue_end = 0;
    }
    const std::int32_t rows = clamp_tile_rows(options.tile_rows, last_column_offset);
    options.tile_rows = rows;

    // An empty window (which start-up rejects for the image, but a caller
    // may still pass) gets no tiles rather than tiles of negative size.
    std::int64_t count = 0;
    if (height > 0 && last_column_offset >= 0) count = (height + rows - 1) / rows;
    if (options.quiet == 0) rptUser("Making %d tiles.\n", static_cast<int>(count));

    try {
        if (static_cast<std::size_t>(count) > tile_storage.size())
            tile_storage.resize(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        fatal("Error: out of memory making %lld tiles.\n", static_cast<long long>(count));
    }
    for (std::int64_t k = 0; k < count; ++k) {
        Tile& tile = tile_storage[static_cast<std::size_t>(k)];
        const std::int64_t top = options.yhigh - k * rows;
        tile.x_first = options.xleft;
        tile.x_last = options.xright;
        tile.y_last = static_cast<std::int32_t>(top);
        tile.y_first =
            static_cast<std::int32_t>(std::max<std::int64_t>(top - rows + 1, options.ylow));
        tile.objects.clear();
    }
    layout.width = count > 0 ? static_cast<std::int32_t>(last_column_offset + 1) : 0;
    layout.rows = rows;
    layout.count = static_cast<std::int32_t>(count);
}

std::span<Tile> tile_list() {
    return {tile_storage.data(), static_cast<std::size_t>(layout.count)};
}

const TileLayout& tile_layout() {
    return layout;
}

void queue_tiles() {
    std::lock_guard lock(tile_queue_lock());
    queue_head = 0;
    queue_end = layout.count;
}

Tile* next_tile() {
    std::lock_guard lock(tile_queue_lock());
    if (queue_head >= queue_end) return nullptr;
    return &tile_storage[static_cast<std::size_t>(queue_head++)];
}

void give_tile_buffers(std::int32_t width, std::int32_t rows, std::int32_t count,
                       std::int32_t border) {
    const RenderOptions& options = render_options();
    std::int64_t columns = width;
    std::int64_t lines = rows;
    if (columns == 0) columns = static_cast<std::int64_t>(options.xright) - options.xleft + 1;
    if (lines == 0) lines = static_cast<std::int64_t>(options.yhigh) - options.ylow + 1;
    // A window that start-up would have refused leaves nothing to buffer.
    columns = std::max<std::int64_t>(columns, 0);
    lines = std::max<std::int64_t>(lines, 0);
    border = std::max(border, 1);
    SKY_CHECK(columns < INT32_MAX - 2 * std::int64_t{border} &&
              lines < INT32_MAX - 2 * std::int64_t{border} - 1);
    border_cells = border;

    const std::int64_t slots_per_row = columns + 2 * std::int64_t{border};
    const std::int64_t slot_rows = lines + 2 * std::int64_t{border};
    const ArenaId arena = pass_arena();
    const int workers = std::min<std::int32_t>(count, kMaxWorkers);
    for (int worker = 0; worker < workers; ++worker) {
        TileBuffers& buffers = buffers_table[worker];
        buffers.slots = arena_array<BucketCell*>(
            arena, static_cast<std::size_t>(slots_per_row) * static_cast<std::size_t>(slot_rows));
        buffers.row_list = arena_array<RowSpan>(arena, static_cast<std::size_t>(slot_rows + 1));
        buffers.slots_per_row = static_cast<std::int32_t>(slots_per_row);
        buffers.slot_rows = static_cast<std::int32_t>(slot_rows);
        buffers.first_block_capacity = kBucketBlockRecords;
        buffers.first_block_used = 0;
    }
}

std::int32_t tile_border() {
    return border_cells;
}

TileBuffers& tile_buffers(int worker) {
    SKY_CHECK(worker >= 0 && worker < kMaxWorkers);
    return buffers_table[worker];
}

}  // namespace sky
