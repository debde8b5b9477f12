#include "render/shadow_map.h"

#include <fcntl.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#include "base/arena.h"
#include "base/tiles.h"
#include "geometry/bucket_spans.h"
#include "geometry/buckets.h"
#include "geometry/depth_entry.h"
#include "geometry/enter.h"
#include "geometry/object_queue.h"

namespace sky {
namespace {

// Two hits closer than this (relative) are one surface met on the shared
// edge of two of its triangles, not two surfaces.
constexpr float kSameSurface = 1e-6f;

bool same_surface(float a, float b) {
    return b > -INFINITY && std::fabs(a - b) <= kSameSurface * std::fabs(b);
}

// The two nearest surfaces met at a texel centre, in the order the texel's
// triangles are met (two hits within kSameSurface depend on it). Larger
// depths are nearer.
struct NearestTwo {
    float first = -INFINITY, second = -INFINITY;

    void add(float z) {
        if (same_surface(z, first)) return;
        if (z > first) {
            second = first;
            first = z;
        } else if (z > second && !same_surface(z, second)) {
            second = z;
        }
    }

    // The projective depth of the midpoint between the two (the nearest
    // alone when asked), or nothing.
    bool depth(bool nearest_only, float& depth) const {
        if (nearest_only) {
            depth = first;
            return first > -INFINITY;
        }
        // A lone surface never shadows itself: it needs a second one behind.
        if (second == -INFINITY) return false;
        depth = 0.5f * (first + second);
        return true;
    }
};

// The distance from the light of projective depth d where the texel's
// lateral squares are ex2 and ey2.
float distance_at(const MapView& view, float ex2, float ey2, float d) {
    const float inverse_z = (d - view.p10) / view.p14;
    return std::sqrt((ex2 + ey2 + 1.0f) / (inverse_z * inverse_z));
}

// The depth map's value at pixel centre (x, y) from the triangles of its
// bucket list.
bool texel_depth(const BucketCell* list, float x, float y, bool nearest_only, float& depth) {
    NearestTwo nearest;
    for (const BucketCell* cell = list; cell != nullptr; cell = cell->next) {
        TriangleHit hit;
        if (hit_triangle(*cell->triangle, x, y, hit)) nearest.add(hit.depth);
    }
    return nearest.depth(nearest_only, depth);
}

// Four texels of a row side by side. The depth-only raster tests and keeps
// them at once, each lane with the arithmetic one texel alone gets
// (hit_triangle, NearestTwo::add) in the same order, so every depth and
// every choice between two surfaces is the one the texel alone would make.
using Lanes = float __attribute__((vector_size(16)));
using LaneMask = std::int32_t __attribute__((vector_size(16)));
constexpr std::int32_t kLanes = 4;

Lanes lanes_of(float f) {
    return Lanes{f, f, f, f};
}
Lanes select(LaneMask take, Lanes yes, Lanes no) {
    return reinterpret_cast<Lanes>((take & reinterpret_cast<LaneMask>(yes)) |
                                   (~take & reinterpret_cast<LaneMask>(no)));
}
Lanes magnitude(Lanes v) {
    return reinterpret_cast<Lanes>(reinterpret_cast<LaneMask>(v) & 0x7fffffff);
}
LaneMask same_surface(Lanes a, Lanes b) {
    return (b > lanes_of(-INFINITY)) & (magnitude(a - b) <= lanes_of(kSameSurface) * magnitude(b));
}

// A tile's nearest two surfaces per texel, apart: the first and the second
// of every texel of a row side by side, rows `stride` floats apart (a
// multiple of kLanes, with room for a group of four from the last column,
// so that a row's groups never run into the next row), and the x of every
// column's centre.
struct TileSurfaces {
    float* first;
    float* second;
    float* centre_x;
    std::int32_t stride;
    std::int32_t y_first;
};

// NearestTwo::add of `z` in the lanes of `hit`, for the four texels at
// `first` and `second`.
[[gnu::always_inline]] inline void add_depths(LaneMask hit, Lanes z, Lanes& f, Lanes& s) {
    const LaneMask other = hit & ~same_surface(z, f);
    const LaneMask nearer = other & (z > f);
    const LaneMask between = other & ~(z > f) & (z > s) & ~same_surface(z, s);
    s = select(nearer, f, select(between, z, s));
    f = select(nearer, z, f);
}
[[gnu::always_inline]] inline void add_depths(LaneMask hit, Lanes z, float* first, float* second) {
    Lanes f, s;
    std::memcpy(&f, first, sizeof f);
    std::memcpy(&s, second, sizeof s);
    add_depths(hit, z, f, s);
    std::memcpy(first, &f, sizeof f);
    std::memcpy(second, &s, sizeof s);
}

// Two floats at `low` and two at `high`, side by side, and back.
Lanes load_pairs(const float* low, const float* high) {
#if defined(__SSE2__)
    const __m128 l = _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(low)));
    return reinterpret_cast<Lanes>(
        _mm_castpd_ps(_mm_loadh_pd(_mm_castps_pd(l), reinterpret_cast<const double*>(high))));
#else
    return Lanes{low[0], low[1], high[0], high[1]};
#endif
}
void store_pairs(Lanes v, float* low, float* high) {
#if defined(__SSE2__)
    const __m128d d = _mm_castps_pd(reinterpret_cast<__m128>(v));
    _mm_store_sd(reinterpret_cast<double*>(low), d);
    _mm_storeh_pd(reinterpret_cast<double*>(high), d);
#else
    low[0] = v[0], low[1] = v[1], high[0] = v[2], high[1] = v[3];
#endif
}

