// skyloom-pack: makes packet files (binary scene data, docs/packets.md) from
// the assets artists have: meshes of OBJ, PLY, glTF and the other formats
// Assimp imports, images and image-based lighting of any format OpenImageIO
// reads. With a scene it writes the one stream skyloom renders: the packet
// data, then the SDL text. It also lists what a packet file holds.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/Importer.hpp>

#include "platform/packets.h"

namespace {

const char* const kUsage =
    "usage: skyloom-pack -o OUTPUT [-s SCENE] ITEM ...\n"
    "       skyloom-pack --list FILE\n"
    "  -m, --mesh [NAME=]FILE      the meshes of a model file (OBJ, PLY, glTF, ...);\n"
    "                              NAME defaults to the file's name without its\n"
    "                              extension, and a file of several meshes gives\n"
    "                              NAME.1, NAME.2, ...\n"
    "  -i, --image [NAME=]FILE     an image, for file textures that name it; NAME\n"
    "                              defaults to FILE as written\n"
    "  -l, --lighting [NAME=]FILE  image-based lighting (a latitude-longitude map)\n"
    "  -c, --channel NAME=FILE     a keyframed channel driving the scalar variable\n"
    "                              NAME, from a text file of keys (docs/packets.md)\n"
    "  -s, --scene FILE            append this SDL text after the packet data\n"
    "  -o, --output FILE           the file to write\n"
    "      --list FILE             print what a packet file holds\n";

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "skyloom-pack: %s\n", message.c_str());
    std::exit(1);
}

void split_name(const std::string& argument, std::string& name, std::string& file) {
    const std::size_t equals = argument.find('=');
    if (equals == std::string::npos) {
        name.clear();
        file = argument;
    } else {
        name = argument.substr(0, equals);
        file = argument.substr(equals + 1);
    }
}

std::string stem(const std::string& file) {
    std::size_t slash = file.find_last_of('/');
    std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
    std::size_t dot = base.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
}

// Vertices are joined where every attribute agrees, so a mesh keeps the
// sharing (and therefore the smooth normals) it was modelled with; the
// nodes' transformations are applied, so a glTF scene lands where it was.
void add_meshes(const std::string& argument, sky::PacketFile& file) {
    std::string name, path;
    split_name(argument, name, path);
    if (name.empty()) name = stem(path);
    Assimp::Importer importer;
    const aiScene* scene =
        importer.ReadFile(path, aiProcess_JoinIdenticalVertices | aiProcess_PreTransformVertices |
                                    aiProcess_SortByPType);
    if (scene == nullptr) fail(path + ": " + importer.GetErrorString());
    std::vector<const aiMesh*> meshes;
    for (unsigned i = 0; i < scene->mNumMeshes; ++i)
        if (scene->mMeshes[i]->mPrimitiveTypes & aiPrimitiveType_POLYGON ||
            scene->mMeshes[i]->mPrimitiveTypes & aiPrimitiveType_TRIANGLE)
            meshes.push_back(scene->mMeshes[i]);
    if (meshes.empty()) fail(path + ": no polygon meshes");
    for (std::size_t m = 0; m < meshes.size(); ++m) {
        const aiMesh& in = *meshes[m];
        sky::PacketMesh mesh;
        mesh.name = meshes.size() == 1 ? name : name + "." + std::to_string(m + 1);
        for (unsigned v = 0; v < in.mNumVertices; ++v) {
            mesh.positions.insert(mesh.positions.end(),
                                  {in.mVertices[v].x, in.mVertices[v].y, in.mVertices[v].z});
            if (in.HasNormals())
                mesh.normals.insert(mesh.normals.end(),
                                    {in.mNormals[v].x, in.mNormals[v].y, in.mNormals[v].z});
            if (in.HasTextureCoords(0))
                mesh.st.insert(mesh.st.end(),
                               {in.mTextureCoords[0][v].x, in.mTextureCoords[0][v].y});
        }
        for (unsigned f = 0; f < in.mNumFaces; ++f) {
            const aiFace& face = in.mFaces[f];
            if (face.mNumIndices < 3) continue;  // points and lines draw nothing
            mesh.sizes.push_back(face.mNumIndices);
            mesh.indices.insert(mesh.indices.end(), face.mIndices,
                                face.mIndices + face.mNumIndices);
        }
        std::string error;
        if (!sky::check_packet_mesh(mesh, error)) fail(path + ": " + error);
        file.meshes.push_back(std::move(mesh));
    }
}

