// Where the shading subsystem joins the rest of the renderer: light and
// shader bodies become records as they are read, the model walk evaluates
// lights where it places them and shaders for the objects it makes, and
// before every camera the lights, the scene's fog and the shading camera are
// prepared.
#include <string_view>

#include "base/frame_passes.h"
#include "platform/fatal.h"
#include "scene/camera.h"
#include "scene/scene_hooks.h"
#include "sdl/body.h"
#include "sdl/scene_description.h"
#include "shading/image_lighting.h"
#include "shading/light.h"
#include "shading/shader.h"

namespace sky {
namespace {

AR_Atmosphere atmosphere;

// Every shader of a new object, evaluated and initialised for the frame time.
void prepare_object_shaders(RenderObject& object) {
    SceneHooks& hooks = scene_hooks();
    if (hooks.object_shaders == nullptr) return;
    for (Expr* expression : hooks.object_shaders(object)) {
        ObjectValue value;
        if (!AR_evaluate(SDL_SHADER, &value, expression, nullptr))
            continue;  // reported by the geometry
        if (RR_Shader* shader = shader_of(value)) Rr_evaluate_shader(*shader);
    }
}

void prepare_lights(const CameraRecord& camera) {
    set_shading_camera(camera.view.world_from_eye);
    evaluate_atmosphere(scene_description().fog, atmosphere);
    prepare_camera_lights(camera);
}

}  // namespace

void evaluate_atmosphere(const Body* fog, AR_Atmosphere& out) {
    out = AR_Atmosphere{};
    if (fog == nullptr) return;
    out.active = true;
    for (const BodyItem& item : fog->items) {
        std::string_view name = item.name ? item.name : "";
        Expr* e = item.value;
        bool ok = true;
        if (name == "color" || name == "colour") {
            TexturedColour colour;
            ok = Ar_evaluate_textured_colour(e, out.colour, colour);
            out.colour = colour.colour;
        } else if (e && e->type == SDL_SCALAR) {
            float value = 0.0f;
            ok = AR_evaluate(SDL_SCALAR, &value, e, nullptr);
            if (name == "active") out.active = value != 0.0f;
            if (name == "density" || name == "fog_density") out.density = value;
            if (name == "min_distance") out.min_distance = value;
            if (name == "max_distance") out.max_distance = value;
        } else if (e && e->type == SDL_TRIPLE) {
            Triple value;
            ok = AR_evaluate(SDL_TRIPLE, &value, e, nullptr);
        }
        if (!ok) fatal("Can't evaluate fog parameter\n");
    }
}

const AR_Atmosphere& Ar_atmosphere() {
    return atmosphere;
}

namespace {

// The hooks of the shading subsystem besides the lights', listed once so
// that removing them cannot miss one: set, or cleared again.
void set_shading_hooks(bool on) {
    scene_hooks().prepare_shaders = on ? prepare_object_shaders : nullptr;
    scene_hooks().prepare_image_lighting = on ? prepare_image_lighting : nullptr;
    FramePasses& passes = frame_passes();
    passes.prepare_lights = on ? prepare_lights : nullptr;
    passes.release_camera_lights = on ? release_camera_lights : nullptr;
}

}  // namespace

void install_shading_hooks() {
    install_light_hooks();
    set_shading_hooks(true);
}

void remove_shading_hooks() {
    remove_light_hooks();
    set_shading_hooks(false);
}

}  // namespace sky
