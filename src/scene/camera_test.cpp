// Camera entries and their evaluation: the lists the scene and the stages
// make, the command line's names, field and stereo copies, placements, and
// every component's default, clamp and check.
#include "scene/camera.h"

#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "scene/camera_test_support.h"
#include "scene/transform.h"
#include "sdl/scene_description.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

constexpr float kRadians = 0.017453292f;

using CameraEntries = CameraFixture;

TEST_F(CameraEntries, FollowTheReadingOrderWithDeclaredNamesAndFovAsAov) {
    read(
        "DEFINITION version = 0;\n"
        "camera side (pix = \"side\", fov = 30);\n"
        "MODEL\n"
        "camera (pix = \"front\", aov = 20, fov = 60);\n");
    ASSERT_EQ(count(first_camera()), 2);
    EXPECT_EQ(camera(0)->name, "side");
    EXPECT_EQ(camera(1)->name, "");
    EXPECT_EQ(camera(1)->line, 4);
    ASSERT_TRUE(evaluate_camera(*camera(0)));
    ASSERT_TRUE(evaluate_camera(*camera(1)));
    EXPECT_FLOAT_EQ(camera(0)->evaluated->angle_of_view, 30 * kRadians);
    // The later of the two spellings wins.
    EXPECT_FLOAT_EQ(camera(1)->evaluated->angle_of_view, 60 * kRadians);
}

TEST_F(CameraEntries, FirstCameraTakesTheDefinitionOutputOnlyWhereItWritesNone) {
    read(
        "DEFINITION version = 0; output = \"beauty\"; matte = \"holdout\";\n"
        "MODEL camera (mask = \"own\"); camera (eye = (1, 0, 0));\n");
    ASSERT_TRUE(evaluate_camera(*camera(0)));
    EXPECT_EQ(camera(0)->evaluated->pix, "beauty");
    EXPECT_EQ(camera(0)->evaluated->mask, "own");
    EXPECT_EQ(camera(1)->components[CC_PIX], nullptr);
    EXPECT_EQ(camera(1)->components[CC_MASK], nullptr);
}

// Stage files are read after the scene; each brings its cameras with it.
void read_stage(const std::string& text, bool use_camera, bool has_file = true) {
    SceneDescription& scene = scene_description();
    StageRecord stage;
    stage.file = has_file ? make_filename("stage.sdl", nullptr, 0) : nullptr;
    stage.camera = use_camera;
    scene.stages.push_back(stage);
    scene.reading_stage = static_cast<std::int32_t>(scene.stages.size() - 1);
    ASSERT_EQ(parse_scene_text(text), 0);
    scene.reading_stage = 0;
}

TEST_F(CameraEntries, StagesThatUseCamerasSetAsideEveryCameraReadBefore) {
    scene_description().stages.assign(1, StageRecord{});
    ASSERT_EQ(parse_scene_text("DEFINITION camera main (pix = \"m\"); MODEL\n"), 0);
    read_stage("DEFINITION camera first (pix = \"a\"); MODEL\n", false);
    read_stage("DEFINITION camera second (pix = \"b\"); MODEL\n", true);
    read_stage("DEFINITION camera third (pix = \"c\"); MODEL\n", false);
    build_camera_entries();
    ASSERT_EQ(count(first_camera()), 1);
    EXPECT_EQ(first_camera()->name, "second");
    ASSERT_EQ(count(first_set_aside_camera()), 3);
    EXPECT_EQ(first_set_aside_camera()->name, "first");
    EXPECT_EQ(first_set_aside_camera()->next->name, "main");
    EXPECT_EQ(first_set_aside_camera()->next->next->name, "third");
}

TEST_F(CameraEntries, StageWithoutCamerasOfItsOwnStillTakesTheChoice) {
    scene_description().stages.assign(1, StageRecord{});
    ASSERT_EQ(parse_scene_text("DEFINITION camera main (pix = \"m\"); MODEL\n"), 0);
    // A stage that names no file is never read: it cannot choose.
    read_stage("DEFINITION MODEL\n", true, false);
    build_camera_entries();
    EXPECT_EQ(count(first_camera()), 1);
    read_stage("DEFINITION MODEL\n", true);
    build_camera_entries();
    EXPECT_EQ(first_camera(), nullptr);
    EXPECT_EQ(count(first_set_aside_camera()), 1);
}

