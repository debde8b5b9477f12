// Lists of constants are packed as they are parsed; lists that are not stay
// nodes. Either way the values are the ones written.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sdl/body.h"
#include "sdl/parse_test_support.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

const Body* parse_polyset(const std::string& parameters) {
    reset_front_end();
    EXPECT_EQ(parse_scene_text("DEFINITION\nscalar one (1);\npolyset p (" + parameters +
                               ");\nscalar after (one + 41);\nMODEL\n"),
              0);
    // Nodes built after a packed list must be intact.
    EXPECT_FLOAT_EQ(find_symbol("after")->scalar(), 42.0f);
    ObjectValue value;
    EXPECT_TRUE(AR_evaluate(SDL_POLYSET, &value, find_symbol("p")->initialiser, nullptr));
    return value.body;
}

std::vector<float> floats(const Expr* list) {
    const PackedList* packed = packed_list(list);
    return std::vector<float>(packed->data, packed->data + packed->count * packed->stride);
}

TEST(PackedLists, ConstantVerticesBecomeFloats) {
    const Body* body = parse_polyset(
        "vertices = ((cv((1, 2, 3), 1), st(0.5, 0.25), norm(0, 0, 1)),"
        "            (cv((4, 5, 6), 0.5), st(1, 0), norm(0, 1, 0)),"
        "            (cv((-7, 8.5, 9), 2), st(0, 1), norm(1, 0, 0)))");
    const Expr* vertices = body->find("vertices")->value;
    ASSERT_TRUE(is_packed_list(vertices));
    EXPECT_EQ(packed_list(vertices)->count, 3);
    EXPECT_EQ(packed_list(vertices)->stride, 9);
    EXPECT_EQ(floats(vertices),
              (std::vector<float>{1, 2, 3, 1, 0.5f, 0.25f, 0, 0, 1, 4, 5, 6, 0.5f, 1,
                                  0, 0, 1, 0, -7,   8.5f,  9, 2, 0, 1, 1, 0, 0}));
}

TEST(PackedLists, ListsOfOneShapeEach) {
    const Body* body = parse_polyset(
        "vertex_colors = (color(255, 0, 0), color(0, 128, 255)),"
        "vertex_normals = (norm(0, 0, 1), norm(0.6, 0.8, 0)),"
        "texture_vertices = (st(0, 0), st(1, 0.5)),"
        "polygon_areas = (0.5, 1.5, -2)");
    EXPECT_EQ(floats(body->find("vertex_colors")->value),
              (std::vector<float>{255, 0, 0, 0, 128, 255}));
    EXPECT_EQ(floats(body->find("vertex_normals")->value),
              (std::vector<float>{0, 0, 1, 0.6f, 0.8f, 0}));
    EXPECT_EQ(floats(body->find("texture_vertices")->value), (std::vector<float>{0, 0, 1, 0.5f}));
    EXPECT_EQ(floats(body->find("polygon_areas")->value), (std::vector<float>{0.5f, 1.5f, -2}));
}

TEST(PackedLists, AnExpressionTurnsTheListBackIntoNodesWithTheSameValues) {
    const Body* body =
        parse_polyset("vertices = ((cv((1, 2, 3), 1)), (cv((4, 5, 6), 1)), (cv((one, 0, 0), 1)))");
    const Expr* vertices = body->find("vertices")->value;
    ASSERT_TRUE(is_list(vertices));
    std::vector<CvValue> cvs;
    for (Expr* vertex = list_first(vertices); vertex; vertex = vertex->next) {
        CvValue cv;
        ASSERT_TRUE(AR_evaluate(SDL_CV, &cv, list_first(vertex), nullptr));
        cvs.push_back(cv);
    }
    ASSERT_EQ(cvs.size(), 3u);
    EXPECT_FLOAT_EQ(cvs[0].x, 1);
    EXPECT_FLOAT_EQ(cvs[1].z, 6);
    EXPECT_FLOAT_EQ(cvs[2].x, 1);  // the variable, evaluated
}

TEST(PackedLists, MixedVertexFormsStayNodes) {
    const Body* body =
        parse_polyset("vertices = ((cv((1, 2, 3), 1)), (cv((4, 5, 6), 1), st(1, 1)))");
    const Expr* vertices = body->find("vertices")->value;
    ASSERT_TRUE(is_list(vertices));
    EXPECT_EQ(list_length(vertices), 2);
    Expr* second = list_first(vertices)->next;
    Triple st;
    ASSERT_TRUE(AR_evaluate(SDL_ST, &st, list_first(second)->next, nullptr));
    EXPECT_FLOAT_EQ(st.x, 1);
}

TEST(PackedPolygonLists, IndicesOffsetsAndShaderSlots) {
    const Body* body = parse_polyset(
        "polygons = (polygon(0, 1, 2), polygon((2, 3, 4, 5), 1), polygon((5, 6, 7), 0))");
    const Expr* list = body->find("polygons")->value;
    ASSERT_TRUE(is_packed_polygons(list));
    const PackedPolygons* polygons = packed_polygons(list);
    ASSERT_EQ(polygons->count, 3);
    EXPECT_EQ(std::vector<int>(polygons->offsets, polygons->offsets + 4),
              (std::vector<int>{0, 3, 7, 10}));
    EXPECT_EQ(std::vector<int>(polygons->vertices, polygons->vertices + 10),
              (std::vector<int>{0, 1, 2, 2, 3, 4, 5, 5, 6, 7}));
    EXPECT_EQ(std::vector<int>(polygons->shaders, polygons->shaders + 3),
              (std::vector<int>{-1, 1, 0}));
    EXPECT_EQ(polygons->texture_vertices, nullptr);
    EXPECT_EQ(polygons->normals, nullptr);
}

TEST(PackedPolygonLists, PerVertexTextureAndNormalIndices) {
    const Body* body = parse_polyset(
        "polygons = (polygon((0, 1, 2), (3, 4, 5), (6, 7, 8), 2),"
        "            polygon((2, 1, 0), (5, 4, 3), (8, 7, 6)))");
    const PackedPolygons* polygons = packed_polygons(body->find("polygons")->value);
    ASSERT_NE(polygons->texture_vertices, nullptr);
    ASSERT_NE(polygons->normals, nullptr);
    EXPECT_EQ(polygons->texture_vertices[3], 5);
    EXPECT_EQ(polygons->normals[5], 6);
    EXPECT_EQ(polygons->shaders[0], 2);
    EXPECT_EQ(polygons->shaders[1], -1);
}

TEST(PackedPolygonLists, AnIndexExpressionKeepsEveryPolygonAsNodes) {
    const Body* body = parse_polyset("polygons = (polygon(0, 1, 2), polygon(2, one, 3))");
    const Expr* list = body->find("polygons")->value;
    ASSERT_TRUE(is_list(list));
    ASSERT_EQ(list_length(list), 2);
    // Each polygon: vertex indices, texture indices, normal indices, shader slot.
    const Expr* first = list_first(list);
    const Expr* indices = list_first(first);
    ASSERT_EQ(list_length(indices), 3);
    float second_index = 0;
    const Expr* second_polygon_indices = list_first(first->next);
    Expr* one = second_polygon_indices->args->next;
    ASSERT_TRUE(evaluate_scalar(one, second_index));
    EXPECT_FLOAT_EQ(second_index, 1);
}

}  // namespace
}  // namespace sky
