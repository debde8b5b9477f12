// The start-up routine: everything from the environment variables to the
// final render options, before the workers start and the frames are rendered.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/options.h"

namespace sky {

class InputStream;

// Switches read from the process environment at start-up.
struct StartupSwitches {
    bool illuminated_shadows_only = false;  // QUORL_ILLUMINATED_SHADOWS_ONLY
    bool switch_scanline_sense = false;     // QUORL_SWITCH_SCANLINES_EVEN_ODD_SENSE
    float fixed_displacement = 0.0f;        // 1 with FIXED_DISPLACEMENT
    bool lightfog_blobby = false;           // QUORL_LIGHTFOG_BLOBBY
    bool catch_signals = false;             // RR_CATCHSIG
};

StartupSwitches read_startup_switches();
const StartupSwitches& startup_switches();

// Process-wide start-up data.
struct StartupState {
    std::string executable_path;         // argv[0] looked up along PATH
    std::string input_name;              // the positional argument, empty for standard input
    std::unique_ptr<InputStream> input;  // kept open in link mode only
    bool diagnostics_printed = false;
    // The program (not a test) loads the image module while it parses.
    bool load_image_module_early = false;
    std::vector<SubdivisionControl> subdivision_control;
};

StartupState& startup_state();

// Steps of the start-up routine; exits the process on every failure.
void startup(int argc, char* argv[], int renderer_kind, int mode);

// Prints "Elapsed time for the %s (hh:mm:ss): %02d:%02d:%02d\n", even when quiet.
void report_elapsed_time(long long seconds, const char* label);

// "done" unless quiet; in link mode the link is then closed.
void end_of_run();

}  // namespace sky
