// Images delivered with the scene (the images of binary scene data): a file
// texture that names one reads it from memory instead of from a file of the
// same name. The image file library asks here before it opens a file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sky {

class ImageReader;

// 8-bit samples, rows from the top, 1 to 4 channels interleaved. A later
// image of the same name replaces the earlier one.
void register_memory_image(const std::string& name, int width, int height, int channels,
                           std::vector<std::uint8_t> samples);
void clear_memory_images();
bool has_memory_image(const std::string& name);

// A reader of the image registered under `name`, or null.
std::unique_ptr<ImageReader> open_memory_image(const char* name);

}  // namespace sky
