// Bucket entry: each worker's lists of the triangles that may cover each
// pixel of its tile (which cells a triangle reaches: bucket_spans.h).
#include "geometry/buckets.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "base/arena.h"
#include "base/options.h"
#include "base/workers.h"
#include "geometry/bucket_spans.h"
#include "platform/fatal.h"

namespace sky {
namespace {

// Each worker's grid on cache lines of its own: entry writes the newest
// block's cursor with every row of cells, which would otherwise take the
// line holding a neighbour's grid from that worker's core again and again.
struct alignas(64) WorkerGrid {
    BucketGrid grid;
};
WorkerGrid grids[kMaxWorkers];

// Displacements within this are no movement at all.
constexpr float kStill = 1e-6f;

// A fresh block of cells; apart from the cells' loop, which it would crowd.
// Not zeroed: a cell is written whole before it is linked into a list, and
// nothing reads a block's cells beyond those.
[[gnu::noinline]] void new_cell_block(BucketGrid& grid) {
    grid.next_cell = arena_array_unzeroed<BucketCell>(tile_arena(), kBucketBlockRecords);
    grid.cells_end = grid.next_cell + kBucketBlockRecords;
}

SpanGrid span_grid(const BucketGrid& grid) {
    return {grid.spans, grid.width, grid.height, grid.x0, grid.y0};
}

// Cells go straight into the lists.
struct DirectCells {
    BucketGrid& grid;
    // One row's cells: the block's room is looked at once per row, or once
    // per block the row reaches, rather than once per cell. The cells take
    // the same places in the same blocks as pushed one by one.
    void span(std::int64_t first, std::int32_t count, const ScreenTriangle* t) const {
        BucketCell** head = grid.heads + first;
        while (count > 0) {
            if (grid.next_cell == grid.cells_end) [[unlikely]]
                new_cell_block(grid);
            BucketCell* cell = grid.next_cell;
            const std::int32_t n =
                static_cast<std::int32_t>(std::min<std::ptrdiff_t>(count, grid.cells_end - cell));
            for (std::int32_t c = 0; c < n; ++c, ++cell, ++head) {
                cell->next = *head;
                cell->triangle = t;
                *head = cell;
            }
            grid.next_cell = cell;
            count -= n;
        }
    }
};

// A moving object's cells, held back as spans of one row and entered pixel
// by pixel, so that a pixel's cells of the object lie side by side in
// memory: a moving triangle reaches many pixels, and a sample walks its
// pixel's whole list, which cells entered triangle by triangle scatter over
// the tile's blocks. Each list ends up in the order direct entry gives.
// Holding spans rather than cells keeps what is held a few records per
// triangle; the cells are written once, straight to their places.
class GroupedCells {
public:
    explicit GroupedCells(BucketGrid& grid) : grid_(grid) {}
    GroupedCells(const GroupedCells&) = delete;
    GroupedCells& operator=(const GroupedCells&) = delete;
    ~GroupedCells() { flush(); }
    // The `count` cells from `first` on (one row's).
    void span(std::int64_t first, std::int32_t count, const ScreenTriangle* t) {
        if (count <= 0) return;
        Held& held = held_[worker_index()];
        const auto lo = static_cast<std::uint32_t>(first);
        const auto hi = static_cast<std::uint32_t>(first + count - 1);
        if (held.spans.empty()) held.lo = lo, held.hi = hi;
        held.lo = std::min(held.lo, lo);
        held.hi = std::max(held.hi, hi);
        held.spans.push_back(Span{lo, static_cast<std::uint32_t>(count), t});
        held.cells += static_cast<std::size_t>(count);
        if (held.cells >= kHeld) flush();
    }
    void flush() {
        Held& held = held_[worker_index()];
        if (held.spans.empty()) return;
        const std::uint32_t first = held.lo;
        const std::size_t pixels = static_cast<std::size_t>(held.hi - first) + 1;
        // Cells per pixel, from the spans' starts and ends.
        std::vector<std::int64_t>& count = held.count;
        count.assign(pixels + 1, 0);
        for (const Span& s : held.spans) {
            ++count[s.first - first];
            --count[s.first - first + s.count];
        }
        for (std::size_t k = 1; k < pixels; ++k) count[k] += count[k - 1];
        // Each pixel's cells side by side, in arrays of a quarter of an
        // arena block, which waste little of the block they leave (a pixel
        // with more cells than that gets an array of its own). Not zeroed:
        // the spans below write every cell of every array.
        held.at.resize(pixels);
        constexpr std::int64_t kChunk = kArenaBlockBytes / 4 / sizeof(BucketCell);
        std::size_t k = 0;
        while (k < pixels) {
            std::size_t end = k;
            std::int64_t cells = 0;
            do {
                cells += count[end++];
            } while (end < pixels && cells + count[end] <= kChunk);
            BucketCell* chunk = cells > 0 ? arena_array_unzeroed<BucketCell>(
                                                tile_arena(), static_cast<std::size_t>(cells))
                                          : nullptr;
            for (; k < end; ++k) {
                held.at[k] = chunk;
                chunk += count[k];
            }
        }
        BucketCell** heads = grid_.heads + first;
        for (const Span& s : held.spans) {
            const std::size_t from = s.first - first;
            for (std::size_t p = from; p < from + s.count; ++p) {
                BucketCell* cell = held.at[p]++;
                cell->next = heads[p];
                cell->triangle = s.triangle;
                heads[p] = cell;
            }
        }
        held.spans.clear();
        held.cells = 0;
    }

private:
    static constexpr std::size_t kHeld = 1 << 18;
    struct Span {
        std::uint32_t first, count;
        const ScreenTriangle* triangle;
    };
    struct alignas(64) Held {
        std::vector<Span> spans;
        std::vector<std::int64_t> count;
        std::vector<BucketCell*> at;
        std::size_t cells = 0;
        std::uint32_t lo = 0, hi = 0;  // the lowest and highest cell held
    };
    static Held held_[kMaxWorkers];
    BucketGrid& grid_;
};

GroupedCells::Held GroupedCells::held_[kMaxWorkers];

template <typename Cells>
void bucket_static(BucketGrid& grid, const GeometryView& view, const ScreenTriangle& t,
                   Cells&& cells) {
    auto visit = [&](std::int32_t r, std::int32_t start, std::int32_t end) {
        cells.span(static_cast<std::int64_t>(r) * grid.width + start, end - start + 1, &t);
    };
    // The cells its set-up kept are those its corners give any grid, as
    // far as the grid reaches.
    SmallCells small;
    if (small_cells(t, small)) {
        for (std::int32_t k = small.two_rows ? 1 : 0; k >= 0; --k) {
            const std::int32_t r = small.row + k - grid.y0;
            const std::int32_t start = small.column + (small.reach[k] == 1 ? 1 : 0) - grid.x0;
            const std::int32_t end = small.column + (small.reach[k] != 0 ? 1 : 0) - grid.x0;
            if (r < 0 || r >= grid.height || start >= grid.width || end < 0) continue;
            visit(r, std::max(start, 0), std::min(end, grid.width - 1));
        }
        return;
    }
    const ScreenVertex* v[3] = {t.P0, t.P1, t.P2};
    SpanPoint p[3];
    for (int i = 0; i < 3; ++i) p[i] = project_to_screen(view, v[i]->shading->eye);
    enter_still_triangle(span_grid(grid), p, visit);
}

// The screen positions of a moving triangle's vertices at shutter open and
// close (the sampler moves them in straight lines between the two), when
// all six lie beyond the near plane; false otherwise.
bool open_and_close(const GeometryView& view, const double (*eye)[3], SpanPoint points[6]) {
    for (int i = 0; i < 3; ++i) {
        for (int end = 0; end < 2; ++end) {
            const double* p = eye[3 * i + 2 * end];
            if (view.screen.perspective && !(p[2] < -static_cast<double>(view.near))) return false;
            const float pf[3] = {static_cast<float>(p[0]), static_cast<float>(p[1]),
                                 static_cast<float>(p[2])};
            points[2 * i + end] = project_to_screen(view, pf);
        }
    }
    return true;
}

// The convex hull of the points, counter-clockwise in `hull` (room for
// twice `count`), its first corner repeated after the last; returns its
// corner count (fewer than three when the points lie on a line).
int convex_hull(SpanPoint* points, int count, SpanPoint* hull) {
    std::sort(points, points + count, [](const SpanPoint& a, const SpanPoint& b) {
        return a.x < b.x || (a.x == b.x && a.y < b.y);
    });
    auto turn = [](const SpanPoint& o, const SpanPoint& a, const SpanPoint& b) {
        return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
    };
    int k = 0;
    for (int i = 0; i < count; ++i) {
        while (k >= 2 && turn(hull[k - 2], hull[k - 1], points[i]) <= 0) --k;
        hull[k++] = points[i];
    }
    for (int i = count - 2, lower = k + 1; i >= 0; --i) {
        while (k >= lower && turn(hull[k - 2], hull[k - 1], points[i]) <= 0) --k;
        hull[k++] = points[i];
    }
    return k - 1;
}

// The triangle's vertices at open, frame and close, eye space.
void swept_positions(const ScreenTriangle& t, double (*eye)[3]) {
    const ScreenVertex* v[3] = {t.P0, t.P1, t.P2};
    for (int i = 0; i < 3; ++i) {
        const MotionRecord* m = v[i]->motion;
        if (m == nullptr) fatal("Logical error: no motion info on motion blurred triangle\n");
        const float* e = v[i]->shading->eye;
        for (int k = 0; k < 3; ++k) {
            eye[3 * i + 0][k] = static_cast<double>(e[k]) - m->to_frame[k];
            eye[3 * i + 1][k] = e[k];
            eye[3 * i + 2][k] = static_cast<double>(e[k]) + m->to_close[k];
        }
    }
}

bool triangle_still(const ScreenTriangle& t) {
    const ScreenVertex* v[3] = {t.P0, t.P1, t.P2};
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k)
            if (std::fabs(v[i]->motion->to_frame[k]) > kStill ||
                std::fabs(v[i]->motion->to_close[k]) > kStill)
                return false;
    return true;
}

// The sampler moves the vertices in straight lines on the screen from
// their shutter-open to their shutter-close positions, so the triangle
// sweeps through the convex hull of those six points. When a position lies
// on the near side of the near plane the sweep is bounded by the hull of
// all nine positions (each vertex at open, frame and close), whose edges
// are among the segments joining every two of them: segments reaching
// behind the near plane are cut at it before they are projected, and the
// cut points are joined too, which closes the hull where the plane cuts it.
template <typename Cells>
void bucket_moving(BucketGrid& grid, const GeometryView& view, const ScreenTriangle& t,
                   Cells&& cells) {
    double eye[9][3];
    swept_positions(t, eye);
    // A vertex that does not move leaves the triangle where it is.
    if (triangle_still(t)) return bucket_static(grid, view, t, cells);
    const SpanGrid spans = span_grid(grid);
    auto push = [&](std::int32_t r, std::int32_t start, std::int32_t end) {
        cells.span(static_cast<std::int64_t>(r) * grid.width + start, end - start + 1, &t);
    };
    SpanPoint sweep[6];
    if (open_and_close(view, eye, sweep)) {
        SpanEntry entry(spans);
        if (!entry.rows(sweep, 6)) return;
        SpanPoint hull[12];
        const int corners = convex_hull(sweep, 6, hull);
        for (int i = 0; i < corners; ++i) entry.edge(hull[i], hull[i + 1]);
        // Flat or degenerate hulls still reach their points' own cells.
        for (const SpanPoint& p : sweep) entry.point(p);
        entry.fill(push);
        return;
    }
    const bool clip = view.screen.perspective;
    const double plane = -static_cast<double>(view.near);
    SpanPoint a[36], b[36], ends[72];
    // Where segments were cut: the outline of the sweep's section by the
    // near plane joins them in some order, so every pair is an edge.
    SpanPoint cuts[36];
    int segments = 0, cut_count = 0;
    for (int i = 0; i < 9; ++i) {
        for (int j = i + 1; j < 9; ++j) {
            double p[3], q[3];
            std::memcpy(p, eye[i], sizeof p);
            std::memcpy(q, eye[j], sizeof q);
            if (clip) {
                if (p[2] > plane && q[2] > plane) continue;
                if (p[2] > plane || q[2] > plane) {
                    double* behind = p[2] > plane ? p : q;
                    const double* front = p[2] > plane ? q : p;
                    const double s = (plane - front[2]) / (behind[2] - front[2]);
                    for (int k = 0; k < 3; ++k) behind[k] = front[k] + s * (behind[k] - front[k]);
                    behind[2] = plane;
                }
            }
            const float pf[3] = {static_cast<float>(p[0]), static_cast<float>(p[1]),
                                 static_cast<float>(p[2])};
            const float qf[3] = {static_cast<float>(q[0]), static_cast<float>(q[1]),
                                 static_cast<float>(q[2])};
            a[segments] = project_to_screen(view, pf);
            b[segments] = project_to_screen(view, qf);
            if (clip && (eye[i][2] > plane || eye[j][2] > plane))
                cuts[cut_count++] = eye[i][2] > plane ? a[segments] : b[segments];
            ends[2 * segments] = a[segments];
            ends[2 * segments + 1] = b[segments];
            ++segments;
        }
    }
    if (segments == 0) return;
    SpanEntry entry(spans);
    if (!entry.rows(ends, 2 * segments)) return;
    for (int s = 0; s < segments; ++s) {
        entry.edge(a[s], b[s]);
        entry.point(a[s]);
        entry.point(b[s]);
    }
    for (int i = 0; i < cut_count; ++i)
        for (int j = i + 1; j < cut_count; ++j) entry.edge(cuts[i], cuts[j]);
    entry.fill(push);
}

// Every triangle of the object, or only those binned for `tile`.
template <typename Enter>
void enter_object(const ObjectTriangles& storage, const void* tile, Enter&& enter) {
    const ObjectTriangles::TileBins& bins = storage.bins;
    if (tile != nullptr && !bins.tiles.empty()) {
        auto found = std::find(bins.tiles.begin(), bins.tiles.end(), tile);
        if (found != bins.tiles.end()) {
            const auto k = static_cast<std::size_t>(found - bins.tiles.begin());
            for_each_bin_piece(
                bins, k, &ObjectTriangles::TileBins::triangles,
                [&](const ScreenTriangle* const* list, const ScreenTriangle* const* end) {
                    // Entry waits on each triangle's vertices, far apart in
                    // memory from the list: they are asked for a few
                    // triangles ahead, and the triangles a few more ahead
                    // of that.
                    constexpr std::ptrdiff_t kTriangleAhead = 16, kVertexAhead = 8;
                    for (const ScreenTriangle* const* at = list; at < end; ++at) {
                        if (end - at > kTriangleAhead) __builtin_prefetch(at[kTriangleAhead]);
                        if (end - at > kVertexAhead && !has_small_cells(*at[kVertexAhead])) {
                            const ScreenTriangle& ahead = *at[kVertexAhead];
                            // The record's shading pointer and the eye
                            // position it leads to, which follows the
                            // vertex in a large object.
                            for (const ScreenVertex* v : {ahead.P0, ahead.P1, ahead.P2}) {
                                __builtin_prefetch(&v->shading);
                                __builtin_prefetch(reinterpret_cast<const char*>(v + 1) + 8);
                            }
                        }
                        enter(**at);
                    }
                });
            return;
        }
    }
    for_each_triangle(storage, enter);
}

}  // namespace

