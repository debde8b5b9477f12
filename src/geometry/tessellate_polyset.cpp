// Polyset tessellation: the polygons of one shader slot become triangles.
//
// Each polygon is taken in its own best-fit plane: triangles pass straight
// through, larger polygons go to the triangulator (which fans convex ones
// without further ado), so concave and even self-crossing polygons come out
// whole. A corner's normal is the polygon's per-vertex normal, else the
// vertex's, else the area-weighted average of the normals of the polygons
// around the vertex, computed over the whole mesh so that vertices shared by
// two slots shade alike on both sides of the seam.
//
// Damaged meshes never end the run: polygons whose indices point outside the
// mesh, or whose corners are not finite, are left out with one message per
// object; polygons with no area are left out silently, as they would cover
// nothing.
#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "base/vecmath.h"
#include "base/workers.h"
#include "geometry/polygon_plane.h"
#include "geometry/tessellate.h"
#include "geometry/triangulate.h"
#include "platform/report.h"

namespace sky {
namespace {

// A finite, non-zero length, without taking the root: the square is
// positive and finite exactly when its root is.
bool usable(const Vec3& v) {
    const double squared = dot(v, v);
    return squared > 0 && std::isfinite(squared);
}

// The unit vector along `v`, when `v` is usable: the length taken once
// for the test and the division.
bool unit_of(const Vec3& v, Vec3& unit) {
    double size;
    unit = normalise(v, &size);
    return size > 0 && std::isfinite(size);
}

Vec3 to_vec3(const float* p) {
    return {p[0], p[1], p[2]};
}

// Whether the corners' normals, summed, point to the side the winding
// faces away from: the sign of their sum against the unit normal. Against
// the area vector it is the same sign unless the sum nearly vanishes, and
// that spares most polygons their root and divisions; only then is the
// unit normal made, and decides as it always did.
template <class UnitNormal>
bool faces_away(const Vec3& normal_sum, const Vec3& area, UnitNormal&& unit_normal) {
    const double p0 = normal_sum[0] * area[0], p1 = normal_sum[1] * area[1],
                 p2 = normal_sum[2] * area[2];
    const double sum = p0 + p1 + p2;
    if (std::fabs(sum) > 1e-9 * (std::fabs(p0) + std::fabs(p1) + std::fabs(p2))) return sum < 0;
    return dot(normal_sum, unit_normal()) < 0;
}

Vec3 position(const PolysetMesh& mesh, std::int32_t index) {
    return to_vec3(mesh.vertex_records[static_cast<std::size_t>(index)]);
}

template <class Index>
bool in_range(Index index, std::size_t size) {
    return index >= 0 && static_cast<std::size_t>(index) < size;
}

// Every index of the polygon names something the mesh has.
bool indices_valid(const PolysetMesh& mesh, const PolygonView& polygon) {
    std::size_t n = polygon.vertices.size();
    for (std::int32_t index : polygon.vertices)
        if (!in_range(index, mesh.vertex_count())) return false;
    if (!polygon.texture_vertices.empty()) {
        if (polygon.texture_vertices.size() != n) return false;
        for (std::int32_t index : polygon.texture_vertices)
            if (!in_range(index, mesh.texture_vertices.size())) return false;
    }
    if (!polygon.normals.empty()) {
        if (polygon.normals.size() != n) return false;
        for (std::int32_t index : polygon.normals)
            if (!in_range(index, mesh.normals.size())) return false;
    }
    return true;
}

Vec3 polygon_area_vector(const PolysetMesh& mesh, const PolygonView& polygon) {
    if (polygon.vertices.size() == 3) {
        // Most polygons: each corner read once, where the loop reads each
        // twice; the same sums in the same order.
        const Vec3 corners[3] = {position(mesh, polygon.vertices[0]),
                                 position(mesh, polygon.vertices[1]),
                                 position(mesh, polygon.vertices[2])};
        return newell_normal(3, [&](std::size_t i) -> const Vec3& { return corners[i]; });
    }
    return newell_normal(polygon.vertices.size(), [&](std::size_t i) -> Vec3 {
        return position(mesh, polygon.vertices[i]);
    });
}

bool vertex_has_normal(const PolysetMesh& mesh, std::size_t index) {
    return mesh.has_normal(index) &&
           usable(to_vec3(mesh.vertex_records[index] + mesh.vertex_normal_at));
}

// A corner has a normal of its own when the polygon or the vertex gives one.
bool corner_has_normal(const PolysetMesh& mesh, const PolygonView& polygon, std::size_t i) {
    if (!polygon.normals.empty() &&
        usable(to_vec3(mesh.normals[static_cast<std::size_t>(polygon.normals[i])])))
        return true;
    return vertex_has_normal(mesh, static_cast<std::size_t>(polygon.vertices[i]));
}

// Whether a corner of polygons first .. last − 1 of the slot has no normal
// of its own, so that the mesh's computed normals are wanted.
bool corners_lack_normals(const PolysetMesh& mesh, std::int32_t slot, std::size_t first,
                          std::size_t last) {
    for (std::size_t k = first; k < last; ++k) {
        const PolygonView polygon = mesh.polygon(k);
        if (polygon.shader != slot || !indices_valid(mesh, polygon)) continue;
        for (std::size_t i = 0; i < polygon.vertices.size(); ++i)
            if (!corner_has_normal(mesh, polygon, i)) return true;
    }
    return false;
}

// What a pass found of a polygon; a later pass over the same mesh repeats
// it without the index check, the area vector and the corners' normal sum.
enum Verdict : std::uint8_t {
    kUnjudged = 0,
    kBadIndices,
    kNoNormal,  // its area vector is not finite
    kNoArea,
    kDrawn,
    kFlipped,  // drawn, wound the other way round
};

class PolysetTessellator final : CornerMaker {
public:
    PolysetTessellator(const PolysetMesh& mesh, std::int32_t slot, const char* name,
                       TriangleSink& sink)
        : mesh_(mesh), slot_(slot), name_(name), sink_(sink), keyed_(sink.keyed_corners()) {}

