// The shadow query against maps made by hand: where the disc finds nothing,
// cells of equal distances, the soft step across an edge, and the block
// summaries that let most points skip the disc giving the very same answers.
#include "shading/lights/shadow_query.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>

#include <gtest/gtest.h>

#include "base/workers.h"

namespace sky {
namespace {

ShadowMap flat_map(std::int32_t size, float distance) {
    ShadowMap map;
    map.size = size;
    EXPECT_TRUE(map.block.resize(sizeof(float) * size * size, __LINE__, __FILE__));
    std::fill(map.texels(), map.texels() + size * size, distance);
    return map;
}

// The map coordinate (−1..1) of texel position t.
float at(const ShadowMap& map, float t) {
    return (t + 1.0f) / (map.size / 2.0f) - 1.0f;
}

TEST(ShadowQuery, NothingCastsAShadowWhereTheMapIsEmptyOrTheDiscMissesIt) {
    ShadowMap map = flat_map(32, kNoShadowCaster);
    const ShadowQuerySettings settings;
    EXPECT_EQ(query_shadow_map(map, 0, 0, 1e7f, settings), 0.0f);
    ShadowMap near = flat_map(32, 1.0f);
    // Far outside the map on either side: fully lit.
    EXPECT_EQ(query_shadow_map(near, 3.0f, 0.0f, 50.0f, settings), 0.0f);
    EXPECT_EQ(query_shadow_map(near, -3.0f, -3.0f, 50.0f, settings), 0.0f);
}

TEST(ShadowQuery, ACellOfEqualDistancesShadowsOnlyWhatLiesBehindIt) {
    ShadowMap map = flat_map(16, 10.0f);
    ShadowQuerySettings settings;
    settings.near_offset = 0.05f;
    settings.rim_offset = 1.0f;
    const float x = at(map, 8), y = at(map, 8);
    EXPECT_EQ(query_shadow_map(map, x, y, 11.1f, settings), 1.0f);
    EXPECT_EQ(query_shadow_map(map, x, y, 10.0f, settings), 0.0f);
    // Within the rim's bias only the texels near the centre count.
    const float partly = query_shadow_map(map, x, y, 10.5f, settings);
    EXPECT_GT(partly, 0.0f);
    EXPECT_LT(partly, 1.0f);
}

TEST(ShadowQuery, AStraightEdgeShadesSmoothlyAcrossTheDisc) {
    // Texels left of column 16 hold a caster at 5, the rest the ground at 10.
    ShadowMap map = flat_map(32, 10.0f);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 16; ++x) map.texels()[y * 32 + x] = 5.0f;
    const ShadowQuerySettings settings;
    float previous = 2.0f;
    for (float t = 8.0f; t <= 24.0f; t += 0.25f) {
        const float s = query_shadow_map(map, at(map, t), at(map, 16), 10.0f, settings);
        EXPECT_LE(s, previous + 1e-6f) << t;
        previous = s;
    }
    EXPECT_EQ(query_shadow_map(map, at(map, 8), at(map, 16), 10.0f, settings), 1.0f);
    EXPECT_EQ(query_shadow_map(map, at(map, 24), at(map, 16), 10.0f, settings), 0.0f);
}

TEST(ShadowQuery, BlockSummariesChangeNoAnswer) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> depth(4.0f, 12.0f), coordinate(-1.2f, 1.2f);
    ShadowMap map = flat_map(61, kNoShadowCaster);
    // Patches of casters at various distances over an empty map.
    for (int y = 0; y < 61; ++y)
        for (int x = 0; x < 61; ++x)
            if ((x / 9 + y / 7) % 3 != 0) map.texels()[y * 61 + x] = 5.0f + (x / 9) + 0.1f * y;
    ShadowMap summarised = flat_map(61, 0.0f);
    std::copy(map.texels(), map.texels() + 61 * 61, summarised.texels());
    summarise_shadow_map(summarised);
    for (float quality : {1.0f, 2.0f, 4.0f}) {
        ShadowQuerySettings settings;
        settings.edge_quality = quality;
        for (int k = 0; k < 4000; ++k) {
            const float x = coordinate(random), y = coordinate(random), z = depth(random) + 4.0f;
            ASSERT_EQ(query_shadow_map(map, x, y, z, settings),
                      query_shadow_map(summarised, x, y, z, settings))
                << x << ", " << y << ", " << z;
        }
    }
}

