#include "platform/files.h"

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include <fcntl.h>
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

bool oxFileCopy(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        errno = error;
        return false;
    }
    char block[65536];
    int reason = 0;
    while (reason == 0) {
        const ssize_t got = ::read(in, block, sizeof block);
        if (got == 0) break;
        if (got < 0) {
            if (errno != EINTR) reason = errno;
            continue;
        }
        for (ssize_t done = 0; done < got && reason == 0;) {
            const ssize_t put = ::write(out, block + done, static_cast<std::size_t>(got - done));
            if (put > 0)
                done += put;
            else if (put == 0)
                reason = ENOSPC;
            else if (errno != EINTR)
                reason = errno;
        }
    }
    ::close(in);
    if (::close(out) != 0 && reason == 0) reason = errno;
    if (reason != 0) {
        ::unlink(to.c_str());
        errno = reason;
    }
    return reason == 0;
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
