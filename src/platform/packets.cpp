// The packet file codec. Integers and floats are little-endian whatever the
// machine; sections are read whole into memory (in bounded pieces) and then
// taken apart by a cursor that refuses to step past the section's end.
#include "platform/packets.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <set>

namespace sky {
namespace {

constexpr std::size_t kReadPiece = std::size_t{1} << 20;
constexpr std::uint32_t kMeshNormals = 1, kMeshSt = 2;

std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

std::string tag_text(std::uint32_t tag) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        unsigned char c = static_cast<unsigned char>(tag >> (8 * i));
        if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            text += hex;
        }
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

const char* section_name(std::uint32_t tag) {
    switch (tag) {
        case PACKET_MESH:
            return "mesh";
        case PACKET_IMAGE:
            return "image";
        case PACKET_LIGHT:
            return "lighting";
        case PACKET_CHANNEL:
            return "channel";
        default:
            return "end";
    }
}

// Takes a section's body apart; every read checks what is left first.
class Cursor {
public:
    Cursor(const std::uint8_t* data, std::size_t size) : at_(data), left_(size) {}
    std::size_t left() const { return left_; }

    bool u32(std::uint32_t& value) {
        if (left_ < 4) return false;
        value = le32(at_);
        skip(4);
        return true;
    }
    bool f32(float& value) {
        std::uint32_t bits;
        if (!u32(bits)) return false;
        std::memcpy(&value, &bits, 4);
        return true;
    }
    bool f64(double& value) {
        std::uint32_t low, high;
        if (!u32(low) || !u32(high)) return false;
        const std::uint64_t bits = low | std::uint64_t{high} << 32;
        std::memcpy(&value, &bits, 8);
        return true;
    }
    bool name(std::string& text) {
        std::uint32_t length;
        if (!u32(length) || length == 0 || length > kPacketNameLimit || length > left_)
            return false;
        text.assign(reinterpret_cast<const char*>(at_), length);
        skip(length);
        return text.find('\0') == std::string::npos;
    }
    // `count` floats; the caller has checked that they fit.
    void floats(std::vector<float>& out, std::size_t count) {
        out.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            std::uint32_t bits = le32(at_ + 4 * i);
            std::memcpy(&out[i], &bits, 4);
        }
        skip(4 * count);
    }
    void words(std::vector<std::uint32_t>& out, std::size_t count) {
        out.resize(count);
        for (std::size_t i = 0; i < count; ++i) out[i] = le32(at_ + 4 * i);
        skip(4 * count);
    }
    void bytes(std::vector<std::uint8_t>& out, std::size_t count) {
        out.assign(at_, at_ + count);
        skip(count);
    }

private:
    void skip(std::size_t n) {
        at_ += n;
        left_ -= n;
    }
    const std::uint8_t* at_;
    std::size_t left_;
};

bool all_finite(const std::vector<float>& values) {
    return std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); });
}

bool fail(std::string& error, const std::string& text) {
    error = text;
    return false;
}

bool parse_mesh(Cursor& in, PacketMesh& mesh, std::string& error) {
    std::uint32_t flags, vertices;
    if (!in.name(mesh.name)) return fail(error, "mesh section: bad name");
    const std::string what = "mesh \"" + mesh.name + "\": ";
    if (!in.u32(flags) || !in.u32(vertices)) return fail(error, what + "the section is cut short");
    if ((flags & ~(kMeshNormals | kMeshSt)) != 0)
        return fail(error, what + "unknown flags " + std::to_string(flags));
    const std::uint64_t per_vertex =
        12 + ((flags & kMeshNormals) ? 12 : 0) + ((flags & kMeshSt) ? 8 : 0);
    if (vertices > 0x7FFFFFFFu || per_vertex * vertices > in.left())
        return fail(error, what + std::to_string(vertices) + " vertices do not fit the section");
    in.floats(mesh.positions, 3 * std::size_t{vertices});
    if (flags & kMeshNormals) in.floats(mesh.normals, 3 * std::size_t{vertices});
    if (flags & kMeshSt) in.floats(mesh.st, 2 * std::size_t{vertices});
    std::uint32_t polygons, indices;
    if (!in.u32(polygons) || !in.u32(indices))
        return fail(error, what + "the section is cut short");
    if ((std::uint64_t{polygons} + indices) * 4 != in.left())
        return fail(error, what + "the polygon counts do not match the section's length");
    in.words(mesh.sizes, polygons);
    in.words(mesh.indices, indices);
    return check_packet_mesh(mesh, error);
}

