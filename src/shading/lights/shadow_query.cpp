#include "shading/lights/shadow_query.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "base/workers.h"
#include "shading/light.h"

namespace sky {

namespace {

// The blocks of one row of blocks. Each block's texels are taken row by row,
// left to right, as a single pass over the map meets them, so the kept
// value among equal ones (+0 and −0) is the same whoever does the row.
void summarise_block_row(ShadowMap& map, std::int32_t block_row) {
    const std::int32_t size = map.size;
    const std::int32_t blocks = map.blocks_per_row;
    float* nearest = map.block_nearest.data() + static_cast<std::size_t>(block_row) * blocks;
    float* farthest = map.block_farthest.data() + static_cast<std::size_t>(block_row) * blocks;
    const std::int32_t first_row = block_row * kShadowBlock;
    const std::int32_t last_row = std::min(first_row + kShadowBlock, size);
    for (std::int32_t y = first_row; y < last_row; ++y) {
        const float* row = map.texels() + static_cast<std::size_t>(y) * size;
        for (std::int32_t b = 0; b < blocks; ++b) {
            const std::int32_t x0 = b * kShadowBlock;
            const std::int32_t x1 = std::min(x0 + kShadowBlock, size);
            // Held in registers across the block's texels: a block's chain
            // does not wait on the stores of the one before.
            float n = nearest[b], f = farthest[b];
            for (std::int32_t x = x0; x < x1; ++x) {
                n = std::min(n, row[x]);
                f = std::max(f, row[x]);
            }
            nearest[b] = n;
            farthest[b] = f;
        }
    }
}

}  // namespace

void clear_shadow_summary(ShadowMap& map) {
    const std::int32_t blocks = (map.size + kShadowBlock - 1) / kShadowBlock;
    map.blocks_per_row = blocks;
    map.block_nearest.assign(static_cast<std::size_t>(blocks) * blocks, INFINITY);
    map.block_farthest.assign(static_cast<std::size_t>(blocks) * blocks, -INFINITY);
}

void summarise_shadow_map(ShadowMap& map) {
    clear_shadow_summary(map);
    // Rows of blocks are independent: the parked workers share them.
    share_ranges(static_cast<std::size_t>(map.blocks_per_row), 8,
                 [&](std::size_t first, std::size_t last) {
                     for (std::size_t b = first; b < last; ++b)
                         summarise_block_row(map, static_cast<std::int32_t>(b));
                 });
}

namespace {

// Whether the texels of columns i0..i1 and rows j0..j1 all lie at p0 or
// beyond (1: the point is lit), all nearer than `deepest` (2: shadowed,
// asked only when `inside`), or neither (0). A NaN texel counts for
// neither answer, as it never becomes the nearest or farthest.
int texels_settle(const float* texel, int size, int i0, int i1, int j0, int j1, float p0,
                  bool inside, float deepest) {
#if defined(__SSE2__)
    // Four texels of a row at a time: a lane keeps the nearest and farthest
    // of its own texels, and the comparisons need no more than that.
    const __m128 lit_at = _mm_set1_ps(p0), shadowed_at = _mm_set1_ps(deepest);
    __m128 nearest = _mm_set1_ps(INFINITY), farthest = _mm_set1_ps(-INFINITY);
    for (int j = j0; j <= j1; ++j) {
        const float* row = texel + static_cast<std::size_t>(j) * size;
        int i = i0;
        for (; i + 3 <= i1; i += 4) {
            const __m128 t = _mm_loadu_ps(row + i);
            nearest = _mm_min_ps(t, nearest);
            farthest = _mm_max_ps(t, farthest);
        }
        for (; i <= i1; ++i) {
            const __m128 t = _mm_set1_ps(row[i]);
            nearest = _mm_min_ps(t, nearest);
            farthest = _mm_max_ps(t, farthest);
        }
        // Both answers already ruled out (the bounds only widen): the cells
        // must be weighed.
        const bool nearer = _mm_movemask_ps(_mm_cmplt_ps(nearest, lit_at)) != 0;
        if (nearer && (!inside || _mm_movemask_ps(_mm_cmpnlt_ps(farthest, shadowed_at)) != 0))
            return 0;
    }
    // All lanes, as the nearest and farthest of all of them would be.
    if (_mm_movemask_ps(_mm_cmpge_ps(nearest, lit_at)) == 0xF) return 1;
    return inside && _mm_movemask_ps(_mm_cmplt_ps(farthest, shadowed_at)) == 0xF ? 2 : 0;
#else
    float nearest = INFINITY, farthest = -INFINITY;
    for (int j = j0; j <= j1; ++j) {
        const float* row = texel + static_cast<std::size_t>(j) * size;
        for (int i = i0; i <= i1; ++i) {
            nearest = std::min(nearest, row[i]);
            farthest = std::max(farthest, row[i]);
        }
        if (nearest < p0 && (!inside || !(farthest < deepest))) return 0;
    }
    if (nearest >= p0) return 1;
    return inside && farthest < deepest ? 2 : 0;
#endif
}

#if defined(__SSE2__)
// std::min(a, b) and std::max(a, b), which keep `a` unless `b` is strictly
// beyond it (so NaN and the first of +0 and -0 behave as they do there).
inline __m128 least(__m128 a, __m128 b) {
    return _mm_min_ps(b, a);
}
inline __m128 most(__m128 a, __m128 b) {
    return _mm_max_ps(b, a);
}
inline __m128 pick(__m128 mask, __m128 yes, __m128 no) {
    return _mm_or_ps(_mm_and_ps(mask, yes), _mm_andnot_ps(mask, no));
}

// The disc's cells of columns i0..i1 and rows j0..j1 weighed four of a row
// at a time, for a query without blend whose cells all have a texel to
// their right and above and whose rows can be read four texels past i1:
// each lane does one cell's arithmetic of the loop in query_shadow_map,
// operation for operation, and the lanes' terms join the sums in the
// cells' order. A cell that does not count adds +0, which leaves a sum of
// terms that are never negative as it was.
void weigh_cells_in_lanes(const float* texel, int size, float u, float v, float p0, float rim,
                          float inverse_r2, int i0, int i1, int j0, int j1, float& weight_sum,
                          float& shadow_sum) {
    const __m128 one = _mm_set1_ps(1.0f), zero = _mm_setzero_ps();
    const __m128 at_u = _mm_set1_ps(u), at_p0 = _mm_set1_ps(p0), rim_offset = _mm_set1_ps(rim);
    const __m128 inverse = _mm_set1_ps(inverse_r2), quarter = _mm_set1_ps(0.25f);
    const __m128i steps = _mm_setr_epi32(0, 1, 2, 3), past = _mm_set1_epi32(i1 + 1);
    for (int j = j0; j <= j1; ++j) {
        const float dv = v - static_cast<float>(j);
        const __m128 dv2 = _mm_set1_ps(dv * dv);
        const float* row = texel + static_cast<std::size_t>(j) * size;
        const float* next_row = row + size;
        for (int i = i0; i <= i1; i += 4) {
            const __m128i column = _mm_add_epi32(_mm_set1_epi32(i), steps);
            const __m128 du = _mm_sub_ps(at_u, _mm_cvtepi32_ps(column));
            const __m128 w =
                _mm_sub_ps(one, _mm_mul_ps(_mm_add_ps(_mm_mul_ps(du, du), dv2), inverse));
            const __m128 weighed =
                _mm_and_ps(_mm_cmpgt_ps(w, zero), _mm_castsi128_ps(_mm_cmplt_epi32(column, past)));
            if (_mm_movemask_ps(weighed) == 0) continue;
            const __m128 d00 = _mm_loadu_ps(row + i), d10 = _mm_loadu_ps(row + i + 1);
            const __m128 d01 = _mm_loadu_ps(next_row + i), d11 = _mm_loadu_ps(next_row + i + 1);
            const __m128 lo = least(least(least(d00, d10), d01), d11);
            const __m128 hi = most(most(most(d00, d10), d01), d11);
            const __m128 p = _mm_sub_ps(at_p0, _mm_mul_ps(_mm_sub_ps(one, w), rim_offset));
            const __m128 flat = _mm_cmpeq_ps(lo, hi);
            const __m128 beyond_hi = _mm_cmpgt_ps(p, hi);
            // Wholly behind the cell: a flat one it lies behind, or any other
            // whose farthest texel it lies behind.
            const __m128 whole = pick(flat, _mm_cmpgt_ps(p, lo), beyond_hi);
            const __m128 partial =
                _mm_andnot_ps(_mm_or_ps(_mm_or_ps(flat, beyond_hi), _mm_cmplt_ps(p, lo)),
                              _mm_castsi128_ps(_mm_set1_epi32(-1)));
            __m128 shadow;
            if (_mm_movemask_ps(_mm_and_ps(weighed, partial)) == 0) {
                // No weighed cell lies partly behind (most of a disc, away
                // from the casters' silhouettes): a whole cell's term is
                // 1 × w, which is w.
                shadow = _mm_and_ps(_mm_and_ps(weighed, whole), w);
            } else {
                const __m128 mean =
                    _mm_mul_ps(_mm_add_ps(_mm_add_ps(_mm_add_ps(d00, d10), d01), d11), quarter);
                // Only the partial lanes divide by what they would; the
                // others by 1, whose answer is not used.
                const __m128 t =
                    _mm_div_ps(_mm_sub_ps(hi, mean), pick(partial, _mm_sub_ps(hi, lo), one));
                const __m128 behind = _mm_mul_ps(_mm_sub_ps(p, lo), t);
                const __m128 below =
                    _mm_sub_ps(behind, _mm_mul_ps(_mm_sub_ps(p, hi), _mm_sub_ps(one, t)));
                const __m128 fraction = _mm_div_ps(behind, pick(partial, below, one));
                const __m128 some = _mm_and_ps(partial, _mm_cmpgt_ps(fraction, zero));
                const __m128 c = pick(whole, one, _mm_min_ps(one, fraction));
                shadow = _mm_and_ps(_mm_and_ps(weighed, _mm_or_ps(whole, some)), _mm_mul_ps(c, w));
            }
            alignas(16) float weights[4], shadows[4];
            _mm_store_ps(weights, _mm_and_ps(weighed, w));
            _mm_store_ps(shadows, shadow);
            for (int k = 0; k < 4; ++k) {
                weight_sum += weights[k];
                shadow_sum += shadows[k];
            }
        }
    }
}
#endif

}  // namespace

float query_shadow_disc(const ShadowMap& map, float x, float y, float z,
                        const ShadowQuerySettings& settings, float blend, float* blend_fraction) {
    const std::int32_t size = map.size;
    const float* texel = map.texels();
    if (size < 1 || texel == nullptr) return 0.0f;
    const int radius = static_cast<int>(settings.edge_quality) + 1 + (blend != 0.0f ? 1 : 0);
    // Texel i was rendered at its centre, i + 0.5 across the map's width of
    // `size`, and the cell weighed at i spans the centres of texels i and
    // i + 1: the point's coordinates put the middle of that span, i + 1 of
    // the map's width, at i.
    const float scale = static_cast<float>(size) / 2.0f;
    const float u = scale * x + scale - 1.0f, v = scale * y + scale - 1.0f;
    const float p0 = z - settings.near_offset;
    const float r = static_cast<float>(radius);
    const float inverse_r2 = 1.0f / (r * r);

    // Truncation toward zero, as the disc's bounds have always been taken.
    const int first_i = static_cast<int>(u - r), last_i = static_cast<int>(u + r);
    const int first_j = static_cast<int>(v - r), last_j = static_cast<int>(v + r);
    if (first_i > last_i) return 0.0f;

    // Every texel the disc's cells read nearer than the point is to the
    // light (the rim's bias included), or none: the sums below would come
    // to exactly 1 or 0.
    const int i0 = std::max(first_i, 0), i1 = std::min(last_i + 1, size - 1);
    const int j0 = std::max(first_j, 0), j1 = std::min(last_j + 1, size - 1);
    if (blend == 0.0f && i0 <= i1 && j0 <= j1 && map.blocks_per_row > 0) {
        const bool inside = u >= 0.0f && v >= 0.0f && u <= static_cast<float>(size - 1) &&
                            v <= static_cast<float>(size - 1);
        const float deepest = p0 - settings.rim_offset;
        // The blocks were asked first (shadow_blocks_settle); near a
        // shadow's edge they reach beyond the disc, and the texels the
        // cells read settle it more often, for less than weighing the
        // cells costs.
        switch (texels_settle(texel, size, i0, i1, j0, j1, p0, inside, deepest)) {
            case 1:
                return 0.0f;
            case 2:
                return 1.0f;
            default:
                break;
        }
    }

    float weight_sum = 0.0f, shadow_sum = 0.0f, blend_sum = 0.0f;
    bool in_lanes = false;
#if defined(__SSE2__)
    // Away from the map's last rows and columns, a query without blend
    // (every query of a render) weighs its cells in lanes, without a branch
    // per cell.
    const int cells_i1 = std::min(last_i, size - 1), cells_j1 = std::min(last_j, size - 1);
    if (blend == 0.0f && cells_i1 <= size - 5 && cells_j1 <= size - 2) {
        weigh_cells_in_lanes(texel, size, u, v, p0, settings.rim_offset, inverse_r2,
                             std::max(first_i, 0), cells_i1, std::max(first_j, 0), cells_j1,
                             weight_sum, shadow_sum);
        in_lanes = true;
    }
#endif
    for (int j = std::max(first_j, 0); !in_lanes && j <= std::min(last_j, size - 1); ++j) {
        const float dv = v - static_cast<float>(j);
        const float* row = texel + static_cast<std::size_t>(j) * size;
        const float* next_row = j + 1 < size ? row + size : nullptr;
        for (int i = std::max(first_i, 0); i <= std::min(last_i, size - 1); ++i) {
            const float du = u - static_cast<float>(i);
            const float w = 1.0f - (du * du + dv * dv) * inverse_r2;
            if (w <= 0.0f) continue;
            const float d00 = row[i];
            const bool right = i + 1 < size;
            const float d10 = right ? row[i + 1] : d00;
            const float d01 = next_row ? next_row[i] : d00;
            const float d11 = right && next_row ? next_row[i + 1] : d00;
            weight_sum += w;
            // Pairwise in the order of the list forms, which keep the first
            // of equal values.
            const float lo = std::min(std::min(std::min(d00, d10), d01), d11);
            const float hi = std::max(std::max(std::max(d00, d10), d01), d11);
            const float mean = (d00 + d10 + d01 + d11) * 0.25f;
            // The rim's texels see the point pulled toward the light.
            const float p = p0 - (1.0f - w) * settings.rim_offset;
            float c;
            if (lo == hi) {
                if (!(p > lo)) continue;
                c = 1.0f;
            } else if (p > hi) {
                c = 1.0f;
            } else if (p < lo) {
                continue;
            } else {
                // The fraction of the cell the point lies behind, as though
                // the cell's surface ran between its nearest and farthest
                // texels with the mean between them.
                const float t = (hi - mean) / (hi - lo);
                const float behind = (p - lo) * t;
                c = behind / (behind - (p - hi) * (1.0f - t));
                if (!(c > 0.0f)) continue;
                c = std::min(c, 1.0f);
            }
            if (blend != 0.0f) {
                const float e = (p0 - mean) / blend;
                if (e > 0.0f) {
                    if (e < 1.0f) {
                        c *= e;
                        blend_sum += e * w;
                    } else {
                        blend_sum += w;
                    }
                }
            }
            shadow_sum += c * w;
        }
    }
    if (weight_sum == 0.0f) return 0.0f;
    if (blend_fraction) *blend_fraction = blend_sum / weight_sum;
    return shadow_sum / weight_sum;
}

}  // namespace sky