void add_image(const std::string& argument, std::vector<sky::PacketImage>& into, bool floats) {
    std::string name, path;
    split_name(argument, name, path);
    if (name.empty()) name = path;
    auto in = OIIO::ImageInput::open(path);
    if (!in) fail(path + ": " + OIIO::geterror());
    const OIIO::ImageSpec& spec = in->spec();
    sky::PacketImage image;
    image.name = name;
    image.width = static_cast<std::uint32_t>(spec.width);
    image.height = static_cast<std::uint32_t>(spec.height);
    image.channels = static_cast<std::uint32_t>(std::min(spec.nchannels, 4));
    image.type = floats ? sky::PACKET_FLOATS : sky::PACKET_BYTES;
    std::string error;
    if (!sky::check_packet_image(image, error)) fail(path + ": " + error);
    image.data.resize(std::size_t{image.width} * image.height * image.channels * (floats ? 4 : 1));
    if (!in->read_image(0, 0, 0, static_cast<int>(image.channels),
                        floats ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::UINT8, image.data.data()))
        fail(path + ": " + in->geterror());
    into.push_back(std::move(image));
}

// A channel's text file: settings and keys, one a line, # to the end of a
// line is a comment.
//     tangents = smooth          (fixed, flat, slow, linear, smooth, step, fast, in_out)
//     out_of_range = PRE_CYCLE POST_LINEAR
//     timing = 0.5 0             (frame x scale + offset)
//     TIME VALUE [IN_X IN_Y OUT_X OUT_Y]
void add_channel(const std::string& argument, sky::PacketFile& file) {
    std::string name, path;
    split_name(argument, name, path);
    if (name.empty()) fail(argument + ": a channel is NAME=FILE");
    std::ifstream in(path);
    if (!in) fail(path + ": cannot open: " + std::strerror(errno));
    static const std::map<std::string, std::uint32_t> kTangents = {
        {"fast", 1},    {"fixed", 2}, {"flat", 4},    {"in_out", 8},
        {"linear", 16}, {"slow", 17}, {"smooth", 18}, {"step", 20}};
    static const std::map<std::string, std::uint32_t> kModes = {
        {"PRE_OSCILLATE", 256}, {"PRE_CONSTANT", 512},  {"PRE_CYCLE", 1024},
        {"PRE_LINEAR", 2048},   {"PRE_IDENTITY", 4096}, {"PRE_CYCLE_OFFSET", 8192},
        {"POST_OSCILLATE", 1},  {"POST_CONSTANT", 2},   {"POST_CYCLE", 4},
        {"POST_LINEAR", 8},     {"POST_IDENTITY", 16},  {"POST_CYCLE_OFFSET", 32}};
    sky::PacketChannel channel;
    channel.name = name;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string where = path + ":" + std::to_string(number) + ": ";
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::string first;
        if (!(words >> first)) continue;
        std::string equals, value;
        if (first == "tangents" || first == "out_of_range" || first == "timing") {
            if (!(words >> equals) || equals != "=") fail(where + "expected " + first + " = ...");
            if (first == "tangents") {
                auto found = words >> value ? kTangents.find(value) : kTangents.end();
                if (found == kTangents.end()) fail(where + "unknown tangent type " + value);
                channel.tangents = found->second;
            } else if (first == "out_of_range") {
                channel.mode = 0;
                while (words >> value) {
                    auto found = kModes.find(value);
                    if (found == kModes.end()) fail(where + "unknown out-of-range mode " + value);
                    channel.mode |= found->second;
                }
            } else if (!(words >> channel.scale >> channel.offset)) {
                fail(where + "timing = SCALE OFFSET");
            }
            continue;
        }
        sky::PacketKey key;
        std::istringstream numbers(line);
        if (!(numbers >> key.time >> key.value)) fail(where + "a key is TIME VALUE");
        float tangents[4];
        int given = 0;
        while (given < 4 && numbers >> tangents[given]) ++given;
        if (given == 4) {
            key.in_x = tangents[0];
            key.in_y = tangents[1];
            key.out_x = tangents[2];
            key.out_y = tangents[3];
        } else if (given != 0 || !numbers.eof()) {
            fail(where + "a key's tangents are IN_X IN_Y OUT_X OUT_Y");
        }
        channel.keys.push_back(key);
    }
    std::string error;
    if (!sky::check_packet_channel(channel, error)) fail(path + ": " + error);
    file.channels.push_back(std::move(channel));
}

