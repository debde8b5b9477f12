// The row routines: every pixel of a row sampled once (aalevelmax 0), or
// adaptively: the four corner samples, shared with the neighbours and the
// next row, give a first estimate; `aalevelmin` jittered samples follow;
// the contrast rule then decides how many more, up to `aalevelmax`.
//
// A sample is a pure function of its position and seed (the corner
// samples included, which read the list of the pixel they lie in), so a
// row comes out the same whichever direction it runs and wherever tiles
// start: images do not depend on the worker count or the tile size. Seeds
// and jitter count columns from the image's left edge, not the window's, so
// a window rendered alone (a split frame on a render farm) gives the pixels
// the whole frame has there.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <span>

#include "base/options.h"
#include "render/caster_state.h"
#include "render/rows.h"
#include "render/sampling_tables.h"

namespace sky {
namespace {

inline void clamp_colour(float* c) {
    for (int k = 0; k < 4; ++k) c[k] = std::clamp(c[k], 0.0f, 255.0f);
}

// The wrapper every sample goes through.
inline float take_sample(RR_SampleNode& node, const BucketCell* list, double x, double y,
                         double time, std::uint32_t seed, float* out) {
    caster_worker().seed = seed;
    node.pixel_triangles = list;
    node.pixel_started = 1;
    const float depth = node.sample_routine(x, y, time, out, node);
    clamp_colour(out);
    return depth;
}

inline double sample_time() {
    return caster_camera().motion_blur ? 0.5 : 0.0;
}

// What the jittered positions of every pixel of a row share: the grid's
// cells in cell-table order, and across each cell the offset, which
// depends on the row alone (the jitter of x is indexed by the super-sample
// row), with its share of the distance from the pixel's centre.
struct RowJitter {
    int n = 0, cells = 0;
    // Dividing by a power of two is multiplying by its exact reciprocal.
    double reciprocal = 0.0;
    std::int32_t c[kMaxGridSamples], r[kMaxGridSamples];
    double dx[kMaxGridSamples], x_term[kMaxGridSamples];
    std::int64_t sy[kMaxGridSamples];
    std::span<const std::int32_t> ranks;

    RowJitter(const RR_SampleNode& node, std::int32_t y) {
        const JitterTables& tables = jitter_tables();
        n = static_cast<int>(std::sqrt(static_cast<double>(node.aa_max)) + 1e-9);
        cells = std::min(n * n, kMaxGridSamples);
        if (n > 0 && (n & (n - 1)) == 0) reciprocal = 1.0 / n;
        std::span<const std::int32_t> order = cell_order(cells);
        for (int j = 0; j < cells; ++j) {
            const int k = order[static_cast<std::size_t>(j)];
            c[j] = k % n, r[j] = k / n;
            sy[j] = static_cast<std::int64_t>(n) * y + r[j];
            dx[j] = (c[j] + tables.jitter[sy[j] & 1023]) / n;
            x_term[j] = (dx[j] - 0.5) * (dx[j] - 0.5);
        }
        ranks = visit_order(cells);
    }
};

// What the jittered positions of every pixel of a column share, whatever
// the row: across each cell the offset of y, which depends on the column
// alone (the jitter of y is indexed by the super-sample column), and its
// share of the distance from the pixel's centre. Worked out once for the
// columns of the tile rather than for each of its pixels.
void fill_column_jitter(ColumnJitter& columns, const RowJitter& row, std::int32_t x_first,
                        std::int32_t x_last) {
    const JitterTables& tables = jitter_tables();
    const int n = row.n, cells = row.cells;
    columns.x_first = x_first;
    columns.x_last = x_last;
    columns.n = n;
    columns.cells = cells;
    const std::size_t size = static_cast<std::size_t>(x_last - x_first + 1) * cells;
    if (columns.dy.size() < size) {
        columns.dy.resize(size);
        columns.y_term.resize(size);
    }
    for (std::int32_t x = x_first; x <= x_last; ++x) {
        double* dy = columns.dy.data() + static_cast<std::size_t>(x - x_first) * cells;
        double* y_term = columns.y_term.data() + static_cast<std::size_t>(x - x_first) * cells;
        for (int j = 0; j < cells; ++j) {
            const std::int64_t sx = static_cast<std::int64_t>(n) * x + row.c[j];
            const double offset = row.r[j] + tables.jitter[sx & 1023];
            dy[j] = row.reciprocal != 0.0 ? offset * row.reciprocal : offset / n;
            y_term[j] = (dy[j] - 0.5) * (dy[j] - 0.5);
        }
    }
}

// The worker's column offsets for the node's columns, made again when the
// tile's columns or the grid change.
const ColumnJitter& column_jitter(const RR_SampleNode& node, const RowJitter& row) {
    ColumnJitter& columns = caster_worker().columns;
    if (columns.x_first != node.x_left || columns.x_last != node.x_right || columns.n != row.n ||
        columns.cells != row.cells)
        fill_column_jitter(columns, row, node.x_left, node.x_right);
    return columns;
}

// The n × n jittered positions of pixel (x, y). Samples are visited in the
// order of their distance from the pixel's centre (ties in cell-table
// order), picked by the visit table's ranks. Most pixels take only the
// first visit, the nearest position, so nothing is sorted until a pixel
// asks for a later one; then each position's rank is counted once.
class JitteredPixel {
public:
    JitteredPixel(const RowJitter& row, const ColumnJitter& columns, std::int32_t x)
        : row_(row), x_(x) {
        const std::size_t at = static_cast<std::size_t>(x - columns.x_first) * row.cells;
        dy_ = columns.dy.data() + at;
        y_term_ = columns.y_term.data() + at;
    }

