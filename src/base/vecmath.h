// Vectors and matrices for the whole renderer, built on Imath.
//
// Conventions, everywhere in skyloom (and Imath's own):
// - Points and directions are row vectors: a matrix maps a point as
//   p' = p·M, as Imath's `V3f * M44f` does.
// - A matrix is 4×4 single precision, stored row by row: element 4·row +
//   column, Imath's x[row][column]. The translation sits in elements 12 to
//   14 (the last row).
// - A new transformation T is applied as M ← T·M, so the step multiplied in
//   last acts first on a point.
// - A matrix named `b_from_a` maps coordinates of space a to space b.
//
// The renderer's records keep their own layouts: `Triple` (three floats,
// zero unless given), `Matrix4` (sixteen floats, the identity unless given),
// the float[3] arrays of the sample routine and the triangle records, and
// the std::array<double, 3> points of the geometry code. Each vector
// operation is defined once, on Imath's Vec3; the forms on the other
// layouts copy their components into an Imath vector and back, which
// inlining folds away. One rounding differs by layout: Triples normalise
// through the reciprocal of the length (see `normalise(const Triple&)`).
#pragma once

#include <array>
#include <cmath>
#include <cstring>
#include <type_traits>

#include <Imath/ImathFun.h>
#include <Imath/ImathMatrix.h>
#include <Imath/ImathVec.h>