bool parse_image(Cursor& in, PacketImage& image, const char* kind, std::string& error) {
    std::uint32_t type;
    if (!in.name(image.name)) return fail(error, std::string(kind) + " section: bad name");
    const std::string what = std::string(kind) + " \"" + image.name + "\": ";
    if (!in.u32(image.width) || !in.u32(image.height) || !in.u32(image.channels) || !in.u32(type))
        return fail(error, what + "the section is cut short");
    if (type > PACKET_FLOATS)
        return fail(error, what + "unknown sample type " + std::to_string(type));
    image.type = static_cast<PacketSampleType>(type);
    if (!check_packet_image(image, error)) return false;
    const std::uint64_t size = std::uint64_t{image.width} * image.height * image.channels *
                               (image.type == PACKET_FLOATS ? 4 : 1);
    if (size != in.left())
        return fail(error, what + "the pixels do not match the section's length");
    in.bytes(image.data, static_cast<std::size_t>(size));
    return check_packet_image(image, error);
}

constexpr std::size_t kKeyBytes = 4 + 8 + 4 * 4;

bool parse_channel(Cursor& in, PacketChannel& channel, std::string& error) {
    if (!in.name(channel.name)) return fail(error, "channel section: bad name");
    const std::string what = "channel \"" + channel.name + "\": ";
    std::uint32_t keys;
    if (!in.u32(channel.mode) || !in.u32(channel.tangents) || !in.f32(channel.scale) ||
        !in.f32(channel.offset) || !in.u32(keys))
        return fail(error, what + "the section is cut short");
    if (std::uint64_t{keys} * kKeyBytes != in.left())
        return fail(error, what + "the keys do not match the section's length");
    channel.keys.resize(keys);
    for (PacketKey& key : channel.keys) {
        in.f32(key.time);
        in.f64(key.value);
        in.f32(key.in_x);
        in.f32(key.in_y);
        in.f32(key.out_x);
        in.f32(key.out_y);
    }
    return check_packet_channel(channel, error);
}

bool has_name(const auto& list, const std::string& name) {
    return std::any_of(list.begin(), list.end(), [&](const auto& x) { return x.name == name; });
}

