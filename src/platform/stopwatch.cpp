#include "platform/stopwatch.h"

#include <ctime>

namespace sky {

std::int64_t wall_seconds() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::int64_t tick_count_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace sky
