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
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <limits>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include <OpenImageIO/filesystem.h>
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

// The formats OpenImageIO reads for us, each recognised by its signature
// before any of OpenImageIO's readers sees the file: the common ones of
// textures and plates that we do not read ourselves. Left to itself,
// OpenImageIO offers a file it cannot place to every reader it has, its RLA
// reader among them, which crashes on some files while merely looking at
// them; its readers of DPX and other formats allocate whatever a damaged
// header declares, and those of video, camera raw, medical and volume files
// have no place in a renderer's texture path. The formats we read ourselves
// (qrl, SGI, RLA) never get here.
struct Signature {
    const char* format;
    std::string_view bytes;
};
constexpr Signature kSignatures[] = {
    {"tiff", {"II*\0", 4}},   {"tiff", {"MM\0*", 4}},
    {"tiff", {"II+\0", 4}},  // BigTIFF
    {"tiff", {"MM\0+", 4}},   {"png", "\x89PNG\r\n\x1a\n"},
    {"jpeg", "\xFF\xD8\xFF"}, {"openexr", "\x76\x2F\x31\x01"},
    {"hdr", "#?RADIANCE"},    {"hdr", "#?RGBE"},  // light probes
};
// A file whose first bytes are none of these, named as one of them, is
// given to that format's reader, whose complaint says most.
struct Extension {
    const char* format;
    std::string_view extension;
};
constexpr Extension kExtensions[] = {
    {"tiff", "tif"},  {"tiff", "tiff"},   {"png", "png"}, {"jpeg", "jpg"},
    {"jpeg", "jpeg"}, {"openexr", "exr"}, {"hdr", "hdr"},
};

