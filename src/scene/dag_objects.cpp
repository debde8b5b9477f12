// Statements that place things: lights, patches, faces, polysets, cameras
// and instances of declared lights and geometry.
//
// With motion blur a frame is walked three times: at shutter open, at
// shutter close and at the frame time. Moving objects (and, with motion on,
// every instance) are made at shutter open; the later walks pair what they
// reach with those objects in order, from a cursor, and only with an object
// made from the same definition: an object the shutter-close walk reaches
// that has no partner (a scene whose control flow differs between the two
// times) is ignored, and an object left without a partner keeps its open
// placement as its close one, so it renders without motion rather than with
// another object's.
#include "platform/fatal.h"
#include "scene/camera.h"
#include "scene/dag_internal.h"
#include "scene/scene_clock.h"
#include "scene/scene_hooks.h"
#include "scene/transform.h"
#include "sdl/body.h"
#include "sdl/expr.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

const char* default_name(std::int32_t type) {
    switch (type) {
        case SDL_PATCH:
            return "Patch";
        case SDL_FACE:
            return "Face";
        case SDL_POLYSET:
            return "Polyset";
        default:
            return "Object";
    }
}

// Evaluates an object expression into `object` (its body, then its geometry).
bool make_object(RenderObject& object, std::int32_t type, Expr* definition,
                 const Symbol* variable) {
    object.type = type;
    object.definition = definition;
    object.variable = variable;
    if (!AR_evaluate(type, &object.value, definition, nullptr)) return false;
    object.name = variable            ? variable->name
                  : object.value.name ? object.value.name
                                      : default_name(type);
    if (SceneHooks& hooks = scene_hooks(); hooks.evaluate_geometry)
        return hooks.evaluate_geometry(object);
    return true;
}

void release(RenderObject& object) {
    if (SceneHooks& hooks = scene_hooks(); hooks.release_geometry) hooks.release_geometry(object);
    object.geometry = object.open_geometry = object.close_geometry = nullptr;
}

void prepare_shaders(RenderObject& object) {
    if (SceneHooks& hooks = scene_hooks(); hooks.prepare_shaders) hooks.prepare_shaders(object);
}

void build_motion_bounds(RenderObject& object) {
    // A failure here is not reported: the object renders from what it has.
    if (SceneHooks& hooks = scene_hooks(); hooks.motion_bounds) hooks.motion_bounds(object);
}

// Whether an object moves: only with motion blur on; with a moving camera
// every object does; otherwise its own `motion_blur` setting decides.
bool object_moves(Expr* definition, std::int32_t type) {
    const SceneClock& clock = scene_clock();
    if (!motion_active(clock)) return false;
    if (clock.camera_motion) return true;
    ObjectValue value;
    if (!AR_evaluate(type, &value, definition, nullptr) || value.body == nullptr) return false;
    const BodyItem* item = value.body->find("motion_blur");
    float motion = 0;
    if (item == nullptr || !evaluate_scalar(item->value, motion)) return false;
    return static_cast<long long>(motion) != 0;
}

// The object made earlier in this frame that the current walk's object pairs
// with: the next one from the cursor made from the same definition (and
// variable). Pairing by definition keeps a scene whose walks differ from
// pairing an object with another's placement.
RenderObject* find_partner(Expr* definition, const Symbol* variable) {
    ObjectList& objects = frame_objects();
    for (RenderObject* object = objects.at_cursor(); object;
         objects.advance_cursor(), object = objects.at_cursor()) {
        if (object->definition == definition && object->variable == variable &&
            object->shader_slot == 0) {
            objects.advance_cursor();
            return object;
        }
    }
    return nullptr;
}

// Shaders are evaluated for the frame time, whenever the object was made:
// the shading of a moving object happens at times within the shutter, all
// of which read the frame's shader values.
void prepare_with_slots(RenderObject* object, Expr* definition) {
    prepare_shaders(*object);
    ObjectList& objects = frame_objects();
    for (int slot = 1;; ++slot) {
        RenderObject* next = objects.at_cursor();
        if (next == nullptr || next->shader_slot != slot || next->definition != definition) break;
        prepare_shaders(*next);
        objects.advance_cursor();
    }
}

// The shutter-close (or, for instances, frame-time) half of an object made
// at shutter open. Without a partner the object is released and ignored.
void pair_with_earlier(std::int32_t type, Expr* definition, const Symbol* variable, bool close) {
    RenderObject* partner = find_partner(definition, variable);
    if (partner == nullptr) return;
    // The later half is evaluated in a record of its own and only its
    // geometry moves to the partner: geometry never refers back to the
    // record it was evaluated for (see SceneHooks).
    RenderObject later;
    if (!make_object(later, type, definition, variable)) {
        release(later);
        return;
    }
    TransformValue placement = snapshot(transform_state());
    SceneHooks& hooks = scene_hooks();
    // The partner's further shader slots follow it in the list.
    for (int slot = 0; partner != nullptr; ++slot) {
        void* geometry = slot == 0             ? later.geometry
                         : hooks.slot_geometry ? hooks.slot_geometry(later.geometry, slot)
                                               : nullptr;
        if (close) {
            partner->close_placement = placement;
            partner->close_geometry = geometry;
            partner->has_close = true;
        } else {
            partner->placement = placement;
            partner->geometry = geometry;
            prepare_shaders(*partner);
        }
        build_motion_bounds(*partner);
        ObjectList& objects = frame_objects();
        partner = objects.at_cursor();
        if (partner == nullptr || partner->shader_slot != slot + 1 ||
            partner->definition != definition)
            break;
        objects.advance_cursor();
    }
}

