// Lists that pack their constants.
//
// A big polyset is mostly numbers: a vertex written as
// (cv((x, y, z), w), st(s, t), norm(a, b, c)) spells a dozen expression nodes
// for nine floats. While every item of a list is a constant of the list's
// shape, its floats are appended to a flat array and the node arena is
// rewound to where the item began, so the nodes are reused by the next item
// and a list costs its numbers. The first item that is not a constant (a
// variable, an expression, another shape) turns the list back into nodes,
// rebuilding literals for the items packed so far.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/fatal.h"
#include "platform/memory.h"
#include "sdl/builder.h"
#include "sdl/lexer.h"
#include "sdl/parse_helper.h"
#include "sdl/pool.h"

namespace sky {

namespace {

// The numbers of a list being packed, in tracked memory. It grows by
// realloc, which moves a big block by remapping its pages rather than
// copying them, and a big block goes whole to the front end's pool when the
// list is finished.
template <typename T>
class FlatArray {
public:
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T* data() { return reinterpret_cast<T*>(block_.data()); }
    const T* data() const { return reinterpret_cast<const T*>(block_.data()); }
    T& operator[](std::size_t i) { return data()[i]; }
    const T& operator[](std::size_t i) const { return data()[i]; }
    T back() const { return data()[size_ - 1]; }

    void push_back(T value) {
        if (size_ == capacity_) grow(size_ + 1);
        data()[size_++] = value;
    }
    void append(const T* values, std::size_t count) {
        if (count == 0) return;
        if (size_ + count > capacity_) grow(size_ + count);
        std::memcpy(data() + size_, values, count * sizeof(T));
        size_ += count;
    }
    void append(const std::vector<T>& values) { append(values.data(), values.size()); }
    // Room for `count` more, filled by the caller (from any thread, before
    // the array grows again).
    T* extend(std::size_t count) {
        if (size_ + count > capacity_) grow(size_ + count);
        size_ += count;
        return data() + size_ - count;
    }
    void release() {
        block_.release();
        size_ = capacity_ = 0;
    }

    // The numbers, for as long as the pool lives; null when there are none.
    const T* keep_in_pool() {
        if (size_ == 0) return nullptr;
        const std::size_t bytes = size_ * sizeof(T);
        if (bytes < kOwnBlock) {
            auto* copy = static_cast<T*>(sdl_pool().allocate(bytes, alignof(T)));
            std::memcpy(copy, data(), bytes);
            release();
            return copy;
        }
        block_.resize(bytes, __LINE__, __FILE__);  // shrinking keeps the block
        auto* kept = sdl_pool().make<TrackedBlock>();
        *kept = std::move(block_);
        size_ = capacity_ = 0;
        return reinterpret_cast<const T*>(kept->data());
    }

private:
    // Arrays from this size on keep their own block rather than a copy.
    static constexpr std::size_t kOwnBlock = 64 * 1024;

    void grow(std::size_t needed) {
        std::size_t capacity = std::max({needed, capacity_ * 2, std::size_t{64}});
        if (!block_.resize(capacity * sizeof(T), __LINE__, __FILE__))
            fatal("out of memory reading the scene\n");
        capacity_ = capacity;
    }

