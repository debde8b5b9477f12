// Output file names: eye, frame number, field and format extension in the
// orders the command line and `extensionformat` choose.
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "platform/app.h"
#include "scene/camera.h"
#include "scene/camera_test_support.h"

namespace sky {
namespace {

class CameraNames : public CameraFixture {
protected:
    void SetUp() override {
        CameraFixture::SetUp();
        RenderOptions& o = render_options();
        o.image_format = 1;
        o.extensionsize = 4;
        o.file_type_extension = 0;
        o.extensionformat = 0;
        o.stereo = false;
        o.stereo_eye_offset = 0.5f;
    }

    // The record of the n-th camera of `scene`, evaluated and prepared for
    // frame `frame` (numbered when non-negative) of `parity` (fields when
    // non-negative).
    const CameraRecord& named(const std::string& scene, int n, int frame, int parity = -1) {
        read("DEFINITION version = 0; MODEL " + scene + "\n");
        if (render_options().stereo) add_stereo_cameras();
        CameraEntry* e = camera(n);
        EXPECT_NE(e, nullptr);
        EXPECT_TRUE(evaluate_camera(*e));
        prepare_camera(*e->evaluated, parity >= 0, parity, frame >= 0, frame);
        return *e->evaluated;
    }
};

TEST_F(CameraNames, StereoFrameNumbersInEachExtensionFormat) {
    RenderOptions& o = render_options();
    o.stereo = true;
    const std::string shot = "camera (pix = \"shot.qrl\");";
    const struct {
        int mode, placement, eye;
        const char* name;
    } cases[] = {
        {0, 0, 0, "shot_left.0007.qrl"},  {1, 0, 0, "shot.qrl_left.0007"},
        {2, 0, 0, "shot_left.0007"},      {0, 2, 0, "shot_left.0007.qrl.qrl"},
        {0, 0, 1, "shot_right.0007.qrl"}, {0, 1, 0, "shot_left.qrl.0007.qrl"},
        {2, 2, 1, "shot_right.0007.qrl"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        o.extensionformat = c.mode;
        o.file_type_extension = c.placement;
        EXPECT_EQ(named(shot, c.eye, 7).image_name, c.name);
    }
}

TEST_F(CameraNames, NameWithoutTheExtension) {
    const std::string scene = "camera (pix = \"ab\");";
    render_options().extensionformat = 0;
    EXPECT_EQ(named(scene, 0, 12).image_name, "ab.0012.qrl");
    render_options().extensionformat = 1;
    EXPECT_EQ(named(scene, 0, 12).image_name, "ab.qrl.0012");
    render_options().extensionformat = 2;
    EXPECT_EQ(named(scene, 0, 12).image_name, "ab.0012");
    // Only the last four characters count.
    render_options().image_format = 4;
    EXPECT_EQ(named("camera (pix = \"x.tiff\");", 0, -1).image_name, "x.tiff");
    EXPECT_EQ(named("camera (pix = \"x.tif\");", 0, -1).image_name, "x");
}

TEST_F(CameraNames, FieldsAndFrameNumberWidth) {
    const std::string scene = "camera (pix = \"img\", mask = \"img_m\", depth_file = \"img_d\");";
    render_options().extensionsize = 2;
    const CameraRecord& even = named(scene, 0, 3, 1);
    EXPECT_EQ(even.image_name, "img.03e.qrl");
    EXPECT_EQ(even.matte_name, "img_m.03e");
    EXPECT_EQ(even.depth_name, "img_d.03e");
    EXPECT_EQ(named(scene, 0, 3, 0).image_name, "img.03o.qrl");
    EXPECT_EQ(named(scene, 0, -1, 0).image_name, "imgo.qrl");
    render_options().extensionsize = 35;  // at most twenty digits
    EXPECT_EQ(named(scene, 0, 42).image_name, "img.00000000000000000042.qrl");
    render_options().extensionsize = 0;
    EXPECT_EQ(named(scene, 0, 42).image_name, "img.42.qrl");
}

TEST_F(CameraNames, FormatExtensionsByImageFormat) {
    const char* expected[10] = {nullptr, ".qrl",  ".rgb",  ".gif",  ".tif",
                                ".tif",  nullptr, nullptr, nullptr, ".rla"};
    for (int code = 1; code <= 9; ++code) {
        if (expected[code] == nullptr) continue;
        EXPECT_STREQ(format_extension(code), expected[code]);
    }
    EXPECT_EQ(errors(), "");
    EXPECT_STREQ(format_extension(7), ".qrl");
    EXPECT_EQ(errors(), "Unknown file format type: 7.  Using QUORL PIX.\n");
    errors().clear();
    render_options().image_format = 0;
    EXPECT_EQ(named("camera (pix = \"unknown\");", 0, 1).image_name, "unknown.0001.qrl");
    EXPECT_EQ(errors(), "Unknown file format type: 0.  Using QUORL PIX.\n");
}

TEST_F(CameraNames, EmptyNamesStayEmptyAndDepthOfFieldBringsItsOwnDepthFile) {
    render_options().stereo = true;
    const CameraRecord& r = named("camera (pix = \"\", mask = \"m\", depth_of_field = 1);", 1, 5);
    EXPECT_EQ(r.image_name, "");
    EXPECT_EQ(r.matte_name, "m_right.0005");
    EXPECT_EQ(r.depth_name, APP_getTempPath() + "/TempDepthFileForDOF" + std::to_string(getpid()) +
                                "_right.0005");
    EXPECT_EQ(named("camera (pix = \"p\");", 0, 5).depth_name, "");
}

TEST_F(CameraNames, NamesAreRemadeFromTheSceneAtEachPreparation) {
    read("DEFINITION version = 0; MODEL camera (pix = \"again\");\n");
    CameraRecord& r = *camera(0)->evaluated;
    ASSERT_TRUE(evaluate_camera(*camera(0)));
    prepare_camera(r, false, 0, true, 1);
    prepare_camera(r, false, 0, true, 2);
    EXPECT_EQ(r.image_name, "again.0002.qrl");
}

}  // namespace
}  // namespace sky
