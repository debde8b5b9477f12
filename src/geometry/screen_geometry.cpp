// Per-object triangle storage.
//
// While an object is tessellated its triangles fill blocks of 625 and its
// vertices blocks of 51, each vertex with its shading, motion and texture
// records in one record. Once a small object is done its triangles move
// into one block of the size used, so an object of three triangles does
// not keep room for 625 through the rest of the pass, and its vertices move
// into one block as well, where the samplers find them side by side.
//
// Large objects go another way, for speed and peak memory: their blocks
// double in size up to 16 MB, so a mesh of a million triangles costs a few
// dozen block calls; they come from the pool of large blocks, which hands
// them the pages of the pass before (platform/large_blocks.h), and a
// complete object's newest blocks give their unused ends back to it. They
// are never copied (the copy of a mesh of a million triangles held twice
// its memory for a while and cost a page fault for every 4 kB of it). For
// the same reason a mesh's vertex identical in every value to one made
// shortly before shares that record, not only the vertex entered right
// before it; the statistics still count the vertices the plain rule would
// make.
#include "geometry/screen_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/counters.h"
#include "base/options.h"
#include "base/vecmath.h"
#include "platform/fatal.h"
#include "platform/memory.h"

namespace sky {

RecordBlocks::RecordBlocks(std::size_t record_size, int per_block)
    : record_size_((record_size + 7) & ~std::size_t{7}), per_block_(per_block) {}

RecordBlocks::~RecordBlocks() {
    release();
}

void RecordBlocks::set_record_size(std::size_t bytes) {
    if (count_ != 0) internal_error(__FILE__, __LINE__, "record size changed while in use");
    release();
    record_size_ = (bytes + 7) & ~std::size_t{7};
}

void* RecordBlocks::take() {
    void* record = take_uninitialised();
    std::memset(record, 0, record_size_);
    return record;
}

void RecordBlocks::start_block() {
    const auto largest = std::max<std::int64_t>(
        per_block_, static_cast<std::int64_t>(kLargestRecordBlock / record_size_));
    std::int64_t capacity = std::clamp<std::int64_t>(expected_, per_block_, largest);
    if (current_ != nullptr)
        capacity = std::clamp<std::int64_t>(current_->capacity * 2, per_block_, largest);
    const std::size_t bytes = sizeof(Block) + record_size_ * static_cast<std::size_t>(capacity);
    auto* block = static_cast<Block*>(SKY_MALLOC(bytes));
    if (block == nullptr)
        fatal("Error: out of memory: cannot allocate %zu bytes for triangles.\n", bytes);
    block->next = nullptr;
    block->previous = current_;
    block->capacity = capacity;
    block->used = 0;
    if (current_ == nullptr)
        first_ = block;
    else
        current_->next = block;
    current_ = block;
    used_ = 0;
}

void RecordBlocks::trim() {
    if (current_ == nullptr || used_ == current_->capacity) return;
    SKY_SHRINK(current_, sizeof(Block) + record_size_ * static_cast<std::size_t>(used_));
    current_->capacity = used_;
}

void RecordBlocks::expect(std::int64_t records) {
    expected_ = records;
}

void RecordBlocks::append(RecordBlocks&& other) {
    if (other.first_ == nullptr) return;
    if (other.record_size_ != record_size_ && count_ != 0)
        internal_error(__FILE__, __LINE__, "records of another size appended");
    trim();  // no record is taken from it again
    record_size_ = other.record_size_;
    if (current_ == nullptr)
        first_ = other.first_;
    else
        current_->next = other.first_;
    other.first_->previous = current_;
    current_ = other.current_;
    used_ = other.used_;
    count_ += other.count_;
    other.first_ = other.current_ = nullptr;
    other.used_ = 0;
    other.count_ = 0;
}

void RecordBlocks::release() {
    for (Block* block = first_; block != nullptr;) {
        Block* next = block->next;
        SKY_FREE(block);
        block = next;
    }
    first_ = current_ = nullptr;
    used_ = 0;
    count_ = 0;
}

ObjectTriangles::ObjectTriangles(RenderObject* owner) : object(owner) {}

ObjectTriangles::~ObjectTriangles() {
    clear_object_triangles(*this);
}

namespace {

bool normals_match(const ObjectTriangles& storage, const float* a, const float* b) {
    if (storage.exact_normals) return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
    return dot3(a, b) > 0.9999f;
}

// Whether n floats are the same bit for bit.
template <int n>
bool same_floats(const float* p, const float* q) {
    return std::memcmp(p, q, sizeof(float) * n) == 0;
}

bool same_but_normals(const ObjectTriangles& storage, const CornerValues& a,
                      const CornerValues& b) {
    if (!same_floats<3>(a.screen, b.screen) || !same_floats<3>(a.eye, b.eye) || a.u != b.u ||
        a.v != b.v)
        return false;
    if (storage.has_texture && !same_floats<kTextureFloats>(a.texture, b.texture)) return false;
    if (storage.has_texture_data &&
        !same_floats<kTextureDataFloats>(a.texture_data, b.texture_data))
        return false;
    return !storage.moving || same_floats<15>(a.motion, b.motion);
}

// Identical apart from the normal, which follows the object's own rule.
bool same_corner(const ObjectTriangles& storage, const CornerValues& a, const CornerValues& b) {
    return same_but_normals(storage, a, b) && normals_match(storage, a.eye_normal, b.eye_normal);
}

// Whether the vertex carries every record the object's flags ask for, and
// so every value same_corner compares.
[[gnu::always_inline]] inline bool whole_vertex(const ObjectTriangles& storage,
                                                const ScreenVertex& v) {
    return (!storage.moving || v.motion != nullptr) &&
           (!storage.has_texture || v.shading->texture != nullptr) &&
           (!storage.has_texture_data || v.shading->texture_data != nullptr);
}

// What a stored vertex carries besides its place and shading frame: its
// texture values and motion, where the object has them.
[[gnu::always_inline]] inline bool same_extras(const ObjectTriangles& storage,
                                               const ScreenVertex& v, const CornerValues& corner) {
    const ShadingRecord& s = *v.shading;
    if (storage.has_texture &&
        (s.texture == nullptr || !same_floats<kTextureFloats>(s.texture, corner.texture)))
        return false;
    if (storage.has_texture_data &&
        (s.texture_data == nullptr ||
         !same_floats<kTextureDataFloats>(s.texture_data, corner.texture_data)))
        return false;
    if (storage.moving &&
        (v.motion == nullptr || !same_floats<15>(&v.motion->to_frame[0], corner.motion)))
        return false;
    return true;
}

// same_corner(last corner, corner), read from the last vertex's record
// unless its corner was kept: the record holds the corner's values bit for
// bit, and copying the whole corner at every vertex cost more than the
// test. A record without one the flags ask for (turned on since it was
// made) shares nothing, as in the search for a stored vertex.
bool same_as_last(const ObjectTriangles& storage, const CornerValues& corner) {
    if (storage.last_corner_copied) return same_corner(storage, storage.last_corner, corner);
    const ScreenVertex& v = *storage.last_vertex;
    const ShadingRecord& s = *v.shading;
    if (!same_floats<3>(&v.x, corner.screen) || !same_floats<3>(s.eye, corner.eye) ||
        s.u != corner.u || s.v != corner.v)
        return false;
    return same_extras(storage, v, corner) && normals_match(storage, v.normal, corner.eye_normal);
}

// The last vertex's corner as far as the sharing rule reads it.
CornerValues last_corner_values(const ObjectTriangles& storage) {
    if (storage.depth_only || storage.last_corner_copied || storage.last_vertex == nullptr)
        return storage.last_corner;
    const ScreenVertex& v = *storage.last_vertex;
    const ShadingRecord& s = *v.shading;
    CornerValues c{};
    std::memcpy(c.screen, &v.x, sizeof c.screen);
    std::memcpy(c.eye_normal, v.normal, sizeof c.eye_normal);
    std::memcpy(c.eye, s.eye, sizeof c.eye);
    std::memcpy(c.world, s.world, sizeof c.world);
    std::memcpy(c.normal, s.normal, sizeof c.normal);
    c.u = s.u;
    c.v = s.v;
    if (s.texture != nullptr) std::memcpy(c.texture, s.texture, sizeof c.texture);
    if (s.texture_data != nullptr)
        std::memcpy(c.texture_data, s.texture_data, sizeof c.texture_data);
    if (v.motion != nullptr) std::memcpy(c.motion, &v.motion->to_frame[0], sizeof c.motion);
    return c;
}

// `whole`: the vertex has every record the flags ask for (a vertex made
// without room for one has not).
ScreenVertex* remember_last(ObjectTriangles& storage, ScreenVertex* vertex,
                            const CornerValues& corner, bool whole = true) {
    storage.last_vertex = vertex;
    storage.last_corner_copied = !whole;
    if (!whole) storage.last_corner = corner;
    return vertex;
}

// The same for corners whose normals may still be to make.
bool same_counted_corner(const ObjectTriangles& storage, const CornerValues& a, bool a_pending,
                         const CornerValues& b, bool b_pending) {
    if (!a_pending && !b_pending) return same_corner(storage, a, b);
    if (!same_but_normals(storage, a, b)) return false;
    CornerValues finished[2] = {a, b};
    if (a_pending) storage.finish_normals(storage.finish_context, finished[0]);
    if (b_pending) storage.finish_normals(storage.finish_context, finished[1]);
    return normals_match(storage, finished[0].eye_normal, finished[1].eye_normal);
}

}  // namespace

namespace {

// The records of a vertex follow it in this order: shading, motion, texture
// coordinates, texture data.
std::size_t vertex_record_bytes(const ObjectTriangles& storage) {
    std::size_t floats = (storage.moving ? 15 : 0) + (storage.has_texture ? kTextureFloats : 0) +
                         (storage.has_texture_data ? kTextureDataFloats : 0);
    return sizeof(ScreenVertex) + sizeof(ShadingRecord) + floats * sizeof(float);
}

}  // namespace

namespace {

// Objects with more vertices than this look for earlier identical ones.
constexpr std::int64_t kSharedVertexFrom = 4096;
constexpr std::size_t kRecentVertices = std::size_t{1} << 13;
constexpr std::uint64_t kTagBits = ~std::uint64_t{0} << 48;

// The screen, eye and eye-normal floats side by side, taken two at a
// time: their products are independent of one another, where a chain of
// nine multiplications, each waiting on the last, cost most of a vertex's
// look-up. The top bits (the tag) see every bit of the values, and the
// fold brings them down to the bits that pick the slot.
static_assert(offsetof(CornerValues, eye) == offsetof(CornerValues, screen) + 3 * sizeof(float) &&
              offsetof(CornerValues, eye_normal) ==
                  offsetof(CornerValues, eye) + 3 * sizeof(float));
std::uint64_t corner_hash(const CornerValues& corner) {
    std::uint64_t w[4];
    std::uint32_t last;
    std::memcpy(w, corner.screen, sizeof w);
    std::memcpy(&last, &corner.eye_normal[2], sizeof last);
    std::uint64_t h = (w[0] * 0x9e37'79b9'7f4a'7c15ULL) ^ (w[1] * 0xc2b2'ae3d'27d4'eb4fULL) ^
                      (w[2] * 0x1656'67b1'9e37'79f9ULL) ^ (w[3] * 0x85eb'ca77'c2b2'ae63ULL) ^
                      (last * 0x27d4'eb2f'1656'67c5ULL);
    h ^= h >> 32;
    h *= 0x9e37'79b9'7f4a'7c15ULL;
    return h ^ (h >> 29);
}

// The values a stored vertex was made from, as far as they decide sharing.
bool same_as_stored(const ObjectTriangles& storage, const ScreenVertex& v,
                    const CornerValues& corner) {
    const ShadingRecord& s = *v.shading;
    if (!same_floats<3>(&v.x, corner.screen) || !same_floats<3>(v.normal, corner.eye_normal) ||
        !same_floats<3>(s.eye, corner.eye) || !same_floats<3>(s.world, corner.world) ||
        !same_floats<3>(s.normal, corner.normal) || s.u != corner.u || s.v != corner.v)
        return false;
    return same_extras(storage, v, corner);
}

}  // namespace

ScreenVertex* store_vertex(ObjectTriangles& storage, const CornerValues& corner,
                           ScreenVertex** known) {
    if (storage.last_vertex != nullptr && same_as_last(storage, corner)) return storage.last_vertex;
    if (storage.vertex_count == 0) storage.first_corner = corner;
    ++storage.vertex_count;
    std::uint64_t* slot = nullptr;
    std::uint64_t tag = 0;
    if (storage.exact_normals && storage.vertex_count > kSharedVertexFrom) {
        // The caller knows the vertex: identical in every value, as the
        // search below would find it while it is recent (and would pass
        // over a record made without one the flags now ask for).
        if (known != nullptr && *known != nullptr && whole_vertex(storage, **known))
            return remember_last(storage, *known, corner);
        if (storage.recent.empty()) storage.recent.assign(kRecentVertices, 0);
        const std::uint64_t hash = corner_hash(corner);
        slot = &storage.recent[static_cast<std::size_t>(hash) & (kRecentVertices - 1)];
        tag = hash & kTagBits;
        if (*slot != 0 && (*slot & kTagBits) == tag) {
            auto* kept = reinterpret_cast<ScreenVertex*>(*slot & ~kTagBits);
            if (same_as_stored(storage, *kept, corner)) {
                if (known != nullptr) *known = kept;
                return remember_last(storage, kept, corner);
            }
        }
    }
    if (storage.vertices.count() == 0)
        storage.vertices.set_record_size(vertex_record_bytes(storage));
    // Every field is written below, the records' pointers null where the
    // vertex has no such record.
    auto* record = static_cast<std::uint8_t*>(storage.vertices.take_uninitialised());
    auto* vertex = reinterpret_cast<ScreenVertex*>(record);
    auto* shading = reinterpret_cast<ShadingRecord*>(record + sizeof(ScreenVertex));
    auto* spare = reinterpret_cast<float*>(shading + 1);
    const float* end = reinterpret_cast<const float*>(record + storage.vertices.record_size());
    // An address reaching into the tag's bits (never, with the usual four
    // levels of page tables) is not kept: the vertex is only not shared.
    if (slot != nullptr && (reinterpret_cast<std::uintptr_t>(vertex) & kTagBits) == 0)
        *slot = reinterpret_cast<std::uintptr_t>(vertex) | tag;
    std::memcpy(&vertex->x, corner.screen, sizeof corner.screen);
    std::memcpy(vertex->normal, corner.eye_normal, sizeof corner.eye_normal);
    std::memcpy(shading->eye, corner.eye, sizeof corner.eye);
    std::memcpy(shading->world, corner.world, sizeof corner.world);
    std::memcpy(shading->normal, corner.normal, sizeof corner.normal);
    shading->u = corner.u;
    shading->v = corner.v;
    shading->texture = nullptr;
    shading->texture_data = nullptr;
    vertex->motion = nullptr;
    vertex->shading = shading;
    // Flags turned on after the object's first vertex find no room: the
    // vertex then goes without that record, as it was made for.
    bool whole = true;
    const auto place = [&](const float* values, std::size_t count) -> float* {
        if (spare + count > end) {
            whole = false;
            return nullptr;
        }
        float* at = spare;
        std::memcpy(at, values, count * sizeof(float));
        spare += count;
        return at;
    };
    if (storage.moving) {
        static_assert(sizeof corner.motion == 15 * sizeof(float));
        vertex->motion = reinterpret_cast<MotionRecord*>(place(corner.motion, 15));
    }
    if (storage.has_texture) shading->texture = place(corner.texture, kTextureFloats);
    if (storage.has_texture_data)
        shading->texture_data = place(corner.texture_data, kTextureDataFloats);
    if (known != nullptr) *known = vertex;
    return remember_last(storage, vertex, corner, whole);
}

ScreenTriangle* new_triangle(ObjectTriangles& storage) {
    // set_up writes every field.
    auto* triangle = static_cast<ScreenTriangle*>(storage.triangles.take_uninitialised());
    triangle->object = storage.object;
    if (storage.last == nullptr) storage.first = triangle;
    storage.last = triangle;
    ++storage.triangle_count;
    return triangle;
}

void count_vertices(ObjectTriangles& storage, const CornerValues* const corners[3]) {
    const bool pending = storage.corners_pending;
    // The last corner counted, kept by address until the triangle's end.
    const CornerValues* last = storage.vertex_count > 0 ? &storage.last_corner : nullptr;
    bool last_pending = storage.last_corner_pending;
    for (int i = 0; i < 3; ++i) {
        const CornerValues& corner = *corners[i];
        if (last != nullptr && same_counted_corner(storage, *last, last_pending, corner, pending))
            continue;
        if (storage.vertex_count == 0) {
            storage.first_corner = corner;
            storage.first_corner_pending = pending;
        }
        ++storage.vertex_count;
        last = &corner;
        last_pending = pending;
    }
    if (last != &storage.last_corner) {
        storage.last_corner = *last;
        storage.last_corner_pending = last_pending;
    }
}

DepthTriangle* new_depth_triangle(ObjectTriangles& storage) {
    ++storage.triangle_count;
    // set_up_depth writes every field.
    return static_cast<DepthTriangle*>(storage.depth_triangles.take_uninitialised());
}

namespace {

void count_made(const ObjectTriangles& storage) {
    if (render_options().quiet) return;
    RenderCounters& counters = render_counters();
    const auto vertices = static_cast<std::int32_t>(storage.vertex_count);
    counters.triangles.fetch_add(storage.triangle_count, std::memory_order_relaxed);
    counters.vertices.fetch_add(vertices, std::memory_order_relaxed);
    if (storage.has_texture) counters.uv_vertices.fetch_add(vertices, std::memory_order_relaxed);
    if (storage.moving) counters.motion_vertices.fetch_add(vertices, std::memory_order_relaxed);
}

void* allocate(std::size_t bytes) {
    void* block = SKY_MALLOC(bytes);
    if (block == nullptr)
        fatal("Error: out of memory: cannot allocate %zu bytes for triangles.\n", bytes);
    return block;
}

void compact_triangles(ObjectTriangles& storage) {
    const std::int32_t count = storage.triangle_count;
    auto* block = static_cast<ScreenTriangle*>(allocate(sizeof(ScreenTriangle) * count));
    std::int32_t i = 0;
    storage.triangles.for_each(
        [&](const void* record) { block[i++] = *static_cast<const ScreenTriangle*>(record); });
    storage.triangles.release();
    storage.compacted = block;
    storage.last = &block[count - 1];
    storage.first = &block[0];
}

// Each old vertex, once copied, keeps the address of its copy in its first
// bytes, for the triangles to follow.
void compact_vertices(ObjectTriangles& storage) {
    const auto n = static_cast<std::size_t>(storage.vertices.count());
    const std::size_t motion_floats = storage.moving ? 15 : 0;
    const std::size_t floats = motion_floats + (storage.has_texture ? kTextureFloats : 0) +
                               (storage.has_texture_data ? kTextureDataFloats : 0);
    const std::size_t bytes =
        n * (sizeof(ScreenVertex) + sizeof(ShadingRecord) + floats * sizeof(float));
    auto* vertices = static_cast<ScreenVertex*>(allocate(bytes));
    auto* shading = reinterpret_cast<ShadingRecord*>(vertices + n);
    auto* spare = reinterpret_cast<float*>(shading + n);
    std::size_t k = 0;
    storage.vertices.for_each([&](void* record) {
        auto* old = static_cast<ScreenVertex*>(record);
        ScreenVertex& v = vertices[k];
        v = *old;
        shading[k] = *old->shading;
        v.shading = &shading[k];
        if (old->motion != nullptr) {
            v.motion = reinterpret_cast<MotionRecord*>(spare);
            std::memcpy(spare, old->motion, sizeof(MotionRecord));
            spare += 15;
        }
        if (old->shading->texture != nullptr) {
            shading[k].texture = spare;
            std::memcpy(spare, old->shading->texture, sizeof(float) * kTextureFloats);
            spare += kTextureFloats;
        }
        if (old->shading->texture_data != nullptr) {
            shading[k].texture_data = spare;
            std::memcpy(spare, old->shading->texture_data, sizeof(float) * kTextureDataFloats);
            spare += kTextureDataFloats;
        }
        ScreenVertex* copy = &v;
        std::memcpy(old, &copy, sizeof copy);
        ++k;
    });
    auto forward = [](ScreenVertex*& p) { std::memcpy(&p, p, sizeof p); };
    for (std::int32_t i = 0; i < storage.triangle_count; ++i) {
        ScreenTriangle* t = &storage.compacted[i];
        forward(t->P0);
        forward(t->P1);
        forward(t->P2);
    }
    storage.vertices.release();
    storage.compacted_vertices = vertices;
    storage.last_vertex = nullptr;
    storage.recent = {};
}

// Objects up to this many triangles are compacted; the copy of a larger
// one costs more time and peak memory than its blocks' unused end.
constexpr std::int32_t kCompactedTriangles = 4096;

}  // namespace

void trim_object_triangles(ObjectTriangles& storage) {
    storage.triangles.trim();
    storage.vertices.trim();
    storage.depth_triangles.trim();
}

void finish_object_triangles(ObjectTriangles& storage) {
    if (storage.finished || storage.triangle_count == 0) return;
    storage.finished = true;
    storage.finish_normals = nullptr;
    count_made(storage);
    storage.recent = {};
    trim_object_triangles(storage);
    if (storage.depth_only || storage.triangle_count > kCompactedTriangles) return;
    compact_triangles(storage);
    compact_vertices(storage);
}

void append_object_triangles(ObjectTriangles& storage, ObjectTriangles& part) {
    if (part.vertex_count > 0) {
        const bool after_vertex =
            storage.depth_only ? storage.vertex_count > 0 : storage.last_vertex != nullptr;
        if (after_vertex &&
            same_counted_corner(storage, last_corner_values(storage), storage.last_corner_pending,
                                part.first_corner, part.first_corner_pending))
            --part.vertex_count;  // made anew only because the part began there
        storage.vertex_count += part.vertex_count;
        storage.last_vertex = part.last_vertex;
        storage.last_corner = part.last_corner;
        storage.last_corner_copied = part.last_corner_copied;
        storage.last_corner_pending = part.last_corner_pending;
        storage.vertices.append(std::move(part.vertices));
    }
    if (part.triangle_count > 0 && storage.depth_only) {
        storage.triangle_count += part.triangle_count;
        storage.depth_triangles.append(std::move(part.depth_triangles));
    } else if (part.triangle_count > 0) {
        if (storage.last == nullptr) storage.first = part.first;
        storage.last = part.last;
        storage.triangle_count += part.triangle_count;
        storage.triangles.append(std::move(part.triangles));
    }
    part.last = part.first = nullptr;
    part.last_vertex = nullptr;
    part.triangle_count = 0;
    part.vertex_count = 0;
    part.recent = {};
}

void clear_object_triangles(ObjectTriangles& storage) {
    if (storage.compacted != nullptr) SKY_FREE(storage.compacted);
    if (storage.compacted_vertices != nullptr) SKY_FREE(storage.compacted_vertices);
    storage.compacted = nullptr;
    storage.compacted_vertices = nullptr;
    storage.vertex_count = 0;
    storage.last = nullptr;
    storage.first = nullptr;
    storage.triangle_count = 0;
    storage.last_vertex = nullptr;
    storage.last_corner_copied = false;
    storage.corners_pending = storage.last_corner_pending = storage.first_corner_pending = false;
    storage.finished = false;
    storage.bins = {};
    storage.recent = {};
    storage.triangles.release();
    storage.vertices.release();
    storage.depth_triangles.release();
}

std::mutex& holders_lock() {
    static std::mutex lock;
    return lock;
}

void free_object_triangles(const void* holder, ObjectTriangles& storage) {
    bool last = false;
    {
        std::lock_guard lock(holders_lock());
        auto found = std::find(storage.holders.begin(), storage.holders.end(), holder);
        if (found == storage.holders.end()) fatal("Logic error in RR_free_object_triangles\n");
        storage.holders.erase(found);
        last = storage.holders.empty();
    }
    if (last) clear_object_triangles(storage);
}

}  // namespace sky
