// Screen triangles: what tessellation leaves behind for the samplers. Each
// render object keeps its own triangles, vertices, motion and shading
// records, made in blocks so that a triangle costs no heap call, and freed
// when the last tile that holds the object lets it go.
//
// Coordinate spaces: eye (the camera at the origin looking down −z), world,
// and screen (pixels, x to the right, y up). Screen depth is the projective
// depth P[10] + P[14]/z of the eye z (the eye z itself for orthographic
// cameras): it is linear across the screen triangle, and it grows toward the
// eye, so of two hits the larger depth is the nearer one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/large_blocks.h"

namespace sky {

struct RenderObject;

// A large object's triangles binned by tile: made afresh each pass, tens
// of megabytes for a large mesh, so from the pool of large blocks.
template <typename Triangle>
using BinnedList = std::vector<const Triangle*, LargeBlockAllocator<const Triangle*>>;

// Surface attributes for shading, in the eleven floats the shading models
// read, then the optional records.
struct ShadingRecord {
    float eye[3];     // eye-space position
    float world[3];   // world position
    float normal[3];  // world-space unit normal
    float u, v;       // surface parameters (texture coordinates for polysets)
    // Texture coordinates, when the object carries them (two floats).
    float* texture;
    // Further texture data, when the object carries it: object-space
    // position (solid textures follow the object), vertex colour, and 1 when
    // the colour was given.
    float* texture_data;
};
static_assert(offsetof(ShadingRecord, v) == 10 * sizeof(float));

inline constexpr int kTextureFloats = 2;
inline constexpr int kTextureDataFloats = 7;

// How a vertex moves over the shutter interval. The vertex records the frame
// position; open = frame − to_frame, close = frame + to_close. The other
// values change linearly from open to close by the amounts given.
struct MotionRecord {
    float to_frame[3];  // eye space: shutter open to the frame position
    float to_close[3];  // eye space: the frame position to shutter close
    float world[3];     // world position, open to close
    float normal[3];    // world normal, open to close
    float texture[2];   // texture coordinates, open to close
    float unused;
};
static_assert(sizeof(MotionRecord) == 15 * sizeof(float));

struct ScreenVertex {
    float x, y, z;         // screen position and depth
    float normal[3];       // eye-space unit normal
    MotionRecord* motion;  // null unless the object moves
    ShadingRecord* shading;
};

struct ScreenTriangle {
    ScreenVertex* P0;
    ScreenVertex* P1;
    ScreenVertex* P2;
    float x0, y0;  // screen position of P0
    float z0;
    float a, b;  // (x1 − x0)/D, (y1 − y0)/D
    float dz1;   // z1 − z0
    float c, d;  // (x2 − x0)/D, (y2 − y0)/D
    float dz2;   // z2 − z0
    // The screen rows (trunc of y, as bucket entry projects them) its
    // corners lie in, made with the triangle so that binning need not
    // read its vertices again: clamped to −1 .. kRowsKept (no row of a
    // tile lies outside that, unless the image is taller), and both
    // kRowsUnknown for a moving object's triangle. They sit where the
    // record had room to spare. Most triangles of a dense mesh reach no
    // more than two rows and two columns of cells: such a triangle keeps
    // its cells there instead (SmallCells), so that bucket entry need not
    // read its vertices either. Read them through triangle_rows.
    std::int16_t row_first, row_last;
    RenderObject* object;
};
inline constexpr std::int16_t kRowsKept = INT16_MAX;
inline constexpr std::int16_t kRowsUnknown = INT16_MIN;

// The cells bucket entry gives a small still triangle, in screen
// coordinates: row `row`, and `row + 1` when `two_rows`; in row `row + k`,
// from column `column` on, what `reach[k]` names: 0 that column alone, 1
// the next one alone, 2 both. Kept in a triangle's row fields as
// row_first = row (+ kTwoRows) and row_last = −2 − (9 column + reach[0] +
// 3 reach[1]), which a triangle's rows never are.
struct SmallCells {
    std::int32_t row, column;
    bool two_rows;
    std::uint8_t reach[2];
};
inline constexpr std::int32_t kSmallCellRows = 16384;
inline constexpr std::int32_t kSmallCellColumns = 3640;
inline constexpr std::int32_t kTwoRows = kSmallCellRows;

// Whether `cells` fits the triangle's row fields.
inline bool fits_small_cells(const SmallCells& cells) {
    return cells.row >= 0 && cells.row < kSmallCellRows && cells.column >= 0 &&
           cells.column < kSmallCellColumns && cells.reach[0] <= 2 && cells.reach[1] <= 2;
}
inline void keep_small_cells(ScreenTriangle& t, const SmallCells& cells) {
    t.row_first = static_cast<std::int16_t>(cells.row + (cells.two_rows ? kTwoRows : 0));
    t.row_last =
        static_cast<std::int16_t>(-2 - (9 * cells.column + cells.reach[0] + 3 * cells.reach[1]));
}
inline bool has_small_cells(const ScreenTriangle& t) {
    return t.row_last < -1 && t.row_first != kRowsUnknown;
}
inline bool small_cells(const ScreenTriangle& t, SmallCells& cells) {
    if (!has_small_cells(t)) return false;
    const std::int32_t code = -2 - t.row_last;
    cells.row = t.row_first & (kTwoRows - 1);
    cells.two_rows = (t.row_first & kTwoRows) != 0;
    cells.column = code / 9;
    cells.reach[0] = static_cast<std::uint8_t>(code % 9 % 3);
    cells.reach[1] = static_cast<std::uint8_t>(code % 9 / 3);
    return true;
}
// The screen rows kept with the triangle, or false (a moving triangle's).
inline bool triangle_rows(const ScreenTriangle& t, std::int32_t& first, std::int32_t& last) {
    if (t.row_first == kRowsUnknown) return false;
    SmallCells cells;
    if (small_cells(t, cells)) {
        first = cells.row, last = cells.row + (cells.two_rows ? 1 : 0);
        return true;
    }
    first = t.row_first, last = t.row_last;
    return true;
}
static_assert(sizeof(ScreenTriangle) == 3 * sizeof(void*) + 10 * sizeof(float) + sizeof(void*));

// A triangle of a depth-only pass (a shadow map), which only asks how far
// the surfaces are at each texel centre: no vertices, no shading records.
// The set-up is a screen triangle's, from the same corners.
struct DepthTriangle {
    float x0, y0;
    float z0;
    float a, b;
    float dz1;
    float c, d;
    float dz2;
    // The screen rows (trunc of y) its corners lie in: bucket entry never
    // reaches a row outside them.
    std::int32_t row_first, row_last;
    // The columns of its cell box (cell_box on the screen's own grid), or
    // first > last when its corners have none: most triangles of a map go
    // into their box, which then needs no projection per tile.
    std::int32_t column_first, column_last;
    // The eye-space corners P0, P1, P2, for the tiles that enter the
    // triangle by its spans; left unwritten when its box is small enough
    // to be entered whole (small_centre_box), as most are. Last, so that
    // what every tile reads comes first.
    float eye[3][3];
};

// Where the screen point (x, y) falls on a triangle (a ScreenTriangle or a
// DepthTriangle): its weights s (of P1) and t (of P2) and the depth there;
// false when the point lies outside the closed triangle.
struct TriangleHit {
    float s, t, depth;
};
// Whether the weights s and t put the point inside the closed triangle,
// without a branch: which triangles of a list cover a point is anybody's
// guess. A NaN weight fails; s ≤ 1 and t ≤ 1 need no comparison, as with
// both at least 0 their rounded sum is at least either, and at most 1.
inline bool weights_inside(float s, float t) {
    return (s >= 0.0f) & (t >= 0.0f) & !(s + t > 1.0f);
}
template <typename Triangle>
inline bool hit_triangle(const Triangle& triangle, float x, float y, TriangleHit& hit) {
    const float u = x - triangle.x0, v = y - triangle.y0;
    hit.s = u * triangle.d - v * triangle.c;
    hit.t = v * triangle.a - u * triangle.b;
    if (!weights_inside(hit.s, hit.t)) return false;
    hit.depth = triangle.z0 + hit.s * triangle.dz1 + hit.t * triangle.dz2;
    return true;
}

inline constexpr int kTriangleBlockRecords = 625;
inline constexpr int kVertexBlockRecords = 51;
inline constexpr int kMotionBlockRecords = 68;
// A large object's blocks grow: each block holds twice the records of the
// one before, up to this many bytes. A mesh of a million triangles then
// costs a few hundred block calls instead of tens of thousands, and its
// blocks come from the pool of large blocks (platform/large_blocks.h).
inline constexpr std::size_t kLargestRecordBlock = std::size_t{16} << 20;

// Records of one size handed out from blocks chained through their headers.
class RecordBlocks {
public:
    RecordBlocks(std::size_t record_size, int per_block);
    ~RecordBlocks();
    RecordBlocks(const RecordBlocks&) = delete;
    RecordBlocks& operator=(const RecordBlocks&) = delete;

