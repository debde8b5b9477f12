// Light models asked about points, against values worked out by hand: decay,
// the N·L test and translucency, the spot cone and its penumbra, ambient
// shade, extended lights, and the evaluation's defaults and corrections.
#include "shading/light.h"

#include <cmath>
#include <numbers>

#include <gtest/gtest.h>

#include "shading/light_internal.h"
#include "shading/sample_sequences.h"
#include "shading/shading_test_support.h"

namespace sky::test {
namespace {

using Lights = ShadingTest;

int ask(const AR_LightInfo& light, const AR_ShadePoint& point, AR_LightSample& s,
        float translucent = 0) {
    preset_light_sample(s, translucent);
    return light.model->calculation(light, point, s);
}

TEST_F(Lights, PointDecayStartsBeyondDistanceOne) {
    AR_ShadePoint p = facing_point();
    AR_LightSample s;
    AR_LightInfo* near = light("light l (model = point, decay = 2);", Triple{0, 0, 0.5f});
    ASSERT_NE(near, nullptr);
    ASSERT_EQ(ask(*near, p, s), 1);
    EXPECT_NEAR(s.colour.x, 255.0f, 1e-3f);  // within 1: not attenuated
    EXPECT_FALSE(s.ambient);
    EXPECT_NEAR(s.n_dot_l, 1.0, 1e-6);
    AR_LightInfo* far =
        light("light l (model = point, decay = 2, color = (100, 200, 40));", Triple{0, 0, 2});
    ASSERT_EQ(ask(*far, p, s), 1);
    EXPECT_NEAR(s.colour.x, 25.0f, 1e-3f);  // divided by 2²
    EXPECT_NEAR(s.colour.y, 50.0f, 1e-3f);
    EXPECT_NEAR(s.distance, 2.0f, 1e-6f);
    AR_LightInfo* cubic =
        light("light l (model = point, decay = 3, intensity = 2);", Triple{0, 0, 2});
    ASSERT_EQ(ask(*cubic, p, s), 1);
    EXPECT_NEAR(s.colour.z, 2 * 255.0f / 8.0f, 1e-3f);
}

TEST_F(Lights, BehindTheSurfaceOnlyForTranslucency) {
    AR_ShadePoint p = facing_point();
    AR_LightSample s;
    AR_LightInfo* l = light("light l (model = point);", Triple{0, 0, -3});
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(ask(*l, p, s), 0);
    ASSERT_EQ(ask(*l, p, s, 0.5f), 1);
    EXPECT_EQ(s.diffuse_kind, 0);
    EXPECT_FALSE(s.specular);
    // Grazing: N·L below 0.0001 counts as behind.
    AR_LightInfo* grazing = light("light l (model = point);", Triple{5, 0, 0.0001f});
    EXPECT_EQ(ask(*grazing, p, s), 0);
}

// A point lit by a spot at (0, 0, 10) shining down −z, at angle θ off its axis.
AR_ShadePoint off_axis(float degrees) {
    AR_ShadePoint p = facing_point();
    p.position = Triple{10.0f * std::tan(degrees * std::numbers::pi_v<float> / 180.0f), 0, 0};
    return p;
}

TEST_F(Lights, SpotConeEdgeAndDropoff) {
    AR_LightInfo* l =
        light("light l (model = spot, spread = 40, decay = 0, dropoff = 2);", Triple{0, 0, 10});
    ASSERT_NE(l, nullptr);
    AR_LightSample s;
    ASSERT_EQ(ask(*l, off_axis(19.5f), s), 1);
    float c = std::cos(19.5f * std::numbers::pi_v<float> / 180.0f);
    EXPECT_NEAR(s.colour.x, 255.0f * c * c, 1e-2f);
    EXPECT_EQ(ask(*l, off_axis(20.5f), s), 0);
}

TEST_F(Lights, PenumbraBandFadesSmoothlyBeyondTheCone) {
    AR_LightInfo* l =
        light("light l (model = spot, spread = 40, penumbra = 10, decay = 0);", Triple{0, 0, 10});
    ASSERT_NE(l, nullptr);
    AR_LightSample s;
    auto cosd = [](float d) { return std::cos(d * std::numbers::pi_v<float> / 180.0f); };
    ASSERT_EQ(ask(*l, off_axis(19.0f), s), 1);
    EXPECT_NEAR(s.colour.x, 255.0f, 1e-2f);  // inside the inner edge: full
    ASSERT_EQ(ask(*l, off_axis(25.0f), s), 1);
    float t = (cosd(25) - cosd(30)) / (cosd(20) - cosd(30));
    EXPECT_NEAR(s.colour.x, 255.0f * t * t * (3 - 2 * t), 0.05f);
    EXPECT_EQ(ask(*l, off_axis(30.5f), s), 0);

    // A negative penumbra eats into the cone: the band is 15° to 20°.
    AR_LightInfo* inner =
        light("light l (model = spot, spread = 40, penumbra = -5, decay = 0);", Triple{0, 0, 10});
    ASSERT_EQ(ask(*inner, off_axis(14.0f), s), 1);
    EXPECT_NEAR(s.colour.x, 255.0f, 1e-2f);
    ASSERT_EQ(ask(*inner, off_axis(17.5f), s), 1);
    EXPECT_GT(s.colour.x, 0.0f);
    EXPECT_LT(s.colour.x, 255.0f);
    EXPECT_EQ(ask(*inner, off_axis(20.5f), s), 0);
}

TEST_F(Lights, SpreadAndSamplesAreCorrectedSilently) {
    testing::internal::CaptureStderr();
    AR_LightInfo* wide = light("light l (model = spot, spread = 200, shadow_samples = 500);");
    AR_LightInfo* narrow = light("light l (model = spot, spread = 0.5, shadow_samples = 0);");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_NE(wide, nullptr);
    ASSERT_NE(narrow, nullptr);
    EXPECT_FLOAT_EQ(static_cast<SpotLightInfo*>(wide->model_info)->spread, 179.0f);
    EXPECT_FLOAT_EQ(static_cast<SpotLightInfo*>(narrow->model_info)->spread, 2.0f);
    EXPECT_EQ(wide->shadow_samples[0], 100);
    EXPECT_EQ(wide->shadow_samples[kMaxLightWorkers - 1], 100);
    EXPECT_EQ(narrow->shadow_samples[3], 1);
}

TEST_F(Lights, GlowTypeBeyondFiveIsTurnedOffWithTheMessage) {
    testing::internal::CaptureStderr();
    AR_LightInfo* l = light("light l (model = point, glow_type = 7, glow_intensity = 2);");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "invalid glow type: turning glow off\n");
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->param[LIGHT_GLOW_TYPE], 0.0f);
    EXPECT_FALSE(l->has_effects);
    AR_LightInfo* glowing = light("light l (model = point, glow_type = LINEAR_GLOW);");
    EXPECT_TRUE(glowing->has_effects);
    AR_LightInfo* fog = light("light l (model = point, fog_type = 1, fog_intensity = 0);");
    EXPECT_FALSE(fog->has_fog);
}

