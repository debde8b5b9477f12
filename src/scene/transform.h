// The transformation state of a scene walk: the matrices that the
// translate, rotate and scale statements met on the way down build up, with
// their inverses at snapshot time and the list of steps that made them.
//
// One state per rendering thread; the walk of the model section uses only
// its own thread's state.
#pragma once

#include "sdl/values.h"

namespace sky {

struct TransformState {
    // Items 1-5 (projection, model, normal and direction matrices and the
    // orientation sign), 6-8 (inverses, current only in snapshots) and 9
    // (the steps of the path from the top of the model down to here).
    TransformValue value;
};

// The calling thread's state.
TransformState& transform_state();

// Items 1-4 identity, orientation +1, no steps.
void reset_transform_state(TransformState& state);

// rotate(axis, degrees): axis 1 x, 2 y, 3 z; any other axis changes nothing.
void apply_rotation(TransformState& state, int axis, float degrees);
// translate and its pivot forms: form 0 plain, 6-10 the pivot forms.
void apply_translation(TransformState& state, const Triple& offset, int form);
// scale: components strictly within ±1e-7 become +1e-7.
void apply_scale(TransformState& state, Triple factors);

// A copy of the state with its inverses brought up to date: what render
// objects, lights and cameras keep as their placement.
TransformValue snapshot(const TransformState& state);

// Where a block begins: the state to restore when it ends.
struct BlockMark {
    TransformValue saved;
};
BlockMark enter_block(TransformState& state);
void leave_block(TransformState& state, BlockMark& mark);

// A point through the current model matrix with homogeneous division; fatal
// "AR_model_xform: divide by zero\n" when w is within ±1e-6.
Triple AR_model_xform(const Triple& point, const Matrix4& model);
// n·N with the upper 3×3 of the normal matrix; not normalised.
Triple transform_normal(const Triple& normal, const TransformValue& transform);

}  // namespace sky
