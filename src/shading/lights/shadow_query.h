// A spot light's depth map as the shading reads it, and the query that asks
// how much of a shading point lies in the map's shadow.
//
// The map holds, per texel, the distance from the light to what casts a
// shadow there (1e8 where nothing does). A point is compared with a disc of
// texels around its projection; the bias grows toward the disc's rim and
// each 2 × 2 cell of texels counts the fraction of it the point lies behind,
// so that edges come out soft and surfaces do not shadow themselves.
#pragma once

#include <cstdint>
#include <vector>

#include "base/vecmath.h"
#include "platform/memory.h"

namespace sky {

struct AR_LightInfo;

inline constexpr float kNoShadowCaster = 1e8f;
inline constexpr std::int32_t kShadowBlock = 8;

struct ShadowMap {
    std::int32_t size = 0;
    TrackedBlock block;  // size × size floats, row-major, row 0 (lowest y) first
    // World to the light's projection: a point p gives (X, Y, Z, W) = p·M and
    // lands at −X/W, −Y/W, each −1..1 across the map.
    Matrix4 light_matrix;
    // The same from the eye space of the camera being rendered.
    Matrix4 clip_from_eye;

    // The nearest and farthest texel of every square of kShadowBlock texels
    // a side, row by row: most points lie where a whole neighbourhood of the
    // map is nearer than they are, or farther, and need not weigh texels.
    std::int32_t blocks_per_row = 0;
    std::vector<float> block_nearest, block_farthest;

    float* texels() { return reinterpret_cast<float*>(block.data()); }
    const float* texels() const { return reinterpret_cast<const float*>(block.data()); }
};

struct ShadowQuerySettings {
    float edge_quality = 2.0f;  // the disc's radius is its whole part + 1 texels
    float near_offset = 0.05f;  // bias at the disc's centre
    float rim_offset = 1.0f;    // further bias at its rim
};

// Sums up the finished texels by blocks for the query.
void summarise_shadow_map(ShadowMap& map);

// The summaries sized for the map with every block empty, for a maker of
// the map that sums up its blocks itself.
void clear_shadow_summary(ShadowMap& map);

// The shadowed fraction, 0 (lit) to 1, of a point at (x, y) in the light's
// projection plane at distance z from the light. A positive `blend` also
// accumulates in `blend_fraction` how far behind the casters the point lies
// over that distance (left alone when no texel counts).
float query_shadow_map(const ShadowMap& map, float x, float y, float z,
                       const ShadowQuerySettings& settings, float blend = 0.0f,
                       float* blend_fraction = nullptr);

// The shadowed fraction of an eye-space point at `distance` from the spot
// light, through the light's map (0 when it has none).
float spot_shadow_fraction(const AR_LightInfo& light, const Triple& eye_point, float distance);

}  // namespace sky