bool parse_section(std::uint32_t tag, const std::vector<std::uint8_t>& body, PacketFile& file,
                   std::string& error) {
    Cursor in(body.data(), body.size());
    switch (tag) {
        case PACKET_MESH: {
            PacketMesh mesh;
            if (!parse_mesh(in, mesh, error)) return false;
            if (has_name(file.meshes, mesh.name))
                return fail(error, "mesh \"" + mesh.name + "\" appears twice");
            file.meshes.push_back(std::move(mesh));
            return true;
        }
        case PACKET_IMAGE:
        case PACKET_LIGHT: {
            auto& list = tag == PACKET_IMAGE ? file.images : file.lighting;
            PacketImage image;
            if (!parse_image(in, image, section_name(tag), error)) return false;
            if (has_name(list, image.name))
                return fail(error, std::string(section_name(tag)) + " \"" + image.name +
                                       "\" appears twice");
            list.push_back(std::move(image));
            return true;
        }
        case PACKET_CHANNEL: {
            PacketChannel channel;
            if (!parse_channel(in, channel, error)) return false;
            if (has_name(file.channels, channel.name))
                return fail(error, "channel \"" + channel.name + "\" appears twice");
            file.channels.push_back(std::move(channel));
            return true;
        }
        default:
            return fail(error, "unknown section \"" + tag_text(tag) + "\"");
    }
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void put64(std::vector<std::uint8_t>& out, std::uint64_t v) {
    put32(out, static_cast<std::uint32_t>(v));
    put32(out, static_cast<std::uint32_t>(v >> 32));
}
void put_floats(std::vector<std::uint8_t>& out, const std::vector<float>& values) {
    for (float f : values) {
        std::uint32_t bits;
        std::memcpy(&bits, &f, 4);
        put32(out, bits);
    }
}
void put_f32(std::vector<std::uint8_t>& out, float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    put32(out, bits);
}
void put_f64(std::vector<std::uint8_t>& out, double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, 8);
    put64(out, bits);
}
void put_name(std::vector<std::uint8_t>& out, const std::string& name) {
    put32(out, static_cast<std::uint32_t>(name.size()));
    out.insert(out.end(), name.begin(), name.end());
}

// A section: its tag, a length filled in when the body is done, the body.
template <typename Fill>
void put_section(std::vector<std::uint8_t>& out, std::uint32_t tag, Fill fill) {
    put32(out, tag);
    const std::size_t at = out.size();
    put64(out, 0);
    fill();
    const std::uint64_t length = out.size() - at - 8;
    for (int i = 0; i < 8; ++i) out[at + i] = static_cast<std::uint8_t>(length >> (8 * i));
}

}  // namespace

bool check_packet_mesh(const PacketMesh& mesh, std::string& error) {
    const std::string what = "mesh \"" + mesh.name + "\": ";
    if (mesh.name.empty() || mesh.name.size() > kPacketNameLimit ||
        mesh.name.find('\0') != std::string::npos)
        return fail(error, "a mesh has a bad name");
    const std::size_t n = mesh.vertex_count();
    if (mesh.positions.size() != 3 * n || n > 0x7FFFFFFFu)
        return fail(error, what + "positions are not whole vertices");
    if (!mesh.normals.empty() && mesh.normals.size() != 3 * n)
        return fail(error, what + "the normals are not one per vertex");
    if (!mesh.st.empty() && mesh.st.size() != 2 * n)
        return fail(error, what + "the texture coordinates are not one per vertex");
    if (!all_finite(mesh.positions) || !all_finite(mesh.normals) || !all_finite(mesh.st))
        return fail(error, what + "a vertex is not a finite number");
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < mesh.sizes.size(); ++i) {
        if (mesh.sizes[i] < 3)
            return fail(error, what + "polygon " + std::to_string(i) + " has " +
                                   std::to_string(mesh.sizes[i]) + " vertices");
        total += mesh.sizes[i];
    }
    if (total != mesh.indices.size())
        return fail(error, what + "the polygons use " + std::to_string(total) +
                               " indices but the mesh has " + std::to_string(mesh.indices.size()));
    std::size_t polygon = 0, end = mesh.sizes.empty() ? 0 : mesh.sizes[0];
    for (std::size_t k = 0; k < mesh.indices.size(); ++k) {
        while (k >= end) end += mesh.sizes[++polygon];
        if (mesh.indices[k] >= n)
            return fail(error, what + "polygon " + std::to_string(polygon) + " refers to vertex " +
                                   std::to_string(mesh.indices[k]) + " of " + std::to_string(n));
    }
    return true;
}

