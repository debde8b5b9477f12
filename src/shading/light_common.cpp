// The steps the light models share: parameter nodes and their evaluation,
// the light's colour at a point, shadow transmission and decay, and the
// light's placement in world and eye space.
#include <cmath>
#include <string_view>

#include "base/vecmath.h"
#include "base/workers.h"
#include "shading/light_internal.h"

namespace sky {
namespace lights {

bool parse_model_parameter(const ParameterTable& table, void* node, const char* name, Expr* value) {
    return parse_parameter(table, static_cast<ModelNode*>(node)->values, name, value);
}

bool evaluate_model(const ParameterTable& table, const void* node, void* info) {
    return evaluate_parameters(table.rows, static_cast<const ModelNode*>(node)->values, info,
                               nullptr);
}

void* allocate_node() {
    return new ModelNode();
}
void release_node(void* node) {
    delete static_cast<ModelNode*>(node);
}
bool no_init(AR_LightInfo&) {
    return true;
}

Triple textured_colour_at(const AR_LightInfo& light, const AR_ShadePoint& shaded, bool& textured) {
    Triple c = light.colour.colour;
    const TextureLookup at = surface_lookup(shaded);
    TextureColour out;
    if (Ar_invoke_texture(*light.colour.texture, at, out)) {
        c = out.rgb();
        textured = true;
    }
    return mul(c, light.colour_scale);
}

}  // namespace lights

// --- placement -------------------------------------------------------------------

void Ar_place_light(AR_LightInfo& info, const Matrix4& world_from_light,
                    const Matrix4& world_from_light_direction) {
    info.world_from_light = world_from_light;
    info.world_from_light_direction = world_from_light_direction;
    info.world_position = transform_point(Triple{}, world_from_light);
}

void Ar_prepare_light_for_camera(AR_LightInfo& info, const Matrix4& eye_from_world,
                                 const Matrix4& world_from_eye) {
    info.world_from_eye = world_from_eye;
    info.eye_from_light = multiply(info.world_from_light, eye_from_world);
    Ar_invert_matrix(info.eye_from_light, info.light_from_eye);
    info.position = transform_point(Triple{}, info.eye_from_light);
    const Matrix4 eye_direction = multiply(info.world_from_light_direction, eye_from_world);
    info.axis[0] = transform_vector(Triple{1, 0, 0}, eye_direction);
    info.axis[1] = transform_vector(Triple{0, 1, 0}, eye_direction);
    info.axis[2] = transform_vector(Triple{0, 0, 1}, eye_direction);

    switch (info.kind) {
        case LIGHT_DIRECTIONAL: {
            auto* d = static_cast<DirectionalLightInfo*>(info.model_info);
            d->eye_toward_light =
                normalise(scale(transform_vector(d->direction, eye_direction), -1.0f));
            break;
        }
        case LIGHT_SPOT: {
            auto* s = static_cast<SpotLightInfo*>(info.model_info);
            s->eye_axis = normalise(transform_vector(s->shine_along, eye_direction));
            s->eye_up = normalise(transform_vector(s->up_spot, eye_direction));
            break;
        }
        case LIGHT_VOLUME: {
            auto* v = static_cast<VolumeLightInfo*>(info.model_info);
            v->eye_directional = normalise(transform_vector(v->directional, eye_direction));
            break;
        }
        default:
            break;
    }
}

}  // namespace sky
