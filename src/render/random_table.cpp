// The table is filled once, on first use, by a 64-bit linear congruential
// generator whose top 53 bits make each double: fixed, portable values.
#include "render/random_table.h"

#include <cstdint>

#include "base/workers.h"

namespace sky {
namespace {

struct RandomTable {
    double values[kRandomTableSize];
    RandomTable() {
        std::uint64_t state = 0x853c49e6748fea9bULL;
        for (double& v : values) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            v = static_cast<double>(state >> 11) * (1.0 / 9007199254740992.0);
        }
    }
};

const RandomTable& table() {
    static const RandomTable t;
    return t;
}

struct alignas(64) Cursor {
    int position = 0;
};
Cursor cursors[kMaxWorkers];

}  // namespace

double AR_random() {
    int& position = cursors[worker_index()].position;
    const double value = table().values[position];
    position = position >= kRandomTableSize - 1 ? 0 : position + 1;
    return value;
}

void AR_random_seek(int position) {
    cursors[worker_index()].position = position >= 0 && position < kRandomTableSize ? position : 0;
}

}  // namespace sky
