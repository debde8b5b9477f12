// The post effects of a camera's finished image: depth of field, the glow,
// halo and flare of lights, and shader glow, applied to the files the
// outputs wrote.
//
// Whatever fails here, the image as rendered survives: the changed image
// is written under a hidden name and renamed over the rendered one only once
// it is complete, so a failed read, write or copy leaves the file as the
// render wrote it, with a message, and the run goes on.
#include "output/post_effects.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "base/frame_passes.h"
#include "base/options.h"
#include "output/complete_files.h"
#include "output/depth_file.h"
#include "output/depth_of_field.h"
#include "output/light_effects.h"
#include "output/output_context.h"
#include "output/partial_files.h"
#include "output/shader_glow.h"
#include "platform/files.h"
#include "platform/image/fb.h"
#include "platform/report.h"
#include "scene/camera.h"
#include "shading/light.h"
#include "shading/shader.h"

namespace sky {
namespace {

struct Post {
    const CameraRecord& camera;
    OutputContext& context;
    const RenderOptions& options;
    const OutputStages& stages;
    bool sixteen = false;
    int bytes_per_pixel = 4;
    bool talk = false;  // the progress messages: unless quiet, always in link mode
};

bool link(const Post& post) {
    return post.context.link_mode;
}

void send_progress(const Post& post, std::int32_t done, std::int32_t total) {
    if (link(post) && post.stages.send_progress) post.stages.send_progress('g', done, total);
}

// File row `r` (0 at the top) of the image as link records (five floats a
// pixel), numbered as the outputs number the rows they send.
void send_row(const Post& post, const std::uint8_t* row, std::int32_t r) {
    if (!link(post) || post.stages.send_pixels == nullptr) return;
    const OutputContext& c = post.context;
    const std::int32_t width = c.width;
    const float* depth =
        c.depth_block != nullptr ? c.depth_block + static_cast<std::size_t>(r) * width : nullptr;
    std::vector<float> records(static_cast<std::size_t>(width) * 5, 0.0f);
    for (std::int32_t x = 0; x < width; ++x) {
        for (int k = 0; k < 4; ++k)
            records[5 * x + k] = post.sixteen ? row[8 * x + 4 + k] + row[8 * x + k] / 256.0f
                                              : static_cast<float>(row[4 * x + k]);
        records[5 * x + 4] = depth != nullptr ? depth[x] : 0.0f;
    }
    const std::int32_t image_row = c.top_row - r;
    post.stages.send_pixels(0, c.stereo_eye ? image_row - c.height : image_row - c.ylow, width, 1,
                            records.data());
}

FBhandle* open_reading(const Post& post, const std::string& name) {
    FBhandle* handle = FBopen(name.c_str(), FB_READ_ROWS, FB_FORMAT_ANY, 0, 0, 0, 0, 0, 90.0);
    if (handle == nullptr) {
        rptError("Post effects: can't read %s: %s\n", name.c_str(), FBgetError());
        return nullptr;
    }
    if (handle->width != post.context.width || handle->height != post.context.height) {
        rptError("Post effects: %s is %dx%d, not the %dx%d rendered\n", name.c_str(), handle->width,
                 handle->height, post.context.width, post.context.height);
        FBclose(handle);
        return nullptr;
    }
    if (post.sixteen) FBtiff16_set(handle, 1);
    return handle;
}

// A file written under its hidden name, renamed over `name` when complete.
struct Rewrite {
    std::string name, partial;
    FBhandle* handle = nullptr;

