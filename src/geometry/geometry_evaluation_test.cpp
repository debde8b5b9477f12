// Patches, faces and polysets evaluated by the model walk into the records
// tessellation reads: defaults, clamps, warnings, the two subdivision
// settings, surfaces, trims, shader slots and shared motion geometry.
#include <cmath>

#include <gtest/gtest.h>

#include "base/workers.h"
#include "geometry/declared_geometry.h"
#include "geometry/geometry_test_support.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

using PatchEvaluation = GeometryScene;
using PatchEvaluationDeathTest = GeometrySceneDeathTest;
using FaceAndPolysetEvaluation = GeometryScene;
using FaceAndPolysetEvaluationDeathTest = GeometrySceneDeathTest;

const PatchGeometry& only_patch() {
    EXPECT_EQ(frame_objects().size(), 1u);
    return *static_cast<const PatchGeometry*>(frame_objects()[0].geometry);
}

TEST_F(PatchEvaluation, DefaultsOfAPlainPatch) {
    evaluate("", bilinear());
    const PatchGeometry& patch = only_patch();
    EXPECT_TRUE(patch.active);
    EXPECT_EQ(patch.casts_shadow, 1);
    EXPECT_EQ(patch.doublesided, 0);
    EXPECT_EQ(patch.motion_texture_sample_level, 2);
    EXPECT_EQ(patch.motion_shading_samples, 1);
    EXPECT_FALSE(patch.tessellator_path);
    EXPECT_FALSE(patch.adaptive);
    EXPECT_EQ(patch.udivisions, 4);
    EXPECT_FLOAT_EQ(patch.curvature, 0.9f);
    ASSERT_EQ(patch.shaders.size(), 1u);
    EXPECT_TRUE(patch.trims.empty());
    const NurbsSurface& surface = patch.surface;
    EXPECT_EQ(surface.ucount, 2);
    EXPECT_EQ(surface.vcount, 2);
    EXPECT_EQ(surface.uknots, (std::vector<double>{0, 1}));
    EXPECT_DOUBLE_EQ(surface.cv(1, 1).z, 2.0);
    EXPECT_DOUBLE_EQ(surface.cv(0, 1).x, 1.0);
    // The bound is the hull of the control net, in object space.
    const double bound[6] = {0, 1, 0, 1, 0, 2};
    for (int i = 0; i < 6; ++i) EXPECT_DOUBLE_EQ(patch.bound[i], bound[i]);
    EXPECT_TRUE(frame_objects()[0].visible);
    EXPECT_EQ(geometry_errors(), "");
}

TEST_F(PatchEvaluation, DivisionsOfAnAdaptivePatchAreSwappedWithAWarning) {
    evaluate("", bilinear("divisions = (4, 2), subdivide = 1"));
    EXPECT_EQ(only_patch().udivisions, 2);
    EXPECT_EQ(only_patch().vdivisions, 4);
    EXPECT_EQ(geometry_errors(), "Warning: Invalid divisions on Patch, switching 4 and 2\n\n");
    geometry_errors().clear();
    evaluate("", bilinear("divisions = (4, 2), subdivide = 0"));
    EXPECT_EQ(only_patch().udivisions, 4);
    EXPECT_EQ(only_patch().vdivisions, 2);
    EXPECT_EQ(geometry_errors(), "");
}

TEST_F(PatchEvaluation, ATrimmedPatchIsMadeAdaptive) {
    evaluate(
        "tc hole (trim_vertex(0.4, 0.4, 0), trim_vertex(0.6, 0.4, 0), trim_vertex(0.5, 0.6, 0));\n"
        "patch leaf (shader = (s), divisions = (2, 8), uknots = (0, 1), vknots = (0, 1),"
        " cvs = ((cv((0, 0, 0), 1), cv((1, 0, 0), 1)), (cv((0, 1, 0), 1), cv((1, 1, 0), 1))),"
        " trim_region = (cvs = (trim_vertex(0, 0, 0), trim_vertex(1, 0, 0), trim_vertex(1, 1, 0)),"
        " trim_hole = hole));",
        "instance leaf ();\n");
    const PatchGeometry& patch = only_patch();
    EXPECT_TRUE(patch.adaptive);
    EXPECT_EQ(geometry_errors(),
              "Warning: Trimmed patches must be adaptively subdivided; changing 'leaf' "
              "to adaptive subdivision\n\n");
    ASSERT_EQ(patch.trims.size(), 1u);
    ASSERT_EQ(patch.trims[0].loops.size(), 2u);
    EXPECT_EQ(patch.trims[0].loops[0].points,
              (std::vector<std::array<double, 2>>{{0, 0}, {1, 0}, {1, 1}}));
    EXPECT_DOUBLE_EQ(patch.trims[0].loops[1].points[2][1], 0.6f);
}

