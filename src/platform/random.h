// The one process-wide random source: the 48-bit linear congruential
// generator of POSIX (drand48). Textures, lights and lens effects share its
// sequence, so a scene seeded with srand48 renders the same noise every run.
// Unlike the C library's, these are safe to call from several workers at once.
#pragma once

namespace sky {

void srand48(long seed);
double drand48();  // in [0, 1)

}  // namespace sky
