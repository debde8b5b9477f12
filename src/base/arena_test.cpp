#include "base/arena.h"

#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "platform/memory.h"

namespace sky {
namespace {

bool all_zero(const void* memory, std::size_t bytes) {
    const auto* p = static_cast<const std::uint8_t*>(memory);
    for (std::size_t i = 0; i < bytes; ++i)
        if (p[i] != 0) return false;
    return true;
}

bool aligned(const void* memory) {
    return reinterpret_cast<std::uintptr_t>(memory) % kArenaAlignment == 0;
}

TEST(Arena, HandsOutZeroedAlignedRecordsThatDoNotOverlap) {
    ArenaId arena = create_arena(1024);
    std::vector<std::pair<std::uint8_t*, std::size_t>> records;
    for (std::size_t size : {1u, 7u, 16u, 100u, 900u, 5000u, 3u}) {
        auto* p = static_cast<std::uint8_t*>(arena_allocate(arena, 2, size));
        ASSERT_TRUE(aligned(p));
        ASSERT_TRUE(all_zero(p, 2 * size));
        std::memset(p, 0xAB, 2 * size);
        records.emplace_back(p, 2 * size);
    }
    for (auto& [p, bytes] : records) {
        for (auto& [q, other] : records) {
            if (p == q) continue;
            EXPECT_TRUE(p + bytes <= q || q + other <= p);
        }
    }
    // Dirty blocks come back zeroed after a rewind.
    rewind_arena(arena);
    EXPECT_TRUE(all_zero(arena_allocate(arena, 1, 900), 900));
    release_arena(arena);
}

// Unzeroed records share the blocks and the bookkeeping of zeroed ones:
// the two kinds mixed never overlap, and a zeroed record is zero even where
// an unzeroed one was written before the rewind.
TEST(Arena, UnzeroedRecordsMixWithZeroedOnesWithoutOverlapOrLeftovers) {
    ArenaId arena = create_arena(1024);
    std::vector<std::pair<std::uint8_t*, std::size_t>> records;
    for (std::size_t size : {24u, 300u, 5000u, 1u, 700u}) {
        auto* p = static_cast<std::uint8_t*>(arena_allocate_unzeroed(arena, 2, size));
        ASSERT_TRUE(aligned(p));
        std::memset(p, 0xCD, 2 * size);
        records.emplace_back(p, 2 * size);
        auto* q = static_cast<std::uint8_t*>(arena_allocate(arena, 1, size));
        ASSERT_TRUE(aligned(q));
        ASSERT_TRUE(all_zero(q, size));
        records.emplace_back(q, size);
    }
    for (auto& [p, bytes] : records)
        for (auto& [q, other] : records)
            if (p != q) EXPECT_TRUE(p + bytes <= q || q + other <= p);
    rewind_arena(arena);
    for (std::size_t size : {24u, 300u, 5000u, 1u, 700u}) {
        // Where the unzeroed records were written.
        EXPECT_TRUE(all_zero(arena_allocate(arena, 2, size), 2 * size));
        arena_allocate_unzeroed(arena, 1, size);
    }
    release_arena(arena);
}

// The same requests after a rewind land on the same memory: a warmed-up
// pass takes nothing more from the heap, however many passes follow. The
// mix includes a request bigger than a block, which gets a block of its own
// that later small requests must not be allowed to grow the list around.
TEST(Arena, RewindingKeepsBlocksAndReusesThemExactly) {
    ArenaId arena = create_arena(4096);
    auto one_pass = [&] {
        std::vector<void*> got;
        for (int i = 0; i < 50; ++i) got.push_back(arena_allocate(arena, 10, 24));
        got.push_back(arena_allocate(arena, 3, 4096));
        for (int i = 0; i < 30; ++i) got.push_back(arena_allocate(arena, 1, 1000));
        return got;
    };
    std::vector<void*> first = one_pass();
    const int blocks = arena_block_count(arena);
    const std::size_t reserved = arena_bytes_reserved(arena);
    const std::size_t heap = MA_get_memory_used();
    EXPECT_GE(reserved, 50u * 240 + 3 * 4096 + 30 * 1008);
    for (int pass = 0; pass < 200; ++pass) {
        rewind_arena(arena);
        ASSERT_EQ(one_pass(), first);
    }
    EXPECT_EQ(arena_block_count(arena), blocks);
    EXPECT_EQ(arena_bytes_reserved(arena), reserved);
    EXPECT_EQ(MA_get_memory_used(), heap);
    release_arena(arena);
}

TEST(Arena, ReleasingGivesEveryBlockBackAndLeavesTheArenaUsable) {
    const std::size_t before = MA_get_memory_used();
    ArenaId arena = create_arena();
    for (int i = 0; i < 100; ++i) arena_allocate(arena, 100, 100);
    EXPECT_GT(MA_get_memory_used(), before + 100 * 100 * 100);
    release_arena(arena);
    EXPECT_EQ(MA_get_memory_used(), before);
    EXPECT_EQ(arena_block_count(arena), 0);
    EXPECT_TRUE(all_zero(arena_allocate(arena, 4, 8), 32));
    release_arena(arena);
}

TEST(Arena, TheRunAndEachWorkerHaveArenasOfTheirOwn) {
    EXPECT_EQ(main_arena(), main_arena());
    EXPECT_EQ(pass_arena(), pass_arena());
    EXPECT_EQ(tile_arena(), tile_arena());
    std::set<ArenaId> ids = {main_arena(), pass_arena(), tile_arena()};
    EXPECT_EQ(ids.size(), 3u);
}

TEST(ArenaDeathTest, ASizeThatOverflowsEndsTheProgram) {
    ArenaId arena = create_arena();
    EXPECT_EXIT(arena_allocate(arena, SIZE_MAX / 4, 8), testing::ExitedWithCode(1),
                "out of memory");
}

class ScratchPools : public testing::Test {
protected:
    void SetUp() override {
        // A change of size gives the blocks of earlier tests back; the
        // detour size must differ after rounding to the alignment.
        for (int pool = 0; pool < kScratchPools; ++pool) {
            set_scratch_record_size(pool, 16 * (pool + 2));
            set_scratch_record_size(pool, 16 * (pool + 1));
        }
        reset_scratch_pools();
    }
};

TEST_F(ScratchPools, RecordsComeInBlocksOf2048) {
    std::set<void*> records;
    for (int i = 0; i < kScratchBlockRecords; ++i) {
        void* record = scratch_allocate(1);
        ASSERT_TRUE(aligned(record));
        ASSERT_TRUE(all_zero(record, 32));
        std::memset(record, 0xFF, 32);
        records.insert(record);
    }
    EXPECT_EQ(records.size(), static_cast<std::size_t>(kScratchBlockRecords));
    EXPECT_EQ(scratch_block_count(1), 1);
    scratch_allocate(1);
    EXPECT_EQ(scratch_block_count(1), 2);
    EXPECT_EQ(scratch_block_count(0), 0);
}

TEST_F(ScratchPools, ResettingReusesTheBlocksWithoutGrowing) {
    auto fill = [] {
        std::vector<void*> got;
        for (int i = 0; i < 5000; ++i) got.push_back(scratch_allocate(3));
        for (int i = 0; i < 100; ++i) got.push_back(scratch_allocate(0));
        return got;
    };
    std::vector<void*> first = fill();
    const int blocks = scratch_block_count(3);
    const std::size_t heap = MA_get_memory_used();
    for (int pass = 0; pass < 100; ++pass) {
        reset_scratch_pools();
        std::vector<void*> again = fill();
        ASSERT_EQ(again, first);
        ASSERT_TRUE(all_zero(again.back(), 16));
    }
    EXPECT_EQ(scratch_block_count(3), blocks);
    EXPECT_EQ(MA_get_memory_used(), heap);
}

TEST_F(ScratchPools, ANewRecordSizeGivesTheOldBlocksBack) {
    scratch_allocate(2);
    ASSERT_EQ(scratch_block_count(2), 1);
    set_scratch_record_size(2, 200);
    EXPECT_EQ(scratch_block_count(2), 0);
    EXPECT_EQ(scratch_record_size(2), 208u);  // rounded up to the alignment
    EXPECT_TRUE(all_zero(scratch_allocate(2), 208));
}

}  // namespace
}  // namespace sky
