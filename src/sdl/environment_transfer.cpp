// Environment transfer: each render option takes the scene's setting (copied
// where it is a plain number, evaluated where it is an expression, with the
// option's own default when the scene does not set it).
#include "sdl/environment_transfer.h"

#include <algorithm>
#include <cmath>

#include "platform/fatal.h"
#include "sdl/environment.h"
#include "sdl/expr.h"

namespace sky {
namespace {

float evaluate(Expr* expression, float default_value) {
    float value = 0.0f;
    if (!AR_evaluate(SDL_SCALAR, &value, expression, &default_value)) exit_process(1);
    return value;
}

std::int32_t evaluate_int(Expr* expression, float default_value) {
    float value = evaluate(expression, default_value);
    if (!(value > -2147483648.0f)) return INT32_MIN;
    if (value >= 2147483648.0f) return INT32_MAX;
    return static_cast<std::int32_t>(value);
}

bool evaluate_flag(Expr* expression, float default_value) {
    return evaluate_int(expression, default_value) != 0;
}

constexpr SubdivisionControl kDefaultSubdivisionControl[] = {
    {20, 3, 3, 3},      {40, 4, 4, 4},      {100, 6, 6, 5},     {500, 6, 6, 8},
    {1000, 10, 10, 10}, {2000, 20, 20, 20}, {5000, 10, 10, 10},
};

std::int32_t to_int(float value) {
    if (!(value > -2147483648.0f)) return INT32_MIN;
    if (value >= 2147483648.0f) return INT32_MAX;
    return static_cast<std::int32_t>(value);
}

}  // namespace

void check_ray_trace_limits(RayTraceLimits& limits, std::vector<SubdivisionControl>& control) {
    const EnvironmentSettings& env = environment();
    limits.max_reflections = evaluate_int(env.max_reflections, 3);
    if (limits.max_reflections < 0) fatal("max_reflections cannot be negative\n");
    limits.max_refractions = evaluate_int(env.max_refractions, 5);
    if (limits.max_refractions < 0) fatal("max_refractions cannot be negative\n");
    limits.max_shadow_level = evaluate_int(env.max_shadow_level, 1);
    if (limits.max_shadow_level < -1) fatal("max_shadow_level cannot be less than -1\n");
    limits.subdivision_recursion_limit = evaluate_int(env.subdivision_recursion_limit, 2);
    if (limits.subdivision_recursion_limit < 0) fatal("subdivision_limit cannot be negative\n");
    limits.max_ray_depth = std::max(limits.max_reflections, limits.max_refractions);

    control.clear();
    if (env.subdivision_control == nullptr) {
        control.assign(std::begin(kDefaultSubdivisionControl),
                       std::end(kDefaultSubdivisionControl));
        return;
    }
    // A list of (level, (x, y, z)) pairs, each pair itself a two-element list.
    for (Expr* pair = env.subdivision_control->args; pair; pair = pair->next) {
        Expr* level = pair->args;
        Expr* counts = level ? level->next : nullptr;
        float scalar = 0.0f;
        Triple triple;
        if (!AR_evaluate(SDL_SCALAR, &scalar, level, nullptr) ||
            !AR_evaluate(SDL_TRIPLE, &triple, counts, nullptr))
            exit_process(1);
        control.push_back({to_int(scalar), to_int(triple.x), to_int(triple.y), to_int(triple.z)});
    }
}

SceneGiven transfer_environment(RenderOptions& options, int renderer_kind, int mode) {
    const EnvironmentSettings& env = environment();
    SceneGiven given;

    options.xresolution = env.x_resolution;
    options.yresolution = env.y_resolution;
    options.xleft = env.xleft;
    options.xright = env.xright;
    options.ylow = env.ylow;
    options.yhigh = env.yhigh;
    options.aalevelmax = env.aalevelmax;
    options.aalevelmin = env.aalevelmin;
    options.aathreshold = env.aathreshold;
    options.rt_shadow_offset = env.rt_shadow_offset;
    options.grid_cache = env.grid_cache;
    options.startframe = env.startframe;
    options.endframe = env.endframe;
    options.byframe = env.byframe;
    options.extensionsize = env.extensionsize;
    options.extensionformat = env.extensionformat;
    options.version = env.version;
    options.show_particles = to_int(env.show_particles);
    options.simulation_substeps = env.simulation_substeps;
    options.simulation_frames_per_second = env.simulation_frames_per_second;
    options.texture_cache_size = env.texture_cache_size;
    options.texture_cache_disk_limit = env.texture_cache_disk_limit;
    options.background_ylow = options.ylow;
    options.background_yhigh = options.yhigh;

    options.quiet = evaluate_int(env.quiet, 1);
    options.preview_ray_trace = evaluate_flag(env.preview_ray_trace, 1);
    options.odd = evaluate_flag(env.odd, 1);
    options.even = evaluate_flag(env.even, 1);
    options.odd_field_first = evaluate_flag(env.odd_field_first, 1);
    options.textures_active = evaluate_flag(env.textures_active, 1);
    options.image_format = evaluate_int(env.image_format, 1);
    options.trans_percent = std::clamp(evaluate(env.trans_percent, 1), 0.0f, 1.0f);
    float gamma = evaluate(env.gamma_correction, 1);
    options.atten_trans = evaluate_flag(env.atten_trans, 1);
    options.bbox_memory = evaluate_int(env.bbox_memory, 1);
    if (options.bbox_memory < 0 || options.bbox_memory > 2) options.bbox_memory = 1;
    options.reduced_samples = evaluate_flag(env.reduced_samples, 1);

    options.hidden_line = evaluate_flag(env.hidden_line, 0);
    options.fields = evaluate_flag(env.fields, 0);
    bool motion_blur = evaluate_flag(env.motion_blur_on, 0);
    options.motion_blur = mode == kModeFullRender && motion_blur;
    options.trans_depth = evaluate_int(env.trans_depth, 0);
    options.post_filter = evaluate_flag(env.post_filter, 0);
    options.stereo = evaluate_flag(env.stereo, 0);
    options.stereo_parallel = evaluate_flag(env.stereo_parallel, 0);
    options.composite_rendering = evaluate_flag(env.composite_rendering, 0);
    options.composite_threshold = evaluate(env.composite_threshold, 0);
    options.use_lumenfold_depth = evaluate_flag(env.use_lumenfold_depth, 0);
    options.keep_noglow = evaluate_flag(env.keep_noglow, 0);
    options.spot_depth = evaluate_int(env.spot_depth, 0);
    options.spot_memory = evaluate_flag(env.spot_memory, 0);
    options.ignore_filmgate = evaluate_flag(env.ignore_filmgate, 0);
    options.invisible_objects_cast_shadows = evaluate_flag(env.invisible_objects_cast_shadows, 0);
    options.texture_caching = evaluate_int(env.texture_caching, 0);
    if (options.texture_caching < 0 || options.texture_caching > 2) options.texture_caching = 0;
    if (env.startextension) {
        options.startextension = evaluate_int(env.startextension, 0);
        given.startextension = true;
    }
    if (env.byextension) {
        options.byextension = evaluate_int(env.byextension, 0);
        given.byextension = true;
    }
    if (env.animation) {
        options.animation = evaluate_flag(env.animation, 0);
        given.animation = true;
    }

    if (options.hidden_line) fatal("parallel renderers cannot perform hidden line\n");
    if (env.up_axis == 2)
        options.y_up = true;
    else if (env.up_axis == 3)
        options.y_up = false;
    else
        fatal("ERROR: Bad up axis.\n");

    options.gamma = gamma;
    options.gamma_correction_on = gamma != 1.0f;

    // Scenes before 9.5 were made for the classic subdivision.
    bool use_v9 = evaluate_flag(env.use_v9_tessellator, options.version < 9.5f ? 1.0f : 0.0f);
    options.tessellator = evaluate_flag(env.tessellator, use_v9 ? 0.0f : 1.0f);

    options.saved_geometry = false;
    options.colour_map_file.clear();
    options.quantize_output_file.clear();
    options.renderer_kind = renderer_kind;
    options.mode = mode;
    return given;
}

}  // namespace sky
