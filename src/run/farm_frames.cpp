// The farm's listing and resumption of frames. Both go through the cameras
// the frame loop would render, so the names are exactly the ones a render
// writes, whatever the scene's cameras, fields, stereo and name settings.
#include "run/farm_frames.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/options.h"
#include "output/complete_files.h"
#include "output/output_context.h"
#include "platform/fatal.h"
#include "platform/report.h"
#include "scene/camera.h"

namespace sky {
namespace {

struct FarmFrames {
    std::string list_name;
    std::FILE* list = nullptr;
    bool resume = false;
    std::string suffix;
};

FarmFrames& farm() {
    static FarmFrames state;
    return state;
}

bool set(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

void write_list(const char* format, ...) __attribute__((format(printf, 1, 2)));
void write_list(const char* format, ...) {
    FarmFrames& state = farm();
    va_list args;
    va_start(args, format);
    const int written = std::vfprintf(state.list, format, args);
    va_end(args);
    if (written < 0)
        fatal("Can't write the output list %s: %s\n", state.list_name.c_str(),
              std::strerror(errno));
}

// Every file of the frame's cameras.
std::vector<CameraFile> frame_files(int parity) {
    std::vector<CameraFile> files;
    for (CameraEntry* camera = select_next_camera(nullptr, parity); camera;
         camera = select_next_camera(camera, parity))
        for (CameraFile& file : camera_files(*camera->evaluated)) files.push_back(file);
    return files;
}

// Why a frame cannot be cut into windows: effects that read the whole image.
void list_whole_image_effects(int parity) {
    const RenderOptions& options = render_options();
    if (options.post_filter) write_list("whole\tthe post filter\n");
    const OutputStages& stages = output_stages();
    for (CameraEntry* camera = select_next_camera(nullptr, parity); camera;
         camera = select_next_camera(camera, parity)) {
        if (camera->evaluated->depth_of_field) write_list("whole\tdepth of field\n");
        if (stages.glow_will_run && stages.glow_will_run(*camera->evaluated))
            write_list("whole\tglow\n");
    }
}

bool all_complete(const std::vector<CameraFile>& files) {
    if (files.empty()) return false;
    for (const CameraFile& file : files)
        if (camera_file_state(file) != FileState::complete) return false;
    return true;
}

void print_kept(const std::vector<CameraFile>& files) {
    for (const CameraFile& file : files) {
        if (render_options().quiet) rptUser("    ");
        rptUser("Kept complete %s file\n", file.name.c_str());
    }
}

}  // namespace

bool farm_chunk_of_animation() {
    return set("SKYLOOM_ANIMATION");
}

void start_farm_frames() {
    FarmFrames& state = farm();
    const RenderOptions& options = render_options();
    state.resume = set("SKYLOOM_RESUME");
    if (const char* suffix = std::getenv("SKYLOOM_OUTPUT_SUFFIX")) state.suffix = suffix;
    const char* list = std::getenv("SKYLOOM_LIST_OUTPUTS");
    if (list == nullptr || *list == '\0') return;
    state.list_name = list;
    state.list = std::fopen(list, "w");
    if (state.list == nullptr)
        fatal("Can't create the output list %s: %s\n", list, std::strerror(errno));
    write_list("window\t%d\t%d\t%d\t%d\t%d\n", options.xleft, options.xright, options.ylow,
               options.yhigh, options.fields ? 1 : 0);
}

bool farm_frame_done(double frame, std::int32_t extension, int parity) {
    FarmFrames& state = farm();
    if (state.list != nullptr) {
        write_list("frame\t%.9g\t%d\t%d\n", frame, extension, parity);
        for (const CameraFile& file : frame_files(parity))
            write_list("file\t%s\t%s\t%s\n", file.kind, file_state_name(camera_file_state(file)),
                       file.name.c_str());
        list_whole_image_effects(parity);
        return true;
    }
    if (!state.resume) return false;
    std::vector<CameraFile> files = frame_files(parity);
    if (!state.suffix.empty()) {
        // The window's names end in the suffix; the assembled frame's do not.
        std::vector<CameraFile> assembled = files;
        for (CameraFile& file : assembled)
            file.name.resize(file.name.size() - std::min(file.name.size(), state.suffix.size()));
        if (all_complete(assembled)) {
            print_kept(assembled);
            return true;
        }
    }
    if (!all_complete(files)) return false;
    print_kept(files);
    return true;
}

void finish_farm_frames() {
    FarmFrames& state = farm();
    if (state.list == nullptr) return;
    const bool failed = std::ferror(state.list) != 0;
    if (std::fclose(state.list) != 0 || failed)
        fatal("Can't write the output list %s: %s\n", state.list_name.c_str(),
              std::strerror(errno));
    state.list = nullptr;
}

}  // namespace sky
