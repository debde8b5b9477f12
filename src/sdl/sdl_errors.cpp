// The line-numbered error reporter, the warning routine and the type-conflict
// exit shared by everything that reads SDL.
//
// The line number and the error count are process-wide: the lexer advances
// the line, and the count runs over the main scene and every stage file, so
// that the run driver can end the program with it after each parse.
#include "sdl/sdl_errors.h"

#include <cstdarg>
#include <cstdio>

#include "platform/fatal.h"
#include "platform/report.h"
#include "sdl/types.h"

namespace sky {
namespace {

// A scene with this many errors is hopeless; stop at the next one rather
// than bury the first messages under thousands of consequential ones.
constexpr std::int32_t kMaxErrors = 100;

// Messages are formatted into buffers of this size, in bytes; longer texts
// (a name of several kilobytes) are cut, never overflowed.
constexpr std::size_t kMessageSize = 1024;

std::int32_t current_line = 1;
std::int32_t error_count = 0;

// Prints the formatted message under the current line number and counts it.
void report(const char* message) {
    ++error_count;
    rptError("line %d: %s\n", current_line, message);
    if (error_count > kMaxErrors) {
        rptError("line %d: too many errors, giving up\n", current_line);
        exit_process(1);
    }
}

}  // namespace

void sdl_report_error(const char* format, const char* argument) {
    char message[kMessageSize];
    // Callers pass formats without conversions and no argument; "" keeps a
    // stray %s from reading a null pointer.
    std::snprintf(message, sizeof message, format, argument != nullptr ? argument : "");
    report(message);
}

void sdl_report_error_int(const char* format, std::int32_t argument) {
    char message[kMessageSize];
    std::snprintf(message, sizeof message, format, argument);
    report(message);
}

void sdl_report_syntax_error(const char* message) {
    // Printed as it stands: a parser message is text, not a format.
    char text[kMessageSize];
    std::snprintf(text, sizeof text, "%s", message);
    report(text);
}

void sdl_warning(const char* format, ...) {
    char message[kMessageSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    rptWarning("%s", message);
}

void sdl_type_conflict(std::int32_t wanted, std::int32_t got, std::int32_t line) {
    char message[kMessageSize];
    std::snprintf(message, sizeof message, "Data type conflict, wanted %s, got %s, on line %d",
                  sdl_type_name(wanted), sdl_type_name(got), line);
    fatal("%s\n", message);
}

std::int32_t sdl_line() {
    return current_line;
}
void sdl_set_line(std::int32_t line) {
    current_line = line;
}

std::int32_t sdl_error_count() {
    return error_count;
}
void sdl_reset_error_count() {
    error_count = 0;
}

}  // namespace sky