    void run() {
        prepare(own_computed_);
        computed_ = &own_computed_;
        run_range(0, mesh_.polygon_count);
        if (bad_indices_ > 0)
            rptError("Polyset error: %d polygon(s) with indices out of range left out: %s\n",
                     bad_indices_, name_);
    }

    // The normals of vertices that have none, when some corner needs them.
    void prepare(std::vector<Vec3>& computed) const {
        computed.clear();
        if (needs_computed_normals()) compute_vertex_normals(computed);
    }

    // prepare's normals once the scan has found them wanted.
    void compute(std::vector<Vec3>& computed) const {
        computed.clear();
        compute_vertex_normals(computed);
    }

    // Polygons first .. last − 1, with the normals `prepare` made; the
    // messages go to `report` instead of the error channel.
    void run_part(std::size_t first, std::size_t last, const std::vector<Vec3>& computed,
                  std::atomic<std::uint8_t>* verdicts, PolysetPartReport& report) {
        computed_ = &computed;
        verdicts_ = verdicts;
        report_ = &report;
        run_range(first, last);
        report.bad_indices = bad_indices_;
    }

private:
    void run_range(std::size_t first, std::size_t last) {
        for (std::size_t k = first; k < last; ++k) {
            const PolygonView polygon = mesh_.polygon(k);
            if (polygon.shader != slot_ || polygon.vertices.size() < 3) continue;
            current_ = static_cast<std::int64_t>(k);
            if (verdicts_ == nullptr) {
                judge(polygon);
                continue;
            }
            // Passes over the same polygon may run at once: each finds the
            // same verdict, so whichever store lands is right.
            const std::uint8_t known = verdicts_[k].load(std::memory_order_relaxed);
            if (known != kUnjudged)
                repeat(polygon, static_cast<Verdict>(known));
            else
                verdicts_[k].store(judge(polygon), std::memory_order_relaxed);
        }
    }

    // Every vertex with a usable normal of its own: then every corner has
    // one, whatever its polygon gives. One look at each vertex, where the
    // scan below looks at each corner of every polygon (about six times as
    // many, and this runs on one thread while the others wait for the mesh).
    bool every_vertex_has_normal() const {
        if (mesh_.vertex_normal_at < 0) return false;
        for (std::size_t index = 0; index < mesh_.vertex_count(); ++index)
            if (!vertex_has_normal(mesh_, index)) return false;
        return true;
    }

