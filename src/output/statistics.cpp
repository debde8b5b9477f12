#include "output/statistics.h"

#include "platform/memory.h"
#include "platform/report.h"
#include "run/options.h"
#include "scene/scene_objects.h"
#include "sdl/types.h"

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

void count_frame_scene() {
    RenderCounters& c = render_counters();
    std::int32_t patches = 0, faces = 0, polysets = 0;
    ObjectList& objects = frame_objects();
    for (std::size_t i = 0; i < objects.size(); ++i) {
        switch (objects[i].type) {
            case SDL_PATCH:
                ++patches;
                break;
            case SDL_FACE:
                ++faces;
                break;
            case SDL_POLYSET:
                ++polysets;
                break;
            default:
                break;
        }
    }
    c.patches.store(patches, std::memory_order_relaxed);
    c.faces.store(faces, std::memory_order_relaxed);
    c.polysets.store(polysets, std::memory_order_relaxed);
    c.lights.store(static_cast<std::int32_t>(light_list().size()), std::memory_order_relaxed);
}

void print_statistics(const char* stage, const char* object) {
    const unsigned long kilobytes = static_cast<unsigned long>(MA_get_memory_used() / 1024);
    if (render_options().quiet) {
        rptUser("    Memory(kb): %lu\n", kilobytes);
        return;
    }
    const RenderCounters& c = render_counters();
    rptUser("%s Stats for %s:\n", stage, object);
    rptUser("       Patches:                     %d\n", c.patches.load());
    rptUser("       Faces:                       %d\n", c.faces.load());
    rptUser("       Polysets:                    %d\n", c.polysets.load());
    rptUser("       Lights:                      %d\n", c.lights.load());
    rptUser("       Shaders:                     %d\n", c.shaders.load());
    rptUser("       Textures:                    %d\n", c.textures.load());
    rptUser("       Triangles:                   %d\n", c.triangles.load());
    rptUser("       Vertices:                    %d\n", c.vertices.load());
    rptUser("       uv-Vertices:                 %d\n", c.uv_vertices.load());
    rptUser("       motion-Vertices:             %d\n", c.motion_vertices.load());
    rptUser("       Memory(kb):                  ");
    rptUser("%lu\n", kilobytes);
}

}  // namespace sky