TEST_F(PatchEvaluation, TrimFacesNamedByTheirDeclaration) {
    evaluate(
        "tf border (divs = 2, tb (btype = 1, te (dim = 2, nbs = 1, form = 0, tbs (dim = 2, form = "
        "0,"
        " ctype = 1, order = 2, count = 4, rational = 0, tcv(0, 0, 1, 0), tcv(1, 0, 1, 0),"
        " tcv(1, 1, 1, 0), tcv(0, 0, 1, 0)))));",
        bilinear("subdivide = 1, trim_region = (tcvs = border, extreference = \"gone.trim\")"));
    const PatchGeometry& patch = only_patch();
    ASSERT_EQ(patch.trims.size(), 1u);
    EXPECT_EQ(patch.trims[0].loops[0].points.size(), 4u);
    EXPECT_EQ(geometry_errors(), "Cannot find trim data gone.trim.\n");
}

TEST_F(PatchEvaluation, CurvedTrimEdgesAreSteppedAndGapsJoined) {
    // A rational quadratic quarter circle stepped 4 times (divs), then two
    // straight edges, the last of which starts away from where the first
    // ended.
    evaluate(
        "tf arc (divs = 4, tb (btype = 1,"
        " te (dim = 2, nbs = 1, form = 0, tbs (dim = 2, form = 0, ctype = 1, order = 3,"
        " count = 3, rational = 1, tcv(1, 0, 1, 0), tcv(1, 1, 0.70710678, 0), tcv(0, 1, 1, 0))),"
        " te (dim = 2, nbs = 1, form = 0, tbs (dim = 2, form = 0, ctype = 1, order = 2,"
        " count = 2, rational = 0, tcv(0, 0.9, 1, 0), tcv(0, 0, 1, 0)))));",
        bilinear("subdivide = 1, trim_region = (tcvs = arc)"));
    const PatchGeometry& patch = only_patch();
    ASSERT_EQ(patch.trims.size(), 1u);
    const auto& points = patch.trims[0].loops[0].points;
    ASSERT_EQ(points.size(), 7u);
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_NEAR(std::hypot(points[i][0], points[i][1]), 1.0, 1e-6) << i;
    EXPECT_EQ(points[5], (std::array<double, 2>{0, 0.9f}));
    EXPECT_EQ(geometry_errors(), "Warning: reparameterized trim edge to repair discontinuity.\n");
}

TEST_F(PatchEvaluation, CurvatureAndSampleSettingsAreClampedSilently) {
    evaluate("", bilinear("curvature = 1.5, motion_blur_texture_sample_level = 9,"
                          " motion_blur_shading_samples = 0"));
    EXPECT_FLOAT_EQ(only_patch().curvature, 1.0f);
    EXPECT_EQ(only_patch().motion_texture_sample_level, 5);
    EXPECT_EQ(only_patch().motion_shading_samples, 1);
    EXPECT_EQ(frame_objects()[0].motion_texture_sample_level, 5);
    evaluate("", bilinear("curvature = -1, motion_blur_texture_sample_level = -1"));
    EXPECT_FLOAT_EQ(only_patch().curvature, 0.0f);
    EXPECT_EQ(only_patch().motion_texture_sample_level, 0);
    EXPECT_EQ(geometry_errors(), "");
}

TEST_F(PatchEvaluation, APatchIsActiveFromOneHalf) {
    evaluate("", bilinear("active = 0.4") + bilinear("active = 0.5"));
    ASSERT_EQ(frame_objects().size(), 2u);
    EXPECT_FALSE(geometry<PatchGeometry>(0).active);
    EXPECT_FALSE(frame_objects()[0].visible);
    EXPECT_TRUE(geometry<PatchGeometry>(1).active);
}