BucketGrid& bucket_grid() {
    return grids[worker_index()].grid;
}

void map_tile_to_buckets(BucketGrid& grid, const Tile* tile) {
    const RenderOptions& options = render_options();
    const TileBuffers& buffers = tile_buffers(worker_index());
    std::int64_t x_first = options.xleft, x_last = options.xright;
    std::int64_t y_first = options.ylow, y_last = options.yhigh;
    if (tile != nullptr) {
        x_first = tile->x_first, x_last = tile->x_last;
        y_first = tile->y_first, y_last = tile->y_last;
    }
    const std::int64_t width = buffers.slots_per_row, height = buffers.slot_rows;
    const std::int64_t columns = x_last - x_first + 1, rows = y_last - y_first + 1;
    const std::int64_t border = tile_border();
    if (buffers.slots == nullptr || columns < 1 || rows < 1 || columns > width - 2 * border ||
        (columns + 2 * border) * (rows + 2 * border) > width * height)
        fatal("Bad tile to bucket mapping\n");
    // Buffers made for the whole window serve a band too: only the rows the
    // tile needs are used, and cleared.
    grid.heads = buffers.slots;
    grid.spans = buffers.row_list;
    grid.width = static_cast<std::int32_t>(width);
    grid.height = static_cast<std::int32_t>(std::min(height, rows + 2 * border));
    grid.x0 = static_cast<std::int32_t>(std::max<std::int64_t>(x_first - border, 0));
    grid.y0 = static_cast<std::int32_t>(std::max<std::int64_t>(y_first - border, 0));
    std::memset(grid.heads, 0, sizeof(BucketCell*) * static_cast<std::size_t>(width) * grid.height);
    // The cells of the last tile went with the tile arena's rewind.
    grid.next_cell = grid.cells_end = nullptr;
}

