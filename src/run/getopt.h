// The program's own option scanner.
//
// Option words begin with "-" or "/"; a letter followed by ":" in the option
// string takes an argument, either the rest of the word or the next argument.
// The scanner prints nothing: its callers decide what a bad option means.
#pragma once

namespace sky {

extern const char* optarg;  // argument of the option just returned, or null
extern int optind;          // index of the next argument to scan, initially 1
extern int opterr;          // non-zero: unknown letters and ':' return '?'

// Returns the next option letter, '?' (or the letter itself when opterr is 0)
// for an unknown letter or a missing argument, or -1 at the end of the options.
int getopt(int argc, char* const argv[], const char* optstring);

// Starts a new scan: optind 1 and no option word in progress.
void getopt_reset();

// True when the argument taken last was the separate argument of an option
// ("-s" "-10"), as opposed to an option word of its own.
bool getopt_last_was_option_argument();

}  // namespace sky
