// The image file library: every image the renderer reads or writes passes
// through these calls.
//
// Pixel buffers hold 4 bytes per pixel, red, green, blue, alpha, rows one after
// the other, top row first. Writing takes the bytes a file needs from that
// layout: a 3-channel file the first three, a 1-channel file (a matte) the
// fourth. Reading delivers the same layout: a 3-channel image gets alpha 255,
// a 1-channel image delivers its value in the fourth byte (the first three are
// 0; callers copy it where they need it).
//
// 16-bit data: with 16-bit transfer on (FBtiff16_set), each pixel takes 8
// bytes, the four low bytes (red, green, blue, alpha) then the four high
// bytes; the 16-bit sample is high * 256 + low. Files opened for writing with
// format 5 start with it on; files opened for reading start with it off, and
// then deliver the high bytes of 16-bit samples.
//
// Format codes: 1 the native ".qrl" format (ours, docs/qrl-format.md), 2 SGI,
// 4 TIFF, 5 16-bit TIFF, 9 RLA. Reading takes -1: the format is recognised
// from the file's content.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace sky {

enum FBMode : int {
    FB_READ_IMAGE = 1,   // FBread fills the whole image
    FB_WRITE_IMAGE = 2,  // FBwrite takes the whole image
    FB_READ_ROWS = 5,    // FBread fills the next row
    FB_WRITE_ROWS = 6,   // FBwrite / FBwrite_and_flush take the next row
};

enum FBFormat : int {
    FB_FORMAT_ANY = -1,
    FB_FORMAT_QRL = 1,
    FB_FORMAT_SGI = 2,
    FB_FORMAT_TIFF = 4,
    FB_FORMAT_TIFF16 = 5,
    FB_FORMAT_RLA = 9,
};

struct FBBackend;

// The handle's first fields are fixed: callers print `name` and read the size
// of an image opened for reading from `width`, `height` and `channels`.
struct FBhandle {
    const char* name;
    std::uint16_t width;
    std::uint16_t height;
    std::uint16_t channels;

    // Private to the library.
    int mode;
    int format;
    bool sixteen_bit;
    int next_row;   // rows transferred so far, top first
    int file_bits;  // bits per sample in the file: 8, or 16 for deeper data
    std::string name_storage;
    std::unique_ptr<FBBackend> backend;
};

// Opens `name`. Reading (modes 1, 5) passes format -1 and ignores width,
// height and channels. Writing (modes 2, 6) needs a format code above,
// 1 <= width, height <= 65535 and 1, 3 or 4 channels. Returns null on failure,
// with the reason in FBgetError(). The last three arguments are kept for
// callers' sake and ignored.
FBhandle* FBopen(const char* name, int mode, int format, int width, int height, int channels,
                 int reserved1, int reserved2, double reserved3);

// Mode 1: fills `buffer` with the whole image and returns width * height.
// Mode 5: fills it with the next row and returns the pixels read (width), or
// 0 past the last row or on a failure (FBgetError tells which).
int FBread(FBhandle* handle, std::uint8_t* buffer);

// Mode 2: writes the whole image; mode 6: the next row. Non-zero on success.
int FBwrite(FBhandle* handle, const std::uint8_t* buffer);

// Writes the next row (mode 6) and pushes it to the file. Non-zero on success.
int FBwrite_and_flush(FBhandle* handle, const std::uint8_t* row);

// Completes and closes the file and frees the handle; null is ignored.
// Non-zero on success. A written file that misses rows is reported as a
// failure rather than closed as if complete.
int FBclose(FBhandle* handle);

// Text of the last failure of this thread.
const char* FBgetError();

// 16-bit transfer on (1) or off (0) for the following reads or writes.
void FBtiff16_set(FBhandle* handle, int on);

// Converts an image of any readable format into a ".qrl" file. Non-zero on success.
int convertImageFile(const char* input, const char* output);

// Gamma applied when the renderer produces output bytes; written at start-up.
extern float Rr_gamma_value;
extern bool Rr_gamma_correction_on;

}  // namespace sky
