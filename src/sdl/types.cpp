// Names of the SDL type codes, as error messages print them.
#include "sdl/types.h"

#include <iterator>

namespace sky {
namespace {

struct TypeName {
    std::int32_t type;
    const char* name;
};

// Motion curves, trim faces, st pairs, normals and colours have codes but no
// names: messages print them as "UNKNOWN".
constexpr TypeName kTypeNames[] = {
    {SDL_SCALAR, "SCALAR"},
    {SDL_TRIPLE, "TRIPLE"},
    {SDL_CV, "CV"},
    {SDL_TRIM_CV, "TRIM_CV"},
    {SDL_PARAM_CV, "PARAM_CV"},
    {SDL_FILENAME, "FILENAME"},
    {SDL_TRANSFORM, "TRANSFORM"},
    {SDL_LIGHT, "LIGHT"},
    {SDL_PATCH, "PATCH"},
    {SDL_FACE, "FACE"},
    {SDL_CAMERA, "CAMERA"},
    {SDL_SHADER, "SHADER"},
    {SDL_TEXTURE, "TEXTURE"},
    {SDL_ARRAY, "ARRAY"},
    {SDL_CV_CURVE, "CV_CURVE"},
    {SDL_TRIM_CV_CURVE, "TRIM_CV_CURVE"},
    {SDL_PARAM_CV_CURVE, "PARAM_CV_CURVE"},
    {SDL_BOUNDARY_CURVE, "BOUNDARY_CURVE"},
    {SDL_SHARED_EDGE, "SHARED_EDGE"},
    {SDL_TRIM_REGION_LIST, "TRIM_REGION_LIST"},
    {SDL_POLYSET, "POLYSET"},
    {SDL_COMMAND, "COMMAND"},
};

static_assert(std::size(kTypeNames) == 22);

}  // namespace

const char* sdl_type_name(std::int32_t type) {
    for (const TypeName& row : kTypeNames)
        if (row.type == type) return row.name;
    return "UNKNOWN";
}

}  // namespace sky
