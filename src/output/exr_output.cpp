#include "output/exr_output.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include <unistd.h>

#include "output/depth_file.h"
#include "platform/image/fb.h"
#include "platform/image/oiio_backend.h"
#include "platform/partial_names.h"

namespace sky {
namespace {

constexpr float kNothingSeen = 1e8f;

// One source's channels, interleaved, top row first.
struct Plane {
    int width = 0, height = 0;
    std::vector<std::string> names;
    std::vector<float> values;
};

std::uint32_t little_u32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// 0: not a depth file; otherwise its magic.
std::uint32_t depth_magic(const std::string& name) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(name.c_str(), "rb"));
    std::uint8_t magic[4];
    if (!file || std::fread(magic, 1, 4, file.get()) != 4) return 0;
    const std::uint32_t value = little_u32(magic);
    return value == kDepthMagicFloat || value == kDepthMagicInteger ? value : 0;
}

bool read_depth(const std::string& name, const std::optional<float>& far, Plane& plane,
                std::string& error) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(name.c_str(), "rb"));
    std::uint8_t header[kDepthHeaderSize];
    if (!file) {
        error = name + ": " + std::strerror(errno);
        return false;
    }
    if (std::fread(header, 1, sizeof header, file.get()) != sizeof header ||
        (little_u32(header) != kDepthMagicFloat && little_u32(header) != kDepthMagicInteger)) {
        error = name + ": not a depth file";
        return false;
    }
    if (little_u32(header) == kDepthMagicInteger) {
        // Integers between the camera's clipping planes, which the file does
        // not record: no distance can be recovered from them.
        error = name + ": integer depths (use_lumenfold_depth) hold no distances to convert";
        return false;
    }
    plane.width = header[4] | header[5] << 8;
    plane.height = header[6] | header[7] << 8;
    plane.names = {"Z"};
    const std::size_t count = static_cast<std::size_t>(plane.width) * plane.height;
    std::vector<std::uint8_t> bytes(count * 4);
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        error = name + ": rows are missing";
        return false;
    }
    plane.values.resize(count);
    const float nothing = far ? *far : std::numeric_limits<float>::infinity();
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t bits = little_u32(&bytes[i * 4]);
        float z;
        std::memcpy(&z, &bits, sizeof z);
        plane.values[i] = z >= kNothingSeen ? nothing : z;
    }
    return true;
}

bool read_image(const std::string& name, Plane& plane, std::string& error) {
    FBhandle* handle = FBopen(name.c_str(), FB_READ_ROWS, FB_FORMAT_ANY, 0, 0, 0, 0, 0, 90.0);
    if (handle == nullptr) {
        error = FBgetError();
        return false;
    }
    std::unique_ptr<FBhandle, int (*)(FBhandle*)> in(handle, FBclose);
    const bool sixteen = handle->file_bits == 16;
    FBtiff16_set(handle, sixteen);
    plane.width = handle->width;
    plane.height = handle->height;
    // The library hands out four samples a pixel whatever the file holds
    // (a one-channel matte in the fourth); 16-bit samples come as four low
    // bytes, then four high ones.
    static const char* const kNames[][4] = {{"A"}, {}, {"R", "G", "B"}, {"R", "G", "B", "A"}};
    const int channels = handle->channels;
    if (channels != 1 && channels != 3 && channels != 4) {
        error = name + ": " + std::to_string(channels) + "-channel images are not converted";
        return false;
    }
    plane.names.assign(kNames[channels - 1], kNames[channels - 1] + channels);
    const std::size_t width = static_cast<std::size_t>(plane.width);
    const std::size_t stride = sixteen ? 8 : 4;
    plane.values.resize(width * plane.height * static_cast<std::size_t>(channels));
    std::vector<std::uint8_t> row(width * stride);
    const float full = sixteen ? 65535.0f : 255.0f;
    for (int y = 0; y < plane.height; ++y) {
        if (FBread(handle, row.data()) != handle->width) {
            error = FBgetError();
            return false;
        }
        float* out = &plane.values[static_cast<std::size_t>(y) * width * channels];
        for (std::size_t x = 0; x < width; ++x) {
            for (int c = 0; c < channels; ++c) {
                const std::size_t k = x * stride + static_cast<std::size_t>(channels == 1 ? 3 : c);
                const unsigned value = sixteen ? row[k] | row[k + 4] << 8 : row[k];
                out[x * channels + static_cast<std::size_t>(c)] = static_cast<float>(value) / full;
            }
        }
    }
    return true;
}

bool read_source(const std::string& name, const std::optional<float>& far, Plane& plane,
                 std::string& error) {
    return depth_magic(name) != 0 ? read_depth(name, far, plane, error)
                                  : read_image(name, plane, error);
}

// Lays `extra`'s channels over `base`'s: a channel of the same name is
// replaced (a matte's alpha over an image's own), a new one is added.
bool merge(Plane& base, const Plane& extra, const std::string& base_name,
           const std::string& extra_name, std::string& error) {
    if (extra.width != base.width || extra.height != base.height) {
        error = extra_name + ": " + std::to_string(extra.width) + "x" +
                std::to_string(extra.height) + " does not match " + base_name + " (" +
                std::to_string(base.width) + "x" + std::to_string(base.height) + ")";
        return false;
    }
    std::vector<std::string> names = base.names;
    std::vector<int> target;
    for (const std::string& n : extra.names) {
        auto at = std::find(names.begin(), names.end(), n);
        if (at == names.end()) at = names.insert(names.end(), n);
        target.push_back(static_cast<int>(at - names.begin()));
    }
    const std::size_t pixels = static_cast<std::size_t>(base.width) * base.height;
    const std::size_t from = base.names.size(), to = names.size(), more = extra.names.size();
    std::vector<float> values(pixels * to, 0.0f);
    for (std::size_t i = 0; i < pixels; ++i) {
        for (std::size_t c = 0; c < from; ++c) values[i * to + c] = base.values[i * from + c];
        for (std::size_t c = 0; c < more; ++c)
            values[i * to + static_cast<std::size_t>(target[c])] = extra.values[i * more + c];
    }
    base.names = std::move(names);
    base.values = std::move(values);
    return true;
}

}  // namespace

bool write_exr(const ExrRequest& request, std::string& error) {
    Plane plane;
    if (!read_source(request.image, request.far, plane, error)) return false;
    for (const auto& [name, is_depth] : {std::pair{request.matte, false}, {request.depth, true}}) {
        if (name.empty()) continue;
        Plane extra;
        if (is_depth ? !read_depth(name, request.far, extra, error)
                     : !read_image(name, extra, error))
            return false;
        if (!is_depth) {
            if (extra.names.size() != 1) {
                error = name + ": a matte has one channel, this file has " +
                        std::to_string(extra.names.size());
                return false;
            }
        }
        if (!merge(plane, extra, request.image, name, error)) return false;
    }
    oiio_api::ExrImage image{plane.width, plane.height, plane.names, {}, plane.values.data()};
    if (request.half)
        for (const std::string& n : plane.names)
            if (n != "Z") image.half_channels.push_back(n);
    const std::string partial = partial_name_of(request.output, static_cast<long>(::getpid()));
    std::string why;
    if (!write_exr_image(partial, image, &why)) {
        ::unlink(partial.c_str());
        const std::size_t at = why.find(partial);
        if (at != std::string::npos) why.replace(at, partial.size(), request.output);
        error = why;
        return false;
    }
    if (std::rename(partial.c_str(), request.output.c_str()) != 0) {
        error = request.output + ": " + std::strerror(errno);
        ::unlink(partial.c_str());
        return false;
    }
    return true;
}

}  // namespace sky
