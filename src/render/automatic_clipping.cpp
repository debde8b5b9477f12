#include "render/automatic_clipping.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "base/options.h"
#include "geometry/geometry_view.h"
#include "geometry/object_queue.h"
#include "platform/report.h"
#include "scene/camera.h"

namespace sky {
namespace {

constexpr double kDefaultNear = 0.1;
constexpr double kDefaultFar = 1000.0;
// The planes are kept within this ratio: beyond it the depths of the far
// end would run together in single precision.
constexpr double kDepthRatio = 10000.0;

// The smallest far plane: QUORL_SHADOW_FARCLIP when it is set.
double minimum_far() {
    const char* text = std::getenv("QUORL_SHADOW_FARCLIP");
    return text ? std::atof(text) : kDefaultFar;
}

}  // namespace

ClippingPlanes clipping_planes_for_box(const double box[6], const Triple& eye,
                                       const Triple& direction,
                                       std::span<const Matrix4> other_views) {
    double b[6];
    for (int axis = 0; axis < 3; ++axis) {
        b[2 * axis] = box[2 * axis] - 1.0;
        b[2 * axis + 1] = box[2 * axis + 1] + 1.0;
    }
    const double e[3] = {eye.x, eye.y, eye.z};
    double d[3] = {direction.x, direction.y, direction.z};
    const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (length > 0)
        for (double& c : d) c /= length;

    const bool inside = e[0] >= b[0] && e[0] <= b[1] && e[1] >= b[2] && e[1] <= b[3] &&
                        e[2] >= b[4] && e[2] <= b[5];
    double nearest = INFINITY, farthest = -INFINITY;
    for (int corner = 0; corner < 8; ++corner) {
        const double p[3] = {b[corner & 1], b[2 + ((corner >> 1) & 1)], b[4 + ((corner >> 2) & 1)]};
        const double along = (p[0] - e[0]) * d[0] + (p[1] - e[1]) * d[1] + (p[2] - e[2]) * d[2];
        nearest = std::min(nearest, along);
        farthest = std::max(farthest, along);
        for (const Matrix4& view : other_views) {
            const Triple at =
                transform_point(Triple{static_cast<float>(p[0]), static_cast<float>(p[1]),
                                       static_cast<float>(p[2])},
                                view);
            farthest = std::max(farthest, -static_cast<double>(at.z));
        }
    }

    ClippingPlanes planes;
    planes.near = inside || !(nearest > 0) ? kDefaultNear : nearest;
    planes.far = farthest;
    if (planes.far <= 0 || planes.near > planes.far) {
        planes.near = kDefaultNear;
        planes.far = kDefaultFar;
    }
    planes.far = std::max(planes.far, minimum_far());
    if (planes.far > planes.near * kDepthRatio) planes.near = planes.far / kDepthRatio;
    return planes;
}

bool automatic_clipping(const PassFilter& filter, const Triple& eye, const Triple& direction,
                        std::span<const Matrix4> other_views, double& near, double& far) {
    double box[6];
    if (!pass_objects_bound(filter, box)) return false;
    const ClippingPlanes planes = clipping_planes_for_box(box, eye, direction, other_views);
    near = planes.near;
    far = planes.far;
    if (!render_options().quiet)
        rptUser("Adjusted clipping planes: near = %g, far = %g\n", near, far);
    return true;
}

bool camera_automatic_clipping(const CameraRecord& camera, double& near, double& far) {
    // The world's own coordinates throughout: the eye and the box are both
    // in them, whichever way the world's up points.
    std::vector<Matrix4> moved;
    if (render_options().camera_motion_blur && camera.open_placement && camera.close_placement) {
        set_geometry_view(camera);
        moved = {geometry_view().eye_from_world_open, geometry_view().eye_from_world_close};
    }
    return automatic_clipping(PassFilter{}, camera.view.eye, camera.view.direction, moved, near,
                              far);
}

}  // namespace sky
