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
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>

#include "base/options.h"
#include "render/caster_state.h"
#include "render/rows.h"
#include "render/sampling_tables.h"

namespace sky {
namespace {

// A colour's four channels side by side. Each lane does what the scalar
// code of one channel did, operation for operation, so the values are the
// same to the bit: std::min and std::max keep their order of operands.
using Rgba = float __attribute__((vector_size(16)));

inline Rgba load_rgba(const float* c) {
    Rgba v;
    std::memcpy(&v, c, sizeof v);
    return v;
}
inline void store_rgba(float* c, Rgba v) {
    std::memcpy(c, &v, sizeof v);
}
inline Rgba splat(float v) {
    return Rgba{v, v, v, v};
}
inline Rgba least(Rgba a, Rgba b) {  // std::min(a, b)
    return b < a ? b : a;
}
inline Rgba most(Rgba a, Rgba b) {  // std::max(a, b)
    return a < b ? b : a;
}
inline Rgba clamped(Rgba c) {  // std::clamp(c, 0, 255)
    return least(most(c, splat(0.0f)), splat(255.0f));
}

inline void clamp_colour(float* c) {
    store_rgba(c, clamped(load_rgba(c)));
}

// Whether a corner is still to be sampled. No other float equals the mark,
// so its bits alone tell, in one integer comparison.
inline bool unsampled(const float* corner) {
    std::uint32_t bits;
    std::memcpy(&bits, corner, sizeof bits);
    return bits == std::bit_cast<std::uint32_t>(kUnsampledCorner);
}

// What every sample of a row goes through, set up once per row: the
// worker's state, the grid's lists of the row and the row above, and what
// a sample of an empty list shows when that is the plain background alone
// (most of an image's background: the routine is not called for it).
class RowSamples {
public:
    RowSamples(RR_SampleNode& node, const BucketGrid& grid, std::int32_t y)
        : node_(node),
          worker_(caster_worker()),
          heads_(grid.heads),
          last_(static_cast<std::int64_t>(grid.width) * grid.height - 1),
          time_(caster_camera().motion_blur ? 0.5 : 0.0),
          fast_(node.sample_routine == RC_sample_fast) {
        row_start_ = (static_cast<std::int64_t>(y) - grid.y0) * grid.width - grid.x0;
        above_start_ = row_start_ + grid.width;
        float background[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        empty_is_background_ = empty_sample_colour(node, background);
        background_ = clamped(load_rgba(background));
    }

    // The list of pixel (x, y) or (x, y + 1), as bucket_at finds it.
    const BucketCell* list(std::int32_t x) const { return head(row_start_ + x); }
    const BucketCell* list_above(std::int32_t x) const { return head(above_start_ + x); }

    float take(const BucketCell* list, double x, double y, std::uint32_t seed, float* out) const {
        worker_.seed = seed;
        node_.pixel_triangles = list;
        node_.pixel_started = 1;
        if (list == nullptr && empty_is_background_) {
            ++worker_.samples;
            node_.missed = 0;
            store_rgba(out, background_);
            return kNothingDepth;
        }
        const float depth = fast_ ? sample_fast_on(worker_, x, y, out, node_)
                                  : node_.sample_routine(x, y, time_, out, node_);
        clamp_colour(out);
        return depth;
    }

private:
    const BucketCell* head(std::int64_t index) const {
        return heads_[std::clamp<std::int64_t>(index, 0, last_)];
    }

    RR_SampleNode& node_;
    CasterWorker& worker_;
    BucketCell* const* heads_;
    std::int64_t last_, row_start_ = 0, above_start_ = 0;
    double time_;
    bool fast_;
    bool empty_is_background_ = false;
    Rgba background_ = splat(0.0f);
};

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
    // The positions that can be the nearest of some pixel of the row, in
    // cell-table order: see keep_possible_nearest.
    std::uint8_t candidates[kMaxGridSamples];
    int candidate_count = 0;

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

