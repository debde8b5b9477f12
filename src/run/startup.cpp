// The start-up routine: environment switches, the first scan, the choice of
// input, reading the scene, and the render options that the command line
// lays over the scene's settings.
#include "run/startup.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/options.h"
#include "base/workers.h"
#include "geometry/displacement.h"
#include "geometry/geometry_evaluation.h"
#include "platform/fatal.h"
#include "platform/files.h"
#include "platform/image/fb.h"
#include "platform/image/oiio_backend.h"
#include "platform/input_stream.h"
#include "platform/memory.h"
#include "platform/report.h"
#include "platform/stopwatch.h"
#include "run/farm_frames.h"
#include "run/link.h"
#include "run/option_pass.h"
#include "run/stages.h"
#include "run/subsystems.h"
#include "scene/camera.h"
#include "sdl/builder.h"
#include "sdl/environment.h"
#include "sdl/environment_transfer.h"
#include "sdl/expr.h"
#include "sdl/lexer.h"
#include "sdl/reader.h"
#include "sdl/scene_description.h"
#include "sdl/scene_packets.h"
#include "sdl/sdl_input.h"
#include "sdl/symbols.h"
#include "shading/shader.h"
#include "texture/texture.h"

namespace sky {
namespace {

// A background read from an image file.
bool scene_has_backdrop() {
    const SceneDescription& scene = scene_description();
    if (scene.background_form == CLAUSE_BACKGROUND_FILE) return true;
    if (scene.background_form != CLAUSE_BACKGROUND_BODY || scene.background == nullptr)
        return false;
    for (const BodyItem& item : scene.background->items) {
        std::string_view name = item.name ? item.name : "";
        if (name == "backdrop" || name == "image") return true;
    }
    return false;
}

StartupSwitches switches;

float evaluate_setting(Expr* expression, float default_value) {
    float value = 0.0f;
    if (!AR_evaluate(SDL_SCALAR, &value, expression, &default_value)) exit_process(1);
    return value;
}

bool is_set(const char* variable) {
    return std::getenv(variable) != nullptr;
}

void choose_input(int argc, char* argv[], const FirstScan& scan) {
    StartupState& state = startup_state();
    if (scan.positional < argc) {
        std::string argument = argv[scan.positional];
        state.input_name = argument;
        std::string error;
        if (scan.link_mode) {
            state.input = link_connect(argument, error);
            if (!state.input)
                fatal("Error: cannot connect to %s: %s\n", argument.c_str(), error.c_str());
        } else {
            state.input = InputStream::open_file(argument, error);
            if (!state.input) {
                if (!error.empty())
                    fatal("Error: Can't open input %s\n(%s)\n", argument.c_str(), error.c_str());
                fatal("Error: Can't open input %s\n", argument.c_str());
            }
        }
    } else if (scan.link_mode) {
        fatal("Error: cannot render from Quorl without address/port\n");
    }
}

}  // namespace

StartupSwitches read_startup_switches() {
    StartupSwitches read;
    read.illuminated_shadows_only = is_set("QUORL_ILLUMINATED_SHADOWS_ONLY");
    read.switch_scanline_sense = is_set("QUORL_SWITCH_SCANLINES_EVEN_ODD_SENSE");
    read.fixed_displacement = is_set("FIXED_DISPLACEMENT") ? 1.0f : 0.0f;
    read.lightfog_blobby = is_set("QUORL_LIGHTFOG_BLOBBY");
    read.catch_signals = is_set("RR_CATCHSIG");
    return read;
}

const StartupSwitches& startup_switches() {
    return switches;
}

StartupState& startup_state() {
    static StartupState state;
    return state;
}

void report_elapsed_time(long long seconds, const char* label) {
    if (seconds < 0) seconds = 0;
    rptUser("Elapsed time for the %s (hh:mm:ss): %02d:%02d:%02d\n", label,
            static_cast<int>(seconds / 3600), static_cast<int>(seconds % 3600 / 60),
            static_cast<int>(seconds % 60));
}

void end_of_run() {
    if (!render_options().quiet) rptUser("done\n");
    if (link_connected()) link_close();
}

void startup(int argc, char* argv[], int renderer_kind, int mode) {
    return_large_blocks();
    switches = read_startup_switches();
    set_fixed_displacement(switches.fixed_displacement);
    register_predefined_symbols();
    install_subsystems();

    RenderOptions& options = render_options();
    options.spot_depth = 0;
    options.spot_memory = false;
    options.texture_map_megabytes = 0;
    options.mode = mode;
    options.renderer_kind = renderer_kind;
    options.tile_rows = 15;
    options.processors = -1;

    FirstScan scan = first_scan(argc, argv);
    choose_input(argc, argv, scan);
    // A run told to use one processor starts no thread besides its own.
    const std::int32_t processors = expected_worker_count(scan.processors);
    set_parse_processors(processors);

    SceneDescription& scene = scene_description();
    scene.stages.assign(1, StageRecord{});  // the main scene's own entry
    reset_environment();

    std::int64_t parse_start = wall_seconds();
    StartupState& state = startup_state();
    if (!state.input) state.input = InputStream::standard_input();

    SdlInput sdl_input;
    sdl_input.bind(state.input.get());
    if (sdl_input.probe() && !read_binary_scene_data(sdl_input))
        fatal("Error: cannot read SDL binary data\n");

    int errors = parse_scene(sdl_input);
    report_elapsed_time(wall_seconds() - parse_start, "parse");
    if (!scan.link_mode) state.input.reset();
    if (errors > 0) exit_process(errors);

    check_ray_trace_limits(ray_trace_limits(), state.subdivision_control);
    SceneGiven given = transfer_environment(options, renderer_kind, mode);
    // Images of formats we do not read ourselves are read through the image
    // module: when the scene may read some, load it while the first frame is
    // prepared (with one processor, when first needed: loading on a thread
    // of its own would be a second). Every format the renderer writes is
    // written without it.
    if (state.load_image_module_early && processors > 1 &&
        (oiio_module_wanted() || scene_has_backdrop()))
        start_loading_oiio_module();
    expression_context().byframe = options.byframe;

    SecondScan second = second_scan(argc, argv, options);
    finish_window(options, second);
    if (second.scale.x_given || second.scale.y_given)
        scene_resolution_tolerance() =
            resolution_tolerance(std::max(options.xresolution, options.yresolution));

    if (options.delete_input && !state.input_name.empty()) oxFileDelete(state.input_name);

    if (!given.animation)
        options.animation = options.startframe != options.endframe || farm_chunk_of_animation();
    if (!given.startextension && !second.startextension_given)
        options.startextension = static_cast<std::int32_t>(options.startframe);
    if (!given.byextension && !second.byextension_given) {
        options.byextension = static_cast<std::int32_t>(options.byframe);
        if (options.byextension == 0) options.byextension = 1;
    }
    options.extension = options.startextension;
    options.frame = options.startframe;
    expression_context().byframe = options.byframe;

    read_stage_files(options.link_mode);

    build_camera_entries();
    apply_command_line_to_cameras(options);
    camera_globals().resolution_scale_x = second.scale.x;
    camera_globals().resolution_scale_y = second.scale.y;

    publish_system_variables(options);

    options.stereo_eye_offset = evaluate_setting(environment().stereo_eye_offset, 0.5f);
    if (options.fields) prepare_field_cameras(options);
    if (options.stereo) add_stereo_cameras();

    if (!options.quiet) {
        rptUser("Rendering x from %d to %d,", options.xleft, options.xright);
        rptUser("and y from %d to %d\n", options.ylow, options.yhigh);
        rptUser("anti-aliasing to minimum of %d and maximum of %d levels,\n", options.aalevelmin,
                options.aalevelmax);
        rptUser("              with a threshold of %3.1f\n", options.aathreshold);
        if (options.post_filter) rptUser("Post filter on.\n");
    }
    if (options.fields && options.preview_ray_trace) {
        options.preview_ray_trace = false;
        if (!options.quiet) rptUser("Turning off the raytrace preview due to fields.\n");
    }
    decide_camera_motion_blur(options);
    if (options.motion_blur && options.saved_geometry) {
        options.saved_geometry = false;
        if (!options.quiet) rptUser("Turning saved geometry off due to motion blur.\n");
    }

    // How many doublings of the sample count the anti-aliasing levels span.
    double a = options.aalevelmax > 1 ? std::log(static_cast<double>(options.aalevelmax)) : 0.0;
    double b = options.aalevelmin > 1 ? std::log(static_cast<double>(options.aalevelmin)) : 0.0;
    options.level_span = static_cast<float>((a + b) / std::log(4.0) + 1.0);
    options.level_span_inverse = 1.0f / options.level_span;

    if (options.spot_memory && !options.link_mode)
        rptError("\t Remark: Keeping shadow maps in memory -\n\t %s",
                 "Animation in spotlights will not have animated shadows\n");
    if (options.link_mode && link_connected()) link_send_progress('p', 0, 1);
    load_packet_images();

    Rr_gamma_value = options.gamma;
    Rr_gamma_correction_on = options.gamma_correction_on;
}

}  // namespace sky
