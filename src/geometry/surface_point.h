// What a tessellator hands on for each triangle it makes: three points of the
// surface in object space, before the placement and the view move them to
// the screen.
#pragma once

namespace sky {

struct SurfacePoint {
    double position[3] = {0, 0, 0};
    double normal[3] = {0, 0, 0};  // unit, object space; zero when unknown
    double u = 0, v = 0;           // surface parameters or texture coordinates
    float colour[3] = {0, 0, 0};   // polyset vertex colours
    bool has_colour = false;
};

// Receives a tessellator's triangles, counter-clockwise seen from the side
// the normals point to.
class TriangleSink {
public:
    virtual ~TriangleSink() = default;
    virtual void add_triangle(const SurfacePoint& a, const SurfacePoint& b,
                              const SurfacePoint& c) = 0;
};

}  // namespace sky
