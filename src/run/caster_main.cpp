// Program entry and the caster's main routine.
//
// Floating-point exceptions stay masked: a trap on division by zero would turn
// one harmless infinity into the loss of a whole render (and optimising
// compilers may divide speculatively). Divisions that can meet zero are
// guarded where they are made; the sanitizer build finds any that are not.
#include "run/caster_main.h"

#include <cstdio>

#include "base/options.h"
#include "platform/app.h"
#include "platform/fatal.h"
#include "platform/report.h"
#include "platform/stopwatch.h"
#include "run/frame_loop.h"
#include "run/option_pass.h"
#include "run/signals.h"
#include "run/startup.h"

namespace sky {

int program_entry(int argc, char* argv[]) {
    APP_setProgramName(argc > 0 ? argv[0] : nullptr);
    end_uncaught_out_of_memory();
    startup_state().executable_path = find_executable(argc > 0 ? argv[0] : nullptr);
    startup_state().load_image_module_early = true;
    rptSetUserCB(write_to_stdout);
    return caster_main(argc, argv);
}

int caster_main(int argc, char* argv[]) {
    const std::int64_t run_start = wall_seconds();

    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (read_startup_switches().catch_signals) install_signal_handler();
    rptUser("%s, Version %s (%s)\n", kProductTitle, kVersionText, APP_getProgramName());

    startup(argc, argv, kRendererCaster, kModeFullRender);
    return frame_loop(run_start);
}

}  // namespace sky