std::vector<std::uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail(path + ": cannot open: " + std::strerror(errno));
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int list(const std::string& path) {
    std::vector<std::uint8_t> bytes = read_file(path);
    sky::PacketFile file;
    std::string error;
    std::size_t used = 0;
    if (!sky::parse_packets(bytes.data(), bytes.size(), file, error, &used))
        fail(path + ": " + error);
    for (const sky::PacketMesh& mesh : file.meshes)
        std::printf("mesh \"%s\": %zu vertices, %zu polygons%s%s\n", mesh.name.c_str(),
                    mesh.vertex_count(), mesh.sizes.size(), mesh.normals.empty() ? "" : ", normals",
                    mesh.st.empty() ? "" : ", texture coordinates");
    for (int kind = 0; kind < 2; ++kind)
        for (const sky::PacketImage& image : kind == 0 ? file.images : file.lighting)
            std::printf("%s \"%s\": %u by %u, %u channels of %s\n",
                        kind == 0 ? "image" : "lighting", image.name.c_str(), image.width,
                        image.height, image.channels,
                        image.type == sky::PACKET_FLOATS ? "floats" : "bytes");
    for (const sky::PacketChannel& channel : file.channels)
        std::printf("channel \"%s\": %zu keys, tangents %u, mode %u, timing frame * %g + %g\n",
                    channel.name.c_str(), channel.keys.size(), channel.tangents, channel.mode,
                    double(channel.scale), double(channel.offset));
    if (used < bytes.size()) std::printf("then %zu bytes of SDL text\n", bytes.size() - used);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    sky::PacketFile file;
    std::string output, scene;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) fail("option " + a + " needs a value");
            return argv[++i];
        };
        if (a == "-o" || a == "--output") {
            output = value();
        } else if (a == "-s" || a == "--scene") {
            scene = value();
        } else if (a == "-m" || a == "--mesh") {
            add_meshes(value(), file);
        } else if (a == "-i" || a == "--image") {
            add_image(value(), file.images, false);
        } else if (a == "-l" || a == "--lighting") {
            add_image(value(), file.lighting, true);
        } else if (a == "-c" || a == "--channel") {
            add_channel(value(), file);
        } else if (a == "--list") {
            return list(value());
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fputs(kUsage, stderr);
            return 1;
        }
    }
    if (output.empty()) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!sky::write_packets(file, bytes, error)) fail(error);
    if (!scene.empty()) {
        std::vector<std::uint8_t> text = read_file(scene);
        bytes.insert(bytes.end(), text.begin(), text.end());
    }
    // Under a hidden name until complete: a failed write leaves an earlier
    // file of the name as it was.
    const std::string partial = output + ".partial";
    std::ofstream out(partial, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out || std::rename(partial.c_str(), output.c_str()) != 0) {
        std::remove(partial.c_str());
        fail(output + ": cannot write");
    }
    return 0;
}