TEST_F(Lights, AmbientShadeZeroIgnoresOrientationOneFollowsIt) {
    AR_LightSample s;
    AR_ShadePoint tilted = facing_point();
    tilted.normal = unit(1, 0, 1);  // 45° from the light above
    AR_LightInfo* flat = light(
        "light l (model = ambient, ambient_shade = 0, color = (200, 100, 50));", Triple{0, 0, 10});
    ASSERT_NE(flat, nullptr);
    ASSERT_EQ(ask(*flat, tilted, s), 1);
    EXPECT_TRUE(s.ambient);
    EXPECT_EQ(s.diffuse_kind, 0);
    EXPECT_NEAR(s.colour.x, 200.0f / 255.0f, 1e-5f);
    AR_LightInfo* shaded = light(
        "light l (model = ambient, ambient_shade = 1, color = (200, 100, 50));", Triple{0, 0, 10});
    ASSERT_EQ(ask(*shaded, tilted, s), 1);
    EXPECT_NEAR(s.colour.y, 100.0f / 255.0f * std::sqrt(0.5f), 1e-5f);
    // Facing away with full shade: nothing.
    AR_ShadePoint away = facing_point();
    away.normal = Triple{0, 0, -1};
    EXPECT_EQ(ask(*shaded, away, s), 0);
    // Out-of-range shades are clamped.
    AR_LightInfo* over = light("light l (model = ambient, ambient_shade = 4);");
    EXPECT_FLOAT_EQ(static_cast<AmbientLightInfo*>(over->model_info)->ambient_shade, 1.0f);
}

