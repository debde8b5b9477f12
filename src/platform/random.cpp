// drand48 with an atomic state word, so concurrent callers each get a
// distinct element of the one sequence.
#include "platform/random.h"

#include <atomic>
#include <cstdint>

namespace sky {
namespace {

constexpr std::uint64_t kMultiplier = 0x5'DEEC'E66DULL;
constexpr std::uint64_t kIncrement = 0xB;
constexpr std::uint64_t kMask = (1ULL << 48) - 1;
constexpr std::uint64_t kDefaultState = 0x1234'ABCD'330EULL;  // the C library's unseeded state

std::atomic<std::uint64_t> state{kDefaultState};

}  // namespace

void srand48(long seed) {
    std::uint64_t high = static_cast<std::uint32_t>(seed);
    state.store((high << 16) | 0x330E, std::memory_order_relaxed);
}

double drand48() {
    std::uint64_t current = state.load(std::memory_order_relaxed);
    std::uint64_t next;
    do {
        next = (current * kMultiplier + kIncrement) & kMask;
    } while (!state.compare_exchange_weak(current, next, std::memory_order_relaxed));
    return static_cast<double>(next) / static_cast<double>(1ULL << 48);
}

}  // namespace sky
