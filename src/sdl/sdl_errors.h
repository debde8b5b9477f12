// Reporting SDL errors: the line-numbered error reporter every SDL-reading
// part uses, the warning routine and the type-conflict exit.
//
// Errors are counted over the whole run (the main scene and every stage file).
// The 101st error prints its message, then "line %d: too many errors, giving
// up" and ends the program with status 1.
#pragma once

#include <cstdint>

namespace sky {

// Prints "line %d: " + the message formatted with its one argument + "\n",
// on the error channel, and counts it.
void sdl_report_error(const char* format, const char* argument = nullptr);
void sdl_report_error_int(const char* format, std::int32_t argument);

// The parser's error hook: the message alone.
void sdl_report_syntax_error(const char* message);

// "Warning: %s\n"; not counted.
void sdl_warning(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "Data type conflict, wanted %s, got %s, on line %d\n" and exit status 1.
[[noreturn]] void sdl_type_conflict(std::int32_t wanted, std::int32_t got, std::int32_t line);

// The line the lexer is on.
std::int32_t sdl_line();
void sdl_set_line(std::int32_t line);

std::int32_t sdl_error_count();
void sdl_reset_error_count();  // tests only: the count is never reset in a run

}  // namespace sky
