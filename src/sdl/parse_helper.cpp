#include "sdl/parse_helper.h"

#include <system_error>

namespace sky {

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
    }
    changed_.notify_all();
    return true;
}

void ParseHelper::wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return work_ == nullptr; });
}

void ParseHelper::stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ParseHelper::loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return work_ != nullptr || stopping_; });
        if (work_ == nullptr) return;
        void (*work)(void*) = work_;
        void* context = context_;
        lock.unlock();
        work(context);
        lock.lock();
        work_ = nullptr;
        changed_.notify_all();
    }
}

}  // namespace sky