    void* take();  // zeroed
    // For a caller that writes every byte of the record at once. Inline
    // while the block has room: a mesh takes a record per triangle and
    // per vertex.
    void* take_uninitialised() {
        if (current_ == nullptr || used_ == current_->capacity) [[unlikely]]
            start_block();
        std::uint8_t* record = reinterpret_cast<std::uint8_t*>(current_ + 1) +
                               record_size_ * static_cast<std::size_t>(used_++);
        current_->used = used_;
        ++count_;
        return record;
    }
    void release();
    std::int64_t count() const { return count_; }
    std::size_t record_size() const { return record_size_; }
    // Only while no record is taken.
    void set_record_size(std::size_t bytes);
    // The first block made from now on holds at least `records` (up to the
    // largest block): for a caller that knows roughly how many it needs.
    void expect(std::int64_t records);
    // Takes over the records of `other`, after this one's.
    void append(RecordBlocks&& other);
    // Gives the unused end of the newest block back (a large block's whole
    // pages), for blocks that are complete: the next block made anywhere
    // may then take its place. Taking a record afterwards starts a block.
    void trim();

    // Every record, the last taken first.
    template <typename F>
    void for_each_reversed(F&& visit) const {
        for (const Block* block = current_; block != nullptr; block = block->previous) {
            auto* first = reinterpret_cast<std::uint8_t*>(const_cast<Block*>(block) + 1);
            for (std::int64_t i = block->used - 1; i >= 0; --i)
                visit(first + record_size_ * static_cast<std::size_t>(i));
        }
    }

