// The photo effects of the environment (`photo_effects (filter = COLOUR,
// film_grain = AMOUNT)`): a colour filter over the lens, and the grain of
// the film. They change each finished pixel's colour: the filter multiplies
// it by the filter's colour / 255 (a texture's, laid across the image), the
// grain adds a grey noise of ±50 ×
// film_grain that depends only on the pixel and the frame, so a frame looks
// the same on every run and with any number of workers.
#pragma once

#include <cstdint>

#include "base/vecmath.h"

namespace sky {

struct AR_TextureInfo;
struct Body;

struct PhotoEffects {
    bool active = false;
    Triple filter{255.0f, 255.0f, 255.0f};
    // A textured filter instead, laid across the image: (0, 0) at its lower
    // left corner, (1, 1) at its upper right.
    const AR_TextureInfo* filter_texture = nullptr;
    float u_per_pixel = 0.0f, v_per_pixel = 0.0f;
    float film_grain = 0.0f;
    std::uint32_t frame_seed = 0;
};

// The scene's photo_effects block evaluated for the frame `frame` and an
// image of `width` × `height` pixels; a value that fails keeps its default,
// other names are ignored. Main thread.
PhotoEffects evaluate_photo_effects(const Body* body, float frame, std::int32_t width,
                                    std::int32_t height);

// Applies the effects to `width` pixels (red, green, blue, alpha floats,
// 0..255) of image row `y`, starting at column `x0`.
void apply_photo_effects(const PhotoEffects& effects, std::int32_t x0, std::int32_t y,
                         std::int32_t width, float* colour);

}  // namespace sky
