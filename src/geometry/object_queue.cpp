// The object queue.
//
// The queue is built on the main thread before the pass and only read
// during it, except for each object's state, which the workers change with
// one compare-and-swap: the worker that moves it from untouched to busy is
// the one that tessellates it.
#include "geometry/object_queue.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <memory>
#include <unordered_map>
#include <vector>

#include "base/arena.h"
#include "base/frame_passes.h"
#include "base/options.h"
#include "base/vecmath.h"
#include "geometry/buckets.h"
#include "geometry/depth_entry.h"
#include "geometry/displacement.h"
#include "geometry/enter.h"
#include "geometry/object_geometry.h"
#include "geometry/screen_geometry.h"
#include "geometry/tessellate_object.h"
#include "platform/report.h"
#include "scene/camera.h"
#include "scene/scene_objects.h"
#include "scene/transform.h"
#include "sdl/types.h"
#include "shading/light.h"
#include "shading/shader.h"

namespace sky {
namespace {

enum : int { kUntouched = 0, kBusy = 1, kDone = 2 };

struct QueuedObject {
    explicit QueuedObject(RenderObject* object) : triangles(object) {}
    ObjectTriangles triangles;
    std::atomic<int> state{kUntouched};
    SharedTessellation shared;
};

std::vector<std::unique_ptr<QueuedObject>> queued;
std::unordered_map<const RenderObject*, QueuedObject*> by_object;

QueuedObject* find(const RenderObject* object) {
    auto found = by_object.find(object);
    return found == by_object.end() ? nullptr : found->second;
}

// The object-space box of an object's surface with room for its
// displacement on every side; false when the bound was never computed.
bool displaced_bound(const GeometryCommon& geometry, const TransformValue& placement, double b[6]) {
    const double* made = geometry.bound;
    if (std::all_of(made, made + 6, [](double v) { return v == 0; })) return false;
    const double reach = displacement_reach(geometry, placement);
    for (int axis = 0; axis < 3; ++axis) {
        b[2 * axis] = made[2 * axis] - reach;
        b[2 * axis + 1] = made[2 * axis + 1] + reach;
    }
    return true;
}

// Where an object's bound falls on the screen.
struct ScreenRange {
    float xmin = INFINITY, xmax = -INFINITY, ymin = INFINITY, ymax = -INFINITY;
    bool in_front = false;  // some of the box lies between the clipping planes
};

// False when the bound is unknown (never computed) or cannot be projected
// (it reaches from in front of the eye to behind it).
bool add_bound(ScreenRange& range, const GeometryCommon& geometry, const TransformValue& placement,
               const GeometryView& view, const Matrix4& eye_from_world) {
    double b[6];
    if (!displaced_bound(geometry, placement, b)) return false;
    int behind = 0, beyond = 0;
    for (int corner = 0; corner < 8; ++corner) {
        const Triple object{static_cast<float>(b[corner & 1]),
                            static_cast<float>(b[2 + ((corner >> 1) & 1)]),
                            static_cast<float>(b[4 + ((corner >> 2) & 1)])};
        float w = 1;
        Triple world = transform_point(object, placement.model, &w);
        if (std::fabs(w) < 1e-6f) return false;
        world = {world.x / w, world.y / w, world.z / w};
        const Triple eye = transform_point(world, eye_from_world);
        if (eye.z < -view.far) ++beyond;
        if (eye.z > -view.near) {
            ++behind;
            if (view.screen.perspective) continue;
        }
        const ScreenPoint p = view.screen.map(eye);
        range.xmin = std::min(range.xmin, p.x), range.xmax = std::max(range.xmax, p.x);
        range.ymin = std::min(range.ymin, p.y), range.ymax = std::max(range.ymax, p.y);
    }
    // Wholly nearer than the near plane, or wholly beyond the far one, the
    // box shows nothing; otherwise some of it lies between them.
    if (behind < 8 && beyond < 8) range.in_front = true;
    return !(view.screen.perspective && behind > 0 && behind < 8);
}

// A shader that lets all light through casts no shadow.
bool lets_shadows_through(const RenderObject& object, const GeometryCommon& geometry) {
    if (geometry.shaders.empty()) return false;
    std::size_t slot =
        object.type == SDL_POLYSET ? static_cast<std::size_t>(object.shader_slot) : 0;
    if (slot >= geometry.shaders.size()) slot = 0;
    ObjectValue value;
    if (!AR_evaluate(SDL_SHADER, &value, geometry.shaders[slot], nullptr)) return false;
    const RR_Shader* shader = shader_of(value);
    if (shader == nullptr || shader->info == nullptr) return false;
    const TexturedColour& t = shader->info->transparency;
    return t.texture == nullptr && t.colour.x >= 255.0f && t.colour.y >= 255.0f &&
           t.colour.z >= 255.0f;
}

// Extends `box` by the world corners of an object-space bound; false when
// the bound was never computed.
bool add_world_bound(double box[6], const GeometryCommon& geometry,
                     const TransformValue& placement) {
    double b[6];
    if (!displaced_bound(geometry, placement, b) || b[0] > b[1]) return false;
    for (int corner = 0; corner < 8; ++corner) {
        const Triple object{static_cast<float>(b[corner & 1]),
                            static_cast<float>(b[2 + ((corner >> 1) & 1)]),
                            static_cast<float>(b[4 + ((corner >> 2) & 1)])};
        float w = 1;
        const Triple world = transform_point(object, placement.model, &w);
        if (std::fabs(w) < 1e-6f) continue;
        const double p[3] = {world.x / w, world.y / w, world.z / w};
        for (int axis = 0; axis < 3; ++axis) {
            box[2 * axis] = std::min(box[2 * axis], p[axis]);
            box[2 * axis + 1] = std::max(box[2 * axis + 1], p[axis]);
        }
    }
    return true;
}

void list_object(RenderObject& object, std::span<Tile> tiles, const GeometryView& view,
                 const PassFilter& filter) {
    const auto* geometry = static_cast<const GeometryCommon*>(object.geometry);
    // An object the evaluation could not make has nothing to show.
    if (!pass_renders(object, filter)) return;
    ScreenRange range;
    bool known = add_bound(range, *geometry, object.placement, view, view.eye_from_world);
    if (known && object.moving && object.has_close && object.close_geometry) {
        // Both ends of the shutter, each seen from where the eye is then.
        if (object.open_geometry)
            known = add_bound(range, *static_cast<const GeometryCommon*>(object.open_geometry),
                              object.open_placement, view, view.eye_from_world_open);
        known =
            known && add_bound(range, *static_cast<const GeometryCommon*>(object.close_geometry),
                               object.close_placement, view, view.eye_from_world_close);
    }
    // A tile's buckets reach its border beyond it.
    const auto border = static_cast<float>(tile_border());
    if (known) {
        if (!range.in_front) return;
        if (range.xmax < static_cast<float>(view.xleft) - border ||
            range.xmin > static_cast<float>(view.xright) + border)
            return;
    }
    for (Tile& tile : tiles) {
        if (known && (range.ymax < static_cast<float>(tile.y_first) - border ||
                      range.ymin > static_cast<float>(tile.y_last) + border))
            continue;
        tile.objects.push_back(&object);
    }
}

// Objects with fewer triangles are walked whole for every tile.
constexpr std::int32_t kBinnedTriangles = 4096;

// Made in parts, an object was binned part by part, which only pays for
// an object large enough.
void bin_for_tiles(ObjectTriangles& storage, const SharedTessellation& shared) {
    if (storage.triangle_count < kBinnedTriangles) {
        storage.bins = {};
        return;
    }
    if (shared.binned) return;
    if (storage.depth_only)
        bin_depth_triangles(storage, holder_rows(storage));
    else
        bin_object_triangles(storage, geometry_view(), holder_rows(storage));
}

void enter_tile_geometry(Tile& tile, void*) {
    process_tile(tile);
}
void release_tile_geometry(Tile& tile, void*) {
    release_tile(tile);
}

}  // namespace

void release_object_queue() {
    by_object.clear();
    queued.clear();
}

void queue_tile_objects(std::span<Tile> tiles) {
    release_object_queue();
    for (Tile& tile : tiles) {
        for (RenderObject* object : tile.objects) {
            QueuedObject*& entry = by_object[object];
            if (entry == nullptr) {
                queued.push_back(std::make_unique<QueuedObject>(object));
                entry = queued.back().get();
            }
            entry->triangles.holders.push_back(&tile);
        }
    }
}

bool pass_renders(const RenderObject& object, const PassFilter& filter) {
    const auto* geometry = static_cast<const GeometryCommon*>(object.geometry);
    if (geometry == nullptr) return false;
    const bool visible = object.visible && geometry->active;
    if (filter.light == nullptr) return visible;
    if (!visible && !filter.invisible_cast_shadows) return false;
    if (!object.shadows) return false;
    if (filter.linked_only && filter.light->exclusive &&
        !Ar_object_links_light(object, filter.light->light))
        return false;
    return !lets_shadows_through(object, *geometry);
}

bool motion_bounds(RenderObject& object) {
    double box[6] = {INFINITY, -INFINITY, INFINITY, -INFINITY, INFINITY, -INFINITY};
    bool known = false;
    const std::pair<const void*, const TransformValue*> ends[3] = {
        {object.open_geometry, &object.open_placement},
        {object.geometry, &object.placement},
        {object.has_close ? object.close_geometry : nullptr, &object.close_placement}};
    for (const auto& [geometry, placement] : ends)
        if (geometry != nullptr)
            known =
                add_world_bound(box, *static_cast<const GeometryCommon*>(geometry), *placement) ||
                known;
    if (!known) return false;
    for (int k = 0; k < 6; ++k) object.bound[k] = static_cast<float>(box[k]);
    return true;
}

bool pass_objects_bound(const PassFilter& filter, double box[6]) {
    for (int axis = 0; axis < 3; ++axis) box[2 * axis] = INFINITY, box[2 * axis + 1] = -INFINITY;
    bool any = false;
    ObjectList& objects = frame_objects();
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const RenderObject& object = objects[i];
        if (!pass_renders(object, filter)) continue;
        if (object.moving && object.bound[0] != FLT_MAX) {
            // The whole shutter's box, which the walk built.
            for (int axis = 0; axis < 3; ++axis) {
                box[2 * axis] = std::min(box[2 * axis], double{object.bound[2 * axis]});
                box[2 * axis + 1] = std::max(box[2 * axis + 1], double{object.bound[2 * axis + 1]});
            }
            any = true;
            continue;
        }
        any = add_world_bound(box, *static_cast<const GeometryCommon*>(object.geometry),
                              object.placement) ||
              any;
    }
    return any;
}

