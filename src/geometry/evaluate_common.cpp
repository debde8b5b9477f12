// The parameters every kind of geometry evaluates alike.
#include "geometry/evaluate_common.h"

#include <algorithm>
#include <cfloat>

#include "geometry/geometry_lists.h"
#include "platform/fatal.h"
#include "sdl/expr_internal.h"

namespace sky {

bool scalar_parameter(Expr* expression, float fallback, float& value) {
    return AR_evaluate(SDL_SCALAR, &value, expression, &fallback);
}

bool int_parameter(Expr* expression, float fallback, std::int32_t& value) {
    float scalar = 0;
    if (!scalar_parameter(expression, fallback, scalar)) return false;
    value = truncate_to_int(scalar);
    return true;
}

bool marked_moving(const CommonParameters& parameters) {
    float motion = 0;
    return scalar_parameter(parameters.motion_blur, 0.0f, motion) && truncate_to_int(motion) != 0;
}

bool evaluate_switches(const CommonParameters& p, bool patch_active, GeometryCommon& out) {
    float active = 1;
    if (!scalar_parameter(p.active, 1.0f, active)) return false;
    out.active = patch_active ? active >= 0.5f : truncate_to_int(active) != 0;
    std::int32_t level = 2, samples = 1;
    bool ok = int_parameter(p.casts_shadow, 1.0f, out.casts_shadow) &&
              int_parameter(p.motion_blur_texture_sample_level, 2.0f, level) &&
              int_parameter(p.motion_blur_shading_samples, 1.0f, samples) &&
              int_parameter(p.doublesided, 0.0f, out.doublesided) &&
              int_parameter(p.opposite, 0.0f, out.opposite) &&
              int_parameter(p.reflection_only, 0.0f, out.reflection_only) &&
              int_parameter(p.particle_collisions, 0.0f, out.particle_collisions);
    out.motion_texture_sample_level = std::clamp(level, 0, 5);
    out.motion_shading_samples = std::max(samples, 1);
    return ok;
}

void evaluate_shaders(const CommonParameters& p, const char* name, GeometryCommon& out) {
    out.lights.clear();
    for_each_item(p.light_list, [&](const float*, Expr* light) {
        if (light) out.lights.push_back(light);
        return true;
    });
    out.shaders.clear();
    for_each_item(p.shader, [&](const float*, Expr* shader) {
        ObjectValue value;
        if (shader == nullptr || !AR_evaluate(SDL_SHADER, &value, shader, nullptr))
            fatal("Cannot evaluate SHADER\n");
        out.shaders.push_back(shader);
        return true;
    });
    if (out.shaders.empty()) fatal("No defined shader for %s\n", name);
}

double clamp_weight(double w) {
    if (!(w >= 0.001)) return 0.001;  // NaN too
    return w > 10000.0 ? 10000.0 : w;
}

void empty_bound(double bound[6]) {
    for (int axis = 0; axis < 3; ++axis) {
        bound[2 * axis] = DBL_MAX;
        bound[2 * axis + 1] = -DBL_MAX;
    }
}

void extend_bound(double bound[6], double x, double y, double z) {
    const double p[3] = {x, y, z};
    for (int axis = 0; axis < 3; ++axis) {
        bound[2 * axis] = std::min(bound[2 * axis], p[axis]);
        bound[2 * axis + 1] = std::max(bound[2 * axis + 1], p[axis]);
    }
}

bool constant_list(const Expr* list) {
    return list == nullptr || is_packed_list(list) || is_packed_polygons(list);
}

bool constant_rows(const Expr* list) {
    if (constant_list(list)) return true;
    if (!is_list(list)) return false;
    for (const Expr* row = list_first(list); row; row = row->next)
        if (!constant_list(row)) return false;
    return true;
}

}  // namespace sky
