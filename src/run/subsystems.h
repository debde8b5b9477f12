// Where the subsystems are plugged into the model walk (scene/scene_hooks.h),
// the front end's body finishers (sdl/builder.h) and the frame loop's stages
// (base/frame_passes.h). Every lower layer leaves a slot for what a higher one
// provides; this is the one place the program fills them.
#pragma once

namespace sky {

// Installs every subsystem's hooks and stages; before the scene is read.
void install_subsystems();

}  // namespace sky
