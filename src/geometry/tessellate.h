// The tessellators of the three kinds of geometry: each hands the triangles
// of an object's evaluated geometry, in object space, to a sink. Placement,
// projection and bucket entry happen in the sink.
//
// A tessellator that fails prints its own message and returns false; the
// object then contributes nothing this frame, not even the triangles handed
// to the sink before the failure.
#pragma once

#include "geometry/object_geometry.h"
#include "geometry/polygon_plane.h"
#include "geometry/surface_point.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace sky {

bool tessellate_patch(const PatchGeometry& patch, const char* name, TriangleSink& sink);
// `orientation_sign` is the placement's (negative: mirrored, the face flips).
bool tessellate_face(const FaceGeometry& face, const char* name, float orientation_sign,
                     TriangleSink& sink);
bool tessellate_polyset(const PolysetGeometry& polyset, const char* name, TriangleSink& sink);

// A large polyset tessellated in parts, by several workers at once: what
// the parts share, made once before them.
struct PolysetParts {
    // Vertex normals computed from the polygons, or none; the same for
    // every pass over the mesh of a frame, so made once for all of them.
    std::shared_ptr<const std::vector<Vec3>> computed;
    // What the first pass over the mesh found of each polygon (left out,
    // and why, or drawn and which way round), kept with the normals: the
    // depth maps and the cameras of a frame would each find it again.
    std::shared_ptr<std::atomic<std::uint8_t>[]> verdicts;
    std::size_t polygons = 0;
};
// What a part would have printed: the first polygon that met each message.
struct PolysetPartReport {
    int bad_indices = 0;
    std::int64_t polygon_message_at = -1;
    std::int64_t vertex_message_at = -1;
};
void prepare_polyset_parts(const PolysetGeometry& polyset, PolysetParts& parts);
// The computed normals prepare_polyset_parts finds kept, made now: on the
// main thread before the frame's passes the parked workers share the scan
// of the polygons, which inside a pass the owner of the object makes alone.
void keep_polyset_normals(const PolysetGeometry& polyset);
// Whether vertex `index` of the mesh gives a normal the tessellator uses.
bool polyset_vertex_has_normal(const PolysetMesh& mesh, std::size_t index);
// Polygons first .. last − 1, in order; parts taken in order and joined give
// what tessellate_polyset gives.
void tessellate_polyset_part(const PolysetGeometry& polyset, const PolysetParts& parts,
                             std::size_t first, std::size_t last, TriangleSink& sink,
                             PolysetPartReport& report);
// The messages of all parts, as one pass would print them.
void report_polyset_parts(const char* name, const std::vector<PolysetPartReport>& reports);

}  // namespace sky
