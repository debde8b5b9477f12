#include "sdl/scene_packets.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/image/memory_images.h"
#include "platform/input_stream.h"
#include "platform/report.h"
#include "sdl/body.h"
#include "sdl/expr.h"
#include "sdl/pool.h"
#include "sdl/reader.h"
#include "sdl/sdl_input.h"

namespace sky {
namespace {

PacketFile& store() {
    static PacketFile file;
    return file;
}

template <typename T>
void merge(std::vector<T>& into, std::vector<T>& from) {
    for (T& item : from) {
        auto same =
            std::find_if(into.begin(), into.end(), [&](const T& x) { return x.name == item.name; });
        if (same != into.end())
            *same = std::move(item);
        else
            into.push_back(std::move(item));
    }
}

template <typename T>
T* pool_array(std::size_t count) {
    return static_cast<T*>(
        sdl_pool().allocate(std::max<std::size_t>(count, 1) * sizeof(T), alignof(T)));
}

std::uint8_t to_byte(float value) {
    if (!(value > 0.0f)) return 0;
    if (value >= 1.0f) return 255;
    return static_cast<std::uint8_t>(std::lround(value * 255.0f));
}

}  // namespace

const PacketFile& scene_packets() {
    return store();
}

void reset_scene_packets() {
    store() = PacketFile{};
}

const PacketMesh* find_scene_mesh(const std::string& name) {
    for (const PacketMesh& mesh : store().meshes)
        if (mesh.name == name) return &mesh;
    return nullptr;
}

void add_scene_packets(PacketFile file) {
    merge(store().meshes, file.meshes);
    merge(store().images, file.images);
    merge(store().lighting, file.lighting);
    merge(store().channels, file.channels);
}

bool read_binary_scene_data(SdlInput& input) {
    PacketSource source = [&input](void* data, std::size_t size) {
        auto* to = static_cast<char*>(data);
        while (size > 0) {
            ssize_t got = input.read(to, size);
            if (got <= 0) return false;
            to += got;
            size -= static_cast<std::size_t>(got);
        }
        return true;
    };
    PacketFile file;
    std::string error;
    if (!read_packets(source, file, error)) {
        const char* name = input.stream() ? input.stream()->name().c_str() : "the input";
        rptError("Binary scene data of %s: %s\n", name, error.c_str());
        return false;
    }
    add_scene_packets(std::move(file));
    return true;
}

void load_packet_images() {
    for (const PacketImage& image : store().images) {
        const std::size_t samples = std::size_t{image.width} * image.height * image.channels;
        std::vector<std::uint8_t> bytes(samples);
        if (image.type == PACKET_BYTES) {
            bytes.assign(image.data.begin(), image.data.end());
        } else {
            for (std::size_t i = 0; i < samples; ++i) {
                float value;
                std::memcpy(&value, image.data.data() + 4 * i, 4);
                bytes[i] = to_byte(value);
            }
        }
        register_memory_image(image.name, static_cast<int>(image.width),
                              static_cast<int>(image.height), static_cast<int>(image.channels),
                              std::move(bytes));
    }
}

Expr* mesh_vertices(const PacketMesh& mesh, std::int32_t line) {
    const std::size_t n = mesh.vertex_count();
    const int stride = mesh.st.empty() ? 4 : 6;
    float* data = pool_array<float>(n * stride);
    for (std::size_t i = 0; i < n; ++i) {
        float* v = data + i * stride;
        std::copy_n(&mesh.positions[3 * i], 3, v);
        v[3] = 1.0f;
        if (stride == 6) std::copy_n(&mesh.st[2 * i], 2, v + 4);
    }
    return make_packed_list(PackedList{static_cast<std::int32_t>(n), stride, SDL_NO_TYPE, data},
                            line);
}

Expr* mesh_normals(const PacketMesh& mesh, std::int32_t line) {
    if (mesh.normals.empty()) return nullptr;
    const std::size_t n = mesh.vertex_count();
    float* data = pool_array<float>(3 * n);
    std::copy(mesh.normals.begin(), mesh.normals.end(), data);
    return make_packed_list(PackedList{static_cast<std::int32_t>(n), 3, SDL_NORMAL, data}, line);
}

Expr* mesh_polygons(const PacketMesh& mesh, std::int32_t line) {
    const std::size_t count = mesh.sizes.size(), indices = mesh.indices.size();
    auto* polygons = sdl_pool().make<PackedPolygons>();
    auto* offsets = pool_array<std::int32_t>(count + 1);
    auto* vertices = pool_array<std::int32_t>(indices);
    auto* shaders = pool_array<std::int32_t>(count);
    offsets[0] = 0;
    for (std::size_t i = 0; i < count; ++i) {
        offsets[i + 1] = offsets[i] + static_cast<std::int32_t>(mesh.sizes[i]);
        shaders[i] = -1;
    }
    for (std::size_t k = 0; k < indices; ++k)
        vertices[k] = static_cast<std::int32_t>(mesh.indices[k]);
    polygons->count = static_cast<std::int32_t>(count);
    polygons->offsets = offsets;
    polygons->vertices = vertices;
    // Normals are one per vertex, so a polygon's normals are its vertices'.
    polygons->normals = mesh.normals.empty() ? nullptr : vertices;
    polygons->shaders = shaders;
    Expr* node = allocate_node();
    node->kind = &kPackedPolygonsKind;
    node->payload = polygons;
    node->line = line;
    return node;
}

}  // namespace sky
