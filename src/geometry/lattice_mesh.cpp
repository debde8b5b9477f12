// Crack-free meshing of lattice leaves: corner index, fans at T-junctions.
#include "geometry/lattice_mesh.h"

#include <algorithm>

namespace sky {

namespace {

std::uint64_t key(std::uint32_t major, std::uint32_t minor) {
    return (std::uint64_t{major} << 32) | minor;
}

bool same_position(const SurfacePoint& a, const SurfacePoint& b) {
    return a.position[0] == b.position[0] && a.position[1] == b.position[1] &&
           a.position[2] == b.position[2];
}

}  // namespace

void emit_unless_degenerate(TriangleSink& sink, const SurfacePoint& a, const SurfacePoint& b,
                            const SurfacePoint& c) {
    if (same_position(a, b) || same_position(b, c) || same_position(a, c)) return;
    sink.add_triangle(a, b, c);
}

void LatticeMesher::mesh(std::span<const LatticeCell> cells, const LatticeSurface& surface,
                         TriangleSink& sink, std::uint32_t period_i, std::uint32_t period_j) {
    surface_ = &surface;
    index_corners(cells, period_i, period_j);
    for (const LatticeCell& cell : cells) emit_cell(cell, sink);
    surface_ = nullptr;
}

void LatticeMesher::index_corners(std::span<const LatticeCell> cells, std::uint32_t period_i,
                                  std::uint32_t period_j) {
    by_row_.clear();
    by_column_.clear();
    // A corner on a seam also stands on the seam's other side.
    auto sides = [](std::uint32_t x, std::uint32_t period, std::uint32_t out[2]) {
        out[0] = x;
        if (period == 0 || (x != 0 && x != period)) return 1;
        out[1] = x == 0 ? period : 0;
        return 2;
    };
    for (const LatticeCell& c : cells) {
        for (std::uint32_t i : {c.i0, c.i1}) {
            for (std::uint32_t j : {c.j0, c.j1}) {
                std::uint32_t is[2], js[2];
                const int ni = sides(i, period_i, is), nj = sides(j, period_j, js);
                for (int a = 0; a < ni; ++a) {
                    for (int b = 0; b < nj; ++b) {
                        by_row_.push_back(key(is[a], js[b]));
                        by_column_.push_back(key(js[b], is[a]));
                    }
                }
            }
        }
    }
    for (auto* keys : {&by_row_, &by_column_}) {
        std::sort(keys->begin(), keys->end());
        keys->erase(std::unique(keys->begin(), keys->end()), keys->end());
    }
    points_.assign(by_row_.size(), SurfacePoint{});
    evaluated_.assign(by_row_.size(), 0);
}

// The lattice point's surface point, evaluated the first time it is asked
// for. The cache never grows here, so references stay valid.
const SurfacePoint& LatticeMesher::corner(std::uint32_t i, std::uint32_t j) {
    const std::size_t index = static_cast<std::size_t>(
        std::lower_bound(by_row_.begin(), by_row_.end(), key(i, j)) - by_row_.begin());
    if (!evaluated_[index]) {
        surface_->lattice_point(i, j, points_[index]);
        evaluated_[index] = 1;
    }
    return points_[index];
}

// The lattice corners strictly inside [from, to] of the line `major`,
// ascending or descending.
void LatticeMesher::edge_corners(const std::vector<std::uint64_t>& keys, std::uint32_t major,
                                 std::uint32_t from, std::uint32_t to, bool i_major) {
    const bool ascending = from < to;
    const std::uint32_t low = std::min(from, to), high = std::max(from, to);
    auto first = std::upper_bound(keys.begin(), keys.end(), key(major, low));
    auto last = std::lower_bound(first, keys.end(), key(major, high));
    const std::size_t start = polygon_.size();
    for (auto k = first; k != last; ++k) {
        const std::uint32_t minor = static_cast<std::uint32_t>(*k);
        polygon_.push_back(i_major ? std::array<std::uint32_t, 2>{major, minor}
                                   : std::array<std::uint32_t, 2>{minor, major});
    }
    if (!ascending)
        std::reverse(polygon_.begin() + static_cast<std::ptrdiff_t>(start), polygon_.end());
}

void LatticeMesher::emit_cell(const LatticeCell& c, TriangleSink& sink) {
    // The cell's outline, counter-clockwise in (u, v), with every corner of
    // its neighbours that lies on its edges.
    polygon_.clear();
    polygon_.push_back({c.i0, c.j0});
    edge_corners(by_column_, c.j0, c.i0, c.i1, false);
    polygon_.push_back({c.i1, c.j0});
    edge_corners(by_row_, c.i1, c.j0, c.j1, true);
    polygon_.push_back({c.i1, c.j1});
    edge_corners(by_column_, c.j1, c.i1, c.i0, false);
    polygon_.push_back({c.i0, c.j1});
    edge_corners(by_row_, c.i0, c.j1, c.j0, true);
    if (polygon_.size() == 4) {
        const SurfacePoint &a = corner(c.i0, c.j0), &b = corner(c.i1, c.j0),
                           &d = corner(c.i1, c.j1), &e = corner(c.i0, c.j1);
        emit_unless_degenerate(sink, a, b, d);
        emit_unless_degenerate(sink, a, d, e);
        return;
    }
    SurfacePoint centre;
    surface_->lattice_point(0.5 * (static_cast<double>(c.i0) + c.i1),
                            0.5 * (static_cast<double>(c.j0) + c.j1), centre);
    for (std::size_t k = 0; k < polygon_.size(); ++k) {
        const auto& p = polygon_[k];
        const auto& q = polygon_[(k + 1) % polygon_.size()];
        emit_unless_degenerate(sink, centre, corner(p[0], p[1]), corner(q[0], q[1]));
    }
}

}  // namespace sky
