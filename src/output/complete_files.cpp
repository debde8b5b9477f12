#include "output/complete_files.h"

#include <cstdio>
#include <memory>
#include <vector>

#include <sys/stat.h>

#include "base/options.h"
#include "output/depth_file.h"
#include "platform/app.h"
#include "platform/image/fb.h"
#include "scene/camera.h"

namespace sky {
namespace {

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

const char* file_state_name(FileState state) {
    switch (state) {
        case FileState::missing:
            return "missing";
        case FileState::incomplete:
            return "incomplete";
        case FileState::complete:
            return "complete";
    }
    return "missing";
}

bool matte_rides_in_image(std::int32_t format) {
    return format == FB_FORMAT_SGI || format == FB_FORMAT_TIFF || format == FB_FORMAT_TIFF16 ||
           format == FB_FORMAT_RLA;
}

FileState image_file_state(const std::string& name, int width, int height) {
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) return FileState::missing;
    // Only regular files are read back: a pipe or a device never holds a
    // finished frame, and reading one could wait for ever.
    if (!S_ISREG(info.st_mode)) return FileState::incomplete;
    FBhandle* handle = FBopen(name.c_str(), FB_READ_ROWS, FB_FORMAT_ANY, 0, 0, 0, 0, 0, 90.0);
    if (handle == nullptr) return FileState::incomplete;
    bool whole = handle->width == width && handle->height == height;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(handle->width) * 4);
    for (int y = 0; whole && y < handle->height; ++y)
        whole = FBread(handle, row.data()) == handle->width;
    FBclose(handle);
    return whole ? FileState::complete : FileState::incomplete;
}

FileState depth_file_state(const std::string& name, int width, int height) {
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) return FileState::missing;
    if (!S_ISREG(info.st_mode)) return FileState::incomplete;
    const auto expected = static_cast<off_t>(kDepthHeaderSize) +
                          static_cast<off_t>(width) * static_cast<off_t>(height) * 4;
    if (info.st_size != expected) return FileState::incomplete;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(name.c_str(), "rb"),
                                                         std::fclose);
    std::uint8_t header[kDepthHeaderSize];
    if (!file || std::fread(header, 1, sizeof header, file.get()) != sizeof header)
        return FileState::incomplete;
    const std::uint32_t magic =
        header[0] | header[1] << 8 | header[2] << 16 | static_cast<std::uint32_t>(header[3]) << 24;
    const int file_width = header[4] | header[5] << 8, file_height = header[6] | header[7] << 8;
    const bool ours = magic == kDepthMagicFloat || magic == kDepthMagicInteger;
    return ours && file_width == width && file_height == height ? FileState::complete
                                                                : FileState::incomplete;
}

std::vector<CameraFile> camera_files(const CameraRecord& camera) {
    const RenderOptions& options = render_options();
    std::vector<CameraFile> files;
    if (options.link_mode) return files;
    if (!camera.image_name.empty()) files.push_back({"image", camera.image_name});
    const bool matte_in_image =
        !camera.image_name.empty() && matte_rides_in_image(options.image_format);
    if (!camera.matte_name.empty() && !matte_in_image)
        files.push_back({"matte", camera.matte_name});
    // Depth of field's own depth image lives in temporary storage, never a file.
    if (!camera.depth_name.empty() &&
        !starts_with(camera.depth_name, APP_getTempPath() + "/TempDepthFileForDOF"))
        files.push_back({"depth", camera.depth_name});
    return files;
}

FileState camera_file_state(const CameraFile& file) {
    const RenderOptions& options = render_options();
    const int width = options.xright - options.xleft + 1;
    const int height =
        options.fields ? (options.yhigh - options.ylow) / 2 + 1 : options.yhigh - options.ylow + 1;
    return std::string(file.kind) == "depth" ? depth_file_state(file.name, width, height)
                                             : image_file_state(file.name, width, height);
}

}  // namespace sky
