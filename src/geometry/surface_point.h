// What a tessellator hands on for each triangle it makes: three points of the
// surface in object space, before the placement and the view move them to
// the screen.
#pragma once

#include <cstdint>

namespace sky {

struct SurfacePoint {
    double position[3] = {0, 0, 0};
    double normal[3] = {0, 0, 0};  // unit, object space; zero when unknown
    double u = 0, v = 0;           // surface parameters or texture coordinates
    float colour[3] = {0, 0, 0};   // polyset vertex colours
    bool has_colour = false;
};

// What a mesh's corner is made from: its vertex, and the normal and texture
// vertex its polygon names for it (−1 where the polygon names none). Two
// corners of one mesh with the same key are the same point, unless the
// maker says otherwise as it makes one.
struct CornerKey {
    std::int32_t vertex, normal, texture;
};

inline bool operator==(const CornerKey& a, const CornerKey& b) {
    return a.vertex == b.vertex && a.normal == b.normal && a.texture == b.texture;
}

// Makes the corners of a keyed triangle that its sink does not hold.
class CornerMaker {
public:
    // Corner i of the triangle (0 to 2, in the order handed on) into
    // `point`; false when the point is not its key's alone (its normal came
    // from its polygon), so that it must not stand for another corner.
    virtual bool make_corner(int i, SurfacePoint& point) = 0;

protected:
    ~CornerMaker() = default;
};

// What a sink takes of a mesh's triangles by their corners' keys.
enum class KeyedCorners : std::uint8_t {
    none,       // every triangle through add_triangle
    positions,  // the corners' positions are all it needs: nothing is made
    whole,      // points it does not hold are asked of the maker
};

// Receives a tessellator's triangles, counter-clockwise seen from the side
// the normals point to.
class TriangleSink {
public:
    virtual ~TriangleSink() = default;
    virtual void add_triangle(const SurfacePoint& a, const SurfacePoint& b,
                              const SurfacePoint& c) = 0;

    // A mesh's tessellator may hand on its triangles by their corners'
    // keys instead: a corner met again (a mesh's vertex belongs to about
    // six triangles) is then neither made again nor compared whole.
    virtual KeyedCorners keyed_corners() const { return KeyedCorners::none; }
    // `positions`: the corners' object-space positions.
    virtual void add_keyed_triangle(const CornerKey* keys, const float* const* positions,
                                    CornerMaker& maker) {
        (void)keys, (void)positions;
        SurfacePoint points[3];
        for (int i = 0; i < 3; ++i) maker.make_corner(i, points[i]);
        add_triangle(points[0], points[1], points[2]);
    }
};

}  // namespace sky
