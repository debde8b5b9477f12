// Shadows and automatic clipping through whole renders: the outline of a
// square's shadow against its analytic projection, surfaces that must not
// shadow themselves, the width of soft edges against the bounds the filter
// radius implies, and a near object in front of a far one under automatic
// clipping. The lit reference of each shadowed picture is the same scene
// rendered with the occluder casting no shadow, so the shadowed fraction of
// a pixel does not depend on the shading formulas.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "geometry/geometry_view.h"
#include "geometry/tessellate.h"
#include "geometry/tessellate_object.h"
#include "render/automatic_clipping.h"
#include "render/render_test_support.h"
#include "render/shadow_pass.h"
#include "scene/scene_objects.h"
#include "shading/light.h"
#include "shading/lights/shadow_query.h"

namespace sky::test {
namespace {

constexpr double kPi = 3.14159265358979323846;

// A horizontal square of side 2·half at height y, facing up.
std::string square(double half, double y, const std::string& extra) {
    std::ostringstream s;
    s << "polyset (" << extra << " vertices = ("
      << "(cv((" << -half << ", " << y << ", " << -half << "), 1)),"
      << "(cv((" << -half << ", " << y << ", " << half << "), 1)),"
      << "(cv((" << half << ", " << y << ", " << half << "), 1)),"
      << "(cv((" << half << ", " << y << ", " << -half << "), 1))),"
      << " polygons = (polygon(0, 1, 2, 3)));\n";
    return s.str();
}

// The ground (side 20 at y = 0), a square occluder of side 2 at height 5
// that the camera does not see, and a spot light 10 above the ground
// shining straight down. The camera looks down from 30 at the shadow.
struct Occluder {
    int map_size = 256;
    float edge_quality = 2;
    bool casts = true;
    std::string light_extra;   // further parameters of the light
    std::string settings;      // further settings of the scene
    std::string ground_extra;  // further parameters of the ground
    std::string occluder_extra;
    bool occluder = true;
};

std::string occluder_scene(const Occluder& o) {
    std::ostringstream s;
    s << "DEFINITION\nversion = 9.0;\nresolution = 200 200;\ntriple origin (0, 0, 0);\n"
      << "invisible_objects_cast_shadows = ON;\n"
      << o.settings << "shader ground (model = lambert, color = (200, 200, 200));\n"
      << "light key (model = spot, decay = 0, spread = 60, shine_along = (0, -1, 0),"
      << " up_spot = (0, 0, -1), shadow = ON, use_shadow_map = ON, shadow_resolution = "
      << o.map_size << ", shadow_edge_quality = " << o.edge_quality << o.light_extra << ");\n"
      << "MODEL\ncamera (pix = \"p\", eye = (0, 30, 0), view = origin, aov = 9.5);\n"
      << "{ translate (0, 10, 0); instance key (); }\n"
      << square(10, 0, "shader = (ground)," + o.ground_extra);
    if (o.occluder)
        s << square(1, 5,
                    "shader = (ground), active = OFF, casts_shadow = " +
                        std::string(o.casts ? "ON," : "OFF,") + o.occluder_extra);
    return s.str();
}

// Per pixel, the fraction of the light the shadow takes: 1 − shadowed / lit.
std::vector<double> shadow_fraction(const RenderedImage& shadowed, const RenderedImage& lit) {
    std::vector<double> f(static_cast<std::size_t>(lit.width) * lit.height, 0.0);
    for (std::int32_t y = 0; y < lit.height; ++y)
        for (std::int32_t x = 0; x < lit.width; ++x) {
            const double l = lit.at(x, y)[0];
            if (l > 1.0)
                f[static_cast<std::size_t>(y) * lit.width + x] = 1.0 - shadowed.at(x, y)[0] / l;
        }
    return f;
}

// The occluder scene rendered with and without the occluder's shadow: the
// shadowed fraction per pixel, and the ground's units per pixel (the ground
// lies 30 in front of the eye) and per map texel (straight below the light).
struct ShadowPicture {
    bool ok = false;
    std::int32_t width = 0, height = 0;
    ScreenMapping screen;
    std::vector<double> f;
    double unit = 0, texel = 0;
    double at(int x, int y) const { return f[static_cast<std::size_t>(y) * width + x]; }
};

ShadowPicture shadow_picture(Occluder o) {
    ShadowPicture picture;
    const RenderedImage shadowed = render_scene(occluder_scene(o), {2});
    o.casts = false;
    const RenderedImage lit = render_scene(occluder_scene(o), {2});
    if (!shadowed.ok || !lit.ok) return picture;
    picture.ok = true;
    picture.width = lit.width;
    picture.height = lit.height;
    picture.screen = lit.screen;
    picture.f = shadow_fraction(shadowed, lit);
    picture.unit = 30.0 / lit.screen.sx;
    picture.texel = 2.0 * 10.0 * std::tan(30.0 * kPi / 180.0) / o.map_size;
    return picture;
}

TEST(Shadows, ASquareCastsItsProjectedOutline) {
    for (int size : {256, 2048}) {
        SCOPED_TRACE(size);
        Occluder o;
        o.map_size = size;
        const ShadowPicture picture = shadow_picture(o);
        ASSERT_TRUE(picture.ok);
        const std::vector<double>& f = picture.f;
        const double unit = picture.unit, texel = picture.texel;
        const double side = 2.0 * 10.0 / (10.0 - 5.0);

        double area = 0;
        for (double v : f) area += v;
        area *= unit * unit;
        EXPECT_NEAR(area, side * side, 4 * side * texel) << "area";

        // Edges of the rows and columns across the middle of the shadow: a
        // row's shadowed length and its centre from the fractions' sums.
        const double cx = picture.screen.cx, cy = picture.screen.cy;
        double worst = 0;
        for (int across = 0; across < 2; ++across) {
            for (int k = -30; k <= 30; k += 5) {
                double sum = 0, moment = 0;
                for (int i = 0; i < picture.width; ++i) {
                    const int x = across ? static_cast<int>(cx) + k : i;
                    const int y = across ? i : static_cast<int>(cy) + k;
                    const double v = picture.at(x, y);
                    sum += v;
                    moment += v * (i + 0.5);
                }
                const double centre = moment / sum;
                const double low = (centre - sum / 2 - (across ? cy : cx)) * unit;
                const double high = (centre + sum / 2 - (across ? cy : cx)) * unit;
                worst = std::max({worst, std::fabs(low + side / 2), std::fabs(high - side / 2)});
            }
        }
        EXPECT_LE(worst, texel) << "edge";
        RecordProperty("edge_error_texels_" + std::to_string(size), std::to_string(worst / texel));
    }
}

// The 10%-to-90% width, in texels, of the step a disc filter of radius r
// makes of a straight edge: the weight 1 − ρ²/r² summed along the edge is
// proportional to (r² − x²)^(3/2) across it.
double filtered_edge_width(double r) {
    const int steps = 20000;
    std::vector<double> cumulative(steps + 1, 0.0);
    for (int k = 1; k <= steps; ++k) {
        const double x = -r + 2 * r * (k - 0.5) / steps;
        cumulative[k] = cumulative[k - 1] + std::pow(r * r - x * x, 1.5);
    }
    auto at = [&](double fraction) {
        for (int k = 1; k <= steps; ++k)
            if (cumulative[k] >= fraction * cumulative[steps]) return -r + 2 * r * k / steps;
        return r;
    };
    return at(0.9) - at(0.1);
}

TEST(Shadows, SoftEdgesWidenWithTheEdgeQualityWithinTheFiltersBounds) {
    double previous = 0;
    for (float quality : {1.0f, 2.0f, 4.0f}) {
        SCOPED_TRACE(quality);
        Occluder o;
        o.edge_quality = quality;
        const ShadowPicture picture = shadow_picture(o);
        ASSERT_TRUE(picture.ok);
        // Across the left edge of the middle rows: the pixels between 10%
        // and 90% shadow, with the fractions at the band's ends
        // interpolated.
        double width = 0;
        const int rows = 21;
        for (int k = -10; k <= 10; ++k) {
            const int y = static_cast<int>(picture.screen.cy) + k;
            auto crossing = [&](double level) {
                for (int x = 1; x < picture.width / 2; ++x) {
                    const double a = picture.at(x - 1, y);
                    const double b = picture.at(x, y);
                    if (a < level && b >= level) return x - 1 + (level - a) / (b - a);
                }
                return 0.0;
            };
            width += (crossing(0.9) - crossing(0.1)) * picture.unit / picture.texel;
        }
        width /= rows;
        const int radius = static_cast<int>(quality) + 1;
        // The disc's own width, give or take the texels and the cells the
        // map is made of.
        const double filter = filtered_edge_width(radius);
        EXPECT_GE(width, filter - 0.5) << "texels";
        EXPECT_LE(width, filter + 1.0) << "texels";
        EXPECT_GT(width, previous);
        previous = width;
        RecordProperty("edge_band_texels_q" + std::to_string(static_cast<int>(quality)),
                       std::to_string(width));
    }
}

// A polyset sphere of radius r at `centre` from a grid of rows × columns.
std::string sphere(double r, const char* centre, int rows, int columns) {
    std::ostringstream s;
    s << std::fixed;
    s << "{ translate " << centre << "; polyset (shader = (ground), vertices = (";
    for (int i = 0; i <= rows; ++i)
        for (int j = 0; j <= columns; ++j) {
            const double theta = kPi * i / rows, phi = 2 * kPi * j / columns;
            const double n[3] = {std::sin(theta) * std::cos(phi), std::cos(theta),
                                 std::sin(theta) * std::sin(phi)};
            s << (i || j ? "," : "") << "(cv((" << r * n[0] << ", " << r * n[1] << ", " << r * n[2]
              << "), 1), st(0, 0), norm(" << n[0] << ", " << n[1] << ", " << n[2] << "))";
        }
    s << "), polygons = (";
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < columns; ++j) {
            const int a = i * (columns + 1) + j, b = a + columns + 1;
            s << (i || j ? "," : "") << "polygon(" << a << ", " << a + 1 << ", " << b + 1 << ", "
              << b << ")";
        }
    s << ")); }\n";
    return s.str();
}

TEST(Shadows, SurfacesLitAtGrazingAnglesDoNotShadowThemselves) {
    // A light 2 above the ground and 20 away: the ground is lit at under 6
    // degrees, and half the sphere's lit side at grazing angles.
    std::ostringstream s;
    s << "DEFINITION\nversion = 9.0;\nresolution = 160 120;\ntriple origin (0, 0, 0);\n"
      << "shader ground (model = lambert, color = (220, 220, 220));\n"
      << "light key (model = spot, decay = 0, spread = 40, shine_along = (-1, -0.1, 0),"
      << " shadow = ON, use_shadow_map = ON, shadow_resolution = 512);\n"
      << "MODEL\ncamera (pix = \"p\", eye = (0, 12, 12), view = origin, aov = 50);\n"
      << "{ translate (20, 2, 0); instance key (); }\n"
      << square(10, 0, "shader = (ground),") << sphere(2, "(0, 2, 0)", 48, 96);
    const RenderedImage image = render_scene(s.str(), {2});
    ASSERT_TRUE(image.ok);
    int speckles = 0, lit = 0;
    for (std::int32_t y = 1; y + 1 < image.height; ++y)
        for (std::int32_t x = 1; x + 1 < image.width; ++x) {
            const float v = image.at(x, y)[1];
            if (v > 10) ++lit;
            const float n[4] = {image.at(x - 1, y)[1], image.at(x + 1, y)[1], image.at(x, y - 1)[1],
                                image.at(x, y + 1)[1]};
            bool darker = true;
            for (float m : n) darker = darker && v < m - 10.0f;
            speckles += darker;
        }
    EXPECT_EQ(speckles, 0);
    EXPECT_GT(lit, image.width * image.height / 4);
}

TEST(AutomaticClipping, ANearSquareHidesAFarOneWhenNearIsZero) {
    const std::string scene =
        "DEFINITION\nversion = 9.0;\nresolution = 40 30;\ntriple origin (0, 0, 0);\n"
        "shader red (model = lambert, color = (255, 0, 0));\n"
        "shader blue (model = lambert, color = (0, 0, 255));\n"
        "light fill (model = ambient, intensity = 1, ambient_shade = 0);\n"
        "MODEL\ncamera (pix = \"p\", eye = (0, 10, 0), view = origin, near = 0);\n"
        "instance fill ();\n" +
        square(1, 4, "shader = (red),") + square(6, -5, "shader = (blue),");
    const RenderedImage image = render_scene(scene);
    ASSERT_TRUE(image.ok);
    const float* centre = image.at(20, 15);
    EXPECT_GT(centre[0], 200.0f);
    EXPECT_LT(centre[2], 50.0f);
    // Nothing but the blue square beyond the red one's edge.
    EXPECT_GT(image.at(20 + 12, 15)[2], 200.0f);
}

TEST(AutomaticClipping, PlanesFollowTheBoxTheEyeSees) {
    const Triple eye{0, 0, 0}, ahead{0, 0, -2};
    // Objects 5 to 50 in front: the box grows by 1, far is at least 1000.
    const double box[6] = {-3, 3, -3, 3, -50, -5};
    ClippingPlanes planes = clipping_planes_for_box(box, eye, ahead);
    EXPECT_DOUBLE_EQ(planes.near, 4.0);
    EXPECT_DOUBLE_EQ(planes.far, 1000.0);
    // An eye inside the box.
    const double around[6] = {-3, 3, -3, 3, -50, 5};
    EXPECT_DOUBLE_EQ(clipping_planes_for_box(around, eye, ahead).near, 0.1);
    // Everything behind the eye.
    const double behind[6] = {-3, 3, -3, 3, 5, 50};
    planes = clipping_planes_for_box(behind, eye, ahead);
    EXPECT_DOUBLE_EQ(planes.near, 0.1);
    EXPECT_DOUBLE_EQ(planes.far, 1000.0);
    // A far clip set from outside keeps the planes within 1:10000.
    setenv("QUORL_SHADOW_FARCLIP", "100000", 1);
    planes = clipping_planes_for_box(box, eye, ahead);
    unsetenv("QUORL_SHADOW_FARCLIP");
    EXPECT_DOUBLE_EQ(planes.far, 100000.0);
    EXPECT_DOUBLE_EQ(planes.near, 10.0);
    // A camera that moves away over the shutter sees farther.
    const Matrix4 moved = translation_matrix(Triple{0, 0, -2000});
    EXPECT_DOUBLE_EQ(clipping_planes_for_box(box, eye, ahead, {&moved, 1}).far, 2051.0);
}

// A file of this process in the scratch folder: test runs side by side do
// not meet.
std::string scratch_name(const std::string& name) {
    return testing::TempDir() + std::to_string(getpid()) + "_" + name;
}

std::vector<std::uint8_t> file_bytes(const std::string& name) {
    std::vector<std::uint8_t> bytes;
    if (std::FILE* f = std::fopen(name.c_str(), "rb")) {
        int c;
        while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<std::uint8_t>(c));
        std::fclose(f);
    }
    return bytes;
}