    int cells() const { return row_.cells; }
    double dx(int j) const { return row_.dx[j]; }
    double dy(int j) const { return dy_[j]; }
    std::int64_t sx(int j) const { return static_cast<std::int64_t>(row_.n) * x_ + row_.c[j]; }
    std::int64_t sy(int j) const { return row_.sy[j]; }

    // The position (index of the cell-table order) of the k-th visited
    // sample.
    int position(int k) {
        const std::int32_t rank = row_.ranks[static_cast<std::size_t>(k)];
        if (!ranked_) {
            if (rank == 0) return nearest();
            rank_positions();
        }
        return by_rank_[rank];
    }

private:
    double distance(int j) const { return row_.x_term[j] + y_term_[j]; }
    int nearest() const {
        int best = 0;
        double best_distance = distance(0);
        for (int j = 1; j < row_.cells; ++j) {
            const double d = distance(j);
            if (d < best_distance) best = j, best_distance = d;
        }
        return best;
    }
    // A position's rank: the positions nearer the centre, and the equally
    // near ones earlier in the cell table.
    void rank_positions() {
        double d[kMaxGridSamples];
        for (int j = 0; j < row_.cells; ++j) d[j] = distance(j);
        for (int j = 0; j < row_.cells; ++j) {
            int rank = 0;
            for (int i = 0; i < j; ++i) rank += d[i] <= d[j];
            for (int i = j + 1; i < row_.cells; ++i) rank += d[i] < d[j];
            by_rank_[rank] = static_cast<std::uint8_t>(j);
        }
        ranked_ = true;
    }

