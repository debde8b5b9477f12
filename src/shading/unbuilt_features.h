// The shader and light settings that the renderer reads but does not draw
// yet. Each check runs once per evaluation of a shader or per light
// prepared for a camera, never per sample, and names what a setting asks
// for through warn_not_built (base/not_built.h) only when the setting
// would change the picture: a light that is off, a glow of intensity 0 or
// a light fog without intensity stays silent.
#pragma once

namespace sky {

struct AR_LightInfo;
struct AR_ShaderInfo;

// Shader glow of an evaluated shader.
void warn_unbuilt_shader_features(const AR_ShaderInfo& shader);

// Light glow, halo, lens flare and light fog of a light
// that is on.
void warn_unbuilt_light_features(const AR_LightInfo& light);

}  // namespace sky