TEST_F(PatchEvaluation, WeightsAreKeptBetweenAThousandthAndTenThousand) {
    evaluate("",
             "patch (shader = (s), divisions = (1, 1), uknots = (0, 1), vknots = (0, 1),"
             " cvs = ((cv((0, 0, 0), 0), cv((1, 0, 0), 20000)), (cv((0, 1, 0), -3), cv((1, 1, 0), "
             "2))));");
    const NurbsSurface& surface = only_patch().surface;
    EXPECT_DOUBLE_EQ(surface.cv(0, 0).w, 0.001);
    EXPECT_DOUBLE_EQ(surface.cv(0, 1).w, 10000);
    EXPECT_DOUBLE_EQ(surface.cv(1, 0).w, 0.001);
    EXPECT_DOUBLE_EQ(surface.cv(1, 1).w, 2);
}

TEST_F(PatchEvaluation, TheTessellatorPathHasItsOwnSettings) {
    ASSERT_EQ(
        parse("",
              bilinear("surface_smoothness = 0, displacement_detail = -2, limit_edge_length = 1,"
                       " max_edge_length = 3") +
                  bilinear("surface_smoothness = 0.25, displacement_detail = 7.9")),
        0);
    render_options().tessellator = true;
    scene_clock() = SceneClock{};
    evaluate_scene(scene_description().model, true);
    ASSERT_EQ(frame_objects().size(), 2u);
    const PatchGeometry& first = geometry<PatchGeometry>(0);
    EXPECT_TRUE(first.tessellator_path);
    EXPECT_FLOAT_EQ(first.surface_smoothness, 0.005f);
    EXPECT_EQ(first.displacement_detail, 60);
    EXPECT_TRUE(first.limit_edge_length);
    EXPECT_FLOAT_EQ(first.max_edge_length, 3.0f);
    const PatchGeometry& second = geometry<PatchGeometry>(1);
    EXPECT_FLOAT_EQ(second.surface_smoothness, 0.25f);
    EXPECT_EQ(second.displacement_detail, 7);
    EXPECT_FALSE(second.limit_edge_length);
    EXPECT_FLOAT_EQ(second.max_edge_length, 10.0f);
}

TEST_F(PatchEvaluation, DistinctKnotsStayDistinctUnderTheTessellator) {
    std::string knots = "uknots = (0, 0, 0.5, 0.5000001, 1, 1)";
    std::string rows;
    for (int u = 0; u < 5; ++u)
        rows += std::string(u ? ", " : "") + "(cv((" + std::to_string(u) + ", 0, 0), 1), cv((" +
                std::to_string(u) + ", 1, 0), 1))";
    std::string patch = "patch (shader = (s), divisions = (1, 1), udegree = 2, " + knots +
                        ", vknots = (0, 1), cvs = (" + rows + "));";
    ASSERT_EQ(parse("", patch), 0) << geometry_errors();
    scene_clock() = SceneClock{};
    evaluate_scene(scene_description().model, true);
    std::vector<double> classic = only_patch().surface.uknots;
    EXPECT_NE(classic[2], classic[3]);  // 0.5 and 0.5000001 are distinct floats
    release_frame_objects();
    render_options().tessellator = true;
    evaluate_scene(scene_description().model, true);
    // Only knots within 1e-10 of the larger end knot are made one: these
    // two, 1e-7 apart, are a double knot's neighbours, not a double knot.
    EXPECT_EQ(only_patch().surface.uknots, classic);
}

TEST_F(PatchEvaluationDeathTest, DivisionsAndShadersThatCannotBeUsed) {
    EXPECT_EXIT(evaluate("", bilinear("divisions = (0, 4)")), testing::ExitedWithCode(1),
                "^Invalid divisions on Patch\n$");
    EXPECT_EXIT(
        evaluate(
            "patch wing (shader = (s), divisions = (3), uknots = (0, 1), vknots = (0, 1),"
            " cvs = ((cv((0, 0, 0), 1), cv((1, 0, 0), 1)), (cv((0, 1, 0), 1), cv((1, 1, 0), 1))));",
            "instance wing ();"),
        testing::ExitedWithCode(1), "^Invalid divisions on wing\n$");
    EXPECT_EXIT(evaluate("scalar grey (0.5);", bilinear("shader = (grey)")),
                testing::ExitedWithCode(1), "^Cannot evaluate SHADER\n$");
}

