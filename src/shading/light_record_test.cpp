// Light parameters as scenes give them: a model's info starts where a light
// without parameters evaluates, the spellings of one parameter fill one
// slot, values at and beyond the ends of their ranges, and what an
// evaluation that fails names.
#include <string>

#include <gtest/gtest.h>

#include "shading/light_internal.h"
#include "shading/shading_test_support.h"

namespace sky::test {
namespace {

using LightParameters = ShadingTest;

template <typename Info>
const Info& model_info(const AR_LightInfo* light) {
    return *static_cast<const Info*>(light->model_info);
}

TEST_F(LightParameters, AModelsInfoStartsWhereALightWithoutParametersEvaluates) {
    for (const AR_LightModel& model : light_models()) {
        AR_LightInfo* l = light("light l (model = " + std::string(model.name) + ");");
        ASSERT_NE(l, nullptr) << model.name;
        void* fresh = model.alloc_info();
        for (const Parameter& row : model.parameters->rows) {
            const char* a = static_cast<const char*>(fresh) + row.store.offset;
            const char* b = static_cast<const char*>(l->model_info) + row.store.offset;
            if (row.store.kind == FieldKind::TRIPLE) {
                EXPECT_EQ(reinterpret_cast<const Triple*>(a)->z,
                          reinterpret_cast<const Triple*>(b)->z)
                    << model.name << " " << row.name;
            } else if (row.store.kind == FieldKind::EXPRESSION) {
                EXPECT_EQ(*reinterpret_cast<Expr* const*>(a), *reinterpret_cast<Expr* const*>(b));
            } else if (row.store.kind != FieldKind::NONE) {
                EXPECT_EQ(field_number(fresh, row.store), field_number(l->model_info, row.store))
                    << model.name << " " << row.name;
            }
        }
        model.release(fresh);
    }
}

TEST_F(LightParameters, TheSpellingsOfOneParameterFillOneSlot) {
    AR_LightInfo* l = light(
        "light l (model = point, colour = (1, 2, 3), warp = 2, warp_intensity = 3, "
        "warp_steps = 4, warp_sample_size = 5);");
    ASSERT_NE(l, nullptr);
    EXPECT_FLOAT_EQ(l->colour.colour.z, 3.0f);
    EXPECT_FLOAT_EQ(l->param[LIGHT_DEFORM], 2.0f);
    EXPECT_FLOAT_EQ(l->param[LIGHT_DEFORM_INTENSITY], 3.0f);
    EXPECT_FLOAT_EQ(l->param[LIGHT_DEFORM_STEPS], 4.0f);
    EXPECT_FLOAT_EQ(l->param[LIGHT_DEFORM_SAMPLE_SIZE], 5.0f);
    AR_LightInfo* v = light("light l (model = volume, turbulence_persistence = 7);");
    ASSERT_NE(v, nullptr);
    EXPECT_FLOAT_EQ(model_info<VolumeLightInfo>(v).turbulence_persistence, 7.0f);
}

TEST_F(LightParameters, CommonValuesAtTheEndsOfTheirRanges) {
    testing::internal::CaptureStderr();
    AR_LightInfo* edge = light(
        "light l (model = point, shadow_samples = 100, glow_type = 5, halo_type = 5, "
        "hexagon_flare = 0.5);");
    AR_LightInfo* low = light("light l (model = point, shadow_samples = 1.9);");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_NE(edge, nullptr);
    EXPECT_EQ(edge->shadow_samples[0], 100);
    EXPECT_FLOAT_EQ(edge->param[LIGHT_GLOW_TYPE], 5.0f);
    EXPECT_FLOAT_EQ(edge->param[LIGHT_HALO_TYPE], 5.0f);
    EXPECT_FLOAT_EQ(edge->param[LIGHT_HEXAGON_FLARE], 1.0f);  // rounded, not truncated
    EXPECT_EQ(low->shadow_samples[0], 1);
    testing::internal::CaptureStderr();
    AR_LightInfo* beyond = light("light l (model = point, shadow_samples = 101, halo_type = 6);");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "invalid halo type: turning glow off\n");
    EXPECT_EQ(beyond->shadow_samples[0], 100);
    EXPECT_FLOAT_EQ(beyond->param[LIGHT_HALO_TYPE], 0.0f);
}

TEST_F(LightParameters, ModelValuesAtTheEndsOfTheirRanges) {
    testing::internal::CaptureStderr();
    const auto& at = model_info<SpotLightInfo>(light("light l (model = spot, spread = 1.01);"));
    EXPECT_FLOAT_EQ(at.spread, 1.01f);
    EXPECT_FLOAT_EQ(model_info<SpotLightInfo>(light("light l (model = spot, spread = 1);")).spread,
                    2.0f);
    EXPECT_FLOAT_EQ(
        model_info<SpotLightInfo>(light("light l (model = spot, spread = 180);")).spread, 179.0f);
    EXPECT_EQ(model_info<SpotLightInfo>(light("light l (model = spot, decay = 9);")).decay, 3);
    EXPECT_EQ(model_info<PointLightInfo>(light("light l (model = point, decay = 3);")).decay, 3);
    EXPECT_EQ(model_info<PointLightInfo>(light("light l (model = point, decay = -2);")).decay, 0);
    EXPECT_EQ(model_info<ExtendedLightInfo>(light("light l (model = area, decay = 7);")).decay, 3);
    const auto& v = model_info<VolumeLightInfo>(
        light("light l (model = volume, shape = 5, torus_radius = 0, cone_end_radius = -1, "
              "concentric = 0.49, decay_start = 1.5);"));
    EXPECT_EQ(v.shape, SPHERE_VOLUME);
    EXPECT_FLOAT_EQ(v.torus_radius, 0.001f);
    EXPECT_FLOAT_EQ(v.cone_end_radius, 0.0f);
    EXPECT_FALSE(v.concentric);
    EXPECT_FLOAT_EQ(v.decay_start, 1.0f);
    const auto& torus = model_info<VolumeLightInfo>(
        light("light l (model = volume, shape = TORUS_VOLUME, torus_radius = 0.0001);"));
    EXPECT_EQ(torus.shape, TORUS_VOLUME);
    EXPECT_FLOAT_EQ(torus.torus_radius, 0.0001f);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(LightParameters, TheEmissionOfALightThatIsOffIsNotRead) {
    AR_LightInfo* off = light("light l (model = point, active = 0, light_emission = (1, 2, 3));");
    ASSERT_NE(off, nullptr);
    EXPECT_FALSE(off->on);
    EXPECT_FLOAT_EQ(off->param[LIGHT_EMISSION], 1.0f);
}

TEST(LightParametersDeath, AFailingParameterIsNamed) {
    auto evaluate = [](const char* definitions) {
        ShadingTest::evaluate_declared_light(definitions);
    };
    EXPECT_EXIT(evaluate("light l (model = point, active = 1, light_emission = (1, 2, 3));"),
                testing::ExitedWithCode(1), "^Cannot evaluate light_emission of light");
    EXPECT_EXIT(evaluate("light l (model = spot, shine_along = 3);"), testing::ExitedWithCode(1),
                "^Can't evaluate spot light \\(shineAt\\)\n$");
    EXPECT_EXIT(evaluate("light l (model = spot, spread = (1, 2, 3));"), testing::ExitedWithCode(1),
                "^Can't evaluate spot light \\(cutoff\\)\n$");
    EXPECT_EXIT(evaluate("light l (model = spot, shadowoffset = (1, 2, 3));"),
                testing::ExitedWithCode(1), "^Can't evaluate spot light \\(resoffset\\)\n$");
    EXPECT_EXIT(evaluate("light l (model = linear, decay = 4);"), testing::ExitedWithCode(1),
                "^Invalid decay \\(not 0,1,2, or 3\\)\n$");
}

}  // namespace
}  // namespace sky::test
