// Reader of RLA files. The layout is the writer's (rla_writer.cpp): a 740-byte
// big-endian header, a table of 32-bit row offsets (bottom row first), and at
// each offset one record per channel, colour channels first, then matte, then
// auxiliary: a 16-bit length and that many bytes. Integer samples of more
// than one byte are run-length coded one byte plane at a time, the most
// significant first; floating-point samples are stored as they are, in the
// writing machine's (little-endian) order.
#include "platform/image/rla_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/image/rla_writer.h"
#include "platform/image/run_length.h"

namespace sky {
namespace {

// Header fields (byte offsets).
constexpr std::size_t kWindow = 0;        // left, right, bottom, top: int16
constexpr std::size_t kActiveWindow = 8;  // the same, of the stored pixels
constexpr std::size_t kColourType = 18;
constexpr std::size_t kColourCount = 20;
constexpr std::size_t kMatteCount = 22;
constexpr std::size_t kAuxCount = 24;
constexpr std::size_t kRevision = 26;
constexpr std::size_t kColourBits = 658;
constexpr std::size_t kMatteType = 660;
constexpr std::size_t kMatteBits = 662;
constexpr std::size_t kAuxType = 664;
constexpr std::size_t kAuxBits = 666;

constexpr unsigned kRevisionCurrent = 0xFFFE;
constexpr unsigned kRevisionOld = 0;  // written by some programs; OpenImageIO reads it too

enum ChannelType { kBytes = 0, kWords = 1, kDoubleWords = 2, kFloats = 4 };

constexpr int kMaxChannels = 4;  // the library delivers the first four

unsigned be16(const std::uint8_t* p) {
    return (unsigned{p[0]} << 8) | p[1];
}
int be16s(const std::uint8_t* p) {
    return static_cast<std::int16_t>(be16(p));
}
std::uint32_t be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}
std::uint32_t le32(const std::uint8_t* p) {
    return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) |
           p[0];
}

// The extent of a window, or 0 when it is empty or wider than 65535.
int extent(int low, int high) {
    int size = high - low + 1;
    return size >= 1 && size <= 65535 ? size : 0;
}

bool windows_valid(const std::uint8_t* h) {
    for (std::size_t w : {kWindow, kActiveWindow})
        if (extent(be16s(h + w), be16s(h + w + 2)) == 0 ||
            extent(be16s(h + w + 4), be16s(h + w + 6)) == 0)
            return false;
    return true;
}

bool group_valid(int count, unsigned type, unsigned bits) {
    if (count == 0) return true;
    switch (type) {
        case kBytes:
        case kWords:
            return bits >= 1 && bits <= 16;
        case kDoubleWords:
            return bits >= 1 && bits <= 32;
        case kFloats:
            return true;
        default:
            return false;
    }
}

// Scales an integer sample of `bits` bits to the full range of `out_bits`.
unsigned scale(std::uint32_t value, int bits, int out_bits) {
    const std::uint64_t max = (std::uint64_t{1} << bits) - 1;
    const std::uint64_t out_max = (std::uint64_t{1} << out_bits) - 1;
    if (bits == out_bits) return static_cast<unsigned>(std::min<std::uint64_t>(value, max));
    std::uint64_t v = std::min<std::uint64_t>(value, max);
    return static_cast<unsigned>((v * out_max * 2 + max) / (2 * max));
}

unsigned scale_float(std::uint32_t bits_of_float, int out_bits) {
    float f;
    std::memcpy(&f, &bits_of_float, sizeof f);
    if (!(f > 0.0f)) return 0;  // NaN too
    const float out_max = static_cast<float>((1u << out_bits) - 1);
    return f >= 1.0f ? static_cast<unsigned>(out_max)
                     : static_cast<unsigned>(std::lround(f * out_max));
}

}  // namespace

bool rla_has_header(const std::uint8_t* head, std::size_t size) {
    if (size < kRlaHeaderSize) return false;
    const unsigned revision = be16(head + kRevision);
    if (revision != kRevisionCurrent && revision != kRevisionOld) return false;
    if (!windows_valid(head)) return false;
    const int colour = be16s(head + kColourCount), matte = be16s(head + kMatteCount),
              aux = be16s(head + kAuxCount);
    if (colour < 0 || matte < 0 || aux < 0 || colour + matte + aux == 0) return false;
    // The current revision marks the file; a damaged one is still ours to
    // refuse. The old one marks nothing, so more of the header must agree.
    if (revision == kRevisionCurrent) return true;
    return group_valid(colour, be16(head + kColourType), be16(head + kColourBits)) &&
           group_valid(matte, be16(head + kMatteType), be16(head + kMatteBits)) &&
           group_valid(aux, be16(head + kAuxType), be16(head + kAuxBits));
}

bool RlaReader::fail(const std::string& what) {
    error_ = name_ + ": " + what;
    return false;
}

