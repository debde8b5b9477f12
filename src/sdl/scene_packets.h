// The binary scene data of the run: what the packet files ahead of the scene
// and its stage files delivered. Polysets name its meshes (`mesh = "NAME"`),
// file textures read its images by name, its channels drive the scalar
// variables they name (sdl/animation.cpp), and its image-based lighting
// records are the light probes of shading/image_lighting.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "platform/packets.h"

namespace sky {

struct Expr;

// The meshes, images and lighting read so far. A name read again replaces
// the earlier entry (a stage file may bring a newer version).
const PacketFile& scene_packets();
void reset_scene_packets();
const PacketMesh* find_scene_mesh(const std::string& name);

// Adds what one packet file holds.
void add_scene_packets(PacketFile file);

// Hands the images to the image file library, so that file textures that
// name them read them.
void load_packet_images();

// A mesh as the lists of a polyset body: the vertices (with their texture
// coordinates when the mesh has them), the normals (null without), and the
// polygons, all packed, in the front end's memory.
Expr* mesh_vertices(const PacketMesh& mesh, std::int32_t line);
Expr* mesh_normals(const PacketMesh& mesh, std::int32_t line);
Expr* mesh_polygons(const PacketMesh& mesh, std::int32_t line);

}  // namespace sky