float little_float(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    const std::uint32_t bits = bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                               static_cast<std::uint32_t>(bytes[at + 3]) << 24;
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

TEST(ShadowFiles, ALoneSurfaceLeavesItsTwoByTwoMapEmpty) {
    const std::string name = scratch_name("lone_map");
    std::remove(name.c_str());
    Occluder o;
    o.map_size = 2;
    o.occluder = false;
    o.light_extra = ", depth_output = \"" + name + "\"";
    ASSERT_TRUE(render_scene(occluder_scene(o)).ok);
    const std::vector<std::uint8_t> bytes = file_bytes(name);
    ASSERT_EQ(bytes.size(), 85u);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[2], 0);
    EXPECT_EQ(bytes[3], 2);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(little_float(bytes, 68 + 4 * k), 1e8f);
    EXPECT_EQ(bytes[84], 0xAA);
    // The light matrix: the light 10 above the ground, looking down, puts
    // the ground's centre at the middle of the map.
    float m[16];
    for (int k = 0; k < 16; ++k) m[k] = little_float(bytes, 4 + 4 * k);
    const float w = 0 * m[3] + 0 * m[7] + 0 * m[11] + m[15];
    EXPECT_NEAR((0 * m[0] + m[12]) / w, 0.0f, 1e-6f);
    EXPECT_NEAR(w, -10.0f, 1e-4f);
    std::remove(name.c_str());
}

