// Image-based lighting: a light probe (a latitude-longitude map of the
// radiance around the scene) lights the surfaces of shaders that reflect
// the background, as if every direction of the map were a light.
//
// The probe is the image named by a declared FILENAME variable
// `light_probe` (an image of the binary scene data of that name, else a
// file), or, without that variable, the first image-based lighting record of
// the binary scene data. Its values are radiance with 1 for full white.
// Directions are world space, y up: the map's top row looks up (+y), its
// middle column looks down −z, and u grows toward +x.
//
// Once per probe the irradiance is reduced to nine spherical-harmonic
// coefficients (exact for the cosine-weighted integral up to the second
// band, which is all a diffuse surface sees) and the map is box-filtered to
// a small copy; specular maps, one per highlight exponent the frame's
// shaders use, are that copy convolved with a normalised Phong lobe. They
// are kept while the probe is unchanged; a map no shader used in a frame is
// released at the next.
#pragma once

#include <cstdint>
#include <vector>

#include "base/vecmath.h"

namespace sky {

// Radiance samples of a probe: width × height RGB, rows from the top.
struct LightProbe {
    std::int32_t width = 0, height = 0;
    std::vector<float> rgb;
};

// Per frame, after the scene is evaluated (main thread): finds the probe,
// precomputes what is new, releases what went unused.
void prepare_image_lighting();

// Whether a probe lights this frame.
bool image_lighting_on();

// The highlight exponent of a specular map for a Phong exponent or a Blinn
// shader's c (1/(eccentricity² − 1)).
std::int32_t phong_lobe(std::int32_t shinyness);
std::int32_t blinn_lobe(float c);

// Diffuse: the irradiance at a world-space unit normal over π (so a probe of
// uniform radiance L gives L). Specular: the probe filtered by the lobe of
// `exponent` around the world-space unit mirror direction (uniform L gives
// L); black when no map of that exponent was prepared. Any worker; no
// allocation.
Triple image_diffuse(const Triple& normal);
Triple image_specular(const Triple& mirror, std::int32_t exponent);

// What has been computed so far in the run, for tests and statistics.
struct ImageLightingCounts {
    int probes = 0;         // irradiance precomputations
    int specular_maps = 0;  // specular maps made
    int maps_held = 0;      // specular maps held now
};
ImageLightingCounts image_lighting_counts();

// Precomputes for a probe given directly (tests, benchmarks); the frame's
// own probe replaces it at the next prepare_image_lighting.
void use_light_probe(const LightProbe& probe);
// Makes (or marks used) the specular map of an exponent.
void want_specular_map(std::int32_t exponent);
// Forgets the probe and every map (tests).
void reset_image_lighting();

}  // namespace sky
