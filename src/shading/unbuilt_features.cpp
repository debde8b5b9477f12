#include "shading/unbuilt_features.h"

#include "base/not_built.h"
#include "shading/light.h"
#include "shading/shader.h"

namespace sky {
void warn_unbuilt_shader_features(const AR_ShaderInfo& shader) {
    if (shader.param[SHADER_GLOW_INTENSITY] > 0.0f) warn_not_built("shader glow");
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