TEST_F(FaceAndPolysetEvaluation, FacesTruncateWhatPatchesRound) {
    std::string curve =
        "boundaries = ((degree = 1, knots = (0, 0, 1, 2, 3, 3),"
        " cvs = (cv((0, 0, 0), 0), cv((2, 0, 0), 1), cv((2, 1, 0), 1), cv((0, 1, 0), 1))))";
    evaluate("", "face (shader = (s), divisions = 3.7, active = 0.5, auto_mirror = 1, " + curve +
                     ");\n"
                     "face (shader = (s), divisions = 0, " +
                     curve + ");\n");
    ASSERT_EQ(frame_objects().size(), 2u);
    const FaceGeometry& face = geometry<FaceGeometry>(0);
    EXPECT_FALSE(face.active);
    EXPECT_EQ(face.divisions, 3);
    ASSERT_EQ(face.boundaries.size(), 1u);
    // Written with the two implied end knots, which are dropped.
    EXPECT_EQ(face.boundaries[0].knots, (std::vector<double>{0, 1, 2, 3}));
    EXPECT_DOUBLE_EQ(face.boundaries[0].cvs[0].w, 0.001);
    EXPECT_DOUBLE_EQ(face.bound[1], 2.0);
    EXPECT_TRUE(geometry<FaceGeometry>(1).active);
    EXPECT_EQ(geometry<FaceGeometry>(1).divisions, 1);
}

TEST_F(FaceAndPolysetEvaluation, EachFurtherShaderGetsAnObjectSharingTheMesh) {
    evaluate(
        "scalar two (2);",
        "polyset (shader = color(s, t, s),"
        " vertices = ((cv((0, 0, 0), 1), st(0, 0)), (cv((1, 0, 0), 1), st(1, 0)), (cv((0, 1, 0), "
        "1), st(0, 1))),"
        " vertex_colors = (color(255, 0, 0), color(0, 255, 0), color(0, 0, 255)),"
        " polygons = (polygon(0, 1, 2), polygon((0, 1, two), 2)), polygon_areas = (0.5, 0.25));");
    ASSERT_EQ(frame_objects().size(), 3u);
    const PolysetGeometry& first = geometry<PolysetGeometry>(0);
    ASSERT_TRUE(first.mesh);
    EXPECT_TRUE(first.colour_flag);
    const PolysetMesh& mesh = *first.mesh;
    ASSERT_EQ(mesh.vertex_count(), 3u);
    EXPECT_TRUE(mesh.vertex(1).has_colour);
    EXPECT_FLOAT_EQ(mesh.vertex(1).colour[1], 255.0f);
    // The vertices' own texture coordinates, indexed like the vertices.
    EXPECT_EQ(mesh.texture_vertices.size(), 3u);
    ASSERT_EQ(mesh.polygon_count, 2u);
    EXPECT_EQ(mesh.polygon(0).shader, 0);
    EXPECT_EQ(mesh.polygon(1).vertices, (std::vector<std::int32_t>{0, 1, 2}));
    EXPECT_EQ(mesh.polygon(1).texture_vertices, (std::vector<std::int32_t>{0, 1, 2}));
    EXPECT_EQ(mesh.polygon(1).shader, 2);
    EXPECT_EQ(mesh.cumulative_areas, (std::vector<double>{0.5, 0.75}));
    for (int slot = 0; slot < 3; ++slot) {
        const RenderObject& object = frame_objects()[static_cast<std::size_t>(slot)];
        EXPECT_EQ(object.type, SDL_POLYSET);
        EXPECT_EQ(object.shader_slot, slot);
        const PolysetGeometry& g = geometry<PolysetGeometry>(static_cast<std::size_t>(slot));
        EXPECT_EQ(g.shader_slot, slot);
        EXPECT_EQ(g.mesh, first.mesh);
    }
    EXPECT_NE(frame_objects()[1].geometry, frame_objects()[0].geometry);
}

