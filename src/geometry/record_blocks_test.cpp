#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/screen_geometry.h"
#include "platform/large_blocks.h"

namespace sky {
namespace {

struct Record {
    std::int64_t value;
    std::int64_t spare[8];
};

std::vector<std::int64_t> values_of(const RecordBlocks& blocks) {
    std::vector<std::int64_t> values;
    blocks.for_each([&](const void* r) { values.push_back(static_cast<const Record*>(r)->value); });
    return values;
}

// A part's blocks are sized for what it expects; once it is complete the
// unused end goes back, and nothing it holds moves or changes.
TEST(RecordBlocks, TrimmingGivesBackTheUnusedEndAndKeepsEveryRecord) {
    if (!large_block_pool_enabled()) GTEST_SKIP() << "the pool is off in this build";
    RecordBlocks blocks(sizeof(Record), 64);
    blocks.expect(100'000);  // about 7 MB
    const std::size_t before = large_block_pool().counts().in_use;
    std::vector<Record*> taken;
    for (std::int64_t i = 0; i < 20'000; ++i) {
        auto* r = static_cast<Record*>(blocks.take());
        r->value = i;
        taken.push_back(r);
    }
    const std::size_t full = large_block_pool().counts().in_use;
    EXPECT_GE(full - before, 100'000 * sizeof(Record));
    blocks.trim();
    const std::size_t trimmed = large_block_pool().counts().in_use;
    EXPECT_LT(trimmed - before, 20'001 * sizeof(Record) + 4096);

    // Taking on after a trim starts a block; a zeroed record, as always.
    for (std::int64_t i = 20'000; i < 20'100; ++i) {
        auto* r = static_cast<Record*>(blocks.take());
        EXPECT_EQ(r->spare[3], 0);
        r->value = i;
    }
    const std::vector<std::int64_t> values = values_of(blocks);
    ASSERT_EQ(values.size(), 20'100u);
    for (std::int64_t i = 0; i < 20'100; ++i) ASSERT_EQ(values[static_cast<std::size_t>(i)], i);
    for (std::int64_t i = 0; i < 20'000; ++i)
        ASSERT_EQ(taken[static_cast<std::size_t>(i)]->value, i);
    blocks.release();
    EXPECT_EQ(large_block_pool().counts().in_use, before);
}

TEST(RecordBlocks, AppendedPartsKeepTheirOrderAndGiveBackTheirEnds) {
    RecordBlocks whole(sizeof(Record), 64);
    RecordBlocks part(sizeof(Record), 64);
    whole.expect(30'000);
    part.expect(30'000);
    for (std::int64_t i = 0; i < 1000; ++i) static_cast<Record*>(whole.take())->value = i;
    for (std::int64_t i = 1000; i < 1500; ++i) static_cast<Record*>(part.take())->value = i;
    const std::size_t before = large_block_pool().counts().in_use;
    whole.append(std::move(part));
    if (large_block_pool_enabled()) EXPECT_LT(large_block_pool().counts().in_use, before);
    EXPECT_EQ(part.count(), 0);
    const std::vector<std::int64_t> values = values_of(whole);
    ASSERT_EQ(values.size(), 1500u);
    for (std::int64_t i = 0; i < 1500; ++i) ASSERT_EQ(values[static_cast<std::size_t>(i)], i);
}

}  // namespace
}  // namespace sky
