#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/surface_point.h"
#include "geometry/tessellate.h"
#include "platform/report.h"

namespace sky {
namespace {

// A closed polyline of degree 1 through `corners` (the first repeated last).
NurbsCurve polyline(const std::vector<std::array<double, 3>>& corners) {
    NurbsCurve c;
    c.degree = 1;
    for (const auto& p : corners) c.cvs.push_back({p[0], p[1], p[2], 1});
    c.cvs.push_back(c.cvs.front());
    for (std::size_t i = 0; i < c.cvs.size(); ++i) c.knots.push_back(static_cast<double>(i));
    return c;
}

struct Collect : TriangleSink {
    struct Tri {
        SurfacePoint a, b, c;
    };
    std::vector<Tri> triangles;
    void add_triangle(const SurfacePoint& a, const SurfacePoint& b,
                      const SurfacePoint& c) override {
        triangles.push_back({a, b, c});
    }
    // The area vector of all triangles (their winding by the right-hand rule).
    std::array<double, 3> area() const {
        std::array<double, 3> sum{0, 0, 0};
        for (const Tri& t : triangles) {
            double e1[3], e2[3];
            for (int i = 0; i < 3; ++i) {
                e1[i] = t.b.position[i] - t.a.position[i];
                e2[i] = t.c.position[i] - t.a.position[i];
            }
            sum[0] += 0.5 * (e1[1] * e2[2] - e1[2] * e2[1]);
            sum[1] += 0.5 * (e1[2] * e2[0] - e1[0] * e2[2]);
            sum[2] += 0.5 * (e1[0] * e2[1] - e1[1] * e2[0]);
        }
        return sum;
    }
};

FaceGeometry square_with_hole(double z = 0) {
    FaceGeometry face;
    face.divisions = 2;
    face.boundaries.push_back(polyline({{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}}));
    face.boundaries.push_back(polyline({{1, 1, z}, {2, 1, z}, {2, 2, z}, {1, 2, z}}));
    return face;
}

std::string errors;
void capture(const char* text) {
    errors += text;
}

class FaceTessellation : public ::testing::Test {
protected:
    void SetUp() override {
        errors.clear();
        rptSetErrorCB(capture);
    }
    void TearDown() override { rptSetErrorCB(nullptr); }
};

TEST_F(FaceTessellation, AHoleIsCutAndTrianglesFaceTheNormal) {
    Collect sink;
    ASSERT_TRUE(tessellate_face(square_with_hole(), "plate", 1.0f, sink));
    auto area = sink.area();
    EXPECT_NEAR(area[2], 16.0 - 1.0, 1e-9);  // counter-clockwise about +z
    for (const auto& t : sink.triangles) {
        EXPECT_DOUBLE_EQ(t.a.normal[2], 1.0);
        double cx = (t.a.position[0] + t.b.position[0] + t.c.position[0]) / 3;
        double cy = (t.a.position[1] + t.b.position[1] + t.c.position[1]) / 3;
        EXPECT_FALSE(cx > 1 && cx < 2 && cy > 1 && cy < 2) << "a triangle inside the hole";
        for (const SurfacePoint* p : {&t.a, &t.b, &t.c}) {
            EXPECT_GE(p->u, 0.0);
            EXPECT_LE(p->u, 1.0);
        }
    }
    EXPECT_EQ(errors, "");
}

TEST_F(FaceTessellation, AMirroredPlacementTurnsTheFaceOver) {
    Collect sink;
    ASSERT_TRUE(tessellate_face(square_with_hole(), "plate", -1.0f, sink));
    EXPECT_NEAR(sink.area()[2], -15.0, 1e-9);
    for (const auto& t : sink.triangles) EXPECT_DOUBLE_EQ(t.a.normal[2], -1.0);
}

TEST_F(FaceTessellation, AHoleOffThePlaneIsReportedAndLeftOut) {
    Collect sink;
    ASSERT_TRUE(tessellate_face(square_with_hole(0.5), "plate", 1.0f, sink));
    EXPECT_NEAR(sink.area()[2], 16.0, 1e-9);
    EXPECT_EQ(errors, "Faces and holes must be on the same plane. (plate)\n");
}

TEST_F(FaceTessellation, AStraightOutlineHasNoNormal) {
    FaceGeometry face;
    face.boundaries.push_back(polyline({{0, 0, 0}, {1, 1, 1}, {3, 3, 3}}));
    Collect sink;
    EXPECT_FALSE(tessellate_face(face, "line", 1.0f, sink));
    EXPECT_TRUE(sink.triangles.empty());
    EXPECT_EQ(errors,
              "Can't calculate normal for face, check that the face is not a straight line "
              "segment (line)\n");
}

TEST(FaceTessellationDeathTest, AnOutlineOfTwoPointsEndsTheRun) {
    FaceGeometry face;
    NurbsCurve segment;
    segment.degree = 1;
    segment.cvs = {{0, 0, 0, 1}, {1, 0, 0, 1}};
    segment.knots = {0, 1};
    face.boundaries.push_back(segment);
    Collect sink;
    EXPECT_EXIT(tessellate_face(face, "stub", 1.0f, sink), testing::ExitedWithCode(1),
                "Face 'stub' has < 3 points after refining.\n");
}

}  // namespace
}  // namespace sky
