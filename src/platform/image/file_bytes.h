// Reading an image file that may be hostile: anything a scene names can be
// handed to the image readers, a device that never ends (/dev/zero), a FIFO
// nobody writes, or a file whose header claims more than the file holds.
//
// Files are opened without waiting (O_NONBLOCK, so a FIFO cannot block the
// open) and refused unless they are regular files, whose size is then known:
// the readers of the formats we decode ourselves check every offset and
// length a header declares against it before they allocate or read anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sky {

// Opens `name` for reading if it is a regular file: the descriptor (blocking
// again once open) and the file's size. On failure returns -1 with
// "name: reason" in `error`.
int open_regular_file(const std::string& name, std::uint64_t* size, std::string* error);

// A regular file read at offsets.
class FileBytes {
public:
    FileBytes() = default;
    ~FileBytes();
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;

    // False with "name: reason" in `error` when the file cannot be read.
    bool open(const std::string& name, std::string* error);

    std::uint64_t size() const { return size_; }

    // Reads exactly `count` bytes at `offset`: false when they lie beyond the
    // end of the file or the system refuses the read.
    bool read(std::uint64_t offset, void* buffer, std::size_t count) const;

    // True when `count` bytes at `offset` lie inside the file.
    bool holds(std::uint64_t offset, std::uint64_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

}  // namespace sky
