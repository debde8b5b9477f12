// Lights in the frame: light bodies become records as they are read, each
// placement of a light in the model walk gets its own evaluated info, and
// before every camera the placed lights are brought into the camera's eye
// space and every object learns which of them illuminate it.
//
// Which lights illuminate an object: the lights its `light_list` names,
// when it has one; otherwise every light that is not `exclusive` (an
// exclusive light lights only the objects that list it).
#include <algorithm>
#include <memory>
#include <span>
#include <vector>

#include "platform/fatal.h"
#include "platform/report.h"
#include "scene/camera.h"
#include "scene/scene_hooks.h"
#include "scene/scene_objects.h"
#include "sdl/body.h"
#include "sdl/builder.h"
#include "sdl/scene_description.h"
#include "sdl/symbols.h"
#include "shading/light.h"
#include "shading/light_internal.h"
#include "shading/shader.h"

namespace sky {
namespace {

// The frame's placed lights (one info per placement); the model walk's
// entries point at them.
std::vector<std::unique_ptr<AR_LightInfo>>& placed_infos() {
    static std::vector<std::unique_ptr<AR_LightInfo>> infos;
    return infos;
}

// Per camera: every prepared light, and the light sets objects point at
// (set 0: every light that is not exclusive).
struct CameraLights {
    std::vector<const AR_LightInfo*> all;
    std::vector<std::vector<const AR_LightInfo*>> sets;
};
CameraLights& camera_lights() {
    static CameraLights lights;
    return lights;
}

bool effects_active = false;
bool fog_active = false;

RR_Light* light_of(const ObjectValue& value) {
    if (value.body == nullptr || value.body->type != SDL_LIGHT) return nullptr;
    return static_cast<RR_Light*>(const_cast<void*>(value.body->definition));
}

void finish_light_body(Body& body) {
    RR_Light* light = Rr_create_light(body.model, body.line);
    for (const BodyItem& item : body.items) Rr_parse_light(*light, item.name, item.value);
    body.definition = light;
}

void finish_body(Body& body) {
    if (body.type == SDL_LIGHT)
        finish_light_body(body);
    else if (body.type == SDL_SHADER)
        finish_shader_body(body);
}

bool evaluate_placed_light(PlacedLight& placed) {
    RR_Light* light = light_of(placed.value);
    if (light == nullptr) return false;
    auto info = std::make_unique<AR_LightInfo>();
    Ar_evaluate_light(*light, *info);
    info->name = placed.name ? placed.name : placed.value.name;
    placed.record = info.get();
    placed_infos().push_back(std::move(info));
    return true;
}

bool placed_light_is_on(const PlacedLight& placed) {
    const auto* info = static_cast<const AR_LightInfo*>(placed.record);
    return info == nullptr || info->on;
}

bool is_spot(const PlacedLight& placed) {
    const auto* info = static_cast<const AR_LightInfo*>(placed.record);
    return info && info->kind == LIGHT_SPOT;
}

// The spot light's axis follows the transformation where it was placed.
void place_spot(PlacedLight& placed, const TransformState& state) {
    auto* info = static_cast<AR_LightInfo*>(placed.record);
    if (info) Ar_place_light(*info, state.value.model, state.value.direction);
}

// Both the working and the reference entry name the same info: the first
// release frees it.
void release_placed_light(PlacedLight& placed) {
    auto& infos = placed_infos();
    auto it = std::find_if(infos.begin(), infos.end(),
                           [&](const auto& info) { return info.get() == placed.record; });
    if (it != infos.end()) {
        Ar_release_light_info(**it);
        infos.erase(it);
    }
    placed.record = nullptr;
}

// Declared lights follow the frame: their records are evaluated again.
void evaluate_declared_lights() {
    for_each_declared(SDL_LIGHT, [](Symbol& symbol) {
        auto* value = static_cast<ObjectValue*>(symbol.value);
        if (value == nullptr) return;
        RR_Light* light = light_of(*value);
        if (light == nullptr) return;  // not a light: nothing to evaluate, nothing printed
        if (light->name == nullptr) light->name = symbol.name;
        if (light->info == nullptr) light->info = new AR_LightInfo();
        Ar_evaluate_light(*light, *light->info);
        light->info->name = light->name;
    });
}

// The lights an object's light list names, by the light records they were
// evaluated from.
void object_light_set(const RenderObject& object, std::span<Expr* const> list,
                      std::vector<const AR_LightInfo*>& set) {
    const auto& all = camera_lights().all;
    for (Expr* entry : list) {
        ObjectValue value;
        RR_Light* light = nullptr;
        if (entry && entry->type == SDL_LIGHT && AR_evaluate(SDL_LIGHT, &value, entry, nullptr))
            light = light_of(value);
        if (light == nullptr) {
            rptError("Improper element in light_list for %s\n", object.name ? object.name : "");
            continue;
        }
        for (const AR_LightInfo* info : all)
            if (info->light == light && std::find(set.begin(), set.end(), info) == set.end())
                set.push_back(info);
    }
}

}  // namespace

MasterLight evaluate_master_light(const Body* body) {
    MasterLight master;
    if (body == nullptr) return master;
    for (const BodyItem& item : body->items) {
        std::string_view name = item.name ? item.name : "";
        // A failed value keeps the default; other names are not the master light's.
        if (name == "intensity") {
            float value = master.intensity;
            if (AR_evaluate(SDL_SCALAR, &value, item.value, nullptr)) master.intensity = value;
        } else if (name == "light_color" || name == "light_colour") {
            TexturedColour colour;
            if (Ar_evaluate_textured_colour(item.value, master.colour, colour))
                master.colour = colour.colour;
        }
    }
    return master;
}

bool Ar_light_effects_active() {
    return effects_active;
}
bool Ar_light_fog_active() {
    return fog_active;
}

std::span<const AR_LightInfo* const> Ar_camera_lights() {
    return camera_lights().all;
}

std::span<const AR_LightInfo* const> Ar_object_lights(const RenderObject& object) {
    const auto& sets = camera_lights().sets;
    if (object.light_set < 0 || object.light_set >= static_cast<std::int32_t>(sets.size()))
        return {};
    return sets[static_cast<std::size_t>(object.light_set)];
}

bool Ar_object_links_light(const RenderObject& object, const RR_Light* light) {
    const SceneHooks& hooks = scene_hooks();
    if (light == nullptr || hooks.object_lights == nullptr) return false;
    for (Expr* entry : hooks.object_lights(object)) {
        ObjectValue value;
        if (entry && entry->type == SDL_LIGHT && AR_evaluate(SDL_LIGHT, &value, entry, nullptr) &&
            light_of(value) == light)
            return true;
    }
    return false;
}

void prepare_camera_lights(const CameraRecord& camera) {
    CameraLights& lights = camera_lights();
    lights.all.clear();
    lights.sets.clear();
    const MasterLight master = evaluate_master_light(scene_description().master_light);
    effects_active = false;
    fog_active = false;

    for (auto& entry : light_list()) {
        // The working copy is refreshed from the reference before use.
        entry->working = entry->reference;
        auto* info = static_cast<AR_LightInfo*>(entry->reference.record);
        if (info == nullptr || !info->on) continue;
        if (info->kind != LIGHT_SPOT)
            Ar_place_light(*info, entry->reference.placement, entry->reference.transform.direction);
        lights::warn_degenerate_linear(*info);
        Ar_prepare_light_for_camera(*info, camera.view.eye_from_world, camera.view.world_from_eye);
        float s = info->intensity * master.intensity / 255.0f;
        info->colour_scale = Triple{s * master.colour.x, s * master.colour.y, s * master.colour.z};
        effects_active = effects_active || info->has_effects;
        fog_active = fog_active || info->has_fog;
        lights.all.push_back(info);
    }

    lights.sets.emplace_back();
    for (const AR_LightInfo* info : lights.all)
        if (!info->exclusive) lights.sets[0].push_back(info);

    const SceneHooks& hooks = scene_hooks();
    ObjectList& objects = frame_objects();
    for (std::size_t i = 0; i < objects.size(); ++i) {
        RenderObject& object = objects[i];
        object.light_set = 0;
        std::span<Expr* const> linked =
            hooks.object_lights ? hooks.object_lights(object) : std::span<Expr* const>{};
        if (linked.empty()) continue;
        std::vector<const AR_LightInfo*> set;
        object_light_set(object, linked, set);
        object.light_set = static_cast<std::int32_t>(lights.sets.size());
        lights.sets.push_back(std::move(set));
    }
}

void release_camera_lights() {
    camera_lights().all.clear();
    camera_lights().sets.clear();
    ObjectList& objects = frame_objects();
    for (std::size_t i = 0; i < objects.size(); ++i) objects[i].light_set = -1;
}

namespace {

// The hooks of the light subsystem, listed once so that removing them cannot
// miss one: set, or cleared again. Kept apart from the geometry's list
// (geometry/geometry_hooks.cpp) on purpose: the two are alike in form only,
// each naming the functions that only its own layer knows.
void set_light_hooks(bool on) {
    set_shading_body_finisher(on ? finish_body : nullptr);
    SceneHooks& hooks = scene_hooks();
    hooks.evaluate_light = on ? evaluate_placed_light : nullptr;
    hooks.light_is_on = on ? placed_light_is_on : nullptr;
    hooks.is_spot_light = on ? is_spot : nullptr;
    hooks.place_spot_light = on ? place_spot : nullptr;
    hooks.release_light = on ? release_placed_light : nullptr;
    hooks.evaluate_declared_lights = on ? evaluate_declared_lights : nullptr;
}

}  // namespace

void install_light_hooks() {
    set_light_hooks(true);
}

void remove_light_hooks() {
    set_light_hooks(false);
}

}  // namespace sky
