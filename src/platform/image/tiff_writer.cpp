// Writer of TIFF files. A file holds the 8-byte header, one directory (IFD)
// right after it, the directory's values too long to sit in their entries,
// then the rows, top first, samples interleaved. Strips of about 8 KB suit
// readers that fetch a strip at a time; their offsets follow from the row
// size alone, which is what lets the directory come first.
//
// The tags are those a careful baseline reader expects, with alpha marked as
// associated (ExtraSamples 1): it is how the files were tagged when
// OpenImageIO wrote them, and readers then hand the samples back unchanged.
#include "platform/image/tiff_writer.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace sky {
namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kEntrySize = 12;
constexpr std::size_t kStripTarget = 8192;           // bytes per strip, at least one row
constexpr std::uint64_t kMaxFileSize = 0xFFFFFFFFu;  // offsets are 32-bit

enum Type : std::uint16_t { kShort = 3, kLong = 4, kRational = 5 };

void put_le16(std::uint8_t* p, unsigned value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

void put_le32(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Lays out the directory and the values it points to, in one buffer that is
// written as the start of the file.
class Directory {
public:
    Directory(int entries, std::size_t values_size)
        : bytes_(kHeaderSize + 2 + kEntrySize * entries + 4 + values_size, 0),
          next_value_(kHeaderSize + 2 + kEntrySize * entries + 4) {
        bytes_[0] = bytes_[1] = 'I';
        put_le16(&bytes_[2], 42);
        put_le32(&bytes_[4], kHeaderSize);
        put_le16(&bytes_[kHeaderSize], static_cast<unsigned>(entries));
        // The offset of a next directory stays 0: there is none.
    }

    // Entries must be added in ascending tag order, as readers may rely on it.
    void add(std::uint16_t tag, Type type, std::uint32_t value) {
        std::uint8_t* e = entry(tag, type, 1);
        if (type == kShort)
            put_le16(e + 8, value);  // left-justified in the value field
        else
            put_le32(e + 8, value);
    }

    void add_shorts(std::uint16_t tag, int count, unsigned value) {
        std::uint8_t* e = entry(tag, kShort, count);
        std::uint8_t* out = count <= 2 ? e + 8 : value_room(e, 2 * count);
        for (int i = 0; i < count; ++i) put_le16(out + 2 * i, value);
    }

    void add_rational(std::uint16_t tag, std::uint32_t numerator, std::uint32_t denominator) {
        std::uint8_t* out = value_room(entry(tag, kRational, 1), 8);
        put_le32(out, numerator);
        put_le32(out + 4, denominator);
    }

    // `count` longs first + i * step, the last one `last` when it differs.
    void add_longs(std::uint16_t tag, std::uint32_t count, std::uint64_t first, std::uint64_t step,
                   std::uint64_t last) {
        std::uint8_t* e = entry(tag, kLong, count);
        std::uint8_t* out = count == 1 ? e + 8 : value_room(e, 4 * count);
        for (std::uint32_t i = 0; i < count; ++i)
            put_le32(out + 4 * i,
                     static_cast<std::uint32_t>(i + 1 == count ? last : first + i * step));
    }

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::uint8_t* entry(std::uint16_t tag, Type type, std::uint32_t count) {
        std::uint8_t* e = &bytes_[kHeaderSize + 2 + kEntrySize * entries_++];
        put_le16(e, tag);
        put_le16(e + 2, type);
        put_le32(e + 4, count);
        return e;
    }

    std::uint8_t* value_room(std::uint8_t* e, std::size_t size) {
        put_le32(e + 8, static_cast<std::uint32_t>(next_value_));
        std::uint8_t* out = &bytes_[next_value_];
        next_value_ += size;  // sizes are even, so values stay word-aligned
        return out;
    }

    std::vector<std::uint8_t> bytes_;
    std::size_t next_value_;
    int entries_ = 0;
};

}  // namespace

bool TiffWriter::open(const char* name, int width, int height, int channels, int bits) {
    if (!begin(name, width, height, channels)) return false;
    if (bits != 8 && bits != 16) return fail("bits per sample must be 8 or 16");
    height_ = height;
    rows_ = 0;
    failed_ = false;
    row_bytes_ = static_cast<std::size_t>(width) * channels * (bits / 8);
    swap_ = bits == 16 && std::endian::native == std::endian::big;
    swapped_.assign(swap_ ? row_bytes_ : 0, 0);

    const std::uint32_t rows_per_strip = static_cast<std::uint32_t>(
        std::clamp<std::size_t>(kStripTarget / row_bytes_, 1, static_cast<std::size_t>(height)));
    const std::uint32_t strips = (height + rows_per_strip - 1) / rows_per_strip;
    const std::uint64_t strip_bytes = rows_per_strip * static_cast<std::uint64_t>(row_bytes_);
    const std::uint64_t last_strip_bytes =
        (height - (strips - 1) * static_cast<std::uint64_t>(rows_per_strip)) * row_bytes_;

    const int entries = channels == 4 ? 16 : 15;
    std::size_t values = 2 * 8;                               // the two resolutions
    if (channels > 2) values += 2 * (2 * channels);           // BitsPerSample, SampleFormat
    if (strips > 1) values += 2 * (4 * std::size_t{strips});  // strip offsets and sizes
    Directory directory(entries, values);
    const std::uint64_t data_start = directory.bytes().size();
    if (data_start + static_cast<std::uint64_t>(height) * row_bytes_ > kMaxFileSize)
        return fail("image too large for a TIFF file (4 GB)");

    directory.add(256, kLong, static_cast<std::uint32_t>(width));      // ImageWidth
    directory.add(257, kLong, static_cast<std::uint32_t>(height));     // ImageLength
    directory.add_shorts(258, channels, static_cast<unsigned>(bits));  // BitsPerSample
    directory.add(259, kShort, 1);                                     // Compression: none
    directory.add(262, kShort, channels == 1 ? 1 : 2);  // Photometric: min-is-black, RGB
    directory.add_longs(273, strips, data_start, strip_bytes,
                        data_start + (strips - 1) * strip_bytes);
    directory.add(274, kShort, 1);  // Orientation: top row first, left to right
    directory.add(277, kShort, static_cast<std::uint32_t>(channels));    // SamplesPerPixel
    directory.add(278, kLong, rows_per_strip);                           // RowsPerStrip
    directory.add_longs(279, strips, strip_bytes, 0, last_strip_bytes);  // StripByteCounts
    directory.add_rational(282, 72, 1);                                  // XResolution
    directory.add_rational(283, 72, 1);                                  // YResolution
    directory.add(284, kShort, 1);                     // PlanarConfiguration: interleaved
    directory.add(296, kShort, 2);                     // ResolutionUnit: inch
    if (channels == 4) directory.add(338, kShort, 1);  // ExtraSamples: associated alpha
    directory.add_shorts(339, channels, 1);            // SampleFormat: unsigned integer

    file_ = std::fopen(name_.c_str(), "wb");
    if (file_ == nullptr) return fail_errno("cannot create file");
    const std::vector<std::uint8_t>& header = directory.bytes();
    if (std::fwrite(header.data(), 1, header.size(), file_) != header.size())
        return fail_errno("cannot write header");
    return true;
}

bool TiffWriter::write_row(const std::uint8_t* samples, bool flush) {
    if (file_ == nullptr) return fail("writer not open");
    if (failed_) return false;
    if (rows_ >= height_) return fail("more rows written than the image height");
    const std::uint8_t* out = samples;
    if (swap_) {
        for (std::size_t i = 0; i < row_bytes_; i += 2) {
            swapped_[i] = samples[i + 1];
            swapped_[i + 1] = samples[i];
        }
        out = swapped_.data();
    }
    if (std::fwrite(out, 1, row_bytes_, file_) != row_bytes_) return fail_errno("cannot write row");
    if (flush && std::fflush(file_) != 0) return fail_errno("cannot write row");
    ++rows_;
    return true;
}

bool TiffWriter::close() {
    if (file_ == nullptr) return failed_ ? false : fail("writer not open");
    std::FILE* file = file_;
    file_ = nullptr;
    if (!failed_ && rows_ < height_) {
        // The directory promises every row: black ones keep the file readable.
        static const std::uint8_t zeros[4096] = {};
        std::uint64_t left = static_cast<std::uint64_t>(height_ - rows_) * row_bytes_;
        while (left > 0 && !failed_) {
            std::size_t chunk =
                static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof zeros));
            if (std::fwrite(zeros, 1, chunk, file) != chunk) fail_errno("cannot write row");
            left -= chunk;
        }
        if (!failed_)
            fail("file incomplete: " + std::to_string(rows_) + " of " + std::to_string(height_) +
                 " rows written");
    }
    if (std::fflush(file) != 0 && !failed_) fail_errno("cannot write row");
    if (std::fclose(file) != 0 && !failed_) fail_errno("cannot close file");
    return !failed_;
}

std::unique_ptr<ImageWriter> open_tiff_writer(const WriterFormat& format, const char* file,
                                              int width, int height, int channels,
                                              std::string* error) {
    auto writer = std::make_unique<TiffWriter>();
    if (writer->open(file, width, height, channels, format.bits)) return writer;
    *error = writer->error();
    return nullptr;
}

}  // namespace sky