// Constant lists are borrowed from the parse, lists with an expression
// evaluated item by item: both give the same mesh, down to the polygons
// that take their vertices' texture vertices and normals and those that
// cannot (the lists are one short of the last vertex).
TEST_F(FaceAndPolysetEvaluation, BorrowedAndEvaluatedListsMakeTheSameMesh) {
    const std::string lists =
        " vertices = ((cv((0, 0, 0), 1), st(0, 0), norm(0, 0, 1)), (cv((1, 0, 0), 1), st(0, 0), "
        "norm(0, 0, 1)),"
        " (cv((0, 1, 0), 1), st(0, 0), norm(0, 0, 1)), (cv((1, 1, 0.5), 1), st(0, 0), norm(0, 0.6, "
        "0.8))),"
        " texture_vertices = (st(0, 0), st(1, 0), st(0, 1)),"
        " vertex_normals = (norm(0, 0, 1), norm(0, 0, 1), norm(1, 0, 0)),"
        " vertex_colors = (color(255, 0, 0), color(0, 255, 0)),";
    evaluate("scalar two (2);",
             "polyset (shader = (s)," + lists +
                 " polygons = (polygon(0, 1, 2), polygon(1, 3, 2), polygon(2, 1, 0)));"
                 "polyset (shader = (s)," +
                 lists + " polygons = (polygon(0, 1, two), polygon(1, 3, 2), polygon(2, 1, 0)));");
    ASSERT_EQ(frame_objects().size(), 2u);
    const PolysetMesh& borrowed = *geometry<PolysetGeometry>(0).mesh;
    const PolysetMesh& evaluated = *geometry<PolysetGeometry>(1).mesh;
    ASSERT_EQ(borrowed.polygon_count, 3u);
    ASSERT_EQ(evaluated.polygon_count, 3u);
    ASSERT_EQ(borrowed.vertex_count(), evaluated.vertex_count());
    for (std::size_t i = 0; i < borrowed.vertex_count(); ++i) {
        const PolysetVertex p = borrowed.vertex(i), q = evaluated.vertex(i);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(p.position[k], q.position[k]) << i;
            EXPECT_EQ(p.normal[k], q.normal[k]) << i;
            EXPECT_EQ(p.colour[k], q.colour[k]) << i;
        }
        EXPECT_EQ(p.has_normal, q.has_normal) << i;
        EXPECT_EQ(p.has_colour, q.has_colour) << i;
    }
    auto list = [](IndexSpan span) { return std::vector<std::int32_t>(span.begin(), span.end()); };
    for (std::size_t k = 0; k < 3; ++k) {
        const PolygonView p = borrowed.polygon(k), q = evaluated.polygon(k);
        EXPECT_EQ(list(p.vertices), list(q.vertices)) << k;
        EXPECT_EQ(list(p.texture_vertices), list(q.texture_vertices)) << k;
        EXPECT_EQ(list(p.normals), list(q.normals)) << k;
    }
    for (const PolysetMesh* mesh : {&borrowed, &evaluated}) {
        EXPECT_EQ(mesh->polygon(0).texture_vertices, (std::vector<std::int32_t>{0, 1, 2}));
        EXPECT_TRUE(mesh->polygon(1).texture_vertices.empty());
        EXPECT_TRUE(mesh->polygon(1).normals.empty());
        EXPECT_EQ(mesh->polygon(2).normals, (std::vector<std::int32_t>{2, 1, 0}));
        EXPECT_TRUE(mesh->has_colour(1));
        EXPECT_FALSE(mesh->has_colour(2));
        EXPECT_TRUE(mesh->has_normal(3));
        EXPECT_EQ(mesh->every_vertex_normal, 1);
        EXPECT_TRUE(mesh->indices_checked);
        EXPECT_FLOAT_EQ(static_cast<float>(mesh->vertex(3).normal[1]), 0.6f);
        EXPECT_DOUBLE_EQ(mesh->vertex(3).position[2], 0.5);
    }
}

// A grid of n × n quads on the surface z = x·y, written as numbers only,
// each vertex with its st and normal.
std::string number_grid(int n) {
    std::string s = "polyset (shader = (s), vertices = (";
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i)
            s += std::string(i || j ? "," : "") + "(cv((" + std::to_string(i) + ", " +
                 std::to_string(j) + ", " + std::to_string(i * j) + "), 1), st(" +
                 std::to_string(i) + ", 0.5), norm(0, 0, 1))";
    s += "), polygons = (";
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const int a = j * (n + 1) + i;
            s += std::string(i || j ? "," : "");
            s += "polygon(" + std::to_string(a) + ", " + std::to_string(a + 1) + ", " +
                 std::to_string(a + n + 2) + ", " + std::to_string(a + n + 1) + ")";
        }
    return s + "));\n";
}