// A horizontal square of side 2·half at height y centred over (x, z),
// made of n × n quads.
std::string tiled_square(double half, double y, double x, double z, int n,
                         const std::string& extra) {
    std::ostringstream s;
    s << "polyset (" << extra << " vertices = (";
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i)
            s << (i || j ? "," : "") << "(cv((" << x - half + 2 * half * i / n << ", " << y << ", "
              << z - half + 2 * half * j / n << "), 1))";
    s << "), polygons = (";
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const int a = j * (n + 1) + i;
            s << (i || j ? "," : "") << "polygon(" << a << ", " << a + n + 1 << ", " << a + n + 2
              << ", " << a + 1 << ")";
        }
    s << "));\n";
    return s.str();
}

TEST(ShadowFiles, EachTexelHoldsTheMidpointOfItsTwoNearestSurfaces) {
    // Squares 3 and 5 below the light over the ground, which lies 10 below
    // it, each twice over (the same surface, which counts once): as a
    // single polygon, whose triangles are entered by their spans, and as
    // quads of a texel or two, entered by their boxes; then each once, as
    // quads under a texel, whose boxes are mostly one or two texels a side
    // and hold no centre or one. A texel whose centre sees two surfaces
    // holds the distance, along its ray, of the midpoint of their
    // projective depths, which for planes square to the axis is the
    // harmonic mean of their distances along it; a texel that sees only
    // the ground holds none. The count of texel centres in each region is
    // counted from the squares' projections, axis by axis.
    constexpr int kSize = 128;
    const std::string name = scratch_name("layers_map");
    std::remove(name.c_str());
    struct Layer {
        double half, distance, x, z;
    };
    const Layer far{1.3, 5, 0.61, 0.37}, near{0.9, 3, -0.23, -0.14};
    Occluder o;
    o.map_size = kSize;
    o.occluder = false;
    o.light_extra = ", depth_output = \"" + name + "\"";
    const std::string caster = "shader = (ground), active = OFF,";
    // Either way of making the squares must give the same texels.
    struct Tiling {
        std::vector<int> far, near;
    };
    for (const Tiling& tiling : {Tiling{{1, 24}, {1, 12}}, Tiling{{130}, {90}}}) {
        SCOPED_TRACE(std::to_string(tiling.far.back()) + " quads a side");
        std::string scene = occluder_scene(o);
        for (int tiles : tiling.far)
            scene += tiled_square(far.half, 10 - far.distance, far.x, far.z, tiles, caster);
        for (int tiles : tiling.near)
            scene += tiled_square(near.half, 10 - near.distance, near.x, near.z, tiles, caster);
        ASSERT_TRUE(render_scene(scene, {2, 7}).ok);
        const std::vector<std::uint8_t> bytes = file_bytes(name);
        std::remove(name.c_str());
        ASSERT_EQ(bytes.size(), 4 + 64 + 4u * kSize * kSize + 1);

        // Texels from the map's centre per unit of lateral offset per unit of
        // distance: the map spans the spot's 60 degrees.
        const double per_unit = kSize / 2 / std::tan(30.0 * kPi / 180.0);
        // The centres (i + 0.5 − size/2) a layer's projection holds along one
        // axis, and of two layers' overlap; mirror images hold as many.
        auto centres = [&](double lo, double hi) {
            const double first = std::ceil(lo * per_unit - 0.5),
                         last = std::floor(hi * per_unit - 0.5);
            return static_cast<long>(std::max(0.0, last - first + 1));
        };
        auto span = [](const Layer& l, double centre) {
            return std::pair{(centre - l.half) / l.distance, (centre + l.half) / l.distance};
        };
        auto count = [&](std::initializer_list<const Layer*> layers) {
            long product = 1;
            for (int axis = 0; axis < 2; ++axis) {
                double lo = -1e9, hi = 1e9;
                for (const Layer* l : layers) {
                    const auto [a, b] = span(*l, axis == 0 ? l->x : l->z);
                    lo = std::max(lo, a), hi = std::min(hi, b);
                }
                product *= centres(lo, hi);
            }
            return product;
        };
        const long both = count({&far, &near});
        auto harmonic = [](double a, double b) { return 2 / (1 / a + 1 / b); };
        const double expected[3] = {harmonic(near.distance, far.distance),
                                    harmonic(far.distance, 10), harmonic(near.distance, 10)};
        const long expected_counts[3] = {both, count({&far}) - both, count({&near}) - both};
        ASSERT_GT(both, 50);
        ASSERT_GT(expected_counts[1], 50);
        ASSERT_GT(expected_counts[2], 50);

        long counts[3] = {0, 0, 0};
        long empty = 0;
        for (int j = 0; j < kSize; ++j)
            for (int i = 0; i < kSize; ++i) {
                const float value =
                    little_float(bytes, 68 + 4 * (static_cast<std::size_t>(j) * kSize + i));
                if (value == 1e8f) {
                    ++empty;
                    continue;
                }
                const double ex = (i + 0.5 - kSize / 2) / per_unit,
                             ey = (j + 0.5 - kSize / 2) / per_unit;
                const double along = value / std::sqrt(1 + ex * ex + ey * ey);
                int k = 0;
                for (int m = 1; m < 3; ++m)
                    if (std::fabs(along - expected[m]) < std::fabs(along - expected[k])) k = m;
                EXPECT_NEAR(along, expected[k], 1e-4 * expected[k]) << i << ", " << j;
                ++counts[k];
            }
        for (int k = 0; k < 3; ++k) EXPECT_EQ(counts[k], expected_counts[k]) << k;
        EXPECT_EQ(empty + counts[0] + counts[1] + counts[2], kSize * kSize);
    }
}

