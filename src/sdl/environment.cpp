// Environment settings: defaults, system-variable assignment and the checks
// made when the definition section ends.
#include "sdl/environment.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "platform/fatal.h"
#include "platform/report.h"
#include "sdl/environment_settings.h"
#include "sdl/expr.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

float version_value = 0.0f;
float tolerance = 0.00001f;

EnvironmentSettings defaults() {
    EnvironmentSettings settings{};
    for (const Parameter& row : kEnvironmentSettings)
        if (row.kept.kind != FieldKind::NONE) store_default(row, row.kept, &settings);
    return settings;
}

// Brings a setting kept as a number back into its row's range.
void correct(const Parameter& row) {
    correct_parameter(row, row.kept, &environment());
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
    static EnvironmentSettings settings = defaults();
    return settings;
}

void reset_environment() {
    environment() = defaults();
}

std::int32_t setting_integer(float value) {
    if (!(value > -2147483648.0f)) return INT32_MIN;  // also NaN
    if (value >= 2147483648.0f) return INT32_MAX;
    return static_cast<std::int32_t>(value);
}

void keep_setting(std::int32_t setting, Expr* value) {
    const Parameter& row = kEnvironmentSettings[static_cast<std::size_t>(setting)];
    char* field = reinterpret_cast<char*>(&environment()) + row.kept.offset;
    if (row.kept.kind == FieldKind::EXPRESSION) {
        *reinterpret_cast<Expr**>(field) = value;
    } else if (row.kept.kind == FieldKind::FLOAT) {
        float now = 0.0f;
        if (!AR_evaluate(SDL_SCALAR, &now, value, nullptr)) exit_process(1);
        *reinterpret_cast<float*>(field) = now;
    }
}

void keep_setting_integer(std::int32_t setting, std::int32_t value) {
    const Parameter& row = kEnvironmentSettings[static_cast<std::size_t>(setting)];
    if (row.kept.kind == FieldKind::INT32) set_field_number(&environment(), row.kept, value);
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

    // The render settings among the system variables reach the record too:
    // numbers now, expressions as written (they are evaluated again when
    // used, so they may depend on variables the model section changes).
    int index = setting_index(name);
    if (index < 0) return;
    const Parameter& row = kEnvironmentSettings[static_cast<std::size_t>(index)];
    if (row.written != Written::VARIABLE) return;
    EnvironmentSettings& env = environment();
    switch (row.kept.kind) {
        case FieldKind::FLOAT:
            set_field_number(&env, row.kept, scalar);
            break;
        case FieldKind::INT32:
            set_field_number(&env, row.kept, setting_integer(scalar));
            break;
        case FieldKind::EXPRESSION:
            *reinterpret_cast<Expr**>(reinterpret_cast<char*>(&env) + row.kept.offset) = value;
            break;
        default:
            break;
    }
    if (std::string_view(name) == "version") {
        env.version_assigned = true;
        version_value = scalar;
    }
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

    correct(setting("aalevelmin"));
    if (version < 7.02f) {
        if (env.aalevelmax > 5) env.aalevelmax = 5;
        if (env.aalevelmin >= 2)
            env.aalevelmin = env.aalevelmax == 2 ? 4 : old_level(env.aalevelmin);
        if (env.aalevelmax >= 2)
            env.aalevelmax = env.aalevelmax == 2 ? 4 : old_level(env.aalevelmax);
    }
    correct(setting("aalevelmax"));
    if (!is_square(env.aalevelmax)) {
        std::int32_t root =
            static_cast<std::int32_t>(std::sqrt(static_cast<double>(env.aalevelmax)));
        env.aalevelmax = (root + 1) * (root + 1);
        rptWarning("aalevelmax must be one of 0, 1, 4, 9, 16, 25, or 36. Rounding up.\n");
    }
    env.aalevelmin = std::min(env.aalevelmin, env.aalevelmax);

    correct(setting("aathreshold"));
    correct(setting("grid_cache"));

    if (env.texture_caching != nullptr) {
        std::int32_t size = env.texture_cache_size;
        if (size != 4 && size != 8 && size != 16 && size != 32 && size != 64 && size != 128 &&
            size != 256) {
            rptWarning(
                "texture_cache_size must be one of 4, 8, 16, 32, 64, 128, or 256: using 32.\n");
            env.texture_cache_size = 32;
        }
        correct(setting("texture_cache_disk_limit"));
    }
}

}  // namespace sky
