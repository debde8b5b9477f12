#include "run/post_program.h"

#include <cerrno>
#include <cstdio>

#include <spawn.h>
#include <sys/wait.h>

#include "platform/report.h"

extern char** environ;

namespace sky {

std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

// A relative name that begins with "-" would reach the program as an option
// ("--version", "-rf"): "./" in front names the same file and cannot.
std::string not_an_option(const std::string& name) {
    return !name.empty() && name[0] == '-' ? "./" + name : name;
}

void run_post_program(const std::string& program, float frame, int extension,
                      const std::string& image_name, const std::string& matte_name) {
    const std::string image = not_an_option(image_name), matte = not_an_option(matte_name);
    int whole_frame = static_cast<int>(frame);
    rptUser("%s %d %d %s %s\n", program.c_str(), whole_frame, extension,
            image.empty() ? "\"\"" : image.c_str(), matte.empty() ? "\"\"" : matte.c_str());
    std::string command = program + " " + std::to_string(whole_frame) + " " +
                          std::to_string(extension) + " " + shell_quote(image) + " " +
                          shell_quote(matte);
    std::fflush(nullptr);
    const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace sky
