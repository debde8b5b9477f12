// The order matters only where two subsystems fill the same slot: the
// outputs give the camera pass a stand-in tile routine that the ray caster
// then replaces.
//
// Slots no subsystem fills yet (docs/architecture.md keeps the list):
// FramePasses::release_shadow_lookups;
// SceneHooks::evaluate_environment_shader.
#include "run/subsystems.h"

#include "geometry/geometry_evaluation.h"
#include "geometry/object_queue.h"
#include "output/output_context.h"
#include "output/post_effects.h"
#include "output/shader_glow.h"
#include "render/caster_state.h"
#include "render/rows.h"
#include "render/shadow_pass.h"
#include "run/link.h"
#include "scene/scene_hooks.h"
#include "sdl/animation.h"
#include "shading/shader.h"
#include "texture/texture.h"

namespace sky {

void install_subsystems() {
    // The front end's finishers and the model walk's hooks.
    install_geometry_hooks();  // patch, face and polyset bodies and objects
    install_texture_hooks();   // texture bodies, procedure names, file cache frames
    install_shading_hooks();   // shader and light bodies, lights, object shaders
    scene_hooks().update_animation = update_animation;  // channels drive their variables
    // The frame loop's stages.
    install_geometry_passes();  // object lists and tile geometry entry
    install_output_passes();    // image, matte and depth files
    install_render_passes();    // sampling and visibility
    install_link_stages();      // files, rows and progress to the modelling application
    install_shadow_passes();    // depth maps, their lookups, automatic clipping
    install_post_effects();     // depth of field and glow on the written image
    // The samplers' glow into the glow buffer.
    set_glow_sink(deposit_glow_sample);
}

}  // namespace sky
