#include "platform/image/run_length.h"

namespace sky {
namespace {

constexpr std::size_t kMaxBlock = 128;

std::uint8_t run_code(RunLengthCodes codes, std::size_t run) {
    return static_cast<std::uint8_t>(codes == RunLengthCodes::kPackBits ? 257 - run : run - 1);
}

std::uint8_t literal_code(RunLengthCodes codes, std::size_t length) {
    return static_cast<std::uint8_t>(codes == RunLengthCodes::kPackBits ? length - 1
                                                                        : 256 - length);
}

// The samples a control byte announces; `run` tells a run from a literal.
// 0 for the reserved PackBits code.
std::size_t block_length(RunLengthCodes codes, unsigned code, bool* run) {
    if (codes == RunLengthCodes::kPackBits) {
        *run = code > 128;
        if (code == 128) return 0;
        return *run ? 257 - code : code + 1;
    }
    *run = code < 128;
    return *run ? code + 1 : 256 - code;
}

}  // namespace

std::size_t run_length_max_size(std::size_t count) {
    return count + (count + kMaxBlock - 1) / kMaxBlock;
}

std::size_t run_length_encode(RunLengthCodes codes, const std::uint8_t* samples, std::size_t stride,
                              std::size_t count, std::uint8_t* out) {
    auto at = [&](std::size_t i) { return samples[i * stride]; };
    std::size_t i = 0, o = 0;
    while (i < count) {
        std::size_t run = 1;
        while (i + run < count && run < kMaxBlock && at(i + run) == at(i)) ++run;
        if (run >= 2) {
            out[o++] = run_code(codes, run);
            out[o++] = at(i);
            i += run;
            continue;
        }
        std::size_t start = o++;
        std::size_t length = 0;
        while (i < count && length < kMaxBlock) {
            if (i + 2 < count && at(i) == at(i + 1) && at(i) == at(i + 2)) break;
            out[o++] = at(i++);
            ++length;
        }
        out[start] = literal_code(codes, length);
    }
    return o;
}

std::size_t run_length_decode(RunLengthCodes codes, const std::uint8_t* in, std::size_t size,
                              std::uint8_t* samples, std::size_t stride, std::size_t count) {
    std::size_t i = 0, o = 0;
    while (o < count) {
        if (i >= size) return 0;
        bool run = false;
        std::size_t length = block_length(codes, in[i++], &run);
        if (length == 0 || length > count - o) return 0;
        if (run) {
            if (i >= size) return 0;
            std::uint8_t value = in[i++];
            for (std::size_t k = 0; k < length; ++k) samples[(o++) * stride] = value;
        } else {
            if (length > size - i) return 0;
            for (std::size_t k = 0; k < length; ++k) samples[(o++) * stride] = in[i++];
        }
    }
    return i;
}

}  // namespace sky
