#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "base/vecmath.h"
#include "geometry/tessellate.h"
#include "platform/report.h"

namespace sky {
namespace {

using Vec = std::array<double, 3>;

Vec vec(const double* a) {
    return {a[0], a[1], a[2]};
}

struct Triangle {
    SurfacePoint p[3];
    Vec area() const {  // twice the area, along the counter-clockwise normal
        return cross(sub(vec(p[1].position), vec(p[0].position)),
                     sub(vec(p[2].position), vec(p[0].position)));
    }
};

// With `keyed`, the sink takes triangles by their corners' keys as the
// placing sink does: by positions alone, or keeping each point by its key
// and asking the maker only for those it does not hold.
class RecordingSink : public TriangleSink {
public:
    explicit RecordingSink(KeyedCorners keyed = KeyedCorners::none) : keyed_(keyed) {}

    std::vector<Triangle> triangles;
    void add_triangle(const SurfacePoint& a, const SurfacePoint& b,
                      const SurfacePoint& c) override {
        triangles.push_back({{a, b, c}});
    }
    KeyedCorners keyed_corners() const override { return keyed_; }
    void add_keyed_triangle(const CornerKey* keys, const float* const* positions,
                            CornerMaker& maker) override {
        Triangle t;
        for (int i = 0; i < 3; ++i) {
            if (keyed_ == KeyedCorners::positions) {
                for (int k = 0; k < 3; ++k) t.p[i].position[k] = positions[i][k];
                continue;
            }
            auto held = std::find_if(held_.begin(), held_.end(),
                                     [&](const auto& h) { return h.first == keys[i]; });
            if (held != held_.end()) {
                t.p[i] = held->second;
                continue;
            }
            if (maker.make_corner(i, t.p[i])) held_.push_back({keys[i], t.p[i]});
            ++made;
        }
        triangles.push_back(t);
    }
    int made = 0;  // points asked of the maker
    double total_area() const {
        double sum = 0;
        for (const Triangle& t : triangles) sum += length(t.area()) / 2;
        return sum;
    }
    // Every triangle is counter-clockwise seen from its corners' normals.
    void expect_facing_normals() const {
        for (const Triangle& t : triangles)
            for (const SurfacePoint& p : t.p) EXPECT_GT(dot(t.area(), vec(p.normal)), 0);
    }

private:
    KeyedCorners keyed_;
    std::vector<std::pair<CornerKey, SurfacePoint>> held_;
};

std::string errors;
void capture(const char* text) {
    errors += text;
}

class PolysetTessellation : public ::testing::Test {
protected:
    void SetUp() override {
        errors.clear();
        rptSetErrorCB(capture);
    }
    void TearDown() override { rptSetErrorCB(write_to_stderr); }

    // The mesh as lists, made into a PolysetMesh by each run.
    struct MeshLists {
        std::vector<PolysetVertex> vertices;
        std::vector<std::array<double, 2>> texture_vertices;
        std::vector<std::array<double, 3>> normals;
        std::vector<PolysetPolygon> polygons;
    };
    MeshLists& mesh() { return lists_; }
    void add_vertex(double x, double y, double z) {
        PolysetVertex v;
        v.position[0] = x, v.position[1] = y, v.position[2] = z;
        lists_.vertices.push_back(v);
    }
    PolysetPolygon& add_polygon(std::vector<std::int32_t> vertices, std::int32_t shader = 0) {
        PolysetPolygon polygon;
        polygon.vertices = std::move(vertices);
        polygon.shader = shader;
        lists_.polygons.push_back(polygon);
        return lists_.polygons.back();
    }
    // The lists made so far as a polyset's geometry.
    PolysetGeometry geometry() const {
        auto mesh = std::make_shared<PolysetMesh>();
        for (const PolysetVertex& v : lists_.vertices) mesh->add_vertex(v);
        for (const auto& st : lists_.texture_vertices) mesh->add_texture_vertex(st[0], st[1]);
        for (const auto& n : lists_.normals) mesh->add_normal(n[0], n[1], n[2]);
        for (const PolysetPolygon& polygon : lists_.polygons) mesh->add_polygon(polygon);
        PolysetGeometry geometry;
        geometry.mesh = mesh;
        return geometry;
    }
    RecordingSink run(std::int32_t slot = 0) {
        PolysetGeometry geometry = this->geometry();
        geometry.shader_slot = slot;
        RecordingSink sink;
        EXPECT_TRUE(tessellate_polyset(geometry, "ball", sink));
        return sink;
    }