    bool needs_computed_normals() const {
        if (every_vertex_has_normal()) return false;
        return corners_lack_normals(mesh_, slot_, 0, mesh_.polygon_count);
    }

    // Area-weighted: Newell's vector is as long as twice the polygon's area.
    void compute_vertex_normals(std::vector<Vec3>& computed) const {
        computed.assign(mesh_.vertex_count(), Vec3{0, 0, 0});
        for (std::size_t p = 0; p < mesh_.polygon_count; ++p) {
            const PolygonView polygon = mesh_.polygon(p);
            if (polygon.vertices.size() < 3 || !indices_valid(mesh_, polygon)) continue;
            Vec3 area = polygon_area_vector(mesh_, polygon);
            if (!usable(area)) continue;
            for (std::int32_t index : polygon.vertices) {
                Vec3& sum = computed[static_cast<std::size_t>(index)];
                for (int k = 0; k < 3; ++k) sum[k] += area[k];
            }
        }
    }

    // Inlined: a map's pass over a mesh takes its corners' normals alone.
    [[gnu::always_inline]] Vec3 corner_normal(const PolygonView& polygon, std::size_t i) {
        Vec3 unit;
        if (!polygon.normals.empty() &&
            unit_of(to_vec3(mesh_.normals[static_cast<std::size_t>(polygon.normals[i])]), unit))
            return unit;
        std::size_t index = static_cast<std::size_t>(polygon.vertices[i]);
        KeptUnit& kept = kept_units_[index % kKeptUnits];
        if (kept.index == index) return kept.unit;
        const std::vector<Vec3>& computed = *computed_;
        if ((mesh_.has_normal(index) &&
             unit_of(to_vec3(mesh_.vertex_records[index] + mesh_.vertex_normal_at), unit)) ||
            (index < computed.size() && unit_of(computed[index], unit))) {
            kept = {index, unit};
            return unit;
        }
        // The polygons around the vertex cancel out (two faces back to
        // back): the polygon's own normal is the best guess left.
        message_once(vertex_message_printed_, &PolysetPartReport::vertex_message_at,
                     "Polyset error: vertex has no normal: %s\n");
        normal_from_face_ = true;
        return face_normal();
    }

    // The polygon's unit normal, made when first asked for.
    const Vec3& face_normal() {
        if (!face_normal_made_) {
            face_normal_ = normalise(area());
            face_normal_made_ = true;
        }
        return face_normal_;
    }

    // The polygon's area vector, which a repeated polygon makes only when
    // asked (for its plane or a corner without a normal).
    const Vec3& area() {
        if (!area_made_) {
            area_ = polygon_area_vector(mesh_, *polygon_);
            area_made_ = true;
        }
        return area_;
    }

    void polygon_message() {
        message_once(polygon_message_printed_, &PolysetPartReport::polygon_message_at,
                     "Polyset error: polygon has no normal: %s\n");
    }

    // A message printed once per polyset; a part notes where it arose
    // instead, and the owner prints it in the parts' order.
    void message_once(bool& printed, std::int64_t PolysetPartReport::*at, const char* format) {
        if (printed) return;
        if (report_ != nullptr)
            report_->*at = current_;
        else
            rptError(format, name_);
        printed = true;
    }

    void make_point(const PolygonView& polygon, std::size_t i, SurfacePoint& point) {
        const auto index = static_cast<std::size_t>(polygon.vertices[i]);
        const float* record = mesh_.vertex_records[index];
        point = SurfacePoint{};
        // Written out: as loops of three they stayed loops.
        point.position[0] = record[0];
        point.position[1] = record[1];
        point.position[2] = record[2];
        const Vec3 normal = corner_normal(polygon, i);
        point.normal[0] = normal[0];
        point.normal[1] = normal[1];
        point.normal[2] = normal[2];
        if (!polygon.texture_vertices.empty()) {
            const float* uv =
                mesh_.texture_vertices[static_cast<std::size_t>(polygon.texture_vertices[i])];
            point.u = uv[0];
            point.v = uv[1];
        }
        if (mesh_.has_colour(index)) {
            for (int k = 0; k < 3; ++k) point.colour[k] = mesh_.colours[index][k];
            point.has_colour = true;
        }
    }

