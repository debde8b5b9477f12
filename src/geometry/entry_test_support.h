// Shared set-up of the geometry tests: a window, an orthographic view that
// maps eye x and y straight to the screen, and the worker's tile buffers.
#pragma once

#include "base/arena.h"
#include "base/options.h"
#include "base/tiles.h"
#include "geometry/enter.h"

namespace sky::testing_support {

inline void use_plain_view() {
    GeometryView& view = geometry_view();
    view = GeometryView{};
    view.screen = ScreenMapping{0, 0, 1, 1, false};
    view.minimum_area = 0;
}

// A corner at eye (x, y, z) with its screen values.
inline CornerValues corner(float x, float y, float z = -5.0f) {
    CornerValues c{};
    c.eye[0] = x, c.eye[1] = y, c.eye[2] = z;
    c.eye_normal[2] = 1;
    c.normal[2] = 1;
    project_corner(geometry_view(), c);
    return c;
}

}  // namespace sky::testing_support