TEST(ShadowFiles, TheMaskPreviewsTheMapInRunsOfEachRow) {
    const std::string map_name = scratch_name("square_map");
    const std::string mask_name = scratch_name("square_mask");
    Occluder o;
    o.map_size = 300;
    o.light_extra = ", depth_output = \"" + map_name + "\", shadow_output = \"" + mask_name + "\"";
    ASSERT_TRUE(render_scene(occluder_scene(o)).ok);
    const std::vector<std::uint8_t> map = file_bytes(map_name);
    const std::vector<std::uint8_t> mask = file_bytes(mask_name);
    const std::size_t size = 300, count = size * size;
    ASSERT_EQ(map.size(), 4 + 64 + 4 * count + 1);
    ASSERT_GE(mask.size(), 10u);
    const std::uint16_t header[5] = {300, 300, 0, 300, 8};
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(mask[2 * k] | mask[2 * k + 1] << 8, header[k]) << "header " << k;

    // The mask asks for the nearest surface: the occluder and the ground
    // both show, nearer darker, and beyond the ground nothing (255).
    std::vector<float> texels(count);
    for (std::size_t k = 0; k < count; ++k) texels[k] = little_float(map, 68 + 4 * k);
    float lo = 1e30f, hi = 0;
    for (float d : texels) {
        lo = std::min(lo, d);
        if (d < 1e8f) hi = std::max(hi, d);
    }
    EXPECT_NEAR(lo, 5.0f, 0.05f);  // the occluder's centre
    EXPECT_GT(hi, 10.0f);
    std::size_t at = 10, wrong = 0;
    for (std::size_t row = 0; row < size; ++row) {
        // Rows from the last: the same order as the map file's.
        std::size_t x = 0;
        while (x < size && at + 1 < mask.size()) {
            const int run = mask[at], value = mask[at + 1];
            at += 2;
            ASSERT_GE(run, 1);
            ASSERT_LE(x + run, size) << "a run beyond row " << row;
            for (int k = 0; k < run; ++k, ++x) {
                const float d = texels[row * size + x];
                const int expected =
                    d >= 1e8f ? 255 : static_cast<int>((d - lo) / (hi - lo) * 255.0f);
                wrong += value != expected;
            }
        }
        ASSERT_EQ(x, size) << "row " << row;
    }
    EXPECT_EQ(at, mask.size());
    EXPECT_EQ(wrong, 0u);
    std::remove(map_name.c_str());
    std::remove(mask_name.c_str());
}