    // Every record, in the order taken.
    template <typename F>
    void for_each(F&& visit) const {
        std::int64_t left = count_;
        for (const Block* block = first_; block != nullptr && left > 0; block = block->next) {
            auto* record = reinterpret_cast<std::uint8_t*>(const_cast<Block*>(block) + 1);
            for (std::int64_t i = 0; i < block->used && left > 0;
                 ++i, --left, record += record_size_)
                visit(record);
        }
    }

private:
    // A new block after the current one, which is full (or none).
    void start_block();

    struct alignas(16) Block {
        Block* next;
        Block* previous;
        std::int64_t capacity;  // records
        std::int64_t used;      // records taken (below capacity only in the last block
                                // or where blocks were appended)
    };
    Block* first_ = nullptr;
    Block* current_ = nullptr;
    std::size_t record_size_;
    int per_block_;
    std::int64_t used_ = 0;  // records taken from the current block
    std::int64_t count_ = 0;
    std::int64_t expected_ = 0;
};

// A triangle corner on its way to the screen: everything a vertex records,
// unpacked so that splitting and clipping can interpolate every value alike.
struct CornerValues {
    float screen[3];  // x, y, depth
    float eye[3];
    float eye_normal[3];
    float world[3];
    float normal[3];  // world
    float u, v;
    float texture[kTextureFloats];
    float texture_data[kTextureDataFloats];
    float motion[15];  // a MotionRecord's floats
};

// The triangles and vertices of one render object for the current pass.
struct ObjectTriangles {
    explicit ObjectTriangles(RenderObject* owner);
    ~ObjectTriangles();
    ObjectTriangles(const ObjectTriangles&) = delete;
    ObjectTriangles& operator=(const ObjectTriangles&) = delete;

