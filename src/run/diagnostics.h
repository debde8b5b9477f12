// The diagnostics block of -N: printed once, at the first scene preparation.
#pragma once

#include "base/options.h"

namespace sky {

// Prints the block unless it was printed before in this run.
void print_diagnostics(const RenderOptions& options, float pixel_aspect, bool scene_has_lights);

}  // namespace sky
