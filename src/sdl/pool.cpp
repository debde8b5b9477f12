#include "sdl/pool.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/fatal.h"
#include "platform/memory.h"

namespace sky {

BumpArena::~BumpArena() {
    finalise_from(0);
    for (Block& block : blocks_) SKY_FREE(block.data);
}

void* BumpArena::allocate(std::size_t size, std::size_t alignment) {
    while (true) {
        if (current_ < blocks_.size()) {
            Block& block = blocks_[current_];
            std::size_t start = (used_ + alignment - 1) & ~(alignment - 1);
            if (start + size <= block.size) {
                used_ = start + size;
                void* memory = block.data + start;
                std::memset(memory, 0, size);
                return memory;
            }
            if (current_ + 1 < blocks_.size() && size <= blocks_[current_ + 1].size) {
                ++current_;  // a block kept by an earlier rewind
                used_ = 0;
                continue;
            }
        }
        std::size_t block_size = std::max(block_size_, size + alignment);
        auto* data = static_cast<std::uint8_t*>(SKY_MALLOC(block_size));
        if (data == nullptr) fatal("out of memory reading the scene\n");
        // A fresh block goes after the current one, ahead of any kept blocks
        // too small for this request.
        std::size_t at = blocks_.empty() ? 0 : current_ + 1;
        blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(at), {data, block_size});
        reserved_ += block_size;
        current_ = at;
        used_ = 0;
    }
}

void BumpArena::finalise_from(std::size_t count) {
    while (finalisers_.size() > count) {
        Finaliser last = finalisers_.back();
        finalisers_.pop_back();
        last.destroy(last.object);
    }
}

void BumpArena::reset() {
    finalise_from(0);
    for (std::size_t i = 1; i < blocks_.size(); ++i) {
        reserved_ -= blocks_[i].size;
        SKY_FREE(blocks_[i].data);
    }
    if (blocks_.size() > 1) blocks_.resize(1);
    rewind(Mark{});
}

void BumpArena::rewind(Mark mark) {
    finalise_from(mark.finalisers);
    current_ = mark.block;
    used_ = mark.used;
}

BumpArena& sdl_pool() {
    static BumpArena pool(1 << 20);
    return pool;
}

const char* pool_copy_string(std::string_view text) {
    auto* copy = static_cast<char*>(sdl_pool().allocate(text.size() + 1, 1));
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

}  // namespace sky
