// The progress display of a render on a terminal: one line on standard
// error, "Frame 12: 34 of 120 tiles, 00:01:02 elapsed, about 00:02:40 left",
// redrawn as tiles finish and erased before any other output (report.h). It
// is shown only when standard error is a terminal and the run is not quiet,
// so files and pipes receive exactly the bytes they always did.
#pragma once

#include <cstdint>

namespace sky {

// Decides, once per run, whether the display is shown.
void start_progress_display();

// Around one camera's pass over `tiles` tiles of frame `frame`.
void progress_pass_started(double frame, std::int32_t tiles);
void progress_pass_finished();

// After each tile of the pass, from the worker that rendered it.
void progress_tile_finished();

}  // namespace sky
