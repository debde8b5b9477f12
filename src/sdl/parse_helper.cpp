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
        begun_ = false;
    }
    changed_.notify_all();
    return true;
}

bool ParseHelper::finish() {
    std::unique_lock lock(mutex_);
    if (work_ != nullptr && !begun_) {
        work_ = nullptr;
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
        begun_ = true;
        lock.unlock();
        work(context);
        lock.lock();
        work_ = nullptr;
        changed_.notify_all();
    }
}

}  // namespace sky
