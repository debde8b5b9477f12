// Report channels: formatting, callbacks and the lock that keeps reports from
// several workers from interleaving within a line.
#include "platform/report.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

namespace sky {
namespace {

std::atomic<ReportCallback> user_callback{write_to_stdout};
std::atomic<ReportCallback> error_callback{write_to_stderr};
std::mutex report_mutex;
std::atomic<bool> progress_enabled{false};
bool progress_shown = false;  // under report_mutex

void erase_progress_locked() {
    if (!progress_shown) return;
    // Back to the line's start and clear to its end.
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    progress_shown = false;
}

// Formats into a stack buffer when the text fits (the usual case) and into a
// heap string otherwise, so long file names are never cut off.
template <typename Sink>
void format_and_send(const char* format, va_list args, Sink&& sink) {
    char buffer[1024];
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(buffer, sizeof buffer, format, copy);
    va_end(copy);
    if (length < 0) return;
    if (static_cast<std::size_t>(length) < sizeof buffer) {
        sink(buffer);
        return;
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    sink(text.c_str());
}

void send(std::atomic<ReportCallback>& channel, const char* text) {
    std::lock_guard lock(report_mutex);
    erase_progress_locked();
    channel.load(std::memory_order_acquire)(text);
}

}  // namespace

void write_to_stdout(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

void write_to_stderr(const char* text) {
    std::fputs(text, stderr);
    std::fflush(stderr);
}

void rptProgressEnable(bool on) {
    std::lock_guard lock(report_mutex);
    if (!on) erase_progress_locked();
    progress_enabled.store(on, std::memory_order_relaxed);
}

void rptProgress(const char* text) {
    if (!progress_enabled.load(std::memory_order_relaxed)) return;
    std::lock_guard lock(report_mutex);
    std::fputs("\r", stderr);
    std::fputs(text, stderr);
    std::fputs("\033[K", stderr);
    std::fflush(stderr);
    progress_shown = true;
}

void rptProgressErase() {
    std::lock_guard lock(report_mutex);
    erase_progress_locked();
}

void rptSetUserCB(ReportCallback callback) {
    user_callback.store(callback ? callback : write_to_stdout, std::memory_order_release);
}

void rptSetErrorCB(ReportCallback callback) {
    error_callback.store(callback ? callback : write_to_stderr, std::memory_order_release);
}

void rptUserV(const char* format, va_list args) {
    format_and_send(format, args, [](const char* text) { send(user_callback, text); });
}

void rptErrorV(const char* format, va_list args) {
    format_and_send(format, args, [](const char* text) { send(error_callback, text); });
}

void rptUser(const char* format, ...) {
    va_list args;
    va_start(args, format);
    rptUserV(format, args);
    va_end(args);
}

void rptError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    rptErrorV(format, args);
    va_end(args);
}

void rptWarning(const char* format, ...) {
    va_list args;
    va_start(args, format);
    format_and_send(format, args, [](const char* text) { rptError("Warning: %s\n", text); });
    va_end(args);
}

int AL_vsnprintf(char* buffer, std::size_t size, const char* format, va_list args) {
    if (size == 0) return 0;
    int length = std::vsnprintf(buffer, size, format, args);
    buffer[size - 1] = '\0';
    return length;
}

}  // namespace sky
