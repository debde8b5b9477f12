// The multi-fillet command: a chain of blend surfaces between two sequences
// of curves lying on two sequences of patches, which becomes the geometry
// of a result patch. Definitions are checked as the scene is read; each
// frame the commands are evaluated in declaration order after the scene.
#pragma once

namespace sky {

struct Body;

// Checks a command body's parameter names; an unknown one ends the run.
void finish_command_body(Body& body);

// Evaluates every command of the scene for the frame just walked.
void run_fillet_commands();

}  // namespace sky
