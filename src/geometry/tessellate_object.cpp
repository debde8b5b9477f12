// The sink between a tessellator and bucket entry.
//
// A moving object is tessellated twice: its shutter-close geometry first,
// into a list of corners, then its shutter-open geometry, whose k-th
// triangle pairs with the k-th close triangle (the same surface tessellated
// the same way gives the same triangles in the same order). Each vertex then
// records its frame position and how it moves through the shutter.
#include "geometry/tessellate_object.h"

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/options.h"
#include "base/vecmath.h"
#include "geometry/bucket_spans.h"
#include "geometry/depth_entry.h"
#include "geometry/displacement.h"
#include "geometry/enter.h"
#include "geometry/saved_geometry.h"
#include "geometry/tessellate.h"
#include "platform/report.h"
#include "scene/scene_objects.h"
#include "scene/transform.h"
#include "sdl/types.h"

namespace sky {

Tessellators& tessellators() {
    static Tessellators table{tessellate_patch, tessellate_face, tessellate_polyset};
    return table;
}

void restore_tessellators() {
    tessellators() = Tessellators{tessellate_patch, tessellate_face, tessellate_polyset};
}

namespace {

// Where a tessellator's triangles go first: through the displacement when
// the geometry has one, straight to `next` otherwise.
class Displaced {
public:
    Displaced(const Displacement& displacement, const TransformValue& placement, TriangleSink& next)
        : displacing_(displacement, placement, next),
          first_(displacement.active() ? static_cast<TriangleSink&>(displacing_) : next) {}
    TriangleSink& first() { return first_; }

private:
    DisplacingSink displacing_;
    TriangleSink& first_;
};

constexpr int kCornerFloats = sizeof(CornerValues) / sizeof(float);

// The corner's world and eye normals from the object-space normal.
void set_normals(CornerValues& c, const Triple& object_normal, const TransformValue& placement,
                 const Matrix4& eye_from_world) {
    store3(transform_normal(object_normal, placement), c.normal);
    normalise3(c.normal);
    store3(transform_vector(to_triple(c.normal), eye_from_world), c.eye_normal);
    normalise3(c.eye_normal);
}

// Object space to world and eye, without the screen. Without `normals`
// the corner's `normal` keeps the object-space normal (see
// ObjectTriangles::finish_normals).
// The point's position in object space, as its corner's arithmetic takes it.
Triple object_position(const SurfacePoint& p) {
    return Triple{static_cast<float>(p.position[0]), static_cast<float>(p.position[1]),
                  static_cast<float>(p.position[2])};
}

CornerValues corner_of(const SurfacePoint& p, const TransformValue& placement,
                       const Matrix4& eye_from_world, const ObjectTriangles& storage,
                       bool normals = true) {
    CornerValues c{};
    const Triple object = object_position(p);
    const Triple world = AR_model_xform(object, placement.model);
    store3(world, c.world);
    store3(transform_point(world, eye_from_world), c.eye);
    const Triple object_normal{static_cast<float>(p.normal[0]), static_cast<float>(p.normal[1]),
                               static_cast<float>(p.normal[2])};
    if (normals)
        set_normals(c, object_normal, placement, eye_from_world);
    else
        store3(object_normal, c.normal);
    c.u = static_cast<float>(p.u);
    c.v = static_cast<float>(p.v);
    if (storage.has_texture) c.texture[0] = c.u, c.texture[1] = c.v;
    if (storage.has_texture_data) {
        store3(object, c.texture_data);
        std::memcpy(c.texture_data + 3, p.colour, sizeof p.colour);
        c.texture_data[6] = p.has_colour ? 1.0f : 0.0f;
    }
    return c;
}

CornerValues blend(const CornerValues& a, const CornerValues& b, float t) {
    CornerValues r;
    const float* p = &a.screen[0];
    const float* q = &b.screen[0];
    float* out = &r.screen[0];
    for (int i = 0; i < kCornerFloats; ++i) out[i] = p[i] + t * (q[i] - p[i]);
    return r;
}

// Collects the shutter-close triangles of a moving object.
class CloseRecorder : public TriangleSink {
public:
    CloseRecorder(const TransformValue& placement, const Matrix4& eye_from_world,
                  const ObjectTriangles& storage, std::vector<CornerValues>& corners)
        : placement_(placement),
          eye_from_world_(eye_from_world),
          storage_(storage),
          corners_(corners) {}

    void add_triangle(const SurfacePoint& a, const SurfacePoint& b,
                      const SurfacePoint& c) override {
        for (const SurfacePoint* p : {&a, &b, &c})
            corners_.push_back(corner_of(*p, placement_, eye_from_world_, storage_));
    }

private:
    const TransformValue& placement_;
    const Matrix4& eye_from_world_;
    const ObjectTriangles& storage_;
    std::vector<CornerValues>& corners_;
};

class EntrySink : public TriangleSink {
public:
    // With `close`, the corners are the shutter-open ones of a moving object;
    // `frame_only` enters them where the frame time puts them, still.
    EntrySink(ObjectTriangles& storage, const TransformValue& placement, const GeometryView& view,
              const std::vector<CornerValues>* close, bool frame_only = false)
        : storage_(storage),
          placement_(placement),
          view_(view),
          close_(close),
          frame_only_(frame_only) {
        if (storage.depth_only) {
            storage.finish_normals = finish_normals;
            storage.finish_context = this;
        }
    }

