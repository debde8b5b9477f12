// The image window and resolution after the command line: the -h/-w offsets,
// the window checks and the -Q/-R resolution scaling.
#pragma once

#include "base/options.h"

namespace sky {

struct ResolutionScale {
    bool x_given = false;
    bool y_given = false;
    float x = 1.0f;  // new x resolution / scene x resolution
    float y = 1.0f;
};

// The message that ends the run when the window cannot be rendered, or null.
const char* window_error(const RenderOptions& options);

// Scales the resolution and the window (y first, then x) and, after -Q, sets
// the area tolerance. Returns the message that ends the run, or null.
const char* scale_resolution(RenderOptions& options, const ResolutionScale& scale);

}  // namespace sky