TEST_F(CameraEntries, SetAsideCamerasAreNeitherEvaluatedNorPlaced) {
    scene_description().stages.assign(1, StageRecord{});
    ASSERT_EQ(parse_scene_text("DEFINITION version = 0; MODEL camera (pix = \"m\");\n"), 0);
    read_stage("DEFINITION MODEL camera (pix = \"s\");\n", false);
    build_camera_entries();
    CameraEntry* aside = first_set_aside_camera();
    ASSERT_NE(aside, nullptr);
    place_camera(aside->body, transform_state());
    evaluate_all_cameras();
    EXPECT_EQ(aside->evaluated->kind, CAMERA_UNEVALUATED);
    EXPECT_EQ(aside->evaluated->placement, nullptr);
    EXPECT_EQ(first_camera()->evaluated->kind, CAMERA_PERSPECTIVE);
}

TEST_F(CameraEntries, CommandLineNamesAndAspectGoToTheFirstCamera) {
    read(
        "DEFINITION version = 0; MODEL camera (pix = \"p\", mask = \"m\", depth_file = \"d\");"
        " camera (pix = \"q\");\n");
    RenderOptions options;
    options.image_name = "cli_image";
    options.depth_name = "cli_depth";  // the empty matte name leaves the scene's
    options.aspect_ratio_given = true;
    options.aspect_ratio = 1.5f;
    apply_command_line_to_cameras(options);
    ASSERT_TRUE(evaluate_camera(*camera(0)));
    ASSERT_TRUE(evaluate_camera(*camera(1)));
    const CameraRecord& first = *camera(0)->evaluated;
    EXPECT_EQ(first.pix, "cli_image");
    EXPECT_EQ(first.mask, "m");
    EXPECT_EQ(first.depth_file, "cli_depth");
    EXPECT_FLOAT_EQ(first.aspect, 1.5f);
    EXPECT_EQ(camera(1)->evaluated->pix, "q");
    EXPECT_FLOAT_EQ(camera(1)->evaluated->aspect, 1.0f);
}

TEST_F(CameraEntries, AspectRatioWithoutACameraEndsTheRunSilently) {
    read("DEFINITION MODEL\n");
    RenderOptions options;
    options.aspect_ratio_given = true;
    options.aspect_ratio = 2;
    EXPECT_EXIT(apply_command_line_to_cameras(options), testing::ExitedWithCode(1), "^$");
    options.aspect_ratio_given = false;
    options.image_name = "ignored";
    apply_command_line_to_cameras(options);  // names without a camera are no error
}

TEST_F(CameraEntries, FieldsBeforeStereoMakeFourImagesPerCamera) {
    read("DEFINITION version = 0; MODEL camera (pix = \"a\"); camera (pix = \"b\");\n");
    RenderOptions options;
    options.even = options.odd = true;
    prepare_field_cameras(options);
    add_stereo_cameras();
    ASSERT_EQ(count(first_camera()), 8);
    const struct {
        int even, odd, right;
    } expected[4] = {{1, 0, 0}, {1, 0, 1}, {0, 1, 0}, {0, 1, 1}};
    for (int i = 0; i < 8; ++i) {
        const CameraEntry& e = *camera(i);
        SCOPED_TRACE(i);
        EXPECT_EQ(e.even_field, expected[i % 4].even);
        EXPECT_EQ(e.odd_field, expected[i % 4].odd);
        EXPECT_EQ(e.right_eye, expected[i % 4].right);
        const CameraEntry& original = *camera(i / 4 * 4);
        EXPECT_EQ(e.components, original.components);
        EXPECT_EQ(e.body, original.body);
        if (i % 4 != 0) {
            EXPECT_NE(e.evaluated, original.evaluated);
        }
    }
}

TEST_F(CameraEntries, OneFieldMarksEveryCameraAndNoFieldIsFatal) {
    read("DEFINITION MODEL camera (pix = \"a\"); camera (pix = \"b\");\n");
    RenderOptions options;
    options.even = false;
    options.odd = true;
    prepare_field_cameras(options);
    ASSERT_EQ(count(first_camera()), 2);
    EXPECT_EQ(camera(1)->odd_field, 1);
    EXPECT_EQ(camera(1)->even_field, 0);
    options.odd = false;
    EXPECT_EXIT(
        {
            rptSetErrorCB(nullptr);
            prepare_field_cameras(options);
        },
        testing::ExitedWithCode(1), "^fields=TRUE, but even=FALSE and odd=FALSE\n$");
}

