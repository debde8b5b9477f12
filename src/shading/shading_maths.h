// Small vector arithmetic on Triples for the shading code (single
// precision, as the renderer's colours and eye-space points are).
#pragma once

#include <cmath>

#include "sdl/values.h"

namespace sky::shading {

inline Triple add(const Triple& a, const Triple& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Triple sub(const Triple& a, const Triple& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Triple scale(const Triple& a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline Triple mul(const Triple& a, const Triple& b) {
    return {a.x * b.x, a.y * b.y, a.z * b.z};
}
inline float dot(const Triple& a, const Triple& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Triple cross(const Triple& a, const Triple& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float length(const Triple& a) {
    return std::sqrt(dot(a, a));
}
// The unit vector along `a`; `a` itself when it has no length.
inline Triple normalise(const Triple& a) {
    float l = length(a);
    return l > 0.0f ? scale(a, 1.0f / l) : a;
}
inline float clamp01(float x) {
    return x < 0.0f ? 0.0f : (x > 1.0f ? 1.0f : x);
}
// `v` reflected about the unit normal `n`: the mirror direction of a view
// vector pointing away from the surface.
inline Triple reflect(const Triple& v, const Triple& n) {
    return sub(scale(n, 2.0f * dot(n, v)), v);
}
inline float luminance(const Triple& c) {
    return 0.3f * c.x + 0.59f * c.y + 0.11f * c.z;
}

}  // namespace sky::shading
