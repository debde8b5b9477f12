// Names of the SDL type codes, as messages print them.
#include "sdl/types.h"

namespace sky {

const char* sdl_type_name(std::int32_t type) {
    switch (type) {
        case SDL_SCALAR:
            return "SCALAR";
        case SDL_TRIPLE:
            return "TRIPLE";
        case SDL_CV:
            return "CV";
        case SDL_TRIM_CV:
            return "TRIM_CV";
        case SDL_PARAM_CV:
            return "PARAM_CV";
        case SDL_FILENAME:
            return "FILENAME";
        case SDL_TRANSFORM:
            return "TRANSFORM";
        case SDL_LIGHT:
            return "LIGHT";
        case SDL_PATCH:
            return "PATCH";
        case SDL_FACE:
            return "FACE";
        case SDL_CAMERA:
            return "CAMERA";
        case SDL_SHADER:
            return "SHADER";
        case SDL_TEXTURE:
            return "TEXTURE";
        case SDL_ARRAY:
            return "ARRAY";
        case SDL_CV_CURVE:
            return "CV_CURVE";
        case SDL_TRIM_CV_CURVE:
            return "TRIM_CV_CURVE";
        case SDL_PARAM_CV_CURVE:
            return "PARAM_CV_CURVE";
        case SDL_BOUNDARY_CURVE:
            return "BOUNDARY_CURVE";
        case SDL_SHARED_EDGE:
            return "SHARED_EDGE";
        case SDL_TRIM_REGION_LIST:
            return "TRIM_REGION_LIST";
        case SDL_POLYSET:
            return "POLYSET";
        case SDL_COMMAND:
            return "COMMAND";
        default:
            return "UNKNOWN";
    }
}

}  // namespace sky