TEST_F(CameraEntries, PlacementsAreSharedByCopiesUnlessTheCameraMoves) {
    read("DEFINITION version = 0; MODEL camera (pix = \"a\"); camera (pix = \"b\");\n");
    RenderOptions options;
    prepare_field_cameras(options);
    add_stereo_cameras();
    TransformState state;
    reset_transform_state(state);
    apply_translation(state, {1, 2, 3}, 0);
    place_camera(camera(0)->body, state);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(camera(i)->evaluated->placement, camera(0)->evaluated->placement);
    EXPECT_FLOAT_EQ(camera(3)->evaluated->placement->model.m[13], 2.0f);
    EXPECT_EQ(camera(4)->evaluated->placement, nullptr);  // the other camera's

    SceneClock& clock = scene_clock();
    clock.motion_blur = clock.camera_motion = true;
    clock.shutter_open = 0.75f;
    clock.shutter_close = 1.25f;
    clock.time = 0.75f;
    apply_translation(state, {1, 0, 0}, 0);
    place_camera(camera(0)->body, state);
    clock.time = 1.25f;
    apply_translation(state, {1, 0, 0}, 0);
    place_camera(camera(0)->body, state);
    for (int i = 1; i < 4; ++i) {
        const CameraRecord& r = *camera(i)->evaluated;
        EXPECT_NE(r.open_placement, camera(0)->evaluated->open_placement);
        EXPECT_FLOAT_EQ(r.open_placement->model.m[12], 2.0f);
        EXPECT_FLOAT_EQ(r.close_placement->model.m[12], 3.0f);
        EXPECT_FLOAT_EQ(r.placement->model.m[12], 1.0f);
    }
    reset_cameras();
    for (CameraEntry* e = first_camera(); e; e = e->next) {
        EXPECT_EQ(e->evaluated->placement, nullptr);
        EXPECT_EQ(e->evaluated->open_placement, nullptr);
        EXPECT_EQ(e->evaluated->close_placement, nullptr);
    }
}

TEST_F(CameraEntries, OneFieldWithStereoPlacesOnlyTheCamerasOwnCopies) {
    read("DEFINITION MODEL camera (pix = \"a\"); camera (pix = \"b\");\n");
    RenderOptions options;
    options.even = false;
    prepare_field_cameras(options);
    add_stereo_cameras();
    ASSERT_EQ(count(first_camera()), 4);
    place_camera(camera(0)->body, transform_state());
    EXPECT_NE(camera(1)->evaluated->placement, nullptr);
    EXPECT_EQ(camera(2)->evaluated->placement, nullptr);
    EXPECT_EQ(camera(3)->evaluated->placement, nullptr);
}

using CameraMotion = CameraFixture;

TEST_F(CameraMotion, ComputedLiteralAndAbsentMotionBlur) {
    read(
        "DEFINITION MODEL camera (pix = \"a\"); camera (pix = \"b\", motion_blur = 0);"
        " camera (pix = \"c\", motion_blur = 2);"
        " camera (pix = \"d\", motion_blur = frame - frame);\n");
    EXPECT_FALSE(camera_is_moving(*camera(0)));
    EXPECT_FALSE(camera_is_moving(*camera(1)));
    EXPECT_TRUE(camera_is_moving(*camera(2)));
    // An expression may change with the frame: it counts as moving.
    EXPECT_TRUE(camera_is_moving(*camera(3)));

    RenderOptions& options = render_options();
    options.motion_blur = false;
    decide_camera_motion_blur(options);
    EXPECT_FALSE(options.camera_motion_blur);
    options.motion_blur = true;
    decide_camera_motion_blur(options);
    EXPECT_TRUE(options.camera_motion_blur);
    EXPECT_TRUE(scene_clock().camera_motion);
}

TEST_F(CameraMotion, EvaluationSetsCameraMotionOnlyUnderMotionBlur) {
    RenderOptions& options = render_options();
    options.motion_blur = false;
    options.camera_motion_blur = true;
    ASSERT_NE(evaluate("DEFINITION MODEL camera (pix = \"a\", motion_blur = 1);\n"), nullptr);
    EXPECT_FALSE(options.camera_motion_blur);
    options.motion_blur = true;
    ASSERT_TRUE(evaluate_camera(*camera(0)));
    EXPECT_TRUE(options.camera_motion_blur);
    EXPECT_TRUE(scene_clock().camera_motion);
}

