#include "geometry/depth_entry.h"

namespace sky {

void bin_depth_triangles(ObjectTriangles& storage, std::vector<GridRows> rows) {
    storage.bins = {};
    auto for_each = [&](auto&& visit) {
        storage.depth_triangles.for_each(
            [&](const void* record) { visit(*static_cast<const DepthTriangle*>(record)); });
    };
    auto row_range = [](const DepthTriangle& t, std::int32_t& lo, std::int32_t& hi) {
        lo = t.row_first, hi = t.row_last;
    };
    bin_by_rows(std::move(rows), storage.triangle_count, for_each, row_range, storage.bins,
                storage.bins.depth);
}

}  // namespace sky
