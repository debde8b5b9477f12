// What the writers of the formats we encode ourselves (RLA, TIFF) share: the
// file, its name for messages, a failure that sticks with its text, and the
// checks of size and channels every one of them makes when a file is
// created. Each writer streams rows top first and fails its close when rows
// are missing or the disk refused a write.
#pragma once

#include <cstdio>
#include <string>

#include "platform/image/image_io.h"

namespace sky {

class StreamWriter : public ImageWriter {
public:
    StreamWriter() = default;
    ~StreamWriter() override;  // closes an unfinished file as is
    StreamWriter(const StreamWriter&) = delete;
    StreamWriter& operator=(const StreamWriter&) = delete;

    const std::string& error() const override { return error_; }

protected:
    // Takes the name for messages and checks that no file is open yet,
    // 1 <= width, height <= 65535 and 1, 3 or 4 channels.
    bool begin(const char* name, int width, int height, int channels);
    // Records "name: what" and returns false.
    bool fail(const std::string& what);
    // The same with the system's reason for the last failed call.
    bool fail_errno(const char* what);

    std::FILE* file_ = nullptr;
    std::string name_;
    bool failed_ = false;
    std::string error_;
};

}  // namespace sky
