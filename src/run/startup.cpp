// The start-up routine: environment switches, the first scan, the choice of
// input, reading the scene, and the render options that the command line
// lays over the scene's settings.
#include "run/startup.h"

#include <cstdlib>
#include <cstring>

#include "platform/fatal.h"
#include "platform/files.h"
#include "platform/image/fb.h"
#include "platform/input_stream.h"
#include "platform/report.h"
#include "platform/stopwatch.h"
#include "run/option_pass.h"
#include "run/options.h"
#include "sdl/environment.h"
#include "sdl/reader.h"
#include "sdl/sdl_input.h"

namespace sky {
namespace {

StartupSwitches switches;

bool is_set(const char* variable) {
    return std::getenv(variable) != nullptr;
}

// Link mode: the scene comes from the modelling application. Connecting is
// the link's job; until it exists every connection attempt fails.
std::unique_ptr<InputStream> connect_to_modeller(const std::string& address, std::string& error) {
    error = "the link to the modelling application is not available in this build";
    (void)address;
    return nullptr;
}

void choose_input(int argc, char* argv[], const FirstScan& scan) {
    StartupState& state = startup_state();
    if (scan.positional < argc) {
        std::string argument = argv[scan.positional];
        state.input_name = argument;
        std::string error;
        if (scan.link_mode) {
            state.input = connect_to_modeller(argument, error);
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

// The run's settings as the scene gives them, before the command line.
void transfer_environment(RenderOptions& options, int renderer_kind, int mode) {
    const EnvironmentSettings& env = environment();
    options.xresolution = env.x_resolution;
    options.yresolution = env.y_resolution;
    options.xleft = env.xleft;
    options.xright = env.xright;
    options.ylow = env.ylow;
    options.yhigh = env.yhigh;
    options.aalevelmax = env.aalevelmax;
    options.aalevelmin = env.aalevelmin;
    options.aathreshold = env.aathreshold;
    options.rt_shadow_offset = env.rt_shadow_offset;
    options.grid_cache = env.grid_cache;
    options.startframe = env.startframe;
    options.endframe = env.endframe;
    options.byframe = env.byframe;
    options.extensionsize = env.extensionsize;
    options.extensionformat = env.extensionformat;
    options.version = env.version;
    options.show_particles = env.show_particles;
    options.simulation_substeps = env.simulation_substeps;
    options.simulation_frames_per_second = env.simulation_frames_per_second;
    options.texture_cache_size = env.texture_cache_size;
    options.texture_cache_disk_limit = env.texture_cache_disk_limit;
    options.background_ylow = options.ylow;
    options.background_yhigh = options.yhigh;
    if (env.up_axis == 2)
        options.y_up = true;
    else if (env.up_axis == 3)
        options.y_up = false;
    else
        fatal("ERROR: Bad up axis.\n");
    // Scenes before 9.5 were made for the classic subdivision.
    options.tessellator = !(options.version < 9.5f);
    options.saved_geometry = false;
    options.colour_map_file.clear();
    options.quantize_output_file.clear();
    options.renderer_kind = renderer_kind;
    options.mode = mode;
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
}

void startup(int argc, char* argv[], int renderer_kind, int mode) {
    switches = read_startup_switches();

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

    finalise_environment();
    transfer_environment(options, renderer_kind, mode);

    SecondScan second = second_scan(argc, argv, options);
    finish_window(options, second);

    if (options.delete_input && !state.input_name.empty()) oxFileDelete(state.input_name);

    options.animation = options.startframe != options.endframe;
    if (!second.startextension_given)
        options.startextension = static_cast<std::int32_t>(options.startframe);
    if (!second.byextension_given) {
        options.byextension = static_cast<std::int32_t>(options.byframe);
        if (options.byextension == 0) options.byextension = 1;
    }
    options.extension = options.startextension;
    options.frame = options.startframe;

    Rr_gamma_value = options.gamma;
    Rr_gamma_correction_on = options.gamma_correction_on;
}

}  // namespace sky
