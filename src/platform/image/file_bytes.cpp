#include "platform/image/file_bytes.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/input_stream.h"

namespace sky {

int open_regular_file(const std::string& name, std::uint64_t* size, std::string* error) {
    // O_NONBLOCK: opening a FIFO would otherwise wait for a writer.
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *error = name + ": cannot open: " + std::strerror(errno);
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        *error = name + ": cannot open: " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = name + (S_ISDIR(info.st_mode)
                             ? ": is a directory, not an image file"
                             : std::string(": ") + kNotARegularFile + ", not read as an image");
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    *size = static_cast<std::uint64_t>(info.st_size);
    return fd;
}

FileBytes::~FileBytes() {
    if (fd_ >= 0) ::close(fd_);
}

bool FileBytes::open(const std::string& name, std::string* error) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = open_regular_file(name, &size_, error);
    return fd_ >= 0;
}

bool FileBytes::read(std::uint64_t offset, void* buffer, std::size_t count) const {
    if (fd_ < 0 || !holds(offset, count)) return false;
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (count > 0) {
        ssize_t n = ::pread(fd_, out, count, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // the file shrank under us, or the disk failed
        out += n;
        offset += static_cast<std::uint64_t>(n);
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace sky
