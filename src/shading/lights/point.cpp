// The point, directional and ambient light models: a position, a
// direction, or light from everywhere shaded by orientation.
#include "platform/fatal.h"
#include "shading/light_internal.h"

namespace sky::lights {
namespace {

using enum ParameterType;

// --- point -----------------------------------------------------------------------

constexpr Parameter kPointRows[] = {
    {.name = "decay",
     .type = INTEGER,
     .value = {1.0f},
     .below = at_least(0),
     .above = fatal_beyond(3, kInvalidDecay),
     .store = SKY_FIELD(PointLightInfo, decay),
     .description = kDecay},
};
constexpr ParameterTable kPointTable{kPointRows, "Unknown parameter %s for point light.\n",
                                     UnknownName::FATAL, "Error parsing point light\n"};

bool eval_point(AR_LightInfo&, void* node, void* info) {
    if (!evaluate_model(kPointTable, node, info)) fatal("Can't evaluate point light\n");
    return true;
}

int point_light(const AR_LightInfo& light, const AR_ShadePoint& point, AR_LightSample& s) {
    const auto& p = *static_cast<const PointLightInfo*>(light.model_info);
    const float distance = aim_at_light(light, point, s);
    if (distance < 0.0f) return 0;
    return finish_positional(light, point, decay_factor(p.decay, distance), s) ? 1 : 0;
}

// --- directional -----------------------------------------------------------------

constexpr Parameter kDirectionalRows[] = {
    {.name = "direction",
     .type = TRIPLE,
     .value = {0.0f, 0.0f, -1.0f},
     .store = SKY_FIELD(DirectionalLightInfo, direction),
     .description = "The direction the light travels, in the light's own frame."},
};
constexpr ParameterTable kDirectionalTable{
    kDirectionalRows, "Unknown parameter %s for directional light.\n", UnknownName::FATAL};

bool parse_directional(void* node, const char* name, Expr* value) {
    if (node == nullptr || name == nullptr || value == nullptr)
        fatal("Internal System Error at %d in %s, Call Support\n", __LINE__, "directional.c");
    return parse_model_parameter(kDirectionalTable, node, name, value);
}

bool eval_directional(AR_LightInfo&, void* node, void* info) {
    if (!evaluate_model(kDirectionalTable, node, info)) fatal("Can't evaluate directional light\n");
    return true;
}

int directional_light(const AR_LightInfo& light, const AR_ShadePoint& point, AR_LightSample& s) {
    const auto& d = *static_cast<const DirectionalLightInfo*>(light.model_info);
    s.direction = d.eye_toward_light;
    s.distance = 1e30f;  // at infinity: no decay
    if (!s.intensity_only && !orient(point, s)) return 0;
    s.ambient = false;
    return finish_positional(light, point, 1.0f, s) ? 1 : 0;
}

// --- ambient ---------------------------------------------------------------------

constexpr Parameter kAmbientRows[] = {
    {.name = "ambient_shade",
     .value = {0.5f},
     .below = at_least(0),
     .above = at_most(1),
     .store = SKY_FIELD(AmbientLightInfo, ambient_shade),
     .description = "How much the light's direction shades: 0 lights every side alike, 1 "
                    "shades like a point light."},
};
constexpr ParameterTable kAmbientTable{kAmbientRows, "Unknown parameter %s for ambient light.\n",
                                       UnknownName::FATAL, "Error parsing ambient light\n"};

bool eval_ambient(AR_LightInfo&, void* node, void* info) {
    if (!evaluate_model(kAmbientTable, node, info)) fatal("Failed to evaluate ambient light\n");
    return true;
}

}  // namespace

int ambient_light(const AR_LightInfo& light, const AR_ShadePoint& point, AR_LightSample& s) {
    return ambient_light_at(light, point, s);
}

const AR_LightModel kPointLight = light_row<PointLightInfo, kPointTable>(
    "point", point_light, parse_model<kPointTable>, eval_point, no_init, LIGHT_POINT);

const AR_LightModel kDirectionalLight = light_row<DirectionalLightInfo, kDirectionalTable>(
    "directional", directional_light, parse_directional, eval_directional, no_init,
    LIGHT_DIRECTIONAL);

const AR_LightModel kAmbientLight = light_row<AmbientLightInfo, kAmbientTable>(
    "ambient", ambient_light, parse_model<kAmbientTable>, eval_ambient, no_init, LIGHT_AMBIENT);

}  // namespace sky::lights
