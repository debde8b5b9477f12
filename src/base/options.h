// The render options record: the run-wide settings every later stage reads.
//
// Filled at start-up from the scene's environment settings, then overridden by
// the command line. Afterwards only the frame loop's per-frame fields change
// (frame, extension, shutter, field parity), and the shadow pass, which saves
// and restores the window and sampling fields around its depth-map renders.
#pragma once

#include <cstdint>
#include <string>

namespace sky {

// Renderer kinds passed to the start-up routine.
inline constexpr int kRendererCaster = 2;
inline constexpr int kRendererTracer = 512;
// Start-up mode of a full render (motion blur is read from the scene only in it).
inline constexpr int kModeFullRender = 4;

// Each field says what it holds, who sets it and who reads it. "The scene"
// is the environment setting of the same name, copied or evaluated by the
// environment transfer (sdl/environment_transfer.cpp); options are the
// command line's, applied by the option pass (run/option_pass.cpp). A field
// that nothing reads yet says which later stage it is kept for.
struct RenderOptions {
    // Image window and sampling. Pixel rows count upwards: ylow is the bottom
    // rendered row, yhigh the top one, and the window is inclusive on both
    // ends.

    // Image width and height in pixels: the scene's `resolution`, scaled by
    // -Q and -R (run/resolution.cpp). Read by the camera's viewport fit, the
    // caster (film gate, background) and bucket entry (guard band, smallest
    // triangle).
    std::int32_t xresolution = 645;
    std::int32_t yresolution = 486;
    // The rendered window in pixels: the scene's, then -x, -w, -y, -h, then
    // scaled with the resolution. Read by the tiles, the caster, bucket entry
    // and the outputs, printed in the start-up summary and published to the
    // SDL variables of the same names. The shadow pass swaps in
    // its own window for each depth map and restores this one.
    std::int32_t xleft = 0;
    std::int32_t xright = 644;
    std::int32_t ylow = 0;
    std::int32_t yhigh = 485;
    // Samples per pixel of the adaptive supersampling, at most (0, 1, 4, ...
    // 36) and at least: the scene's, -a for the most. Read by the caster and
    // the start-up summary, published to SDL.
    std::int32_t aalevelmax = 0;
    std::int32_t aalevelmin = 0;
    // Contrast (0 to 0.99) above which a pixel gets more samples: the scene's,
    // -t. Read by the caster and the start-up summary, published to SDL.
    float aathreshold = 0.5f;
    // The ray tracer's shadow-ray offset and voxel grid cache size (the scene
    // checks grid_cache >= 100 itself): copied from the scene and carried in
    // the record for the tracer; nothing in this program reads them.
    float rt_shadow_offset = 0.0f;
    std::int32_t grid_cache = 4000;
    // Rows the background is laid over: ylow and yhigh, or -W and -Y, scaled
    // with -R. Kept for the backgrounds and image planes, which do not read
    // them yet.
    std::int32_t background_ylow = 0;
    std::int32_t background_yhigh = 485;
    // Pixel rows per tile: 15, or -T; making the tiles (base/tiles.cpp)
    // clamps it to the window and writes the clamped value back.
    std::int32_t tile_rows = 15;
    // Smallest triangle bucket entry keeps, in square pixels (half its screen
    // bounding box); set by -Q from the new resolution. 0: bucket entry
    // derives it from the resolution.
    float area_tolerance = 0.0f;
    // (ln aalevelmax + ln aalevelmin) / ln 4 + 1, a level of 1 or less
    // counting 0, and its inverse: derived at the end of start-up from the
    // final levels. Part of the record as defined; no stage reads them yet.
    float level_span = 1.0f;
    float level_span_inverse = 1.0f;

    // Frames and file extensions.

    // First and last frame and the step, in frames (fractional and negative
    // steps allowed): the scene's, -s, -e, -b. Read by the frame schedule,
    // start-up (the animation and extension defaults) and the shutter
    // interval and the expressions' context (byframe, without -o), published
    // to SDL.
    float startframe = 1.0f;
    float endframe = 1.0f;
    float byframe = 1.0f;
    // The frame being rendered: startframe at the end of start-up, then each
    // frame's time, set by the frame loop. Read by the scene's evaluation,
    // the shutter interval and bucket entry (motion blur), published to SDL.
    float frame = 1.0f;
    // The number in the file names of the frame being rendered: startextension,
    // then advanced by byextension by the frame loop. Read by the camera's
    // file names and passed to the -f program.
    std::int32_t extension = 1;
    // The first number and its step: the scene's, -S, -B; else start-up takes
    // the integer part of startframe and of byframe (a step of 0 becomes 1).
    std::int32_t startextension = 1;
    std::int32_t byextension = 1;
    // Digits of the frame number in file names, zero-padded: the scene's, -E
    // (at most 20). Read by the camera's file names.
    std::int32_t extensionsize = 1;
    // Where the format's extension goes in an image name, whether or not the
    // scene's name ends in it: 1 before the frame number, 2 nowhere, any
    // other value after it. The scene's; read by the camera's file names.
    std::int32_t extensionformat = 0;
    // The scene is animated: the scene's `animation`, else startframe !=
    // endframe (end of start-up). Read by the frame schedule, the camera's
    // file names (numbered only when animated) and the diagnostics.
    bool animation = false;
    // World up axis: true for y, false for z (the scene's `up`). Read by the
    // camera's look-at and by bucket entry for a moving camera.
    bool y_up = true;
    // -X: where the format's extension goes in file names: 1 before the frame
    // number, 2 after it, otherwise nowhere. Read by the camera's file names.
    std::int32_t file_type_extension = 0;

