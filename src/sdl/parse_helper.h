// A second thread for the parse. The parse runs before any render worker
// exists, so the second processor would idle while the scanner converts a
// long list of numbers; the helper takes one piece of such work at a time
// while the parse's own thread does another.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace sky {

class ParseHelper {
public:
    ParseHelper() = default;
    ~ParseHelper();
    ParseHelper(const ParseHelper&) = delete;
    ParseHelper& operator=(const ParseHelper&) = delete;

    // Runs `work(context)` on the helper's thread, starting the thread when
    // it is not running. False (and nothing run) when no thread can be had:
    // the caller does the work itself. One piece at a time: wait() for it
    // before the next.
    bool start(void (*work)(void*), void* context);
    // Returns when the work start() handed over has run.
    void wait();
    // Ends the thread; the next start() begins another.
    void stop();

private:
    void loop();

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    void (*work_)(void*) = nullptr;
    void* context_ = nullptr;
    bool stopping_ = false;
};

}  // namespace sky
