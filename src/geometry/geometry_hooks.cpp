// The geometry hooks of the model walk. Geometry records are heap objects
// the walk holds as `void*` in a render object's geometry, open geometry and
// close geometry; equal records of a moving object's instances are shared,
// so each record counts the render objects holding it.
#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "geometry/declared_geometry.h"
#include "geometry/displacement.h"
#include "geometry/fillet_command.h"
#include "geometry/geometry_evaluation.h"
#include "geometry/nurbs_ops.h"
#include "geometry/object_queue.h"
#include "geometry/path_length.h"
#include "platform/fatal.h"
#include "platform/report.h"
#include "scene/scene_clock.h"
#include "scene/scene_hooks.h"
#include "scene/scene_objects.h"
#include "sdl/builder.h"
#include "shading/shader.h"
#include "texture/texture.h"

namespace sky {
namespace {

std::unordered_map<const GeometryCommon*, int>& holders() {
    static auto* counts = new std::unordered_map<const GeometryCommon*, int>;
    return *counts;
}

void* hold(GeometryCommon* geometry) {
    if (geometry) ++holders()[geometry];
    return geometry;
}

void let_go(void* pointer) {
    auto* geometry = static_cast<GeometryCommon*>(pointer);
    auto it = holders().find(geometry);
    if (it == holders().end()) return;
    if (--it->second == 0) {
        holders().erase(it);
        delete geometry;
    }
}

std::unique_ptr<GeometryCommon> evaluate(const RenderObject& object) {
    const Body* body = object.value.body;
    const char* name = object.name ? object.name : "";
    switch (object.type) {
        case SDL_PATCH:
            if (const PatchDefinition* d = patch_definition(body)) return evaluate_patch(*d, name);
            break;
        case SDL_FACE:
            if (const FaceDefinition* d = face_definition(body)) return evaluate_face(*d, name);
            break;
        case SDL_POLYSET:
            if (const PolysetDefinition* d = polyset_definition(body))
                return evaluate_polyset(*d, name);
            break;
        default:
            break;
    }
    fatal("Cannot find geometry for %s\n", name);
}

// With motion blur, an instance whose geometry equals that of the previous
// object made from the same variable shares it. Only objects just appended
// to the frame's list take part: a shutter-close half is evaluated in a
// temporary whose partner is already in the list and must keep its own.
GeometryCommon* shared_with_chain(const RenderObject& object, const GeometryCommon& made) {
    ObjectList& objects = frame_objects();
    if (object.variable == nullptr || objects.size() < 2 || &objects[objects.size() - 1] != &object)
        return nullptr;
    for (std::size_t i = objects.size() - 1; i-- > 0;) {
        const RenderObject& earlier = objects[i];
        if (earlier.variable != object.variable || earlier.shader_slot != 0) continue;
        auto* geometry = static_cast<GeometryCommon*>(earlier.geometry);
        return geometry && same_geometry(*geometry, made) ? geometry : nullptr;
    }
    return nullptr;
}

// Polygon meshes have no chord lengths to map textures by: a texture of the
// polyset's shader that asks for them is looked up by the surface
// parameters instead, which the polyset says once per frame.
void check_chord_length(const GeometryCommon& geometry, const char* name) {
    if (geometry.type != SDL_POLYSET || geometry.shaders.empty()) return;
    const SceneClock& clock = scene_clock();
    if (at_shutter_open(clock) || at_shutter_close(clock)) return;
    ObjectValue value;
    if (!AR_evaluate(SDL_SHADER, &value, geometry.shaders.front(), nullptr)) return;
    const RR_Shader* shader = shader_of(value);
    if (shader == nullptr || shader->info == nullptr) return;
    const AR_ShaderInfo& info = *shader->info;
    for (const TexturedColour* slot : {&info.color, &info.incandescence, &info.transparency,
                                       &info.bump, &info.displacement, &info.shading_map})
        if (slot->texture && slot->texture->frame.chord_length) {
            rptError("Polysets cannot be chordlength texture mapped yet, ignoring: %s\n", name);
            return;
        }
}

bool evaluate_geometry(RenderObject& object) {
    std::unique_ptr<GeometryCommon> made = evaluate(object);
    if (!made) return false;
    prepare_displacement(*made, 0, object.name ? object.name : "");
    check_chord_length(*made, object.name ? object.name : "");
    object.motion_texture_sample_level = made->motion_texture_sample_level;
    object.motion_shading_samples = made->motion_shading_samples;
    object.saved_geometry = made->saved_geometry_allowed;
    object.visible = made->active;
    object.shadows = made->casts_shadow != 0;
    GeometryCommon* shared =
        motion_active(scene_clock()) ? shared_with_chain(object, *made) : nullptr;
    if (made->type == SDL_PATCH) {
        auto& patch = static_cast<PatchGeometry&>(*made);
        chord_length_map(patch.surface, patch.chord_length);
    }
    object.geometry = hold(shared ? shared : made.release());
    if (static_cast<GeometryCommon*>(object.geometry)->type == SDL_PATCH)
        object.chord_length = &static_cast<PatchGeometry*>(object.geometry)->chord_length;
    return true;
}

// An object may hold one record in several places (a moving object's open
// geometry is its geometry until the frame-time walk replaces it).
void release_geometry(RenderObject& object) {
    void* held[3] = {object.geometry, object.open_geometry, object.close_geometry};
    for (int i = 0; i < 3; ++i) {
        bool seen = false;
        for (int j = 0; j < i; ++j) seen = seen || held[j] == held[i];
        if (held[i] && !seen) let_go(held[i]);
    }
    object.geometry = object.open_geometry = object.close_geometry = nullptr;
}

int shader_slots(const RenderObject& object) {
    if (object.type != SDL_POLYSET || object.geometry == nullptr) return 1;
    return static_cast<int>(static_cast<const PolysetGeometry*>(object.geometry)->shaders.size());
}

// Slot `slot`'s object renders that slot's polygons from the same mesh.
void* slot_geometry(void* geometry, int slot) {
    const auto* first = static_cast<const PolysetGeometry*>(geometry);
    if (first == nullptr || first->type != SDL_POLYSET ||
        slot >= static_cast<int>(first->shaders.size()))
        return nullptr;
    auto copy = std::make_unique<PolysetGeometry>(*first);
    copy->shader_slot = slot;
    prepare_displacement(*copy, slot, first->displacement.name);
    return hold(copy.release());
}

std::span<Expr* const> object_shaders(const RenderObject& object) {
    const auto* common = static_cast<const GeometryCommon*>(object.geometry);
    if (common == nullptr) return {};
    return common->shaders;
}

std::span<Expr* const> object_lights(const RenderObject& object) {
    const auto* common = static_cast<const GeometryCommon*>(object.geometry);
    if (common == nullptr) return {};
    return common->lights;
}

// A motion path for motion(): the curve built as a face's boundaries are,
// evaluated at t within its parameter range.
bool motion_path(const Body& body, double t, Triple& position, Triple& tangent, double range[2]) {
    NurbsCurve curve;
    BuiltCurve built;
    if (!evaluate_boundary_curve(body, curve) || !build_curve(curve, built)) return false;
    range[0] = built.tmin();
    range[1] = built.tmax();
    CurveEval point;
    evaluate_curve(built, std::clamp(t, range[0], range[1]), point);
    position = Triple{static_cast<float>(point.position[0]), static_cast<float>(point.position[1]),
                      static_cast<float>(point.position[2])};
    tangent = Triple{static_cast<float>(point.tangent[0]), static_cast<float>(point.tangent[1]),
                     static_cast<float>(point.tangent[2])};
    return std::isfinite(position.x) && std::isfinite(position.y) && std::isfinite(position.z);
}

// A motion-path channel's point: the same curve, by arc length.
PathResult path_by_length(const Body& body, double fraction, Triple& position, Triple& direction,
                          double& length) {
    NurbsCurve curve;
    BuiltCurve built;
    PathPoint point;
    if (!evaluate_boundary_curve(body, curve) || !build_curve(curve, built)) return PATH_NO_CURVE;
    if (!point_at_length(built, fraction, point)) return PATH_NO_LENGTH;
    auto triple = [](const std::array<double, 3>& v) {
        return Triple{static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2])};
    };
    position = triple(point.position);
    direction = triple(point.direction);
    length = point.length;
    const bool finite = std::isfinite(position.x) && std::isfinite(position.y) &&
                        std::isfinite(position.z) && std::isfinite(length);
    return finite ? PATH_OK : PATH_NO_CURVE;
}

