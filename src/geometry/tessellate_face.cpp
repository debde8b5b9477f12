// Faces: a flat region bounded by curves, the first the outline and the
// others holes. Each curve is refined into points by the face's division
// count, the points are taken into the plane of the outline, and the region
// is triangulated there; the triangles carry the plane's normal.
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "base/vecmath.h"
#include "geometry/nurbs_ops.h"
#include "geometry/polygon_plane.h"
#include "geometry/tessellate.h"
#include "geometry/triangulate.h"
#include "platform/fatal.h"
#include "platform/report.h"

namespace sky {
namespace {

// Points off the outline's plane by more than this share of the outline's
// size make a hole that is not in the face.
constexpr double kPlaneTolerance = 1e-6;

// What one call needs, kept per thread so that a frame of many faces does
// not allocate for each.
struct FaceScratch {
    std::vector<std::vector<Vec3>> loops;  // refined, in object space
    std::vector<std::vector<Point2>> flat;
    std::vector<Vec3> points;  // every input point, loop after loop
    Triangulation triangulation;
};

FaceScratch& scratch() {
    thread_local FaceScratch s;
    return s;
}

double distance_to_plane(const Vec3& p, const Vec3& origin, const Vec3& unit_normal) {
    return dot(sub(p, origin), unit_normal);
}

double outline_size(const std::vector<Vec3>& outline) {
    double low[3] = {outline[0][0], outline[0][1], outline[0][2]};
    double high[3] = {low[0], low[1], low[2]};
    for (const Vec3& p : outline)
        for (int i = 0; i < 3; ++i)
            low[i] = std::min(low[i], p[i]), high[i] = std::max(high[i], p[i]);
    return std::max({high[0] - low[0], high[1] - low[1], high[2] - low[2]});
}

Vec3 point_of(const Triangulation& t, const std::vector<Vec3>& points, std::int32_t index) {
    if (index < t.input_count) return points[static_cast<std::size_t>(index)];
    const CrossingPoint& c = t.crossings[static_cast<std::size_t>(index - t.input_count)];
    const Vec3& a = points[static_cast<std::size_t>(c.from)];
    const Vec3& b = points[static_cast<std::size_t>(c.to)];
    return {a[0] + c.t * (b[0] - a[0]), a[1] + c.t * (b[1] - a[1]), a[2] + c.t * (b[2] - a[2])};
}

}  // namespace

bool tessellate_face(const FaceGeometry& face, const char* name, float orientation_sign,
                     TriangleSink& sink) {
    FaceScratch& s = scratch();
    s.loops.resize(face.boundaries.size());
    for (std::size_t i = 0; i < face.boundaries.size(); ++i) {
        s.loops[i].clear();
        if (!refine_curve(face.boundaries[i], std::max(face.divisions, 1), s.loops[i])) {
            rptError("Problem encountered while rendering face %s\n", name);
            return false;
        }
    }
    if (s.loops.empty() || s.loops[0].size() < 3)
        fatal("Face '%s' has < 3 points after refining.\n", name);

    const std::vector<Vec3>& outline = s.loops[0];
    PlaneAxes axes;
    if (!plane_axes(
            newell_normal(outline.size(), [&](std::size_t i) -> const Vec3& { return outline[i]; }),
            axes)) {
        rptError(
            "Can't calculate normal for face, check that the face is not a straight line "
            "segment (%s)\n",
            name);
        return false;
    }

    // Holes out of the face's plane are reported and left out: cutting them
    // along their shadow on the plane would make a hole the scene never had.
    const double tolerance = kPlaneTolerance * std::max(outline_size(outline), 1.0);
    s.flat.clear();
    s.points.clear();
    for (std::size_t i = 0; i < s.loops.size(); ++i) {
        const std::vector<Vec3>& loop = s.loops[i];
        bool in_plane = true;
        if (i > 0)
            for (const Vec3& p : loop)
                if (std::fabs(distance_to_plane(p, outline[0], axes.n)) > tolerance)
                    in_plane = false;
        if (!in_plane) {
            rptError("Faces and holes must be on the same plane. (%s)\n", name);
            continue;
        }
        std::vector<Point2>& flat = s.flat.emplace_back();
        for (const Vec3& p : loop) {
            flat.push_back(axes.project(p));
            s.points.push_back(p);
        }
    }

    Triangulation& t = s.triangulation;
    TriangulateStatus status = triangulate_region(s.flat, t);
    if (status == TriangulateStatus::invalid || status == TriangulateStatus::failed) {
        rptError("Problem encountered while rendering face %s\n", name);
        return false;
    }

    // Texture coordinates span the outline's extent in its plane.
    double low[2] = {s.flat[0][0][0], s.flat[0][0][1]}, high[2] = {low[0], low[1]};
    for (const Point2& p : s.flat[0])
        for (int i = 0; i < 2; ++i)
            low[i] = std::min(low[i], p[i]), high[i] = std::max(high[i], p[i]);
    const double width = high[0] > low[0] ? high[0] - low[0] : 1.0;
    const double height = high[1] > low[1] ? high[1] - low[1] : 1.0;

    // A mirrored placement turns the face over.
    const bool flip = orientation_sign < 0;
    const double side = flip ? -1.0 : 1.0;
    SurfacePoint corner[3];
    for (const auto& triangle : t.triangles) {
        for (int k = 0; k < 3; ++k) {
            const std::int32_t index = triangle[static_cast<std::size_t>(flip ? 2 - k : k)];
            const Vec3 p = point_of(t, s.points, index);
            const Point2& q = t.points[static_cast<std::size_t>(index)];
            SurfacePoint& c = corner[k];
            for (int i = 0; i < 3; ++i) {
                c.position[i] = p[static_cast<std::size_t>(i)];
                c.normal[i] = side * axes.n[static_cast<std::size_t>(i)];
            }
            c.u = (q[0] - low[0]) / width;
            c.v = (q[1] - low[1]) / height;
        }
        sink.add_triangle(corner[0], corner[1], corner[2]);
    }
    return true;
}

}  // namespace sky
