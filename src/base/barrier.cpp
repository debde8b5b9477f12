// Barriers and the shared locks of the render passes.
//
// The locks are namespace-scope objects: std::mutex has a constant
// constructor, so they exist before any code runs and cannot be met
// half-built by a worker, whatever the order of static initialisation.
//
// The barrier is never destroyed: a child may still be waiting on it when
// the process exits (a run ended by an error in a pass), and destroying a
// condition variable that threads wait on blocks the exit for ever.
#include "base/barrier.h"

namespace sky {
namespace {

Barrier* const end_barrier_object = new Barrier;

std::mutex tile_queue_mutex;
std::mutex output_mutex;
std::mutex counter_mutex;
std::mutex arena_table_mutex;

}  // namespace

void barrier_wait(Barrier& barrier, int count) {
    if (count <= 1) return;
    std::unique_lock lock(barrier.mutex);
    if (++barrier.arrived >= count) {
        barrier.arrived = 0;
        ++barrier.generation;
        lock.unlock();
        barrier.event.notify_all();
        return;
    }
    const std::uint64_t arrival = barrier.generation;
    barrier.event.wait(lock, [&] { return barrier.generation != arrival; });
}

Barrier& end_barrier() {
    return *end_barrier_object;
}

std::mutex& tile_queue_lock() {
    return tile_queue_mutex;
}
std::mutex& output_lock() {
    return output_mutex;
}
std::mutex& counter_lock() {
    return counter_mutex;
}
std::mutex& arena_table_lock() {
    return arena_table_mutex;
}

std::int32_t locked_add(std::int32_t& counter, std::int32_t amount) {
    std::lock_guard lock(counter_mutex);
    std::int32_t previous = counter;
    // Wraps like the machine's add rather than overflowing into undefined
    // behaviour: statistics counters may run long on big scenes.
    counter = static_cast<std::int32_t>(static_cast<std::uint32_t>(previous) +
                                        static_cast<std::uint32_t>(amount));
    return previous;
}

std::int64_t locked_add(std::int64_t& counter, std::int64_t amount) {
    std::lock_guard lock(counter_mutex);
    std::int64_t previous = counter;
    counter = static_cast<std::int64_t>(static_cast<std::uint64_t>(previous) +
                                        static_cast<std::uint64_t>(amount));
    return previous;
}

}  // namespace sky
