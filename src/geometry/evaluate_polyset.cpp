// A polyset at the current scene time: its switches and shaders as for
// faces, then the mesh: vertices with their colours and normals, texture
// vertices, normals, polygons and the cumulative areas.
#include <array>
#include <atomic>
#include <vector>

#include "base/options.h"
#include "base/workers.h"
#include "geometry/evaluate_common.h"
#include "geometry/geometry_evaluation.h"
#include "geometry/geometry_lists.h"
#include "geometry/tessellate.h"
#include "platform/fatal.h"
#include "sdl/cluster.h"
#include "sdl/expr_internal.h"

namespace sky {
namespace {

// A range of workers' items: large enough that taking one costs nothing,
// small enough that a mesh of a million polygons splits evenly.
constexpr std::size_t kItemsPerRange = 16384;

// Packed vertices are borrowed where the parse left them; vertices written
// with expressions are evaluated into records of the mesh's own.
bool evaluate_vertices(const PolysetDefinition& d, PolysetMesh& mesh) {
    const bool with_st = d.vertices_carry_st && d.texture_vertices == nullptr;
    if (is_packed_list(d.vertices)) {
        const PackedList& packed = *packed_list(d.vertices);
        const auto count = static_cast<std::size_t>(packed.count);
        mesh.vertex_records.borrow(packed.data, packed.stride, count);
        mesh.vertex_normal_at = packed.stride == 9 ? 6 : -1;
        if (with_st) mesh.texture_vertices.borrow(packed.data + 4, packed.stride, count);
        return true;
    }
    mesh.vertex_records.reserve(static_cast<std::size_t>(d.vertex_count));
    mesh.vertex_normal_at = 3;
    return for_each_item(d.vertices, [&](const float*, Expr* node) {
        Expr* cv_node = list_first(node);
        CvValue cv;
        if (!AR_evaluate(SDL_CV, &cv, cv_node, nullptr))
            fatal("Can't evaluate polyset's vertex on line %d\n", cv_node->line);
        float* record = mesh.vertex_records.append();
        record[0] = cv.x, record[1] = cv.y, record[2] = cv.z;
        bool has_normal = false;
        float st[2] = {0, 0};
        for (Expr* part = cv_node->next; part; part = part->next) {
            Triple value;
            if (!AR_evaluate(part->type, &value, part, nullptr)) continue;  // not reported
            if (part->type == SDL_ST) {
                st[0] = value.x, st[1] = value.y;
            } else {
                record[3] = value.x, record[4] = value.y, record[5] = value.z;
                has_normal = true;
            }
        }
        mesh.vertex_has_normal.push_back(has_normal ? 1 : 0);
        if (with_st) {
            float* out = mesh.texture_vertices.append();
            out[0] = st[0], out[1] = st[1];
        }
        return true;
    });
}

// Colours for the first vertices, as many as the list gives.
void evaluate_colours(const PolysetDefinition& d, PolysetMesh& mesh) {
    const std::size_t vertices = mesh.vertex_count();
    if (is_packed_list(d.vertex_colors) && packed_list(d.vertex_colors)->stride >= 3) {
        const PackedList& packed = *packed_list(d.vertex_colors);
        mesh.colours.borrow(packed.data, packed.stride,
                            std::min(static_cast<std::size_t>(packed.count), vertices));
        return;
    }
    for_each_item(d.vertex_colors, [&](const float* packed, Expr* node) {
        if (mesh.colours.size() >= vertices) return false;
        Triple colour;
        if (packed)
            colour = Triple{packed[0], packed[1], packed[2]};
        else if (!AR_evaluate(SDL_COLOUR, &colour, node, nullptr))
            fatal("Can't evaluate polyset's vertex color on line %d\n", node->line);
        float* out = mesh.colours.append();
        out[0] = colour.x, out[1] = colour.y, out[2] = colour.z;
        return true;
    });
}

// Texture vertices (size 2) or normals (size 3).
bool evaluate_points(const Expr* list, std::int32_t type, const char* failure, int size,
                     MeshRecords<float>& out) {
    if (is_packed_list(list) && packed_list(list)->stride >= size) {
        const PackedList& packed = *packed_list(list);
        out.borrow(packed.data, packed.stride, static_cast<std::size_t>(packed.count));
        return true;
    }
    return for_each_item(list, [&](const float* packed, Expr* node) {
        Triple value;
        if (packed)
            value = Triple{packed[0], packed[1], size == 3 ? packed[2] : 0.0f};
        else if (!AR_evaluate(type, &value, node, nullptr)) {
            if (failure) fatal(failure, node->line);
            return false;
        }
        float* point = out.append();
        point[0] = value.x, point[1] = value.y;
        if (size == 3) point[2] = value.z;
        return true;
    });
}

template <typename Indices>
bool in_range(const Indices& indices, std::size_t count) {
    for (std::int32_t index : indices)
        if (index < 0 || static_cast<std::size_t>(index) >= count) return false;
    return true;
}

// A polygon that names no texture vertices takes each vertex's own: the st
// written with the vertex, or else the texture vertex of the same index
// when the list has one for every vertex the polygon uses. Normals likewise.
template <typename Indices>
bool own_texture_vertices(const PolysetDefinition& d, const PolysetMesh& mesh,
                          const Indices& vertices) {
    return (d.vertices_carry_st && !d.texture_vertices) ||
           (d.texture_vertices != nullptr && in_range(vertices, mesh.texture_vertices.size()));
}
template <typename Indices>
bool own_normals(const PolysetDefinition& d, const PolysetMesh& mesh, const Indices& vertices) {
    return d.vertex_normals != nullptr && in_range(vertices, mesh.normals.size());
}

// Whether polygon k names only what exists.
bool polygon_fits(const PolysetDefinition& d, const PolysetMesh& mesh, std::size_t k) {
    const PolygonView polygon = mesh.polygon(k);
    const std::size_t n = polygon.vertices.size();
    return in_range(polygon.vertices, mesh.vertex_count()) &&
           in_range(polygon.texture_vertices, mesh.texture_vertices.size()) &&
           in_range(polygon.normals, mesh.normals.size()) &&
           (polygon.texture_vertices.empty() || polygon.texture_vertices.size() == n) &&
           (polygon.normals.empty() || polygon.normals.size() == n) &&
           polygon.shader < std::max(d.shader_count, 1);
}

// Packed polygons are borrowed, their vertex lists standing in for the
// texture vertex and normal lists they lack where every polygon takes its
// vertices' own; only where some do and some do not is a list made.
void borrow_polygons(const PolysetDefinition& d, const PackedPolygons& p, PolysetMesh& mesh) {
    mesh.polygon_count = static_cast<std::size_t>(p.count);
    mesh.polygon_vertices.borrow(p.offsets, p.vertices);
    mesh.shaders.borrow(p.shaders, 1, mesh.polygon_count);
    // `all` or `none`, when known without reading the polygons: whether every
    // polygon takes its vertices' own.
    enum class Owning { unknown, all, none };
    auto take = [&](const std::int32_t* given, PolygonLists& lists, Owning known, auto&& own) {
        if (given != nullptr) return lists.borrow(p.offsets, given);
        if (known == Owning::none || mesh.polygon_count == 0) return;
        if (known == Owning::all) return lists.borrow(p.offsets, p.vertices);
        std::size_t owning = 0;
        for (std::size_t k = 0; k < mesh.polygon_count; ++k)
            owning += own(mesh.polygon_vertices[k]) ? 1 : 0;
        if (owning == 0) return;
        if (owning == mesh.polygon_count) return lists.borrow(p.offsets, p.vertices);
        for (std::size_t k = 0; k < mesh.polygon_count; ++k) {
            const IndexSpan vertices = mesh.polygon_vertices[k];
            lists.append(vertices.begin(), own(vertices) ? vertices.size() : 0);
        }
    };
    // A million polygons are read here otherwise, on one thread.
    const Owning texture = d.vertices_carry_st && !d.texture_vertices ? Owning::all
                           : d.texture_vertices == nullptr            ? Owning::none
                                                                      : Owning::unknown;
    take(p.texture_vertices, mesh.polygon_texture_vertices, texture,
         [&](const IndexSpan& v) { return own_texture_vertices(d, mesh, v); });
    take(p.normals, mesh.polygon_normals, d.vertex_normals ? Owning::unknown : Owning::none,
         [&](const IndexSpan& v) { return own_normals(d, mesh, v); });
}

// Whether the check the definition made of its packed polygons holds for
// the evaluated lists: every index named an entry of lists of the
// definition's lengths, and these lists are no shorter. A polygon's texture
// vertex and normal lists are its own, or its vertices' where those are in
// range of the list they stand for (borrow_polygons), and its shader slot
// is the one checked.
bool checked_by_definition(const PolysetDefinition& d, const PolysetMesh& mesh) {
    return d.valid && mesh.vertex_count() >= static_cast<std::size_t>(d.vertex_count) &&
           mesh.texture_vertices.size() >= static_cast<std::size_t>(d.texture_vertex_count) &&
           mesh.normals.size() >= static_cast<std::size_t>(d.normal_count);
}

// Indices are checked again: written as expressions they may differ from
// frame to frame. A polygon out of range fails the polyset silently.
bool evaluate_polygons(const PolysetDefinition& d, PolysetMesh& mesh) {
    if (is_packed_polygons(d.polygons)) {
        borrow_polygons(d, *packed_polygons(d.polygons), mesh);
        // A million polygons would be read again here, while the frame
        // waits for its objects.
        if (checked_by_definition(d, mesh)) return true;
        // Checked by every worker: a million polygons are read only here.
        std::atomic<bool> fits{true};
        share_ranges(mesh.polygon_count, kItemsPerRange, [&](std::size_t first, std::size_t last) {
            for (std::size_t k = first; k < last && fits.load(std::memory_order_relaxed); ++k)
                if (!polygon_fits(d, mesh, k)) fits.store(false, std::memory_order_relaxed);
        });
        return fits.load();
    }
    PolysetPolygon polygon;
    return for_each_item(d.polygons, [&](const float*, Expr* node) {
        std::vector<std::int32_t>* lists[3] = {&polygon.vertices, &polygon.texture_vertices,
                                               &polygon.normals};
        Expr* part = list_first(node);
        for (auto* list : lists) {
            list->clear();
            if (part == nullptr) return false;
            bool ok = for_each_item(part, [&](const float* packed, Expr* index) {
                float value = 0;
                if (packed)
                    value = packed[0];
                else if (!AR_evaluate(SDL_SCALAR, &value, index, nullptr))
                    return false;
                list->push_back(truncate_to_int(value));
                return true;
            });
            if (!ok) return false;
            part = part->next;
        }
        float shader = -1;
        if (part == nullptr || !AR_evaluate(SDL_SCALAR, &shader, part, nullptr)) return false;
        polygon.shader = std::max(truncate_to_int(shader), 0);
        if (polygon.texture_vertices.empty() && own_texture_vertices(d, mesh, polygon.vertices))
            polygon.texture_vertices = polygon.vertices;
        if (polygon.normals.empty() && own_normals(d, mesh, polygon.vertices))
            polygon.normals = polygon.vertices;
        mesh.add_polygon(polygon);
        return polygon_fits(d, mesh, mesh.polygon_count - 1);
    });
}

bool evaluate_areas(const PolysetDefinition& d, PolysetMesh& mesh) {
    double sum = 0;
    return for_each_item(d.polygon_areas, [&](const float* packed, Expr* node) {
        float area = 0;
        if (packed)
            area = packed[0];
        else if (!AR_evaluate(SDL_SCALAR, &area, node, nullptr))
            fatal("Can't evaluate polygons area on line %d\n", node->line);
        sum += area;
        mesh.cumulative_areas.push_back(sum);
        return true;
    });
}

// Each range's box on its own, then all of them together: the same box in
// any order. The same reading of the vertices tells whether each gives a
// normal, which the tessellator asks before the frame's passes.
void mesh_bound(PolysetMesh& mesh, double bound[6]) {
    const std::size_t count = mesh.vertex_count();
    std::vector<std::array<double, 6>> boxes((count + kItemsPerRange - 1) / kItemsPerRange);
    std::atomic<bool> bare_vertex{false};
    share_ranges(count, kItemsPerRange, [&](std::size_t first, std::size_t last) {
        double* box = boxes[first / kItemsPerRange].data();
        empty_bound(box);
        bool bare = false;
        for (std::size_t i = first; i < last; ++i) {
            const float* p = mesh.vertex_records[i];
            extend_bound(box, p[0], p[1], p[2]);
            bare = bare || !polyset_vertex_has_normal(mesh, i);
        }
        if (bare) bare_vertex.store(true, std::memory_order_relaxed);
    });
    mesh.every_vertex_normal = bare_vertex.load() ? 0 : 1;
    empty_bound(bound);
    for (const auto& box : boxes)
        for (int corner = 0; corner < 2; ++corner)
            extend_bound(bound, box[corner], box[2 + corner], box[4 + corner]);
}

}  // namespace

bool polyset_is_moving(const PolysetDefinition& definition) {
    return marked_moving(definition.common);
}

std::unique_ptr<PolysetGeometry> evaluate_polyset(const PolysetDefinition& d, const char* name) {
    if (!d.valid) return nullptr;
    if (d.external) {
        // Stored geometry would come with the scene's binary data, which
        // this renderer does not read.
        std::string file;
        AR_evaluate(SDL_FILENAME, &file, d.external, nullptr);
        fatal("Cannot find geometry for %s\n", file.empty() ? name : file.c_str());
    }
    auto polyset = std::make_unique<PolysetGeometry>();
    polyset->type = SDL_POLYSET;
    if (!evaluate_switches(d.common, false, *polyset)) return nullptr;
    evaluate_shaders(d.common, name, *polyset);
    polyset->colour_flag = d.colour_flag;

    auto mesh = std::make_shared<PolysetMesh>();
    if (const ClusterScope clusters(d.common.clusters); !evaluate_vertices(d, *mesh))
        return nullptr;
    evaluate_colours(d, *mesh);
    if (d.texture_vertices &&
        !evaluate_points(d.texture_vertices, SDL_ST,
                         "Can't evaluate polyset's texture vertex on line %d\n", 2,
                         mesh->texture_vertices))
        return nullptr;
    if (!evaluate_points(d.vertex_normals, SDL_NORMAL, nullptr, 3, mesh->normals) &&
        d.vertex_normals)
        return nullptr;
    if (!evaluate_polygons(d, *mesh) || !evaluate_areas(d, *mesh)) return nullptr;
    mesh->indices_checked = true;

    mesh_bound(*mesh, polyset->bound);
    // Colours, normals and texture coordinates reach the triangles too.
    polyset->saved_geometry_allowed =
        render_options().saved_geometry && constant_list(d.vertices) && constant_list(d.polygons) &&
        constant_list(d.vertex_colors) && constant_list(d.vertex_normals) &&
        constant_list(d.texture_vertices);
    polyset->mesh = std::move(mesh);
    return polyset;
}

}  // namespace sky
