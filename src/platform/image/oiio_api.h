// The entry points of the OpenImageIO module (libskyloom_oiio.so): one table
// of functions, fetched by name after the module is loaded.
#pragma once

#include <string>
#include <vector>

namespace sky::oiio_api {

// Raised whenever the table changes, so a stale module is refused, not misused.
inline constexpr int kVersion = 4;

struct ReaderInfo {
    int width, height, channels, bits;
    const char* format_name;
};

// A whole OpenEXR image: `channels` named channels ("R", "G", "B", "A", "Z"),
// interleaved, rows from the top. Channels named in `half_channels` are
// stored as half floats, the others as 32-bit floats.
struct ExrImage {
    int width, height;
    std::vector<std::string> channels;
    std::vector<std::string> half_channels;
    const float* pixels;
};

struct Table {
    int version;
    void* (*open_reader)(const std::string& name, std::string* error);
    void (*destroy_reader)(void* reader);
    void (*reader_info)(const void* reader, ReaderInfo* info);
    bool (*read_row)(void* reader, int y, void* samples, std::string* error);
    void* (*create_writer_by_extension)(const std::string& name, int width, int height,
                                        int channels, int bits, std::string* error);
    void (*writer_info)(const void* writer, int* channels, int* bits);
    bool (*write_row)(void* writer, const void* samples, std::string* error);
    bool (*close_writer)(void* writer, std::string* error);
    void (*destroy_writer)(void* writer);
    bool (*write_exr)(const std::string& name, const ExrImage& image, std::string* error);
    // A row as 32-bit floats, whatever the file stores (radiance maps).
    bool (*read_row_float)(void* reader, int y, float* samples, std::string* error);
};

// The name the module exports its table under.
inline constexpr const char* kTableSymbol = "skyloom_oiio_table";
inline constexpr const char* kModuleName = "libskyloom_oiio.so";

}  // namespace sky::oiio_api
