// OpenImageIO as a row of the image file library's reader table, for the
// files that are not of a format we read ourselves, and as the conversion
// tool's writer of formats named by extension. Opening loads the module
// (oiio_backend.h) on first use, so the formats we read and write ourselves
// never wait for it.
#pragma once

#include "platform/image/image_io.h"

namespace sky {

// Reads a file of the formats OpenImageIO is given (oiio_module.cpp: TIFF,
// PNG, JPEG, OpenEXR), recognised by their signatures.
std::unique_ptr<ImageReader> open_oiio_reader(const char* file, std::string* error);

// The conversion tool's writer: the format follows the extension of `file`,
// `bits` is 8 or 16. `file_channels` receives the channels the file takes
// per pixel (three of four for a format without alpha).
std::unique_ptr<ImageWriter> open_oiio_writer_by_extension(const char* file, int width, int height,
                                                           int channels, int bits,
                                                           int* file_channels, std::string* error);

}  // namespace sky