namespace {

void queue_pass_objects(const CameraRecord& view_record, const PassFilter& filter, bool swept) {
    set_geometry_view(view_record);
    // Depth maps see moving objects where the frame time puts them.
    if (!swept) geometry_view().motion_blur = false;
    std::span<Tile> tiles = tile_list();
    for (Tile& tile : tiles) tile.objects.clear();
    ObjectList& objects = frame_objects();
    for (std::size_t i = 0; i < objects.size(); ++i)
        list_object(objects[i], tiles, geometry_view(), filter);
    queue_tile_objects(tiles);
}

}  // namespace

void queue_camera_objects(const CameraRecord& camera) {
    queue_pass_objects(camera, PassFilter{}, true);
}

bool queue_light_objects(const CameraRecord& light_view, const PassFilter& filter) {
    queue_pass_objects(light_view, filter, false);
    // Moving objects too stand still in a map, where the frame time puts
    // them: nothing the map reads needs their screen triangles.
    geometry_view().depth_only = true;
    return true;
}

int Mp_query_object_queue(const RenderObject* object) {
    QueuedObject* entry = find(object);
    if (entry == nullptr) return 0;
    int expected = kUntouched;
    if (entry->state.compare_exchange_strong(expected, kBusy, std::memory_order_acq_rel))
        return kObjectYours;
    return expected == kDone ? kObjectTessellated : kObjectBeingTessellated;
}

