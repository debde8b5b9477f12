// The motion-blurred sample: which surfaces cover the sample point during
// which part of the shutter, and the colour integrated over that interval
// analytically rather than by more samples.
//
// A moving triangle's vertices move on the screen in straight lines from
// their shutter-open to their shutter-close positions, so the point lies on
// an edge's line at the roots of a quadratic in time; between consecutive
// roots it is wholly inside or wholly outside. Each stretch inside becomes
// a layer with its own time interval; static triangles give layers covering
// the whole shutter. A sweep over the layers' enter and leave events cuts
// the shutter into segments during which the same layers are in front;
// a run of segments showing the same objects is shaded once (or as often as
// the front object's motion_blur_shading_samples asks), at its layers'
// shade times, and weighted by its duration, the background filling the
// time nothing covers the point.
//
// Times are fractions of the shutter interval, 0 at open and 1 at close.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "base/vecmath.h"
#include "geometry/geometry_view.h"
#include "platform/fatal.h"
#include "render/caster_state.h"
#include "render/random_table.h"
#include "render/sample_internal.h"
#include "scene/scene_objects.h"

namespace sky {
namespace {

// Roots and event times closer than this are one.
constexpr double kSameTime = 1e-10;
// Runs of segments shorter than this are not shaded.
constexpr double kDroppedSegment = 1e-5;

double screen_depth(const CasterCamera& cam, float eye_z) {
    return cam.perspective ? static_cast<double>(cam.depth_scale) + cam.depth_offset / eye_z
                           : static_cast<double>(eye_z);
}

// What every sample solving the triangle would work out alike, from its
// vertices at both ends.
void prepare_swept(const SweptVertex (&ends)[3], SweptTriangle& swept) {
    for (int i = 0; i < 3; ++i) {
        const SweptVertex& a = ends[i];
        const double ax[2] = {a.x[0], a.x[1]}, ay[2] = {a.y[0], a.y[1]};
        swept.v[i] = SweptTriangle::Vertex{ax[0],         ax[1] - ax[0], ay[0],
                                           ay[1] - ay[0], a.z[0],        a.z[1] - a.z[0]};
        // Edge E(τ) = E0 + τ·dE and the vector to the point W(τ) = W0 + τ·dW,
        // with dW = −(the first vertex's change): only W0 depends on the point.
        const SweptVertex& b = ends[(i + 1) % 3];
        const double bx[2] = {b.x[0], b.x[1]}, by[2] = {b.y[0], b.y[1]};
        SweptTriangle::Edge& edge = swept.e[i];
        edge.ex = bx[0] - ax[0];
        edge.ey = by[0] - ay[0];
        edge.dex = (bx[1] - ax[1]) - edge.ex;
        edge.dey = (by[1] - ay[1]) - edge.ey;
        const double dwx = -(ax[1] - ax[0]), dwy = -(ay[1] - ay[0]);
        edge.linear = edge.ex * dwy - edge.ey * dwx;
        edge.quadratic = edge.dex * dwy - edge.dey * dwx;
    }
}

// False when a vertex lies at or behind the eye at either end of the
// shutter: such a triangle has no screen position there.
bool sweep_of(const ScreenTriangle& t, const CasterCamera& cam, SweptTriangle& swept,
              SweptBox& box) {
    swept.xmin = swept.ymin = INFINITY;
    swept.xmax = swept.ymax = -INFINITY;
    swept.finite_depths = true;
    for (int end = 0; end < 2; ++end) {
        box.xlo[end] = box.ylo[end] = INFINITY;
        box.xhi[end] = box.yhi[end] = box.znear[end] = -INFINITY;
    }
    SweptVertex ends[3];
    const ScreenVertex* vertices[3] = {t.P0, t.P1, t.P2};
    for (int i = 0; i < 3; ++i) {
        const float* eye = vertices[i]->shading->eye;
        const MotionRecord* m = vertices[i]->motion;
        for (int end = 0; end < 2; ++end) {
            Triple p{eye[0], eye[1], eye[2]};
            if (m != nullptr) {
                p = end == 0 ? Triple{eye[0] - m->to_frame[0], eye[1] - m->to_frame[1],
                                      eye[2] - m->to_frame[2]}
                             : Triple{eye[0] + m->to_close[0], eye[1] + m->to_close[1],
                                      eye[2] + m->to_close[2]};
            }
            if (cam.perspective && !(p.z < -1e-6f)) return false;
            const ScreenPoint s = cam.screen.map(p);
            if (!std::isfinite(s.x) || !std::isfinite(s.y)) return false;
            ends[i].x[end] = s.x;
            ends[i].y[end] = s.y;
            swept.xmin = std::min(swept.xmin, s.x);
            swept.xmax = std::max(swept.xmax, s.x);
            swept.ymin = std::min(swept.ymin, s.y);
            swept.ymax = std::max(swept.ymax, s.y);
            ends[i].z[end] = screen_depth(cam, p.z);
            swept.finite_depths = swept.finite_depths && std::isfinite(ends[i].z[end]);
            box.xlo[end] = std::min(box.xlo[end], static_cast<double>(s.x));
            box.xhi[end] = std::max(box.xhi[end], static_cast<double>(s.x));
            box.ylo[end] = std::min(box.ylo[end], static_cast<double>(s.y));
            box.yhi[end] = std::max(box.yhi[end], static_cast<double>(s.y));
            box.znear[end] = std::max(box.znear[end], ends[i].z[end]);
        }
    }
    prepare_swept(ends, swept);
    return true;
}

// Widening of the candidates' time windows against rounding: a covering
// interval never starts or ends outside its candidate's window.
constexpr double kWindowMargin = 1e-9;
// Two opaque layers whose intervals are this close in time close the gap
// between them (neighbouring triangles of one surface meet there).
constexpr double kCoverageGap = 1e-9;

// Narrows [from, until] to the times τ with a·τ ≤ b; false when none is left.
[[gnu::always_inline]] inline bool narrow(double a, double b, double& from, double& until) {
    if (a > 0.0)
        until = std::min(until, b / a + kWindowMargin);
    else if (a < 0.0)
        from = std::max(from, b / a - kWindowMargin);
    else if (b < 0.0)
        return false;
    return from <= until;
}

// The times at which the triangle's box may hold (x, y), and how near it
// may come then; false when it never covers the point.
// The entry's box from the triangle's, rounded outward.
void store_box(const SweptBox& box, SweptEntry& entry) {
    auto down = [](double v) {
        const float f = static_cast<float>(v);
        return static_cast<double>(f) > v ? std::nextafter(f, -INFINITY) : f;
    };
    auto up = [](double v) {
        const float f = static_cast<float>(v);
        return static_cast<double>(f) < v ? std::nextafter(f, INFINITY) : f;
    };
    for (int end = 0; end < 2; ++end) {
        entry.xlo[end] = down(box.xlo[end]);
        entry.ylo[end] = down(box.ylo[end]);
        entry.xhi[end] = up(box.xhi[end]);
        entry.yhi[end] = up(box.yhi[end]);
        entry.znear[end] = up(box.znear[end]);
    }
}

bool candidate_of(const SweptEntry& box, double x, double y, SweptCandidate& c) {
    // Slack against rounding, in pixels.
    constexpr double kSlack = 1e-7;
    c.from = 0.0;
    c.until = 1.0;
    // lo(τ) ≤ x and hi(τ) ≥ x for both axes, each linear in τ.
    if (!narrow(box.xlo[1] - box.xlo[0], x - box.xlo[0] + kSlack, c.from, c.until) ||
        !narrow(box.xhi[0] - box.xhi[1], box.xhi[0] - x + kSlack, c.from, c.until) ||
        !narrow(box.ylo[1] - box.ylo[0], y - box.ylo[0] + kSlack, c.from, c.until) ||
        !narrow(box.yhi[0] - box.yhi[1], box.yhi[0] - y + kSlack, c.from, c.until))
        return false;
    const double dz = box.znear[1] - box.znear[0];
    c.near_from = box.znear[0] + c.from * dz;
    c.near_until = box.znear[0] + c.until * dz;
    c.key = std::max(c.near_from, c.near_until);
    return true;
}

[[gnu::always_inline]] inline double occluder_depth(const Occluder& o, double time) {
    const double span = o.time_out - o.time_in;
    if (!(span > 0.0)) return std::min(o.depth_in, o.depth_out);
    const double f = std::clamp((time - o.time_in) / span, 0.0, 1.0);
    return o.depth_in + f * (o.depth_out - o.depth_in);
}

// How far from shutter open the occluders (in order of their start) cover
// the shutter without a gap; 1 or more when they cover all of it.
double covered_from_open(const std::vector<Occluder>& occluders) {
    double at = 0.0;
    for (const Occluder& o : occluders) {
        if (o.time_in > at + kCoverageGap) return at;
        at = std::max(at, o.time_out);
        if (at >= 1.0) return at;
    }
    return at;
}

// Whether the occluder is nearer than the candidate's bound at `start` and
// at `end`, both within the candidate's window, where the bound blends
// depths from `least` to `most`. A blend of two depths strays beyond them
// by rounding alone, by far less than `slack`: when the occluder's depths
// both lie beyond the bound's by more, the answer is known without the
// blends.
template <typename Bound>
[[gnu::always_inline]] inline bool nearer_throughout(const Occluder& o, double start, double end,
                                                     const Bound& bound, double least,
                                                     double most) {
    const double slack = 1e-12 * (std::fabs(o.depth_in) + std::fabs(o.depth_out) +
                                  std::fabs(least) + std::fabs(most)) +
                         1e-300;
    if (std::min(o.depth_in, o.depth_out) - slack > most + slack) return true;
    if (std::max(o.depth_in, o.depth_out) + slack < least - slack) return false;
    return occluder_depth(o, start) > bound(start) && occluder_depth(o, end) > bound(end);
}

// Whether opaque layers (`occluders`, in order of their start) lie nearer
// than the line from `near_from` at `from` to `near_until` at `until` at
// every time between: a candidate no nearer than that can never be in
// front, nor seen through anything in front.
bool hidden_by(const std::vector<Occluder>& occluders, double longest, double from, double until,
               double near_from, double near_until) {
    const double span = until - from;
    auto bound = [&](double time) {
        return span > 0.0 ? near_from + (time - from) / span * (near_until - near_from)
                          : std::max(near_from, near_until);
    };
    const double least = std::min(near_from, near_until), most = std::max(near_from, near_until);
    double at = from;
    // An occluder starting longer ago than the longest lasts ends before
    // `from`.
    const double earliest = from - longest;
    // The first occluder starting at `earliest` or later, found by halving
    // without a branch: the next step does not wait on a mispredicted one.
    const Occluder* o = occluders.data();
    const Occluder* const last = o + occluders.size();
    if (o != last) {
        for (std::size_t n = occluders.size(); n > 1;) {
            const std::size_t half = n / 2;
            o = o[half].time_in < earliest ? o + half : o;
            n -= half;
        }
        o += o->time_in < earliest ? 1 : 0;
    }
    for (; o != last; ++o) {
        if (o->time_in > at + kCoverageGap) return false;
        if (o->time_out <= at) continue;
        // Both lines are straight: nearer at both ends of the overlap is
        // nearer all through it.
        const double start = std::max(from, o->time_in);
        const double end = std::min(o->time_out, until);
        if (start <= until ? nearer_throughout(*o, start, end, bound, least, most)
                           : occluder_depth(*o, start) > bound(start) &&
                                 occluder_depth(*o, end) > bound(end)) {
            at = o->time_out;
            if (at >= until) return true;
        }
    }
    return false;
}

// The triangle at `time` seen from (x, y): the numerators of the weights
// of P1 and P2 over their common denominator; false when the triangle has
// no area then.
struct Weighing {
    double s, u, D;
};
[[gnu::always_inline]] inline bool weighing_at(const SweptTriangle& t, double time, double x,
                                               double y, Weighing& w) {
    const double x0 = t.x_at(0, time), y0 = t.y_at(0, time);
    const double dx1 = t.x_at(1, time) - x0, dy1 = t.y_at(1, time) - y0;
    const double dx2 = t.x_at(2, time) - x0, dy2 = t.y_at(2, time) - y0;
    w.D = dy2 * dx1 - dy1 * dx2;
    if (!(std::fabs(w.D) > 1e-12)) return false;
    const double px = x - x0, py = y - y0;
    w.s = px * dy2 - py * dx2;
    w.u = py * dx1 - px * dy1;
    return true;
}

// Where (x, y) falls on the triangle at `time`: weights of P1 and P2;
// false when the triangle has no area then.
[[gnu::always_inline]] inline bool weights_at(const SweptTriangle& t, double time, double x,
                                              double y, double& s, double& u) {
    Weighing w;
    if (!weighing_at(t, time, x, y, w)) return false;
    s = w.s / w.D;
    u = w.u / w.D;
    return true;
}

// Inside, the weights lie in [0, 1], and the depth there is finite just
// when the vertices' depths are: it needs no working out. A point outside
// the first weight's edge is known before the second is divided out.
[[gnu::always_inline]] inline bool inside_at(const SweptTriangle& t, double time, double x,
                                             double y) {
    Weighing w;
    if (!t.finite_depths || !weighing_at(t, time, x, y, w)) return false;
    const double s = w.s / w.D;
    if (!(s >= 0.0)) return false;
    const double u = w.u / w.D;
    return u >= 0.0 && s + u <= 1.0;
}

// The depth at an end of a covering interval; the point sits on an edge
// there, so when the triangle has no area at that very time the depth is
// taken a little inside the interval.
double depth_at(const SweptTriangle& t, double time, double toward, double x, double y) {
    double s, u;
    for (int k = 0; k < 8; ++k) {
        if (weights_at(t, time, x, y, s, u)) {
            const double z0 = t.z_at(0, time);
            const double d1 = t.z_at(1, time) - z0, d2 = t.z_at(2, time) - z0;
            if (std::isfinite(z0 + s * d1 + u * d2)) {
                // The weights may stray just outside at an edge: keep the
                // depth within the triangle's own.
                s = std::clamp(s, 0.0, 1.0);
                u = std::clamp(u, 0.0, 1.0 - s);
                return z0 + s * d1 + u * d2;
            }
        }
        time += 0.5 * (toward - time);
    }
    return (t.z_at(0, time) + t.z_at(1, time) + t.z_at(2, time)) / 3.0;
}

// Adds the roots in (0, 1) of a·τ² + b·τ + c.
void add_roots(double a, double b, double c, double* roots, int& count) {
    auto add = [&](double r) {
        if (r > 0.0 && r < 1.0 && std::isfinite(r)) roots[count++] = r;
    };
    if (std::fabs(a) <= 1e-10) {
        if (std::fabs(b) > 1e-30) add(-c / b);
        return;
    }
    const double discriminant = b * b - 4.0 * a * c;
    if (std::fabs(discriminant) <= 1e-10) {
        add(-b / (2.0 * a));
    } else if (discriminant > 0.0) {
        // The form that keeps both roots accurate when b dominates.
        const double q = -0.5 * (b + std::copysign(std::sqrt(discriminant), b));
        add(q / a);
        if (q != 0.0) add(c / q);
    }
}

// The times at which (x, y) lies on the line of an edge of the moving
// triangle, sorted and merged (at most two per edge); returns how many.
int crossing_times(const SweptTriangle& t, double x, double y, double* times) {
    int count = 0;
    for (int e = 0; e < 3; ++e) {
        const SweptTriangle::Edge& edge = t.e[e];
        const double wx = x - t.v[e].x, wy = y - t.v[e].y;
        const double c0 = edge.ex * wy - edge.ey * wx;
        const double c1 = edge.linear + edge.dex * wy - edge.dey * wx;
        add_roots(edge.quadratic, c1, c0, times, count);
    }
    for (int i = 1; i < count; ++i)  // at most six
        for (int j = i; j > 0 && times[j - 1] > times[j]; --j) std::swap(times[j - 1], times[j]);
    int merged = 0;
    for (int i = 0; i < count; ++i)
        if (merged == 0 || times[i] - times[merged - 1] > kSameTime) times[merged++] = times[i];
    return merged;
}

// A moving triangle's layers: one per stretch of the shutter during which
// it covers (x, y), each with its depths at both ends and its shade time.
// Layers wholly behind `cutoff` (an opaque static layer that covers the
// whole shutter) are not made. Returns the new layers linked by `next`
// ahead of `list`.
RC_Layer* covering_layers(const ScreenTriangle& triangle, const SweptTriangle& t, double x,
                          double y, double cutoff, LayerPool& pool, RC_Layer* list) {
    // The triangle stays within the bound of its two ends.
    if (!t.usable || x < t.xmin || x > t.xmax || y < t.ymin || y > t.ymax) return list;

    double bounds[8];
    bounds[0] = 0.0;
    const int roots = crossing_times(t, x, y, bounds + 1);
    bounds[roots + 1] = 1.0;
    double start = -1.0;
    for (int i = 0; i <= roots; ++i) {
        const double a = bounds[i], b = bounds[i + 1];
        const bool inside = b > a && inside_at(t, 0.5 * (a + b), x, y);
        if (inside && start < 0.0) start = a;
        if (start < 0.0 || (inside && i < roots)) continue;
        const double end = inside ? b : a;
        const double time_in = std::clamp(start, 0.0, 1.0);
        const double time_out = std::clamp(end, 0.0, 1.0);
        start = -1.0;
        if (!(time_out - time_in > kSameTime)) continue;
        const double depth_in = depth_at(t, time_in, time_out, x, y);
        const double depth_out = depth_at(t, time_out, time_in, x, y);
        if (std::max(depth_in, depth_out) < cutoff) continue;
        RC_Layer* layer = pool.take();
        layer->triangle = &triangle;
        layer->time_in = time_in;
        layer->time_out = time_out;
        layer->depth_in = depth_in;
        layer->depth_out = depth_out;
        layer->shade_time = time_in + AR_random() * (time_out - time_in);
        // The weights at the shade time are the moved triangle's business.
        layer->s = layer->t = 0.0f;
        layer->depth =
            static_cast<float>(depth_in + (depth_out - depth_in) * (layer->shade_time - time_in) /
                                              (time_out - time_in));
        layer->events = nullptr;
        layer->moving = true;
        layer->next = list;
        list = layer;
    }
    return list;
}

// --- the sweep ---------------------------------------------------------------

// The sort key of an event at `time` in [0, 1]: enters before leaves at
// one time. (Adding 0 makes a negative zero positive.)
std::uint64_t event_key(double time, EventKind kind) {
    std::uint64_t bits;
    const double t = time + 0.0;
    std::memcpy(&bits, &t, sizeof bits);
    return bits << 1 | static_cast<std::uint64_t>(kind == EventKind::kLeave);
}

// The enter and leave events of the layers of `list`, after those already
// in the pools; the keys that sort them beside, in `order`.
void add_events(RC_Layer* list, MotionPools& pools) {
    std::size_t k = pools.event_count;
    std::size_t count = 0;
    for (const RC_Layer* l = list; l != nullptr; l = l->next) count += 2;
    pools.event_count += count;
    if (pools.events.size() < pools.event_count) {
        pools.events.resize(pools.event_count);
        pools.order.resize(pools.event_count);
    }
    RC_Event* events = pools.events.data();
    RC_EventKey* order = pools.order.data();
    for (RC_Layer* l = list; l != nullptr; l = l->next, k += 2) {
        events[k] = RC_Event{l->time_in, EventKind::kEnter, l, nullptr};
        events[k + 1] = RC_Event{l->time_out, EventKind::kLeave, l, nullptr};
        order[k] =
            RC_EventKey{event_key(l->time_in, EventKind::kEnter), static_cast<std::uint32_t>(k)};
        order[k + 1] = RC_EventKey{event_key(l->time_out, EventKind::kLeave),
                                   static_cast<std::uint32_t>(k + 1)};
    }
}

// Time order, at one time the enters before the leaves; linked through
// `next` for the sweep. The keys (made beside the events) are sorted rather
// than the events: the order is the same, the moves half as long.
RC_Event* sorted_events(MotionPools& pools) {
    const std::size_t n = pools.event_count;
    if (n == 0) return nullptr;
    RC_Event* events = pools.events.data();
    RC_EventKey* order = pools.order.data();
    std::sort(order, order + n,
              [](const RC_EventKey& a, const RC_EventKey& b) { return a.key < b.key; });
    for (std::size_t k = 0; k + 1 < n; ++k)
        events[order[k].event].next = &events[order[k + 1].event];
    events[order[n - 1].event].next = nullptr;
    return &events[order[0].event];
}

void remove_from(RC_InEntry*& in_list, RC_Layer* layer) {
    for (RC_InEntry** at = &in_list; *at != nullptr; at = &(*at)->next) {
        if ((*at)->layer == layer) {
            *at = (*at)->next;
            return;
        }
    }
    // The sweep's own bookkeeping has failed: nothing drawn from here on
    // could be trusted.
    fatal(in_list == nullptr ? "ERROR: motion blur tried to remove non-in thing from NULL in-list\n"
                             : "ERROR: motion blur tried to remove non-in thing from in-list\n");
}

[[gnu::always_inline]] inline double depth_when(const RC_Layer& layer, double time) {
    const double span = layer.time_out - layer.time_in;
    if (!(span > 0.0)) return layer.depth_in;
    const double f = std::clamp((time - layer.time_in) / span, 0.0, 1.0);
    return layer.depth_in + f * (layer.depth_out - layer.depth_in);
}

// Nearest first at `time` (an insertion sort: the list is short, and
// already sorted but for the layers that just entered).
void sort_by_depth(RC_InEntry*& in_list, double time) {
    RC_InEntry* sorted = nullptr;
    for (RC_InEntry* e = in_list; e != nullptr;) {
        RC_InEntry* next = e->next;
        // Worked out once per entry, not once per comparison.
        const double depth = depth_when(*e->layer, time);
        e->depth = depth;
        RC_InEntry** at = &sorted;
        while (*at != nullptr && (*at)->depth >= depth) at = &(*at)->next;
        e->next = *at;
        *at = e;
        e = next;
    }
    in_list = sorted;
}

// The layers seen at the segment: the front one and, through a
// transparent front, those behind up to the first opaque one. A
// transparent layer that starts as the one before it ends is the same
// surface going on across a triangle edge: it counts once.
RC_InEntry* chain_of(const RC_InEntry* in_list, BlockPool<RC_InEntry>& pool) {
    RC_InEntry* chain = nullptr;
    RC_InEntry** tail = &chain;
    const RC_Layer* previous = nullptr;
    for (const RC_InEntry* e = in_list; e != nullptr; e = e->next) {
        const bool transparent = layer_is_transparent(*e->layer);
        if (transparent && previous != nullptr &&
            std::fabs(e->layer->time_in - previous->time_out) <= kSameTime)
            continue;
        RC_InEntry* entry = pool.take();
        *entry = RC_InEntry{e->layer, nullptr, 0.0};
        *tail = entry;
        tail = &entry->next;
        previous = e->layer;
        if (!transparent) break;
    }
    return chain;
}

bool same_chain(const RC_InEntry* a, const RC_InEntry* b) {
    for (; a != nullptr && b != nullptr; a = a->next, b = b->next)
        if (a->layer != b->layer) return false;
    return a == nullptr && b == nullptr;
}

// Sweeps the events in time order into segments; returns the last.
RC_Segment* sweep(RC_Event* events, MotionPools& pools) {
    RC_InEntry* in_list = nullptr;
    RC_Segment* last = nullptr;
    RC_Segment* open_segment = nullptr;
    auto close_at = [&](double time) {
        if (open_segment == nullptr) return;
        open_segment->end = time;
        open_segment->duration = time - open_segment->start;
        open_segment->previous = last;
        last = open_segment;
        open_segment = nullptr;
    };
    for (RC_Event* e = events; e != nullptr;) {
        const double time = e->time;
        for (; e != nullptr && e->time - time <= kSameTime; e = e->next) {
            if (e->kind == EventKind::kEnter) {
                RC_InEntry* entry = pools.entries.take();
                *entry = RC_InEntry{e->layer, in_list, 0.0};
                in_list = entry;
            } else {
                remove_from(in_list, e->layer);
            }
        }
        const double until = e != nullptr ? e->time : time;
        if (in_list == nullptr || !(until > time)) {
            if (in_list == nullptr) close_at(time);
            continue;
        }
        // Which layer is in front is decided in the middle of the stretch
        // up to the next event: surfaces that pass through each other
        // between events then still come out right on average.
        sort_by_depth(in_list, 0.5 * (time + until));
        RC_InEntry* chain = chain_of(in_list, pools.entries);
        if (open_segment != nullptr && same_chain(open_segment->chain, chain)) continue;
        close_at(time);
        open_segment = pools.segments.take();
        *open_segment = RC_Segment{time, time, 0.0, chain->layer, chain, nullptr};
    }
    close_at(events != nullptr ? 1.0 : 0.0);
    return last;
}

// Whether two segments show the same objects, front to back: neighbouring
// triangles of one surface passing the sample one after the other.
bool same_objects(const RC_Segment& a, const RC_Segment& b) {
    const RC_InEntry* p = a.chain;
    const RC_InEntry* q = b.chain;
    for (; p != nullptr && q != nullptr; p = p->next, q = q->next)
        if (p->layer->triangle->object != q->layer->triangle->object) return false;
    return p == nullptr && q == nullptr;
}

int shading_samples(const RC_Segment& s) {
    const RenderObject* object = s.front->triangle->object;
    return object != nullptr ? std::max(object->motion_shading_samples, 1) : 1;
}

// Gives each segment its weight and returns the fraction of the shutter
// covered. A run of consecutive segments showing the same objects (one
// surface's triangles crossing the sample in turn) is shaded at most its
// front object's `motion_blur_shading_samples` times, at its longest
// segments, which carry the run's whole duration: shading is the cost of a
// sample, and a smooth surface shades alike from one triangle to the next.
// Runs too short to count lend their time to the others, so that a surface
// crossing the sample in many short steps keeps its brightness.
double weigh_segments(RC_Segment* last) {
    double covered = 0.0, kept = 0.0;
    for (RC_Segment* run = last; run != nullptr;) {
        // The run: `run` and the segments before it in time that show the
        // same objects.
        RC_Segment* end = run->previous;
        double total = run->duration;
        int count = 1;
        while (end != nullptr && same_objects(*end, *run)) {
            total += end->duration;
            ++count;
            end = end->previous;
        }
        covered += total;
        for (RC_Segment* s = run; s != end; s = s->previous) s->weight = 0.0;
        if (total >= kDroppedSegment) {
            kept += total;
            // The longest segments, as many as the run may be shaded.
            const int shaded = std::min(count, shading_samples(*run));
            double chosen = 0.0;
            for (int k = 0; k < shaded; ++k) {
                RC_Segment* longest = nullptr;
                for (RC_Segment* s = run; s != end; s = s->previous)
                    if (s->weight == 0.0 && (longest == nullptr || s->duration > longest->duration))
                        longest = s;
                longest->weight = -1.0;  // chosen; weighed below
                chosen += longest->duration;
            }
            for (RC_Segment* s = run; s != end; s = s->previous)
                if (s->weight < 0.0)
                    s->weight = chosen > 0.0 ? total * s->duration / chosen : total / shaded;
        }
        run = end;
    }
    covered = std::min(covered, 1.0);
    // What the dropped runs covered goes to the kept ones.
    if (kept > 0.0 && kept < covered)
        for (RC_Segment* s = last; s != nullptr; s = s->previous) s->weight *= covered / kept;
    return kept > 0.0 ? covered : 0.0;
}

std::size_t address_hash(const void* p) {
    return static_cast<std::size_t>((reinterpret_cast<std::uintptr_t>(p) >> 4) *
                                    0x9E3779B97F4A7C15ull);
}

// Makes the table of triangle addresses large enough for `more` more.
void make_room(SweptCache& cache, std::size_t more = 1) {
    const std::size_t wanted = 2 * (cache.entries.size() + more);
    if (cache.slots.size() >= wanted) return;
    std::size_t size = std::max<std::size_t>(cache.slots.size(), 1024);
    while (size < wanted) size *= 2;
    cache.slots.assign(size, SweptCache::Slot{nullptr, 0});
    const std::size_t mask = size - 1;
    for (const SweptEntry& entry : cache.entries) {
        std::size_t h = address_hash(entry.key) & mask;
        while (cache.slots[h].key != nullptr) h = (h + 1) & mask;
        cache.slots[h] = SweptCache::Slot{entry.key, entry.index};
    }
}

// The triangle's place in the tile's table, worked out when first met.
// The table must have room for one more (`make_room`).
std::uint32_t swept_index(SweptCache& cache, const ScreenTriangle& t, const CasterCamera& cam) {
    const std::size_t mask = cache.slots.size() - 1;
    std::size_t h = address_hash(&t) & mask;
    for (; cache.slots[h].key != nullptr; h = (h + 1) & mask)
        if (cache.slots[h].key == &t) return cache.slots[h].index;
    const auto index = static_cast<std::uint32_t>(cache.entries.size());
    cache.slots[h] = SweptCache::Slot{&t, index};
    SweptEntry& entry = cache.entries.emplace_back();
    SweptTriangle& swept = cache.values.emplace_back();
    entry.key = &t;
    entry.index = index;
    entry.moves = triangle_moves(t);
    SweptBox box;
    swept.usable = entry.moves && sweep_of(t, cam, swept, box);
    if (swept.usable) {
        store_box(box, entry);
    } else {
        swept.xmin = swept.ymin = INFINITY;
        entry.xlo[0] = entry.xlo[1] = INFINITY;
        entry.xhi[0] = entry.xhi[1] = -INFINITY;
    }
    return index;
}

// The split of the pixel whose list is `list`, made when the pixel was not
// among the last few. Each triangle of a long list costs a look-up in the
// tile's table and a read of its entry, both far apart in memory: a batch
// of triangles asks for its table slots ahead, then for its entries, so
// that the cache misses overlap rather than follow one another.
const PixelSplit& pixel_split(SweptCache& cache, const BucketCell* list, const CasterCamera& cam) {
    PixelSplit& pixel = cache.pixels[address_hash(list) >> 60];
    static_assert(SweptCache::kPixels == 16);
    if (pixel.valid && pixel.list == list) return pixel;
    pixel.valid = true;
    pixel.list = list;
    pixel.still.clear();
    pixel.moving.clear();
    constexpr std::size_t kBatch = 32;
    const ScreenTriangle* batch[kBatch];
    std::uint32_t index[kBatch];
    for (const BucketCell* cell = list; cell != nullptr;) {
        std::size_t n = 0;
        for (; cell != nullptr && n < kBatch; cell = cell->next) batch[n++] = cell->triangle;
        // The table grows before the slots are asked for, not between.
        make_room(cache, n);
        const std::size_t mask = cache.slots.size() - 1;
        for (std::size_t k = 0; k < n; ++k)
            __builtin_prefetch(&cache.slots[address_hash(batch[k]) & mask]);
        for (std::size_t k = 0; k < n; ++k) {
            index[k] = swept_index(cache, *batch[k], cam);
            __builtin_prefetch(&cache.entries[index[k]]);
        }
        for (std::size_t k = 0; k < n; ++k) {
            const SweptEntry& entry = cache.entries[index[k]];
            if (entry.moves)
                pixel.moving.push_back(entry);
            else
                pixel.still.push_back(BucketCell{nullptr, batch[k]});
        }
    }
    for (std::size_t k = 0; k + 1 < pixel.still.size(); ++k)
        pixel.still[k].next = &pixel.still[k + 1];
    return pixel;
}

}  // namespace

const ScreenTriangle& moved_triangle(const RC_Layer& layer, MovedTriangle& scratch) {
    const ScreenTriangle& original = *layer.triangle;
    const CasterCamera& cam = caster_camera();
    const GeometryView& view = geometry_view();
    // Records hold the frame position; open and close lie either side. The
    // screen positions are the camera's at the shade time.
    const double from_frame = layer.shade_time - view.frame_fraction;
    const ScreenVertex* vertices[3] = {original.P0, original.P1, original.P2};
    for (int i = 0; i < 3; ++i) {
        const ScreenVertex& v = *vertices[i];
        const ShadingRecord& s = *v.shading;
        ScreenVertex& out = scratch.vertices[i];
        ShadingRecord& record = scratch.shading[i];
        out = v;
        record = s;
        out.shading = &record;
        const MotionRecord* m = v.motion;
        if (m == nullptr) continue;
        for (int k = 0; k < 3; ++k) {
            const float open = s.eye[k] - m->to_frame[k];
            const float close = s.eye[k] + m->to_close[k];
            record.eye[k] = open + static_cast<float>(layer.shade_time) * (close - open);
            record.world[k] = s.world[k] + static_cast<float>(from_frame) * m->world[k];
            record.normal[k] = s.normal[k] + static_cast<float>(from_frame) * m->normal[k];
        }
        normalise3(record.normal);
        const Triple turned =
            transform_vector(Triple{m->normal[0], m->normal[1], m->normal[2]}, view.eye_from_world);
        out.normal[0] += static_cast<float>(from_frame) * turned.x;
        out.normal[1] += static_cast<float>(from_frame) * turned.y;
        out.normal[2] += static_cast<float>(from_frame) * turned.z;
        normalise3(out.normal);
        if (s.texture != nullptr) {
            for (int k = 0; k < kTextureFloats; ++k)
                scratch.texture[i][k] =
                    s.texture[k] + static_cast<float>(from_frame) * m->texture[k];
            record.texture = scratch.texture[i];
        }
        const ScreenPoint p = cam.screen.map(Triple{record.eye[0], record.eye[1], record.eye[2]});
        out.x = p.x;
        out.y = p.y;
        out.z = static_cast<float>(screen_depth(cam, record.eye[2]));
        // Shading sees the point and its normal where they are in the world
        // then, from the frame's eye, where the lights and the shadow
        // lookups were prepared: a camera's own motion moves neither the
        // lit side nor the shadows. (The vertices' eye normals blend the eye
        // spaces of open and close.)
        if (cam.camera_moves) {
            store3(transform_point(to_triple(record.world), view.eye_from_world), record.eye);
            store3(normalise(transform_vector(to_triple(record.normal), view.eye_from_world)),
                   out.normal);
        }
    }
    ScreenTriangle& t = scratch.triangle;
    t = original;
    t.P0 = &scratch.vertices[0];
    t.P1 = &scratch.vertices[1];
    t.P2 = &scratch.vertices[2];
    const float x0 = t.P0->x, y0 = t.P0->y;
    const float dx1 = t.P1->x - x0, dy1 = t.P1->y - y0;
    const float dx2 = t.P2->x - x0, dy2 = t.P2->y - y0;
    const float D = dy2 * dx1 - dy1 * dx2;
    // Without area at that time the frame's set-up stands in.
    if (D != 0.0f && std::isfinite(D)) {
        t.x0 = x0, t.y0 = y0, t.z0 = t.P0->z;
        t.a = dx1 / D, t.b = dy1 / D, t.dz1 = t.P1->z - t.P0->z;
        t.c = dx2 / D, t.d = dy2 / D, t.dz2 = t.P2->z - t.P0->z;
    } else if (!std::isfinite(t.a)) {
        t.a = t.b = t.c = t.d = 0.0f;  // no area at the frame time either
    }
    return t;
}

float sample_motion(double x, double y, double time, float* out, RR_SampleNode& node) {
    CasterWorker& worker = caster_worker();
    const CasterCamera& cam = caster_camera();
    ++worker.samples;
    node.missed = 0;
    // Shade times come from the sample's own place in the table, so that a
    // sample is the same whichever worker takes it, in whatever order.
    AR_random_seek(static_cast<int>(worker.seed % kRandomTableSize));
    const double static_time = time >= 0.0 && time <= 1.0 ? time : 0.0;

    if (!worker.swept) worker.swept = std::make_unique<SweptCache>();  // once per run
    SweptCache& cache = *worker.swept;
    const PixelSplit& pixel = pixel_split(cache, node.pixel_triangles, cam);
    const std::vector<BucketCell>& still = pixel.still;
    bool transparent = false;
    RC_Layer* head = collect_layers(still.empty() ? nullptr : still.data(), static_cast<float>(x),
                                    static_cast<float>(y), worker.layers, transparent);
    const double cutoff = head != nullptr && !layer_is_transparent(*head)
                              ? static_cast<double>(head->depth)
                              : -INFINITY;
    // The moving triangles whose boxes may hold the point at some time; what
    // lies behind an opaque still layer all through the shutter needs no
    // solving.
    std::vector<SweptCandidate>& candidates = cache.candidates;
    std::vector<CandidateKey>& order = cache.order;
    candidates.clear();
    order.clear();
    for (const SweptEntry& entry : pixel.moving) {
        SweptCandidate c;
        if (!candidate_of(entry, x, y, c) || c.key < cutoff) continue;
        c.triangle = entry.key;
        c.index = entry.index;
        order.push_back(CandidateKey{c.key, static_cast<std::uint32_t>(candidates.size())});
        candidates.push_back(c);
    }
    MotionPools& pools = worker.motion;
    pools.reset();
    RC_Layer* moving = nullptr;
    // Nearest first, so that what lies behind the opaque layers found so far
    // for its whole time is never solved for: hidden all through the
    // shutter, it could neither be in front nor seen through what is.
    auto farther = [](const CandidateKey& a, const CandidateKey& b) { return a.key < b.key; };
    std::make_heap(order.begin(), order.end(), farther);
    std::vector<Occluder>& occluders = cache.occluders;
    occluders.clear();
    double longest = 0.0;  // the longest an occluder lasts
    // Once the occluders cover the whole shutter, whatever lies behind the
    // farthest of them is hidden: everything left once that is reached.
    bool whole_shutter = false;
    double farthest = INFINITY;
    // How far from open they cover without a gap: an occluder starting
    // beyond cannot cover more of it.
    double covered_open = 0.0;
    for (auto end = order.end(); end != order.begin(); --end) {
        const SweptCandidate& c = candidates[order.front().candidate];
        if (whole_shutter && c.key < farthest) break;
        if (occluders.empty() ||
            !hidden_by(occluders, longest, c.from, c.until, c.near_from, c.near_until)) {
            RC_Layer* before = moving;
            moving = covering_layers(*c.triangle, cache.values[c.index], x, y, cutoff, pools.layers,
                                     moving);
            bool reaches = false;
            for (RC_Layer* l = moving; l != before; l = l->next) {
                if (layer_is_transparent(*l)) continue;
                const Occluder o{l->time_in, l->time_out, l->depth_in, l->depth_out};
                longest = std::max(longest, o.time_out - o.time_in);
                farthest = std::min({farthest, o.depth_in, o.depth_out});
                occluders.insert(std::upper_bound(occluders.begin(), occluders.end(), o,
                                                  [](const Occluder& a, const Occluder& b) {
                                                      return a.time_in < b.time_in;
                                                  }),
                                 o);
                reaches = reaches || o.time_in <= covered_open + kCoverageGap;
            }
            if (reaches && !whole_shutter) {
                covered_open = covered_from_open(occluders);
                whole_shutter = covered_open >= 1.0;
            }
        }
        std::pop_heap(order.begin(), end, farther);
        // The next candidate's swept triangle is on its way while that
        // candidate is tested against the occluders.
        if (end - 1 != order.begin()) {
            const char* next = reinterpret_cast<const char*>(
                &cache.values[candidates[order.front().candidate].index]);
            for (std::size_t at = 0; at < sizeof(SweptTriangle); at += 64)
                __builtin_prefetch(next + at);
        }
    }
    // Nothing that moves covers the point: the static sample it is.
    if (moving == nullptr)
        return finish_static_sample<true>(head, transparent, x, y, out, node, static_time);

    for (RC_Layer* l = head; l != nullptr; l = l->next) l->shade_time = static_time;
    add_events(head, pools);
    add_events(moving, pools);
    RC_Segment* last = sweep(sorted_events(pools), pools);

    const double covered = weigh_segments(last);
    float background[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    if (!cam.composite) background_colour(x, y, background);
    float sum[4];
    const float uncovered = static_cast<float>(std::max(0.0, 1.0 - covered));
    float fogged[4] = {background[0], background[1], background[2], background[3]};
    fog_open_sky(x, y, fogged);
    for (int k = 0; k < 4; ++k) sum[k] = fogged[k] * uncovered;

    float glow[3] = {0.0f, 0.0f, 0.0f};
    double nearest = INFINITY;
    bool any = false;
    for (RC_Segment* s = last; s != nullptr; s = s->previous) {
        if (s->weight <= 0.0) continue;
        // The chain runs nearest first; shading goes farthest first.
        RC_Layer* list = nullptr;
        bool see_through = false;
        const RC_Layer* back = nullptr;
        for (RC_InEntry* e = s->chain; e != nullptr; e = e->next) {
            e->layer->next = list;
            list = e->layer;
            back = e->layer;
            see_through = see_through || layer_is_transparent(*e->layer);
        }
        float colour[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        if (see_through && !cam.composite)
            for (int k = 0; k < 4; ++k) colour[k] = background[k];
        float segment_glow[3] = {0.0f, 0.0f, 0.0f};
        const ShadedLayers shaded =
            shade_layers(list, x, y, colour, segment_glow, cam.fog || cam.light_fog, node);
        const float weight = static_cast<float>(s->weight);
        for (int k = 0; k < 4; ++k) sum[k] += colour[k] * weight;
        for (int k = 0; k < 3; ++k) glow[k] += segment_glow[k] * weight;
        // The depth is the nearest the sample sees at any time of the
        // shutter: the nearest layer with a depth file, else the opaque one.
        const bool opaque = back != nullptr && !layer_is_transparent(*back);
        if (cam.depth_file)
            nearest = std::min(nearest, shaded.nearest);
        else if (opaque)
            nearest = std::min(nearest, shaded.back);
        any = true;
    }
    for (int k = 0; k < 4; ++k) out[k] = sum[k];
    if (cam.composite && !any) node.missed = 1;
    if (cam.glow) {
        if (GlowSink sink = glow_sink()) sink(x, y, glow);
    }
    return std::isfinite(nearest) ? static_cast<float>(nearest) : kNothingDepth;
}

}  // namespace sky
