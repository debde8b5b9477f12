// The view of a camera for one image: the eye moved by its placement and the
// stereo offset, the roll (twist), the projection, the look-at matrix, the
// viewport installed on the screen, and the mapping from eye space to pixels
// that bucket entry and sampling run for every vertex.
//
// Matrices use row vectors (p' = p·M) and are built by pre-multiplying
// (M ← T·M), so the transformation multiplied last acts first on a point.
// Scenes whose world has z up are turned to y up first: (x, y, z) is taken
// as (x, z, −y).
#include <cmath>

#include "base/options.h"
#include "base/vecmath.h"
#include "platform/fatal.h"
#include "scene/camera.h"
#include "scene/camera_internal.h"
#include "sdl/environment.h"

namespace sky {
namespace {

constexpr double kDegreesToRadians = 0.017453292519943295;
constexpr double kRadiansToDegrees = 57.29577951308232;
// Below this distance from the vertical the camera keeps a fixed azimuth.
constexpr double kVertical = 0.0001;

// The camera is worked out in double precision, its results rounded to the
// scene's floats.
using Vec = Imath::V3d;

Vec vec(const Triple& t) {
    return to_imath(t);
}
Triple triple(const Vec& v) {
    return to_triple(Imath::V3f(v));
}
// The unit vector along `a`, or `fallback` when `a` is zero.
Vec unit(const Vec& a, const Vec& fallback) {
    double l = 0;
    const Vec n = normalise(a, &l);
    return l > 0 ? n : fallback;
}

// World to y-up coordinates.
Vec y_up_coordinates(const Vec& p, bool y_up) {
    return y_up ? p : Vec{p.x, p.z, -p.y};
}

// The azimuth and elevation that turn the line of sight `d` (y-up
// coordinates, |d| = dist) onto −z: sine and cosine of each.
struct Aim {
    double sin_y = 0, cos_y = 1, sin_x = 0, cos_x = 1;
};
Aim aim_along(const Vec& d, double dist) {
    Aim a;
    double r = std::sqrt(d.x * d.x + d.z * d.z);
    if (r >= kVertical) {
        a.sin_y = d.x / r;
        a.cos_y = -d.z / r;
    }
    a.sin_x = -d.y / dist;
    a.cos_x = r / dist;
    return a;
}

// The right-hand rotations of the look-at applied to a vector, without the
// twist: what the camera sees of it before it is rolled.
Vec aim_vector(const Aim& a, const Vec& v) {
    Vec y{v.x * a.cos_y + v.z * a.sin_y, v.y, -v.x * a.sin_y + v.z * a.cos_y};
    return {y.x, y.y * a.cos_x - y.z * a.sin_x, y.y * a.sin_x + y.z * a.cos_x};
}

// Clip from eye for a perspective camera. Depth z·P[10] + P[14] over w = z
// runs from 0 at near to 1 at far; the forms used divide only by far − near.
Matrix4 perspective_projection(const CameraRecord& r, double near, double far) {
    if (r.aspect == 0) fatal("aspect cannot be zero\n");
    if (far == near) fatal("far cannot equal near\n");
    double t = std::tan(r.angle_of_view / 2.0);
    double c = 1.0 / t;
    // A film offset widens the view to the offset film back.
    if (r.film_offset_x != 0 && r.aperture_x != 0) {
        double half = r.aperture_x / 2.0;
        c = 1.0 / (t * (std::fabs(r.film_offset_x) + half) / half);
    }
    Matrix4 p;
    p.m[0] = static_cast<float>(c / r.aspect);
    p.m[5] = static_cast<float>(c);
    p.m[10] = static_cast<float>(far / (far - near));
    p.m[11] = 1.0f;
    p.m[14] = static_cast<float>(near * far / (near - far));
    p.m[15] = 0.0f;
    return p;
}

void set_screen_mapping(CameraRecord& r) {
    CameraView& v = r.view;
    v.screen.cx = v.cx;
    v.screen.cy = v.cy;
    v.screen.perspective = r.kind != CAMERA_ORTHOGRAPHIC;
    if (v.screen.perspective) {
        v.screen.sx = v.projection.m[0] * v.hx;
        v.screen.sy = v.projection.m[5] * v.hy;
    } else {
        // The window size, in the scaling factor's units, spans the viewport.
        v.screen.sx = 2 * v.hx / (r.win_xsize * r.scaling_factor);
        v.screen.sy = 2 * v.hy / (r.win_ysize * r.scaling_factor);
    }
}

void install_viewport(CameraRecord& r) {
    const RenderOptions& options = render_options();
    const CameraGlobals& globals = camera_globals();
    float version = sdl_version();
    float box[4], gate[4];
    for (int i = 0; i < 4; ++i) box[i] = r.viewport[i], gate[i] = r.film_gate[i];
    // Old scenes gave their viewport in the pixels of the unscaled image.
    if (version < 7.0f &&
        (globals.resolution_scale_x != 1.0f || globals.resolution_scale_y != 1.0f)) {
        for (int i = 0; i < 2; ++i) {
            box[i] *= globals.resolution_scale_x, gate[i] *= globals.resolution_scale_x;
            box[i + 2] *= globals.resolution_scale_y, gate[i + 2] *= globals.resolution_scale_y;
        }
    }
    CameraView& v = r.view;
    v.hx = (box[1] - box[0] + 1) / 2;
    v.hy = (box[3] - box[2] + 1) / 2;
    v.cx = (box[0] + box[1] + 1) / 2;
    v.cy = (box[2] + box[3] + 1) / 2;
    for (int i = 0; i < 4; ++i) v.gate[i] = gate[i];
    if (version >= 6.0f && r.pixel_aspect != 1.0f) {
        if (r.kind == CAMERA_ORTHOGRAPHIC) {
            v.hx /= r.pixel_aspect;
        } else if (r.aperture_x != 0) {
            v.cx += (r.film_offset_x / r.aperture_x * static_cast<float>(options.xresolution)) *
                    (1 - 1 / r.pixel_aspect);
        }
    }
}

}  // namespace

LookAt look_at(const Triple& eye, const Triple& view_point, const Triple& up_point) {
    Vec e = vec(eye);
    Vec direction = unit(vec(view_point) - e, {1, 0, 0});
    Vec up = unit(vec(up_point) - e, {0, 1, 0});
    Vec right = unit(cross(direction, up), {0, 0, 0});
    Vec true_up = unit(cross(right, direction), {0, 0, 0});
    return {triple(direction), triple(right), triple(true_up)};
}

float twist_from_up(const Triple& eye, const Triple& view_point, const Triple& up_point,
                    bool y_up) {
    Vec e = y_up_coordinates(vec(eye), y_up);
    Vec d = y_up_coordinates(vec(view_point), y_up) - e;
    double dist = length(d);
    if (dist == 0) return 0;  // no line of sight: the view itself is refused
    Vec u = aim_vector(aim_along(d, dist), y_up_coordinates(vec(up_point), y_up) - e);
    // The roll that brings the up direction to +y of the image.
    double numerator = -u.x, denominator = u.y;
    if (denominator == 0) return numerator > 0 ? 90.0f : numerator < 0 ? -90.0f : 0.0f;
    return static_cast<float>(std::atan2(numerator, denominator) * kRadiansToDegrees);
}

Matrix4 look_at_matrix(const Triple& eye, const Triple& view_point, float twist, bool y_up) {
    Vec e = y_up_coordinates(vec(eye), y_up);
    Vec d = y_up_coordinates(vec(view_point), y_up) - e;
    double dist = length(d);
    if (dist == 0)
        fatal(
            "Line of sight must have at least one non-zero component.\n\t- Eye point and view "
            "point are identical.\n");
    Aim a = aim_along(d, dist);
    double roll = -twist * kDegreesToRadians;
    Matrix4 eye_from_world = axis_rotation(3, std::sin(roll), std::cos(roll));
    eye_from_world = multiply(axis_rotation(1, a.sin_x, a.cos_x), eye_from_world);
    eye_from_world = multiply(axis_rotation(2, a.sin_y, a.cos_y), eye_from_world);
    eye_from_world = multiply(translation_matrix(triple(-e)), eye_from_world);
    if (!y_up) eye_from_world = multiply(axis_rotation(1, -1, 0), eye_from_world);
    return eye_from_world;
}

void prepare_camera(CameraRecord& r, bool fields, int parity, bool number_frames,
                    int frame_number) {
    form_output_names(r, fields, parity, number_frames, frame_number);

    const RenderOptions& options = render_options();
    CameraView& v = r.view;
    v.eye = r.placement ? AR_model_xform(r.eye, r.placement->model) : r.eye;
    v.view_point = r.view_point;
    v.up_point = r.up_point;

    if (r.stereo) {
        // The eyes sit either side of the camera along its right axis; they
        // converge on the view point unless the views are parallel.
        Vec right{0, 0, 0};
        if (r.up_given) {
            right = vec(look_at(v.eye, v.view_point, v.up_point).right);
        } else {
            // The image's x axis in the world: the look-at's first column.
            const Matrix4 eye_from_world =
                look_at_matrix(v.eye, v.view_point, r.twist, options.y_up);
            const float* e = eye_from_world.m;
            right = unit(Vec{e[0], e[4], e[8]}, {0, 0, 0});
        }
        Vec offset = static_cast<double>(r.right_eye ? r.eye_offset : -r.eye_offset) * right;
        v.eye = triple(vec(v.eye) + offset);
        v.up_point = triple(vec(v.up_point) + offset);
        if (options.stereo_parallel) v.view_point = triple(vec(v.view_point) + offset);
    }
    if (r.up_given) r.twist = twist_from_up(v.eye, v.view_point, v.up_point, options.y_up);
    v.direction = triple(vec(v.view_point) - vec(v.eye));
    if (r.auto_focus) r.focal_distance = static_cast<float>(length(vec(v.direction)));

    TransformState& state = transform_state();
    reset_transform_state(state);
    camera_globals().orthographic = r.kind == CAMERA_ORTHOGRAPHIC;
    v.projection =
        r.kind == CAMERA_ORTHOGRAPHIC ? Matrix4{} : perspective_projection(r, r.near, r.far);

    v.eye_from_world = look_at_matrix(v.eye, v.view_point, r.twist, options.y_up);
    Ar_invert_matrix(v.eye_from_world, v.world_from_eye);
    Matrix4 rotation = v.eye_from_world;
    rotation.m[12] = rotation.m[13] = rotation.m[14] = 0;
    state.value.projection = v.projection;
    state.value.model = v.eye_from_world;
    state.value.direction = rotation;
    state.value.normal = rotation;  // a rotation is its own inverse transpose

    install_viewport(r);
    set_screen_mapping(r);
}

void set_camera_clipping(CameraRecord& r, double near, double far) {
    r.near = near;
    r.far = far;
    if (r.kind == CAMERA_ORTHOGRAPHIC) return;
    r.view.projection = perspective_projection(r, near, far);
    transform_state().value.projection = r.view.projection;
}

}  // namespace sky