    RenderObject* object;
    // What the object's vertices carry.
    bool moving = false;
    bool has_texture = false;
    bool has_texture_data = false;
    // Polysets give hard edges by repeating a position with another normal:
    // only an exactly equal normal may share a vertex there.
    bool exact_normals = false;
    // Made for a depth-only pass: depth triangles instead of screen
    // triangles and vertices (the vertices are still counted).
    bool depth_only = false;
    // A depth-only object's vertices are counted only for the statistics;
    // without them its corners need nothing but their eye and screen
    // positions.
    bool counts_vertices = true;

    // The newest triangle. The triangles sit in the order made in the
    // blocks of `triangles`, or after compaction in `compacted`.
    ScreenTriangle* last = nullptr;
    ScreenTriangle* first = nullptr;  // the oldest
    std::int32_t triangle_count = 0;
    ScreenTriangle* compacted = nullptr;
    // Counted and, when small, compacted: the object is complete.
    bool finished = false;

    // After compaction the vertices and their records sit in one block:
    // the vertices first, one per record of `vertices`.
    ScreenVertex* compacted_vertices = nullptr;
    // Vertices made by the sharing rule (a vertex entered right after an
    // identical one is shared), as the statistics count them; an object
    // with exact normals may hold fewer records (see `recent`).
    std::int64_t vertex_count = 0;

    RecordBlocks triangles{sizeof(ScreenTriangle), kTriangleBlockRecords};
    // A vertex is made with its shading record and whatever further records
    // the object's vertices carry (motion, texture coordinates, texture
    // data), side by side in one record of `vertices`: one block call for
    // all of them, and the samplers find them together.
    RecordBlocks vertices{sizeof(ScreenVertex) + sizeof(ShadingRecord), kVertexBlockRecords};
    // Of a depth-only object, in the order made.
    RecordBlocks depth_triangles{sizeof(DepthTriangle), kTriangleBlockRecords};

    // The vertex entered last, for sharing. Its record holds every value
    // the sharing rule compares, unless it lacks a record the object's
    // flags ask for: only then is its corner kept in `last_corner` too
    // (`last_corner_copied`). A depth-only object keeps its last corner
    // there always.
    ScreenVertex* last_vertex = nullptr;
    CornerValues last_corner{};
    bool last_corner_copied = false;
    // The corner of the first vertex asked for, which the vertex entered
    // before it might have shared when the object is made in parts.
    CornerValues first_corner{};
    // A depth-only object's corners may come without their normals, which
    // only the vertex count needs, and only where two corners agree in
    // everything else: such a corner's `normal` holds the object-space
    // normal, which finish_normals(finish_context, corner) turns into the
    // corner's normals when they are compared. Whether the corners being
    // entered, the last and the first are such corners:
    bool corners_pending = false, last_corner_pending = false, first_corner_pending = false;
    void (*finish_normals)(const void* context, CornerValues& corner) = nullptr;
    const void* finish_context = nullptr;
    // A mesh enters each of its vertices once for every polygon around it.
    // Where normals must match exactly, a vertex identical in every value
    // to one made earlier can be shared wherever it was made: these are
    // the vertices made lately, by a hash of their values, once the object
    // is large enough for it to pay.
    // Each address carries the top bits of the hash of its vertex's values
    // in its own unused top bits, so that a vertex that differs is passed
    // over without reading its record (mostly out of the cache), and the
    // table stays as small as one of bare addresses.
    std::vector<std::uint64_t> recent;

    // The tiles whose lists name this object; guarded by holders_lock().
    std::vector<const void*> holders;

