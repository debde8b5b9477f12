// Run-length coding of 8-bit samples, as the .qrl and RLA formats store their
// rows: a sequence of blocks, each a control byte and then either one sample
// repeated (a run) or samples copied as they are (a literal), at most 128
// samples a block. The formats differ only in the control byte:
//
//   PackBits (.qrl): literal of n samples n - 1 (0..127); run of n 257 - n
//                    (129..255); 128 is never written and means damage.
//   RLA:             run of n samples n - 1 (0..127); literal of n 256 - n
//                    (128..255), i.e. the count as a signed byte, negated.
//
// Both work on `count` samples spaced `stride` bytes apart, so a codec works
// on interleaved rows without copying channel planes out.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sky {

enum class RunLengthCodes { kPackBits, kRla };

// Largest encoded size of `count` samples: every literal block of up to 128
// samples costs one control byte; runs never cost more than they replace.
std::size_t run_length_max_size(std::size_t count);

// Writes at most run_length_max_size(count) bytes; returns the number written.
// A run is coded for two or more equal samples at the start of a block; a
// literal ends where three equal samples start (a pair inside a literal costs
// nothing, splitting the literal for it would) or at 128 samples.
std::size_t run_length_encode(RunLengthCodes codes, const std::uint8_t* samples, std::size_t stride,
                              std::size_t count, std::uint8_t* out);

// Must produce exactly `count` samples from at most `size` bytes; returns the
// bytes consumed, or 0 when the data is damaged (a block past the row's end,
// the reserved PackBits code 128, too few bytes).
std::size_t run_length_decode(RunLengthCodes codes, const std::uint8_t* in, std::size_t size,
                              std::uint8_t* samples, std::size_t stride, std::size_t count);

}  // namespace sky