    void add_triangle(const SurfacePoint& a, const SurfacePoint& b,
                      const SurfacePoint& c) override {
        if (storage_.depth_only && !frame_only_) {
            enter_depth(a, b, c);
            ++made_;
            return;
        }
        const bool paired = storage_.moving || frame_only_;
        const Matrix4& eye_from_world = paired ? view_.eye_from_world_open : view_.eye_from_world;
        // A still corner is projected once, with the transform: the
        // triangles around a vertex then share its projection too. Three
        // corners in three places of the table are entered from there.
        if (!paired) {
            const std::size_t sa = slot_of(a), sb = slot_of(b), sc = slot_of(c);
            if (sa != sb && sb != sc && sa != sc) {
                enter_still(kept_corner(a, sa, eye_from_world, true, true),
                            kept_corner(b, sb, eye_from_world, true, true),
                            kept_corner(c, sc, eye_from_world, true, true));
                ++made_;
                return;
            }
        }
        CornerValues corners[3];
        corner(a, eye_from_world, true, !paired, corners[0]);
        corner(b, eye_from_world, true, !paired, corners[1]);
        corner(c, eye_from_world, true, !paired, corners[2]);
        if (paired) {
            enter_moving(corners);
        } else {
            enter_clipped(corners, true);
        }
        ++made_;
    }

    // A still object's corners are kept by key, a depth-only one's
    // positions alone when it does not count its vertices: what the
    // corners of add_triangle are kept by (the point and its flags) is
    // then fixed by the key.
    KeyedCorners keyed_corners() const override {
        if (storage_.moving || frame_only_) return KeyedCorners::none;
        if (!storage_.depth_only) return KeyedCorners::whole;
        return storage_.counts_vertices ? KeyedCorners::none : KeyedCorners::positions;
    }

    // add_triangle of keyed corners, each made when the table does not
    // hold it: the same corners, entered the same way.
    void add_keyed_triangle(const CornerKey* keys, const float* const* positions,
                            CornerMaker& maker) override {
        if (keyed_ == nullptr) keyed_ = keyed_corners_table();
        const std::size_t sa = keyed_slot(keys[0]), sb = keyed_slot(keys[1]),
                          sc = keyed_slot(keys[2]);
        const bool apart = sa != sb && sb != sc && sa != sc;
        ++made_;
        if (storage_.depth_only) {
            auto corner = [&](int i, std::size_t slot) -> const DepthCorner& {
                return keyed_depth_corner(keys[i].vertex, positions[i], slot);
            };
            if (apart) {
                const DepthCorner& a = corner(0, sa);
                const DepthCorner& b = corner(1, sb);
                return enter_depth_corners(a, b, corner(2, sc));
            }
            const DepthCorner copies[3] = {corner(0, sa), corner(1, sb), corner(2, sc)};
            return enter_depth_corners(copies[0], copies[1], copies[2]);
        }
        if (apart) {
            // In the corners' order: a corner's making may print the
            // mesh's messages.
            KeyedCorner& a = keyed_corner(keys[0], sa, maker, 0);
            KeyedCorner& b = keyed_corner(keys[1], sb, maker, 1);
            return enter_still(a, b, keyed_corner(keys[2], sc, maker, 2));
        }
        CornerValues corners[3];
        corners[0] = keyed_corner(keys[0], sa, maker, 0).corner;
        corners[1] = keyed_corner(keys[1], sb, maker, 1).corner;
        corners[2] = keyed_corner(keys[2], sc, maker, 2).corner;
        enter_clipped(corners, true);
    }

    // The triangles handed in so far.
    std::size_t made() const { return made_; }

private:
    // A mesh's triangles share corners, each vertex about six: the corners
    // made lately are kept with the point and the transform they were made
    // from, in a table by the point's position, and a point met again
    // takes its corner from there instead of being transformed again (the
    // same point, matrices and flags give the same corner, bit for bit).
    // The table is the thread's, and holds the corners of one sink at a
    // time: an entry of another sink is stale.
    struct KeptCorner {
        std::uint64_t sink = 0;
        SurfacePoint point;
        const Matrix4* eye_from_world = nullptr;
        bool normals = false, projected = false, has_texture = false, has_texture_data = false;
        CornerValues corner;
        // A projected corner's screen position as bucket entry finds it,
        // for the triangles of a pass that is not depth-only.
        double screen[2];
        // The vertex the sink's object stored for the corner, once it has.
        ScreenVertex* vertex = nullptr;
    };
    static constexpr int kKeptCornerBits = 10;
    static KeptCorner* kept_corners() {
        thread_local std::vector<KeptCorner> table(std::size_t{1} << kKeptCornerBits);
        return table.data();
    }
    static std::uint64_t new_sink_id() {
        thread_local std::uint64_t last = 0;
        return ++last;
    }

