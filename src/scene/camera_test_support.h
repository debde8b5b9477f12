// Camera tests: scenes read from text into fresh cameras, with the process-wide
// settings the cameras read saved and restored around each test.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "base/options.h"
#include "base/options_test_support.h"
#include "platform/report.h"
#include "scene/camera.h"
#include "scene/scene_clock.h"
#include "sdl/parse_test_support.h"
#include "sdl/reader.h"
#include "sdl/symbols.h"

namespace sky {

class CameraFixture : public ::testing::Test {
protected:
    void SetUp() override {
        reset_front_end();
        clear_cameras();
        scene_clock() = SceneClock{};
        camera_globals() = CameraGlobals{};
        reset_transform_state(transform_state());
        errors().clear();
        rptSetErrorCB(capture_error);
    }
    void TearDown() override {
        rptSetErrorCB(nullptr);
        clear_cameras();
        reset_front_end();
        scene_clock() = SceneClock{};
        camera_globals() = CameraGlobals{};
        reset_transform_state(transform_state());
    }

    // Reads a scene into a fresh front end and makes its camera entries.
    void read(const std::string& text) {
        clear_cameras();
        reset_front_end();
        ASSERT_EQ(parse_scene_text(text), 0) << text;
        // What the frame's evaluation does first: declared triples get their values.
        initialise_declared_values();
        build_camera_entries();
    }

    // The n-th camera to render (0 the first); null when there is none.
    static CameraEntry* camera(int n) {
        CameraEntry* e = first_camera();
        while (e && n-- > 0) e = e->next;
        return e;
    }
    static int count(CameraEntry* e) {
        int n = 0;
        for (; e; e = e->next) ++n;
        return n;
    }

    // Reads a scene of one camera and evaluates it; the record, or a failure.
    CameraRecord* evaluate(const std::string& text) {
        read(text);
        CameraEntry* e = camera(0);
        if (e == nullptr || !evaluate_camera(*e)) return nullptr;
        return e->evaluated;
    }

    // What the error channel received since the test began.
    static std::string& errors() {
        static std::string text;
        return text;
    }

private:
    static void capture_error(const char* text) { errors() += text; }
    test::RenderOptionsGuard options_;
};

}  // namespace sky
