// A second thread for the parse. The parse runs before any render worker
// exists, so the second processor would idle while the scanner converts a
// long list of numbers; the helper takes one piece of such work at a time
// while the parse's own thread does another.
#pragma once

#include <atomic>
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

    // Hands `work(context)` to the helper's thread, starting the thread when
    // it is not running. False (and nothing handed over) when no thread can
    // be had. One piece at a time: finish() it before the next.
    bool start(void (*work)(void*), void* context);
    // Returns when the work start() handed over has run, or takes it back
    // when the helper has not begun it (a loaded machine may not have given
    // the helper a processor yet): false, and the caller does it itself.
    bool finish();
    // Ends the thread; the next start() begins another.
    void stop();

private:
    void loop();

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    void (*work_)(void*) = nullptr;
    void* context_ = nullptr;
    bool begun_ = false;
    bool stopping_ = false;
    // Set with work_ or stopping_, for the helper to watch without the lock.
    std::atomic<bool> offered_{false};
};

}  // namespace sky
