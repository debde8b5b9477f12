// Polyset definitions: the parameters of a `polyset` body, its shader slots,
// and every polygon's indices checked against the lists they index, so the
// evaluation and the tessellator never read past a list.
#include <cstdint>
#include <cstring>
#include <vector>

#include "geometry/geometry_definition.h"
#include "geometry/geometry_lists.h"
#include "platform/fatal.h"
#include "platform/report.h"
#include "sdl/expr_internal.h"
#include "sdl/scene_packets.h"
#include "sdl/sdl_errors.h"

namespace sky {

namespace {

bool named(const BodyItem& item, const char* name) {
    return std::strcmp(item.name, name) == 0;
}

// A vertex written (cv), (cv, st) or (cv, st, norm); packed ones have 4, 6
// or 9 floats. Whether every vertex has that shape, and whether they carry st.
bool vertices_fit(const Expr* vertices, bool& carry_st) {
    if (is_packed_list(vertices)) {
        int stride = packed_list(vertices)->stride;
        carry_st = stride >= 6;
        return stride == 4 || stride == 6 || stride == 9;
    }
    carry_st = true;
    return for_each_item(vertices, [&](const float*, Expr* vertex) {
        const Expr* cv = is_list(vertex) ? list_first(vertex) : nullptr;
        if (cv == nullptr || (cv->type != SDL_CV && cv->type != SDL_ARRAY)) return false;
        const Expr* st = cv->next;
        if (st == nullptr || st->type != SDL_ST) carry_st = false;
        return st == nullptr || st->type == SDL_ST || st->type == SDL_NORMAL;
    });
}

// One index list of a polygon, as numbers (evaluated now when written as
// expressions: they must name list entries that exist).
bool read_indices(const Expr* list, std::vector<std::int32_t>& out) {
    out.clear();
    return for_each_item(list, [&](const float* packed, Expr* node) {
        float value = 0;
        if (packed)
            value = packed[0];
        else if (!AR_evaluate(SDL_SCALAR, &value, node, nullptr))
            return false;
        out.push_back(truncate_to_int(value));
        return true;
    });
}

struct Limits {
    std::int32_t vertices, texture_vertices, normals, shaders;
};

void report_index(int polygon, const char* what, std::int32_t index, std::int32_t count) {
    sdl_report_error("Bad POLYSET data");
    if (count == 0)
        rptError("  polygon %d refers to %s %d, but the polyset has none\n", polygon, what, index);
    else
        rptError("  polygon %d refers to %s %d; they are numbered 0 to %d\n", polygon, what, index,
                 count - 1);
}

bool check_list(int polygon, const char* what, const std::int32_t* indices, int n,
                std::int32_t count) {
    for (int k = 0; k < n; ++k)
        if (indices[k] < 0 || indices[k] >= count) {
            report_index(polygon, what, indices[k], count);
            return false;
        }
    return true;
}

bool check_polygon(int polygon, const std::int32_t* vertices, const std::int32_t* st,
                   const std::int32_t* normals, int n, std::int32_t shader, const Limits& limits) {
    if (!check_list(polygon, "vertex", vertices, n, limits.vertices)) return false;
    if (st && !check_list(polygon, "texture vertex", st, n, limits.texture_vertices)) return false;
    if (normals && !check_list(polygon, "normal", normals, n, limits.normals)) return false;
    if (shader < -1 || shader >= limits.shaders) {
        report_index(polygon, "shader", shader, limits.shaders);
        return false;
    }
    return true;
}

// Whether each of the n indices names one of `count` entries.
bool all_below(const std::int32_t* indices, std::int32_t n, std::int32_t count) {
    bool outside = false;
    for (std::int32_t k = 0; k < n; ++k)
        outside |= static_cast<std::uint32_t>(indices[k]) >= static_cast<std::uint32_t>(count);
    return !outside;
}

// Packed polygons whose index lists follow one another from the start hold
// every index in one stretch, which is read at once: a million polygons
// are checked at the speed of memory. Only a mesh that fails is read
// polygon by polygon, to name its first faulty polygon.
bool packed_polygons_fit_at_once(const PackedPolygons& p, const Limits& limits) {
    if (p.offsets[0] != 0) return false;
    bool fits = true;
    for (std::int32_t i = 0; i < p.count; ++i)
        fits &=
            p.offsets[i] <= p.offsets[i + 1] && p.shaders[i] >= -1 && p.shaders[i] < limits.shaders;
    const std::int32_t total = p.offsets[p.count];
    return fits && all_below(p.vertices, total, limits.vertices) &&
           (!p.texture_vertices || all_below(p.texture_vertices, total, limits.texture_vertices)) &&
           (!p.normals || all_below(p.normals, total, limits.normals));
}

bool polygons_fit(const Expr* polygons, const Limits& limits) {
    if (is_packed_polygons(polygons)) {
        const PackedPolygons* p = packed_polygons(polygons);
        if (p->count > 0 && packed_polygons_fit_at_once(*p, limits)) return true;
        for (int i = 0; i < p->count; ++i) {
            int from = p->offsets[i], n = p->offsets[i + 1] - from;
            if (!check_polygon(i, p->vertices + from,
                               p->texture_vertices ? p->texture_vertices + from : nullptr,
                               p->normals ? p->normals + from : nullptr, n, p->shaders[i], limits))
                return false;
        }
        return true;
    }
    int index = 0;
    std::vector<std::int32_t> lists[3];
    return for_each_item(polygons, [&](const float*, Expr* polygon) {
        int i = index++;
        const Expr* part = is_list(polygon) ? list_first(polygon) : nullptr;
        for (auto& list : lists) {
            if (part == nullptr || !read_indices(part, list)) {
                sdl_report_error("Bad POLYSET data");
                return false;
            }
            part = part->next;
        }
        float shader = -1;
        if (part == nullptr ||
            !AR_evaluate(SDL_SCALAR, &shader, const_cast<Expr*>(part), nullptr)) {
            sdl_report_error("Bad POLYSET data");
            return false;
        }
        std::size_t n = lists[0].size();
        for (int k = 1; k < 3; ++k)
            if (!lists[k].empty() && lists[k].size() != n) {
                sdl_report_error("Bad POLYSET data");
                rptError("  polygon %d has %zu vertices but %zu %s indices\n", i, n,
                         lists[k].size(), k == 1 ? "texture vertex" : "normal");
                return false;
            }
        return check_polygon(i, lists[0].data(), lists[1].empty() ? nullptr : lists[1].data(),
                             lists[2].empty() ? nullptr : lists[2].data(), static_cast<int>(n),
                             truncate_to_int(shader), limits);
    });
}

// `mesh = "NAME"`: the vertices, normals and polygons of a mesh of the
// binary scene data, as if they had been written in the body. Its indices
// were checked when the packet file was read.
void take_packet_mesh(PolysetDefinition& definition, const BodyItem& item) {
    const char* name = filename_text(item.value);
    const PacketMesh* mesh = name ? find_scene_mesh(name) : nullptr;
    if (mesh == nullptr) {
        if (name)
            sdl_report_error("POLYSET mesh \"%s\" is not in the binary scene data", name);
        else
            sdl_report_error("POLYSET mesh must be a name in double quotes");
        definition.mesh_missing = true;
        return;
    }
    definition.vertices = mesh_vertices(*mesh, item.line);
    definition.vertex_normals = mesh_normals(*mesh, item.line);
    definition.polygons = mesh_polygons(*mesh, item.line);
}

}  // namespace

constexpr ParameterField<PolysetDefinition> kPolysetParameters[] = {
    {"vertices", &PolysetDefinition::vertices},
    {"vertex_colors", &PolysetDefinition::vertex_colors},
    {"vertex_normals", &PolysetDefinition::vertex_normals},
    {"texture_vertices", &PolysetDefinition::texture_vertices},
    {"polygons", &PolysetDefinition::polygons},
    {"polygon_areas", &PolysetDefinition::polygon_areas},
    {"smooth", &PolysetDefinition::smooth},
    {"extreference", &PolysetDefinition::external},
};

void set_polyset_parameter(PolysetDefinition& definition, const BodyItem& item) {
    if (named(item, "shader")) {
        definition.common.shader = item.value;
        definition.shader_count = list_count(item.value);
        definition.colour_flag = item.form == FORM_COLOUR_LIST;
        if (definition.shader_count > kMaxPolysetShaders)
            fatal("Maximum of %d shaders per polyset allowed\n", kMaxPolysetShaders);
        if (definition.colour_flag && definition.shader_count == 0)
            fatal("Cannot set colour flag on unallocated shader\n");
    } else if (named(item, "mesh")) {
        take_packet_mesh(definition, item);
    } else if (!store_parameter(kPolysetParameters, definition, item) &&
               !set_common_parameter(definition.common, item)) {
        fatal("Unknown POLYSET parameter %s\n", item.name);
    }
}

void finish_polyset_definition(PolysetDefinition& definition) {
    definition.valid = false;
    if (definition.mesh_missing) return;
    if (definition.vertices && !vertices_fit(definition.vertices, definition.vertices_carry_st)) {
        sdl_report_error("Bad POLYSET data");
        return;
    }
    definition.vertex_count = list_count(definition.vertices);
    definition.texture_vertex_count = definition.texture_vertices
                                          ? list_count(definition.texture_vertices)
                                      : definition.vertices_carry_st ? definition.vertex_count
                                                                     : 0;
    definition.normal_count = list_count(definition.vertex_normals);
    // Polygons without a shader slot (-1) use slot 0, so one slot always exists.
    Limits limits{definition.vertex_count, definition.texture_vertex_count, definition.normal_count,
                  definition.shader_count > 0 ? definition.shader_count : 1};
    // The polygon list is kept in the order written.
    if (definition.polygons && !polygons_fit(definition.polygons, limits)) return;
    definition.valid = true;
}

}  // namespace sky
