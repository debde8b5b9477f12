// Hidden-line drawing (`hidden_line`, -V): instead of shading, each row is
// drawn as lines over flat fills. The row routine looks at a lattice of
// points (the pixel corners, or every half pixel when `aalevelmax` asks for
// anti-aliasing) and records what the eye ray there meets first: which
// object, which isoparametric band of a patch, which way the surface faces.
// A cell of the lattice whose four corners do not all see the same surface
// is crossed by an edge and drawn in the line colour; any other cell takes
// its surface's fill. Only the nearest surface is ever recorded, so the
// edges of anything it covers are never drawn.
//
// Every lattice point is a pure function of its position, and the points a
// row needs lie within the tile's rows and the one-pixel border its buckets
// keep, so the drawing does not depend on the tiles or the worker count.
#pragma once

#include <cstddef>
#include <cstdint>

#include "render/sample_node.h"

namespace sky {

struct CasterCamera;

// Two neighbouring surfaces meet at a crease, and an edge is drawn, where
// their normals' dot product falls below this (about 18°).
inline constexpr float kCreaseCosine = 0.95f;

// Main thread, after the caster's objects are resolved and before the
// tiles: each object's fill and isoparametric lines (from its shader, or
// from the environment's `hline_*` settings when `hline_from_global` is
// on) and the line colour.
void prepare_hidden_line(const CasterCamera& cam);

// The lattice records and cell flags a worker needs for rows of `width`
// pixels.
std::size_t hidden_line_records(std::int32_t width);
std::size_t hidden_line_cells(std::int32_t width);

// The row routine with `hidden_line` on.
void hidden_line_row(float* colour_row, std::int32_t y, RR_SampleNode& node);

}  // namespace sky