bool RlaReader::open(const char* name) {
    name_ = name != nullptr ? name : "";
    if (!file_.open(name_, &error_)) return false;
    std::uint8_t h[kRlaHeaderSize];
    if (!file_.read(0, h, sizeof h)) return fail("file truncated in its RLA header");
    if (!rla_has_header(h, sizeof h)) return fail("not an RLA file");
    width_ = extent(be16s(h + kActiveWindow), be16s(h + kActiveWindow + 2));
    height_ = extent(be16s(h + kActiveWindow + 4), be16s(h + kActiveWindow + 6));

    struct Group {
        const char* name;
        int count;
        unsigned type, bits;
    };
    const Group groups[] = {
        {"colour", be16s(h + kColourCount), be16(h + kColourType), be16(h + kColourBits)},
        {"matte", be16s(h + kMatteCount), be16(h + kMatteType), be16(h + kMatteBits)},
        {"auxiliary", be16s(h + kAuxCount), be16(h + kAuxType), be16(h + kAuxBits)},
    };
    channels_.clear();
    bits_ = 8;
    for (const Group& g : groups) {
        if (g.count == 0 || static_cast<int>(channels_.size()) == kMaxChannels) continue;
        if (!group_valid(g.count, g.type, g.bits))
            return fail("unsupported RLA " + std::string(g.name) + " channels (type " +
                        std::to_string(g.type) + ", " + std::to_string(g.bits) +
                        " bits per sample)");
        Channel channel;
        channel.type = static_cast<int>(g.type);
        channel.bits = g.type == kFloats ? 32 : static_cast<int>(g.bits);
        channel.bytes = g.type == kFloats || g.type == kDoubleWords ? 4 : g.bits > 8 ? 2 : 1;
        if (channel.bytes > 1) bits_ = 16;
        for (int i = 0; i < g.count && static_cast<int>(channels_.size()) < kMaxChannels; ++i)
            channels_.push_back(channel);
    }

    // The offset table and the smallest records of every row must be in the
    // file, so that neither what we allocate nor the work of decoding can
    // exceed what the file holds, whatever its header claims.
    const std::uint64_t table = 4 * static_cast<std::uint64_t>(height_);
    std::uint64_t smallest_row = 0;
    for (const Channel& c : channels_)
        smallest_row +=
            2 + (c.type == kFloats ? 4ull * width_ : 2ull * c.bytes * ((width_ + 127) / 128));
    if (!file_.holds(kRlaHeaderSize, table + smallest_row * static_cast<std::uint64_t>(height_)))
        return fail("file truncated: " + std::to_string(width_) + "x" + std::to_string(height_) +
                    " RLA image in " + std::to_string(file_.size()) + " bytes");
    std::vector<std::uint8_t> bytes(table);
    if (!file_.read(kRlaHeaderSize, bytes.data(), bytes.size()))
        return fail("cannot read the row offsets");
    offsets_.resize(height_);
    for (int y = 0; y < height_; ++y) offsets_[y] = be32(&bytes[4 * y]);
    record_.resize(0xFFFF);
    values_.resize(width_);
    plane_.resize(width_);
    rows_ = 0;
    return true;
}

bool RlaReader::decode_channel(const Channel& channel, const std::uint8_t* record,
                               std::size_t length, int c, std::uint8_t* samples) {
    const int n = static_cast<int>(channels_.size());
    if (channel.type == kFloats) {
        if (length < 4 * static_cast<std::size_t>(width_)) return false;
        // Little-endian, unlike every other field: what OpenImageIO writes
        // and reads, the only writer of such files we know.
        for (int x = 0; x < width_; ++x) values_[x] = le32(record + 4 * x);
    } else {
        // One run-length coded plane per byte of the sample, the most
        // significant first.
        std::fill(values_.begin(), values_.end(), 0);
        std::size_t used = 0;
        for (int b = 0; b < channel.bytes; ++b) {
            std::size_t consumed =
                run_length_decode(RunLengthCodes::kRla, record + used, length - used, plane_.data(),
                                  1, static_cast<std::size_t>(width_));
            if (consumed == 0) return false;
            used += consumed;
            for (int x = 0; x < width_; ++x) values_[x] = (values_[x] << 8) | plane_[x];
        }
    }
    for (int x = 0; x < width_; ++x) {
        unsigned v = channel.type == kFloats ? scale_float(values_[x], bits_)
                                             : scale(values_[x], channel.bits, bits_);
        if (bits_ == 8)
            samples[x * n + c] = static_cast<std::uint8_t>(v);
        else
            reinterpret_cast<std::uint16_t*>(samples)[x * n + c] = static_cast<std::uint16_t>(v);
    }
    return true;
}

bool RlaReader::read_row(std::uint8_t* samples) {
    if (!error_.empty()) return false;
    if (rows_ >= height_)
        return fail("no rows left (the image has " + std::to_string(height_) + ")");
    const int stored = height_ - 1 - rows_;  // rows are stored bottom first
    const std::string row = "row " + std::to_string(rows_ + 1);
    std::uint64_t at = offsets_[stored];
    if (at < kRlaHeaderSize + 4 * static_cast<std::uint64_t>(height_) || at >= file_.size())
        return fail(row + " damaged: offset " + std::to_string(at) + " outside the file");
    for (int c = 0; c < static_cast<int>(channels_.size()); ++c) {
        std::uint8_t prefix[2];
        if (!file_.read(at, prefix, 2)) return fail("file truncated in " + row);
        const std::size_t length = be16(prefix);
        at += 2;
        if (!file_.read(at, record_.data(), length)) return fail("file truncated in " + row);
        at += length;
        if (!decode_channel(channels_[c], record_.data(), length, c, samples))
            return fail(row + " damaged (bad run-length data in channel " + std::to_string(c + 1) +
                        ")");
    }
    ++rows_;
    return true;
}

std::unique_ptr<ImageReader> open_rla_reader(const char* file, std::string* error) {
    auto reader = std::make_unique<RlaReader>();
    if (reader->open(file)) return reader;
    *error = reader->error();
    return nullptr;
}

}  // namespace sky
