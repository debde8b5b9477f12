// SDL type codes: the type of every value, symbol and expression node.
#pragma once

#include <cstdint>

namespace sky {

enum SdlType : std::int32_t {
    SDL_NO_TYPE = 0,  // array elements before their first assignment; structural nodes
    SDL_SCALAR = 701,
    SDL_TRIPLE = 702,
    SDL_CV = 703,
    SDL_TRIM_CV = 704,
    SDL_PARAM_CV = 705,
    SDL_FILENAME = 706,
    SDL_TRANSFORM = 707,
    SDL_LIGHT = 708,
    SDL_PATCH = 709,
    SDL_FACE = 710,
    SDL_CAMERA = 711,
    SDL_SHADER = 712,
    SDL_TEXTURE = 713,
    SDL_ARRAY = 714,
    SDL_CV_CURVE = 715,
    SDL_TRIM_CV_CURVE = 716,
    SDL_PARAM_CV_CURVE = 717,
    SDL_BOUNDARY_CURVE = 718,
    SDL_SHARED_EDGE = 720,
    SDL_MOTION_CURVE = 721,
    SDL_TRIM_FACE = 722,
    SDL_TRIM_REGION_LIST = 729,
    SDL_POLYSET = 739,
    SDL_ST = 742,
    SDL_COMMAND = 743,
    SDL_NORMAL = 746,
    SDL_COLOUR = 748,
};

// The name messages print for a type code; "UNKNOWN" for codes without one.
const char* sdl_type_name(std::int32_t type);

}  // namespace sky
