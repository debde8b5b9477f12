#include "base/counters.h"

namespace sky {

RenderCounters& render_counters() {
    static RenderCounters counters;
    return counters;
}

void reset_scene_counters() {
    RenderCounters& c = render_counters();
    for (auto* counter : {&c.patches, &c.faces, &c.polysets, &c.lights, &c.shaders, &c.textures})
        counter->store(0, std::memory_order_relaxed);
}

void reset_geometry_counters() {
    RenderCounters& c = render_counters();
    for (auto* counter : {&c.triangles, &c.vertices, &c.uv_vertices, &c.motion_vertices})
        counter->store(0, std::memory_order_relaxed);
}

}  // namespace sky