    // Every corner of the polygon, in one loop for both kinds of pass (a
    // call per corner cost more than the corner's copies); for a keyed
    // triangle, whether each point is its key's alone.
    const std::vector<SurfacePoint>& make_corners(const PolygonView& polygon) {
        std::vector<SurfacePoint>& corners = corners_;
        const std::size_t n = polygon.vertices.size();
        corners.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            normal_from_face_ = false;
            make_point(polygon, i, corners[i]);
            if (i < 3) corner_keyed_[i] = !normal_from_face_;
        }
        corners_made_ = true;
        return corners;
    }

    // A keyed triangle's corner for its sink: one the polygon's pass made
    // already, or made now.
    bool make_corner(int i, SurfacePoint& point) override {
        const auto corner = static_cast<std::size_t>(keyed_order_[i]);
        if (corners_made_) {
            point = corners_[corner];
            return corner_keyed_[corner];
        }
        normal_from_face_ = false;
        make_point(*polygon_, corner, point);
        return !normal_from_face_;
    }

    // A triangle by its corners' keys, for a sink that keeps corners by
    // key: the points are made only when it asks.
    void emit_keyed(const PolygonView& polygon, bool flip) {
        static constexpr int kOrders[2][3] = {{0, 1, 2}, {0, 2, 1}};
        keyed_order_ = kOrders[flip ? 1 : 0];
        CornerKey keys[3];
        const float* positions[3];
        for (int i = 0; i < 3; ++i) {
            const auto corner = static_cast<std::size_t>(keyed_order_[i]);
            keys[i].vertex = polygon.vertices[corner];
            keys[i].normal = polygon.normals.empty() ? -1 : polygon.normals[corner];
            keys[i].texture =
                polygon.texture_vertices.empty() ? -1 : polygon.texture_vertices[corner];
            positions[i] = mesh_.vertex_records[static_cast<std::size_t>(keys[i].vertex)];
        }
        sink_.add_keyed_triangle(keys, positions, *this);
    }

    bool keyed(const PolygonView& polygon) const {
        return keyed_ != KeyedCorners::none && polygon.vertices.size() == 3;
    }

    // The corners' normals, each as its point takes it, in the order
    // making the points finds them (the same messages).
    Vec3 normal_sum_of_corners(const PolygonView& polygon) {
        Vec3 sum{0, 0, 0};
        for (std::size_t i = 0; i < polygon.vertices.size(); ++i) {
            const Vec3 normal = corner_normal(polygon, i);
            for (int k = 0; k < 3; ++k) sum[k] += normal[k];
        }
        return sum;
    }

    // The polygon tessellated, and what was found of it.
    Verdict judge(const PolygonView& polygon) {
        if (!mesh_.indices_checked && !indices_valid(mesh_, polygon)) {
            ++bad_indices_;
            return kBadIndices;
        }
        polygon_ = &polygon;
        area_ = polygon_area_vector(mesh_, polygon);
        area_made_ = true;
        face_normal_made_ = false;
        // The squared length is finite, or zero, exactly when the length is.
        const double squared = dot(area_, area_);
        if (!std::isfinite(squared)) {
            polygon_message();
            return kNoNormal;
        }
        if (squared == 0) return kNoArea;  // no area, nothing to see

        Vec3 normal_sum{0, 0, 0};
        corners_made_ = false;
        if (keyed(polygon) && keyed_ == KeyedCorners::positions) {
            // The sink takes the positions alone: the points are not made.
            normal_sum = normal_sum_of_corners(polygon);
        } else {
            for (const SurfacePoint& corner : make_corners(polygon))
                for (int k = 0; k < 3; ++k) normal_sum[k] += corner.normal[k];
        }
        // Triangles face the side the shading normals point to, even when
        // the corners are wound the other way round.
        bool flip = faces_away(normal_sum, area_, [&]() -> const Vec3& { return face_normal(); });
        triangles(polygon, flip);
        return flip ? kFlipped : kDrawn;
    }

