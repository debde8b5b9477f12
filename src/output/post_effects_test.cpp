// Depth of field and shader glow through their public calls: images written
// by the outputs and changed by the post effects, against the blur-scale and
// kernel formulas worked out here; the glow buffer filled from many threads.
#include "output/post_effects.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "output/depth_of_field.h"
#include "output/output_test_support.h"
#include "output/shader_glow.h"
#include "sdl/parse_test_support.h"
#include "texture/texture.h"

namespace sky {
namespace {

using test::OutputFixture;
using test::read_image;
using test::ReadBack;

class PostEffects : public OutputFixture {
protected:
    void TearDown() override {
        finish_shader_glow();
        OutputFixture::TearDown();
    }
};

// ---- Depth of field ----------------------------------------------------

constexpr std::int32_t kWidth = 121, kHeight = 81;
constexpr float kFocus = 10.0f, kFar = 40.0f;
constexpr std::int32_t kDotX = 85, kDotY = 40;  // image row, from the bottom

// A grey plane at the focal distance over the left third, a black
// background far behind with one white pixel.
void scene_row(std::int32_t y, std::vector<float>& colour, std::vector<float>& depth) {
    colour.assign(kWidth * 4, 0.0f);
    depth.assign(kWidth, kFar);
    for (std::int32_t x = 0; x < kWidth; ++x) {
        colour[4 * x + 3] = 255.0f;
        if (x < 40) {
            for (int c = 0; c < 3; ++c) colour[4 * x + c] = 100.0f + x + c;
            depth[x] = kFocus;
        }
    }
    if (y == kDotY)
        for (int c = 0; c < 3; ++c) colour[4 * kDotX + c] = 255.0f;
}

CameraRecord dof_camera(CameraRecord record) {
    record.depth_of_field = 1;
    record.angle_of_view = 0.6f;
    record.focal_distance = kFocus;
    record.scaling_factor = 1.0f;
    record.focal_length = 3.5f;
    record.f_stop = 1.4f;
    record.viewport[0] = 0, record.viewport[1] = kWidth - 1;
    record.viewport[2] = 0, record.viewport[3] = kHeight - 1;
    return record;
}

void render_scene(OutputContext& context, const CameraRecord& record) {
    open_outputs(context, record, 0, kWidth - 1, 0, kHeight - 1, 1);
    std::vector<float> colour, depth;
    for (std::int32_t y = kHeight - 1; y >= 0; --y) {
        scene_row(y, colour, depth);
        output_scanline(y, context, colour.data(), depth.data(), nullptr);
    }
    close_outputs(context);
}

TEST_F(PostEffects, AFarDotSpreadsIntoADiscOfTheBlurRadiusWhileThePlaneInFocusKeepsItsBytes) {
    render_options().image_format = 5;  // the faint rim of the disc survives in the low bytes
    const CameraRecord record = dof_camera(camera("dof", "", "dof.depth"));
    OutputContext context;
    render_scene(context, record);
    const ReadBack before = read_image(file("dof"), true);
    ASSERT_TRUE(post_effects(context, record));
    const ReadBack after = read_image(file("dof"), true);
    ASSERT_TRUE(before.ok && after.ok);

    // The blur radius from the camera, worked out independently.
    const double k = (kWidth * 0.5 / (std::tan(0.3) * kFocus * 1.0)) * (3.5 / (2 * 1.4));
    const double radius = std::min(25.0, (kFar - kFocus) * k / kFar);
    ASSERT_GT(radius, 5.0);
    ASSERT_LT(radius, 25.0);

    double farthest = 0.0;
    const std::int32_t dot_row = kHeight - 1 - kDotY;
    for (std::int32_t r = 0; r < kHeight; ++r)
        for (std::int32_t x = 0; x < kWidth; ++x) {
            const std::size_t at = (static_cast<std::size_t>(r) * kWidth + x) * 8;
            if (x < 40) {
                for (int b = 0; b < 8; ++b)
                    ASSERT_EQ(after.pixels[at + b], before.pixels[at + b]) << x << "," << r;
                continue;
            }
            if (after.pixels[at] != 0 || after.pixels[at + 4] != 0)
                farthest = std::max(farthest, std::hypot(x - kDotX, r - dot_row));
        }
    EXPECT_NEAR(farthest, radius, 1.0);
    EXPECT_EQ(errors(), "");

    // The depth file now holds the blend weights.
    std::ifstream depth(file("dof.depth"), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(depth)), {});
    ASSERT_EQ(bytes.size(), 8u + 4u * kWidth * kHeight);
    auto weight = [&](std::int32_t x, std::int32_t r) {
        float w;
        std::memcpy(&w, &bytes[8 + 4 * (static_cast<std::size_t>(r) * kWidth + x)], 4);
        return w;
    };
    EXPECT_EQ(weight(10, 10), 0.0f);
    EXPECT_NEAR(weight(100, 10), 1.0 - 6.305 / (radius * radius + 5.305), 1e-5);
}

TEST_F(PostEffects, ADepthFileOfAnotherKindIsReportedAndTheImageStaysAsRendered) {
    const CameraRecord record = dof_camera(camera("keep", "", "keep.depth"));
    OutputContext context;
    render_scene(context, record);
    const std::vector<std::uint8_t> rendered = test::read_bytes(file("keep"));
    {
        std::fstream depth(file("keep.depth"), std::ios::in | std::ios::out | std::ios::binary);
        const std::uint8_t magic[4] = {0x39, 0x30, 0, 0};  // 12345
        depth.write(reinterpret_cast<const char*>(magic), 4);
    }
    post_effects(context, record);
    EXPECT_EQ(errors(), "No depth file.\n");
    const ReadBack image = read_image(file("keep"));
    const ReadBack expected = [&] {
        std::ofstream(file("copy"), std::ios::binary)
            .write(reinterpret_cast<const char*>(rendered.data()), rendered.size());
        return read_image(file("copy"));
    }();
    EXPECT_EQ(image.pixels, expected.pixels);
}

TEST_F(PostEffects, AnImageThatCannotBeReadIsReportedAndNothingIsWritten) {
    const CameraRecord record = dof_camera(camera("gone", "", "gone.depth"));
    OutputContext context;
    render_scene(context, record);
    std::filesystem::remove(file("gone"));
    EXPECT_FALSE(post_effects(context, record));
    EXPECT_NE(errors().find("Post effects: can't read " + file("gone")), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(file("gone")));
}

TEST_F(PostEffects, AFailedCopyBeforeGlowIsReportedAndLeavesTheImageAsRendered) {
    render_options().glow_jitter = false;
    CameraRecord record = dof_camera(camera("glowed", "glowed.matte"));
    record.depth_of_field = 0;
    OutputContext context;
    render_scene(context, record);
    const std::vector<std::uint8_t> image = test::read_bytes(file("glowed"));
    const std::vector<std::uint8_t> matte = test::read_bytes(file("glowed.matte"));
    // The matte's copy cannot be made: a directory has its name.
    std::filesystem::create_directory(file("glowed.matte.ng"));
    ShaderGlowSettings settings;
    start_shader_glow(settings, 0, kWidth - 1, 0, kHeight - 1, true);
    const float white[3] = {255.0f, 255.0f, 255.0f};
    for (int y = 30; y < 50; ++y)
        for (int x = 60; x < 80; ++x) deposit_glow_sample(x + 0.5, y + 0.5, white);
    EXPECT_FALSE(post_effects(context, record));
    EXPECT_EQ(errors(), "Is a directory\n");
    EXPECT_EQ(test::read_bytes(file("glowed")), image);
    EXPECT_EQ(test::read_bytes(file("glowed.matte")), matte);
    EXPECT_FALSE(std::filesystem::exists(file("glowed.ng")));  // the image's copy is gone again

    // Without the obstacle the same glow changes the image, and -P keeps the copies.
    std::filesystem::remove(file("glowed.matte.ng"));
    errors().clear();
    render_options().keep_noglow = true;
    start_shader_glow(settings, 0, kWidth - 1, 0, kHeight - 1, true);
    for (int y = 30; y < 50; ++y)
        for (int x = 60; x < 80; ++x) deposit_glow_sample(x + 0.5, y + 0.5, white);
    EXPECT_TRUE(post_effects(context, record));
    EXPECT_EQ(errors(), "");
    EXPECT_NE(test::read_bytes(file("glowed")), image);
    EXPECT_EQ(test::read_bytes(file("glowed.ng")), image);
    EXPECT_EQ(test::read_bytes(file("glowed.matte.ng")), matte);
}

// ---- Shader glow -------------------------------------------------------

// A window of 801 × 801 pixels, at whose settings the glow grid has a cell
// a pixel and the kernel 23 cells across.
constexpr std::int32_t kGlowSize = 801;

ShaderGlowSettings point_glow() {
    ShaderGlowSettings settings;
    settings.glow.spread = 0.028f;
    settings.glow.eccentricity = 1.0f;  // the kernel falls off as 1 - ρ
    settings.glow.colour = Triple{255.0f, 255.0f, 255.0f};
    settings.halo.type = 0;
    settings.quality = 1.0f;
    settings.auto_exposure = false;
    return settings;
}

// The glow a black image takes, as floats, rows from the bottom.
std::vector<float> glowed(int channel = 0) {
    std::vector<float> image(static_cast<std::size_t>(kGlowSize) * kGlowSize);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(kGlowSize) * 4);
    for (std::int32_t y = 0; y < kGlowSize; ++y) {
        std::fill(row.begin(), row.end(), 0);
        apply_shader_glow_row(row.data(), kGlowSize, false, y, 0, kGlowSize - 1);
        for (std::int32_t x = 0; x < kGlowSize; ++x)
            image[static_cast<std::size_t>(y) * kGlowSize + x] = row[4 * x + channel];
    }
    return image;
}

