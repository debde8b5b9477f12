// The counters the statistics report after every image and depth map.
//
// The scene counters are set once per frame from what the evaluation made;
// the triangle and vertex counters grow while geometry is tessellated, from
// every worker at once, and start again for each camera and each map. They
// sit below the subsystems that count, so any of them may add to them.
#pragma once

#include <atomic>
#include <cstdint>

namespace sky {

struct RenderCounters {
    // The frame's scene.
    std::atomic<std::int32_t> patches{0};
    std::atomic<std::int32_t> faces{0};
    std::atomic<std::int32_t> polysets{0};
    std::atomic<std::int32_t> lights{0};
    std::atomic<std::int32_t> shaders{0};
    std::atomic<std::int32_t> textures{0};
    // The geometry made for one image or map.
    std::atomic<std::int32_t> triangles{0};
    std::atomic<std::int32_t> vertices{0};
    std::atomic<std::int32_t> uv_vertices{0};
    std::atomic<std::int32_t> motion_vertices{0};
};

RenderCounters& render_counters();

// Zeroes the scene counters (before a frame's evaluations).
void reset_scene_counters();
// Zeroes the triangle and vertex counters (before each camera and map).
void reset_geometry_counters();

}  // namespace sky
