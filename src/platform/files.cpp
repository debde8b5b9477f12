#include "platform/files.h"

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

namespace sky {

bool SB_FileExists(const std::string& name) {
    struct stat info {};
    return !name.empty() && ::stat(name.c_str(), &info) == 0;
}

bool oxFileDelete(const std::string& name) {
    return ::unlink(name.c_str()) == 0 || errno == ENOENT;
}

std::optional<std::string> Ar_expand_pixname(const std::string& name, int must_exist) {
    if (name.empty()) return std::nullopt;
    if (SB_FileExists(name)) return name;
    const char* path = std::getenv("SKYLOOM_IMAGE_PATH");
    if (name.front() != '/' && path != nullptr) {
        std::string_view rest(path);
        while (!rest.empty()) {
            std::size_t colon = rest.find(':');
            std::string_view dir = rest.substr(0, colon);
            if (!dir.empty()) {
                std::string candidate(dir);
                if (candidate.back() != '/') candidate += '/';
                candidate += name;
                if (SB_FileExists(candidate)) return candidate;
            }
            if (colon == std::string_view::npos) break;
            rest.remove_prefix(colon + 1);
        }
    }
    if (must_exist) return std::nullopt;
    return name;
}

}  // namespace sky

namespace sky {

bool oxOS_isDirectory(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool oxOS_createDirectory(const std::string& path) {
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    return ::mkdir(path.c_str(), 0777) == 0;
}

std::string oxOS_joinPath(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    if (directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

}  // namespace sky
