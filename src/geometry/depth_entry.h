// The geometry entry of a depth-only pass (a shadow map). Its still objects
// are made of depth triangles (DepthTriangle), which carry only what the
// depth at a texel centre needs, and no bucket lists are built: the map's
// tile routine enters each triangle into the cells bucket entry would give
// it, or a small triangle into the few cells around it, whose centres it
// covers alike (bucket_spans.h), and takes the depth there at once. For
// that it walks a tile's objects from the last to the first and each
// object's triangles in the order they were made, which is the order a
// cell's list would hold them in.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "base/tiles.h"
#include "geometry/buckets.h"
#include "geometry/screen_geometry.h"

namespace sky {

// Sorts a complete depth-only object's triangles into bins by the rows of
// the tiles that hold it, each bin in the order made. Leaves the object
// without bins when the rows do not run down the screen band after band.
void bin_depth_triangles(ObjectTriangles& storage, std::vector<GridRows> rows);

inline constexpr std::size_t kDepthAhead = 8;

// visit(const DepthTriangle&) for every triangle of a depth-only object
// that may reach the rows of `tile`, in the order made.
template <typename Visit>
void for_each_depth_triangle(const ObjectTriangles& storage, const Tile& tile, Visit&& visit) {
    const ObjectTriangles::TileBins& bins = storage.bins;
    auto found = std::find(bins.tiles.begin(), bins.tiles.end(), &tile);
    if (found != bins.tiles.end()) {
        const auto k = static_cast<std::size_t>(found - bins.tiles.begin());
        for_each_bin_piece(bins, k, &ObjectTriangles::TileBins::depth,
                           [&](const DepthTriangle* const* list, const DepthTriangle* const* end) {
                               for (const DepthTriangle* const* at = list; at < end; ++at) {
                                   // A tile's triangles lie scattered over the
                                   // object's blocks: the set-up of the one a few
                                   // places ahead is asked for now, both lines it
                                   // may straddle.
                                   if (end - at > static_cast<std::ptrdiff_t>(kDepthAhead)) {
                                       const auto* ahead =
                                           reinterpret_cast<const char*>(at[kDepthAhead]);
                                       __builtin_prefetch(ahead);
                                       __builtin_prefetch(ahead + offsetof(DepthTriangle, eye) - 1);
                                   }
                                   visit(**at);
                               }
                           });
        return;
    }
    storage.depth_triangles.for_each([&](const void* record) {
        const auto& t = *static_cast<const DepthTriangle*>(record);
        if (t.row_last >= tile.y_first && t.row_first <= tile.y_last) visit(t);
    });
}

}  // namespace sky
