// The model walk: transformations composed by the statements, blocks,
// control flow, the start-frame listing, assignments and motion pairing,
// through scenes read from SDL.
#include "scene/dag.h"

#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "base/options.h"
#include "base/vecmath.h"
#include "platform/report.h"
#include "scene/scene_clock.h"
#include "scene/scene_objects.h"
#include "scene/transform.h"
#include "sdl/parse_test_support.h"
#include "sdl/scene_description.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

std::string listed;
void capture(const char* text) {
    listed += text;
}

constexpr const char* kShader = "shader s (model = lambert);\n";
constexpr const char* kPolyset =
    "polyset (shader = (s), vertices = ((cv((0, 0, 0), 1)), (cv((1, 0, 0), 1)), (cv((0, 1, 0), "
    "1))),"
    " polygons = (polygon(0, 1, 2)));\n";

// Reads `definitions` and `model` and walks the model once at frame 1.
void evaluate(const std::string& definitions, const std::string& model, bool list = false) {
    reset_front_end();
    ASSERT_EQ(
        parse_scene_text("DEFINITION\n" + std::string(kShader) + definitions + "\nMODEL\n" + model),
        0);
    release_frame_objects();
    RenderOptions& options = render_options();
    options = RenderOptions{};
    options.quiet = list ? 0 : 1;
    SceneClock& clock = scene_clock();
    clock = SceneClock{};
    listed.clear();
    rptSetUserCB(capture);
    evaluate_scene(scene_description().model, true);
    rptSetUserCB(nullptr);
}

// The rows of the matrices a test composes by hand (row vectors: p' = p·M).
Matrix4 translation(float x, float y, float z) {
    Matrix4 m;
    m.m[12] = x, m.m[13] = y, m.m[14] = z;
    return m;
}
Matrix4 rotation_y(float degrees) {
    float a = degrees * 0.017453292f;
    Matrix4 m;
    m.m[0] = m.m[10] = std::cos(a);
    m.m[8] = std::sin(a);
    m.m[2] = -std::sin(a);
    return m;
}
Matrix4 scaling(float x, float y, float z) {
    Matrix4 m;
    m.m[0] = x, m.m[5] = y, m.m[10] = z;
    return m;
}

void expect_matrix_near(const Matrix4& got, const Matrix4& want) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(got.m[i], want.m[i], 1e-5f) << "element " << i;
}

TEST(ModelWalk, StatementsNearestTheGeometryActFirst) {
    evaluate("",
             "translate (1, 2, 3);\nrot (yaxis, 30);\nscale (2, 1, 1);\n" + std::string(kPolyset));
    ASSERT_EQ(frame_objects().size(), 1u);
    const TransformValue& placement = frame_objects()[0].placement;
    // M = S·R·T: a point is scaled, then rotated, then moved.
    Matrix4 want = multiply(scaling(2, 1, 1), multiply(rotation_y(30), translation(1, 2, 3)));
    expect_matrix_near(placement.model, want);
    // Directions take rotations and scales, no translation; normals the
    // reciprocal scales.
    expect_matrix_near(placement.direction, multiply(scaling(2, 1, 1), rotation_y(30)));
    expect_matrix_near(placement.normal, multiply(scaling(0.5f, 1, 1), rotation_y(30)));
    Matrix4 inverse;
    ASSERT_TRUE(Ar_invert_matrix(want, inverse));
    expect_matrix_near(placement.inverse_model, inverse);
    // The point (1, 0, 0): scaled to (2, 0, 0), turned 30° about y, moved.
    Triple p = AR_model_xform({1, 0, 0}, placement.model);
    EXPECT_NEAR(p.x, 2 * std::cos(0.5235988f) + 1, 1e-5f);
    EXPECT_NEAR(p.y, 2.0f, 1e-5f);
    EXPECT_NEAR(p.z, -2 * std::sin(0.5235988f) + 3, 1e-5f);
    ASSERT_EQ(placement.steps.size(), 3u);
    EXPECT_EQ(placement.steps[0].kind, 1);
    EXPECT_EQ(placement.steps[1].kind, 3);
    EXPECT_NEAR(placement.steps[1].y, 0.5235988f, 1e-6f);
    EXPECT_EQ(placement.steps[2].kind, 5);
}

TEST(ModelWalk, ABlockLeavesTheTransformationAsItFoundIt) {
    evaluate("", "translate (5, 0, 0);\n{ rot (zaxis, 90); scale (3, 3, 3); " +
                     std::string(kPolyset) + "}\n" + kPolyset);
    ASSERT_EQ(frame_objects().size(), 2u);
    expect_matrix_near(frame_objects()[1].placement.model, translation(5, 0, 0));
    EXPECT_EQ(frame_objects()[1].placement.steps.size(), 1u);
    EXPECT_GT(frame_objects()[0].placement.steps.size(), 2u);
}

