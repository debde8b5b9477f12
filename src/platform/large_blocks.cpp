// The pool of large blocks. Blocks are placed first-fit in address order,
// so the pages used before, which lie lowest, go first. Large blocks are a
// few hundred a run, so one lock and a walk over the free ranges cost
// nothing beside their pages.
#include "platform/large_blocks.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace sky {
namespace {

constexpr std::size_t kPage = 4096;

std::size_t whole_pages(std::size_t bytes) {
    return (bytes + kPage - 1) & ~(kPage - 1);
}

}  // namespace

bool large_block_pool_enabled() {
#if defined(__SANITIZE_ADDRESS__)
    return false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return false;
#else
    return true;
#endif
#else
    return true;
#endif
}

LargeBlockPool::LargeBlockPool(std::size_t region_bytes)
    : region_bytes_(whole_pages(std::max<std::size_t>(region_bytes, kPage))) {}

LargeBlockPool::~LargeBlockPool() {
#if defined(__linux__)
    for (const auto& [start, bytes] : regions_) munmap(reinterpret_cast<void*>(start), bytes);
#endif
}

// Joined to neighbours of its kind, so that a walk sees each stretch of
// one kind once.
void LargeBlockPool::add_range(std::uintptr_t start, std::size_t bytes, bool idle) {
    if (bytes == 0) return;
    if (idle) counts_.idle += bytes;
    auto next = ranges_.lower_bound(start);
    if (next != ranges_.begin()) {
        auto before = std::prev(next);
        if (before->first + before->second.bytes == start && before->second.idle == idle) {
            start = before->first;
            bytes += before->second.bytes;
            ranges_.erase(before);
        }
    }
    if (next != ranges_.end() && start + bytes == next->first && next->second.idle == idle) {
        bytes += next->second.bytes;
        ranges_.erase(next);
    }
    ranges_[start] = {bytes, idle};
}

// The first address from which free ranges run unbroken for `bytes`; 0
// when there is none.
std::uintptr_t LargeBlockPool::find_run(std::size_t bytes) const {
    std::uintptr_t start = 0;
    std::size_t length = 0;
    for (const auto& [at, range] : ranges_) {
        if (length == 0 || start + length != at) start = at, length = 0;
        length += range.bytes;
        if (length >= bytes) return start;
    }
    return 0;
}

bool LargeBlockPool::reserve_region(std::size_t bytes) {
#if defined(__linux__)
    // A kernel that counts reserved space strictly may refuse a whole
    // region but grant what the block needs.
    for (std::size_t size : {std::max(region_bytes_, bytes), bytes}) {
        void* mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (mapped == MAP_FAILED) continue;
        const auto start = reinterpret_cast<std::uintptr_t>(mapped);
        regions_.emplace_back(start, size);
        add_range(start, size, false);
        counts_.reserved += size;
        return true;
    }
#else
    (void)bytes;
#endif
    return false;
}

// Up to `bytes` of idle pages go back to the kernel, the highest first
// (placement reaches them last).
void LargeBlockPool::give_back(std::size_t bytes) {
    for (auto it = ranges_.end(); bytes > 0 && it != ranges_.begin();) {
        --it;
        if (!it->second.idle) continue;
        const std::uintptr_t start = it->first;
        const std::size_t length = it->second.bytes;
        const std::size_t taken = std::min(length, bytes);
#if defined(__linux__)
        madvise(reinterpret_cast<void*>(start + length - taken), taken, MADV_DONTNEED);
#endif
        ranges_.erase(it);
        counts_.idle -= length;
        counts_.given_back += taken;
        bytes -= taken;
        add_range(start, length - taken, true);
        add_range(start + length - taken, taken, false);
        // Ranges were joined around the place: walk on from just below it.
        it = ranges_.lower_bound(start);
    }
}

void* LargeBlockPool::allocate(std::size_t bytes, bool zeroed) {
    if (bytes == 0 || bytes > SIZE_MAX / 4) return nullptr;
    bytes = whole_pages(bytes);
    // Idle pages taken for a zeroed block, cleared outside the lock.
    std::vector<std::pair<std::uintptr_t, std::size_t>> dirty;
    std::uintptr_t start = 0;
    {
        std::lock_guard lock(lock_);
        start = find_run(bytes);
        if (start == 0 && reserve_region(bytes)) start = find_run(bytes);
        if (start == 0) return nullptr;
        std::size_t reused = 0;
        for (std::uintptr_t at = start, end = start + bytes; at < end;) {
            auto it = ranges_.find(at);
            const FreeRange range = it->second;
            ranges_.erase(it);
            const std::size_t used = std::min(range.bytes, end - at);
            if (range.idle) {
                counts_.idle -= range.bytes;
                reused += used;
                if (zeroed) dirty.emplace_back(at, used);
            }
            add_range(at + used, range.bytes - used, range.idle);
            at += used;
        }
        counts_.in_use += bytes;
        counts_.reused += reused;
        counts_.fresh += bytes - reused;
        // A little idle room is kept even so: the holes a pass leaves are
        // mostly filled by its next few blocks, which would otherwise fault
        // in again the very pages just given back.
        const std::size_t keep = std::min(kIdleSlackBytes, counts_.in_use / 8);
        if (reused < bytes && counts_.idle > keep)
            give_back(std::min(bytes - reused, counts_.idle - keep));
    }
    for (const auto& [at, length] : dirty) std::memset(reinterpret_cast<void*>(at), 0, length);
    return reinterpret_cast<void*>(start);
}

void LargeBlockPool::free(void* block, std::size_t bytes) {
    if (block == nullptr) return;
    bytes = whole_pages(bytes);
    std::lock_guard lock(lock_);
    counts_.in_use -= bytes;
    add_range(reinterpret_cast<std::uintptr_t>(block), bytes, true);
}

void LargeBlockPool::shrink(void* block, std::size_t old_bytes, std::size_t bytes) {
    const std::size_t keep = whole_pages(std::max<std::size_t>(bytes, 1));
    old_bytes = whole_pages(old_bytes);
    if (block == nullptr || keep >= old_bytes) return;
    std::lock_guard lock(lock_);
    counts_.in_use -= old_bytes - keep;
    add_range(reinterpret_cast<std::uintptr_t>(block) + keep, old_bytes - keep, true);
}

LargeBlockCounts LargeBlockPool::counts() const {
    std::lock_guard lock(lock_);
    return counts_;
}

// Never destroyed: blocks may still be freed while the program exits.
LargeBlockPool& large_block_pool() {
    static auto* pool = new LargeBlockPool;
    return *pool;
}

void* container_allocate(std::size_t bytes) {
    if (bytes >= kLargeBlockBytes && large_block_pool_enabled())
        return large_block_pool().allocate(bytes, false);
    return ::operator new(bytes, std::nothrow);
}

void container_free(void* array, std::size_t bytes) {
    if (bytes >= kLargeBlockBytes && large_block_pool_enabled())
        large_block_pool().free(array, bytes);
    else
        ::operator delete(array);
}

}  // namespace sky
