// The environment settings record: the render settings of a scene's
// definition section, before the command line is laid over them.
//
// Reset to its defaults before each parse, filled while the definition section
// is read, and finalised when the section ends; the run driver then turns it
// into the render options.
#pragma once

#include <cstdint>

namespace sky {

struct EnvironmentSettings {
    std::int32_t x_resolution = 645;
    std::int32_t y_resolution = 486;
    std::int32_t xleft = 0;
    std::int32_t xright = -1;  // -1 stands for x_resolution - 1
    std::int32_t yhigh = -1;   // -1 stands for y_resolution - 1
    std::int32_t ylow = 0;
    std::int32_t aalevelmax = 0;
    float aathreshold = 0.5f;
    std::int32_t aalevelmin = 0;
    std::int32_t grid_cache = 4000;
    float startframe = 1.0f;
    float endframe = 1.0f;
    float byframe = 1.0f;
    std::int32_t extensionformat = 0;
    std::int32_t extensionsize = 1;
    std::int32_t up_axis = 2;  // 2: y axis, 3: z axis
    float rt_shadow_offset = 0.0f;
    float version = 0.0f;
    std::int32_t show_particles = 1;
    std::int32_t simulation_substeps = 1;
    std::int32_t simulation_frames_per_second = 30;
    std::int32_t texture_cache_size = 32;
    std::int32_t texture_cache_disk_limit = 1;
};

// The one process-wide record.
EnvironmentSettings& environment();

// Zeroes the record and stores the defaults; called before each parse.
void reset_environment();

// Resolves the window against the resolution at the end of the definition
// section. Returns false after reporting a window that cannot be rendered.
bool finalise_environment();

}  // namespace sky

namespace sky {

// The smallest screen-space area a triangle may keep, from the larger image
// dimension: bigger images tolerate proportionally larger slivers.
float resolution_tolerance(std::int32_t largest_dimension);

}  // namespace sky
