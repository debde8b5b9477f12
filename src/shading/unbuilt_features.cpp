#include "shading/unbuilt_features.h"

#include "base/not_built.h"
#include "shading/shader.h"

namespace sky {
namespace {

bool any(const Triple& c) {
    return c.x != 0.0f || c.y != 0.0f || c.z != 0.0f;
}

}  // namespace

void warn_unbuilt_shader_features(const AR_ShaderInfo& shader) {
    if (shader.displacement.texture != nullptr || any(shader.displacement.colour))
        warn_not_built("displacement mapping");
}

}  // namespace sky
