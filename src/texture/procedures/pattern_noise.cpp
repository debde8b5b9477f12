// Gradient noise (Perlin's improved form with a quintic fade), fractal sums
// and cellular patterns, from an integer hash instead of a permutation
// table so the two- and three-dimensional forms and the periodic form share
// one source of randomness.
#include "texture/procedures/pattern_noise.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace sky::pattern {
namespace {

// Far-away points are folded back: lattice indices wrap at 2^24, so no
// coordinate overflows an integer; a pattern that large is noise anyway.
constexpr double kFold = 16777216.0;

struct Lattice {
    std::int32_t i;
    float f;  // position in the cell, [0, 1)
};

// Far-away points: rare, so kept out of line.
[[gnu::noinline]] Lattice far_lattice(float x) {
    double d = static_cast<double>(x);
    d = std::isfinite(d) ? std::fmod(d, kFold) : 0.0;
    double cell = std::floor(d);
    return {static_cast<std::int32_t>(cell), static_cast<float>(d - cell)};
}

// Below the fold every float's cell and fraction are exact in single
// precision. The cell by truncation: floor() is a library call on the
// processors the build targets.
inline Lattice lattice(float x) {
    if (!(std::fabs(x) < static_cast<float>(kFold))) return far_lattice(x);
    auto cell = static_cast<std::int32_t>(x);
    if (x < static_cast<float>(cell)) --cell;
    return {cell, x - static_cast<float>(cell)};
}

float fade(float t) {
    return t * t * t * (t * (t * 6.0f - 15.0f) + 10.0f);
}

float lerp(float a, float b, float t) {
    return a + t * (b - a);
}

std::int32_t wrap(std::int32_t i, std::int32_t period) {
    // Lookups within the frame are already in range: no division for them.
    if (period <= 0 || (i >= 0 && i < period)) return i;
    std::int32_t r = i % period;
    return r < 0 ? r + period : r;
}

// A fixed shuffle of 0..255, twice over, from a linear congruential
// sequence: the gradients' table of the classic form, made at compile time.
constexpr std::array<std::uint8_t, 512> make_permutation() {
    std::array<std::uint8_t, 512> p{};
    for (int i = 0; i < 256; ++i) p[i] = static_cast<std::uint8_t>(i);
    std::uint32_t state = 0x2545F491u;
    for (int i = 255; i > 0; --i) {
        state = state * 1664525u + 1013904223u;
        int j = static_cast<int>((state >> 8) % static_cast<std::uint32_t>(i + 1));
        std::uint8_t t = p[i];
        p[i] = p[j];
        p[j] = t;
    }
    for (int i = 0; i < 256; ++i) p[256 + i] = p[i];
    return p;
}
constexpr std::array<std::uint8_t, 512> kPermutation = make_permutation();

// The lattice corner's gradient index: cheap, and repeating every 256
// cells (the two-dimensional form wraps its own period first).
inline unsigned corner_hash(std::int32_t i, std::int32_t j, std::int32_t k, std::uint32_t seed) {
    const auto& p = kPermutation;
    unsigned h = p[(static_cast<unsigned>(i) + seed) & 255u];
    h = p[h + (static_cast<unsigned>(j) & 255u)];
    return p[h + (static_cast<unsigned>(k) & 255u)];
}

// Eight unit directions, evenly spread.
constexpr float kGradients2[8][2] = {
    {1.0f, 0.0f},  {0.70710678f, 0.70710678f},   {0.0f, 1.0f},  {-0.70710678f, 0.70710678f},
    {-1.0f, 0.0f}, {-0.70710678f, -0.70710678f}, {0.0f, -1.0f}, {0.70710678f, -0.70710678f},
};

float corner2(std::int32_t i, std::int32_t j, float x, float y, std::uint32_t seed) {
    const float* g = kGradients2[corner_hash(i, j, 0, seed) & 7u];
    return g[0] * x + g[1] * y;
}

// The twelve edge directions of a cube, padded to sixteen. A table rather
// than a switch: the hash picks a direction at random, so a branch on it
// would be mispredicted half the time.
constexpr float kGradients3[16][3] = {
    {1, 1, 0}, {-1, 1, 0}, {1, -1, 0}, {-1, -1, 0}, {1, 0, 1}, {-1, 0, 1}, {1, 0, -1}, {-1, 0, -1},
    {0, 1, 1}, {0, -1, 1}, {0, 1, -1}, {0, -1, -1}, {1, 1, 0}, {-1, 1, 0}, {0, -1, 1}, {0, -1, -1},
};

float corner3(std::int32_t i, std::int32_t j, std::int32_t k, float x, float y, float z,
              std::uint32_t seed) {
    const float* g = kGradients3[corner_hash(i, j, k, seed) & 15u];
    return g[0] * x + g[1] * y + g[2] * z;
}

// The largest value each form reaches, measured: the results are scaled to
// [-1, 1] by it.
constexpr float kScale2 = 1.0f / 0.7071f;
constexpr float kScale3 = 1.0f / 1.0f;

}  // namespace

