// Camera evaluation: the components of an entry evaluated at the current
// frame into its record, checked and clamped, and the values derived from
// them: focal length, the viewport fitted to the film back, the aspect and
// angle of view as the scene's version reads them, and the pixel angle.
//
// A rejected camera says nothing here: bad values end the program when the
// frame's cameras are evaluated, with the camera's name and line. Only a
// negative near distance is reported on the way.
#include <algorithm>
#include <cmath>

#include "base/options.h"
#include "platform/report.h"
#include "scene/camera.h"
#include "scene/camera_internal.h"
#include "scene/scene_clock.h"
#include "sdl/environment.h"
#include "sdl/expr.h"

namespace sky {
namespace {

constexpr float kDegreesToRadians = 0.017453292f;
constexpr float kDefaultViewport[4] = {0, 644, 0, 485};

bool scalar(const CameraEntry& e, CameraComponent c, float fallback, float& out) {
    return AR_evaluate(SDL_SCALAR, &out, e.components[c], &fallback);
}

bool triple(const CameraEntry& e, CameraComponent c, Triple fallback, Triple& out) {
    return AR_evaluate(SDL_TRIPLE, &out, e.components[c], &fallback);
}

bool filename(const CameraEntry& e, CameraComponent c, std::string& out) {
    out.clear();
    Expr* name = e.components[c];
    return name == nullptr || AR_evaluate(SDL_FILENAME, &out, name, nullptr);
}

bool viewport(const CameraEntry& e, float out[4]) {
    Expr* list = e.components[CC_VIEWPORT];
    if (list == nullptr) {
        std::copy(kDefaultViewport, kDefaultViewport + 4, out);
        return true;
    }
    if (!is_list(list) || list_length(list) != 4) return false;
    int i = 0;
    for (Expr* value = list_first(list); value; value = value->next)
        if (!AR_evaluate(SDL_SCALAR, &out[i++], value, nullptr)) return false;
    return true;
}

// The offset kept within the aperture, on its own side.
float clamp_offset(float offset, float aperture) {
    float limit = std::fabs(aperture);
    return std::fabs(offset) > limit ? std::copysign(limit, offset) : offset;
}

// Where the film aperture falls on the screen, given the fitted viewport and
// the pixels per film unit `s`: the viewport covers the aperture widened by
// twice the offset, centred on the lens axis.
void film_gate(CameraRecord& r, float s, float ox, float oy) {
    const float* v = r.viewport;
    float gx = (v[0] + v[1]) * 0.5f + ox * s, gy = (v[2] + v[3]) * 0.5f + oy * s;
    float half_x = r.aperture_x * s * 0.5f, half_y = r.aperture_y * s * 0.5f;
    r.film_gate[0] = gx - half_x;
    r.film_gate[1] = gx + half_x;
    r.film_gate[2] = gy - half_y;
    r.film_gate[3] = gy + half_y;
}

// One axis of the viewport fit: the image's last pixel on it, the film's
// aperture, the aperture widened by twice the offset, the offset, and the
// viewport's two entries for the axis.
struct FitAxis {
    float size, aperture, extent, offset;
    float* range;
};

// Fits the widened film to the image along `fitted` at `s` pixels per film
// unit, lying on the side of its offset, and places it along `other` by the
// placement shift `p`.
void fit_film(const FitAxis& fitted, const FitAxis& other, float s, float p) {
    float* f = fitted.range;
    if (fitted.offset < 0)
        f[0] = 0, f[1] = s * fitted.extent;
    else
        f[1] = fitted.size, f[0] = fitted.size - s * fitted.extent;
    float e = (other.aperture * s - other.size) / 2 * (p + 1);
    float* o = other.range;
    if (other.offset < 0)
        o[0] = -e, o[1] = -e + s * other.extent;
    else
        o[1] = other.aperture * s - e, o[0] = o[1] - s * other.extent;
}

// The viewport fitted to the film back and the image resolution: the film
// fills the image across (horizontal fit) or up (vertical fit), and the
// placement shift slides the image along the film's other dimension, −1 at
// one edge, 0 centred, 1 at the other.
void fit_viewport(CameraRecord& r, float version, std::int32_t xresolution,
                  std::int32_t yresolution) {
    std::copy(r.viewport, r.viewport + 4, r.film_gate);
    float ax = r.aperture_x, ay = r.aperture_y;
    if (ax == 0 || ay == 0) return;
    float X = static_cast<float>(xresolution - 1), Y = static_cast<float>(yresolution - 1);
    float* v = r.viewport;
    if (r.kind == CAMERA_ORTHOGRAPHIC) {
        if (version < 7.5f) {
            v[0] = 0, v[1] = X, v[2] = 0, v[3] = Y;
            std::copy(r.viewport, r.viewport + 4, r.film_gate);
        }
        return;
    }
    float ox = clamp_offset(r.film_offset_x, ax), oy = clamp_offset(r.film_offset_y, ay);
    float ex = ax + 2 * std::fabs(ox), ey = ay + 2 * std::fabs(oy);
    float p = r.placement_shift;
    int code = r.placement_fit_code;

    const FitAxis across{X, ax, ex, ox, v}, up{Y, ay, ey, oy, v + 2};
    if (code == 0 || code == 1) {
        const float s = X / ax;
        fit_film(across, up, s, p);
        bool fits = v[0] <= 0.1f && v[1] >= X - 0.1f && v[2] <= 0.1f && v[3] >= Y - 0.1f;
        if (code == 1 || fits) {
            film_gate(r, s, ox, oy);
            return;
        }
    }
    const float s = Y / ay;
    fit_film(up, across, s, p);
    film_gate(r, s, ox, oy);
}

// Rows 1 to 29 of the components; false rejects the camera.
bool evaluate_components(CameraEntry& entry, CameraRecord& r) {
    const RenderOptions& options = render_options();
    float value = 0;

    if (!triple(entry, CC_EYE, {0, 0, 0}, r.eye)) return false;
    if (!triple(entry, CC_VIEW, {0, 0, -1}, r.view_point)) return false;
    if (!triple(entry, CC_UP, {0, 1, 0}, r.up_point)) return false;
    // `up` wins over `twist`: the twist is then made from it for each image.
    r.up_given = entry.components[CC_UP] != nullptr;
    r.twist = 0;
    if (!r.up_given && !scalar(entry, CC_TWIST, 0, r.twist)) return false;

    if (!scalar(entry, CC_FILMAPERTURE_X, 1.0f, r.aperture_x)) return false;
    if (!scalar(entry, CC_FILMAPERTURE_Y, 1.0f, r.aperture_y)) return false;
    if (!scalar(entry, CC_FILMOFFSET_X, 0, r.film_offset_x)) return false;
    if (!scalar(entry, CC_FILMOFFSET_Y, 0, r.film_offset_y)) return false;

    float aov = 0;
    if (!scalar(entry, CC_AOV, 45.0f, aov)) return false;
    aov = std::clamp(aov, 0.2f, 179.0f);
    r.angle_of_view = aov * kDegreesToRadians;

    if (!scalar(entry, CC_ASPECT, 1.0f, r.aspect)) return false;
    if (!scalar(entry, CC_ASPECT_RATIO_PIXEL, 1.0f, r.pixel_aspect)) return false;
    // Screen positions are divided by the pixel aspect.
    if (!(r.pixel_aspect > 0)) return false;
    if (!viewport(entry, r.viewport)) return false;

    if (!scalar(entry, CC_PLACEMENT_FIT_CODE, 0, value)) return false;
    r.placement_fit_code = truncate_to_int(value);
    if (r.placement_fit_code < 0 || r.placement_fit_code > 2) r.placement_fit_code = 0;
    if (!scalar(entry, CC_PLACEMENT_SHIFT, 0, value)) return false;
    r.placement_shift = std::clamp(value, -1.0f, 1.0f);

    if (!scalar(entry, CC_NEAR, 0.2f, value)) return false;
    r.near = value;
    if (r.near < 0) {
        // A camera that renders in perspective, now or at its last frame,
        // cannot see from behind its eye.
        bool perspective = r.kind == CAMERA_PERSPECTIVE;
        float wanted = 0, fallback = 1.0f;
        if (!perspective &&
            AR_evaluate(SDL_SCALAR, &wanted, entry.components[CC_PERSPECTIVE], &fallback))
            perspective = truncate_to_int(wanted) != 0;
        if (perspective) {
            rptError("near must be greater than 0.  near is (%f)\n", r.near);
            return false;
        }
    }
    if (!scalar(entry, CC_FAR, 1000.0f, value)) return false;
    r.far = value;
    if (r.near >= r.far) return false;

    if (!scalar(entry, CC_WIN_XSIZE, 644.0f, r.win_xsize)) return false;
    if (!scalar(entry, CC_WIN_YSIZE, 485.0f, r.win_ysize)) return false;

    if (!filename(entry, CC_PIX, r.pix)) return false;
    if (!filename(entry, CC_MASK, r.mask)) return false;
    if (!filename(entry, CC_DEPTH_FILE, r.depth_file)) return false;
    if (r.pix.empty() && r.mask.empty() && r.depth_file.empty()) return false;

    if (!scalar(entry, CC_ACTIVE, 1.0f, value)) return false;
    r.active = truncate_to_int(value);

    if (!scalar(entry, CC_PERSPECTIVE, 1.0f, value)) return false;
    r.kind = truncate_to_int(value) != 0 ? CAMERA_PERSPECTIVE : CAMERA_ORTHOGRAPHIC;
    r.stereo = options.stereo ? 1 : 0;
    r.eye_offset = options.stereo_eye_offset;
    r.right_eye = r.stereo && entry.right_eye ? 1 : 0;
    r.left_eye = r.stereo && !entry.right_eye ? 1 : 0;
    if (r.stereo && r.eye_offset <= 0) return false;
    // The orthographic view spans the window size in scene units.
    if (r.kind == CAMERA_ORTHOGRAPHIC && !(r.win_xsize > 0 && r.win_ysize > 0)) return false;

    if (!scalar(entry, CC_DEPTH_OF_FIELD, 0, value)) return false;
    r.depth_of_field = truncate_to_int(value);
    // Old scenes wrote the focal length; it is checked but the one used is
    // always derived from the angle of view.
    if (sdl_version() < 6.0f && !scalar(entry, CC_FOCAL_LENGTH, 35.0f, value)) return false;
    if (!scalar(entry, CC_F_STOP, 8.0f, r.f_stop) || r.f_stop <= 0) return false;
    if (!scalar(entry, CC_FOCAL_DISTANCE, 10.0f, r.focal_distance) || r.focal_distance <= 0)
        return false;
    if (!scalar(entry, CC_AUTO_FOCUS, 0, value)) return false;
    r.auto_focus = truncate_to_int(value);
    if (!scalar(entry, CC_SCALING_FACTOR, 1.0f, r.scaling_factor) || r.scaling_factor <= 0)
        return false;

    if (!scalar(entry, CC_MOTION_BLUR, 0, value)) return false;
    set_camera_motion(options.motion_blur &&
                      (options.camera_motion_blur || truncate_to_int(value) != 0));
    return true;
}

}  // namespace

bool evaluate_camera(CameraEntry& entry) {
    CameraRecord& r = *entry.evaluated;
    if (!evaluate_components(entry, r)) return false;

    // Focal length in mm from the film back's width in inches, kept in cm.
    float f = r.aperture_x * 25.4f / (2 * std::tan(r.angle_of_view / 2));
    if (f <= 0) f = 1;
    r.focal_length = f * 0.1f;

    const RenderOptions& options = render_options();
    float version = sdl_version();
    if (version > 6.0f)
        fit_viewport(r, version, options.xresolution, options.yresolution);
    else
        std::copy(r.viewport, r.viewport + 4, r.film_gate);

    float width = r.viewport[1] - r.viewport[0] + 1, height = r.viewport[3] - r.viewport[2] + 1;
    if (!(width > 0 && height > 0)) return false;
    if (version > 6.0f) r.aspect *= width / height;
    // From version 6.0 the angle of view is written across the image; the
    // projection wants it up the image.
    if (version >= 6.0f)
        r.angle_of_view = 2 * std::atan(std::tan(r.angle_of_view / 2) * height / width);
    r.pixel_angle = std::max(r.aspect * r.angle_of_view / width, r.angle_of_view / height);
    return true;
}

}  // namespace sky
