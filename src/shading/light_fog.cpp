// Light fog along a ray: the length of the ray inside each fog light's
// region (a spot light's cone, a ball around other lights), worked out in
// closed form, turned into an amount of fog.
#include "shading/light_fog.h"

#include <algorithm>
#include <cmath>

#include "base/vecmath.h"
#include "shading/light.h"
#include "shading/light_internal.h"

namespace sky {
namespace {

constexpr int kMostFogLights = 64;
constexpr double kReachPerSpread = 10.0;
constexpr double kDensity = 0.1;

struct FogLight {
    double position[3];
    double axis[3];  // unit: where a spot light points
    double cone_cos = -1.0;
    bool spot = false;
    // A volume light's fog fills its shape: the light's frame from eye space.
    const VolumeLightInfo* volume = nullptr;
    Matrix4 light_from_eye;
    double volume_bound = 0.0;
    double reach = 0.0;
    double density = 0.0;
    float colour[3];  // 0..255, the fog colour lit by the light
    float opacity = 0.0f;
};

struct FogLights {
    FogLight lights[kMostFogLights];
    int count = 0;
    bool prepared = false;
};

FogLights& fog_lights() {
    static FogLights lights;
    return lights;
}

double dot(const double* a, const double* b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// The part of [lo, hi] where the ray (origin o, unit u) lies in the ball of
// radius r around c; false when none.
bool ball_interval(const double* o, const double* u, const double* c, double r, double& lo,
                   double& hi) {
    const double d[3] = {o[0] - c[0], o[1] - c[1], o[2] - c[2]};
    const double b = dot(d, u), cc = dot(d, d) - r * r;
    const double disc = b * b - cc;
    if (disc <= 0.0) return false;
    const double root = std::sqrt(disc);
    lo = std::max(lo, -b - root);
    hi = std::min(hi, -b + root);
    return hi > lo;
}

// Length of [lo, hi] inside the forward cone at c along axis a with
// cos(half angle) k. The ray's points p(t) = o + u t are inside where
// ((p - c)·a)² ≥ k² |p - c|² and (p - c)·a ≥ 0: a quadratic in t.
double cone_length(const double* o, const double* u, const FogLight& light, double lo, double hi) {
    const double* c = light.position;
    const double* a = light.axis;
    const double k2 = light.cone_cos * light.cone_cos;
    const double d[3] = {o[0] - c[0], o[1] - c[1], o[2] - c[2]};
    const double ua = dot(u, a), da = dot(d, a);
    const double A = ua * ua - k2;
    const double B = 2.0 * (ua * da - k2 * dot(u, d));
    const double C = da * da - k2 * dot(d, d);
    // Inside where A t² + B t + C ≥ 0 and da + ua t ≥ 0.
    auto inside = [&](double t) { return (A * t + B) * t + C >= 0.0 && da + ua * t >= 0.0; };
    double cuts[4];
    int n = 0;
    cuts[n++] = lo;
    if (std::fabs(A) > 1e-12) {
        const double disc = B * B - 4.0 * A * C;
        if (disc > 0.0) {
            const double root = std::sqrt(disc);
            const double t1 = (-B - root) / (2.0 * A), t2 = (-B + root) / (2.0 * A);
            if (t1 > lo && t1 < hi) cuts[n++] = t1;
            if (t2 > lo && t2 < hi) cuts[n++] = t2;
        }
    } else if (std::fabs(B) > 1e-12) {
        const double t = -C / B;
        if (t > lo && t < hi) cuts[n++] = t;
    }
    if (n == 3 && cuts[2] < cuts[1]) std::swap(cuts[1], cuts[2]);
    double length = 0.0;
    for (int i = 0; i < n; ++i) {
        const double from = cuts[i], to = i + 1 < n ? cuts[i + 1] : hi;
        if (to > from && inside(0.5 * (from + to))) length += to - from;
    }
    return length;
}

// Length of [near, far] inside a volume light's shape, by steps through
// the part of the ray within the shape's bounding ball: the ray in the
// light's frame is p(t) = o' + d' t, t still the eye-space distance.
double volume_length(const float* origin, const float* unit, double near, double far,
                     const FogLight& light) {
    constexpr int kSteps = 96;
    const Triple o = transform_point(Triple{origin[0], origin[1], origin[2]}, light.light_from_eye);
    const Triple d = transform_vector(Triple{unit[0], unit[1], unit[2]}, light.light_from_eye);
    const double lo_o[3] = {o.x, o.y, o.z};
    const double dd[3] = {d.x, d.y, d.z};
    const double speed = std::sqrt(dot(dd, dd));
    if (!(speed > 0.0)) return 0.0;
    // The bounding ball's interval, worked out along the unit direction.
    const double du[3] = {dd[0] / speed, dd[1] / speed, dd[2] / speed};
    const double centre[3] = {0.0, 0.0, 0.0};
    double lo = std::max(near, 0.0) * speed, hi = std::min(far, 1e15) * speed;
    if (!ball_interval(lo_o, du, centre, light.volume_bound, lo, hi)) return 0.0;
    const double step = (hi - lo) / kSteps;
    int inside = 0;
    for (int k = 0; k < kSteps; ++k) {
        const double t = lo + (k + 0.5) * step;
        const Triple q{static_cast<float>(lo_o[0] + du[0] * t),
                       static_cast<float>(lo_o[1] + du[1] * t),
                       static_cast<float>(lo_o[2] + du[2] * t)};
        inside += lights::volume_place(*light.volume, q).inside ? 1 : 0;
    }
    return inside * step / speed;
}

}  // namespace

void Ar_prepare_light_fog() {
    FogLights& fogs = fog_lights();
    fogs.count = 0;
    fogs.prepared = true;
    for (const AR_LightInfo* info : Ar_camera_lights()) {
        if (info == nullptr || !info->on || !info->has_fog) continue;
        if (info->kind == LIGHT_DIRECTIONAL || info->kind == LIGHT_AMBIENT) continue;
        if (fogs.count == kMostFogLights) break;
        FogLight& fog = fogs.lights[fogs.count];
        const float* p = info->param;
        fog.position[0] = info->position.x;
        fog.position[1] = info->position.y;
        fog.position[2] = info->position.z;
        fog.spot = false;
        if (info->kind == LIGHT_SPOT && info->model_info != nullptr) {
            const auto* spot = static_cast<const SpotLightInfo*>(info->model_info);
            fog.spot = true;
            fog.axis[0] = spot->eye_axis.x, fog.axis[1] = spot->eye_axis.y,
            fog.axis[2] = spot->eye_axis.z;
            fog.cone_cos = std::clamp(static_cast<double>(spot->cone_cos), 0.0, 1.0);
        }
        fog.volume = nullptr;
        if (info->kind == LIGHT_VOLUME && info->model_info != nullptr) {
            fog.volume = static_cast<const VolumeLightInfo*>(info->model_info);
            fog.light_from_eye = info->light_from_eye;
            fog.volume_bound = lights::volume_bound(*fog.volume);
        }
        fog.reach = std::max(0.0, static_cast<double>(p[LIGHT_FOG_SPREAD])) * kReachPerSpread;
        fog.density = std::max(0.0, static_cast<double>(p[LIGHT_FOG_INTENSITY])) * kDensity;
        const float light[3] = {info->colour.colour.x / 255.0f * info->colour_scale.x,
                                info->colour.colour.y / 255.0f * info->colour_scale.y,
                                info->colour.colour.z / 255.0f * info->colour_scale.z};
        const Triple& c = info->fog_colour.colour;
        fog.colour[0] = c.x * light[0], fog.colour[1] = c.y * light[1],
        fog.colour[2] = c.z * light[2];
        fog.opacity = std::clamp(p[LIGHT_FOG_OPACITY], 0.0f, 1.0f);
        if ((fog.volume != nullptr || fog.reach > 0.0) && fog.density > 0.0) ++fogs.count;
    }
}

bool Ar_light_fog_prepared() {
    return fog_lights().prepared && fog_lights().count > 0;
}

double light_fog_length(const float* origin, const float* unit, double near, double far,
                        int light_index) {
    const FogLight& light = fog_lights().lights[light_index];
    if (light.volume != nullptr) return volume_length(origin, unit, near, far, light);
    const double o[3] = {origin[0], origin[1], origin[2]};
    const double u[3] = {unit[0], unit[1], unit[2]};
    double lo = std::max(near, 0.0), hi = far;
    if (!ball_interval(o, u, light.position, light.reach, lo, hi)) return 0.0;
    return light.spot ? cone_length(o, u, light, lo, hi) : hi - lo;
}

void Ar_light_fog(const float* origin, const float* direction, bool axial, double near, double far,
                  float* out) {
    const FogLights& fogs = fog_lights();
    if (fogs.count == 0 || !(far > near)) return;
    const double length = std::sqrt(static_cast<double>(direction[0]) * direction[0] +
                                    static_cast<double>(direction[1]) * direction[1] +
                                    static_cast<double>(direction[2]) * direction[2]);
    if (!(length > 0.0)) return;
    const float unit[3] = {static_cast<float>(direction[0] / length),
                           static_cast<float>(direction[1] / length),
                           static_cast<float>(direction[2] / length)};
    // Axial distances run along −z; along the unit ray they are longer.
    const double scale =
        axial ? length / std::max(std::fabs(static_cast<double>(direction[2])), 1e-9) : 1.0;
    const double a = near * scale, b = std::min(far, 1e15) * scale;
    for (int i = 0; i < fogs.count; ++i) {
        const FogLight& fog = fogs.lights[i];
        const double inside = light_fog_length(origin, unit, a, b, i);
        if (inside <= 0.0) continue;
        const float amount = static_cast<float>(1.0 - std::exp(-fog.density * inside));
        const float keep = 1.0f - fog.opacity * amount;
        for (int c = 0; c < 3; ++c) out[c] = out[c] * keep + fog.colour[c] * amount;
        out[3] =
            std::min(255.0f, out[3] + 255.0f * amount * (fog.opacity > 0.0f ? fog.opacity : 0.0f));
    }
}

}  // namespace sky
