#include "platform/image/stream_writer.h"

#include <cerrno>
#include <cstring>

namespace sky {

StreamWriter::~StreamWriter() {
    if (file_ != nullptr) std::fclose(file_);
}

bool StreamWriter::begin(const char* name, int width, int height, int channels) {
    name_ = name != nullptr ? name : "";
    if (file_ != nullptr) return fail("writer already open");
    if (width < 1 || width > 65535 || height < 1 || height > 65535)
        return fail("image size out of range (1..65535)");
    if (channels != 1 && channels != 3 && channels != 4)
        return fail("channel count must be 1, 3 or 4");
    return true;
}

bool StreamWriter::fail(const std::string& what) {
    failed_ = true;
    error_ = name_ + ": " + what;
    return false;
}

bool StreamWriter::fail_errno(const char* what) {
    int code = errno;
    return fail(std::string(what) + ": " + std::strerror(code));
}

}  // namespace sky