// Without shade an ambient light takes no direction, as long as the point,
// its normal and the way to the light are finite; anything else takes the
// general way (and its NaN colour). What lies next to them in the records
// (the geometric normal, the view) plays no part.
TEST_F(Lights, AmbientShadeZeroTestsOnlyThePointTheNormalAndTheWayToTheLight) {
    AR_LightInfo* flat = light(
        "light l (model = ambient, ambient_shade = 0, color = (200, 100, 50));", Triple{0, 0, 10});
    ASSERT_NE(flat, nullptr);
    const float nan = std::nanf(""), inf = INFINITY;
    auto colour_at = [&](const AR_ShadePoint& point) {
        AR_LightSample s;
        EXPECT_EQ(ask(*flat, point, s), 1);
        EXPECT_EQ(s.diffuse_kind, 0);
        return s;
    };
    AR_ShadePoint point = facing_point();
    point.geometric_normal = Triple{nan, nan, nan};
    point.view = Triple{inf, nan, -inf};
    AR_LightSample s = colour_at(point);
    EXPECT_EQ(s.distance, 0.0f);
    EXPECT_EQ(s.colour.x, 200.0f * (1.0f / 255.0f));
    for (int k = 0; k < 3; ++k) {
        for (float bad : {nan, inf, -inf}) {
            AR_ShadePoint p = facing_point();
            (&p.normal.x)[k] = bad;
            EXPECT_TRUE(std::isnan(colour_at(p).colour.x)) << "normal " << k << " " << bad;
            p = facing_point();
            (&p.position.x)[k] = bad;
            EXPECT_FALSE(std::isfinite(colour_at(p).colour.x)) << "point " << k << " " << bad;
        }
        // Finite itself, but not its way to the light.
        AR_ShadePoint far = facing_point();
        (&far.position.x)[k] = -3e38f;
        flat->position = Triple{3e38f, 3e38f, 3e38f};
        EXPECT_TRUE(std::isnan(colour_at(far).colour.x)) << "way " << k;
        flat->position = Triple{0, 0, 10};
    }
}

TEST_F(Lights, DirectionalIsTheSameEverywhere) {
    AR_LightInfo* l = light("light l (model = directional, direction = (0, -1, -1));");
    ASSERT_NE(l, nullptr);
    AR_ShadePoint a = facing_point(), b = facing_point();
    b.position = Triple{100, -40, 3};
    AR_LightSample sa, sb;
    ASSERT_EQ(ask(*l, a, sa), 1);
    ASSERT_EQ(ask(*l, b, sb), 1);
    EXPECT_NEAR(sa.direction.y, std::sqrt(0.5f), 1e-6f);
    EXPECT_NEAR(sa.n_dot_l, std::sqrt(0.5f), 1e-6);
    EXPECT_FLOAT_EQ(sa.colour.x, sb.colour.x);
    EXPECT_FLOAT_EQ(sa.colour.x, 255.0f);
}

TEST_F(Lights, AreaLightApproachesAPointLightFromAfar) {
    AR_LightInfo* area =
        light("light l (model = area, decay = 2, shadow_samples = 16);", Triple{0, 0, 20});
    ASSERT_NE(area, nullptr);
    AR_ShadePoint p = facing_point();
    p.seed = 12345;
    AR_LightSample s;
    ASSERT_EQ(ask(*area, p, s), 1);
    EXPECT_NEAR(s.colour.x, 255.0f / 400.0f, 0.01f);
    EXPECT_NEAR(s.n_dot_l, 1.0, 1e-3);
    EXPECT_NEAR(s.direction.z, 1.0f, 1e-3f);
}

TEST_F(Lights, LinearLightIsBrightestAcrossItsLength) {
    AR_LightInfo* l = light("light l (model = linear, decay = 0, dropoff = 4, shadow_samples = 8);",
                            Triple{0, 0, 2});
    ASSERT_NE(l, nullptr);
    AR_ShadePoint below = facing_point(), along = facing_point();
    along.position = Triple{20, 0, 1.9f};
    AR_LightSample s1, s2;
    ASSERT_EQ(ask(*l, below, s1), 1);
    ASSERT_EQ(ask(*l, along, s2), 1);
    EXPECT_GT(s1.colour.x, 200.0f);
    EXPECT_LT(s2.colour.x, 1.0f);
}

TEST_F(Lights, VolumeLightReachesOnlyInsideItsShape) {
    AR_LightInfo* l =
        light("light l (model = volume, shape = SPHERE_VOLUME, decay = 0, directionality = 0);",
              Triple{0, 0, 0});
    ASSERT_NE(l, nullptr);
    AR_ShadePoint inside = facing_point(), outside = facing_point();
    inside.position = Triple{0.5f, 0, 0};
    outside.position = Triple{1.5f, 0, 0};
    AR_LightSample s;
    ASSERT_EQ(ask(*l, inside, s), 1);
    EXPECT_NEAR(s.n_dot_l, 1.0, 1e-6);  // no directionality: orientation does not matter
    EXPECT_EQ(ask(*l, outside, s), 0);
}

TEST_F(Lights, TheModelTableInItsOrder) {
    const char* names[] = {"point", "directional", "spot", "linear", "area", "ambient", "volume"};
    auto rows = light_models();
    ASSERT_EQ(rows.size(), 7u);
    for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_STREQ(rows[i].name, names[i]);
    EXPECT_EQ(find_light_model("Point"), nullptr);  // exact names only
}

