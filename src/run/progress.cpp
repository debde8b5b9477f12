#include "run/progress.h"

#include <atomic>
#include <chrono>
#include <cstdio>

#include <unistd.h>

#include "base/options.h"
#include "platform/report.h"

namespace sky {
namespace {

using Clock = std::chrono::steady_clock;

// Redraws are kept to a few a second: a terminal slower than the tiles
// would otherwise hold the workers up at the report lock.
constexpr std::int64_t kRedrawMilliseconds = 200;

struct Display {
    bool on = false;
    double frame = 0;
    std::int32_t tiles = 0;
    Clock::time_point start;
    std::atomic<std::int32_t> done{0};
    std::atomic<std::int64_t> last_draw{0};  // milliseconds since start
};

Display& display() {
    static Display state;
    return state;
}

std::int64_t milliseconds_since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void format_time(char* out, std::size_t size, std::int64_t seconds) {
    std::snprintf(out, size, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
}

void draw(const Display& d, std::int32_t done, std::int64_t elapsed_ms) {
    char elapsed[32], left[32], line[160];
    format_time(elapsed, sizeof elapsed, elapsed_ms / 1000);
    if (done > 0 && done < d.tiles) {
        const double per_tile = static_cast<double>(elapsed_ms) / done;
        format_time(left, sizeof left,
                    static_cast<std::int64_t>(per_tile * (d.tiles - done) / 1000.0 + 0.5));
        std::snprintf(line, sizeof line, "Frame %g: %d of %d tiles, %s elapsed, about %s left",
                      d.frame, done, d.tiles, elapsed, left);
    } else {
        std::snprintf(line, sizeof line, "Frame %g: %d of %d tiles, %s elapsed", d.frame, done,
                      d.tiles, elapsed);
    }
    rptProgress(line);
}

}  // namespace

void start_progress_display() {
    const RenderOptions& options = render_options();
    Display& d = display();
    d.on = !options.quiet && !options.link_mode && ::isatty(STDERR_FILENO) == 1;
    rptProgressEnable(d.on);
}

void progress_pass_started(double frame, std::int32_t tiles) {
    Display& d = display();
    if (!d.on) return;
    d.frame = frame;
    d.tiles = tiles;
    d.start = Clock::now();
    d.done.store(0, std::memory_order_relaxed);
    d.last_draw.store(0, std::memory_order_relaxed);
    draw(d, 0, 0);
}

void progress_tile_finished() {
    Display& d = display();
    if (!d.on) return;
    const std::int32_t done = d.done.fetch_add(1, std::memory_order_relaxed) + 1;
    const std::int64_t now = milliseconds_since(d.start);
    std::int64_t last = d.last_draw.load(std::memory_order_relaxed);
    // One worker wins each redraw; the others go back to their tiles.
    if (now - last < kRedrawMilliseconds ||
        !d.last_draw.compare_exchange_strong(last, now, std::memory_order_relaxed))
        return;
    draw(d, done, now);
}

void progress_pass_finished() {
    if (display().on) rptProgressErase();
}

}  // namespace sky
