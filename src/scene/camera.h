// Cameras: the entries made from the scene's camera bodies, their evaluation
// at each frame, their output file names, and the view, projection and
// screen mapping a rendered image uses.
//
// The model walk calls place_camera for each camera statement; the frame
// loop resets, evaluates and selects cameras. Entries live in two lists: the
// cameras to render, and the cameras set aside by stage files, which are
// kept but never evaluated, placed or rendered.
//
// Coordinate spaces: world (the scene's, y up or z up), eye (the camera at the
// origin looking down -z with y up), screen (pixels of the image, x to the
// right, y up, the window's ylow at the bottom).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "base/vecmath.h"
#include "scene/transform.h"
#include "sdl/body.h"

namespace sky {

struct RenderOptions;

// The components a camera body may write, in the order they are evaluated.
enum CameraComponent : int {
    CC_EYE,
    CC_VIEW,
    CC_UP,
    CC_TWIST,
    CC_FILMAPERTURE_X,
    CC_FILMAPERTURE_Y,
    CC_FILMOFFSET_X,
    CC_FILMOFFSET_Y,
    CC_AOV,  // also written `fov`
    CC_ASPECT,
    CC_ASPECT_RATIO_PIXEL,
    CC_VIEWPORT,
    CC_PLACEMENT_FIT_CODE,
    CC_PLACEMENT_SHIFT,
    CC_NEAR,
    CC_FAR,
    CC_WIN_XSIZE,
    CC_WIN_YSIZE,
    CC_PIX,
    CC_MASK,
    CC_DEPTH_FILE,
    CC_ACTIVE,
    CC_PERSPECTIVE,
    CC_DEPTH_OF_FIELD,
    CC_FOCAL_LENGTH,
    CC_F_STOP,
    CC_FOCAL_DISTANCE,
    CC_AUTO_FOCUS,
    CC_SCALING_FACTOR,
    CC_MOTION_BLUR,
    CC_COUNT
};

// The SDL name of a component ("aov" for CC_AOV).
const char* camera_component_name(CameraComponent component);

enum CameraKind : std::int32_t {
    CAMERA_UNEVALUATED = 0,
    CAMERA_PERSPECTIVE = 1,
    CAMERA_ORTHOGRAPHIC = 2,
};

struct ScreenPoint {
    float x = 0, y = 0;
};

// Eye space to screen pixels. Perspective: x = cx − sx·x/z, y = cy − sy·y/z
// with sx = P[0]·hx and sy = P[5]·hy; the caller keeps z < 0 (in front of the
// eye: clip against near first). Orthographic: x = cx + sx·x, y = cy + sy·y
// with sx = 2·hx / orthographic width, sy = 2·hy / orthographic height.
struct ScreenMapping {
    float cx = 0, cy = 0;  // pixels
    float sx = 0, sy = 0;
    bool perspective = true;