bool any_lane(LaneMask mask) {
#if defined(__SSE2__)
    return _mm_movemask_ps(reinterpret_cast<__m128>(mask)) != 0;
#else
    std::uint64_t halves[2];
    std::memcpy(halves, &mask, sizeof halves);
    return (halves[0] | halves[1]) != 0;
#endif
}

// One depth triangle's set-up in every lane, for the rows it is entered in.
class TriangleLanes {
public:
    explicit TriangleLanes(const DepthTriangle& t)
        : t_(t),
          x0_(lanes_of(t.x0)),
          b_(lanes_of(t.b)),
          d_(lanes_of(t.d)),
          z0_(lanes_of(t.z0)),
          dz1_(lanes_of(t.dz1)),
          dz2_(lanes_of(t.dz2)) {}

    // The depth at the centres of columns `start` to `end` of tile row `r`
    // (tile coordinates), kept in `surfaces`.
    [[gnu::always_inline]] void row(const TileSurfaces& surfaces, std::int32_t r,
                                    std::int32_t start, std::int32_t end) const {
        const float v = (static_cast<float>(r + surfaces.y_first) + 0.5f) - t_.y0;
        const Lanes vc = lanes_of(v * t_.c), va = lanes_of(v * t_.a);
        const LaneMask step = {0, 1, 2, 3};
        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(r) * surfaces.stride;
        for (std::int32_t c = start; c <= end; c += kLanes) {
            const LaneMask column = step + c;
            Lanes x;
            std::memcpy(&x, surfaces.centre_x + c, sizeof x);
            const Lanes u = x - x0_;
            const Lanes s = u * d_ - vc;
            const Lanes w = va - u * b_;
            // s ≤ 1 and w ≤ 1 follow from the other three: with w ≥ 0 the
            // rounded sum s + w is at least s, so s > 1 fails the last.
            const LaneMask hit = (column <= end) & (s >= 0.0f) & (w >= 0.0f) & ~(s + w > 1.0f);
            if (!any_lane(hit)) continue;
            const Lanes z = (z0_ + s * dz1_) + w * dz2_;
            add_depths(hit, z, surfaces.first + at + c, surfaces.second + at + c);
        }
    }