// The disc weighed cell by cell, as the header describes it: each 2 × 2
// cell within the disc weighs 1 − d²/r², and counts the fraction of it the
// point (pulled toward the light by the rim's bias) lies behind; at the
// map's last row and column a cell repeats its own texel.
float weighed_by_cells(const ShadowMap& map, float x, float y, float z,
                       const ShadowQuerySettings& settings) {
    const int n = map.size;
    const float* texel = map.texels();
    const float half = static_cast<float>(n) / 2.0f;
    const float u = half * x + half - 1.0f, v = half * y + half - 1.0f;
    const float r = static_cast<float>(static_cast<int>(settings.edge_quality) + 1);
    const float inverse_r2 = 1.0f / (r * r);
    float weights = 0.0f, shadows = 0.0f;
    for (int j = std::max(static_cast<int>(v - r), 0);
         j <= std::min(static_cast<int>(v + r), n - 1); ++j)
        for (int i = std::max(static_cast<int>(u - r), 0);
             i <= std::min(static_cast<int>(u + r), n - 1); ++i) {
            const float du = u - static_cast<float>(i), dv = v - static_cast<float>(j);
            const float w = 1.0f - (du * du + dv * dv) * inverse_r2;
            if (!(w > 0.0f)) continue;
            const float d00 = texel[j * n + i];
            const float d10 = i + 1 < n ? texel[j * n + i + 1] : d00;
            const float d01 = j + 1 < n ? texel[(j + 1) * n + i] : d00;
            const float d11 = i + 1 < n && j + 1 < n ? texel[(j + 1) * n + i + 1] : d00;
            weights += w;
            const float lo = std::min(std::min(std::min(d00, d10), d01), d11);
            const float hi = std::max(std::max(std::max(d00, d10), d01), d11);
            const float p = (z - settings.near_offset) - (1.0f - w) * settings.rim_offset;
            float c = 0.0f;
            if (lo == hi) {
                c = p > lo ? 1.0f : 0.0f;
            } else if (p > hi) {
                c = 1.0f;
            } else if (!(p < lo)) {
                const float mean = (d00 + d10 + d01 + d11) * 0.25f;
                const float t = (hi - mean) / (hi - lo);
                const float behind = (p - lo) * t;
                c = behind / (behind - (p - hi) * (1.0f - t));
                c = c > 0.0f ? std::min(c, 1.0f) : 0.0f;
            }
            if (c > 0.0f) shadows += c * w;
        }
    return weights == 0.0f ? 0.0f : shadows / weights;
}

