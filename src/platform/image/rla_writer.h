// Writer of RLA files (format code 9), 8 bits per sample.
//
// OpenImageIO reads RLA for us, but the RLA writer of the OpenImageIO we build
// against (2.4) corrupts data: the last sample of a row that ends in a run of
// three or more equal samples followed by a different one comes back as the
// run's value, and rows one pixel wide are lost entirely. Output images must
// come back exactly, so this writer encodes RLA itself and streams it: rows
// are appended as they arrive and the table of row offsets, which the format
// keeps before the rows, is filled in when the file is closed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/image/stream_writer.h"

namespace sky {

inline constexpr std::size_t kRlaHeaderSize = 740;

class RlaWriter : public StreamWriter {
public:
    // Creates the file: 1 <= width, height <= 65535; 1, 3 or 4 channels (the
    // fourth is stored as the matte).
    bool open(const char* name, int width, int height, int channels);

    // Appends the next row (top first): width * channels interleaved samples.
    bool write_row(const std::uint8_t* samples, bool flush) override;

    // Writes the row offsets and closes; fails when rows are missing or the
    // disk refused a write.
    bool close() override;

private:
    int width_ = 0;
    int height_ = 0;
    int channels_ = 0;
    int rows_ = 0;
    std::uint64_t end_ = 0;               // file offset where the next row goes
    std::vector<std::uint32_t> offsets_;  // per row, bottom row first as stored
    std::vector<std::uint8_t> record_;    // one encoded row, reused
};

// The format table's opener (image_io.h).
std::unique_ptr<ImageWriter> open_rla_writer(const WriterFormat& format, const char* file,
                                             int width, int height, int channels,
                                             std::string* error);

}  // namespace sky