    // row() for rows `row_first` to `row_last` alike, from the last: the
    // columns' products with the set-up, which do not change from row to
    // row, are worked out once (the same products, so the same depths).
    // The whole box is tested before any texel is taken: a triangle that
    // covers no centre at all (most of those smaller than a texel) is
    // left at one branch, and the texels of one that covers some are
    // taken without a branch per group, which would be anybody's guess:
    // the groups that cover some centre are listed as they are tested
    // (the list grows by whether each does), and only they are taken,
    // which leaves out about half the groups of a box (a group that
    // covers none would keep its texels as they are).
    // At most kSmallCentreBox cells, so at most that many groups.
    static constexpr std::int32_t kBoxGroups = kSmallCentreBox;
    [[gnu::always_inline]] void box(const TileSurfaces& surfaces, std::int32_t row_first,
                                    std::int32_t row_last, std::int32_t start,
                                    std::int32_t end) const {
        if (row_last == row_first + 1 && end - start <= 1)
            return two_by_two(surfaces, row_first, start, end);
        const std::int32_t groups = (end - start) / kLanes + 1;
        Lanes ud[kBoxGroups / 4 + 1], ub[kBoxGroups / 4 + 1];
        LaneMask inside[kBoxGroups / 4 + 1];
        const LaneMask step = {0, 1, 2, 3};
        for (std::int32_t g = 0; g < groups; ++g) {
            const std::int32_t c = start + g * kLanes;
            inside[g] = (step + c) <= end;
            Lanes x;
            std::memcpy(&x, surfaces.centre_x + c, sizeof x);
            const Lanes u = x - x0_;
            ud[g] = u * d_;
            ub[g] = u * b_;
        }
        LaneMask hits[kBoxGroups];
        Lanes depths[kBoxGroups];
        std::int32_t places[kBoxGroups];
        std::int32_t listed = 0;
        for (std::int32_t r = row_last; r >= row_first; --r) {
            const float v = (static_cast<float>(r + surfaces.y_first) + 0.5f) - t_.y0;
            const Lanes vc = lanes_of(v * t_.c), va = lanes_of(v * t_.a);
            const std::int32_t at = r * surfaces.stride + start;
            for (std::int32_t g = 0; g < groups; ++g) {
                const Lanes s = ud[g] - vc;
                const Lanes w = va - ub[g];
                const LaneMask hit = inside[g] & (s >= 0.0f) & (w >= 0.0f) & ~(s + w > 1.0f);
                hits[listed] = hit;
                depths[listed] = (z0_ + s * dz1_) + w * dz2_;
                places[listed] = at + g * kLanes;
                listed += any_lane(hit) ? 1 : 0;
            }
        }
        for (std::int32_t k = 0; k < listed; ++k)
            add_depths(hits[k], depths[k], surfaces.first + places[k], surfaces.second + places[k]);
    }

private:
    // A box of two rows and one or two columns, the commonest of a dense
    // mesh, in one group: the lanes are the first row's two columns, then
    // the second row's, each with the arithmetic of its texel in a row.
    [[gnu::always_inline]] void two_by_two(const TileSurfaces& surfaces, std::int32_t row,
                                           std::int32_t start, std::int32_t end) const {
        const float x0 = surfaces.centre_x[start];
        const float x1 = surfaces.centre_x[start + 1];
        const Lanes u = Lanes{x0, x1, x0, x1} - x0_;
        const float v0 = (static_cast<float>(row + surfaces.y_first) + 0.5f) - t_.y0;
        const float v1 = (static_cast<float>(row + 1 + surfaces.y_first) + 0.5f) - t_.y0;
        const float vc0 = v0 * t_.c, vc1 = v1 * t_.c;
        const float va0 = v0 * t_.a, va1 = v1 * t_.a;
        const Lanes s = u * d_ - Lanes{vc0, vc0, vc1, vc1};
        const Lanes w = Lanes{va0, va0, va1, va1} - u * b_;
        const std::int32_t two = end > start ? -1 : 0;
        const LaneMask inside = {-1, two, -1, two};
        const LaneMask hit = inside & (s >= 0.0f) & (w >= 0.0f) & ~(s + w > 1.0f);
        if (!any_lane(hit)) return;
        const Lanes z = (z0_ + s * dz1_) + w * dz2_;
        // The two rows' pairs of texels side by side, and back.
        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(row) * surfaces.stride + start;
        float* const first[2] = {surfaces.first + at, surfaces.first + at + surfaces.stride};
        float* const second[2] = {surfaces.second + at, surfaces.second + at + surfaces.stride};
        Lanes f = load_pairs(first[0], first[1]);
        Lanes n = load_pairs(second[0], second[1]);
        add_depths(hit, z, f, n);
        store_pairs(f, first[0], first[1]);
        store_pairs(n, second[0], second[1]);
    }