// Near a shadow's edge the query weighs its disc's cells; away from the
// map's last rows and columns it does so four cells at a time. Either way
// every answer is the cell-by-cell one to the bit: over casters at many
// distances, flat stretches (cells of equal texels), +0 and −0, empty
// texels, points exactly at a texel's distance, and discs cut by every
// border of the map.
TEST(ShadowQuery, TheDiscsCellsGiveTheSameAnswersWhereverThePointLies) {
    const std::int32_t n = 40;
    std::mt19937 random(21);
    std::uniform_int_distribution<int> pick(0, 11);
    ShadowMap map = flat_map(n, kNoShadowCaster);
    float* texel = map.texels();
    for (std::int32_t y = 0; y < n; ++y)
        for (std::int32_t x = 0; x < n; ++x) {
            const int k = pick(random);
            // Blobs of casters at 5 over a ground at 10, with noise.
            float d = (x / 5 + y / 4) % 2 ? 5.0f : 10.0f;
            if (k == 0) d = kNoShadowCaster;
            if (k == 1) d = 0.0f;
            if (k == 2) d = -0.0f;
            if (k == 3) d += 0.25f * static_cast<float>(pick(random));
            texel[y * n + x] = d;
        }
    summarise_shadow_map(map);
    std::uniform_real_distribution<float> coordinate(-1.1f, 1.1f), depth(0.0f, 12.0f);
    int weighed = 0;
    for (float quality : {1.0f, 2.0f, 3.0f, 4.0f}) {
        ShadowQuerySettings settings;
        settings.edge_quality = quality;
        for (int k = 0; k < 20000; ++k) {
            const float x = coordinate(random), y = coordinate(random);
            // A third of the points at exactly a caster's or the ground's
            // distance behind the bias, where cells are cut.
            const int kind = k % 3;
            const float z = kind == 0 ? depth(random) : kind == 1 ? 10.0f + 0.05f : 5.0f + 0.05f;
            const float expected = weighed_by_cells(map, x, y, z, settings);
            const float answer = query_shadow_map(map, x, y, z, settings);
            ASSERT_EQ(std::bit_cast<std::uint32_t>(answer), std::bit_cast<std::uint32_t>(expected))
                << x << ", " << y << ", " << z << " quality " << quality;
            weighed += expected > 0.0f && expected < 1.0f;
        }
    }
    // Most of those points lie near an edge, where the cells decide.
    EXPECT_GT(weighed, 10000);
}

// Every block's nearest and farthest texel, whether one thread summarises
// the map or the workers share its rows of blocks; the blocks of the last
// row and column are cut short by a size that is not a whole number of
// blocks. Of equal texels (+0 and -0) the first met in the map's order is kept.
TEST(ShadowQuery, BlockSummariesAreTheSameAloneAndWithWorkers) {
    for (std::int32_t size : {1, 8, 61, 300}) {
        std::mt19937 random(static_cast<unsigned>(size));
        std::uniform_int_distribution<int> pick(0, 9);
        ShadowMap map = flat_map(size, kNoShadowCaster);
        for (std::int32_t i = 0; i < size * size; ++i) {
            const int k = pick(random);
            map.texels()[i] = k == 0 ? 0.0f : k == 1 ? -0.0f : k == 2 ? kNoShadowCaster : 1.0f + k;
        }
        const std::int32_t blocks = (size + kShadowBlock - 1) / kShadowBlock;
        for (std::int32_t by = 0; by < blocks; ++by)
            for (std::int32_t bx = 0; bx < blocks; ++bx) {
                float nearest = INFINITY, farthest = -INFINITY;
                for (std::int32_t y = by * kShadowBlock;
                     y < std::min(size, (by + 1) * kShadowBlock); ++y)
                    for (std::int32_t x = bx * kShadowBlock;
                         x < std::min(size, (bx + 1) * kShadowBlock); ++x) {
                        const float d = map.texels()[y * size + x];
                        if (d < nearest) nearest = d;
                        if (farthest < d) farthest = d;
                    }
                map.block_nearest.push_back(nearest);
                map.block_farthest.push_back(farthest);
            }
        const std::vector<float> nearest = map.block_nearest, farthest = map.block_farthest;
        auto same = [&](const ShadowMap& summarised) {
            ASSERT_EQ(summarised.blocks_per_row, blocks);
            ASSERT_EQ(summarised.block_nearest.size(), nearest.size());
            for (std::size_t b = 0; b < nearest.size(); ++b) {
                EXPECT_EQ(std::signbit(summarised.block_nearest[b]), std::signbit(nearest[b])) << b;
                EXPECT_EQ(summarised.block_nearest[b], nearest[b]) << size << " block " << b;
                EXPECT_EQ(summarised.block_farthest[b], farthest[b]) << size << " block " << b;
            }
        };
        summarise_shadow_map(map);
        same(map);
        {
            WorkerCrew crew(2);
            summarise_shadow_map(map);
        }
        same(map);
    }
}

}  // namespace
}  // namespace sky
