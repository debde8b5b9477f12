// Hidden-line drawing (`hidden_line`, -V): instead of shading, each row is
// drawn as lines over flat fills. The row routine looks at a lattice of
// points (the pixel corners, or every half pixel when `aalevelmax` asks for
// anti-aliasing) and records what the eye ray there meets first: which
// object, which isoparametric band of a patch, which way the surface faces.
// A cell of the lattice whose four corners do not all see the same surface
// is crossed by an edge. Only the nearest surface is ever recorded, so the
// edges of anything it covers are never drawn.
//
// A line is drawn around each crossed cell, as wide as the widest of the
// surfaces meeting there asks (`hl_line_width`, or `hline_line_width` with
// `hline_from_global`), in pixels of the image: without anti-aliasing the
// pixels whose centres lie within a disc of that diameter around the
// crossed pixel (an even width leans down and left), with anti-aliasing
// the half-pixel cells within half the width of the crossed cell, each
// pixel showing the share of its cells the line covers. Every other cell
// takes its surface's fill.
//
// Every lattice point is a pure function of its position, and the points a
// row needs lie within the tile's rows and the border its buckets keep
// (`hidden_line_border`), so the drawing does not depend on the tiles or
// the worker count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "render/sample_node.h"

namespace sky {

struct AR_ShaderInfo;
struct CasterCamera;

// Two neighbouring surfaces meet at a crease, and an edge is drawn, where
// their normals' dot product falls below this (about 18°).
inline constexpr float kCreaseCosine = 0.95f;

// Main thread, after the caster's objects are resolved and before the
// tiles: each object's fill and isoparametric lines (from its shader, or
// from the environment's `hline_*` settings when `hline_from_global` is
// on) and the line colour.
void prepare_hidden_line(const CasterCamera& cam);

// Lines are drawn at most this many pixels wide.
inline constexpr std::int32_t kMaxLineWidth = 32;

// Main thread, before the tiles' buffers are given: how many pixels beyond
// a tile its buckets must reach for the widest line the objects' shaders
// (null: the environment's settings) ask for.
std::int32_t hidden_line_border(std::span<const AR_ShaderInfo* const> shaders);

// The lattice rows, lattice records and cell flags a worker needs for rows
// of `width` pixels, for the lines prepare_hidden_line prepared.
std::int32_t hidden_line_rows();
std::size_t hidden_line_records(std::int32_t width);
std::size_t hidden_line_cells(std::int32_t width);

// The row routine with `hidden_line` on.
void hidden_line_row(float* colour_row, std::int32_t y, RR_SampleNode& node);

}  // namespace sky
