// What the common parameters of shaders and lights share: the lookup of a
// name among a family's own rows and the particle rows that follow them,
// the evaluation of their colour rows, and the particle renderer's numbers.
#pragma once

#include <span>

#include "sdl/parameter_table.h"

namespace sky {

// The record's slot of a common name: a row of `rows`, or a particle
// parameter (slots from `particle_first`); -1 for neither.
int common_slot(std::span<const Parameter> rows, int particle_first, const char* name);

// A TEXTURED row (a TexturedColour) or a COLOUR row (the colour alone, a
// Triple) into `record` at row.store; false when it does not evaluate.
bool evaluate_common_colour(const Parameter& row, Expr* expression, void* record);

// The particle parameters' numbers, from a record's particle slots into
// `values`: a number is evaluated (0 when absent), other values stay with
// their expressions for the particle renderer. False when a number does not
// evaluate.
bool evaluate_particle_numbers(Expr* const* expressions, float* values);

}  // namespace sky
