// Environment transfer: each render option takes the scene's setting (copied
// where it is a plain number, evaluated where it is an expression, with the
// option's own default when the scene does not set it).
#include "sdl/environment_transfer.h"

#include <algorithm>
#include <cmath>

#include "platform/fatal.h"
#include "sdl/environment.h"
#include "sdl/environment_settings.h"
#include "sdl/expr.h"

namespace sky {
namespace {

float evaluate(Expr* expression, float default_value) {
    float value = 0.0f;
    if (!AR_evaluate(SDL_SCALAR, &value, expression, &default_value)) exit_process(1);
    return value;
}

// A setting kept as an expression, evaluated as its row's type with its
// row's default; a failure ends the run with status 1 (the evaluator has
// said why, or chose to say nothing).
double evaluate_setting(const Parameter& row, Expr* expression, float default_value) {
    float value = evaluate(expression, default_value);
    switch (row.type) {
        case ParameterType::INTEGER:
            return setting_integer(value);
        case ParameterType::SWITCH:
            return setting_integer(value) != 0 ? 1.0 : 0.0;
        default:
            return value;
    }
}
double evaluate_setting(const Parameter& row, Expr* expression) {
    return evaluate_setting(row, expression, row.value.x);
}

Expr* kept_expression(const Parameter& row) {
    return *reinterpret_cast<Expr* const*>(reinterpret_cast<const char*>(&environment()) +
                                           row.kept.offset);
}

constexpr SubdivisionControl kDefaultSubdivisionControl[] = {
    {20, 3, 3, 3},      {40, 4, 4, 4},      {100, 6, 6, 5},     {500, 6, 6, 8},
    {1000, 10, 10, 10}, {2000, 20, 20, 20}, {5000, 10, 10, 10},
};

// A setting into the render options: a number kept by the definition
// section is copied, an expression evaluated; a setting that applies only
// when set leaves the option's own value otherwise.
void transfer(const Parameter& row, RenderOptions& options) {
    if (row.kept.kind != FieldKind::EXPRESSION) {
        for (int i = 0; i < row.store.count; ++i) {
            double value = field_number(&environment(), row.kept, i);
            if (row.store.kind == FieldKind::INT32 && row.kept.kind == FieldKind::FLOAT)
                value = setting_integer(static_cast<float>(value));
            set_field_number(&options, row.store, value, i);
        }
        return;
    }
    Expr* expression = kept_expression(row);
    if (row.only_when_set && expression == nullptr) return;
    set_field_number(&options, row.store, evaluate_setting(row, expression));
}

}  // namespace

void check_ray_trace_limits(RayTraceLimits& limits, std::vector<SubdivisionControl>& control) {
    const EnvironmentSettings& env = environment();
    // One by one, each checked as it comes.
    for (const Parameter& row : kEnvironmentSettings) {
        if (row.consumer != Consumer::RAY_TRACE_LIMITS || row.store.kind == FieldKind::NONE)
            continue;
        double value = evaluate_setting(row, kept_expression(row));
        correct_value(row, value);
        set_field_number(&limits, row.store, value);
    }
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
        control.push_back({setting_integer(scalar), setting_integer(triple.x),
                           setting_integer(triple.y), setting_integer(triple.z)});
    }
}

SceneGiven transfer_environment(RenderOptions& options, int renderer_kind, int mode) {
    const EnvironmentSettings& env = environment();

    // Every setting first, in table order, then their corrections.
    for (const Parameter& row : kEnvironmentSettings)
        if (row.consumer == Consumer::RENDER_OPTIONS && row.store.kind != FieldKind::NONE)
            transfer(row, options);
    for (const Parameter& row : kEnvironmentSettings)
        if (row.consumer == Consumer::RENDER_OPTIONS && row.kept.kind == FieldKind::EXPRESSION)
            correct_parameter(row, &options);

    SceneGiven given;
    given.startextension = env.startextension != nullptr;
    given.byextension = env.byextension != nullptr;
    given.animation = env.animation != nullptr;
    options.background_ylow = options.ylow;
    options.background_yhigh = options.yhigh;
    options.motion_blur = options.motion_blur && mode == kModeFullRender;

    if (env.up_axis == 2)
        options.y_up = true;
    else if (env.up_axis == 3)
        options.y_up = false;
    else
        fatal("ERROR: Bad up axis.\n");
    options.gamma_correction_on = options.gamma != 1.0f;

    // Scenes before 9.5 were made for the classic subdivision.
    bool use_v9 = evaluate_setting(setting("use_v9_tessellator"), env.use_v9_tessellator,
                                   options.version < 9.5f ? 1.0f : 0.0f) != 0.0;
    options.tessellator =
        evaluate_setting(setting("tessellator"), env.tessellator, use_v9 ? 0.0f : 1.0f) != 0.0;

    options.saved_geometry = false;
    options.colour_map_file.clear();
    options.quantize_output_file.clear();
    options.renderer_kind = renderer_kind;
    options.mode = mode;
    return given;
}

}  // namespace sky