    bool open(const Post& post, const std::string& target, int channels) {
        name = target;
        partial = partial_name(target);
        const std::string& path = partial.empty() ? target : partial;
        handle = FBopen(path.c_str(), FB_WRITE_ROWS, post.context.format, post.context.width,
                        post.context.height, channels, 0, 0, 90.0);
        if (handle == nullptr) {
            rptError("Post effects: can't write %s: %s\n", target.c_str(),
                     as_final(FBgetError(), partial, target).c_str());
            if (!partial.empty()) ::unlink(partial.c_str());
            return false;
        }
        if (!partial.empty()) hold_partial(partial);
        return true;
    }
    bool write(const std::uint8_t* row) {
        if (FBwrite(handle, row)) return true;
        rptError("Post effects: can't write %s: %s\n", name.c_str(),
                 as_final(FBgetError(), partial, name).c_str());
        return false;
    }
    // Closes; on success the file takes its name.
    bool finish(bool ok) {
        FBhandle* h = handle;
        handle = nullptr;
        if (h != nullptr && !FBclose(h) && ok) {
            rptError("Post effects: can't write %s: %s\n", name.c_str(),
                     as_final(FBgetError(), partial, name).c_str());
            ok = false;
        }
        if (partial.empty()) return ok;
        if (!ok) {
            drop_partial(partial);
            return false;
        }
        if (!complete_partial(partial, name)) {
            rptError("Post effects: can't write %s: %s\n", name.c_str(), std::strerror(errno));
            return false;
        }
        return true;
    }
    ~Rewrite() {
        if (handle != nullptr) finish(false);
    }
};

int image_channels(const Post& post) {
    const bool matte_wanted = !post.camera.matte_name.empty();
    const bool matte_in_image = matte_rides_in_image(post.context.format);
    return (matte_in_image && matte_wanted) || post.context.format == FB_FORMAT_RLA ? 4 : 3;
}

// Columns (of the window) and whether the image row y takes glow.
struct GlowSpan {
    std::int32_t first = 0, last = 0;
};
GlowSpan glow_columns(const Post& post) {
    GlowSpan span{0, post.context.width - 1};
    if (post.options.ignore_filmgate) return span;
    const float* v = post.camera.viewport;
    span.first =
        std::max(span.first, static_cast<std::int32_t>(std::ceil(v[0])) - post.context.xleft);
    span.last =
        std::min(span.last, static_cast<std::int32_t>(std::floor(v[1])) - post.context.xleft);
    return span;
}
bool row_takes_glow(const Post& post, std::int32_t y) {
    if (post.options.ignore_filmgate) return true;
    const float* v = post.camera.viewport;
    return y >= v[2] && y <= v[3];
}

// The image row of file row r (0 at the top): with fields every other row.
std::int32_t image_row(const Post& post, std::int32_t r) {
    const OutputContext& c = post.context;
    const std::int32_t from_bottom = c.height - 1 - r;
    return c.ylow + (c.fields ? 2 * from_bottom : from_bottom);
}

void merge_matte_row(const Post& post, std::uint8_t* row, const std::uint8_t* matte) {
    for (std::int32_t x = 0; x < post.context.width; ++x) {
        if (post.sixteen) {
            row[8 * x + 3] = matte[8 * x + 3];
            row[8 * x + 7] = matte[8 * x + 7];
        } else {
            row[4 * x + 3] = matte[4 * x + 3];
        }
    }
}

// ---- Depth of field ----------------------------------------------------

// The depths of the camera's depth file or memory block, as eye distances.
// Returns false (with "No depth file." for a wrong magic) to skip the effect.
struct DepthSource {
    std::vector<float> depth;
    int fd = -1;
    ~DepthSource() {
        if (fd >= 0) ::close(fd);
    }
};

bool read_depths(const Post& post, DepthSource& source) {
    const OutputContext& c = post.context;
    const std::size_t count = static_cast<std::size_t>(c.width) * c.height;
    if (c.depth_block != nullptr) {
        source.depth.assign(c.depth_block, c.depth_block + count);
        return true;
    }
    if (c.depth_name.empty()) return false;
    source.fd = ::open(c.depth_name.c_str(), O_RDWR | O_CLOEXEC);
    if (source.fd < 0) return false;
    std::uint8_t header[kDepthHeaderSize];
    if (::pread(source.fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header))
        return false;
    const std::uint32_t magic =
        header[0] | header[1] << 8 | header[2] << 16 | static_cast<std::uint32_t>(header[3]) << 24;
    const int width = header[4] | header[5] << 8, height = header[6] | header[7] << 8;
    if (magic != kDepthMagicFloat && magic != kDepthMagicInteger) {
        rptError("No depth file.\n");
        return false;
    }
    if (width != c.width || height != c.height) {
        rptError("No depth file.\n");
        return false;
    }
    std::vector<std::uint8_t> bytes(count * 4);
    if (::pread(source.fd, bytes.data(), bytes.size(), kDepthHeaderSize) !=
        static_cast<ssize_t>(bytes.size()))
        return false;
    source.depth.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t bits = bytes[4 * i] | bytes[4 * i + 1] << 8 | bytes[4 * i + 2] << 16 |
                                   static_cast<std::uint32_t>(bytes[4 * i + 3]) << 24;
        if (magic == kDepthMagicInteger) {
            source.depth[i] = static_cast<float>(c.far - static_cast<std::int32_t>(bits) *
                                                             (c.far - c.near) / 2147483647.0);
        } else {
            std::memcpy(&source.depth[i], &bits, 4);
        }
    }
    return true;
}

// The blend weights go back where the depths were.
void store_weights(const Post& post, const DepthSource& source) {
    const OutputContext& c = post.context;
    const std::size_t count = source.depth.size();
    if (c.depth_block != nullptr) {
        std::memcpy(c.depth_block, source.depth.data(), count * sizeof(float));
        return;
    }
    std::vector<std::uint8_t> bytes(count * 4);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t bits;
        std::memcpy(&bits, &source.depth[i], 4);
        for (int b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<std::uint8_t>(bits >> (8 * b));
    }
    if (::pwrite(source.fd, bytes.data(), bytes.size(), kDepthHeaderSize) !=
        static_cast<ssize_t>(bytes.size()))
        rptError("Problem writing depth file: %s\n", std::strerror(errno));
}

bool whole_image_effects(Post& post, bool glow, bool light) {
    OutputContext& c = post.context;
    const std::size_t row_bytes = static_cast<std::size_t>(c.width) * post.bytes_per_pixel;
    std::vector<std::uint8_t> image(row_bytes * c.height);
    {
        FBhandle* in = open_reading(post, c.image_name);
        if (in == nullptr) return false;
        bool ok = true;
        for (std::int32_t r = 0; r < c.height && ok; ++r)
            ok = FBread(in, image.data() + r * row_bytes) == c.width;
        if (!ok) rptError("Post effects: can't read %s: %s\n", c.image_name.c_str(), FBgetError());
        FBclose(in);
        if (!ok) return false;
    }
    if (!c.matte_name.empty()) {
        if (FBhandle* matte = open_reading(post, c.matte_name)) {
            std::vector<std::uint8_t> row(row_bytes);
            for (std::int32_t r = 0; r < c.height; ++r) {
                if (FBread(matte, row.data()) != c.width) break;
                merge_matte_row(post, image.data() + r * row_bytes, row.data());
            }
            FBclose(matte);
        }
    }
    if (post.talk) rptUser("Adding depth of field...\n");
    {
        DepthSource source;
        if (read_depths(post, source)) {
            ImageBytes bytes{c.width, c.height, post.sixteen, image.data()};
            if (apply_depth_of_field(bytes, source.depth.data(), post.camera.focal_distance,
                                     blur_scale(post.camera, c.width)))
                store_weights(post, source);
        }
    }
    send_progress(post, 1, 4);
    const GlowSpan span = glow_columns(post);
    if (light) {
        if (post.talk) rptUser("   Adding Light glow...\n");
        for (std::int32_t r = 0; r < c.height; ++r) {
            const std::int32_t y = image_row(post, r);
            if (row_takes_glow(post, y))
                apply_light_effects_row(image.data() + r * row_bytes, c.width, post.sixteen,
                                        y - c.ylow, span.first, span.last);
        }
        send_progress(post, 2, 4);
    }
    if (glow) {
        if (post.talk) rptUser("   Adding Shader glow...\n");
        if (compute_shader_glow()) {
            for (std::int32_t r = 0; r < c.height; ++r) {
                const std::int32_t y = image_row(post, r);
                if (row_takes_glow(post, y))
                    apply_shader_glow_row(image.data() + r * row_bytes, c.width, post.sixteen, y,
                                          span.first, span.last);
            }
        }
        send_progress(post, 3, 4);
    }
    Rewrite out, matte_out;
    bool ok = out.open(post, c.image_name, image_channels(post));
    if (ok && !c.matte_name.empty()) ok = matte_out.open(post, c.matte_name, 1);
    for (std::int32_t r = 0; r < c.height && ok; ++r) {
        ok = out.write(image.data() + r * row_bytes);
        if (ok && matte_out.handle) ok = matte_out.write(image.data() + r * row_bytes);
    }
    const bool image_done = out.finish(ok);
    const bool matte_done = matte_out.handle == nullptr || matte_out.finish(image_done);
    if (!(image_done && matte_done)) return false;
    send_progress(post, 4, 4);
    for (std::int32_t r = 0; r < c.height; ++r) send_row(post, image.data() + r * row_bytes, r);
    return true;
}

// ---- Glow on rows ------------------------------------------------------

bool copy_to_noglow(const std::string& name) {
    if (oxFileCopy(name, name + ".ng")) return true;
    rptError("%s\n", std::strerror(errno));
    return false;
}

bool glow_rows(Post& post, bool glow, bool light) {
    OutputContext& c = post.context;
    const std::string image_ng = c.image_name + ".ng";
    const std::string matte_ng = c.matte_name.empty() ? "" : c.matte_name + ".ng";
    if (!copy_to_noglow(c.image_name)) return false;
    if (!matte_ng.empty() && !copy_to_noglow(c.matte_name)) {
        oxFileDelete(image_ng);
        return false;
    }
    const bool drawn = glow && compute_shader_glow();
    bool ok = true;
    FBhandle* in = open_reading(post, image_ng);
    FBhandle* matte_in = nullptr;
    ok = in != nullptr;
    if (ok && !matte_ng.empty()) ok = (matte_in = open_reading(post, matte_ng)) != nullptr;
    Rewrite out, matte_out;
    if (ok) ok = out.open(post, c.image_name, image_channels(post));
    if (ok && matte_in) ok = matte_out.open(post, c.matte_name, 1);
    const std::size_t row_bytes = static_cast<std::size_t>(c.width) * post.bytes_per_pixel;
    std::vector<std::uint8_t> row(row_bytes), matte(row_bytes);
    const GlowSpan span = glow_columns(post);
    for (std::int32_t r = 0; r < c.height && ok; ++r) {
        if (FBread(in, row.data()) != c.width ||
            (matte_in && FBread(matte_in, matte.data()) != c.width)) {
            rptError("Post effects: can't read %s: %s\n", c.image_name.c_str(), FBgetError());
            ok = false;
            break;
        }
        if (matte_in) merge_matte_row(post, row.data(), matte.data());
        const std::int32_t y = image_row(post, r);
        if (row_takes_glow(post, y)) {
            if (light)
                apply_light_effects_row(row.data(), c.width, post.sixteen, y - c.ylow, span.first,
                                        span.last);
            if (drawn)
                apply_shader_glow_row(row.data(), c.width, post.sixteen, y, span.first, span.last);
        }
        ok = out.write(row.data());
        if (ok && matte_out.handle) ok = matte_out.write(row.data());
        send_progress(post, r + 1, post.options.yresolution);
        send_row(post, row.data(), r);
    }
    FBclose(in);
    FBclose(matte_in);
    const bool image_done = out.handle != nullptr ? out.finish(ok) : false;
    const bool matte_done = matte_out.handle == nullptr || matte_out.finish(image_done);
    ok = ok && image_done && matte_done;
    if (!post.options.keep_noglow || link(post) || !ok) {
        oxFileDelete(image_ng);
        if (!matte_ng.empty()) oxFileDelete(matte_ng);
    }
    return ok;
}

bool glow_will_run(const CameraRecord&) {
    return Ar_shader_glow_on() || Ar_light_effects_active();
}

void set_up_glow() {
    set_up_shader_glow();
    set_up_light_effects();
}

void camera_post_effects(const CameraRecord& camera) {
    post_effects(camera_output(), camera);
}

}  // namespace