// The shadowed share of the picture of the occluder scene.
double shadowed_share(const Occluder& o) {
    const ShadowPicture picture = shadow_picture(o);
    if (!picture.ok) return -1;
    double sum = 0;
    for (double v : picture.f) sum += v;
    return sum / (picture.width * picture.height);
}

TEST(Shadows, OnlyTheObjectsTheDepthPassLetsThroughCastShadows) {
    Occluder o;
    EXPECT_GT(shadowed_share(o), 0.3);
    // The occluder is not visible: without the setting it casts nothing.
    o.settings = "invisible_objects_cast_shadows = OFF;\n";
    EXPECT_EQ(shadowed_share(o), 0.0);
    // A light that lights only the objects linking it: under
    // QUORL_ILLUMINATED_SHADOWS_ONLY only they cast shadows.
    o.settings.clear();
    o.light_extra = ", exclusive = ON";
    o.ground_extra = " light_list = (key),";
    EXPECT_GT(shadowed_share(o), 0.3);
    setenv("QUORL_ILLUMINATED_SHADOWS_ONLY", "1", 1);
    const double unlinked = shadowed_share(o);
    o.occluder_extra = " light_list = (key),";
    const double linked = shadowed_share(o);
    unsetenv("QUORL_ILLUMINATED_SHADOWS_ONLY");
    EXPECT_EQ(unlinked, 0.0);
    EXPECT_GT(linked, 0.3);
}

