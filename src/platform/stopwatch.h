// A stopwatch on the monotonic clock, and the wall clock in whole seconds that
// the elapsed-time reports use.
#pragma once

#include <chrono>
#include <cstdint>

namespace sky {

class oxOS_StopWatch {
public:
    oxOS_StopWatch() { start(); }
    void start() { started_ = std::chrono::steady_clock::now(); }
    // Seconds since start().
    double stop() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    }

private:
    std::chrono::steady_clock::time_point started_;
};

// Wall-clock time in whole seconds.
std::int64_t wall_seconds();

// Milliseconds of a monotonic tick count, for per-pixel timing diagnostics.
std::int64_t tick_count_ms();

}  // namespace sky
