// Each worker's bucket grid: one list of screen triangles per pixel of the
// tile it renders (with a border of one pixel), filled before the tile is
// sampled and dropped after it.
//
// Entry is conservative: every pixel whose square a triangle touches (the
// closed triangle against the pixel's half-open square) receives it; a few
// neighbours may receive it too.
#pragma once

#include <cstdint>
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
    // arena; the first cell of each block links it to the block before.
    BucketCell* block = nullptr;
    std::int32_t cells_left = 0;
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

// Sorts a complete, still object's triangles into bins by the grid rows of
// the tiles that hold it. Leaves the object without bins when the rows do
// not run down the screen band after band (the bins would not pay).
void bin_object_triangles(ObjectTriangles& storage, const GeometryView& view,
                          std::vector<GridRows> rows);

}  // namespace sky
