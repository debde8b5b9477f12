// Whole renders through the caster: depths of a plane against the eye
// distances the camera implies, a Lambert sphere against N·L, the
// convergence of edge pixels as the sample levels grow, the samples a flat
// region costs, textures of lights and shaders placed by the surface's
// (u, v), images that do not depend on the worker count, the tile size or
// the objects rendered before in other tiles, and empty pixels that show
// what the sample routine would.
#include <atomic>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "base/vecmath.h"
#include "render/render_test_support.h"

namespace sky::test {
namespace {

std::string settings(const std::string& extra) {
    return "DEFINITION\nversion = 8;\nresolution = 64 48;\ntriple origin (0, 0, 0);\n" + extra;
}

// A square of side 2·half at height z (world), facing +z.
std::string square(double half, double z, const char* shader) {
    std::ostringstream s;
    s << "polyset (shader = (" << shader << "), vertices = ("
      << "(cv((" << -half << ", " << -half << ", " << z << "), 1), st(0, 0), norm(0, 0, 1)),"
      << "(cv((" << half << ", " << -half << ", " << z << "), 1), st(1, 0), norm(0, 0, 1)),"
      << "(cv((" << half << ", " << half << ", " << z << "), 1), st(1, 1), norm(0, 0, 1)),"
      << "(cv((" << -half << ", " << half << ", " << z << "), 1), st(0, 1), norm(0, 0, 1))),"
      << " polygons = (polygon(0, 1, 2), polygon(0, 2, 3)));\n";
    return s.str();
}

// The eye ray direction of image position (x, y), eye space (perspective).
void eye_ray(const ScreenMapping& m, double x, double y, double* d) {
    d[0] = (x - m.cx) / m.sx;
    d[1] = (y - m.cy) / m.sy;
    d[2] = -1.0;
}

TEST(Render, DepthsOfAPlaneAreTheEyeDistances) {
    // Camera at (0, 0, 10) looking down −z: eye space is world moved by −10
    // in z. The plane z = −2 lies 12 in front of the eye.
    std::string scene = settings("shader s (model = lambert, color = (200, 200, 200));\n") +
                        "MODEL\ncamera (eye = (0, 0, 10), view = origin, aov = 40, pix = \"p\","
                        " depth_file = \"d\");\n" +
                        "light (model = ambient, intensity = 1);\n" + square(30, -2, "s");
    for (int aa : {0, 4}) {
        RenderedImage image = render_scene(scene, {1, 15, [aa](RenderOptions& o) {
                                                       o.aalevelmax = aa;
                                                       o.aalevelmin = aa ? 1 : 0;
                                                   }});
        ASSERT_TRUE(image.ok);
        for (std::int32_t y = 0; y < image.height; y += 5) {
            for (std::int32_t x = 0; x < image.width; x += 7) {
                // One sample: exactly at its position; adaptive: the
                // nearest of the pixel's samples, its corners included.
                double expected = 1e30;
                const double positions[5][2] = {
                    {0.507, 0.485}, {0.001, 0.001}, {1.001, 0.001}, {0.001, 1.001}, {1.001, 1.001}};
                for (int k = aa ? 1 : 0; k < (aa ? 5 : 1); ++k) {
                    double d[3];
                    eye_ray(image.screen, x + positions[k][0], y + positions[k][1], d);
                    const double t = 12.0 / -d[2];
                    expected = std::min(expected, t * std::sqrt(d[0] * d[0] + d[1] * d[1] + 1.0));
                }
                const double got = image.depth_at(x, y);
                if (aa == 0)
                    EXPECT_NEAR(got, expected, 1e-3 * expected) << x << ", " << y;
                else
                    EXPECT_GE(got, expected * (1 - 1e-3)) << x << ", " << y;
            }
        }
    }
}

TEST(Render, NothingSeenIsFarAway) {
    std::string scene = settings("shader s (model = lambert);\n") +
                        "ENVIRONMENT\nbackground = color (10, 20, 30);\n" +
                        "MODEL\ncamera (eye = (0, 0, 10), view = origin, aov = 40, pix = \"p\","
                        " depth_file = \"d\");\n" +
                        square(0.5, 0, "s");
    RenderedImage image = render_scene(scene);
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(image.depth_at(0, 0), 1e8f);
    EXPECT_EQ(image.at(0, 0)[0], 10.0f);
    EXPECT_EQ(image.at(0, 0)[2], 30.0f);
    EXPECT_EQ(image.at(0, 0)[3], 0.0f);
    EXPECT_EQ(image.depth_at(image.width - 1, image.height - 1), 1e8f);
    EXPECT_LT(image.depth_at(image.width / 2, image.height / 2), 11.0f);
}

TEST(Render, LambertSphereFollowsNDotL) {
    std::string scene =
        settings("shader s (model = lambert, color = (255, 255, 255), diffuse = 1);\n") +
        "MODEL\ncamera (eye = (0, 0, 4), view = origin, aov = 40, pix = \"p\");\n" +
        "light (model = directional, direction = (-1, -1, -1), intensity = 1);\n" +
        polyset_sphere(160, "s");
    RenderedImage image = render_scene(scene);
    ASSERT_TRUE(image.ok);
    if (std::getenv("SKYLOOM_TEST_DUMP")) image.write_ppm("/tmp/sphere.ppm");
    const Imath::V3d L = normalise(Imath::V3d(1, 1, 1));
    int compared = 0;
    for (std::int32_t y = 0; y < image.height; ++y) {
        for (std::int32_t x = 0; x < image.width; ++x) {
            double ray[3];
            eye_ray(image.screen, x + 0.507, y + 0.485, ray);
            // Ray from the eye (0, 0, 0) to the sphere at (0, 0, −4), eye space.
            const Imath::V3d d(ray[0], ray[1], ray[2]), c(0, 0, -4);
            const double dd = dot(d, d), dc = dot(d, c);
            const double disc = dc * dc - dd * (16.0 - 1.0);
            if (disc < 0.05 * dd) continue;  // away from the silhouette only
            const double t = (dc - std::sqrt(disc)) / dd;
            const double n_dot_l = std::max(0.0, dot(d * t - c, L));
            EXPECT_NEAR(image.at(x, y)[0], 255.0 * n_dot_l, 1.0) << x << ", " << y;
            ++compared;
        }
    }
    EXPECT_GT(compared, 300);
}

TEST(Render, TexturesOfLightsAndShadersFollowTheSurface) {
    // A red and blue checker across the square's u: as the ambient light's
    // colour over a plain surface (the light's texture alone asks where on
    // the surface the point is), as the surface's colour under a white
    // light, and as both (red lit red, blue lit blue).
    const std::string checker =
        "texture (procedure = Checker, urepeat = 2, vrepeat = 1, color1 = (255, 0, 0), "
        "color2 = (0, 0, 255))";
    const std::string plain = "(255, 255, 255)";
    for (const auto& [light, surface] :
         {std::pair{checker, plain}, std::pair{plain, checker}, std::pair{checker, checker}}) {
        std::string scene =
            settings("shader s (model = lambert, diffuse = 1, color = " + surface + ");\n") +
            "MODEL\ncamera (eye = (0, 0, 4), view = origin, aov = 40, pix = \"p\");\n" +
            "light (model = ambient, ambient_shade = 0, color = " + light + ");\n" +
            square(4, 0, "s");
        RenderedImage image = render_scene(scene);
        ASSERT_TRUE(image.ok);
        const float* left = image.at(image.width / 4, image.height / 2);
        const float* right = image.at(3 * image.width / 4, image.height / 2);
        // Mostly red on one side and blue on the other (the checker's filter
        // blurs them), whichever asked first.
        EXPECT_GT(left[0] - right[0], 100.0f);
        EXPECT_GT(right[2] - left[2], 100.0f);
        EXPECT_EQ(left[1], 0.0f);
    }
}

// A white half-plane over black, its edge slanted across the image.
std::string half_plane() {
    return settings("shader w (model = lightsource, color = (255, 255, 255));\n") +
           "MODEL\ncamera (eye = (0, 0, 10), view = origin, aov = 40, pix = \"p\");\n" +
           "polyset (shader = (w), vertices = ((cv((-0.7, -40, 0), 1)), (cv((40, -40, 0), 1)),"
           " (cv((40, 40, 0), 1)), (cv((1.3, 40, 0), 1))), polygons = (polygon(0, 1, 2, 3)));\n";
}

TEST(Render, EdgePixelsConvergeToTheCoveredFraction) {
    const std::string scene = half_plane();
    double previous = 1e9;
    for (int aa : {0, 4, 9, 16, 25, 36}) {
        RenderedImage image = render_scene(scene, {1, 15, [aa](RenderOptions& o) {
                                                       o.aalevelmax = aa;
                                                       o.aalevelmin = aa ? 1 : 0;
                                                       o.aathreshold = 1.0f;
                                                       o.reduced_samples = false;
                                                   }});
        ASSERT_TRUE(image.ok);
        // The edge on the screen: eye space is the world moved by −10 in z.
        auto screen = [&](double wx, double wy, double& sx, double& sy) {
            sx = image.screen.cx - image.screen.sx * wx / -10.0;
            sy = image.screen.cy - image.screen.sy * wy / -10.0;
        };
        double ax, ay, bx, by;
        screen(-0.7, -40, ax, ay);
        screen(1.3, 40, bx, by);
        double error = 0;
        int edge_pixels = 0;
        for (std::int32_t y = 0; y < image.height; ++y) {
            for (std::int32_t x = 0; x < image.width; ++x) {
                // The covered fraction on a 64 × 64 grid of the pixel.
                int inside = 0;
                for (int j = 0; j < 64; ++j)
                    for (int i = 0; i < 64; ++i) {
                        const double px = x + (i + 0.5) / 64, py = y + (j + 0.5) / 64;
                        inside += (bx - ax) * (py - ay) - (by - ay) * (px - ax) < 0;
                    }
                if (inside == 0 || inside == 64 * 64) continue;
                ++edge_pixels;
                error += std::fabs(image.at(x, y)[0] / 255.0 - inside / 4096.0);
            }
        }
        ASSERT_GT(edge_pixels, 40);
        error /= edge_pixels;
        EXPECT_LT(error, previous * 1.05) << aa;
        previous = error;
        if (aa == 36) {
            EXPECT_LT(error, 0.04);
        }
    }
}

TEST(Render, FlatRegionsTakeTheMinimumSamples) {
    const std::string scene =
        settings("shader w (model = lightsource, color = (200, 100, 50));\n") +
        "MODEL\ncamera (eye = (0, 0, 10), view = origin, aov = 40, pix = \"p\");\n" +
        square(40, 0, "w");
    for (int level : {0, 1, 3}) {
        RenderedImage image = render_scene(scene, {1, 10, [level](RenderOptions& o) {
                                                       o.aalevelmax = 16;
                                                       o.aalevelmin = level;
                                                   }});
        ASSERT_TRUE(image.ok);
        // Corners are shared within a tile: (width + 1) × (rows + 1) per
        // tile; every pixel then takes `aalevelmin` jittered samples.
        std::int64_t corners = 0;
        for (std::int32_t top = image.height; top > 0; top -= 10)
            corners += static_cast<std::int64_t>(image.width + 1) * (std::min(top, 10) + 1);
        EXPECT_EQ(image.samples - corners,
                  static_cast<std::int64_t>(image.width) * image.height * level)
            << level;
        EXPECT_FLOAT_EQ(image.at(5, 5)[0], 200.0f);
        EXPECT_FLOAT_EQ(image.at(5, 5)[3], 255.0f);
    }
}

// Everything at once: lit curved surfaces, a transparent layer, edges.
std::string busy_scene() {
    return settings(
               "shader s (model = phong, color = (200, 150, 100));\n"
               "shader g (model = lambert, color = (90, 180, 90), transparency = (128, 128, "
               "128));\n"
               "shader f (model = lambert, color = (150, 150, 220));\n") +
           "MODEL\ncamera (eye = (0.3, 0.2, 4), view = origin, aov = 40, pix = \"p\", depth_file = "
           "\"d\");\n" +
           "light (model = directional, direction = (-1, -0.5, -1));\n"
           "light (model = ambient, intensity = 0.2);\n" +
           polyset_sphere(48, "s") + square(0.6, 1.2, "g") + square(3, -1.5, "f");
}

TEST(Render, ImagesDoNotDependOnWorkersOrTiles) {
    const std::string scene = busy_scene();
    auto adaptive = [](RenderOptions& o) {
        o.aalevelmin = 1;
        o.aalevelmax = 16;
        o.aathreshold = 0.5f;
    };
    RenderedImage reference = render_scene(scene, {1, 15, adaptive});
    ASSERT_TRUE(reference.ok);
    ASSERT_EQ(reference.rows_seen.size(), static_cast<std::size_t>(reference.height));
    for (RenderSettings settings : {RenderSettings{2, 15, adaptive}, RenderSettings{2, 5, adaptive},
                                    RenderSettings{1, 24, adaptive}}) {
        RenderedImage image = render_scene(scene, settings);
        ASSERT_TRUE(image.ok);
        EXPECT_EQ(image.rows_seen.size(), reference.rows_seen.size());
        EXPECT_TRUE(std::memcmp(image.rgba.data(), reference.rgba.data(), image.rgba.size() * 4) ==
                    0)
            << settings.workers << " workers, " << settings.tile_rows << " rows";
        EXPECT_TRUE(
            std::memcmp(image.depth.data(), reference.depth.data(), image.depth.size() * 4) == 0)
            << settings.workers << " workers, " << settings.tile_rows << " rows";
    }
    // The transparent square lets the sphere through, tinted.
    const float* centre = reference.at(reference.width / 2, reference.height / 2);
    EXPECT_GT(centre[0], 20.0f);
    EXPECT_EQ(centre[3], 255.0f);
}

// The caster's sample routine behind a wrapper of the test's: the row
// routines then call it for every sample, the empty pixel lists included,
// instead of showing the background themselves.
std::atomic<SampleRoutine> wrapped_routine{nullptr};
void (*caster_set_up)(void*) = nullptr;

float through_wrapper(double x, double y, double time, float* out, RR_SampleNode& node) {
    return wrapped_routine.load()(x, y, time, out, node);
}

void set_up_wrapped(void* data) {
    caster_set_up(data);
    RR_SampleNode& node = worker_sample_node();
    wrapped_routine.store(node.sample_routine);
    node.sample_routine = through_wrapper;
}

void wrap_sample_routine(const RenderOptions&) {
    RenderPass& pass = frame_passes().camera_pass;
    if (pass.set_up != set_up_wrapped) caster_set_up = pass.set_up;
    pass.set_up = set_up_wrapped;
}

TEST(Render, EmptyPixelsShowWhatTheSampleRoutineWouldShow) {
    // A background beyond the range of a colour on both sides, around a
    // sphere whose silhouette crosses tile borders: pixels whose lists are
    // empty, full, and mixed along the edge, with and without a depth file
    // (the full routine), one sample or adaptive.
    const std::string head =
        settings("shader s (model = lambert, color = (90, 200, 40));\n") +
        "ENVIRONMENT\nbackground = color (300, 127.4, -20);\n" +
        "MODEL\ncamera (eye = (0, 0.4, 4), view = origin, aov = 40, pix = \"p\"";
    const std::string tail =
        ");\nlight (model = directional, direction = (-1, -1, -1));\n" + polyset_sphere(32, "s");
    for (const char* depth : {"", ", depth_file = \"d\""}) {
        for (auto [aa_min, aa_max, workers] :
             {std::tuple{0, 0, 1}, std::tuple{1, 16, 1}, std::tuple{2, 9, 2}}) {
            auto levels = [aa_min, aa_max](RenderOptions& o) {
                o.aalevelmin = aa_min;
                o.aalevelmax = aa_max;
                o.aathreshold = 0.5f;
            };
            const std::string scene = head + depth + tail;
            const RenderedImage shown = render_scene(scene, {workers, 5, levels});
            const RenderedImage sampled =
                render_scene(scene, {workers, 5, levels, wrap_sample_routine});
            ASSERT_TRUE(shown.ok && sampled.ok);
            const std::string which = std::string(depth) + " levels " + std::to_string(aa_min) +
                                      "/" + std::to_string(aa_max);
            EXPECT_EQ(shown.samples, sampled.samples) << which;
            EXPECT_TRUE(std::memcmp(shown.rgba.data(), sampled.rgba.data(),
                                    shown.rgba.size() * sizeof(float)) == 0)
                << which;
            EXPECT_TRUE(std::memcmp(shown.depth.data(), sampled.depth.data(),
                                    shown.depth.size() * sizeof(float)) == 0)
                << which;
            // The corner stays background, clamped; the middle is the sphere.
            EXPECT_EQ(shown.at(0, 0)[0], 255.0f) << which;
            EXPECT_FLOAT_EQ(shown.at(0, 0)[1], 127.4f) << which;
            EXPECT_EQ(shown.at(0, 0)[2], 0.0f) << which;
            EXPECT_EQ(shown.at(0, 0)[3], 0.0f) << which;
            EXPECT_EQ(shown.at(shown.width / 2, shown.height / 2)[3], 255.0f) << which;
        }
    }
}

// One triangle of a polyset about (x, y, 0), tilted by `tilt` about x.
std::string triangle(double x, double y, double tilt, const char* shader) {
    std::ostringstream s;
    const double dz = std::sin(tilt), dy = std::cos(tilt);
    s << "polyset (shader = (" << shader << "), vertices = ("
      << "(cv((" << x - 1.5 << ", " << y - dy << ", " << -dz << "), 1)),"
      << "(cv((" << x + 1.5 << ", " << y - dy << ", " << -dz << "), 1)),"
      << "(cv((" << x << ", " << y + dy << ", " << dz << "), 1))),"
      << " polygons = (polygon(0, 1, 2)));\n";
    return s.str();
}

TEST(Render, AnObjectDoesNotDependOnObjectsInOtherTiles) {
    // The upper triangle's tiles come first and free it before the lower
    // one is made, which may then take its memory: nothing a worker kept of
    // the upper one may be taken for the lower one. The second render has a
    // small square in tiles of its own between them, which the worker
    // shades in between; the lower triangle must come out the same.
    const std::string head =
        settings("shader s (model = lambert, color = (200, 150, 100));\n") +
        "MODEL\ncamera (eye = (0, 0, 10), view = origin, aov = 40, pix = \"p\");\n"
        "{ translate (1, 0, 4); light (model = point, decay = 1, intensity = 4); }\n" +
        triangle(0, 2.2, 0.7, "s");
    const std::string lower = triangle(0, -2.2, -0.6, "s");
    auto adaptive = [](RenderOptions& o) {
        o.aalevelmin = 1;
        o.aalevelmax = 4;
    };
    const RenderedImage image = render_scene(head + lower, {1, 5, adaptive});
    const RenderedImage apart =
        render_scene(head + "{ translate (-3, 0.3, 0); " + square(0.2, 0, "s") + "}\n" + lower,
                     {1, 5, adaptive});
    ASSERT_TRUE(image.ok && apart.ok);
    std::int32_t lit = 0;
    for (std::int32_t y = 0; y < image.height / 2 - 5; ++y) {
        for (std::int32_t x = 0; x < image.width; ++x) {
            lit += image.at(x, y)[3] > 0 ? 1 : 0;
            for (int c = 0; c < 4; ++c)
                ASSERT_EQ(image.at(x, y)[c], apart.at(x, y)[c]) << x << ", " << y << ", " << c;
        }
    }
    EXPECT_GT(lit, 100);
}

}  // namespace
}  // namespace sky::test
