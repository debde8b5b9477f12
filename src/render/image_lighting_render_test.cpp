// Image-based lighting seen through the caster: a diffuse sphere in a
// uniform probe against radiance × albedo, a probe with one bright spot
// lighting the sphere from the spot's side, and the precomputed maps made
// once for a probe that does not change.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "base/vecmath.h"
#include "render/render_test_support.h"
#include "sdl/scene_packets.h"
#include "shading/image_lighting.h"

namespace sky::test {
namespace {

// A latitude-longitude probe of floats, `radiance(u, v)` per texel centre.
template <typename Radiance>
PacketFile probe_packets(int width, int height, Radiance radiance) {
    PacketImage image;
    image.name = "sky";
    image.width = static_cast<std::uint32_t>(width);
    image.height = static_cast<std::uint32_t>(height);
    image.channels = 3;
    image.type = PACKET_FLOATS;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Triple c = radiance((x + 0.5) / width, (y + 0.5) / height);
            for (float value : {c.x, c.y, c.z}) {
                std::uint8_t bytes[4];
                std::memcpy(bytes, &value, 4);
                image.data.insert(image.data.end(), bytes, bytes + 4);
            }
        }
    PacketFile file;
    file.lighting.push_back(std::move(image));
    return file;
}

class ImageLighting : public testing::Test {
protected:
    void SetUp() override {
        reset_scene_packets();
        reset_image_lighting();
    }
    void TearDown() override {
        reset_scene_packets();
        reset_image_lighting();
    }
};

// Renders with the probe delivered as binary scene data (after the reader
// has reset the run's data for the scene).
RenderedImage render_in(const std::string& scene, const PacketFile& probe) {
    return render_scene(scene, {1, 15, [&](RenderOptions&) { add_scene_packets(probe); }, nullptr});
}

std::string scene_with(const std::string& shaders, const char* shader) {
    return "DEFINITION\nversion = 8;\nresolution = 64 64;\ntriple origin (0, 0, 0);\n" + shaders +
           "MODEL\ncamera (eye = (0, 0, 4), view = origin, aov = 40, pix = \"p\");\n" +
           polyset_sphere(96, shader);
}

TEST_F(ImageLighting, AUniformProbeShadesADiffuseSphereToRadianceTimesAlbedo) {
    const float radiance = 0.6f;
    const PacketFile probe = probe_packets(32, 16, [&](double, double) {
        return Triple{radiance, radiance, radiance};
    });
    RenderedImage image = render_in(scene_with("shader s (model = lambert, color = (255, 255, 255),"
                                               " diffuse = 0.8, reflect_background = ON);\n",
                                               "s"),
                                    probe);
    ASSERT_TRUE(image.ok);
    int compared = 0;
    for (std::int32_t y = 0; y < image.height; ++y)
        for (std::int32_t x = 0; x < image.width; ++x) {
            if (image.at(x, y)[3] < 255.0f) continue;  // the silhouette's mixed pixels
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(image.at(x, y)[c], radiance * 0.8 * 255.0, 1.0) << x << ", " << y;
            ++compared;
        }
    EXPECT_GT(compared, 500);
}

TEST_F(ImageLighting, AHighDynamicRangeFileIsAProbeBeyondWhite) {
    // A Radiance file of radiance 2 everywhere (mantissa 128, exponent
    // 130: 128 × 2^(130 − 136)), named by `light_probe`.
    const std::string name = testing::TempDir() + "uniform_probe.hdr";
    {
        std::FILE* f = std::fopen(name.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 8 +X 16\n", f);
        for (int i = 0; i < 8 * 16; ++i) std::fwrite("\x80\x80\x80\x82", 1, 4, f);
        std::fclose(f);
    }
    RenderedImage image = render_scene(
        scene_with("filename light_probe (\"" + name +
                       "\");\nshader s (model = lambert, color = (255, 255, 255), diffuse = 0.25,"
                       " reflect_background = ON);\n",
                   "s"));
    ASSERT_TRUE(image.ok);
    int compared = 0;
    for (std::int32_t y = 0; y < image.height; ++y)
        for (std::int32_t x = 0; x < image.width; ++x) {
            if (image.at(x, y)[3] < 255.0f) continue;
            EXPECT_NEAR(image.at(x, y)[1], 2.0 * 0.25 * 255.0, 1.0) << x << ", " << y;
            ++compared;
        }
    EXPECT_GT(compared, 500);
    std::remove(name.c_str());
}

TEST_F(ImageLighting, ABrightSpotLightsTheSphereFromItsDirection) {
    // The spot sits around +x (u = 3/4 on the equator).
    const PacketFile probe = probe_packets(64, 32, [](double u, double v) {
        const bool spot = std::fabs(u - 0.75) < 0.03 && std::fabs(v - 0.5) < 0.06;
        return spot ? Triple{8, 8, 8} : Triple{0, 0, 0};
    });
    RenderedImage image = render_in(scene_with("shader s (model = lambert, color = (255, 255, 255),"
                                               " diffuse = 1, reflect_background = ON);\n",
                                               "s"),
                                    probe);
    ASSERT_TRUE(image.ok);
    // The brightest pixel's normal (eye space = world here, the camera on
    // +z looking down −z) points near +x; the side away from it is dark.
    float best = -1, left = 0, right = 0;
    Imath::V3d brightest;
    for (std::int32_t y = 0; y < image.height; ++y)
        for (std::int32_t x = 0; x < image.width; ++x) {
            if (image.at(x, y)[3] < 255.0f) continue;
            const double dx = (x + 0.5 - image.screen.cx) / image.screen.sx;
            const double dy = (y + 0.5 - image.screen.cy) / image.screen.sy;
            const Imath::V3d d = normalise(Imath::V3d(dx, dy, -1));
            const Imath::V3d c(0, 0, -4);
            const double b = d.dot(c), disc = b * b - (c.dot(c) - 1);
            if (disc < 0) continue;
            const Imath::V3d n = d * (b - std::sqrt(disc)) - c;
            const float g = image.at(x, y)[0];
            (n.x > 0 ? right : left) += g;
            if (g > best) best = g, brightest = n;
        }
    EXPECT_GT(brightest.x, std::cos(25.0 * M_PI / 180.0)) << brightest.y << " " << brightest.z;
    EXPECT_GT(right, 10 * left);
}

TEST_F(ImageLighting, MapsAreMadeOnceForAnUnchangedProbeAndReleasedWhenUnused) {
    const PacketFile probe = probe_packets(32, 16, [](double u, double) {
        return Triple{static_cast<float>(u), 0.5f, 0.25f};
    });
    const std::string shiny =
        scene_with("shader s (model = phong, shinyness = 30, reflect_background = ON);\n", "s");
    const std::string matt =
        scene_with("shader s (model = lambert, reflect_background = ON);\n", "s");
    const ImageLightingCounts before = image_lighting_counts();
    ASSERT_TRUE(render_in(shiny, probe).ok);
    ASSERT_TRUE(render_in(shiny, probe).ok);
    ImageLightingCounts now = image_lighting_counts();
    EXPECT_EQ(now.probes, before.probes + 1);
    EXPECT_EQ(now.specular_maps, before.specular_maps + 1);
    EXPECT_EQ(now.maps_held, 1);
    // Unused for a frame, the map goes at the one after.
    ASSERT_TRUE(render_in(matt, probe).ok);
    ASSERT_TRUE(render_in(matt, probe).ok);
    now = image_lighting_counts();
    EXPECT_EQ(now.maps_held, 0);
    EXPECT_EQ(now.probes, before.probes + 1);
}

}  // namespace
}  // namespace sky::test
