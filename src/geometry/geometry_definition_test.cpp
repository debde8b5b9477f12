// Geometry bodies checked as they are read: what a scene may write, and the
// messages (counted parse errors or the end of the run) for what it may not.
#include <gtest/gtest.h>

#include "geometry/geometry_test_support.h"

namespace sky {
namespace {

using GeometryDefinition = GeometryScene;
using GeometryDefinitionDeathTest = GeometrySceneDeathTest;

std::string cv_row(int n) {
    std::string row = "(";
    for (int i = 0; i < n; ++i)
        row += (i ? ", " : "") + std::string("cv((") + std::to_string(i) + ", 0, 0), 1)";
    return row + ")";
}

TEST_F(GeometryDefinition, KnotsNumberTheCvsPlusTheDegreeLessOne) {
    // Four CVs of degree 3 in each direction: six knots each.
    std::string knots = "(0, 0, 0, 1, 1, 1)";
    std::string rows = cv_row(4) + ", " + cv_row(4) + ", " + cv_row(4) + ", " + cv_row(4);
    EXPECT_EQ(parse("patch p (shader = (s), udegree = 3, vdegree = 3, uknots = " + knots +
                    ", vknots = " + knots + ", cvs = (" + rows + "));"),
              0)
        << geometry_errors();
}

TEST_F(GeometryDefinitionDeathTest, AKnotTooManyOrTooFew) {
    std::string knots = "(0, 0, 0, 1, 1, 1)";
    std::string rows = cv_row(4) + ", " + cv_row(4) + ", " + cv_row(4) + ", " + cv_row(4);
    EXPECT_EXIT(
        parse("patch p (shader = (s), udegree = 3, vdegree = 3, uknots = (0, 0, 0, 1, 1, 1, 1),"
              " vknots = " +
              knots + ", cvs = (" + rows + "));"),
        testing::ExitedWithCode(1),
        "^Wrong number of knots in u direction \\(difference: -1\\)\n$");
    EXPECT_EXIT(parse("patch p (shader = (s), uknots = (0, 1), vknots = (0), cvs = (" + cv_row(2) +
                      ", " + cv_row(2) + "));"),
                testing::ExitedWithCode(1),
                "^Wrong number of knots in v direction \\(difference: 1\\)\n$");
}

TEST_F(GeometryDefinitionDeathTest, TooFewCvsForTheDegree) {
    EXPECT_EXIT(
        parse("patch p (shader = (s), udegree = 2, uknots = (0, 1), vknots = (0, 1), cvs = (" +
              cv_row(2) + ", " + cv_row(2) + "));"),
        testing::ExitedWithCode(1), "^not enough cvs in u direction\n$");
    EXPECT_EXIT(parse("patch p (shader = (s), uknots = (0, 1), cvs = (" + cv_row(1) + ", " +
                      cv_row(1) + "));"),
                testing::ExitedWithCode(1), "not enough cvs in v direction\n$");
}

TEST_F(GeometryDefinition, MalformedPatchesAreCountedErrors) {
    // Ragged rows, a row that is not CVs, no shader, an external surface.
    EXPECT_EQ(parse("patch p (shader = (s), uknots = (0, 1), vknots = (0, 1),\n"
                    "         cvs = (" +
                    cv_row(2) + ", " + cv_row(3) + "));"),
              1);
    EXPECT_EQ(geometry_errors(), "line 5: inconsistent number of v curves for this patch\n");
    geometry_errors().clear();
    EXPECT_EQ(parse("scalar k (1);\npatch p (shader = (s), cvs = ((k, k), (k, k)));"), 1);
    EXPECT_EQ(geometry_errors(), "line 5: Bad PATCH data\n");
    geometry_errors().clear();
    EXPECT_EQ(parse("", bilinear("shader = ()")), 1);
    EXPECT_EQ(geometry_errors(), "line 6: a shader must be given\n");
    geometry_errors().clear();
    EXPECT_EQ(parse("", bilinear("extreference = \"wing.srf\"")), 1);
    EXPECT_EQ(geometry_errors(), "line 6: Missing external surface wing.srf\n");
}

TEST_F(GeometryDefinitionDeathTest, UnknownParameterNamesEndTheRun) {
    EXPECT_EXIT(parse("", bilinear("wobble = 1")), testing::ExitedWithCode(1),
                "^Unknown PATCH parameter wobble\n$");
    EXPECT_EXIT(parse("",
                      "face (shader = (s), divisions = 2, curvature = 1, boundaries = ((degree = 1,"
                      " knots = (0, 1), cvs = (cv((0, 0, 0), 1), cv((1, 0, 0), 1)))));"),
                testing::ExitedWithCode(1), "^Unknown FACE parameter curvature\n$");
    EXPECT_EXIT(parse("", "polyset (shader = (s), subdivisions = 2);"), testing::ExitedWithCode(1),
                "^Unknown POLYSET parameter subdivisions\n$");
    EXPECT_EXIT(
        parse("tf edge (divs = 2, tb (btype = 1, te (dim = 2, nbs = 1, form = 0, tbs (dim = 2,"
              " form = 0, ctype = 1, order = 2, span = 2, rational = 0, tcv(0, 0, 1, 0)))));"),
        testing::ExitedWithCode(1), "^Unknown tbs \\(trim bspline\\) parameter span\n$");
}

TEST_F(GeometryDefinition, EveryNamedParameterIsAccepted) {
    EXPECT_EQ(
        parse("", bilinear(
                      "casts_shadow = 1, active = 1, opposite = 0, doublesided = 1,"
                      " surface_smoothness = 0.5, edge_smoothness = 0.5, displacement_detail = 4,"
                      " limit_edge_length = 1, max_edge_length = 2, subdivide = 1, curvature = 0.5,"
                      " uclosed = 0, vclosed = 0, udegree = 1, vdegree = 1, light_list = (),"
                      " motion_blur = 0, reflection_only = 0, auto_mirror = 1,"
                      " particle_collisions = 1, motion_blur_texture_sample_level = 3,"
                      " motion_blur_shading_samples = 2")),
        0)
        << geometry_errors();
}

std::string square_face(const std::string& extra) {
    return "face (boundaries = ((degree = 1, knots = (0, 1, 2, 3),"
           " cvs = (cv((0, 0, 0), 1), cv((1, 0, 0), 1), cv((1, 1, 0), 1), cv((0, 1, 0), 1))))" +
           extra + ");\n";
}

TEST_F(GeometryDefinition, FacesNeedDivisionsAShaderAndCurvesThatFit) {
    EXPECT_EQ(
        parse("", square_face(", shader = (s), divisions = 2, auto_mirror = 1, opposite = 1")), 0)
        << geometry_errors();
    EXPECT_EQ(parse("", square_face("")), 2);
    EXPECT_EQ(geometry_errors(),
              "line 6: divisions must be specified\nline 6: a shader must be given\n");
    geometry_errors().clear();
    // Two knots for four linear CVs fit no convention.
    EXPECT_EQ(
        parse(
            "",
            "face (shader = (s), divisions = 2, boundaries = ((degree = 1, knots = (0, 1),"
            " cvs = (cv((0, 0, 0), 1), cv((1, 0, 0), 1), cv((1, 1, 0), 1), cv((0, 1, 0), 1)))));"),
        1);
    EXPECT_EQ(geometry_errors(), "line 6: Bad FACE data\n");
}

std::string triangle_polyset(const std::string& polygons, const std::string& extra = "") {
    return "polyset (shader = (s, t), vertices = ((cv((0, 0, 0), 1)), (cv((1, 0, 0), 1)), (cv((0, "
           "1, 0), 1))),"
           " texture_vertices = (st(0, 0), st(1, 0)), vertex_normals = (norm(0, 0, 1)),"
           " polygons = (" +
           polygons + ")" + extra + ");\n";
}

TEST_F(GeometryDefinition, PolygonIndicesMustNameEntriesThatExist) {
    EXPECT_EQ(parse("", triangle_polyset("polygon((0, 1, 2), (0, 1, 1), (0, 0, 0), 1)")), 0)
        << geometry_errors();
    struct Case {
        const char* polygons;
        const char* detail;
    } cases[] = {
        {"polygon(0, 1, 2), polygon(2, 3, 0)",
         "  polygon 1 refers to vertex 3; they are numbered 0 to 2\n"},
        {"polygon(0, -1, 2)", "  polygon 0 refers to vertex -1; they are numbered 0 to 2\n"},
        {"polygon((0, 1, 2), (0, 1, 2))",
         "  polygon 0 refers to texture vertex 2; they are numbered 0 to 1\n"},
        {"polygon((0, 1, 2), (0, 1, 1), (0, 1, 0))",
         "  polygon 0 refers to normal 1; they are numbered 0 to 0\n"},
        {"polygon((0, 1, 2), 2)", "  polygon 0 refers to shader 2; they are numbered 0 to 1\n"},
    };
    for (const Case& c : cases) {
        geometry_errors().clear();
        EXPECT_EQ(parse("", triangle_polyset(c.polygons)), 1) << c.polygons;
        EXPECT_EQ(geometry_errors(), std::string("line 6: Bad POLYSET data\n") + c.detail);
    }
    // Among many polygons, the first faulty one is named.
    auto many = [](int bad_at, const char* bad) {
        std::string polygons;
        for (int k = 0; k < 1000; ++k)
            polygons += std::string(k ? ", " : "") + (k == bad_at ? bad : "polygon((0, 1, 2), 1)");
        return triangle_polyset(polygons);
    };
    EXPECT_EQ(parse("", many(-1, "")), 0) << geometry_errors();
    for (const Case& c : {Case{"polygon((0, 1, 3), 1)",
                               "  polygon 700 refers to vertex 3; they are numbered 0 to 2\n"},
                          Case{"polygon((0, 1, 2), 5)",
                               "  polygon 700 refers to shader 5; they are numbered 0 to 1\n"}}) {
        geometry_errors().clear();
        EXPECT_EQ(parse("", many(700, c.polygons)), 1) << c.polygons;
        EXPECT_EQ(geometry_errors(), std::string("line 6: Bad POLYSET data\n") + c.detail);
    }
    // Indices written as expressions are checked at their values.
    geometry_errors().clear();
    EXPECT_EQ(parse("scalar seven (7);", triangle_polyset("polygon(0, 1, seven)")), 1);
    EXPECT_EQ(
        geometry_errors(),
        "line 6: Bad POLYSET data\n  polygon 0 refers to vertex 7; they are numbered 0 to 2\n");
    // A polygon whose index lists differ in length.
    geometry_errors().clear();
    EXPECT_EQ(parse("scalar one (1);", triangle_polyset("polygon((0, one, 2), (0, 1))")), 1);
    EXPECT_EQ(
        geometry_errors(),
        "line 6: Bad POLYSET data\n  polygon 0 has 3 vertices but 2 texture vertex indices\n");
}

std::string shader_list(int count) {
    std::string list;
    for (int i = 0; i < count; ++i) list += (i ? ", " : "") + std::string(i % 2 ? "t" : "s");
    return list;
}

TEST_F(GeometryDefinitionDeathTest, SixtyFourShadersAndNoMore) {
    EXPECT_EQ(parse("", "polyset (shader = (" + shader_list(64) + "));"), 0) << geometry_errors();
    EXPECT_EXIT(parse("", "polyset (shader = (" + shader_list(65) + "));"),
                testing::ExitedWithCode(1), "^Maximum of 64 shaders per polyset allowed\n$");
    EXPECT_EXIT(parse("", "polyset (shader = color());"), testing::ExitedWithCode(1),
                "^Cannot set colour flag on unallocated shader\n$");
}

}  // namespace
}  // namespace sky