namespace sky {

// A point, direction or colour of the scene: three single-precision
// components, all zero unless given. It stays a plain aggregate (Imath's
// vectors leave their components undefined and are not trivially
// copyable), so `Triple t;` is the origin and records holding triples can
// be copied as bytes.
struct Triple {
    float x = 0, y = 0, z = 0;
};

// 4×4 single-precision matrix in Imath's M44f layout (see above); the
// identity unless given.
struct Matrix4 {
    float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};

static_assert(std::is_trivially_copyable_v<Triple> && sizeof(Triple) == 3 * sizeof(float));
static_assert(std::is_trivially_copyable_v<Matrix4> && sizeof(Matrix4) == sizeof(Imath::M44f));

// --- between layouts -----------------------------------------------------------

inline Imath::V3f to_imath(const Triple& t) {
    return {t.x, t.y, t.z};
}
inline Triple to_triple(const Imath::V3f& v) {
    return {v.x, v.y, v.z};
}
inline Imath::V3d to_imath(const std::array<double, 3>& a) {
    return {a[0], a[1], a[2]};
}
inline std::array<double, 3> to_array(const Imath::V3d& v) {
    return {v.x, v.y, v.z};
}
// float[3] arrays of the hot records.
inline Imath::V3f load3(const float* v) {
    return {v[0], v[1], v[2]};
}
inline void store3(const Imath::V3f& v, float* out) {
    out[0] = v.x, out[1] = v.y, out[2] = v.z;
}
inline Triple to_triple(const float* v) {
    return {v[0], v[1], v[2]};
}
inline void store3(const Triple& t, float* out) {
    out[0] = t.x, out[1] = t.y, out[2] = t.z;
}
inline Imath::M44f to_imath(const Matrix4& a) {
    Imath::M44f r{Imath::UNINITIALIZED};
    std::memcpy(&r.x[0][0], a.m, sizeof a.m);
    return r;
}
inline Matrix4 to_matrix4(const Imath::M44f& a) {
    Matrix4 r;
    std::memcpy(r.m, &a.x[0][0], sizeof r.m);
    return r;
}

// --- vectors: the definitions ------------------------------------------------

template <class T>
inline T dot(const Imath::Vec3<T>& a, const Imath::Vec3<T>& b) {
    return a.dot(b);
}
template <class T>
inline Imath::Vec3<T> cross(const Imath::Vec3<T>& a, const Imath::Vec3<T>& b) {
    return a.cross(b);
}
// The plain root of the squared length. Imath's length() rescues vectors
// too short to square; here such a vector has no length, so `normalise`
// leaves it alone and callers that test for a zero result see one.
template <class T>
inline T length(const Imath::Vec3<T>& a) {
    return std::sqrt(a.length2());
}
// The unit vector along `a`, each component divided by the length (as
// Imath's normalized()); `a` itself when it has no length. The length goes
// to `length_of_a` when asked for, for callers that test it as well.
template <class T>
inline Imath::Vec3<T> normalise(const Imath::Vec3<T>& a, T* length_of_a = nullptr) {
    const T l = length(a);
    if (length_of_a) *length_of_a = l;
    return l > T(0) ? a / l : a;
}

// --- vectors on Triples: the shading code's colours and directions ------------

inline Triple add(const Triple& a, const Triple& b) {
    return to_triple(to_imath(a) + to_imath(b));
}
inline Triple sub(const Triple& a, const Triple& b) {
    return to_triple(to_imath(a) - to_imath(b));
}
inline Triple scale(const Triple& a, float s) {
    return to_triple(to_imath(a) * s);
}
// Component by component: a colour filtered by another.
inline Triple mul(const Triple& a, const Triple& b) {
    return to_triple(to_imath(a) * to_imath(b));
}
inline float dot(const Triple& a, const Triple& b) {
    return dot(to_imath(a), to_imath(b));
}
inline Triple cross(const Triple& a, const Triple& b) {
    return to_triple(cross(to_imath(a), to_imath(b)));
}
inline float length(const Triple& a) {
    return length(to_imath(a));
}
// The unit vector along `a`; `a` itself when it has no length. Triples are
// scaled by the reciprocal of the length (one division, not three): the
// last bit differs from `normalise` on the other layouts, and the shading
// of every image depends on it, so each keeps its own rounding.
inline Triple normalise(const Triple& a) {
    const float l = length(a);
    return l > 0.0f ? scale(a, 1.0f / l) : a;
}
// `v` reflected about the unit normal `n`: the mirror direction of a view
// vector pointing away from the surface.
inline Triple reflect(const Triple& v, const Triple& n) {
    return sub(scale(n, 2.0f * dot(n, v)), v);
}
inline float clamp01(float x) {
    return Imath::clamp(x, 0.0f, 1.0f);
}
// The brightness of a colour, with the weights of broadcast video.
inline float luminance(const Triple& c) {
    return 0.3f * c.x + 0.59f * c.y + 0.11f * c.z;
}

// --- vectors on float[3] arrays: the sample routine and triangle records -----

inline float dot3(const float* a, const float* b) {
    return dot(load3(a), load3(b));
}
// `out` may be `a` or `b`.
inline void cross3(const float* a, const float* b, float* out) {
    store3(cross(load3(a), load3(b)), out);
}
inline void normalise3(float* v) {
    store3(normalise(load3(v)), v);
}

// --- vectors on std::array<double, 3>: the geometry code's points -----------

inline std::array<double, 3> sub(const std::array<double, 3>& a, const std::array<double, 3>& b) {
    return to_array(to_imath(a) - to_imath(b));
}
inline double dot(const std::array<double, 3>& a, const std::array<double, 3>& b) {
    return dot(to_imath(a), to_imath(b));
}
inline std::array<double, 3> cross(const std::array<double, 3>& a, const std::array<double, 3>& b) {
    return to_array(cross(to_imath(a), to_imath(b)));
}
inline double length(const std::array<double, 3>& a) {
    return length(to_imath(a));
}
inline std::array<double, 3> normalise(const std::array<double, 3>& a,
                                       double* length_of_a = nullptr) {
    return to_array(normalise(to_imath(a), length_of_a));
}
// The distance between two points, without overflow or underflow on the
// way (control points may lie far apart or very close).
inline double distance(const std::array<double, 3>& a, const std::array<double, 3>& b) {
    return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}

// --- matrices ----------------------------------------------------------------

Matrix4 identity_matrix();
// The rotation of the `rotate` statement about axis 1 (x), 2 (y) or 3 (z),
// given the angle's sine and cosine; the identity for any other axis.
Matrix4 axis_rotation(int axis, double sine, double cosine);
// Moves a point by `offset`: the offset in elements 12 to 14.
Matrix4 translation_matrix(const Triple& offset);
// Scales each axis by its factor.
Matrix4 scale_matrix(const Triple& factors);
// a·b, the ordinary row-by-column product: a point goes through a first.
Matrix4 multiply(const Matrix4& a, const Matrix4& b);
// The inverse of `m` into `out`; false (and `out` the identity) when singular.
bool Ar_invert_matrix(const Matrix4& m, Matrix4& out);

// p·M for a point (with the homogeneous term 1), without division: `w`,
// when asked for, receives the homogeneous term of the result (Imath's
// multVecMatrix would divide by it).
inline Triple transform_point(const Triple& p, const Matrix4& m, float* w = nullptr) {
    const float* e = m.m;
    const Triple r{p.x * e[0] + p.y * e[4] + p.z * e[8] + e[12],
                   p.x * e[1] + p.y * e[5] + p.z * e[9] + e[13],
                   p.x * e[2] + p.y * e[6] + p.z * e[10] + e[14]};
    if (w) *w = p.x * e[3] + p.y * e[7] + p.z * e[11] + e[15];
    return r;
}
// v·M for a direction: the upper 3×3 only (Imath's multDirMatrix), read
// from the record in place.
inline Triple transform_vector(const Triple& v, const Matrix4& m) {
    const float* e = m.m;
    return {v.x * e[0] + v.y * e[4] + v.z * e[8], v.x * e[1] + v.y * e[5] + v.z * e[9],
            v.x * e[2] + v.y * e[6] + v.z * e[10]};
}

}  // namespace sky
