// Writer of TIFF files (format codes 4 and 5: 8 and 16 bits per sample).
//
// OpenImageIO writes TIFF well, but loading it costs longer than a whole
// render of a mid-sized scene, and a render that only writes its frames needs
// none of what it offers. This writer produces baseline TIFF, uncompressed and
// little-endian, and streams it: as the size and layout of every strip are
// known when the file is created, the header and the directory are written
// first and each row goes straight after the previous one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/image/stream_writer.h"

namespace sky {

class TiffWriter : public StreamWriter {
public:
    // Creates the file: 1 <= width, height <= 65535; 1, 3 or 4 channels (the
    // fourth is stored as associated alpha); 8 or 16 bits per sample.
    bool open(const char* name, int width, int height, int channels, int bits);

    // Appends the next row (top first): width * channels interleaved samples,
    // bytes for 8 bits, native std::uint16_t values for 16.
    bool write_row(const std::uint8_t* samples, bool flush) override;

    // Closes; fails when rows are missing (they are left black so the file
    // stays readable) or the disk refused a write.
    bool close() override;

private:
    int height_ = 0;
    int rows_ = 0;
    std::size_t row_bytes_ = 0;
    bool swap_ = false;                  // 16-bit samples on a big-endian host
    std::vector<std::uint8_t> swapped_;  // one row in file order when swap_, reused
};

// The format table's opener (image_io.h): 8 or 16 bits as the row says.
std::unique_ptr<ImageWriter> open_tiff_writer(const WriterFormat& format, const char* file,
                                              int width, int height, int channels,
                                              std::string* error);

}  // namespace sky
