// The spot light: a point light limited to a cone about its axis, with an
// optional penumbra band and dropoff toward the rim, and the settings its
// shadow map is built and queried with.
#include <cmath>
#include <numbers>

#include "platform/fatal.h"
#include "platform/report.h"
#include "sdl/body.h"
#include "shading/light_internal.h"
#include "shading/lights/shadow_query.h"

namespace sky::lights {
namespace {

using enum ParameterType;

// In the order they are evaluated; `label` names a parameter in the message
// of an evaluation that fails.
constexpr Parameter kSpotRows[] = {
    {.name = "decay",
     .type = INTEGER,
     .value = {1.0f},
     .below = at_least(0),
     .above = at_most(3),
     .store = SKY_FIELD(SpotLightInfo, decay),
     .label = "decay",
     .description = kDecay},
    {.name = "penumbra",
     .store = SKY_FIELD(SpotLightInfo, penumbra),
     .label = "penumbra",
     .description = "A band beyond the cone (inside it when negative) across which the light "
                    "fades, degrees."},
    {.name = "shadow_min_depth",
     .value = {0.05f},
     .store = SKY_FIELD(SpotLightInfo, min_depth),
     .label = "min_depth",
     .description = "Depth-map bias: the smallest offset of the shadow test."},
    {.name = "shadow_blend_offset",
     .value = {1.0f},
     .store = SKY_FIELD(SpotLightInfo, blend_offset),
     .label = "blend_offset",
     .description = "Depth-map bias: the distance over which shadows blend in."},
    {.name = "shine_along",
     .type = TRIPLE,
     .value = {0.0f, 0.0f, -1.0f},
     .store = SKY_FIELD(SpotLightInfo, shine_along),
     .label = "shineAt",
     .description = "The cone's axis, in the light's own frame."},
    {.name = "up_spot",
     .type = TRIPLE,
     .value = {0.0f, 1.0f, 0.0f},
     .store = SKY_FIELD(SpotLightInfo, up_spot),
     .label = "Up",
     .description = "The up direction of the depth map, in the light's own frame."},
    {.name = "dropoff",
     .below = at_least(0),
     .store = SKY_FIELD(SpotLightInfo, dropoff),
     .label = "dropoff",
     .description = kDropoff},
    {.name = "spread",
     .value = {40.0f},
     .below = replaced(1, 2, true),
     .above = replaced(180, 179, true),
     .store = SKY_FIELD(SpotLightInfo, spread),
     .label = "cutoff",
     .description = "The cone's full angle, degrees."},
    {.name = "shadow_resolution",
     .type = INTEGER,
     .value = {256.0f},
     .store = SKY_FIELD(SpotLightInfo, shadow_resolution),
     .label = "shadow_size",
     .description = "The depth map's size in pixels."},
    {.name = "size",
     .store = SKY_FIELD(SpotLightInfo, size),
     .label = "size",
     .description = "The light's size for the depth map's soft edges."},
    {.name = "bias",
     .type = EXPRESSION,
     .label = "minbias",
     .default_text = "shadow_min_depth, shadow_blend_offset",
     .description = "Both depth-map biases as a pair (min, max); a negative one fails the "
                    "evaluation with a warning."},
    {.name = "shadow_edge_quality",
     .value = {2.0f},
     .below = at_least(1),
     .store = SKY_FIELD(SpotLightInfo, edge_quality),
     .label = "edge_quality",
     .description = "Samples across a shadow's edge; without it, shadowmult and shadowoffset "
                    "give it."},
    {.name = "shadowmult",
     .value = {1.0f},
     .label = "resmult",
     .description = "Edge quality as 4 × shadowmult + shadowoffset − 1, within 1..4; a "
                    "negative one fails the evaluation with a warning."},
    {.name = "shadowoffset", .label = "resoffset", .description = "See shadowmult."},
    {.name = "fog_samples",
     .type = INTEGER,
     .value = {1.0f},
     .store = SKY_FIELD(SpotLightInfo, fog_samples),
     .label = "fog_samples",
     .description = "Samples of the light fog along a ray."},
    {.name = "shadow_output",
     .type = EXPRESSION,
     .store = SKY_FIELD(SpotLightInfo, shadow_output),
     .description = "A file to write the shadow mask to."},
    {.name = "depth_input",
     .type = EXPRESSION,
     .store = SKY_FIELD(SpotLightInfo, depth_input),
     .description = "Names the file the depth map is written to: maps are built, never read "
                    "back."},
    {.name = "depth_output",
     .type = EXPRESSION,
     .store = SKY_FIELD(SpotLightInfo, depth_output),
     .description = "A file to write the depth map to."},
};
static_assert(rows_are_consistent(kSpotRows) && std::size(kSpotRows) <= kMaxModelParameters);
constexpr ParameterTable kSpotTable{kSpotRows, "Unknown parameter %s for spot light.\n",
                                    UnknownName::FATAL};

constexpr int row(std::string_view name) {
    return parameter_index(kSpotRows, name);
}
constexpr int kBias = row("bias");
constexpr int kEdgeQuality = row("shadow_edge_quality");
constexpr int kShadowMult = row("shadowmult");
constexpr int kShadowOffset = row("shadowoffset");
constexpr int kFogSamples = row("fog_samples");
static_assert(kBias >= 0 && kEdgeQuality == kBias + 1 && kShadowMult == kBias + 2 &&
              kShadowOffset == kBias + 3 && kFogSamples == kBias + 4);

bool parse_spot(void* node, const char* name, Expr* value) {
    if (node == nullptr || name == nullptr || value == nullptr)
        fatal("Internal System Error at %d in %s, Call Support\n", __LINE__, "spot.c");
    return parse_model_parameter(kSpotTable, node, name, value);
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

// The rows [first, last) as the table says, each corrected as it comes.
void evaluate_rows(const ModelNode& node, SpotLightInfo& s, int first, int last) {
    for (int i = first; i < last; ++i) {
        const Parameter& p = kSpotRows[i];
        if (!evaluate_parameter(p, node.values[i], &s)) cannot(p.label);
        correct_parameter(p, &s);
    }
}

bool eval_spot(AR_LightInfo&, void* node_pointer, void* info) {
    const auto& node = *static_cast<ModelNode*>(node_pointer);
    auto& s = *static_cast<SpotLightInfo*>(info);
    evaluate_rows(node, s, 0, kBias);

    if (Expr* bias = node.values[kBias]) {
        float low = 0.0f, high = 0.0f;
        if (!evaluate_bias(bias, low, high)) cannot(kSpotRows[kBias].label);
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

    // The edge quality, given itself or by the older multiplier and offset.
    if (node.values[kEdgeQuality] || !(node.values[kShadowMult] || node.values[kShadowOffset])) {
        evaluate_rows(node, s, kEdgeQuality, kEdgeQuality + 1);
    } else {
        float mult = 0.0f, offset = 0.0f;
        if (!evaluate_number(kSpotRows[kShadowMult], node.values[kShadowMult], mult))
            cannot(kSpotRows[kShadowMult].label);
        if (!evaluate_number(kSpotRows[kShadowOffset], node.values[kShadowOffset], offset))
            cannot(kSpotRows[kShadowOffset].label);
        if (mult < 0.0f) {
            rptError("Warning: shadowmult cannot be less than 0: (%d)", truncate_to_int(mult));
            return false;
        }
        s.edge_quality = std::fmin(std::fmax(mult * 4.0f + offset - 1.0f, 1.0f), 4.0f);
    }
    evaluate_rows(node, s, kFogSamples, static_cast<int>(std::size(kSpotRows)));
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

}  // namespace

int spot_light(const AR_LightInfo& light, const AR_ShadePoint& point, AR_LightSample& sample) {
    return spot_light_at(light, point, sample);
}

const AR_LightModel kSpotLight = light_row<SpotLightInfo, kSpotTable>(
    "spot", spot_light, parse_spot, eval_spot, init_spot, LIGHT_SPOT);

}  // namespace sky::lights
