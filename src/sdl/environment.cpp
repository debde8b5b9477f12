// Environment settings: defaults, system-variable assignment and the checks
// made when the definition section ends.
#include "sdl/environment.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "platform/fatal.h"
#include "platform/report.h"
#include "sdl/expr.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

float version_value = 0.0f;
float tolerance = 0.00001f;

std::int32_t truncate(float value) {
    if (!(value > -2147483648.0f)) return INT32_MIN;  // also NaN
    if (value >= 2147483648.0f) return INT32_MAX;
    return static_cast<std::int32_t>(value);
}

// Old scenes give anti-aliasing levels as exponents: 2^level × 0.8 samples.
std::int32_t old_level(std::int32_t level) {
    return static_cast<std::int32_t>(std::ldexp(1.0, level) * 0.8);
}

bool is_square(std::int32_t n) {
    std::int32_t root = static_cast<std::int32_t>(std::sqrt(static_cast<double>(n)));
    return root * root == n;
}

}  // namespace

EnvironmentSettings& environment() {
    static EnvironmentSettings settings;
    return settings;
}

void reset_environment() {
    environment() = EnvironmentSettings{};
}

float sdl_version() {
    return version_value;
}

void reset_sdl_version() {
    version_value = 0.0f;
}

float& scene_resolution_tolerance() {
    return tolerance;
}

float resolution_tolerance(std::int32_t largest_dimension) {
    if (largest_dimension > 4096) return 0.01024f;
    if (largest_dimension > 2048) return 0.00256f;
    if (largest_dimension > 1024) return 0.00064f;
    if (largest_dimension > 512) return 0.00016f;
    if (largest_dimension > 256) return 0.00004f;
    return 0.00001f;
}

void assign_system_variable(const char* name, Expr* value) {
    Symbol* symbol = find_symbol(name);
    if (symbol == nullptr) fatal("ERROR: Unknown parameter %s\n", name);
    if (symbol->type != SDL_SCALAR || symbol->system != 1) fatal("ERROR: Bad variable %s\n", name);
    float scalar = 0.0f;
    if (!AR_evaluate(SDL_SCALAR, &scalar, value, nullptr)) exit_process(1);
    symbol->scalar() = scalar;

    EnvironmentSettings& env = environment();
    std::string_view n(name);
    if (n == "startframe")
        env.startframe = scalar;
    else if (n == "endframe")
        env.endframe = scalar;
    else if (n == "byframe")
        env.byframe = scalar;
    else if (n == "aathreshold")
        env.aathreshold = scalar;
    else if (n == "version") {
        env.version = scalar;
        env.version_assigned = true;
        version_value = scalar;
    } else if (n == "aalevelmin")
        env.aalevelmin = truncate(scalar);
    else if (n == "aalevelmax")
        env.aalevelmax = truncate(scalar);
    else if (n == "xleft")
        env.xleft = truncate(scalar);
    else if (n == "xright")
        env.xright = truncate(scalar);
    else if (n == "ylow")
        env.ylow = truncate(scalar);
    else if (n == "yhigh")
        env.yhigh = truncate(scalar);
    // These keep the expression itself: it is evaluated again when used, so
    // it may depend on variables the model section changes.
    else if (n == "motion_blur_on")
        env.motion_blur_on = value;
    else if (n == "shutter_angle")
        env.shutter_angle = value;
    else if (n == "post_center")
        env.post_center = value;
    else if (n == "post_adjacent")
        env.post_adjacent = value;
    else if (n == "post_diagonal")
        env.post_diagonal = value;
    else if (n == "trans_depth")
        env.trans_depth = value;
    else if (n == "trans_percent")
        env.trans_percent = value;
    else if (n == "keep_noglow")
        env.keep_noglow = value;
    else if (n == "spot_depth")
        env.spot_depth = value;
    else if (n == "spot_memory")
        env.spot_memory = value;
    else if (n == "atten_trans")
        env.atten_trans = value;
    else if (n == "gamma_correction")
        env.gamma_correction = value;
    else if (n == "ignore_filmgate")
        env.ignore_filmgate = value;
    else if (n == "stereo_parallel")
        env.stereo_parallel = value;
    else if (n == "invisible_objects_cast_shadows")
        env.invisible_objects_cast_shadows = value;
    else if (n == "tessellator")
        env.tessellator = value;
}

void finalise_environment() {
    EnvironmentSettings& env = environment();
    float version = env.version;

    // Scenes before 7.0 give their size through the window's far edges.
    if (env.xright == -1)
        env.xright = env.x_resolution - 1;
    else if (version < 7.0f)
        env.x_resolution = env.xright + 1;
    if (env.yhigh == -1)
        env.yhigh = env.y_resolution - 1;
    else if (version < 7.0f)
        env.y_resolution = env.yhigh + 1;

    if (env.x_resolution < 1) fatal("xresolution too small\n");
    if (env.y_resolution < 1) fatal("yresolution too small\n");
    tolerance = resolution_tolerance(std::max(env.x_resolution, env.y_resolution));
    if (env.xright >= env.x_resolution) fatal("xright too large\n");
    if (env.yhigh >= env.y_resolution) fatal("yhigh too large\n");
    if (env.xleft < 0) fatal("xleft too small\n");
    if (env.xright <= env.xleft) fatal("xright too small\n");
    if (env.ylow < 0) fatal("ylow too small\n");
    if (env.yhigh <= env.ylow) fatal("yhigh too small\n");

    if (env.aalevelmin < 0) env.aalevelmin = 0;
    if (version < 7.02f) {
        if (env.aalevelmax > 5) env.aalevelmax = 5;
        if (env.aalevelmin >= 2)
            env.aalevelmin = env.aalevelmax == 2 ? 4 : old_level(env.aalevelmin);
        if (env.aalevelmax >= 2)
            env.aalevelmax = env.aalevelmax == 2 ? 4 : old_level(env.aalevelmax);
    }
    if (env.aalevelmax > 36) {
        env.aalevelmax = 36;
    } else if (!is_square(env.aalevelmax)) {
        std::int32_t root =
            static_cast<std::int32_t>(std::sqrt(static_cast<double>(env.aalevelmax)));
        env.aalevelmax = (root + 1) * (root + 1);
        rptWarning("aalevelmax must be one of 0, 1, 4, 9, 16, 25, or 36. Rounding up.\n");
    }
    env.aalevelmin = std::min(env.aalevelmin, env.aalevelmax);

    if (env.aathreshold < 0.0f) env.aathreshold = 0.0f;
    if (env.aathreshold > 1.0f) env.aathreshold = 0.99f;

    if (env.grid_cache < 100) fatal("grid_cache must be > 100\n");

    if (env.texture_caching != nullptr) {
        std::int32_t size = env.texture_cache_size;
        if (size != 4 && size != 8 && size != 16 && size != 32 && size != 64 && size != 128 &&
            size != 256) {
            rptWarning(
                "texture_cache_size must be one of 4, 8, 16, 32, 64, 128, or 256: using 32.\n");
            env.texture_cache_size = 32;
        }
        if (env.texture_cache_disk_limit < 1 || env.texture_cache_disk_limit > 5000) {
            rptWarning("texture_cache_disk_limit must be between 1 and 5000. Using 1\n");
            env.texture_cache_disk_limit = 1;
        }
    }
}

}  // namespace sky