std::string lower_extension(const std::string& name) {
    const std::size_t slash = name.find_last_of('/'), dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string extension = name.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

// The format of `name` from its first bytes, else from its extension; empty
// with the reason in `why` when it is none we read.
std::string identify(const std::string& name, std::FILE* file, std::string* why) {
    char head[16] = {};
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    const std::string_view start(head, got);
    for (const Signature& s : kSignatures)
        if (start.substr(0, s.bytes.size()) == s.bytes) return s.format;
    const std::string extension = lower_extension(name);
    for (const Extension& e : kExtensions)
        if (extension == e.extension) return e.format;
    *why =
        "not an image file of a format skyloom reads (qrl, SGI, RLA, TIFF, PNG, JPEG, "
        "OpenEXR, Radiance HDR, DPX, Cineon, BMP, Targa)";
    return {};
}

// libpng asks OpenImageIO for bytes beyond a cut file's end, and OpenImageIO
// then leaks its error text unwinding through libpng. A PNG file's chunks
// must all be there, up to the end chunk, before it is opened.
bool png_chunks_complete(std::FILE* file, std::string* why) {
    std::uint64_t at = 8;
    for (;;) {
        unsigned char header[8];
        if (std::fseek(file, static_cast<long>(at), SEEK_SET) != 0 ||
            std::fread(header, 1, sizeof header, file) != sizeof header) {
            *why = "PNG file truncated (no end chunk)";
            return false;
        }
        const std::uint32_t length = (std::uint32_t{header[0]} << 24) |
                                     (std::uint32_t{header[1]} << 16) |
                                     (std::uint32_t{header[2]} << 8) | header[3];
        if (length > 0x7FFFFFFFu) {
            *why = "PNG file damaged (chunk length " + std::to_string(length) + ")";
            return false;
        }
        if (std::memcmp(header + 4, "IEND", 4) == 0) return true;
        at += 12 + std::uint64_t{length};
        if (at > static_cast<std::uint64_t>(std::numeric_limits<long>::max())) {
            *why = "PNG file truncated (no end chunk)";
            return false;
        }
    }
}

// OpenEXR allocates what a header declares before it reads it: a string
// attribute of 2 GB in a file of 1 KB, preview images, offset tables of a
// data window 2^31 rows high. A header's attributes must all lie in the
// file, with what they count inside them, its data window must be of a size
// we take, and its table of chunk offsets must fit in the file.
class ExrHeaderCheck {
public:
    ExrHeaderCheck(std::FILE* file, std::uint64_t size) : file_(file), size_(size) {}

    bool sound(std::string* why) {
        unsigned char start[8];
        if (!read(0, start, 8)) return fail(why, "file truncated in its header");
        const std::uint32_t version = le32(start + 4);
        const bool multipart = (version & 0x1000) != 0, tiled = (version & 0x200) != 0;
        at_ = 8;
        std::uint64_t chunks = 0;
        for (int part = 0;; ++part) {
            Header header;
            if (!read_header(&header, why)) return false;
            if (header.empty) {
                if (part == 0 || !multipart) return fail(why, "header without attributes");
                break;
            }
            std::uint64_t count = 0;
            if (!part_chunks(header, tiled, &count, why)) return false;
            chunks += count;
            if (!multipart) break;
        }
        if (chunks * 8 > size_ - std::min(size_, at_))
            return fail(why, "file truncated: " + std::to_string(chunks) + " chunks declared");
        return true;
    }

private:
    struct Header {
        bool empty = true;
        bool has_window = false;
        std::int64_t width = 0, height = 0;
        int compression = 0;
        bool has_tiles = false;
        std::uint32_t tile_width = 0, tile_height = 0;
        bool has_chunk_count = false;
        std::int64_t chunk_count = 0;
    };

    static std::uint32_t le32(const unsigned char* p) {
        return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
               (std::uint32_t{p[3]} << 24);
    }
    static bool fail(std::string* why, const std::string& what) {
        *why = "OpenEXR file refused: " + what;
        return false;
    }
    bool read(std::uint64_t at, void* buffer, std::size_t count) {
        return at <= size_ && count <= size_ - at &&
               std::fseek(file_, static_cast<long>(at), SEEK_SET) == 0 &&
               std::fread(buffer, 1, count, file_) == count;
    }
    // A NUL-terminated name of at most 255 characters at at_.
    bool read_name(std::string* name) {
        name->clear();
        for (int i = 0; i < 256; ++i) {
            char c;
            if (!read(at_++, &c, 1)) return false;
            if (c == '\0') return true;
            name->push_back(c);
        }
        return false;
    }

    bool read_header(Header* header, std::string* why) {
        for (;;) {
            std::string name, type;
            if (!read_name(&name)) return fail(why, "attribute name damaged");
            if (name.empty()) return true;
            header->empty = false;
            unsigned char raw[4];
            if (!read_name(&type) || !read(at_, raw, 4))
                return fail(why, "attribute " + name + " damaged");
            at_ += 4;
            const std::uint32_t bytes = le32(raw);
            if (bytes > 0x7FFFFFFFu || bytes > size_ - std::min(size_, at_))
                return fail(why, "attribute " + name + " larger than the file");
            if (!check_value(header, name, type, bytes, why)) return false;
            at_ += bytes;
        }
    }

    bool check_value(Header* header, const std::string& name, const std::string& type,
                     std::uint32_t bytes, std::string* why) {
        // OpenEXR reads a value of these types at its own size whatever the
        // header declares, and goes on from there: with another size its
        // reading of the rest of the header parts from ours.
        if (const int fixed = fixed_size(type); fixed > 0 && bytes != std::uint32_t(fixed))
            return fail(why, "attribute " + name + " of type " + type + " declares " +
                                 std::to_string(bytes) + " bytes, not " + std::to_string(fixed));
        unsigned char v[18] = {};
        const std::size_t got = std::min<std::size_t>(bytes, sizeof v);
        if (!read(at_, v, got)) return fail(why, "attribute " + name + " damaged");
        if (type == "preview") {
            const std::uint64_t pixels = std::uint64_t{le32(v)} * le32(v + 4);
            if (got < 8 || 8 + 4 * pixels > bytes) return fail(why, "preview image damaged");
        } else if (type == "stringvector") {
            for (std::uint64_t used = 0; used < bytes;) {
                unsigned char length[4];
                if (bytes - used < 4 || !read(at_ + used, length, 4) ||
                    le32(length) > bytes - used - 4)
                    return fail(why, "attribute " + name + " damaged");
                used += 4 + std::uint64_t{le32(length)};
            }
        } else if (name == "dataWindow" && type == "box2i" && bytes == 16) {
            const auto at = [&](int i) { return static_cast<std::int32_t>(le32(v + 4 * i)); };
            header->has_window = true;
            header->width = std::int64_t{at(2)} - at(0) + 1;
            header->height = std::int64_t{at(3)} - at(1) + 1;
        } else if (name == "compression" && type == "compression" && bytes == 1) {
            header->compression = v[0];
        } else if (name == "tiles" && type == "tiledesc" && bytes == 9) {
            header->has_tiles = true;
            header->tile_width = le32(v);
            header->tile_height = le32(v + 4);
        } else if (name == "chunkCount" && type == "int" && bytes == 4) {
            header->has_chunk_count = true;
            header->chunk_count = static_cast<std::int32_t>(le32(v));
        }
        return true;
    }

    // The size of a value of a type OpenEXR reads at a fixed size; 0 for
    // the others (strings, lists, previews, and types it does not know).
    static int fixed_size(const std::string& type) {
        static const std::pair<const char*, int> kSizes[] = {
            {"box2i", 16},      {"box2f", 16},   {"chromaticities", 32},
            {"compression", 1}, {"double", 8},   {"envmap", 1},
            {"float", 4},       {"int", 4},      {"keycode", 28},
            {"lineOrder", 1},   {"m33f", 36},    {"m33d", 72},
            {"m44f", 64},       {"m44d", 128},   {"rational", 8},
            {"tiledesc", 9},    {"timecode", 8}, {"v2i", 8},
            {"v2f", 8},         {"v2d", 16},     {"v3i", 12},
            {"v3f", 12},        {"v3d", 24},     {"deepImageState", 1},
        };
        for (const auto& [name, size] : kSizes)
            if (type == name) return size;
        return 0;
    }

    static bool part_chunks(const Header& h, bool tiled, std::uint64_t* chunks, std::string* why) {
        if (!h.has_window || h.width < 1 || h.width > 65535 || h.height < 1 || h.height > 65535)
            return fail(why, "data window missing or out of range (1..65535)");
        if (h.has_chunk_count) {
            if (h.chunk_count < 0) return fail(why, "negative chunk count");
            *chunks = static_cast<std::uint64_t>(h.chunk_count);
            return true;
        }
        if (tiled || h.has_tiles) {
            if (h.tile_width < 1 || h.tile_height < 1) return fail(why, "tile size 0");
            const std::uint64_t across = (h.width + h.tile_width - 1) / h.tile_width;
            const std::uint64_t down = (h.height + h.tile_height - 1) / h.tile_height;
            *chunks = across * down;
            return true;
        }
        static constexpr int kLinesPerChunk[] = {1, 1, 1, 16, 32, 16, 32, 32, 32, 256};
        if (h.compression < 0 || h.compression >= 10) return fail(why, "unknown compression");
        const int lines = kLinesPerChunk[h.compression];
        *chunks = static_cast<std::uint64_t>((h.height + lines - 1) / lines);
        return true;
    }

    std::FILE* file_;
    std::uint64_t size_;
    std::uint64_t at_ = 0;
};

// OpenImageIO's JPEG reader decodes the Photoshop metadata (APP13 segments)
// libjpeg keeps for it by the sizes written inside it, unchecked, and reads
// past the segment when they lie. A renderer has no use for that metadata: a
// JPEG file that has any is read from memory without those segments. The
// segments before the image data are walked as libjpeg walks them, so that
// what is cut out is exactly what libjpeg would have handed over, and the
// file is refused where libjpeg could not reach the image data either.
struct JpegCut {
    std::uint64_t at, size;
};

class JpegSegments {
public:
    explicit JpegSegments(std::FILE* file) : file_(file) {}

    // Photoshop segments (with the marker and fill bytes before them) into
    // `cuts`; false with the reason in `why` when the segments are damaged.
    bool walk(std::vector<JpegCut>* cuts, std::string* why) {
        if (std::fseek(file_, 2, SEEK_SET) != 0)
            return fail(why, "truncated before its image data");
        at_ = 2;  // past the start marker, which identify() has seen
        for (;;) {
            // Bytes between segments are skipped up to the next marker; a
            // run of 0xFF bytes ending in 0 is data, not a marker.
            int c = 0;
            std::uint64_t run = 0;
            do {
                while ((c = next()) != EOF && c != 0xFF) {
                }
                run = at_ - 1;
                while ((c = next()) == 0xFF) {
                }
            } while (c == 0);
            if (c == EOF) return fail(why, "truncated before its image data");
            if (c == 0xDA) return true;  // start of scan: the image data follows
            if (c == 0xD9) return fail(why, "damaged (end marker before any image data)");
            if (c == 0xD8) return fail(why, "damaged (second start marker)");
            if (c == 0x01 || (c >= 0xD0 && c <= 0xD7)) continue;  // markers without a length
            const int high = next(), low = next();
            if (low == EOF) return fail(why, "truncated before its image data");
            const std::uint64_t length = static_cast<std::uint64_t>(high << 8 | low);
            // libjpeg passes over metadata (APPn, COM, DNL) with a length
            // below 2 as empty, and stops at any other segment's.
            const bool metadata = (c >= 0xE0 && c <= 0xEF) || c == 0xFE || c == 0xDC;
            if (length < 2 && !metadata)
                return fail(why, "damaged (marker segment length " + std::to_string(length) + ")");
            const std::uint64_t end = at_ + (length < 2 ? 0 : length - 2);
            if (!present(end)) return fail(why, "truncated before its image data");
            if (c == 0xED) cuts->push_back({run, end - run});
            at_ = end;
        }
    }

private:
    int next() {
        const int c = std::fgetc(file_);
        if (c != EOF) ++at_;
        return c;
    }
    // Whether the file holds every byte before `end`, where it is left.
    bool present(std::uint64_t end) {
        if (end == 0) return true;
        if (std::fseek(file_, static_cast<long>(end - 1), SEEK_SET) != 0 ||
            std::fgetc(file_) == EOF)
            return false;
        return true;
    }
    static bool fail(std::string* why, const std::string& what) {
        *why = "JPEG file " + what;
        return false;
    }

    std::FILE* file_;
    std::uint64_t at_ = 0;
};

// The whole of `file` but the `cuts`, which are in order.
bool read_without(std::FILE* file, const std::vector<JpegCut>& cuts,
                  std::vector<unsigned char>* bytes, std::string* why) {
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size >= 0 && std::fseek(file, 0, SEEK_SET) == 0) {
        bytes->resize(static_cast<std::size_t>(size));
        if (std::fread(bytes->data(), 1, bytes->size(), file) == bytes->size()) {
            for (auto cut = cuts.rbegin(); cut != cuts.rend(); ++cut) {
                const auto from = bytes->begin() + static_cast<std::ptrdiff_t>(cut->at);
                bytes->erase(from, from + static_cast<std::ptrdiff_t>(cut->size));
            }
            return true;
        }
    }
    *why = "cannot read: " + std::string(std::ferror(file) ? std::strerror(errno) : "file changed");
    return false;
}

}  // namespace

