// Reading geometry scenes in tests: the geometry's hooks installed for the
// test only, errors captured, and the frame evaluated once.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "base/options.h"
#include "geometry/geometry_evaluation.h"
#include "platform/report.h"
#include "scene/dag.h"
#include "scene/scene_clock.h"
#include "scene/scene_objects.h"
#include "sdl/parse_test_support.h"
#include "sdl/scene_description.h"

namespace sky {

inline std::string& geometry_errors() {
    static std::string text;
    return text;
}

class GeometryScene : public testing::Test {
public:
    void SetUp() override {
        install_geometry_hooks();
        geometry_errors().clear();
        rptSetErrorCB([](const char* text) { geometry_errors() += text; });
    }
    void TearDown() override {
        rptSetErrorCB(nullptr);
        release_frame_objects();
        remove_geometry_hooks();
        render_options() = RenderOptions{};
    }

    // Parses DEFINITION (a shader `s` and `definitions`) and MODEL; returns
    // the errors counted.
    static int parse(const std::string& definitions, const std::string& model = "") {
        reset_front_end();
        return parse_scene_text(
            "DEFINITION\nshader s (model = lambert);\nshader t (model = phong);\n" + definitions +
            "\nMODEL\n" + model);
    }

    // Parses and walks the model once at frame 1.
    static void evaluate(const std::string& definitions, const std::string& model) {
        ASSERT_EQ(parse(definitions, model), 0) << geometry_errors();
        release_frame_objects();
        render_options().quiet = 1;
        scene_clock() = SceneClock{};
        evaluate_scene(scene_description().model, true);
    }

    template <typename Record>
    static const Record& geometry(std::size_t i) {
        return *static_cast<const Record*>(frame_objects()[i].geometry);
    }
};

// Death tests let the messages reach the error channel the test reads.
class GeometrySceneDeathTest : public GeometryScene {
public:
    void SetUp() override {
        GeometryScene::SetUp();
        rptSetErrorCB(nullptr);
    }
};

// A 2 × 2 bilinear patch; `extra` parameters come last and override.
inline std::string bilinear(const std::string& extra = "") {
    return "patch (shader = (s), divisions = (4, 4), uknots = (0, 1), vknots = (0, 1),"
           " cvs = ((cv((0, 0, 0), 1), cv((1, 0, 0), 1)), (cv((0, 1, 0), 1), cv((1, 1, 2), 1)))" +
           (extra.empty() ? "" : ", " + extra) + ");\n";
}

}  // namespace sky
