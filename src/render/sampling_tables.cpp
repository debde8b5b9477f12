// The sampling tables. The cell and visit orders spread the first samples
// of a pixel over its area (the first few already straddle the centre and
// the edges), so that the contrast test after the first pass sees the
// pixel's range early; the reduced-samples pattern scatters 24 capped
// pixels over every 16 × 16 block so that capping does not line up into
// visible rows or columns.
#include "render/sampling_tables.h"

namespace sky {
namespace {

JitterTables tables;

constexpr std::int32_t kCells4[] = {0, 1, 2, 3};
constexpr std::int32_t kCells9[] = {4, 7, 5, 1, 3, 6, 8, 2, 0};
constexpr std::int32_t kCells16[] = {9, 10, 6, 5, 13, 14, 11, 7, 2, 1, 4, 8, 12, 15, 3, 0};
constexpr std::int32_t kCells25[] = {12, 17, 13, 7,  11, 16, 18, 8, 6, 10, 22, 14, 2,
                                     1,  5,  15, 21, 23, 19, 9,  3, 0, 20, 24, 4};
constexpr std::int32_t kCells36[] = {20, 21, 15, 14, 26, 27, 22, 16, 9,  8,  13, 19,
                                     25, 28, 10, 7,  12, 18, 32, 33, 23, 17, 3,  2,
                                     1,  6,  24, 31, 34, 29, 11, 4,  0,  30, 35, 5};

constexpr std::int32_t kVisit4[] = {0, 2, 1, 3};
constexpr std::int32_t kVisit9[] = {0, 5, 2, 6, 1, 7, 3, 8, 4};
constexpr std::int32_t kVisit16[] = {0, 8, 4, 9, 2, 10, 5, 11, 1, 12, 6, 13, 3, 14, 7, 15};
constexpr std::int32_t kVisit25[] = {0,  12, 7,  9,  11, 6,  10, 8, 5,  13, 14, 3, 15,
                                     16, 4,  17, 18, 2,  19, 21, 1, 20, 23, 22, 24};
constexpr std::int32_t kVisit36[] = {0,  12, 6,  22, 8,  18, 3,  10, 14, 4,  16, 2,
                                     20, 9,  17, 1,  13, 5,  15, 7,  11, 19, 21, 24,
                                     23, 26, 25, 28, 27, 30, 29, 32, 31, 34, 33, 35};

}  // namespace

void build_jitter_tables(int bits) {
    const int size = 1 << bits;
    for (int k = 0; k < size && k < kJitterSize; ++k) {
        std::int32_t r = 0;
        for (int b = 0; b < bits; ++b)
            if (k & (1 << b)) r |= 1 << (bits - 1 - b);
        tables.reversed[k] = r;
        tables.jitter[k] = static_cast<double>(r) / size;
    }
}

const JitterTables& jitter_tables() {
    return tables;
}

namespace {

// The cell and visit orders of a pixel taking `samples` samples; anything
// but 9, 16, 25 and 36 takes those of 4.
struct SampleOrders {
    std::span<const std::int32_t> cells, visit;
};

SampleOrders sample_orders(int samples) {
    switch (samples) {
        case 9:
            return {kCells9, kVisit9};
        case 16:
            return {kCells16, kVisit16};
        case 25:
            return {kCells25, kVisit25};
        case 36:
            return {kCells36, kVisit36};
        default:
            return {kCells4, kVisit4};
    }
}

}  // namespace

std::span<const std::int32_t> cell_order(int samples) {
    return sample_orders(samples).cells;
}

std::span<const std::int32_t> visit_order(int samples) {
    return sample_orders(samples).visit;
}

}  // namespace sky
