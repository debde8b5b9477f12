// Declared patch, face and polyset variables, at each evaluation of the
// scene: a variable the walk placed stands for the first object made from it
// (the head of its instance chain, which carries the placements and the
// motion of the instance); one the walk did not place is evaluated as
// declared, unplaced (its object space is world space), when first asked for
// after the walk.
// Multi-fillet commands read their surfaces from these objects, so that a
// surface need not be placed to be filleted on.
#pragma once

namespace sky {

struct Body;
struct RenderObject;

// The scene's `evaluate_declared_geometry` hook: after each walk.
void evaluate_declared_geometry();

// The object the variable declared with `body` stands for in this
// evaluation; null for no declared variable, or one that cannot be evaluated.
// Valid until the next evaluation.
const RenderObject* declared_object(const Body* body);

}  // namespace sky
