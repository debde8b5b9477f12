// Tracked allocator: block headers, the call-site table and the totals.
#include "platform/memory.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#if defined(__linux__)
#include <malloc.h>
#endif

#include "platform/fatal.h"
#include "platform/large_blocks.h"

namespace sky {
namespace {

constexpr std::uint32_t kLiveMagic = 0x4d41'6c76;   // "MAlv"
constexpr std::uint32_t kFreedMagic = 0x4d41'6672;  // "MAfr"
// A live block from the pool of large blocks (platform/large_blocks.h).
constexpr std::uint32_t kPooledMagic = 0x4d41'706c;  // "MApl"

// 16 bytes keep the caller's block at malloc's own alignment.
struct alignas(16) BlockHeader {
    std::uint64_t size;
    std::uint32_t site;
    std::uint32_t magic;
};
static_assert(sizeof(BlockHeader) == 16);

// A call site; its counters live in the per-thread tables below, indexed by
// the site's slot.
struct Site {
    std::atomic<const char*> file{nullptr};
    std::atomic<int> line{0};
    std::atomic<bool> ready{false};
};

// Open addressing, never shrinking. Slot 0 collects the sites that no longer
// fit, so accounting of the total stays exact even then.
constexpr std::uint32_t kSiteCount = 4096;
Site sites[kSiteCount];

// Each thread counts into tables of its own, so workers allocating at once
// never share a cache line. Only the owner writes a table (load and store,
// no read-modify-write); readers sum over all tables. A block released by
// another thread than the one that made it leaves one table negative and
// the other positive: the sums stay exact.
struct ThreadCounters {
    std::atomic<std::int64_t> bytes{0};
    std::atomic<std::int64_t> site_bytes[kSiteCount];
    std::atomic<std::int64_t> site_blocks[kSiteCount];
    std::atomic<bool> in_use{true};
    ThreadCounters* next = nullptr;
};

std::mutex counters_mutex;
std::atomic<ThreadCounters*> all_counters{nullptr};

// Tables outlive their threads (their counts still describe live blocks) and
// are handed to the next new thread, so short-lived threads cost nothing.
ThreadCounters* claim_counters() {
    std::lock_guard lock(counters_mutex);
    for (ThreadCounters* c = all_counters.load(std::memory_order_acquire); c; c = c->next)
        if (!c->in_use.load(std::memory_order_relaxed)) {
            c->in_use.store(true, std::memory_order_relaxed);
            return c;
        }
    auto* counters = new ThreadCounters;  // lives for the process, by design
    counters->next = all_counters.load(std::memory_order_relaxed);
    all_counters.store(counters, std::memory_order_release);
    return counters;
}

struct CountersOwner {
    ThreadCounters* counters = claim_counters();
    ~CountersOwner() { counters->in_use.store(false, std::memory_order_relaxed); }
};

ThreadCounters& my_counters() {
    thread_local CountersOwner owner;
    return *owner.counters;
}

void add(std::atomic<std::int64_t>& counter, std::int64_t amount) {
    counter.store(counter.load(std::memory_order_relaxed) + amount, std::memory_order_relaxed);
}

std::uint32_t site_index(const char* file, int line) {
    std::uint64_t key = reinterpret_cast<std::uintptr_t>(file) * 0x9e37'79b9'7f4a'7c15ULL ^
                        static_cast<std::uint64_t>(line) * 0xc2b2'ae3d'27d4'eb4fULL;
    std::uint32_t slot = static_cast<std::uint32_t>(key >> 40) % (kSiteCount - 1) + 1;
    for (std::uint32_t probe = 0; probe < 64; ++probe) {
        Site& site = sites[slot];
        const char* owner = site.file.load(std::memory_order_acquire);
        if (owner == nullptr) {
            const char* expected = nullptr;
            if (site.file.compare_exchange_strong(expected, file, std::memory_order_acq_rel)) {
                site.line.store(line, std::memory_order_relaxed);
                site.ready.store(true, std::memory_order_release);
                return slot;
            }
            owner = expected;
        }
        if (owner == file) {
            while (!site.ready.load(std::memory_order_acquire)) {
            }
            if (site.line.load(std::memory_order_relaxed) == line) return slot;
        }
        slot = slot + 1 == kSiteCount ? 1 : slot + 1;
    }
    return 0;
}

void account(std::uint32_t site, std::int64_t bytes, std::int64_t blocks) {
    ThreadCounters& counters = my_counters();
    add(counters.bytes, bytes);
    add(counters.site_bytes[site], bytes);
    add(counters.site_blocks[site], blocks);
}

BlockHeader* header_of(void* block, int line, const char* file) {
    auto* header = static_cast<BlockHeader*>(block) - 1;
    if (header->magic != kLiveMagic && header->magic != kPooledMagic) {
        internal_error(file, line,
                       header->magic == kFreedMagic ? "tracked block released twice"
                                                    : "release of an untracked block");
    }
    return header;
}

void* finish(BlockHeader* header, std::size_t size, int line, const char* file,
             std::uint32_t magic = kLiveMagic) {
    header->size = size;
    header->site = site_index(file, line);
    header->magic = magic;
    account(header->site, static_cast<std::int64_t>(size), 1);
    return header + 1;
}

bool pooled(std::size_t size) {
    return size >= kLargeBlockBytes - sizeof(BlockHeader) && large_block_pool_enabled();
}

// A block from the pool of large blocks, with its header.
void* pooled_block(std::size_t size, bool zeroed, int line, const char* file) {
    auto* header =
        static_cast<BlockHeader*>(large_block_pool().allocate(sizeof(BlockHeader) + size, zeroed));
    if (header == nullptr) return nullptr;
    return finish(header, size, line, file, kPooledMagic);
}

}  // namespace

void* MA_malloc(std::size_t size, int line, const char* file, int /*flag*/) {
    if (size > SIZE_MAX - sizeof(BlockHeader)) return nullptr;
    if (pooled(size)) return pooled_block(size, false, line, file);
    auto* header = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
    if (header == nullptr) return nullptr;
    return finish(header, size, line, file);
}

void* MA_calloc(std::size_t count, std::size_t size, int line, const char* file, int /*flag*/) {
    if (size != 0 && count > (SIZE_MAX - sizeof(BlockHeader)) / size) return nullptr;
    std::size_t total = count * size;
    if (pooled(total)) return pooled_block(total, true, line, file);
    auto* header = static_cast<BlockHeader*>(std::calloc(1, sizeof(BlockHeader) + total));
    if (header == nullptr) return nullptr;
    return finish(header, total, line, file);
}

void* MA_realloc(void* block, std::size_t size, int line, const char* file, int /*flag*/) {
    if (size > SIZE_MAX - sizeof(BlockHeader)) return nullptr;
    // A block that grows by realloc stays with the C library, which moves
    // a large one's pages rather than copying them.
    if (block == nullptr) {
        auto* header = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
        return header == nullptr ? nullptr : finish(header, size, line, file);
    }
    BlockHeader* old = header_of(block, line, file);
    std::uint64_t old_size = old->size;
    std::uint32_t old_site = old->site;
    if (old->magic == kPooledMagic) {
        if (size <= old_size) {
            MA_shrink(block, size, line, file);
            return block;
        }
        void* grown = MA_malloc(size, line, file, 1);
        if (grown == nullptr) return nullptr;
        std::memcpy(grown, block, old_size);
        MA_free(block, line, file);
        return grown;
    }
    auto* header = static_cast<BlockHeader*>(std::realloc(old, sizeof(BlockHeader) + size));
    if (header == nullptr) return nullptr;  // the old block stays valid and accounted
    account(old_site, -static_cast<std::int64_t>(old_size), -1);
    return finish(header, size, line, file);
}

void MA_shrink(void* block, std::size_t size, int line, const char* file) {
    if (block == nullptr) return;
    BlockHeader* header = header_of(block, line, file);
    if (header->magic != kPooledMagic || size >= header->size) return;
    large_block_pool().shrink(header, sizeof(BlockHeader) + header->size,
                              sizeof(BlockHeader) + size);
    account(header->site, static_cast<std::int64_t>(size) - static_cast<std::int64_t>(header->size),
            0);
    header->size = size;
}

void MA_free(void* block, int line, const char* file) {
    if (block == nullptr) return;
    BlockHeader* header = header_of(block, line, file);
    account(header->site, -static_cast<std::int64_t>(header->size), -1);
    const bool from_pool = header->magic == kPooledMagic;
    header->magic = kFreedMagic;
    if (from_pool)
        large_block_pool().free(header, sizeof(BlockHeader) + header->size);
    else
        std::free(header);
}

void return_large_blocks() {
#if defined(__GLIBC__)
    // A fixed threshold also ends the allocator's habit of raising it to
    // the size of the largest block freed so far.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

std::size_t MA_get_memory_used() {
    std::int64_t used = 0;
    for (ThreadCounters* c = all_counters.load(std::memory_order_acquire); c; c = c->next)
        used += c->bytes.load(std::memory_order_relaxed);
    return used > 0 ? static_cast<std::size_t>(used) : 0;
}

TrackedBlock::TrackedBlock(TrackedBlock&& other) noexcept : data_(other.data_), size_(other.size_) {
    other.data_ = nullptr;
    other.size_ = 0;
}

TrackedBlock& TrackedBlock::operator=(TrackedBlock&& other) noexcept {
    if (this != &other) {
        release();
        data_ = other.data_;
        size_ = other.size_;
        other.data_ = nullptr;
        other.size_ = 0;
    }
    return *this;
}

bool TrackedBlock::resize(std::size_t size, int line, const char* file) {
    if (size == size_) return true;
    if (size == 0) {
        release();
        return true;
    }
    void* block = MA_realloc(data_, size, line, file, 1);
    if (block == nullptr) return false;
    data_ = static_cast<std::uint8_t*>(block);
    size_ = size;
    return true;
}

void TrackedBlock::release() {
    if (data_ != nullptr) MA_free(data_, __LINE__, __FILE__);
    data_ = nullptr;
    size_ = 0;
}

std::vector<MemorySiteUsage> MA_site_usage() {
    std::vector<MemorySiteUsage> usage;
    ThreadCounters* first = all_counters.load(std::memory_order_acquire);
    for (std::uint32_t i = 0; i < kSiteCount; ++i) {
        std::int64_t bytes = 0, blocks = 0;
        for (ThreadCounters* c = first; c; c = c->next) {
            bytes += c->site_bytes[i].load(std::memory_order_relaxed);
            blocks += c->site_blocks[i].load(std::memory_order_relaxed);
        }
        if (blocks == 0) continue;
        const Site& site = sites[i];
        usage.push_back({i == 0 ? "(other sites)" : site.file.load(std::memory_order_acquire),
                         i == 0 ? 0 : site.line.load(std::memory_order_relaxed), bytes, blocks});
    }
    std::sort(usage.begin(), usage.end(),
              [](const MemorySiteUsage& a, const MemorySiteUsage& b) { return a.bytes > b.bytes; });
    return usage;
}

}  // namespace sky
