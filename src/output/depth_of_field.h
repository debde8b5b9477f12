// Depth of field on a finished image: every pixel away from the focal
// distance is spread over a disc of confusion whose radius grows with its
// distance from the focal plane, and blended with the colour the discs of
// its neighbours leave on it. Pixels at the focal distance keep their bytes.
#pragma once

#include <cstdint>

namespace sky {

struct CameraRecord;

// An image in memory as the image file library delivers it: rows from the
// top, 4 bytes a pixel, or 8 (four low bytes, then four high bytes) when
// `sixteen`.
struct ImageBytes {
    std::int32_t width = 0, height = 0;
    bool sixteen = false;
    std::uint8_t* pixels = nullptr;
};

// Pixels of blur per unit of relative distance from the focal plane, for an
// image `width` pixels wide: a pixel at eye distance z is spread over a disc
// of radius |z - focal distance| * k / z.
double blur_scale(const CameraRecord& camera, std::int32_t width);

// Blurs `image` by `depth` (eye distances, one a pixel, rows from the top),
// which afterwards holds each pixel's blend weight instead. False, with the
// message printed, when the buffers cannot be allocated; the image is then
// unchanged.
bool apply_depth_of_field(ImageBytes& image, float* depth, double focal_distance, double k);

}  // namespace sky
