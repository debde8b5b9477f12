// The line-numbered SDL error reporter, warnings and the type-conflict exit.
// Errors are counted over the whole run; past 100 the run gives up, because a
// file that broken is not worth reading to its end.
#include "sdl/sdl_errors.h"

#include <cstdarg>
#include <cstdio>

#include "platform/fatal.h"
#include "platform/report.h"
#include "sdl/types.h"

namespace sky {
namespace {

std::int32_t current_line = 1;
std::int32_t error_count = 0;
constexpr std::int32_t kErrorLimit = 100;

void count_error() {
    if (++error_count > kErrorLimit) {
        rptError("line %d: too many errors, giving up\n", current_line);
        run_cleanup_handlers();
        exit_process(1);
    }
}

}  // namespace

void sdl_report_error(const char* format, const char* argument) {
    char message[1024];
    std::snprintf(message, sizeof message, format, argument);
    rptError("line %d: %s\n", current_line, message);
    count_error();
}

void sdl_report_error_int(const char* format, std::int32_t argument) {
    char message[1024];
    std::snprintf(message, sizeof message, format, argument);
    rptError("line %d: %s\n", current_line, message);
    count_error();
}

void sdl_report_syntax_error(const char* message) {
    sdl_report_error("%s", message);
}

void sdl_warning(const char* format, ...) {
    char message[1024];
    va_list args;
    va_start(args, format);
    AL_vsnprintf(message, sizeof message, format, args);
    va_end(args);
    rptError("Warning: %s\n", message);
}

void sdl_type_conflict(std::int32_t wanted, std::int32_t got, std::int32_t line) {
    fatal("Data type conflict, wanted %s, got %s, on line %d\n", sdl_type_name(wanted),
          sdl_type_name(got), line);
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
