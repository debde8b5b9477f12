// Lights with an extent: the linear light (a segment) and the area light (a
// rectangle), both given by the light's transformation.
//
// The linear light is the segment of the light's x axis from −½ to ½ (so
// its length is the x scale); the area light is the rectangle of its x and y
// axes from −½ to ½, lighting both of its sides. Each is sampled at as many
// points as the light's `shadow_samples` for the calling worker, placed by
// the sample's sequences (bases 3 and 5) from its seed onward. Every
// sample point contributes like a point light: decay with its distance,
// `dropoff` as a power of the cosine between the emitted direction and the
// light's axis (the area's normal; for a segment the direction across it),
// and nothing beyond `spread`/2 from that axis. The answer is the mean over
// the samples, its direction the weighted mean direction and its N·L the
// weighted mean N·L, so soft falloff and shading across the extent come out
// right for diffuse and highlights alike.
#include <cmath>
#include <numbers>

#include "base/vecmath.h"
#include "base/workers.h"
#include "platform/fatal.h"
#include "platform/report.h"
#include "shading/light_internal.h"
#include "shading/sample_sequences.h"

namespace sky::lights {
namespace {

using enum ParameterType;

constexpr const char* kSpread = "The full angle about the light's axis that it lights, degrees.";

constexpr Parameter kLinearRows[] = {
    {.name = "decay",
     .type = INTEGER,
     .value = {1.0f},
     .below = at_least(0),
     .above = fatal_beyond(3, kInvalidDecay),
     .store = SKY_FIELD(ExtendedLightInfo, decay),
     .description = kDecay},
    {.name = "dropoff",
     .below = at_least(0),
     .store = SKY_FIELD(ExtendedLightInfo, dropoff),
     .description = kDropoff},
    {.name = "spread",
     .value = {180.0f},
     .store = SKY_FIELD(ExtendedLightInfo, spread),
     .description = kSpread},
};
constexpr ParameterTable kLinearTable{kLinearRows, "Unknown parameter %s for linear light.\n",
                                      UnknownName::FATAL, "Error parsing linear light.\n"};

// The area light takes a decay beyond cubic as cubic.
constexpr Parameter kAreaRows[] = {
    {.name = "decay",
     .type = INTEGER,
     .value = {1.0f},
     .below = at_least(0),
     .above = at_most(3),
     .store = SKY_FIELD(ExtendedLightInfo, decay),
     .description = kDecay},
    kLinearRows[1],
    kLinearRows[2],
};
constexpr ParameterTable kAreaTable{kAreaRows, "Unknown parameter %s for area light.\n",
                                    UnknownName::FATAL, "Parsing error for area light.\n"};

// The cosine of half the spread, below which a direction is outside it.
void derive_spread(ExtendedLightInfo& e) {
    float half = std::fmin(std::fmax(e.spread, 0.0f), 360.0f) * std::numbers::pi_v<float> / 360.0f;
    e.spread_cos = e.spread >= 180.0f ? -1.0f : std::cos(half);
}

bool eval_linear(AR_LightInfo&, void* node, void* info) {
    auto& e = *static_cast<ExtendedLightInfo*>(info);
    if (!evaluate_model(kLinearTable, node, info)) fatal("Can't evaluate linear light\n");
    derive_spread(e);
    return true;
}

bool eval_area(AR_LightInfo&, void* node, void* info) {
    auto& e = *static_cast<ExtendedLightInfo*>(info);
    if (!evaluate_model(kAreaTable, node, info)) fatal("Can't evaluate area light\n");
    derive_spread(e);
    return true;
}

int sample_count(const AR_LightInfo& light) {
    int worker = worker_index();
    int n = worker >= 0 && worker < kMaxLightWorkers ? light.shadow_samples[worker] : 1;
    return n < 1 ? 1 : n;
}

// What the samples add up to.
struct Accumulated {
    float weight = 0.0f;    // Σ decay × dropoff
    float n_dot_l = 0.0f;   // Σ weight × N·L
    Triple direction;       // Σ weight × unit direction
    float distance = 0.0f;  // Σ weight × distance
};

// One sample point at `at`; `cos_axis` is the cosine between the emitted
// direction and the light's axis.
void accumulate(const ExtendedLightInfo& e, const AR_ShadePoint& point, const Triple& at,
                float cos_axis, Accumulated& sum) {
    if (cos_axis < e.spread_cos) return;
    Triple to_light = sub(at, point.position);
    float d = length(to_light);
    Triple direction = d > 0.0f ? scale(to_light, 1.0f / d) : to_light;
    float w = decay_factor(e.decay, d);
    if (e.dropoff != 0.0f) w *= std::pow(std::fmax(cos_axis, 0.0f), e.dropoff);
    if (w <= 0.0f) return;
    float ndl = point.normal.x == kNoNormal ? 1.0f : std::fmax(dot(point.normal, direction), 0.0f);
    sum.weight += w;
    sum.n_dot_l += w * ndl;
    sum.direction = add(sum.direction, scale(direction, w));
    sum.distance += w * d;
}

int finish(const AR_LightInfo& light, const AR_ShadePoint& point, const Accumulated& sum, int n,
           AR_LightSample& s) {
    if (sum.weight <= 0.0f) return 0;
    s.ambient = false;
    s.direction = normalise(sum.direction);
    s.distance = sum.distance / sum.weight;
    if (point.normal.x != kNoNormal && !s.intensity_only) {
        s.has_n_dot_l = true;
        s.n_dot_l = sum.n_dot_l / sum.weight;
        if (s.n_dot_l < 0.0001) {
            if (s.translucent == 0.0f) return 0;
            s.diffuse_kind = 0;
            s.specular = false;
        }
    }
    return finish_positional(light, point, sum.weight / static_cast<float>(n), s) ? 1 : 0;
}

int linear_light(const AR_LightInfo& light, const AR_ShadePoint& point, AR_LightSample& s) {
    const auto& e = *static_cast<const ExtendedLightInfo*>(light.model_info);
    const Triple& axis = light.axis[0];
    float axis_length = length(axis);
    Triple start = sub(light.position, scale(axis, 0.5f));
    Triple unit_axis = axis_length > 0.0f ? scale(axis, 1.0f / axis_length) : axis;
    int n = axis_length > 0.0f ? sample_count(light) : 1;
    Accumulated sum;
    for (int k = 0; k < n; ++k) {
        float a = 0.5f, b = 0.0f;
        if (n > 1) sample_position(point.seed, k, a, b);
        Triple at = add(start, scale(axis, a));
        Triple from_light = normalise(sub(point.position, at));
        // The axis of a segment's emission is across it: sin of the angle to the segment.
        float along = dot(from_light, unit_axis);
        float cos_axis =
            axis_length > 0.0f ? std::sqrt(std::fmax(0.0f, 1.0f - along * along)) : 1.0f;
        accumulate(e, point, at, cos_axis, sum);
    }
    return finish(light, point, sum, n, s);
}

int area_light(const AR_LightInfo& light, const AR_ShadePoint& point, AR_LightSample& s) {
    const auto& e = *static_cast<const ExtendedLightInfo*>(light.model_info);
    Triple normal = normalise(cross(light.axis[0], light.axis[1]));
    Triple corner = sub(light.position, scale(add(light.axis[0], light.axis[1]), 0.5f));
    int n = sample_count(light);
    Accumulated sum;
    for (int k = 0; k < n; ++k) {
        float a = 0.5f, b = 0.5f;
        if (n > 1) sample_position(point.seed, k, a, b);
        Triple at = add(corner, add(scale(light.axis[0], a), scale(light.axis[1], b)));
        float cos_axis = std::fabs(dot(normalise(sub(point.position, at)), normal));
        accumulate(e, point, at, cos_axis, sum);
    }
    return finish(light, point, sum, n, s);
}

}  // namespace

// Called when a linear light is placed: a segment of no length lights like
// a point but is worth a warning.
void warn_degenerate_linear(AR_LightInfo& light) {
    if (light.kind != LIGHT_LINEAR || light.warned) return;
    Triple x = transform_vector(Triple{1, 0, 0}, light.world_from_light_direction);
    if (length(x) < 1e-5f) {  // a zero scale is kept as a tiny one
        rptError("Warning: Degenerate linear light found.\n");
        light.warned = true;
    }
}

const AR_LightModel kLinearLight = light_row<ExtendedLightInfo, kLinearTable>(
    "linear", linear_light, parse_model<kLinearTable>, eval_linear, no_init, LIGHT_LINEAR);

const AR_LightModel kAreaLight = light_row<ExtendedLightInfo, kAreaTable>(
    "area", area_light, parse_model<kAreaTable>, eval_area, no_init, LIGHT_AREA);

}  // namespace sky::lights
