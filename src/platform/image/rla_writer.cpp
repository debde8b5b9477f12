// Writer of RLA files. The header fields are big-endian; a file holds the
// 740-byte header, a table of 32-bit row offsets (bottom row first), then per
// row and channel a 16-bit length and the run-length coded samples (RLA codes,
// run_length.h). Colour channels come first, the matte (our alpha) after
// them.
#include "platform/image/rla_writer.h"

#include <cstring>

#include "platform/image/run_length.h"

namespace sky {
namespace {

constexpr std::size_t kOffsetTable = kRlaHeaderSize;

void put_be16(std::uint8_t* p, unsigned value) {
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}

void put_be32(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

void put_text(std::uint8_t* p, const char* text) {
    std::memcpy(p, text, std::strlen(text));
}

}  // namespace

bool RlaWriter::open(const char* name, int width, int height, int channels) {
    if (!begin(name, width, height, channels)) return false;
    width_ = width;
    height_ = height;
    channels_ = channels;
    rows_ = 0;
    failed_ = false;
    offsets_.assign(height, 0);
    record_.assign(channels * (2 + run_length_max_size(width)), 0);

    std::uint8_t header[kRlaHeaderSize] = {};
    for (int window : {0, 8}) {  // full window, then active window: the same
        put_be16(header + window + 2, width - 1);
        put_be16(header + window + 6, height - 1);
    }
    put_be16(header + 0x14, channels == 1 ? 1 : 3);  // colour channels
    put_be16(header + 0x16, channels == 4 ? 1 : 0);  // matte channels
    put_be16(header + 0x1A, 0xFFFE);                 // revision
    put_text(header + 0x2C, "0.67 0.08");            // red, green, blue, white chromaticities
    put_text(header + 0x44, "0.21 0.71");
    put_text(header + 0x5C, "0.14 0.33");
    put_text(header + 0x74, "0.31 0.316");
    put_text(header + 0x190, "skyloom");  // program
    put_text(header + 0x23C, "1.00000");  // aspect ratio
    put_text(header + 0x244, "rgb");      // colour space of the channels
    put_be16(header + 0x292, 8);          // bits of colour, matte and auxiliary samples
    put_be16(header + 0x296, 8);
    put_be16(header + 0x29A, 8);

    file_ = std::fopen(name_.c_str(), "wb");
    if (file_ == nullptr) return fail_errno("cannot create file");
    if (std::fwrite(header, 1, sizeof header, file_) != sizeof header)
        return fail_errno("cannot write header");
    // The offset table is written for real on close; reserve its room now.
    std::uint8_t zeros[256] = {};
    for (std::size_t left = 4 * static_cast<std::size_t>(height); left > 0;) {
        std::size_t chunk = left < sizeof zeros ? left : sizeof zeros;
        if (std::fwrite(zeros, 1, chunk, file_) != chunk) return fail_errno("cannot write header");
        left -= chunk;
    }
    end_ = kOffsetTable + 4 * static_cast<std::uint64_t>(height);
    return true;
}

bool RlaWriter::write_row(const std::uint8_t* samples, bool flush) {
    if (file_ == nullptr) return fail("writer not open");
    if (failed_) return false;
    if (rows_ >= height_) return fail("more rows written than the image height");
    if (end_ > 0x7FFFFFFF) return fail("image too large for an RLA file (2 GB)");
    std::size_t used = 0;
    for (int c = 0; c < channels_; ++c) {
        std::size_t length = run_length_encode(RunLengthCodes::kRla, samples + c, channels_, width_,
                                               record_.data() + used + 2);
        if (length > 0xFFFF) return fail("row too long for an RLA file");
        put_be16(record_.data() + used, static_cast<unsigned>(length));
        used += 2 + length;
    }
    if (std::fwrite(record_.data(), 1, used, file_) != used) return fail_errno("cannot write row");
    if (flush && std::fflush(file_) != 0) return fail_errno("cannot write row");
    offsets_[height_ - 1 - rows_] = static_cast<std::uint32_t>(end_);
    end_ += used;
    ++rows_;
    return true;
}

bool RlaWriter::close() {
    if (file_ == nullptr) return failed_ ? false : fail("writer not open");
    std::FILE* file = file_;
    file_ = nullptr;
    if (!failed_ && rows_ < height_)
        fail("file incomplete: " + std::to_string(rows_) + " of " + std::to_string(height_) +
             " rows written");
    if (!failed_) {
        std::vector<std::uint8_t> table(4 * offsets_.size());
        for (std::size_t i = 0; i < offsets_.size(); ++i) put_be32(&table[4 * i], offsets_[i]);
        if (std::fseek(file, static_cast<long>(kOffsetTable), SEEK_SET) != 0 ||
            std::fwrite(table.data(), 1, table.size(), file) != table.size() ||
            std::fflush(file) != 0)
            fail_errno("cannot write the row offsets");
    }
    if (std::fclose(file) != 0 && !failed_) fail_errno("cannot close file");
    return !failed_;
}

std::unique_ptr<ImageWriter> open_rla_writer(const WriterFormat&, const char* file, int width,
                                             int height, int channels, std::string* error) {
    auto writer = std::make_unique<RlaWriter>();
    if (writer->open(file, width, height, channels)) return writer;
    *error = writer->error();
    return nullptr;
}

}  // namespace sky
