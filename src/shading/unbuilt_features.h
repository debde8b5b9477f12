// The shader and light settings that the renderer reads but does not draw
// yet. Each check runs once per evaluation of a shader, never per sample,
// and names what a setting asks for through warn_not_built
// (base/not_built.h) only when the setting would change the picture.
#pragma once

namespace sky {

struct AR_ShaderInfo;

// Displacement of an evaluated shader.
void warn_unbuilt_shader_features(const AR_ShaderInfo& shader);

}  // namespace sky
