// Memory that lives for a run, a pass or a tile: arenas and scratch pools.
//
// Rendering makes and drops millions of small records per frame; asking the
// heap for each one would serialise the workers on the allocator. Instead
// each worker allocates by bumping a pointer in blocks it owns, and gives
// everything back at once: an arena is rewound after every tile or pass and
// keeps its blocks, so once a scene has warmed up a pass costs no heap calls.
//
// Arenas are created once and named by their index in a process-wide table.
// An arena belongs to one thread at a time (its worker, or the main thread
// outside the tile phase): allocation, rewinding and releasing take no lock.
//
// Scratch pools hand out small fixed-size records, four pools per worker,
// in blocks of 2048 records; resetting them starts over from the first
// block, keeping the blocks as well.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sky {

using ArenaId = std::int32_t;

inline constexpr std::size_t kArenaBlockBytes = 64 * 1024;
// Room for the run's main arena, two per worker and the arenas of the
// geometry and shading stages.
inline constexpr int kMaxArenas = 2048;
// Every allocation is aligned for any scalar or SIMD-free record.
inline constexpr std::size_t kArenaAlignment = 16;

// A new, empty arena whose blocks hold at least `block_bytes`.
ArenaId create_arena(std::size_t block_bytes = kArenaBlockBytes);

// `count` records of `size` bytes each, zeroed and aligned to
// kArenaAlignment. A request larger than the block size gets a block of its
// own. Running out of memory ends the program.
void* arena_allocate(ArenaId arena, std::size_t count, std::size_t size);

template <typename T>
T* arena_array(ArenaId arena, std::size_t count) {
    static_assert(alignof(T) <= kArenaAlignment);
    return static_cast<T*>(arena_allocate(arena, count, sizeof(T)));
}

// As arena_allocate, but left as the block holds it: for records the caller
// writes whole before anything reads them, where zeroing first would be a
// second pass over memory written at once anyway.
void* arena_allocate_unzeroed(ArenaId arena, std::size_t count, std::size_t size);

template <typename T>
T* arena_array_unzeroed(ArenaId arena, std::size_t count) {
    static_assert(alignof(T) <= kArenaAlignment);
    return static_cast<T*>(arena_allocate_unzeroed(arena, count, sizeof(T)));
}

// Marks every block empty and keeps them: the same allocations after a
// rewind reuse the same blocks.
void rewind_arena(ArenaId arena);
// Gives every block back to the heap; the arena stays usable.
void release_arena(ArenaId arena);

// For statistics and tests.
std::size_t arena_bytes_reserved(ArenaId arena);
int arena_block_count(ArenaId arena);

// The run's main arena (main thread only), and the calling worker's pass and
// tile arenas, each created the first time it is asked for.
ArenaId main_arena();
ArenaId pass_arena();
ArenaId tile_arena();

// --- scratch pools -----------------------------------------------------------

inline constexpr int kScratchPools = 4;
inline constexpr int kScratchBlockRecords = 2048;

// Fixes the record size of `pool` for every worker. Only on the main thread
// outside the tile phase; blocks already made for another size are given
// back, so records handed out earlier from that pool must no longer be used.
void set_scratch_record_size(int pool, std::size_t size);
std::size_t scratch_record_size(int pool);

// A zeroed record from the calling worker's `pool`, aligned to
// kArenaAlignment. The pool's record size must have been set.
void* scratch_allocate(int pool);

// Empties the calling worker's four pools; their blocks are kept.
void reset_scratch_pools();

// Blocks the calling worker's `pool` holds, for statistics and tests.
int scratch_block_count(int pool);

}  // namespace sky