    // Fields, motion blur and stereo.

    // Render video fields, every other row at half-frame times: the scene's.
    // Read by the frame schedule, the cameras' preparation, the caster, the
    // outputs and the diagnostics; start-up turns preview_ray_trace off.
    bool fields = false;
    // Which fields are rendered (at least one with fields, or the cameras'
    // preparation fails) and which comes first in a frame: the scene's. Read
    // by the frame schedule and the cameras' preparation.
    bool odd = true;
    bool even = true;
    bool odd_field_first = true;
    // Motion blur: the scene's `motion_blur_on`, in a full render only; the
    // frame loop clears it when the shutter angle leaves no interval. Read by
    // the scene's evaluation (evaluated at shutter open and close as well),
    // the cameras, bucket entry, the caster and the diagnostics; start-up
    // turns saved_geometry off.
    bool motion_blur = false;
    // Some camera moves while the shutter is open: decided by the cameras at
    // the end of start-up and as each is evaluated (scene/camera.cpp). Read
    // by the cameras (their placements at shutter open and close) and by
    // bucket entry.
    bool camera_motion_blur = false;
    // The shutter interval of the frame being rendered, in frames: set by the
    // frame loop from the shutter angle. Read by the scene's evaluation and
    // bucket entry (where in the interval the frame lies).
    float shutter_open = 0.0f;
    float shutter_close = 0.0f;
    // -o, -O (1.0): the frame step the shutter angle and the fields' half
    // step are taken of, instead of byframe; 0 when not given. Read by the
    // frame schedule and the shutter interval.
    float motion_byframe = 0.0f;
    // The field being rendered: 0 odd, 1 even. Set by the frame loop, read by
    // the caster (which rows it renders).
    std::int32_t field_parity = 0;
    // Render a second eye per camera: the scene's. Start-up adds the second
    // cameras; read by the camera's evaluation.
    bool stereo = false;
    // How far each eye sits sideways from the camera, in world units:
    // evaluated by start-up from the scene (default 0.5). Read by the
    // camera's evaluation.
    float stereo_eye_offset = 0.5f;
    // The eyes look parallel instead of converging on the view point: the
    // scene's. Read by the camera's view.
    bool stereo_parallel = false;

    // Rendering switches.

