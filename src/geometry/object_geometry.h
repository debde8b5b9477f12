// The evaluated geometry of a render object (RenderObject::geometry): what a
// patch, face or polyset statement produced at one evaluation time, with the
// rendering settings its body gave. Made by the geometry hooks of the model
// walk, read by tessellation. It never refers back to the RenderObject.
#pragma once

#include <algorithm>
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

// One vertex of a mesh, as PolysetMesh::vertex gives it and add_vertex
// takes it. The mesh keeps single precision: every value a scene can give
// is a float, so nothing is lost.
struct PolysetVertex {
    double position[3] = {0, 0, 0};
    float colour[3] = {0, 0, 0};
    double normal[3] = {0, 0, 0};
    bool has_colour = false;
    bool has_normal = false;
};

// A polygon's indices as given to PolysetMesh::add_polygon.
struct PolysetPolygon {
    std::vector<std::int32_t> vertices;          // into the mesh's vertices
    std::vector<std::int32_t> texture_vertices;  // per vertex, or empty
    std::vector<std::int32_t> normals;           // per vertex, into `normals`, or empty
    std::int32_t shader = 0;                     // slot 0..63
};

// A run of indices inside a mesh.
class IndexSpan {
public:
    IndexSpan() = default;
    IndexSpan(const std::int32_t* data, std::size_t size) : data_(data), size_(size) {}
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const std::int32_t* begin() const { return data_; }
    const std::int32_t* end() const { return data_ + size_; }
    std::int32_t operator[](std::size_t i) const { return data_[i]; }
    friend bool operator==(const IndexSpan& a, const std::vector<std::int32_t>& b) {
        return a.size_ == b.size() && std::equal(a.begin(), a.end(), b.begin());
    }

private:
    const std::int32_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Records of `stride` values each: borrowed from the arrays the parse
// packed (which live as long as the scene), or owned. A mesh of a million
// triangles written with constant lists is then not copied at all.
template <typename T>
class MeshRecords {
public:
    MeshRecords() = default;
    explicit MeshRecords(std::int32_t stride) : stride_(stride) {}
    MeshRecords(const MeshRecords& other) { *this = other; }
    MeshRecords& operator=(const MeshRecords& other) {
        if (this == &other) return *this;
        owned_ = other.owned_;
        stride_ = other.stride_;
        count_ = other.count_;
        data_ = other.data_ == other.owned_.data() ? owned_.data() : other.data_;
        return *this;
    }

    // The parse's records: `count` of them, `stride` apart.
    void borrow(const T* data, std::int32_t stride, std::size_t count) {
        owned_.clear();
        data_ = data, stride_ = stride, count_ = count;
    }
    // A new owned record, zeroed.
    T* append() {
        owned_.resize(owned_.size() + static_cast<std::size_t>(stride_));
        data_ = owned_.data();
        ++count_;
        return owned_.data() + owned_.size() - static_cast<std::size_t>(stride_);
    }
    void reserve(std::size_t count) { owned_.reserve(count * static_cast<std::size_t>(stride_)); }

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    std::int32_t stride() const { return stride_; }
    const T* operator[](std::size_t i) const {
        return data_ + i * static_cast<std::size_t>(stride_);
    }

private:
    std::vector<T> owned_;
    const T* data_ = nullptr;
    std::int32_t stride_ = 1;
    std::size_t count_ = 0;
};

// One index list per polygon in a flat array: polygon k's are
// indices[offsets[k] .. offsets[k + 1]). Borrowed or owned like MeshRecords.
class PolygonLists {
public:
    PolygonLists() = default;
    PolygonLists(const PolygonLists& other) { *this = other; }
    PolygonLists& operator=(const PolygonLists& other);

    void borrow(const std::int32_t* offsets, const std::int32_t* indices);
    void append(const std::int32_t* first, std::size_t count);
    void reserve(std::size_t lists, std::size_t indices);
    // Without lists every polygon's is empty.
    bool present() const { return offsets_ != nullptr; }
    IndexSpan operator[](std::size_t k) const {
        if (offsets_ == nullptr) return {};
        return {indices_ + offsets_[k], static_cast<std::size_t>(offsets_[k + 1] - offsets_[k])};
    }

private:
    std::vector<std::int32_t> owned_offsets_, owned_indices_;
    const std::int32_t* offsets_ = nullptr;
    const std::int32_t* indices_ = nullptr;
};

// A polygon as the tessellator reads it.
struct PolygonView {
    IndexSpan vertices, texture_vertices, normals;
    std::int32_t shader = 0;
};

// A polyset's mesh, shared by the objects of its shader slots.
struct PolysetMesh {
    // Each vertex record starts with the position; the normal given with
    // the vertex sits `vertex_normal_at` floats in (-1: no vertex has one),
    // and `vertex_has_normal` says which have one when not all do.
    MeshRecords<float> vertex_records{6};
    std::int32_t vertex_normal_at = -1;
    std::vector<std::uint8_t> vertex_has_normal;
    // The colours of the first colours.size() vertices, of those that
    // `vertex_has_colour` marks when it is not empty.
    MeshRecords<float> colours{3};
    std::vector<std::uint8_t> vertex_has_colour;
    MeshRecords<float> texture_vertices{2};  // s, t
    MeshRecords<float> normals{3};
    std::size_t polygon_count = 0;
    PolygonLists polygon_vertices, polygon_texture_vertices, polygon_normals;
    MeshRecords<std::int32_t> shaders{1};  // empty: every polygon is slot 0
    std::vector<double> cumulative_areas;  // empty unless the scene gave areas
    // Whether every vertex gives a usable normal, as the evaluation found
    // while it read the vertices for the bound (-1: not known), so that
    // the tessellator need not read them again to learn it.
    std::int8_t every_vertex_normal = -1;
    // Whether every polygon's indices name entries of the mesh's lists, as
    // the evaluation found (a polyset with one that does not fails), so
    // that the tessellator's first pass need not look again.
    bool indices_checked = false;

    std::size_t vertex_count() const { return vertex_records.size(); }
    PolysetVertex vertex(std::size_t i) const;
    bool has_normal(std::size_t i) const {
        return vertex_normal_at >= 0 && (vertex_has_normal.empty() || vertex_has_normal[i] != 0);
    }
    bool has_colour(std::size_t i) const {
        return i < colours.size() && (vertex_has_colour.empty() || vertex_has_colour[i] != 0);
    }
    PolygonView polygon(std::size_t k) const {
        return {polygon_vertices[k], polygon_texture_vertices[k], polygon_normals[k],
                shaders.empty() ? 0 : std::max(shaders[k][0], 0)};
    }

    // For meshes made in code (tests, tools) and from lists written as
    // expressions: owned records of six floats (position, normal).
    void add_vertex(const PolysetVertex& vertex);
    void add_texture_vertex(double s, double t);
    void add_normal(double x, double y, double z);
    void add_polygon(const PolysetPolygon& polygon);
};

// Slot 0 is the polyset's own object; each further shader slot has an object
// of its own that renders the polygons of that slot from the same mesh.
struct PolysetGeometry : GeometryCommon {
    std::shared_ptr<const PolysetMesh> mesh;
    std::int32_t shader_slot = 0;
    bool colour_flag = false;
};

}  // namespace sky
