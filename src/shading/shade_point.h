// What a shaded point is to the shading models and the lights: the record
// the visibility pass fills for every layer it shades, and the answer a
// light gives for one point.
//
// Space: every position and direction here is in the camera's eye space
// (the space of the worker's eye-space point; the lights are brought into it
// when they are prepared for the camera). Colours are 0..255 per channel.
#pragma once

#include <cstdint>
#include <span>

#include "sdl/values.h"

namespace sky {

struct AR_LightInfo;
struct RenderObject;

// A normal component of this value marks a point without a normal (a
// particle, a volume sample): lights then skip their N·L tests.
inline constexpr float kNoNormal = 10000.0f;

struct AR_ShadePoint {
    // Filled by the visibility pass before the layer is shaded.
    Triple position;          // the hit, eye space
    Triple geometric_normal;  // unit, of the triangle, facing the eye
    Triple normal;            // unit shading normal (interpolated, facing the eye); bump
                              // mapping replaces it while the layer is shaded
    Triple view;              // unit, from the point toward the eye (the eye ray negated)
    // Only textures (and bump mapping and the spread of reflections) read
    // the surface's parameters, tangents, shape and object-space point
    // below, from u to object_normal: the visibility pass may leave them to
    // `fill_texture_inputs`, which texture_inputs() calls when they are
    // first asked for (null: filled).
    void (*fill_texture_inputs)(AR_ShadePoint& point) = nullptr;
    const void* texture_source = nullptr;  // what fill_texture_inputs reads
    float u = 0.0f, v = 0.0f;              // surface parameters, for textures
    float du = 0.0f, dv = 0.0f;            // how far u and v change across the sample's footprint
    Triple dp_du, dp_dv;  // surface tangents ∂P/∂u and ∂P/∂v, eye space (bump mapping)
    // The surface's shape around the point, whatever its (u, v): two edges
    // of the triangle hit (eye space) and how the unit shading normal
    // changes along each (curvature); and how far along each edge the
    // sample's footprint reaches, across x and across y (the spread of
    // reflections).
    Triple edge[2], normal_change[2];
    float edge_x[2] = {0.0f, 0.0f}, edge_y[2] = {0.0f, 0.0f};
    Triple object_point;  // the point in object space, for solid textures
    Triple object_normal;
    const RenderObject* object = nullptr;
    const char* object_name = nullptr;  // for file textures that use another image per object
    std::uint32_t seed = 0;  // the sample's sequence seed (area and linear light samples)
    double time = 0.0;       // the shade time within the shutter, 0..1
    // The lights that illuminate the object, prepared for the camera.
    std::span<const AR_LightInfo* const> lights;
    // The sample's colour: on entry what lies behind this layer (RGBA,
    // 0..255, alpha 0..255); the layer is composited over it.
    float* output = nullptr;
    // Glow pass (mode 1): the sample's glow record (RGB).
    float* glow = nullptr;
    std::int32_t mode = 0;   // 0 ordinary, 1 glow pass, 2 ordinary after a glow pass
    double thickness = 0.0;  // distance the ray travels inside the object (opacity depth)

    // Filled by the shader while the layer is shaded (after textures).
    Triple colour;  // surface colour
    Triple incandescence;
    float transparency[4] = {0, 0, 0, 0};  // 0..1
};

// The point with its texture inputs filled. A point is only ever shaded
// through a record that is not const, so filling it here is sound.
inline const AR_ShadePoint& texture_inputs(const AR_ShadePoint& point) {
    if (auto fill = point.fill_texture_inputs) {
        auto& p = const_cast<AR_ShadePoint&>(point);
        p.fill_texture_inputs = nullptr;
        fill(p);
    }
    return point;
}

// A light's answer for one point. The caller presets ambient, diffuse_kind,
// specular and sets intensity_only and translucent; the light's calculation
// fills the rest.
struct AR_LightSample {
    bool ambient = true;            // add the colour to the ambient sum
    std::int32_t diffuse_kind = 1;  // 0 none; 1 with N·L; 2 without N·L
    bool specular = true;           // contributes to highlights
    bool intensity_only = false;    // the caller wants `intensity` only
    Triple colour;                  // at the point, after decay, cone and shadow
    // Unit, from the point toward the light, and the light's distance; both
    // zero from an ambient light whose ambient_shade is 0 (its light has no
    // direction).
    Triple direction;
    float translucent = 0.0f;  // non-zero: lights behind the surface still answer
    float distance = 0.0f;
    bool has_n_dot_l = false;
    double n_dot_l = 0.0;
    float intensity = 0.0f;  // with intensity_only: the scalar answer
};

// Presets a light result as the lighting loop does before each light.
inline void preset_light_sample(AR_LightSample& s, float translucent, bool intensity_only = false) {
    s.ambient = true;
    s.diffuse_kind = 1;
    s.specular = true;
    s.intensity_only = intensity_only;
    s.translucent = translucent;
    s.has_n_dot_l = false;
    s.n_dot_l = 0.0;
    s.intensity = 0.0f;
}

}  // namespace sky