BucketCell* bucket_at(const BucketGrid& grid, std::int32_t y, std::int32_t x) {
    const std::int64_t last = static_cast<std::int64_t>(grid.width) * grid.height - 1;
    std::int64_t index = (static_cast<std::int64_t>(y) - grid.y0) * grid.width +
                         (static_cast<std::int64_t>(x) - grid.x0);
    return grid.heads[std::clamp<std::int64_t>(index, 0, last)];
}

void bucket_triangle(BucketGrid& grid, const GeometryView& view, const ObjectTriangles& storage,
                     const ScreenTriangle& triangle) {
    if (storage.moving)
        bucket_moving(grid, view, triangle, DirectCells{grid});
    else
        bucket_static(grid, view, triangle, DirectCells{grid});
}

void bucket_object(BucketGrid& grid, const GeometryView& view, const ObjectTriangles& storage,
                   const void* tile) {
    if (!storage.moving) {
        enter_object(storage, tile, [&](const ScreenTriangle& t) {
            bucket_static(grid, view, t, DirectCells{grid});
        });
        return;
    }
    GroupedCells cells(grid);
    enter_object(storage, tile,
                 [&](const ScreenTriangle& t) { bucket_moving(grid, view, t, cells); });
}

void bin_object_triangles(ObjectTriangles& storage, const GeometryView& view,
                          std::vector<GridRows> rows) {
    storage.bins = {};
    auto for_each = [&](auto&& visit) { for_each_triangle(storage, visit); };
    // A row clamped at the set-up is as good as the row itself while every
    // tile's rows lie within the clamp: no tile is reached, or missed, by
    // the difference.
    const bool rows_kept = std::all_of(rows.begin(), rows.end(), [](const GridRows& g) {
        return g.first >= 0 && g.last < kRowsKept;
    });
    auto row_range = [&](const ScreenTriangle& t, std::int32_t& lo, std::int32_t& hi) {
        if (rows_kept && triangle_rows(t, lo, hi)) return;
        lo = INT32_MAX, hi = INT32_MIN;
        if (storage.moving && !triangle_still(t)) {
            double eye[9][3];
            swept_positions(t, eye);
            SpanPoint ends[6];
            // Cut by the near plane: every tile may be reached.
            if (!open_and_close(view, eye, ends)) {
                lo = INT32_MIN, hi = INT32_MAX;
                return;
            }
            for (const SpanPoint& p : ends) {
                const std::int32_t r = trunc_to_int(p.y);
                lo = std::min(lo, r), hi = std::max(hi, r);
            }
            return;
        }
        for (const ScreenVertex* v : {t.P0, t.P1, t.P2}) {
            const std::int32_t r = trunc_to_int(project_to_screen(view, v->shading->eye).y);
            lo = std::min(lo, r), hi = std::max(hi, r);
        }
    };
    bin_by_rows(std::move(rows), storage.triangle_count, for_each, row_range, storage.bins,
                storage.bins.triangles);
}

