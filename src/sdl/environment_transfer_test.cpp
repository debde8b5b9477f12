// The scene's settings turned into render options: defaults, evaluated
// settings with their corrections, and the ray-trace limits.
#include "sdl/environment_transfer.h"

#include <string>

#include <gtest/gtest.h>

#include "sdl/environment_settings.h"
#include "sdl/parse_test_support.h"

namespace sky {
namespace {

RenderOptions transfer(const std::string& definitions, SceneGiven* given = nullptr) {
    reset_front_end();
    EXPECT_EQ(parse_scene_text("DEFINITION\n" + definitions + "\nMODEL\n"), 0);
    RenderOptions options;
    SceneGiven scene_given = transfer_environment(options, kRendererCaster, kModeFullRender);
    if (given) *given = scene_given;
    return options;
}

TEST(EnvironmentTransfer, DefaultsOfAnEmptyScene) {
    SceneGiven given;
    RenderOptions o = transfer("", &given);
    EXPECT_EQ(o.xresolution, 645);
    EXPECT_EQ(o.xright, 644);
    EXPECT_EQ(o.yhigh, 485);
    EXPECT_EQ(o.background_yhigh, 485);
    EXPECT_EQ(o.quiet, 1);
    EXPECT_TRUE(o.textures_active);
    EXPECT_EQ(o.image_format, 1);
    EXPECT_FLOAT_EQ(o.trans_percent, 1.0f);
    EXPECT_FALSE(o.gamma_correction_on);
    EXPECT_FALSE(o.fields);
    EXPECT_FALSE(o.motion_blur);
    EXPECT_TRUE(o.y_up);
    EXPECT_FALSE(given.animation);
    EXPECT_FALSE(given.startextension);
}

TEST(EnvironmentTransfer, AnEmptySceneGivesEveryOptionItsOwnDefault) {
    // The record's defaults and the settings' agree, so a scene that says
    // nothing renders as RenderOptions starts.
    RenderOptions transferred = transfer("");
    const RenderOptions initial;
    for (const Parameter& row : kEnvironmentSettings) {
        if (row.consumer != Consumer::RENDER_OPTIONS || row.store.kind == FieldKind::NONE) continue;
        for (int i = 0; i < row.store.count; ++i)
            EXPECT_EQ(field_number(&transferred, row.store, i),
                      field_number(&initial, row.store, i))
                << row.name;
    }
    EXPECT_EQ(transferred.y_up, initial.y_up);
    EXPECT_EQ(transferred.tessellator, initial.tessellator);
    EXPECT_EQ(transferred.gamma_correction_on, initial.gamma_correction_on);
}

TEST(EnvironmentTransfer, RangesApplyToTheEvaluatedValueAtTheirEnds) {
    RenderOptions o = transfer("trans_percent = 1; bbox_memory = 2; texture_caching = 2;");
    EXPECT_FLOAT_EQ(o.trans_percent, 1.0f);
    EXPECT_EQ(o.bbox_memory, 2);
    EXPECT_EQ(o.texture_caching, 2);
    o = transfer("bbox_memory = -0.5; texture_caching = -1; hidden_line = 0.9;");
    EXPECT_EQ(o.bbox_memory, 0);      // truncated to 0 first
    EXPECT_EQ(o.texture_caching, 0);  // beyond its range: 0
    EXPECT_FALSE(o.hidden_line);      // a switch reads the integer part
}

TEST(EnvironmentTransfer, TheTessellatorFollowsTheSceneVersion) {
    EXPECT_FALSE(transfer("").tessellator);
    EXPECT_FALSE(transfer("version = 9;").tessellator);
    EXPECT_TRUE(transfer("version = 9.5;").tessellator);
    EXPECT_TRUE(transfer("version = 10;").tessellator);
    EXPECT_TRUE(transfer("version = 6; tessellator = ON;").tessellator);
    EXPECT_FALSE(transfer("version = 10; use_v9_tessellator = TRUE;").tessellator);
}

TEST(EnvironmentTransfer, OutOfRangeSettingsAreCorrected) {
    RenderOptions o = transfer("trans_percent = 2; bbox_memory = 7; texture_caching = 7;");
    EXPECT_FLOAT_EQ(o.trans_percent, 1.0f);
    EXPECT_EQ(o.bbox_memory, 1);
    EXPECT_EQ(o.texture_caching, 0);
    EXPECT_FLOAT_EQ(transfer("trans_percent = -1;").trans_percent, 0.0f);
}

TEST(EnvironmentTransfer, GammaIsOnlyOnAwayFromOne) {
    EXPECT_FALSE(transfer("gamma_correction = 1;").gamma_correction_on);
    RenderOptions o = transfer("gamma_correction = 2.2;");
    EXPECT_TRUE(o.gamma_correction_on);
    EXPECT_FLOAT_EQ(o.gamma, 2.2f);
}

TEST(EnvironmentTransfer, SettingsThatDependOnVariablesAreEvaluatedNow) {
    RenderOptions o = transfer(
        "scalar flag (1); quiet = flag - 1; fields = flag; motion_blur_on = flag;"
        "hidden_line = flag; startextension = 7; animation = OFF;");
    EXPECT_EQ(o.quiet, 0);
    EXPECT_TRUE(o.fields);
    EXPECT_TRUE(o.hidden_line);
    EXPECT_TRUE(o.motion_blur);
    EXPECT_EQ(o.startextension, 7);
    EXPECT_FALSE(o.animation);
}

TEST(EnvironmentTransfer, UpAxis) {
    EXPECT_TRUE(transfer("up = yaxis;").y_up);
    EXPECT_FALSE(transfer("up = zaxis;").y_up);
}

TEST(EnvironmentTransferDeathTest, BadSettingsEndTheRun) {
    EXPECT_EXIT(transfer("up = xaxis;"), testing::ExitedWithCode(1), "^ERROR: Bad up axis.\n$");
    // A setting that cannot be evaluated ends the run without a message of its own.
    EXPECT_EXIT(transfer("quiet = sqrt(-1);"), testing::ExitedWithCode(1), "");
}

TEST(RayTraceLimits, DefaultsAndChecks) {
    transfer("");
    RayTraceLimits limits;
    std::vector<SubdivisionControl> control;
    check_ray_trace_limits(limits, control);
    EXPECT_EQ(limits.max_reflections, 3);
    EXPECT_EQ(limits.max_refractions, 5);
    EXPECT_EQ(limits.max_shadow_level, 1);
    EXPECT_EQ(limits.subdivision_recursion_limit, 2);
    ASSERT_EQ(control.size(), 7u);
    EXPECT_EQ(control[0].level, 20);
    EXPECT_EQ(control[6].x, 10);

    transfer("subdivision_control = ((10, (2, 3, 4)), (99.9, (5, 6, 7)));");
    check_ray_trace_limits(limits, control);
    ASSERT_EQ(control.size(), 2u);
    EXPECT_EQ(control[1].level, 99);
    EXPECT_EQ(control[1].z, 7);
}

TEST(RayTraceLimitsDeathTest, NegativeLimitsEndTheRun) {
    auto check = [](const char* definitions) {
        transfer(definitions);
        RayTraceLimits limits;
        std::vector<SubdivisionControl> control;
        check_ray_trace_limits(limits, control);
    };
    EXPECT_EXIT(check("max_reflections = -1;"), testing::ExitedWithCode(1),
                "^max_reflections cannot be negative\n$");
    EXPECT_EXIT(check("max_refractions = -1;"), testing::ExitedWithCode(1),
                "^max_refractions cannot be negative\n$");
    EXPECT_EXIT(check("max_shadow_level = -2;"), testing::ExitedWithCode(1),
                "^max_shadow_level cannot be less than -1\n$");
    EXPECT_EXIT(check("subdivision_recursion_limit = -1;"), testing::ExitedWithCode(1),
                "^subdivision_limit cannot be negative\n$");
    // The first limit beyond its range is the one named.
    EXPECT_EXIT(check("max_refractions = -1; max_shadow_level = -2;"), testing::ExitedWithCode(1),
                "^max_refractions cannot be negative\n$");
}

TEST(RayTraceLimits, LimitsAtTheEndsOfTheirRanges) {
    transfer(
        "max_reflections = 0; max_refractions = -0.5; max_shadow_level = -1;"
        "subdivision_recursion_limit = 0;");
    RayTraceLimits limits;
    std::vector<SubdivisionControl> control;
    check_ray_trace_limits(limits, control);
    EXPECT_EQ(limits.max_reflections, 0);
    EXPECT_EQ(limits.max_refractions, 0);
    EXPECT_EQ(limits.max_shadow_level, -1);
    EXPECT_EQ(limits.subdivision_recursion_limit, 0);
}

}  // namespace
}  // namespace sky
