// What one evaluation of the model section produces: the frame's render
// objects (one per patch, face or polyset statement or instance, each with
// the placement in force where it was met) and the light list.
//
// Everything here lives for one frame: the list is freed at the start of the
// next frame's evaluation.
#pragma once

#include <cfloat>
#include <cstdint>
#include <memory>
#include <vector>

#include "sdl/expr.h"
#include "sdl/values.h"

namespace sky {

struct Symbol;
struct ObjectShading;

// A patch's parameters as chord length gives them (textures with
// `chord_length`): in each direction a rising piecewise-linear map from the
// surface's parameter to the parameter at the same fraction of its control
// net's length, over the same range. Empty: the parameter as it is.
struct ChordLengthMap {
    std::vector<float> u_from, u_to, v_from, v_to;

    static float apply(const std::vector<float>& from, const std::vector<float>& to, float x) {
        if (from.size() < 2 || !(x > from.front())) return to.empty() ? x : to.front();
        if (!(x < from.back())) return to.back();
        std::size_t i = 1;
        while (from[i] < x) ++i;
        const float span = from[i] - from[i - 1];
        const float t = span > 0.0f ? (x - from[i - 1]) / span : 0.0f;
        return to[i - 1] + t * (to[i] - to[i - 1]);
    }
    // How much the map stretches the parameter at x (for filter widths).
    static float slope(const std::vector<float>& from, const std::vector<float>& to, float x) {
        if (from.size() < 2) return 1.0f;
        std::size_t i = 1;
        while (i + 1 < from.size() && from[i] < x) ++i;
        const float span = from[i] - from[i - 1];
        return span > 0.0f ? (to[i] - to[i - 1]) / span : 1.0f;
    }
};

struct RenderObject {
    std::int32_t type = 0;             // SDL_PATCH, SDL_FACE or SDL_POLYSET
    const char* name = nullptr;        // for messages
    Expr* definition = nullptr;        // the object expression it was made from
    ObjectValue value;                 // the definition as evaluated at the placement's time
    const Symbol* variable = nullptr;  // the variable it instances, if any

    TransformValue placement;  // at the evaluation time (shutter open for moving objects)
    TransformValue open_placement;
    TransformValue close_placement;
    bool has_close = false;  // a shutter-close placement was paired with this object

    // The evaluated surfaces, owned by the geometry subsystem (released with the object).
    void* geometry = nullptr;
    void* open_geometry = nullptr;
    void* close_geometry = nullptr;

    bool moving = true;
    std::int32_t motion_texture_sample_level = 2;
    std::int32_t motion_shading_samples = 1;
    float bound[6] = {FLT_MAX, FLT_MAX, FLT_MAX, FLT_MAX, FLT_MAX, FLT_MAX};
    bool saved_geometry = true;
    bool visible = true;
    bool shadows = true;

    RenderObject* instance_chain = nullptr;  // the next object made from the same variable
    std::int32_t shader_slot = 0;            // polysets: the shader slot this object renders
    std::int32_t light_set = -1;             // the lights that illuminate it, for the camera
                                             // being rendered (the shading's light sets)
    const ObjectShading* shading = nullptr;  // its shader and lights as the ray caster reads
                                             // them, for the camera being rendered
    // Patches: their parameters by chord length, owned by the geometry.
    const ChordLengthMap* chord_length = nullptr;
};

// The frame's objects in the order made, with the cursor that pairs the
// shutter-close walk's moving objects with those the shutter-open walk made.
class ObjectList {
public:
    RenderObject& append();
    void clear();

    std::size_t size() const { return objects_.size(); }
    RenderObject& operator[](std::size_t i) { return *objects_[i]; }
    const RenderObject& operator[](std::size_t i) const { return *objects_[i]; }

    // Resetting puts the cursor on the first object.
    void reset_cursor() { cursor_ = 0; }
    // The object under the cursor, or null past the end.
    RenderObject* at_cursor() {
        return cursor_ < objects_.size() ? objects_[cursor_].get() : nullptr;
    }
    // Rr_mark_next_obj.
    void advance_cursor() { ++cursor_; }

private:
    std::vector<std::unique_ptr<RenderObject>> objects_;
    std::size_t cursor_ = 0;
};

ObjectList& frame_objects();

// A light as placed by the walk: its evaluated body and the model matrix in
// force, with the working copy the shading reads (refreshed from the
// reference before use).
struct PlacedLight {
    const char* name = nullptr;
    Expr* definition = nullptr;
    ObjectValue value;
    Matrix4 placement;         // world from light
    TransformValue transform;  // the full state, for lights that place themselves (spot)
    void* record = nullptr;    // the light subsystem's evaluated light, when it made one
};

struct LightEntry {
    PlacedLight working;
    PlacedLight reference;
};

// Entries are pushed at the head: the last light placed comes first.
std::vector<std::unique_ptr<LightEntry>>& light_list();

}  // namespace sky
