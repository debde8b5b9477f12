#include "run/signals.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include <unistd.h>

#include "platform/fatal.h"
#include "platform/memory.h"

namespace sky {
namespace {

// Interrupt, illegal instruction, floating-point error and segmentation
// violation, and the two asynchronous requests a render farm sends to stop a
// job (hang-up and termination).
constexpr int kCaughtSignals[] = {SIGINT, SIGILL, SIGFPE, SIGSEGV, SIGHUP, SIGTERM};
constexpr int kSignalCount = sizeof kCaughtSignals / sizeof kCaughtSignals[0];

struct sigaction* original_actions = nullptr;

void restore_original_handlers() {
    for (int i = 0; i < kSignalCount; ++i)
        ::sigaction(kCaughtSignals[i], &original_actions[i], nullptr);
}

void on_signal(int number) {
    // Written directly: the report channel's lock may be held by the
    // interrupted code.
    char message[64];
    int length = std::snprintf(message, sizeof message, "signal received: %d\n", number);
    if (length > 0) (void)!::write(2, message, static_cast<std::size_t>(length));
    restore_original_handlers();
    run_cleanup_handlers();
    exit_process(1);
}

}  // namespace

void install_signal_handler() {
    original_actions =
        static_cast<struct sigaction*>(SKY_CALLOC(kSignalCount, sizeof(struct sigaction)));
    if (original_actions == nullptr) fatal("cannot malloc signal handler origSigStatus\n");
    for (int i = 0; i < kSignalCount; ++i) {
        ::sigaction(kCaughtSignals[i], nullptr, &original_actions[i]);
        if (original_actions[i].sa_handler == SIG_IGN) continue;  // e.g. nohup keeps SIGHUP ignored
        struct sigaction action {};
        action.sa_handler = on_signal;
        sigemptyset(&action.sa_mask);
        ::sigaction(kCaughtSignals[i], &action, nullptr);
    }
}

void restore_signal_handlers() {
    if (original_actions) restore_original_handlers();
}

}  // namespace sky