    const RowJitter& row_;
    std::int32_t x_;
    const double* dy_;
    const double* y_term_;
    std::uint8_t by_rank_[kMaxGridSamples];
    bool ranked_ = false;
};

struct PixelSums {
    float sum[4] = {0, 0, 0, 0};
    float low[3] = {255, 255, 255};
    float high[3] = {0, 0, 0};
    double hits = 0;
    void add(const float* c) {
        for (int k = 0; k < 4; ++k) sum[k] += c[k];
        widen(c);
    }
    void widen(const float* c) {
        for (int k = 0; k < 3; ++k)
            low[k] = std::min(low[k], c[k]), high[k] = std::max(high[k], c[k]);
    }
    float range() const { return std::max({high[0] - low[0], high[1] - low[1], high[2] - low[2]}); }
};

// One pixel of the adaptive routine into `out`; returns its depth.
float adaptive_pixel(RR_SampleNode& node, const BucketGrid& grid, const RowJitter& row,
                     const ColumnJitter& columns, std::int32_t x, std::int32_t y, float* out) {
    const RenderOptions& options = render_options();
    const CasterCamera& cam = caster_camera();
    const JitterTables& tables = jitter_tables();
    const std::int32_t i = x - node.x_left;
    const double time = sample_time();
    std::int32_t m = node.aa_min + 1;
    std::int32_t M = node.aa_max + 1;
    const bool reduced = options.reduced_samples && reduced_sample_flag(x, y);
    if (reduced) m = std::min(m, 5), M = std::min(M, 5);
    m = std::min(m, M);
    node.pixel_started = 0;
    ++node.pixel_counter;

    float depth = FLT_MAX;
    double last_tick = cam.timing ? timing_milliseconds() : 0.0;
    float longest = 0.0f;

    // Corners in the order (x, y+1), (x+1, y+1), (x+1, y), (x, y).
    struct Corner {
        float* colour;
        float* depth;
        std::int32_t* missed;
        std::int32_t cx, cy;
    };
    Corner corners[4] = {
        {node.upper_corners + 4 * i, node.upper_depths + i,
         node.upper_coverage ? node.upper_coverage + i : nullptr, x, y + 1},
        {node.upper_corners + 4 * (i + 1), node.upper_depths + i + 1,
         node.upper_coverage ? node.upper_coverage + i + 1 : nullptr, x + 1, y + 1},
        {node.lower_corners + 4 * (i + 1), node.lower_depths + i + 1,
         node.lower_coverage ? node.lower_coverage + i + 1 : nullptr, x + 1, y},
        {node.lower_corners + 4 * i, node.lower_depths + i,
         node.lower_coverage ? node.lower_coverage + i : nullptr, x, y},
    };
    for (Corner& c : corners) {
        if (c.colour[0] == kUnsampledCorner) {
            const BucketCell* list = bucket_at(grid, c.cy, c.cx);
            *c.depth = take_sample(node, list, c.cx + 0.001, c.cy + 0.001, time,
                                   sample_seed(tables, c.cx, c.cy), c.colour);
            if (c.missed) *c.missed = node.missed;
        }
        depth = std::min(depth, *c.depth);
    }

    PixelSums sums;
    bool edge = false;
    if (!cam.composite) {
        // Summed on locals, in the corners' order: the sums escape into the
        // sample loop below, and summing them in place costs a store and a
        // load per term.
        const float* a = corners[0].colour;
        const float* b = corners[1].colour;
        const float* c = corners[2].colour;
        const float* d = corners[3].colour;
        if (node.flat_background) {
            for (int k = 0; k < 4; ++k)
                sums.sum[k] = 0.0f + a[k] * 0.25f + b[k] * 0.25f + c[k] * 0.25f + d[k] * 0.25f;
        } else {
            for (int k = 0; k < 4; ++k) sums.sum[k] = d[k];
        }
        for (int k = 0; k < 3; ++k) {
            sums.low[k] = std::min(std::min(std::min(std::min(255.0f, a[k]), b[k]), c[k]), d[k]);
            sums.high[k] = std::max(std::max(std::max(std::max(0.0f, a[k]), b[k]), c[k]), d[k]);
        }
    } else {
        int missed = 0;
        for (const Corner& c : corners) missed += *c.missed ? 1 : 0;
        edge = missed != 0 && missed != 4;
        if (missed < 4) {
            sums.hits = 1;
            for (const Corner& c : corners)
                for (int k = 0; k < 4; ++k) sums.sum[k] += c.colour[k] * 0.25f;
        }
        if (missed == 0)
            for (const Corner& c : corners) sums.widen(c.colour);
    }
    std::int32_t count = 1;

    if (M > 1) {
        JitteredPixel jitter(row, columns, x);
        const int cells = jitter.cells();
        const BucketCell* list = bucket_at(grid, y, x);
        auto take = [&](int from, int to) {
            for (int k = from; k <= to && k < cells; ++k) {
                const int j = jitter.position(k);
                float colour[4];
                const float d =
                    take_sample(node, list, x + jitter.dx(j), y + jitter.dy(j), time,
                                sample_seed(tables, jitter.sx(j), jitter.sy(j)), colour);
                if (cam.timing) {
                    const double now = timing_milliseconds();
                    longest = std::max(longest, static_cast<float>(now - last_tick));
                    last_tick = now;
                } else {
                    depth = std::min(depth, d);
                }
                ++count;
                if (cam.composite && node.missed) continue;
                sums.add(colour);
                sums.hits += 1;
            }
        };
        take(0, m - 2);
        double a = contrast_fraction(sums.range(), node.aa_threshold, reduced && count >= 5);
        if (cam.composite &&
            (edge || (sums.hits > 0 && static_cast<std::int64_t>(sums.hits) != count)))
            a = 1.0;
        const std::int32_t wanted = wanted_samples(node.aa_min, node.aa_max, a);
        if (wanted > m) {
            const std::int32_t target = std::min(wanted, M);
            take(m - 1, target - 2);
        }
    }

    if (!cam.composite) {
        const float inverse = 1.0f / static_cast<float>(count);
        for (int k = 0; k < 4; ++k) out[k] = sums.sum[k] * inverse;
    } else {
        const double f = sums.hits / count;
        if (sums.hits > 0 && f >= options.composite_threshold) {
            const float inverse = static_cast<float>(1.0 / sums.hits);
            for (int k = 0; k < 3; ++k) out[k] = sums.sum[k] * inverse;
            out[3] = static_cast<float>(sums.sum[3] * inverse * f);
        } else {
            background_colour(x, y, out);
            out[3] = 0.0f;
        }
    }
    clamp_colour(out);
    return cam.timing ? longest : depth;
}

// The pixel lists a row's samples will read, fetched ahead of them. A list
// is a chain of cells and triangles scattered over the tile's memory, and
// a sample waits for each link in turn; a pixel's work is long enough to
// fetch a link of each of the next lists in the background. So every list
// of the next kAhead pixels is followed one link further each pixel, and a
// list's first kAhead − 1 links are on their way by the time its pixel
// comes.
class ListPrefetch {
public:
    static constexpr int kAhead = 8;

