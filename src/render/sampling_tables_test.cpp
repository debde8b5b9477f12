// The sampling tables and the contrast rule against their defining values.
#include "render/sampling_tables.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include <gtest/gtest.h>

namespace sky {
namespace {

TEST(SamplingTables, JitterIsTheBitReversal) {
    build_jitter_tables();
    const JitterTables& t = jitter_tables();
    EXPECT_EQ(t.reversed[0], 0);
    EXPECT_EQ(t.reversed[1], 512);
    EXPECT_EQ(t.reversed[2], 256);
    EXPECT_EQ(t.reversed[3], 768);
    EXPECT_EQ(t.reversed[1023], 1023);
    EXPECT_DOUBLE_EQ(t.jitter[1], 0.5);
    EXPECT_DOUBLE_EQ(t.jitter[3], 0.75);
    // A permutation of 0..1023.
    std::vector<int> seen(t.reversed, t.reversed + kJitterSize);
    std::sort(seen.begin(), seen.end());
    for (int k = 0; k < kJitterSize; ++k) ASSERT_EQ(seen[static_cast<std::size_t>(k)], k);
    EXPECT_EQ(sample_seed(t, 3, 1), 3u * 1024 + 512);
    EXPECT_EQ(sample_seed(t, 1024 + 3, 1024 + 1), 3u * 1024 + 512);
}

TEST(SamplingTables, CellAndVisitOrdersArePermutations) {
    for (int n : {4, 9, 16, 25, 36}) {
        for (auto table : {cell_order(n), visit_order(n)}) {
            ASSERT_EQ(static_cast<int>(table.size()), n);
            std::vector<int> sorted(table.begin(), table.end());
            std::sort(sorted.begin(), sorted.end());
            for (int k = 0; k < n; ++k) EXPECT_EQ(sorted[static_cast<std::size_t>(k)], k) << n;
        }
    }
    EXPECT_EQ(cell_order(9)[0], 4);
    EXPECT_EQ(cell_order(16)[15], 0);
    EXPECT_EQ(cell_order(36)[35], 5);
    EXPECT_EQ(visit_order(25)[24], 24);
    EXPECT_EQ(visit_order(36)[3], 22);
    // Other counts take the 4-sample tables.
    EXPECT_EQ(cell_order(1).size(), 4u);
    EXPECT_EQ(visit_order(1)[1], 2);
}

TEST(SamplingTables, ReducedPatternFlags24OfEvery256) {
    int flagged = 0;
    for (int c = 0; c < 16; ++c)
        for (int r = 0; r < 16; ++r) flagged += reduced_sample_flag(c, r);
    EXPECT_EQ(flagged, 24);
    EXPECT_TRUE(reduced_sample_flag(0, 9));
    EXPECT_TRUE(reduced_sample_flag(0, 15));
    EXPECT_TRUE(reduced_sample_flag(3, 0));
    EXPECT_TRUE(reduced_sample_flag(15 + 16, 11 + 32));
    EXPECT_FALSE(reduced_sample_flag(0, 0));
    EXPECT_FALSE(reduced_sample_flag(1, 1));
}

TEST(ContrastRule, WorkedExample) {
    // aalevelmin 1, aalevelmax 16, aathreshold 0.5, red over 0..255.
    const double a = contrast_fraction(255.0f, 0.5, false);
    EXPECT_NEAR(a, 0.497, 5e-4);
    EXPECT_EQ(wanted_samples(1, 16, a), 8);
    // A flat pixel keeps its two samples.
    EXPECT_EQ(wanted_samples(1, 16, contrast_fraction(0.0f, 0.5, false)), 1);
}

TEST(ContrastRule, EveryBranch) {
    // Threshold 0: never refined.
    EXPECT_EQ(contrast_fraction(255.0f, 0.0, false), 0.0);
    // Threshold 1: all or nothing around a range of 12.8.
    EXPECT_EQ(contrast_fraction(12.9f, 1.0, false), 1.0);
    EXPECT_EQ(contrast_fraction(12.7f, 1.0, false), 0.0);
    // Above ½: the power law; full contrast at 0.99 is all but 1.
    const double a = contrast_fraction(255.0f, 0.99, false);
    EXPECT_NEAR(a, 1.0 - std::pow(1.0 - 0.99 * 0.9945, 10.8), 1e-9);
    EXPECT_EQ(wanted_samples(1, 16, a), 16);
    EXPECT_NEAR(contrast_fraction(100.0f, 0.75, false), 1.0 - std::pow(1.0 - 0.75 * 0.39, 6.0),
                1e-9);
    // Capped reduced-samples pixels and negative ranges.
    EXPECT_EQ(contrast_fraction(255.0f, 0.99, true), 0.0);
    EXPECT_EQ(contrast_fraction(-3.0f, 0.5, false), 0.0);
}

}  // namespace
}  // namespace sky
