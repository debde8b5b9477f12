// Memory of the SDL front end: everything a parse builds (names, strings,
// expression nodes, statement and body records) lives until the end of the
// run, so it comes from bump allocators that never free one object at a time.
// Building a big list can rewind the allocator to a mark: a list item whose
// value was folded into a packed array gives back the nodes that spelt it.
// The few records that own heap memory of their own (a texture's evaluated
// file names and images) are destroyed when their memory is given back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <vector>

namespace sky {

class BumpArena {
public:
    explicit BumpArena(std::size_t block_size) : block_size_(block_size) {}
    ~BumpArena();
    BumpArena(const BumpArena&) = delete;
    BumpArena& operator=(const BumpArena&) = delete;

    // Zero-filled memory; never null (running out of memory is fatal).
    void* allocate(std::size_t size, std::size_t alignment = alignof(std::max_align_t));

    template <typename T>
    T* make() {
        return make_array<T>(1);
    }

    // `count` value-initialised objects in a row (room for one when count
    // is 0, so the address is never null).
    template <typename T>
    T* make_array(std::size_t count) {
        auto* objects = static_cast<T*>(allocate(sizeof(T) * (count ? count : 1), alignof(T)));
        for (std::size_t i = 0; i < count; ++i) {
            new (&objects[i]) T();
            if constexpr (!std::is_trivially_destructible_v<T>)
                finalisers_.push_back({&objects[i], [](void* p) { static_cast<T*>(p)->~T(); }});
        }
        return objects;
    }

    struct Mark {
        std::size_t block = 0;
        std::size_t used = 0;
        std::size_t finalisers = 0;
    };
    Mark mark() const { return {current_, used_, finalisers_.size()}; }
    // Gives back everything allocated since `mark`. The caller guarantees
    // that nothing allocated since is referenced any more.
    void rewind(Mark mark);
    // Gives back everything, and every block but the first to the heap: what
    // one scene needed says nothing about the next.
    void reset();

    std::size_t bytes_reserved() const { return reserved_; }

private:
    struct Block {
        std::uint8_t* data;
        std::size_t size;
    };
    struct Finaliser {
        void* object;
        void (*destroy)(void*);
    };
    // Destroys, newest first, the objects made since the `count`th.
    void finalise_from(std::size_t count);

    std::size_t block_size_;
    std::vector<Block> blocks_;
    std::vector<Finaliser> finalisers_;  // objects whose destructor must run
    std::size_t current_ = 0;            // index of the block being filled
    std::size_t used_ = 0;               // bytes used in it
    std::size_t reserved_ = 0;
};

// The front end's arena for records and strings.
BumpArena& sdl_pool();

// A NUL-terminated copy of `text` in the front end's pool.
const char* pool_copy_string(std::string_view text);

}  // namespace sky
