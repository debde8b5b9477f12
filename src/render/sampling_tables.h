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

// Whether the reduced-samples pattern flags the pixel at `column` within
// the tile and image row `row`.
bool reduced_sample_flag(std::int32_t column, std::int32_t row);

// The contrast rule. `range` is the largest per-channel (red, green, blue)
// spread of the samples so far; `capped` says the pixel is flagged by the
// reduced-samples pattern and has already taken its 5 samples. Returns the
// fraction a of the extra samples the pixel wants, 0..1.
double contrast_fraction(float range, double threshold, bool capped);

// The number of samples wanted for fraction a: int(min + (max − min)·a + ½),
// computed in single precision.
std::int32_t wanted_samples(std::int32_t aa_min, std::int32_t aa_max, double fraction);

}  // namespace sky
