#include "shading/photo_effects.h"

#include <cmath>
#include <cstring>

#include "base/not_built.h"
#include "sdl/body.h"
#include "sdl/expr.h"

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

PhotoEffects evaluate_photo_effects(const Body* body, float frame) {
    PhotoEffects effects;
    if (body == nullptr) return effects;
    if (const BodyItem* item = body->find("filter")) {
        TextureValue value;
        if (AR_evaluate(SDL_TEXTURE, &value, item->value, nullptr)) {
            if (value.constant)
                effects.filter = value.colour;
            else
                warn_not_built("a textured photo effects filter");
        }
    }
    if (const BodyItem* item = body->find("film_grain")) {
        float amount = 0.0f;
        if (AR_evaluate(SDL_SCALAR, &amount, item->value, &amount) && std::isfinite(amount))
            effects.film_grain = amount;
    }
    const Triple& f = effects.filter;
    effects.active = f.x != 255.0f || f.y != 255.0f || f.z != 255.0f || effects.film_grain != 0.0f;
    std::uint32_t bits;
    std::memcpy(&bits, &frame, sizeof bits);
    effects.frame_seed = bits;
    return effects;
}

void apply_photo_effects(const PhotoEffects& effects, std::int32_t x0, std::int32_t y,
                         std::int32_t width, float* colour) {
    const float filter[3] = {effects.filter.x / 255.0f, effects.filter.y / 255.0f,
                             effects.filter.z / 255.0f};
    for (std::int32_t i = 0; i < width; ++i) {
        float* pixel = colour + 4 * i;
        const float noise = effects.film_grain != 0.0f
                                ? effects.film_grain * kGrainAmplitude *
                                      (2.0f * grain(x0 + i, y, effects.frame_seed) - 1.0f)
                                : 0.0f;
        for (int c = 0; c < 3; ++c) pixel[c] = pixel[c] * filter[c] + noise;
    }
}

}  // namespace sky