std::uint32_t hash(std::int32_t x, std::int32_t y, std::int32_t z, std::uint32_t seed) {
    std::uint32_t h = seed * 0x9E3779B9u + 0x7F4A7C15u;
    h ^= static_cast<std::uint32_t>(x) * 0x85EBCA6Bu;
    h = (h << 13) | (h >> 19);
    h ^= static_cast<std::uint32_t>(y) * 0xC2B2AE35u;
    h = (h << 11) | (h >> 21);
    h ^= static_cast<std::uint32_t>(z) * 0x27D4EB2Fu;
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

float unit_hash(std::int32_t x, std::int32_t y, std::int32_t z, std::uint32_t seed) {
    return static_cast<float>(hash(x, y, z, seed) >> 8) * (1.0f / 16777216.0f);
}

float noise2(float x, float y, std::int32_t period, std::uint32_t seed) {
    Lattice lx = lattice(x), ly = lattice(y);
    std::int32_t i0 = lx.i, j0 = ly.i, i1 = i0 + 1, j1 = j0 + 1;
    if (period > 0) {
        i0 = wrap(i0, period);
        j0 = wrap(j0, period);
        i1 = i0 + 1 == period ? 0 : i0 + 1;
        j1 = j0 + 1 == period ? 0 : j0 + 1;
    }
    float fx = lx.f, fy = ly.f;
    float n00 = corner2(i0, j0, fx, fy, seed);
    float n10 = corner2(i1, j0, fx - 1.0f, fy, seed);
    float n01 = corner2(i0, j1, fx, fy - 1.0f, seed);
    float n11 = corner2(i1, j1, fx - 1.0f, fy - 1.0f, seed);
    float u = fade(fx), v = fade(fy);
    float n = lerp(lerp(n00, n10, u), lerp(n01, n11, u), v) * kScale2;
    return std::clamp(n, -1.0f, 1.0f);
}

float noise3(const Triple& p, std::uint32_t seed) {
    Lattice lx = lattice(p.x), ly = lattice(p.y), lz = lattice(p.z);
    std::int32_t i = lx.i, j = ly.i, k = lz.i;
    float x = lx.f, y = ly.f, z = lz.f;
    float u = fade(x), v = fade(y), w = fade(z);
    float n000 = corner3(i, j, k, x, y, z, seed);
    float n100 = corner3(i + 1, j, k, x - 1, y, z, seed);
    float n010 = corner3(i, j + 1, k, x, y - 1, z, seed);
    float n110 = corner3(i + 1, j + 1, k, x - 1, y - 1, z, seed);
    float n001 = corner3(i, j, k + 1, x, y, z - 1, seed);
    float n101 = corner3(i + 1, j, k + 1, x - 1, y, z - 1, seed);
    float n011 = corner3(i, j + 1, k + 1, x, y - 1, z - 1, seed);
    float n111 = corner3(i + 1, j + 1, k + 1, x - 1, y - 1, z - 1, seed);
    float n = lerp(lerp(lerp(n000, n100, u), lerp(n010, n110, u), v),
                   lerp(lerp(n001, n101, u), lerp(n011, n111, u), v), w) *
              kScale3;
    return std::clamp(n, -1.0f, 1.0f);
}

float level_weight(float frequency, float filter) {
    float f = frequency * filter;
    if (f <= 0.25f) return 1.0f;
    if (f >= 0.5f) return 0.0f;
    return (0.5f - f) * 4.0f;
}

namespace {

// Levels finer than this are below single precision at unit scale.
constexpr int kFinestLevel = 22;

template <class Level>
float fractal_sum(float filter, const Fractal& f, Level level) {
    int first = std::clamp(f.first, 0, kFinestLevel);
    int last = std::clamp(f.last, first, kFinestLevel);
    // Finer levels at most twice as strong as the last: beyond that the sum
    // is all finest level (and its weights would overflow).
    float ratio = std::isfinite(f.ratio) ? std::min(std::fabs(f.ratio), 2.0f) : 0.0f;
    float weight = 1.0f, total = 0.0f, sum = 0.0f;
    for (int i = 0; i < first; ++i) weight *= ratio;
    float frequency = f.base * std::ldexp(1.0f, first);
    bool filtered_out = false;
    for (int i = first; i <= last; ++i) {
        total += weight * weight;
        if (!filtered_out) {
            float keep = level_weight(frequency, filter);
            if (keep <= 0.0f)
                filtered_out = true;
            else
                sum += weight * keep * level(frequency, i);
        }
        weight *= ratio;
        frequency *= 2.0f;
    }
    return total > 0.0f ? std::clamp(sum / std::sqrt(total), -1.0f, 1.0f) : 0.0f;
}

}  // namespace

float fractal2(float x, float y, float filter, const Fractal& f, std::int32_t period) {
    return fractal_sum(filter, f, [&](float frequency, int i) {
        std::int32_t p = period > 0 ? static_cast<std::int32_t>(period * frequency + 0.5f) : 0;
        return noise2(x * frequency, y * frequency, p, f.seed + static_cast<std::uint32_t>(i));
    });
}

float fractal3(const Triple& p, float filter, const Fractal& f) {
    return fractal_sum(filter, f, [&](float frequency, int i) {
        return noise3(Triple{p.x * frequency, p.y * frequency, p.z * frequency},
                      f.seed + static_cast<std::uint32_t>(i));
    });
}

float turbulence3(const Triple& p, float filter, const Fractal& f) {
    // The mean of |noise| is about 0.25: filtered levels fade to that.
    return fractal_sum(filter, f,
                       [&](float frequency, int i) {
                           return std::fabs(noise3(
                                      Triple{p.x * frequency, p.y * frequency, p.z * frequency},
                                      f.seed + static_cast<std::uint32_t>(i))) -
                                  0.25f;
                       }) +
           0.25f;
}

namespace {

// The two nearest feature points of a cellular pattern, by squared distance,
// and the hash of the nearest.
struct NearestTwo {
    float d1 = 1e30f, d2 = 1e30f;
    std::uint32_t hash = 0;

    void consider(float d, std::uint32_t h) {
        if (d < d1) {
            d2 = d1;
            d1 = d;
            hash = h;
        } else if (d < d2) {
            d2 = d;
        }
    }
    Cells cells() const {
        Cells c;
        c.f1 = std::sqrt(d1);
        c.f2 = std::sqrt(d2);
        c.id = static_cast<float>(hash >> 8) * (1.0f / 16777216.0f);
        return c;
    }
};

}  // namespace

Cells cells3(const Triple& p, float jitter, std::uint32_t seed) {
    Lattice lx = lattice(p.x), ly = lattice(p.y), lz = lattice(p.z);
    NearestTwo nearest;
    for (int k = -1; k <= 1; ++k)
        for (int j = -1; j <= 1; ++j)
            for (int i = -1; i <= 1; ++i) {
                std::int32_t ci = lx.i + i, cj = ly.i + j, ck = lz.i + k;
                std::uint32_t h = hash(ci, cj, ck, seed);
                float ox = 0.5f + jitter * (unit_hash(ci, cj, ck, seed + 1) - 0.5f);
                float oy = 0.5f + jitter * (unit_hash(ci, cj, ck, seed + 2) - 0.5f);
                float oz = 0.5f + jitter * (unit_hash(ci, cj, ck, seed + 3) - 0.5f);
                float dx = static_cast<float>(i) + ox - lx.f;
                float dy = static_cast<float>(j) + oy - ly.f;
                float dz = static_cast<float>(k) + oz - lz.f;
                nearest.consider(dx * dx + dy * dy + dz * dz, h);
            }
    return nearest.cells();
}

Cells cells2(float x, float y, float jitter, std::int32_t period, std::uint32_t seed) {
    Lattice lx = lattice(x), ly = lattice(y);
    NearestTwo nearest;
    for (int j = -1; j <= 1; ++j)
        for (int i = -1; i <= 1; ++i) {
            std::int32_t ci = wrap(lx.i + i, period), cj = wrap(ly.i + j, period);
            std::uint32_t h = hash(ci, cj, 0, seed);
            float ox = 0.5f + jitter * (unit_hash(ci, cj, 0, seed + 1) - 0.5f);
            float oy = 0.5f + jitter * (unit_hash(ci, cj, 0, seed + 2) - 0.5f);
            float dx = static_cast<float>(i) + ox - lx.f;
            float dy = static_cast<float>(j) + oy - ly.f;
            nearest.consider(dx * dx + dy * dy, h);
        }
    return nearest.cells();
}

namespace {

// How much of [0, x] a train of lines `width` wide, centred on the whole
// numbers, covers.
double covered(double x, double width) {
    double shifted = x + width / 2.0;
    double cell = std::floor(shifted);
    return cell * width + std::min(shifted - cell, width) - width / 2.0;
}

}  // namespace

float line_share(float x, float width, float filter) {
    width = std::clamp(width, 0.0f, 1.0f);
    if (filter <= 1e-6f) {
        float f = x - std::floor(x);
        return (f < width / 2.0f || f >= 1.0f - width / 2.0f) ? 1.0f : 0.0f;
    }
    double h = filter / 2.0;
    double share = (covered(x + h, width) - covered(x - h, width)) / filter;
    return static_cast<float>(std::clamp(share, 0.0, 1.0));
}

float smooth_step(float e0, float e1, float x) {
    if (e1 == e0) return x < e0 ? 0.0f : 1.0f;
    float t = std::clamp((x - e0) / (e1 - e0), 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

void to_hsv(float r, float g, float b, float& h, float& s, float& v) {
    r /= 255.0f;
    g /= 255.0f;
    b /= 255.0f;
    float high = std::max({r, g, b});
    float low = std::min({r, g, b});
    float range = high - low;
    v = high;
    s = high > 0.0f ? range / high : 0.0f;
    if (range <= 0.0f) {
        h = 0.0f;
        return;
    }
    if (high == r)
        h = 60.0f * std::fmod((g - b) / range + 6.0f, 6.0f);
    else if (high == g)
        h = 60.0f * ((b - r) / range + 2.0f);
    else
        h = 60.0f * ((r - g) / range + 4.0f);
    if (h >= 360.0f) h -= 360.0f;
}

Triple from_hsv(float h, float s, float v) {
    h = std::fmod(h, 360.0f);
    if (h < 0.0f) h += 360.0f;
    s = std::clamp(s, 0.0f, 1.0f);
    v = std::max(v, 0.0f) * 255.0f;
    float c = v * s, x = c * (1.0f - std::fabs(std::fmod(h / 60.0f, 2.0f) - 1.0f)), m = v - c;
    int sector = static_cast<int>(h / 60.0f);
    switch (sector) {
        case 0:
            return {c + m, x + m, m};
        case 1:
            return {x + m, c + m, m};
        case 2:
            return {m, c + m, x + m};
        case 3:
            return {m, x + m, c + m};
        case 4:
            return {x + m, m, c + m};
        default:
            return {c + m, m, x + m};
    }
}

Triple mix(const Triple& a, const Triple& b, float t) {
    return Triple{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t};
}

}  // namespace sky::pattern
