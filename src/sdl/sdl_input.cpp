#include "sdl/sdl_input.h"

#include <algorithm>
#include <cstring>

#include "platform/input_stream.h"

namespace sky {

void SdlInput::bind(InputStream* stream) {
    stream_ = stream;
    lookahead_size_ = 0;
    probed_ = binary_ = replay_ = false;
}

bool SdlInput::probe() {
    if (probed_ || stream_ == nullptr) return binary_;
    probed_ = true;
    lookahead_size_ = stream_->read_fully(lookahead_, sizeof lookahead_);
    binary_ = lookahead_size_ == sizeof lookahead_ &&
              std::memcmp(lookahead_, kBinarySceneMagic, sizeof lookahead_) == 0;
    replay_ = !binary_ && lookahead_size_ > 0;
    return binary_;
}

ssize_t SdlInput::read(char* buffer, std::size_t size) {
    if (stream_ == nullptr || size == 0) return 0;
    std::size_t delivered = 0;
    if (replay_) {
        delivered = std::min(size, lookahead_size_);
        std::memcpy(buffer, lookahead_, delivered);
        // A request smaller than the look-ahead keeps the rest for the next read.
        std::memmove(lookahead_, lookahead_ + delivered, lookahead_size_ - delivered);
        lookahead_size_ -= delivered;
        replay_ = lookahead_size_ > 0;
        if (delivered == size) return static_cast<ssize_t>(delivered);
    }
    ssize_t count = stream_->read(buffer + delivered, size - delivered);
    if (count < 0) return delivered > 0 ? static_cast<ssize_t>(delivered) : -1;
    return static_cast<ssize_t>(delivered) + count;
}

}  // namespace sky
