// Light fog: lights that light up the air around them. A spot light's fog
// fills its cone and any other placed light's a ball around it, both
// reaching ten times the light's fog_spread (scene units) from the light; a
// volume light's fills its shape. Along a
// ray, the fog a light adds grows with the length of the ray inside that
// region: 1 - exp(-0.1 · fog_intensity · length) of the fog colour, lit by
// the light's colour.
#pragma once

namespace sky {

// Per camera, after the lights are prepared: the lights with fog, in eye space.
void Ar_prepare_light_fog();
bool Ar_light_fog_prepared();

// The fog of every fog light between eye distances `near` and `far` of the
// ray from `origin` along `direction` (eye space, any length), composited
// over `out` (red, green, blue, alpha, 0..255). With `axial` the distances
// are measured along the view axis (−z), otherwise along the ray.
// Allocates nothing: called per sample.
void Ar_light_fog(const float* origin, const float* direction, bool axial, double near, double far,
                  float* out);

// The length of the ray inside a light's fog region between the two
// distances along the unit ray (tests and the fog itself).
double light_fog_length(const float* origin, const float* unit, double near, double far,
                        int light_index);

}  // namespace sky
