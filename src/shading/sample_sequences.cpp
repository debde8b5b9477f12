// The sequence tables, built once on first use (before any worker starts
// shading: the lights are prepared on the main thread, which builds them).
#include "shading/sample_sequences.h"

#include <array>

namespace sky {

const int kPermutation3[3] = {0, 1, 2};
const int kPermutation5[5] = {0, 3, 2, 1, 4};
const int kPermutation7[7] = {0, 2, 5, 3, 1, 4, 6};

double scrambled_radical_inverse(std::uint32_t i, int base, const int* permutation) {
    double result = 0.0;
    double weight = 1.0 / base;
    while (i > 0) {
        result += permutation[i % static_cast<std::uint32_t>(base)] * weight;
        i /= static_cast<std::uint32_t>(base);
        weight /= base;
    }
    return result;
}

namespace {

struct Tables {
    std::array<float, kBase3Entries> base3;
    std::array<float, kBase5Entries> base5;
    Tables() {
        for (int i = 0; i < kBase3Entries; ++i)
            base3[i] = static_cast<float>(scrambled_radical_inverse(i, 3, kPermutation3));
        for (int i = 0; i < kBase5Entries; ++i)
            base5[i] = static_cast<float>(scrambled_radical_inverse(i, 5, kPermutation5));
    }
};

const Tables& tables() {
    static const Tables built;
    return built;
}

}  // namespace

void sample_position(std::uint32_t seed, int k, float& a, float& b) {
    const Tables& t = tables();
    std::uint32_t i = seed + static_cast<std::uint32_t>(k);
    a = t.base3[i % kBase3Entries];
    b = t.base5[i % kBase5Entries];
}

}  // namespace sky
