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
    Triple to_light = sub(light.position, point.position);
    float distance = length(to_light);
    s.distance = distance;
    s.direction = distance > 0.0f ? scale(to_light, 1.0f / distance) : to_light;
    if (!s.intensity_only && !orient(point, s)) return 0;
    s.ambient = false;
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

bool finite(const Triple& t) {
    return std::isfinite(t.x) && std::isfinite(t.y) && std::isfinite(t.z);
}

// Light from everywhere, darkened on the sides turned away from the light's
// position by `ambient_shade`: 0 lights every side alike, 1 shades like a
// point light without highlights.
int ambient_light(const AR_LightInfo& light, const AR_ShadePoint& point, AR_LightSample& s) {
    const auto& a = *static_cast<const AmbientLightInfo*>(light.model_info);
    Triple to_light = sub(light.position, point.position);
    float factor = 1.0f;
    if (a.ambient_shade == 0.0f && finite(to_light) && finite(point.normal)) {
        // Light alike from every side (the factor below is exactly 1 for
        // any finite N·L): its direction and distance would go unused, and
        // finding them is most of this light's cost on every sample.
        s.distance = 0.0f;
        s.direction = Triple{};
    } else {
        s.distance = length(to_light);
        s.direction = normalise(to_light);
        if (point.normal.x != kNoNormal)
            factor = (dot(point.normal, s.direction) - 1.0f) * a.ambient_shade + 1.0f;
    }
    if (factor <= 0.0f && s.translucent == 0.0f) return 0;
    s.diffuse_kind = 0;
    s.specular = false;
    bool textured = false;
    Triple colour = colour_at(light, point, textured);
    if (s.intensity_only) {
        s.intensity = textured ? factor * (colour.x + colour.y + colour.z) / 765.0f : factor;
        return 1;
    }
    // A light alike from every side has a factor of exactly 1, whose
    // quotient is the constant's.
    constexpr float kPerUnit = 1.0f / 255.0f;
    s.colour = scale(colour, factor == 1.0f ? kPerUnit : factor / 255.0f);
    return 1;
}

}  // namespace

const AR_LightModel kPointLight = light_row<PointLightInfo, kPointTable>(
    "point", point_light, parse_model<kPointTable>, eval_point, no_init, LIGHT_POINT);

const AR_LightModel kDirectionalLight = light_row<DirectionalLightInfo, kDirectionalTable>(
    "directional", directional_light, parse_directional, eval_directional, no_init,
    LIGHT_DIRECTIONAL);

const AR_LightModel kAmbientLight = light_row<AmbientLightInfo, kAmbientTable>(
    "ambient", ambient_light, parse_model<kAmbientTable>, eval_ambient, no_init, LIGHT_AMBIENT);

}  // namespace sky::lights
