// Whole renders through the caster: depths of a plane against the eye
// distances the camera implies, a Lambert sphere against N·L, the
// convergence of edge pixels as the sample levels grow, the samples a flat
// region costs, and images that do not depend on the worker count or the
// tile size.
#include <cmath>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

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
                        "MODEL\ncamera (eye = (0, 0, 10), view = origin, aov = 40, pix = \"p\","
                        " depth_file = \"d\");\n" + square(0.5, 0, "s");
    RenderedImage image = render_scene(scene);
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(image.depth_at(0, 0), 1e8f);
    EXPECT_EQ(image.depth_at(image.width - 1, image.height - 1), 1e8f);
    EXPECT_LT(image.depth_at(image.width / 2, image.height / 2), 11.0f);
}

// A unit sphere of `segments` around, as a polyset with true normals.
std::string sphere(int segments, const char* shader) {
    std::ostringstream s;
    s.setf(std::ios::fixed);
    s.precision(9);
    const int rings = segments / 2;
    s << "polyset (shader = (" << shader << "), vertices = (";
    for (int r = 0; r <= rings; ++r) {
        const double theta = M_PI * r / rings;
        for (int k = 0; k < segments; ++k) {
            const double phi = 2 * M_PI * k / segments;
            const double x = std::sin(theta) * std::cos(phi), y = std::cos(theta),
                         z = std::sin(theta) * std::sin(phi);
            s << (r || k ? "," : "") << "(cv((" << x << "," << y << "," << z << "),1),st(0,0),norm("
              << x << "," << y << "," << z << "))";
        }
    }
    s << "), polygons = (";
    bool first = true;
    for (int r = 0; r < rings; ++r) {
        for (int k = 0; k < segments; ++k) {
            const int a = r * segments + k, b = r * segments + (k + 1) % segments;
            const int c = a + segments, d = b + segments;
            s << (first ? "" : ",") << "polygon(" << a << "," << c << "," << d << "),polygon(" << a
              << "," << d << "," << b << ")";
            first = false;
        }
    }
    s << "));\n";
    return s.str();
}

TEST(Render, LambertSphereFollowsNDotL) {
    std::string scene = settings("shader s (model = lambert, color = (255, 255, 255), diffuse = 1);\n") +
                        "MODEL\ncamera (eye = (0, 0, 4), view = origin, aov = 40, pix = \"p\");\n" +
                        "light (model = directional, direction = (-1, -1, -1), intensity = 1);\n" +
                        sphere(160, "s");
    RenderedImage image = render_scene(scene);
    ASSERT_TRUE(image.ok);
    if (std::getenv("SKYLOOM_TEST_DUMP")) image.write_ppm("/tmp/sphere.ppm");
    const double L[3] = {1 / std::sqrt(3.0), 1 / std::sqrt(3.0), 1 / std::sqrt(3.0)};
    int compared = 0;
    for (std::int32_t y = 0; y < image.height; ++y) {
        for (std::int32_t x = 0; x < image.width; ++x) {
            double d[3];
            eye_ray(image.screen, x + 0.507, y + 0.485, d);
            // Ray from the eye (0, 0, 0) to the sphere at (0, 0, −4), eye space.
            const double c[3] = {0, 0, -4};
            const double dd = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
            const double dc = d[0] * c[0] + d[1] * c[1] + d[2] * c[2];
            const double disc = dc * dc - dd * (16.0 - 1.0);
            if (disc < 0.05 * dd) continue;  // away from the silhouette only
            const double t = (dc - std::sqrt(disc)) / dd;
            double n[3];
            for (int k = 0; k < 3; ++k) n[k] = d[k] * t - c[k];
            const double n_dot_l = std::max(0.0, n[0] * L[0] + n[1] * L[1] + n[2] * L[2]);
            EXPECT_NEAR(image.at(x, y)[0], 255.0 * n_dot_l, 1.0) << x << ", " << y;
            ++compared;
        }
    }
    EXPECT_GT(compared, 300);
}

}  // namespace
}  // namespace sky::test
