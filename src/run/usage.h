#pragma once

namespace sky {

void print_usage_text();
// Prints the usage text on the error channel and exits with status 1.
[[noreturn]] void usage();

}  // namespace sky
