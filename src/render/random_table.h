// AR_random: the renderer's pseudo-random numbers for shading times and
// other per-layer choices. A fixed table of 3731 values, uniform in [0, 1),
// read by each worker through its own cursor: no lock, no state shared
// between workers, and the same sequence on every run.
#pragma once

namespace sky {

inline constexpr int kRandomTableSize = 3731;

// The calling worker's next value; its cursor wraps to 0 after the last.
double AR_random();

// Puts the calling worker's cursor at `position` (tests, and a fresh start
// for reproducible renders).
void AR_random_seek(int position);

}  // namespace sky
