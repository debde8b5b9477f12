// Shading models against values computed independently for a few normals,
// view and light directions; compositing, incandescence and glow; the
// shader evaluation's defaults, corrections and failures.
#include "shading/shader.h"

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "base/vecmath.h"
#include "scene/scene_clock.h"
#include "shading/shading_test_support.h"

namespace sky::test {
namespace {

using Shaders = ShadingTest;

// Shades one layer over `behind` and returns the sample's colour.
struct Shaded {
    float rgba[4];
};
Shaded shade(const AR_ShaderInfo& shader, AR_ShadePoint p,
             std::initializer_list<const AR_LightInfo*> lights, Shaded behind = {{0, 0, 0, 0}}) {
    std::vector<const AR_LightInfo*> list(lights);
    p.lights = list;
    p.output = behind.rgba;
    Ar_shade_layer(shader, p);
    return behind;
}

TEST_F(Shaders, LambertWithADirectionalLight) {
    AR_LightInfo* sun = light("light l (model = directional, direction = (-1, 0, -1));");
    AR_ShaderInfo* s = shader("shader s (model = lambert, color = (200, 100, 50), diffuse = 0.8);");
    ASSERT_NE(sun, nullptr);
    ASSERT_NE(s, nullptr);
    Shaded out = shade(*s, facing_point(), {sun});
    const float k = 0.8f * std::sqrt(0.5f);  // diffuse × N·L, the light white
    EXPECT_NEAR(out.rgba[0], 200 * k, 1e-3f);
    EXPECT_NEAR(out.rgba[1], 100 * k, 1e-3f);
    EXPECT_NEAR(out.rgba[2], 50 * k, 1e-3f);
    EXPECT_FLOAT_EQ(out.rgba[3], 255.0f);
    // Tilting the normal toward the light brightens it to diffuse × 1.
    AR_ShadePoint toward = facing_point();
    toward.normal = unit(1, 0, 1);
    EXPECT_NEAR(shade(*s, toward, {sun}).rgba[0], 200 * 0.8f, 1e-3f);
}

TEST_F(Shaders, PhongHighlight) {
    AR_LightInfo* sun = light("light l (model = directional, direction = (0.2, 0, -1));");
    AR_ShaderInfo* s = shader(
        "shader s (model = phong, color = (100, 100, 100), diffuse = 0.8, specular = 0.5, "
        "shinyness = 20);");
    ASSERT_NE(s, nullptr);
    AR_ShadePoint p = facing_point();
    p.view = unit(0.3f, 0, 1);
    Shaded out = shade(*s, p, {sun});
    // Independently: N = z, L and V as given, R = 2(N·V)N − V.
    double lx = -0.2, lz = 1, ll = std::sqrt(lx * lx + lz * lz);
    lx /= ll, lz /= ll;
    double vx = 0.3, vz = 1, vl = std::sqrt(vx * vx + vz * vz);
    vx /= vl, vz /= vl;
    double rx = -vx, rz = 2 * vz * 1 - vz;
    double rl = rx * lx + rz * lz;
    double highlight = std::pow(rl, 20);
    // gloss 0: the highlight takes the surface colour (100/255), intensity 1.
    double expected = 100 * 0.8 * lz + 255 * highlight * (100.0 / 255.0);
    EXPECT_NEAR(out.rgba[0], expected, 1e-2);
}

TEST_F(Shaders, PhongDropsHighlightsBelowTheExponentLimit) {
    AR_LightInfo* sun = light("light l (model = directional, direction = (0.6, 0, -0.8));");
    // R·L = 0.8 at this view: ln(0.8) × 100 = −22.3 < −12.5.
    AR_ShaderInfo* s =
        shader("shader s (model = phong, color = (100, 100, 100), diffuse = 1, shinyness = 100);");
    ASSERT_NE(s, nullptr);
    Shaded out = shade(*s, facing_point(), {sun});
    EXPECT_NEAR(out.rgba[0], 100 * 0.8f, 1e-3f);  // the diffuse term alone
}

TEST_F(Shaders, BlinnHighlight) {
    AR_LightInfo* sun = light("light l (model = directional, direction = (0.3, 0, -1));");
    AR_ShaderInfo* s = shader(
        "shader s (model = blinn, color = (100, 100, 100), diffuse = 0, specular = 1, gloss = 1,"
        " eccentricity = 0.3, specular_rolloff = 0.3);");
    ASSERT_NE(s, nullptr);
    AR_ShadePoint p = facing_point();
    p.view = unit(0.2f, 0, 1);
    Shaded out = shade(*s, p, {sun});

    const Imath::V3d L = normalise(Imath::V3d(-0.3, 0, 1)), V = normalise(Imath::V3d(0.2, 0, 1));
    const Imath::V3d H = normalise(L + V);
    double nh = H.z, vh = dot(V, H), nl = L.z, nv = V.z;
    double c = 1.0 / (0.09 - 1.0);
    double D = (c + 1) / (nh * nh + c);
    double G = nl > nv ? (vh > 2 * nh * nv ? 2 * nh / vh : 1 / nv)
                       : (vh > 2 * nh * nl ? 2 * nh * nl / (vh * nv) : 1 / nv);
    double F = (1 - std::pow(1 - vh, 3)) * 0.7 + std::pow(1 - vh, 3);
    double expected = 255 * F * D * D * G;  // specular 1, gloss 1: white highlight
    EXPECT_NEAR(out.rgba[0], expected, 1e-2 * expected);
}

TEST_F(Shaders, AmbientShadeThroughLambert) {
    AR_LightInfo* flat = light("light l (model = ambient, ambient_shade = 0);", Triple{0, 0, 10});
    AR_ShaderInfo* s = shader("shader s (model = lambert, color = (200, 100, 50));");
    ASSERT_NE(s, nullptr);
    AR_ShadePoint p = facing_point();
    p.normal = unit(1, 0, 1);
    // The ambient light is not scaled by diffuse: the full colour.
    EXPECT_NEAR(shade(*s, p, {flat}).rgba[0], 200.0f, 1e-3f);
    AR_LightInfo* shaded = light("light l (model = ambient, ambient_shade = 1);", Triple{0, 0, 10});
    EXPECT_NEAR(shade(*s, p, {shaded}).rgba[0], 200.0f * std::sqrt(0.5f), 1e-3f);
}

// Each light answers for itself: one that does not reach the point (a spot
// turned away, a directional light behind the surface) leaves the sums of
// the others to the bit, wherever it stands in the list, whether the
// lighting loop takes its model inline or through its row.
TEST_F(Shaders, ALightThatDoesNotReachThePointChangesNothing) {
    AR_LightInfo* key = light("light l (model = spot, spread = 60);", Triple{1, 0, 10});
    AR_LightInfo* away =
        light("light l (model = spot, shine_along = (0, 0, 1));", Triple{0, 0, 10});
    AR_LightInfo* fill =
        light("light l (model = ambient, intensity = 0.2, ambient_shade = 0);", Triple{0, 0, 10});
    AR_LightInfo* behind = light("light l (model = directional, direction = (0, 0, 1));");
    AR_ShaderInfo* s = shader("shader s (model = phong, color = (200, 100, 50));");
    ASSERT_TRUE(key && away && fill && behind && s);
    const AR_ShadePoint p = facing_point();
    const Shaded lit = shade(*s, p, {key, fill});
    // The key light and its highlight, and the fill light's fifth.
    EXPECT_GT(lit.rgba[0], 0.2f * 200.0f + 1.0f);
    EXPECT_LT(lit.rgba[0], 255.0f * 2.0f);
    for (const auto& lights : {std::vector<const AR_LightInfo*>{away, key, fill},
                               std::vector<const AR_LightInfo*>{key, behind, fill},
                               std::vector<const AR_LightInfo*>{key, fill, away, behind},
                               std::vector<const AR_LightInfo*>{behind, away, key, fill}}) {
        AR_ShadePoint q = p;
        q.lights = lights;
        Shaded out{{0, 0, 0, 0}};
        q.output = out.rgba;
        Ar_shade_layer(*s, q);
        for (int c = 0; c < 4; ++c) EXPECT_EQ(out.rgba[c], lit.rgba[c]) << lights.size() << c;
    }
    // Neither reaches it alone.
    const Shaded dark = shade(*s, p, {away, behind});
    for (int c = 0; c < 3; ++c) EXPECT_EQ(dark.rgba[c], 0.0f);
}

TEST_F(Shaders, TransparencyCompositesOverWhatIsBehind) {
    AR_ShaderInfo* s = shader(
        "shader s (model = lightsource, color = (200, 0, 0), transparency = (127.5, 127.5, 127.5),"
        " incandescence = (0, 10, 0));");
    ASSERT_NE(s, nullptr);
    Shaded out = shade(*s, facing_point(), {}, Shaded{{0, 0, 200, 0}});
    EXPECT_NEAR(out.rgba[0], 100.0f, 1e-3f);
    EXPECT_NEAR(out.rgba[1], 10.0f, 1e-3f);  // incandescence after compositing
    EXPECT_NEAR(out.rgba[2], 100.0f, 1e-3f);
    EXPECT_NEAR(out.rgba[3], 127.5f, 1e-3f);
    // Opaque: alpha 255 whatever was behind.
    AR_ShaderInfo* opaque = shader("shader s (model = lightsource, color = (10, 20, 30));");
    Shaded solid = shade(*opaque, facing_point(), {}, Shaded{{0, 0, 200, 7}});
    EXPECT_FLOAT_EQ(solid.rgba[2], 30.0f);
    EXPECT_FLOAT_EQ(solid.rgba[3], 255.0f);
}

TEST_F(Shaders, TranslucenceLightsTheBackOnlyWhenDepthAsksForIt) {
    AR_LightInfo* behind = light("light l (model = point, decay = 0);", Triple{0, 0, -5});
    AR_ShaderInfo* thin = shader(
        "shader s (model = lambert, color = (255, 255, 255), translucence = 0.5, "
        "translucence_depth = 0);");
    ASSERT_NE(thin, nullptr);
    EXPECT_FLOAT_EQ(shade(*thin, facing_point(), {behind}).rgba[0], 0.0f);
    AR_ShaderInfo* deep = shader(
        "shader s (model = lambert, color = (255, 255, 255), translucence = 0.5, "
        "translucence_depth = 1);");
    // colour × light × τ, τ = 0.5/255.
    EXPECT_NEAR(shade(*deep, facing_point(), {behind}).rgba[0], 255.0f * 255.0f * 0.5f / 255.0f,
                1e-2f);
}

TEST_F(Shaders, GlowPassLeavesTheColourAndFillsTheGlow) {
    scene_clock().frame = 1.0f;
    AR_ShaderInfo* s =
        shader("shader s (model = lightsource, color = (100, 50, 0), glow_intensity = 0.5);");
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(Ar_shader_glow_on());
    AR_ShadePoint p = facing_point();
    float glow[3] = {0, 0, 0};
    p.glow = glow;
    p.mode = 1;
    Shaded out = shade(*s, p, {}, Shaded{{1, 2, 3, 4}});
    EXPECT_FLOAT_EQ(out.rgba[0], 1.0f);
    EXPECT_FLOAT_EQ(glow[0], 50.0f);
    EXPECT_FLOAT_EQ(glow[1], 25.0f);
}

TEST_F(Shaders, DefaultsAndSilentCorrections) {
    testing::internal::CaptureStderr();
    AR_ShaderInfo* plain = shader("shader s (model = phong);");
    AR_ShaderInfo* fixed = shader(
        "shader s (model = phong, refractive_index = 0, transparency_shade = 1.5, "
        "shadow_level_limit = -5,"
        " reflection_limit = -1, clearcoat_index = 0.01, specular_intensity = 2, gloss = 1.5);");
    AR_ShaderInfo* low = shader("shader s (model = lambert, transparency_shade = -0.2);");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(fixed, nullptr);
    EXPECT_FLOAT_EQ(plain->param[SHADER_REFRACTIVE_INDEX], 10.0f);
    EXPECT_FLOAT_EQ(plain->param[SHADER_TRANSLUCENCE_DEPTH], 0.5f);
    EXPECT_EQ(static_cast<AR_PhongShaderInfo*>(plain->model_info)->shinyness, 20);
    EXPECT_FLOAT_EQ(static_cast<AR_PhongShaderInfo*>(plain->model_info)->gloss, 0.0f);
    EXPECT_FLOAT_EQ(fixed->param[SHADER_REFRACTIVE_INDEX], 0.001f);
    EXPECT_FLOAT_EQ(fixed->param[SHADER_TRANSPARENCY_SHADE], 1.0f);
    EXPECT_FLOAT_EQ(fixed->param[SHADER_SHADOW_LEVEL_LIMIT], -1.0f);
    EXPECT_FLOAT_EQ(fixed->param[SHADER_REFLECTION_LIMIT], 0.0f);
    EXPECT_FLOAT_EQ(fixed->param[SHADER_CLEARCOAT_INDEX], 0.1f);
    EXPECT_FLOAT_EQ(static_cast<AR_PhongShaderInfo*>(fixed->model_info)->specular_intensity, 1.0f);
    EXPECT_FLOAT_EQ(static_cast<AR_PhongShaderInfo*>(fixed->model_info)->gloss, 1.0f);
    EXPECT_FLOAT_EQ(low->param[SHADER_TRANSPARENCY_SHADE], 0.0f);
}

TEST_F(Shaders, HiddenBlackGlowSourceStillGlows) {
    AR_ShaderInfo* s = shader(
        "shader s (model = lambert, color = (0, 0, 0), hide_glow_source = ON, glow_intensity = "
        "0.5);");
    ASSERT_NE(s, nullptr);
    EXPECT_FLOAT_EQ(s->color.colour.x, 0.001f);
    EXPECT_FLOAT_EQ(s->color.colour.z, 0.001f);
    EXPECT_FLOAT_EQ(s->transparency_luminance, 0.001f);
    AR_ShaderInfo* visible =
        shader("shader s (model = lambert, color = (0, 0, 0), glow_intensity = 0.5);");
    EXPECT_FLOAT_EQ(visible->color.colour.x, 0.0f);
}

// A mirror whose reflected ray falls between the lines of a ruled floor:
// sharp while the mirror is flat and its footprint small, the floor's mean
// once the surface curves so much that the reflected rays fan over many
// lines.
TEST_F(Shaders, ReflectionMapsAreFilteredByTheReflectedRaysSpread) {
    set_shading_camera(Matrix4{});
    AR_ShaderInfo* s = shader(
        "shader s (model = phong, color = (0, 0, 0), diffuse = 0, specular = (255, 255, 255), "
        "reflectivity = 1, reflection = environment (procedure = Chrome, floor_color = 0, "
        "grid_color = 255, grid_width = 0.1, grid_depth = 0.1));");
    ASSERT_NE(s, nullptr);
    // Seen from +z; the mirror sends the view toward (0.5, -1, 0.5), which
    // meets the floor one unit down at (0.5, 0.5): between the lines.
    const Triple view{0, 0, 1}, mirrored = unit(0.5f, -1, 0.5f);
    AR_ShadePoint p = facing_point();
    p.position = Triple{0, 0, -5};
    p.view = view;
    p.normal = normalise(add(view, mirrored));
    p.edge[0] = Triple{0.01f, 0, 0};
    p.edge[1] = Triple{0, 0.01f, 0};
    p.edge_x[0] = p.edge_y[1] = 1.0f;  // the footprint is the triangle's size
    auto grey = [&](float radius) {
        // The normal turns as on a sphere of this radius.
        for (int e = 0; e < 2; ++e) p.normal_change[e] = scale(p.edge[e], 1.0f / radius);
        return shade(*s, p, {}).rgba[0];
    };
    // Flat, the footprint a thousandth of a unit: the black between the lines.
    p.edge_x[0] = p.edge_y[1] = 0.1f;
    EXPECT_NEAR(grey(1e30f), 0.0f, 0.5f);
    // A ball a hundredth of a unit across: the lines' share of the floor,
    // 1 − 0.9², as grey.
    p.edge_x[0] = p.edge_y[1] = 1.0f;
    const float mean = 255.0f * (1.0f - 0.9f * 0.9f);
    EXPECT_NEAR(grey(0.005f), mean, 0.1f * mean);
    // A gently curved mirror stays sharp; one that fans its rays over about
    // a line's spacing already shows some of the lines.
    EXPECT_NEAR(grey(2.0f), 0.0f, 0.5f);
    EXPECT_GT(grey(0.05f), 5.0f);
}

TEST_F(Shaders, TheModelTableInItsOrder) {
    auto rows = shader_models();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_STREQ(rows[0].name, "blinn");
    EXPECT_STREQ(rows[1].name, "lightsource");
    EXPECT_STREQ(rows[2].name, "lambert");
    EXPECT_STREQ(rows[3].name, "phong");
    EXPECT_EQ(find_shader_model("Phong"), nullptr);
}

TEST(ShaderDeath, EvaluationFailuresEndTheRun) {
    EXPECT_EXIT(
        ShadingTest::evaluate_declared_shader("shader s (model = blinn, eccentricity = 1.0);"),
        testing::ExitedWithCode(1), "^Error in blinn Shader evaluate routine\n$");
    AR_ShaderModel row = *find_shader_model("lambert");
    auto eval_of_lambert = row.eval;
    row.eval = nullptr;
    row.copy = nullptr;
    EXPECT_EXIT(check_shader_model(row), testing::ExitedWithCode(1),
                "^Unspecified lambert shader eval routine\n$");
    row.eval = eval_of_lambert;
    row.init = nullptr;  // copy is checked before init
    EXPECT_EXIT(check_shader_model(row), testing::ExitedWithCode(1),
                "^Unspecified lambert shader copy routine\n$");
}

TEST(ShaderDeath, AParseRoutineHandedNoNodeSaysWhichModel) {
    const char* models[][2] = {{"blinn", "^Error parsing Blinn shader\n$"},
                               {"lightsource", "^Error parsing Lightsource shader\n$"},
                               {"lambert", "^Error parsing lambert shader\n$"},
                               {"phong", "^Error parsing phong shader\n$"}};
    for (const auto& [name, message] : models) {
        const AR_ShaderModel& model = *find_shader_model(name);
        EXPECT_EXIT(model.parse(nullptr, "diffuse", nullptr), testing::ExitedWithCode(1), message)
            << name;
    }
}

}  // namespace
}  // namespace sky::test