// Objects for a polyset's further shader slots, right after its first.
void append_shader_slots(std::size_t first) {
    SceneHooks& hooks = scene_hooks();
    if (!hooks.shader_slots || !hooks.slot_geometry) return;
    int slots = hooks.shader_slots(frame_objects()[first]);
    for (int slot = 1; slot < slots; ++slot) {
        RenderObject& made = frame_objects().append();
        const RenderObject& object = frame_objects()[first];
        made = object;
        made.instance_chain = nullptr;
        made.shader_slot = slot;
        made.geometry = hooks.slot_geometry(object.geometry, slot);
        made.open_geometry = object.moving ? made.geometry : nullptr;
        made.close_geometry = nullptr;
        if (!made.moving) prepare_shaders(made);
    }
}

void append_object(std::int32_t type, Expr* definition, const Symbol* variable, bool moving) {
    RenderObject& object = frame_objects().append();
    object.moving = moving;
    if (!make_object(object, type, definition, variable)) {
        release(object);
        object.visible = false;
        return;
    }
    object.placement = snapshot(transform_state());
    if (moving) {
        object.open_placement = object.placement;
        object.open_geometry = object.geometry;
        // Until a shutter-close partner is paired, the object does not move.
        object.close_placement = object.placement;
    } else {
        prepare_shaders(object);
    }
    append_shader_slots(frame_objects().size() - 1);
}

// Patch, face and polyset statements.
void place_geometry(std::int32_t type, Expr* definition) {
    const SceneClock& clock = scene_clock();
    bool open = at_shutter_open(clock), close = at_shutter_close(clock);
    if (type == SDL_FACE) {
        if (!open && !close) append_object(type, definition, nullptr, false);  // faces never move
        return;
    }
    bool moving = object_moves(definition, type);
    if (open) {
        if (moving) append_object(type, definition, nullptr, true);
    } else if (close) {
        if (moving) pair_with_earlier(type, definition, nullptr, true);
    } else if (!moving) {
        append_object(type, definition, nullptr, false);
    } else if (RenderObject* made = find_partner(definition, nullptr)) {
        prepare_with_slots(made, definition);  // made at shutter open
    }
}

// Instances of declared geometry: with motion on, every instance is made at
// shutter open, and the later walks give it its close and frame-time values.
void place_instance(std::int32_t type, Expr* definition, const Symbol* variable) {
    const SceneClock& clock = scene_clock();
    bool moving = type != SDL_FACE && object_moves(definition, type);
    if (!motion_active(clock) || at_shutter_open(clock)) {
        std::size_t before = frame_objects().size();
        append_object(type, definition, variable, moving);
        if (frame_objects().size() == before) return;
        RenderObject& made = frame_objects()[before];
        made.moving = moving;
        // Objects made from one variable are chained, newest last.
        for (std::size_t i = before; i-- > 0;) {
            RenderObject& earlier = frame_objects()[i];
            if (earlier.variable == variable && earlier.instance_chain == nullptr &&
                earlier.shader_slot == 0) {
                earlier.instance_chain = &made;
                break;
            }
        }
        if (!motion_active(clock)) prepare_shaders(made);
        return;
    }
    pair_with_earlier(type, definition, variable, at_shutter_close(clock));
}

Expr* object_of(Statement& node) {
    auto* record = static_cast<ObjectRecord*>(node.operands);
    SKY_CHECK(record != nullptr);
    return record->object;
}

void place_light(Expr* definition, const char* name) {
    PlacedLight light;
    light.definition = definition;
    if (!AR_evaluate(SDL_LIGHT, &light.value, definition, nullptr)) return;
    light.name = name ? name : light.value.name;
    SceneHooks& hooks = scene_hooks();
    if (hooks.evaluate_light && !hooks.evaluate_light(light)) return;
    if (hooks.light_is_on && !hooks.light_is_on(light)) {  // every on-switch is off
        if (hooks.release_light) hooks.release_light(light);
        return;
    }
    const TransformState& state = transform_state();
    light.placement = state.value.model;
    if (hooks.is_spot_light && hooks.place_spot_light && hooks.is_spot_light(light))
        hooks.place_spot_light(light, state);
    light.transform = snapshot(state);
    auto entry = std::make_unique<LightEntry>();
    entry->reference = light;
    entry->working = light;
    auto& lights = light_list();
    lights.insert(lights.begin(), std::move(entry));
}

}  // namespace

int evaluate_light_statement(Statement& node, int, void**) {
    place_light(object_of(node), nullptr);
    return 0;
}

int evaluate_patch_statement(Statement& node, int, void**) {
    place_geometry(SDL_PATCH, object_of(node));
    return 0;
}

int evaluate_face_statement(Statement& node, int, void**) {
    place_geometry(SDL_FACE, object_of(node));
    return 0;
}

int evaluate_polyset_statement(Statement& node, int, void**) {
    place_geometry(SDL_POLYSET, object_of(node));
    return 0;
}

int evaluate_camera_statement(Statement& node, int, void**) {
    ObjectValue camera;
    if (AR_evaluate(SDL_CAMERA, &camera, object_of(node), nullptr) && camera.body)
        place_camera(camera.body, transform_state());
    return 0;
}

int evaluate_instance_statement(Statement& node, int, void**) {
    auto* record = static_cast<InstanceRecord*>(node.operands);
    SKY_CHECK(record != nullptr);
    const Symbol* symbol = record->symbol;
    if (symbol == nullptr || record->object == nullptr) return 0;  // reported while reading
    switch (symbol->type) {
        case SDL_LIGHT:
            place_light(record->object, symbol->name);
            break;
        case SDL_PATCH:
        case SDL_FACE:
        case SDL_POLYSET:
            place_instance(symbol->type, record->object, symbol);
            break;
        default:
            break;
    }
    return 0;
}

}  // namespace sky
