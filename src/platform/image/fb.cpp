// The image file library: handles, argument checks, and the conversion between
// the callers' 4-byte (or 8-byte, 16-bit) RGBA rows and each file's samples.
//
// The format of a file being read is found from its content, never from its
// name: output names such as "image.001" carry no extension. Files of our own
// format are recognised by their magic bytes; everything else is offered to
// OpenImageIO. Writers are chosen by format code for the same reason.
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

#include "platform/image/fb_internal.h"
#include "platform/image/oiio_backend.h"
#include "platform/image/qrl.h"
#include "platform/image/rla_writer.h"
#include "platform/image/tiff_writer.h"

namespace sky {

float Rr_gamma_value = 1.0f;
bool Rr_gamma_correction_on = false;

struct FBBackend {
    std::unique_ptr<QrlReader> qrl_reader;
    std::unique_ptr<QrlWriter> qrl_writer;
    std::unique_ptr<RlaWriter> rla_writer;
    std::unique_ptr<TiffWriter> tiff_writer;
    std::unique_ptr<OiioReader> oiio_reader;
    std::unique_ptr<OiioWriter> oiio_writer;
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
    std::string error;
    bool ok;
    if (b.qrl_reader) {
        ok = b.qrl_reader->read_row(b.samples.data());
        if (!ok) error = b.qrl_reader->error();
    } else {
        ok = b.oiio_reader->read_row(handle->next_row, b.samples.data(), &error);
    }
    if (!ok) return fail_handle(handle, error);
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
    std::string error;
    bool ok;
    if (b.qrl_writer) {
        ok = b.qrl_writer->write_row(b.samples.data(), flush);
        if (!ok) error = b.qrl_writer->error();
    } else if (b.rla_writer) {
        ok = b.rla_writer->write_row(b.samples.data(), flush);
        if (!ok) error = b.rla_writer->error();
    } else if (b.tiff_writer) {
        ok = b.tiff_writer->write_row(b.samples.data(), flush);
        if (!ok) error = b.tiff_writer->error();
    } else {
        // OpenImageIO offers no way to push a row to the disk; its SGI writer
        // emits each row as it comes.
        ok = b.oiio_writer->write_row(b.samples.data(), &error);
    }
    if (!ok) return fail_handle(handle, error);
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

int format_code(const char* oiio_name, int bits) {
    if (std::strcmp(oiio_name, "tiff") == 0) return bits == 16 ? FB_FORMAT_TIFF16 : FB_FORMAT_TIFF;
    if (std::strcmp(oiio_name, "sgi") == 0) return FB_FORMAT_SGI;
    if (std::strcmp(oiio_name, "rla") == 0) return FB_FORMAT_RLA;
    return FB_FORMAT_ANY;
}

// Reads the first bytes; fails for files that cannot hold any image, so that
// the text says what is wrong instead of OpenImageIO's "no format reader".
bool sniff_qrl(const char* name, bool* is_qrl) {
    struct stat info {};
    if (::stat(name, &info) != 0) {
        set_error_text(std::string(name) + ": cannot open: " + std::strerror(errno));
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        set_error_text(std::string(name) + ": is a directory, not an image file");
        return false;
    }
    if (S_ISREG(info.st_mode) && info.st_size == 0) {
        set_error_text(std::string(name) + ": empty file, not an image");
        return false;
    }
    std::FILE* file = std::fopen(name, "rb");
    if (file == nullptr) {
        set_error_text(std::string(name) + ": cannot open: " + std::strerror(errno));
        return false;
    }
    std::uint8_t magic[kQrlMagicSize];
    std::size_t got = std::fread(magic, 1, sizeof magic, file);
    std::fclose(file);
    *is_qrl = qrl_has_magic(magic, got);
    return true;
}

FBhandle* open_reader(const char* name, int mode, int format) {
    switch (format) {
        case FB_FORMAT_ANY:
        case FB_FORMAT_QRL:
        case FB_FORMAT_SGI:
        case FB_FORMAT_TIFF:
        case FB_FORMAT_TIFF16:
        case FB_FORMAT_RLA:
            break;  // the content decides; a known code is only a caller's guess
        default:
            fb_set_error("%s: FBopen: unknown format code %d (reading takes -1)", name, format);
            return nullptr;
    }
    bool is_qrl = false;
    if (!sniff_qrl(name, &is_qrl)) return nullptr;
    auto handle = new_handle(name, mode, FB_FORMAT_ANY);
    FBBackend& b = *handle->backend;
    int width, height, channels;
    if (is_qrl) {
        b.qrl_reader = std::make_unique<QrlReader>();
        if (!b.qrl_reader->open(name)) {
            set_error_text(b.qrl_reader->error());
            return nullptr;
        }
        width = b.qrl_reader->width();
        height = b.qrl_reader->height();
        channels = b.qrl_reader->channels();
        b.file_channels = channels;
        handle->format = FB_FORMAT_QRL;
    } else {
        std::string error;
        b.oiio_reader = OiioReader::open(name, &error);
        if (!b.oiio_reader) {
            set_error_text(error);
            return nullptr;
        }
        width = b.oiio_reader->width();
        height = b.oiio_reader->height();
        b.file_channels = b.oiio_reader->channels();
        // Callers know 1, 3 and 4 channels; grey-and-alpha arrives as RGBA.
        channels = b.file_channels == 2 ? 4 : b.file_channels;
        handle->file_bits = b.oiio_reader->bits();
        handle->format = format_code(b.oiio_reader->format_name(), handle->file_bits);
    }
    handle->width = static_cast<std::uint16_t>(width);
    handle->height = static_cast<std::uint16_t>(height);
    handle->channels = static_cast<std::uint16_t>(channels);
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

FBhandle* open_writer(const char* name, int mode, int format, int width, int height, int channels) {
    const char* oiio_format = nullptr;
    int bits = 8;
    switch (format) {
        case FB_FORMAT_QRL:
            break;
        case FB_FORMAT_SGI:
            oiio_format = "sgi";
            break;
        case FB_FORMAT_TIFF:
            break;  // our own writer: see tiff_writer.h
        case FB_FORMAT_TIFF16:
            bits = 16;
            break;
        case FB_FORMAT_RLA:
            break;  // our own writer: see rla_writer.h
        default:
            fb_set_error("%s: FBopen: format code %d cannot be written (1, 2, 4, 5 or 9)", name,
                         format);
            return nullptr;
    }
    if (!check_write_size(name, width, height, channels)) return nullptr;
    auto handle = new_handle(name, mode, format);
    FBBackend& b = *handle->backend;
    if (format == FB_FORMAT_QRL) {
        b.qrl_writer = std::make_unique<QrlWriter>();
        if (!b.qrl_writer->open(name, width, height, channels)) {
            set_error_text(b.qrl_writer->error());
            return nullptr;
        }
    } else if (format == FB_FORMAT_RLA) {
        b.rla_writer = std::make_unique<RlaWriter>();
        if (!b.rla_writer->open(name, width, height, channels)) {
            set_error_text(b.rla_writer->error());
            return nullptr;
        }
    } else if (format == FB_FORMAT_TIFF || format == FB_FORMAT_TIFF16) {
        b.tiff_writer = std::make_unique<TiffWriter>();
        if (!b.tiff_writer->open(name, width, height, channels, bits)) {
            set_error_text(b.tiff_writer->error());
            return nullptr;
        }
    } else {
        std::string error;
        b.oiio_writer =
            OiioWriter::create(name, oiio_format, width, height, channels, bits, &error);
        if (!b.oiio_writer) {
            set_error_text(error);
            return nullptr;
        }
    }
    handle->width = static_cast<std::uint16_t>(width);
    handle->height = static_cast<std::uint16_t>(height);
    handle->channels = static_cast<std::uint16_t>(channels);
    handle->file_bits = bits;
    handle->sixteen_bit = format == FB_FORMAT_TIFF16;
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
    handle->backend->oiio_writer =
        OiioWriter::create_by_extension(name, width, height, channels, bits, &error);
    if (!handle->backend->oiio_writer) {
        set_error_text(error);
        return nullptr;
    }
    handle->width = static_cast<std::uint16_t>(width);
    handle->height = static_cast<std::uint16_t>(height);
    handle->channels = static_cast<std::uint16_t>(channels);
    handle->file_bits = bits == 16 ? 16 : 8;
    handle->sixteen_bit = bits == 16;
    handle->backend->file_channels = handle->backend->oiio_writer->channels();
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
    bool ok = true;
    std::string error;
    if (b.qrl_writer) {
        ok = b.qrl_writer->close();
        if (!ok) error = b.qrl_writer->error();
    } else if (b.rla_writer) {
        ok = b.rla_writer->close();
        if (!ok) error = b.rla_writer->error();
    } else if (b.tiff_writer) {
        ok = b.tiff_writer->close();
        if (!ok) error = b.tiff_writer->error();
    } else if (b.oiio_writer) {
        ok = b.oiio_writer->close(&error);
    }
    bool writer = handle->mode == FB_WRITE_IMAGE || handle->mode == FB_WRITE_ROWS;
    // The first failure explains a later one ("incomplete" after "disk full").
    if (writer && b.failed) {
        set_error_text(b.error);
        return 0;
    }
    if (!ok) set_error_text(error);
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