TEST(ModelWalk, ScalesFlipTheOrientationAndNeverReachZero) {
    evaluate("", "{ scale (-1, 1, 1); " + std::string(kPolyset) + "}\n{ scale (-1, -1, 1); " +
                     kPolyset + "}\n{ scale (0, 2, 2); " + kPolyset + "}\n");
    ASSERT_EQ(frame_objects().size(), 3u);
    EXPECT_FLOAT_EQ(frame_objects()[0].placement.orientation, -1.0f);
    EXPECT_FLOAT_EQ(frame_objects()[1].placement.orientation, 1.0f);
    const TransformValue& flat = frame_objects()[2].placement;
    EXPECT_FLOAT_EQ(flat.model.m[0], 1e-7f);
    EXPECT_FLOAT_EQ(flat.normal.m[0], 1e7f);
    EXPECT_FLOAT_EQ(flat.orientation, 1.0f);
}

TEST(ModelWalk, RotationAboutAnUnknownAxisChangesNothing) {
    TransformState state;
    reset_transform_state(state);
    apply_rotation(state, 4, 30);
    expect_matrix_near(state.value.model, Matrix4{});
    EXPECT_TRUE(state.value.steps.empty());
}

TEST(ModelWalk, ConditionsTruncateTowardZero) {
    evaluate("scalar half (0.5); scalar minus (-1.0); scalar a (0); scalar b (0);",
             "if (half) a = 1; else a = 2;\nif (minus) b = 1; else b = 2;\n");
    EXPECT_FLOAT_EQ(find_symbol("a")->scalar(), 2.0f);
    EXPECT_FLOAT_EQ(find_symbol("b")->scalar(), 1.0f);
}