TEST_F(CameraMotion, ShutterTimesEvaluateOnlyMovingCameras) {
    read("DEFINITION MODEL camera (pix = \"a\");\n");
    SceneClock& clock = scene_clock();
    clock.motion_blur = true;
    clock.shutter_open = clock.time = 0.5f;
    evaluate_all_cameras();
    EXPECT_EQ(camera(0)->evaluated->kind, CAMERA_UNEVALUATED);
    clock.camera_motion = true;
    evaluate_all_cameras();
    EXPECT_EQ(camera(0)->evaluated->kind, CAMERA_PERSPECTIVE);
}

using CameraEvaluation = CameraFixture;

TEST_F(CameraEvaluation, DefaultsOfEveryComponent) {
    const CameraRecord* r = evaluate("DEFINITION version = 0; MODEL camera (pix = \"a\");\n");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->kind, CAMERA_PERSPECTIVE);
    EXPECT_EQ(r->active, 1);
    EXPECT_FLOAT_EQ(r->view_point.z, -1);
    EXPECT_FLOAT_EQ(r->up_point.y, 1);
    EXPECT_FALSE(r->up_given);
    EXPECT_FLOAT_EQ(r->aperture_x, 1);
    EXPECT_FLOAT_EQ(r->aperture_y, 1);
    EXPECT_FLOAT_EQ(r->angle_of_view, 45 * kRadians);
    EXPECT_FLOAT_EQ(r->aspect, 1);
    EXPECT_FLOAT_EQ(r->pixel_aspect, 1);
    const float viewport[4] = {0, 644, 0, 485};
    for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(r->viewport[i], viewport[i]);
    EXPECT_DOUBLE_EQ(r->near, 0.2f);
    EXPECT_DOUBLE_EQ(r->far, 1000);
    EXPECT_FLOAT_EQ(r->win_xsize, 644);
    EXPECT_FLOAT_EQ(r->win_ysize, 485);
    EXPECT_FLOAT_EQ(r->f_stop, 8);
    EXPECT_FLOAT_EQ(r->focal_distance, 10);
    EXPECT_FLOAT_EQ(r->scaling_factor, 1);
    EXPECT_EQ(r->depth_of_field, 0);
    EXPECT_EQ(r->auto_focus, 0);
    // 25.4 / (2 tan 22.5°) mm, kept in cm.
    EXPECT_NEAR(r->focal_length, 25.4 / (2 * std::tan(22.5 * M_PI / 180)) * 0.1, 1e-5);
    // Version 0: no fit, no conversion; the pixel angle is the larger per pixel.
    EXPECT_FLOAT_EQ(r->pixel_angle, 45 * kRadians / 486);
    EXPECT_EQ(errors(), "");
}

TEST_F(CameraEvaluation, AngleOfViewIsClampedSilently) {
    const CameraRecord* r =
        evaluate("DEFINITION version = 0; MODEL camera (pix = \"a\", aov = 200);\n");
    ASSERT_NE(r, nullptr);
    EXPECT_FLOAT_EQ(r->angle_of_view, 179 * kRadians);
    r = evaluate("DEFINITION version = 0; MODEL camera (pix = \"a\", aov = 0.1);\n");
    ASSERT_NE(r, nullptr);
    EXPECT_FLOAT_EQ(r->angle_of_view, 0.2f * kRadians);
    EXPECT_EQ(errors(), "");
}

TEST_F(CameraEvaluation, ShiftAndFitCodeAreClampedSilently) {
    const CameraRecord* r = evaluate(
        "DEFINITION version = 0; MODEL camera (pix = \"a\", placement_shift = 3,"
        " placement_fit_code = 5);\n");
    ASSERT_NE(r, nullptr);
    EXPECT_FLOAT_EQ(r->placement_shift, 1);
    EXPECT_EQ(r->placement_fit_code, 0);
    r = evaluate(
        "DEFINITION MODEL camera (pix = \"a\", placement_shift = -7,"
        " placement_fit_code = 2.9);\n");
    ASSERT_NE(r, nullptr);
    EXPECT_FLOAT_EQ(r->placement_shift, -1);
    EXPECT_EQ(r->placement_fit_code, 2);
    EXPECT_EQ(errors(), "");
}