    // A position whose distance, at its column offsets' least, exceeds
    // another's at that one's most is farther in every pixel of the tile,
    // so it is never the nearest. Rounding keeps the order of the sums, so
    // the comparison is exact: the nearest of the kept positions, ties going
    // to the earlier one, is the nearest of them all.
    void keep_possible_nearest(const ColumnJitter& columns) {
        double bound = x_term[0] + columns.most[0];
        for (int j = 1; j < cells; ++j) bound = std::min(bound, x_term[j] + columns.most[j]);
        candidate_count = 0;
        for (int j = 0; j < cells; ++j)
            if (x_term[j] + columns.least[j] <= bound)
                candidates[candidate_count++] = static_cast<std::uint8_t>(j);
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
    for (int j = 0; j < cells; ++j) columns.least[j] = DBL_MAX, columns.most[j] = 0.0;
    for (std::int32_t x = x_first; x <= x_last; ++x) {
        double* dy = columns.dy.data() + static_cast<std::size_t>(x - x_first) * cells;
        double* y_term = columns.y_term.data() + static_cast<std::size_t>(x - x_first) * cells;
        for (int j = 0; j < cells; ++j) {
            const std::int64_t sx = static_cast<std::int64_t>(n) * x + row.c[j];
            const double offset = row.r[j] + tables.jitter[sx & 1023];
            dy[j] = row.reciprocal != 0.0 ? offset * row.reciprocal : offset / n;
            y_term[j] = (dy[j] - 0.5) * (dy[j] - 0.5);
            columns.least[j] = std::min(columns.least[j], y_term[j]);
            columns.most[j] = std::max(columns.most[j], y_term[j]);
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
        int best = row_.candidates[0];
        double best_distance = distance(best);
        for (int q = 1; q < row_.candidate_count; ++q) {
            const int j = row_.candidates[q];
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

// The sums of a pixel's samples, and the range of their red, green and
// blue (the fourth lanes of `low` and `high` go along unread).
struct PixelSums {
    Rgba sum = splat(0.0f);
    Rgba low = splat(255.0f);
    Rgba high = splat(0.0f);
    double hits = 0;
    void add(Rgba c) {
        sum += c;
        widen(c);
    }
    void widen(Rgba c) {
        low = least(low, c);
        high = most(high, c);
    }
    float range() const {
        const Rgba spread = high - low;
        return std::max(std::max(spread[0], spread[1]), spread[2]);
    }
};

// The largest range of colours that makes no pixel of the node ask for
// more samples than its first pass took; below zero when there is none, or
// when the contrast rule's answer does not grow with the range. The rule is
// asked once per pixel, and most pixels' range lies well below this, so one
// comparison answers it for them.
float quiet_range(const RR_SampleNode& node, bool reduced) {
    const double threshold = node.aa_threshold;
    // Only there is the rule a product of non-negative factors, rounded
    // and truncated: it never falls as the range grows.
    if (!(threshold >= 0.0 && threshold <= 0.5) || node.aa_max < node.aa_min) return -1.0f;
    // The fewest samples a pixel's first pass takes.
    std::int32_t first = std::min(node.aa_min + 1, node.aa_max + 1);
    if (reduced) first = std::min(first, 5);
    auto quiet = [&](float range) {
        return wanted_samples(node.aa_min, node.aa_max,
                              contrast_fraction(range, threshold, false)) <= first;
    };
    // Clamped colours differ by 255 at most; the search stays where the
    // sums cannot overflow.
    constexpr float kWidest = 1024.0f;
    if (!quiet(0.0f)) return -1.0f;
    if (quiet(kWidest)) return kWidest;
    // Non-negative floats order as their bits do.
    std::uint32_t low = 0, high = std::bit_cast<std::uint32_t>(kWidest);
    while (high - low > 1) {
        const std::uint32_t middle = low + (high - low) / 2;
        (quiet(std::bit_cast<float>(middle)) ? low : high) = middle;
    }
    return std::bit_cast<float>(low);
}

// What the adaptive routine's pixels of a row share.
struct AdaptiveRow {
    RR_SampleNode& node;
    const CasterCamera& cam;
    const RenderOptions& options;
    const JitterTables& tables;
    const RowSamples& samples;
    const RowJitter& jitter;
    const ColumnJitter& columns;
    std::int32_t y;
    float quiet = quiet_range(node, options.reduced_samples);
};

// One pixel of the adaptive routine into `out`; returns its depth. Made
// for each way the camera counts coverage and time, so that a plain
// render's pixel carries neither.
template <bool kComposite, bool kTiming>
float adaptive_pixel(const AdaptiveRow& r, std::int32_t x, float* out) {
    RR_SampleNode& node = r.node;
    const RenderOptions& options = r.options;
    const JitterTables& tables = r.tables;
    const RowSamples& samples = r.samples;
    const std::int32_t y = r.y;
    const std::int32_t i = x - node.x_left;
    std::int32_t m = node.aa_min + 1;
    std::int32_t M = node.aa_max + 1;
    const bool reduced = options.reduced_samples && reduced_sample_flag(x, y);
    if (reduced) m = std::min(m, 5), M = std::min(M, 5);
    m = std::min(m, M);
    node.pixel_started = 0;
    ++node.pixel_counter;

    float depth = FLT_MAX;
    double last_tick = kTiming ? timing_milliseconds() : 0.0;
    float longest = 0.0f;

    // Corners in the order (x, y+1), (x+1, y+1), (x+1, y), (x, y): each
    // sampled unless a neighbour or the row before did.
    float* const upper = node.upper_corners + 4 * i;
    float* const lower = node.lower_corners + 4 * i;
    auto corner = [&](float* colour, float* depths, std::int32_t* coverage, std::int32_t at,
                      std::int32_t cx, bool above) __attribute__((always_inline)) {
        if (unsampled(colour)) {
            const std::int32_t cy = above ? y + 1 : y;
            const BucketCell* list = above ? samples.list_above(cx) : samples.list(cx);
            depths[at] =
                samples.take(list, cx + 0.001, cy + 0.001, sample_seed(tables, cx, cy), colour);
            if (coverage) coverage[at] = node.missed;
        }
        depth = std::min(depth, depths[at]);
    };
    corner(upper, node.upper_depths, node.upper_coverage, i, x, true);
    corner(upper + 4, node.upper_depths, node.upper_coverage, i + 1, x + 1, true);
    corner(lower + 4, node.lower_depths, node.lower_coverage, i + 1, x + 1, false);
    corner(lower, node.lower_depths, node.lower_coverage, i, x, false);

    PixelSums sums;
    bool edge = false;
    const Rgba c0 = load_rgba(upper), c1 = load_rgba(upper + 4), c2 = load_rgba(lower + 4),
               c3 = load_rgba(lower);
    const Rgba quarter = splat(0.25f);
    if (!kComposite) {
        if (node.flat_background)
            sums.sum = 0.0f + c0 * quarter + c1 * quarter + c2 * quarter + c3 * quarter;
        else
            sums.sum = c3;
        sums.widen(c0), sums.widen(c1), sums.widen(c2), sums.widen(c3);
    } else {
        const int missed = (node.upper_coverage[i] ? 1 : 0) + (node.upper_coverage[i + 1] ? 1 : 0) +
                           (node.lower_coverage[i + 1] ? 1 : 0) + (node.lower_coverage[i] ? 1 : 0);
        edge = missed != 0 && missed != 4;
        if (missed < 4) {
            sums.hits = 1;
            sums.sum = 0.0f + c0 * quarter + c1 * quarter + c2 * quarter + c3 * quarter;
        }
        if (missed == 0) sums.widen(c0), sums.widen(c1), sums.widen(c2), sums.widen(c3);
    }
    std::int32_t count = 1;

    if (M > 1) {
        JitteredPixel jitter(r.jitter, r.columns, x);
        const int cells = jitter.cells();
        const BucketCell* list = samples.list(x);
        // The first `aalevelmin` jittered samples; then, once, as many more
        // as the contrast rule asks for. Where the first pass ran out of
        // positions, so does the second.
        int last = m - 2;
        bool decided = false;
        for (int k = 0;;) {
            for (; k <= last && k < cells; ++k) {
                const int j = jitter.position(k);
                float colour[4];
                const float d =
                    samples.take(list, x + jitter.dx(j), y + jitter.dy(j),
                                 sample_seed(tables, jitter.sx(j), jitter.sy(j)), colour);
                if (kTiming) {
                    const double now = timing_milliseconds();
                    longest = std::max(longest, static_cast<float>(now - last_tick));
                    last_tick = now;
                } else {
                    depth = std::min(depth, d);
                }
                ++count;
                if (kComposite && node.missed) continue;
                sums.add(load_rgba(colour));
                sums.hits += 1;
            }
            if (decided) break;
            decided = true;
            const float range = sums.range();
            if (!kComposite && range <= r.quiet) break;
            double a = contrast_fraction(range, node.aa_threshold, reduced && count >= 5);
            if (kComposite &&
                (edge || (sums.hits > 0 && static_cast<std::int64_t>(sums.hits) != count)))
                a = 1.0;
            const std::int32_t wanted = wanted_samples(node.aa_min, node.aa_max, a);
            if (wanted <= m) break;
            k = m - 1;
            last = std::min(wanted, M) - 2;
        }
    }

    if (!kComposite) {
        const float inverse = 1.0f / static_cast<float>(count);
        store_rgba(out, sums.sum * inverse);
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
    return kTiming ? longest : depth;
}

// The pixel lists a row's samples will read, fetched ahead of them. A list
// is a chain of cells and triangles scattered over the tile's memory, and
// a sample waits for each link in turn; a pixel's work is long enough to
// fetch a link of each of the next lists in the background. So every list
// of the next kAhead pixels is followed one link further each pixel, and a
// list's first kAhead − 1 links are on their way by the time its pixel
// comes. The lists of a finely tessellated surface run to tens of cells:
// 64 pixels ahead measured best (8, 16 and 32 less well, 128 no better).
// Under motion blur a pixel's list is split once for all its samples and
// the moving triangles are read from the tile's swept tables, which so
// long a prefetch pushes out of the cache: there it runs 8 pixels ahead.
class ListPrefetch {
public:
    static constexpr int kAhead = 64;
    static constexpr int kMotionAhead = 8;

    ListPrefetch(const BucketGrid& grid, std::int32_t row, bool motion_blur)
        : grid_(grid), ahead_(motion_blur ? kMotionAhead : kAhead) {
        row_start_ = (static_cast<std::int64_t>(row) - grid.y0) * grid.width - grid.x0;
        last_ = static_cast<std::int64_t>(grid.width) * grid.height - 1;
    }

    // Before the pixel at `column`, stepping by `step`: the list `ahead_`
    // pixels on starts (as bucket_at finds it), and the ones started before
    // go a link further. Only lists not yet at their end are kept, side by
    // side: a row of empty lists costs next to nothing.
    void advance(std::int32_t column, std::int32_t step) {
        const std::int64_t index = row_start_ + column + ahead_ * step;
        const BucketCell* head = grid_.heads[std::clamp<std::int64_t>(index, 0, last_)];
        __builtin_prefetch(head);
        const BucketCell** kept_end = cursors_;
        for (const BucketCell** k = cursors_; k != cursors_ + live_; ++k) {
            const BucketCell* cell = *k;
            __builtin_prefetch(cell->triangle);
            cell = cell->next;
            __builtin_prefetch(cell);
            *kept_end = cell;
            kept_end += cell != nullptr;
        }
        int kept = static_cast<int>(kept_end - cursors_);
        if (head == nullptr) {
            live_ = kept;
            return;
        }
        // Lists longer than the distance ahead: the oldest, whose pixel
        // has come, makes way.
        if (kept == ahead_) {
            std::memmove(cursors_, cursors_ + 1, sizeof cursors_[0] * (kept - 1));
            --kept;
        }
        cursors_[kept] = head;
        live_ = kept + 1;
    }

private:
    const BucketGrid& grid_;
    int ahead_;
    std::int64_t row_start_ = 0, last_ = 0;
    const BucketCell* cursors_[kAhead] = {};
    int live_ = 0;
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
    const JitterTables& tables = jitter_tables();
    const RowSamples samples(node, bucket_grid(), y);
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
        const float depth =
            samples.take(samples.list(x), x + 0.507, y + 0.485, sample_seed(tables, x, y), c);
        if (cam.composite && node.missed) c[0] = c[1] = c[2] = c[3] = 0.0f;
        node.depth_row[i] = cam.timing ? static_cast<float>(timing_milliseconds() - start) : depth;
    }
    node.scan_direction = !node.scan_direction;
}

namespace {

template <bool kComposite, bool kTiming>
void adaptive_row_as(float* colour_row, std::int32_t y, RR_SampleNode& node,
                     const CasterCamera& cam) {
    const BucketGrid& grid = bucket_grid();
    std::swap(node.upper_corners, node.lower_corners);
    std::swap(node.upper_depths, node.lower_depths);
    std::swap(node.upper_coverage, node.lower_coverage);
    mark_unsampled(node.lower_corners, node.corner_width);
    if (cam.fields) mark_unsampled(node.upper_corners, node.corner_width);
    node.row_y = y;
    node.first_x = node.scan_direction ? node.x_left : node.x_right;
    RowJitter jitter(node, y);
    const ColumnJitter& columns = column_jitter(node, jitter);
    jitter.keep_possible_nearest(columns);
    const RowSamples samples(node, grid, y);
    const AdaptiveRow row{node,    cam,    render_options(), jitter_tables(),
                          samples, jitter, columns,          y};
    const std::int32_t step = node.scan_direction ? 1 : -1;
    const std::int32_t width = node.x_right - node.x_left + 1;
    // The pixel's own list (its jittered samples and the corner it adds)
    // and, where the row above was not sampled (a tile's first row), the
    // list above the corner it adds ahead of it.
    ListPrefetch own(grid, y, cam.motion_blur), above(grid, y + 1, cam.motion_blur);
    const bool fresh_above = node.upper_corners[0] == kUnsampledCorner ||
                             node.upper_corners[4 * width] == kUnsampledCorner;
    for (std::int32_t k = 0; k < width; ++k) {
        const std::int32_t x = node.scan_direction ? node.x_left + k : node.x_right - k;
        const std::int32_t i = x - node.x_left;
        own.advance(x, step);
        if (fresh_above) above.advance(x + (step > 0 ? 1 : 0), step);
        node.corner_index = i;
        if (x < node.gate_left || x > node.gate_right) {
            outside_gate(node, i, colour_row);
            continue;
        }
        node.depth_row[i] = adaptive_pixel<kComposite, kTiming>(row, x, colour_row + 4 * i);
    }
    node.scan_direction = !node.scan_direction;
}

}  // namespace

void adaptive_row(float* colour_row, std::int32_t y, RR_SampleNode& node) {
    const CasterCamera& cam = caster_camera();
    if (cam.composite)
        cam.timing ? adaptive_row_as<true, true>(colour_row, y, node, cam)
                   : adaptive_row_as<true, false>(colour_row, y, node, cam);
    else
        cam.timing ? adaptive_row_as<false, true>(colour_row, y, node, cam)
                   : adaptive_row_as<false, false>(colour_row, y, node, cam);
}

void start_tile_corners(RR_SampleNode& node) {
    for (float* row : node.corner_colour)
        if (row) mark_unsampled(row, node.corner_width);
    for (std::int32_t r = 0; r < node.edge_rows; ++r) node.edge_row_y[r] = kNoEdgeRow;
    node.scan_direction = 1;
}

}  // namespace sky