    const DepthTriangle& t_;
    Lanes x0_, b_, d_, z0_, dz1_, dz2_;
};

Lanes square_root(Lanes v) {
#if defined(__SSE2__)
    return reinterpret_cast<Lanes>(_mm_sqrt_ps(reinterpret_cast<__m128>(v)));
#else
    return Lanes{std::sqrt(v[0]), std::sqrt(v[1]), std::sqrt(v[2]), std::sqrt(v[3])};
#endif
}

// The texels of one row of a tile from its nearest two surfaces, four at a
// time, each lane with the arithmetic of NearestTwo::depth and distance_at
// (the same operations in the same order: the division and the root are
// exact in every lane); `squares` are the columns' lateral squares. With
// `nearest` and `farthest`, each group of four keeps there the nearest and
// farthest of its lanes so far. Returns how many texels it wrote, a
// multiple of kLanes.
std::int32_t write_texel_lanes(const MapView& view, const float* first, const float* second,
                               float ey2, float* texels, const float* squares, std::int32_t width,
                               Lanes* nearest, Lanes* farthest) {
    const Lanes none = lanes_of(-INFINITY), p10 = lanes_of(view.p10), p14 = lanes_of(view.p14);
    const Lanes row_square = lanes_of(ey2), one = lanes_of(1.0f), half = lanes_of(0.5f);
    const Lanes no_caster = lanes_of(kNoShadowCaster);
    std::int32_t c = 0;
    for (; c + kLanes <= width; c += kLanes) {
        Lanes f, s, ex2;
        std::memcpy(&f, first + c, sizeof f);
        std::memcpy(&s, second + c, sizeof s);
        std::memcpy(&ex2, squares + c, sizeof ex2);
        // A lone surface never shadows itself: the midpoint rule needs a
        // second one behind.
        const LaneMask cast = view.nearest_surface ? LaneMask(f > none) : LaneMask(s != none);
        Lanes value = no_caster;
        if (any_lane(cast)) {
            const Lanes d = view.nearest_surface ? f : half * (f + s);
            const Lanes inverse_z = (d - p10) / p14;
            const Lanes square = ((ex2 + row_square) + one) / (inverse_z * inverse_z);
            value = select(cast, square_root(square), no_caster);
        }
        std::memcpy(texels + c, &value, sizeof value);
        if (nearest != nullptr) {
            Lanes& n = nearest[c / kLanes];
            Lanes& far = farthest[c / kLanes];
            n = select(value < n, value, n);
            far = select(value > far, value, far);
        }
    }
    return c;
}

// The nearest of `value` and what `slot` holds (the farthest with
// `farthest`), taken into the slot; other tiles may be doing the same.
void combine(float& slot, float value, bool farthest) {
    std::atomic_ref<float> shared(slot);
    float held = shared.load(std::memory_order_relaxed);
    while ((farthest ? value > held : value < held) &&
           !shared.compare_exchange_weak(held, value, std::memory_order_relaxed)) {
    }
}

