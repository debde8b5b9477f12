// The constrained Delaunay step of the triangulator, on CGAL.
//
// Loops go in as polyline constraints of a constrained triangulation that
// remembers which constraints run along each edge, so that edges shared by
// two loops (a hole touching the outline) are crossed the right number of
// times. The first attempt uses floating-point constructions and refuses to
// make new points; when loops cross it throws, and the region is done again
// with exact constructions, which split the crossing edges at exact points.
// Which faces are inside follows from a walk over the faces from the
// infinite one: crossing an edge flips the outline parity once per outline
// constraint along it, and changes the hole winding by one per hole
// constraint, up or down by the side it is crossed from.
#include "geometry/triangulate_cdt.h"

#include <algorithm>
#include <exception>
#include <utility>

#include <CGAL/Constrained_Delaunay_triangulation_2.h>
#include <CGAL/Constrained_triangulation_plus_2.h>
#include <CGAL/Exact_predicates_exact_constructions_kernel.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Triangulation_face_base_with_info_2.h>
#include <CGAL/Triangulation_vertex_base_with_info_2.h>

namespace sky::cdt {
namespace {

struct VertexInfo {
    std::int32_t index = -1;  // into the output points; −1 until placed there
};

struct FaceInfo {
    std::int32_t parity = -1;  // outline crossings mod 2; −1: not reached yet
    std::int32_t winding = 0;  // sum of the hole windings
};

template <class Kernel, class IntersectionTag>
struct Types {
    using Vb = CGAL::Triangulation_vertex_base_with_info_2<VertexInfo, Kernel>;
    using Fbi = CGAL::Triangulation_face_base_with_info_2<FaceInfo, Kernel>;
    using Fb = CGAL::Constrained_triangulation_face_base_2<Kernel, Fbi>;
    using Tds = CGAL::Triangulation_data_structure_2<Vb, Fb>;
    using Cdt = CGAL::Constrained_Delaunay_triangulation_2<Kernel, Tds, IntersectionTag>;
    using Triangulation = CGAL::Constrained_triangulation_plus_2<Cdt>;
};

using Fast = Types<CGAL::Exact_predicates_inexact_constructions_kernel,
                   CGAL::No_constraint_intersection_requiring_constructions_tag>;
using Exact =
    Types<CGAL::Exact_predicates_exact_constructions_kernel, CGAL::Exact_intersections_tag>;

// Which loop each constraint came from, looked up by the constraint's
// identity (its vertex list), sorted for binary search.
struct ConstraintLoops {
    std::vector<std::pair<const void*, std::int32_t>> entries;