// Deposits white over a square of pixels around the centre.
void deposit_square(int half) {
    const float white[3] = {255.0f, 255.0f, 255.0f};
    for (int y = 400 - half; y <= 400 + half; ++y)
        for (int x = 400 - half; x <= 400 + half; ++x) deposit_glow_sample(x + 0.5, y + 0.5, white);
}

TEST_F(PostEffects, TheDefaultGlowOnA645PixelWindowHasFilterWidth21) {
    const GlowFilter filter = glow_filter(0.05f, 0.5f, 644, 484);
    EXPECT_NEAR(filter.resolution, 0.639, 0.001);
    EXPECT_EQ(filter.width, 21);
    const GlowFilter sharp = glow_filter(0.028f, 1.0f, kGlowSize - 1, kGlowSize - 1);
    EXPECT_EQ(sharp.resolution, 1.0);
    EXPECT_EQ(sharp.width, 23);
}

TEST_F(PostEffects, AGlowingPointsLightFallsOffAsTheKernelAndItsTotalScalesWithIntensity) {
    render_options().glow_jitter = false;
    double totals[2];
    for (int pass = 0; pass < 2; ++pass) {
        ShaderGlowSettings settings = point_glow();
        settings.glow.intensity = pass == 0 ? 0.5f : 1.0f;
        start_shader_glow(settings, 0, kGlowSize - 1, 0, kGlowSize - 1, true);
        deposit_square(0);
        ASSERT_TRUE(compute_shader_glow());
        const std::vector<float> image = glowed();
        const float centre = image[400 * kGlowSize + 400];
        ASSERT_GT(centre, 30.0f);
        ASSERT_LT(centre, 255.0f);
        // Along the row: the cone 1 - d / (h + 1), h = 11, to a byte.
        for (int d = 1; d <= 12; ++d) {
            const double cone = std::max(0.0, 1.0 - d / 12.0);
            EXPECT_NEAR(image[400 * kGlowSize + 400 + d], centre * cone, 1.0) << d;
            EXPECT_NEAR(image[(400 + d) * kGlowSize + 400], centre * cone, 1.0) << d;
        }
        totals[pass] = 0.0;
        for (float v : image) totals[pass] += v;
        finish_shader_glow();
    }
    EXPECT_NEAR(totals[1] / totals[0], 2.0, 0.05);
}

