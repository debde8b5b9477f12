// Statement handlers of the model walk, shared between its files.
#pragma once

#include "sdl/statements.h"

namespace sky {

int evaluate_expression_statement(Statement& node, int depth, void** result);  // assign.cpp
int evaluate_light_statement(Statement& node, int depth, void** result);       // dag_objects.cpp
int evaluate_face_statement(Statement& node, int depth, void** result);
int evaluate_patch_statement(Statement& node, int depth, void** result);
int evaluate_polyset_statement(Statement& node, int depth, void** result);
int evaluate_camera_statement(Statement& node, int depth, void** result);
int evaluate_instance_statement(Statement& node, int depth, void** result);

// Forward references (`forward(p)`) made during the walk, resolved after it.
void resolve_forward_references();
void clear_forward_references();

}  // namespace sky
