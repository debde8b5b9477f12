// What the image file library (fb.h) asks of each format: a writer and a
// reader interface, and the rows of the format tables (image_formats.cpp)
// that say which codes a format answers to and how to open its files. Adding
// a format is one file that implements the interfaces and one row.
//
// Samples cross these interfaces as the file holds them: a row of width *
// channels interleaved samples, top row first, bytes for 8 bits and native
// std::uint16_t values for 16. The library converts them from and to its
// callers' RGBA buffers.
//
// Nothing outside src/platform/image includes this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace sky {

class ImageWriter {
public:
    virtual ~ImageWriter() = default;

    // Appends the next row. With `flush`, the row is handed to the operating
    // system before returning, where the format's writer can do so.
    virtual bool write_row(const std::uint8_t* samples, bool flush) = 0;

    // Completes and closes the file; fails when rows are missing or any write
    // failed.
    virtual bool close() = 0;

    // Text of the last failure, naming the file.
    virtual const std::string& error() const = 0;
};

class ImageReader {
public:
    virtual ~ImageReader() = default;

    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual int channels() const = 0;  // 1 to 4 (2: grey and alpha)
    virtual int bits() const = 0;      // 8, or 16 for deeper data
    // The format's name as the writer table spells it ("qrl", "tiff", ...).
    virtual const char* format_name() const = 0;

    // Reads the next row.
    virtual bool read_row(std::uint8_t* samples) = 0;

    // Text of the last failure, naming the file.
    virtual const std::string& error() const = 0;
};

// A format code that can be written.
struct WriterFormat {
    int code;          // FBFormat
    const char* name;  // the format's name (OpenImageIO's, for the formats it knows)
    int bits;          // bits per sample in the file: 8 or 16
    // Creates the file (1 <= width, height <= 65535; 1, 3 or 4 channels);
    // null on failure, with the reason in `error`.
    std::unique_ptr<ImageWriter> (*open)(const WriterFormat& format, const char* file, int width,
                                         int height, int channels, std::string* error);
};

// A format that can be read. Readers are tried in table order; the last
// takes any file its predecessors do not recognise.
struct ReaderFormat {
    const char* name;
    // True when a file starting with `head` (`size` bytes, fewer for a short
    // file) is of this format; null in the last row.
    bool (*recognises)(const std::uint8_t* head, std::size_t size);
    std::unique_ptr<ImageReader> (*open)(const char* file, std::string* error);
};

// The tables, in order.
std::span<const WriterFormat> writer_formats();
std::span<const ReaderFormat> reader_formats();

// Bytes of a file's start that every reader's `recognises` is content with
// (an RLA header).
inline constexpr std::size_t kFormatHeadSize = 740;

}  // namespace sky
