// The view of a camera: where world points land on the screen, checked
// against an independent camera frame (the orthonormal basis of the line of
// sight and the world's up axis) and the viewport worked out by hand; the
// viewport fit; stereo eyes, twist, projection and the selection of cameras.
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "base/vecmath.h"
#include "scene/camera.h"
#include "scene/camera_test_support.h"
#include "scene/transform.h"

namespace sky {
namespace {

constexpr double kPi = 3.14159265358979323846;

using V3 = Imath::V3d;

// A reference camera: looking from `eye` at `view`, its image's up as near
// to `up` as the line of sight allows.
struct Reference {
    V3 eye, right, up, forward;
    Reference(V3 e, V3 view, V3 world_up) : eye(e) {
        forward = normalise(view - e);
        right = normalise(cross(forward, world_up));
        up = cross(right, forward);
    }
    V3 eye_coordinates(V3 p) const {
        V3 d = p - eye;
        return {dot(d, right), dot(d, up), -dot(d, forward)};
    }
};

// The viewport installed by hand: half sizes and centre from its corners.
struct Screen {
    double xmin, xmax, ymin, ymax;
    double p0, p5;  // the projection's scales
    double hx() const { return (xmax - xmin + 1) / 2; }
    double hy() const { return (ymax - ymin + 1) / 2; }
    double cx() const { return (xmin + xmax + 1) / 2; }
    double cy() const { return (ymin + ymax + 1) / 2; }
    ScreenPoint perspective(V3 e) const {
        return {static_cast<float>(cx() - p0 * hx() * e.x / e.z),
                static_cast<float>(cy() - p5 * hy() * e.y / e.z)};
    }
};

class CameraScreen : public CameraFixture {
protected:
    // Reads a scene, evaluates its cameras and selects the first to render.
    CameraRecord& select(const std::string& text, const TransformState* placement = nullptr) {
        read(text);
        if (placement) place_camera(camera(0)->body, *placement);
        evaluate_all_cameras();
        CameraEntry* e = select_next_camera(nullptr, 0);
        EXPECT_EQ(e, camera(0));
        return *camera(0)->evaluated;
    }

