// Transformation statements. The matrices are pre-multiplied (M ← T·M), so
// with row vectors the statement nearest the geometry acts on its points
// first: p' = p·Tn·…·T1.
#include "scene/transform.h"

#include <cmath>

#include "base/vecmath.h"
#include "platform/fatal.h"

namespace sky {
namespace {

constexpr float kDegreesToRadians = 0.017453292f;
constexpr float kSmallestScale = 1e-7f;

float sign_of(float v) {
    return v > 0 ? 1.0f : -1.0f;
}

}  // namespace

TransformState& transform_state() {
    thread_local TransformState state;
    return state;
}

void reset_transform_state(TransformState& state) {
    TransformValue& t = state.value;
    t.projection = t.model = t.normal = t.direction = Matrix4{};
    t.orientation = 1.0f;
    t.steps.clear();
}

void apply_rotation(TransformState& state, int axis, float degrees) {
    if (axis < 1 || axis > 3) return;
    float a = degrees * kDegreesToRadians;
    float c = std::cos(a), s = std::sin(a);
    const Matrix4 r = axis_rotation(axis, s, c);
    TransformValue& t = state.value;
    t.model = multiply(r, t.model);
    t.normal = multiply(r, t.normal);
    t.direction = multiply(r, t.direction);
    TransformStep step{axis + 1, 0, 0, 0};
    (axis == 1 ? step.x : axis == 2 ? step.y : step.z) = a;
    t.steps.push_back(step);
}

void apply_translation(TransformState& state, const Triple& offset, int form) {
    state.value.model = multiply(translation_matrix(offset), state.value.model);
    state.value.steps.push_back({form == 0 ? 1 : form, offset.x, offset.y, offset.z});
}

void apply_scale(TransformState& state, Triple f) {
    for (float* c : {&f.x, &f.y, &f.z})
        if (*c > -kSmallestScale && *c < kSmallestScale) *c = kSmallestScale;
    const Matrix4 s = scale_matrix(f);
    TransformValue& t = state.value;
    t.model = multiply(s, t.model);
    t.direction = multiply(s, t.direction);
    // Normals take the inverse transpose: the inverse, for a scale.
    t.normal = multiply(scale_matrix({1.0f / f.x, 1.0f / f.y, 1.0f / f.z}), t.normal);
    t.steps.push_back({5, f.x, f.y, f.z});
    t.orientation *= sign_of(f.y) * sign_of(f.x) * sign_of(f.z);
}

TransformValue snapshot(const TransformState& state) {
    TransformValue copy = state.value;
    Ar_invert_matrix(copy.model, copy.inverse_model);
    Ar_invert_matrix(copy.normal, copy.inverse_normal);
    Ar_invert_matrix(copy.direction, copy.inverse_direction);
    return copy;
}

BlockMark enter_block(TransformState& state) {
    BlockMark mark;
    mark.saved = state.value;
    // A block opens a scope of its own: a step that moves nothing.
    state.value.steps.push_back({1, 0, 0, 0});
    return mark;
}

void leave_block(TransformState& state, BlockMark& mark) {
    state.value = std::move(mark.saved);
}

Triple AR_model_xform(const Triple& point, const Matrix4& model) {
    float w = 1;
    Triple p = transform_point(point, model, &w);
    if (w > -1e-6f && w < 1e-6f) fatal("AR_model_xform: divide by zero\n");
    return {p.x / w, p.y / w, p.z / w};
}

Triple transform_normal(const Triple& n, const TransformValue& transform) {
    return transform_vector(n, transform.normal);
}

}  // namespace sky
