// Evaluating the model section: the walk over its statements at the time set
// in the scene clock, with their control flow, the transformation hierarchy
// and the objects, lights and camera placements it produces.
#pragma once

#include <cstdint>

#include "sdl/statements.h"

namespace sky {

// One row of the statement-kind table.
struct DagKind {
    const char* display_name;  // what the start-frame listing prints
    std::int32_t code;         // StatementKind
    // Returns 0 to go on with the list, non-zero to stop it; `result` is handed
    // to `after` when evaluate returned 0.
    int (*evaluate)(Statement& node, int depth, void** result);
    void (*after)(Statement& node, void* result);
};

// The 14 rows, in their fixed order (the pre-pass reads only the first five).
const DagKind* dag_kind_table();
int dag_kind_count();

// Walks a statement list at `depth` (nested lists are walked at depth + 1).
void walk(Statement* list, int depth);

// The pre-pass of scenes of version 6.0 and later: the top-level control flow
// and assignments only, up to the first block.
void pre_pass(Statement* list);

// One complete evaluation of the scene at the scene clock's time.
void evaluate_scene(Statement* model, bool new_frame);

// Frees the frame's objects and lights (before the next frame's evaluations).
void release_frame_objects();

// The frame's scene evaluations at options.frame: three under motion blur
// (shutter open, shutter close, frame time), one otherwise; the scene
// counters are set from what they made.
void evaluate_frame_scene();

// Bounds the iterations of all loops together, from now on (0: no bound, the
// default). A scene may loop forever by design, as any program may; the
// fuzzing harness bounds its loops so that a long loop is not taken for a
// hang of the reader. Loops past the bound end as if their condition failed.
void set_loop_iteration_limit(std::uint64_t limit);

}  // namespace sky