TEST_F(CameraEvaluation, OutputNamesDecideWhetherACameraIsEvaluated) {
    EXPECT_EQ(evaluate("DEFINITION MODEL camera (pix = \"\", mask = \"\", depth_file = \"\");\n"),
              nullptr);
    EXPECT_NE(evaluate("DEFINITION MODEL camera (pix = \"\", depth_file = \"d\");\n"), nullptr);
    EXPECT_EQ(errors(), "");

    // Without any name expression the frame's evaluation passes it by, and
    // it is never selected.
    read("DEFINITION MODEL camera (eye = (0, 0, 5)); camera (pix = \"seen\");\n");
    evaluate_all_cameras();
    EXPECT_EQ(camera(0)->evaluated->kind, CAMERA_UNEVALUATED);
    EXPECT_EQ(camera(1)->evaluated->kind, CAMERA_PERSPECTIVE);
    EXPECT_EQ(select_next_camera(nullptr, 0), camera(1));
    EXPECT_EQ(errors(), "");
}

TEST_F(CameraEvaluation, RejectedCameraEndsTheFramesEvaluation) {
    read("DEFINITION camera side (pix = \"a\", f_stop = 0); MODEL\n");
    EXPECT_EXIT(
        {
            rptSetErrorCB(nullptr);
            evaluate_all_cameras();
        },
        testing::ExitedWithCode(1), "^Internal error in .*camera \"side\" \\(line 1\\)");
}

TEST_F(CameraEvaluation, ValuesThatRejectACameraSilently) {
    const char* rejected[] = {
        "near = 5, far = 5",
        "near = 6, far = 5",
        "f_stop = 0",
        "focal_distance = -1",
        "scaling_factor = 0",
        "aspect_ratio_pixel = 0",
        "perspective = 0, win_xsize = 0",
        "viewport = (10, 0, 0, 485)",
    };
    for (const char* values : rejected) {
        SCOPED_TRACE(values);
        EXPECT_EQ(evaluate(std::string("DEFINITION version = 0; MODEL camera (pix = \"a\", ") +
                           values + ");\n"),
                  nullptr);
    }
    EXPECT_EQ(errors(), "");
}

TEST_F(CameraEvaluation, StereoNeedsAPositiveEyeOffset) {
    render_options().stereo = true;
    render_options().stereo_eye_offset = 0;
    EXPECT_EQ(evaluate("DEFINITION MODEL camera (pix = \"a\");\n"), nullptr);
    render_options().stereo_eye_offset = 0.25f;
    const CameraRecord* r = evaluate("DEFINITION MODEL camera (pix = \"a\");\n");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->stereo, 1);
    EXPECT_EQ(r->left_eye, 1);
    EXPECT_EQ(r->right_eye, 0);
    EXPECT_FLOAT_EQ(r->eye_offset, 0.25f);
}

TEST_F(CameraEvaluation, NegativeNearIsReportedForPerspectiveCamerasOnly) {
    // Reported at the very first evaluation, not only once the camera has
    // been seen in perspective.
    EXPECT_EQ(evaluate("DEFINITION MODEL camera (pix = \"a\", near = -1);\n"), nullptr);
    EXPECT_EQ(errors(), "near must be greater than 0.  near is (-1.000000)\n");
    errors().clear();
    EXPECT_NE(evaluate("DEFINITION MODEL camera (pix = \"a\", near = -1, perspective = 0);\n"),
              nullptr);
    EXPECT_EQ(errors(), "");
    // Zero asks for automatic clipping.
    const CameraRecord* r = evaluate("DEFINITION MODEL camera (pix = \"a\", near = 0);\n");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->near, 0);
    EXPECT_EQ(errors(), "");

    // A camera that was in perspective at its last frame is checked too.
    read(
        "DEFINITION scalar p (1); MODEL camera (pix = \"a\", near = 2 * p - 1,"
        " perspective = p);\n");
    ASSERT_TRUE(evaluate_camera(*camera(0)));
    find_symbol("p")->scalar() = 0;
    ASSERT_FALSE(evaluate_camera(*camera(0)));
    EXPECT_EQ(errors(), "near must be greater than 0.  near is (-1.000000)\n");
}

}  // namespace
}  // namespace sky
