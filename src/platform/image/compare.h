// Image comparison for the reference tests and their tool (skyloom-compare):
// a rendered image against a stored reference, within a tolerance per pixel
// and in the mean, and a picture of where they differ.
//
// Both images are read through the image file library in any format it
// reads, so a rendered `.qrl` is compared with a reference stored as PNG
// directly. Only the channels the files carry are compared: red, green and
// blue of a three-channel image, the one value of a matte, all four of an
// image with alpha. Values are 8-bit, 0..255.
#pragma once

#include <string>

namespace sky {

struct ImageTolerance {
    int pixel = 2;       // largest difference allowed in any channel of any pixel
    double mean = 0.05;  // largest mean absolute difference over all compared values
};

struct ImageDifference {
    // Width, height and channels of each; images of different shapes are
    // not compared any further.
    int width = 0, height = 0, channels = 0;
    int reference_width = 0, reference_height = 0, reference_channels = 0;
    bool same_shape = false;

    int largest = 0;                   // largest difference of one channel of one pixel
    int largest_x = 0, largest_y = 0;  // where: column, and row from the top
    int largest_channel = 0;           // 0 red, 1 green, 2 blue, 3 alpha (a matte's value)
    long long pixels_beyond = 0;       // pixels with a channel beyond the tolerance
    double mean = 0.0;                 // mean absolute difference per compared value

    bool within(const ImageTolerance& tolerance) const {
        return same_shape && largest <= tolerance.pixel && mean <= tolerance.mean;
    }
};

// Compares `image` with `reference`. False when either cannot be read, with
// the reason in FBgetError(). When `difference_image` is not empty and the
// shapes agree, writes there (format by its extension, as skyloom-convert
// does) a picture of the differences: the reference dimmed to a quarter where
// the images agree, yellow of growing brightness where they differ within the
// tolerance, red where a channel differs beyond it.
bool compare_images(const std::string& reference, const std::string& image,
                    const ImageTolerance& tolerance, ImageDifference& difference,
                    const std::string& difference_image = {});

// The name of a channel as ImageDifference numbers them, for messages.
const char* channel_name(int channel, int channels);

}  // namespace sky
