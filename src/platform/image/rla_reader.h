// Reader of RLA files: every file our writer (rla_writer.h) makes, and the
// common variants other programs write: 1 to 16 bits per integer sample,
// 32-bit integer and floating-point channels, colour, matte and auxiliary
// channels of different depths. It replaces OpenImageIO's RLA reader, which
// (in 2.4) loops for ever on a header declaring 0 bits per sample and reads
// past its buffer on short floating-point records.
//
// The file is treated as hostile: the header's window, channel counts, types
// and depths are checked when the file is opened, the offset table must fit
// in the file, and each row is read from where its offset says, record by
// record, every length checked against the file and the row's width. Nothing
// it allocates depends on more than the header's 16-bit width.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/image/file_bytes.h"
#include "platform/image/image_io.h"

namespace sky {

// True when `head` (the first `size` bytes of a file) is an RLA header.
bool rla_has_header(const std::uint8_t* head, std::size_t size);

class RlaReader : public ImageReader {
public:
    bool open(const char* name);

    int width() const override { return width_; }
    int height() const override { return height_; }
    int channels() const override { return static_cast<int>(channels_.size()); }
    int bits() const override { return bits_; }
    const char* format_name() const override { return "rla"; }

    // Decodes the next row (top first).
    bool read_row(std::uint8_t* samples) override;

    const std::string& error() const override { return error_; }

private:
    // How one channel's samples are stored.
    struct Channel {
        int type = 0;   // 0 bytes, 1 words, 2 double words, 4 floats
        int bits = 8;   // significant bits of an integer sample
        int bytes = 1;  // bytes per sample in the file
    };

    bool fail(const std::string& what);
    bool decode_channel(const Channel& channel, const std::uint8_t* record, std::size_t length,
                        int c, std::uint8_t* samples);

    FileBytes file_;
    std::string name_;
    std::string error_;
    int width_ = 0;
    int height_ = 0;
    int bits_ = 8;                        // bits per delivered sample: 8 or 16
    std::vector<Channel> channels_;       // the first four of the file's channels
    std::vector<std::uint32_t> offsets_;  // per stored row, bottom row first
    std::vector<std::uint8_t> record_;    // one channel's record, reused
    std::vector<std::uint8_t> plane_;     // one byte plane of a channel, reused
    std::vector<std::uint32_t> values_;   // one channel's samples as stored, reused
    int rows_ = 0;
};

// The format table's opener (image_io.h).
std::unique_ptr<ImageReader> open_rla_reader(const char* file, std::string* error);

}  // namespace sky
