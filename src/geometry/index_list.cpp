// The index lists of polyset polygons: short lists in place, longer ones in
// a heap block of their own.
#include <cstdlib>
#include <cstring>

#include "geometry/object_geometry.h"
#include "platform/fatal.h"

namespace sky {

std::int32_t* IndexList::heap() const {
    std::int32_t* block;
    std::memcpy(&block, store_, sizeof block);
    return block;
}

void IndexList::set_heap(std::int32_t* block) {
    std::memcpy(store_, &block, sizeof block);
}

IndexList::IndexList(IndexList&& other) noexcept : size_(other.size_), capacity_(other.capacity_) {
    std::memcpy(store_, other.store_, sizeof store_);
    other.size_ = 0;
    other.capacity_ = kInline;
}

IndexList& IndexList::operator=(const IndexList& other) {
    if (this != &other) assign(other.begin(), other.end());
    return *this;
}

IndexList& IndexList::operator=(IndexList&& other) noexcept {
    if (this != &other) {
        clear();
        size_ = other.size_;
        capacity_ = other.capacity_;
        std::memcpy(store_, other.store_, sizeof store_);
        other.size_ = 0;
        other.capacity_ = kInline;
    }
    return *this;
}

IndexList& IndexList::operator=(std::initializer_list<std::int32_t> values) {
    assign(values.begin(), values.end());
    return *this;
}

void IndexList::clear() {
    if (capacity_ > kInline) std::free(heap());
    size_ = 0;
    capacity_ = kInline;
}

void IndexList::assign(const std::int32_t* first, const std::int32_t* last) {
    const auto count = static_cast<std::size_t>(last - first);
    // A list may be assigned a part of itself only while in place; copy
    // out first so that freeing the block cannot pull the values away.
    if (count <= kInline) {
        std::int32_t values[kInline];
        std::memcpy(values, first, count * sizeof *first);
        clear();
        std::memcpy(store_, values, count * sizeof *first);
        size_ = static_cast<std::uint32_t>(count);
        return;
    }
    auto* block = static_cast<std::int32_t*>(std::malloc(count * sizeof *first));
    if (block == nullptr) fatal("Error: out of memory: cannot allocate polygon indices.\n");
    std::memcpy(block, first, count * sizeof *first);
    clear();
    set_heap(block);
    size_ = capacity_ = static_cast<std::uint32_t>(count);
}

void IndexList::push_back(std::int32_t value) {
    if (capacity_ == kInline && size_ < kInline) {
        store_[size_++] = value;
        return;
    }
    if (size_ == capacity_) {
        const std::uint32_t grown = capacity_ * 2;
        auto* block = static_cast<std::int32_t*>(std::malloc(grown * sizeof value));
        if (block == nullptr) fatal("Error: out of memory: cannot allocate polygon indices.\n");
        std::memcpy(block, data(), size_ * sizeof value);
        if (capacity_ > kInline) std::free(heap());
        set_heap(block);
        capacity_ = grown;
    }
    heap()[size_++] = value;
}

}  // namespace sky
