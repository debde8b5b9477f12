// OpenImageIO as rows of the image file library's format tables: the writer
// of the formats it writes for us (SGI) and the reader of every file that is
// not our own. Opening loads the module (oiio_backend.h) on first use, so the
// formats we write ourselves never wait for it.
#pragma once

#include "platform/image/image_io.h"

namespace sky {

// Writes with OpenImageIO's writer of `format.name`, never guessed from
// `file`, whose extension may be anything ("image.001").
std::unique_ptr<ImageWriter> open_oiio_writer(const WriterFormat& format, const char* file,
                                              int width, int height, int channels,
                                              std::string* error);

// Reads any file OpenImageIO recognises by its content.
std::unique_ptr<ImageReader> open_oiio_reader(const char* file, std::string* error);

// The conversion tool's writer: the format follows the extension of `file`,
// `bits` is 8 or 16. `file_channels` receives the channels the file takes
// per pixel (three of four for a format without alpha).
std::unique_ptr<ImageWriter> open_oiio_writer_by_extension(const char* file, int width, int height,
                                                           int channels, int bits,
                                                           int* file_channels, std::string* error);

}  // namespace sky
