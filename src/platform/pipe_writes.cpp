// A caught signal (rather than an ignored one) is reset to its default in
// programs the renderer starts, and it lets the handler tell, per thread,
// whether the write that raised it was made inside a scope.
#include "platform/pipe_writes.h"

#include <csignal>
#include <mutex>

namespace sky {
namespace {

thread_local int scope_depth = 0;
struct sigaction original_action {};

void on_broken_pipe(int) {
    if (scope_depth > 0) return;  // the write fails with EPIPE
    if (original_action.sa_handler == SIG_IGN) return;
    // Not ours: behave as the process would have without us. The signal is
    // blocked while its handler runs, so it arrives once the handler returns.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(SIGPIPE, &fallback, nullptr);
    ::raise(SIGPIPE);
}

void install_handler() {
    ::sigaction(SIGPIPE, nullptr, &original_action);
    struct sigaction action {};
    action.sa_handler = on_broken_pipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGPIPE, &action, nullptr);
}

}  // namespace

BrokenPipeScope::BrokenPipeScope() {
    static std::once_flag installed;
    std::call_once(installed, install_handler);
    ++scope_depth;
}

BrokenPipeScope::~BrokenPipeScope() {
    --scope_depth;
}

}  // namespace sky
