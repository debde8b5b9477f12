// Two-dimensional sample positions for lights with an extent (linear and
// area lights): scrambled radical-inverse sequences in bases 3 and 5, read
// from the sample's seed onward, so neighbouring samples of a pixel see
// different, well spread positions and a render is the same every time.
#pragma once

#include <cstdint>

namespace sky {

inline constexpr int kBase3Entries = 729;  // 3^6
inline constexpr int kBase5Entries = 625;  // 5^4

// The radical inverse of i in `base` with each digit d replaced by
// permutation[d] before it is mirrored about the point: in [0, 1).
double scrambled_radical_inverse(std::uint32_t i, int base, const int* permutation);

// The digit permutations of the tables (identity in base 3; base 7 is
// defined for the same builder).
extern const int kPermutation3[3];
extern const int kPermutation5[5];
extern const int kPermutation7[7];

// The k-th position of the sample whose seed is `seed`: table 3 at
// (seed + k) mod 729 and table 5 at (seed + k) mod 625.
void sample_position(std::uint32_t seed, int k, float& a, float& b);

}  // namespace sky