// The summaries of the blocks of one row of blocks from the nearest and
// farthest its groups of four kept over the tile's rows of it: the
// summaries themselves when the tile holds the whole row of blocks, taken
// with those of the other tiles holding parts of it otherwise. A texel is
// never NaN nor −0 (a root of a positive quotient, or kNoShadowCaster), so
// the nearest and farthest do not depend on the order they are taken in:
// they are those the summary of the finished map gives.
void store_block_row(ShadowMap& map, std::int32_t block_row, bool whole, const Lanes* nearest,
                     const Lanes* farthest) {
    constexpr std::int32_t kGroups = kShadowBlock / kLanes;
    const std::int32_t blocks = map.blocks_per_row;
    const std::size_t at = static_cast<std::size_t>(block_row) * blocks;
    for (std::int32_t b = 0; b < blocks; ++b) {
        float n = INFINITY, f = -INFINITY;
        for (std::int32_t g = b * kGroups; g < (b + 1) * kGroups; ++g)
            for (std::int32_t k = 0; k < kLanes; ++k) {
                n = std::min(n, nearest[g][k]);
                f = std::max(f, farthest[g][k]);
            }
        float& map_nearest = map.block_nearest[at + static_cast<std::size_t>(b)];
        float& map_farthest = map.block_farthest[at + static_cast<std::size_t>(b)];
        if (whole) {
            map_nearest = n, map_farthest = f;
        } else {
            combine(map_nearest, n, false);
            combine(map_farthest, f, true);
        }
    }
}