// A JPEG file's bytes without its Photoshop segments, which its reader reads
// for as long as it is open.
struct JpegInMemory {
    std::vector<unsigned char> bytes;
    std::unique_ptr<OIIO::Filesystem::IOMemReader> proxy;
};

namespace {

// Opens `name` with the reader of its format, refusing what we do not read.
// A JPEG file read from memory keeps its bytes in `memory`, which must
// outlive the reader.
std::unique_ptr<OIIO::ImageInput> open_known(const std::string& name, const OIIO::ImageSpec& config,
                                             std::unique_ptr<JpegInMemory>* memory,
                                             std::string* failure) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(name.c_str(), "rb"),
                                                         std::fclose);
    if (!file) {
        *failure = std::string("cannot open: ") + std::strerror(errno);
        return nullptr;
    }
    const std::string format = identify(name, file.get(), failure);
    if (format.empty()) return nullptr;
    if (format == "png" && !png_chunks_complete(file.get(), failure)) return nullptr;
    if (format == "openexr") {
        std::error_code unknown;
        const std::uint64_t size = std::filesystem::file_size(name, unknown);
        if (unknown || !ExrHeaderCheck(file.get(), size).sound(failure)) {
            if (unknown) *failure = "cannot read: " + unknown.message();
            return nullptr;
        }
    }
    std::vector<JpegCut> cuts;
    char start[2] = {};
    if (format == "jpeg" && std::fseek(file.get(), 0, SEEK_SET) == 0 &&
        std::fread(start, 1, 2, file.get()) == 2 && start[0] == '\xFF' && start[1] == '\xD8') {
        if (!JpegSegments(file.get()).walk(&cuts, failure)) return nullptr;
        if (!cuts.empty()) {
            *memory = std::make_unique<JpegInMemory>();
            if (!read_without(file.get(), cuts, &(*memory)->bytes, failure)) return nullptr;
            (*memory)->proxy = std::make_unique<OIIO::Filesystem::IOMemReader>(
                (*memory)->bytes.data(), (*memory)->bytes.size());
        }
    }
    file.reset();
    drain_global_error();
    auto input = OIIO::ImageInput::create(format);
    OIIO::ImageSpec spec;
    if (input && *memory) {
        if (!input->supports("ioproxy")) {
            *failure = "JPEG file with Photoshop metadata, which this OpenImageIO cannot leave out";
            return nullptr;
        }
        OIIO::ImageSpec from_memory = config;
        void* proxy = (*memory)->proxy.get();
        from_memory.attribute("oiio:ioproxy", OIIO::TypeDesc::PTR, &proxy);
        if (input->open(name, spec, from_memory)) return input;
    } else if (input && input->open(name, spec, config)) {
        return input;
    }
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
// read.
bool decoding_bounded(const std::string& name, const OIIO::ImageInput& input, std::string* why) {
    const OIIO::ImageSpec& spec = input.spec();
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
    std::unique_ptr<JpegInMemory> memory;  // before `input`, which reads it to the end
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
        impl->input = open_known(name, config, &impl->memory, &failure);
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
    return read_row_as(y, samples, impl_->bits == 8 ? 1 : 2, error);
}

