// The entry points of the OpenImageIO module (libskyloom_oiio.so): one table
// of functions, fetched by name after the module is loaded.
#pragma once

#include <string>

namespace sky::oiio_api {

// Raised whenever the table changes, so a stale module is refused, not misused.
inline constexpr int kVersion = 2;

struct ReaderInfo {
    int width, height, channels, bits;
    const char* format_name;
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
};

// The name the module exports its table under.
inline constexpr const char* kTableSymbol = "skyloom_oiio_table";
inline constexpr const char* kModuleName = "libskyloom_oiio.so";

}  // namespace sky::oiio_api