// A depth-only tile: each triangle of the tile's objects, in the order a
// bucket list would give them, into the texels whose cells it would be
// entered in.
void render_depth_tile(Tile& tile, const MapView& view) {
    ShadowMap& map = *view.map;
    const GeometryView& geometry = geometry_view();
    const std::int32_t width = tile.x_last - tile.x_first + 1;
    const std::int32_t height = tile.y_last - tile.y_first + 1;
    SpanGrid grid;
    grid.spans = arena_array<RowSpan>(tile_arena(), static_cast<std::size_t>(height) + 1);
    grid.width = width, grid.height = height;
    grid.x0 = tile.x_first, grid.y0 = tile.y_first;
    TileSurfaces surfaces;
    surfaces.stride = (width + 2 * kLanes - 2) / kLanes * kLanes;
    surfaces.y_first = tile.y_first;
    const auto count = static_cast<std::size_t>(surfaces.stride) * static_cast<std::size_t>(height);
    // Filled here, so not zeroed first: a second pass over the tile's
    // largest arrays.
    surfaces.first = arena_array_unzeroed<float>(tile_arena(), count);
    surfaces.second = arena_array_unzeroed<float>(tile_arena(), count);
    const Lanes nothing = lanes_of(-INFINITY);
    for (std::size_t k = 0; k < count; k += kLanes) {
        std::memcpy(surfaces.first + k, &nothing, sizeof nothing);
        std::memcpy(surfaces.second + k, &nothing, sizeof nothing);
    }
    surfaces.centre_x =
        arena_array_unzeroed<float>(tile_arena(), static_cast<std::size_t>(surfaces.stride));
    for (std::int32_t c = 0; c < surfaces.stride; ++c)
        surfaces.centre_x[c] = static_cast<float>(c + tile.x_first) + 0.5f;

    auto enter = [&](const DepthTriangle& t) {
        const TriangleLanes lanes(t);
        // Inlined: most triangles span a row or two of a few texels, and a
        // call per row would cost as much as the texels.
        auto row = [&](std::int32_t r, std::int32_t start, std::int32_t end)
            __attribute__((always_inline)) {
            lanes.row(surfaces, r, start, end);
        };
        // The box the triangle's set-up found is the one its corners give
        // in this tile's grid, moved by the grid's origin.
        const CellBox box{t.row_first - grid.y0, t.row_last - grid.y0, t.column_first - grid.x0,
                          t.column_last - grid.x0};
        if (t.column_first <= t.column_last && small_centre_box(box)) {
            // fill_box's rows and columns, clipped to the tile.
            if (box.column_first >= width || box.column_last < 0) return;
            const std::int32_t first_row = std::max(box.row_first, 0);
            const std::int32_t last_row = std::min(box.row_last, height - 1);
            if (first_row > last_row) return;
            return lanes.box(surfaces, first_row, last_row, std::max(box.column_first, 0),
                             std::min(box.column_last, width - 1));
        }
        SpanPoint p[3];
        for (int i = 0; i < 3; ++i) p[i] = project_to_screen(geometry, t.eye[i]);
        enter_still_triangle_centres(grid, p, row);
    };
    for (auto object = tile.objects.rbegin(); object != tile.objects.rend(); ++object)
        if (const ObjectTriangles* triangles = queued_triangles(*object))
            for_each_depth_triangle(*triangles, tile, enter);

    float* out = map.texels();
    // Summed up as the texels are made, while they are in the cache: the
    // map's rows are whole blocks.
    Lanes* group_nearest = nullptr;
    Lanes* group_farthest = nullptr;
    const auto groups = static_cast<std::size_t>(width / kLanes);
    if (view.summarise) {
        group_nearest = arena_array_unzeroed<Lanes>(tile_arena(), groups);
        group_farthest = arena_array_unzeroed<Lanes>(tile_arena(), groups);
    }
    for (std::int32_t r = 0; r < height; ++r) {
        const std::int32_t y = tile.y_first + r;
        float* row = out + static_cast<std::size_t>(y) * map.size;
        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(r) * surfaces.stride;
        const float ey2 = lateral_square(view, y, false);
        if (view.summarise && (y % kShadowBlock == 0 || r == 0)) {
            std::fill(group_nearest, group_nearest + groups, lanes_of(INFINITY));
            std::fill(group_farthest, group_farthest + groups, lanes_of(-INFINITY));
        }
        const std::int32_t lanes_end = write_texel_lanes(
            view, surfaces.first + at, surfaces.second + at, ey2, row + tile.x_first,
            view.column_squares + tile.x_first, width, group_nearest, group_farthest);
        for (std::int32_t c = lanes_end; c < width; ++c) {
            const std::int32_t x = tile.x_first + c;
            const NearestTwo nearest{surfaces.first[at + c], surfaces.second[at + c]};
            float depth = 0.0f;
            row[x] = nearest.depth(view.nearest_surface, depth)
                         ? distance_at(view, view.column_squares[x], ey2, depth)
                         : kNoShadowCaster;
        }
        if (view.summarise && (y % kShadowBlock == kShadowBlock - 1 || r == height - 1)) {
            const std::int32_t block_first = y / kShadowBlock * kShadowBlock;
            const bool whole =
                block_first >= tile.y_first && block_first + kShadowBlock - 1 <= tile.y_last;
            store_block_row(map, y / kShadowBlock, whole, group_nearest, group_farthest);
        }
    }
}

bool write_all(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t done = ::write(fd, bytes, size);
        if (done <= 0) return false;
        bytes += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

void put_float(std::vector<std::uint8_t>& out, float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(bits >> (8 * k)));
}

bool write_file(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    const bool written = write_all(fd, bytes.data(), bytes.size());
    return ::close(fd) == 0 && written;
}

}  // namespace

float lateral_square(const MapView& view, std::int32_t x, bool column) {
    const float e = column ? -((static_cast<float>(x) + 0.5f) - view.cx) / view.hx / view.p0
                           : -((static_cast<float>(x) + 0.5f) - view.cy) / view.hy / view.p5;
    return e * e;
}