TEST(Shadows, TheMapDoesNotDependOnTheWorkers) {
    // Each texel is written by whichever worker renders its tile: the map
    // must come out the same whoever that is and however the tiles fall.
    Occluder o;
    o.map_size = 128;
    std::vector<std::uint8_t> maps[2];
    for (int workers : {1, 2}) {
        const std::string name = scratch_name("workers_map" + std::to_string(workers));
        o.light_extra = ", depth_output = \"" + name + "\"";
        ASSERT_TRUE(render_scene(occluder_scene(o), {workers, workers == 1 ? 15 : 7}).ok);
        maps[workers - 1] = file_bytes(name);
        std::remove(name.c_str());
    }
    EXPECT_EQ(maps[0].size(), 4 + 64 + 4 * 128 * 128 + 1u);
    EXPECT_TRUE(maps[0] == maps[1]);
}

TEST(Shadows, TheMapDoesNotDependOnWhetherTheStatisticsCountItsVertices) {
    // Quiet, a map's corners carry only their positions (the vertices are
    // counted only for the statistics): the map must be the one the fully
    // made corners give. The deciding cases: a mesh large enough to be
    // made in parts, its quads' corners shared and on texel centres at
    // tile borders; a sliver; a triangle reaching behind the light, which
    // is cut at the near plane; one reaching far beyond the map, which is
    // split; and a map whose rows are not whole groups of four texels.
    Occluder o;
    o.map_size = 203;
    o.occluder = false;
    const std::string caster = "shader = (ground), active = OFF,";
    std::string scene = occluder_scene(o);
    scene += tiled_square(1.5, 6, 0.2, -0.1, 182, caster);
    scene += "polyset (" + caster +
             " vertices = ((cv((0.2, 4, 0.2), 1)), (cv((0.9, 4, 0.2001), 1)),"
             " (cv((1.6, 4, 0.2002), 1)), (cv((-3, 11, 0), 1)), (cv((3, 11, 0.5), 1)),"
             " (cv((0, 7, -1), 1)), (cv((-400, 9.5, -1), 1)), (cv((400, 9.5, -1), 1)),"
             " (cv((0, 9.5, 2), 1))),"
             " polygons = (polygon(0, 1, 2), polygon(3, 4, 5), polygon(6, 7, 8)));\n";
    std::vector<std::uint8_t> maps[2];
    for (int quiet = 0; quiet < 2; ++quiet) {
        const std::string name = scratch_name("counted_map" + std::to_string(quiet));
        std::string lit = scene;
        lit.replace(lit.find("shadow_resolution"), 0, "depth_output = \"" + name + "\", ");
        RenderSettings settings{2, 7};
        settings.adjust = [quiet](RenderOptions& options) { options.quiet = quiet; };
        ASSERT_TRUE(render_scene(lit, settings).ok);
        maps[quiet] = file_bytes(name);
        std::remove(name.c_str());
    }
    ASSERT_EQ(maps[1].size(), 4 + 64 + 4u * 203 * 203 + 1);
    std::size_t casting = 0;
    for (std::size_t k = 68; k + 4 < maps[1].size(); k += 4)
        casting += little_float(maps[1], k) < 1e8f;
    EXPECT_GT(casting, 203u * 203 / 4);
    EXPECT_TRUE(maps[0] == maps[1]);
}

