// The cells a still triangle is entered into, shared by bucket entry (which
// links the triangle into each cell's list) and the depth-only entry of map
// tiles (which tests the cell's centre at once): both must find exactly
// the same covered centres, or a map would change with the way it was made.
//
// A triangle is entered row by row. For every horizontal grid line the
// triangle crosses, its edges give the span of x it covers there; a pixel
// row then takes the union of the spans of its lower and upper line. An
// edge evaluated beyond its end gives its end's x, which is how a vertex
// lying inside a row still reaches its own column. Crossings are computed
// in double and a row's span is rounded outward to single precision, so
// that a crossing just short of a pixel edge never loses that pixel. The
// lines keep the exact crossings and the row rounds their extremes once:
// rounding outward keeps the order of values, so that is the span rounding
// every crossing would give, without a rounding per crossing.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "base/tiles.h"
#include "geometry/geometry_view.h"

namespace sky {

// A window of cells: the lines' spans (height + 1 of them), and the screen
// position of the first cell.
struct SpanGrid {
    RowSpan* spans = nullptr;
    std::int32_t width = 0, height = 0;
    std::int32_t x0 = 0, y0 = 0;
};

struct SpanPoint {
    double x, y;
};

inline constexpr double kFlatEdge = 1e-6;

// trunc toward zero, kept inside the integers.
inline std::int32_t trunc_to_int(double v) {
    if (!(v > -2e9)) return -2000000000;  // also NaN
    if (v > 2e9) return 2000000000;
    return static_cast<std::int32_t>(v);
}

// Eye space to the screen, in double.
inline SpanPoint project_to_screen(const GeometryView& view, const float* eye) {
    const ScreenMapping& s = view.screen;
    if (s.perspective) {
        const double inverse_z = 1.0 / static_cast<double>(eye[2]);
        return {s.cx - static_cast<double>(s.sx) * eye[0] * inverse_z,
                s.cy - static_cast<double>(s.sy) * eye[1] * inverse_z};
    }
    return {s.cx + static_cast<double>(s.sx) * eye[0], s.cy + static_cast<double>(s.sy) * eye[1]};
}

// The float at or below (above) v: the conversion, stepped once toward
// −infinity (+infinity) when it went the wrong way, to the next float as
// std::nextafter gives it. Whether it went the wrong way is anybody's
// guess, so the step is taken without a branch: one in the float's bits,
// toward zero for a positive float and away from it for a negative one
// (−0 included, which steps down to −denorm_min; +0 steps up to
// denorm_min). +0 never needs the step down nor −0 the step up, as the
// conversion keeps the sign; a NaN never steps.
inline float float_at_or_below(double v) {
    float f = static_cast<float>(v);
    std::int32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    bits -= static_cast<std::int32_t>(static_cast<double>(f) > v) * ((bits >> 31) | 1);
    std::memcpy(&f, &bits, sizeof f);
    return f;
}
inline float float_at_or_above(double v) {
    float f = static_cast<float>(v);
    std::int32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    bits += static_cast<std::int32_t>(static_cast<double>(f) < v) * ((bits >> 31) | 1);
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// trunc_to_int(float_at_or_below(v)). From 0 to 2^24 every integer is a
// float, so the float at or below v is at least v's integer part and has
// the same trunc, and the float is not made.
inline std::int32_t column_at_or_below(double v) {
    if (v >= 0.0 && v < 16777216.0) return static_cast<std::int32_t>(v);
    return trunc_to_int(float_at_or_below(v));
}

// One triangle's rows and spans while it is entered.
class SpanEntry {
public:
    explicit SpanEntry(const SpanGrid& grid) : grid_(grid) {}

    // The rows the points reach; false when they miss the grid.
    bool rows(const SpanPoint* points, int count) {
        std::int32_t lo = INT32_MAX, hi = INT32_MIN;
        for (int i = 0; i < count; ++i) {
            std::int32_t r = trunc_to_int(points[i].y) - grid_.y0;
            lo = std::min(lo, r), hi = std::max(hi, r);
        }
        if (lo > grid_.height - 1 || hi < 0) return false;
        first_ = std::max(lo, 0);
        last_ = std::min(hi, grid_.height - 1);
        const double empty_min = static_cast<double>(grid_.x0 + grid_.width + 1);
        const double empty_max = static_cast<double>(grid_.x0 - 1);
        for (std::int32_t line = first_; line <= last_ + 1; ++line)
            grid_.spans[line] = {empty_min, empty_max};
        return true;
    }

    // Widens the spans of the lines the edge reaches, from the line below
    // its lower end to the line above its upper end.
    void edge(SpanPoint a, SpanPoint b) {
        if (std::fabs(a.y - b.y) <= kFlatEdge) return;
        if (a.y > b.y) std::swap(a, b);
        const double xlo = std::min(a.x, b.x), xhi = std::max(a.x, b.x);
        const double slope = (b.x - a.x) / (b.y - a.y);
        const std::int32_t from = std::max(trunc_to_int(a.y) - grid_.y0, first_);
        const std::int32_t to = std::min(trunc_to_int(b.y) + 1 - grid_.y0, last_ + 1);
        for (std::int32_t line = from; line <= to; ++line) {
            const double y = static_cast<double>(line + grid_.y0);
            widen(line, std::clamp(a.x + (y - a.y) * slope, xlo, xhi));
        }
    }

    // A point whose edges are all flat: its own lines take its x, as the
    // clamped extension of an edge would.
    void point(SpanPoint p) {
        const std::int32_t line = trunc_to_int(p.y) - grid_.y0;
        for (std::int32_t l = std::max(line, first_); l <= std::min(line + 1, last_ + 1); ++l)
            widen(l, p.x);
    }

    // visit(row, first column, last column) for every row of the grid the
    // triangle reaches, from the last row to the first, in grid
    // coordinates.
    template <typename Visit>
    void fill(Visit&& visit) const {
        const std::int32_t width = grid_.width;
        for (std::int32_t r = last_; r >= first_; --r) {
            const RowSpan& below = grid_.spans[r];
            const RowSpan& above = grid_.spans[r + 1];
            std::int32_t start =
                trunc_to_int(float_at_or_below(std::min(below.minimum, above.minimum))) - grid_.x0;
            std::int32_t end =
                trunc_to_int(float_at_or_above(std::max(below.maximum, above.maximum))) - grid_.x0;
            if (start >= width || end < 0) continue;
            visit(r, std::max(start, 0), std::min(end, width - 1));
        }
    }

private:
    void widen(std::int32_t line, double x) {
        RowSpan& span = grid_.spans[line];
        span.minimum = std::min(span.minimum, x);
        span.maximum = std::max(span.maximum, x);
    }

    const SpanGrid& grid_;
    std::int32_t first_ = 0, last_ = -1;
};

// The box of cells around a triangle's corners, in grid coordinates and
// not clipped to the grid: its rows are those of the corners, its columns
// those of their extremes rounded outward as a row's span is. Span entry
// never reaches a cell outside it.
struct CellBox {
    std::int32_t row_first, row_last, column_first, column_last;
};

// The box, when every corner is finite and at or right of and above the
// screen's origin (where trunc is floor, so that a row holds exactly the
// corners whose y lies between its lines); false otherwise.
// Inlined: it runs for every triangle of both passes, and its call cost
// as much as its work.
// The corners are tested through their extremes: a sum of the six
// coordinates is a NaN when any is (or when infinities of both signs meet,
// which the extremes refuse anyway), and without a NaN the extremes are
// exact, so the four comparisons decide what twelve would.
[[gnu::always_inline]] inline bool cell_box(const SpanGrid& grid, const SpanPoint p[3],
                                            CellBox& box) {
    const double xmin = std::min(std::min(p[0].x, p[1].x), p[2].x);
    const double xmax = std::max(std::max(p[0].x, p[1].x), p[2].x);
    const double ymin = std::min(std::min(p[0].y, p[1].y), p[2].y);
    const double ymax = std::max(std::max(p[0].y, p[1].y), p[2].y);
    const double sum = ((p[0].x + p[1].x) + (p[2].x + p[0].y)) + (p[1].y + p[2].y);
    if (!(sum == sum && xmin >= 0.0 && xmax < 1e9 && ymin >= 0.0 && ymax < 1e9)) return false;
    box.row_first = static_cast<std::int32_t>(ymin) - grid.y0;
    box.row_last = static_cast<std::int32_t>(ymax) - grid.y0;
    box.column_first = column_at_or_below(xmin) - grid.x0;
    box.column_last = static_cast<std::int32_t>(float_at_or_above(xmax)) - grid.x0;
    return true;
}

// visit(row, first column, last column) for every row of the box within
// the grid, from the last to the first, as SpanEntry::fill.
template <typename Visit>
void fill_box(const SpanGrid& grid, const CellBox& box, Visit&& visit) {
    if (box.column_first >= grid.width || box.column_last < 0) return;
    const std::int32_t start = std::max(box.column_first, 0);
    const std::int32_t end = std::min(box.column_last, grid.width - 1);
    for (std::int32_t r = std::min(box.row_last, grid.height - 1); r >= std::max(box.row_first, 0);
         --r)
        visit(r, start, end);
}

// The cells of a triangle whose corners all lie in grid row `r`, as
// SpanEntry gives them, with the same arithmetic, but with the row's two
// lines kept at hand: every edge that is not flat reaches both.
template <typename Visit>
void enter_one_row(const SpanGrid& grid, const SpanPoint p[3], std::int32_t r, Visit&& visit) {
    if (r < 0 || r > grid.height - 1) return;
    const double below = static_cast<double>(r + grid.y0);
    const double above = below + 1.0;
    double lo = static_cast<double>(grid.x0 + grid.width + 1);
    double hi = static_cast<double>(grid.x0 - 1);
    auto widen = [&](double x) { lo = std::min(lo, x), hi = std::max(hi, x); };
    bool flat[3];
    for (int i = 0; i < 3; ++i) {
        SpanPoint a = p[i], b = p[(i + 1) % 3];
        flat[i] = std::fabs(a.y - b.y) <= kFlatEdge;
        if (flat[i]) continue;
        if (a.y > b.y) std::swap(a, b);
        const double xlo = std::min(a.x, b.x), xhi = std::max(a.x, b.x);
        const double slope = (b.x - a.x) / (b.y - a.y);
        widen(std::clamp(a.x + (below - a.y) * slope, xlo, xhi));
        widen(std::clamp(a.x + (above - a.y) * slope, xlo, xhi));
    }
    for (int i = 0; i < 3; ++i)
        if (flat[i] && flat[(i + 2) % 3]) widen(p[i].x);
    const std::int32_t start = trunc_to_int(float_at_or_below(lo)) - grid.x0;
    const std::int32_t end = trunc_to_int(float_at_or_above(hi)) - grid.x0;
    if (start >= grid.width || end < 0) return;
    visit(r, std::max(start, 0), std::min(end, grid.width - 1));
}

// The cells of a still triangle whose screen corners are `p`: visit(row,
// first column, last column) as SpanEntry::fill.
//
// Most triangles of a dense mesh lie within one or two rows and columns.
// Span entry gives one of a single column and at most two rows exactly
// its box: every row between its corners' rows takes something from an
// edge that is not flat or from a corner whose edges both are, and a
// row's columns never leave the box's; so those go to their cells without
// the spans. One of a single row keeps its two lines at hand.
template <typename Visit>
void enter_by_spans(const SpanGrid& grid, const SpanPoint p[3], Visit&& visit) {
    SpanEntry entry(grid);
    if (!entry.rows(p, 3)) return;
    bool flat[3];  // edge i runs from vertex i to vertex i + 1
    for (int i = 0; i < 3; ++i) {
        const SpanPoint& a = p[i];
        const SpanPoint& b = p[(i + 1) % 3];
        flat[i] = std::fabs(a.y - b.y) <= kFlatEdge;
        entry.edge(a, b);
    }
    for (int i = 0; i < 3; ++i)
        if (flat[i] && flat[(i + 2) % 3]) entry.point(p[i]);
    entry.fill(visit);
}

// enter_by_spans for a triangle that has a cell box: every coordinate is
// finite and in [0, 1e9), so every trunc is a plain conversion and the rows
// are the box's. The line at or below an edge's lower end takes that end's
// x without the arithmetic: the edge's extension there runs away from the
// other end (or stays at x), and the clamp brings it back to x exactly.
template <typename Visit>
void enter_boxed_by_spans(const SpanGrid& grid, const SpanPoint p[3], const CellBox& box,
                          Visit&& visit) {
    if (box.row_first > grid.height - 1 || box.row_last < 0) return;
    const std::int32_t first = std::max(box.row_first, 0);
    const std::int32_t last = std::min(box.row_last, grid.height - 1);
    RowSpan* const spans = grid.spans;
    const double empty_min = static_cast<double>(grid.x0 + grid.width + 1);
    const double empty_max = static_cast<double>(grid.x0 - 1);
    for (std::int32_t line = first; line <= last + 1; ++line) spans[line] = {empty_min, empty_max};
    auto widen = [spans](std::int32_t line, double x) {
        RowSpan& span = spans[line];
        span.minimum = std::min(span.minimum, x);
        span.maximum = std::max(span.maximum, x);
    };
    // Whether each edge is flat; edge i runs from corner i to corner i + 1.
    auto edge = [&](SpanPoint a, SpanPoint b) {
        if (std::fabs(a.y - b.y) <= kFlatEdge) return true;
        if (a.y > b.y) std::swap(a, b);
        const double xlo = std::min(a.x, b.x), xhi = std::max(a.x, b.x);
        const double slope = (b.x - a.x) / (b.y - a.y);
        const std::int32_t lower = static_cast<std::int32_t>(a.y) - grid.y0;
        std::int32_t line = std::max(lower, first);
        const std::int32_t to = std::min(static_cast<std::int32_t>(b.y) + 1 - grid.y0, last + 1);
        if (line == lower && line <= to) widen(line++, a.x);
        for (; line <= to; ++line) {
            const double y = static_cast<double>(line + grid.y0);
            widen(line, std::clamp(a.x + (y - a.y) * slope, xlo, xhi));
        }
        return false;
    };
    const bool flat[3] = {edge(p[0], p[1]), edge(p[1], p[2]), edge(p[2], p[0])};
    for (int i = 0; i < 3; ++i) {
        if (!flat[i] || !flat[(i + 2) % 3]) continue;
        const std::int32_t line = static_cast<std::int32_t>(p[i].y) - grid.y0;
        for (std::int32_t l = std::max(line, first); l <= std::min(line + 1, last + 1); ++l)
            widen(l, p[i].x);
    }
    // A line no edge reached keeps its empty span, whose x lies just beyond
    // the grid on either side, well inside the integers.
    const std::int32_t width = grid.width;
    for (std::int32_t r = last; r >= first; --r) {
        const RowSpan& below = spans[r];
        const RowSpan& above = spans[r + 1];
        const std::int32_t start =
            column_at_or_below(std::min(below.minimum, above.minimum)) - grid.x0;
        const std::int32_t end =
            static_cast<std::int32_t>(float_at_or_above(std::max(below.maximum, above.maximum))) -
            grid.x0;
        if (start >= width || end < 0) continue;
        visit(r, std::max(start, 0), std::min(end, width - 1));
    }
}

template <typename Visit>
void enter_still_triangle(const SpanGrid& grid, const SpanPoint p[3], Visit&& visit) {
    CellBox box;
    if (cell_box(grid, p, box)) {
        if (box.column_first == box.column_last && box.row_last - box.row_first <= 1)
            return fill_box(grid, box, visit);
        if (box.row_first == box.row_last) return enter_one_row(grid, p, box.row_first, visit);
        return enter_boxed_by_spans(grid, p, box, visit);
    }
    enter_by_spans(grid, p, visit);
}

// The cells of a still triangle for a caller that only asks whether the
// triangle covers each cell's centre: a small box goes whole, without the
// spans. A cell of the box that span entry would not give lies wholly
// outside the triangle, half a cell or more from its centre, so the
// centres covered are the same either way. The box's extra centres cost
// less than the spans while the caller tests a row's centres several at a
// time; a long thin triangle across many cells keeps its spans.
inline constexpr std::int64_t kSmallCentreBox = 64;
inline bool small_centre_box(const CellBox& box) {
    return static_cast<std::int64_t>(box.row_last - box.row_first + 1) *
               (box.column_last - box.column_first + 1) <=
           kSmallCentreBox;
}

template <typename Visit>
void enter_still_triangle_centres(const SpanGrid& grid, const SpanPoint p[3], Visit&& visit) {
    CellBox box;
    if (cell_box(grid, p, box) && small_centre_box(box)) {
        fill_box(grid, box, visit);
        return;
    }
    enter_still_triangle(grid, p, visit);
}

}  // namespace sky