void render_map_tile(Tile& tile, void* context) {
    const MapView& view = *static_cast<const MapView*>(context);
    if (geometry_view().depth_only) return render_depth_tile(tile, view);
    ShadowMap& map = *view.map;
    float* texels = map.texels();
    const BucketGrid& grid = bucket_grid();
    for (std::int32_t y = tile.y_first; y <= tile.y_last; ++y) {
        float* row = texels + static_cast<std::size_t>(y) * map.size;
        const float ey2 = lateral_square(view, y, false);
        // The tile lies within its grid: the row's lists side by side.
        BucketCell* const* lists =
            grid.heads + static_cast<std::ptrdiff_t>(y - grid.y0) * grid.width;
        for (std::int32_t x = tile.x_first; x <= tile.x_last; ++x) {
            float depth = 0.0f;
            const BucketCell* list = lists[x - grid.x0];
            // Under the midpoint rule a texel needs two surfaces.
            const bool enough =
                view.nearest_surface ? list != nullptr : list != nullptr && list->next != nullptr;
            if (enough && texel_depth(list, static_cast<float>(x) + 0.5f,
                                      static_cast<float>(y) + 0.5f, view.nearest_surface, depth))
                row[x] = distance_at(view, view.column_squares[x], ey2, depth);
            else
                row[x] = kNoShadowCaster;
        }
    }
}

bool write_depth_map_file(const std::string& name, const ShadowMap& map) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    // A row at a time: a large map is not copied whole.
    std::vector<std::uint8_t> bytes;
    const auto size = static_cast<std::uint32_t>(map.size);
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<std::uint8_t>(size >> shift));
    for (float value : map.light_matrix.m) put_float(bytes, value);
    bool written = write_all(fd, bytes.data(), bytes.size());
    const float* texels = map.texels();
    for (std::int32_t y = map.size - 1; y >= 0 && written; --y) {
        bytes.clear();
        for (std::int32_t x = 0; x < map.size; ++x)
            put_float(bytes, texels[static_cast<std::size_t>(y) * map.size + x]);
        written = write_all(fd, bytes.data(), bytes.size());
    }
    const std::uint8_t trailer = 0xAA;
    written = written && write_all(fd, &trailer, 1);
    return ::close(fd) == 0 && written;
}

bool write_shadow_mask_file(const std::string& name, const ShadowMap& map) {
    const float* texels = map.texels();
    const std::size_t count = static_cast<std::size_t>(map.size) * map.size;
    float lo = INFINITY, hi = 0.0f;
    for (std::size_t k = 0; k < count; ++k) {
        lo = std::min(lo, texels[k]);
        if (texels[k] < kNoShadowCaster && texels[k] > hi) hi = texels[k];
    }
    std::vector<std::uint8_t> bytes;
    const auto size = static_cast<std::uint16_t>(map.size);
    for (std::uint16_t value : {size, size, std::uint16_t{0}, size, std::uint16_t{8}}) {
        bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    // A map of one distance has no range to spread: its casters are black.
    const float range = hi > lo ? hi - lo : 0.0f;
    for (std::int32_t y = map.size - 1; y >= 0; --y) {
        const float* row = texels + static_cast<std::size_t>(y) * map.size;
        std::int32_t x = 0;
        while (x < map.size) {
            auto grey = [&](float d) -> std::uint8_t {
                if (d >= kNoShadowCaster) return 255;
                if (range == 0.0f) return 0;
                return static_cast<std::uint8_t>(
                    std::clamp(static_cast<int>((d - lo) / range * 255.0f), 0, 255));
            };
            const std::uint8_t value = grey(row[x]);
            std::int32_t run = 1;
            while (x + run < map.size && run < 255 && grey(row[x + run]) == value) ++run;
            bytes.push_back(static_cast<std::uint8_t>(run));
            bytes.push_back(value);
            x += run;
        }
    }
    return write_file(name, bytes);
}

}  // namespace sky