TEST(Shadows, TheTilesSumUpTheBlocksAsTheFinishedMapWould) {
    // Each tile sums up the query's blocks over its rows as it makes their
    // texels, a block that straddles two tiles (tiles of 7 rows, blocks of
    // 8) taken from both: the summaries must be those of the finished map,
    // in maps of each kind (the midpoint, the nearest surface for a mask),
    // and where the map's rows are not whole blocks.
    for (bool mask : {false, true}) {
        for (int size : {64, 200, 203}) {
            SCOPED_TRACE(std::to_string(size) + (mask ? " nearest surface" : " midpoint"));
            const std::string mask_name = scratch_name("summary_mask");
            Occluder o;
            o.map_size = size;
            if (mask) o.light_extra = ", shadow_output = \"" + mask_name + "\"";
            std::string scene = occluder_scene(o);
            scene += tiled_square(0.9, 7, -0.23, -0.14, 12, "shader = (ground), active = OFF,");
            std::vector<float> tiles[2], whole[2];
            RenderSettings settings{2, 7};
            settings.after_maps = [&](const RenderOptions&) {
                for (auto& entry : light_list()) {
                    auto* info = static_cast<AR_LightInfo*>(entry->reference.record);
                    if (info == nullptr || info->shadow_map == nullptr) continue;
                    ShadowMap& map = *info->shadow_map;
                    tiles[0] = map.block_nearest, tiles[1] = map.block_farthest;
                    summarise_shadow_map(map);
                    whole[0] = map.block_nearest, whole[1] = map.block_farthest;
                }
            };
            ASSERT_TRUE(render_scene(scene, settings).ok);
            std::remove(mask_name.c_str());
            const std::size_t blocks = static_cast<std::size_t>((size + 7) / 8);
            ASSERT_EQ(whole[0].size(), blocks * blocks);
            EXPECT_TRUE(tiles[0] == whole[0]);
            EXPECT_TRUE(tiles[1] == whole[1]);
            // Some blocks see a caster; under the midpoint rule some see
            // only the ground or nothing.
            EXPECT_LT(*std::min_element(whole[0].begin(), whole[0].end()), 1e8f);
            if (!mask) EXPECT_EQ(*std::max_element(whole[1].begin(), whole[1].end()), 1e8f);
        }
    }
}

TEST(Shadows, ObjectsThatMayMoveGiveTheMapOfStillOnes) {
    // Objects that may move stand in a map where the frame time puts them,
    // blended from their two halves, and go the depth-only way like still
    // ones. Objects that could move but stand still must give the same
    // map, texel for texel: the same cells, and within a cell the same
    // order of hits (the square's diagonal meets texel centres, where its
    // two triangles tie).
    for (bool mask : {false, true}) {
        for (int size : {64, 300}) {
            SCOPED_TRACE(std::to_string(size) + (mask ? " nearest surface" : " midpoint"));
            std::vector<std::uint8_t> maps[2];
            bool depth_only[2] = {false, true};
            for (int moving = 0; moving < 2; ++moving) {
                const std::string name = scratch_name("kinds_map" + std::to_string(moving));
                const std::string mask_name = scratch_name("kinds_mask");
                Occluder o;
                o.map_size = size;
                o.light_extra = ", depth_output = \"" + name + "\"";
                if (mask) o.light_extra += ", shadow_output = \"" + mask_name + "\"";
                if (moving) {
                    o.settings = "motion_blur_on = ON; shutter_angle = 180;\n";
                    o.ground_extra = o.occluder_extra = " motion_blur = ON,";
                }
                RenderSettings settings{2, 7};
                settings.adjust = [](RenderOptions& options) {
                    options.shutter_open = options.frame - 0.25f;
                    options.shutter_close = options.frame + 0.25f;
                };
                settings.after_maps = [&](const RenderOptions&) {
                    depth_only[moving] = geometry_view().depth_only;
                };
                ASSERT_TRUE(render_scene(occluder_scene(o), settings).ok);
                maps[moving] = file_bytes(name);
                std::remove(name.c_str());
                std::remove(mask_name.c_str());
            }
            EXPECT_TRUE(depth_only[0]);
            EXPECT_TRUE(depth_only[1]);
            ASSERT_EQ(maps[0].size(), 4 + 64 + 4u * size * size + 1);
            std::size_t casting = 0;
            for (std::size_t k = 68; k + 4 < maps[0].size(); k += 4)
                casting += little_float(maps[0], k) < 1e8f;
            EXPECT_GT(casting, static_cast<std::size_t>(size * size / 20));
            EXPECT_TRUE(maps[0] == maps[1]);
        }
    }
}

// A wavy grid of 2·n² triangles around the occluder's place, turning 20
// degrees about the vertical while the shutter is open.
std::string spinning_grid(int n) {
    std::ostringstream s;
    s << "{ rotate (yaxis, frame * 40 - 40);\npolyset (motion_blur = ON, shader = (ground),"
      << " active = OFF, vertices = (";
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            const double x = -1.5 + 3.0 * i / n, z = -1.5 + 3.0 * j / n;
            s << (i || j ? "," : "") << "(cv((" << x << ", " << 5 + 0.2 * std::sin(7 * x) * z
              << ", " << z << "), 1))";
        }
    s << "), polygons = (";
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const int a = j * (n + 1) + i, b = a + 1, c = a + n + 1, d = c + 1;
            s << (i || j ? "," : "") << "polygon(" << a << ", " << c << ", " << d << "), polygon("
              << a << ", " << d << ", " << b << ")";
        }
    s << ")); }\n";
    return s.str();
}

