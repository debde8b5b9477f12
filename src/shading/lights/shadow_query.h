// A spot light's depth map as the shading reads it, and the query that asks
// how much of a shading point lies in the map's shadow.
//
// The map holds, per texel, the distance from the light to what casts a
// shadow there (1e8 where nothing does). A point is compared with a disc of
// texels around its projection; the bias grows toward the disc's rim and
// each 2 × 2 cell of texels counts the fraction of it the point lies behind,
// so that edges come out soft and surfaces do not shadow themselves.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/vecmath.h"
#include "platform/memory.h"

namespace sky {

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

// The summary `pick` (std::min or std::max) makes of the blocks holding
// columns i0..i1 and rows j0..j1 (none negative), from `none`. No summary
// is ever NaN, so the order they are taken in changes nothing the query
// compares, nor does taking a block twice: a disc of the usual sizes
// reaches at most two blocks each way, and those four are read without a
// loop whose length varies from one point to the next.
template <typename Pick>
float shadow_blocks_summary(const ShadowMap& map, const std::vector<float>& summaries, float none,
                            Pick pick, int i0, int i1, int j0, int j1) {
    const unsigned bi0 = static_cast<unsigned>(i0) / kShadowBlock;
    const unsigned bi1 = static_cast<unsigned>(i1) / kShadowBlock;
    const unsigned bj0 = static_cast<unsigned>(j0) / kShadowBlock;
    const unsigned bj1 = static_cast<unsigned>(j1) / kShadowBlock;
    const float* summary = summaries.data();
    const std::size_t per_row = static_cast<std::size_t>(map.blocks_per_row);
    if (bi1 - bi0 <= 1 && bj1 - bj0 <= 1) {
        const float* low = summary + bj0 * per_row;
        const float* high = summary + bj1 * per_row;
        return pick(pick(low[bi0], low[bi1]), pick(high[bi0], high[bi1]));
    }
    float result = none;
    for (unsigned bj = bj0; bj <= bj1; ++bj)
        for (unsigned bi = bi0; bi <= bi1; ++bi) result = pick(result, summary[bj * per_row + bi]);
    return result;
}

// The query after its first steps, as below (out of line: most points are
// settled by those steps, shadow_blocks_settle, which query_shadow_map
// takes inline for a query without blend; with blend there are none).
float query_shadow_disc(const ShadowMap& map, float x, float y, float z,
                        const ShadowQuerySettings& settings, float blend, float* blend_fraction);

// What the first steps of a query without blend settle from the block
// summaries alone.
enum class BlocksAnswer { kLit, kShadowed, kWeigh };

// The first steps of a query without blend: lit when the map is empty, the
// disc has no cells, or every texel of the blocks about the disc lies at
// the point's distance or beyond (the rim's bias only moves the point
// nearer), as most points are; shadowed when the disc lies inside the map
// and every texel of those blocks is nearer than the point even with the
// rim's whole bias, as most points in a shadow are. Otherwise the disc's
// texels must be weighed.
inline BlocksAnswer shadow_blocks_settle(const ShadowMap& map, float x, float y, float z,
                                         const ShadowQuerySettings& settings) {
    const std::int32_t size = map.size;
    if (size < 1 || map.texels() == nullptr) return BlocksAnswer::kLit;
    const int radius = static_cast<int>(settings.edge_quality) + 1;
    const float scale = static_cast<float>(size) / 2.0f;
    const float u = scale * x + scale - 1.0f, v = scale * y + scale - 1.0f;
    const float p0 = z - settings.near_offset;
    const float r = static_cast<float>(radius);
    const int first_i = static_cast<int>(u - r), last_i = static_cast<int>(u + r);
    if (first_i > last_i) return BlocksAnswer::kLit;
    const int first_j = static_cast<int>(v - r), last_j = static_cast<int>(v + r);
    const int i0 = std::max(first_i, 0), i1 = std::min(last_i + 1, size - 1);
    const int j0 = std::max(first_j, 0), j1 = std::min(last_j + 1, size - 1);
    if (i0 > i1 || j0 > j1 || map.blocks_per_row <= 0) return BlocksAnswer::kWeigh;
    if (shadow_blocks_summary(
            map, map.block_nearest, INFINITY, [](float a, float b) { return std::min(a, b); }, i0,
            i1, j0, j1) >= p0)
        return BlocksAnswer::kLit;
    const bool inside = u >= 0.0f && v >= 0.0f && u <= static_cast<float>(size - 1) &&
                        v <= static_cast<float>(size - 1);
    if (inside &&
        shadow_blocks_summary(
            map, map.block_farthest, -INFINITY, [](float a, float b) { return std::max(a, b); }, i0,
            i1, j0, j1) < p0 - settings.rim_offset)
        return BlocksAnswer::kShadowed;
    return BlocksAnswer::kWeigh;
}

// The shadowed fraction, 0 (lit) to 1, of a point at (x, y) in the light's
// projection plane at distance z from the light. A positive `blend` also
// accumulates in `blend_fraction` how far behind the casters the point lies
// over that distance (left alone when no texel counts).
inline float query_shadow_map(const ShadowMap& map, float x, float y, float z,
                              const ShadowQuerySettings& settings, float blend = 0.0f,
                              float* blend_fraction = nullptr) {
    if (blend != 0.0f) return query_shadow_disc(map, x, y, z, settings, blend, blend_fraction);
    switch (shadow_blocks_settle(map, x, y, z, settings)) {
        case BlocksAnswer::kLit:
            return 0.0f;
        case BlocksAnswer::kShadowed:
            return 1.0f;
        default:
            return query_shadow_disc(map, x, y, z, settings, blend, blend_fraction);
    }
}

}  // namespace sky
