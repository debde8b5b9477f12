// Diagnostic dumps of trim regions the tessellator could not triangulate
// (QUORL_AG_DUMP): enough for a developer to reproduce the failure without
// the scene.
#pragma once

#include <string>

#include "geometry/nurbs.h"
#include "geometry/object_geometry.h"
#include "geometry/patch_tessellator.h"

namespace sky {

// Writes "NAME.ag" (the surface and the region's trim loops), "NAME.setup"
// (the tessellator's settings for the surface) and "NAME.comment" (which
// patch and region, and the error text) in the working directory, `name`
// with any '/' replaced. False when a file cannot be written completely.
bool dump_failed_face(const std::string& name, const char* patch_name, const NurbsSurface& surface,
                      const TrimRegion& region, const TessellatorSetup& setup,
                      const char* error_text);

}  // namespace sky
