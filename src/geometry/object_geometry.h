// The evaluated geometry of a render object (RenderObject::geometry): what a
// patch, face or polyset statement produced at one evaluation time, with the
// rendering settings its body gave. Made by the geometry hooks of the model
// walk, read by tessellation. It never refers back to the RenderObject.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
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

// A polygon's indices. A mesh of a million triangles holds three lists per
// polygon: up to four indices sit in the list itself, so triangles and
// quads cost no heap block (which took three times the memory of the
// indices, and a heap call each to make and to free).
class IndexList {
public:
    IndexList() = default;
    IndexList(std::initializer_list<std::int32_t> values) { assign(values.begin(), values.end()); }
    IndexList(const IndexList& other) { assign(other.begin(), other.end()); }
    IndexList(IndexList&& other) noexcept;
    IndexList& operator=(const IndexList& other);
    IndexList& operator=(IndexList&& other) noexcept;
    IndexList& operator=(std::initializer_list<std::int32_t> values);
    IndexList& operator=(const std::vector<std::int32_t>& values) {
        assign(values.data(), values.data() + values.size());
        return *this;
    }
    ~IndexList() { clear(); }

    void assign(const std::int32_t* first, const std::int32_t* last);
    void push_back(std::int32_t value);
    void clear();

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const std::int32_t* data() const { return capacity_ > kInline ? heap() : store_; }
    std::int32_t* data() { return capacity_ > kInline ? heap() : store_; }
    const std::int32_t* begin() const { return data(); }
    const std::int32_t* end() const { return data() + size_; }
    std::int32_t* begin() { return data(); }
    std::int32_t* end() { return data() + size_; }
    std::int32_t operator[](std::size_t i) const { return data()[i]; }

    friend bool operator==(const IndexList& a, const IndexList& b) {
        return a.size_ == b.size_ && std::equal(a.begin(), a.end(), b.begin());
    }
    friend bool operator==(const IndexList& a, const std::vector<std::int32_t>& b) {
        return a.size_ == b.size() && std::equal(a.begin(), a.end(), b.begin());
    }

private:
    static constexpr std::uint32_t kInline = 4;
    // Beyond kInline the first two words hold the address of a heap block
    // (kept apart so that the list needs only four-byte alignment).
    std::int32_t* heap() const;
    void set_heap(std::int32_t* block);
    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = kInline;
    std::int32_t store_[kInline] = {};
};

struct PolysetPolygon {
    IndexList vertices;          // indices into PolysetGeometry::vertices
    IndexList texture_vertices;  // per vertex, or empty
    IndexList normals;           // per vertex, into `normals`, or empty
    std::int32_t shader = 0;     // slot 0..63
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
