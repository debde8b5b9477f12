// Directions to picture coordinates for the environment procedures. World
// space, y up; a viewer with the default camera looks along −z, so the
// "front" of the surroundings lies toward −z.
#pragma once

#include <cmath>

#include "base/vecmath.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky::environment {

enum Face : int { RIGHT = 0, LEFT = 1, TOP = 2, BOTTOM = 3, BACK = 4, FRONT = 5 };

// The face of a cube round the viewer that a direction meets, and (u, v)
// on it, 0..1 each, v up (on the top and bottom faces, v runs toward −z).
inline Face cube_face(const Triple& d, float& u, float& v) {
    float ax = std::fabs(d.x), ay = std::fabs(d.y), az = std::fabs(d.z);
    Face face;
    float s, t, m;
    if (ax >= ay && ax >= az) {
        face = d.x > 0 ? RIGHT : LEFT;
        m = ax;
        s = d.x > 0 ? d.z : -d.z;
        t = d.y;
    } else if (ay >= az) {
        face = d.y > 0 ? TOP : BOTTOM;
        m = ay;
        s = d.x;
        t = d.y > 0 ? -d.z : d.z;
    } else {
        face = d.z > 0 ? BACK : FRONT;
        m = az;
        s = d.z > 0 ? -d.x : d.x;
        t = d.y;
    }
    if (m <= 0.0f) m = 1.0f;
    u = 0.5f + 0.5f * s / m;
    v = 0.5f + 0.5f * t / m;
    return face;
}

// Turns a direction about the x axis (`pitch`) and then the z axis
// (`roll`), degrees.
inline Triple turned(const Triple& d, float pitch, float roll) {
    constexpr float kDegrees = kPi / 180.0f;
    float c = std::cos(pitch * kDegrees), s = std::sin(pitch * kDegrees);
    Triple a{d.x, c * d.y - s * d.z, s * d.y + c * d.z};
    c = std::cos(roll * kDegrees), s = std::sin(roll * kDegrees);
    return Triple{c * a.x - s * a.y, s * a.x + c * a.y, a.z};
}

}  // namespace sky::environment
