// Images as OpenImageIO reads them, for tests that check our readers
// against an independent one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>

namespace sky::test {

// The pixels (8 bytes each, 16-bit transfer) the library should deliver for
// `name`, from what OpenImageIO reads there: the first four channels, one in
// the fourth place, two as grey and alpha.
inline std::vector<std::uint8_t> as_openimageio_reads(const std::string& name) {
    auto in = OIIO::ImageInput::open(name);
    if (!in) return {};
    const OIIO::ImageSpec& spec = in->spec();
    const int channels = spec.nchannels;
    std::vector<std::uint16_t> samples(spec.image_pixels() * channels);
    if (!in->read_image(0, 0, 0, channels, OIIO::TypeDesc::UINT16, samples.data())) return {};
    const std::size_t pixels = samples.size() / channels;
    std::vector<std::uint8_t> out(pixels * 8);
    for (std::size_t i = 0; i < pixels; ++i) {
        unsigned v[4] = {0, 0, 0, 0xFFFF};
        for (int c = 0; c < 4 && c < channels; ++c) v[c] = samples[i * channels + c];
        if (channels == 1) v[3] = v[0], v[0] = v[1] = v[2] = 0;
        if (channels == 2) v[3] = v[1], v[1] = v[2] = v[0];
        for (int c = 0; c < 4; ++c) {
            out[i * 8 + c] = static_cast<std::uint8_t>(v[c] & 0xFF);
            out[i * 8 + 4 + c] = static_cast<std::uint8_t>(v[c] >> 8);
        }
    }
    return out;
}

}  // namespace sky::test
