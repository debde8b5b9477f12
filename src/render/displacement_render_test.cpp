// Displaced geometry seen through the caster: a sphere lifted by a constant
// height against the silhouette of the larger sphere, a plane lifted by a
// sine against the depths of the analytic height field, and displaced
// objects reaching tiles their undisplaced surface never touches.
#include <cmath>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "base/vecmath.h"
#include "geometry/displacement.h"
#include "render/render_test_support.h"

namespace sky::test {
namespace {

// The unit sphere as one rational biquadratic patch (nine rows of five),
// its normals outward.
std::string sphere_patch(const char* shader, const std::string& extra = "") {
    const double w = std::sqrt(0.5);
    const double ring[9][3] = {{1, 0, 1},  {1, -1, w}, {0, -1, 1}, {-1, -1, w}, {-1, 0, 1},
                               {-1, 1, w}, {0, 1, 1},  {1, 1, w},  {1, 0, 1}};
    const double arc[5][3] = {{0, -1, 1}, {1, -1, w}, {1, 0, 1}, {1, 1, w}, {0, 1, 1}};
    std::ostringstream s;
    s.precision(12);
    s << "patch (shader = (" << shader << "), udegree = 2, vdegree = 2,"
      << " uknots = (0, 0, 1, 1, 2, 2, 3, 3, 4, 4), vknots = (0, 0, 1, 1, 2, 2), cvs = (";
    for (int i = 0; i < 9; ++i) {
        s << (i ? ", (" : "(");
        for (int j = 0; j < 5; ++j) {
            const double r = arc[j][0];
            s << (j ? ", " : "") << "cv((" << ring[i][0] * r << ", " << arc[j][1] << ", "
              << ring[i][1] * r << "), " << ring[i][2] * arc[j][2] << ")";
        }
        s << ")";
    }
    s << ")" << extra << ");\n";
    return s.str();
}

void eye_ray(const ScreenMapping& m, double x, double y, double* d) {
    d[0] = (x - m.cx) / m.sx;
    d[1] = (y - m.cy) / m.sy;
    d[2] = -1.0;
}

// How far inside the outline of the sphere of `radius` at eye distance
// `distance` the eye ray through (x, y) passes, in pixels (negative:
// outside): the ray's distance from the centre against the radius, over
// the size of a pixel at the centre's distance.
double outline_gap(const ScreenMapping& m, double x, double y, double distance, double radius) {
    double d[3];
    eye_ray(m, x, y, d);
    const Imath::V3d ray = normalise(Imath::V3d(d[0], d[1], d[2]));
    const Imath::V3d centre(0, 0, -distance);
    const double off_ray = (centre - ray * centre.dot(ray)).length();
    return (radius - off_ray) * std::fabs(m.sx) / distance;
}

TEST(Displacement, AConstantHeightGivesTheSilhouetteOfTheLargerSphere) {
    const double d = 0.35;
    for (const char* path : {"", "tessellator = 1;\n"}) {
        std::ostringstream scene;
        scene << "DEFINITION\nversion = 8;\nresolution = 80 80;\n"
              << path
              << "triple origin (0, 0, 0);\n"
                 "shader s (model = lightsource, color = (255, 255, 255), displacement = "
              << d << ");\nMODEL\ncamera (eye = (0, 0, 6), view = origin, aov = 40, pix = \"p\");\n"
              << sphere_patch("s", *path ? "" : ", divisions = (4, 8), subdivide = ON");
        RenderedImage image = render_scene(scene.str());
        ASSERT_TRUE(image.ok);
        if (std::getenv("SKYLOOM_TEST_DUMP")) image.write_ppm("/tmp/displaced_sphere.ppm");
        int inside = 0, mismatched = 0;
        for (std::int32_t y = 0; y < image.height; ++y) {
            for (std::int32_t x = 0; x < image.width; ++x) {
                const double gap = outline_gap(image.screen, x + 0.5, y + 0.5, 6.0, 1.0 + d);
                if (std::fabs(gap) < 1.0) continue;  // within a pixel of the outline
                const bool covered = image.at(x, y)[3] > 0.5f;
                inside += gap > 0;
                mismatched += covered != (gap > 0);
            }
        }
        EXPECT_GT(inside, 1000) << path;
        EXPECT_EQ(mismatched, 0) << path;
    }
}

TEST(Displacement, FixedHeightsAreWorldUnitsWhateverTheScale) {
    // A unit sphere scaled by 2 and displaced by 0.3: object units give a
    // radius of 2.6, world units 2.3.
    for (float fixed : {0.0f, 1.0f}) {
        set_fixed_displacement(fixed);
        const std::string scene =
            "DEFINITION\nversion = 8;\nresolution = 80 80;\ntriple origin (0, 0, 0);\n"
            "shader s (model = lightsource, color = (255, 255, 255), displacement = 0.3);\n"
            "MODEL\ncamera (eye = (0, 0, 12), view = origin, aov = 40, pix = \"p\");\n"
            "scale (2, 2, 2);\n" +
            sphere_patch("s", ", divisions = (4, 8), subdivide = ON");
        RenderedImage image = render_scene(scene);
        set_fixed_displacement(0.0f);
        ASSERT_TRUE(image.ok);
        const double radius = fixed > 0 ? 2.3 : 2.6;
        int mismatched = 0, inside = 0;
        for (std::int32_t y = 0; y < image.height; ++y) {
            for (std::int32_t x = 0; x < image.width; ++x) {
                const double gap = outline_gap(image.screen, x + 0.5, y + 0.5, 12.0, radius);
                if (std::fabs(gap) < 1.0) continue;
                inside += gap > 0;
                mismatched += (image.at(x, y)[3] > 0.5f) != (gap > 0);
            }
        }
        EXPECT_GT(inside, 500) << fixed;
        EXPECT_EQ(mismatched, 0) << fixed;
    }
}

// u runs along x over [-2, 2]; the height is 0.5 + 0.5 sin(2πu), drawn by
// a ramp of 33 entries along u.
std::string sine_plane(const std::string& patch_extra) {
    std::ostringstream s;
    s.precision(9);
    s << "DEFINITION\nversion = 8;\nresolution = 96 64;\ntessellator = 1;\n"
         "triple origin (0, 0, 0);\nshader s (model = lightsource, color = (255, 255, 255),"
         " displacement = environment (procedure = Ramp, ramp_type = 1, interpolation = 1";
    const int entries = 33;
    for (int i = 0; i < entries; ++i) {
        const double p = static_cast<double>(i) / (entries - 1);
        const double g = 255.0 * (0.5 + 0.5 * std::sin(2 * M_PI * p));
        s << ", ramp_color = (" << g << ", " << g << ", " << g << "), position = " << p;
    }
    s << "));\nMODEL\ncamera (eye = (0, 0, 10), view = origin, aov = 30, pix = \"p\","
         " depth_file = \"d\");\n"
         "patch (shader = (s), uknots = (0, 1), vknots = (0, 1), cvs = ("
         "(cv((-2, -2, 0), 1), cv((-2, 2, 0), 1)), (cv((2, -2, 0), 1), cv((2, 2, 0), 1)))"
      << patch_extra << ");\n";
    return s.str();
}

TEST(Displacement, ASinePlanesDepthsFollowTheAnalyticHeights) {
    RenderedImage image = render_scene(sine_plane(", surface_smoothness = 0.0005"));
    ASSERT_TRUE(image.ok);
    int compared = 0;
    double worst = 0;
    for (std::int32_t y = 2; y < image.height - 2; y += 3) {
        for (std::int32_t x = 2; x < image.width - 2; ++x) {
            double d[3];
            eye_ray(image.screen, x + 0.507, y + 0.485, d);
            // March the ray (from the eye at z = 10) down to the height
            // field, then bisect the crossing.
            auto above = [&](double t) {
                const double px = d[0] * t, pz = 10.0 - t;
                const double u = (px + 2.0) / 4.0;
                return pz > 0.5 + 0.5 * std::sin(2 * M_PI * u);
            };
            if (std::fabs(d[0] * 10.0) > 1.9 || std::fabs(d[1] * 10.0) > 1.9) continue;
            double t0 = 8.0, t1 = 8.0;
            while (above(t1) && t1 < 11.0) t1 += 0.01;
            t0 = t1 - 0.01;
            for (int k = 0; k < 50; ++k) {
                const double mid = 0.5 * (t0 + t1);
                (above(mid) ? t0 : t1) = mid;
            }
            const double expected = t0 * std::sqrt(d[0] * d[0] + d[1] * d[1] + 1.0);
            worst = std::max(worst, std::fabs(image.depth_at(x, y) - expected));
            ++compared;
        }
    }
    EXPECT_GT(compared, 1000);
    // The ramp's chords stray from the sine by at most (2π)²/8/64² of its
    // amplitude and the tessellation by its tolerance: under a hundredth.
    EXPECT_LT(worst, 0.01);
}

TEST(Displacement, LiftedGeometryReachesTilesItsSurfaceDoesNot) {
    // A plane 1 unit wide seen from 5 above fills the middle of the image;
    // lifted 3 units toward the eye it fills nearly all of it, in tiles its
    // flat bound never reaches.
    const std::string scene =
        "DEFINITION\nversion = 8;\nresolution = 60 60;\ntriple origin (0, 0, 0);\n"
        "shader s (model = lightsource, color = (255, 255, 255), displacement = 3);\n"
        "MODEL\ncamera (eye = (0, 0, 5), view = origin, aov = 40, pix = \"p\");\n"
        "patch (shader = (s), divisions = (1, 1), uknots = (0, 1), vknots = (0, 1), cvs = ("
        "(cv((-0.5, -0.5, 0), 1), cv((-0.5, 0.5, 0), 1)),"
        " (cv((0.5, -0.5, 0), 1), cv((0.5, 0.5, 0), 1))));\n";
    for (int rows : {5, 15}) {
        RenderedImage image = render_scene(scene, {2, rows, nullptr, nullptr});
        ASSERT_TRUE(image.ok);
        int missed = 0, inside = 0;
        for (std::int32_t y = 0; y < image.height; ++y) {
            for (std::int32_t x = 0; x < image.width; ++x) {
                double d[3];
                eye_ray(image.screen, x + 0.5, y + 0.5, d);
                // The lifted square lies 2 in front of the eye.
                const double px = 2.0 * d[0], py = 2.0 * d[1];
                const double margin = 0.03;
                if (std::fabs(px) < 0.5 - margin && std::fabs(py) < 0.5 - margin) {
                    ++inside;
                    missed += image.at(x, y)[3] < 0.99f;
                }
            }
        }
        EXPECT_GT(inside, 1000) << rows;
        EXPECT_EQ(missed, 0) << rows;
    }
}

}  // namespace
}  // namespace sky::test