bool check_packet_image(const PacketImage& image, std::string& error) {
    const std::string what = "image \"" + image.name + "\": ";
    if (image.name.empty() || image.name.size() > kPacketNameLimit ||
        image.name.find('\0') != std::string::npos)
        return fail(error, "an image has a bad name");
    if (image.width == 0 || image.height == 0 || image.width > kPacketImageSideLimit ||
        image.height > kPacketImageSideLimit)
        return fail(error, what + "bad size " + std::to_string(image.width) + " by " +
                               std::to_string(image.height));
    if (image.channels < 1 || image.channels > 4)
        return fail(error, what + "bad channel count " + std::to_string(image.channels));
    if (image.type != PACKET_BYTES && image.type != PACKET_FLOATS)
        return fail(error, what + "unknown sample type");
    // The data is checked once it is there (the reader checks the size first).
    if (!image.data.empty() && image.data.size() != std::size_t{image.width} * image.height *
                                                        image.channels *
                                                        (image.type == PACKET_FLOATS ? 4 : 1))
        return fail(error, what + "the pixels do not match the size");
    return true;
}

bool check_packet_channel(const PacketChannel& channel, std::string& error) {
    const std::string what = "channel \"" + channel.name + "\": ";
    if (channel.name.empty() || channel.name.size() > kPacketNameLimit ||
        channel.name.find('\0') != std::string::npos)
        return fail(error, "a channel has a bad name");
    // Pre types in bits 8 to 13, post types in bits 0 to 5.
    if ((channel.mode & ~0x3F3Fu) != 0)
        return fail(error, what + "unknown out-of-range mode " + std::to_string(channel.mode));
    static constexpr std::uint32_t kTangentTypes[] = {1, 2, 4, 8, 16, 17, 18, 20};
    if (std::find(std::begin(kTangentTypes), std::end(kTangentTypes), channel.tangents) ==
        std::end(kTangentTypes))
        return fail(error, what + "unknown tangent type " + std::to_string(channel.tangents));
    if (!std::isfinite(channel.scale) || !std::isfinite(channel.offset))
        return fail(error, what + "the timing is not a finite number");
    if (channel.keys.empty()) return fail(error, what + "no keys");
    for (std::size_t i = 0; i < channel.keys.size(); ++i) {
        const PacketKey& k = channel.keys[i];
        if (!std::isfinite(k.time) || !std::isfinite(k.value) || !std::isfinite(k.in_x) ||
            !std::isfinite(k.in_y) || !std::isfinite(k.out_x) || !std::isfinite(k.out_y))
            return fail(error, what + "key " + std::to_string(i) + " is not a finite number");
    }
    return true;
}

bool read_packets(const PacketSource& source, PacketFile& file, std::string& error) {
    std::uint8_t word[4];
    if (!source(word, 4)) return fail(error, "the packet data ends before its version");
    if (le32(word) != kPacketVersion)
        return fail(error, "packet version " + std::to_string(le32(word)) +
                               " is not one this program reads (it reads version " +
                               std::to_string(kPacketVersion) + ")");
    std::vector<std::uint8_t> body;
    for (;;) {
        std::uint8_t head[12];
        if (!source(head, sizeof head))
            return fail(error, "the packet data ends before its end section");
        const std::uint32_t tag = le32(head);
        const std::uint64_t length = le32(head + 4) | std::uint64_t{le32(head + 8)} << 32;
        if (tag == PACKET_END) {
            if (length != 0) return fail(error, "the end section is not empty");
            return true;
        }
        if (tag != PACKET_MESH && tag != PACKET_IMAGE && tag != PACKET_LIGHT &&
            tag != PACKET_CHANNEL)
            return fail(error, "unknown section \"" + tag_text(tag) + "\"");
        if (length > kPacketSectionLimit)
            return fail(error, std::string(section_name(tag)) + " section of " +
                                   std::to_string(length) + " bytes is too large");
        // Grows only as the bytes arrive: a length the stream does not back
        // costs nothing.
        body.clear();
        while (body.size() < length) {
            const std::size_t at = body.size();
            const std::size_t piece =
                static_cast<std::size_t>(std::min<std::uint64_t>(kReadPiece, length - at));
            body.resize(at + piece);
            if (!source(body.data() + at, piece))
                return fail(error, std::string("the packet data ends inside a ") +
                                       section_name(tag) + " section");
        }
        if (!parse_section(tag, body, file, error)) return false;
    }
}