    TrackedBlock block_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace

// Whether `item` is a constant of `shape`; if so its floats go to `out`
// (at most 9) and their count to `stride` (constant_fold.cpp).
bool fold_constant(const Expr* item, PackShape shape, float* out, int* stride);

struct PackingList {
    PackShape shape;
    bool packed = true;
    int stride = 0;
    std::int32_t count = 0;
    FlatArray<float> floats;
    // Polygons: index lists and shader slots; offsets start with a 0 when the
    // first polygon comes.
    FlatArray<std::int32_t> offsets;
    FlatArray<std::int32_t> vertices, texture_vertices, normals, shaders;
    int index_lists = 0;         // how many index lists the polygons carry (1 to 3)
    ExprChain* nodes = nullptr;  // once unpacked
    ExprArenaMark mark{};
    bool has_mark = false;
};

namespace {

// Packing lists are heap objects owned here until finished; a parse that
// abandons one (error recovery) leaves it to the end of the run.
std::vector<std::unique_ptr<PackingList>>& live_lists() {
    static std::vector<std::unique_ptr<PackingList>> lists;
    return lists;
}

void release(PackingList* list) {
    auto& lists = live_lists();
    for (auto it = lists.rbegin(); it != lists.rend(); ++it)
        if (it->get() == list) {
            *it = std::move(lists.back());
            lists.pop_back();
            return;
        }
}

Expr* literal_node(float value, std::int32_t line) {
    return make_scalar_literal(value, line);
}

// The nodes of an item whose `stride` floats are `f` (the shape's
// constructor of literals).
Expr* item_nodes(PackShape shape, int stride, const float* f, std::int32_t line) {
    auto lit = [&](int k) { return literal_node(f[k], line); };
    switch (shape) {
        case PACK_SCALAR:
            return lit(0);
        case PACK_CV:
            return make_cv(make_triple(lit(0), lit(1), lit(2), line), lit(3), line);
        case PACK_ST:
            return make_st(lit(0), lit(1), line);
        case PACK_NORMAL:
            return make_normal(lit(0), lit(1), lit(2), line);
        case PACK_COLOUR:
            return make_colour(lit(0), lit(1), lit(2), line);
        case PACK_VERTEX: {
            Expr* cv = make_cv(make_triple(lit(0), lit(1), lit(2), line), lit(3), line);
            Expr* st = stride >= 6 ? make_st(lit(4), lit(5), line) : nullptr;
            Expr* norm = stride == 9 ? make_normal(lit(6), lit(7), lit(8), line) : nullptr;
            return make_vertex(cv, st, norm, line);
        }
        case PACK_POLYGON:
            break;
    }
    return nullptr;
}

// The nodes of a polygon: a list of its three index lists (empty ones for
// lists it does not have, of `n` entries each) and its shader slot.
Expr* polygon_nodes(const std::int32_t* const* index_lists, int lists, std::int32_t n,
                    std::int32_t shader, std::int32_t line) {
    Expr* parts[4];
    for (int k = 0; k < 3; ++k) {
        ExprChain* chain = nullptr;
        if (k < lists)
            for (std::int32_t i = 0; i < n; ++i) {
                Expr* index = literal_node(static_cast<float>(index_lists[k][i]), line);
                chain = chain ? chain_append(chain, index) : chain_start(index);
            }
        parts[k] = chain_to_list(chain, line);
    }
    parts[3] = literal_node(static_cast<float>(shader), line);
    for (int k = 0; k < 3; ++k) parts[k]->next = parts[k + 1];
    parts[3]->next = nullptr;
    return make_list(parts[0], line);
}

Expr* rebuild_polygon(const PackingList& list, std::int32_t i, std::int32_t line) {
    const auto from = static_cast<std::size_t>(list.offsets[static_cast<std::size_t>(i)]);
    const std::int32_t* lists[3] = {
        list.vertices.data() + from,
        list.index_lists >= 2 ? list.texture_vertices.data() + from : nullptr,
        list.index_lists >= 3 ? list.normals.data() + from : nullptr};
    const std::int32_t n =
        list.offsets[static_cast<std::size_t>(i) + 1] - list.offsets[static_cast<std::size_t>(i)];
    return polygon_nodes(lists, list.index_lists, n, list.shaders[static_cast<std::size_t>(i)],
                         line);
}

void unpack(PackingList* list, std::int32_t line) {
    list->packed = false;
    for (std::int32_t i = 0; i < list->count; ++i) {
        Expr* node =
            list->shape == PACK_POLYGON
                ? rebuild_polygon(*list, i, line)
                : item_nodes(list->shape, list->stride,
                             list->floats.data() + static_cast<std::size_t>(i) * list->stride,
                             line);
        list->nodes = list->nodes ? chain_append(list->nodes, node) : chain_start(node);
    }
    list->floats.release();
}

// A polygon whose index lists are all numbers is handed from make_polygon to
// the polygon list through this buffer instead of through nodes and pool
// records: the list takes it at once (a polygon is only ever an item of a
// polygon list), and the marker node left in its place is rewound away.
struct PendingPolygon {
    std::vector<std::int32_t> index_lists[3];
    int lists = 0;
    std::int32_t shader = -1;
};
PendingPolygon pending_polygon;

bool evaluate_nothing(Expr*, void*) {
    return false;
}
const ExprKind kPendingPolygonKind = {"polygon", 0, evaluate_nothing};

bool fold_polygon(PackingList* list, const Expr* polygon) {
    if (polygon->kind != &kPendingPolygonKind) return false;
    const PendingPolygon& p = pending_polygon;
    if (list->count > 0 && p.lists != list->index_lists) return false;
    // Packed lists share the vertex list's offsets: lists of other lengths
    // stay nodes, for the definition to report.
    for (int k = 1; k < p.lists; ++k)
        if (p.index_lists[k].size() != p.index_lists[0].size()) return false;
    list->index_lists = p.lists;
    if (list->offsets.empty()) list->offsets.push_back(0);
    list->vertices.append(p.index_lists[0]);
    if (p.lists >= 2) list->texture_vertices.append(p.index_lists[1]);
    if (p.lists >= 3) list->normals.append(p.index_lists[2]);
    list->offsets.push_back(static_cast<std::int32_t>(list->vertices.size()));
    list->shaders.push_back(p.shader);
    return true;
}

// The nodes of the pending polygon, for a list that cannot stay packed.
Expr* pending_polygon_nodes(std::int32_t line) {
    const PendingPolygon& p = pending_polygon;
    Expr* parts[4];
    for (int k = 0; k < 3; ++k) {
        ExprChain* chain = nullptr;
        if (k < p.lists)
            for (std::int32_t index : p.index_lists[k]) {
                Expr* node = make_scalar_literal(index, line);
                chain = chain ? chain_append(chain, node) : chain_start(node);
            }
        parts[k] = chain_to_list(chain, line);
    }
    parts[3] = make_scalar_literal(p.shader, line);
    for (int k = 0; k < 3; ++k) parts[k]->next = parts[k + 1];
    parts[3]->next = nullptr;
    return make_list(parts[0], line);
}

}  // namespace

void forget_packing_lists() {
    live_lists().clear();
}

const ExprKind kPackedPolygonsKind = {"polygons", 0, evaluate_nothing};

PackingList* packing_start(PackShape shape) {
    auto& lists = live_lists();
    lists.push_back(std::make_unique<PackingList>());
    lists.back()->shape = shape;
    return lists.back().get();
}

PackingList* packing_append(PackingList* list, Expr* item) {
    if (list == nullptr || item == nullptr) return list;
    std::int32_t line = item->line;
    if (list->packed) {
        bool folded = false;
        if (list->shape == PACK_POLYGON) {
            folded = fold_polygon(list, item);
        } else {
            float values[9];
            int stride = 0;
            if (fold_constant(item, list->shape, values, &stride) &&
                (list->count == 0 || stride == list->stride)) {
                list->stride = stride;
                list->floats.append(values, static_cast<std::size_t>(stride));
                folded = true;
            }
        }
        if (folded) {
            ++list->count;
            // The item's nodes are no longer needed: reuse them for the next
            // item. The first item stays (there is no mark before it).
            if (list->has_mark) expr_arena_rewind(list->mark);
            list->mark = expr_arena_mark();
            list->has_mark = true;
            return list;
        }
        unpack(list, line);
    }
    if (item->kind == &kPendingPolygonKind) item = pending_polygon_nodes(line);
    item->next = nullptr;
    list->nodes = list->nodes ? chain_append(list->nodes, item) : chain_start(item);
    ++list->count;
    return list;
}

namespace {

// Whether the run's items can join the list's floats as they are.
bool run_fits(const PackingList& list, const ListRun& run) {
    if (!list.packed || run.shape != list.shape) return false;
    if (list.count == 0) return true;
    return list.shape == PACK_POLYGON ? run.index_lists == list.index_lists
                                      : run.stride == list.stride;
}

// Where the parts of a run read in pieces go in a list's arrays, made room
// for at once, so that the parse's helper can copy some of them (and take
// the first touch of their pages) while this thread copies the others.
struct PartsCopy {
    struct Part {
        const ListRun* run;
        std::size_t floats, indices, polygons;  // where its items start in the arrays
        std::int32_t offset;                    // the offset before its first polygon
    };
    Part parts[kRunPieces + 1];
    int count = 0;
    float* floats = nullptr;
    std::int32_t* lists[3] = {};
    std::int32_t* offsets = nullptr;
    std::int32_t* shaders = nullptr;
    // Both threads take parts from here until none is left, so that a
    // helper that begins late only takes fewer.
    std::atomic<int> next{0};
};

void copy_part(const PartsCopy& copy, const PartsCopy::Part& part) {
    const ListRun& run = *part.run;
    if (run.shape != PACK_POLYGON) {
        std::memcpy(copy.floats + part.floats, run.floats.data(),
                    run.floats.size() * sizeof(float));
        return;
    }
    for (int k = 0; k < run.index_lists; ++k)
        std::memcpy(copy.lists[k] + part.indices, run.indices[k].data(),
                    run.indices[k].size() * sizeof(std::int32_t));
    std::int32_t offset = part.offset;
    std::int32_t* offsets = copy.offsets + part.polygons;
    for (std::int32_t size : run.sizes) *offsets++ = offset += size;
    std::memcpy(copy.shaders + part.polygons, run.shaders.data(),
                run.shaders.size() * sizeof(std::int32_t));
}

void copy_parts(void* context) {
    auto& copy = *static_cast<PartsCopy*>(context);
    for (int i; (i = copy.next.fetch_add(1, std::memory_order_relaxed)) < copy.count;)
        copy_part(copy, copy.parts[i]);
}

// Bytes of a part's items.
std::size_t part_bytes(const ListRun& run) {
    return run.floats.size() * sizeof(float) +
           (run.indices[0].size() * static_cast<std::size_t>(run.index_lists) +
            run.sizes.size() * 2) *
               sizeof(std::int32_t);
}

// A run shorter than this is copied on this thread alone: waking the helper
// would cost more than it saves.
constexpr std::size_t kSharedCopy = std::size_t{256} << 10;

void append_packed_run(PackingList& list, const ListRun& run) {
    PartsCopy copy;
    std::size_t floats = 0, indices = 0, polygons = 0, bytes = 0;
    for (const ListRun* part = &run; part != nullptr; part = part->next) {
        if (part->count == 0) continue;
        copy.parts[copy.count++] = {part, floats, indices, polygons, 0};
        floats += part->floats.size();
        indices += part->indices[0].size();
        polygons += part->sizes.size();
        bytes += part_bytes(*part);
    }
    if (copy.count == 0) return;
    const ListRun& form = *copy.parts[0].run;
    if (form.shape != PACK_POLYGON) {
        list.stride = form.stride;
        copy.floats = list.floats.extend(floats);
    } else {
        list.index_lists = form.index_lists;
        FlatArray<std::int32_t>* lists[3] = {&list.vertices, &list.texture_vertices, &list.normals};
        for (int k = 0; k < form.index_lists; ++k) copy.lists[k] = lists[k]->extend(indices);
        if (list.offsets.empty()) list.offsets.push_back(0);
        const std::int32_t first = list.offsets.back();
        copy.offsets = list.offsets.extend(polygons);
        copy.shaders = list.shaders.extend(polygons);
        for (int i = 0; i < copy.count; ++i)
            copy.parts[i].offset = first + static_cast<std::int32_t>(copy.parts[i].indices);
    }
    ParseHelper* helper = copy.count > 1 && bytes >= kSharedCopy ? parse_helper() : nullptr;
    const bool shared = helper != nullptr && helper->start(copy_parts, &copy);
    copy_parts(&copy);
    // Every part is copied by now, or is being copied by the helper.
    if (shared) helper->finish();
}

}  // namespace

PackingList* packing_append_run(PackingList* list, ListRun* run, std::int32_t line) {
    if (list == nullptr || run == nullptr) return list;
    // A run read in pieces is its own items and those of the pieces chained
    // to it, all of one form.
    const ListRun* form = run;
    while (form->count == 0 && form->next != nullptr) form = form->next;
    if (run_fits(*list, *form)) {
        append_packed_run(*list, *run);
        list->count += run_item_count(*run);
        // Nothing was built for these items; the nodes of the next item that
        // folds are given back from here.
        list->mark = expr_arena_mark();
        list->has_mark = true;
    } else {
        // A list already turned into nodes, or items of another form than
        // the list's: each item goes in as the nodes the grammar builds.
        for (const ListRun* part = run; part != nullptr; part = part->next) {
            std::size_t at = 0;
            for (std::int32_t i = 0; i < part->count; ++i) {
                Expr* item;
                if (part->shape == PACK_POLYGON) {
                    const std::int32_t n = part->sizes[static_cast<std::size_t>(i)];
                    const std::int32_t* lists[3] = {part->indices[0].data() + at,
                                                    part->indices[1].data() + at,
                                                    part->indices[2].data() + at};
                    item = polygon_nodes(lists, part->index_lists, n,
                                         part->shaders[static_cast<std::size_t>(i)], line);
                    at += static_cast<std::size_t>(n);
                } else {
                    item = item_nodes(
                        part->shape, part->stride,
                        part->floats.data() + static_cast<std::size_t>(i) * part->stride, line);
                }
                packing_append(list, item);
            }
        }
    }
    run->clear();
    return list;
}

Expr* packing_finish(PackingList* list, std::int32_t line) {
    if (list == nullptr) return make_list(nullptr, line);
    Expr* result;
    if (!list->packed) {
        result = chain_to_list(list->nodes, line);
    } else if (list->shape == PACK_POLYGON) {
        auto* polygons = sdl_pool().make<PackedPolygons>();
        polygons->count = list->count;
        if (list->offsets.empty()) list->offsets.push_back(0);
        polygons->offsets = list->offsets.keep_in_pool();
        polygons->vertices = list->vertices.keep_in_pool();
        polygons->texture_vertices =
            list->index_lists >= 2 ? list->texture_vertices.keep_in_pool() : nullptr;
        polygons->normals = list->index_lists >= 3 ? list->normals.keep_in_pool() : nullptr;
        polygons->shaders = list->shaders.keep_in_pool();
        result = allocate_node();
        result->kind = &kPackedPolygonsKind;
        result->payload = polygons;
        result->line = line;
    } else {
        PackedList packed;
        packed.count = list->count;
        packed.stride = list->stride;
        packed.data = list->floats.keep_in_pool();
        static constexpr std::int32_t kItemType[] = {SDL_SCALAR, SDL_CV,     SDL_ST,
                                                     SDL_NORMAL, SDL_COLOUR, SDL_NO_TYPE};
        packed.item_type = kItemType[list->shape];
        result = make_packed_list(packed, line);
    }
    release(list);
    return result;
}

Expr* make_vertex(Expr* cv, Expr* st, Expr* normal, std::int32_t line) {
    cv->next = st ? st : normal;
    if (st) st->next = normal;
    if (normal) normal->next = nullptr;
    return make_list(cv, line);
}

namespace {

// The numbers of a packed scalar list, or false.
bool take_indices(PackingList* list, std::vector<std::int32_t>& out) {
    out.clear();
    if (list == nullptr || !list->packed || (list->count > 0 && list->stride != 1)) return false;
    for (std::size_t i = 0; i < list->floats.size(); ++i)
        out.push_back(list_index(list->floats[i]));
    return true;
}

}  // namespace

Expr* make_polygon(PackingList* vertices, PackingList* st, PackingList* normals,
                   std::int32_t shader, std::int32_t line) {
    PendingPolygon& p = pending_polygon;
    p.lists = normals ? 3 : st ? 2 : 1;
    p.shader = shader;
    bool numbers = take_indices(vertices, p.index_lists[0]) &&
                   (!st || take_indices(st, p.index_lists[1])) &&
                   (!normals || take_indices(normals, p.index_lists[2]));
    if (numbers) {
        for (PackingList* list : {vertices, st, normals})
            if (list) release(list);
        Expr* marker = allocate_node();
        marker->kind = &kPendingPolygonKind;
        marker->line = line;
        return marker;
    }
    Expr* parts[4] = {packing_finish(vertices, line),
                      st ? packing_finish(st, line) : make_list(nullptr, line),
                      normals ? packing_finish(normals, line) : make_list(nullptr, line),
                      make_scalar_literal(shader, line)};
    for (int k = 0; k < 3; ++k) parts[k]->next = parts[k + 1];
    parts[3]->next = nullptr;
    return make_list(parts[0], line);
}

}  // namespace sky
