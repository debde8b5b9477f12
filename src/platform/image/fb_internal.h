// Internals shared by the image file library's own files (fb.cpp and
// convert.cpp); nothing outside src/platform/image includes this.
#pragma once

#include "platform/image/fb.h"

namespace sky {

// Sets this thread's FBgetError text.
void fb_set_error(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Opens a row writer (mode 6) whose format follows the extension of `name`,
// the way OpenImageIO names formats ("png", "exr", "jpg", ...). With bits 16
// the file gets 16-bit samples and the handle starts with 16-bit transfer on.
// A four-channel image goes to a format without alpha as three channels.
FBhandle* fb_open_by_extension(const char* name, int width, int height, int channels, int bits);

// True when both names are the same existing file (writing one would destroy
// the other while it is being read).
bool fb_same_file(const char* a, const char* b);

}  // namespace sky
