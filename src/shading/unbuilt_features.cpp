#include "shading/unbuilt_features.h"

#include "base/not_built.h"
#include "shading/light.h"
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

void warn_unbuilt_light_features(const AR_LightInfo& light) {
    if (!light.on) return;
    const float* p = light.param;
    if (p[LIGHT_GLOW_TYPE] != 0.0f && p[LIGHT_GLOW_INTENSITY] != 0.0f) warn_not_built("light glow");
    if (p[LIGHT_HALO_TYPE] != 0.0f && p[LIGHT_HALO_INTENSITY] != 0.0f) warn_not_built("light halo");
    if (p[LIGHT_FLARE] != 0.0f && p[LIGHT_FLARE_INTENSITY] != 0.0f) warn_not_built("lens flare");
    if (light.has_fog) warn_not_built("light fog");
}

}  // namespace sky
