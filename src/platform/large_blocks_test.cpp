#include "platform/large_blocks.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/memory.h"

namespace sky {
namespace {

constexpr std::size_t kMB = std::size_t{1} << 20;

bool all_bytes(const void* block, std::size_t bytes, unsigned char value) {
    const auto* p = static_cast<const unsigned char*>(block);
    return std::all_of(p, p + bytes, [&](unsigned char c) { return c == value; });
}

// Blocks of one pass freed and those of the next made at other sizes, as a
// shadow map's triangles and then the camera's.
TEST(LargeBlockPool, PagesFreedByOneSizeServeBlocksOfOtherSizes) {
    LargeBlockPool pool(64 * kMB);
    std::vector<void*> first;
    for (int i = 0; i < 4; ++i) {
        first.push_back(pool.allocate(5 * kMB + 100, false));
        ASSERT_NE(first.back(), nullptr);
        std::memset(first.back(), 0x5a, 5 * kMB + 100);
    }
    const LargeBlockCounts made = pool.counts();
    EXPECT_EQ(made.fresh, 4 * (5 * kMB + 4096));
    EXPECT_EQ(made.reused, 0u);
    for (void* block : first) pool.free(block, 5 * kMB + 100);
    EXPECT_EQ(pool.counts().in_use, 0u);
    EXPECT_EQ(pool.counts().idle, made.fresh);

    // 3.5 + 4.5 + 7 + 7 MB: the first three fit the freed pages, the last
    // needs fresh ones beyond them.
    const std::size_t sizes[] = {7 * kMB / 2, 9 * kMB / 2, 7 * kMB, 7 * kMB};
    std::vector<void*> second;
    for (std::size_t bytes : sizes) {
        second.push_back(pool.allocate(bytes, false));
        ASSERT_NE(second.back(), nullptr);
    }
    const LargeBlockCounts after = pool.counts();
    EXPECT_EQ(after.reused - made.reused, made.fresh);
    EXPECT_EQ(after.fresh - made.fresh, 22 * kMB - made.fresh);
    EXPECT_EQ(after.idle, 0u);
    EXPECT_EQ(after.given_back, 0u);
    // Blocks in use never overlap.
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t j = 0; j < 4; ++j) {
            const auto* a = static_cast<char*>(second[i]);
            const auto* b = static_cast<char*>(second[j]);
            if (i != j) EXPECT_TRUE(a + sizes[i] <= b || b + sizes[j] <= a);
        }
    for (std::size_t i = 0; i < 4; ++i) pool.free(second[i], sizes[i]);
    EXPECT_EQ(pool.counts().in_use, 0u);
}

TEST(LargeBlockPool, ZeroedBlocksAreZeroEvenOnReusedPages) {
    LargeBlockPool pool(16 * kMB);
    void* dirty = pool.allocate(3 * kMB, false);
    ASSERT_NE(dirty, nullptr);
    std::memset(dirty, 0xff, 3 * kMB);
    pool.free(dirty, 3 * kMB);
    void* clean = pool.allocate(4 * kMB, true);
    ASSERT_NE(clean, nullptr);
    EXPECT_EQ(clean, dirty);  // the same pages, first-fit
    EXPECT_TRUE(all_bytes(clean, 4 * kMB, 0));
    pool.free(clean, 4 * kMB);
}

TEST(LargeBlockPool, ShrinkingKeepsTheStartAndLetsTheNextBlockFollowIt) {
    LargeBlockPool pool(16 * kMB);
    auto* block = static_cast<unsigned char*>(pool.allocate(6 * kMB, false));
    ASSERT_NE(block, nullptr);
    std::memset(block, 7, kMB);
    pool.shrink(block, 6 * kMB, kMB + 1);
    EXPECT_EQ(pool.counts().in_use, kMB + 4096);
    EXPECT_TRUE(all_bytes(block, kMB, 7));
    void* next = pool.allocate(2 * kMB, false);
    EXPECT_EQ(next, block + kMB + 4096);
    pool.free(next, 2 * kMB);
    pool.free(block, kMB + 1);
    EXPECT_EQ(pool.counts().in_use, 0u);
}

// Idle pages in a hole too small for a block must not sit beside the fresh
// pages that block takes, beyond a little room kept for the next blocks: the
// pool would then be larger than the run's use.
TEST(LargeBlockPool, FreshPagesGiveBackIdleOnesBeyondAnEighthOfTheUse) {
    LargeBlockPool pool(64 * kMB);
    void* a = pool.allocate(8 * kMB, false);
    void* b = pool.allocate(kMB, false);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::memset(a, 1, 8 * kMB);
    pool.free(a, 8 * kMB);  // a hole of 8 MB before b
    void* c = pool.allocate(9 * kMB, false);
    ASSERT_NE(c, nullptr);
    EXPECT_GT(c, b);
    // 10 MB in use: 1.25 MB of the hole stay, its lowest pages.
    const std::size_t kept = 10 * kMB / 8;
    const LargeBlockCounts counts = pool.counts();
    EXPECT_EQ(counts.idle, kept);
    EXPECT_EQ(counts.given_back, 8 * kMB - kept);
    // The given-back pages came back from the kernel zeroed; the kept ones
    // hold what they held.
    auto* d = static_cast<unsigned char*>(pool.allocate(8 * kMB, false));
    EXPECT_EQ(d, a);
    EXPECT_TRUE(all_bytes(d, kept, 1));
    EXPECT_TRUE(all_bytes(d + kept, 8 * kMB - kept, 0));
    EXPECT_EQ(pool.counts().reused - counts.reused, kept);
    pool.free(b, kMB);
    pool.free(c, 9 * kMB);
    pool.free(d, 8 * kMB);
    EXPECT_EQ(pool.counts().in_use, 0u);
}

// A pass's blocks leave holes that its next blocks fill: a small hole stays
// while a larger block takes fresh pages, and the next block that fits takes
// it without a page from the kernel.
TEST(LargeBlockPool, SmallHolesWaitForTheNextBlocks) {
    LargeBlockPool pool(128 * kMB);
    void* base = pool.allocate(40 * kMB, false);
    void* hole = pool.allocate(3 * kMB, false);
    void* after = pool.allocate(kMB, false);
    ASSERT_NE(base, nullptr);
    ASSERT_NE(hole, nullptr);
    ASSERT_NE(after, nullptr);
    std::memset(hole, 2, 3 * kMB);
    pool.free(hole, 3 * kMB);
    void* large = pool.allocate(6 * kMB, false);
    ASSERT_NE(large, nullptr);
    EXPECT_GT(large, after);
    LargeBlockCounts counts = pool.counts();
    EXPECT_EQ(counts.given_back, 0u);
    EXPECT_EQ(counts.idle, 3 * kMB);
    void* next = pool.allocate(3 * kMB, false);
    EXPECT_EQ(next, hole);
    EXPECT_EQ(pool.counts().reused - counts.reused, 3 * kMB);
    EXPECT_EQ(pool.counts().fresh, counts.fresh);
    for (auto [block, bytes] :
         {std::pair{base, 40 * kMB}, {after, kMB}, {large, 6 * kMB}, {next, 3 * kMB}})
        pool.free(block, bytes);
    EXPECT_EQ(pool.counts().in_use, 0u);
}

TEST(LargeBlockPool, BlocksLargerThanARegionGetARegionOfTheirOwn) {
    LargeBlockPool pool(4 * kMB);
    void* small = pool.allocate(3 * kMB, false);
    void* large = pool.allocate(9 * kMB, true);
    ASSERT_NE(small, nullptr);
    ASSERT_NE(large, nullptr);
    EXPECT_TRUE(all_bytes(large, 9 * kMB, 0));
    EXPECT_GE(pool.counts().reserved, 13 * kMB);
    pool.free(small, 3 * kMB);
    pool.free(large, 9 * kMB);
    EXPECT_EQ(pool.allocate(SIZE_MAX / 2, false), nullptr);
    EXPECT_EQ(pool.allocate(0, false), nullptr);
}

TEST(LargeBlockPool, WorkersMakingAndFreeingAtOnceNeverShareABlock) {
    LargeBlockPool pool(64 * kMB);
    auto work = [&](unsigned char mark) {
        for (int round = 0; round < 40; ++round) {
            const std::size_t bytes = kMB + static_cast<std::size_t>(round % 5) * 300'000;
            auto* block = static_cast<unsigned char*>(pool.allocate(bytes, round % 2 == 0));
            ASSERT_NE(block, nullptr);
            std::memset(block, mark, bytes);
            std::this_thread::yield();
            ASSERT_TRUE(all_bytes(block, bytes, mark));
            pool.free(block, bytes);
        }
    };
    std::thread other(work, 0x11);
    work(0x22);
    other.join();
    EXPECT_EQ(pool.counts().in_use, 0u);
}

// Through the tracked allocator, as the renderer's records use it.
TEST(LargeBlockPool, TrackedLargeBlocksResizeInPlaceOrByCopy) {
    if (!large_block_pool_enabled()) GTEST_SKIP() << "the pool is off in this build";
    const std::size_t before = MA_get_memory_used();
    const LargeBlockCounts start = large_block_pool().counts();
    auto* block = static_cast<unsigned char*>(SKY_MALLOC(3 * kMB));
    ASSERT_NE(block, nullptr);
    EXPECT_GT(large_block_pool().counts().in_use, start.in_use);
    std::memset(block, 3, 3 * kMB);
    EXPECT_EQ(MA_get_memory_used(), before + 3 * kMB);

    SKY_SHRINK(block, 2 * kMB);
    EXPECT_EQ(MA_get_memory_used(), before + 2 * kMB);
    EXPECT_EQ(SKY_REALLOC(block, kMB + 5), block);  // smaller: where it is
    EXPECT_EQ(MA_get_memory_used(), before + kMB + 5);

    auto* grown = static_cast<unsigned char*>(SKY_REALLOC(block, 6 * kMB));
    ASSERT_NE(grown, nullptr);
    EXPECT_TRUE(all_bytes(grown, kMB + 5, 3));
    EXPECT_EQ(MA_get_memory_used(), before + 6 * kMB);
    SKY_FREE(grown);
    EXPECT_EQ(MA_get_memory_used(), before);

    auto* zeroed = static_cast<unsigned char*>(SKY_CALLOC(5, kMB));
    ASSERT_NE(zeroed, nullptr);
    EXPECT_TRUE(all_bytes(zeroed, 5 * kMB, 0));
    SKY_FREE(zeroed);
    EXPECT_EQ(large_block_pool().counts().in_use, start.in_use);
}

// Blocks of a few hundred kilobytes (a small mesh's record blocks, a tile's
// bins) come from the pool too, so that the next pass reuses their pages
// instead of the C library trimming them away.
TEST(LargeBlockPool, QuarterMegabyteBlocksComeFromThePool) {
    if (!large_block_pool_enabled()) GTEST_SKIP() << "the pool is off in this build";
    const std::size_t before = large_block_pool().counts().in_use;
    void* block = SKY_MALLOC(300'000);
    ASSERT_NE(block, nullptr);
    EXPECT_GE(large_block_pool().counts().in_use, before + 300'000);
    SKY_FREE(block);
    EXPECT_EQ(large_block_pool().counts().in_use, before);
    std::vector<std::uint32_t, LargeBlockAllocator<std::uint32_t>> bins(100'000);
    EXPECT_GE(large_block_pool().counts().in_use, before + 400'000);
}

TEST(LargeBlockPool, ContainersKeepTheirValuesAcrossGrowth) {
    std::vector<std::uint64_t, LargeBlockAllocator<std::uint64_t>> values;
    for (std::uint64_t i = 0; i < 600'000; ++i) values.push_back(i * 3);
    for (std::uint64_t i = 0; i < values.size(); i += 997) ASSERT_EQ(values[i], i * 3);
    values.resize(300'000);
    values.shrink_to_fit();
    EXPECT_EQ(values.back(), 299'999u * 3);
}

}  // namespace
}  // namespace sky