TEST_F(PostEffects, AutoExposureNormalisesByTheBrightestSpreadCellAndPrintsItsFactor) {
    render_options().glow_jitter = false;
    ShaderGlowSettings settings = point_glow();
    settings.auto_exposure = true;
    settings.glow.intensity = 0.02f;
    start_shader_glow(settings, 0, kGlowSize - 1, 0, kGlowSize - 1, true);
    deposit_square(0);
    ASSERT_TRUE(compute_shader_glow());

    // The kernel's centre after normalisation to a grey sum of 25.
    double sum = 0.0;
    for (int j = -11; j <= 11; ++j)
        for (int i = -11; i <= 11; ++i) sum += 1.0 - std::min(1.0, std::hypot(i, j) / 12.0);
    const double P = 255.0 * 25.0 / sum, S = 255.0;
    const double F = std::max(1.0, (P + 0.001) / (0.02 * S + 0.001));
    ASSERT_GT(F, 1.0);
    const std::string line = user();
    const std::size_t at = line.find("    Glow intensity normalization factor = ");
    ASSERT_NE(at, std::string::npos) << line;
    const double printed = std::atof(line.c_str() + at + 43);
    EXPECT_NEAR(printed, 23.0 * 23.0 / (F * 500.0), 1e-4 * printed);
    // The centre pixel: P / F × 2 / 255 × 255.
    EXPECT_NEAR(glowed()[400 * kGlowSize + 400], std::trunc(P / F * 2.0), 1.0);
}

