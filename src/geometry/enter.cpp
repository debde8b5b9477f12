// Triangle culling, splitting and set-up.
//
// A triangle that reaches far outside the image (a vertex just in front of
// the near plane projects thousands of widths away) would be set up with
// coefficients too coarse in single precision; halving it a few times keeps
// the pieces near the image, where the pieces that matter are, while the
// pieces still far away are culled against the window like any other.
#include "geometry/enter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "base/options.h"
#include "geometry/bucket_spans.h"
#include "scene/transform.h"
#include "sdl/environment.h"

namespace sky {

GeometryView& geometry_view() {
    static GeometryView view;
    return view;
}

float minimum_triangle_area(std::int32_t larger_dimension) {
    return resolution_tolerance(larger_dimension);
}

namespace {

// The view of a moving camera at another time: its placement then moves
// the eye it was evaluated with then, and the view point and twist are
// those of that time too.
Matrix4 moved_view(const CameraRecord& camera, const TransformValue* placement,
                   const CameraRecord::Aim& aim) {
    const CameraView& v = camera.view;
    if (placement == nullptr) placement = camera.placement.get();
    const Triple start = aim.known ? aim.eye : camera.eye;
    const Triple frame = AR_model_xform(camera.eye, camera.placement->model);
    const Triple moved = AR_model_xform(start, placement->model);
    const Triple eye{v.eye.x + moved.x - frame.x, v.eye.y + moved.y - frame.y,
                     v.eye.z + moved.z - frame.z};
    Triple view_point = v.view_point;
    float twist = camera.twist;
    if (aim.known) {
        view_point = Triple{v.view_point.x + aim.view_point.x - camera.view_point.x,
                            v.view_point.y + aim.view_point.y - camera.view_point.y,
                            v.view_point.z + aim.view_point.z - camera.view_point.z};
        twist = aim.twist;
    }
    if (eye.x == v.eye.x && eye.y == v.eye.y && eye.z == v.eye.z &&
        view_point.x == v.view_point.x && view_point.y == v.view_point.y &&
        view_point.z == v.view_point.z && twist == camera.twist)
        return v.eye_from_world;
    return look_at_matrix(eye, view_point, twist, render_options().y_up);
}

}  // namespace

void set_geometry_view(const CameraRecord& camera) {
    const RenderOptions& options = render_options();
    GeometryView& view = geometry_view();
    view.eye_from_world = camera.view.eye_from_world;
    view.eye_from_world_open = view.eye_from_world_close = view.eye_from_world;
    if (options.camera_motion_blur && camera.placement) {
        view.eye_from_world_open = moved_view(camera, camera.open_placement.get(), camera.open_aim);
        view.eye_from_world_close =
            moved_view(camera, camera.close_placement.get(), camera.close_aim);
    }
    view.screen = camera.view.screen;
    view.depth_scale = camera.view.projection.m[10];
    view.depth_offset = camera.view.projection.m[14];
    view.near = static_cast<float>(camera.near);
    view.far = static_cast<float>(camera.far);
    view.xleft = options.xleft;
    view.xright = options.xright;
    view.ylow = options.ylow;
    view.yhigh = options.yhigh;
    view.guard_x = 100.0f * static_cast<float>(options.xresolution);
    view.guard_y = 100.0f * static_cast<float>(options.yresolution);
    view.minimum_area =
        options.area_tolerance > 0
            ? options.area_tolerance
            : minimum_triangle_area(std::max(options.xresolution, options.yresolution));
    view.split_depth = kGuardBandSplitDepth;
    view.motion_blur = options.motion_blur;
    view.depth_only = false;
    const float shutter = options.shutter_close - options.shutter_open;
    view.frame_fraction = shutter > 0 ? (options.frame - options.shutter_open) / shutter : 0.5f;
}

void project_corner(const GeometryView& view, CornerValues& corner) {
    ScreenPoint p = view.project(corner.eye);
    corner.screen[0] = p.x;
    corner.screen[1] = p.y;
    corner.screen[2] = view.depth(corner.eye[2]);
}

namespace {

struct Bound {
    float xmin, xmax, ymin, ymax;
};

Bound bound_of(const CornerValues& a, const CornerValues& b, const CornerValues& c) {
    return {std::min({a.screen[0], b.screen[0], c.screen[0]}),
            std::max({a.screen[0], b.screen[0], c.screen[0]}),
            std::min({a.screen[1], b.screen[1], c.screen[1]}),
            std::max({a.screen[1], b.screen[1], c.screen[1]})};
}

// A moving triangle is culled by where it is at any time of the shutter:
// the bound of its open, frame and close positions, when all of them lie in
// front of the eye (otherwise nothing bounds it on the screen).
bool moving_bound(const GeometryView& view, const CornerValues* corners[3], Bound& bound) {
    bound = {INFINITY, -INFINITY, INFINITY, -INFINITY};
    for (int i = 0; i < 3; ++i) {
        const CornerValues& v = *corners[i];
        for (int time = 0; time < 3; ++time) {
            float eye[3];
            for (int k = 0; k < 3; ++k)
                eye[k] =
                    v.eye[k] - (time == 0 ? v.motion[k] : 0) + (time == 2 ? v.motion[3 + k] : 0);
            if (view.screen.perspective && eye[2] >= 0) return false;
            ScreenPoint p = view.project(eye);
            bound.xmin = std::min(bound.xmin, p.x), bound.xmax = std::max(bound.xmax, p.x);
            bound.ymin = std::min(bound.ymin, p.y), bound.ymax = std::max(bound.ymax, p.y);
        }
    }
    return true;
}

// Whether any of the nine positions lies between the near and far planes
// at the same side: all in front of near or all beyond far drops the triangle.
bool within_clipping_over_shutter(const GeometryView& view, const CornerValues* corners[3]) {
    bool all_near = true, all_far = true;
    for (int i = 0; i < 3; ++i) {
        const CornerValues& v = *corners[i];
        for (float z : {v.eye[2] - v.motion[2], v.eye[2], v.eye[2] + v.motion[5]}) {
            all_near = all_near && z > -view.near;
            all_far = all_far && z < -view.far;
        }
    }
    return !(all_near || all_far);
}

bool culled_by_window(const GeometryView& view, const Bound& b) {
    return b.xmin >= static_cast<float>(view.xright) + 1 ||
           static_cast<float>(view.xleft) > b.xmax ||
           b.ymin >= static_cast<float>(view.yhigh) + 1 || static_cast<float>(view.ylow) > b.ymax;
}

CornerValues midpoint(const GeometryView& view, const CornerValues& a, const CornerValues& b) {
    CornerValues m;
    const float* p = &a.screen[0];
    const float* q = &b.screen[0];
    float* r = &m.screen[0];
    constexpr int kFloats = sizeof(CornerValues) / sizeof(float);
    for (int i = 0; i < kFloats; ++i) r[i] = 0.5f * (p[i] + q[i]);
    project_corner(view, m);
    return m;
}

// Whether any corner moves through the shutter by more than rounding.
bool corners_move(const CornerValues* corners[3]) {
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 6; ++k)
            if (std::fabs(corners[i]->motion[k]) > 1e-6f) return true;
    return false;
}

// The set-up both kinds of triangle share.
struct SetUp {
    float x0, y0, z0, a, b, dz1, c, d, dz2;
};

// The set-up of the corners' screen positions (anything with a `screen`),
// v0 and v1 swapped when v2 shares v0's column; false when the triangle
// has no area on the screen and does not sweep any.
template <typename Corner>
bool find_set_up(const Corner*& v0, const Corner*& v1, const Corner* v2, bool sweeps, SetUp& set_up,
                 bool& swapped) {
    if (v2->screen[0] == v0->screen[0]) {
        if (v1->screen[0] == v0->screen[0] && !sweeps) return false;  // one screen column
        std::swap(v0, v1);
        swapped = true;
    }
    const float x0 = v0->screen[0], y0 = v0->screen[1];
    const float dx1 = v1->screen[0] - x0, dy1 = v1->screen[1] - y0;
    const float dx2 = v2->screen[0] - x0, dy2 = v2->screen[1] - y0;
    float D = dy2 * dx1 - dy1 * dx2;
    if (D == 0) {
        if (!sweeps) return false;
        D = std::numeric_limits<float>::quiet_NaN();
    }
    set_up = {x0,      y0,      v0->screen[2],
              dx1 / D, dy1 / D, v1->screen[2] - v0->screen[2],
              dx2 / D, dy2 / D, v2->screen[2] - v0->screen[2]};
    return true;
}

template <typename Triangle>
void copy_set_up(const SetUp& s, Triangle& t) {
    t.x0 = s.x0, t.y0 = s.y0, t.z0 = s.z0;
    t.a = s.a, t.b = s.b, t.dz1 = s.dz1;
    t.c = s.c, t.d = s.d, t.dz2 = s.dz2;
}

// A depth triangle's corners are read back only by a tile that enters it
// by spans: one without a small cell box (small_centre_box).
bool needs_depth_corners(std::int32_t row_first, std::int32_t row_last, std::int32_t column_first,
                         std::int32_t column_last) {
    return column_first > column_last ||
           !small_centre_box(CellBox{row_first, row_last, column_first, column_last});
}

void fill_depth_triangle(DepthTriangle& t, const SetUp& set_up, const float* const eye[3],
                         std::int32_t row_first, std::int32_t row_last, std::int32_t column_first,
                         std::int32_t column_last) {
    copy_set_up(set_up, t);
    t.row_first = row_first, t.row_last = row_last;
    t.column_first = column_first, t.column_last = column_last;
    if (needs_depth_corners(row_first, row_last, column_first, column_last))
        for (int i = 0; i < 3; ++i) std::memcpy(t.eye[i], eye[i], sizeof t.eye[i]);
}

void set_up_depth(ObjectTriangles& storage, const GeometryView& view, const CornerValues* v[3],
                  const SetUp& set_up) {
    if (storage.counts_vertices) count_vertices(storage, v);
    DepthTriangle* t = new_depth_triangle(storage);
    std::int32_t lo = INT32_MAX, hi = INT32_MIN;
    SpanPoint p[3];
    for (int i = 0; i < 3; ++i) {
        p[i] = project_to_screen(view, v[i]->eye);
        const std::int32_t row = trunc_to_int(p[i].y);
        lo = std::min(lo, row), hi = std::max(hi, row);
    }
    CellBox box;
    if (!cell_box(SpanGrid{}, p, box)) box.column_first = 0, box.column_last = -1;
    const float* const eye[3] = {v[0]->eye, v[1]->eye, v[2]->eye};
    fill_depth_triangle(*t, set_up, eye, lo, hi, box.column_first, box.column_last);
}

// A still triangle whose cell box is at most two rows and two columns
// keeps the cells bucket entry would give it (SmallCells). They are found
// in a grid of the box's own: every row of the box takes its span from the
// same crossings in any grid, which only clips it.
void keep_small_cells(ScreenTriangle& t, const SpanPoint p[3]) {
    CellBox box;
    if (!cell_box(SpanGrid{}, p, box) || box.row_last - box.row_first > 1 ||
        box.column_last - box.column_first > 1)
        return;
    SmallCells cells{box.row_first, box.column_first, box.row_last > box.row_first, {0, 0}};
    // One column: every row of the box, whole (enter_still_triangle's box).
    if (box.column_first == box.column_last) {
        if (fits_small_cells(cells)) keep_small_cells(t, cells);
        return;
    }
    // Two columns: what enter_still_triangle finds in the box's grid,
    // where the box lies at the grid's origin.
    RowSpan lines[3];
    const SpanGrid grid{lines, 2, 2, box.column_first, box.row_first};
    const CellBox own{0, box.row_last - box.row_first, 0, 1};
    cells.reach[0] = cells.reach[1] = 3;
    bool kept = true;
    auto visit = [&](std::int32_t r, std::int32_t start, std::int32_t end) {
        if (r > 1 || cells.reach[r] != 3 || end > 1) {
            kept = false;
            return;
        }
        cells.reach[r] = static_cast<std::uint8_t>(start == end ? start : 2);
    };
    if (cells.two_rows)
        enter_boxed_by_spans(grid, p, own, visit);
    else
        enter_one_row(grid, p, 0, visit);
    if (!cells.two_rows) cells.reach[1] = cells.reach[1] == 3 ? 0 : 3;
    if (kept && fits_small_cells(cells)) keep_small_cells(t, cells);
}

// `screen`: the corners' projections, when the caller has them; `known`:
// their vertices, as store_vertex takes them.
bool set_up(ObjectTriangles& storage, const GeometryView& view, const CornerValues* v0,
            const CornerValues* v1, const CornerValues* v2, const double (*screen)[2],
            ScreenVertex** const* known) {
    const CornerValues* corners[3] = {v0, v1, v2};
    // A moving triangle may have no area at the frame time and plenty
    // during the rest of the shutter: it is kept, with a set-up that no
    // point falls inside (the sampler sweeps it through the shutter).
    const bool sweeps = storage.moving && corners_move(corners);
    bool swapped = false;
    SetUp coefficients;
    if (!find_set_up(v0, v1, v2, sweeps, coefficients, swapped)) return false;
    if (storage.depth_only) {
        const CornerValues* v[3] = {v0, v1, v2};
        set_up_depth(storage, view, v, coefficients);
        return true;
    }

    ScreenVertex** const none[3] = {nullptr, nullptr, nullptr};
    if (known == nullptr) known = none;
    ScreenVertex* p0 = store_vertex(storage, *v0, known[swapped ? 1 : 0]);
    ScreenVertex* p1 = store_vertex(storage, *v1, known[swapped ? 0 : 1]);
    ScreenVertex* p2 = store_vertex(storage, *v2, known[2]);
    ScreenTriangle* t = new_triangle(storage);
    t->P0 = p0, t->P1 = p1, t->P2 = p2;
    copy_set_up(coefficients, *t);
    t->row_first = t->row_last = kRowsUnknown;
    if (!storage.moving) {
        std::int32_t lo = INT32_MAX, hi = INT32_MIN;
        SpanPoint p[3];
        int i = 0;
        for (const CornerValues* v : {v0, v1, v2}) {
            if (screen != nullptr) {
                const double* s = screen[swapped && i < 2 ? 1 - i : i];
                p[i] = {s[0], s[1]};
            } else {
                p[i] = project_to_screen(view, v->eye);
            }
            const std::int32_t row = trunc_to_int(p[i++].y);
            lo = std::min(lo, row), hi = std::max(hi, row);
        }
        t->row_first = static_cast<std::int16_t>(std::clamp<std::int32_t>(lo, -1, kRowsKept));
        t->row_last = static_cast<std::int16_t>(std::clamp<std::int32_t>(hi, -1, kRowsKept));
        keep_small_cells(*t, p);
    }
    return true;
}

}  // namespace

