// Light glow, halo and lens flare on the image. Each light's effects are
// fixed once per camera (what the light asks for, where it lands on the
// image) and then added row by row, so the effects cost nothing per sample.
//
// Sizes follow the image: a glow of spread 1 reaches a sixteenth of the
// image's width, a halo of spread 1 a quarter; flare circles are a twentieth
// of the width at size 1.
#include "output/light_effects.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "output/glow_shapes.h"
#include "scene/camera.h"
#include "shading/light.h"
#include "texture/texture.h"

namespace sky {
namespace {

struct FlareCircle {
    float x = 0, y = 0, radius = 0;
    float colour[3] = {0, 0, 0};  // 0..255, intensity included
};

struct LightEffect {
    Triple eye_position;
    bool visible = false;
    float x = 0, y = 0;  // on the window, pixels
    std::int32_t glow_type = 0, halo_type = 0;
    float glow_radius = 0, halo_radius = 0;
    float glow_colour[3] = {0, 0, 0}, halo_colour[3] = {0, 0, 0};  // 0..255 at full strength
    // Textured colours, laid across the glow's, the halo's and each flare
    // circle's square: they multiply the colour above by their own / 255.
    const AR_TextureInfo *glow_texture = nullptr, *halo_texture = nullptr, *flare_texture = nullptr;
    float star_level = 0, star_points = 4, rotation = 0;
    float radial_noise = 0, noise_frequency = 0.5f, opacity = 0;
    float glow_spread = 0, halo_spread = 0;
    // Lens flare.
    bool flare = false;
    float flare_intensity = 0, flare_circles = 0, flare_min = 0, flare_max = 0, colour_spread = 0,
          focus = 0, vertical = 0, horizontal = 0, length = 1;
    bool hexagon = false;
    float flare_colour[3] = {0, 0, 0};
    std::vector<FlareCircle> circles;
};

struct LightEffectsState {
    std::vector<LightEffect> lights;
    float width = 0, height = 0;
};

LightEffectsState& state() {
    static LightEffectsState effects;
    return effects;
}

// How a glow of `type` falls off at ρ (0 at the light, 1 at the rim).
float falloff(std::int32_t type, float rho) {
    if (rho >= 1.0f) return 0.0f;
    switch (type) {
        case 2:  // exponential
            return (std::exp(-6.0f * rho) - std::exp(-6.0f)) / (1.0f - std::exp(-6.0f));
        case 3: {  // ball: an even disc with a soft edge
            const float edge = std::clamp((1.0f - rho) / 0.15f, 0.0f, 1.0f);
            return edge * edge * (3.0f - 2.0f * edge);
        }
        case 5:  // rim: a ring near the edge
            return std::max(0.0f, 1.0f - std::fabs(rho - 0.85f) / 0.15f);
        default:  // linear, and spectral's strength
            return 1.0f - rho;
    }
}

// Spectral glow: red outside, blue inside.
float spectral(int channel, float rho) {
    switch (channel) {
        case 0:
            return std::min(1.0f, std::max(0.3f, 1.3f * rho));
        case 1:
            return std::clamp(1.2f - 2.0f * std::fabs(0.4f - rho), 0.0f, 1.0f);
        default:
            return std::clamp(2.0f * (1.0f - rho) - 0.5f, 0.0f, 1.0f);
    }
}

float star_factor(const LightEffect& light, float dx, float dy) {
    if (light.star_level == 0.0f && light.radial_noise == 0.0f) return 1.0f;
    const float angle = std::atan2(dy, dx) - light.rotation * static_cast<float>(M_PI) / 180.0f;
    return static_cast<float>(star_and_streaks(light.star_level, light.star_points,
                                               light.radial_noise, light.noise_frequency, angle));
}

// The colour of a textured colour slot: its plain colour, or white times
// the texture (prepared for the frame here, on the main thread).
const AR_TextureInfo* slot_colour(const TexturedColour& colour, float out[3]) {
    if (colour.texture != nullptr) {
        Ar_init_texture(*colour.texture);
        out[0] = out[1] = out[2] = 255.0f;
        return colour.texture;
    }
    out[0] = colour.colour.x;
    out[1] = colour.colour.y;
    out[2] = colour.colour.z;
    return nullptr;
}

// `colour` times the texture at (u, v) / 255, or `colour` itself.
void textured(const AR_TextureInfo* texture, float u, float v, const float* colour, float out[3]) {
    out[0] = colour[0], out[1] = colour[1], out[2] = colour[2];
    if (texture == nullptr) return;
    TextureLookup at;
    at.u = u, at.v = v;
    TextureColour texel;
    if (!Ar_invoke_texture(*texture, at, texel)) return;
    out[0] *= texel.r / 255.0f, out[1] *= texel.g / 255.0f, out[2] *= texel.b / 255.0f;
}

float hexagon_distance(float dx, float dy) {
    dx = std::fabs(dx), dy = std::fabs(dy);
    return std::max(dx * 0.8660254f + dy * 0.5f, dy);
}

}  // namespace

void set_up_light_effects() {
    LightEffectsState& effects = state();
    effects.lights.clear();
    for (const AR_LightInfo* info : Ar_camera_lights()) {
        if (info == nullptr || !info->on || !info->has_effects) continue;
        // Lights without a place (directional, ambient) have nothing to glow around.
        if (info->kind == LIGHT_DIRECTIONAL || info->kind == LIGHT_AMBIENT) continue;
        const float* p = info->param;
        LightEffect light;
        light.eye_position = info->position;
        const float scale[3] = {info->colour.colour.x / 255.0f * info->colour_scale.x,
                                info->colour.colour.y / 255.0f * info->colour_scale.y,
                                info->colour.colour.z / 255.0f * info->colour_scale.z};
        if (p[LIGHT_GLOW_TYPE] != 0.0f && p[LIGHT_GLOW_INTENSITY] != 0.0f) {
            light.glow_type = static_cast<std::int32_t>(p[LIGHT_GLOW_TYPE]);
            light.glow_texture = slot_colour(info->glow_colour, light.glow_colour);
            for (int c = 0; c < 3; ++c) light.glow_colour[c] *= p[LIGHT_GLOW_INTENSITY] * scale[c];
            light.glow_spread = std::max(p[LIGHT_GLOW_SPREAD], 0.0f);
        }
        if (p[LIGHT_HALO_TYPE] != 0.0f && p[LIGHT_HALO_INTENSITY] != 0.0f) {
            light.halo_type = static_cast<std::int32_t>(p[LIGHT_HALO_TYPE]);
            light.halo_texture = slot_colour(info->halo_colour, light.halo_colour);
            for (int c = 0; c < 3; ++c)
                light.halo_colour[c] *= p[LIGHT_HALO_INTENSITY] * 0.5f * scale[c];
            light.halo_spread = std::max(p[LIGHT_HALO_SPREAD], 0.0f);
        }
        light.star_level = p[LIGHT_GLOW_STAR_LEVEL];
        light.star_points = p[LIGHT_STAR_POINTS];
        light.rotation = p[LIGHT_GLOW_ROTATION];
        light.radial_noise = p[LIGHT_GLOW_RADIAL_NOISE];
        light.noise_frequency = p[LIGHT_RADIAL_NOISE_FREQUENCY];
        light.opacity = std::clamp(p[LIGHT_GLOW_OPACITY], 0.0f, 1.0f);
        if (p[LIGHT_FLARE] != 0.0f && p[LIGHT_FLARE_INTENSITY] != 0.0f) {
            light.flare = true;
            light.flare_intensity = p[LIGHT_FLARE_INTENSITY];
            light.flare_circles = std::clamp(p[LIGHT_FLARE_NUM_CIRCLES], 0.0f, 200.0f);
            light.flare_min = std::max(p[LIGHT_FLARE_MIN_SIZE], 0.0f);
            light.flare_max = std::max(p[LIGHT_FLARE_MAX_SIZE], light.flare_min);
            light.colour_spread = std::clamp(p[LIGHT_FLARE_COLOR_SPREAD], 0.0f, 1.0f);
            light.focus = std::clamp(p[LIGHT_FLARE_FOCUS], 0.0f, 1.0f);
            light.hexagon = p[LIGHT_HEXAGON_FLARE] != 0.0f;
            light.vertical = p[LIGHT_FLARE_VERTICAL];
            light.horizontal = p[LIGHT_FLARE_HORIZONTAL];
            light.length = std::max(p[LIGHT_FLARE_LENGTH], 0.0f);
            light.flare_texture = slot_colour(info->flare_colour, light.flare_colour);
        }
        if (light.glow_type || light.halo_type || light.flare) effects.lights.push_back(light);
    }
}

bool light_effects_active() {
    return !state().lights.empty();
}

void place_light_effects(const CameraRecord& camera, std::int32_t xleft, std::int32_t ylow,
                         std::int32_t width, std::int32_t height) {
    LightEffectsState& effects = state();
    effects.width = static_cast<float>(width);
    effects.height = static_cast<float>(height);
    const ScreenMapping& screen = camera.view.screen;
    for (LightEffect& light : effects.lights) {
        const Triple& e = light.eye_position;
        light.visible = !screen.perspective || e.z < -1e-6f;
        if (!light.visible) continue;
        const ScreenPoint at = screen.map(e);
        light.x = at.x - xleft;
        light.y = at.y - ylow;
        light.visible = std::isfinite(light.x) && std::isfinite(light.y);
        light.glow_radius = light.glow_spread * effects.width / 16.0f;
        light.halo_radius = light.halo_spread * effects.width / 4.0f;
        light.circles.clear();
        if (!light.flare || !light.visible) continue;
        // Circles along the line from the light through the image centre
        // and as far beyond it, at places and sizes the same on every run.
        const float cx = effects.width / 2.0f, cy = effects.height / 2.0f;
        const int count = static_cast<int>(light.flare_circles);
        for (int k = 0; k < count; ++k) {
            FlareCircle circle;
            const float t = 2.0f * hash_unit(2u * k + 1u) * light.length;
            circle.x = light.x + (cx - light.x) * t;
            circle.y = light.y + (cy - light.y) * t;
            const float size =
                light.flare_min + (light.flare_max - light.flare_min) * hash_unit(2u * k + 2u);
            circle.radius = std::max(0.5f, size * effects.width / 20.0f);
            for (int c = 0; c < 3; ++c) {
                const float hue = std::sin(2.0f * static_cast<float>(M_PI) *
                                           (static_cast<float>(k) / std::max(count, 1) + c / 3.0f));
                circle.colour[c] = light.flare_colour[c] * light.flare_intensity * 0.12f *
                                   std::max(0.0f, 1.0f + light.colour_spread * hue);
            }
            light.circles.push_back(circle);
        }
    }
}

void apply_light_effects_row(std::uint8_t* row, std::int32_t width, bool sixteen, std::int32_t y,
                             std::int32_t x_first, std::int32_t x_last) {
    const LightEffectsState& effects = state();
    const float py = static_cast<float>(y) + 0.5f;
    for (const LightEffect& light : effects.lights) {
        if (!light.visible) continue;
        const float dy = py - light.y;
        const float reach = std::max(light.glow_radius, light.halo_radius);
        const bool near_row = std::fabs(dy) < reach;
        for (std::int32_t x = std::max(0, x_first); x <= std::min(x_last, width - 1); ++x) {
            const float dx = static_cast<float>(x) + 0.5f - light.x;
            float added[3] = {0, 0, 0};
            float cover = 0.0f;
            if (near_row && std::fabs(dx) < reach) {
                const float d = std::hypot(dx, dy);
                const float star = star_factor(light, dx, dy);
                // The glow, then the halo: each a disc of its own type,
                // radius and colour; only the glow hides what lies behind it.
                auto add = [&](std::int32_t type, float radius, const float* plain,
                               const AR_TextureInfo* texture) {
                    if (type == 0 || d >= radius) return 0.0f;
                    const float rho = d / radius;
                    const float v = falloff(type, rho) * star;
                    float colour[3];
                    textured(texture, 0.5f + dx / (2.0f * radius), 0.5f + dy / (2.0f * radius),
                             plain, colour);
                    for (int c = 0; c < 3; ++c)
                        added[c] += colour[c] * v * (type == 4 ? spectral(c, rho) : 1.0f);
                    return v;
                };
                cover =
                    add(light.glow_type, light.glow_radius, light.glow_colour, light.glow_texture) *
                    light.opacity;
                add(light.halo_type, light.halo_radius, light.halo_colour, light.halo_texture);
            }
            if (light.flare) {
                for (const FlareCircle& circle : light.circles) {
                    const float cdx = static_cast<float>(x) + 0.5f - circle.x;
                    const float cdy = py - circle.y;
                    if (std::fabs(cdx) > circle.radius || std::fabs(cdy) > circle.radius) continue;
                    const float d =
                        (light.hexagon ? hexagon_distance(cdx, cdy) : std::hypot(cdx, cdy)) /
                        circle.radius;
                    if (d >= 1.0f) continue;
                    // Focus 1: a hard-edged disc; 0: a soft cone.
                    const float v =
                        d <= light.focus ? 1.0f : (1.0f - d) / std::max(1.0f - light.focus, 1e-3f);
                    float colour[3];
                    textured(light.flare_texture, 0.5f + cdx / (2.0f * circle.radius),
                             0.5f + cdy / (2.0f * circle.radius), circle.colour, colour);
                    for (int c = 0; c < 3; ++c) added[c] += colour[c] * v;
                }
                const float streak_length = effects.width * light.length;
                if (light.horizontal != 0.0f && std::fabs(dy) < 3.0f &&
                    std::fabs(dx) < streak_length) {
                    const float v = light.horizontal * std::exp(-std::fabs(dy)) *
                                    (1.0f - std::fabs(dx) / streak_length) * light.flare_intensity;
                    for (int c = 0; c < 3; ++c) added[c] += light.flare_colour[c] * v;
                }
                if (light.vertical != 0.0f && std::fabs(dx) < 3.0f &&
                    std::fabs(dy) < streak_length) {
                    const float v = light.vertical * std::exp(-std::fabs(dx)) *
                                    (1.0f - std::fabs(dy) / streak_length) * light.flare_intensity;
                    for (int c = 0; c < 3; ++c) added[c] += light.flare_colour[c] * v;
                }
            }
            if (added[0] <= 0.0f && added[1] <= 0.0f && added[2] <= 0.0f) continue;
            cover = std::min(cover, 1.0f);
            float total = 0.0f;
            for (int c = 0; c < 3; ++c) {
                const float under = pixel_channel(row, x, c, sixteen) * (1.0f - cover);
                set_pixel_channel(row, x, c, sixteen, under + added[c]);
                total += std::max(added[c], 0.0f);
            }
            set_pixel_channel(row, x, 3, sixteen, pixel_channel(row, x, 3, sixteen) + total / 3.0f);
        }
    }
}

void finish_light_effects() {
    state().lights.clear();
}

}  // namespace sky
