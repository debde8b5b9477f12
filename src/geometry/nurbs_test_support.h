// Surfaces and a collecting sink for the geometry tests and benchmarks.
#pragma once

#include <array>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "geometry/nurbs.h"
#include "geometry/surface_point.h"

namespace sky::test {

// n + d − 1 knots of one Bézier span: d zeros then d ones.
inline std::vector<double> bezier_knots(int degree) {
    std::vector<double> knots(static_cast<std::size_t>(2 * degree), 0.0);
    for (int i = degree; i < 2 * degree; ++i) knots[static_cast<std::size_t>(i)] = 1;
    return knots;
}

inline NurbsSurface surface(int udegree, int vdegree, int ucount, int vcount,
                            std::vector<double> uknots, std::vector<double> vknots,
                            std::vector<WeightedPoint> cvs) {
    NurbsSurface s;
    s.udegree = udegree;
    s.vdegree = vdegree;
    s.ucount = ucount;
    s.vcount = vcount;
    s.uknots = std::move(uknots);
    s.vknots = std::move(vknots);
    s.cvs = std::move(cvs);
    return s;
}

// A non-uniform rational B-spline surface with a double knot in u, degrees
// 2 × 3, two spans each way.
inline NurbsSurface wavy_surface() {
    const int ucount = 5, vcount = 6;
    std::vector<WeightedPoint> cvs;
    for (int i = 0; i < ucount; ++i) {
        for (int j = 0; j < vcount; ++j) {
            cvs.push_back({static_cast<double>(i), static_cast<double>(j) * 0.7,
                           std::sin(i * 1.3 + j * 0.9), 0.5 + 0.25 * ((i + 2 * j) % 3)});
        }
    }
    return surface(2, 3, ucount, vcount, {0, 0, 0.4, 0.4, 1, 1}, {-1, -1, -1, 0.5, 2, 2, 2, 2},
                   cvs);
}

// The teapot example scene: 32 patches, each given by 16 control vertices
// written "cv((x, y, z), w)", four rows of four, in the order read. Each
// becomes a bicubic Bézier surface. Empty when the file cannot be read.
inline std::vector<NurbsSurface> read_teapot(const char* path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    const std::string scene = text.str();
    std::vector<WeightedPoint> points;
    // The teapot's own patches, not the floor it stands on.
    for (std::size_t at = scene.find("cv((", scene.find("patch piece")); at != std::string::npos;
         at = scene.find("cv((", at + 4)) {
        WeightedPoint p;
        char comma = 0, close = 0;
        std::istringstream fields(scene.substr(at + 4, 80));
        fields >> p.x >> comma >> p.y >> comma >> p.z >> close >> comma >> p.w;
        if (!fields) return {};
        points.push_back(p);
    }
    if (points.empty() || points.size() % 16 != 0) return {};
    std::vector<NurbsSurface> surfaces;
    for (std::size_t first = 0; first < points.size(); first += 16) {
        std::vector<WeightedPoint> cvs(points.begin() + static_cast<std::ptrdiff_t>(first),
                                       points.begin() + static_cast<std::ptrdiff_t>(first + 16));
        surfaces.push_back(surface(3, 3, 4, 4, bezier_knots(3), bezier_knots(3), std::move(cvs)));
    }
    return surfaces;
}

struct Triangle {
    SurfacePoint a, b, c;
};

class CollectingSink : public TriangleSink {
public:
    void add_triangle(const SurfacePoint& a, const SurfacePoint& b,
                      const SurfacePoint& c) override {
        triangles.push_back({a, b, c});
    }
    std::vector<Triangle> triangles;
};

// Counts only: what a benchmark needs.
class CountingSink : public TriangleSink {
public:
    void add_triangle(const SurfacePoint& a, const SurfacePoint&, const SurfacePoint&) override {
        ++count;
        checksum += a.position[0];
    }
    long count = 0;
    double checksum = 0;
};

}  // namespace sky::test
