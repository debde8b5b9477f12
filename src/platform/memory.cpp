// Tracked allocator: block headers, the call-site table and the totals.
#include "platform/memory.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/fatal.h"

namespace sky {
namespace {

constexpr std::uint32_t kLiveMagic = 0x4d41'6c76;  // "MAlv"
constexpr std::uint32_t kFreedMagic = 0x4d41'6672;  // "MAfr"

// 16 bytes keep the caller's block at malloc's own alignment.
struct alignas(16) BlockHeader {
    std::uint64_t size;
    std::uint32_t site;
    std::uint32_t magic;
};
static_assert(sizeof(BlockHeader) == 16);

struct Site {
    std::atomic<const char*> file{nullptr};
    std::atomic<int> line{0};
    std::atomic<bool> ready{false};
    std::atomic<std::int64_t> bytes{0};
    std::atomic<std::int64_t> blocks{0};
};

// Open addressing, never shrinking. Slot 0 collects the sites that no longer
// fit, so accounting of the total stays exact even then.
constexpr std::uint32_t kSiteCount = 8192;
Site sites[kSiteCount];
std::atomic<std::int64_t> bytes_in_use{0};

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
    bytes_in_use.fetch_add(bytes, std::memory_order_relaxed);
    sites[site].bytes.fetch_add(bytes, std::memory_order_relaxed);
    sites[site].blocks.fetch_add(blocks, std::memory_order_relaxed);
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

std::size_t MA_get_memory_used() {
    std::int64_t used = bytes_in_use.load(std::memory_order_relaxed);
    return used > 0 ? static_cast<std::size_t>(used) : 0;
}

std::vector<MemorySiteUsage> MA_site_usage() {
    std::vector<MemorySiteUsage> usage;
    for (std::uint32_t i = 0; i < kSiteCount; ++i) {
        const Site& site = sites[i];
        std::int64_t blocks = site.blocks.load(std::memory_order_relaxed);
        if (blocks == 0) continue;
        usage.push_back({i == 0 ? "(other sites)" : site.file.load(std::memory_order_acquire),
                         i == 0 ? 0 : site.line.load(std::memory_order_relaxed),
                         site.bytes.load(std::memory_order_relaxed), blocks});
    }
    std::sort(usage.begin(), usage.end(),
              [](const MemorySiteUsage& a, const MemorySiteUsage& b) { return a.bytes > b.bytes; });
    return usage;
}

}  // namespace sky
