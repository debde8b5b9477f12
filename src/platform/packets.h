// Packet files: binary scene data (named meshes, images, image-based
// lighting, animation channels) that may precede the SDL text in a scene's stream, and the
// writer skyloom-pack uses. docs/packets.md is the format.
//
// The reader takes nothing on trust: every section's length is checked
// against what its counts need before anything is allocated for them, a
// section is read in bounded pieces (a stream that ends early costs no more
// memory than it delivered), and every mesh index is checked against its
// vertices. A failure leaves the reason, naming the section, in `error`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sky {

inline constexpr std::uint8_t kPacketMagic[4] = {0xAB, 0xB2, 0xD8, 0xF9};
inline constexpr std::uint32_t kPacketVersion = 1;

// Section tags: four ASCII letters, stored as the little-endian word.
enum PacketTag : std::uint32_t {
    PACKET_MESH = 0x4853454Du,     // "MESH"
    PACKET_IMAGE = 0x47414D49u,    // "IMAG"
    PACKET_LIGHT = 0x5448474Cu,    // "LGHT": image-based lighting
    PACKET_CHANNEL = 0x4D494E41u,  // "ANIM": a keyframed channel
    PACKET_END = 0x20444E45u,      // "END "
};

// The longest name, and the largest section, a packet file may hold.
inline constexpr std::size_t kPacketNameLimit = 1024;
inline constexpr std::uint64_t kPacketSectionLimit = std::uint64_t{1} << 31;
inline constexpr std::uint32_t kPacketImageSideLimit = 65535;

// A polygon mesh. Normals and texture coordinates, when present, are one per
// vertex and indexed with it.
struct PacketMesh {
    std::string name;
    std::vector<float> positions;        // x, y, z per vertex
    std::vector<float> normals;          // empty, or x, y, z per vertex
    std::vector<float> st;               // empty, or s, t per vertex
    std::vector<std::uint32_t> sizes;    // vertices of each polygon, 3 or more
    std::vector<std::uint32_t> indices;  // the polygons' vertices, one after another

    std::size_t vertex_count() const { return positions.size() / 3; }
};

enum PacketSampleType : std::uint32_t { PACKET_BYTES = 0, PACKET_FLOATS = 1 };

// An image: rows from the top, channels interleaved (1 grey, 2 grey and
// alpha, 3 RGB, 4 RGBA), bytes or floats. Image-based lighting is an image
// too (a latitude-longitude map of floats, by convention).
struct PacketImage {
    std::string name;
    std::uint32_t width = 0, height = 0, channels = 0;
    PacketSampleType type = PACKET_BYTES;
    std::vector<std::uint8_t> data;  // floats as their little-endian bytes
};

// A key of a channel: tangents as directions (x, y), in arriving at the
// key, out leaving it.
struct PacketKey {
    float time = 0;
    double value = 0;
    float in_x = -1, in_y = 0, out_x = 1, out_y = 0;
};

// A keyframed channel that drives the scalar variable of its name, read at
// frame x scale + offset. `tangents` is a tangent type (TAN_* of the scene
// language): 2 (fixed) keeps the keys' tangents, the others make them.
struct PacketChannel {
    std::string name;
    std::uint32_t mode = 0;  // out-of-range modes, pre | post; 0 for the default
    std::uint32_t tangents = 2;
    float scale = 1, offset = 0;
    std::vector<PacketKey> keys;
};

struct PacketFile {
    std::vector<PacketMesh> meshes;
    std::vector<PacketImage> images;
    std::vector<PacketImage> lighting;
    std::vector<PacketChannel> channels;
};

// Reads exactly `size` bytes; false at the end of the data or on an error.
using PacketSource = std::function<bool(void* data, std::size_t size)>;

// Reads the packet data that follows the magic (already consumed) up to and
// including its end section, leaving whatever follows for the SDL reader.
bool read_packets(const PacketSource& source, PacketFile& file, std::string& error);
// The same from memory, magic included; `used` is the packet data's size.
bool parse_packets(const std::uint8_t* data, std::size_t size, PacketFile& file, std::string& error,
                   std::size_t* used = nullptr);

// The whole packet data, magic to end section. False with the reason when a
// part could not be read back (a bad index, a size that does not fit).
bool write_packets(const PacketFile& file, std::vector<std::uint8_t>& out, std::string& error);

// The checks the reader makes, for writers to make first.
bool check_packet_mesh(const PacketMesh& mesh, std::string& error);
bool check_packet_image(const PacketImage& image, std::string& error);
bool check_packet_channel(const PacketChannel& channel, std::string& error);

}  // namespace sky