bool parse_packets(const std::uint8_t* data, std::size_t size, PacketFile& file, std::string& error,
                   std::size_t* used) {
    std::size_t at = 0;
    auto source = [&](void* out, std::size_t n) {
        if (size - at < n) return false;
        std::memcpy(out, data + at, n);
        at += n;
        return true;
    };
    std::uint8_t magic[4];
    if (!source(magic, 4) || std::memcmp(magic, kPacketMagic, 4) != 0)
        return fail(error, "not packet data");
    bool ok = read_packets(source, file, error);
    if (used) *used = at;
    return ok;
}

bool write_packets(const PacketFile& file, std::vector<std::uint8_t>& out, std::string& error) {
    std::set<std::string> names[4];
    for (const PacketMesh& mesh : file.meshes)
        if (!check_packet_mesh(mesh, error) || !names[0].insert(mesh.name).second)
            return error.empty() ? fail(error, "mesh \"" + mesh.name + "\" appears twice") : false;
    for (int kind = 1; kind < 3; ++kind)
        for (const PacketImage& image : kind == 1 ? file.images : file.lighting) {
            if (!check_packet_image(image, error)) return false;
            if (image.data.empty())
                return fail(error, "image \"" + image.name + "\" has no pixels");
            if (!names[kind].insert(image.name).second)
                return fail(error, "image \"" + image.name + "\" appears twice");
        }
    for (const PacketChannel& channel : file.channels)
        if (!check_packet_channel(channel, error))
            return false;
        else if (!names[3].insert(channel.name).second)
            return fail(error, "channel \"" + channel.name + "\" appears twice");
    out.assign(kPacketMagic, kPacketMagic + 4);
    put32(out, kPacketVersion);
    for (const PacketMesh& mesh : file.meshes)
        put_section(out, PACKET_MESH, [&] {
            put_name(out, mesh.name);
            put32(out, (mesh.normals.empty() ? 0 : kMeshNormals) | (mesh.st.empty() ? 0 : kMeshSt));
            put32(out, static_cast<std::uint32_t>(mesh.vertex_count()));
            put_floats(out, mesh.positions);
            put_floats(out, mesh.normals);
            put_floats(out, mesh.st);
            put32(out, static_cast<std::uint32_t>(mesh.sizes.size()));
            put32(out, static_cast<std::uint32_t>(mesh.indices.size()));
            for (std::uint32_t v : mesh.sizes) put32(out, v);
            for (std::uint32_t v : mesh.indices) put32(out, v);
        });
    for (int kind = 1; kind < 3; ++kind)
        for (const PacketImage& image : kind == 1 ? file.images : file.lighting)
            put_section(out, kind == 1 ? PACKET_IMAGE : PACKET_LIGHT, [&] {
                put_name(out, image.name);
                put32(out, image.width);
                put32(out, image.height);
                put32(out, image.channels);
                put32(out, image.type);
                out.insert(out.end(), image.data.begin(), image.data.end());
            });
    for (const PacketChannel& channel : file.channels)
        put_section(out, PACKET_CHANNEL, [&] {
            put_name(out, channel.name);
            put32(out, channel.mode);
            put32(out, channel.tangents);
            put_f32(out, channel.scale);
            put_f32(out, channel.offset);
            put32(out, static_cast<std::uint32_t>(channel.keys.size()));
            for (const PacketKey& k : channel.keys) {
                put_f32(out, k.time);
                put_f64(out, k.value);
                put_f32(out, k.in_x);
                put_f32(out, k.in_y);
                put_f32(out, k.out_x);
                put_f32(out, k.out_y);
            }
        });
    put32(out, PACKET_END);
    put64(out, 0);
    return true;
}

}  // namespace sky
