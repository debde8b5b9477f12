#include "sdl/parse_helper.h"

#include <chrono>
#include <system_error>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace sky {

namespace {

// How long the helper watches for the next piece of work before it sleeps. A
// run's pieces are followed within microseconds by the copying of them,
// which a sleeping helper would join only after a wake-up as long as this
// watch (or, on a loaded machine, much longer); a parse makes two or three
// hand-overs per megabyte, so a watch that finds nothing costs little.
constexpr auto kWatch = std::chrono::microseconds(20);

void relax() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#endif
}

}  // namespace

ParseHelper::~ParseHelper() {
    stop();
}

bool ParseHelper::start(void (*work)(void*), void* context) {
    if (!thread_.joinable()) {
        stopping_ = false;
        try {
            thread_ = std::thread([this] { loop(); });
        } catch (const std::system_error&) {
            return false;
        }
    }
    {
        std::lock_guard lock(mutex_);
        work_ = work;
        context_ = context;
        begun_ = false;
        offered_.store(true, std::memory_order_release);
    }
    changed_.notify_all();
    return true;
}

bool ParseHelper::finish() {
    std::unique_lock lock(mutex_);
    if (work_ != nullptr && !begun_) {
        work_ = nullptr;
        offered_.store(false, std::memory_order_relaxed);
        return false;
    }
    changed_.wait(lock, [this] { return work_ == nullptr; });
    return true;
}

void ParseHelper::stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        offered_.store(true, std::memory_order_release);
    }
    changed_.notify_all();
    thread_.join();
}

void ParseHelper::loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (work_ == nullptr && !stopping_) {
            lock.unlock();
            const auto until = std::chrono::steady_clock::now() + kWatch;
            while (!offered_.load(std::memory_order_acquire) &&
                   std::chrono::steady_clock::now() < until)
                relax();
            lock.lock();
        }
        changed_.wait(lock, [this] { return work_ != nullptr || stopping_; });
        if (work_ == nullptr) return;
        void (*work)(void*) = work_;
        void* context = context_;
        begun_ = true;
        offered_.store(false, std::memory_order_relaxed);
        lock.unlock();
        work(context);
        lock.lock();
        work_ = nullptr;
        changed_.notify_all();
    }
}

}  // namespace sky