TEST_F(PostEffects, StarsShowTheirPointsAsArmsAroundTheGlow) {
    render_options().glow_jitter = false;
    for (float points : {4.0f, 6.0f}) {
        ShaderGlowSettings settings = point_glow();
        settings.glow.star_level = 1.0f;
        settings.glow.eccentricity = 0.5f;
        settings.star_points = points;
        settings.glow.intensity = 0.5f;
        start_shader_glow(settings, 0, kGlowSize - 1, 0, kGlowSize - 1, true);
        deposit_square(0);
        ASSERT_TRUE(compute_shader_glow());
        const std::vector<float> image = glowed();
        // Around a circle of radius 7, count the bright stretches.
        int arms = 0;
        bool bright_before = false;
        const int steps = 720;
        float peak = 0.0f;
        for (int s = 0; s < steps; ++s) {
            const double a = 2 * M_PI * s / steps;
            peak = std::max(
                peak, image[(400 + static_cast<int>(std::lround(7 * std::sin(a)))) * kGlowSize +
                            400 + static_cast<int>(std::lround(7 * std::cos(a)))]);
        }
        for (int s = 0; s <= steps; ++s) {
            const double a = 2 * M_PI * s / steps;
            const float v =
                image[(400 + static_cast<int>(std::lround(7 * std::sin(a)))) * kGlowSize + 400 +
                      static_cast<int>(std::lround(7 * std::cos(a)))];
            const bool bright = v > peak / 2;
            if (bright && !bright_before && s > 0) ++arms;
            bright_before = bright;
        }
        EXPECT_EQ(arms, static_cast<int>(points)) << points;
        finish_shader_glow();
    }
}

TEST_F(PostEffects, ALensFlareLightsCirclesAlongTheLineThroughTheCentreOfTheImage) {
    render_options().glow_jitter = false;
    double along[2], across[2];
    for (int flare = 0; flare < 2; ++flare) {
        ShaderGlowSettings settings = point_glow();
        settings.glow.intensity = 0.5f;
        settings.glow.lens_flare = static_cast<float>(flare);
        start_shader_glow(settings, 0, kGlowSize - 1, 0, kGlowSize - 1, true);
        const float white[3] = {255.0f, 255.0f, 255.0f};
        deposit_glow_sample(200.5, 200.5, white);
        ASSERT_TRUE(compute_shader_glow());
        const std::vector<float> image = glowed();
        // Far from the glow: on the diagonal through the source and the
        // centre, and on the other diagonal.
        along[flare] = across[flare] = 0.0;
        for (int t = 260; t < 800; ++t) {
            along[flare] += image[static_cast<std::size_t>(t) * kGlowSize + t];
            across[flare] += image[static_cast<std::size_t>(t) * kGlowSize + (kGlowSize - 1 - t)];
        }
        finish_shader_glow();
    }
    EXPECT_EQ(along[0], 0.0);
    EXPECT_GT(along[1], 100.0);
    EXPECT_LT(across[1], along[1] / 4);
    EXPECT_EQ(errors(), "");
}

