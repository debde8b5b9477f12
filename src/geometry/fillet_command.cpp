// Multi-fillet commands: their definitions, checked as the scene is read,
// and what each frame makes of them: the curve and surface lists of the
// frame (the surfaces placed in world space), the merged blend, and its
// installation as the surface of the result patch's objects.
#include "geometry/fillet_command.h"

#include <array>
#include <cmath>
#include <optional>
#include <string_view>
#include <vector>

#include "base/vecmath.h"
#include "geometry/declared_geometry.h"
#include "geometry/evaluate_common.h"
#include "geometry/fillet_blend.h"
#include "geometry/geometry_evaluation.h"
#include "geometry/geometry_lists.h"
#include "geometry/object_geometry.h"
#include "platform/fatal.h"
#include "scene/scene_hooks.h"
#include "scene/scene_objects.h"
#include "sdl/body.h"
#include "sdl/expr.h"
#include "sdl/scene_description.h"
#include "sdl/types.h"

namespace sky {
namespace {

constexpr std::array<std::string_view, 11> kParameters = {
    "curve_list1",   "curve_list2",   "surface_list1", "surface_list2", "anchor_bs1",  "anchor_bs2",
    "anchor_param1", "anchor_param2", "bs1_open",      "bs2_open",      "result_patch"};

// The items of a list parameter (a single value written without
// parentheses is a list of one).
std::vector<Expr*> items_of(const Body& body, std::string_view name) {
    std::vector<Expr*> out;
    const BodyItem* item = body.find(name);
    if (item == nullptr) return out;
    if (!for_each_item(item->value, [&](const float*, Expr* e) {
            out.push_back(e);
            return true;
        }))
        out.assign(1, item->value);
    return out;
}

const Body* patch_body(Expr* e, const char** name = nullptr) {
    ObjectValue value;
    if (e == nullptr || !AR_evaluate(SDL_PATCH, &value, e, nullptr)) return nullptr;
    if (name && value.name) *name = value.name;
    return value.body;
}

// The result patch's name, for messages.
const char* result_name(const Body& body) {
    const BodyItem* item = body.find("result_patch");
    const char* name = "";
    if (item) patch_body(item->value, &name);
    return name;
}

bool scalar_of(const Body& body, std::string_view name, float fallback, float& value) {
    const BodyItem* item = body.find(name);
    value = fallback;
    return item == nullptr || AR_evaluate(SDL_SCALAR, &value, item->value, nullptr);
}

// The frame's objects made from a patch body (their first shader slot).
std::vector<RenderObject*> objects_of(const Body* body) {
    std::vector<RenderObject*> found;
    ObjectList& objects = frame_objects();
    for (std::size_t i = 0; i < objects.size(); ++i) {
        RenderObject& o = objects[i];
        if (o.type == SDL_PATCH && o.value.body == body && o.shader_slot == 0 && o.geometry)
            found.push_back(&o);
    }
    return found;
}

// The times a fillet is built for: shutter open, frame time, shutter close.
enum class At { OPEN, FRAME, CLOSE };

// The surface and placement an object has at a time (a moving object's
// open and close halves; any other object's only ones).
const PatchGeometry& geometry_at(const RenderObject& object, At at) {
    const void* g = at == At::OPEN && object.moving       ? object.open_geometry
                    : at == At::CLOSE && object.has_close ? object.close_geometry
                                                          : nullptr;
    return *static_cast<const PatchGeometry*>(g ? g : object.geometry);
}
const TransformValue& placement_at(const RenderObject& object, At at) {
    if (at == At::OPEN && object.moving) return object.open_placement;
    if (at == At::CLOSE && object.has_close) return object.close_placement;
    return object.placement;
}

// A copy of the object's surface at a time, placed in world space.
bool world_surface(const RenderObject& object, At at, NurbsSurface& out) {
    out = geometry_at(object, at).surface;
    const TransformValue& placement = placement_at(object, at);
    for (WeightedPoint& p : out.cvs) {
        float w = 1;
        const Triple world = transform_point(
            Triple{static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)},
            placement.model, &w);
        if (!(std::fabs(w) > 1e-12f)) return false;
        p.x = world.x / w, p.y = world.y / w, p.z = world.z / w;
    }
    return true;
}

// The fillet as the surface of an object at a time: moved into its object
// space.
std::unique_ptr<GeometryCommon> installed(const RenderObject& object, At at,
                                          const NurbsSurface& fillet) {
    auto patch = std::make_unique<PatchGeometry>(geometry_at(object, at));
    patch->surface = fillet;
    patch->trims.clear();
    Matrix4 object_from_world;
    Ar_invert_matrix(placement_at(object, at).model, object_from_world);
    empty_bound(patch->bound);
    for (WeightedPoint& p : patch->surface.cvs) {
        const Triple o = transform_point(
            Triple{static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)},
            object_from_world);
        p.x = o.x, p.y = o.y, p.z = o.z;
        extend_bound(patch->bound, p.x, p.y, p.z);
    }
    // The fillet is rebuilt each frame: nothing of it may be saved.
    patch->saved_geometry_allowed = false;
    return patch;
}

