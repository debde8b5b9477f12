// Polyset meshes in flat arrays: the vertex, texture vertex and normal
// records and the polygons' index lists, each either borrowed from the
// parse's packed lists or owned.
#include "geometry/object_geometry.h"

namespace sky {

PolygonLists& PolygonLists::operator=(const PolygonLists& other) {
    if (this == &other) return *this;
    owned_offsets_ = other.owned_offsets_;
    owned_indices_ = other.owned_indices_;
    const bool owned = other.offsets_ != nullptr && other.offsets_ == other.owned_offsets_.data();
    offsets_ = owned ? owned_offsets_.data() : other.offsets_;
    indices_ = owned ? owned_indices_.data() : other.indices_;
    return *this;
}

void PolygonLists::borrow(const std::int32_t* offsets, const std::int32_t* indices) {
    owned_offsets_.clear();
    owned_indices_.clear();
    offsets_ = offsets;
    indices_ = indices;
}

void PolygonLists::append(const std::int32_t* first, std::size_t count) {
    if (owned_offsets_.empty()) owned_offsets_.push_back(0);
    owned_indices_.insert(owned_indices_.end(), first, first + count);
    owned_offsets_.push_back(static_cast<std::int32_t>(owned_indices_.size()));
    offsets_ = owned_offsets_.data();
    indices_ = owned_indices_.data();
}

void PolygonLists::reserve(std::size_t lists, std::size_t indices) {
    owned_offsets_.reserve(lists + 1);
    owned_indices_.reserve(indices);
}

PolysetVertex PolysetMesh::vertex(std::size_t i) const {
    PolysetVertex v;
    const float* record = vertex_records[i];
    for (int k = 0; k < 3; ++k) v.position[k] = record[k];
    if (has_normal(i)) {
        for (int k = 0; k < 3; ++k) v.normal[k] = record[vertex_normal_at + k];
        v.has_normal = true;
    }
    if (has_colour(i)) {
        for (int k = 0; k < 3; ++k) v.colour[k] = colours[i][k];
        v.has_colour = true;
    }
    return v;
}

void PolysetMesh::add_vertex(const PolysetVertex& vertex) {
    float* record = vertex_records.append();
    for (int k = 0; k < 3; ++k) {
        record[k] = static_cast<float>(vertex.position[k]);
        record[3 + k] = static_cast<float>(vertex.normal[k]);
    }
    vertex_normal_at = 3;
    vertex_has_normal.push_back(vertex.has_normal ? 1 : 0);
    every_vertex_normal = -1;
    float* colour = colours.append();
    for (int k = 0; k < 3; ++k) colour[k] = vertex.colour[k];
    vertex_has_colour.push_back(vertex.has_colour ? 1 : 0);
}

void PolysetMesh::add_texture_vertex(double s, double t) {
    float* record = texture_vertices.append();
    record[0] = static_cast<float>(s);
    record[1] = static_cast<float>(t);
}

void PolysetMesh::add_normal(double x, double y, double z) {
    float* record = normals.append();
    record[0] = static_cast<float>(x);
    record[1] = static_cast<float>(y);
    record[2] = static_cast<float>(z);
}

void PolysetMesh::add_polygon(const PolysetPolygon& polygon) {
    polygon_vertices.append(polygon.vertices.data(), polygon.vertices.size());
    polygon_texture_vertices.append(polygon.texture_vertices.data(),
                                    polygon.texture_vertices.size());
    polygon_normals.append(polygon.normals.data(), polygon.normals.size());
    shaders.append()[0] = polygon.shader;
    ++polygon_count;
    indices_checked = false;
}

}  // namespace sky