    // Non-zero: no progress, summaries or statistics (elapsed times,
    // "Completed" lines and errors still print). The scene's (default 1),
    // -q. Read wherever those are printed.
    std::int32_t quiet = 1;
    // The tracer's ray-traced preview: the scene's; start-up turns it off
    // (and says so) for fields. Nothing else in this program reads it.
    bool preview_ray_trace = true;
    // Replay the triangles of unchanging objects in later frames: -G only
    // (the scene's setting is not consulted), off with motion blur. Read by
    // the geometry's evaluation and the saved-geometry store.
    bool saved_geometry = false;
    // Patches take the tessellator's settings rather than the classic
    // subdivision's: the scene's, by default on from SDL version 9.5 unless
    // `use_v9_tessellator`. Read by the patches' evaluation.
    bool tessellator = false;
    // Textures on: the scene's. Read by the frame loop (switches texturing)
    // and the diagnostics.
    bool textures_active = true;
    // Hidden-line rendering: the scene's, or -V. The caster draws lines
    // instead of shading (render/hidden_line.h).
    bool hidden_line = false;
    // Filter the output rows: the scene's. Read by the outputs and the
    // start-up summary.
    bool post_filter = false;
    // Format code of the image files (platform/image/fb.h): the scene's
    // (default 1). Read by the camera's file names (extension), the outputs,
    // and start-up (which loads OpenImageIO early for SGI).
    std::int32_t image_format = 1;
    // Composite rendering (no anti-aliasing; alpha from coverage) and the
    // fraction of a pixel's samples that must hit for it to keep its colour:
    // the scene's. Read by the caster, the pixels and the diagnostics.
    bool composite_rendering = false;
    float composite_threshold = 0.0f;
    // The depth file's variant (integer depths along the view axis): the
    // scene's; -J clears it. Read by the caster and the outputs.
    bool use_lumenfold_depth = false;
    // Transparency depth and percentage (clamped to 0..1): the scene's. Part
    // of the record as defined; no stage of this program reads them yet.
    std::int32_t trans_depth = 0;
    float trans_percent = 1.0f;
    // The tracer's attenuation of refractions: evaluated from the scene with
    // the other settings (a failing expression ends the run here too);
    // nothing in this program reads it.
    bool atten_trans = true;
    // Keep the image before glow as "<name>.ng": the scene's, -P. Read by
    // the outputs' file names.
    bool keep_noglow = false;
    // Jitter glows: on, -u clears. Kept for the glow post effect, which does
    // not read it yet.
    bool glow_jitter = true;
    // Render normally outside the viewport: the scene's, -v. Read by the
    // caster.
    bool ignore_filmgate = false;
    // Invisible objects still cast shadows: the scene's. Read by the depth
    // maps' object filter (render/shadow_pass.cpp).
    bool invisible_objects_cast_shadows = false;
    // Shadow depth maps written to files named after their lights (-K) and
    // kept in memory from the frame that built them (-k), from the scene or
    // the command line. Read by the shadow pass (render/shadow_pass.cpp);
    // start-up prints its remark for spot_memory.
    std::int32_t spot_depth = 0;
    bool spot_memory = false;
    // Gamma correction of output bytes: on when the scene's
    // `gamma_correction` is not 1, or with -g. Start-up hands both to the
    // image library (Rr_gamma_value, Rr_gamma_correction_on), which the
    // outputs read.
    float gamma = 1.0f;
    bool gamma_correction_on = false;
    // -L: scale the background proportionally. Kept for the backgrounds,
    // which do not read it yet.
    bool scale_background = false;
    // -l: memory mapping of textures, in megabytes of disk (0 off, > 0 use up
    // to that much, < 0 leave that much free). Kept for the file textures,
    // which do not read it yet.
    std::int32_t texture_map_megabytes = 0;
    // The scene's (outside 0..2 it becomes 1); carried in the record for the
    // tracer, read by nothing here.
    std::int32_t bbox_memory = 1;
    // File-texture caching (0 to 2; 0 off), the cache's size in megabytes
    // (4 to 256) and its disk limit (1 to 5000): the scene's. The texture
    // cache reads its size; the mode and the disk limit are kept for the
    // file textures, which do not read them yet.
    std::int32_t texture_caching = 0;
    std::int32_t texture_cache_size = 32;
    std::int32_t texture_cache_disk_limit = 1;
    // The pixels a fixed pattern marks take at most 5 samples: the scene's.
    // Read by the pixels.
    bool reduced_samples = true;
    // Particle settings: the scene's. Kept for the particle systems, which
    // this program does not render yet (show_particles will also decide
    // whether the fast sample routine may be used).
    std::int32_t show_particles = 1;
    std::int32_t simulation_substeps = 1;
    std::int32_t simulation_frames_per_second = 30;
    // The scene's SDL version, 0 when it sets none. The environment transfer
    // reads it for the default tessellator.
    float version = 0.0f;
    // -C and -c: accepted and kept; this program does not quantize images.
    std::string colour_map_file;
    std::string quantize_output_file;
    // -N: print the diagnostics at the first frame (run/frame_loop.cpp).
    bool diagnostics = false;
    // -A: the scene comes from the modelling application and the pixels go
    // back to it. Read by start-up, the frame loop and the outputs.
    bool link_mode = false;
    // -z after -A: start-up deletes the input file once the options are read.
    bool delete_input = false;
    // -n: number of workers; -1 for one per processor. Read by the workers'
    // start (base/workers.cpp).
    std::int32_t processors = -1;
    // -J: the depth rows carry each pixel's longest time between samples, in
    // milliseconds, instead of depths. Read by the caster.
    bool timing_depth = false;
    // -f: the program run after each camera's image, with the frame,
    // extension and file names; empty for none. Read by the frame loop.
    std::string post_program;

    // File names given on the command line (-p, -m, -d; -J sets the depth
    // name), applied to the first camera when the cameras exist; empty when
    // not given.
    std::string image_name;
    std::string matte_name;
    std::string depth_name;

    // -r: the first camera's aspect ratio, applied when the cameras exist.
    bool aspect_ratio_given = false;
    float aspect_ratio = 0.0f;

    // What the start-up routine was called with (this program: the caster,
    // a full render), stored by start-up and the environment transfer as the
    // record defines them. Nothing reads them: the transfer takes the mode it
    // needs (motion blur) as its argument.
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
