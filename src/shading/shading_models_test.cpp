// Shader parameters as scenes give them: a model's info starts where a
// shader without parameters evaluates, the spellings of one parameter fill
// one slot, and values at and beyond the ends of their ranges.
#include <cstring>

#include <gtest/gtest.h>

#include "shading/shading_test_support.h"

namespace sky::test {
namespace {

using ShaderParameters = ShadingTest;

// The fields a model's table stores, compared between two infos.
void expect_same_values(const ParameterTable& table, const void* a, const void* b,
                        const char* model) {
    for (const Parameter& row : table.rows) {
        const char* x = static_cast<const char*>(a) + row.store.offset;
        const char* y = static_cast<const char*>(b) + row.store.offset;
        switch (row.store.kind) {
            case FieldKind::NONE:
                break;
            case FieldKind::OTHER: {  // a colour-or-scalar slot
                const auto& s = *reinterpret_cast<const ColourSlot*>(x);
                const auto& t = *reinterpret_cast<const ColourSlot*>(y);
                EXPECT_EQ(s.scalar, t.scalar) << model << " " << row.name;
                EXPECT_EQ(s.colour.x, t.colour.x) << model << " " << row.name;
                EXPECT_EQ(s.colour.z, t.colour.z) << model << " " << row.name;
                EXPECT_EQ(s.texture, t.texture) << model << " " << row.name;
                break;
            }
            default:
                EXPECT_EQ(field_number(a, row.store), field_number(b, row.store))
                    << model << " " << row.name;
        }
    }
}

TEST_F(ShaderParameters, AModelsInfoStartsWhereAShaderWithoutParametersEvaluates) {
    for (const AR_ShaderModel& model : shader_models()) {
        AR_ShaderInfo* s = shader("shader s (model = " + std::string(model.name) + ");");
        ASSERT_NE(s, nullptr) << model.name;
        void* fresh = model.alloc_info();
        expect_same_values(*model.parameters, fresh, s->model_info, model.name);
        if (std::strcmp(model.name, "blinn") == 0) {
            EXPECT_FLOAT_EQ(static_cast<AR_BlinnShaderInfo*>(fresh)->c,
                            static_cast<AR_BlinnShaderInfo*>(s->model_info)->c);
        }
        model.release(fresh);
    }
}

TEST_F(ShaderParameters, TheSpellingsOfOneParameterFillOneSlot) {
    AR_ShaderInfo* a = shader(
        "shader s (model = lambert, colour = (10, 20, 30), fill_colour = (1, 2, 3), "
        "use_fill_color = ON, line_thickness = 3.7, u_patch_lines = 4, v_patch_lines = 5, "
        "psys_incandescence = 6, psys_particles_per_sec = 7, particle_file = \"p.pdb\");");
    ASSERT_NE(a, nullptr);
    EXPECT_FLOAT_EQ(a->color.colour.y, 20.0f);
    EXPECT_FLOAT_EQ(a->hl_fill_colour.z, 3.0f);
    EXPECT_FLOAT_EQ(a->param[SHADER_HL_TO_FILL_COLOR], 1.0f);
    EXPECT_FLOAT_EQ(a->param[SHADER_HL_LINE_WIDTH], 3.0f);
    EXPECT_FLOAT_EQ(a->param[SHADER_HL_ISOPARAM_U], 4.0f);
    EXPECT_FLOAT_EQ(a->param[SHADER_HL_ISOPARAM_V], 5.0f);
    // Particle synonyms share their slot; a file name stays with its expression.
    int stamp = find_parameter(particle_parameters(), "psys_color_stamp");
    int rate = find_parameter(particle_parameters(), "psys_atoms_per_sec");
    int file = find_parameter(particle_parameters(), "psys_particle_file");
    EXPECT_FLOAT_EQ(a->param[SHADER_PSYS_FIRST + stamp], 6.0f);
    EXPECT_FLOAT_EQ(a->param[SHADER_PSYS_FIRST + rate], 7.0f);
    EXPECT_FLOAT_EQ(a->param[SHADER_PSYS_FIRST + file], 0.0f);
    EXPECT_NE(a->shader->params[SHADER_PSYS_FIRST + file], nullptr);
    // The later of two spellings wins.
    AR_ShaderInfo* b =
        shader("shader s (model = lambert, hl_fill_color = (9, 9, 9), fill_color = (8, 8, 8));");
    EXPECT_FLOAT_EQ(b->hl_fill_colour.x, 8.0f);
}

TEST_F(ShaderParameters, CommonValuesAtTheEndsOfTheirRangesStay) {
    testing::internal::CaptureStderr();
    AR_ShaderInfo* s = shader(
        "shader s (model = lambert, refractive_index = 0.001, transparency_shade = 1, "
        "shadow_level_limit = -1, clearcoat_index = 0.1, glow_intensity = 0, "
        "reflection_limit = -0.5);");
    AR_ShaderInfo* beyond = shader(
        "shader s (model = lambert, refractive_index = 0.0009, transparency_shade = 1.0001, "
        "shadow_level_limit = -2, clearcoat_index = 0.099, glow_intensity = -0.1);");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_NE(s, nullptr);
    EXPECT_FLOAT_EQ(s->param[SHADER_REFRACTIVE_INDEX], 0.001f);
    EXPECT_FLOAT_EQ(s->param[SHADER_TRANSPARENCY_SHADE], 1.0f);
    EXPECT_FLOAT_EQ(s->param[SHADER_SHADOW_LEVEL_LIMIT], -1.0f);
    EXPECT_FLOAT_EQ(s->param[SHADER_CLEARCOAT_INDEX], 0.1f);
    EXPECT_FLOAT_EQ(s->param[SHADER_REFLECTION_LIMIT], 0.0f);  // truncated to 0 before its check
    ASSERT_NE(beyond, nullptr);
    EXPECT_FLOAT_EQ(beyond->param[SHADER_REFRACTIVE_INDEX], 0.001f);
    EXPECT_FLOAT_EQ(beyond->param[SHADER_TRANSPARENCY_SHADE], 1.0f);
    EXPECT_FLOAT_EQ(beyond->param[SHADER_SHADOW_LEVEL_LIMIT], -1.0f);
    EXPECT_FLOAT_EQ(beyond->param[SHADER_CLEARCOAT_INDEX], 0.1f);
    EXPECT_FLOAT_EQ(beyond->param[SHADER_GLOW_INTENSITY], 0.0f);
}

TEST_F(ShaderParameters, ModelValuesAtTheEndsOfTheirRanges) {
    AR_ShaderInfo* b = shader(
        "shader s (model = blinn, eccentricity = 0.5, specular_rolloff = 1.5, "
        "specular_intensity = -0.5, gloss = 1);");
    ASSERT_NE(b, nullptr);
    const auto& blinn = *static_cast<AR_BlinnShaderInfo*>(b->model_info);
    EXPECT_FLOAT_EQ(blinn.c, 1.0f / (0.25f - 1.0f));
    EXPECT_FLOAT_EQ(blinn.specular_rolloff, 1.0f);
    EXPECT_FLOAT_EQ(blinn.specular_intensity, 0.0f);
    EXPECT_FLOAT_EQ(blinn.gloss, 1.0f);
    // A shinyness truncated to 0 is the smallest that evaluates.
    AR_ShaderInfo* p = shader("shader s (model = phong, shinyness = -0.5);");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(static_cast<AR_PhongShaderInfo*>(p->model_info)->shinyness, 0);
    // A colour written as a triple is in 0..255, a number is the level itself.
    AR_ShaderInfo* l = shader("shader s (model = lambert, diffuse = (255, 51, 0));");
    const auto& lambert = *static_cast<AR_LambertShaderInfo*>(l->model_info);
    EXPECT_FLOAT_EQ(lambert.diffuse.colour.y, 0.2f);
    EXPECT_FLOAT_EQ(lambert.diffuse.scalar, 1.0f);
}

TEST_F(ShaderParameters, OldScenesGiveTheLightSourceModelParametersItIgnores) {
    EXPECT_TRUE(read("shader s (model = lightsource, diffuse = 0.5, reflectivity = 1);"));
    EXPECT_TRUE(
        read("version = 3.1; shader s (model = lightsource, diffuse = 0.5, reflectivity = 1);"));
    EXPECT_NE(shader("version = 3.1; shader s (model = lambert, reflectivity = 1);"), nullptr);
}

TEST(ShaderParametersDeath, AShinynessBelowZeroFailsTheEvaluation) {
    EXPECT_EXIT(ShadingTest::evaluate_declared_shader("shader s (model = phong, shinyness = -1);"),
                testing::ExitedWithCode(1), "^Error in phong Shader evaluate routine\n$");
}

}  // namespace
}  // namespace sky::test
