#include "platform/input_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sky {
namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

}  // namespace

InputStream::InputStream(int fd, bool owns_fd, std::string name)
    : fd_(fd),
      owns_fd_(owns_fd),
      name_(std::move(name)),
      buffer_(new char[kBufferSize]),
      capacity_(kBufferSize) {
    struct stat info {};
    conversation_ =
        fd >= 0 && ((::fstat(fd, &info) == 0 && S_ISSOCK(info.st_mode)) || ::isatty(fd));
}

InputStream::~InputStream() {
    close();
}

std::unique_ptr<InputStream> InputStream::open_file(const std::string& path, std::string& error,
                                                    bool regular_only) {
    error.clear();
    // Opening a FIFO waits for a writer: a caller that takes regular files
    // only must be able to refuse it first, so that open does not wait.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (regular_only ? O_NONBLOCK : 0));
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    // A directory opens, but every read fails: say so now, as open would elsewhere.
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        error = std::strerror(EISDIR);
        return nullptr;
    }
    if (regular_only) {
        if (!S_ISREG(info.st_mode)) {
            ::close(fd);
            error = kNotARegularFile;
            return nullptr;
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    return std::unique_ptr<InputStream>(new InputStream(fd, true, path));
}

std::unique_ptr<InputStream> InputStream::standard_input() {
    return std::unique_ptr<InputStream>(new InputStream(0, false, "standard input"));
}

std::unique_ptr<InputStream> InputStream::from_memory(const void* data, std::size_t size,
                                                      std::string name) {
    std::unique_ptr<InputStream> stream(new InputStream(-1, false, std::move(name)));
    stream->buffer_.reset(new char[size > 0 ? size : 1]);
    stream->capacity_ = size;
    if (size > 0) std::memcpy(stream->buffer_.get(), data, size);
    stream->end_ = size;
    stream->at_end_ = true;
    return stream;
}

std::unique_ptr<InputStream> InputStream::from_socket(int fd, std::string name) {
    return std::unique_ptr<InputStream>(new InputStream(fd, true, std::move(name)));
}

ssize_t InputStream::read(void* buffer, std::size_t size) {
    if (size == 0) return 0;
    if (begin_ == end_) {
        if (at_end_ || fd_ < 0) return 0;
        ssize_t count;
        // A read as large as the stream's own buffer goes straight to the
        // caller's memory: a big scene is copied once, not twice.
        if (size >= capacity_) {
            do {
                count = ::read(fd_, buffer, size);
            } while (count < 0 && errno == EINTR);
            if (count < 0) {
                error_ = std::strerror(errno);
                return -1;
            }
            if (count == 0) at_end_ = true;
            return count;
        }
        do {
            count = ::read(fd_, buffer_.get(), capacity_);
        } while (count < 0 && errno == EINTR);
        if (count < 0) {
            error_ = std::strerror(errno);
            return -1;
        }
        if (count == 0) {
            at_end_ = true;
            return 0;
        }
        begin_ = 0;
        end_ = static_cast<std::size_t>(count);
    }
    std::size_t count = std::min(size, end_ - begin_);
    std::memcpy(buffer, buffer_.get() + begin_, count);
    begin_ += count;
    return static_cast<ssize_t>(count);
}

std::size_t InputStream::read_fully(void* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t count = read(static_cast<char*>(buffer) + done, size - done);
        if (count <= 0) break;
        done += static_cast<std::size_t>(count);
    }
    return done;
}

void InputStream::close() {
    if (owns_fd_ && fd_ >= 0) ::close(fd_);
    fd_ = -1;
    begin_ = end_ = 0;
}

}  // namespace sky