bool post_effects(OutputContext& context, const CameraRecord& camera) {
    const RenderOptions& options = render_options();
    const bool glow = shader_glow_active();
    const bool light = light_effects_active();
    const bool depth_of_field = camera.depth_of_field != 0;
    if (!glow && !light && !depth_of_field) return true;
    Post post{camera, context, options, output_stages()};
    post.sixteen = context.conversion.sixteen;
    post.bytes_per_pixel = post.sixteen ? 8 : 4;
    post.talk = !options.quiet || context.link_mode;
    bool ok = true;
    if (context.image_name.empty() || (context.link_mode && !context.files_for_link)) {
        // Only a matte or a depth file: nothing to blur or glow.
        ok = true;
    } else {
        if (post.talk) rptUser("Post Processing Image...\n");
        if (link(post) && post.stages.send_file)
            post.stages.send_file(camera.image_name.c_str(), !camera.image_name.empty(),
                                  !camera.depth_name.empty(), !camera.matte_name.empty());
        send_progress(post, 0, options.yresolution);
        if (light)
            place_light_effects(camera, context.xleft, context.ylow, context.width,
                                context.yhigh - context.ylow + 1);
        if (depth_of_field) {
            // The whole image in memory: an image too large for it keeps
            // its rendered bytes.
            try {
                ok = whole_image_effects(post, glow, light);
            } catch (const std::bad_alloc&) {
                rptError("No space left for depth of field\n");
                ok = false;
            }
        } else {
            ok = glow_rows(post, glow, light);
        }
    }
    release_depth_block(context);
    finish_shader_glow();
    finish_light_effects();
    return ok;
}

void install_post_effects() {
    FramePasses& passes = frame_passes();
    passes.set_up_glow = set_up_glow;
    passes.post_effects = camera_post_effects;
    output_stages().glow_will_run = glow_will_run;
}

}  // namespace sky
