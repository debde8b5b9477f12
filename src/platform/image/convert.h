// Image conversion for the command-line tool (skyloom-convert): any image the
// library can read, into the format its output name's extension names.
#pragma once

namespace sky {

// Converts `input` (any format FBopen reads, .qrl included) into `output`,
// whose extension chooses the format: ".qrl" gives our own format, any other
// goes to OpenImageIO ("png", "tif", "jpg", "exr", ...). 16-bit inputs stay
// 16-bit where the output format allows. On failure returns false with the
// reason in FBgetError() and leaves no partial output file behind.
bool convert_image(const char* input, const char* output);

}  // namespace sky
