// Each worker's bucket grid: one list of screen triangles per pixel of the
// tile it renders (with a border, one pixel unless `tile_border()` asks for
// more), filled before the tile is sampled and dropped after it.
//
// Entry is conservative: every pixel whose square a triangle touches (the
// closed triangle against the pixel's half-open square) receives it; a few
// neighbours may receive it too.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "base/tiles.h"
#include "geometry/geometry_view.h"
#include "geometry/screen_geometry.h"

namespace sky {

struct BucketCell {
    BucketCell* next;
    const ScreenTriangle* triangle;
};

struct BucketGrid {
    BucketCell** heads = nullptr;  // width × height, row by row
    RowSpan* spans = nullptr;      // one per horizontal grid line: height + 1
    std::int32_t width = 0, height = 0;
    std::int32_t x0 = 0, y0 = 0;  // screen position of the first list
    // Cells come from blocks of kBucketBlockRecords in the worker's tile
    // arena: the next free cell of the newest block and that block's end.
    BucketCell* next_cell = nullptr;
    BucketCell* cells_end = nullptr;
};

// The calling worker's grid.
BucketGrid& bucket_grid();

// Sets the grid's origin for `tile` (the whole window when null) and
// empties every list. The grid takes the worker's tile buffers. Fatal "Bad
// tile to bucket mapping\n" when the tile does not fit them.
void map_tile_to_buckets(BucketGrid& grid, const Tile* tile);

// The list of pixel (x, y); coordinates outside the grid give the first or
// the last list.
BucketCell* bucket_at(const BucketGrid& grid, std::int32_t y, std::int32_t x);

// Enters one triangle of `storage` into every list its pixels need: over
// the union of its positions through the shutter when the object moves.
void bucket_triangle(BucketGrid& grid, const GeometryView& view, const ObjectTriangles& storage,
                     const ScreenTriangle& triangle);

// Every triangle of the object; only those binned for `tile` when the
// object has bins and `tile` is one of them.
void bucket_object(BucketGrid& grid, const GeometryView& view, const ObjectTriangles& storage,
                   const void* tile = nullptr);

// The screen rows (inclusive) that a tile's bucket grid may cover.
struct GridRows {
    const void* tile;
    std::int32_t first, last;
};

// Sorts an object's triangles into `bins` by the rows of the tiles that
// hold it, each bin in the order `for_each(visit)` visits them (calling
// visit(const Triangle&)); `row_range(triangle, lo, hi)` gives the screen
// rows a triangle reaches. Leaves `bins` empty when there are fewer than
// two tiles or their rows do not run down the screen band after band (the
// bins would not pay).
template <typename Triangle, typename ForEach, typename RowRange>
void bin_by_rows(std::vector<GridRows> rows, std::int64_t count, ForEach&& for_each,
                 RowRange&& row_range, ObjectTriangles::TileBins& bins,
                 BinnedList<Triangle>& binned) {
    if (rows.size() < 2) return;
    std::sort(rows.begin(), rows.end(),
              [](const GridRows& a, const GridRows& b) { return a.first < b.first; });
    // Bands down the screen: the tiles a triangle reaches are then a run of
    // neighbours, found by two searches.
    for (std::size_t k = 1; k < rows.size(); ++k)
        if (rows[k].last < rows[k - 1].last) return;
    const std::size_t n = rows.size();
    // Per screen row from the first tile's to the last's: the first tile
    // whose last row reaches it, and the first whose first row is beyond
    // it. A row outside takes the answer of the nearest end.
    const std::int32_t top = rows.front().first, bottom = std::max(rows.back().last, top);
    std::vector<std::uint32_t> reaching(static_cast<std::size_t>(bottom - top) + 1);
    std::vector<std::uint32_t> beyond(reaching.size());
    for (std::int32_t row = top; row <= bottom; ++row) {
        const auto k = static_cast<std::size_t>(row - top);
        reaching[k] = static_cast<std::uint32_t>(
            std::partition_point(rows.begin(), rows.end(),
                                 [&](const GridRows& g) { return g.last < row; }) -
            rows.begin());
        beyond[k] = static_cast<std::uint32_t>(
            std::partition_point(rows.begin(), rows.end(),
                                 [&](const GridRows& g) { return g.first <= row; }) -
            rows.begin());
    }
    auto at = [&](std::int32_t row) {
        return static_cast<std::size_t>(std::clamp(row, top, bottom) - top);
    };
    bins.first.assign(n + 1, 0);
    std::vector<std::pair<std::uint32_t, std::uint32_t>,
                LargeBlockAllocator<std::pair<std::uint32_t, std::uint32_t>>>
        reached;
    reached.reserve(static_cast<std::size_t>(count));
    for_each([&](const Triangle& t) {
        std::int32_t lo, hi;
        row_range(t, lo, hi);
        // Beyond the ends no tile is reached.
        const std::size_t from = lo > bottom ? n : reaching[at(lo)];
        const std::size_t to = hi < top ? 0 : beyond[at(hi)];
        reached.emplace_back(static_cast<std::uint32_t>(from), static_cast<std::uint32_t>(to));
        for (std::size_t k = from; k < to; ++k) ++bins.first[k + 1];
    });
    for (std::size_t k = 0; k < n; ++k) bins.first[k + 1] += bins.first[k];
    binned.resize(bins.first[n]);
    std::vector<std::size_t> next(bins.first.begin(), bins.first.end() - 1);
    std::size_t i = 0;
    for_each([&](const Triangle& t) {
        const auto [from, to] = reached[i++];
        for (std::size_t k = from; k < to; ++k) binned[next[k]++] = &t;
    });
    for (const GridRows& g : rows) bins.tiles.push_back(g.tile);
}

// The rows each tile holding the object reads: a depth-only tile its own
// rows, a camera tile those of its bucket grid (`tile_border()` rows on each
// side).
std::vector<GridRows> holder_rows(const ObjectTriangles& storage);

// The bins of an object made in parts from the bins of its parts, each
// binned for the same rows: per tile, the parts' lists one after another in
// the order the object's triangles are walked (the last part first for
// screen triangles, the first part first for depth triangles), so the
// result is the one binning the joined object would give. The parts' lists
// move into the object's bins as they are (TileBins::parts), and the parts
// are left without bins. Leaves the object without bins (and the parts
// theirs) when a part has none.
void join_part_bins(ObjectTriangles& storage, const std::vector<ObjectTriangles*>& parts);

// Sorts a complete object's triangles into bins by the grid rows of the
// tiles that hold it (a moving triangle by the rows its sweep reaches, every
// tile when it reaches the near plane). Leaves the object without bins when
// the rows do not run down the screen band after band (the bins would not
// pay).
void bin_object_triangles(ObjectTriangles& storage, const GeometryView& view,
                          std::vector<GridRows> rows);

}  // namespace sky
