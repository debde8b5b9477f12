// Output file names of a camera's image, matte and depth files: the names
// the scene wrote, with the eye, the frame number, the field and the image
// format's extension added in the order the command line and the
// `extensionformat` setting ask for.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/options.h"
#include "platform/app.h"
#include "platform/report.h"
#include "scene/camera.h"
#include "scene/camera_internal.h"

namespace sky {
namespace {

constexpr int kMaxExtensionSize = 20;

// A name counts as ending in the extension when its last four characters
// are the extension's.
bool ends_with(const std::string& name, std::string_view extension) {
    return extension.size() == 4 && name.size() >= 4 &&
           std::string_view(name).substr(name.size() - 4) == extension;
}

// A render farm that splits a frame into windows renders each window under
// the frame's names plus a suffix of its own, until the windows are
// assembled into the frame's files (docs/farm.md).
const std::string& window_suffix() {
    static const std::string suffix = [] {
        const char* text = std::getenv("SKYLOOM_OUTPUT_SUFFIX");
        return std::string(text != nullptr ? text : "");
    }();
    return suffix;
}

}  // namespace

const char* format_extension(int image_format) {
    switch (image_format) {
        case 1:
            return ".qrl";
        case 2:
            return ".rgb";
        case 3:
            return ".gif";
        case 4:
        case 5:
            return ".tif";
        case 9:
            return ".rla";
        default:
            rptError("Unknown file format type: %d.  Using QUORL PIX.\n", image_format);
            return ".qrl";
    }
}

std::string output_suffix(const OutputNaming& naming, const char* extension) {
    std::string suffix;
    if (naming.stereo) suffix += naming.right_eye ? "_right" : "_left";
    if (naming.extension_placement == 1) suffix += extension;
    if (naming.number_frames) {
        // A frame number is at most 11 characters; the width at most 20.
        char number[40];
        int width = std::clamp(naming.extension_size, 0, kMaxExtensionSize);
        std::snprintf(number, sizeof number, ".%0*d", width, naming.frame_number);
        suffix += number;
    }
    if (naming.fields) suffix += naming.parity == 1 ? "e" : "o";
    if (naming.extension_placement == 2) suffix += extension;
    return suffix;
}

std::string image_output_name(const std::string& name, const std::string& suffix,
                              const char* extension, int mode) {
    bool has_extension = ends_with(name, extension);
    std::string stem = has_extension ? name.substr(0, name.size() - 4) : name;
    switch (mode) {
        case 1:
            return (has_extension ? name : name + extension) + suffix;
        case 2:
            return stem + suffix;
        default:
            return stem + suffix + extension;
    }
}

void form_output_names(CameraRecord& r, bool fields, int parity, bool number_frames,
                       int frame_number) {
    const RenderOptions& options = render_options();
    OutputNaming naming;
    naming.stereo = r.stereo != 0;
    naming.right_eye = r.right_eye != 0;
    naming.extension_placement = options.file_type_extension;
    naming.number_frames = number_frames;
    naming.frame_number = frame_number;
    naming.extension_size = options.extensionsize;
    naming.fields = fields;
    naming.parity = parity;
    const char* extension = format_extension(options.image_format);
    std::string suffix = output_suffix(naming, extension);

    // An empty name stays empty: that file is not wanted.
    r.image_name.clear();
    r.matte_name.clear();
    r.depth_name.clear();
    const std::string& window = window_suffix();
    if (!r.pix.empty())
        r.image_name =
            image_output_name(r.pix, suffix, extension, options.extensionformat) + window;
    if (!r.mask.empty()) r.matte_name = r.mask + suffix + window;
    if (!r.depth_file.empty()) {
        r.depth_name = r.depth_file + suffix + window;
    } else if (r.depth_of_field) {
        // Depth of field blurs the image by its depths, so it needs a depth
        // file even when the scene asks for none.
        r.depth_name = APP_getTempPath() + "/TempDepthFileForDOF" +
                       std::to_string(static_cast<int>(getpid())) + suffix;
    }
}

}  // namespace sky