TEST(LightDeath, MissingRoutinesAreNamedInOrder) {
    AR_LightModel row = *find_light_model("point");
    row.parse = nullptr;
    row.init = nullptr;
    EXPECT_EXIT(check_light_model(row), testing::ExitedWithCode(1),
                "^Missing point Light Parse routine\n$");
    row = *find_light_model("spot");
    row.copy = nullptr;
    EXPECT_EXIT(check_light_model(row), testing::ExitedWithCode(1),
                "^Missing spot Light Copy routine\n$");
    row.init = nullptr;  // init is checked before copy
    EXPECT_EXIT(check_light_model(row), testing::ExitedWithCode(1),
                "^Missing spot Light Init routine\n$");
}

TEST(LightDeath, AParseRoutineHandedNoNodeSaysWhichModel) {
    struct Case {
        const char* model;
        const char* message;
    };
    const Case cases[] = {
        {"point", "^Error parsing point light\n$"},
        {"ambient", "^Error parsing ambient light\n$"},
        {"linear", "^Error parsing linear light.\n$"},
        {"area", "^Parsing error for area light.\n$"},
        {"directional", "^Internal System Error at [0-9]+ in directional.c, Call Support\n$"},
        {"spot", "^Internal System Error at [0-9]+ in spot.c, Call Support\n$"},
        {"volume", "^Internal System Error at [0-9]+ in volume_light.c, Call Support\n$"},
    };
    for (const Case& c : cases) {
        const AR_LightModel& model = *find_light_model(c.model);
        EXPECT_EXIT(model.parse(nullptr, "decay", nullptr), testing::ExitedWithCode(1), c.message)
            << c.model;
    }
}

TEST(SampleSequences, ScrambledRadicalInverses) {
    // Base 5 with digits 0 3 2 1 4: 1 → 3/5, 2 → 2/5, 5 → 3/25.
    EXPECT_DOUBLE_EQ(scrambled_radical_inverse(1, 5, kPermutation5), 0.6);
    EXPECT_DOUBLE_EQ(scrambled_radical_inverse(2, 5, kPermutation5), 0.4);
    EXPECT_DOUBLE_EQ(scrambled_radical_inverse(5, 5, kPermutation5), 3.0 / 25.0);
    EXPECT_DOUBLE_EQ(scrambled_radical_inverse(7, 3, kPermutation3), 1.0 / 3.0 + 2.0 / 9.0);
    // Read from the seed onward, wrapping at the tables' lengths.
    float a = 0, b = 0, c = 0, d = 0;
    sample_position(729 + 5, 0, a, b);
    sample_position(5, 0, c, d);
    EXPECT_FLOAT_EQ(a, c);
    sample_position(0, 625 + 1, a, b);
    EXPECT_FLOAT_EQ(b, 0.6f);
}

// A shadowed point keeps `shadow_color` of the light's colour, each channel
// on its own and clamped to the light's own; part of a shadow moves each
// channel linearly toward it; a black shadow that is whole leaves nothing.
TEST_F(Lights, ShadowColourTintsEachChannelOfTheShadow) {
    const AR_ShadePoint p = facing_point();
    AR_LightSample s;
    AR_LightInfo* tinted = light("light l (model = point, shadow_color = (100, 50, 300));");
    ASSERT_NE(tinted, nullptr);
    preset_light_sample(s, 0.0f);
    ASSERT_TRUE(lights::finish_positional(*tinted, p, 1.0f, s, 1.0f));
    EXPECT_NEAR(s.colour.x, 100.0f, 1e-3f);
    EXPECT_NEAR(s.colour.y, 50.0f, 1e-3f);
    EXPECT_NEAR(s.colour.z, 255.0f, 1e-3f);
    preset_light_sample(s, 0.0f);
    ASSERT_TRUE(lights::finish_positional(*tinted, p, 2.0f, s, 0.5f));
    EXPECT_NEAR(s.colour.x, 2.0f * (255.0f - 0.5f * 155.0f), 1e-2f);
    EXPECT_NEAR(s.colour.y, 2.0f * (255.0f - 0.5f * 205.0f), 1e-2f);
    EXPECT_NEAR(s.colour.z, 2.0f * 255.0f, 1e-2f);

    AR_LightInfo* black = light("light l (model = point);");
    ASSERT_NE(black, nullptr);
    preset_light_sample(s, 0.0f);
    EXPECT_FALSE(lights::finish_positional(*black, p, 1.0f, s, 1.0f));
    preset_light_sample(s, 0.0f);
    ASSERT_TRUE(lights::finish_positional(*black, p, 1.0f, s, 0.25f));
    EXPECT_NEAR(s.colour.x, 0.75f * 255.0f, 1e-2f);
}

}  // namespace
}  // namespace sky::test
