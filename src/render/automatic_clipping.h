// Automatic clipping planes: a camera whose near distance is 0, and every
// depth map, take their near and far planes from the box around what the
// pass renders, so that the projective depths keep their precision where
// the scene is.
#pragma once

#include <span>

#include "base/vecmath.h"

namespace sky {

struct CameraRecord;
struct PassFilter;

struct ClippingPlanes {
    double near = 0.1, far = 1000.0;
};

// The planes for a world box (xmin, xmax, ymin, ymax, zmin, zmax) seen from
// `eye` along `direction` (any length). `other_views` (eye from world, for a
// camera that moves over the shutter) may only push the far plane out.
ClippingPlanes clipping_planes_for_box(const double box[6], const Triple& eye,
                                       const Triple& direction,
                                       std::span<const Matrix4> other_views = {});

// The planes for what the filter lets through, reported unless quiet;
// false, leaving near and far alone, when the pass renders nothing.
bool automatic_clipping(const PassFilter& filter, const Triple& eye, const Triple& direction,
                        std::span<const Matrix4> other_views, double& near, double& far);

// The frame loop's slot: a camera with near 0.
bool camera_automatic_clipping(const CameraRecord& camera, double& near, double& far);

}  // namespace sky