bool enter_triangle(ObjectTriangles& storage, const CornerValues& v0, const CornerValues& v1,
                    const CornerValues& v2, int split_depth) {
    return enter_triangle(storage, v0, v1, v2, split_depth, nullptr);
}

bool enter_triangle(ObjectTriangles& storage, const CornerValues& v0, const CornerValues& v1,
                    const CornerValues& v2, int split_depth, const double (*screen)[2],
                    ScreenVertex** const* known) {
    const GeometryView& view = geometry_view();
    const CornerValues* corners[3] = {&v0, &v1, &v2};
    const Bound b = bound_of(v0, v1, v2);
    // A moving triangle is as large as the area it sweeps (unbounded when
    // it reaches behind the eye).
    Bound area = b;
    if (storage.moving) {
        if (!within_clipping_over_shutter(view, corners)) return false;
        if (!moving_bound(view, corners, area))
            area = {0, INFINITY, 0, INFINITY};
        else if (culled_by_window(view, area))
            return false;
    } else if (culled_by_window(view, b)) {
        return false;
    }
    if ((area.ymax - area.ymin) * (area.xmax - area.xmin) * 0.5f < view.minimum_area) return false;

    const bool beyond_guard_band = b.xmin < -view.guard_x || b.xmax > view.guard_x ||
                                   b.ymin < -view.guard_y || b.ymax > view.guard_y;
    if (split_depth > 0 && beyond_guard_band) {
        const CornerValues m01 = midpoint(view, v0, v1);
        const CornerValues m12 = midpoint(view, v1, v2);
        const CornerValues m20 = midpoint(view, v2, v0);
        bool entered = enter_triangle(storage, v0, m01, m20, split_depth - 1);
        entered |= enter_triangle(storage, m01, v1, m12, split_depth - 1);
        entered |= enter_triangle(storage, m20, m12, v2, split_depth - 1);
        entered |= enter_triangle(storage, m01, m12, m20, split_depth - 1);
        return entered;
    }
    return set_up(storage, view, &v0, &v1, &v2, screen, known);
}

