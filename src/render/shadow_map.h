// One depth map's texels and files: the workers' tile routine of the shadow
// pass, which turns the triangles entered for each texel into the distance
// from the light to what casts a shadow there, and the map and mask files
// written from a finished map.
#pragma once

#include <cstdio>
#include <string>

#include "shading/lights/shadow_query.h"

namespace sky {

struct Tile;

// What the tile routine needs of the light's view: its projection and the
// installed viewport.
struct MapView {
    ShadowMap* map = nullptr;
    float p0 = 1, p5 = 1, p10 = 1, p14 = -0.1f;  // the projection's entries
    float cx = 0, cy = 0, hx = 1, hy = 1;        // viewport centre and half sizes
    // The nearest surface instead of the midpoint between the two nearest.
    bool nearest_surface = false;
    // Per column of the map, the square of its centre's offset from the
    // light's axis (lateral_square), which every texel of the column
    // shares: made by the map pass before its tiles.
    const float* column_squares = nullptr;
    // Each depth-only tile sums up the query's blocks over its rows (the
    // map's rows are whole blocks, and the summaries start out empty).
    bool summarise = false;
};

// The workers' routine of a map pass: every texel of the tile from the
// worker's bucket grid. `context` is the MapView.
void render_map_tile(Tile& tile, void* context);

// The square of the offset from the light's axis, per unit of distance
// along it, of the centre of column x (`column` true) or row x.
float lateral_square(const MapView& view, std::int32_t x, bool column);

// The depth map file: the size (4 bytes, big-endian), the light matrix (16
// floats), the rows from the last to the first, and a trailer byte.
// Created for the owner only; false when it cannot be created or written.
bool write_depth_map_file(const std::string& name, const ShadowMap& map);

// The 8-bit preview: a five-number header, then the rows from the last to
// the first in runs of (count, value), nearer texels darker, 255 where
// nothing casts a shadow.
bool write_shadow_mask_file(const std::string& name, const ShadowMap& map);

}  // namespace sky