    ScreenPoint map(const Triple& eye_point) const {
        if (perspective) {
            float inverse_z = 1.0f / eye_point.z;
            return {cx - sx * eye_point.x * inverse_z, cy - sy * eye_point.y * inverse_z};
        }
        return {cx + sx * eye_point.x, cy + sy * eye_point.y};
    }
};

// What prepare_camera makes of an evaluated camera for one image. World
// coordinates unless said otherwise.
struct CameraView {
    Triple eye;         // moved by the placement (and the stereo offset)
    Triple view_point;  // moved by the stereo offset when stereo views are parallel
    Triple up_point;
    Triple direction;        // view point − eye
    Matrix4 projection;      // clip from eye; identity for orthographic cameras
    Matrix4 eye_from_world;  // the look-at
    Matrix4 world_from_eye;  // the camera-to-world matrix
    // The installed viewport, in pixels: half sizes and centre.
    float hx = 0, hy = 0, cx = 0, cy = 0;
    // The film aperture's rectangle on the screen, in pixels (xmin, xmax,
    // ymin, ymax), scaled with the viewport: the image outside it lies
    // outside the film gate.
    float gate[4] = {0, 0, 0, 0};
    ScreenMapping screen;
};

// The evaluated camera.
struct CameraRecord {
    std::int32_t kind = CAMERA_UNEVALUATED;
    std::int32_t active = 0;
    // As evaluated, world coordinates (before the placement moves the eye:
    // CameraView has the moved ones).
    Triple eye;
    Triple view_point;
    Triple up_point;
    bool up_given = false;
    float viewport[4] = {0, 0, 0, 0};   // xmin, xmax, ymin, ymax in pixels, after the fit
    float film_gate[4] = {0, 0, 0, 0};  // the film aperture on the screen, same order
    float win_xsize = 0, win_ysize = 0;
    float aspect = 0, pixel_aspect = 0;
    // Film back in the scene's units (inches for the focal length).
    float aperture_x = 0, aperture_y = 0, film_offset_x = 0, film_offset_y = 0;
    float placement_shift = 0;            // −1..1
    std::int32_t placement_fit_code = 0;  // 0 horizontal then vertical, 1 horizontal, 2 vertical
    float focal_length = 0;               // derived, in cm
    float f_stop = 0, focal_distance = 0;
    std::int32_t auto_focus = 0;
    float angle_of_view = 0;  // radians, vertical for scenes of version 6.0 or later
    double near = 0, far = 0;
    float twist = 0;  // degrees
    // The names as the scene wrote them this frame, and the names of the
    // files to write that prepare_camera forms from them (empty: not wanted).
    std::string pix, mask, depth_file;
    std::string image_name, matte_name, depth_name;
    std::int32_t depth_of_field = 0;
    std::int32_t stereo = 0;
    float eye_offset = 0;
    std::int32_t left_eye = 0, right_eye = 0;
    float scaling_factor = 0;
    float pixel_angle = 0;  // radians per pixel, for filtering
    // Snapshots of the transformation in force at the camera statement; the
    // copies of a camera that does not move share its snapshots.
    std::shared_ptr<const TransformValue> placement, open_placement, close_placement;
    CameraView view;
    // A moving camera's eye, view point and twist as evaluated at shutter
    // open and close (an animated camera moves without any placement).
    struct Aim {
        Triple eye, view_point;
        float twist = 0;
        bool known = false;
    };
    Aim open_aim, close_aim;
};

struct CameraEntry {
    CameraEntry* next = nullptr;
    std::string name;            // the declared name, empty for a model statement's camera
    const Body* body = nullptr;  // the body it was read from (shared by its copies)
    std::int32_t line = 0;
    std::array<Expr*, CC_COUNT> components{};  // absent: the default
    bool twist_given = false;
    std::int32_t odd_field = 0, even_field = 0;  // both 0 when fields are off
    std::int32_t right_eye = 0;
    CameraEntry* origin = nullptr;  // the entry a field or stereo copy was made from
    CameraRecord* evaluated = nullptr;
};

// --- the lists ------------------------------------------------------------------

// Makes the entries from the scene's camera bodies in the order read, and
// sorts them by the stages' camera choice into the rendered and the set-aside
// list. The first rendered camera takes the definition section's `output` and
// `matte` when it writes no `pix` or `mask` of its own. Replaces any earlier
// entries.
void build_camera_entries();

// The cameras to render, in order (their field and stereo copies included).
CameraEntry* first_camera();
// The cameras set aside by stage files.
CameraEntry* first_set_aside_camera();

// -p, -m, -d: non-empty names replace the first camera's image, matte and
// depth names. -r: its aspect ratio; with no camera to take it the process
// ends with status 1.
void apply_command_line_to_cameras(const RenderOptions& options);

// Fields: both fields give every entry a copy (the entry renders the even
// field, the copy the odd); one field marks every entry with it; neither is
// fatal. Stereo: every entry gets a copy for the right eye. Fields first.
void prepare_field_cameras(const RenderOptions& options);
void add_stereo_cameras();

// --- per frame ----------------------------------------------------------------

// Camera statement of the model section (statement kind 711): records the
// current transformation as the placement of the camera written with `body`
// (and of the field and stereo copies that follow it). Uses scene_clock()
// for the motion gates.
void place_camera(const Body* body, const TransformState& state);

// At the start of each scene evaluation: frees every entry's placements.
void reset_cameras();

// After the walk: evaluates every camera that has an output name expression.
// A camera that fails to evaluate ends the program.
void evaluate_all_cameras();

// Evaluates the components into the entry's record; false rejects the camera.
bool evaluate_camera(CameraEntry& entry);

// Whether any camera to render is motion blurred; and whether this one is.
bool camera_is_moving();
bool camera_is_moving(const CameraEntry& entry);
// Start-up: camera motion blur is on when motion blur is and a camera moves.
void decide_camera_motion_blur(RenderOptions& options);

// The next camera to render after `after` (from the start when null): active
// and, with fields, rendering the field of `parity` (0 odd, 1 even). Loads
// its placement into the calling thread's TransformState, forms its names and
// view, publishes its pixel angle, and leaves the view in the thread's state
// (projection, model = eye from world, inverses brought up to date). Null
// when there is none.
CameraEntry* select_next_camera(CameraEntry* after, int parity);

// Forms the output names, then the view and projection, into record.view and
// the calling thread's TransformState.
void prepare_camera(CameraRecord& record, bool fields, int parity, bool number_frames,
                    int frame_number);

// New clipping distances (automatic clipping): the projection and the
// record's near and far. Fatal "far cannot equal near\n" for a perspective
// camera when they are equal.
void set_camera_clipping(CameraRecord& record, double near, double far);

bool CM_is_camera_PERSP(const CameraRecord& record);

// A world point to the screen through the prepared view.
inline ScreenPoint world_to_screen(const CameraView& view, const Triple& world) {
    return view.screen.map(transform_point(world, view.eye_from_world));
}

// --- process-wide camera state ----------------------------------------------------

struct CameraGlobals {
    // The -Q and -R resolution factors: old scenes' viewports follow them.
    float resolution_scale_x = 1.0f, resolution_scale_y = 1.0f;
    // Of the camera selected last.
    float pixel_angle = 0.0f;  // radians per pixel, for texture filtering
    bool orthographic = false;
};
CameraGlobals& camera_globals();

// Forgets every entry (tests, and the start of a new scene).
void clear_cameras();

// --- pieces of the view, for the shadow pass and the tests ---------------------------

struct LookAt {
    Triple direction;  // unit, eye toward view point; (1, 0, 0) for a zero distance
    Triple right;      // unit, direction × up
    Triple up;         // unit, right × direction
};
// `up_point` is a point: the up vector is up_point − eye; a zero one counts
// as (0, 1, 0).
LookAt look_at(const Triple& eye, const Triple& view_point, const Triple& up_point);

// The roll in degrees that turns the up point's direction to the top of the
// image, for a camera at `eye` looking at `view_point`.
float twist_from_up(const Triple& eye, const Triple& view_point, const Triple& up_point, bool y_up);

// Eye from world: the camera at `eye` looks down −z toward `view_point`,
// rolled by `twist` degrees. Fatal when eye and view point coincide.
Matrix4 look_at_matrix(const Triple& eye, const Triple& view_point, float twist, bool y_up);

// --- output names ------------------------------------------------------------------

// ".qrl", ".rgb", ".gif", ".tif", ".rla" by image format code; any other code
// is reported on the error channel and gives ".qrl".
const char* format_extension(int image_format);

struct OutputNaming {
    bool stereo = false;
    bool right_eye = false;
    int extension_placement = 0;  // 1: format extension before the frame number, 2: after
    bool number_frames = false;
    int frame_number = 0;
    int extension_size = 1;  // digits of the frame number, at most 20
    bool fields = false;
    int parity = 0;  // 0 odd, 1 even
};
std::string output_suffix(const OutputNaming& naming, const char* extension);
// The image name by `extensionformat` mode: 0 stem + suffix + extension,
// 1 name (with the extension) + suffix, 2 stem + suffix.
std::string image_output_name(const std::string& name, const std::string& suffix,
                              const char* extension, int mode);

}  // namespace sky
