// Where and in which order the samples of a pixel are taken, and how many a
// pixel deserves: the fixed tables behind adaptive supersampling.
//
// Sample positions are deterministic: a pixel's jittered samples sit in the
// cells of an n × n grid in a fixed cell order per grid size, each moved
// inside its cell by a bit-reversal (van der Corput) table indexed by the
// sample's super-sample column within the tile and its row in the image.
// Nothing is drawn at random per pixel, so a frame renders the same with
// any number of workers and any tile size.
#pragma once

#include <cmath>
#include <cstdint>
#include <span>

namespace sky {

inline constexpr int kJitterBits = 10;
inline constexpr int kJitterSize = 1 << kJitterBits;  // 1024
// The largest grid a pixel may be sampled on (aalevelmax 36) and the most
// samples a pixel takes (the corner estimate and 36 jittered ones).
inline constexpr int kMaxGridSamples = 36;
inline constexpr int kMaxPixelSamples = kMaxGridSamples + 1;

struct JitterTables {
    std::int32_t reversed[kJitterSize];  // r(k): k's 10 bits reversed
    double jitter[kJitterSize];          // r(k) / 1024
};

// Built once, before the workers start; read-only afterwards.
void build_jitter_tables(int bits = kJitterBits);
const JitterTables& jitter_tables();

// The sequence seed of a sample at integer sample coordinates (a, b): what
// the area and linear lights draw their sample positions from.
inline std::uint32_t sample_seed(const JitterTables& tables, std::int64_t a, std::int64_t b) {
    return static_cast<std::uint32_t>((a & 1023) * 1024 + tables.reversed[b & 1023]);
}

// Which grid cell (numbered row by row) the i-th sample of a grid of
// `samples` cells occupies, and the distance ranks in the order samples are
// visited. Any count without a table of its own uses the 4-sample tables.
std::span<const std::int32_t> cell_order(int samples);
std::span<const std::int32_t> visit_order(int samples);

namespace detail {
// A pattern row written as the flags of rows 0..15, as a mask.
constexpr std::uint16_t pattern_row(const char* flags) {
    std::uint16_t mask = 0;
    for (int k = 0; k < 16; ++k)
        if (flags[k] == '1') mask = static_cast<std::uint16_t>(mask | (1u << k));
    return mask;
}
}  // namespace detail

// Entry i: the flags of column i (mod 16) for rows 0..15 (mod 16). Masks
// in the header, so that every adaptive pixel's question is inline.
inline constexpr std::uint16_t kReducedSamples[16] = {
    detail::pattern_row("0000000001000001"), detail::pattern_row("0010001000000000"),
    detail::pattern_row("0000000000010000"), detail::pattern_row("1000000000000000"),
    detail::pattern_row("0000000100000010"), detail::pattern_row("0000000000100000"),
    detail::pattern_row("0100001000000000"), detail::pattern_row("0000000000000100"),
    detail::pattern_row("0001000001000000"), detail::pattern_row("0000000000001000"),
    detail::pattern_row("0000000100000001"), detail::pattern_row("0000100000000000"),
    detail::pattern_row("0100000000000000"), detail::pattern_row("0000000010000100"),
    detail::pattern_row("0000010000000000"), detail::pattern_row("1000000000010000")};

// Whether the reduced-samples pattern flags the pixel at `column` within
// the tile and image row `row`.
inline bool reduced_sample_flag(std::int32_t column, std::int32_t row) {
    return (kReducedSamples[column & 15] >> (row & 15)) & 1u;
}

// The contrast rule. `range` is the largest per-channel (red, green, blue)
// spread of the samples so far; `capped` says the pixel is flagged by the
// reduced-samples pattern and has already taken its 5 samples. Returns the
// fraction a of the extra samples the pixel wants, 0..1. Inline, with
// wanted_samples: every adaptive pixel asks both once.
inline double contrast_fraction(float range, double threshold, bool capped) {
    const double c = range < 0.0f ? 0.0 : static_cast<double>(range) * 0.0039;
    if (capped) return 0.0;
    if (threshold <= 0.5) return threshold * c;
    if (threshold == 1.0) return c > 0.05 ? 1.0 : 0.0;
    // A threshold above 1 would take the logarithm of nothing: full refinement.
    if (threshold * c >= 1.0) return 1.0;
    return 1.0 - std::exp(std::log(1.0 - threshold * c) * (11.0 - 20.0 * (1.0 - threshold)));
}

// The number of samples wanted for fraction a: int(min + (max − min)·a + ½),
// computed in single precision.
inline std::int32_t wanted_samples(std::int32_t aa_min, std::int32_t aa_max, double fraction) {
    const float spread = static_cast<float>(aa_max - aa_min) * static_cast<float>(fraction);
    return static_cast<std::int32_t>(static_cast<float>(aa_min) + spread + 0.5f);
}

}  // namespace sky
