// Opening, writing and closing the image, matte and depth files of a camera
// render. Every failure here ends the run: a render that goes on after a file
// was refused would only produce an image nobody gets.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "base/options.h"
#include "output/complete_files.h"
#include "output/depth_file.h"
#include "output/output_context.h"
#include "output/partial_files.h"
#include "platform/app.h"
#include "platform/fatal.h"
#include "platform/files.h"
#include "platform/image/fb.h"
#include "platform/pipe_writes.h"
#include "platform/report.h"
#include "scene/camera.h"

namespace sky {
namespace {

constexpr std::size_t kAnnouncedNameLength = 256;
constexpr float kNothingSeen = 1e8f;
constexpr int kMaxFileSize = 65535;  // widths and heights are 16-bit in the files

bool known_format(std::int32_t format) {
    return format == FB_FORMAT_QRL || format == FB_FORMAT_SGI || format == FB_FORMAT_TIFF ||
           format == FB_FORMAT_TIFF16 || format == FB_FORMAT_RLA;
}

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The name's last component, in the temporary rendering directory.
std::string moved_to(const std::string& directory, const std::string& name) {
    if (name.empty()) return name;
    std::size_t slash = name.rfind('/');
    const char* last = name.c_str() + (slash == std::string::npos ? 0 : slash + 1);
    char moved[4096];
    std::snprintf(moved, sizeof moved, "%s%c%s", directory.c_str(), '/', last);
    return moved;
}

void ensure_temporary_directory(const std::string& directory) {
    if (oxOS_isDirectory(directory)) return;
    // Another render may have made it in the meantime.
    if (oxOS_createDirectory(directory) || oxOS_isDirectory(directory)) return;
    char message[4200];
    std::snprintf(message, sizeof message, "Can't create temporary rendering directory: %s\n",
                  directory.c_str());
    rptWarning("%s", message);
    fatal("%s", message);
}

[[noreturn]] void depth_write_failure(int error) {
    rptError("Problem writing depth file: %s\n", std::strerror(error));
    fatal("Could not complete render due to write problems\n");
}

int create_file(const std::string& name) {
    return ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

// Creates the depth file `name` at `path` (its partial name, or itself), and
// the directory when that is all that is missing (scenes commonly name their
// depth files "depth/<shot>").
int create_depth_file(const std::string& path, const std::string& name) {
    int descriptor = create_file(path);
    if (descriptor >= 0) return descriptor;
    std::size_t slash = name.rfind('/');
    if (slash != std::string::npos) {
        std::string directory = slash == 0 ? std::string("/") : name.substr(0, slash);
        if (!oxOS_isDirectory(directory)) {
            rptError("Warning: '%s' directory does not exist, trying to create it.\n",
                     directory.c_str());
            if (!oxOS_createDirectory(directory)) {
                rptError("Cannot create depth directory: %s\n", std::strerror(errno));
            } else {
                rptError("Created '%s' directory.\n", directory.c_str());
                descriptor = create_file(path);
            }
        }
    }
    if (descriptor < 0)
        fatal("Can't create depth file %s; perhaps you need to create a 'depth' directory.\n",
              name.c_str());
    return descriptor;
}

void open_depth_output(OutputContext& context, const std::string& temporary) {
    const std::string& name = context.depth_name;
    if (context.width > kMaxFileSize || context.height > kMaxFileSize) {
        rptWarning("%dx%d is too large for a depth file (65535 at most)", context.width,
                   context.height);
        fatal("Can't create depth file %s\n", name.c_str());
    }
    // Only names the renderer itself put in temporary storage are kept in
    // memory: the moved names of link mode and the depth of field's own
    // depth image. A depth file the user named in /tmp is a file.
    const bool in_memory = starts_with(name, temporary + "/") ||
                           starts_with(name, APP_getTempPath() + "/TempDepthFileForDOF");
    if (!in_memory) {
        context.depth_partial = context.link_mode ? "" : partial_name(name);
        const std::string& path = context.depth_partial.empty() ? name : context.depth_partial;
        context.depth_fd = create_depth_file(path, name);
        if (!context.depth_partial.empty()) hold_partial(context.depth_partial);
        std::uint8_t header[kDepthHeaderSize];
        encode_depth_header(header, context.integer_depth, context.width, context.height);
        BrokenPipeScope scope;
        if (!write_fully(context.depth_fd, header, sizeof header)) depth_write_failure(errno);
        return;
    }
    const std::size_t bytes =
        static_cast<std::size_t>(context.width) * static_cast<std::size_t>(context.height) * 4;
    void* block = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) {
        rptWarning("%s", std::strerror(errno));
        fatal("Can't create depth file %s\n", name.c_str());
    }
    context.depth_block = static_cast<float*>(block);
    context.depth_block_bytes = bytes;
}

// Opens an image or matte file for rows under its partial name, or in place.
// Where the partial file cannot be made (a directory that takes no new
// files, say) the name is opened in place as it always was, so that what
// fails, fails with the same message.
FBhandle* open_rows(const std::string& name, std::string& partial, std::int32_t format,
                    std::int32_t width, std::int32_t height, int channels) {
    if (!partial.empty()) {
        if (FBhandle* handle = FBopen(partial.c_str(), FB_WRITE_ROWS, format, width, height,
                                      channels, 0, 0, 90.0)) {
            hold_partial(partial);
            return handle;
        }
        ::unlink(partial.c_str());
        partial.clear();
    }
    return FBopen(name.c_str(), FB_WRITE_ROWS, format, width, height, channels, 0, 0, 90.0);
}

// The image library's last error, about the file by the name the user gave it.
std::string error_about(const std::string& partial, const std::string& name) {
    return as_final(FBgetError(), partial, name);
}

// A closed file takes its final name.
void complete(const std::string& partial, const std::string& name, const char* problem) {
    if (!partial.empty() && !complete_partial(partial, name))
        fatal("%s: %s: %s\n", problem, name.c_str(), std::strerror(errno));
}

void print_completed(const OutputContext& context, const std::string& name) {
    if (context.quiet) rptUser("    ");
    rptUser("Completed %s file\n", name.c_str());
}

void reset_context(OutputContext& context) {
    context.image_name.clear();
    context.matte_name.clear();
    context.depth_name.clear();
    context.image_partial.clear();
    context.matte_partial.clear();
    context.depth_partial.clear();
    context.image = nullptr;
    context.matte = nullptr;
    context.depth_fd = -1;
    context.filter = false;
    context.files_for_link = false;
    context.rows_written = 0;
}

}  // namespace

void fatal_out_of_output_memory(std::size_t bytes) {
    fatal("Error: out of memory: cannot allocate %zu bytes for the output rows.\n", bytes);
}

OutputStages& output_stages() {
    static OutputStages stages;
    return stages;
}

std::string temporary_rendering_directory() {
    return oxOS_joinPath(APP_getTempPath(), "QuorlRenderer");
}

void release_depth_block(OutputContext& context) {
    if (context.depth_block != nullptr) ::munmap(context.depth_block, context.depth_block_bytes);
    context.depth_block = nullptr;
    context.depth_block_bytes = 0;
}

void open_outputs(OutputContext& context, const CameraRecord& camera, std::int32_t xleft,
                  std::int32_t xright, std::int32_t ylow, std::int32_t yhigh, std::int32_t quiet) {
    const RenderOptions& options = render_options();
    const OutputStages& stages = output_stages();
    const std::string temporary = temporary_rendering_directory();
    ensure_temporary_directory(temporary);

    SKY_CHECK(!context.open);
    reset_context(context);
    release_depth_block(context);
    recycle_pending_rows(context);
    context.quiet = quiet;
    context.link_mode = options.link_mode;

    std::string image = camera.image_name, matte = camera.matte_name, depth = camera.depth_name;
    const bool image_wanted = !image.empty(), matte_wanted = !matte.empty(),
               depth_wanted = !depth.empty();
    const bool glow = stages.glow_will_run != nullptr && stages.glow_will_run(camera);
    if (context.link_mode) {
        const std::string& announced = image_wanted ? image : matte_wanted ? matte : depth;
        if (!announced.empty()) {
            std::string name = announced.substr(0, kAnnouncedNameLength);
            if (glow && !camera.depth_of_field && options.keep_noglow) name += ".ng";
            if (stages.send_file)
                stages.send_file(name.c_str(), image_wanted, depth_wanted, matte_wanted);
        }
        image = moved_to(temporary, image);
        depth = moved_to(temporary, depth);
        context.files_for_link = glow || camera.depth_of_field;
    }

    context.image_name = image;
    context.depth_name = depth;
    // The image carries the matte as its fourth channel in these formats;
    // without an image the matte needs its own file whatever the format.
    const bool matte_in_image = image_wanted && matte_rides_in_image(options.image_format);
    if (matte_wanted && !matte_in_image)
        context.matte_name = context.link_mode ? moved_to(temporary, matte) : matte;

    context.xleft = xleft;
    context.xright = xright;
    context.ylow = ylow;
    context.yhigh = yhigh;
    context.width = xright - xleft + 1;
    context.fields = options.fields;
    if (context.fields) {
        if ((yhigh - ylow) % 2 == 0) fatal("Can't render an odd number of scanlines on fields\n");
        context.height = (yhigh - ylow) / 2 + 1;
    } else {
        context.height = yhigh - ylow + 1;
    }
    SKY_CHECK(context.width > 0 && context.height > 0);
    context.top_row = ylow + context.height - 1;
    context.next_row = context.top_row;

    context.filter = options.post_filter && stages.post_filter_row != nullptr;
    if (context.filter && stages.post_filter_set_up) stages.post_filter_set_up(context.width);

    context.format = options.image_format;
    if (!known_format(context.format)) {
        rptWarning("%s", "Unsupported image format specified - Using QUORL format instead\n");
        context.format = FB_FORMAT_QRL;
    }
    context.conversion.gamma_on = Rr_gamma_correction_on;
    context.conversion.gamma = Rr_gamma_value;
    context.conversion.sixteen = context.format == FB_FORMAT_TIFF16;
    context.integer_depth = options.use_lumenfold_depth;
    context.near = camera.near;
    context.far = camera.far;
    context.stereo_eye = camera.stereo != 0;

    const std::size_t pixels = static_cast<std::size_t>(context.width);
    context.bytes.reserve(pixels * bytes_per_output_pixel(context.conversion));
    context.colour.reserve(pixels * 4);
    context.no_depth.reserve(pixels);
    for (std::size_t x = 0; x < pixels; ++x) context.no_depth.data()[x] = kNothingSeen;
    context.depth_bytes.reserve(pixels * 4);
    if (context.link_mode) context.link_pixels.reserve(pixels * 5);
    context.open = true;

    // In link mode the rows travel over the link; files are made only for
    // the post effects that reread them.
    if (context.link_mode && !context.files_for_link) return;

    if (image_wanted) {
        const int channels =
            (matte_in_image && matte_wanted) || context.format == FB_FORMAT_RLA ? 4 : 3;
        context.image_partial = context.link_mode ? "" : partial_name(context.image_name);
        context.image = open_rows(context.image_name, context.image_partial, context.format,
                                  context.width, context.height, channels);
        if (context.image == nullptr) {
            rptWarning("%s", FBgetError());
            fatal("Can't create image file %s\n", context.image_name.c_str());
        }
    }
    if (!context.matte_name.empty()) {
        context.matte_partial = context.link_mode ? "" : partial_name(context.matte_name);
        context.matte = open_rows(context.matte_name, context.matte_partial, context.format,
                                  context.width, context.height, 1);
        if (context.matte == nullptr) {
            rptWarning("%s", FBgetError());
            fatal("Can't create alpha file %s\n", context.matte_name.c_str());
        }
    }
    if (depth_wanted) open_depth_output(context, temporary);
}

void write_row(OutputContext& context, const std::uint8_t* bytes, const float* colour,
               const float* depth, std::int32_t width, std::int32_t height) {
    SKY_CHECK(context.rows_written < context.height);
    const std::int32_t row = context.top_row - context.rows_written;
    if (context.link_mode) {
        const OutputStages& stages = output_stages();
        float* records = context.link_pixels.data();
        for (std::int32_t x = 0; x < width; ++x) {
            std::memcpy(records + 5 * x, colour + 4 * x, 4 * sizeof(float));
            records[5 * x + 4] = depth != nullptr ? depth[x] : 0.0f;
        }
        const std::int32_t r = context.stereo_eye ? row - height : row - context.ylow;
        if (stages.send_pixels && !stages.send_pixels(0, r, width, 1, records))
            fatal("Problem sending image data: %s\n", stages.link_error ? stages.link_error() : "");
        const bool any = !context.image_name.empty() || !context.matte_name.empty() ||
                         !context.depth_name.empty();
        if (any && stages.send_progress) {
            const std::int32_t done =
                context.stereo_eye ? 2 * height - row : context.ylow - row + height;
            if (!stages.send_progress('r', done, height))
                fatal("Problem sending status data: %s\n",
                      stages.link_error ? stages.link_error() : "");
        }
        if (!context.files_for_link) {
            ++context.rows_written;
            return;
        }
    }

    BrokenPipeScope scope;
    if (context.image != nullptr && !FBwrite_and_flush(context.image, bytes))
        fatal("Problem writing image file: %s\n",
              error_about(context.image_partial, context.image_name).c_str());
    if (context.matte != nullptr && !FBwrite_and_flush(context.matte, bytes))
        fatal("Problem writing mask file: %s\n",
              error_about(context.matte_partial, context.matte_name).c_str());
    const float* depths = depth != nullptr ? depth : context.no_depth.data();
    if (context.depth_fd >= 0) {
        encode_depth_row(depths, width, context.integer_depth, context.near, context.far,
                         context.depth_bytes.data());
        if (!write_fully(context.depth_fd, context.depth_bytes.data(),
                         static_cast<std::size_t>(width) * 4))
            depth_write_failure(errno);
    } else if (context.depth_block != nullptr) {
        std::memcpy(context.depth_block + static_cast<std::size_t>(context.rows_written) * width,
                    depths, static_cast<std::size_t>(width) * sizeof(float));
    }
    ++context.rows_written;
}

void close_outputs(OutputContext& context) {
    SKY_CHECK(context.open);
    if (context.filter)
        output_stages().post_filter_row(context, nullptr, nullptr, nullptr, nullptr, context.width,
                                        context.height);
    context.open = false;
    recycle_pending_rows(context);

    BrokenPipeScope scope;
    if (FBhandle* image = context.image) {
        context.image = nullptr;
        if (!FBclose(image))
            fatal("Problem writing image file: %s\n",
                  error_about(context.image_partial, context.image_name).c_str());
        complete(context.image_partial, context.image_name, "Problem writing image file");
        print_completed(context, context.image_name);
    }
    if (FBhandle* matte = context.matte) {
        context.matte = nullptr;
        if (!FBclose(matte))
            fatal("Problem writing mask file: %s\n",
                  error_about(context.matte_partial, context.matte_name).c_str());
        complete(context.matte_partial, context.matte_name, "Problem writing mask file");
        print_completed(context, context.matte_name);
    }
    if (context.depth_fd >= 0) {
        const int descriptor = context.depth_fd;
        context.depth_fd = -1;
        if (context.rows_written != context.height) {
            rptError("Problem writing depth file: %s: %d of %d rows written\n",
                     context.depth_name.c_str(), context.rows_written, context.height);
            fatal("Could not complete render due to write problems\n");
        }
        if (::close(descriptor) != 0) depth_write_failure(errno);
        complete(context.depth_partial, context.depth_name, "Problem writing depth file");
        print_completed(context, context.depth_name);
    }
}

}  // namespace sky