TEST(ModelWalk, LoopsRunAndPlaceObjectsEachTime) {
    evaluate(
        "version = 9.5; scalar i (0);",
        "for (i = 0; i < 4; i = i + 1;) { translate (i, 0, 0); " + std::string(kPolyset) + "}\n");
    ASSERT_EQ(frame_objects().size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(frame_objects()[i].placement.model.m[12], i);
    EXPECT_FLOAT_EQ(find_symbol("i")->scalar(), 4.0f);
}

TEST(ModelWalk, ABoundOnLoopIterationsEndsALoopThatNeverWould) {
    set_loop_iteration_limit(5);
    evaluate(
        "version = 9.5; scalar i (0);",
        "for (i = 0; i < 3; i = i + 0;) { translate (1, 0, 0); " + std::string(kPolyset) + "}\n");
    set_loop_iteration_limit(0);
    // The bound covers every walk, the pre-pass's included.
    EXPECT_GT(frame_objects().size(), 0u);
    EXPECT_LE(frame_objects().size(), 5u);
}

TEST(ModelWalk, TheStartFrameListsEachStatementOnce) {
    evaluate("version = 8; scalar i (0); light bulb (model = point);",
             "translate (1, 0, 0);\n"
             "{\n"
             "    rot (yaxis, 10);\n"
             "    for (i = 0; i < 3; i = i + 1;) {\n"
             "        scale (1, 1, 1);\n"
             "    }\n"
             "    if (i > 1) " +
                 std::string(kPolyset) +
                 "}\n"
                 "inst bulb ();\n"
                 ";\n",
             true);
    EXPECT_EQ(listed,
              "translate\n"
              "{\n"
              "    rotate\n"
              "    for( ; ; )\n"
              "        {\n"
              "            scale\n"
              "        }\n"
              "    }\n"
              "    if()\n"
              "        polyset\n"
              "    }\n"
              "}\n"
              "instance bulb\n"
              "\n");
}

TEST(ModelWalk, ThePrePassRunsTopLevelAssignmentsUpToTheFirstBlock) {
    // Scenes from version 6.0 on evaluate the top-level assignments once
    // before the walk (so that what they set is in place for the lights),
    // then again in the walk; nothing after the first block is pre-run.
    evaluate("version = 6; scalar x (0); scalar y (0);", "x = x + 1;\n{ ; }\ny = y + 1;\n");
    EXPECT_FLOAT_EQ(find_symbol("x")->scalar(), 2.0f);
    EXPECT_FLOAT_EQ(find_symbol("y")->scalar(), 1.0f);
    evaluate("version = 5; scalar x (0);", "x = x + 1;\n");
    EXPECT_FLOAT_EQ(find_symbol("x")->scalar(), 1.0f);
}

TEST(ModelWalk, AssignmentsStoreInTheCurrentCell) {
    evaluate("scalar x (1); triple t (0, 0, 0); array a [2];",
             "x = x + 1;\nt = (1, 2, 3);\na[0] = (4, 5, 6);\na[1] = x * 10;\n");
    Symbol* x = find_symbol("x");
    EXPECT_FLOAT_EQ(x->scalar(), 2.0f);
    EXPECT_FLOAT_EQ(static_cast<float*>(x->value)[1], 1.0f);  // the initial value stays
    Triple t;
    ASSERT_TRUE(AR_evaluate(SDL_TRIPLE, &t, Rr_make_variable_reference("t", 1), nullptr));
    EXPECT_FLOAT_EQ(t.z, 3.0f);
    Symbol* a = find_symbol("a");
    EXPECT_EQ(a->elements[0].type, SDL_TRIPLE);
    EXPECT_EQ(a->elements[1].type, SDL_SCALAR);
    EXPECT_FLOAT_EQ(a->elements[1].scalar(), 20.0f);
}

TEST(ModelWalk, CurrentTransformationReadsTheWalk) {
    evaluate("transformation here; triple p (0, 0, 0);",
             "translate (7, 0, 0);\nhere = cur_xform ();\np = current_position ((1, 1, 1));\n");
    TransformValue here;
    ASSERT_TRUE(AR_evaluate(SDL_TRANSFORM, &here, Rr_make_variable_reference("here", 1), nullptr));
    EXPECT_FLOAT_EQ(here.model.m[12], 7.0f);
    Triple p;
    ASSERT_TRUE(AR_evaluate(SDL_TRIPLE, &p, Rr_make_variable_reference("p", 1), nullptr));
    EXPECT_FLOAT_EQ(p.x, 8.0f);
}

TEST(ModelWalkDeathTest, AssignmentsThatCannotBeMade) {
    EXPECT_EXIT(evaluate("scalar x (1);", "x = (1, 2, 3);\n"), testing::ExitedWithCode(1),
                "^data type conflict on line 5\n$");
    EXPECT_EXIT(evaluate("", "frame = 2;\n"), testing::ExitedWithCode(1),
                "^frame SYSTEM VARIABLE may not be assigned a value\n$");
}

TEST(ModelWalkDeathTest, APointAtInfinityCannotBePlaced) {
    Matrix4 m;
    m.m[15] = 0;
    EXPECT_EXIT(AR_model_xform({0, 0, 0}, m), testing::ExitedWithCode(1),
                "^AR_model_xform: divide by zero\n$");
}

// Three walks of one frame under motion blur.
void walk_with_motion(const std::string& definitions, const std::string& model) {
    reset_front_end();
    ASSERT_EQ(
        parse_scene_text("DEFINITION\n" + std::string(kShader) + definitions + "\nMODEL\n" + model),
        0);
    release_frame_objects();
    render_options() = RenderOptions{};
    SceneClock& clock = scene_clock();
    clock = SceneClock{};
    clock.motion_blur = true;
    clock.frame = 1;
    clock.shutter_open = 0.75f;
    clock.shutter_close = 1.25f;
    for (float time : {0.75f, 1.25f, 1.0f}) {
        clock.time = time;
        frame_objects().reset_cursor();
        evaluate_scene(scene_description().model, time == 0.75f);
    }
}

TEST(ModelWalkMotion, FacesAreMadeOnceAtTheFrameAndMovingPatchesAtShutterOpen) {
    std::string face =
        "face (boundaries = ((degree = 1, knots = (0, 0, 1, 2, 2),"
        " cvs = (cv((0, 0, 0), 1), cv((1, 0, 0), 1), cv((0, 1, 0), 1)))), shader = (s));\n";
    std::string moving =
        "patch (uknots = (0, 0, 1, 1), vknots = (0, 0, 1, 1), motion_blur = ON,"
        " cvs = ((cv((0, 0, 0), 1), cv((1, 0, 0), 1)), (cv((0, 1, 0), 1), cv((1, 1, 0), 1))));\n";
    walk_with_motion("scalar x (0);", "x = frame;\ntranslate (x, 0, 0);\n" + face + moving);
    ASSERT_EQ(frame_objects().size(), 2u);
    const RenderObject& patch = frame_objects()[0];
    const RenderObject& made_face = frame_objects()[1];
    EXPECT_EQ(patch.type, SDL_PATCH);
    EXPECT_TRUE(patch.moving);
    EXPECT_TRUE(patch.has_close);
    EXPECT_FLOAT_EQ(patch.open_placement.model.m[12], 0.75f);
    EXPECT_FLOAT_EQ(patch.close_placement.model.m[12], 1.25f);
    EXPECT_EQ(made_face.type, SDL_FACE);
    EXPECT_FLOAT_EQ(made_face.placement.model.m[12], 1.0f);
}

TEST(ModelWalkMotion, ACloseWalkWithoutPartnersPairsNothing) {
    // The moving patch exists only at shutter open: it keeps its open
    // placement; the one that exists only at shutter close is ignored.
    std::string patch = "patch (uknots = (0, 1), motion_blur = ON, cvs = ((cv((0, 0, 0), 1))));\n";
    walk_with_motion("", "if (frame < 1) " + patch + "if (frame > 1) " + patch);
    ASSERT_EQ(frame_objects().size(), 1u);
    const RenderObject& only = frame_objects()[0];
    EXPECT_FALSE(only.has_close);
    EXPECT_FLOAT_EQ(only.close_placement.model.m[12], only.open_placement.model.m[12]);
}

}  // namespace
}  // namespace sky
