// OpenImageIO behind the image file library, built as a module of its own
// (libskyloom_oiio.so) that the renderer loads on first use: OpenImageIO
// brings in some 250 shared libraries whose start-up alone costs longer than
// parsing most scenes, and many runs never touch a file it is needed for.
//
// OpenImageIO keeps a per-thread global error text besides each reader's and
// writer's own; both are drained on every failure so that the text we report
// belongs to this failure and stale text never leaks into a later one.
#include "platform/image/oiio_api.h"
#include "platform/image/oiio_backend.h"
#include "platform/partial_names.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <mutex>
#include <vector>

#include <OpenImageIO/imageio.h>

namespace sky {
namespace {

// The renderer runs its own workers; OpenImageIO's pool would only compete
// with them for the same cores while decoding a single file.
void configure_once() {
    static std::once_flag once;
    std::call_once(once, [] { OIIO::attribute("threads", 1); });
}

void drain_global_error() {
    (void)OIIO::geterror();
}

// Joins an object's error text with the global one; either may be empty.
std::string collect_error(const std::string& object_error) {
    std::string global = OIIO::geterror();
    std::string text = object_error;
    if (!global.empty() && global != text) text += text.empty() ? global : "; " + global;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    for (char& c : text)
        if (c == '\n') c = ' ';
    return text.empty() ? "unknown OpenImageIO failure" : text;
}

// OpenImageIO (2.4) gives up on some files whose name does not tell their
// format (an SGI file called "frame.001") when given configuration hints,
// though it recognises them without hints. Such files are recognised first
// and then opened with the hints by the reader of their format.
std::unique_ptr<OIIO::ImageInput> open_with_config(const std::string& name,
                                                   const OIIO::ImageSpec& config,
                                                   std::string* failure) {
    auto input = OIIO::ImageInput::open(name, &config);
    if (input) return input;
    *failure = collect_error("");  // the first text tells most
    auto probe = OIIO::ImageInput::open(name);
    if (!probe) {
        (void)OIIO::geterror();
        return nullptr;
    }
    std::string format = probe->format_name();
    probe.reset();
    input = OIIO::ImageInput::create(format);
    OIIO::ImageSpec spec;
    if (input && input->open(name, spec, config)) return input;
    *failure = collect_error(input ? input->geterror() : "");
    return nullptr;
}

void set_error(std::string* error, const std::string& name, const std::string& what) {
    if (error != nullptr) *error = name + ": " + what;
}

bool in_range(int size) {
    return size >= 1 && size <= 65535;
}

// Pixels a byte of a file may stand for. The most a real file packs is a
// bilevel image compressed to the limit of deflate, about 8,300 pixels a
// byte; a header claiming many more lies, and decoding it would cost
// memory and time out of all proportion to the file.
constexpr std::uint64_t kMaxPixelsPerByte = 16384;

// Samples OpenImageIO may hold for one image: some of its readers decode the
// whole image at once into memory we cannot account for.
constexpr std::uint64_t kMaxImageBytes = std::uint64_t{1} << 30;

// Whether `input`, just opened, may be decoded: checked before any pixel is
// read. Our own readers decode RLA, OpenImageIO's loops for ever on some files.
bool decoding_bounded(const std::string& name, const OIIO::ImageInput& input, std::string* why) {
    const OIIO::ImageSpec& spec = input.spec();
    if (std::strcmp(input.format_name(), "rla") == 0) {
        *why = "RLA file not in a form skyloom reads";
        return false;
    }
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(spec.width) * static_cast<std::uint64_t>(spec.height);
    std::error_code failed;
    const std::uint64_t size = std::filesystem::file_size(name, failed);
    if (failed || pixels > size * kMaxPixelsPerByte) {
        *why = "image size " + std::to_string(spec.width) + "x" + std::to_string(spec.height) +
               " is more than a file of " + std::to_string(failed ? 0 : size) + " bytes can hold";
        return false;
    }
    const std::uint64_t bytes = pixels * spec.pixel_bytes(true);
    if (bytes > kMaxImageBytes) {
        *why = "image of " + std::to_string(spec.width) + "x" + std::to_string(spec.height) +
               " pixels and " + std::to_string(spec.nchannels) +
               " channels too large to decode (more than 1 GB of samples)";
        return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------- reader

struct OiioReader::Impl {
    std::string name;
    std::unique_ptr<OIIO::ImageInput> input;
    OIIO::ImageSpec spec;
    int channels = 0;
    int bits = 8;
    std::string format_name;
    std::vector<std::uint8_t> line;  // a row of all the file's channels, when it has more than 4
};

OiioReader::OiioReader(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
OiioReader::~OiioReader() {
    if (impl_ && impl_->input) {
        try {
            impl_->input->close();
            (void)impl_->input->geterror();
        } catch (...) {
        }
    }
}

std::unique_ptr<OiioReader> OiioReader::open(const std::string& name, std::string* error) {
    configure_once();
    try {
        drain_global_error();
        // Deliver stored values as they are: without this hint OpenImageIO
        // premultiplies files that declare unassociated alpha (PNG, some TIFFs).
        OIIO::ImageSpec config;
        config.attribute("oiio:UnassociatedAlpha", 1);
        auto impl = std::make_unique<Impl>();
        impl->name = name;
        std::string failure;
        impl->input = open_with_config(name, config, &failure);
        if (!impl->input) {
            set_error(error, name, failure);
            return nullptr;
        }
        const OIIO::ImageSpec& spec = impl->input->spec();
        impl->spec = spec;
        if (spec.deep) {
            set_error(error, name, "deep images are not supported");
            return nullptr;
        }
        if (spec.depth > 1) {
            set_error(error, name, "volume images are not supported");
            return nullptr;
        }
        if (!in_range(spec.width) || !in_range(spec.height)) {
            set_error(error, name,
                      "image size " + std::to_string(spec.width) + "x" +
                          std::to_string(spec.height) + " out of range (1..65535)");
            return nullptr;
        }
        if (spec.nchannels < 1) {
            set_error(error, name, "image has no channels");
            return nullptr;
        }
        if (std::string why; !decoding_bounded(name, *impl->input, &why)) {
            set_error(error, name, why);
            return nullptr;
        }
        impl->channels = std::min(spec.nchannels, 4);
        bool all_8bit = spec.format == OIIO::TypeDesc::UINT8;
        for (const OIIO::TypeDesc& type : spec.channelformats)
            all_8bit = all_8bit && type == OIIO::TypeDesc::UINT8;
        impl->bits = all_8bit ? 8 : 16;
        impl->format_name = impl->input->format_name();
        if (spec.nchannels > impl->channels)
            impl->line.resize(static_cast<std::size_t>(spec.width) * spec.nchannels *
                              (impl->bits / 8));
        return std::unique_ptr<OiioReader>(new OiioReader(std::move(impl)));
    } catch (const std::exception& e) {
        set_error(error, name, std::string("OpenImageIO failed: ") + e.what());
    } catch (...) {
        set_error(error, name, "OpenImageIO failed");
    }
    return nullptr;
}

int OiioReader::width() const {
    return impl_->spec.width;
}
int OiioReader::height() const {
    return impl_->spec.height;
}
int OiioReader::channels() const {
    return impl_->channels;
}
int OiioReader::bits() const {
    return impl_->bits;
}
const char* OiioReader::format_name() const {
    return impl_->format_name.c_str();
}

bool OiioReader::read_row(int y, void* samples, std::string* error) {
    Impl& s = *impl_;
    try {
        // OpenImageIO numbers scanlines from the top of the data window for
        // every format, SGI and RLA included (they store bottom-up on disk).
        // read_scanline rather than read_scanlines with a channel range: the
        // latter costs a large temporary per call inside OpenImageIO.
        OIIO::TypeDesc type = s.bits == 8 ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::UINT16;
        bool all_channels = s.channels == s.spec.nchannels;
        void* target = all_channels ? samples : s.line.data();
        if (s.input->read_scanline(s.spec.y + y, s.spec.z, type, target)) {
            if (!all_channels) {
                std::size_t sample = type.size();
                std::size_t keep = sample * s.channels, stride = sample * s.spec.nchannels;
                auto* out = static_cast<std::uint8_t*>(samples);
                for (int x = 0; x < s.spec.width; ++x)
                    std::memcpy(out + x * keep, s.line.data() + x * stride, keep);
            }
            return true;
        }
        set_error(
            error, s.name,
            "cannot read row " + std::to_string(y + 1) + ": " + collect_error(s.input->geterror()));
    } catch (const std::exception& e) {
        set_error(error, s.name, std::string("OpenImageIO failed: ") + e.what());
    } catch (...) {
        set_error(error, s.name, "OpenImageIO failed");
    }
    return false;
}

// ---------------------------------------------------------------- writer

struct OiioWriter::Impl {
    std::string name;
    std::unique_ptr<OIIO::ImageOutput> output;
    int width = 0;
    int height = 0;
    int channels = 0;
    int bits = 8;
    int rows = 0;
    bool open = false;
};

OiioWriter::OiioWriter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
OiioWriter::~OiioWriter() {
    if (impl_ && impl_->output && impl_->open) {
        try {
            impl_->output->close();
            (void)impl_->output->geterror();
        } catch (...) {
        }
    }
}

namespace {

std::unique_ptr<OIIO::ImageOutput> create_output(const std::string& format_or_name,
                                                 const std::string& name, std::string* error) {
    drain_global_error();
    std::unique_ptr<OIIO::ImageOutput> output = OIIO::ImageOutput::create(format_or_name);
    if (!output) set_error(error, name, collect_error(""));
    return output;
}

std::unique_ptr<OiioWriter::Impl> open_output(std::unique_ptr<OIIO::ImageOutput> output,
                                              const std::string& name, int width, int height,
                                              int channels, int bits, bool keep_stored_alpha,
                                              std::string* error) {
    OIIO::TypeDesc type = bits == 16 ? OIIO::TypeDesc::UINT16 : OIIO::TypeDesc::UINT8;
    OIIO::ImageSpec spec(width, height, channels, type);
    if (channels == 4) spec.alpha_channel = 3;
    if (keep_stored_alpha) spec.attribute("oiio:UnassociatedAlpha", 1);
    // OpenImageIO's SGI writer fills the header's 80-byte image name with
    // whatever its memory held unless given a description: name the image,
    // by its final name when it is written under a hidden one.
    if (std::string(output->format_name()) == "sgi") {
        const std::string final_name = final_name_of(name);
        std::string base = final_name.substr(final_name.find_last_of('/') + 1);
        spec.attribute("ImageDescription", base.empty() ? "image" : base.substr(0, 79));
    }
    if (!output->open(name, spec)) {
        set_error(error, name, "cannot create file: " + collect_error(output->geterror()));
        return nullptr;
    }
    auto impl = std::make_unique<OiioWriter::Impl>();
    impl->name = name;
    impl->output = std::move(output);
    impl->width = width;
    impl->height = height;
    impl->channels = channels;
    impl->bits = bits;
    impl->open = true;
    return impl;
}

}  // namespace

std::unique_ptr<OiioWriter> OiioWriter::create(const std::string& name, const std::string& format,
                                               int width, int height, int channels, int bits,
                                               std::string* error) {
    configure_once();
    try {
        auto output = create_output(format, name, error);
        if (!output) return nullptr;
        auto impl =
            open_output(std::move(output), name, width, height, channels, bits, false, error);
        if (impl) return std::unique_ptr<OiioWriter>(new OiioWriter(std::move(impl)));
    } catch (const std::exception& e) {
        set_error(error, name, std::string("OpenImageIO failed: ") + e.what());
    } catch (...) {
        set_error(error, name, "OpenImageIO failed");
    }
    return nullptr;
}

std::unique_ptr<OiioWriter> OiioWriter::create_by_extension(const std::string& name, int width,
                                                            int height, int channels, int bits,
                                                            std::string* error) {
    configure_once();
    try {
        auto output = create_output(name, name, error);
        if (!output) return nullptr;
        if (channels == 4 && !output->supports("alpha")) channels = 3;
        // TIFF and OpenEXR label alpha as premultiplied and store pixels as
        // given; other writers (PNG above all) would divide by alpha unless
        // told the values are already unassociated.
        std::string format = output->format_name();
        bool keep_stored_alpha = format != "tiff" && format != "openexr";
        auto impl = open_output(std::move(output), name, width, height, channels, bits,
                                keep_stored_alpha, error);
        if (impl) return std::unique_ptr<OiioWriter>(new OiioWriter(std::move(impl)));
    } catch (const std::exception& e) {
        set_error(error, name, std::string("OpenImageIO failed: ") + e.what());
    } catch (...) {
        set_error(error, name, "OpenImageIO failed");
    }
    return nullptr;
}

int OiioWriter::channels() const {
    return impl_->channels;
}
int OiioWriter::bits() const {
    return impl_->bits;
}

bool OiioWriter::write_row(const void* samples, std::string* error) {
    Impl& s = *impl_;
    if (!s.open) {
        set_error(error, s.name, "file already closed");
        return false;
    }
    if (s.rows >= s.height) {
        set_error(error, s.name, "more rows written than the image height");
        return false;
    }
    try {
        OIIO::TypeDesc type = s.bits == 16 ? OIIO::TypeDesc::UINT16 : OIIO::TypeDesc::UINT8;
        if (s.output->write_scanline(s.rows, 0, type, samples)) {
            ++s.rows;
            return true;
        }
        set_error(error, s.name,
                  "cannot write row " + std::to_string(s.rows + 1) + ": " +
                      collect_error(s.output->geterror()));
    } catch (const std::exception& e) {
        set_error(error, s.name, std::string("OpenImageIO failed: ") + e.what());
    } catch (...) {
        set_error(error, s.name, "OpenImageIO failed");
    }
    return false;
}

bool OiioWriter::close(std::string* error) {
    Impl& s = *impl_;
    if (!s.open) {
        set_error(error, s.name, "file already closed");
        return false;
    }
    s.open = false;
    bool ok = true;
    try {
        // Missing rows are written black: some writers (PNG) otherwise print
        // their own complaints on stderr, and the file stays readable. The
        // caller is told the file is incomplete all the same.
        if (s.rows < s.height) {
            OIIO::TypeDesc type = s.bits == 16 ? OIIO::TypeDesc::UINT16 : OIIO::TypeDesc::UINT8;
            std::vector<std::uint8_t> black(static_cast<std::size_t>(s.width) * s.channels *
                                            type.size());
            for (int y = s.rows; y < s.height; ++y)
                if (!s.output->write_scanline(y, 0, type, black.data())) break;
            (void)s.output->geterror();
        }
        if (!s.output->close()) {
            set_error(error, s.name, "cannot finish file: " + collect_error(s.output->geterror()));
            ok = false;
        }
    } catch (const std::exception& e) {
        set_error(error, s.name, std::string("OpenImageIO failed: ") + e.what());
        ok = false;
    } catch (...) {
        set_error(error, s.name, "OpenImageIO failed");
        ok = false;
    }
    if (ok && s.rows < s.height) {
        set_error(error, s.name,
                  "file incomplete: " + std::to_string(s.rows) + " of " + std::to_string(s.height) +
                      " rows written");
        ok = false;
    }
    return ok;
}

// ---------------------------------------------------------------- entry points

namespace {

using Reader = OiioReader;
using Writer = OiioWriter;

void* open_reader(const std::string& name, std::string* error) {
    return Reader::open(name, error).release();
}
void destroy_reader(void* reader) {
    delete static_cast<Reader*>(reader);
}
void reader_info(const void* reader, oiio_api::ReaderInfo* info) {
    auto* r = static_cast<const Reader*>(reader);
    *info = {r->width(), r->height(), r->channels(), r->bits(), r->format_name()};
}
bool read_row(void* reader, int y, void* samples, std::string* error) {
    return static_cast<Reader*>(reader)->read_row(y, samples, error);
}
void* create_writer(const std::string& name, const std::string& format, int width, int height,
                    int channels, int bits, std::string* error) {
    return Writer::create(name, format, width, height, channels, bits, error).release();
}
void* create_writer_by_extension(const std::string& name, int width, int height, int channels,
                                 int bits, std::string* error) {
    return Writer::create_by_extension(name, width, height, channels, bits, error).release();
}
void writer_info(const void* writer, int* channels, int* bits) {
    auto* w = static_cast<const Writer*>(writer);
    *channels = w->channels();
    *bits = w->bits();
}
bool write_row(void* writer, const void* samples, std::string* error) {
    return static_cast<Writer*>(writer)->write_row(samples, error);
}
bool close_writer(void* writer, std::string* error) {
    return static_cast<Writer*>(writer)->close(error);
}
void destroy_writer(void* writer) {
    delete static_cast<Writer*>(writer);
}

constexpr oiio_api::Table kTable = {
    oiio_api::kVersion,
    open_reader,
    destroy_reader,
    reader_info,
    read_row,
    create_writer,
    create_writer_by_extension,
    writer_info,
    write_row,
    close_writer,
    destroy_writer,
};

}  // namespace
}  // namespace sky

extern "C" __attribute__((visibility("default"))) const sky::oiio_api::Table* skyloom_oiio_table() {
    return &sky::kTable;
}