TEST(Shadows, AMovingMeshSharedAmongTheWorkersGivesTheMapOfOneWorker) {
    // A moving mesh large enough to be made in parts: each part pairs its
    // own polygons at both ends of the shutter. The map must be the one a
    // single worker makes pairing the whole mesh at once (with the polyset
    // tessellator wrapped, the object is never shared).
    Occluder o;
    o.map_size = 200;
    o.occluder = false;
    o.settings = "motion_blur_on = ON; shutter_angle = 180;\n";
    const std::string grid = spinning_grid(128);
    std::vector<std::uint8_t> maps[3];
    for (int run = 0; run < 3; ++run) {
        const std::string name = scratch_name("spinning_map" + std::to_string(run));
        o.light_extra = ", depth_output = \"" + name + "\"";
        if (run == 2)
            tessellators().polyset = [](const PolysetGeometry& polyset, const char* object,
                                        TriangleSink& sink) {
                return tessellate_polyset(polyset, object, sink);
            };
        bool depth_only = false;
        RenderSettings settings{run == 0 ? 1 : 2, 7};
        settings.adjust = [](RenderOptions& options) {
            options.shutter_open = options.frame - 0.25f;
            options.shutter_close = options.frame + 0.25f;
        };
        settings.after_maps = [&](const RenderOptions&) {
            depth_only = geometry_view().depth_only;
        };
        const bool ok = render_scene(occluder_scene(o) + grid, settings).ok;
        restore_tessellators();
        ASSERT_TRUE(ok);
        EXPECT_TRUE(depth_only);
        maps[run] = file_bytes(name);
        std::remove(name.c_str());
    }
    ASSERT_EQ(maps[0].size(), 4 + 64 + 4u * 200 * 200 + 1);
    std::size_t casting = 0;
    for (std::size_t k = 68; k + 4 < maps[0].size(); k += 4)
        casting += little_float(maps[0], k) < 1e8f;
    EXPECT_GT(casting, 200u * 200 / 20);
    EXPECT_TRUE(maps[0] == maps[1]);
    EXPECT_TRUE(maps[1] == maps[2]);
    // Turned, the grid's shadow is not where the still grid's falls.
    const std::string name = scratch_name("still_grid_map");
    o.light_extra = ", depth_output = \"" + name + "\"";
    const std::string still =
        std::regex_replace(grid, std::regex("rotate \\(yaxis, [^)]*\\);"), "");
    ASSERT_NE(still, grid);
    ASSERT_TRUE(render_scene(occluder_scene(o) + still, {2, 7}).ok);
    const std::vector<std::uint8_t> still_map = file_bytes(name);
    std::remove(name.c_str());
    ASSERT_EQ(still_map.size(), maps[0].size());
    std::size_t moved = 0;
    for (std::size_t k = 68; k + 4 < maps[0].size(); k += 4)
        moved += little_float(maps[0], k) != little_float(still_map, k);
    EXPECT_GT(moved, 200u * 200 / 50);
}

TEST(Shadows, AMapTakesItsOwnWindowAndToleranceAndGivesTheCamerasBack) {
    EXPECT_FLOAT_EQ(map_area_tolerance(256), 0.00001f);
    EXPECT_FLOAT_EQ(map_area_tolerance(512), 0.00004f);
    EXPECT_FLOAT_EQ(map_area_tolerance(513), 0.00016f);
    EXPECT_FLOAT_EQ(map_area_tolerance(2048), 0.00064f);
    EXPECT_FLOAT_EQ(map_area_tolerance(4097), 0.01024f);
    Occluder o;
    o.map_size = 512;
    RenderOptions before, after;
    RenderSettings settings;
    settings.adjust = [&](RenderOptions& options) {
        options.area_tolerance = 0.5f;
        before = options;
    };
    float map_tolerance = 0;
    settings.after_maps = [&](const RenderOptions& options) {
        after = options;
        // The map's pass was the last to set up bucket entry.
        map_tolerance = geometry_view().minimum_area;
    };
    ASSERT_TRUE(render_scene(occluder_scene(o), settings).ok);
    EXPECT_FLOAT_EQ(map_tolerance, 0.00004f);
    EXPECT_EQ(after.area_tolerance, 0.5f);
    EXPECT_EQ(after.xresolution, before.xresolution);
    EXPECT_EQ(after.yresolution, before.yresolution);
    EXPECT_EQ(after.xright, before.xright);
    EXPECT_EQ(after.yhigh, before.yhigh);
    EXPECT_EQ(after.aalevelmax, before.aalevelmax);
    EXPECT_EQ(after.aalevelmin, before.aalevelmin);
    EXPECT_EQ(after.tile_rows, before.tile_rows);
}

}  // namespace
}  // namespace sky::test