    // The polygon tessellated as `verdict`, found by an earlier pass, says.
    void repeat(const PolygonView& polygon, Verdict verdict) {
        switch (verdict) {
            case kBadIndices:
                ++bad_indices_;
                return;
            case kNoNormal:
                polygon_message();
                return;
            case kNoArea:
                return;
            default:
                break;
        }
        polygon_ = &polygon;
        area_made_ = false;
        face_normal_made_ = false;
        corners_made_ = false;
        if (keyed(polygon)) {
            // Only the messages of making the corners, when nothing else is
            // wanted of them (otherwise the sink asks for those it lacks):
            // none once printed, and none where every vertex gives a
            // usable normal, as the evaluation found.
            if (keyed_ == KeyedCorners::positions && !vertex_message_printed_ &&
                mesh_.every_vertex_normal != 1)
                normal_sum_of_corners(polygon);
            emit_keyed(polygon, verdict == kFlipped);
            return;
        }
        make_corners(polygon);
        triangles(polygon, verdict == kFlipped);
    }

    // The triangles of the polygon whose corners are made.
    void triangles(const PolygonView& polygon, bool flip) {
        std::vector<SurfacePoint>& corners = corners_;
        const std::size_t n = polygon.vertices.size();
        if (n == 3) {
            if (keyed(polygon))
                emit_keyed(polygon, flip);
            else
                emit(corners[0], corners[1], corners[2], flip);
            return;
        }
        PlaneAxes axes;
        plane_axes(area(), axes);
        plane_points_.resize(n);
        for (std::size_t i = 0; i < n; ++i)
            plane_points_[i] = axes.project(position(mesh_, polygon.vertices[i]));
        TriangulateStatus status = triangulate_polygon(plane_points_, triangulation_);
        if (status != TriangulateStatus::ok && status != TriangulateStatus::repaired) return;
        for (const CrossingPoint& crossing : triangulation_.crossings)
            corners.push_back(interpolate(corners[static_cast<std::size_t>(crossing.from)],
                                          corners[static_cast<std::size_t>(crossing.to)],
                                          crossing.t));
        for (const auto& t : triangulation_.triangles)
            emit(corners[static_cast<std::size_t>(t[0])], corners[static_cast<std::size_t>(t[1])],
                 corners[static_cast<std::size_t>(t[2])], flip);
    }

    static SurfacePoint interpolate(const SurfacePoint& a, const SurfacePoint& b, double t) {
        SurfacePoint p;
        Vec3 normal{};
        for (int k = 0; k < 3; ++k) {
            p.position[k] = a.position[k] + t * (b.position[k] - a.position[k]);
            normal[k] = a.normal[k] + t * (b.normal[k] - a.normal[k]);
            p.colour[k] = static_cast<float>(a.colour[k] + t * (b.colour[k] - a.colour[k]));
        }
        if (usable(normal)) normal = normalise(normal);
        for (int k = 0; k < 3; ++k) p.normal[k] = normal[k];
        p.u = a.u + t * (b.u - a.u);
        p.v = a.v + t * (b.v - a.v);
        p.has_colour = a.has_colour && b.has_colour;
        return p;
    }

    void emit(const SurfacePoint& a, const SurfacePoint& b, const SurfacePoint& c, bool flip) {
        if (flip)
            sink_.add_triangle(a, c, b);
        else
            sink_.add_triangle(a, b, c);
    }

