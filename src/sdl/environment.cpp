#include "sdl/environment.h"

namespace sky {

EnvironmentSettings& environment() {
    static EnvironmentSettings settings;
    return settings;
}

void reset_environment() {
    environment() = EnvironmentSettings{};
}

bool finalise_environment() {
    EnvironmentSettings& env = environment();
    // Scenes older than 7.0 give their size through the window's far edges.
    if (env.xright == -1)
        env.xright = env.x_resolution - 1;
    else if (env.version < 7.0f)
        env.x_resolution = env.xright + 1;
    if (env.yhigh == -1)
        env.yhigh = env.y_resolution - 1;
    else if (env.version < 7.0f)
        env.y_resolution = env.yhigh + 1;
    return true;
}

}  // namespace sky

namespace sky {

float resolution_tolerance(std::int32_t largest_dimension) {
    if (largest_dimension > 4096) return 0.01024f;
    if (largest_dimension > 2048) return 0.00256f;
    if (largest_dimension > 1024) return 0.00064f;
    if (largest_dimension > 512) return 0.00016f;
    if (largest_dimension > 256) return 0.00004f;
    return 0.00001f;
}

}  // namespace sky
