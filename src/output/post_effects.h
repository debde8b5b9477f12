// The post effects of a camera's finished image (depth of field and shader
// glow) and their places in the frame loop.
#pragma once

namespace sky {

struct CameraRecord;
struct OutputContext;

// Applies depth of field and glow to the files of `camera`'s render, which
// `context` has just closed. False when an effect failed; the files then
// hold the image as rendered, and the failure has been reported.
bool post_effects(OutputContext& context, const CameraRecord& camera);

// The glow set-up and the post effects into the frame loop's passes, and
// whether glow will reread an image into the output stages.
void install_post_effects();

}  // namespace sky
