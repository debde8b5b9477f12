// The one place that decides to end the program.
//
// `fatal` prints its message on the error channel, runs the registered clean-up
// handlers (each called with 0) and exits with status 1. Internal consistency
// failures end the program the same way, naming the source file and line.
// Library code never exits on its own: it returns an error to its caller.
#pragma once

namespace sky {

using CleanupHandler = void (*)(int);

// Handlers run in reverse order of registration (the last resource acquired
// is released first). Registering the same handler twice runs it once.
void add_cleanup_handler(CleanupHandler handler);
void remove_cleanup_handler(CleanupHandler handler);

[[noreturn]] void fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Runs the clean-up handlers once; later calls do nothing.
void run_cleanup_handlers();

// Flushes the standard streams and ends the process with `status` at once,
// without running static destructors: other threads may still be rendering.
[[noreturn]] void exit_process(int status);

[[noreturn]] void internal_error(const char* file, int line, const char* what);

// From now on, memory that runs out where no caller was ready for it (a
// container growing in a worker) ends the program as the other
// out-of-memory failures do: a message, the clean-up handlers, status 1,
// instead of an abort. Other uncaught exceptions end it as before.
void end_uncaught_out_of_memory();

// For the fuzzing harness only: called instead of ending the process, so one
// input's fatal error does not end the whole run. The hook must not return
// (it throws); if it does, the process ends as usual.
using ExitHook = void (*)(int status);
void set_exit_hook(ExitHook hook);

}  // namespace sky

// Always-on check for cheap invariants.
#define SKY_CHECK(condition)                                                     \
    do {                                                                         \
        if (!(condition)) ::sky::internal_error(__FILE__, __LINE__, #condition); \
    } while (0)

#ifdef NDEBUG
#define SKY_DCHECK(condition) \
    do {                      \
    } while (0)
#else
#define SKY_DCHECK(condition) SKY_CHECK(condition)
#endif
