// The native ".qrl" image format: streaming writer and checking reader.
//
// All multi-byte fields are little-endian and assembled byte by byte, so files
// move between machines unchanged. The CRC-32 is the common reflected
// polynomial 0xEDB88320 (as in zip and PNG), which tools can recompute.
#include "platform/image/qrl.h"

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include <unistd.h>

#include "platform/image/file_bytes.h"
#include "platform/image/run_length.h"

namespace sky {
namespace {

constexpr std::uint8_t kMagic[kQrlMagicSize] = {0x89, 'Q', 'R', 'L', '\r', '\n', 0x1A, '\n'};
constexpr std::uint8_t kEndMarker[4] = {'Q', 'E', 'N', 'D'};
constexpr int kVersion = 1;
constexpr int kBitsPerSample = 8;
constexpr int kCompressionPackBits = 1;
constexpr int kMaxSize = 65535;

constexpr std::array<std::uint32_t, 256> make_crc_table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = make_crc_table();

void put_u16(std::uint8_t* p, unsigned value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}
void put_u32(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
unsigned get_u16(const std::uint8_t* p) {
    return p[0] | (unsigned{p[1]} << 8);
}
std::uint32_t get_u32(const std::uint8_t* p) {
    return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

bool valid_channels(int channels) {
    return channels == 1 || channels == 3 || channels == 4;
}

}  // namespace

bool qrl_has_magic(const std::uint8_t* bytes, std::size_t size) {
    return size >= kQrlMagicSize && std::memcmp(bytes, kMagic, kQrlMagicSize) == 0;
}

std::uint32_t qrl_crc32(const std::uint8_t* bytes, std::size_t size, std::uint32_t crc) {
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = kCrcTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

// ---------------------------------------------------------------- writer

QrlWriter::~QrlWriter() {
    if (file_ != nullptr) std::fclose(file_);
}

bool QrlWriter::fail(const char* what) {
    failed_ = true;
    error_ = name_ + ": " + what;
    return false;
}

bool QrlWriter::fail_errno(const char* what) {
    int code = errno;
    failed_ = true;
    error_ = name_ + ": " + what + ": " + std::strerror(code);
    return false;
}

bool QrlWriter::open(const char* name, int width, int height, int channels) {
    name_ = name != nullptr ? name : "";
    if (file_ != nullptr) return fail("writer already open");
    if (width < 1 || width > kMaxSize || height < 1 || height > kMaxSize)
        return fail("image size out of range (1..65535)");
    if (!valid_channels(channels)) return fail("channel count must be 1, 3 or 4");
    width_ = width;
    height_ = height;
    channels_ = channels;
    rows_ = 0;
    failed_ = false;
    record_.assign(4 + channels * run_length_max_size(width) + 4, 0);

    file_ = std::fopen(name_.c_str(), "wb");
    if (file_ == nullptr) return fail_errno("cannot create file");
    std::uint8_t header[kQrlHeaderSize] = {};
    std::memcpy(header, kMagic, kQrlMagicSize);
    put_u16(header + 8, kVersion);
    put_u16(header + 10, static_cast<unsigned>(width));
    put_u16(header + 12, static_cast<unsigned>(height));
    header[14] = static_cast<std::uint8_t>(channels);
    header[15] = kBitsPerSample;
    header[16] = kCompressionPackBits;
    put_u32(header + 20, qrl_crc32(header, 20));
    if (std::fwrite(header, 1, sizeof header, file_) != sizeof header)
        return fail_errno("cannot write header");
    return true;
}

bool QrlWriter::write_row(const std::uint8_t* samples, bool flush) {
    if (file_ == nullptr) return fail("writer not open");
    if (failed_) return false;  // keep the first failure's text
    if (rows_ >= height_) return fail("more rows written than the image height");
    std::uint8_t* data = record_.data() + 4;
    std::size_t length = 0;
    for (int c = 0; c < channels_; ++c)
        length += run_length_encode(RunLengthCodes::kPackBits, samples + c, channels_, width_,
                                    data + length);
    put_u32(record_.data(), static_cast<std::uint32_t>(length));
    put_u32(data + length, qrl_crc32(record_.data(), 4 + length));
    std::size_t total = 8 + length;
    if (std::fwrite(record_.data(), 1, total, file_) != total)
        return fail_errno("cannot write row");
    if (flush && std::fflush(file_) != 0) return fail_errno("cannot write row");
    ++rows_;
    return true;
}

bool QrlWriter::close() {
    if (file_ == nullptr) return failed_ ? false : fail("writer not open");
    std::FILE* file = file_;
    file_ = nullptr;
    if (!failed_ && rows_ < height_) {
        failed_ = true;
        error_ = name_ + ": file incomplete: " + std::to_string(rows_) + " of " +
                 std::to_string(height_) + " rows written";
    }
    if (!failed_) {
        std::uint8_t trailer[kQrlTrailerSize];
        std::memcpy(trailer, kEndMarker, 4);
        put_u32(trailer + 4, static_cast<std::uint32_t>(rows_));
        if (std::fwrite(trailer, 1, sizeof trailer, file) != sizeof trailer ||
            std::fflush(file) != 0) {
            fail_errno("cannot write end of file");
        }
    }
    if (std::fclose(file) != 0 && !failed_) fail_errno("cannot close file");
    return !failed_;
}

// ---------------------------------------------------------------- reader

QrlReader::~QrlReader() {
    close();
}

void QrlReader::close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

bool QrlReader::fail(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    failed_ = true;
    error_ = name_ + ": " + text;
    return false;
}

bool QrlReader::read_exact(std::uint8_t* bytes, std::size_t size) {
    if (std::fread(bytes, 1, size, file_) == size) return true;
    if (std::ferror(file_)) return fail("read error: %s", std::strerror(errno));
    return rows_ < height_ ? fail("file truncated in row %d of %d", rows_ + 1, height_)
                           : fail("file truncated: end marker missing");
}

bool QrlReader::open(const char* name) {
    name_ = name != nullptr ? name : "";
    close();
    failed_ = false;
    rows_ = 0;
    std::uint64_t size = 0;
    std::string why;
    int fd = open_regular_file(name_, &size, &why);
    if (fd < 0) {
        failed_ = true;
        error_ = why;
        return false;
    }
    file_ = ::fdopen(fd, "rb");
    if (file_ == nullptr) {
        ::close(fd);
        return fail("cannot open: %s", std::strerror(errno));
    }
    std::uint8_t header[kQrlHeaderSize];
    std::size_t got = std::fread(header, 1, sizeof header, file_);
    if (!qrl_has_magic(header, got)) return fail("not a .qrl file");
    if (got < sizeof header) return fail("file truncated in its header");
    if (get_u32(header + 20) != qrl_crc32(header, 20))
        return fail("header damaged (checksum mismatch)");
    unsigned version = get_u16(header + 8);
    if (version != kVersion) return fail("unsupported .qrl version %u", version);
    width_ = static_cast<int>(get_u16(header + 10));
    height_ = static_cast<int>(get_u16(header + 12));
    channels_ = header[14];
    if (width_ == 0 || height_ == 0) return fail("empty image (%dx%d)", width_, height_);
    if (!valid_channels(channels_)) return fail("unsupported channel count %d", channels_);
    if (header[15] != kBitsPerSample) return fail("unsupported %d bits per sample", header[15]);
    if (header[16] != kCompressionPackBits) return fail("unknown compression %d", header[16]);
    if (header[17] != 0 || get_u16(header + 18) != 0) return fail("unknown header flags");
    // Every row takes its framing and at least one run-length block per
    // channel: a header cannot claim more rows than the file can hold.
    const std::uint64_t smallest =
        kQrlHeaderSize + kQrlTrailerSize +
        static_cast<std::uint64_t>(height_) * (8 + 2 * channels_ * ((width_ + 127) / 128));
    if (size < smallest)
        return fail("file truncated: %dx%d image in %llu bytes", width_, height_,
                    static_cast<unsigned long long>(size));
    // The bound comes from the header's own 16-bit fields, so a hostile length
    // field can never make us allocate more than about 264 KB.
    max_record_ = channels_ * run_length_max_size(width_);
    record_.assign(max_record_ + 4, 0);
    return true;
}

bool QrlReader::read_row(std::uint8_t* samples) {
    if (file_ == nullptr) return failed_ ? false : fail("reader not open");
    if (failed_) return false;
    if (rows_ >= height_) return fail("no rows left (the image has %d)", height_);
    std::uint8_t prefix[4];
    if (!read_exact(prefix, 4)) return false;
    std::uint32_t length = get_u32(prefix);
    if (length > max_record_)
        return fail("row %d damaged: length %u exceeds the limit %zu", rows_ + 1, length,
                    max_record_);
    std::uint8_t* data = record_.data();
    if (!read_exact(data, length + 4)) return false;
    std::uint32_t crc = qrl_crc32(prefix, 4);
    crc = qrl_crc32(data, length, crc);
    if (crc != get_u32(data + length)) return fail("row %d damaged (checksum mismatch)", rows_ + 1);
    std::size_t used = 0;
    for (int c = 0; c < channels_; ++c) {
        std::size_t n = run_length_decode(RunLengthCodes::kPackBits, data + used, length - used,
                                          samples + c, channels_, width_);
        if (n == 0) return fail("row %d damaged (bad run-length data)", rows_ + 1);
        used += n;
    }
    if (used != length) return fail("row %d damaged (length mismatch)", rows_ + 1);
    ++rows_;
    return rows_ < height_ || check_end();
}

bool QrlReader::check_end() {
    std::uint8_t trailer[kQrlTrailerSize];
    if (!read_exact(trailer, sizeof trailer)) return false;
    if (std::memcmp(trailer, kEndMarker, 4) != 0 ||
        get_u32(trailer + 4) != static_cast<std::uint32_t>(height_))
        return fail("end marker damaged");
    if (std::fgetc(file_) != EOF) return fail("unexpected data after the last row");
    return true;
}

// ---------------------------------------------------------------- table

std::unique_ptr<ImageWriter> open_qrl_writer(const WriterFormat&, const char* file, int width,
                                             int height, int channels, std::string* error) {
    auto writer = std::make_unique<QrlWriter>();
    if (writer->open(file, width, height, channels)) return writer;
    *error = writer->error();
    return nullptr;
}

std::unique_ptr<ImageReader> open_qrl_reader(const char* file, std::string* error) {
    auto reader = std::make_unique<QrlReader>();
    if (reader->open(file)) return reader;
    *error = reader->error();
    return nullptr;
}

}  // namespace sky
