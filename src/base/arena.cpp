// Arenas and scratch pools.
//
// Blocks form a singly linked list threaded through their own headers, so
// keeping track of them never allocates. After a rewind the allocator walks
// the list again in the same order: a pass that makes the same requests as
// the one before lands on the same blocks, and memory use stops growing
// after the first pass. A kept block too small for a request is skipped and
// stays empty until the next rewind rather than being freed.
#include "base/arena.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "base/barrier.h"
#include "base/workers.h"
#include "platform/fatal.h"
#include "platform/memory.h"

namespace sky {
namespace {

struct alignas(kArenaAlignment) ArenaBlock {
    ArenaBlock* next;
    std::size_t capacity;  // bytes after the header
};

struct Arena {
    ArenaBlock* first = nullptr;
    ArenaBlock* current = nullptr;  // none right after a rewind
    std::size_t used = 0;           // bytes used in the current block
    std::size_t block_bytes = 0;
    std::size_t reserved = 0;
    int blocks = 0;
};

// A fixed table: arenas never move, so using one needs no lock, only
// creating one does.
Arena arena_table[kMaxArenas];
std::atomic<int> arena_count{0};

std::uint8_t* block_data(ArenaBlock* block) {
    return reinterpret_cast<std::uint8_t*>(block + 1);
}

Arena& arena_at(ArenaId id) {
    SKY_CHECK(id >= 0 && id < arena_count.load(std::memory_order_acquire));
    return arena_table[id];
}

[[noreturn]] void out_of_memory(std::size_t bytes) {
    fatal("Error: out of memory: cannot allocate %zu bytes for rendering.\n", bytes);
}

std::size_t round_up(std::size_t bytes) {
    return (bytes + kArenaAlignment - 1) & ~(kArenaAlignment - 1);
}

// Moves to the first kept block after the current one that can hold `bytes`,
// or adds a new block at the end of the list.
void advance(Arena& arena, std::size_t bytes) {
    ArenaBlock* last = arena.current;
    ArenaBlock* block = arena.current ? arena.current->next : arena.first;
    while (block != nullptr && block->capacity < bytes) {
        last = block;
        block = block->next;
    }
    if (block == nullptr) {
        std::size_t capacity = std::max(arena.block_bytes, bytes);
        if (capacity > SIZE_MAX - sizeof(ArenaBlock)) out_of_memory(bytes);
        block = static_cast<ArenaBlock*>(SKY_MALLOC(sizeof(ArenaBlock) + capacity));
        if (block == nullptr) out_of_memory(capacity);
        block->next = nullptr;
        block->capacity = capacity;
        // The walk ended at the last block of the list.
        if (last == nullptr)
            arena.first = block;
        else
            last->next = block;
        arena.reserved += capacity;
        ++arena.blocks;
    }
    arena.current = block;
    arena.used = 0;
}

}  // namespace

ArenaId create_arena(std::size_t block_bytes) {
    std::lock_guard lock(arena_table_lock());
    int id = arena_count.load(std::memory_order_relaxed);
    SKY_CHECK(id < kMaxArenas);
    arena_table[id] = Arena{};
    arena_table[id].block_bytes = round_up(std::max<std::size_t>(block_bytes, kArenaAlignment));
    arena_count.store(id + 1, std::memory_order_release);
    return id;
}

namespace {

// The bytes `count` records of `size` take in a block, and the record.
std::uint8_t* take_bytes(ArenaId id, std::size_t count, std::size_t size, std::size_t& bytes) {
    Arena& arena = arena_at(id);
    if (__builtin_mul_overflow(count, size, &bytes) || bytes > SIZE_MAX / 2)
        out_of_memory(SIZE_MAX);
    bytes = round_up(std::max<std::size_t>(bytes, 1));
    if (arena.current == nullptr || arena.current->capacity - arena.used < bytes)
        advance(arena, bytes);
    std::uint8_t* record = block_data(arena.current) + arena.used;
    arena.used += bytes;
    return record;
}

}  // namespace

void* arena_allocate_unzeroed(ArenaId id, std::size_t count, std::size_t size) {
    std::size_t bytes = 0;
    return take_bytes(id, count, size, bytes);
}

void* arena_allocate(ArenaId id, std::size_t count, std::size_t size) {
    std::size_t bytes = 0;
    std::uint8_t* record = take_bytes(id, count, size, bytes);
    std::memset(record, 0, bytes);
    return record;
}

void rewind_arena(ArenaId id) {
    Arena& arena = arena_at(id);
    arena.current = nullptr;
    arena.used = 0;
}

void release_arena(ArenaId id) {
    Arena& arena = arena_at(id);
    for (ArenaBlock* block = arena.first; block != nullptr;) {
        ArenaBlock* next = block->next;
        SKY_FREE(block);
        block = next;
    }
    arena.first = arena.current = nullptr;
    arena.used = arena.reserved = 0;
    arena.blocks = 0;
}

std::size_t arena_bytes_reserved(ArenaId id) {
    return arena_at(id).reserved;
}
int arena_block_count(ArenaId id) {
    return arena_at(id).blocks;
}

// --- per-worker arenas -------------------------------------------------------

namespace {

struct WorkerArenas {
    ArenaId pass = -1;
    ArenaId tile = -1;
};

// Each entry is touched only by the worker of that index.
WorkerArenas worker_arenas[kMaxWorkers];

}  // namespace

ArenaId main_arena() {
    static const ArenaId id = create_arena();
    return id;
}

ArenaId pass_arena() {
    WorkerArenas& arenas = worker_arenas[worker_index()];
    if (arenas.pass < 0) arenas.pass = create_arena();
    return arenas.pass;
}

ArenaId tile_arena() {
    WorkerArenas& arenas = worker_arenas[worker_index()];
    if (arenas.tile < 0) arenas.tile = create_arena();
    return arenas.tile;
}

// --- scratch pools -----------------------------------------------------------

namespace {

struct alignas(kArenaAlignment) ScratchBlock {
    ScratchBlock* next;
};

struct ScratchPool {
    ScratchBlock* first = nullptr;
    ScratchBlock* current = nullptr;
    // Records used in the current block; a full count with no block is the
    // empty state, so the next request moves on to the first block.
    int count = kScratchBlockRecords;
    int blocks = 0;
};

std::size_t record_sizes[kScratchPools] = {};
ScratchPool scratch_pools[kMaxWorkers][kScratchPools];

ScratchPool& pool_of(int worker, int pool) {
    SKY_CHECK(pool >= 0 && pool < kScratchPools);
    return scratch_pools[worker][pool];
}

void free_blocks(ScratchPool& pool) {
    for (ScratchBlock* block = pool.first; block != nullptr;) {
        ScratchBlock* next = block->next;
        SKY_FREE(block);
        block = next;
    }
    pool = ScratchPool{};
}

}  // namespace

void set_scratch_record_size(int pool, std::size_t size) {
    SKY_CHECK(pool >= 0 && pool < kScratchPools && size > 0);
    size = round_up(size);
    SKY_CHECK(size <= SIZE_MAX / 2 / kScratchBlockRecords);
    if (record_sizes[pool] == size) return;
    record_sizes[pool] = size;
    for (int worker = 0; worker < kMaxWorkers; ++worker) free_blocks(scratch_pools[worker][pool]);
}

std::size_t scratch_record_size(int pool) {
    SKY_CHECK(pool >= 0 && pool < kScratchPools);
    return record_sizes[pool];
}

void* scratch_allocate(int index) {
    ScratchPool& pool = pool_of(worker_index(), index);
    const std::size_t size = record_sizes[index];
    SKY_CHECK(size > 0);
    if (pool.count == kScratchBlockRecords) {
        ScratchBlock* previous = pool.current;
        ScratchBlock* block = previous ? previous->next : pool.first;
        if (block == nullptr) {
            std::size_t bytes = sizeof(ScratchBlock) + size * kScratchBlockRecords;
            block = static_cast<ScratchBlock*>(SKY_MALLOC(bytes));
            if (block == nullptr) out_of_memory(bytes);
            block->next = nullptr;
            // Blocks are only ever added after the last one: the walk above
            // reaches the end of the list before a new block is needed.
            if (previous == nullptr)
                pool.first = block;
            else
                previous->next = block;
            ++pool.blocks;
        }
        pool.current = block;
        pool.count = 0;
    }
    std::uint8_t* record = reinterpret_cast<std::uint8_t*>(pool.current + 1) +
                           size * static_cast<std::size_t>(pool.count);
    ++pool.count;
    std::memset(record, 0, size);
    return record;
}

void reset_scratch_pools() {
    for (ScratchPool& pool : scratch_pools[worker_index()]) {
        pool.current = nullptr;
        pool.count = kScratchBlockRecords;
    }
}

int scratch_block_count(int pool) {
    return pool_of(worker_index(), pool).blocks;
}

}  // namespace sky
