// Crack-free triangles from the leaves of an adaptive subdivision of a
// surface's domain, shared by both ways a patch becomes triangles.
//
// Both subdividers cut rectangles in halves, so every leaf's corners lie on
// an integer lattice of the finest level. Leaves of different levels meet at
// T-junctions, where a fine leaf's corner lies in the middle of a coarse
// neighbour's edge; two triangles per leaf would leave a crack there. The
// mesher therefore indexes every corner of every leaf, evaluates each once,
// and turns a leaf whose edges carry its neighbours' corners into a fan
// around its centre through all of them: every edge of the mesh is then
// shared by exactly the vertices of both sides.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "geometry/surface_point.h"

namespace sky {

// A leaf [i0, i1] × [j0, j1] of the lattice, i along u and j along v.
struct LatticeCell {
    std::uint32_t i0 = 0, j0 = 0, i1 = 0, j1 = 0;
};

// The surface point at lattice coordinates (i, j), which may be halfway
// between lattice lines (a leaf's centre).
class LatticeSurface {
public:
    virtual ~LatticeSurface() = default;
    virtual void lattice_point(double i, double j, SurfacePoint& out) const = 0;
};

// Hands a triangle on unless two of its corners coincide (at a pole it
// would cover nothing).
void emit_unless_degenerate(TriangleSink& sink, const SurfacePoint& a, const SurfacePoint& b,
                            const SurfacePoint& c);

class LatticeMesher {
public:
    // Triangles of every leaf, counter-clockwise in (u, v). A non-zero
    // `period_i` says that the lattice lines i = 0 and i = period_i are one
    // line of the surface (a closed direction), so corners on either side of
    // that seam close each other's T-junctions; likewise `period_j`. The
    // surface must give both lines the same positions for the seam to close.
    void mesh(std::span<const LatticeCell> cells, const LatticeSurface& surface, TriangleSink& sink,
              std::uint32_t period_i = 0, std::uint32_t period_j = 0);

private:
    void index_corners(std::span<const LatticeCell> cells, std::uint32_t period_i,
                       std::uint32_t period_j);
    const SurfacePoint& corner(std::uint32_t i, std::uint32_t j);
    void edge_corners(const std::vector<std::uint64_t>& keys, std::uint32_t major,
                      std::uint32_t from, std::uint32_t to, bool i_major);
    void emit_cell(const LatticeCell& cell, TriangleSink& sink);

    const LatticeSurface* surface_ = nullptr;
    std::vector<std::uint64_t> by_row_, by_column_;  // corner keys (i, j) and (j, i)
    std::vector<SurfacePoint> points_;
    std::vector<char> evaluated_;
    std::vector<std::array<std::uint32_t, 2>> polygon_;
};

}  // namespace sky
