// libFuzzer harness for the scene reader: any bytes go through the lexer,
// the grammar and the settings (finalisation, ray-trace limits and the
// transfer into render options); a scene that reads then has its declared
// values initialised and is evaluated at its first frame, with every
// subsystem's hooks installed, as the first frame of a render would be.
// Fatal errors are the program's answer to bad input, not failures: the exit
// hook turns them back into a return. Build and run: docs/fuzzing.md.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/options.h"
#include "platform/fatal.h"
#include "platform/input_stream.h"
#include "platform/report.h"
#include "run/subsystems.h"
#include "scene/camera.h"
#include "scene/dag.h"
#include "sdl/environment_transfer.h"
#include "sdl/reader.h"
#include "sdl/sdl_input.h"
#include "sdl/symbols.h"

namespace {

struct ExitRequest {
    int status;
};

[[noreturn]] void throw_exit(int status) {
    throw ExitRequest{status};
}
void discard(const char*) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool configured = [] {
        sky::set_exit_hook(throw_exit);
        sky::rptSetErrorCB(discard);
        sky::rptSetUserCB(discard);
        sky::install_subsystems();
        return true;
    }();
    (void)configured;

    sky::reset_front_end();
    // Scenes may loop forever by design; a bound keeps such a loop from
    // being reported as a hang of the reader.
    sky::set_loop_iteration_limit(100000);
    auto stream = sky::InputStream::from_memory(data, size, "fuzz input");
    sky::SdlInput input;
    input.bind(stream.get());
    try {
        if (input.probe()) return 0;  // binary scene data has a reader of its own
        if (sky::parse_scene(input) == 0) {
            sky::RenderOptions& options = sky::render_options();
            options = sky::RenderOptions{};
            options.quiet = 1;
            sky::RayTraceLimits limits;
            std::vector<sky::SubdivisionControl> control;
            sky::check_ray_trace_limits(limits, control);
            sky::transfer_environment(options, sky::kRendererCaster, sky::kModeFullRender);
            options.frame = options.startframe;
            sky::build_camera_entries();
            sky::publish_system_variables(options);
            sky::initialise_declared_values();
            sky::evaluate_frame_scene();
        }
    } catch (const ExitRequest&) {
    }
    try {
        sky::release_frame_objects();
        sky::clear_cameras();
    } catch (const ExitRequest&) {
    }
    return 0;
}
