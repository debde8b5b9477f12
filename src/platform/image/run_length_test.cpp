// The run-length codec of the .qrl and RLA writers: exact control bytes at the
// block limits, and round trips of every kind of row within the size bound,
// under both conventions.
#include "platform/image/run_length.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/image/image_test_support.h"

namespace sky {
namespace {

using test::random_bytes;
using Bytes = std::vector<std::uint8_t>;

constexpr RunLengthCodes kBothCodes[] = {RunLengthCodes::kPackBits, RunLengthCodes::kRla};

const char* name_of(RunLengthCodes codes) {
    return codes == RunLengthCodes::kPackBits ? "PackBits" : "RLA";
}

Bytes encode(RunLengthCodes codes, const Bytes& samples) {
    Bytes out(run_length_max_size(samples.size()));
    out.resize(run_length_encode(codes, samples.data(), 1, samples.size(), out.data()));
    return out;
}

// Samples of one row: `runs` gives the length of each run of equal samples,
// neighbouring runs differing.
Bytes runs_of(std::initializer_list<std::size_t> runs) {
    Bytes row;
    std::uint8_t value = 10;
    for (std::size_t length : runs) {
        row.insert(row.end(), length, value);
        value = static_cast<std::uint8_t>(value + 37);
    }
    return row;
}

TEST(RunLength, ControlBytesFollowEachFormatsConvention) {
    // Three equal samples make a run; a pair inside a literal stays there.
    const Bytes row = {5, 5, 5, 1, 2, 2, 3};
    EXPECT_EQ(encode(RunLengthCodes::kPackBits, row), (Bytes{0xFE, 5, 0x03, 1, 2, 2, 3}));
    EXPECT_EQ(encode(RunLengthCodes::kRla, row), (Bytes{0x02, 5, 0xFC, 1, 2, 2, 3}));

    // Blocks hold at most 128 samples: 300 equal ones are runs of 128, 128, 44.
    const Bytes flat(300, 9);
    EXPECT_EQ(encode(RunLengthCodes::kPackBits, flat), (Bytes{0x81, 9, 0x81, 9, 0xD5, 9}));
    EXPECT_EQ(encode(RunLengthCodes::kRla, flat), (Bytes{0x7F, 9, 0x7F, 9, 0x2B, 9}));

    // 130 different samples are literals of 128 and 2.
    Bytes different(130);
    for (std::size_t i = 0; i < different.size(); ++i) different[i] = static_cast<std::uint8_t>(i);
    for (RunLengthCodes codes : kBothCodes) {
        Bytes out = encode(codes, different);
        ASSERT_EQ(out.size(), 132u) << name_of(codes);
        EXPECT_EQ(out[0], codes == RunLengthCodes::kPackBits ? 0x7F : 0x80) << name_of(codes);
        EXPECT_EQ(out[129], codes == RunLengthCodes::kPackBits ? 0x01 : 0xFE) << name_of(codes);
    }

    EXPECT_EQ(encode(RunLengthCodes::kPackBits, {7}), (Bytes{0x00, 7}));
    EXPECT_EQ(encode(RunLengthCodes::kRla, {7}), (Bytes{0xFF, 7}));
}

// Encodes every row interleaved with two other channels, checks the bound,
// decodes into a buffer whose other channels must stay untouched.
TEST(RunLength, EveryKindOfRowComesBackExactlyWithinTheBound) {
    std::vector<std::pair<std::string, Bytes>> rows;
    rows.emplace_back("length 1", Bytes{200});
    for (std::size_t length : {2u, 3u, 127u, 128u, 129u, 256u, 257u, 1000u})
        rows.emplace_back("all equal, " + std::to_string(length), Bytes(length, 200));
    for (std::size_t length : {2u, 3u, 127u, 128u, 129u, 256u, 257u, 1000u}) {
        Bytes row(length);
        for (std::size_t i = 0; i < length; ++i) row[i] = static_cast<std::uint8_t>(i * 7);
        rows.emplace_back("all different, " + std::to_string(length), row);
    }
    rows.emplace_back("runs at the limits", runs_of({1, 127, 1, 128, 1, 129, 2, 255, 256, 257, 1}));
    Bytes pairs;  // the encoder's awkward case: a run of two may stay in a literal
    for (int i = 0; i < 150; ++i) pairs.insert(pairs.end(), 2, static_cast<std::uint8_t>(i));
    rows.emplace_back("pairs", pairs);
    rows.emplace_back("literal then run", runs_of({1, 1, 1, 1, 1, 3, 1, 1, 2, 1, 3}));
    for (unsigned seed = 1; seed <= 400; ++seed) {
        // Random samples from a few values, so runs of every length occur.
        Bytes row = random_bytes(seed, seed);
        for (std::uint8_t& sample : row)
            sample = static_cast<std::uint8_t>(sample % (seed % 5 + 1));
        rows.emplace_back("random " + std::to_string(seed), row);
    }

    const int channels = 3;
    for (RunLengthCodes codes : kBothCodes) {
        for (const auto& [label, row] : rows) {
            const std::size_t count = row.size();
            Bytes interleaved = random_bytes(count * channels, static_cast<unsigned>(count));
            for (std::size_t i = 0; i < count; ++i) interleaved[i * channels + 1] = row[i];
            Bytes encoded(run_length_max_size(count) + 16, 0xAA);
            const std::size_t size =
                run_length_encode(codes, interleaved.data() + 1, channels, count, encoded.data());
            ASSERT_LE(size, run_length_max_size(count)) << name_of(codes) << ", " << label;
            EXPECT_EQ(encoded[size], 0xAA) << name_of(codes) << ", " << label;

            Bytes decoded(count * channels, 0x55);
            ASSERT_EQ(
                run_length_decode(codes, encoded.data(), size, decoded.data() + 1, channels, count),
                size)
                << name_of(codes) << ", " << label;
            for (std::size_t i = 0; i < count; ++i) {
                ASSERT_EQ(decoded[i * channels + 1], row[i]) << name_of(codes) << ", " << label;
                ASSERT_EQ(decoded[i * channels], 0x55) << name_of(codes) << ", " << label;
                ASSERT_EQ(decoded[i * channels + 2], 0x55) << name_of(codes) << ", " << label;
            }
        }
    }
}

TEST(RunLength, DecoderRejectsDamagedData) {
    Bytes out(8);
    const RunLengthCodes pack = RunLengthCodes::kPackBits, rla = RunLengthCodes::kRla;
    const Bytes reserved = {0x80, 0x00, 0x00};
    EXPECT_EQ(run_length_decode(pack, reserved.data(), reserved.size(), out.data(), 1, 2), 0u);

    struct Case {
        RunLengthCodes codes;
        Bytes data;
        std::size_t count;
        const char* what;
    };
    const Case cases[] = {
        {pack, {0xFD, 0x07}, 2, "a run of 4 into a row of 2"},
        {rla, {0x03, 0x07}, 2, "a run of 4 into a row of 2"},
        {pack, {0x03, 1, 2}, 4, "a literal of 4 with 2 samples given"},
        {rla, {0xFC, 1, 2}, 4, "a literal of 4 with 2 samples given"},
        {pack, {0xFF}, 2, "a run without its value"},
        {rla, {0x01}, 2, "a run without its value"},
        {pack, {0x00, 1}, 2, "too few blocks for the row"},
        {rla, {0xFF, 1}, 2, "too few blocks for the row"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(run_length_decode(c.codes, c.data.data(), c.data.size(), out.data(), 1, c.count),
                  0u)
            << name_of(c.codes) << ": " << c.what;
    for (RunLengthCodes codes : kBothCodes)
        EXPECT_EQ(run_length_decode(codes, nullptr, 0, out.data(), 1, 1), 0u) << name_of(codes);
}

}  // namespace
}  // namespace sky