    ListPrefetch(const BucketGrid& grid, std::int32_t row) : grid_(grid) {
        row_start_ = (static_cast<std::int64_t>(row) - grid.y0) * grid.width - grid.x0;
        last_ = static_cast<std::int64_t>(grid.width) * grid.height - 1;
    }

    // Before the pixel at `column`, stepping by `step`: the list kAhead
    // pixels on starts (as bucket_at finds it), and the ones between go a
    // link further.
    void advance(std::int32_t column, std::int32_t step) {
        const std::int64_t index = row_start_ + column + kAhead * step;
        const BucketCell* head = grid_.heads[std::clamp<std::int64_t>(index, 0, last_)];
        __builtin_prefetch(head);
        for (const BucketCell*& cell : cursors_) {
            if (cell == nullptr) continue;
            __builtin_prefetch(cell->triangle);
            cell = cell->next;
            __builtin_prefetch(cell);
        }
        cursors_[next_] = head;
        next_ = next_ + 1 == kAhead ? 0 : next_ + 1;
    }

private:
    const BucketGrid& grid_;
    std::int64_t row_start_ = 0, last_ = 0;
    const BucketCell* cursors_[kAhead] = {};
    int next_ = 0;
};

inline void mark_unsampled(float* corners, std::int32_t width) {
    for (std::int32_t k = 0; k < width; ++k) corners[4 * k] = kUnsampledCorner;
}

inline void outside_gate(RR_SampleNode& node, std::int32_t i, float* colour_row) {
    float* c = colour_row + 4 * i;
    c[0] = c[1] = c[2] = c[3] = 0.0f;
    node.depth_row[i] = kNothingDepth;
}

}  // namespace

void single_sample_row(float* colour_row, std::int32_t y, RR_SampleNode& node) {
    const CasterCamera& cam = caster_camera();
    const BucketGrid& grid = bucket_grid();
    const JitterTables& tables = jitter_tables();
    const std::int32_t width = node.x_right - node.x_left + 1;
    for (std::int32_t k = 0; k < width; ++k) {
        const std::int32_t x = node.scan_direction ? node.x_left + k : node.x_right - k;
        const std::int32_t i = x - node.x_left;
        if (x < node.gate_left || x > node.gate_right) {
            outside_gate(node, i, colour_row);
            continue;
        }
        node.pixel_started = 0;
        ++node.pixel_counter;
        float* c = colour_row + 4 * i;
        const double start = cam.timing ? timing_milliseconds() : 0.0;
        const float depth = take_sample(node, bucket_at(grid, y, x), x + 0.507, y + 0.485,
                                        sample_time(), sample_seed(tables, x, y), c);
        if (cam.composite && node.missed) c[0] = c[1] = c[2] = c[3] = 0.0f;
        node.depth_row[i] = cam.timing ? static_cast<float>(timing_milliseconds() - start) : depth;
    }
    node.scan_direction = !node.scan_direction;
}

void adaptive_row(float* colour_row, std::int32_t y, RR_SampleNode& node) {
    const CasterCamera& cam = caster_camera();
    const BucketGrid& grid = bucket_grid();
    std::swap(node.upper_corners, node.lower_corners);
    std::swap(node.upper_depths, node.lower_depths);
    std::swap(node.upper_coverage, node.lower_coverage);
    mark_unsampled(node.lower_corners, node.corner_width);
    if (cam.fields) mark_unsampled(node.upper_corners, node.corner_width);
    node.row_y = y;
    node.first_x = node.scan_direction ? node.x_left : node.x_right;
    const RowJitter jitter(node, y);
    const ColumnJitter& columns = column_jitter(node, jitter);
    // The pixel's own list (its jittered samples) and the list above the
    // corner it adds ahead of it.
    ListPrefetch own(grid, y), above(grid, y + 1);
    const std::int32_t step = node.scan_direction ? 1 : -1;
    const std::int32_t width = node.x_right - node.x_left + 1;
    for (std::int32_t k = 0; k < width; ++k) {
        const std::int32_t x = node.scan_direction ? node.x_left + k : node.x_right - k;
        const std::int32_t i = x - node.x_left;
        own.advance(x, step);
        above.advance(x + (step > 0 ? 1 : 0), step);
        node.corner_index = i;
        if (x < node.gate_left || x > node.gate_right) {
            outside_gate(node, i, colour_row);
            continue;
        }
        node.depth_row[i] = adaptive_pixel(node, grid, jitter, columns, x, y, colour_row + 4 * i);
    }
    node.scan_direction = !node.scan_direction;
}

void start_tile_corners(RR_SampleNode& node) {
    for (float* row : node.corner_colour)
        if (row) mark_unsampled(row, node.corner_width);
    for (std::int32_t r = 0; r < node.edge_rows; ++r) node.edge_row_y[r] = kNoEdgeRow;
    node.scan_direction = 1;
}

}  // namespace sky
