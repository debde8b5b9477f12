// SGI image files. Header fields (big-endian): magic 474, storage (0 plain,
// 1 run-length), bytes per sample, dimension (1 one row of one channel, 2 one
// channel, 3 several), the three sizes, the smallest and largest sample,
// 4 unused bytes, an 80-byte image name, the colour map kind (0 a plain
// image), and unused bytes to 512.
//
// Run-length coded files follow the header with a table of each row's file
// offset and one of its length, indexed by row + channel * height; a row is
// a series of units (bytes, or 16-bit words for 2-byte samples), each a
// control unit whose low 7 bits count the samples, followed by one sample
// to repeat (top bit clear) or that many samples as they are (top bit set);
// a count of 0 ends the row.
#include "platform/image/sgi.h"

#include <algorithm>
#include <cstring>

#include <unistd.h>

#include "platform/partial_names.h"

namespace sky {
namespace {

constexpr unsigned kMagic = 474;

void put_be16(std::uint8_t* p, unsigned value) {
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}

void put_be32(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

unsigned be16(const std::uint8_t* p) {
    return (unsigned{p[0]} << 8) | p[1];
}

std::uint32_t be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

}  // namespace

bool sgi_has_magic(const std::uint8_t* head, std::size_t size) {
    return size >= 2 && be16(head) == kMagic;
}

// ---------------------------------------------------------------- writer

bool SgiWriter::open(const char* name, int width, int height, int channels) {
    if (!begin(name, width, height, channels)) return false;
    width_ = width;
    height_ = height;
    channels_ = channels;
    rows_ = 0;
    failed_ = false;
    plane_row_.assign(width, 0);

    std::uint8_t header[kSgiHeaderSize] = {};
    put_be16(header, kMagic);
    header[2] = 0;  // uncompressed
    header[3] = 1;  // one byte per sample
    put_be16(header + 4, channels > 1 ? 3 : height > 1 ? 2 : 1);
    put_be16(header + 6, width);
    put_be16(header + 8, height);
    put_be16(header + 10, channels);
    put_be32(header + 12, 0);    // smallest sample
    put_be32(header + 16, 255);  // largest
    // Named by the final name when it is written under a hidden one.
    const std::string final_name = final_name_of(name_);
    std::string base = final_name.substr(final_name.find_last_of('/') + 1);
    if (base.empty()) base = "image";
    std::memcpy(header + 24, base.data(), std::min<std::size_t>(base.size(), 79));

    file_ = std::fopen(name_.c_str(), "wb");
    if (file_ == nullptr) return fail_errno("cannot create file");
    seekable_ = ::lseek(::fileno(file_), 0, SEEK_CUR) >= 0;
    if (!seekable_) {
        const std::size_t bytes = static_cast<std::size_t>(width) * height * channels;
        if (!image_.resize(bytes, __LINE__, __FILE__)) return fail("out of memory for the image");
        std::memset(image_.data(), 0, bytes);
    }
    if (std::fwrite(header, 1, sizeof header, file_) != sizeof header)
        return fail_errno("cannot write header");
    return true;
}

bool SgiWriter::put_row(int row, const std::uint8_t* samples) {
    const int stored = height_ - 1 - row;  // bottom row first
    for (int c = 0; c < channels_; ++c) {
        const std::size_t plane_offset =
            (static_cast<std::size_t>(c) * height_ + stored) * static_cast<std::size_t>(width_);
        std::uint8_t* out = seekable_ ? plane_row_.data() : image_.data() + plane_offset;
        for (int x = 0; x < width_; ++x) out[x] = samples[x * channels_ + c];
        if (!seekable_) continue;
        const long at = static_cast<long>(kSgiHeaderSize + plane_offset);
        // Moving flushes what is buffered: a full disk answers here.
        if (std::fseek(file_, at, SEEK_SET) != 0) return fail_errno("cannot write row");
        if (std::fwrite(out, 1, static_cast<std::size_t>(width_), file_) !=
            static_cast<std::size_t>(width_))
            return fail_errno("cannot write row");
    }
    return true;
}

bool SgiWriter::write_row(const std::uint8_t* samples, bool flush) {
    if (file_ == nullptr) return fail("writer not open");
    if (failed_) return false;
    if (rows_ >= height_) return fail("more rows written than the image height");
    if (!put_row(rows_, samples)) return false;
    if (flush && seekable_ && std::fflush(file_) != 0) return fail_errno("cannot write row");
    ++rows_;
    return true;
}

bool SgiWriter::close() {
    if (file_ == nullptr) return failed_ ? false : fail("writer not open");
    const int written = rows_;
    if (!failed_ && seekable_) {
        std::vector<std::uint8_t> black(static_cast<std::size_t>(width_) * channels_, 0);
        for (int row = rows_; row < height_ && !failed_; ++row) put_row(row, black.data());
    }
    if (!failed_ && !seekable_ &&
        std::fwrite(image_.data(), 1, image_.size(), file_) != image_.size())
        fail_errno("cannot write file");
    image_.release();
    std::FILE* file = file_;
    file_ = nullptr;
    if (std::fflush(file) != 0 && !failed_) fail_errno("cannot write file");
    if (std::fclose(file) != 0 && !failed_) fail_errno("cannot close file");
    if (!failed_ && written < height_)
        fail("file incomplete: " + std::to_string(written) + " of " + std::to_string(height_) +
             " rows written");
    return !failed_;
}

std::unique_ptr<ImageWriter> open_sgi_writer(const WriterFormat&, const char* file, int width,
                                             int height, int channels, std::string* error) {
    auto writer = std::make_unique<SgiWriter>();
    if (writer->open(file, width, height, channels)) return writer;
    *error = writer->error();
    return nullptr;
}

// ---------------------------------------------------------------- reader

bool SgiReader::fail(const std::string& what) {
    error_ = name_ + ": " + what;
    return false;
}

bool SgiReader::open(const char* name) {
    name_ = name != nullptr ? name : "";
    if (!file_.open(name_, &error_)) return false;
    std::uint8_t h[kSgiHeaderSize];
    if (!file_.read(0, h, sizeof h)) return fail("file truncated in its SGI header");
    if (!sgi_has_magic(h, sizeof h)) return fail("not an SGI file");
    const unsigned storage = h[2], bytes = h[3], dimension = be16(h + 4);
    if (storage > 1) return fail("unknown SGI storage " + std::to_string(storage));
    if (bytes != 1 && bytes != 2)
        return fail("unsupported SGI samples of " + std::to_string(bytes) + " bytes");
    if (dimension < 1 || dimension > 3)
        return fail("unsupported SGI dimension " + std::to_string(dimension));
    if (be32(h + 104) != 0) return fail("SGI colour-mapped images are not supported");
    rle_ = storage == 1;
    bytes_ = static_cast<int>(bytes);
    width_ = static_cast<int>(be16(h + 6));
    height_ = dimension == 1 ? 1 : static_cast<int>(be16(h + 8));
    depth_ = dimension < 3 ? 1 : static_cast<int>(be16(h + 10));
    if (width_ == 0 || height_ == 0 || depth_ == 0)
        return fail("empty SGI image (" + std::to_string(width_) + "x" + std::to_string(height_) +
                    ", " + std::to_string(depth_) + " channels)");
    channels_ = std::min(depth_, 4);

    // What the header promises must be in the file before anything is
    // allocated for it: the tables and, for every row, the smallest records
    // of its channels (a count covers at most 127 samples), so that the work
    // of decoding cannot exceed what the file holds either.
    const std::uint64_t w = static_cast<std::uint64_t>(width_), h64 = height_;
    const std::uint64_t needed =
        rle_ ? 8 * h64 * static_cast<std::uint64_t>(depth_) +
                   h64 * static_cast<std::uint64_t>(channels_) * bytes_ * 2 * ((w + 126) / 127)
             : w * h64 * static_cast<std::uint64_t>(channels_) * bytes_;
    if (!file_.holds(kSgiHeaderSize, needed))
        return fail("file truncated: " + std::to_string(width_) + "x" + std::to_string(height_) +
                    " SGI image in " + std::to_string(file_.size()) + " bytes");
    if (rle_) {
        // The tables of the delivered channels: starts, then lengths, each
        // indexed by row + channel * height.
        const std::size_t entries = static_cast<std::size_t>(height_) * channels_;
        std::vector<std::uint8_t> table(4 * entries);
        starts_.resize(entries);
        lengths_.resize(entries);
        for (int pass = 0; pass < 2; ++pass) {
            const std::uint64_t at =
                kSgiHeaderSize + (pass == 0 ? 0 : 4 * h64 * static_cast<std::uint64_t>(depth_));
            if (!file_.read(at, table.data(), table.size()))
                return fail("cannot read the run-length tables");
            std::vector<std::uint32_t>& values = pass == 0 ? starts_ : lengths_;
            for (std::size_t i = 0; i < entries; ++i) values[i] = be32(&table[4 * i]);
        }
        // A row takes at most a control unit and a sample per sample, and
        // the unit that ends it.
        record_.resize((2 * static_cast<std::size_t>(width_) + 1) * bytes_);
    } else {
        record_.resize(static_cast<std::size_t>(width_) * bytes_);
    }
    rows_ = 0;
    return true;
}

bool SgiReader::decode_rle(const std::uint8_t* in, std::size_t size, std::uint8_t* samples,
                           int c) const {
    const std::size_t units = size / bytes_;
    auto unit = [&](std::size_t i) -> unsigned { return bytes_ == 1 ? in[i] : be16(in + 2 * i); };
    auto put = [&](int x, unsigned value) {
        if (bytes_ == 1)
            samples[x * channels_ + c] = static_cast<std::uint8_t>(value);
        else
            reinterpret_cast<std::uint16_t*>(samples)[x * channels_ + c] =
                static_cast<std::uint16_t>(value);
    };
    std::size_t i = 0;
    int x = 0;
    while (i < units) {
        const unsigned control = unit(i++);
        const int count = static_cast<int>(control & 0x7F);
        if (count == 0) break;
        if (count > width_ - x) return false;
        if (control & 0x80) {
            if (static_cast<std::size_t>(count) > units - i) return false;
            for (int k = 0; k < count; ++k) put(x++, unit(i++));
        } else {
            if (i >= units) return false;
            const unsigned value = unit(i++);
            for (int k = 0; k < count; ++k) put(x++, value);
        }
    }
    return x == width_;
}

bool SgiReader::read_row(std::uint8_t* samples) {
    if (!error_.empty()) return false;
    if (rows_ >= height_)
        return fail("no rows left (the image has " + std::to_string(height_) + ")");
    const int stored = height_ - 1 - rows_;  // bottom row first
    const std::string row = "row " + std::to_string(rows_ + 1);
    for (int c = 0; c < channels_; ++c) {
        if (rle_) {
            const std::size_t entry = static_cast<std::size_t>(c) * height_ + stored;
            const std::uint32_t at = starts_[entry], length = lengths_[entry];
            if (length > record_.size())
                return fail(row + " damaged: run-length record of " + std::to_string(length) +
                            " bytes");
            if (!file_.read(at, record_.data(), length)) return fail("file truncated in " + row);
            if (!decode_rle(record_.data(), length, samples, c))
                return fail(row + " damaged (bad run-length data)");
            continue;
        }
        const std::uint64_t at =
            kSgiHeaderSize + (static_cast<std::uint64_t>(c) * height_ + stored) * record_.size();
        if (!file_.read(at, record_.data(), record_.size()))
            return fail("file truncated in " + row);
        for (int x = 0; x < width_; ++x) {
            if (bytes_ == 1)
                samples[x * channels_ + c] = record_[x];
            else
                reinterpret_cast<std::uint16_t*>(samples)[x * channels_ + c] =
                    static_cast<std::uint16_t>(be16(&record_[2 * x]));
        }
    }
    ++rows_;
    return true;
}

std::unique_ptr<ImageReader> open_sgi_reader(const char* file, std::string* error) {
    auto reader = std::make_unique<SgiReader>();
    if (reader->open(file)) return reader;
    *error = reader->error();
    return nullptr;
}

}  // namespace sky
