// A polyset at the current scene time: its switches and shaders as for
// faces, then the mesh: vertices with their colours and normals, texture
// vertices, normals, polygons and the cumulative areas.
#include <atomic>
#include <vector>

#include "base/options.h"
#include "base/workers.h"
#include "geometry/evaluate_common.h"
#include "geometry/geometry_evaluation.h"
#include "geometry/geometry_lists.h"
#include "platform/fatal.h"
#include "sdl/cluster.h"
#include "sdl/expr_internal.h"

namespace sky {
namespace {

// A range of workers' items: large enough that taking one costs nothing,
// small enough that a mesh of a million polygons splits evenly.
constexpr std::size_t kItemsPerRange = 16384;

// A vertex written as numbers only.
void read_packed_vertex(const float* packed, int stride, PolysetVertex& vertex,
                        std::array<double, 2>& st) {
    vertex.position[0] = packed[0], vertex.position[1] = packed[1], vertex.position[2] = packed[2];
    if (stride >= 6) st = {packed[4], packed[5]};
    if (stride == 9) {
        vertex.normal[0] = packed[6], vertex.normal[1] = packed[7], vertex.normal[2] = packed[8];
        vertex.has_normal = true;
    }
}

// Vertices written as numbers only need no expression: every worker reads
// ranges of them straight into their places.
void read_packed_vertices(const PackedList& list, bool with_st, PolysetMesh& mesh) {
    const auto count = static_cast<std::size_t>(list.count);
    mesh.vertices.resize(count);
    if (with_st) mesh.texture_vertices.resize(count);
    share_ranges(count, kItemsPerRange, [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) {
            std::array<double, 2> st{0, 0};
            read_packed_vertex(list.data + i * static_cast<std::size_t>(list.stride), list.stride,
                               mesh.vertices[i], st);
            if (with_st) mesh.texture_vertices[i] = st;
        }
    });
}

bool evaluate_vertices(const PolysetDefinition& d, PolysetMesh& mesh) {
    bool with_st = d.vertices_carry_st && d.texture_vertices == nullptr;
    if (is_packed_list(d.vertices)) {
        read_packed_vertices(*packed_list(d.vertices), with_st, mesh);
        return true;
    }
    return for_each_item(d.vertices, [&](const float* packed, Expr* node) {
        PolysetVertex vertex;
        std::array<double, 2> st{0, 0};
        if (packed) {
            read_packed_vertex(packed, packed_list(d.vertices)->stride, vertex, st);
        } else {
            Expr* cv_node = list_first(node);
            CvValue cv;
            if (!AR_evaluate(SDL_CV, &cv, cv_node, nullptr))
                fatal("Can't evaluate polyset's vertex on line %d\n", cv_node->line);
            vertex.position[0] = cv.x, vertex.position[1] = cv.y, vertex.position[2] = cv.z;
            for (Expr* part = cv_node->next; part; part = part->next) {
                Triple value;
                if (!AR_evaluate(part->type, &value, part, nullptr)) continue;  // not reported
                if (part->type == SDL_ST) {
                    st = {value.x, value.y};
                } else {
                    vertex.normal[0] = value.x, vertex.normal[1] = value.y,
                    vertex.normal[2] = value.z;
                    vertex.has_normal = true;
                }
            }
        }
        mesh.vertices.push_back(vertex);
        if (with_st) mesh.texture_vertices.push_back(st);
        return true;
    });
}

void evaluate_colours(const PolysetDefinition& d, PolysetMesh& mesh) {
    std::size_t i = 0;
    for_each_item(d.vertex_colors, [&](const float* packed, Expr* node) {
        if (i >= mesh.vertices.size()) return false;
        Triple colour;
        if (packed)
            colour = Triple{packed[0], packed[1], packed[2]};
        else if (!AR_evaluate(SDL_COLOUR, &colour, node, nullptr))
            fatal("Can't evaluate polyset's vertex color on line %d\n", node->line);
        PolysetVertex& vertex = mesh.vertices[i++];
        vertex.colour[0] = colour.x, vertex.colour[1] = colour.y, vertex.colour[2] = colour.z;
        vertex.has_colour = true;
        return true;
    });
}

template <typename Point>
bool evaluate_points(const Expr* list, std::int32_t type, const char* failure, int size,
                     std::vector<Point>& out) {
    return for_each_item(list, [&](const float* packed, Expr* node) {
        Triple value;
        if (packed)
            value = Triple{packed[0], packed[1], size == 3 ? packed[2] : 0.0f};
        else if (!AR_evaluate(type, &value, node, nullptr)) {
            if (failure) fatal(failure, node->line);
            return false;
        }
        Point point{};
        point[0] = value.x, point[1] = value.y;
        if constexpr (sizeof(Point) == 3 * sizeof(double)) point[2] = value.z;
        out.push_back(point);
        return true;
    });
}

bool in_range(const IndexList& indices, std::size_t count) {
    for (std::int32_t index : indices)
        if (index < 0 || static_cast<std::size_t>(index) >= count) return false;
    return true;
}

// Indices are checked again: written as expressions they may differ from
// frame to frame. A polygon out of range fails the polyset silently.
bool settle_polygon(const PolysetDefinition& d, const PolysetMesh& mesh, PolysetPolygon& polygon) {
    if (polygon.shader < 0) polygon.shader = 0;
    // A polygon that names no texture vertices takes each vertex's own:
    // the st written with the vertex, or else the texture vertex of the
    // same index when the list has one for every vertex the polygon
    // uses. Normals likewise.
    bool own_st = polygon.texture_vertices.empty() &&
                  ((d.vertices_carry_st && !d.texture_vertices) ||
                   (d.texture_vertices != nullptr &&
                    in_range(polygon.vertices, mesh.texture_vertices.size())));
    if (own_st) polygon.texture_vertices = polygon.vertices;
    if (polygon.normals.empty() && d.vertex_normals != nullptr &&
        in_range(polygon.vertices, mesh.normals.size()))
        polygon.normals = polygon.vertices;
    std::size_t n = polygon.vertices.size();
    return in_range(polygon.vertices, mesh.vertices.size()) &&
           in_range(polygon.texture_vertices, mesh.texture_vertices.size()) &&
           in_range(polygon.normals, mesh.normals.size()) &&
           (polygon.texture_vertices.empty() || polygon.texture_vertices.size() == n) &&
           (polygon.normals.empty() || polygon.normals.size() == n) &&
           polygon.shader < std::max(d.shader_count, 1);
}

// Polygons written as numbers only are read like such vertices, by every
// worker into their places.
bool read_packed_polygons(const PolysetDefinition& d, const PackedPolygons& p, PolysetMesh& mesh) {
    mesh.polygons.resize(static_cast<std::size_t>(p.count));
    std::atomic<bool> settled{true};
    share_ranges(mesh.polygons.size(), kItemsPerRange, [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) {
            PolysetPolygon& polygon = mesh.polygons[i];
            const std::int32_t from = p.offsets[i], to = p.offsets[i + 1];
            polygon.vertices.assign(p.vertices + from, p.vertices + to);
            if (p.texture_vertices)
                polygon.texture_vertices.assign(p.texture_vertices + from, p.texture_vertices + to);
            if (p.normals) polygon.normals.assign(p.normals + from, p.normals + to);
            polygon.shader = p.shaders[i];
            if (!settle_polygon(d, mesh, polygon)) {
                settled.store(false, std::memory_order_relaxed);
                return;
            }
        }
    });
    return settled.load(std::memory_order_relaxed);
}