    const PolysetMesh& mesh_;
    std::int32_t slot_;
    const char* name_;
    TriangleSink& sink_;
    KeyedCorners keyed_;
    int bad_indices_ = 0;
    bool polygon_message_printed_ = false;
    bool vertex_message_printed_ = false;
    PolysetPartReport* report_ = nullptr;
    std::int64_t current_ = 0;  // the polygon being tessellated
    const PolygonView* polygon_ = nullptr;
    Vec3 area_{};  // its area vector, when made
    bool area_made_ = false;
    Vec3 face_normal_{};
    bool face_normal_made_ = false;
    // Whether the corner being made took the polygon's own normal.
    bool normal_from_face_ = false;
    // Whether corners_ holds the polygon's points, and whether each of a
    // triangle's is its key's alone.
    bool corners_made_ = false;
    bool corner_keyed_[3] = {false, false, false};
    // The polygon's corners in the order the keyed triangle hands them on.
    const int* keyed_order_ = nullptr;
    const std::vector<Vec3>* computed_ = nullptr;
    std::atomic<std::uint8_t>* verdicts_ = nullptr;
    // The unit normals of the vertices met lately, by index: the corners
    // around a vertex (about six in a mesh of triangles) would each take
    // its root and divisions again.
    struct KeptUnit {
        std::size_t index = SIZE_MAX;
        Vec3 unit;
    };
    static constexpr std::size_t kKeptUnits = 512;
    std::array<KeptUnit, kKeptUnits> kept_units_{};
    // Scratch kept per thread so that a mesh of many polygons costs no heap
    // call per polygon once the buffers have grown.
    static thread_local std::vector<Vec3> own_computed_;
    static thread_local std::vector<SurfacePoint> corners_;
    static thread_local std::vector<Point2> plane_points_;
    static thread_local Triangulation triangulation_;
};

thread_local std::vector<Vec3> PolysetTessellator::own_computed_;
thread_local std::vector<SurfacePoint> PolysetTessellator::corners_;
thread_local std::vector<Point2> PolysetTessellator::plane_points_;
thread_local Triangulation PolysetTessellator::triangulation_;

}  // namespace

bool tessellate_polyset(const PolysetGeometry& polyset, const char* name, TriangleSink& sink) {
    if (!polyset.mesh || polyset.mesh->polygon_count == 0) return true;
    PolysetTessellator tessellator(*polyset.mesh, polyset.shader_slot, name ? name : "Polyset",
                                   sink);
    tessellator.run();
    return true;
}

namespace {

// The computed normals of a mesh's slot, kept while the mesh lives: a
// frame's depth maps and cameras all tessellate the same mesh, and the
// scan for corners without normals reads every polygon. The weak pointer
// tells a live mesh from a new one made at a freed one's address.
struct PreparedSlot {
    std::weak_ptr<const PolysetMesh> mesh;
    std::int32_t slot;
    std::shared_ptr<const std::vector<Vec3>> computed;
    std::shared_ptr<std::atomic<std::uint8_t>[]> verdicts;
};
std::mutex prepared_lock;
std::vector<PreparedSlot> prepared_slots;

const PreparedSlot* kept_slot(const PolysetGeometry& polyset) {
    std::erase_if(prepared_slots, [](const PreparedSlot& kept) { return kept.mesh.expired(); });
    for (const PreparedSlot& kept : prepared_slots)
        if (kept.slot == polyset.shader_slot && kept.mesh.lock() == polyset.mesh) return &kept;
    return nullptr;
}

bool kept_normals(const PolysetGeometry& polyset, PolysetParts& parts) {
    std::lock_guard<std::mutex> hold(prepared_lock);
    const PreparedSlot* kept = kept_slot(polyset);
    if (kept == nullptr) return false;
    parts.computed = kept->computed;
    parts.verdicts = kept->verdicts;
    return true;
}

// A sink for the passes that only look at a mesh's normals.
struct NoTriangles : TriangleSink {
    void add_triangle(const SurfacePoint&, const SurfacePoint&, const SurfacePoint&) override {}
};

// Every polygon unjudged.
std::shared_ptr<std::atomic<std::uint8_t>[]> new_verdicts(const PolysetMesh& mesh) {
    return std::shared_ptr<std::atomic<std::uint8_t>[]>(
        new std::atomic<std::uint8_t>[mesh.polygon_count]());
}

}  // namespace

