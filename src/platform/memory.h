// Tracked memory of the base library.
//
// A thin layer over the heap that keeps, for every calling source line, the
// bytes and blocks it holds, and the total in use (printed by the statistics).
// Each block carries a 16-byte header with its size and call site; accounting
// is a hash probe and three relaxed atomic adds, cheap enough for hot paths.
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

// Asks the kernel to back the whole 2 MB pages inside a large block with
// huge pages, where it offers them on request: a block filled once in a
// burst (a big mesh's triangles) then costs one page fault per 2 MB instead
// of one per 4 kB. Smaller blocks are left alone.
void advise_large_block(void* block, std::size_t size);

// Large blocks (a megabyte and more) straight from the kernel and back to
// it when freed, rather than kept by the allocator's heaps: a frame's
// shadow maps free their triangles before the camera makes its own on
// other workers, whose heaps could not reuse them, and the run's peak
// would be the sum of both. Called once at start-up.
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
