// The values SDL expressions evaluate to, as the rest of the renderer reads
// them: each type code has one C++ representation (see AR_evaluate).
#pragma once

#include <cstdint>
#include <vector>

#include "base/vecmath.h"

namespace sky {

// TRIPLE values are `Triple`s (base/vecmath.h).

// A control vertex: a position and its weight.
struct CvValue {
    float x = 0, y = 0, z = 0, w = 0;
};

// A trim vertex: (triple, weight, u, v, flag) or (u, v, flag).
struct TrimCvValue {
    float x = 0, y = 0, z = 0, w = 0;
    float u = 0, v = 0;
    std::int32_t flag = 0;
    bool has_point = false;
};

// A parameter-curve key (keyframe literal): time and value, two tangent
// types (0 when not written), the in- and out-tangents, and the tangent mask
// that records how the tangents were made. The in-tangent x is stored as
// -|x| and the out-tangent x as |x|.
struct ParamCvValue {
    float time = 0, value = 0;
    std::int32_t type_a = 0, type_b = 0;
    float in_x = 0, in_y = 0;
    float out_x = 0, out_y = 0;
    std::uint32_t mask = 0;
};

// One recorded transformation step (translate 1, rotate about x/y/z 2-4,
// scale 5, the translate pivot forms 6-10).
struct TransformStep {
    std::int32_t kind = 0;
    float x = 0, y = 0, z = 0;
};

// A TRANSFORM value: a snapshot of a transformation state.
struct TransformValue {
    Matrix4 projection;        // eye from world, set by the camera
    Matrix4 model;             // world from object (points)
    Matrix4 normal;            // world from object (normals): inverse transpose of `direction`
    Matrix4 direction;         // world from object (directions): rotations and scales
    float orientation = 1.0f;  // -1 after an odd number of mirroring scales
    Matrix4 inverse_model;     // up to date only in snapshots
    Matrix4 inverse_normal;
    Matrix4 inverse_direction;
    std::vector<TransformStep> steps;
};

}  // namespace sky