TEST_F(PostEffects, ATexturedGlowColourTintsTheGlowAsTheTextureLiesAcrossTheKernel) {
    render_options().glow_jitter = false;
    install_texture_hooks();
    reset_front_end();
    ASSERT_EQ(parse_scene_text("DEFINITION\nENVIRONMENT\nshader_glow (glow_color = texture"
                               " (procedure = Checker, color1 = (255, 0, 0),"
                               " color2 = (0, 0, 255)), glow_spread = 0.028, quality = 1,"
                               " glow_eccentricity = 1, halo_type = 0, auto_exposure = 0,"
                               " glow_intensity = 1);\nMODEL\n"),
              0);
    const ShaderGlowSettings settings = shader_glow_settings();
    ASSERT_NE(settings.glow.texture, nullptr);
    start_shader_glow(settings, 0, kGlowSize - 1, 0, kGlowSize - 1, true);
    const float white[3] = {255.0f, 255.0f, 255.0f};
    deposit_glow_sample(400.5, 400.5, white);
    ASSERT_TRUE(compute_shader_glow());
    const std::vector<float> red = glowed(0), blue = glowed(2);
    auto at = [](const std::vector<float>& image, int dx, int dy) {
        return image[static_cast<std::size_t>(400 + dy) * kGlowSize + 400 + dx];
    };
    // Diagonal quadrants of the kernel share a colour of the chequer.
    for (int d : {3, 6}) {
        EXPECT_GT(at(red, -d, -d), 0.0f);
        EXPECT_EQ(at(blue, -d, -d), 0.0f);
        EXPECT_GT(at(red, d, d), 0.0f);
        EXPECT_EQ(at(blue, d, d), 0.0f);
        EXPECT_GT(at(blue, d, -d), 0.0f);
        EXPECT_EQ(at(red, d, -d), 0.0f);
        EXPECT_GT(at(blue, -d, d), 0.0f);
        EXPECT_EQ(at(red, -d, d), 0.0f);
    }
    finish_shader_glow();
    reset_front_end();
    remove_texture_hooks();
}

TEST_F(PostEffects, GlowAndHaloTogetherAddMoreThanEitherAlone) {
    render_options().glow_jitter = false;
    double totals[3];
    for (int which = 0; which < 3; ++which) {
        ShaderGlowSettings settings = point_glow();
        settings.glow.type = which == 1 ? 0 : 1;
        settings.halo.type = which == 0 ? 0 : 1;
        settings.halo.spread = 0.028f;
        settings.glow.colour = Triple{30.0f, 30.0f, 30.0f};
        settings.halo.colour = Triple{20.0f, 20.0f, 20.0f};
        start_shader_glow(settings, 0, kGlowSize - 1, 0, kGlowSize - 1, true);
        deposit_square(0);
        ASSERT_TRUE(compute_shader_glow());
        totals[which] = 0.0;
        for (float v : glowed()) totals[which] += v;
        finish_shader_glow();
    }
    EXPECT_GT(totals[0], 0.0);
    EXPECT_GT(totals[1], 0.0);
    EXPECT_NEAR(totals[2], totals[0] + totals[1], 0.02 * totals[2])
        << totals[0] << " " << totals[1];
}

TEST_F(PostEffects, DepositsFromManyThreadsLeaveTheSameGlowAsFromOne) {
    render_options().glow_jitter = true;
    std::vector<float> images[2];
    for (int threads : {1, 4}) {
        ShaderGlowSettings settings = point_glow();
        settings.glow.intensity = 0.5f;
        start_shader_glow(settings, 0, kGlowSize - 1, 0, kGlowSize - 1, true);
        std::vector<std::thread> crew;
        for (int t = 0; t < threads; ++t)
            crew.emplace_back([t, threads] {
                // Samples of differing colours into shared cells.
                for (int s = t; s < 4000; s += threads) {
                    const float colour[3] = {static_cast<float>(s % 256), 90.0f, 255.0f};
                    deposit_glow_sample(380 + (s % 40) * 0.97, 390 + (s / 40) * 0.19, colour);
                }
            });
        for (std::thread& worker : crew) worker.join();
        ASSERT_TRUE(compute_shader_glow());
        images[threads == 1 ? 0 : 1] = glowed(0);
        finish_shader_glow();
    }
    EXPECT_EQ(images[0], images[1]);
}

TEST_F(PostEffects, ImpossibleSpreadsAreRefusedWithAMessageAndNeverMakeNaN) {
    ShaderGlowSettings settings = point_glow();
    settings.glow.spread = 1e9f;
    start_shader_glow(settings, 0, kGlowSize - 1, 0, kGlowSize - 1, true);
    deposit_square(0);
    EXPECT_FALSE(compute_shader_glow());
    EXPECT_NE(errors().find("Shader glow: the glow filter"), std::string::npos) << errors();
    finish_shader_glow();

    settings = point_glow();
    settings.glow.spread = -3.0f;  // at least 1e-5: a kernel of one cell
    settings.quality = 0.0f;
    start_shader_glow(settings, 0, kGlowSize - 1, 0, kGlowSize - 1, true);
    const float nan_colour[3] = {NAN, 300.0f, -5.0f};
    deposit_glow_sample(400.5, 400.5, nan_colour);
    compute_shader_glow();
    for (float v : glowed(1)) ASSERT_TRUE(v >= 0.0f && v <= 255.0f);
}

}  // namespace
}  // namespace sky
