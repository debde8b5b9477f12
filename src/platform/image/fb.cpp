// The image file library: handles, argument checks, and the conversion between
// the callers' 4-byte (or 8-byte, 16-bit) RGBA rows and each file's samples.
//
// Each format is a writer or a reader behind the interfaces of image_io.h,
// found in the tables of image_formats.cpp: by format code for writing, by
// the file's content for reading (never by its name: output names such as
// "image.001" carry no extension).
//
// Both directions work a row at a time through one sample buffer kept in the
// handle, so reading or writing a row allocates nothing.
#include "platform/image/fb.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/image/fb_internal.h"
#include "platform/image/file_bytes.h"
#include "platform/image/image_io.h"
#include "platform/image/memory_images.h"
#include "platform/image/oiio_formats.h"

namespace sky {

float Rr_gamma_value = 1.0f;
bool Rr_gamma_correction_on = false;

struct FBBackend {
    std::unique_ptr<ImageReader> reader;  // one of the two, by the handle's mode
    std::unique_ptr<ImageWriter> writer;
    int file_channels = 0;              // channels per pixel in `samples`
    std::vector<std::uint8_t> samples;  // one row of the file's samples, reused
    bool failed = false;                // the first failure's text is kept in `error`
    std::string error;
};

namespace {

thread_local std::string last_error;

constexpr int kMaxSize = 65535;

// Sized to the text: messages carry file names, which may be long.
void set_error_v(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length < 0) {
        last_error = format;
        return;
    }
    last_error.resize(static_cast<std::size_t>(length));
    std::vsnprintf(last_error.data(), last_error.size() + 1, format, args);
}

void set_error_text(const std::string& text) {
    last_error = text;
}

// Records a handle's failure; later calls on it repeat the same text.
int fail_handle(FBhandle* handle, const std::string& text) {
    handle->backend->failed = true;
    handle->backend->error = text;
    set_error_text(text);
    return 0;
}

bool valid_channels(int channels) {
    return channels == 1 || channels == 3 || channels == 4;
}

int bytes_per_pixel(const FBhandle* handle) {
    return handle->sixteen_bit ? 8 : 4;
}

// --- pixel conversion ------------------------------------------------------
// Values travel as 16-bit quantities: an 8-bit sample v is v * 257 (so its
// high byte is v, and full scale stays full scale), and an 8-bit destination
// takes the high byte (truncation, as the renderer makes its high bytes).

inline unsigned buffer_value(const std::uint8_t* buffer, int x, int c, bool sixteen) {
    if (sixteen) return buffer[x * 8 + 4 + c] * 256u + buffer[x * 8 + c];
    return buffer[x * 4 + c] * 257u;
}

inline void put_buffer_value(std::uint8_t* buffer, int x, int c, unsigned value, bool sixteen) {
    if (sixteen) {
        buffer[x * 8 + c] = static_cast<std::uint8_t>(value & 0xFF);
        buffer[x * 8 + 4 + c] = static_cast<std::uint8_t>(value >> 8);
    } else {
        buffer[x * 4 + c] = static_cast<std::uint8_t>(value >> 8);
    }
}

// A one-channel file takes the fourth byte (mattes are written from the same
// RGBA row as the image); three channels take red, green, blue.
inline int source_channel(int file_channels, int k) {
    return file_channels == 1 ? 3 : k;
}

template <typename Sample>
void pack_row(const std::uint8_t* buffer, bool sixteen, int width, int channels, Sample* out) {
    if constexpr (sizeof(Sample) == 1) {
        // An 8-bit row into an 8-bit RGB or RGBA file: the high bytes are
        // the bytes.
        if (!sixteen && channels == 4) {
            std::memcpy(out, buffer, static_cast<std::size_t>(width) * 4);
            return;
        }
        if (!sixteen && channels == 3) {
            // A pixel's four bytes at once, the next pixel overwriting the
            // alpha; the last pixel's three alone, the row's end being
            // the end of the samples.
            int x = 0;
            for (; x + 1 < width; ++x) std::memcpy(out + 3 * x, buffer + 4 * x, 4);
            for (; x < width; ++x)
                for (int k = 0; k < 3; ++k) out[3 * x + k] = buffer[4 * x + k];
            return;
        }
    }
    for (int x = 0; x < width; ++x) {
        for (int k = 0; k < channels; ++k) {
            unsigned value = buffer_value(buffer, x, source_channel(channels, k), sixteen);
            if constexpr (sizeof(Sample) == 1)
                out[x * channels + k] = static_cast<Sample>(value >> 8);
            else
                out[x * channels + k] = static_cast<Sample>(value);
        }
    }
}

template <typename Sample>
void unpack_row(const Sample* in, int channels, int width, bool sixteen, std::uint8_t* buffer) {
    auto widen = [](Sample s) -> unsigned {
        if constexpr (sizeof(Sample) == 1)
            return s * 257u;
        else
            return s;
    };
    for (int x = 0; x < width; ++x) {
        const Sample* p = in + x * channels;
        unsigned v[4];
        switch (channels) {
            case 1:
                v[0] = v[1] = v[2] = 0;
                v[3] = widen(p[0]);
                break;
            case 2:  // grey and alpha
                v[0] = v[1] = v[2] = widen(p[0]);
                v[3] = widen(p[1]);
                break;
            case 3:
                for (int c = 0; c < 3; ++c) v[c] = widen(p[c]);
                v[3] = 0xFFFF;
                break;
            default:
                for (int c = 0; c < 4; ++c) v[c] = widen(p[c]);
                break;
        }
        for (int c = 0; c < 4; ++c) put_buffer_value(buffer, x, c, v[c], sixteen);
    }
}

// --- rows ------------------------------------------------------------------

int read_one_row(FBhandle* handle, std::uint8_t* buffer) {
    FBBackend& b = *handle->backend;
    if (!b.reader->read_row(b.samples.data())) return fail_handle(handle, b.reader->error());
    if (handle->file_bits == 8)
        unpack_row(b.samples.data(), b.file_channels, handle->width, handle->sixteen_bit, buffer);
    else
        unpack_row(reinterpret_cast<const std::uint16_t*>(b.samples.data()), b.file_channels,
                   handle->width, handle->sixteen_bit, buffer);
    ++handle->next_row;
    return handle->width;
}

int write_one_row(FBhandle* handle, const std::uint8_t* buffer, bool flush) {
    FBBackend& b = *handle->backend;
    if (handle->next_row >= handle->height)
        return fail_handle(handle, std::string(handle->name) +
                                       ": more rows written than the image height (" +
                                       std::to_string(handle->height) + ")");
    if (handle->file_bits == 8)
        pack_row(buffer, handle->sixteen_bit, handle->width, b.file_channels, b.samples.data());
    else
        pack_row(buffer, handle->sixteen_bit, handle->width, b.file_channels,
                 reinterpret_cast<std::uint16_t*>(b.samples.data()));
    if (!b.writer->write_row(b.samples.data(), flush))
        return fail_handle(handle, b.writer->error());
    ++handle->next_row;
    return 1;
}

// --- opening -----------------------------------------------------------------

std::unique_ptr<FBhandle> new_handle(const char* name, int mode, int format) {
    auto handle = std::make_unique<FBhandle>();
    handle->name_storage = name;
    handle->name = handle->name_storage.c_str();
    handle->mode = mode;
    handle->format = format;
    handle->sixteen_bit = false;
    handle->next_row = 0;
    handle->file_bits = 8;
    handle->backend = std::make_unique<FBBackend>();
    return handle;
}

void size_samples(FBhandle* handle) {
    std::size_t bytes = handle->file_bits == 8 ? 1 : 2;
    handle->backend->samples.assign(
        static_cast<std::size_t>(handle->width) * handle->backend->file_channels * bytes, 0);
}

const WriterFormat* writer_format(int code) {
    for (const WriterFormat& format : writer_formats())
        if (format.code == code) return &format;
    return nullptr;
}

// The codes that can be written, for messages: "1, 2, 4, 5 or 9".
std::string writable_codes() {
    std::string codes;
    std::span<const WriterFormat> formats = writer_formats();
    for (std::size_t i = 0; i < formats.size(); ++i) {
        if (i > 0) codes += i + 1 == formats.size() ? " or " : ", ";
        codes += std::to_string(formats[i].code);
    }
    return codes;
}

// The code of a file that was read, from its format's name and depth: the
// writer of the same name and bits, or of the same name, or none.
int format_code(const char* name, int bits) {
    const WriterFormat* named = nullptr;
    for (const WriterFormat& format : writer_formats()) {
        if (std::strcmp(format.name, name) != 0) continue;
        if (format.bits == bits) return format.code;
        if (named == nullptr) named = &format;
    }
    return named != nullptr ? named->code : FB_FORMAT_ANY;
}

// Reads the first bytes; fails for files that cannot hold any image, so that
// the text says what is wrong instead of OpenImageIO's "no format reader".
// Only regular files are read: a device may never end (/dev/zero) and a FIFO
// may never start, and opening checks without waiting on either.
bool read_head(const char* name, std::uint8_t* head, std::size_t* size) {
    std::uint64_t file_size = 0;
    std::string error;
    int fd = open_regular_file(name, &file_size, &error);
    if (fd < 0) {
        set_error_text(error);
        return false;
    }
    if (file_size == 0) {
        ::close(fd);
        set_error_text(std::string(name) + ": empty file, not an image");
        return false;
    }
    ssize_t got = ::pread(fd, head, kFormatHeadSize, 0);
    ::close(fd);
    if (got < 0) {
        set_error_text(std::string(name) + ": cannot read: " + std::strerror(errno));
        return false;
    }
    *size = static_cast<std::size_t>(got);
    return true;
}

// The first reader that recognises the file; the last takes any file.
const ReaderFormat& reader_format(const std::uint8_t* head, std::size_t size) {
    std::span<const ReaderFormat> formats = reader_formats();
    for (const ReaderFormat& format : formats.first(formats.size() - 1))
        if (format.recognises(head, size)) return format;
    return formats.back();
}

FBhandle* open_reader(const char* name, int mode, int format) {
    // The content decides; a known code is only a caller's guess.
    if (format != FB_FORMAT_ANY && writer_format(format) == nullptr) {
        fb_set_error("%s: FBopen: unknown format code %d (reading takes -1)", name, format);
        return nullptr;
    }
    // An image delivered with the scene hides a file of the same name.
    std::unique_ptr<ImageReader> delivered = open_memory_image(name);
    std::uint8_t head[kFormatHeadSize];
    std::size_t head_size = 0;
    if (!delivered && !read_head(name, head, &head_size)) return nullptr;
    auto handle = new_handle(name, mode, FB_FORMAT_ANY);
    FBBackend& b = *handle->backend;
    std::string error;
    b.reader = delivered ? std::move(delivered) : reader_format(head, head_size).open(name, &error);
    if (!b.reader) {
        set_error_text(error);
        return nullptr;
    }
    b.file_channels = b.reader->channels();
    handle->width = static_cast<std::uint16_t>(b.reader->width());
    handle->height = static_cast<std::uint16_t>(b.reader->height());
    // Callers know 1, 3 and 4 channels; grey-and-alpha arrives as RGBA.
    handle->channels = static_cast<std::uint16_t>(b.file_channels == 2 ? 4 : b.file_channels);
    handle->file_bits = b.reader->bits();
    handle->format = format_code(b.reader->format_name(), handle->file_bits);
    size_samples(handle.get());
    return handle.release();
}

bool check_write_size(const char* name, int width, int height, int channels) {
    if (width < 1 || width > kMaxSize || height < 1 || height > kMaxSize) {
        fb_set_error("%s: FBopen: image size %dx%d out of range (1..65535)", name, width, height);
        return false;
    }
    if (!valid_channels(channels)) {
        fb_set_error("%s: FBopen: %d channels (1, 3 or 4 can be written)", name, channels);
        return false;
    }
    return true;
}

FBhandle* open_writer(const char* name, int mode, int code, int width, int height, int channels) {
    const WriterFormat* format = writer_format(code);
    if (format == nullptr) {
        fb_set_error("%s: FBopen: format code %d cannot be written (%s)", name, code,
                     writable_codes().c_str());
        return nullptr;
    }
    if (!check_write_size(name, width, height, channels)) return nullptr;
    auto handle = new_handle(name, mode, code);
    FBBackend& b = *handle->backend;
    std::string error;
    b.writer = format->open(*format, name, width, height, channels, &error);
    if (!b.writer) {
        set_error_text(error);
        return nullptr;
    }
    handle->width = static_cast<std::uint16_t>(width);
    handle->height = static_cast<std::uint16_t>(height);
    handle->channels = static_cast<std::uint16_t>(channels);
    handle->file_bits = format->bits;
    handle->sixteen_bit = format->bits == 16;
    b.file_channels = channels;
    size_samples(handle.get());
    return handle.release();
}

// Checks the common arguments of FBread/FBwrite; sets the error on failure.
bool usable(FBhandle* handle, const void* buffer, const char* call, bool reading) {
    if (handle == nullptr) {
        fb_set_error("%s: no image handle", call);
        return false;
    }
    if (buffer == nullptr) {
        fb_set_error("%s: %s: no pixel buffer", handle->name, call);
        return false;
    }
    bool is_reader = handle->mode == FB_READ_IMAGE || handle->mode == FB_READ_ROWS;
    if (reading != is_reader) {
        fb_set_error("%s: %s: the file is open for %s", handle->name, call,
                     is_reader ? "reading" : "writing");
        return false;
    }
    if (handle->backend->failed) {
        set_error_text(handle->backend->error);
        return false;
    }
    return true;
}

}  // namespace

