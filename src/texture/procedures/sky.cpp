// Sky: a daylight sky with sun, haze, clouds and a floor, looked up by
// direction (world space, y up; azimuth measured from +z toward +x).
//
// Air: light scattered toward the viewer is summed over `sky_samples`
// steps along the view's path through an atmosphere `sky_thickness` deep
// over a planet of radius `sky_radius`, blue-weighted air (`air_density`
// × `sky_density`) and grey dust (`dust_density`, `sky_dust_density` high
// up, `sky_mist_density` low down) each scattering the sun's light, itself
// reddened by its own path; `sky_fiddle` shifts the blue toward cyan. The
// sky is `sky_brightness` bright; a low sun gives a sunset
// `sunset_brightness` strong.
//
// Sun: at `sun_azimuth`, `sun_elevation` (degrees), a disc `sun_size` ×
// `sun_radius` degrees across, its edge softened by `sun_blur`,
// `sun_brightness` bright, in a halo `sun_halo` wide (tens of degrees) and
// `sun_halo_brightness` bright.
//
// Clouds: a layer at `cloud_altitude` (of the atmosphere's depth) of
// fractal noise (or the texture `cloud_texture`, looked up by the layer's
// x, z), cut at `cloud_threshold`, `cloud_density` thick and raised to
// `cloud_power`, summed over `cloud_samples` heights through the layer,
// moved by `cloud_front`; lit `cloud_brightness` bright, brighter within
// `cloud_halo_size` of the sun and warmer by `cloud_sunset_brightness`
// when it is low. Air below them is summed over `subcloud_samples` steps.
//
// Floor: below the horizon, with `has_floor`, a plane `floor_altitude`
// below the viewer in `floor_texture` (looked up by x, z) or earth brown,
// hazed by the air over `floor_samples` steps; without a floor the lower
// sky mirrors the upper. Everything is `total_brightness` bright. The sun
// and clouds finer than the footprint soften.
#include <algorithm>
#include <cmath>
#include "base/vecmath.h"
#include "texture/procedures/pattern_noise.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "air_density", .type = ANY, .value = {1.0f}, .description = "Density of the air."},
    {.name = "sky_radius", .type = ANY, .value = {1000.0f}, .description = "Radius of the sky."},
    {.name = "floor_altitude",
     .type = ANY,
     .value = {-1.0f},
     .description = "Height of the floor."},
    {.name = "cloud_samples",
     .type = ANY,
     .value = {5.0f},
     .description = "Samples through the clouds."},
    {.name = "subcloud_samples",
     .type = ANY,
     .value = {5.0f},
     .description = "Samples below the clouds."},
    {.name = "sky_samples",
     .type = ANY,
     .value = {5.0f},
     .description = "Samples through the sky."},
    {.name = "sky_density", .type = ANY, .value = {1.0f}, .description = "Density of the sky."},
    {.name = "dust_density", .type = ANY, .description = "Density of the dust."},
    {.name = "sky_dust_density",
     .type = ANY,
     .description = "Density of the dust high in the sky."},
    {.name = "sky_mist_density", .type = ANY, .description = "Density of the mist."},
    {.name = "sky_brightness",
     .type = ANY,
     .value = {1.0f},
     .description = "Brightness of the sky."},
    {.name = "sky_thickness",
     .type = ANY,
     .value = {1000.0f},
     .description = "Thickness of the atmosphere."},
    {.name = "sky_fiddle", .type = ANY, .description = "A correction of the sky's colour."},
    {.name = "sun_azimuth",
     .type = ANY,
     .value = {145.0f},
     .description = "Direction of the sun, degrees."},
    {.name = "sun_elevation",
     .type = ANY,
     .value = {45.0f},
     .description = "Height of the sun, degrees."},
    {.name = "sun_size",
     .type = ANY,
     .value = {0.531f},
     .description = "Apparent size of the sun, degrees."},
    {.name = "sun_radius",
     .type = ANY,
     .value = {1.0f},
     .description = "Radius of the sun's disc."},
    {.name = "sun_blur",
     .type = ANY,
     .value = {1.0f},
     .description = "Softness of the sun's edge."},
    {.name = "sun_halo_brightness",
     .type = ANY,
     .value = {0.5f},
     .description = "Brightness of the sun's halo."},
    {.name = "sun_halo", .type = ANY, .value = {1.0f}, .description = "Size of the sun's halo."},
    {.name = "sun_brightness",
     .type = ANY,
     .value = {1.0f},
     .description = "Brightness of the sun."},
    {.name = "floor_samples",
     .type = ANY,
     .value = {5.0f},
     .description = "Samples over the floor."},
    {.name = "cloud_density",
     .type = ANY,
     .value = {1.0f},
     .description = "Density of the clouds."},
    {.name = "cloud_power", .type = ANY, .value = {1.0f}, .description = "Contrast of the clouds."},
    {.name = "cloud_halo_size",
     .type = ANY,
     .value = {0.5f},
     .description = "Size of the clouds' halo around the sun."},
    {.name = "cloud_altitude",
     .type = ANY,
     .value = {0.2f},
     .description = "Height of the clouds."},
    {.name = "cloud_threshold",
     .type = ANY,
     .description = "How much of the sky the clouds cover."},
    {.name = "cloud_brightness",
     .type = ANY,
     .value = {0.5f},
     .description = "Brightness of the clouds."},
    {.name = "cloud_sunset_brightness",
     .type = ANY,
     .value = {0.5f},
     .description = "Brightness of the clouds at sunset."},
    {.name = "sunset_brightness",
     .type = ANY,
     .value = {1.0f},
     .description = "Brightness of the sunset."},
    {.name = "cloud_front", .type = ANY, .description = "Front of the cloud layer."},
    {.name = "total_brightness",
     .type = ANY,
     .value = {1.0f},
     .description = "Brightness of everything."},
    {.name = "has_floor", .type = ANY, .value = {1.0f}, .description = "On: the sky has a floor."},
    {.name = "floor_texture", .type = ANY, .description = "Texture of the floor."},
    {.name = "cloud_texture", .type = ANY, .description = "Texture of the clouds."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Sky: %s\n", "NIL SkyNode found\n");

#define ROW(name) constexpr int k_##name = parameter_index(kRows, #name)
ROW(air_density);
ROW(sky_radius);
ROW(floor_altitude);
ROW(cloud_samples);
ROW(subcloud_samples);
ROW(sky_samples);
ROW(sky_density);
ROW(dust_density);
ROW(sky_dust_density);
ROW(sky_mist_density);
ROW(sky_brightness);
ROW(sky_thickness);
ROW(sky_fiddle);
ROW(sun_azimuth);
ROW(sun_elevation);
ROW(sun_size);
ROW(sun_radius);
ROW(sun_blur);
ROW(sun_halo_brightness);
ROW(sun_halo);
ROW(sun_brightness);
ROW(floor_samples);
ROW(cloud_density);
ROW(cloud_power);
ROW(cloud_halo_size);
ROW(cloud_altitude);
ROW(cloud_threshold);
ROW(cloud_brightness);
ROW(cloud_sunset_brightness);
ROW(sunset_brightness);
ROW(cloud_front);
ROW(total_brightness);
ROW(has_floor);
ROW(floor_texture);
ROW(cloud_texture);
#undef ROW

constexpr float kDegrees = kPi / 180.0f;
constexpr int kMaxSamples = 64;

float value(const AR_TextureInfo& texture, int row) {
    float x = parameter_scalar(texture, row);
    return std::isfinite(x) ? x : 0.0f;
}

int samples(const AR_TextureInfo& texture, int row) {
    return std::clamp(static_cast<int>(value(texture, row)), 1, kMaxSamples);
}

Triple sun_direction(const AR_TextureInfo& texture) {
    float az = value(texture, k_sun_azimuth) * kDegrees,
          el = value(texture, k_sun_elevation) * kDegrees;
    return Triple{std::sin(az) * std::cos(el), std::sin(el), std::cos(az) * std::cos(el)};
}

// The path through the atmosphere from the ground toward elevation sine
// `up`, in units of its depth.
float path(const AR_TextureInfo& texture, float up) {
    float radius = std::max(value(texture, k_sky_radius), 1e-3f);
    float depth = std::max(value(texture, k_sky_thickness), 1e-3f);
    float outer = radius + depth;
    float s = std::max(up, -0.2f);
    float length =
        std::sqrt(std::max(outer * outer - radius * radius * (1.0f - s * s), 0.0f)) - radius * s;
    return std::clamp(length / depth, 0.0f, 40.0f);
}

struct Air {
    Triple rayleigh;  // per unit path
    float dust_high, dust_low;
};

Air air(const AR_TextureInfo& texture) {
    float density = value(texture, k_air_density) * value(texture, k_sky_density);
    float fiddle = value(texture, k_sky_fiddle);
    Air a;
    a.rayleigh = scale(Triple{0.12f, 0.28f + 0.1f * fiddle, 0.66f}, std::max(density, 0.0f));
    a.dust_high = std::max(
        0.0f, 0.3f * (value(texture, k_dust_density) + value(texture, k_sky_dust_density)));
    a.dust_low = std::max(
        0.0f, 0.3f * (value(texture, k_dust_density) + 2.0f * value(texture, k_sky_mist_density)));
    return a;
}

Triple transmit(const Air& a, float length) {
    float dust = 0.5f * (a.dust_high + a.dust_low) * length;
    return Triple{std::exp(-a.rayleigh.x * length - dust), std::exp(-a.rayleigh.y * length - dust),
                  std::exp(-a.rayleigh.z * length - dust)};
}

// Sunlight scattered toward the viewer over `length` of path in `steps`.
Triple scattered(const Air& a, const Triple& sunlight, float cosine, float length, int steps) {
    float rayleigh_phase = 0.75f * (1.0f + cosine * cosine);
    float g = 0.7f, mie = (1.0f - g * g) / std::pow(1.0f + g * g - 2.0f * g * cosine, 1.5f) * 0.25f;
    Triple sum;
    float step = length / static_cast<float>(steps);
    // The transmittance to each step's middle, one step's worth at a time.
    Triple seen = transmit(a, 0.5f * step), each = transmit(a, step);
    for (int i = 0; i < steps; ++i, seen = mul(seen, each)) {
        float s = (static_cast<float>(i) + 0.5f) * step;
        float height = std::clamp(s / std::max(length, 1e-3f), 0.0f, 1.0f);
        float dust = a.dust_high * height + a.dust_low * (1.0f - height);
        sum.x += seen.x * (a.rayleigh.x * rayleigh_phase + dust * mie) * step;
        sum.y += seen.y * (a.rayleigh.y * rayleigh_phase + dust * mie) * step;
        sum.z += seen.z * (a.rayleigh.z * rayleigh_phase + dust * mie) * step;
    }
    return mul(sum, sunlight);
}

float cloud_cover(const AR_TextureInfo& texture, const Triple& d, float w,
                  const TextureCall& call) {
    if (d.y <= 0.01f) return 0.0f;
    float altitude = std::max(value(texture, k_cloud_altitude), 1e-3f);
    int steps = samples(texture, k_cloud_samples);
    float front = value(texture, k_cloud_front);
    float threshold = value(texture, k_cloud_threshold);
    float density = std::max(value(texture, k_cloud_density), 0.0f);
    const TexturedValue& given = procedure_value(texture, k_cloud_texture).value;
    pattern::Fractal f{.first = 0, .last = 8, .ratio = 0.55f, .base = 1.0f, .seed = 131};
    float sum = 0.0f;
    // The layer's shape from one fractal at its base; each height through it
    // adds one octave of its own.
    float base_t = altitude / d.y;
    float base_x = 5.0f * base_t * d.x + front, base_z = 5.0f * base_t * d.z;
    float shape =
        given.texture ? 0.0f : pattern::fractal2(base_x, base_z, 5.0f * w * base_t / d.y, f);
    for (int i = 0; i < steps; ++i) {
        // Heights through a layer a tenth of its altitude thick.
        float h =
            altitude * (1.0f + 0.1f * (static_cast<float>(i) + 0.5f) / static_cast<float>(steps));
        float t = h / d.y;
        // Five noise cells to the atmosphere's depth.
        float x = 5.0f * t * d.x + front, z = 5.0f * t * d.z;
        float footprint = 5.0f * w * t / d.y;
        float n;
        if (given.texture) {
            TextureLookup at = *call.at;
            at.u = x;
            at.v = z;
            at.du = at.dv = footprint;
            TextureColour c;
            n = invoke_nested_texture(*given.texture, at, c) ? c.alpha : 0.0f;
        } else {
            n = 0.5f + 0.5f * shape +
                0.15f * pattern::level_weight(4.0f, footprint) *
                    pattern::noise3(Triple{4.0f * x, 0.7f * static_cast<float>(i), 4.0f * z}, 132);
        }
        sum += std::max(0.0f, n - threshold);
    }
    float cover = std::clamp(density * 2.0f * sum / static_cast<float>(steps), 0.0f, 1.0f);
    // Toward the horizon the layer thins into haze.
    return std::pow(cover, std::max(value(texture, k_cloud_power), 0.05f)) *
           pattern::smooth_step(0.01f, 0.1f, d.y);
}

Triple sky_colour(const AR_TextureInfo& texture, const Triple& d, float w,
                  const TextureCall& call) {
    Triple sun = sun_direction(texture);
    Air a = air(texture);
    float low = 1.0f - pattern::smooth_step(0.0f, 0.35f, sun.y);
    Triple sunlight =
        transmit(a, path(texture, sun.y) * (1.0f + value(texture, k_sunset_brightness) * low));
    sunlight = scale(sunlight, 1.0f + 0.5f * value(texture, k_sunset_brightness) * low);
    float cosine = dot(d, sun);

    float cover = cloud_cover(texture, d, w, call);
    float length = path(texture, d.y);
    float brightness = 255.0f * 2.5f * value(texture, k_sky_brightness);
    Triple colour =
        scale(scattered(a, sunlight, cosine, length, samples(texture, k_sky_samples)), brightness);

    // The sun's disc and halo (in the clouds' shade).
    float angle = std::acos(std::clamp(cosine, -1.0f, 1.0f)) / kDegrees;
    float disc = 0.5f * value(texture, k_sun_size) * value(texture, k_sun_radius);
    float blur = 0.1f * disc * std::max(value(texture, k_sun_blur), 0.0f) + w / kDegrees;
    float in_disc = 1.0f - pattern::smooth_step(disc - blur, disc + blur, angle);
    float halo = value(texture, k_sun_halo_brightness) *
                 std::exp(-angle / std::max(10.0f * value(texture, k_sun_halo), 1e-3f));
    Triple sunshine =
        scale(sunlight, 255.0f * (value(texture, k_sun_brightness) * 12.0f * in_disc + halo));
    colour = add(colour, scale(sunshine, 1.0f - cover));

    if (cover > 0.0f) {
        float lit =
            value(texture, k_cloud_brightness) *
            (1.0f +
             2.0f * std::exp(-angle / std::max(60.0f * value(texture, k_cloud_halo_size), 1e-3f)));
        Triple warm = pattern::mix(Triple{1, 1, 1}, Triple{1.0f, 0.6f, 0.35f},
                                   low * value(texture, k_cloud_sunset_brightness));
        Triple cloud = scale(mul(mul(warm, sunlight), Triple{255, 255, 255}), lit);
        // Seen through the air below the layer.
        float below = std::min(value(texture, k_cloud_altitude) / std::max(d.y, 1e-3f), length);
        Triple haze =
            scale(scattered(a, sunlight, cosine, below, samples(texture, k_subcloud_samples)),
                  brightness);
        cloud = add(mul(cloud, transmit(a, below)), haze);
        colour = pattern::mix(colour, cloud, cover);
    }
    return colour;
}

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    Triple d = normalise(call.at->direction);
    float w = filter_width(texture, call);
    Triple colour;
    if (d.y >= 0.0f) {
        colour = sky_colour(texture, d, w, call);
    } else if (value(texture, k_has_floor) >= 0.5f) {
        float below = std::max(std::fabs(value(texture, k_floor_altitude)), 1e-3f);
        float t = below / -d.y;
        Triple ground{110.0f, 90.0f, 65.0f};
        const TexturedValue& given = procedure_value(texture, k_floor_texture).value;
        if (given.texture) {
            TextureLookup at = *call.at;
            at.u = t * d.x;
            at.v = t * d.z;
            at.du = at.dv = w * t / std::max(-d.y, 1e-3f);
            TextureColour c;
            if (invoke_nested_texture(*given.texture, at, c)) ground = c.rgb();
        } else if (procedure_expression(texture, k_floor_texture)) {
            ground = given.colour;
        }
        // Haze over the floor: the air between, lit like the sky at the horizon.
        Air a = air(texture);
        Triple sun = sun_direction(texture);
        float distance = std::min(200.0f * t / std::max(value(texture, k_sky_thickness), 1e-3f),
                                  path(texture, 0.0f));
        Triple lit = scale(ground, std::max(sun.y, 0.0f) * 0.8f + 0.2f);
        Triple haze = scale(scattered(a, transmit(a, path(texture, sun.y)), dot(d, sun), distance,
                                      samples(texture, k_floor_samples)),
                            255.0f * 2.5f * value(texture, k_sky_brightness));
        colour = add(mul(lit, transmit(a, distance)), haze);
    } else {
        colour = sky_colour(texture, Triple{d.x, -d.y, d.z}, w, call);
    }
    colour_result(scale(colour, value(texture, k_total_brightness)), out);
}

}  // namespace

const AR_TextureProcedure kSkyProcedure =
    procedure_row("Sky", kTable, calculate, TEXTURE_ENVIRONMENT);

}  // namespace sky
