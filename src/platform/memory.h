// Tracked memory of the base library.
//
// A thin layer over the heap that keeps, for every calling source line, the
// bytes and blocks it holds, and the total in use (printed by the statistics).
// Each block carries a 16-byte header with its size and call site; accounting
// is a hash probe and three relaxed atomic adds, cheap enough for hot paths.
// Blocks of 256 kB and more come from the pool of large blocks
// (platform/large_blocks.h), which keeps freed pages for the next ones.
// A null result is an out-of-memory condition that the caller reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sky {

void* MA_malloc(std::size_t size, int line, const char* file, int flag);
void* MA_calloc(std::size_t count, std::size_t size, int line, const char* file, int flag);
void* MA_realloc(void* block, std::size_t size, int line, const char* file, int flag);
void MA_free(void* block, int line, const char* file);
// Keeps the first `size` bytes of a block where they are and, for a block
// from the pool of large blocks (platform/large_blocks.h), gives the whole
// pages after them back to it; other blocks keep their size.
void MA_shrink(void* block, std::size_t size, int line, const char* file);

// The C library's own large blocks (a megabyte and more: those of
// containers; the tracked allocator takes its large blocks from the pool of
// platform/large_blocks.h) straight from the kernel and back to it when
// freed, rather than kept by the library's per-thread heaps, where workers
// other than the one that freed them could not reuse them. Called once at
// start-up.
void return_large_blocks();

// Bytes in use through the tracked allocator.
std::size_t MA_get_memory_used();

// A block of bytes from the tracked allocator that frees itself: for buffers
// sized by data (images), so that the memory the statistics print includes
// them. The caller's line and file name the block, as for MA_malloc.
class TrackedBlock {
public:
    TrackedBlock() = default;
    ~TrackedBlock() { release(); }
    TrackedBlock(TrackedBlock&& other) noexcept;
    TrackedBlock& operator=(TrackedBlock&& other) noexcept;
    TrackedBlock(const TrackedBlock&) = delete;
    TrackedBlock& operator=(const TrackedBlock&) = delete;

    // Changes the size to `size` bytes, keeping the contents up to the
    // smaller size. False, leaving the block as it was, when memory runs out.
    bool resize(std::size_t size, int line, const char* file);
    void release();

    std::uint8_t* data() { return data_; }
    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    std::uint8_t& operator[](std::size_t i) { return data_[i]; }
    const std::uint8_t& operator[](std::size_t i) const { return data_[i]; }

private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

struct MemorySiteUsage {
    const char* file;
    int line;
    std::int64_t bytes;   // bytes held now
    std::int64_t blocks;  // blocks held now
};

// The call sites that hold memory now, largest first.
std::vector<MemorySiteUsage> MA_site_usage();

}  // namespace sky

#define SKY_MALLOC(size) ::sky::MA_malloc((size), __LINE__, __FILE__, 1)
#define SKY_CALLOC(count, size) ::sky::MA_calloc((count), (size), __LINE__, __FILE__, 1)
#define SKY_REALLOC(block, size) ::sky::MA_realloc((block), (size), __LINE__, __FILE__, 1)
#define SKY_FREE(block) ::sky::MA_free((block), __LINE__, __FILE__)
#define SKY_SHRINK(block, size) ::sky::MA_shrink((block), (size), __LINE__, __FILE__)