bool evaluate_polygons(const PolysetDefinition& d, PolysetMesh& mesh) {
    auto accept = [&](PolysetPolygon& polygon) {
        if (!settle_polygon(d, mesh, polygon)) return false;
        mesh.polygons.push_back(std::move(polygon));
        return true;
    };
    if (is_packed_polygons(d.polygons))
        return read_packed_polygons(d, *packed_polygons(d.polygons), mesh);
    return for_each_item(d.polygons, [&](const float*, Expr* node) {
        PolysetPolygon polygon;
        IndexList* lists[3] = {&polygon.vertices, &polygon.texture_vertices, &polygon.normals};
        Expr* part = list_first(node);
        for (auto* list : lists) {
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
        polygon.shader = truncate_to_int(shader);
        return accept(polygon);
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
// any order.
void mesh_bound(const PolysetMesh& mesh, double bound[6]) {
    const std::size_t count = mesh.vertices.size();
    std::vector<std::array<double, 6>> boxes((count + kItemsPerRange - 1) / kItemsPerRange);
    share_ranges(count, kItemsPerRange, [&](std::size_t first, std::size_t last) {
        double* box = boxes[first / kItemsPerRange].data();
        empty_bound(box);
        for (std::size_t i = first; i < last; ++i) {
            const PolysetVertex& v = mesh.vertices[i];
            extend_bound(box, v.position[0], v.position[1], v.position[2]);
        }
    });
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
    mesh->vertices.reserve(static_cast<std::size_t>(d.vertex_count));
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
