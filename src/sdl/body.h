// Bodies: the parenthesised parameter lists of lights, shaders, textures,
// cameras, geometry, curves, commands and the environment's clauses, kept as
// written (ordered name-value pairs) for the subsystem that owns the kind.
//
// Parenthesised lists are list nodes (make_list); long lists of constants
// (vertices, polygons, knots, CV rows) may instead be packed: one array of
// floats, `stride` per item, so a million-vertex polyset costs its numbers and
// not a node per number.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "sdl/expr.h"

namespace sky {

// Body kinds besides the SDL object types (SDL_LIGHT, SDL_PATCH, SDL_FACE,
// SDL_POLYSET, SDL_CAMERA, SDL_SHADER, SDL_TEXTURE, SDL_BOUNDARY_CURVE,
// SDL_PARAM_CV_CURVE, SDL_MOTION_CURVE, SDL_TRIM_FACE, SDL_COMMAND).
enum BodyKind : std::int32_t {
    BODY_BACKGROUND = 1001,
    BODY_FOG = 1002,
    BODY_SHADER_GLOW = 1003,
    BODY_PHOTO_EFFECTS = 1004,
    BODY_MASTER_LIGHT = 1005,
    BODY_DYNAMICS = 1006,
    BODY_TRIM_EDGE = 1007,         // one group of a patch's trim edge list
    BODY_TRIM_REGION_ITEM = 1008,  // cvs/tcvs/trim_hole/extreference of a trim region
    BODY_TRIM_BOUNDARY = 1009,     // tb(btype = ..., edges)
    BODY_TRIM_EDGE_RECORD = 1010,  // te(dim, nbs, form, b-splines)
    BODY_TRIM_BSPLINE = 1011,      // tbs(header fields, tcv list)
    BODY_CLUSTER_MATRIX = 1012,    // clm(name, values)
};

// Which written form an item took, where one name has several.
enum ItemForm : std::int32_t {
    FORM_VALUE = 0,        // name = expr
    FORM_PAIR = 1,         // name = (a, b)
    FORM_LIST = 2,         // name = ( ... ): the value is a list node
    FORM_COLOUR_LIST = 3,  // polyset shader = color( ... )
    FORM_TRIM_GROUPS = 4,  // name = ((...), (...)): trim edge groups, a list of bodies
    FORM_CLUSTERS = 5,     // name = (clm(...), ...)
};

struct BodyItem {
    const char* name = nullptr;  // the parameter's name as written (keyword or name)
    Expr* value = nullptr;
    std::int32_t form = FORM_VALUE;
    std::int32_t line = 0;
};

struct Body {
    std::int32_t type = SDL_NO_TYPE;  // an SDL object type or a BodyKind
    std::int32_t line = 0;
    const char* model = nullptr;       // light or shading model, texture procedure,
                                       // the curve a motion curve follows
    bool curvature = false;            // texture given as `Curvature = NAME`
    std::int32_t command_kind = 0;     // COMMAND: 3000 for multifillet
    std::int32_t divisions = 0;        // trim face: divs
    std::span<BodyItem> items;         // in the order written (in the front end's pool)
    const void* definition = nullptr;  // patch, face, polyset: the geometry's checked definition

    // The last item of that name (later items override earlier ones), or null.
    const BodyItem* find(std::string_view name) const;
};

// Adds an item to a body after it was made (tests and tools build bodies by
// hand; the grammar makes each body whole).
void append_body_item(Body& body, const BodyItem& item);

// A list of constants packed as floats: `count` items of `stride` floats.
struct PackedList {
    std::int32_t count = 0;
    std::int32_t stride = 0;
    std::int32_t item_type = SDL_NO_TYPE;  // what each item was written as
    const float* data = nullptr;
};

extern const ExprKind kListKind;
extern const ExprKind kPackedListKind;

inline bool is_list(const Expr* node) {
    return node && node->kind == &kListKind;
}
inline bool is_packed_list(const Expr* node) {
    return node && node->kind == &kPackedListKind;
}
inline const PackedList* packed_list(const Expr* node) {
    return static_cast<const PackedList*>(node->payload);
}
// The first element of a list node (the others follow through `next`).
inline Expr* list_first(const Expr* list) {
    return list ? list->args : nullptr;
}

Expr* make_packed_list(const PackedList& list, std::int32_t line);

// Polygons whose indices are all numbers, packed: polygon i uses the entries
// offsets[i] .. offsets[i + 1] - 1 of `vertices` and, when present, of
// `texture_vertices` and `normals`; `shaders[i]` is its shader slot, -1 when
// none was written.
struct PackedPolygons {
    std::int32_t count = 0;
    const std::int32_t* offsets = nullptr;
    const std::int32_t* vertices = nullptr;
    const std::int32_t* texture_vertices = nullptr;
    const std::int32_t* normals = nullptr;
    const std::int32_t* shaders = nullptr;
};
extern const ExprKind kPackedPolygonsKind;
inline bool is_packed_polygons(const Expr* node) {
    return node && node->kind == &kPackedPolygonsKind;
}
inline const PackedPolygons* packed_polygons(const Expr* node) {
    return static_cast<const PackedPolygons*>(node->payload);
}

// Structural records (trims, cluster matrices) as nodes carrying a body.
extern const ExprKind kBodyNodeKind;
Expr* make_body_node(Body* body, std::int32_t line);
inline bool is_body_node(const Expr* node) {
    return node && node->kind == &kBodyNodeKind;
}
inline const Body* body_of(const Expr* node) {
    return static_cast<const Body*>(node->payload);
}

}  // namespace sky
