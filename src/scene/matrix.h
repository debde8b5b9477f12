// 4×4 matrices of the scene: single precision, row-major, row vectors
// (p' = p·M), translation in elements 12 to 14. A new transformation T is
// applied as M ← T·M, so the statement nearest the geometry acts first.
#pragma once

#include "sdl/values.h"

namespace sky {

Matrix4 identity_matrix();
// The rotation of the `rotate` statement about axis 1 (x), 2 (y) or 3 (z),
// given the angle's sine and cosine; the identity for any other axis.
Matrix4 axis_rotation(int axis, double sine, double cosine);
// a·b, the ordinary row-by-column product.
Matrix4 multiply(const Matrix4& a, const Matrix4& b);
// The inverse of `m` into `out`; false (and `out` the identity) when singular.
bool Ar_invert_matrix(const Matrix4& m, Matrix4& out);

// p·M for a point (with the homogeneous term 1), without division.
Triple transform_point(const Triple& p, const Matrix4& m, float* w = nullptr);
// v·M for a direction: the upper 3×3 only.
Triple transform_vector(const Triple& v, const Matrix4& m);

}  // namespace sky