    static void expect_lands(const CameraRecord& r, V3 world, ScreenPoint expected) {
        ScreenPoint got =
            world_to_screen(r.view, {static_cast<float>(world.x), static_cast<float>(world.y),
                                     static_cast<float>(world.z)});
        EXPECT_NEAR(got.x, expected.x, 2e-3)
            << "world " << world.x << ", " << world.y << ", " << world.z;
        EXPECT_NEAR(got.y, expected.y, 2e-3)
            << "world " << world.x << ", " << world.y << ", " << world.z;
    }
};

const V3 kPoints[] = {{0, 1, 0}, {1, 2, -3}, {-2.5, 0.5, 1}, {4, -3, 2}, {0.25, 6, -8}};

TEST_F(CameraScreen, PerspectiveInAYUpWorld) {
    // Version 7: the 1 × 1 film fits across the 645 × 486 image, so the
    // viewport runs from −79.5 to 564.5 in y; the 60° angle of view is across.
    CameraRecord& r = select(
        "DEFINITION version = 7; triple target (0, 1, 0); MODEL\n"
        "camera (pix = \"a\", eye = (3, 4, 10), view = target, aov = 60);\n");
    Screen screen{0, 644, -79.5, 564.5, 1 / std::tan(kPi / 6), 1 / std::tan(kPi / 6)};
    Reference ref({3, 4, 10}, {0, 1, 0}, {0, 1, 0});
    for (V3 p : kPoints) expect_lands(r, p, screen.perspective(ref.eye_coordinates(p)));
    // The view point is the image's centre.
    expect_lands(r, {0, 1, 0}, {322.5f, 243.0f});
}

TEST_F(CameraScreen, PerspectiveMovedByItsPlacement) {
    TransformState state;
    reset_transform_state(state);
    apply_rotation(state, 2, 90);            // about y
    apply_translation(state, {1, 0, 0}, 0);  // acts first on the eye
    CameraRecord& r = select(
        "DEFINITION version = 0; triple origin (0, 0, 0); MODEL\n"
        "camera (pix = \"a\", eye = (0, 0, 10), view = origin, aov = 90);\n",
        &state);
    // (0, 0, 10) + (1, 0, 0), turned 90° about y, is (10, 0, −1); the view
    // point stays where the scene put it. Version 0: the default viewport and
    // angle as written.
    EXPECT_NEAR(r.view.eye.x, 10, 1e-5);
    EXPECT_NEAR(r.view.eye.z, -1, 1e-5);
    Screen screen{0, 644, 0, 485, 1, 1};
    Reference ref({10, 0, -1}, {0, 0, 0}, {0, 1, 0});
    for (V3 p : kPoints) expect_lands(r, p, screen.perspective(ref.eye_coordinates(p)));
}

TEST_F(CameraScreen, PerspectiveInAZUpWorld) {
    render_options().y_up = false;
    TransformState state;
    reset_transform_state(state);
    apply_translation(state, {0, 0, 2}, 0);
    CameraRecord& r = select(
        "DEFINITION version = 0; triple origin (0, 0, 0); MODEL\n"
        "camera (pix = \"a\", eye = (2, -10, 1), view = origin, aov = 50, aspect = 1.25);\n",
        &state);
    double c = 1 / std::tan(25 * kPi / 180);
    Screen screen{0, 644, 0, 485, c / 1.25, c};
    Reference ref({2, -10, 3}, {0, 0, 0}, {0, 0, 1});
    for (V3 p : kPoints) expect_lands(r, p, screen.perspective(ref.eye_coordinates(p)));
}

TEST_F(CameraScreen, OrthographicSpansItsWindowSize) {
    CameraRecord& r = select(
        "DEFINITION version = 7; triple origin (0, 0, 0); MODEL\n"
        "camera (pix = \"a\", perspective = 0, eye = (0, 0, 10), view = origin,"
        " win_xsize = 20, win_ysize = 15, scaling_factor = 2);\n");
    EXPECT_FALSE(CM_is_camera_PERSP(r));
    EXPECT_TRUE(camera_globals().orthographic);
    // 40 × 30 units over 645 × 486 pixels around (322.5, 243).
    expect_lands(r, {10, 7.5, 3}, {322.5f + 645 * 10 / 40.0f, 243 + 486 * 7.5f / 30});
    expect_lands(r, {-20, -15, -100}, {322.5f - 645 / 2.0f, 243 - 486 / 2.0f});
    for (int i = 0; i < 16; ++i) EXPECT_EQ(r.view.projection.m[i], Matrix4{}.m[i]);
}

TEST_F(CameraScreen, OrthographicZUpWithPlacement) {
    render_options().y_up = false;
    TransformState state;
    reset_transform_state(state);
    apply_translation(state, {5, 0, 0}, 0);
    CameraRecord& r = select(
        "DEFINITION version = 7; triple ahead (5, 0, 0); MODEL\n"
        "camera (pix = \"a\", perspective = 0, eye = (0, -10, 0), view = ahead,"
        " win_xsize = 64.5, win_ysize = 48.6);\n",
        &state);
    Reference ref({5, -10, 0}, {5, 0, 0}, {0, 0, 1});
    for (V3 p : kPoints) {
        V3 e = ref.eye_coordinates(p);
        expect_lands(r, p,
                     {static_cast<float>(322.5 + 10 * e.x), static_cast<float>(243 + 10 * e.y)});
    }
}

TEST_F(CameraScreen, EyeStraightAboveKeepsAFixedAzimuth) {
    CameraRecord& r = select(
        "DEFINITION version = 0; triple origin (0, 0, 0); MODEL\n"
        "camera (pix = \"a\", eye = (0, 10, 0), view = origin, aov = 90);\n");
    // Looking down −y: world x stays across the image and −z points up it.
    expect_lands(r, {1, 0, -2}, {322.5f + 322.5f / 10, 243 + 243 * 2 / 10.0f});
    expect_lands(r, {-3, 0, 1}, {322.5f - 322.5f * 3 / 10, 243 - 243 / 10.0f});
}

TEST_F(CameraScreen, EyeOnTheViewPointIsFatal) {
    read(
        "DEFINITION triple here (1, 2, 3); MODEL camera (pix = \"a\", eye = (1, 2, 3), view = "
        "here);\n");
    evaluate_all_cameras();
    EXPECT_EXIT(
        {
            rptSetErrorCB(nullptr);
            select_next_camera(nullptr, 0);
        },
        testing::ExitedWithCode(1),
        "^Line of sight must have at least one non-zero component.\n\t- Eye point and view point "
        "are identical.\n$");
}

TEST_F(CameraScreen, UpPointAndTwistRollTheImage) {
    // Up toward +x: world +x is at the top of the image.
    CameraRecord& r = select(
        "DEFINITION version = 0; triple origin (0, 0, 0); triple side (1, 0, 10); MODEL\n"
        "camera (pix = \"a\", eye = (0, 0, 10), view = origin, up = side, twist = 45, aov = "
        "90);\n");
    EXPECT_NEAR(r.twist, -90, 1e-4);
    Screen screen{0, 644, 0, 485, 1, 1};
    Reference ref({0, 0, 10}, {0, 0, 0}, {1, 0, 0});
    for (V3 p : kPoints) expect_lands(r, p, screen.perspective(ref.eye_coordinates(p)));

    // Without an up point the twist is used as written: 90° brings world +x
    // to the bottom of the image.
    CameraRecord& t = select(
        "DEFINITION version = 0; triple origin (0, 0, 0); MODEL\n"
        "camera (pix = \"a\", eye = (0, 0, 10), view = origin, twist = 90, aov = 90);\n");
    expect_lands(t, {1, 0, 0}, {322.5f, 243 - 243 / 10.0f});
    expect_lands(t, {0, 1, 0}, {322.5f + 322.5f / 10, 243});
}

TEST_F(CameraScreen, TwistFromUpInBothWorlds) {
    // Straight ahead: the roll is the angle of the up direction from the
    // image's top, positive clockwise as the camera sees it.
    EXPECT_NEAR(twist_from_up({0, 0, 10}, {0, 0, 0}, {0, 1, 10}, true), 0, 1e-5);
    EXPECT_NEAR(twist_from_up({0, 0, 10}, {0, 0, 0}, {-1, 0, 10}, true), 90, 1e-5);
    EXPECT_NEAR(twist_from_up({0, 0, 10}, {0, 0, 0}, {1, 1, 10}, true), -45, 1e-4);
    EXPECT_NEAR(std::fabs(twist_from_up({0, 0, 10}, {0, 0, 0}, {0, -1, 10}, true)), 180, 1e-4);
    // In a z-up world the world's z is the image's up.
    EXPECT_NEAR(twist_from_up({0, -10, 0}, {0, 0, 0}, {0, -10, 1}, false), 0, 1e-5);
    EXPECT_NEAR(twist_from_up({0, -10, 0}, {0, 0, 0}, {-1, -10, 0}, false), 90, 1e-5);
}

TEST_F(CameraScreen, LookAtVectors) {
    LookAt a = look_at({0, 0, 5}, {0, 0, 0}, {0, 3, 5});
    EXPECT_FLOAT_EQ(a.direction.z, -1);
    EXPECT_FLOAT_EQ(a.right.x, 1);
    EXPECT_FLOAT_EQ(a.up.y, 1);
    // No distance, no up: the fixed fallbacks.
    LookAt b = look_at({1, 1, 1}, {1, 1, 1}, {1, 1, 1});
    EXPECT_FLOAT_EQ(b.direction.x, 1);
    EXPECT_FLOAT_EQ(b.right.z, 1);  // (1, 0, 0) × (0, 1, 0)
}

TEST_F(CameraScreen, StereoEyesSitEitherSideAlongTheRightAxis) {
    RenderOptions& o = render_options();
    o.stereo = true;
    o.stereo_eye_offset = 0.5f;
    const std::string scene =
        "DEFINITION version = 0; triple origin (0, 0, 0); triple over (0, 1, 10); MODEL\n"
        "camera (pix = \"a\", eye = (0, 0, 10), view = origin, up = over);\n";
    read(scene);
    add_stereo_cameras();
    evaluate_all_cameras();
    CameraEntry* left = select_next_camera(nullptr, 0);
    ASSERT_EQ(left, camera(0));
    EXPECT_NEAR(left->evaluated->view.eye.x, -0.5, 1e-6);
    EXPECT_NEAR(left->evaluated->view.up_point.x, -0.5, 1e-6);
    EXPECT_NEAR(left->evaluated->view.view_point.x, 0, 1e-6);  // the eyes converge
    CameraEntry* right = select_next_camera(left, 0);
    ASSERT_EQ(right, camera(1));
    EXPECT_NEAR(right->evaluated->view.eye.x, 0.5, 1e-6);
    EXPECT_NEAR(right->evaluated->twist, 0, 1e-5);
    // The converging right eye sees the view point at the image's centre.
    expect_lands(*right->evaluated, {0, 0, 0}, {322.5f, 243});

    o.stereo_parallel = true;
    evaluate_all_cameras();
    right = select_next_camera(camera(0), 0);
    EXPECT_NEAR(right->evaluated->view.view_point.x, 0.5, 1e-6);

    // Without an up point the eyes still part, along the image's x axis.
    read(
        "DEFINITION version = 0; triple origin (0, 0, 0); MODEL\n"
        "camera (pix = \"a\", eye = (0, 0, 10), view = origin, twist = 90);\n");
    add_stereo_cameras();
    evaluate_all_cameras();
    left = select_next_camera(nullptr, 0);
    // Rolled a quarter turn, the image's x axis is the world's +y.
    EXPECT_NEAR(left->evaluated->view.eye.x, 0, 1e-6);
    EXPECT_NEAR(left->evaluated->view.eye.y, -0.5, 1e-6);
}

TEST_F(CameraScreen, AutoFocusMeasuresFromTheMovedEye) {
    TransformState state;
    reset_transform_state(state);
    apply_translation(state, {0, 0, 5}, 0);
    CameraRecord& r = select(
        "DEFINITION version = 0; triple origin (0, 0, 0); MODEL\n"
        "camera (pix = \"a\", eye = (0, 0, 10), view = origin, auto_focus = 1);\n",
        &state);
    EXPECT_NEAR(r.focal_distance, 15, 1e-5);
}

TEST_F(CameraScreen, ProjectionDepthRunsFromNearToFar) {
    CameraRecord& r = select(
        "DEFINITION version = 0; MODEL camera (pix = \"a\", aov = 90, near = 1, far = 11,"
        " aspect = 2);\n");
    const float* p = r.view.projection.m;
    EXPECT_FLOAT_EQ(p[0], 0.5f);
    EXPECT_FLOAT_EQ(p[5], 1);
    EXPECT_EQ(p[11], 1);
    EXPECT_EQ(p[15], 0);
    EXPECT_NEAR((1 * p[10] + p[14]) / 1, 0, 1e-6);
    EXPECT_NEAR((11 * p[10] + p[14]) / 11, 1, 1e-6);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(transform_state().value.projection.m[i], p[i]);

    set_camera_clipping(r, 2, 4);
    EXPECT_NEAR(r.view.projection.m[10] * 2 + r.view.projection.m[14], 0, 1e-6);
    EXPECT_EXIT(
        {
            rptSetErrorCB(nullptr);
            set_camera_clipping(r, 3, 3);
        },
        testing::ExitedWithCode(1), "^far cannot equal near\n$");

    // A film offset widens the view to the offset film back.
    CameraRecord& o = select(
        "DEFINITION version = 0; MODEL camera (pix = \"a\", aov = 90, filmoffset_x = -0.5);\n");
    EXPECT_FLOAT_EQ(o.view.projection.m[5], 0.5f);
}

TEST_F(CameraScreen, ZeroAspectIsFatal) {
    read("DEFINITION version = 0; MODEL camera (pix = \"a\", aspect = 0);\n");
    evaluate_all_cameras();
    EXPECT_EXIT(
        {
            rptSetErrorCB(nullptr);
            select_next_camera(nullptr, 0);
        },
        testing::ExitedWithCode(1), "^aspect cannot be zero\n$");
}

TEST_F(CameraScreen, OldViewportsFollowTheResolutionScale) {
    camera_globals().resolution_scale_x = 2;
    camera_globals().resolution_scale_y = 0.5f;
    CameraRecord& r =
        select("DEFINITION version = 6.5; MODEL camera (pix = \"a\", filmaperture_x = 0);\n");
    // (0, 644, 0, 485) scaled to (0, 1288, 0, 242.5).
    EXPECT_FLOAT_EQ(r.view.hx, 644.5f);
    EXPECT_FLOAT_EQ(r.view.cx, 644.5f);
    EXPECT_FLOAT_EQ(r.view.hy, 121.75f);
    EXPECT_FLOAT_EQ(r.view.cy, 121.75f);
    CameraRecord& n = select(
        "DEFINITION version = 7; MODEL camera (pix = \"a\","
        " filmaperture_x = 0);\n");
    EXPECT_FLOAT_EQ(n.view.hx, 322.5f);
}

TEST_F(CameraScreen, PixelAspectMovesTheCentreOrNarrowsTheOrthographicView) {
    CameraRecord& r = select(
        "DEFINITION version = 7; MODEL camera (pix = \"a\","
        " filmoffset_x = 0.2, aspect_ratio_pixel = 2);\n");
    // Fitted across: x from 644 − 644 × 1.4 to 644; centre 193.7, moved by
    // 0.2 × 645 × (1 − 1/2).
    EXPECT_NEAR(r.view.cx, 193.7 + 64.5, 1e-3);
    CameraRecord& o = select(
        "DEFINITION version = 7; MODEL camera (pix = \"a\", perspective = 0,"
        " aspect_ratio_pixel = 2);\n");
    EXPECT_FLOAT_EQ(o.view.hx, 322.5f / 2);
    EXPECT_FLOAT_EQ(o.view.cx, 322.5f);
}

TEST_F(CameraScreen, SelectionSkipsInactiveCamerasAndTheOtherField) {
    RenderOptions& o = render_options();
    read(
        "DEFINITION version = 0; MODEL camera (pix = \"off\", active = 0);"
        " camera (pix = \"on\", eye = (0, 0, 4), aov = 30);\n");
    o.fields = true;
    o.even = o.odd = true;
    prepare_field_cameras(o);  // off even, off odd, on even, on odd
    evaluate_all_cameras();
    EXPECT_EQ(select_next_camera(nullptr, 1), camera(2));
    EXPECT_EQ(select_next_camera(camera(2), 1), nullptr);
    CameraEntry* odd = select_next_camera(nullptr, 0);
    ASSERT_EQ(odd, camera(3));
    const CameraRecord& r = *odd->evaluated;
    EXPECT_EQ(r.image_name, "ono.qrl");
    EXPECT_FLOAT_EQ(camera_globals().pixel_angle, r.pixel_angle);
    EXPECT_FALSE(camera_globals().orthographic);
    // The thread's state holds the view, its inverse the camera-to-world.
    const TransformValue& t = transform_state().value;
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(t.model.m[i], r.view.eye_from_world.m[i]);
        EXPECT_NEAR(t.inverse_model.m[i], r.view.world_from_eye.m[i], 1e-6);
    }
    Triple eye = transform_point({0, 0, 0}, r.view.world_from_eye);
    EXPECT_NEAR(eye.z, 4, 1e-6);
    Triple ahead = transform_point({0, 0, -5}, r.view.world_from_eye);
    EXPECT_NEAR(ahead.z, -1, 1e-6);
}

TEST_F(CameraScreen, MovingCameraKeepsItsShutterPlacements) {
    RenderOptions& o = render_options();
    o.motion_blur = o.camera_motion_blur = true;
    TransformState state;
    reset_transform_state(state);
    read("DEFINITION version = 0; MODEL camera (pix = \"a\");\n");
    SceneClock& clock = scene_clock();
    clock.camera_motion = clock.motion_blur = true;
    clock.shutter_open = 0.5f;
    clock.shutter_close = 1.5f;
    clock.time = 0.5f;
    apply_translation(state, {1, 0, 0}, 0);
    place_camera(camera(0)->body, state);
    clock.time = 1.0f;
    evaluate_all_cameras();
    CameraEntry* e = select_next_camera(nullptr, 0);
    ASSERT_NE(e, nullptr);
    const CameraRecord& r = *e->evaluated;
    ASSERT_NE(r.open_placement, nullptr);
    EXPECT_FLOAT_EQ(r.open_placement->model.m[12], 1);
    // Not placed at the frame time or the shutter close: the camera's
    // statement was not reached there; the eye stays where it was written.
    EXPECT_EQ(r.placement, nullptr);
    EXPECT_EQ(r.close_placement, nullptr);
    EXPECT_FLOAT_EQ(r.view.eye.x, 0);
}

using CameraViewportFit = CameraFixture;

TEST_F(CameraViewportFit, FitsAcrossOrUpTheImage) {
    const struct {
        const char* values;
        float viewport[4];
        float gate[4];
    } cases[] = {
        // Square film across a 645 × 486 image, centred in y.
        {"", {0, 644, -79.5f, 564.5f}, {0, 644, -79.5f, 564.5f}},
        // Shifted to the top and the bottom of the film.
        {"placement_shift = 3", {0, 644, -159, 485}, {0, 644, -159, 485}},
        {"placement_shift = -1", {0, 644, 0, 644}, {0, 644, 0, 644}},
        // Wide film: across leaves rows uncovered, so code 0 fits it up.
        {"filmaperture_y = 0.5", {-163, 807, 0, 485}, {-163, 807, 0, 485}},
        {"filmaperture_y = 0.5, placement_fit_code = 1",
         {0, 644, 81.5f, 403.5f},
         {0, 644, 81.5f, 403.5f}},
        {"placement_fit_code = 2", {79.5f, 564.5f, 0, 485}, {79.5f, 564.5f, 0, 485}},
        {"placement_fit_code = 2, placement_shift = 1", {159, 644, 0, 485}, {159, 644, 0, 485}},
        {"placement_fit_code = 2, filmoffset_y = 0.2",
         {79.5f, 564.5f, 485 - 485 * 1.4f, 485},
         {79.5f, 564.5f, 0, 485}},
        {"placement_fit_code = 2, filmoffset_y = -0.2",
         {79.5f, 564.5f, 0, 485 * 1.4f},
         {79.5f, 564.5f, 0, 485}},
        {"placement_fit_code = 5", {0, 644, -79.5f, 564.5f}, {0, 644, -79.5f, 564.5f}},
        // Film offsets widen the viewport; the gate stays on the aperture.
        {"filmoffset_x = 0.2", {644 - 644 * 1.4f, 644, -79.5f, 564.5f}, {0, 644, -79.5f, 564.5f}},
        {"filmoffset_x = -0.2", {0, 644 * 1.4f, -79.5f, 564.5f}, {0, 644, -79.5f, 564.5f}},
        {"filmoffset_x = 3", {644 - 644 * 3, 644, -79.5f, 564.5f}, {0, 644, -79.5f, 564.5f}},
        // No film back: the viewport as written.
        {"filmaperture_x = 0, viewport = (1, 2, 3, 4)", {1, 2, 3, 4}, {1, 2, 3, 4}},
        // Orthographic cameras before 7.5 fill the image.
        {"perspective = 0, viewport = (1, 2, 3, 4)", {0, 644, 0, 485}, {0, 644, 0, 485}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.values);
        std::string values = *c.values ? std::string(", ") + c.values : "";
        const CameraRecord* r =
            evaluate("DEFINITION version = 7; MODEL camera (pix = \"a\"" + values + ");\n");
        ASSERT_NE(r, nullptr);
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(r->viewport[i], c.viewport[i], 1e-3) << i;
            EXPECT_NEAR(r->film_gate[i], c.gate[i], 1e-3) << i;
        }
    }
    const CameraRecord* r = evaluate(
        "DEFINITION version = 7.5; MODEL camera (pix = \"a\", perspective = 0,"
        " viewport = (10, 100, 20, 200));\n");
    ASSERT_NE(r, nullptr);
    EXPECT_FLOAT_EQ(r->viewport[1], 100);
}

TEST_F(CameraViewportFit, AspectAndAngleOfViewFollowTheVersion) {
    // After 6.0 the aspect takes the fitted viewport's shape; from 6.0 on the
    // angle of view is turned from across the image to up it.
    const CameraRecord* r = evaluate(
        "DEFINITION version = 7; MODEL camera (pix = \"a\", filmaperture_y = 0.5, aov = 40);\n");
    ASSERT_NE(r, nullptr);
    double width = 807 + 163 + 1, height = 486;
    EXPECT_NEAR(r->aspect, width / height, 1e-4);
    double vertical = 2 * std::atan(std::tan(20 * kPi / 180) * height / width);
    EXPECT_NEAR(r->angle_of_view, vertical, 1e-6);
    EXPECT_NEAR(r->pixel_angle, std::max(r->aspect * vertical / width, vertical / height), 1e-9);

    r = evaluate("DEFINITION version = 6; MODEL camera (pix = \"a\", aov = 40);\n");
    ASSERT_NE(r, nullptr);
    EXPECT_FLOAT_EQ(r->aspect, 1);
    EXPECT_NEAR(r->angle_of_view, 2 * std::atan(std::tan(20 * kPi / 180) * 486 / 645), 1e-6);
}

}  // namespace
}  // namespace sky
