// SGI image files (format code 2, ".rgb"): our writer and reader.
//
// The writer replaces OpenImageIO's, which never reports a failed write: on
// a full disk it left an empty or unreadable file and the render reported
// it complete. It writes what OpenImageIO wrote, byte for byte: a 512-byte
// big-endian header, then the samples uncompressed, 8 bits, one channel
// plane after another, each plane's rows bottom first. A row therefore lands
// in several places of the file: it is written there as it arrives when the
// output can seek (a file, a disk device), and kept until the file is closed
// when it cannot (a pipe).
//
// The reader takes uncompressed and run-length coded files of 8 or 16 bits
// and up to four channels are delivered; a header's sizes and the run-length
// tables are checked against the file's size before anything is allocated,
// and every row's record against its table entry and the row's width.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/image/file_bytes.h"
#include "platform/image/stream_writer.h"
#include "platform/memory.h"

namespace sky {

inline constexpr std::size_t kSgiHeaderSize = 512;

// True when `head` (the first `size` bytes of a file) starts an SGI image.
bool sgi_has_magic(const std::uint8_t* head, std::size_t size);

class SgiWriter : public StreamWriter {
public:
    // Creates the file: 1 <= width, height <= 65535; 1, 3 or 4 channels.
    // The header names the image by the file's final name (partial_names.h).
    bool open(const char* name, int width, int height, int channels);

    // Places the next row (top first): width * channels interleaved samples.
    bool write_row(const std::uint8_t* samples, bool flush) override;

    // Fails when rows are missing (they are written black, so the file stays
    // readable) or the disk refused a write.
    bool close() override;

private:
    bool put_row(int row, const std::uint8_t* samples);

    int width_ = 0;
    int height_ = 0;
    int channels_ = 0;
    int rows_ = 0;
    bool seekable_ = false;
    std::vector<std::uint8_t> plane_row_;  // one channel of a row, reused
    TrackedBlock image_;                   // every plane, for outputs that cannot seek
};

class SgiReader : public ImageReader {
public:
    bool open(const char* name);

    int width() const override { return width_; }
    int height() const override { return height_; }
    int channels() const override { return channels_; }
    int bits() const override { return 8 * bytes_; }
    const char* format_name() const override { return "sgi"; }

    // Decodes the next row (top first).
    bool read_row(std::uint8_t* samples) override;

    const std::string& error() const override { return error_; }

private:
    bool fail(const std::string& what);
    bool decode_rle(const std::uint8_t* in, std::size_t size, std::uint8_t* samples, int c) const;

    FileBytes file_;
    std::string name_;
    std::string error_;
    int width_ = 0;
    int height_ = 0;
    int depth_ = 0;     // channels in the file
    int channels_ = 0;  // channels delivered: the first four
    int bytes_ = 1;     // bytes per sample
    bool rle_ = false;
    std::vector<std::uint32_t> starts_, lengths_;  // run-length tables of the delivered channels
    std::vector<std::uint8_t> record_;             // one channel of a row as stored, reused
    int rows_ = 0;
};

// The format table's openers (image_io.h).
std::unique_ptr<ImageWriter> open_sgi_writer(const WriterFormat& format, const char* file,
                                             int width, int height, int channels,
                                             std::string* error);
std::unique_ptr<ImageReader> open_sgi_reader(const char* file, std::string* error);

}  // namespace sky