    // The values from the position to the colour lie side by side: their
    // bytes are compared in four lanes of sixteen and the colour's twelve,
    // with one test at the end. Most points are found, so every value is
    // compared anyway; one comparison each (or one library call for all
    // of them) cost a call or a branch per value.
    static_assert(offsetof(SurfacePoint, normal) == offsetof(SurfacePoint, position) + 24 &&
                  offsetof(SurfacePoint, u) == offsetof(SurfacePoint, normal) + 24 &&
                  offsetof(SurfacePoint, v) == offsetof(SurfacePoint, u) + 8 &&
                  offsetof(SurfacePoint, colour) == offsetof(SurfacePoint, v) + 8 &&
                  sizeof(SurfacePoint::colour) == 12);
    static bool same_point(const SurfacePoint& a, const SurfacePoint& b) {
        const auto* p = reinterpret_cast<const unsigned char*>(a.position);
        const auto* q = reinterpret_cast<const unsigned char*>(b.position);
        auto lane = [&](int at) {
            return _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at)),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + at)));
        };
        const __m128i differ =
            _mm_or_si128(_mm_or_si128(lane(0), lane(16)), _mm_or_si128(lane(32), lane(48)));
        std::uint64_t colour_a, colour_b;
        std::uint32_t last_a, last_b;
        std::memcpy(&colour_a, a.colour, sizeof colour_a);
        std::memcpy(&colour_b, b.colour, sizeof colour_b);
        std::memcpy(&last_a, &a.colour[2], sizeof last_a);
        std::memcpy(&last_b, &b.colour[2], sizeof last_b);
        return _mm_movemask_epi8(_mm_cmpeq_epi8(differ, _mm_setzero_si128())) == 0xffff &&
               ((colour_a ^ colour_b) | (last_a ^ last_b)) == 0 && a.has_colour == b.has_colour;
    }

    static std::size_t slot_of(const SurfacePoint& p) {
        std::uint64_t bits[3];
        std::memcpy(bits, p.position, sizeof bits);
        const std::uint64_t h = (bits[0] * 0x9e37'79b9'7f4a'7c15ULL) ^
                                (bits[1] * 0xc2b2'ae3d'27d4'eb4fULL) ^
                                (bits[2] * 0x1656'67b1'9e37'79f9ULL);
        return static_cast<std::size_t>(h >> (64 - kKeptCornerBits));
    }

    // The kept corner of `p`, whose slot is `slot`. With `project`, its
    // screen values are filled too.
    KeptCorner& kept_corner(const SurfacePoint& p, std::size_t slot, const Matrix4& eye_from_world,
                            bool normals, bool project) {
        if (kept_ == nullptr) kept_ = kept_corners();
        KeptCorner& k = kept_[slot];
        if (k.sink != sink_ || k.eye_from_world != &eye_from_world || k.normals != normals ||
            k.projected != project || k.has_texture != storage_.has_texture ||
            k.has_texture_data != storage_.has_texture_data || !same_point(k.point, p)) {
            k.sink = sink_;
            k.point = p;
            k.eye_from_world = &eye_from_world;
            k.normals = normals;
            k.projected = project;
            k.has_texture = storage_.has_texture;
            k.has_texture_data = storage_.has_texture_data;
            k.corner = corner_of(p, placement_, eye_from_world, storage_, normals);
            k.vertex = nullptr;
            if (project) {
                project_corner(view_, k.corner);
                if (!storage_.depth_only) {
                    const SpanPoint screen = project_to_screen(view_, k.corner.eye);
                    k.screen[0] = screen.x, k.screen[1] = screen.y;
                }
            }
        }
        return k;
    }

    // The corner of `p` into `out`, as kept_corner.
    void corner(const SurfacePoint& p, const Matrix4& eye_from_world, bool normals, bool project,
                CornerValues& out) {
        out = kept_corner(p, slot_of(p), eye_from_world, normals, project).corner;
    }

    // A still triangle of projected corners kept in a table, as
    // enter_clipped enters it, without copying them when nothing cuts it.
    template <typename Kept>
    void enter_still(Kept& a, Kept& b, Kept& c) {
        const float near = -view_.near, far = -view_.far;
        const float za = a.corner.eye[2], zb = b.corner.eye[2], zc = c.corner.eye[2];
        if (za < far && zb < far && zc < far) return;
        if (za <= near && zb <= near && zc <= near) {
            const double screen[3][2] = {
                {a.screen[0], a.screen[1]}, {b.screen[0], b.screen[1]}, {c.screen[0], c.screen[1]}};
            ScreenVertex** const known[3] = {&a.vertex, &b.vertex, &c.vertex};
            enter_triangle(storage_, a.corner, b.corner, c.corner, view_.split_depth, screen,
                           known);
            return;
        }
        CornerValues corners[3] = {a.corner, b.corner, c.corner};
        enter_clipped(corners, true);
    }

    static void finish_normals(const void* context, CornerValues& corner) {
        const auto& sink = *static_cast<const EntrySink*>(context);
        set_normals(corner, to_triple(corner.normal), sink.placement_, sink.view_.eye_from_world);
    }

    // A depth-only object needs the normals only to count its vertices,
    // and only where two corners agree in everything else: a triangle
    // wholly in front of the near plane and within the guard band, whose
    // corners are entered as they are, leaves them to be made then. One
    // that is cut or split has its corners blended, normals and all.
    void enter_depth(const SurfacePoint& a, const SurfacePoint& b, const SurfacePoint& c) {
        if (!storage_.counts_vertices) return enter_depth_positions(a, b, c);
        const Matrix4& eye_from_world = view_.eye_from_world;
        CornerValues corners[3];
        corner(a, eye_from_world, false, true, corners[0]);
        corner(b, eye_from_world, false, true, corners[1]);
        corner(c, eye_from_world, false, true, corners[2]);
        bool whole = true;
        for (const CornerValues& corner : corners) {
            whole = whole && corner.eye[2] <= -view_.near &&
                    std::fabs(corner.screen[0]) <= view_.guard_x &&
                    std::fabs(corner.screen[1]) <= view_.guard_y;
        }
        if (!whole) {
            for (CornerValues& corner : corners)
                set_normals(corner, to_triple(corner.normal), placement_, eye_from_world);
            enter_clipped(corners);
            return;
        }
        // Nothing to cut: entered as enter_clipped would, without its copies.
        const float far = -view_.far;
        if (corners[0].eye[2] < far && corners[1].eye[2] < far && corners[2].eye[2] < far) return;
        storage_.corners_pending = true;
        enter_triangle(storage_, corners[0], corners[1], corners[2], view_.split_depth);
        storage_.corners_pending = false;
    }

    // enter_depth for an object whose vertices are not counted: a depth
    // triangle is made of its corners' eye and screen positions alone,
    // which the point's position decides, so a corner is kept by position
    // and carries nothing else. The positions are those corner() makes,
    // bit for bit.
    void enter_depth_positions(const SurfacePoint& a, const SurfacePoint& b,
                               const SurfacePoint& c) {
        const std::size_t sa = slot_of(a), sb = slot_of(b), sc = slot_of(c);
        // Three places of the table are read where they are; corners that
        // share a place are copied out first.
        DepthCorner copies[3];
        const DepthCorner* corners[3];
        if (sa != sb && sb != sc && sa != sc) {
            corners[0] = &depth_corner(a, sa);
            corners[1] = &depth_corner(b, sb);
            corners[2] = &depth_corner(c, sc);
        } else {
            copies[0] = depth_corner(a, sa);
            copies[1] = depth_corner(b, sb);
            copies[2] = depth_corner(c, sc);
            corners[0] = &copies[0], corners[1] = &copies[1], corners[2] = &copies[2];
        }
        enter_depth_corners(*corners[0], *corners[1], *corners[2]);
    }

    void enter_depth_corners(const DepthCorner& a, const DepthCorner& b, const DepthCorner& c) {
        if (!(a.whole && b.whole && c.whole)) {
            // Cut or split: the corners' other values stay zero for the
            // cut's blends.
            const DepthCorner* corners[3] = {&a, &b, &c};
            for (int i = 0; i < 3; ++i) {
                std::memcpy(depth_corners_[i].eye, corners[i]->eye, sizeof corners[i]->eye);
                std::memcpy(depth_corners_[i].screen, corners[i]->screen,
                            sizeof corners[i]->screen);
            }
            return enter_clipped(depth_corners_);
        }
        if (a.beyond_far && b.beyond_far && c.beyond_far) return;
        enter_depth_triangle(storage_, view_, a, b, c);
    }

    struct KeptPosition {
        std::uint64_t sink = 0;
        double position[3] = {0, 0, 0};
        DepthCorner corner{};
    };
    static KeptPosition* kept_positions() {
        thread_local std::vector<KeptPosition> table(std::size_t{1} << kKeptCornerBits);
        return table.data();
    }

    const DepthCorner& depth_corner(const SurfacePoint& p, std::size_t slot) {
        if (kept_positions_ == nullptr) kept_positions_ = kept_positions();
        KeptPosition& k = kept_positions_[slot];
        if (k.sink != sink_ || std::memcmp(k.position, p.position, sizeof k.position) != 0) {
            k.sink = sink_;
            std::memcpy(k.position, p.position, sizeof k.position);
            const Triple world = AR_model_xform(object_position(p), placement_.model);
            store3(transform_point(world, view_.eye_from_world), k.corner.eye);
            make_depth_corner(view_, k.corner);
        }
        return k.corner;
    }

    // The corners of keyed triangles, in tables of the thread's like the
    // kept corners, by the key's vertex: a mesh's triangles meet their
    // vertices in runs of nearby indices, which a table of consecutive
    // indices holds without collisions. A corner whose point is not its
    // key's alone is held for its triangle and never found again.
    struct KeyedCorner {
        std::uint64_t sink = 0;
        CornerKey key{-1, -1, -1};
        CornerValues corner;
        double screen[2];
        ScreenVertex* vertex = nullptr;
    };
    struct KeyedPosition {
        std::uint64_t sink = 0;
        std::int32_t vertex = -1;
        DepthCorner corner{};
    };
    struct KeyedTables {
        std::vector<KeyedCorner> corners;
        std::vector<KeyedPosition> positions;
    };
    // Made on first use: a thread that enters no keyed triangle never
    // touches their pages.
    static KeyedTables* keyed_corners_table() {
        thread_local KeyedTables tables;
        if (tables.corners.empty()) {
            tables.corners.resize(std::size_t{1} << kKeptCornerBits);
            tables.positions.resize(std::size_t{1} << kKeptCornerBits);
        }
        return &tables;
    }
    static std::size_t keyed_slot(const CornerKey& key) {
        return static_cast<std::size_t>(key.vertex) & ((std::size_t{1} << kKeptCornerBits) - 1);
    }

    // The corner of a still object's keyed corner i, projected, as
    // kept_corner makes it from the point.
    KeyedCorner& keyed_corner(const CornerKey& key, std::size_t slot, CornerMaker& maker, int i) {
        KeyedCorner& k = keyed_->corners[slot];
        if (k.sink != sink_ || !(k.key == key)) {
            SurfacePoint p;
            const bool own = maker.make_corner(i, p);
            k.sink = own ? sink_ : 0;
            k.key = key;
            k.corner = corner_of(p, placement_, view_.eye_from_world, storage_, true);
            k.vertex = nullptr;
            project_corner(view_, k.corner);
            const SpanPoint screen = project_to_screen(view_, k.corner.eye);
            k.screen[0] = screen.x, k.screen[1] = screen.y;
        }
        return k;
    }

    // depth_corner of a keyed corner: the position decides it, and the
    // vertex the position.
    const DepthCorner& keyed_depth_corner(std::int32_t vertex, const float* position,
                                          std::size_t slot) {
        KeyedPosition& k = keyed_->positions[slot];
        if (k.sink != sink_ || k.vertex != vertex) {
            k.sink = sink_;
            k.vertex = vertex;
            const Triple world =
                AR_model_xform(Triple{position[0], position[1], position[2]}, placement_.model);
            store3(transform_point(world, view_.eye_from_world), k.corner.eye);
            make_depth_corner(view_, k.corner);
        }
        return k.corner;
    }

    // The frame position and the motion through the shutter, from the
    // paired close triangle (none: the vertex stays where it is).
    void enter_moving(CornerValues* open) {
        const std::size_t first = made_ * 3;
        const bool paired = close_ != nullptr && first + 3 <= close_->size();
        // A triangle that reaches in front of the near plane at any time of
        // the shutter has no screen position then: it is clipped and
        // entered still, where the frame time puts it.
        bool near_eye = false;
        for (int i = 0; i < 3; ++i) {
            CornerValues& o = open[i];
            near_eye = near_eye || o.eye[2] > -view_.near;
            if (!paired) {
                std::memset(o.motion, 0, sizeof o.motion);
                continue;
            }
            const CornerValues& c = (*close_)[first + i];
            near_eye = near_eye || c.eye[2] > -view_.near;
            CornerValues frame = blend(o, c, view_.frame_fraction);
            float* m = frame.motion;
            for (int k = 0; k < 3; ++k) {
                m[k] = frame.eye[k] - o.eye[k];
                m[3 + k] = c.eye[k] - frame.eye[k];
                m[6 + k] = c.world[k] - o.world[k];
                m[9 + k] = c.normal[k] - o.normal[k];
            }
            m[12] = c.texture[0] - o.texture[0];
            m[13] = c.texture[1] - o.texture[1];
            m[14] = 0;
            o = frame;
        }
        if (frame_only_ || near_eye) {
            for (int i = 0; i < 3; ++i) std::memset(open[i].motion, 0, sizeof open[i].motion);
            enter_clipped(open);
            return;
        }
        for (int i = 0; i < 3; ++i) project_corner(view_, open[i]);
        enter_triangle(storage_, open[0], open[1], open[2], view_.split_depth);
    }

    // A triangle reaching behind the near plane keeps only its part in
    // front of it: behind the eye the projection would turn it inside out.
    // `projected`: the corners' screen values are filled already.
    void enter_clipped(CornerValues* v, bool projected = false) {
        const float near = -view_.near, far = -view_.far;
        if (v[0].eye[2] < far && v[1].eye[2] < far && v[2].eye[2] < far) return;
        // Most triangles lie wholly in front: entered as they are, which
        // is what the cut below leaves of them.
        if (projected && v[0].eye[2] <= near && v[1].eye[2] <= near && v[2].eye[2] <= near) {
            enter_triangle(storage_, v[0], v[1], v[2], view_.split_depth);
            return;
        }
        CornerValues kept[4];
        int count = 0;
        for (int i = 0; i < 3; ++i) {
            const CornerValues& p = v[i];
            const CornerValues& q = v[(i + 1) % 3];
            const bool p_in = p.eye[2] <= near, q_in = q.eye[2] <= near;
            if (p_in) kept[count++] = p;
            if (p_in != q_in) {
                CornerValues cut = blend(p, q, (near - p.eye[2]) / (q.eye[2] - p.eye[2]));
                cut.eye[2] = near;
                kept[count++] = cut;
            }
        }
        if (count < 3) return;
        for (int i = 0; i < count; ++i) project_corner(view_, kept[i]);
        enter_triangle(storage_, kept[0], kept[1], kept[2], view_.split_depth);
        if (count == 4) enter_triangle(storage_, kept[0], kept[2], kept[3], view_.split_depth);
    }

    ObjectTriangles& storage_;
    const TransformValue& placement_;
    const GeometryView& view_;
    const std::vector<CornerValues>* close_;
    bool frame_only_;
    std::size_t made_ = 0;
    // The tables are the thread's, fetched on first use: a thread that
    // only enters keyed triangles never touches these pages.
    KeptCorner* kept_ = nullptr;
    KeptPosition* kept_positions_ = nullptr;
    KeyedTables* keyed_ = nullptr;
    // enter_depth_positions' corners to cut, whose values other than the
    // positions stay zero.
    CornerValues depth_corners_[3]{};
    std::uint64_t sink_ = new_sink_id();
};

bool run_tessellator(const RenderObject& object, const GeometryCommon& geometry, float orientation,
                     TriangleSink& sink) {
    const char* name = object.name ? object.name : "";
    switch (object.type) {
        case SDL_PATCH:
            return tessellators().patch(static_cast<const PatchGeometry&>(geometry), name, sink);
        case SDL_FACE:
            return tessellators().face(static_cast<const FaceGeometry&>(geometry), name,
                                       orientation, sink);
        case SDL_POLYSET:
            return tessellators().polyset(static_cast<const PolysetGeometry&>(geometry), name,
                                          sink);
        default:
            rptError("Unknown object type %d\n", object.type);
            return false;
    }
}

struct TessellationJob {
    const RenderObject& object;
    const GeometryCommon& geometry;
    float orientation;
};

bool run_job(const void* context, TriangleSink& sink) {
    const auto& job = *static_cast<const TessellationJob*>(context);
    return run_tessellator(job.object, job.geometry, job.orientation, sink);
}

// Parts small enough for the workers to share the work evenly, large
// enough that joining them costs nothing and their blocks are large.
constexpr std::size_t kFewestPolygonsPerPart = 16384;
constexpr std::size_t kMostPolygonsPerPart = 65536;

std::size_t polygons_per_part(std::size_t polygons) {
    return std::clamp(polygons / 8, kFewestPolygonsPerPart, kMostPolygonsPerPart);
}

// The parts shrink towards the end, to a quarter of what is left: the
// workers take them in order, and one that finds none left waits for the
// last parts in other hands, which are then small.
constexpr std::size_t kFewestPolygonsInLastParts = 8192;

std::vector<std::size_t> plan_parts(std::size_t polygons) {
    const std::size_t per_part = polygons_per_part(polygons);
    std::vector<std::size_t> first{0};
    std::size_t left = polygons;
    while (left > 0) {
        const std::size_t part =
            std::min(left, std::clamp(left / 4, kFewestPolygonsInLastParts, per_part));
        first.push_back(first.back() + part);
        left -= part;
    }
    return first;
}

// A polyset large enough for the workers to share, made by the tessellator
// whose parts join into what it makes whole.
bool large_mesh(const RenderObject& object, const GeometryCommon& geometry) {
    if (object.type != SDL_POLYSET || tessellators().polyset != tessellate_polyset) return false;
    const auto& polyset = static_cast<const PolysetGeometry&>(geometry);
    return polyset.mesh && polyset.mesh->polygon_count >= 2 * kFewestPolygonsPerPart;
}

bool made_in_parts(const RenderObject& object, const GeometryCommon& geometry,
                   const ObjectTriangles& storage, const SaveTicket& ticket) {
    return !storage.moving && ticket.mode == kSaveOff && large_mesh(object, geometry);
}

// Opens the polyset's parts to every worker; with `close`, each part
// pairs the same polygons of the shutter-close half with its own.
void open_parts(RenderObject& object, const PolysetGeometry& polyset, ObjectTriangles& storage,
                const TransformValue& placement, SharedTessellation& shared,
                const PolysetGeometry* close = nullptr,
                const TransformValue* close_placement = nullptr) {
    shared.object = &object;
    shared.polyset = &polyset;
    shared.placement = &placement;
    prepare_polyset_parts(polyset, shared.prepared);
    shared.part_first = plan_parts(shared.prepared.polygons);
    shared.part_count = static_cast<int>(shared.part_first.size() - 1);
    shared.parts.clear();
    shared.rows = holder_rows(storage);
    shared.reports.assign(static_cast<std::size_t>(shared.part_count), PolysetPartReport{});
    shared.close_polyset = close;
    shared.close_placement = close_placement;
    if (close != nullptr) prepare_polyset_parts(*close, shared.close_prepared);
    shared.close_reports.assign(close ? shared.reports.size() : 0, PolysetPartReport{});
    shared.paired.assign(close ? shared.reports.size() : 0, 1);
    for (int k = 0; k < shared.part_count; ++k) {
        auto part = std::make_unique<ObjectTriangles>(&object);
        part->moving = storage.moving;
        part->depth_only = storage.depth_only;
        part->counts_vertices = storage.counts_vertices;
        part->exact_normals = storage.exact_normals;
        part->has_texture = storage.has_texture;
        part->has_texture_data = storage.has_texture_data;
        // Blocks of the part's size from the start: a few large blocks,
        // which reuse the pages the pass before freed.
        const auto k_part = static_cast<std::size_t>(k);
        const auto expected =
            static_cast<std::int64_t>(shared.part_first[k_part + 1] - shared.part_first[k_part]);
        (part->depth_only ? part->depth_triangles : part->triangles).expect(expected);
        if (!part->depth_only) part->vertices.expect(expected / 2);
        shared.parts.push_back(std::move(part));
    }
    shared.next_part.store(0, std::memory_order_relaxed);
    shared.parts_done.store(0, std::memory_order_relaxed);
    shared.open.store(true, std::memory_order_release);
    note_tessellation_progress();
}

// Takes parts until none is left, then waits for those in other hands.
void finish_parts(SharedTessellation& shared) {
    help_tessellate(shared);
    for (int done = shared.parts_done.load(std::memory_order_acquire); done < shared.part_count;
         done = shared.parts_done.load(std::memory_order_acquire))
        shared.parts_done.wait(done, std::memory_order_acquire);
    shared.open.store(false, std::memory_order_relaxed);
}

void join_parts(RenderObject& object, ObjectTriangles& storage, SharedTessellation& shared) {
    std::vector<ObjectTriangles*> parts;
    for (const auto& part : shared.parts) parts.push_back(part.get());
    join_part_bins(storage, parts);
    shared.binned = true;
    for (auto& part : shared.parts) append_object_triangles(storage, *part);
    shared.parts.clear();
    const char* name = object.name ? object.name : "";
    // The shutter-close half was tessellated first, as one worker does.
    if (shared.close_polyset != nullptr) report_polyset_parts(name, shared.close_reports);
    report_polyset_parts(name, shared.reports);
}

// A moving polyset whose halves are both large meshes, made as one worker
// would make them: moving objects are never saved, so nothing else stands
// in the way.
bool paired_in_parts_allowed(const RenderObject& object, const GeometryCommon& close) {
    const auto* open = static_cast<const GeometryCommon*>(
        object.open_geometry ? object.open_geometry : object.geometry);
    return large_mesh(object, *open) && large_mesh(object, close);
}

void tessellate_in_parts(RenderObject& object, const PolysetGeometry& polyset,
                         ObjectTriangles& storage, const TransformValue& placement,
                         SharedTessellation& shared) {
    open_parts(object, polyset, storage, placement, shared);
    finish_parts(shared);
    join_parts(object, storage, shared);
}

// A moving polyset in parts, swept for a camera or standing at the frame
// time in a depth map; false, with nothing made, when some part's halves
// do not pair triangle for triangle (a polygon that makes triangles at one
// end of the shutter and none at the other), which the pairing of the
// whole object must then settle.
bool paired_in_parts(RenderObject& object, const PolysetGeometry& polyset,
                     const PolysetGeometry& close, ObjectTriangles& storage,
                     const TransformValue& placement, SharedTessellation& shared) {
    open_parts(object, polyset, storage, placement, shared, &close, &object.close_placement);
    finish_parts(shared);
    const bool paired = std::all_of(shared.paired.begin(), shared.paired.end(),
                                    [](char pairs) { return pairs != 0; });
    if (!paired) {
        shared.parts.clear();
        shared.close_polyset = nullptr;
        return false;
    }
    join_parts(object, storage, shared);
    return true;
}

// One part of a polyset: its polygons tessellated and entered.
void make_part(SharedTessellation& shared, std::size_t index) {
    ObjectTriangles& part = *shared.parts[index];
    EntrySink entry(part, *shared.placement, geometry_view(), nullptr);
    Displaced sink(shared.polyset->displacement, *shared.placement, entry);
    tessellate_polyset_part(*shared.polyset, shared.prepared, shared.part_first[index],
                            shared.part_first[index + 1], sink.first(), shared.reports[index]);
}

// One part of a moving polyset: the part's polygons at shutter close, then
// at shutter open, paired into moving triangles, or for a depth map into
// frame-time ones.
void make_paired_part(SharedTessellation& shared, std::size_t index) {
    ObjectTriangles& part = *shared.parts[index];
    const GeometryView& view = geometry_view();
    const std::size_t first = shared.part_first[index];
    const std::size_t last = shared.part_first[index + 1];
    // A part's shutter-close corners are tens of megabytes: each worker
    // keeps its list from part to part rather than growing fresh pages
    // for every one.
    thread_local std::vector<CornerValues> close_corners;
    close_corners.clear();
    {
        const PolysetGeometry& close = *shared.close_polyset;
        CloseRecorder recorder(*shared.close_placement, view.eye_from_world_close, part,
                               close_corners);
        Displaced into(close.displacement, *shared.close_placement, recorder);
        tessellate_polyset_part(close, shared.close_prepared, first, last, into.first(),
                                shared.close_reports[index]);
    }
    EntrySink entry(part, *shared.placement, view, &close_corners, !part.moving);
    Displaced sink(shared.polyset->displacement, *shared.placement, entry);
    tessellate_polyset_part(*shared.polyset, shared.prepared, first, last, sink.first(),
                            shared.reports[index]);
    shared.paired[index] = entry.made() * 3 == close_corners.size() ? 1 : 0;
}

std::atomic<std::uint32_t> progress{0};

}  // namespace

std::uint32_t tessellation_progress() {
    return progress.load(std::memory_order_acquire);
}

void note_tessellation_progress() {
    progress.fetch_add(1, std::memory_order_acq_rel);
    progress.notify_all();
}

void wait_for_tessellation_progress(std::uint32_t seen) {
    progress.wait(seen, std::memory_order_acquire);
}

void prepare_frame_polysets() {
    ObjectList& objects = frame_objects();
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const RenderObject& object = objects[i];
        for (void* geometry : {object.geometry, object.open_geometry, object.close_geometry})
            if (geometry != nullptr &&
                large_mesh(object, *static_cast<const GeometryCommon*>(geometry)))
                keep_polyset_normals(*static_cast<const PolysetGeometry*>(geometry));
    }
}