void Mp_object_tessellated(const RenderObject* object) {
    if (QueuedObject* entry = find(object)) entry->state.store(kDone, std::memory_order_release);
    note_tessellation_progress();
}

ObjectTriangles* queued_triangles(const RenderObject* object) {
    QueuedObject* entry = find(object);
    return entry ? &entry->triangles : nullptr;
}

void process_tile(Tile& tile) {
    const std::size_t count = tile.objects.size();
    auto* marked = arena_array<bool>(tile_arena(), std::max<std::size_t>(count, 1));
    for (;;) {
        const std::uint32_t progress = tessellation_progress();
        bool busy_elsewhere = false;
        for (std::size_t i = 0; i < count; ++i) {
            if (marked[i]) continue;
            RenderObject* object = tile.objects[i];
            switch (Mp_query_object_queue(object)) {
                case kObjectTessellated:
                    marked[i] = true;
                    break;
                case kObjectBeingTessellated:
                    // Rather than wait, take a part of it when it is made
                    // in parts.
                    help_tessellate(find(object)->shared);
                    busy_elsewhere = true;
                    break;
                case kObjectYours:
                    transform_state().value = object->placement;
                    if (!tessellate_object(*object, *queued_triangles(object),
                                           &find(object)->shared))
                        rptError("Bad tessellation of object %s\n",
                                 object->name ? object->name : "");
                    bin_for_tiles(*queued_triangles(object), find(object)->shared);
                    Mp_object_tessellated(object);
                    marked[i] = true;
                    break;
                default:
                    rptError("BAD return from Mp_query_object_queue\n");
                    marked[i] = true;
                    break;
            }
        }
        if (!busy_elsewhere) break;
        wait_for_tessellation_progress(progress);
    }

    const GeometryView& view = geometry_view();
    // A depth-only map tile enters its triangles itself.
    if (view.depth_only) return;
    BucketGrid& grid = bucket_grid();
    map_tile_to_buckets(grid, &tile);
    for (RenderObject* object : tile.objects)
        if (const ObjectTriangles* triangles = queued_triangles(object))
            bucket_object(grid, view, *triangles, &tile);
}

void release_tile(Tile& tile) {
    for (RenderObject* object : tile.objects)
        if (ObjectTriangles* triangles = queued_triangles(object))
            free_object_triangles(&tile, *triangles);
}

void install_geometry_passes() {
    FramePasses& passes = frame_passes();
    passes.camera_pass.enter_geometry = enter_tile_geometry;
    passes.camera_pass.release_tile = release_tile_geometry;
    passes.rebuild_object_lists = release_object_queue;
    passes.queue_objects = queue_camera_objects;
}

}  // namespace sky