void make_depth_corner(const GeometryView& view, DepthCorner& corner) {
    const ScreenPoint p = view.project(corner.eye);
    corner.screen[0] = p.x;
    corner.screen[1] = p.y;
    corner.screen[2] = view.depth(corner.eye[2]);
    corner.whole = corner.eye[2] <= -view.near && std::fabs(corner.screen[0]) <= view.guard_x &&
                   std::fabs(corner.screen[1]) <= view.guard_y;
    corner.beyond_far = corner.eye[2] < -view.far;
    const SpanPoint screen = project_to_screen(view, corner.eye);
    corner.row = trunc_to_int(screen.y);
    corner.boxed = screen.x >= 0.0 && screen.x < 1e9 && screen.y >= 0.0 && screen.y < 1e9;
    corner.column_low = corner.column_high = 0;
    if (corner.boxed) {
        corner.column_low = column_at_or_below(screen.x);
        corner.column_high = static_cast<std::int32_t>(float_at_or_above(screen.x));
    }
}

bool enter_depth_triangle(ObjectTriangles& storage, const GeometryView& view, const DepthCorner& c0,
                          const DepthCorner& c1, const DepthCorner& c2) {
    // bound_of's extremes, each the first of equals as there.
    auto least = [](auto a, auto b, auto c) { return std::min(std::min(a, b), c); };
    auto greatest = [](auto a, auto b, auto c) { return std::max(std::max(a, b), c); };
    const Bound b{least(c0.screen[0], c1.screen[0], c2.screen[0]),
                  greatest(c0.screen[0], c1.screen[0], c2.screen[0]),
                  least(c0.screen[1], c1.screen[1], c2.screen[1]),
                  greatest(c0.screen[1], c1.screen[1], c2.screen[1])};
    if (culled_by_window(view, b)) return false;
    if ((b.ymax - b.ymin) * (b.xmax - b.xmin) * 0.5f < view.minimum_area) return false;
    // Whole corners lie within the guard band: nothing to split.
    const DepthCorner* v0 = &c0;
    const DepthCorner* v1 = &c1;
    bool swapped = false;
    SetUp coefficients;
    if (!find_set_up(v0, v1, &c2, false, coefficients, swapped)) return false;
    std::int32_t column_first = 0, column_last = -1;
    if (c0.boxed && c1.boxed && c2.boxed) {
        column_first = least(c0.column_low, c1.column_low, c2.column_low);
        column_last = greatest(c0.column_high, c1.column_high, c2.column_high);
    }
    const float* const eye[3] = {v0->eye, v1->eye, c2.eye};
    fill_depth_triangle(*new_depth_triangle(storage), coefficients, eye,
                        least(c0.row, c1.row, c2.row), greatest(c0.row, c1.row, c2.row),
                        column_first, column_last);
    return true;
}

}  // namespace sky
