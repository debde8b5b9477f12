// Whether two evaluated records are the same geometry with the same
// settings: a moving instance that did not change between evaluations can
// then share one record.
#include <algorithm>
#include <cstring>

#include "geometry/geometry_evaluation.h"

namespace sky {
namespace {

bool same_points(const WeightedPoint& a, const WeightedPoint& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z && a.w == b.w;
}

template <typename T, typename Equal>
bool same_list(const std::vector<T>& a, const std::vector<T>& b, Equal equal) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!equal(a[i], b[i])) return false;
    return true;
}

bool same_records(const MeshRecords<float>& a, const MeshRecords<float>& b, int size) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!std::equal(a[i], a[i] + size, b[i])) return false;
    return true;
}

bool same_common(const GeometryCommon& a, const GeometryCommon& b) {
    return a.type == b.type && a.active == b.active && a.casts_shadow == b.casts_shadow &&
           a.doublesided == b.doublesided && a.opposite == b.opposite &&
           a.reflection_only == b.reflection_only &&
           a.particle_collisions == b.particle_collisions &&
           a.motion_texture_sample_level == b.motion_texture_sample_level &&
           a.motion_shading_samples == b.motion_shading_samples &&
           a.saved_geometry_allowed == b.saved_geometry_allowed && a.shaders == b.shaders &&
           a.lights == b.lights && a.displacement.texture == b.displacement.texture &&
           a.displacement.constant == b.displacement.constant &&
           a.displacement.limit == b.displacement.limit &&
           std::memcmp(a.bound, b.bound, sizeof a.bound) == 0;
}

bool same_surface(const NurbsSurface& a, const NurbsSurface& b) {
    return a.udegree == b.udegree && a.vdegree == b.vdegree && a.ucount == b.ucount &&
           a.vcount == b.vcount && a.uform == b.uform && a.vform == b.vform &&
           a.uknots == b.uknots && a.vknots == b.vknots && same_list(a.cvs, b.cvs, same_points);
}

bool same_patch(const PatchGeometry& a, const PatchGeometry& b) {
    auto same_loop = [](const TrimLoop& x, const TrimLoop& y) { return x.points == y.points; };
    auto same_region = [&](const TrimRegion& x, const TrimRegion& y) {
        return same_list(x.loops, y.loops, same_loop);
    };
    return same_surface(a.surface, b.surface) && same_list(a.trims, b.trims, same_region) &&
           a.tessellator_path == b.tessellator_path && a.adaptive == b.adaptive &&
           a.udivisions == b.udivisions && a.vdivisions == b.vdivisions &&
           a.curvature == b.curvature && a.surface_smoothness == b.surface_smoothness &&
           a.edge_smoothness == b.edge_smoothness &&
           a.displacement_detail == b.displacement_detail &&
           a.limit_edge_length == b.limit_edge_length && a.max_edge_length == b.max_edge_length &&
           a.fixed_grid == b.fixed_grid;
}

bool same_polyset(const PolysetGeometry& a, const PolysetGeometry& b) {
    if (a.shader_slot != b.shader_slot || a.colour_flag != b.colour_flag) return false;
    if (a.mesh == b.mesh) return true;
    if (!a.mesh || !b.mesh) return false;
    const PolysetMesh& x = *a.mesh;
    const PolysetMesh& y = *b.mesh;
    if (x.vertex_count() != y.vertex_count() || x.polygon_count != y.polygon_count ||
        !same_records(x.texture_vertices, y.texture_vertices, 2) ||
        !same_records(x.normals, y.normals, 3) || x.cumulative_areas != y.cumulative_areas)
        return false;
    for (std::size_t i = 0; i < x.vertex_count(); ++i) {
        const PolysetVertex p = x.vertex(i), q = y.vertex(i);
        if (std::memcmp(p.position, q.position, sizeof p.position) != 0 ||
            std::memcmp(p.colour, q.colour, sizeof p.colour) != 0 ||
            std::memcmp(p.normal, q.normal, sizeof p.normal) != 0 || p.has_colour != q.has_colour ||
            p.has_normal != q.has_normal)
            return false;
    }
    auto same_indices = [](const IndexSpan& p, const IndexSpan& q) {
        return p.size() == q.size() && std::equal(p.begin(), p.end(), q.begin());
    };
    for (std::size_t k = 0; k < x.polygon_count; ++k) {
        const PolygonView p = x.polygon(k), q = y.polygon(k);
        if (!same_indices(p.vertices, q.vertices) ||
            !same_indices(p.texture_vertices, q.texture_vertices) ||
            !same_indices(p.normals, q.normals) || p.shader != q.shader)
            return false;
    }
    return true;
}

}  // namespace

bool same_geometry(const GeometryCommon& a, const GeometryCommon& b) {
    if (!same_common(a, b)) return false;
    switch (a.type) {
        case SDL_PATCH:
            return same_patch(static_cast<const PatchGeometry&>(a),
                              static_cast<const PatchGeometry&>(b));
        case SDL_POLYSET:
            return same_polyset(static_cast<const PolysetGeometry&>(a),
                                static_cast<const PolysetGeometry&>(b));
        default:
            return false;  // faces never move
    }
}

}  // namespace sky
