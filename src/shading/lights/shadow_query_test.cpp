// The shadow query against maps made by hand: where the disc finds nothing,
// cells of equal distances, the soft step across an edge, and the block
// summaries that let most points skip the disc giving the very same answers.
#include "shading/lights/shadow_query.h"

#include <cmath>
#include <random>

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace sky
