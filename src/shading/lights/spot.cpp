// The spot light: a point light limited to a cone about its axis, with an
// optional penumbra band and dropoff toward the rim, and the settings its
// shadow map is built and queried with.
#include <cmath>
#include <numbers>

#include "platform/fatal.h"
#include "platform/report.h"
#include "sdl/body.h"
#include "shading/light_internal.h"

namespace sky::lights {
namespace {

using namespace shading;

enum SpotParameter {
    DECAY,
    SHINE_ALONG,
    DROPOFF,
    SPREAD,
    SIZE,
    SHADOW_RESOLUTION,
    SHADOW_EDGE_QUALITY,
    FOG_SAMPLES,
    SHADOW_MIN_DEPTH,
    SHADOW_BLEND_OFFSET,
    SHADOW_OUTPUT,
    DEPTH_INPUT,
    DEPTH_OUTPUT,
    UP_SPOT,
    PENUMBRA,
    BIAS,
    SHADOWMULT,
    SHADOWOFFSET,
    kSpotParameters
};

constexpr ModelName kSpotNames[] = {
    {"decay", DECAY},
    {"shine_along", SHINE_ALONG},
    {"dropoff", DROPOFF},
    {"spread", SPREAD},
    {"size", SIZE},
    {"shadow_resolution", SHADOW_RESOLUTION},
    {"shadow_edge_quality", SHADOW_EDGE_QUALITY},
    {"fog_samples", FOG_SAMPLES},
    {"shadow_min_depth", SHADOW_MIN_DEPTH},
    {"shadow_blend_offset", SHADOW_BLEND_OFFSET},
    {"shadow_output", SHADOW_OUTPUT},
    {"depth_input", DEPTH_INPUT},
    {"depth_output", DEPTH_OUTPUT},
    {"up_spot", UP_SPOT},
    {"penumbra", PENUMBRA},
    {"bias", BIAS},
    {"shadowmult", SHADOWMULT},
    {"shadowoffset", SHADOWOFFSET},
};

bool parse_spot(void* node, const char* name, Expr* value) {
    if (node == nullptr || name == nullptr || value == nullptr)
        fatal("Internal System Error at %d in %s, Call Support\n", __LINE__, "spot.c");
    if (!store_model_parameter(*static_cast<ModelNode*>(node), kSpotNames, kSpotParameters, name,
                               value))
        fatal("Unknown parameter %s for spot light.\n", name);
    return true;
}

[[noreturn]] void cannot(const char* what) {
    fatal("Can't evaluate spot light (%s)\n", what);
}

// `bias = (min, max)`: the two values of the pair.
bool evaluate_bias(Expr* e, float& low, float& high) {
    if (is_list(e)) {
        Expr* first = list_first(e);
        Expr* second = first ? first->next : nullptr;
        return first && second && AR_evaluate(SDL_SCALAR, &low, first, nullptr) &&
               AR_evaluate(SDL_SCALAR, &high, second, nullptr);
    }
    Triple pair;
    if (!AR_evaluate(SDL_TRIPLE, &pair, e, nullptr)) return false;
    low = pair.x;
    high = pair.y;
    return true;
}

bool eval_spot(AR_LightInfo&, void* node_pointer, void* info) {
    const auto& node = *static_cast<ModelNode*>(node_pointer);
    auto& s = *static_cast<SpotLightInfo*>(info);
    if (!model_integer(node, DECAY, 1, s.decay)) cannot("decay");
    // A decay beyond cubic is taken as cubic.
    s.decay = s.decay < 0 ? 0 : (s.decay > 3 ? 3 : s.decay);
    if (!model_scalar(node, PENUMBRA, 0.0f, s.penumbra)) cannot("penumbra");
    if (!model_scalar(node, SHADOW_MIN_DEPTH, 0.05f, s.min_depth)) cannot("min_depth");
    if (!model_scalar(node, SHADOW_BLEND_OFFSET, 1.0f, s.blend_offset)) cannot("blend_offset");
    if (!model_triple(node, SHINE_ALONG, Triple{0.0f, 0.0f, -1.0f}, s.shine_along))
        cannot("shineAt");
    if (!model_triple(node, UP_SPOT, Triple{0.0f, 1.0f, 0.0f}, s.up_spot)) cannot("Up");
    if (!model_scalar(node, DROPOFF, 0.0f, s.dropoff)) cannot("dropoff");
    if (s.dropoff < 0.0f) s.dropoff = 0.0f;
    if (!model_scalar(node, SPREAD, 40.0f, s.spread)) cannot("cutoff");
    if (s.spread <= 1.0f) s.spread = 2.0f;
    if (s.spread >= 180.0f) s.spread = 179.0f;
    if (!model_integer(node, SHADOW_RESOLUTION, 256, s.shadow_resolution)) cannot("shadow_size");
    if (!model_scalar(node, SIZE, 0.0f, s.size)) cannot("size");

    if (node.values[BIAS]) {
        float low = 0.0f, high = 0.0f;
        if (!evaluate_bias(node.values[BIAS], low, high)) cannot("minbias");
        if (high < 0.0f) {
            rptError("Warning: bias max cannot be less than 0: (%d)", truncate_to_int(high));
            return false;
        }
        if (low < 0.0f) {
            rptError("Warning: bias min cannot be less than 0: (%d)", truncate_to_int(low));
            return false;
        }
        if (low > high) std::swap(low, high);
        s.min_depth = low;
        s.blend_offset = high;
    }

    if (node.values[SHADOW_EDGE_QUALITY] ||
        !(node.values[SHADOWMULT] || node.values[SHADOWOFFSET])) {
        if (!model_scalar(node, SHADOW_EDGE_QUALITY, 2.0f, s.edge_quality)) cannot("edge_quality");
        if (s.edge_quality < 1.0f) s.edge_quality = 1.0f;
    } else {
        float mult = 1.0f, offset = 0.0f;
        if (!model_scalar(node, SHADOWMULT, 1.0f, mult)) cannot("resmult");
        if (!model_scalar(node, SHADOWOFFSET, 0.0f, offset)) cannot("resoffset");
        if (mult < 0.0f) {
            rptError("Warning: shadowmult cannot be less than 0: (%d)", truncate_to_int(mult));
            return false;
        }
        s.edge_quality = std::fmin(std::fmax(mult * 4.0f + offset - 1.0f, 1.0f), 4.0f);
    }
    if (!model_integer(node, FOG_SAMPLES, 1, s.fog_samples)) cannot("fog_samples");
    s.shadow_output = node.values[SHADOW_OUTPUT];
    s.depth_input = node.values[DEPTH_INPUT];
    s.depth_output = node.values[DEPTH_OUTPUT];
    return true;
}

float half_angle_cosine(float full_angle_degrees) {
    float c = std::cos(full_angle_degrees * std::numbers::pi_v<float> / 360.0f);
    return c < 0.0f ? 0.0f : c;
}

bool init_spot(AR_LightInfo& light) {
    auto& s = *static_cast<SpotLightInfo*>(light.model_info);
    s.cone_cos = half_angle_cosine(s.spread);
    s.inner_cos = s.cone_cos;
    s.has_penumbra = std::fabs(s.penumbra) > 0.001f;
    if (s.has_penumbra) {
        float second =
            half_angle_cosine(std::fmin(std::fmax(s.spread + 2.0f * s.penumbra, 0.0f), 179.0f));
        if (s.penumbra > 0.0f)
            s.cone_cos = second;  // the band widens the cone
        else
            s.inner_cos = second;  // the band eats into it
        if (s.inner_cos <= s.cone_cos) s.has_penumbra = false;
    }
    return true;
}

// Across the penumbra band the light fades smoothly (a cubic in the cosine,
// with zero slope at both edges) from full strength at the inner edge to
// nothing at the cut-off.
float penumbra_fade(const SpotLightInfo& s, float cos_theta) {
    if (!s.has_penumbra || cos_theta >= s.inner_cos) return 1.0f;
    float t = (cos_theta - s.cone_cos) / (s.inner_cos - s.cone_cos);
    t = clamp01(t);
    return t * t * (3.0f - 2.0f * t);
}

int spot_light(const AR_LightInfo& light, const AR_ShadePoint& point, AR_LightSample& sample) {
    const auto& s = *static_cast<const SpotLightInfo*>(light.model_info);
    Triple to_light = sub(light.position, point.position);
    float distance = length(to_light);
    sample.distance = distance;
    sample.direction = distance > 0.0f ? scale(to_light, 1.0f / distance) : to_light;
    if (!sample.intensity_only && !orient(point, sample)) return 0;
    sample.ambient = false;

    float cos_theta = -dot(sample.direction, s.eye_axis);
    if (cos_theta < s.cone_cos) return 0;
    float factor = decay_factor(s.decay, distance);
    if (s.dropoff != 0.0f) factor *= std::pow(cos_theta, s.dropoff);
    factor *= penumbra_fade(s, cos_theta);
    if (factor <= 0.0f) return 0;
    return finish_positional(light, point, factor, sample) ? 1 : 0;
}

}  // namespace

const AR_LightModel kSpotLight = {"spot",
                                  spot_light,
                                  allocate_node,
                                  allocate_info<SpotLightInfo>,
                                  parse_spot,
                                  eval_spot,
                                  init_spot,
                                  copy_info<SpotLightInfo>,
                                  release_info<SpotLightInfo>,
                                  LIGHT_SPOT};

}  // namespace sky::lights
