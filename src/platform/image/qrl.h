// The native ".qrl" image format (byte layout in docs/qrl-format.md).
//
// Output images are written while the render runs, one row at a time, so the
// writer streams: it holds one encoded row, never the image, and a row handed
// to it can be pushed to the disk at once. Every row is run-length encoded per
// channel plane (PackBits, run_length.h) and framed by its length and a
// CRC-32, and the file ends with a marker, so a reader detects truncated and
// damaged files instead of returning wrong pixels. Readers treat the file as
// hostile: every length is checked against the header before anything is
// allocated or decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/image/image_io.h"

namespace sky {

inline constexpr std::size_t kQrlMagicSize = 8;
inline constexpr std::size_t kQrlHeaderSize = 24;
inline constexpr std::size_t kQrlTrailerSize = 8;

// True when `bytes` (at least kQrlMagicSize of them) start a .qrl file.
bool qrl_has_magic(const std::uint8_t* bytes, std::size_t size);

std::uint32_t qrl_crc32(const std::uint8_t* bytes, std::size_t size, std::uint32_t crc = 0);

class QrlWriter : public ImageWriter {
public:
    QrlWriter() = default;
    ~QrlWriter() override;  // closes an unfinished file without its end marker
    QrlWriter(const QrlWriter&) = delete;
    QrlWriter& operator=(const QrlWriter&) = delete;

    // Creates the file and writes its header. 1 <= width, height <= 65535;
    // channels 1, 3 or 4.
    bool open(const char* name, int width, int height, int channels);

    // Appends the next row (top first): width * channels interleaved 8-bit
    // samples. With `flush`, the row is handed to the operating system before
    // returning, so a crash of the renderer keeps every finished row.
    bool write_row(const std::uint8_t* samples, bool flush) override;

    // Writes the end marker and closes. Fails (and leaves the file without its
    // marker, so readers reject it) when rows are missing or the disk refused
    // any write.
    bool close() override;

    int rows_written() const { return rows_; }
    const std::string& error() const override { return error_; }

private:
    bool fail(const char* what);
    bool fail_errno(const char* what);

    std::FILE* file_ = nullptr;
    std::string name_;
    int width_ = 0;
    int height_ = 0;
    int channels_ = 0;
    int rows_ = 0;
    bool failed_ = false;
    std::vector<std::uint8_t> record_;  // one encoded row with its framing, reused
    std::string error_;
};

class QrlReader : public ImageReader {
public:
    QrlReader() = default;
    ~QrlReader() override;
    QrlReader(const QrlReader&) = delete;
    QrlReader& operator=(const QrlReader&) = delete;

    // Opens the file and checks its header.
    bool open(const char* name);

    int width() const override { return width_; }
    int height() const override { return height_; }
    int channels() const override { return channels_; }
    int bits() const override { return 8; }
    const char* format_name() const override { return "qrl"; }

    // Decodes the next row (top first) into width * channels interleaved
    // samples. Reading the last row also checks the end marker, so a file cut
    // short after its last row still fails.
    bool read_row(std::uint8_t* samples) override;

    void close();

    int rows_read() const { return rows_; }
    const std::string& error() const override { return error_; }

private:
    bool fail(const char* format, ...) __attribute__((format(printf, 2, 3)));
    bool read_exact(std::uint8_t* bytes, std::size_t size);
    bool check_end();

    std::FILE* file_ = nullptr;
    std::string name_;
    int width_ = 0;
    int height_ = 0;
    int channels_ = 0;
    int rows_ = 0;
    bool failed_ = false;
    std::size_t max_record_ = 0;
    std::vector<std::uint8_t> record_;  // reused for every row
    std::string error_;
};

// The format table's openers (image_io.h).
std::unique_ptr<ImageWriter> open_qrl_writer(const WriterFormat& format, const char* file,
                                             int width, int height, int channels,
                                             std::string* error);
std::unique_ptr<ImageReader> open_qrl_reader(const char* file, std::string* error);

}  // namespace sky
