// The tracked allocator against the plain heap: the accounting must stay a
// small fraction of the cost of the allocation it accounts for.
#include <cstdlib>

#include <benchmark/benchmark.h>

#include "platform/memory.h"

namespace {

void BM_HeapAllocateRelease(benchmark::State& state) {
    std::size_t size = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        void* block = std::malloc(size);
        benchmark::DoNotOptimize(block);
        std::free(block);
    }
}
BENCHMARK(BM_HeapAllocateRelease)->Arg(64)->Arg(4096);

void BM_TrackedAllocateRelease(benchmark::State& state) {
    std::size_t size = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        void* block = SKY_MALLOC(size);
        benchmark::DoNotOptimize(block);
        SKY_FREE(block);
    }
}
BENCHMARK(BM_TrackedAllocateRelease)->Arg(64)->Arg(4096)->Threads(1)->Threads(2);

}  // namespace
