#include "shading/photo_effects.h"

#include <cmath>
#include <cstring>

#include "sdl/body.h"
#include "sdl/expr.h"
#include "texture/texture.h"

namespace sky {
namespace {

constexpr float kGrainAmplitude = 50.0f;

// A value in [0, 1) from a pixel and the frame's seed.
float grain(std::int32_t x, std::int32_t y, std::uint32_t seed) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 0x8da6b343u ^
                      static_cast<std::uint32_t>(y) * 0xd8163841u ^ seed * 0xcb1ab31fu;
    h ^= h >> 16;
    h *= 0x7feb352du;
    h ^= h >> 15;
    h *= 0x846ca68bu;
    h ^= h >> 16;
    return static_cast<float>(h >> 8) / 16777216.0f;
}

}  // namespace

PhotoEffects evaluate_photo_effects(const Body* body, float frame, std::int32_t width,
                                    std::int32_t height) {
    PhotoEffects effects;
    if (body == nullptr) return effects;
    if (const BodyItem* item = body->find("filter")) {
        TexturedColour slot;
        if (Ar_evaluate_textured_colour(item->value, effects.filter, slot)) {
            effects.filter = slot.colour;
            if (slot.texture != nullptr) {
                Ar_init_texture(*slot.texture);
                effects.filter_texture = slot.texture;
                effects.u_per_pixel = width > 0 ? 1.0f / static_cast<float>(width) : 0.0f;
                effects.v_per_pixel = height > 0 ? 1.0f / static_cast<float>(height) : 0.0f;
            }
        }
    }
    if (const BodyItem* item = body->find("film_grain")) {
        float amount = 0.0f;
        if (AR_evaluate(SDL_SCALAR, &amount, item->value, &amount) && std::isfinite(amount))
            effects.film_grain = amount;
    }
    const Triple& f = effects.filter;
    effects.active = f.x != 255.0f || f.y != 255.0f || f.z != 255.0f ||
                     effects.film_grain != 0.0f || effects.filter_texture != nullptr;
    std::uint32_t bits;
    std::memcpy(&bits, &frame, sizeof bits);
    effects.frame_seed = bits;
    return effects;
}

void apply_photo_effects(const PhotoEffects& effects, std::int32_t x0, std::int32_t y,
                         std::int32_t width, float* colour) {
    float filter[3] = {effects.filter.x / 255.0f, effects.filter.y / 255.0f,
                       effects.filter.z / 255.0f};
    for (std::int32_t i = 0; i < width; ++i) {
        float* pixel = colour + 4 * i;
        if (effects.filter_texture != nullptr) {
            TextureLookup at;
            at.u = (static_cast<float>(x0 + i) + 0.5f) * effects.u_per_pixel;
            at.v = (static_cast<float>(y) + 0.5f) * effects.v_per_pixel;
            TextureColour texel;
            if (Ar_invoke_texture(*effects.filter_texture, at, texel)) {
                filter[0] = texel.r / 255.0f;
                filter[1] = texel.g / 255.0f;
                filter[2] = texel.b / 255.0f;
            }
        }
        const float noise = effects.film_grain != 0.0f
                                ? effects.film_grain * kGrainAmplitude *
                                      (2.0f * grain(x0 + i, y, effects.frame_seed) - 1.0f)
                                : 0.0f;
        for (int c = 0; c < 3; ++c) pixel[c] = pixel[c] * filter[c] + noise;
    }
}

}  // namespace sky
