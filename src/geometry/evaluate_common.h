// What the three kinds of geometry evaluate alike: the switches every object
// has, its shaders and lights, and the checks of evaluated control vertices.
#pragma once

#include "geometry/geometry_definition.h"
#include "geometry/object_geometry.h"

namespace sky {

// A SCALAR parameter with its default; false when it is written but cannot
// be evaluated (the object is then dropped without a word).
bool scalar_parameter(Expr* expression, float fallback, float& value);
bool int_parameter(Expr* expression, float fallback, std::int32_t& value);

// Whether the object is marked as moving: its `motion_blur` parameter
// evaluates to a non-zero whole number.
bool marked_moving(const CommonParameters& parameters);

// The switches, sample level and shading samples. `patch_active`: a patch is
// active from 0.5 up; faces and polysets truncate.
bool evaluate_switches(const CommonParameters& parameters, bool patch_active, GeometryCommon& out);

// Shaders (fatal when one cannot be evaluated or there is none) and lights.
void evaluate_shaders(const CommonParameters& parameters, const char* name, GeometryCommon& out);

// Weights outside 0.001..10000 (or not numbers) are brought inside.
double clamp_weight(double w);

// Grows `bound` (xmin, xmax, ymin, ymax, zmin, zmax) by a point.
void extend_bound(double bound[6], double x, double y, double z);
void empty_bound(double bound[6]);

// Whether a list is made of numbers only (packed), so it cannot change
// from frame to frame.
bool constant_list(const Expr* list);
// The same for a list of such lists (a patch's rows of control vertices).
bool constant_rows(const Expr* list);

}  // namespace sky
