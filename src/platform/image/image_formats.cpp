// The image file library's format tables: one row per format code that can
// be written, one per kind of file that can be read.
#include "platform/image/fb.h"
#include "platform/image/image_io.h"
#include "platform/image/oiio_formats.h"
#include "platform/image/qrl.h"
#include "platform/image/rla_reader.h"
#include "platform/image/rla_writer.h"
#include "platform/image/sgi.h"
#include "platform/image/tiff_writer.h"

namespace sky {
namespace {

// Writers are chosen by code, never by the file's name.
constexpr WriterFormat kWriters[] = {
    {FB_FORMAT_QRL, "qrl", 8, open_qrl_writer},        // ours, docs/qrl-format.md
    {FB_FORMAT_SGI, "sgi", 8, open_sgi_writer},        // ours, see sgi.h
    {FB_FORMAT_TIFF, "tiff", 8, open_tiff_writer},     // ours, see tiff_writer.h
    {FB_FORMAT_TIFF16, "tiff", 16, open_tiff_writer},  // ours, 16 bits per sample
    {FB_FORMAT_RLA, "rla", 8, open_rla_writer},        // ours, see rla_writer.h
};

// The content decides, never the name: output names such as "image.001"
// carry no extension. The formats we write are read by our own readers,
// recognised by their magic bytes or, for RLA, which has none, by a header
// that holds together; everything else is offered to OpenImageIO.
constexpr ReaderFormat kReaders[] = {
    {"qrl", qrl_has_magic, open_qrl_reader},
    {"sgi", sgi_has_magic, open_sgi_reader},
    {"rla", rla_has_header, open_rla_reader},
    {"OpenImageIO", nullptr, open_oiio_reader},
};

static_assert(kQrlMagicSize <= kFormatHeadSize && kRlaHeaderSize <= kFormatHeadSize);

}  // namespace

std::span<const WriterFormat> writer_formats() {
    return kWriters;
}

std::span<const ReaderFormat> reader_formats() {
    return kReaders;
}

}  // namespace sky
