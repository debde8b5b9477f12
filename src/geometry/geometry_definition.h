// What a patch, face or polyset body becomes when the parser finishes it:
// its parameters sorted by name into a definition, checked once, so that
// the per-frame evaluation reads fields instead of searching names and can
// trust the shape of the data (row lengths, knot counts, polygon indices).
//
// Definitions live in the front end's pool with the bodies they come from
// (Body::definition); every parameter stays an expression, evaluated anew
// each frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "sdl/body.h"

namespace sky {

// Settings every kind of geometry has.
struct CommonParameters {
    Expr* active = nullptr;
    Expr* casts_shadow = nullptr;
    Expr* shader = nullptr;      // list of SHADER expressions
    Expr* light_list = nullptr;  // list of LIGHT expressions
    Expr* motion_blur = nullptr;
    Expr* opposite = nullptr;
    Expr* doublesided = nullptr;
    Expr* reflection_only = nullptr;
    Expr* particle_collisions = nullptr;
    Expr* motion_blur_texture_sample_level = nullptr;
    Expr* motion_blur_shading_samples = nullptr;
    Expr* clusters = nullptr;
};

struct PatchDefinition {
    CommonParameters common;
    Expr* surface_smoothness = nullptr;
    Expr* edge_smoothness = nullptr;
    Expr* displacement_detail = nullptr;
    Expr* limit_edge_length = nullptr;
    Expr* max_edge_length = nullptr;
    Expr* subdivide = nullptr;
    Expr* divisions = nullptr;  // list of two SCALARs
    Expr* curvature = nullptr;
    Expr* uclosed = nullptr;
    Expr* vclosed = nullptr;
    Expr* uknots = nullptr;  // list of SCALARs
    Expr* vknots = nullptr;
    Expr* udegree = nullptr;
    Expr* vdegree = nullptr;
    Expr* cvs = nullptr;  // list of CV rows, one per u
    Expr* shared_edge = nullptr;
    Expr* trim_region = nullptr;
    const char* external = nullptr;  // the external surface's name
    // Set by finish_patch_definition.
    std::int32_t udegree_value = 1, vdegree_value = 1;
    std::int32_t ucount = 0, vcount = 0;  // CV rows, CVs per row
    bool valid = false;
};

struct FaceDefinition {
    CommonParameters common;
    Expr* boundaries = nullptr;  // list of BOUNDARY_CURVE expressions
    Expr* divisions = nullptr;
    bool valid = false;
};

struct PolysetDefinition {
    CommonParameters common;
    Expr* vertices = nullptr;
    Expr* vertex_colors = nullptr;
    Expr* vertex_normals = nullptr;
    Expr* texture_vertices = nullptr;
    Expr* polygons = nullptr;
    Expr* polygon_areas = nullptr;
    Expr* smooth = nullptr;
    Expr* external = nullptr;  // FILENAME of stored geometry
    std::int32_t shader_count = 0;
    bool colour_flag = false;  // shader = color(...)
    // Set by finish_polyset_definition.
    std::int32_t vertex_count = 0;
    std::int32_t texture_vertex_count = 0;  // the list's, or the vertices' own st
    std::int32_t normal_count = 0;
    bool vertices_carry_st = false;
    bool mesh_missing = false;  // names a mesh the binary scene data lacks
    bool valid = false;
};

// Up to this many shaders per polyset, one render object each.
constexpr int kMaxPolysetShaders = 64;

// Called by the parser for each finished patch, face or polyset body:
// builds the definition, validates it and attaches it to the body.
void finish_geometry_body(Body& body);

// A body parameter kept as written, and the field of the definition it goes
// to: each kind lists its own in a table.
template <typename Definition>
struct ParameterField {
    const char* name;
    Expr* Definition::*field;
};

// Stores `item` in the field the table names it for; false when no row does.
template <typename Definition, std::size_t N>
bool store_parameter(const ParameterField<Definition> (&fields)[N], Definition& definition,
                     const BodyItem& item) {
    for (const ParameterField<Definition>& row : fields) {
        if (std::strcmp(row.name, item.name) != 0) continue;
        definition.*row.field = item.value;
        return true;
    }
    return false;
}

// The parameters every kind has; false when `item` is not one of them.
bool set_common_parameter(CommonParameters& common, const BodyItem& item);

void set_patch_parameter(PatchDefinition& definition, const BodyItem& item);
void finish_patch_definition(PatchDefinition& definition);
void set_face_parameter(FaceDefinition& definition, const BodyItem& item);
void finish_face_definition(FaceDefinition& definition);
void set_polyset_parameter(PolysetDefinition& definition, const BodyItem& item);
void finish_polyset_definition(PolysetDefinition& definition);

inline const PatchDefinition* patch_definition(const Body* body) {
    return body && body->type == SDL_PATCH ? static_cast<const PatchDefinition*>(body->definition)
                                           : nullptr;
}
inline const FaceDefinition* face_definition(const Body* body) {
    return body && body->type == SDL_FACE ? static_cast<const FaceDefinition*>(body->definition)
                                          : nullptr;
}
inline const PolysetDefinition* polyset_definition(const Body* body) {
    return body && body->type == SDL_POLYSET
               ? static_cast<const PolysetDefinition*>(body->definition)
               : nullptr;
}

}  // namespace sky
