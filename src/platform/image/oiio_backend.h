// OpenImageIO behind the image file library: the formats that are not our own
// (TIFF, PNG, JPEG and OpenEXR for reading, recognised by their signatures;
// files named by extension for the conversion tool's writing). Every format
// the renderer writes is written by our own code (qrl.h, sgi.h, tiff_writer.h,
// rla_writer.h), so a render writing its frames never waits for OpenImageIO
// to load, and qrl, SGI and RLA files are read by our own readers too.
//
// Only this module's .cpp sees OpenImageIO's headers, so the rest of the
// renderer compiles without them and never sees an OpenImageIO exception:
// every call catches and turns failures into an error text.
//
// Rows are numbered from the top (row 0 is the top of the image) whatever the
// file stores, and samples are interleaved, 8 or 16 bits (native-endian
// uint16) each.
#pragma once

#include <memory>
#include <string>

#include "platform/image/oiio_api.h"

// The module and the renderer each have their own classes of these names:
// the module's do the work, the renderer's forward to the loaded module.
#ifdef SKY_OIIO_MODULE
#define SKY_OIIO_SIDE module
#else
#define SKY_OIIO_SIDE renderer
#endif

namespace sky {
inline namespace SKY_OIIO_SIDE {

class OiioReader {
public:
    ~OiioReader();

    // Opens a file of a format OpenImageIO is given, recognised by its
    // signature (or, failing that, its name's extension); other files are
    // refused before any of OpenImageIO's readers sees them, and so are
    // headers that declare more than their file can hold. Null on failure,
    // with the reason.
    static std::unique_ptr<OiioReader> open(const std::string& name, std::string* error);

    int width() const;
    int height() const;
    int channels() const;             // channels read: the file's first 1 to 4
    int bits() const;                 // 8 for 8-bit files, else 16 (wider data is converted)
    const char* format_name() const;  // OpenImageIO's name: "tiff", "png", ...

    // Reads row `y` (0 = top) as width * channels() samples of bits() bits.
    bool read_row(int y, void* samples, std::string* error);
    // Reads row `y` as width * channels() 32-bit floats, values beyond 0..1
    // kept (high-dynamic-range files).
    bool read_row_float(int y, float* samples, std::string* error);

private:
    bool read_row_as(int y, void* samples, int size, std::string* error);
    struct Impl;
    explicit OiioReader(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

class OiioWriter {
public:
    ~OiioWriter();

    // Creates `name` with the writer of the format its extension names (the
    // conversion tool's output); bits is 8 or 16. Formats without alpha get the first three of
    // four channels; pixels are stored as given (no premultiplication or its
    // inverse), so an 8-bit value comes back as it went in.
    static std::unique_ptr<OiioWriter> create_by_extension(const std::string& name, int width,
                                                           int height, int channels, int bits,
                                                           std::string* error);

    int channels() const;  // channels the file receives per pixel
    int bits() const;

    // Writes the next row (rows go top first): width * channels() samples.
    bool write_row(const void* samples, std::string* error);

    // Finishes the file. Fails when rows are missing or OpenImageIO fails.
    bool close(std::string* error);

    struct Impl;  // opaque: holds OpenImageIO's objects

private:
    explicit OiioWriter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace SKY_OIIO_SIDE

#ifndef SKY_OIIO_MODULE
// Writes a whole OpenEXR image of float channels (the conversion tool's
// compositing output); false with the reason naming the file.
bool write_exr_image(const std::string& name, const oiio_api::ExrImage& image, std::string* error);

// Loads the module on a thread of its own, so that a render reading a large
// scene finds it loaded when it opens its first image instead of waiting
// for OpenImageIO and the libraries it pulls in. A failure is kept and
// reported by the first use, as without the head start.
void start_loading_oiio_module();
// What the scene read so far will open through the module (a file texture,
// a backdrop): only then is the head start worth its cost, since loading
// competes with the render for the processors and memory.
void want_oiio_module();
bool oiio_module_wanted();
#endif
}  // namespace sky