// The hooks this subsystem installs, listed once so that removing them
// cannot miss one: set, or cleared again. Kept apart from the light
// subsystem's list (shading/light_frame.cpp) on purpose: the two are alike
// in form only, each naming the functions that only its own layer knows.
void set_geometry_hooks(bool on) {
    set_geometry_body_finisher(on ? finish_geometry_body : nullptr);
    SceneHooks& hooks = scene_hooks();
    hooks.evaluate_geometry = on ? evaluate_geometry : nullptr;
    hooks.release_geometry = on ? release_geometry : nullptr;
    hooks.shader_slots = on ? shader_slots : nullptr;
    hooks.slot_geometry = on ? slot_geometry : nullptr;
    hooks.object_shaders = on ? object_shaders : nullptr;
    hooks.object_lights = on ? object_lights : nullptr;
    hooks.run_commands = on ? run_fillet_commands : nullptr;
    hooks.motion_bounds = on ? motion_bounds : nullptr;
    hooks.evaluate_declared_geometry = on ? evaluate_declared_geometry : nullptr;
    expression_context().motion_path = on ? motion_path : nullptr;
    expression_context().path_by_length = on ? path_by_length : nullptr;
}

}  // namespace

void replace_geometry(RenderObject& object, std::unique_ptr<GeometryCommon> geometry,
                      std::unique_ptr<GeometryCommon> open, std::unique_ptr<GeometryCommon> close) {
    const bool moving = object.open_geometry != nullptr;
    release_geometry(object);
    object.geometry = hold(geometry.release());
    if (open)
        object.open_geometry = hold(open.release());
    else if (moving)
        object.open_geometry = object.geometry;
    if (close) object.close_geometry = hold(close.release());
}

void install_geometry_hooks() {
    set_geometry_hooks(true);
}

void remove_geometry_hooks() {
    set_geometry_hooks(false);
}

}  // namespace sky
