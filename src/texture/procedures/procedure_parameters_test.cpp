// Texture parameters as scenes give them: every procedure starts from its
// defaults, the colour spellings some procedures take, the common
// parameters' defaults and synonyms, and the file texture's ranges.
#include "texture/procedures/procedure_parameters.h"

#include <string>

#include <gtest/gtest.h>

#include "texture/texture_test_support.h"

namespace sky::test {
namespace {

using TextureParameters = TextureTest;

const ProcedureValue& value_of(const AR_TextureInfo& texture, const char* name) {
    int row = find_parameter(texture.procedure->parameters->rows, name);
    EXPECT_GE(row, 0) << name;
    return procedure_value(texture, row < 0 ? 0 : row);
}

TEST_F(TextureParameters, EveryProcedureStartsFromItsDefaults) {
    for (const AR_TextureProcedure* procedure : texture_procedures()) {
        if (procedure->alloc_info != alloc_procedure_info) continue;  // Checker, file
        // `Curvature` and `Highlight` are keywords: scenes name them otherwise.
        std::string name = procedure->name;
        bool curvature = name == "Curvature";
        if (curvature) name = "Gaussian";
        if (name == "Highlight") name = "Directional";
        AR_TextureInfo* t = declared("environment t (procedure = " + name + ");");
        ASSERT_NE(t, nullptr) << procedure->name;
        auto rows = procedure->parameters->rows;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const ProcedureValue& v = procedure_value(*t, static_cast<int>(i));
            EXPECT_EQ(v.value.colour.x, rows[i].value.x) << procedure->name << " " << rows[i].name;
            EXPECT_EQ(v.value.colour.z, rows[i].value.z) << procedure->name << " " << rows[i].name;
            EXPECT_EQ(v.value.texture, nullptr);
            if (!curvature) {
                EXPECT_EQ(v.text, "") << procedure->name << " " << rows[i].name;
            }
        }
    }
}

TEST_F(TextureParameters, SomeProceduresTakeColourForColor) {
    AR_TextureInfo* chrome =
        declared("environment t (procedure = Chrome, floor_colour = (1, 2, 3), sky_color = 4);");
    ASSERT_NE(chrome, nullptr);
    EXPECT_FLOAT_EQ(value_of(*chrome, "floor_color").value.colour.y, 2.0f);
    EXPECT_FLOAT_EQ(value_of(*chrome, "sky_color").value.scalar, 4.0f);
    AR_TextureInfo* marble = declared("environment t (procedure = Marble, filler_colour_g = 7);");
    ASSERT_NE(marble, nullptr);
    EXPECT_FLOAT_EQ(value_of(*marble, "filler_color_g").value.scalar, 7.0f);
    AR_TextureInfo* cloth = declared("environment t (procedure = Cloth, gap_colour = 5);");
    ASSERT_NE(cloth, nullptr);
    EXPECT_FLOAT_EQ(value_of(*cloth, "gap_color").value.scalar, 5.0f);
}

TEST_F(TextureParameters, OtherProceduresKnowColorOnly) {
    EXPECT_EXIT(declared("environment t (procedure = sMarble, vein_colour = 1);"),
                testing::ExitedWithCode(1),
                "^ERROR: Unknown parameter in sMarble: vein_colour\nCouldn't parse vein_colour\n$");
}

TEST_F(TextureParameters, ValuesKeepTheFormTheyAreWrittenIn) {
    AR_TextureInfo* t = declared(
        "environment t (procedure = Stencil, image = \"logo.tif\", mask = environment "
        "(procedure = Checker), color_key = (1, 2, 3), threshold = 0.25);");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(value_of(*t, "image").text, "logo.tif");
    EXPECT_NE(value_of(*t, "mask").value.texture, nullptr);
    EXPECT_FLOAT_EQ(value_of(*t, "color_key").value.colour.z, 3.0f);
    EXPECT_FLOAT_EQ(value_of(*t, "threshold").value.scalar, 0.25f);
}

TEST_F(TextureParameters, TheCommonParametersStartFromTheFramesOwnValues) {
    AR_TextureInfo* t = declared("environment t (procedure = Checker);");
    ASSERT_NE(t, nullptr);
    const TextureFrameValues fresh;
    for (const Parameter& row : texture_common_parameters().rows) {
        if (row.store.kind == FieldKind::FLOAT || row.store.kind == FieldKind::BOOL) {
            EXPECT_EQ(field_number(&t->frame, row.store), field_number(&fresh, row.store))
                << row.name;
        }
    }
    for (const TexturedValue* value : {&t->frame.amult, &t->frame.rgbmult}) {
        const TexturedValue& initial = value == &t->frame.amult ? fresh.amult : fresh.rgbmult;
        EXPECT_EQ(value->scalar, initial.scalar);
        EXPECT_EQ(value->colour.y, initial.colour.y);
    }
    EXPECT_EQ(t->frame.overlay, nullptr);
}

TEST_F(TextureParameters, CommonSynonyms) {
    AR_TextureInfo* t = declared(
        "environment t (procedure = Checker, chordTexture = ON, xform_name = \"place\", blend = "
        "0.25);");
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(t->frame.chord_length);
    EXPECT_STREQ(t->frame.transformation_name, "place");
    EXPECT_FLOAT_EQ(t->frame.uoffset, 0.25f);
}

TEST_F(TextureParameters, CurvatureTypesByNameOrByTheProceduresName) {
    AR_TextureInfo* named =
        declared("environment t (procedure = Gaussian, curve_type = \"Mean\");");
    ASSERT_NE(named, nullptr);
    EXPECT_FLOAT_EQ(value_of(*named, "curve_type").value.scalar, 1.0f);
    AR_TextureInfo* selected = declared("environment t (procedure = PrincMax);");
    ASSERT_NE(selected, nullptr);
    EXPECT_EQ(value_of(*selected, "curve_type").text, "PrincMax");
    EXPECT_FLOAT_EQ(value_of(*selected, "curve_type").value.scalar, 3.0f);
}

TEST_F(TextureParameters, AHighlightDirectionIsMadeUnitLengthFromItsComponents) {
    AR_TextureInfo* t =
        declared("environment t (procedure = Directional, hldirection_x = 3, hldirection_z = 4);");
    ASSERT_NE(t, nullptr);
    const Triple& d = value_of(*t, "hldirection").value.colour;
    EXPECT_FLOAT_EQ(d.x, 0.6f);
    EXPECT_FLOAT_EQ(d.y, 0.0f);
    EXPECT_FLOAT_EQ(d.z, 0.8f);
    testing::internal::CaptureStderr();
    AR_TextureInfo* zero = declared("environment t (procedure = Directional, hldirection_z = 0);");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Bad highlight direction vector, setting to (0, 0, 1)\n");
    EXPECT_FLOAT_EQ(value_of(*zero, "hldirection").value.colour.z, 1.0f);
}

}  // namespace
}  // namespace sky::test