TEST_F(FaceAndPolysetEvaluation, ALargeMeshCheckedByEveryWorkerIsTheMeshOneWorkerMakes) {
    // Written as numbers only, a large mesh's polygons are checked and its
    // bound taken in ranges by whichever worker comes first: the mesh and
    // its bound must not depend on who did which.
    constexpr int n = 200;  // 40,401 vertices and 40,000 quads: many ranges
    const std::string grid = number_grid(n);
    for (int workers : {1, 2, 3}) {
        SCOPED_TRACE(workers);
        WorkerCrew crew(workers);
        evaluate("", grid);
        ASSERT_EQ(frame_objects().size(), 1u);
        const PolysetGeometry& polyset = geometry<PolysetGeometry>(0);
        ASSERT_TRUE(polyset.mesh);
        const PolysetMesh& mesh = *polyset.mesh;
        ASSERT_EQ(mesh.vertex_count(), std::size_t{(n + 1) * (n + 1)});
        ASSERT_EQ(mesh.texture_vertices.size(), mesh.vertex_count());
        bool placed = true;
        for (int j = 0; j <= n; ++j)
            for (int i = 0; i <= n; ++i) {
                const auto k = static_cast<std::size_t>(j * (n + 1) + i);
                const PolysetVertex v = mesh.vertex(k);
                placed = placed && v.position[0] == i && v.position[1] == j &&
                         v.position[2] == i * j && v.has_normal && v.normal[2] == 1 &&
                         mesh.texture_vertices[k][0] == i;
            }
        EXPECT_TRUE(placed);
        // Found in ranges too: every vertex gives a normal.
        EXPECT_EQ(mesh.every_vertex_normal, 1);
        ASSERT_EQ(mesh.polygon_count, std::size_t{n * n});
        bool indexed = true;
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                const PolygonView p = mesh.polygon(static_cast<std::size_t>(j * n + i));
                const int a = j * (n + 1) + i;
                indexed = indexed &&
                          p.vertices == std::vector<std::int32_t>{a, a + 1, a + n + 2, a + n + 1} &&
                          std::equal(p.texture_vertices.begin(), p.texture_vertices.end(),
                                     p.vertices.begin(), p.vertices.end()) &&
                          p.shader == 0;
            }
        EXPECT_TRUE(indexed);
        const double box[6] = {0, n, 0, n, 0, n * n};
        for (int k = 0; k < 6; ++k) EXPECT_EQ(polyset.bound[k], box[k]) << k;
    }
}

// What the evaluation tells the tessellator of the vertices' normals: a
// vertex without one, or with one of no length, leaves the corners to be
// looked at.
TEST_F(FaceAndPolysetEvaluation, AVertexWithoutAUsableNormalIsFound) {
    const std::string first =
        "polyset (shader = (s), vertices = ((cv((0, 0, 0), 1), st(0, 0), norm(0, 0, 1)),";
    const std::string last =
        " (cv((0, 1, 0), 1), st(0, 0), norm(0, 0, 1))), polygons = (polygon(0, 1, 2), polygon(2, "
        "1, 0)));\n";
    const std::pair<std::string, int> cases[] = {
        {" (cv((1, 0, 0), 1), st(0, 0), norm(0, 0, 1)),", 1},
        {" (cv((1, 0, 0), 1), st(0, 0)),", 0},
        {" (cv((1, 0, 0), 1), st(0, 0), norm(0, 0, 0)),", 0}};
    for (const auto& [middle, every] : cases) {
        evaluate("", first + middle + last);
        ASSERT_EQ(frame_objects().size(), 1u) << middle;
        EXPECT_EQ(geometry<PolysetGeometry>(0).mesh->every_vertex_normal, every) << middle;
    }
}

TEST_F(FaceAndPolysetEvaluationDeathTest, StoredGeometryThatIsNotThere) {
    EXPECT_EXIT(evaluate("", "polyset (shader = (s), extreference = \"box.obj\");"),
                testing::ExitedWithCode(1), "^Cannot find geometry for box.obj\n$");
}

// Three walks of one frame under motion blur.
void walk_with_motion(const std::string& definitions, const std::string& model) {
    ASSERT_EQ(GeometryScene::parse(definitions, model), 0);
    release_frame_objects();
    SceneClock& clock = scene_clock();
    clock = SceneClock{};
    clock.motion_blur = true;
    clock.shutter_open = 0.75f;
    clock.shutter_close = 1.25f;
    for (float time : {0.75f, 1.25f, 1.0f}) {
        clock.time = time;
        frame_objects().reset_cursor();
        evaluate_scene(scene_description().model, time == 0.75f);
    }
}

