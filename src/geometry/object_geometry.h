// The evaluated geometry of a render object (RenderObject::geometry): what a
// patch, face or polyset statement produced at one evaluation time, with the
// rendering settings its body gave. Made by the geometry hooks of the model
// walk, read by tessellation. It never refers back to the RenderObject.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "geometry/displacement.h"
#include "geometry/nurbs.h"
#include "scene/scene_objects.h"

namespace sky {

struct Expr;

// Settings every kind of geometry shares.
struct GeometryCommon {
    std::int32_t type = 0;  // SDL_PATCH, SDL_FACE or SDL_POLYSET
    bool active = true;
    std::int32_t casts_shadow = 1;
    std::int32_t doublesided = 0;
    std::int32_t opposite = 0;
    std::int32_t reflection_only = 0;
    std::int32_t particle_collisions = 0;
    std::int32_t motion_texture_sample_level = 2;  // 0..5
    std::int32_t motion_shading_samples = 1;       // at least 1
    bool saved_geometry_allowed = false;
    std::vector<Expr*> shaders;            // evaluated SHADER expressions, in order
    std::vector<Expr*> lights;             // the light list linked to the object
    double bound[6] = {0, 0, 0, 0, 0, 0};  // object space: xmin, xmax, ymin, ymax, zmin, zmax
    Displacement displacement;             // from the shader, for the tessellation
    virtual ~GeometryCommon() = default;
};

// A trim region: loops in the surface's (u, v) parameter space, the first
// the outline and the others holes.
struct TrimLoop {
    std::vector<std::array<double, 2>> points;
};
struct TrimRegion {
    std::vector<TrimLoop> loops;
};

struct PatchGeometry : GeometryCommon {
    NurbsSurface surface;
    std::vector<TrimRegion> trims;  // none: untrimmed
    // Which way the patch becomes triangles.
    bool tessellator_path = false;
    // Classic subdivision.
    bool adaptive = false;
    std::int32_t udivisions = 1, vdivisions = 1;
    float curvature = 0.9f;
    // Tessellator path.
    float surface_smoothness = 0.005f;
    float edge_smoothness = 0.0f;  // of displaced surfaces; 0: the surface smoothness
    std::int32_t displacement_detail = 60;
    bool limit_edge_length = false;
    float max_edge_length = 10.0f;
    std::int32_t fixed_grid = 0;  // lines of a fixed initial grid, 0: none
    ChordLengthMap chord_length;  // for textures with `chord_length`
};

// The patch's parameters by chord length along its control net.
void chord_length_map(const NurbsSurface& surface, ChordLengthMap& map);

struct FaceGeometry : GeometryCommon {
    std::vector<NurbsCurve> boundaries;  // the outline first, then holes
    std::int32_t divisions = 1;
};

struct PolysetVertex {
    double position[3] = {0, 0, 0};
    float colour[3] = {0, 0, 0};
    double normal[3] = {0, 0, 0};
    bool has_colour = false;
    bool has_normal = false;
};

struct PolysetPolygon {
    std::vector<std::int32_t> vertices;          // indices into PolysetGeometry::vertices
    std::vector<std::int32_t> texture_vertices;  // per vertex, or empty
    std::vector<std::int32_t> normals;           // per vertex, into `normals`, or empty
    std::int32_t shader = 0;                     // slot 0..63
};

// A polyset's mesh, shared by the objects of its shader slots.
struct PolysetMesh {
    std::vector<PolysetVertex> vertices;
    std::vector<std::array<double, 2>> texture_vertices;
    std::vector<std::array<double, 3>> normals;
    std::vector<PolysetPolygon> polygons;
    std::vector<double> cumulative_areas;  // empty unless the scene gave areas
};

// Slot 0 is the polyset's own object; each further shader slot has an object
// of its own that renders the polygons of that slot from the same mesh.
struct PolysetGeometry : GeometryCommon {
    std::shared_ptr<const PolysetMesh> mesh;
    std::int32_t shader_slot = 0;
    bool colour_flag = false;
};

}  // namespace sky