bool help_tessellate(SharedTessellation& shared) {
    if (!shared.open.load(std::memory_order_acquire)) return false;
    bool helped = false;
    for (;;) {
        const int k = shared.next_part.fetch_add(1, std::memory_order_acq_rel);
        if (k >= shared.part_count) return helped;
        const auto index = static_cast<std::size_t>(k);
        if (shared.close_polyset != nullptr)
            make_paired_part(shared, index);
        else
            make_part(shared, index);
        ObjectTriangles& part = *shared.parts[index];
        trim_object_triangles(part);
        if (part.depth_only)
            bin_depth_triangles(part, shared.rows);
        else
            bin_object_triangles(part, geometry_view(), shared.rows);
        shared.parts_done.fetch_add(1, std::memory_order_acq_rel);
        shared.parts_done.notify_all();
        helped = true;
    }
}

bool tessellate_object(RenderObject& object, ObjectTriangles& storage, SharedTessellation* shared) {
    clear_object_triangles(storage);
    if (shared != nullptr) shared->binned = false;
    const auto* geometry = static_cast<const GeometryCommon*>(object.geometry);
    if (geometry == nullptr) {
        rptError("Invalid/missing tesselation object\n");
        return false;
    }
    const GeometryView& view = geometry_view();
    const auto* close = static_cast<const GeometryCommon*>(object.close_geometry);
    const bool has_motion = object.moving && object.has_close && close != nullptr;
    storage.moving = view.motion_blur && has_motion;
    // Without motion blur for this pass (a depth map), a moving object
    // stands where the frame time puts it.
    const bool frame_only = !view.motion_blur && has_motion;
    // A moving object keeps its screen triangles for its motion; in a
    // depth map it has none, and its frame-time corners, blended from the
    // paired halves, make depth triangles like a still object's.
    storage.depth_only = view.depth_only && (frame_only || !has_motion);
    storage.counts_vertices = !storage.depth_only || !render_options().quiet;
    storage.exact_normals = object.type == SDL_POLYSET;
    storage.has_texture = false;
    storage.has_texture_data = false;
    if (object.type == SDL_POLYSET) {
        const auto& polyset = static_cast<const PolysetGeometry&>(*geometry);
        storage.has_texture = polyset.mesh && !polyset.mesh->texture_vertices.empty();
        storage.has_texture_data = polyset.colour_flag;
    }

    TransformState& state = transform_state();
    if (shared != nullptr && (storage.moving || frame_only) &&
        paired_in_parts_allowed(object, *close)) {
        const TransformValue placement = state.value;
        if (object.open_geometry != nullptr) state.value = object.open_placement;
        const auto& open = static_cast<const PolysetGeometry&>(
            object.open_geometry ? *static_cast<const GeometryCommon*>(object.open_geometry)
                                 : *geometry);
        if (paired_in_parts(object, open, static_cast<const PolysetGeometry&>(*close), storage,
                            state.value, *shared)) {
            finish_object_triangles(storage);
            return true;
        }
        state.value = placement;
    }
    std::vector<CornerValues> close_corners;
    if (storage.moving || frame_only) {
        // A moving object is entered from its shutter-open half; an
        // instance's placement and geometry are the frame time's.
        if (object.open_geometry != nullptr) {
            geometry = static_cast<const GeometryCommon*>(object.open_geometry);
            state.value = object.open_placement;
        }
        const TransformValue open = state.value;
        state.value = object.close_placement;
        CloseRecorder recorder(state.value, view.eye_from_world_close, storage, close_corners);
        Displaced into(close->displacement, state.value, recorder);
        run_tessellator(object, *close, state.value.orientation, into.first());
        state.value = open;
    }
    EntrySink entry(storage, state.value, view,
                    storage.moving || frame_only ? &close_corners : nullptr, frame_only);
    // Saved geometry keeps the surface as tessellated: the displacement may
    // change while the surface does not.
    Displaced displaced(geometry->displacement, state.value, entry);
    TriangleSink& sink = displaced.first();
    const float orientation = state.value.orientation;
    const SaveTicket ticket =
        Ar_save_mode(object, *geometry, orientation, storage.moving || frame_only);
    bool made = true;
    if (shared != nullptr && !frame_only && made_in_parts(object, *geometry, storage, ticket)) {
        tessellate_in_parts(object, static_cast<const PolysetGeometry&>(*geometry), storage,
                            state.value, *shared);
    } else {
        const TessellationJob job{object, *geometry, orientation};
        made = Ar_check_save(ticket, object.name, sink, run_job, &job);
    }
    // A tessellator may find out that it fails after it has handed on some
    // triangles (a trimmed patch fails by its faces); the object then
    // contributes none of them.
    if (!made) clear_object_triangles(storage);
    finish_object_triangles(storage);
    return made;
}

}  // namespace sky
