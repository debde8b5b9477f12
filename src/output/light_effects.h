// The effects of lights that draw in the image rather than light a surface:
// glow and halo around a light's position on the image, and lens flare (a
// row of circles along the line from the light through the image centre,
// and streaks through the light). Drawn onto the written image with the
// other post effects; a light behind the camera draws nothing.
#pragma once

#include <cstdint>

namespace sky {

struct CameraRecord;

// Per camera, once its lights are prepared: the lights with effects.
void set_up_light_effects();
bool light_effects_active();

// The lights' positions on the image of `camera`, whose window starts at
// (xleft, ylow) and is `width` pixels wide and `height` rows high.
void place_light_effects(const CameraRecord& camera, std::int32_t xleft, std::int32_t ylow,
                         std::int32_t width, std::int32_t height);

// Adds the light effects to image row `y` (4 bytes a pixel, 8 when
// `sixteen`), columns x_first to x_last of the window.
void apply_light_effects_row(std::uint8_t* row, std::int32_t width, bool sixteen, std::int32_t y,
                             std::int32_t x_first, std::int32_t x_last);

void finish_light_effects();

}  // namespace sky
