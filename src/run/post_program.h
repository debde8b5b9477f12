// The user's post-processing program (-f), run after each camera's image.
#pragma once

#include <string>

namespace sky {

// Prints the command line "%s %d %d %s %s\n" (the program, the integer part
// of the frame, the extension, the image and matte names, each name "" when
// empty) and runs it through the shell. The names come from scene files: they
// reach the program as single arguments, quoted, never as shell syntax, and
// never as options (a name beginning with "-" is passed, and printed, as
// "./-name").
// The program's exit status is not examined.
void run_post_program(const std::string& program, float frame, int extension,
                      const std::string& image, const std::string& matte);

// `name` with "./" in front when it begins with "-".
std::string not_an_option(const std::string& name);

// A name quoted for the shell: one argument whatever it contains.
std::string shell_quote(const std::string& text);

}  // namespace sky