void fb_set_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    set_error_v(format, args);
    va_end(args);
}

bool fb_same_file(const char* a, const char* b) {
    struct stat first {
    }, second{};
    return ::stat(a, &first) == 0 && ::stat(b, &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

FBhandle* fb_open_by_extension(const char* name, int width, int height, int channels, int bits) {
    if (name == nullptr) {
        fb_set_error("FBopen: no file name");
        return nullptr;
    }
    if (!check_write_size(name, width, height, channels)) return nullptr;
    auto handle = new_handle(name, FB_WRITE_ROWS, FB_FORMAT_ANY);
    std::string error;
    int file_channels = channels;
    handle->backend->writer =
        open_oiio_writer_by_extension(name, width, height, channels, bits, &file_channels, &error);
    if (!handle->backend->writer) {
        set_error_text(error);
        return nullptr;
    }
    handle->width = static_cast<std::uint16_t>(width);
    handle->height = static_cast<std::uint16_t>(height);
    handle->channels = static_cast<std::uint16_t>(channels);
    handle->file_bits = bits == 16 ? 16 : 8;
    handle->sixteen_bit = bits == 16;
    handle->backend->file_channels = file_channels;
    size_samples(handle.get());
    return handle.release();
}

FBhandle* FBopen(const char* name, int mode, int format, int width, int height, int channels, int,
                 int, double) {
    if (name == nullptr || name[0] == '\0') {
        fb_set_error("FBopen: no file name");
        return nullptr;
    }
    switch (mode) {
        case FB_READ_IMAGE:
        case FB_READ_ROWS:
            return open_reader(name, mode, format);
        case FB_WRITE_IMAGE:
        case FB_WRITE_ROWS:
            return open_writer(name, mode, format, width, height, channels);
        default:
            fb_set_error("%s: FBopen: invalid mode %d (1, 2, 5 or 6)", name, mode);
            return nullptr;
    }
}

int FBread(FBhandle* handle, std::uint8_t* buffer) {
    if (!usable(handle, buffer, "FBread", true)) return 0;
    if (handle->mode == FB_READ_ROWS) {
        if (handle->next_row >= handle->height) {
            fb_set_error("%s: FBread: no rows left (the image has %d)", handle->name,
                         handle->height);
            return 0;
        }
        return read_one_row(handle, buffer);
    }
    if (handle->next_row != 0) {
        fb_set_error("%s: FBread: the image has already been read", handle->name);
        return 0;
    }
    std::size_t row_bytes = static_cast<std::size_t>(handle->width) * bytes_per_pixel(handle);
    for (int y = 0; y < handle->height; ++y)
        if (read_one_row(handle, buffer + y * row_bytes) == 0) return 0;
    // 65535 x 65535 pixels would overflow the int result; success stays non-zero.
    long long pixels = static_cast<long long>(handle->width) * handle->height;
    return static_cast<int>(std::min<long long>(pixels, INT_MAX));
}

int FBwrite(FBhandle* handle, const std::uint8_t* buffer) {
    if (!usable(handle, buffer, "FBwrite", false)) return 0;
    if (handle->mode == FB_WRITE_ROWS) return write_one_row(handle, buffer, false);
    if (handle->next_row != 0) {
        fb_set_error("%s: FBwrite: the image has already been written", handle->name);
        return 0;
    }
    std::size_t row_bytes = static_cast<std::size_t>(handle->width) * bytes_per_pixel(handle);
    for (int y = 0; y < handle->height; ++y)
        if (write_one_row(handle, buffer + y * row_bytes, false) == 0) return 0;
    return 1;
}

int FBwrite_and_flush(FBhandle* handle, const std::uint8_t* row) {
    if (!usable(handle, row, "FBwrite_and_flush", false)) return 0;
    if (handle->mode != FB_WRITE_ROWS) {
        fb_set_error("%s: FBwrite_and_flush: the file is open for the whole image (mode 2)",
                     handle->name);
        return 0;
    }
    return write_one_row(handle, row, true);
}

int FBclose(FBhandle* handle) {
    if (handle == nullptr) {
        fb_set_error("FBclose: no image handle");
        return 0;
    }
    std::unique_ptr<FBhandle> owned(handle);
    FBBackend& b = *handle->backend;
    bool ok = b.writer == nullptr || b.writer->close();
    bool writer = handle->mode == FB_WRITE_IMAGE || handle->mode == FB_WRITE_ROWS;
    // The first failure explains a later one ("incomplete" after "disk full").
    if (writer && b.failed) {
        set_error_text(b.error);
        return 0;
    }
    if (!ok) set_error_text(b.writer->error());
    return ok ? 1 : 0;
}

const char* FBgetError() {
    return last_error.c_str();
}

void FBtiff16_set(FBhandle* handle, int on) {
    if (handle == nullptr) {
        fb_set_error("FBtiff16_set: no image handle");
        return;
    }
    handle->sixteen_bit = on != 0;
}

}  // namespace sky
