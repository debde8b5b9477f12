// The images of file textures, read once and shared.
//
// Each file is read through the image file library into an image pyramid the
// first time a texture asks for it; later asks (other textures, later frames)
// get the same pyramid. Pyramids no texture holds any more stay for reuse
// while they fit in the cache's limit (`texture_cache_size` megabytes);
// beyond it the least recently used go, at the start of a frame.
//
// A pyramid's finest level holds at most 8192 x 8192 pixels (a pyramid 341
// MB at most, counted in the tracked memory): a larger image is halved while
// it is read until it fits, with a warning naming its file.
//
// Loading happens on the main thread while textures are initialised; the
// pyramids are never changed afterwards, so workers read them freely.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "texture/image_pyramid.h"

namespace sky {

// The pyramid of the named file, or null when it cannot be read (reported
// once per file: a missing file is a warning, a damaged one an error).
// `keep` false lets the pyramid go as soon as no texture holds it.
std::shared_ptr<const ImagePyramid> texture_image(const std::string& name, bool keep = true);

// Drops pyramids that no texture holds, oldest first, until the rest fit in
// the limit. Called by the frame loop at each new frame.
void texture_cache_new_frame();

// For tests and tools: the limit in bytes, the bytes held, and a way to
// start over (which also restores the pixel limit).
void set_texture_cache_limit(std::size_t bytes);
// The pixels of a pyramid's finest level (0: the usual 8192 x 8192).
void set_texture_pixel_limit(std::uint64_t pixels);
std::size_t texture_cache_bytes();
void clear_texture_cache();

}  // namespace sky
