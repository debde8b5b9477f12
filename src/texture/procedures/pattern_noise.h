// The building blocks of the procedural patterns: gradient noise in two and
// three dimensions, its fractal sums, and cellular (nearest feature point)
// patterns. Everything here is a pure function of its arguments: no tables
// that are filled at run time, no state, no allocation, so any worker may
// call it at any time and two runs give the same picture.
//
// Filtering: a fractal sum is given the footprint of the lookup in the
// noise's own units; levels whose features are smaller than the footprint
// fade to the noise's mean (0) instead of aliasing, over one octave.
#pragma once

#include <cstdint>

#include "base/vecmath.h"

namespace sky::pattern {

// A well-mixed 32-bit hash of integers (lattice corners, cells, seeds).
std::uint32_t hash(std::int32_t x, std::int32_t y = 0, std::int32_t z = 0, std::uint32_t seed = 0);
// The hash as a number in [0, 1).
float unit_hash(std::int32_t x, std::int32_t y = 0, std::int32_t z = 0, std::uint32_t seed = 0);

// Gradient noise, 0 at every lattice point, in [-1, 1], mean 0. The
// two-dimensional form repeats every `period` units along x and y (a
// period of 0 never repeats), so patterns over a texture's frame meet
// themselves at its edges without a seam.
float noise2(float x, float y, std::int32_t period = 0, std::uint32_t seed = 0);
float noise3(const Triple& p, std::uint32_t seed = 0);

// How much of a level of `frequency` survives a footprint `filter` (both in
// the same units): 1 while a feature spans four footprints or more, 0 once
// it spans two or fewer.
float level_weight(float frequency, float filter);

// A fractal sum of noise: levels first..last, level i at frequency
// base·2^i with weight ratio^i, divided by the root of the sum of the
// squared weights, so its spread is that of one level whatever the levels
// and ratio; clamped to [-1, 1]. A ratio beyond 2 counts as 2. `filter` is the
// footprint in the same units as the point. The two-dimensional sum
// repeats every `period` units when base·period is a whole number.
struct Fractal {
    int first = 0;
    int last = 8;
    float ratio = 0.707f;
    float base = 1.0f;
    std::uint32_t seed = 0;
};
float fractal2(float x, float y, float filter, const Fractal& f, std::int32_t period = 0);
float fractal3(const Triple& p, float filter, const Fractal& f);

// Turbulence: the fractal sum of |noise|, in [0, 1].
float turbulence3(const Triple& p, float filter, const Fractal& f);

// The two nearest feature points of a cellular pattern (one jittered point
// per unit cell, `jitter` 0 a regular lattice, 1 fully random): their
// distances, and an id of the nearest cell in [0, 1).
struct Cells {
    float f1 = 0.0f, f2 = 0.0f;
    float id = 0.0f;
};
Cells cells3(const Triple& p, float jitter, std::uint32_t seed = 0);
Cells cells2(float x, float y, float jitter, std::int32_t period = 0, std::uint32_t seed = 0);

// The share of a footprint `filter` wide centred at x that a train of
// lines `width` wide, centred on the whole numbers, covers (exact for a box
// footprint; 0 or 1 without a footprint).
float line_share(float x, float width, float filter);

// Smooth step of x from e0 to e1 (0 below, 1 above).
float smooth_step(float e0, float e1, float x);

// Hue in degrees [0, 360), saturation and value in [0, 1], of a colour in
// 0..255; and back.
void to_hsv(float r, float g, float b, float& h, float& s, float& v);
Triple from_hsv(float h, float s, float v);

// Linear interpolation between colours.
Triple mix(const Triple& a, const Triple& b, float t);

}  // namespace sky::pattern