void prepare_polyset_parts(const PolysetGeometry& polyset, PolysetParts& parts) {
    parts.computed.reset();
    parts.verdicts.reset();
    parts.polygons = polyset.mesh ? polyset.mesh->polygon_count : 0;
    if (parts.polygons == 0 || kept_normals(polyset, parts)) return;
    NoTriangles none;
    PolysetTessellator tessellator(*polyset.mesh, polyset.shader_slot, "", none);
    auto computed = std::make_shared<std::vector<Vec3>>();
    tessellator.prepare(*computed);
    parts.computed = computed;
    parts.verdicts = new_verdicts(*polyset.mesh);
    std::lock_guard<std::mutex> hold(prepared_lock);
    prepared_slots.push_back({polyset.mesh, polyset.shader_slot, parts.computed, parts.verdicts});
}

void keep_polyset_normals(const PolysetGeometry& polyset) {
    if (!polyset.mesh || polyset.mesh->polygon_count == 0) return;
    {
        std::lock_guard<std::mutex> hold(prepared_lock);
        if (kept_slot(polyset) != nullptr) return;
    }
    const PolysetMesh& mesh = *polyset.mesh;
    // Most meshes carry a normal at every vertex, and then every corner has
    // one: the vertices settle it, without the polygons (three times as
    // many corners). Otherwise the polygons are read. The parked workers
    // share the reading either way.
    std::atomic<bool> bare_vertex{mesh.every_vertex_normal == 0};
    if (mesh.every_vertex_normal < 0)
        share_ranges(mesh.vertex_count(), 16384, [&](std::size_t first, std::size_t last) {
            for (std::size_t v = first; v < last && !bare_vertex.load(std::memory_order_relaxed);
                 ++v)
                if (!vertex_has_normal(mesh, v)) bare_vertex.store(true, std::memory_order_relaxed);
        });
    std::atomic<bool> lacking{false};
    if (bare_vertex.load())
        share_ranges(mesh.polygon_count, 16384, [&](std::size_t first, std::size_t last) {
            if (lacking.load(std::memory_order_relaxed)) return;
            if (corners_lack_normals(mesh, polyset.shader_slot, first, last))
                lacking.store(true, std::memory_order_relaxed);
        });
    auto computed = std::make_shared<std::vector<Vec3>>();
    if (lacking.load()) {
        NoTriangles none;
        PolysetTessellator(mesh, polyset.shader_slot, "", none).compute(*computed);
    }
    std::lock_guard<std::mutex> hold(prepared_lock);
    prepared_slots.push_back(
        {polyset.mesh, polyset.shader_slot, std::move(computed), new_verdicts(mesh)});
}

bool polyset_vertex_has_normal(const PolysetMesh& mesh, std::size_t index) {
    return vertex_has_normal(mesh, index);
}

void tessellate_polyset_part(const PolysetGeometry& polyset, const PolysetParts& parts,
                             std::size_t first, std::size_t last, TriangleSink& sink,
                             PolysetPartReport& report) {
    if (!polyset.mesh) return;
    PolysetTessellator tessellator(*polyset.mesh, polyset.shader_slot, "", sink);
    static const std::vector<Vec3> none;
    tessellator.run_part(first, std::min(last, polyset.mesh->polygon_count),
                         parts.computed ? *parts.computed : none, parts.verdicts.get(), report);
}

void report_polyset_parts(const char* name, const std::vector<PolysetPartReport>& reports) {
    name = name ? name : "Polyset";
    std::int64_t polygon_at = -1, vertex_at = -1;
    int bad = 0;
    for (const PolysetPartReport& r : reports) {
        if (polygon_at < 0) polygon_at = r.polygon_message_at;
        if (vertex_at < 0) vertex_at = r.vertex_message_at;
        bad += r.bad_indices;
    }
    // In the order a single pass over the polygons would have printed them.
    const bool polygon_first = polygon_at >= 0 && (vertex_at < 0 || polygon_at <= vertex_at);
    if (polygon_first) rptError("Polyset error: polygon has no normal: %s\n", name);
    if (vertex_at >= 0) rptError("Polyset error: vertex has no normal: %s\n", name);
    if (polygon_at >= 0 && !polygon_first)
        rptError("Polyset error: polygon has no normal: %s\n", name);
    if (bad > 0)
        rptError("Polyset error: %d polygon(s) with indices out of range left out: %s\n", bad,
                 name);
}

}  // namespace sky