    std::int32_t find(const void* id) const {
        auto it = std::lower_bound(entries.begin(), entries.end(), std::make_pair(id, INT32_MIN));
        return it != entries.end() && it->first == id ? it->second : -1;
    }
};

template <class T>
void insert_loops(T& tri, std::span<const Point2> points, std::span<const Loop> loops,
                  ConstraintLoops& constraint_loops) {
    using Point = typename T::Point;
    typename T::Face_handle hint;
    for (const Loop& loop : loops) {
        for (std::int32_t corner : loop.corners) {
            const Point2& p = points[static_cast<std::size_t>(corner)];
            auto vertex = tri.insert(Point(p[0], p[1]), hint);
            if (vertex->info().index < 0) vertex->info().index = corner;
            hint = vertex->face();
        }
    }
    std::vector<Point> polyline;
    for (std::size_t l = 0; l < loops.size(); ++l) {
        polyline.clear();
        for (std::int32_t corner : loops[l].corners) {
            const Point2& p = points[static_cast<std::size_t>(corner)];
            polyline.emplace_back(p[0], p[1]);
        }
        auto id = tri.insert_constraint(polyline.begin(), polyline.end(), true);
        if (id.vl_ptr() != nullptr)
            constraint_loops.entries.emplace_back(id.vl_ptr(), static_cast<std::int32_t>(l));
    }
    std::sort(constraint_loops.entries.begin(), constraint_loops.entries.end());
}

// Free points go in after the constraints, each next to the last: callers
// hand them over in an order that keeps neighbours together.
template <class T>
void insert_free_points(T& tri, std::span<const Point2> points, std::size_t begin) {
    using Point = typename T::Point;
    typename T::Face_handle hint;
    for (std::size_t i = begin; i < points.size(); ++i) {
        auto vertex = tri.insert(Point(points[i][0], points[i][1]), hint);
        if (vertex->info().index < 0) vertex->info().index = static_cast<std::int32_t>(i);
        hint = vertex->face();
    }
}

// Walks the faces from the infinite one, giving each its outline parity and
// hole winding.
template <class T>
void mark_faces(T& tri, std::span<const Loop> loops, const ConstraintLoops& constraint_loops,
                Outcome& outcome) {
    using Face_handle = typename T::Face_handle;
    std::vector<Face_handle> queue;
    Face_handle start = tri.infinite_face();
    start->info().parity = 0;
    start->info().winding = 0;
    queue.push_back(start);
    while (!queue.empty()) {
        Face_handle face = queue.back();
        queue.pop_back();
        for (int i = 0; i < 3; ++i) {
            Face_handle next = face->neighbor(i);
            if (next->info().parity >= 0) continue;
            std::int32_t parity = face->info().parity;
            std::int32_t winding = face->info().winding;
            if (face->is_constrained(i)) {
                // `face` lies left of the edge from `a` to `b`.
                auto a = face->vertex(T::ccw(i));
                auto b = face->vertex(T::cw(i));
                int along = 0;
                for (auto context : tri.contexts(a, b)) {
                    ++along;
                    std::int32_t l = constraint_loops.find(context.id().vl_ptr());
                    if (l < 0) continue;
                    if (loops[static_cast<std::size_t>(l)].outline) {
                        parity ^= 1;
                    } else {
                        // Leaving the left side of a counter-clockwise hole
                        // leaves the hole.
                        int forward = *context.current() == a ? 1 : -1;
                        winding -= forward * loops[static_cast<std::size_t>(l)].hole_sign;
                    }
                }
                if (along > 1) outcome.overlapped = true;
            }
            next->info().parity = parity;
            next->info().winding = winding;
            queue.push_back(next);
        }
    }
}

template <class T>
void collect_triangles(T& tri, Triangulation& out, Outcome& outcome) {
    for (auto face : tri.finite_face_handles()) {
        const FaceInfo& info = face->info();
        if (info.parity == 0 && info.winding != 0) outcome.hole_outside = true;
        if (info.parity != 1 || info.winding != 0) continue;
        std::array<std::int32_t, 3> triangle{};
        for (int k = 0; k < 3; ++k) {
            auto vertex = face->vertex(k);
            if (vertex->info().index < 0) {
                const auto& p = vertex->point();
                vertex->info().index = static_cast<std::int32_t>(out.points.size());
                out.points.push_back({CGAL::to_double(p.x()), CGAL::to_double(p.y())});
                outcome.crossed = true;
            }
            triangle[static_cast<std::size_t>(k)] = vertex->info().index;
        }
        out.triangles.push_back(triangle);
    }
}

template <class Kind>
Outcome run(std::span<const Point2> points, std::span<const Loop> loops, std::size_t interior_begin,
            Triangulation& out) {
    Outcome outcome;
    typename Kind::Triangulation tri;
    ConstraintLoops constraint_loops;
    insert_loops(tri, points, loops, constraint_loops);
    insert_free_points(tri, points, interior_begin);
    if (tri.dimension() < 2) return outcome;  // every point on one line
    mark_faces(tri, loops, constraint_loops, outcome);
    collect_triangles(tri, out, outcome);
    return outcome;
}

}  // namespace

Outcome triangulate(std::span<const Point2> points, std::span<const Loop> loops,
                    std::size_t interior_begin, Triangulation& out) {
    std::size_t point_count = out.points.size();
    std::size_t triangle_count = out.triangles.size();
    try {
        return run<Fast>(points, loops, interior_begin, out);
    } catch (const Fast::Cdt::Intersection_of_constraints_exception&) {
        // Loops cross: start over with exact crossing points.
    } catch (const std::exception&) {
        // A failed precondition inside CGAL: exact arithmetic may still cope.
    }
    out.points.resize(point_count);
    out.triangles.resize(triangle_count);
    try {
        Outcome outcome = run<Exact>(points, loops, interior_begin, out);
        outcome.crossed = true;
        return outcome;
    } catch (const std::exception&) {
    }
    out.points.resize(point_count);
    out.triangles.resize(triangle_count);
    Outcome outcome;
    outcome.failed = true;
    return outcome;
}

}  // namespace sky::cdt
