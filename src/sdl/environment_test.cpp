// Settings of the definition section: defaults, system variables and the
// corrections and checks made when the section ends, through real parses.
#include "sdl/environment.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "platform/report.h"
#include "sdl/environment_settings.h"
#include "sdl/expr.h"
#include "sdl/parse_test_support.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

std::string warnings;
void capture(const char* text) {
    warnings += text;
}

// Parses `definitions` as a definition section.
void parse_definitions(const std::string& definitions, bool capture_reports = true) {
    reset_front_end();
    warnings.clear();
    if (capture_reports) rptSetErrorCB(capture);
    int errors = parse_scene_text("DEFINITION\n" + definitions + "\nMODEL\n");
    rptSetErrorCB(nullptr);
    ASSERT_EQ(errors, 0) << warnings;
}

TEST(EnvironmentSettings, DefaultsWithoutAnySetting) {
    parse_definitions("");
    const EnvironmentSettings& env = environment();
    EXPECT_EQ(env.x_resolution, 645);
    EXPECT_EQ(env.y_resolution, 486);
    EXPECT_EQ(env.xright, 644);
    EXPECT_EQ(env.yhigh, 485);
    EXPECT_EQ(env.aalevelmax, 0);
    EXPECT_FLOAT_EQ(env.aathreshold, 0.5f);
    EXPECT_EQ(env.grid_cache, 4000);
    EXPECT_EQ(env.up_axis, 2);
    EXPECT_FLOAT_EQ(scene_resolution_tolerance(), 0.00016f);  // 645 > 512
}

TEST(EnvironmentSettings, TheWindowFollowsTheResolution) {
    parse_definitions("resolution = 320 240;");
    EXPECT_EQ(environment().xright, 319);
    EXPECT_EQ(environment().yhigh, 239);
    EXPECT_FLOAT_EQ(scene_resolution_tolerance(), 0.00004f);
}

TEST(EnvironmentSettings, OldScenesGiveTheirSizeThroughTheWindow) {
    parse_definitions("version = 6; xright = 511; yhigh = 383;");
    EXPECT_EQ(environment().x_resolution, 512);
    EXPECT_EQ(environment().y_resolution, 384);
    parse_definitions("version = 8; xright = 511; yhigh = 383;");
    EXPECT_EQ(environment().x_resolution, 645);
    EXPECT_EQ(environment().y_resolution, 486);
}

TEST(EnvironmentSettings, OldAntiAliasingLevelsAreExponents) {
    parse_definitions("version = 6; aalevelmin = 1; aalevelmax = 3;");
    EXPECT_EQ(environment().aalevelmax, 9);  // trunc(8 × 0.8) = 6, rounded up to a square
    EXPECT_EQ(environment().aalevelmin, 1);
    EXPECT_EQ(warnings,
              "Warning: aalevelmax must be one of 0, 1, 4, 9, 16, 25, or 36. Rounding up.\n\n");

    parse_definitions("version = 6; aalevelmin = 2; aalevelmax = 2;");
    EXPECT_EQ(environment().aalevelmax, 4);
    EXPECT_EQ(environment().aalevelmin, 4);

    parse_definitions("version = 6; aalevelmin = 3; aalevelmax = 9;");
    EXPECT_EQ(environment().aalevelmax, 25);  // limited to 5: trunc(32 × 0.8) = 25
    EXPECT_EQ(environment().aalevelmin, 6);   // trunc(8 × 0.8)
}

TEST(EnvironmentSettings, LevelsAreSquaresUpTo36) {
    parse_definitions("version = 8; aalevelmax = 10;");
    EXPECT_EQ(environment().aalevelmax, 16);
    EXPECT_NE(warnings.find("Rounding up."), std::string::npos);
    parse_definitions("version = 8; aalevelmax = 50;");
    EXPECT_EQ(environment().aalevelmax, 36);
    EXPECT_EQ(warnings, "");
    parse_definitions("version = 8; aalevelmin = 30; aalevelmax = 16; ");
    EXPECT_EQ(environment().aalevelmin, 16);
    parse_definitions("version = 8; aalevelmin = -4;");
    EXPECT_EQ(environment().aalevelmin, 0);
}

TEST(EnvironmentSettings, ThresholdIsClampedBelowOne) {
    parse_definitions("aathreshold = 1.5;");
    EXPECT_FLOAT_EQ(environment().aathreshold, 0.99f);
    parse_definitions("aathreshold = -1;");
    EXPECT_FLOAT_EQ(environment().aathreshold, 0.0f);
    parse_definitions("aathreshold = 0.995;");
    EXPECT_FLOAT_EQ(environment().aathreshold, 0.995f);
}

TEST(EnvironmentSettings, TextureCacheIsCheckedOnlyWhenCachingIsSet) {
    parse_definitions("texture_cache_size = 48;");
    EXPECT_EQ(environment().texture_cache_size, 48);
    EXPECT_EQ(warnings, "");
    parse_definitions(
        "texture_caching = 1; texture_cache_size = 48; texture_cache_disk_limit = 0;");
    EXPECT_EQ(environment().texture_cache_size, 32);
    EXPECT_EQ(environment().texture_cache_disk_limit, 1);
    EXPECT_EQ(
        warnings,
        "Warning: texture_cache_size must be one of 4, 8, 16, 32, 64, 128, or 256: using 32.\n\n"
        "Warning: texture_cache_disk_limit must be between 1 and 5000. Using 1\n\n");
}

