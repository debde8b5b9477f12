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
#include <sys/mman.h>
#endif

#include "platform/fatal.h"

namespace sky {
namespace {

constexpr std::uint32_t kLiveMagic = 0x4d41'6c76;   // "MAlv"
constexpr std::uint32_t kFreedMagic = 0x4d41'6672;  // "MAfr"

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
    if (header->magic != kLiveMagic) {
        internal_error(file, line,
                       header->magic == kFreedMagic ? "tracked block released twice"
                                                    : "release of an untracked block");
    }
    return header;
}

void* finish(BlockHeader* header, std::size_t size, int line, const char* file) {
    header->size = size;
    header->site = site_index(file, line);
    header->magic = kLiveMagic;
    account(header->site, static_cast<std::int64_t>(size), 1);
    return header + 1;
}

}  // namespace

void* MA_malloc(std::size_t size, int line, const char* file, int /*flag*/) {
    if (size > SIZE_MAX - sizeof(BlockHeader)) return nullptr;
    auto* header = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
    if (header == nullptr) return nullptr;
    return finish(header, size, line, file);
}

void* MA_calloc(std::size_t count, std::size_t size, int line, const char* file, int /*flag*/) {
    if (size != 0 && count > (SIZE_MAX - sizeof(BlockHeader)) / size) return nullptr;
    std::size_t total = count * size;
    auto* header = static_cast<BlockHeader*>(std::calloc(1, sizeof(BlockHeader) + total));
    if (header == nullptr) return nullptr;
    return finish(header, total, line, file);
}

void* MA_realloc(void* block, std::size_t size, int line, const char* file, int flag) {
    if (block == nullptr) return MA_malloc(size, line, file, flag);
    if (size > SIZE_MAX - sizeof(BlockHeader)) return nullptr;
    BlockHeader* old = header_of(block, line, file);
    std::uint64_t old_size = old->size;
    std::uint32_t old_site = old->site;
    auto* header = static_cast<BlockHeader*>(std::realloc(old, sizeof(BlockHeader) + size));
    if (header == nullptr) return nullptr;  // the old block stays valid and accounted
    account(old_site, -static_cast<std::int64_t>(old_size), -1);
    return finish(header, size, line, file);
}

void MA_free(void* block, int line, const char* file) {
    if (block == nullptr) return;
    BlockHeader* header = header_of(block, line, file);
    account(header->site, -static_cast<std::int64_t>(header->size), -1);
    header->magic = kFreedMagic;
    std::free(header);
}

void advise_large_block(void* block, std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (start + size) & ~(kHugePage - 1);
    // Only advice: a kernel without huge pages answers with an error that
    // changes nothing.
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)block;
    (void)size;
#endif
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
