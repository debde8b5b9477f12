// Where the workers meet and what they share under a lock.
//
// A render pass closes with a barrier: the main thread hands a pass to the
// workers (workers.cpp) only when it is fully prepared, and leaves the end
// barrier only when every tile is finished, so nothing but the tile phase
// ever runs on several threads. Everything the workers write to in common
// during the pass is guarded by one of the locks below, each held only for a
// few instructions.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace sky {

// Threads wait until `count` of them have arrived; the last to arrive
// releases them all at once. The generation count stands in for the pulse of
// a manual-reset event: a waiter is released by the generation moving on,
// so it can neither miss the pulse nor be released by a later one.
struct Barrier {
    std::mutex mutex;
    std::condition_variable event;
    int arrived = 0;
    std::uint64_t generation = 0;
};

// With a count of 1 (or less) it returns at once: a single worker never
// waits for anybody.
void barrier_wait(Barrier& barrier, int count);

Barrier& end_barrier();

// The process-wide locks, created with the process.
std::mutex& tile_queue_lock();
std::mutex& output_lock();
std::mutex& counter_lock();
std::mutex& arena_table_lock();

// Adds under the counter lock; returns the value before the addition, so
// concurrent callers each get a distinct range of their own.
std::int32_t locked_add(std::int32_t& counter, std::int32_t amount);
std::int64_t locked_add(std::int64_t& counter, std::int64_t amount);

}  // namespace sky
