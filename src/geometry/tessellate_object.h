// Tessellation of one render object into its screen triangles: the object's
// tessellator (by its type) hands object-space triangles to a sink that
// places them with the object's placement, views them with the camera,
// clips them at the near plane and enters them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "geometry/buckets.h"
#include "geometry/object_geometry.h"
#include "geometry/screen_geometry.h"
#include "geometry/surface_point.h"
#include "geometry/tessellate.h"

namespace sky {

struct RenderObject;
struct TransformValue;

// The tessellators tessellate_object calls; tests put fakes in their place.
struct Tessellators {
    bool (*patch)(const PatchGeometry& patch, const char* name, TriangleSink& sink);
    bool (*face)(const FaceGeometry& face, const char* name, float orientation_sign,
                 TriangleSink& sink);
    bool (*polyset)(const PolysetGeometry& polyset, const char* name, TriangleSink& sink);
};
Tessellators& tessellators();
// The real tessellators back in the table.
void restore_tessellators();

// Frees the object's previous triangles and makes them again from its
// geometry, with the calling thread's TransformState holding the object's
// placement and the pass's geometry view. A missing geometry prints
// "Invalid/missing tesselation object\n", an unknown type "Unknown object
// type %d\n" (error channel); both, and a failing tessellator, return false
// and leave the object without triangles.
// A large polyset's polygons are tessellated in parts, which every worker
// that needs the object while it is being made may take: otherwise one
// worker makes a mesh of a million triangles while the others wait for it.
// The worker that owns the object waits for the parts taken elsewhere and
// joins them in order, so the triangles and vertices come out as one
// worker would have made them. Lives as long as the object's queue entry.
struct SharedTessellation {
    std::atomic<bool> open{false};  // parts may be taken
    std::atomic<int> next_part{0};
    std::atomic<int> parts_done{0};
    int part_count = 0;
    // Each part's first polygon, then the end.
    std::vector<std::size_t> part_first;
    const RenderObject* object = nullptr;
    const PolysetGeometry* polyset = nullptr;
    const TransformValue* placement = nullptr;  // the owner's, while it waits
    PolysetParts prepared;
    // Each part is binned for the holders' rows by the worker that made
    // it; the object keeps the parts' lists as they are. Whether the
    // object's bins were made so:
    std::vector<GridRows> rows;
    bool binned = false;
    std::vector<std::unique_ptr<ObjectTriangles>> parts;
    std::vector<PolysetPartReport> reports;
    // A moving object pairs its two halves: each part then tessellates the
    // same polygons of the shutter-close half too and pairs them with its
    // own, into moving triangles for a camera or, in a depth map, into
    // triangles standing where the frame time puts them.
    // The pairs are those of one worker when every part pairs as many
    // triangles as it made (`paired`); otherwise the owner makes the
    // object again alone.
    const PolysetGeometry* close_polyset = nullptr;
    const TransformValue* close_placement = nullptr;
    PolysetParts close_prepared;
    std::vector<PolysetPartReport> close_reports;
    std::vector<char> paired;
};

// `shared`, when given, lets other workers help (help_tessellate).
bool tessellate_object(RenderObject& object, ObjectTriangles& storage,
                       SharedTessellation* shared = nullptr);

// Main thread, before the frame's passes: what the large polysets of the
// frame's objects share between their parts in every pass, made with the
// parked workers' help (keep_polyset_normals).
void prepare_frame_polysets();

// Takes parts of `shared` while any are left; false when there was none.
bool help_tessellate(SharedTessellation& shared);

// What a worker waiting for an object in other hands waits on: a count that
// moves on whenever an object of the pass is done or a large one opens its
// parts. Read the count before looking at the objects, then wait for it to
// move from that value: a worker with nothing to do sleeps instead of
// spinning, which on a busy machine took the processor from the very
// worker it waited for.
std::uint32_t tessellation_progress();
void note_tessellation_progress();
void wait_for_tessellation_progress(std::uint32_t seen);

}  // namespace sky
