// The environment settings record: the render settings of a scene's
// definition section, before the command line is laid over them.
//
// Reset to its defaults before each parse, filled while the definition section
// is read (keyword settings and assignments to system variables), and
// finalised when the section ends; the run driver then turns it into the
// render options. Fields that hold an expression are evaluated later by their
// consumer, with the consumer's default; null means "not set". Every field's
// default, and how it is set, evaluated and transferred, is its setting's row
// in environment_settings.h; reset_environment() stores the defaults.
#pragma once

#include <cstdint>

namespace sky {

struct Expr;

struct EnvironmentSettings {
    Expr* use_v9_tessellator{};
    Expr* tessellator{};
    std::int32_t x_resolution{};
    std::int32_t y_resolution{};
    std::int32_t xleft{};
    std::int32_t xright{};  // -1 stands for x_resolution - 1
    std::int32_t yhigh{};   // -1 stands for y_resolution - 1
    std::int32_t ylow{};
    std::int32_t aalevelmax{};
    float aathreshold{};
    Expr* max_reflections{};
    Expr* max_refractions{};
    Expr* max_shadow_level{};
    Expr* subdivision_recursion_limit{};
    Expr* subdivision_control{};  // list of (scalar, triple) pairs
    std::int32_t aalevelmin{};
    std::int32_t grid_cache{};
    Expr* jitter{};
    Expr* quiet{};
    Expr* fields{};
    Expr* preview_ray_trace{};
    Expr* odd{};
    Expr* even{};
    Expr* use_saved_geometry{};
    Expr* stereo{};
    Expr* stereo_eye_offset{};
    float startframe{};
    float endframe{};
    float byframe{};
    Expr* startextension{};
    Expr* byextension{};
    std::int32_t extensionformat{};
    std::int32_t extensionsize{};
    Expr* animation{};
    std::int32_t up_axis{};  // 2: y axis, 3: z axis
    float rt_shadow_offset{};
    float version{};
    Expr* textures_active{};
    Expr* post_filter{};
    Expr* motion_blur_on{};
    Expr* shutter_angle{};
    Expr* hidden_line{};
    Expr* hline_from_global{};
    float hline_to_fill_color{};
    float hline_fill_color[3]{};
    float hline_line_color[3]{};
    std::int32_t hline_line_width{};
    std::int32_t hline_isoparam_u{};
    std::int32_t hline_isoparam_v{};
    Expr* image_format{};
    Expr* composite_rendering{};
    Expr* composite_threshold{};
    float show_particles{};
    std::int32_t simulation_substeps{};
    std::int32_t simulation_frames_per_second{};
    Expr* post_center{};
    Expr* post_adjacent{};
    Expr* post_diagonal{};
    Expr* trans_depth{};
    Expr* trans_percent{};
    Expr* odd_field_first{};
    Expr* keep_noglow{};
    Expr* spot_depth{};
    Expr* spot_memory{};
    Expr* ignore_filmgate{};
    Expr* gamma_correction{};
    Expr* atten_trans{};
    Expr* use_lumenfold_depth{};
    Expr* stereo_parallel{};
    Expr* invisible_objects_cast_shadows{};
    Expr* bbox_memory{};
    Expr* texture_caching{};
    std::int32_t texture_cache_size{};
    std::int32_t texture_cache_disk_limit{};
    Expr* reduced_samples{};
    Expr* rt_voxel_res_type{};
    std::int32_t rt_top_level_voxel_res[3]{};
    std::int32_t rt_nth_root_voxel_res{};

    bool version_assigned = false;  // `version` was assigned in this parse
};

// The one process-wide record.
EnvironmentSettings& environment();

// A setting's value as an integer, as the settings have always taken it:
// truncated toward zero, saturating, and the smallest integer for a value
// that is not a number.
std::int32_t setting_integer(float value);

// The definition section's `keyword = expression;` and `keyword = integer;`
// for the setting of row `setting` (environment_settings.h): kept as the
// expression, evaluated now (a failure ends the run with status 1), or
// ignored, as its row says.
void keep_setting(std::int32_t setting, Expr* value);
void keep_setting_integer(std::int32_t setting, std::int32_t value);

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