TEST(EnvironmentSettings, SystemVariablesReachTheRecordOrOnlyTheirSymbol) {
    parse_definitions(
        "startframe = 5; endframe = 9.5; xleft = 10.9; frame = 3; trans_percent = 0.5;");
    EXPECT_FLOAT_EQ(environment().startframe, 5.0f);
    EXPECT_FLOAT_EQ(environment().endframe, 9.5f);
    EXPECT_EQ(environment().xleft, 10);
    EXPECT_NE(environment().trans_percent, nullptr);  // kept as an expression
    EXPECT_FLOAT_EQ(find_symbol("frame")->scalar(), 3.0f);
    EXPECT_FLOAT_EQ(find_symbol("startframe")->scalar(), 5.0f);
}

TEST(EnvironmentSettingsDeathTest, SettingsThatCannotBeCorrectedEndTheRun) {
    auto parse = [](const char* definitions) { parse_definitions(definitions, false); };
    EXPECT_EXIT(parse("version = 8; xright = 700;"), testing::ExitedWithCode(1),
                "^xright too large\n$");
    EXPECT_EXIT(parse("version = 8; yhigh = 600;"), testing::ExitedWithCode(1),
                "^yhigh too large\n$");
    EXPECT_EXIT(parse("xleft = -1;"), testing::ExitedWithCode(1), "^xleft too small\n$");
    EXPECT_EXIT(parse("xleft = 644;"), testing::ExitedWithCode(1), "^xright too small\n$");
    EXPECT_EXIT(parse("ylow = 485;"), testing::ExitedWithCode(1), "^yhigh too small\n$");
    EXPECT_EXIT(parse("resolution = 0 10;"), testing::ExitedWithCode(1),
                "^xresolution too small\n$");
    EXPECT_EXIT(parse("grid_cache = 99;"), testing::ExitedWithCode(1),
                "^grid_cache must be > 100\n$");
    EXPECT_EXIT(parse("unknown_name = 1;"), testing::ExitedWithCode(1),
                "^ERROR: Unknown parameter unknown_name\n$");
    EXPECT_EXIT(parse("scalar mine (1); mine = 2;"), testing::ExitedWithCode(1),
                "^ERROR: Bad variable mine\n$");
}

// Where a setting's value is kept, read back for comparison.
double kept_value(const EnvironmentSettings& env, const Parameter& row) {
    if (row.kept.kind == FieldKind::EXPRESSION)
        return reinterpret_cast<std::uintptr_t>(
            *reinterpret_cast<Expr* const*>(reinterpret_cast<const char*>(&env) + row.kept.offset));
    return field_number(&env, row.kept);
}

TEST(EnvironmentSettings, EachSettingKeepsItsValueInItsOwnField) {
    for (std::size_t i = 0; i < kEnvironmentSettings.size(); ++i) {
        const Parameter& row = kEnvironmentSettings[i];
        if (row.written == Written::OWN_RULE) continue;
        reset_front_end();
        const EnvironmentSettings before = environment();
        Expr* value = make_scalar_literal(100, 1);
        auto index = static_cast<std::int32_t>(i);
        if (row.written == Written::KEYWORD) keep_setting(index, value);
        if (row.written == Written::KEYWORD_INTEGER) keep_setting_integer(index, 100);
        if (row.written == Written::VARIABLE) assign_system_variable(row.name, value);
        for (const Parameter& other : kEnvironmentSettings) {
            if (other.kept.kind == FieldKind::NONE) continue;
            double now = kept_value(environment(), other);
            if (&other != &row || row.type == ParameterType::IGNORED)
                EXPECT_EQ(now, kept_value(before, other)) << row.name << " changed " << other.name;
            else if (row.kept.kind == FieldKind::EXPRESSION)
                EXPECT_EQ(now, reinterpret_cast<std::uintptr_t>(value)) << row.name;
            else
                EXPECT_EQ(now, 100.0) << row.name;
        }
    }
}

TEST(EnvironmentSettings, TheTextureCacheDiskLimitAtTheEndsOfItsRange) {
    parse_definitions("texture_caching = 1; texture_cache_disk_limit = 1;");
    EXPECT_EQ(environment().texture_cache_disk_limit, 1);
    parse_definitions("texture_caching = 1; texture_cache_disk_limit = 5000;");
    EXPECT_EQ(environment().texture_cache_disk_limit, 5000);
    EXPECT_EQ(warnings, "");
    parse_definitions("texture_caching = 1; texture_cache_disk_limit = 5001;");
    EXPECT_EQ(environment().texture_cache_disk_limit, 1);
    EXPECT_EQ(warnings,
              "Warning: texture_cache_disk_limit must be between 1 and 5000. Using 1\n\n");
    parse_definitions("texture_cache_disk_limit = 5001;");
    EXPECT_EQ(environment().texture_cache_disk_limit, 5001);
}

TEST(EnvironmentSettings, GridCacheOf100IsAccepted) {
    parse_definitions("grid_cache = 100;");
    EXPECT_EQ(environment().grid_cache, 100);
}

}  // namespace
}  // namespace sky
