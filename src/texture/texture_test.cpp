// The texture frame and Checker, through scenes read by the renderer's own
// reader: the check pattern and its filtering, the colour adjustments, the
// parameter names and the procedure table.
#include "texture/texture.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "texture/procedure_names.h"
#include "texture/texture_procedure.h"
#include "texture/texture_test_support.h"

namespace sky::test {
namespace {

constexpr const char* kRedBlue =
    "environment t (procedure = Checker, color1 = (255, 0, 0), color2 = (0, 0, 255));";

using Checker = TextureTest;

TEST_F(Checker, FullContrastAlternatesTheTwoColoursAwayFromEdges) {
    AR_TextureInfo* t = declared(kRedBlue);
    ASSERT_NE(t, nullptr);
    expect_colour(look(*t, 0.25f, 0.25f), 255, 0, 0);
    expect_colour(look(*t, 0.75f, 0.25f), 0, 0, 255);
    expect_colour(look(*t, 0.25f, 0.75f), 0, 0, 255);
    expect_colour(look(*t, 0.75f, 0.75f), 255, 0, 0);
    // The pattern repeats with the integer part of (u, v).
    expect_colour(look(*t, 3.25f, -0.75f), 255, 0, 0);
    // Alpha is the luminance of the colour.
    EXPECT_NEAR(look(*t, 0.25f, 0.25f).alpha, 0.3f, 1e-5f);
}

TEST_F(Checker, DefaultsAreBlackAndWhite) {
    AR_TextureInfo* t = declared("environment t (procedure = Checker);");
    ASSERT_NE(t, nullptr);
    TextureColour black = look(*t, 0.25f, 0.25f);
    expect_colour(black, 0, 0, 0);
    EXPECT_NEAR(black.alpha, 0.0f, 1e-6f);
    TextureColour white = look(*t, 0.75f, 0.25f);
    expect_colour(white, 255, 255, 255);
    EXPECT_NEAR(white.alpha, 1.0f, 1e-5f);
}

TEST_F(Checker, FilterWidthsOfTwoOrMoreGiveTheMeanEverywhere) {
    AR_TextureInfo* t = declared(kRedBlue);
    ASSERT_NE(t, nullptr);
    for (float width : {1.0f, 2.0f, 7.5f})
        for (float u : {0.1f, 0.25f, 0.6f, 0.75f})
            expect_colour(look(*t, u, 0.3f, width, width), 127.5f, 0, 127.5f);
}

TEST_F(Checker, ContrastFadesNearEdgesAndWithWideFilters) {
    AR_TextureInfo* t = declared(kRedBlue);
    ASSERT_NE(t, nullptr);
    // f = 0.1: w = 0.2, below both edge distances (0.5) at the centre of a check.
    expect_colour(look(*t, 0.25f, 0.25f, 0.1f, 0.1f), 255, 0, 0);
    // At u = 0.45 the edge is 0.1 away (in doubled units): c = 0.1 / 0.2.
    expect_colour(look(*t, 0.45f, 0.25f, 0.1f, 0.1f), 0.75f * 255, 0, 0.25f * 255, 0.02f);
    // f = 0.75: w = 1.5, c = 0.5 / 1.5 × (2 − 1.5) = 1/6 at a check's centre.
    float a = (1.0f / 6.0f + 1.0f) / 2.0f;
    expect_colour(look(*t, 0.25f, 0.25f, 0.75f, 0.75f), a * 255, 0, (1 - a) * 255, 0.02f);
    // The larger of the two widths counts.
    expect_colour(look(*t, 0.25f, 0.25f, 0.0f, 2.0f), 127.5f, 0, 127.5f);
}

TEST_F(Checker, BlurMultiplierAndOffsetWidenTheFilter) {
    AR_TextureInfo* offset =
        declared(std::string(kRedBlue, std::strlen(kRedBlue) - 2) + ", bluroffset = 1);");
    ASSERT_NE(offset, nullptr);
    expect_colour(look(*offset, 0.25f, 0.25f), 127.5f, 0, 127.5f);
    AR_TextureInfo* mult =
        declared(std::string(kRedBlue, std::strlen(kRedBlue) - 2) + ", blurmult = 0);");
    ASSERT_NE(mult, nullptr);
    expect_colour(look(*mult, 0.25f, 0.25f, 5.0f, 5.0f), 255, 0, 0);
}

TEST_F(Checker, ColourSpellingsAndNestedColourTextures) {
    AR_TextureInfo* t = declared(
        "environment t (procedure = Checker, colour1 = (10, 20, 30),"
        " colour2 = environment (procedure = Checker, color1 = (0, 255, 0), urepeat = 2));");
    ASSERT_NE(t, nullptr);
    expect_colour(look(*t, 0.25f, 0.25f), 10, 20, 30);
    // The second checks show the nested checker, which repeats twice: at
    // u = 0.6 its s is 0.2 (its first check), at u = 0.9 it is 0.8.
    expect_colour(look(*t, 0.6f, 0.1f), 0, 255, 0);
    expect_colour(look(*t, 0.9f, 0.1f), 255, 255, 255);
}

using TextureFrame = TextureTest;

TEST_F(TextureFrame, InvertTurnsOpaqueWhiteIntoTransparentBlack) {
    AR_TextureInfo* t = declared("environment t (procedure = Checker, invert = ON);");
    ASSERT_NE(t, nullptr);
    TextureColour out = look(*t, 0.75f, 0.25f);
    expect_colour(out, 0, 0, 0);
    EXPECT_NEAR(out.alpha, 0.0f, 1e-5f);
    TextureColour other = look(*t, 0.25f, 0.25f);
    expect_colour(other, 255, 255, 255);
    EXPECT_NEAR(other.alpha, 1.0f, 1e-5f);
}

TEST_F(TextureFrame, MultipliersAndOffsetsAdjustTheResult) {
    AR_TextureInfo* t = declared(
        "environment t (procedure = Checker, color2 = (200, 100, 50), rgbmult = (0.5, 1, 2),"
        " rgboffset = (1, 2, 3), amult = 0.5, aoffset = 0.25);");
    ASSERT_NE(t, nullptr);
    TextureColour out = look(*t, 0.75f, 0.25f);
    expect_colour(out, 101, 102, 103);
    float luminance = (0.3f * 200 + 0.59f * 100 + 0.11f * 50) / 255.0f;
    EXPECT_NEAR(out.alpha, luminance * 0.5f + 0.25f, 1e-5f);
}

TEST_F(TextureFrame, TexturedMultiplierScalesByItsColourOver255) {
    AR_TextureInfo* t = declared(
        "environment t (procedure = Checker, color1 = (200, 200, 200),"
        " rgbmult = environment (procedure = Checker, color1 = (255, 0, 51), urepeat = 1));");
    ASSERT_NE(t, nullptr);
    TextureColour out = look(*t, 0.25f, 0.25f);
    expect_colour(out, 200, 0, 40, 0.01f);
}

TEST_F(TextureFrame, OutsideTheCoverageWithoutWrapShowsRgbout) {
    AR_TextureInfo* t = declared(
        "environment t (procedure = Checker, color1 = (255, 0, 0), ucoverage = 0.5,"
        " utranslate = 0.25, uwrap = OFF, rgbout = (1, 2, 3), aout = 0.5);");
    ASSERT_NE(t, nullptr);
    TextureColour out = look(*t, 0.1f, 0.25f);
    expect_colour(out, 1, 2, 3);
    EXPECT_NEAR(out.alpha, 0.5f, 1e-6f);
    expect_colour(look(*t, 0.3f, 0.25f), 255, 0, 0);      // s = 0.1
    expect_colour(look(*t, 0.6f, 0.25f), 255, 255, 255);  // s = 0.7
}

TEST_F(TextureFrame, WrapSetsBothDirectionsAndBlendIsTheUOffset) {
    AR_TextureInfo* t =
        declared("environment t (procedure = Checker, wrap = OFF, blend = 0.5, voffset = 0.25);");
    ASSERT_NE(t, nullptr);
    EXPECT_FALSE(t->frame.uwrap);
    EXPECT_FALSE(t->frame.vwrap);
    EXPECT_FLOAT_EQ(t->frame.uoffset, 0.5f);
    EXPECT_FLOAT_EQ(t->frame.voffset, 0.25f);
}

TEST_F(TextureFrame, InactiveTexturesAndTexturingOffLeaveTheCallerAlone) {
    AR_TextureInfo* t = declared("environment t (procedure = Checker, active = OFF);");
    ASSERT_NE(t, nullptr);
    TextureLookup at;
    TextureColour out;
    out.r = 7;
    EXPECT_FALSE(Ar_invoke_texture(*t, at, out));
    EXPECT_EQ(out.r, 7);
    AR_TextureInfo* on = declared("environment t (procedure = Checker);");
    ASSERT_NE(on, nullptr);
    Ar_set_texturing(false);
    EXPECT_FALSE(Ar_invoke_texture(*on, at, out));
    Ar_set_texturing(true);
    EXPECT_TRUE(Ar_invoke_texture(*on, at, out));
}

TEST_F(TextureFrame, OverlayGoesOverTheResultByItsAlpha) {
    // The overlay's white check is opaque (alpha 1) and its black one clear.
    AR_TextureInfo* t = declared(
        "environment t (procedure = Checker, color1 = (255, 0, 0), color2 = (255, 0, 0),"
        " overlay = environment (procedure = Checker));");
    ASSERT_NE(t, nullptr);
    expect_colour(look(*t, 0.25f, 0.25f), 255, 0, 0);
    expect_colour(look(*t, 0.75f, 0.25f), 255, 255, 255);
}

TEST_F(TextureFrame, ColourRemapLooksUpByHueAndAlpha) {
    // (128, 255, 0) has a hue of about 90 degrees and a luminance of 0.74:
    // the remap checker is looked up near (0.25, 0.74), its second check.
    AR_TextureInfo* t = declared(
        "environment t (procedure = Checker, color1 = (128, 255, 0),"
        " color_remap = environment (procedure = Checker, color2 = (0, 9, 0)));");
    ASSERT_NE(t, nullptr);
    expect_colour(look(*t, 0.25f, 0.25f), 0, 9, 0);
}

TEST_F(TextureFrame, TexturesFollowTheFrame) {
    AR_TextureInfo* t = declared(
        "scalar k (0.25);\nenvironment t (procedure = Checker, color1 = (255, 0, 0), uoffset = "
        "k);");
    ASSERT_NE(t, nullptr);
    expect_colour(look(*t, 0.1f, 0.1f), 255, 0, 0);  // s = 0.35
    find_symbol("k")->scalar() = 0.5f;
    Ar_evaluate_texture(*t);
    expect_colour(look(*t, 0.1f, 0.1f), 255, 255, 255);  // s = 0.6
}

TEST_F(TextureFrame, ThirtyTwoNestedTexturesEvaluateAndLookUp) {
    // The innermost is opaque everywhere, so it shows through every overlay.
    std::string body = "environment (procedure = Checker, color1 = (0, 0, 77), aoffset = 1)";
    for (int depth = 1; depth < 32; ++depth)
        body = "environment (procedure = Checker, overlay = " + body + ")";
    AR_TextureInfo* t = declared("environment t " + body.substr(12) + ";");
    ASSERT_NE(t, nullptr);
    TextureColour out = look(*t, 0.25f, 0.25f);
    expect_colour(out, 0, 0, 77);
}

TEST(TextureProcedures, TheTableHoldsEveryNameAndTheSelections) {
    EXPECT_EQ(texture_procedure_count(), 33);
    for (const char* name :
         {"Ball",        "Bulge",    "Checker",   "Chrome",  "Cloth",      "Cube",      "Curvature",
          "Directional", "Fractal",  "Geometric", "Granite", "Grid",       "Highlight", "Leather",
          "Marble",      "Mount",    "Mountain",  "Noise",   "Projection", "Ramp",      "Sky",
          "Snow",        "Sphere",   "Stencil",   "Volume",  "Water",      "file",      "sCloud",
          "sFile",       "sFractal", "sMarble",   "sRock",   "sWood"})
        EXPECT_NE(find_texture_procedure(name), nullptr) << name;
    EXPECT_EQ(find_texture_procedure("Gaussian"), find_texture_procedure("Curvature"));
    EXPECT_EQ(find_texture_procedure("SnowDepthRGB"), find_texture_procedure("Snow"));
    EXPECT_EQ(find_texture_procedure("checker"), nullptr);  // names are exact
    EXPECT_EQ(find_texture_procedure("Directional")->parse,
              find_texture_procedure("Highlight")->parse);
}

using ParameterProcedures = TextureTest;

TEST_F(ParameterProcedures, GaussianIsACurvatureTextureOfThatType) {
    AR_TextureInfo* t = declared("environment t (procedure = Gaussian, cscale = 2);");
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->procedure->name, "Curvature");
    EXPECT_STREQ(t->variant, "Gaussian");
}

TEST_F(ParameterProcedures, UncalculatedProceduresGiveTheirOutsideColour) {
    AR_TextureInfo* t =
        declared("environment t (procedure = Volume, mapping = 1, rgbout = (9, 8, 7), aout = 1);");
    ASSERT_NE(t, nullptr);
    TextureColour out = look(*t, 0.3f, 0.3f);
    expect_colour(out, 9, 8, 7);
    EXPECT_NEAR(out.alpha, 1.0f, 1e-6f);
}

TEST_F(ParameterProcedures, EveryProcedureReadsItsOwnParameters) {
    // One parameter of each, written with a nested texture where one fits.
    const char* scenes[] = {
        "environment t (procedure = Grid, line_colour = (1, 2, 3), uwidth = 0.2);",
        "environment t (procedure = Marble, vein_colour_r = 9);",
        "environment t (procedure = Stencil, image = environment (procedure = Checker), mask = "
        "0.5);",
        "environment t (procedure = Projection, image = environment (procedure = Checker));",
        "environment t (procedure = Water, numwaves = 3, umax = 0.5);",
        "environment t (procedure = Sky, sun_azimuth = 10, has_floor = OFF);",
        "environment t (procedure = sWood, layer_growth_time = 2);",
        "environment t (procedure = Volume, from = \"slice\", pix_sequence = 1);",
        "environment t (procedure = Mountain, snow_color = (255, 255, 255));",
    };
    for (const char* scene : scenes) EXPECT_NE(declared(scene), nullptr) << scene;
}

}  // namespace
}  // namespace sky::test