    MeshLists lists_;
};

TEST_F(PolysetTessellation, QuadsAndConvexPolygonsFaceTheirWinding) {
    // A unit square in z = 0 wound counter-clockwise from +z, and a regular
    // hexagon in x = 2 wound clockwise from +x.
    add_vertex(0, 0, 0), add_vertex(1, 0, 0), add_vertex(1, 1, 0), add_vertex(0, 1, 0);
    add_polygon({0, 1, 2, 3});
    for (int i = 0; i < 6; ++i) add_vertex(2, std::cos(-M_PI * i / 3), std::sin(-M_PI * i / 3));
    add_polygon({4, 5, 6, 7, 8, 9});
    RecordingSink sink = run();
    ASSERT_EQ(sink.triangles.size(), 2u + 4u);
    // The mesh keeps the hexagon's corners in single precision.
    EXPECT_NEAR(sink.total_area(), 1 + 3 * std::sqrt(3.0) / 2, 1e-6);
    sink.expect_facing_normals();
    for (int i = 0; i < 2; ++i) EXPECT_DOUBLE_EQ(sink.triangles[i].p[0].normal[2], 1);
    for (int i = 2; i < 6; ++i) EXPECT_NEAR(sink.triangles[i].p[0].normal[0], -1, 1e-12);
    EXPECT_TRUE(errors.empty());
}

TEST_F(PolysetTessellation, ConcaveAndCrossingPolygonsOnATiltedPlane) {
    // An L in the plane x + y + z = 1, seen through (x, y).
    std::vector<std::array<double, 2>> ell{{0, 0}, {3, 0}, {3, 1}, {1, 1}, {1, 4}, {0, 4}};
    for (const auto& p : ell) add_vertex(p[0], p[1], 1 - p[0] - p[1]);
    add_polygon({0, 1, 2, 3, 4, 5});
    RecordingSink sink = run();
    EXPECT_EQ(sink.triangles.size(), 4u);
    EXPECT_NEAR(sink.total_area(), 6 * std::sqrt(3.0), 1e-9);  // area 6 in (x, y)
    sink.expect_facing_normals();

    // A lopsided bow tie: both lobes, the crossing point interpolated.
    lists_.polygons.clear();
    std::size_t first = mesh().vertices.size();
    add_vertex(0, 0, 5), add_vertex(2, 2, 5), add_vertex(2, 0, 5), add_vertex(0, 1, 5);
    auto& polygon = add_polygon({0, 1, 2, 3});
    for (auto& v : polygon.vertices) v += static_cast<std::int32_t>(first);
    mesh().texture_vertices = {{0, 0}, {1, 1}, {1, 0}, {0, 0.5}};
    polygon.texture_vertices = {0, 1, 2, 3};
    sink = run();
    EXPECT_NEAR(sink.total_area(), 1.0 / 3 + 4.0 / 3, 1e-9);
    for (const Triangle& t : sink.triangles)
        for (const SurfacePoint& p : t.p) {
            EXPECT_NEAR(p.u, p.position[0] / 2, 1e-12);
            EXPECT_NEAR(p.v, p.position[1] / 2, 1e-12);
        }
}

TEST_F(PolysetTessellation, GivenNormalsAndTextureCoordinatesPerCorner) {
    add_vertex(0, 0, 0), add_vertex(1, 0, 0), add_vertex(1, 1, 0), add_vertex(0, 1, 0);
    mesh().vertices[2].has_normal = true;
    mesh().vertices[2].normal[0] = 0, mesh().vertices[2].normal[2] = 2;
    mesh().vertices[1].has_colour = true;
    mesh().vertices[1].colour[0] = 255;
    mesh().normals = {{0, 0.6, 0.8}, {0, 0, 0}};
    mesh().texture_vertices = {{0.5, 0.25}, {0.75, 0.25}, {0.75, 1}, {0.5, 1}};
    auto& polygon = add_polygon({0, 1, 2, 3});
    polygon.normals = {0, 1, 1, 0};  // the zero normal falls back to the vertex's
    polygon.texture_vertices = {0, 1, 2, 3};
    RecordingSink sink = run();
    ASSERT_EQ(sink.triangles.size(), 2u);
    for (const Triangle& t : sink.triangles)
        for (const SurfacePoint& p : t.p) {
            int corner = static_cast<int>(p.position[0]) + 2 * static_cast<int>(p.position[1]);
            // corners at (0,0) (1,0) (0,1) (1,1): 0, 1, 2, 3
            switch (corner) {
                case 0:
                case 2:
                    EXPECT_FLOAT_EQ(p.normal[1], 0.6);  // kept in single precision
                    break;
                case 3:
                    EXPECT_DOUBLE_EQ(p.normal[2], 1);
                    break;
                case 1:
                    EXPECT_DOUBLE_EQ(p.normal[2], 1);
                    break;  // computed
            }
            EXPECT_DOUBLE_EQ(p.u, 0.5 + 0.25 * p.position[0]);
            EXPECT_DOUBLE_EQ(p.v, 0.25 + 0.75 * p.position[1]);
            EXPECT_EQ(p.has_colour, corner == 1);
            if (corner == 1) {
                EXPECT_EQ(p.colour[0], 255);
            }
        }
    EXPECT_TRUE(errors.empty());
}

TEST_F(PolysetTessellation, NormalsAgainstTheWindingTurnTheTriangles) {
    add_vertex(0, 0, 0), add_vertex(1, 0, 0), add_vertex(0, 1, 0);
    mesh().normals = {{0, 0, -1}};
    add_polygon({0, 1, 2}).normals = {0, 0, 0};
    RecordingSink sink = run();
    ASSERT_EQ(sink.triangles.size(), 1u);
    sink.expect_facing_normals();
}

// Normals lying all but in the polygon's plane: which side they lean to
// hangs on terms that nearly cancel, and still decides the winding.
TEST_F(PolysetTessellation, NormalsAlmostInThePlaneStillTurnTheTriangles) {
    // Twice the area is (1, 1, -e) with e = 2^-10: the normals' x and y
    // terms cancel exactly, leaving the lean of their z against -e.
    const double e = 1.0 / 1024;
    for (const double lean : {1e-12, -1e-12}) {
        lists_ = {};
        add_vertex(0, 0, 0), add_vertex(e, 0, 1), add_vertex(1, -1, 0);
        mesh().normals = {{1, -1, lean}};
        add_polygon({0, 1, 2}).normals = {0, 0, 0};
        RecordingSink sink = run();
        ASSERT_EQ(sink.triangles.size(), 1u);
        sink.expect_facing_normals();
        // Turned exactly when the normals lean against the winding's side.
        EXPECT_EQ(sink.triangles[0].p[1].position[0] == e, lean < 0) << lean;
    }
}

TEST_F(PolysetTessellation, ComputedNormalsOfACubePointOutward) {
    for (int i = 0; i < 8; ++i) add_vertex(i & 1 ? 1 : -1, i & 2 ? 1 : -1, i & 4 ? 1 : -1);
    // Faces wound counter-clockwise seen from outside.
    add_polygon({0, 2, 3, 1}), add_polygon({4, 5, 7, 6});
    add_polygon({0, 1, 5, 4}), add_polygon({2, 6, 7, 3});
    add_polygon({0, 4, 6, 2}), add_polygon({1, 3, 7, 5});
    RecordingSink sink = run();
    ASSERT_EQ(sink.triangles.size(), 12u);
    EXPECT_NEAR(sink.total_area(), 24, 1e-12);
    for (const Triangle& t : sink.triangles) {
        for (const SurfacePoint& p : t.p) {
            // A corner's normal is the diagonal through it.
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(p.normal[k], p.position[k] / std::sqrt(3.0), 1e-12);
            EXPECT_GT(dot(t.area(), vec(p.position)), 0);
        }
    }
}

TEST_F(PolysetTessellation, ComputedNormalsOfASpherePointOutward) {
    const int rings = 8, segments = 12;
    add_vertex(0, 0, 1);  // north pole
    for (int r = 1; r < rings; ++r)
        for (int s = 0; s < segments; ++s) {
            double theta = M_PI * r / rings, phi = 2 * M_PI * s / segments;
            add_vertex(std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi),
                       std::cos(theta));
        }
    add_vertex(0, 0, -1);  // south pole
    auto at = [](int r, int s) { return 1 + (r - 1) * segments + (s % segments); };
    std::int32_t south = 1 + (rings - 1) * segments;
    for (int s = 0; s < segments; ++s) {
        add_polygon({0, at(1, s), at(1, s + 1)});
        for (int r = 1; r + 1 < rings; ++r)
            add_polygon({at(r, s), at(r + 1, s), at(r + 1, s + 1), at(r, s + 1)});
        add_polygon({at(rings - 1, s), south, at(rings - 1, s + 1)});
    }
    RecordingSink sink = run();
    EXPECT_EQ(sink.triangles.size(), static_cast<std::size_t>(segments * (2 * rings - 2)));
    for (const Triangle& t : sink.triangles)
        for (const SurfacePoint& p : t.p) {
            EXPECT_GT(dot(vec(p.normal), vec(p.position)), 0.99);
            EXPECT_GT(dot(t.area(), vec(p.position)), 0);
        }
}

TEST_F(PolysetTessellation, AVertexWithoutAUsableNormalAmongGivenOnesTakesTheComputedOne) {
    // A roof of two faces, every vertex with its face's normal but two on
    // the ridge: one gives a normal of no length, one none at all. Both
    // take the mean of the faces around them, straight up.
    add_vertex(0, 0, 0), add_vertex(1, 0, 1), add_vertex(1, 1, 1);
    add_vertex(0, 1, 0), add_vertex(2, 0, 0), add_vertex(2, 1, 0);
    const double s = std::sqrt(0.5);
    for (int i : {0, 3, 4, 5}) {
        PolysetVertex& v = mesh().vertices[static_cast<std::size_t>(i)];
        v.has_normal = true;
        v.normal[0] = i < 4 ? -s : s, v.normal[1] = 0, v.normal[2] = s;
    }
    mesh().vertices[1].has_normal = true;  // zero: unusable
    add_polygon({0, 1, 2, 3});
    add_polygon({1, 4, 5, 2});
    RecordingSink sink = run();
    ASSERT_EQ(sink.triangles.size(), 4u);
    int ridge = 0;
    for (const Triangle& t : sink.triangles)
        for (const SurfacePoint& p : t.p)
            if (p.position[0] == 1) {
                ++ridge;
                EXPECT_NEAR(p.normal[0], 0, 1e-12);
                EXPECT_NEAR(p.normal[2], 1, 1e-12);
            }
    EXPECT_GT(ridge, 0);
    EXPECT_TRUE(errors.empty()) << errors;
}

TEST_F(PolysetTessellation, EveryCornerTakesItsOwnVertexsNormalInALongStrip) {
    // A strip of a few thousand vertices, each leaning its own way, whose
    // triangles meet them in an order that wraps around any short memory.
    const int n = 3001;
    for (int i = 0; i < n; ++i) {
        add_vertex(i / 2, i % 2, 0);
        PolysetVertex& v = mesh().vertices.back();
        v.has_normal = true;
        v.normal[0] = std::sin(i * 0.37) * 0.4, v.normal[1] = std::cos(i * 0.11) * 0.3;
        v.normal[2] = 1 + i % 7;
    }
    for (int i = 0; i + 2 < n; ++i)
        add_polygon(i % 2 == 0 ? std::vector<std::int32_t>{i, i + 1, i + 2}
                               : std::vector<std::int32_t>{i + 1, i, i + 2});
    for (int i = n - 3; i >= 0; i -= 250) add_polygon({i, i + 1, i + 2});  // met again, later
    RecordingSink sink = run();
    ASSERT_EQ(sink.triangles.size(), lists_.polygons.size());
    for (const Triangle& t : sink.triangles)
        for (const SurfacePoint& p : t.p) {
            const int i = 2 * static_cast<int>(p.position[0]) + static_cast<int>(p.position[1]);
            // Within the single precision the mesh keeps normals in.
            const Vec expected =
                normalise(vec(mesh().vertices[static_cast<std::size_t>(i)].normal));
            for (int k = 0; k < 3; ++k)
                ASSERT_NEAR(p.normal[k], expected[k], 1e-7) << "vertex " << i;
        }
}

TEST_F(PolysetTessellation, OnlyTheSlotsPolygonsAreMade) {
    add_vertex(0, 0, 0), add_vertex(1, 0, 0), add_vertex(1, 1, 0), add_vertex(0, 1, 0);
    add_polygon({0, 1, 2}, 0);
    add_polygon({0, 2, 3}, 1);
    add_polygon({0, 1, 2, 3}, 1);
    EXPECT_EQ(run(0).triangles.size(), 1u);
    EXPECT_EQ(run(1).triangles.size(), 3u);
    EXPECT_EQ(run(2).triangles.size(), 0u);
}

TEST_F(PolysetTessellation, DamagedPolygonsAreLeftOutWithOneMessage) {
    add_vertex(0, 0, 0), add_vertex(1, 0, 0), add_vertex(1, 1, 0), add_vertex(0, 1, 0);
    mesh().normals = {{0, 0, 1}};
    mesh().texture_vertices = {{0, 0}};
    add_polygon({0, 1, 4});                         // vertex out of range
    add_polygon({0, -1, 2});                        // negative
    add_polygon({0, 1, 2}).normals = {0, 0, 7};     // normal out of range
    add_polygon({0, 1, 2}).texture_vertices = {0};  // too few
    add_polygon({0, 1, 2, 3});                      // sound
    add_polygon({0, 1});                            // no area
    add_polygon({0, 1, 1});                         // no area
    RecordingSink sink = run();
    EXPECT_EQ(sink.triangles.size(), 2u);
    EXPECT_EQ(errors, "Polyset error: 4 polygon(s) with indices out of range left out: ball\n");

    errors.clear();
    mesh().vertices[3].position[0] = NAN;
    sink = run();
    EXPECT_EQ(sink.triangles.size(), 0u);
    EXPECT_NE(errors.find("Polyset error: polygon has no normal: ball\n"), std::string::npos);
}

TEST_F(PolysetTessellation, BackToBackPolygonsStillGetNormals) {
    add_vertex(0, 0, 0), add_vertex(1, 0, 0), add_vertex(0, 1, 0);
    add_polygon({0, 1, 2});
    add_polygon({0, 2, 1});
    RecordingSink sink = run();
    ASSERT_EQ(sink.triangles.size(), 2u);
    sink.expect_facing_normals();
    EXPECT_EQ(errors, "Polyset error: vertex has no normal: ball\n");
}

// Exactly the same values, bit for bit.
bool same_point(const SurfacePoint& a, const SurfacePoint& b) {
    return std::memcmp(a.position, b.position, sizeof a.position) == 0 &&
           std::memcmp(a.normal, b.normal, sizeof a.normal) == 0 &&
           std::memcmp(&a.u, &b.u, sizeof a.u) == 0 && std::memcmp(&a.v, &b.v, sizeof a.v) == 0 &&
           std::memcmp(a.colour, b.colour, sizeof a.colour) == 0 && a.has_colour == b.has_colour;
}

// `b` as `a`, or its positions alone with `positions`.
void expect_same_triangles(const RecordingSink& a, const RecordingSink& b, bool positions = false) {
    ASSERT_EQ(a.triangles.size(), b.triangles.size());
    for (std::size_t t = 0; t < a.triangles.size(); ++t)
        for (int i = 0; i < 3; ++i) {
            const SurfacePoint& p = a.triangles[t].p[i];
            const SurfacePoint& q = b.triangles[t].p[i];
            EXPECT_TRUE(positions ? std::memcmp(p.position, q.position, sizeof p.position) == 0
                                  : same_point(p, q))
                << "triangle " << t << " corner " << i;
        }
}

TEST_F(PolysetTessellation, EveryPassOverAMeshInPartsGivesTheSameTrianglesAndMessages) {
    // One of every kind of polygon: turned by its normals, larger than a
    // triangle, back to back (a corner without a normal takes the
    // polygon's), out of range, with no area, with a corner not finite.
    add_vertex(0, 0, 0), add_vertex(1, 0, 0), add_vertex(1, 1, 0), add_vertex(0, 1, 0);
    add_vertex(0, 0, 1), add_vertex(1, 0, 1), add_vertex(0, 1, 1);
    add_vertex(NAN, 0, 2);
    mesh().normals = {{0, 0, -1}};
    add_polygon({0, 1, 2}).normals = {0, 0, 0};
    add_polygon({0, 1, 2, 3});
    add_polygon({4, 5, 6});
    add_polygon({0, 1, 40});
    add_polygon({4, 6, 5});
    add_polygon({0, 1, 1});
    add_polygon({0, 1, 7});
    add_polygon({3, 2, 1, 0});
    RecordingSink whole = run();
    const std::string whole_errors = errors;
    ASSERT_EQ(whole.triangles.size(), 7u);
    EXPECT_LT(whole.triangles[0].area()[2], 0);  // turned to face -z

    // The first pass finds what each polygon is; the later ones, a depth
    // map's and a camera's, are told. Sinks that take the triangles by
    // their corners' keys get the same corners and the same messages, in
    // the first pass and the later ones.
    for (KeyedCorners keyed : {KeyedCorners::none, KeyedCorners::positions, KeyedCorners::whole}) {
        auto mesh = std::make_shared<PolysetMesh>();
        for (const PolysetVertex& v : lists_.vertices) mesh->add_vertex(v);
        for (const auto& n : lists_.normals) mesh->add_normal(n[0], n[1], n[2]);
        for (const PolysetPolygon& polygon : lists_.polygons) mesh->add_polygon(polygon);
        PolysetGeometry geometry;
        geometry.mesh = mesh;
        for (int pass = 0; pass < 3; ++pass) {
            PolysetParts parts;
            prepare_polyset_parts(geometry, parts);
            ASSERT_EQ(parts.polygons, 8u);
            SCOPED_TRACE(testing::Message()
                         << "pass " << pass << " keyed " << static_cast<int>(keyed));
            errors.clear();
            RecordingSink sink(keyed);
            std::vector<PolysetPartReport> reports(3);
            // The parts in another order than the polygons'.
            tessellate_polyset_part(geometry, parts, 5, 8, sink, reports[2]);
            RecordingSink first(keyed);
            tessellate_polyset_part(geometry, parts, 0, 3, first, reports[0]);
            tessellate_polyset_part(geometry, parts, 3, 5, first, reports[1]);
            first.triangles.insert(first.triangles.end(), sink.triangles.begin(),
                                   sink.triangles.end());
            report_polyset_parts("ball", reports);
            expect_same_triangles(whole, first, keyed == KeyedCorners::positions);
            EXPECT_EQ(errors, whole_errors);
        }
    }
    EXPECT_NE(whole_errors.find("vertex has no normal"), std::string::npos);
    EXPECT_NE(whole_errors.find("polygon has no normal"), std::string::npos);
    EXPECT_NE(whole_errors.find("1 polygon(s) with indices out of range"), std::string::npos);
}

// A sink that takes only the positions still gets the messages making the
// corners prints, in the pass that finds what each polygon is and in the
// passes told.
TEST_F(PolysetTessellation, EveryPassByKeyPrintsWhatMakingTheCornersPrints) {
    add_vertex(0, 0, 0), add_vertex(1, 0, 0), add_vertex(0, 1, 0);
    add_polygon({0, 1, 2});
    add_polygon({0, 2, 1});
    for (KeyedCorners keyed : {KeyedCorners::none, KeyedCorners::positions, KeyedCorners::whole}) {
        auto mesh = std::make_shared<PolysetMesh>();
        for (const PolysetVertex& v : lists_.vertices) mesh->add_vertex(v);
        for (const PolysetPolygon& polygon : lists_.polygons) mesh->add_polygon(polygon);
        PolysetGeometry geometry;
        geometry.mesh = mesh;
        for (int pass = 0; pass < 2; ++pass) {
            SCOPED_TRACE(testing::Message()
                         << "pass " << pass << " keyed " << static_cast<int>(keyed));
            errors.clear();
            PolysetParts parts;
            prepare_polyset_parts(geometry, parts);
            RecordingSink sink(keyed);
            std::vector<PolysetPartReport> reports(1);
            tessellate_polyset_part(geometry, parts, 0, 2, sink, reports[0]);
            report_polyset_parts("ball", reports);
            EXPECT_EQ(sink.triangles.size(), 2u);
            EXPECT_EQ(errors, "Polyset error: vertex has no normal: ball\n");
        }
    }
}

// A corner's key names what its point is made of: corners of one vertex
// with other normals, texture vertices or windings are other points, and a
// sink that keeps points by key gets what the plain road gives while it
// asks for each point once.
TEST_F(PolysetTessellation, CornersByKeyAreThePointsThePlainRoadMakes) {
    for (int i = 0; i < 6; ++i) {
        add_vertex(std::cos(i * 0.9), std::sin(i * 0.9), 0.1 * i);
        mesh().vertices.back().has_normal = i % 2 == 0;
        mesh().vertices.back().normal[2] = 1;
        mesh().vertices.back().has_colour = i == 3;
        mesh().vertices.back().colour[1] = 0.5;
    }
    mesh().normals = {{0, 0.6, 0.8}, {0.6, 0, 0.8}};
    mesh().texture_vertices = {{0.5, 0.25}, {0.75, 0.25}, {0.75, 1}};
    add_polygon({0, 1, 2});
    add_polygon({0, 2, 3});
    add_polygon({0, 3, 4}).normals = {0, 1, 0};
    add_polygon({0, 4, 5}).normals = {1, 1, 0};
    add_polygon({0, 5, 1}).texture_vertices = {0, 1, 2};
    add_polygon({1, 0, 5}).texture_vertices = {2, 1, 0};
    add_polygon({2, 3, 4, 5});  // larger polygons take the plain road
    RecordingSink plain = run();
    ASSERT_EQ(plain.triangles.size(), 8u);
    for (KeyedCorners keyed : {KeyedCorners::positions, KeyedCorners::whole}) {
        SCOPED_TRACE(static_cast<int>(keyed));
        RecordingSink sink(keyed);
        EXPECT_TRUE(tessellate_polyset(geometry(), "ball", sink));
        expect_same_triangles(plain, sink, keyed == KeyedCorners::positions);
        if (keyed == KeyedCorners::whole)
            EXPECT_EQ(sink.made, 15);  // the distinct keys of the six triangles
        else
            EXPECT_EQ(sink.made, 0);
    }
    EXPECT_TRUE(errors.empty()) << errors;
}

TEST_F(PolysetTessellation, NothingToMakeIsNoFailure) {
    RecordingSink sink = run();
    EXPECT_TRUE(sink.triangles.empty());
    PolysetGeometry empty;
    EXPECT_TRUE(tessellate_polyset(empty, "Polyset", sink));
    EXPECT_TRUE(sink.triangles.empty());
    EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace sky