TEST_F(PatchEvaluation, MovingInstancesOfUnchangedGeometryShareIt) {
    std::string wing =
        "patch wing (shader = (s), divisions = (2, 2), uknots = (0, 1), vknots = (0, 1),"
        " motion_blur = ON, cvs = ((cv((0, 0, 0), 1), cv((1, 0, 0), 1)),"
        " (cv((0, 1, 0), 1), cv((1, 1, frame), 1))));";
    walk_with_motion(wing, "instance wing ();\ntranslate (2, 0, 0);\ninstance wing ();\n");
    ASSERT_EQ(frame_objects().size(), 2u);
    const RenderObject& a = frame_objects()[0];
    const RenderObject& b = frame_objects()[1];
    EXPECT_EQ(a.open_geometry, b.open_geometry);  // equal at shutter open
    ASSERT_NE(a.close_geometry, nullptr);
    EXPECT_NE(a.close_geometry, a.open_geometry);  // the net moved by the close
    EXPECT_DOUBLE_EQ(static_cast<const PatchGeometry*>(a.close_geometry)->surface.cv(1, 1).z, 1.25);
    EXPECT_DOUBLE_EQ(static_cast<const PatchGeometry*>(b.open_geometry)->surface.cv(1, 1).z, 0.75);
    // Released once per holder: no double free (the sanitizer build checks).
    release_frame_objects();
    EXPECT_EQ(frame_objects().size(), 0u);
}

TEST_F(FaceAndPolysetEvaluation, MovingPolysetSlotsPairWithTheirOwnSlots) {
    std::string mesh =
        "polyset (shader = (s, t), motion_blur = ON,"
        " vertices = ((cv((0, 0, 0), 1)), (cv((1, 0, 0), 1)), (cv((0, 1, frame), 1))),"
        " polygons = (polygon(0, 1, 2), polygon((0, 1, 2), 1)));\n";
    walk_with_motion("", mesh + mesh);
    ASSERT_EQ(frame_objects().size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        const RenderObject& object = frame_objects()[i];
        EXPECT_EQ(object.shader_slot, static_cast<std::int32_t>(i % 2));
        ASSERT_NE(object.close_geometry, nullptr) << i;
        const auto* close = static_cast<const PolysetGeometry*>(object.close_geometry);
        EXPECT_EQ(close->shader_slot, object.shader_slot);
        EXPECT_DOUBLE_EQ(close->mesh->vertex(2).position[2], 1.25);
    }
}

// The body a declared variable was declared with.
const Body* declared_body(const char* name) {
    return static_cast<const ObjectValue*>(find_symbol(name)->value)->body;
}

TEST_F(PatchEvaluation, DeclaredVariablesStandForTheirFirstInstanceOrForThemselves) {
    std::string declared =
        "patch wing (shader = (s), divisions = (2, 2), uknots = (0, 1), vknots = (0, 1),"
        " motion_blur = ON, cvs = ((cv((0, 0, 0), 1), cv((1, 0, 0), 1)),"
        " (cv((0, 1, 0), 1), cv((1, 1, frame), 1))));\n"
        "patch spare (shader = (s), divisions = (1, 1), uknots = (0, 1), vknots = (0, 1),"
        " cvs = ((cv((0, 0, 0), 1), cv((1, 0, 0), 1)), (cv((0, 1, 0), 1), cv((1, 1, frame), 1))));";
    walk_with_motion(declared, "translate (2, 0, 0);\ninstance wing ();\ninstance wing ();\n");
    // Placed: the head of its instance chain, with the instance's motion.
    const RenderObject* wing = declared_object(declared_body("wing"));
    ASSERT_EQ(frame_objects().size(), 2u);
    EXPECT_EQ(wing, &frame_objects()[0]);
    EXPECT_TRUE(wing->has_close);
    // Not placed: evaluated where it was declared when asked for (after the
    // frame-time walk), and not rendered.
    const RenderObject* spare = declared_object(declared_body("spare"));
    ASSERT_NE(spare, nullptr);
    EXPECT_EQ(spare->placement.model.m[12], 0.0f);
    EXPECT_DOUBLE_EQ(static_cast<const PatchGeometry*>(spare->geometry)->surface.cv(1, 1).z, 1.0);
    EXPECT_EQ(declared_object(nullptr), nullptr);
    release_frame_objects();
}

}  // namespace
}  // namespace sky
