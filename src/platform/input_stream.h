// Buffered input streams of the base library: a file opened by name, the
// standard input, or a connected socket. The scene reader pulls bytes from one
// of these; it never needs to know which.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include <sys/types.h>

namespace sky {

// The reason open_file gives when it refuses a file that is not regular.
inline constexpr const char* kNotARegularFile = "not a regular file";

class InputStream {
public:
    ~InputStream();
    InputStream(const InputStream&) = delete;
    InputStream& operator=(const InputStream&) = delete;

    // Opens a file for reading. On failure returns null and stores the
    // system's text for the reason in `error` (empty when it has none).
    // `regular_only` refuses, without waiting, anything but a regular file:
    // a device may never end (/dev/zero), a FIFO nobody writes never start.
    static std::unique_ptr<InputStream> open_file(const std::string& path, std::string& error,
                                                  bool regular_only = false);
    static std::unique_ptr<InputStream> standard_input();
    // A stream over a copy of `size` bytes in memory.
    static std::unique_ptr<InputStream> from_memory(const void* data, std::size_t size,
                                                    std::string name);
    // Takes over a connected socket; the stream closes it.
    static std::unique_ptr<InputStream> from_socket(int fd, std::string name);

    // Reads up to `size` bytes: the count delivered, 0 at the end of input,
    // -1 on an error (error_text() tells which). Retries interrupted reads.
    ssize_t read(void* buffer, std::size_t size);

    // Reads exactly `size` bytes unless the input ends first; returns the count.
    std::size_t read_fully(void* buffer, std::size_t size);

    const std::string& name() const { return name_; }
    const std::string& error_text() const { return error_; }
    bool is_standard_input() const { return fd_ == 0 && !owns_fd_; }
    // A socket or a terminal: a read may wait on a peer that is itself
    // waiting for us, so a reader must take what one read delivers rather
    // than insist on more.
    bool is_conversation() const { return conversation_; }

    // Closes the stream; the standard input is left open for the process.
    void close();

private:
    InputStream(int fd, bool owns_fd, std::string name);

    int fd_;
    bool owns_fd_;
    std::string name_;
    std::string error_;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool at_end_ = false;
    bool conversation_ = false;
};

}  // namespace sky
