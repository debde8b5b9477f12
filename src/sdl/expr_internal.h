// What the expression modules share among themselves and nobody else reads:
// the node kinds each file defines, the argument evaluation of the scalar
// operators and functions, and the quiet-mode error cell.
#pragma once

#include <cstdint>

#include "sdl/expr.h"

namespace sky {

// Error numbers left in the quiet-mode cell.
constexpr int kErrorArgument = 12;     // an argument missing or not evaluable
constexpr int kErrorInvalidMath = 14;  // a mathematics function given a bad argument

bool quiet_evaluation();
void set_evaluation_error(int error);

// Variable references (expr_scalar.cpp); AR_evaluate turns a file-name node
// into one when it names a curve.
extern const ExprKind kVariableKind;
// Array-element references (expr_values.cpp).
extern const ExprKind kArrayElementKind;

// The node an array-element reference designates now (its scratch node
// pointed at the element), or null when the subscript fails or is out of
// range. Prints nothing.
Expr* resolve_array_element(Expr* reference);

// Kinds by code: operators 100-113 and 395, 401-403 (expr_scalar.cpp), the
// built-in functions 501-605 (expr_functions.cpp), animate and ease
// (expr_animate.cpp). Null for a code without a kind.
const ExprKind* operator_kind(std::int32_t code);
const ExprKind* function_kind(std::int32_t code);
extern const ExprKind kAnimateKind;
extern const ExprKind kEaseKind;

// Evaluates the first `count` arguments of `node` as SCALAR into `values`,
// with the messages and quiet-mode errors the operators and functions share.
// With `fmod_rule`, a first argument within 1e-6 of 0 leaves the rest at 0
// unevaluated. Prints "Cannot evaluate SCALAR on line %d\n" itself on failure.
bool evaluate_scalar_arguments(Expr* node, int count, float* values, bool fmod_rule = false);

// "Cannot evaluate SCALAR on line %d\n" unless quiet.
void report_scalar_failure(const Expr* node);

// Turns a file-name node naming a symbol of `type` into a reference to that
// symbol, once. False (node unchanged) for an unknown name or another type.
bool convert_filename_to_reference(Expr* node, std::int32_t type);

// The body an object node was built with, or null for other nodes.
const Body* object_body(const Expr* node);

// The current frame, from the `frame` system variable.
bool current_frame(float& frame);

// Copies a value of `type` in its AR_evaluate representation. False for
// types without one (arrays, trim faces, ...).
bool copy_value(std::int32_t type, void* result, const void* value);

}  // namespace sky