bool OiioReader::read_row_float(int y, float* samples, std::string* error) {
    return read_row_as(y, samples, 4, error);
}

// Samples of `size` bytes: 1 and 2 are unsigned integers, 4 floats.
bool OiioReader::read_row_as(int y, void* samples, int size, std::string* error) {
    Impl& s = *impl_;
    try {
        // OpenImageIO numbers scanlines from the top of the data window for
        // every format, SGI and RLA included (they store bottom-up on disk).
        // read_scanline rather than read_scanlines with a channel range: the
        // latter costs a large temporary per call inside OpenImageIO.
        OIIO::TypeDesc type = size == 1   ? OIIO::TypeDesc::UINT8
                              : size == 2 ? OIIO::TypeDesc::UINT16
                                          : OIIO::TypeDesc::FLOAT;
        bool all_channels = s.channels == s.spec.nchannels;
        if (!all_channels)
            s.line.resize(std::max(s.line.size(), static_cast<std::size_t>(s.spec.width) *
                                                      s.spec.nchannels * type.size()));
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
bool read_row_float(void* reader, int y, float* samples, std::string* error) {
    return static_cast<Reader*>(reader)->read_row_float(y, samples, error);
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

bool write_exr(const std::string& name, const oiio_api::ExrImage& image, std::string* error) {
    configure_once();
    try {
        auto output = create_output("openexr", name, error);
        if (!output) return false;
        const int channels = static_cast<int>(image.channels.size());
        OIIO::ImageSpec spec(image.width, image.height, channels, OIIO::TypeDesc::FLOAT);
        spec.channelnames = image.channels;
        spec.channelformats.clear();
        spec.alpha_channel = -1;
        spec.z_channel = -1;
        for (int c = 0; c < channels; ++c) {
            const std::string& channel = image.channels[static_cast<std::size_t>(c)];
            const bool half = std::find(image.half_channels.begin(), image.half_channels.end(),
                                        channel) != image.half_channels.end();
            spec.channelformats.push_back(half ? OIIO::TypeDesc::HALF : OIIO::TypeDesc::FLOAT);
            if (channel == "A") spec.alpha_channel = c;
            if (channel == "Z") spec.z_channel = c;
        }
        spec.attribute("compression", "zip");
        if (!output->open(name, spec)) {
            set_error(error, name, "cannot create file: " + collect_error(output->geterror()));
            return false;
        }
        const bool written = output->write_image(OIIO::TypeDesc::FLOAT, image.pixels);
        std::string why = written ? "" : collect_error(output->geterror());
        if (!output->close() && written) why = collect_error(output->geterror());
        if (!why.empty() || !written) {
            set_error(error, name, "cannot write file: " + why);
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        set_error(error, name, std::string("OpenImageIO failed: ") + e.what());
    } catch (...) {
        set_error(error, name, "OpenImageIO failed");
    }
    return false;
}

constexpr oiio_api::Table kTable = {
    oiio_api::kVersion, open_reader, destroy_reader,
    reader_info,        read_row,    create_writer_by_extension,
    writer_info,        write_row,   close_writer,
    destroy_writer,     write_exr,   read_row_float,
};

}  // namespace
}  // namespace sky

extern "C" __attribute__((visibility("default"))) const sky::oiio_api::Table* skyloom_oiio_table() {
    return &sky::kTable;
}