// The sequences of a command for the frame; false when a listed surface is
// not in the frame or cannot be placed, or a curve cannot be read.
bool sequences_of(const Body& body, At at, FilletSequences& q) {
    // Lists of different lengths blend nothing: no surface is evaluated for
    // them (an unplaced one would be evaluated on demand).
    const std::size_t count = items_of(body, "curve_list1").size();
    for (const char* list : {"curve_list2", "surface_list1", "surface_list2"})
        if (items_of(body, list).size() != count) return false;
    for (int side = 1; side <= 2; ++side) {
        auto& curves = side == 1 ? q.curves1 : q.curves2;
        auto& surfaces = side == 1 ? q.surfaces1 : q.surfaces2;
        for (Expr* e : items_of(body, side == 1 ? "curve_list1" : "curve_list2")) {
            ObjectValue value;
            NurbsCurve curve;
            if (e == nullptr || !AR_evaluate(SDL_BOUNDARY_CURVE, &value, e, nullptr) ||
                value.body == nullptr || !evaluate_boundary_curve(*value.body, curve))
                return false;
            curves.push_back(std::move(curve));
        }
        for (Expr* e : items_of(body, side == 1 ? "surface_list1" : "surface_list2")) {
            const char* name = "";
            const Body* patch = patch_body(e, &name);
            // A patch the model did not place is filleted on where it was
            // declared.
            const std::vector<RenderObject*> objects = objects_of(patch);
            const RenderObject* object = objects.empty() ? declared_object(patch) : objects.front();
            if (object == nullptr) return false;
            NurbsSurface surface;
            if (!world_surface(*object, at, surface))
                fatal("Cannot transform patch surface to perform multi fillet (%s)\n",
                      object->name ? object->name : name);
            surfaces.push_back(std::move(surface));
        }
    }
    float open1 = 1, open2 = 1, ignored = 0;
    // The anchors are read (a failure is a fault of the scene's values) but
    // shape nothing.
    for (const char* name : {"anchor_bs1", "anchor_bs2", "anchor_param1", "anchor_param2"})
        if (!scalar_of(body, name, 0.0f, ignored)) return false;
    if (!scalar_of(body, "bs1_open", 1.0f, open1) || !scalar_of(body, "bs2_open", 1.0f, open2))
        return false;
    q.open1 = static_cast<long>(open1) != 0;
    q.open2 = static_cast<long>(open2) != 0;
    return true;
}

// The result patch's objects of the frame; a patch the model never placed
// becomes one new object, placed at the origin.
std::vector<RenderObject*> result_objects(const Body& body) {
    const BodyItem* item = body.find("result_patch");
    ObjectValue value;
    if (item == nullptr || !AR_evaluate(SDL_PATCH, &value, item->value, nullptr) ||
        value.body == nullptr)
        return {};
    std::vector<RenderObject*> found = objects_of(value.body);
    if (!found.empty()) return found;
    SceneHooks& hooks = scene_hooks();
    if (hooks.evaluate_geometry == nullptr) return {};
    RenderObject& made = frame_objects().append();
    made.type = SDL_PATCH;
    made.definition = item->value;
    made.value = value;
    made.name = value.name ? value.name : "patch";
    made.moving = false;
    if (!hooks.evaluate_geometry(made) || made.geometry == nullptr) return {};
    if (hooks.prepare_shaders) hooks.prepare_shaders(made);
    return {&made};
}

}  // namespace

void finish_command_body(Body& body) {
    for (const BodyItem& item : body.items) {
        bool known = false;
        for (std::string_view name : kParameters) known = known || name == item.name;
        if (!known) fatal("Unknown COMMAND parameter %s\n", item.name);
    }
}

void run_fillet_commands() {
    for (const CommandRecord& command : scene_description().commands) {
        if (command.kind != 3000) fatal("Unknown command type %d\n", command.kind);
        if (command.body == nullptr || command.body->find("result_patch") == nullptr) continue;
        const Body& body = *command.body;
        bool moving = false;
        if (const BodyItem* result = body.find("result_patch"))
            for (const RenderObject* object : objects_of(patch_body(result->value)))
                moving = moving || (object->moving && object->has_close);
        // A moving result gets a fillet for each time, in this order.
        struct Time {
            At at;
            const char* failure;
        };
        const Time all[3] = {
            {At::OPEN, "Cannot create multi-fillet surface '%s' at shutter open time\n"},
            {At::FRAME, "Cannot create multi-fillet surface '%s'\n"},
            {At::CLOSE, "Cannot create multi-fillet surface '%s' at shutter close time\n"}};
        NurbsSurface made[3];
        for (int k = moving ? 0 : 1; k < (moving ? 3 : 2); ++k) {
            FilletSequences q;
            std::optional<NurbsSurface> fillet;
            if (sequences_of(body, all[k].at, q)) fillet = multi_fillet(q);
            if (!fillet) fatal(all[k].failure, result_name(body));
            made[k] = std::move(*fillet);
        }
        for (RenderObject* object : result_objects(body)) {
            if (object->moving && object->has_close)
                replace_geometry(*object, installed(*object, At::FRAME, made[1]),
                                 installed(*object, At::OPEN, made[0]),
                                 installed(*object, At::CLOSE, made[2]));
            else
                replace_geometry(*object, installed(*object, At::FRAME, made[1]), nullptr, nullptr);
        }
    }
}

}  // namespace sky
