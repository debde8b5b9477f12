#include "base/options.h"

namespace sky {

RenderOptions& render_options() {
    static RenderOptions options;
    return options;
}

RayTraceLimits& ray_trace_limits() {
    static RayTraceLimits limits;
    return limits;
}

}  // namespace sky