std::vector<GridRows> holder_rows(const ObjectTriangles& storage) {
    std::vector<GridRows> rows;
    std::lock_guard lock(holders_lock());
    for (const void* holder : storage.holders) {
        const Tile& tile = *static_cast<const Tile*>(holder);
        if (storage.depth_only) {
            rows.push_back({&tile, tile.y_first, tile.y_last});
        } else {
            // The rows a tile's bucket grid covers at most
            // (map_tile_to_buckets may take fewer), starting at row 0.
            const std::int32_t border = tile_border();
            const std::int32_t first = std::max(tile.y_first - border, 0);
            rows.push_back({&tile, first, first + (tile.y_last - tile.y_first) + 2 * border});
        }
    }
    return rows;
}

void join_part_bins(ObjectTriangles& storage, const std::vector<ObjectTriangles*>& parts) {
    storage.bins = {};
    if (parts.empty()) return;
    for (const ObjectTriangles* part : parts)
        if (part->bins.tiles.empty() || part->bins.tiles != parts.front()->bins.tiles) return;
    ObjectTriangles::TileBins& joined = storage.bins;
    joined.tiles = parts.front()->bins.tiles;
    joined.parts.reserve(parts.size());
    // Screen triangles are walked newest first: the last part's first.
    auto keep = [&](ObjectTriangles* part) {
        joined.parts.push_back(std::move(part->bins));
        joined.parts.back().tiles.clear();
        part->bins = {};
    };
    if (storage.depth_only)
        std::for_each(parts.begin(), parts.end(), keep);
    else
        std::for_each(parts.rbegin(), parts.rend(), keep);
}

}  // namespace sky
