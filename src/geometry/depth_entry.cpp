#include "geometry/depth_entry.h"

namespace sky {

void bin_depth_triangles(ObjectTriangles& storage, std::vector<GridRows> rows) {
    storage.bins = {};
    if (rows.size() < 2) return;
    std::sort(rows.begin(), rows.end(),
              [](const GridRows& a, const GridRows& b) { return a.first < b.first; });
    for (std::size_t k = 1; k < rows.size(); ++k)
        if (rows[k].last < rows[k - 1].last) return;
    const std::size_t n = rows.size();
    // The holders whose rows meet the triangle's: a run of neighbours.
    auto reach = [&](const DepthTriangle& t, std::size_t& from, std::size_t& to) {
        from = static_cast<std::size_t>(
            std::partition_point(rows.begin(), rows.end(),
                                 [&](const GridRows& g) { return g.last < t.row_first; }) -
            rows.begin());
        to = static_cast<std::size_t>(
            std::partition_point(rows.begin(), rows.end(),
                                 [&](const GridRows& g) { return g.first <= t.row_last; }) -
            rows.begin());
    };
    ObjectTriangles::TileBins bins;
    bins.first.assign(n + 1, 0);
    storage.depth_triangles.for_each([&](const void* record) {
        std::size_t from, to;
        reach(*static_cast<const DepthTriangle*>(record), from, to);
        for (std::size_t k = from; k < to; ++k) ++bins.first[k + 1];
    });
    for (std::size_t k = 0; k < n; ++k) bins.first[k + 1] += bins.first[k];
    bins.depth.resize(bins.first[n]);
    std::vector<std::size_t> next(bins.first.begin(), bins.first.end() - 1);
    storage.depth_triangles.for_each([&](const void* record) {
        const auto* t = static_cast<const DepthTriangle*>(record);
        std::size_t from, to;
        reach(*t, from, to);
        for (std::size_t k = from; k < to; ++k) bins.depth[next[k]++] = t;
    });
    for (const GridRows& g : rows) bins.tiles.push_back(g.tile);
    storage.bins = std::move(bins);
}

}  // namespace sky