    // For a large object, the triangles each holder's bucket grid can
    // reach, so that entering a tile need not walk the whole object. Each
    // list keeps the object's own order. Made once the object is complete.
    struct TileBins {
        std::vector<const void*> tiles;
        std::vector<std::size_t> first;  // per tile, then the end
        BinnedList<ScreenTriangle> triangles;
        BinnedList<DepthTriangle> depth;  // instead, for a depth-only object
        // An object made in parts keeps its parts' bins (for the same
        // tiles) instead of lists of its own, in the order its triangles
        // are walked: a tile reads them one after another. Copying them
        // into one list would keep the other workers waiting for the
        // object while its owner alone copied.
        std::vector<TileBins> parts;
    } bins;
};

// Calls walk(begin, end) on each piece of tile `k`'s list (`list`: the
// `triangles` or the `depth` lists) in order: one piece, or one per part.
template <typename Triangle, typename Walk>
void for_each_bin_piece(const ObjectTriangles::TileBins& bins, std::size_t k,
                        BinnedList<Triangle> ObjectTriangles::TileBins::*list, Walk&& walk) {
    if (bins.parts.empty()) {
        const BinnedList<Triangle>& own = bins.*list;
        walk(own.data() + bins.first[k], own.data() + bins.first[k + 1]);
        return;
    }
    for (const ObjectTriangles::TileBins& part : bins.parts) {
        const BinnedList<Triangle>& own = part.*list;
        walk(own.data() + part.first[k], own.data() + part.first[k + 1]);
    }
}

// Appends a vertex for `corner`, or returns the last one when `corner` is
// identical to it. `known`, when given, names the vertex stored earlier in
// this object for a corner identical to `corner` in every value (null when
// there is none yet); a mesh's vertex met again then takes it without a
// search, and a vertex found or made for `corner` is written back there.
ScreenVertex* store_vertex(ObjectTriangles& storage, const CornerValues& corner,
                           ScreenVertex** known = nullptr);
// A new triangle record linked in front of the object's list, with only
// its object filled in: the caller fills in the rest.
ScreenTriangle* new_triangle(ObjectTriangles& storage);
// For a depth-only object: counts the vertices of a triangle's corners by
// the sharing rule of store_vertex, and a new depth triangle record, which
// the caller fills in whole.
void count_vertices(ObjectTriangles& storage, const CornerValues* const corners[3]);
DepthTriangle* new_depth_triangle(ObjectTriangles& storage);

// Adds what was made to the statistics unless quiet, then, when the object
// is small enough to fit its first blocks, moves the triangles into one
// block of the size used and the vertices with their records into another
// (after tessellation). A large object keeps its blocks: copying them would
// double its memory for a while, and the unused end of its last block
// costs little (pages never touched cost nothing).
void finish_object_triangles(ObjectTriangles& storage);

// For an object (or a part of one) whose records are all made: gives the
// unused ends of its newest blocks back, so that the blocks made next lie
// right after them. Finishing an object does it too.
void trim_object_triangles(ObjectTriangles& storage);

// Appends what `part` made, as though it had been made into `storage`
// after what is there: the triangle list, the records and the vertex count
// (the sharing rule applied across the seam). `part` is left empty.
void append_object_triangles(ObjectTriangles& storage, ObjectTriangles& part);

// Frees every triangle and vertex record of the object (a new tessellation
// starts from nothing).
void clear_object_triangles(ObjectTriangles& storage);

// The triangles of the object, newest first; for loops.
template <typename F>
void for_each_triangle(const ObjectTriangles& storage, F&& visit) {
    if (storage.compacted != nullptr) {
        for (std::int32_t i = storage.triangle_count - 1; i >= 0; --i) visit(storage.compacted[i]);
        return;
    }
    storage.triangles.for_each_reversed(
        [&](const void* record) { visit(*static_cast<const ScreenTriangle*>(record)); });
}

std::mutex& holders_lock();

// Removes `holder` from the object's holders (fatal "Logic error in
// RR_free_object_triangles\n" when it is not one) and frees the object's
// triangles when no holder remains.
void free_object_triangles(const void* holder, ObjectTriangles& storage);

}  // namespace sky
