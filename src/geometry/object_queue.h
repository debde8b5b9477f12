// The object queue and tile processing: before a tile is sampled, every
// object in its list is tessellated (exactly once per pass, whichever
// worker gets there first) and its triangles are entered into the worker's
// bucket grid. After the tile, the tile lets its objects go; an object's
// triangles are freed when the last tile holding it does.
#pragma once

#include <span>

#include "base/tiles.h"

namespace sky {

struct AR_LightInfo;
struct CameraRecord;
struct ObjectTriangles;
struct RenderObject;

// Which of the frame's objects a pass renders. A camera renders the visible
// objects. A depth map renders the objects that cast shadows: invisible ones
// only when `invisible_cast_shadows`, never those whose shader lets shadows
// through entirely, and, for a light that lights only the objects linking
// it, only those when `linked_only`.
struct PassFilter {
    const AR_LightInfo* light = nullptr;  // null: a camera pass
    bool invisible_cast_shadows = false;
    bool linked_only = false;
};

// Whether the pass renders `object`.
bool pass_renders(const RenderObject& object, const PassFilter& filter);

// A moving object's world box over the whole shutter (its shutter-open,
// frame and shutter-close ends) into its `bound` (xmin, xmax, ymin, ymax,
// zmin, zmax); false when no end has a known bound. The scene's
// motion_bounds hook.
bool motion_bounds(RenderObject& object);

// The world box (xmin, xmax, ymin, ymax, zmin, zmax) around what the pass
// renders, both ends of a moving object included; false when it renders
// nothing whose bound is known.
bool pass_objects_bound(const PassFilter& filter, double box[6]);

// Answers of Mp_query_object_queue.
enum ObjectQueueAnswer : int {
    kObjectTessellated = 1,       // already done: use its triangles
    kObjectBeingTessellated = 2,  // another worker is at it: come back later
    kObjectYours = 3,             // tessellate it, then call Mp_object_tessellated
};

// Main thread, before the pass: queues every object named in the tiles'
// lists, each held by the tiles that name it. Forgets the previous pass's.
void queue_tile_objects(std::span<Tile> tiles);

// Main thread, before a camera's pass: the geometry view from the camera,
// then each visible object into the lists of the tiles its projected bound
// reaches (every tile when the bound cannot be projected), then queued.
void queue_camera_objects(const CameraRecord& camera);

// Main thread, before a depth map's pass: the same for the objects the
// filter lets through, seen from the light's view. The pass is depth-only
// (depth_entry.h), moving objects standing where the frame time puts
// them: tiles are tessellated but get no bucket lists. Returns true.
bool queue_light_objects(const CameraRecord& light_view, const PassFilter& filter);

// Frees what is left of the queued objects' triangles and forgets them.
void release_object_queue();

int Mp_query_object_queue(const RenderObject* object);
void Mp_object_tessellated(const RenderObject* object);

// The triangles of a queued object, or null.
ObjectTriangles* queued_triangles(const RenderObject* object);

// Tessellates what the tile needs, maps the tile to the worker's buckets
// and enters its objects' triangles (the buckets not in a depth-only pass).
void process_tile(Tile& tile);
// The tile lets go of its objects.
void release_tile(Tile& tile);

// Puts tile processing, the tile release and the object lists into the
// frame loop's camera pass.
void install_geometry_passes();

}  // namespace sky
