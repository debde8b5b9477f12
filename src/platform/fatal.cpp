// fatal, the clean-up handler list and the internal-error exit.
#include "platform/fatal.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <vector>

#include <unistd.h>

#include "platform/report.h"

namespace sky {
namespace {

std::mutex& handler_mutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<CleanupHandler>& handlers() {
    static std::vector<CleanupHandler> list;
    return list;
}

// Serialises the ends of the program: when two workers fail at once, the
// second waits here while the first prints, cleans up and exits.
std::recursive_mutex& exit_mutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

}  // namespace

void add_cleanup_handler(CleanupHandler handler) {
    std::lock_guard lock(handler_mutex());
    auto& list = handlers();
    if (std::find(list.begin(), list.end(), handler) == list.end()) list.push_back(handler);
}

void remove_cleanup_handler(CleanupHandler handler) {
    std::lock_guard lock(handler_mutex());
    auto& list = handlers();
    list.erase(std::remove(list.begin(), list.end(), handler), list.end());
}

void run_cleanup_handlers() {
    std::vector<CleanupHandler> list;
    {
        std::lock_guard lock(handler_mutex());
        list.swap(handlers());
    }
    for (auto it = list.rbegin(); it != list.rend(); ++it) (*it)(0);
}

ExitHook exit_hook = nullptr;

void set_exit_hook(ExitHook hook) {
    exit_hook = hook;
}

void exit_process(int status) {
    {
        std::lock_guard lock(exit_mutex());
        std::fflush(nullptr);
        if (exit_hook == nullptr) std::_Exit(status);
    }
    exit_hook(status);
    std::_Exit(status);
}

void fatal(const char* format, ...) {
    std::lock_guard lock(exit_mutex());
    va_list args;
    va_start(args, format);
    rptErrorV(format, args);
    va_end(args);
    run_cleanup_handlers();
    exit_process(1);
}

void internal_error(const char* file, int line, const char* what) {
    std::lock_guard lock(exit_mutex());
    // The module's name, not the path of the machine it was built on.
    const char* module = std::strrchr(file, '/');
    rptError("Internal error in %s, line %d: %s\n", module ? module + 1 : file, line, what);
    run_cleanup_handlers();
    exit_process(1);
}

namespace {

std::terminate_handler previous_terminate = nullptr;

[[noreturn]] void terminate_uncaught() {
    // A message that itself runs out of memory comes back here: that second
    // time the program ends as it would have without this handler.
    thread_local bool entered = false;
    if (!entered) {
        entered = true;
        if (const std::exception_ptr caught = std::current_exception()) {
            try {
                std::rethrow_exception(caught);
            } catch (const std::bad_alloc&) {
                fatal("Error: out of memory.\n");
            } catch (...) {
            }
        }
    }
    if (previous_terminate != nullptr) previous_terminate();
    std::abort();
}

}  // namespace

void end_uncaught_out_of_memory() {
    const std::terminate_handler before = std::set_terminate(terminate_uncaught);
    if (before != terminate_uncaught) previous_terminate = before;
}

}  // namespace sky
