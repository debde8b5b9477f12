// Large blocks: 256 kB and more, from pages the run keeps for reuse.
//
// Each pass of a frame makes tens of megabytes of records and frees them as
// it ends: the shadow maps' triangles, then the camera's. Taken from the
// kernel and given back each time, every page of them would be faulted in
// and cleared by the kernel again, a microsecond or more a page. The pool
// keeps the pages of freed blocks instead and hands them to the next large
// blocks, page by page, so a block of any size reuses the pages of blocks
// of other sizes, whichever thread made them.
//
// Idle pages make the run only a little larger than it would be without
// them: a block that must take fresh pages while idle ones lie elsewhere (in
// holes too small for it) gives back to the kernel as many idle ones, except
// for a little room (an eighth of the pages in use, 16 MB at most) that the
// next blocks of the pass mostly fill. Blocks lie side by side in large
// regions of address space. The pool asks for no huge pages: on the virtual
// machines skyloom is measured on, the host takes back the guest's free
// 2 MB pages, and a fresh huge page then costs milliseconds to come back
// (a run of a million triangles took up to 0.8 s of system time instead of
// 0.15 s when it started after a few idle seconds).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace sky {

// Blocks from this size up come from the pool. Below a megabyte too: the
// C library's heaps trim what a pass frees at their tops, and the next pass
// faulted those pages in again (7% of the faults of a run of 100,000
// triangles).
inline constexpr std::size_t kLargeBlockBytes = std::size_t{256} << 10;
// Idle pages kept while fresh ones are taken, at most an eighth of the
// pages in use: the holes one pass leaves are filled by its next blocks.
inline constexpr std::size_t kIdleSlackBytes = std::size_t{16} << 20;
// Address space is cheap: regions this large let a whole run's blocks lie
// side by side.
inline constexpr std::size_t kLargeBlockRegionBytes = std::size_t{1} << 30;

// False in builds checked by AddressSanitizer, which only watches the heap.
bool large_block_pool_enabled();

// What a pool holds and has handed out, in bytes.
struct LargeBlockCounts {
    std::size_t reserved = 0;    // address space
    std::size_t in_use = 0;      // pages in blocks
    std::size_t idle = 0;        // freed pages kept for reuse
    std::size_t fresh = 0;       // pages handed out that had no use before (so far)
    std::size_t reused = 0;      // pages handed out again (so far)
    std::size_t given_back = 0;  // idle pages given back to the kernel (so far)
};

// Free ranges of pages in address order, each either idle (pages a block
// used, which may hold anything) or clean (never touched since reserved,
// or given back: the kernel hands them out zeroed). Any thread may use it.
class LargeBlockPool {
public:
    explicit LargeBlockPool(std::size_t region_bytes = kLargeBlockRegionBytes);
    // Unmaps every region: only once no block is in use.
    ~LargeBlockPool();
    LargeBlockPool(const LargeBlockPool&) = delete;
    LargeBlockPool& operator=(const LargeBlockPool&) = delete;

    // A block of `bytes` (rounded up to whole pages), page-aligned, zeroed
    // when asked; null when the address space or memory runs out.
    void* allocate(std::size_t bytes, bool zeroed);
    // The pages of a block of `bytes` go back to the pool.
    void free(void* block, std::size_t bytes);
    // Keeps the first `bytes` of a block of `old_bytes` where they are and
    // gives the whole pages after them back to the pool.
    void shrink(void* block, std::size_t old_bytes, std::size_t bytes);
    LargeBlockCounts counts() const;

private:
    struct FreeRange {
        std::size_t bytes;
        bool idle;
    };
    void add_range(std::uintptr_t start, std::size_t bytes, bool idle);
    std::uintptr_t find_run(std::size_t bytes) const;
    bool reserve_region(std::size_t bytes);
    void give_back(std::size_t bytes);

    const std::size_t region_bytes_;
    mutable std::mutex lock_;
    std::map<std::uintptr_t, FreeRange> ranges_;  // by first address
    std::vector<std::pair<std::uintptr_t, std::size_t>> regions_;
    LargeBlockCounts counts_;
};

// The process's pool, which the tracked allocator (platform/memory.h) and
// LargeBlockAllocator use.
LargeBlockPool& large_block_pool();

// Arrays of containers: from the pool when large, from the heap otherwise.
// Null when memory runs out.
void* container_allocate(std::size_t bytes);
void container_free(void* array, std::size_t bytes);

// For containers whose arrays are made afresh each pass and reach the
// pool's sizes (a large object's tile bins), so that they reuse the pages
// of the pass before.
template <typename T>
struct LargeBlockAllocator {
    using value_type = T;
    LargeBlockAllocator() = default;
    template <typename U>
    LargeBlockAllocator(const LargeBlockAllocator<U>&) noexcept {}
    T* allocate(std::size_t count) {
        if (count > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
        void* array = container_allocate(count * sizeof(T));
        if (array == nullptr) throw std::bad_alloc();
        return static_cast<T*>(array);
    }
    void deallocate(T* array, std::size_t count) noexcept {
        container_free(array, count * sizeof(T));
    }
    // Elements grown by resize() are default-initialised, not zeroed: the
    // tile bins are sized first and then filled whole, and zeroing them
    // would be a pass over megabytes of fresh pages for nothing.
    template <typename U>
    void construct(U* element) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(element)) U;
    }
    template <typename U, typename... Arguments>
    void construct(U* element, Arguments&&... arguments) {
        ::new (static_cast<void*>(element)) U(std::forward<Arguments>(arguments)...);
    }
    template <typename U>
    bool operator==(const LargeBlockAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace sky
