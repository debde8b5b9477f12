// The environment settings record: the render settings of a scene's
// definition section, before the command line is laid over them.
//
// Reset to its defaults before each parse, filled while the definition section
// is read (keyword settings and assignments to system variables), and
// finalised when the section ends; the run driver then turns it into the
// render options. Fields that hold an expression are evaluated later by their
// consumer, with the consumer's default; null means "not set".
#pragma once

#include <cstdint>

namespace sky {

struct Expr;

struct EnvironmentSettings {
    Expr* use_v9_tessellator = nullptr;
    Expr* tessellator = nullptr;
    std::int32_t x_resolution = 645;
    std::int32_t y_resolution = 486;
    std::int32_t xleft = 0;
    std::int32_t xright = -1;  // -1 stands for x_resolution - 1
    std::int32_t yhigh = -1;   // -1 stands for y_resolution - 1
    std::int32_t ylow = 0;
    std::int32_t aalevelmax = 0;
    float aathreshold = 0.5f;
    Expr* max_reflections = nullptr;
    Expr* max_refractions = nullptr;
    Expr* max_shadow_level = nullptr;
    Expr* subdivision_recursion_limit = nullptr;
    Expr* subdivision_control = nullptr;  // list of (scalar, triple) pairs
    std::int32_t aalevelmin = 0;
    std::int32_t grid_cache = 4000;
    Expr* jitter = nullptr;
    Expr* quiet = nullptr;
    Expr* fields = nullptr;
    Expr* preview_ray_trace = nullptr;
    Expr* odd = nullptr;
    Expr* even = nullptr;
    Expr* use_saved_geometry = nullptr;
    Expr* stereo = nullptr;
    Expr* stereo_eye_offset = nullptr;
    float startframe = 1.0f;
    float endframe = 1.0f;
    float byframe = 1.0f;
    Expr* startextension = nullptr;
    Expr* byextension = nullptr;
    std::int32_t extensionformat = 0;
    std::int32_t extensionsize = 1;
    Expr* animation = nullptr;
    std::int32_t up_axis = 2;  // 2: y axis, 3: z axis
    float rt_shadow_offset = 0.0f;
    float version = 0.0f;
    Expr* textures_active = nullptr;
    Expr* post_filter = nullptr;
    Expr* motion_blur_on = nullptr;
    Expr* shutter_angle = nullptr;
    Expr* hidden_line = nullptr;
    Expr* hline_from_global = nullptr;
    float hline_to_fill_color = 0.0f;
    float hline_fill_color[3] = {0, 0, 0};
    float hline_line_color[3] = {0, 0, 0};
    std::int32_t hline_line_width = 0;
    std::int32_t hline_isoparam_u = 0;
    std::int32_t hline_isoparam_v = 0;
    Expr* image_format = nullptr;
    Expr* composite_rendering = nullptr;
    Expr* composite_threshold = nullptr;
    float show_particles = 1.0f;
    std::int32_t simulation_substeps = 1;
    std::int32_t simulation_frames_per_second = 30;
    Expr* post_center = nullptr;
    Expr* post_adjacent = nullptr;
    Expr* post_diagonal = nullptr;
    Expr* trans_depth = nullptr;
    Expr* trans_percent = nullptr;
    Expr* odd_field_first = nullptr;
    Expr* keep_noglow = nullptr;
    Expr* spot_depth = nullptr;
    Expr* spot_memory = nullptr;
    Expr* ignore_filmgate = nullptr;
    Expr* gamma_correction = nullptr;
    Expr* atten_trans = nullptr;
    Expr* use_lumenfold_depth = nullptr;
    Expr* stereo_parallel = nullptr;
    Expr* invisible_objects_cast_shadows = nullptr;
    Expr* bbox_memory = nullptr;
    Expr* texture_caching = nullptr;
    std::int32_t texture_cache_size = 32;
    std::int32_t texture_cache_disk_limit = 1;
    Expr* reduced_samples = nullptr;
    Expr* rt_voxel_res_type = nullptr;
    std::int32_t rt_top_level_voxel_res[3] = {20, 20, 20};
    std::int32_t rt_nth_root_voxel_res = 3;

    bool version_assigned = false;  // `version` was assigned in this parse
};

// The one process-wide record.
EnvironmentSettings& environment();

// Zeroes the record and stores the defaults; called before each parse.
void reset_environment();

// The definition section has ended: the window against the resolution, the
// anti-aliasing levels, threshold, grid cache and texture cache checks.
// Ends the program with the setting's message when one cannot be corrected.
void finalise_environment();

// The definition section's `NAME = expr;`: stores the value in the system
// variable and, for the render settings among them, in the record.
void assign_system_variable(const char* name, Expr* value);

// The process-wide SDL version: the last value assigned to `version`.
float sdl_version();
void reset_sdl_version();  // with reset_front_end

// The smallest screen-space area a triangle may keep, from the larger image
// dimension: bigger images tolerate proportionally larger slivers.
float resolution_tolerance(std::int32_t largest_dimension);

// The resolution tolerance of the scene, recomputed whenever the resolution
// changes (at finalisation and after the command line's scaling).
float& scene_resolution_tolerance();

}  // namespace sky
