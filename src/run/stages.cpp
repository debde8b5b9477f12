// Stage files. A stage can take over the cameras (`use_camera`) and the
// background (`use_background`); its environment section is read into a
// fresh settings record but never transferred: the render options stay as
// the main scene and the command line made them.
#include "run/stages.h"

#include <set>
#include <string>

#include "platform/fatal.h"
#include "platform/input_stream.h"
#include "platform/report.h"
#include "run/startup.h"
#include "sdl/environment.h"
#include "sdl/expr.h"
#include "sdl/reader.h"
#include "sdl/scene_description.h"
#include "sdl/sdl_input.h"

namespace sky {

void read_stage_files(bool link_mode) {
    SceneDescription& scene = scene_description();
    std::set<std::string> read;  // a stage that names itself, directly or not, is read once
    // Stage files may list stages of their own: the list grows as it is read.
    for (std::size_t i = 1; i < scene.stages.size(); ++i) {
        if (scene.stages[i].file == nullptr) continue;
        std::string file;
        if (!AR_evaluate(SDL_FILENAME, &file, scene.stages[i].file, nullptr))
            fatal("Can't evaluate stage filename\n");
        scene.stages[i].evaluated_file = file;
        if (!read.insert(file).second) {
            rptWarning("stage file %s is already read; it is not read again\n", file.c_str());
            // A stage not read brings no cameras and takes none away.
            scene.stages[i].camera = false;
            scene.stages[i].background = false;
            continue;
        }

        std::unique_ptr<InputStream> own_stream;
        InputStream* stream = startup_state().input.get();
        if (!link_mode) {
            std::string error;
            // A device or FIFO as a stage may never end (/dev/zero) or never
            // start (a FIFO nobody writes): an unattended run would wait for
            // ever, so only regular files are read.
            own_stream = InputStream::open_file(file, error, /*regular_only=*/true);
            if (!own_stream) {
                if (error == "not a regular file")
                    rptWarning("%s is not a regular file", file.c_str());
                fatal("Can't open stage file %s\n", file.c_str());
            }
            stream = own_stream.get();
        }

        float use_camera = 0.0f, use_background = 0.0f, no = 0.0f;
        if (!AR_evaluate(SDL_SCALAR, &use_camera, scene.stages[i].use_camera, &no))
            fatal("System error in stage camera preparse\n");
        scene.stages[i].camera = static_cast<int>(use_camera) != 0;
        if (!AR_evaluate(SDL_SCALAR, &use_background, scene.stages[i].use_background, &no))
            fatal("System error in stage background preparse\n");
        scene.stages[i].background = static_cast<int>(use_background) != 0;
        if (scene.stages[i].background) {
            scene.background = nullptr;
            scene.background_value = nullptr;
        }
        scene.accept_background = scene.stages[i].background;

        reset_environment();
        SdlInput input;
        input.bind(stream);
        if (input.probe() && !read_binary_scene_data(input))
            fatal("Error: cannot read SDL binary data\n");
        Statement* before = scene.model_last;
        scene.reading_stage = static_cast<std::int32_t>(i);
        int errors = parse_scene(input);
        scene.reading_stage = 0;
        // The stage's own statements, for the cameras' choice between the
        // main scene's cameras and the stage's.
        scene.stages[i].model_first = before ? before->next : scene.model;
        own_stream.reset();
        if (errors > 0) exit_process(errors);
    }
    scene.accept_background = true;
}

}  // namespace sky
