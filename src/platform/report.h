// Report channels of the base library.
//
// Every message the renderer prints goes through one of these: user reports
// (progress, summaries, statistics) and error reports (errors and warnings).
// Each channel hands its formatted text to a replaceable callback, so that link
// mode can forward reports to the modelling application; the defaults write to
// standard output and standard error and flush at once, because render-farm
// wrappers read both streams line by line while the render is running.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace sky {

using ReportCallback = void (*)(const char* text);

void rptSetUserCB(ReportCallback callback);
void rptSetErrorCB(ReportCallback callback);

void rptUser(const char* format, ...) __attribute__((format(printf, 1, 2)));
void rptError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void rptUserV(const char* format, va_list args);
void rptErrorV(const char* format, va_list args);

// Formats the warning text and prints it as "Warning: %s\n" on the error channel.
void rptWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));

// vsnprintf that always terminates the buffer; returns the length the full
// text would have had, like vsnprintf.
int AL_vsnprintf(char* buffer, std::size_t size, const char* format, va_list args);

// The progress line: one line on standard error, redrawn in place while a
// render runs and erased before any other report is written, so it never
// mixes with them. Off until enabled; whoever enables it makes sure standard
// error is a terminal (a pipe or a file never receives it).
void rptProgressEnable(bool on);
// Shows `text` (one line, no newline) in place of the line shown before.
void rptProgress(const char* text);
// Erases the line, if one is shown.
void rptProgressErase();

// The default callbacks, for callers that wrap them.
void write_to_stdout(const char* text);
void write_to_stderr(const char* text);

}  // namespace sky
