// The render options record: the run-wide settings every later stage reads.
//
// Filled at start-up from the scene's environment settings, then overridden by
// the command line. Afterwards only the frame loop's per-frame fields change
// (frame, extension, shutter, field parity), and the shadow pass, which saves
// and restores the window and sampling fields around its depth-map renders.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace sky {

// Renderer kinds passed to the start-up routine.
inline constexpr int kRendererCaster = 2;
inline constexpr int kRendererTracer = 512;
// Start-up mode of a full render (motion blur is read from the scene only in it).
inline constexpr int kModeFullRender = 4;

struct RenderOptions {
    // Image window and sampling. The window is inclusive on both ends.
    std::int32_t xresolution = 645;
    std::int32_t yresolution = 486;
    std::int32_t xleft = 0;
    std::int32_t xright = 644;
    std::int32_t ylow = 0;
    std::int32_t yhigh = 485;
    std::int32_t aalevelmax = 0;
    std::int32_t aalevelmin = 0;
    float aathreshold = 0.5f;
    float rt_shadow_offset = 0.0f;
    std::int32_t grid_cache = 4000;
    std::int32_t background_ylow = 0;
    std::int32_t background_yhigh = 485;
    std::int32_t tile_rows = 15;
    float area_tolerance = 0.0f;  // smallest screen-space triangle area kept
    float level_span = 1.0f;
    float level_span_inverse = 1.0f;

    // Frames and file extensions.
    float startframe = 1.0f;
    float endframe = 1.0f;
    float byframe = 1.0f;
    float frame = 1.0f;
    std::int32_t extension = 1;
    std::int32_t startextension = 1;
    std::int32_t byextension = 1;
    std::int32_t extensionsize = 1;
    std::int32_t extensionformat = 0;
    bool animation = false;
    bool y_up = true;
    std::int32_t file_type_extension = 0;  // 1: format before the frame number, 2: after

    // Fields, motion blur and stereo.
    bool fields = false;
    bool odd = true;
    bool even = true;
    bool odd_field_first = true;
    bool motion_blur = false;
    bool camera_motion_blur = false;
    float shutter_open = 0.0f;
    float shutter_close = 0.0f;
    float motion_byframe = 0.0f;
    std::int32_t field_parity = 0;  // the field being rendered: 0 odd, 1 even
    bool stereo = false;
    float stereo_eye_offset = 0.5f;
    bool stereo_parallel = false;

    // Rendering switches.
    std::int32_t quiet = 1;
    bool preview_ray_trace = true;
    bool saved_geometry = false;
    bool tessellator = false;
    bool textures_active = true;
    bool hidden_line = false;
    bool post_filter = false;
    std::int32_t image_format = 1;
    bool composite_rendering = false;
    float composite_threshold = 0.0f;
    bool use_lumenfold_depth = false;
    std::int32_t trans_depth = 0;
    float trans_percent = 1.0f;
    bool atten_trans = true;
    bool keep_noglow = false;
    bool glow_jitter = true;
    bool ignore_filmgate = false;
    bool invisible_objects_cast_shadows = false;
    std::int32_t spot_depth = 0;
    bool spot_memory = false;
    float gamma = 1.0f;
    bool gamma_correction_on = false;
    bool scale_background = false;
    std::int32_t texture_map_megabytes = 0;
    std::int32_t bbox_memory = 1;
    std::int32_t texture_caching = 0;
    std::int32_t texture_cache_size = 32;
    std::int32_t texture_cache_disk_limit = 1;
    bool reduced_samples = true;
    std::int32_t show_particles = 1;
    std::int32_t simulation_substeps = 1;
    std::int32_t simulation_frames_per_second = 30;
    float version = 0.0f;
    std::string colour_map_file;
    std::string quantize_output_file;
    bool diagnostics = false;
    bool link_mode = false;
    bool delete_input = false;
    std::int32_t processors = -1;  // -1: every processor
    bool timing_depth = false;
    long timing_origin = 0;  // processor clock when -J was read
    std::string post_program;
    bool post_processing = false;

    // File names given on the command line, applied to the first camera.
    std::string image_name;
    std::string matte_name;
    std::string depth_name;

    // -r: the first camera's aspect ratio, applied when the cameras exist.
    bool aspect_ratio_given = false;
    float aspect_ratio = 0.0f;

    // What the start-up routine was called with.
    int renderer_kind = kRendererCaster;
    int mode = kModeFullRender;
};

// Limits of the ray tracer, checked at start-up and kept for its use.
struct SubdivisionControl {
    std::int32_t level;
    std::int32_t x, y, z;
};

struct RayTraceLimits {
    std::int32_t max_reflections = 3;
    std::int32_t max_refractions = 5;
    std::int32_t max_shadow_level = 1;
    std::int32_t subdivision_recursion_limit = 2;
    std::int32_t max_ray_depth = 5;  // the larger of reflections and refractions
};

// The one process-wide record.
RenderOptions& render_options();
RayTraceLimits& ray_trace_limits();

}  // namespace sky
