#include "output/partial_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/fatal.h"
#include "platform/partial_names.h"

namespace sky {
namespace {

std::mutex lock;
std::vector<std::string> held;

// Clean-up handler: runs from `fatal` and the signal handler, once.
void remove_held(int) {
    for (const std::string& partial : held) ::unlink(partial.c_str());
    held.clear();
}

void forget(const std::string& partial) {
    std::lock_guard<std::mutex> guard(lock);
    held.erase(std::remove(held.begin(), held.end(), partial), held.end());
}

}  // namespace

std::string partial_name(const std::string& name) {
    if (name.empty() || name.back() == '/') return "";
    struct stat info {};
    if (::lstat(name.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return "";
    return partial_name_of(name, ::getpid());
}

void hold_partial(const std::string& partial) {
    std::lock_guard<std::mutex> guard(lock);
    if (held.empty()) add_cleanup_handler(remove_held);
    held.push_back(partial);
}

bool complete_partial(const std::string& partial, const std::string& name) {
    forget(partial);
    if (std::rename(partial.c_str(), name.c_str()) == 0) return true;
    const int error = errno;
    ::unlink(partial.c_str());
    errno = error;
    return false;
}

void drop_partial(const std::string& partial) {
    forget(partial);
    ::unlink(partial.c_str());
}

std::string as_final(std::string text, const std::string& partial, const std::string& name) {
    if (partial.empty()) return text;
    for (std::size_t at = text.find(partial); at != std::string::npos;
         at = text.find(partial, at + name.size()))
        text.replace(at, partial.size(), name);
    return text;
}

}  // namespace sky
