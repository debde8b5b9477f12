#include "base/barrier.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace sky {
namespace {

TEST(Barrier, ACountOfOneNeverWaits) {
    Barrier barrier;
    for (int i = 0; i < 3; ++i) barrier_wait(barrier, 1);
    barrier_wait(barrier, 0);
    EXPECT_EQ(barrier.arrived, 0);
}

// Every thread counts its arrival before waiting; whoever leaves a round
// must see every arrival of that round, or the barrier let it out early.
// Reusing the barrier round after round catches a waiter released by the
// wrong pulse.
TEST(Barrier, NobodyLeavesBeforeTheLastArrives) {
    constexpr int kThreads = 6;
    constexpr int kRounds = 400;
    Barrier barrier;
    std::atomic<int> arrivals{0};
    std::atomic<int> early{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int round = 0; round < kRounds; ++round) {
                arrivals.fetch_add(1);
                barrier_wait(barrier, kThreads);
                if (arrivals.load() < (round + 1) * kThreads) early.fetch_add(1);
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(early.load(), 0);
    EXPECT_EQ(arrivals.load(), kThreads * kRounds);
    EXPECT_EQ(barrier.generation, static_cast<std::uint64_t>(kRounds));
}

TEST(LockedAdd, EveryCallerGetsARangeOfItsOwn) {
    constexpr int kThreads = 8;
    constexpr int kCalls = 1000;
    std::int64_t counter = 0;
    std::vector<std::vector<std::int64_t>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCalls; ++i) seen[t].push_back(locked_add(counter, 3));
        });
    for (std::thread& thread : threads) thread.join();

    std::vector<std::int64_t> all;
    for (auto& list : seen) all.insert(all.end(), list.begin(), list.end());
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), static_cast<std::size_t>(kThreads * kCalls));
    for (std::size_t i = 0; i < all.size(); ++i)
        ASSERT_EQ(all[i], static_cast<std::int64_t>(3 * i));
    EXPECT_EQ(counter, 3 * kThreads * kCalls);
}

TEST(LockedAdd, ThirtyTwoBitCountersWrapInsteadOfOverflowing) {
    std::int32_t counter = INT32_MAX;
    EXPECT_EQ(locked_add(counter, 1), INT32_MAX);
    EXPECT_EQ(counter, INT32_MIN);
    EXPECT_EQ(locked_add(counter, -1), INT32_MIN);
    EXPECT_EQ(counter, INT32_MAX);
}

}  // namespace
}  // namespace sky
