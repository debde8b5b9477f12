// The program entry and the caster's main routine up to the frame loop.
#pragma once

namespace sky {

// main(): program identity, report channels, then the caster's main routine.
int program_entry(int argc, char* argv[]);

// The caster's main routine: banner, start-up, workers and the frame loop.
int caster_main(int argc, char* argv[]);

}  // namespace sky
