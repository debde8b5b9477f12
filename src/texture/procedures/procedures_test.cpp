// The drawn procedures through the texture interface: every one draws a
// pattern that does not depend on who looks it up, every parameter it lists
// changes the picture, wide filters fade it to a flat colour, and where a
// parameter has a plain meaning the picture is checked against it with
// numbers worked out here, not by the procedure's own formulas.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/image/fb.h"
#include "platform/image/image_test_support.h"
#include "platform/report.h"
#include "texture/procedure_names.h"
#include "texture/texture_cache.h"
#include "texture/texture_procedure.h"
#include "texture/texture_test_support.h"

namespace sky::test {
namespace {

// One procedure as the tests use it: its name, a scene setting that makes
// it draw at its plain best (an image for the image-driven ones), and the
// parameters that change nothing by themselves (with the reason).
struct Drawn {
    const char* name;
    const char* settings = "";
    std::set<std::string> inert = {};
    // False for the procedures that follow the normal or the direction of
    // the lookup rather than draw a pattern (they have nothing to filter).
    bool pattern = true;
};

const Drawn kDrawn[] = {
    {"Grid"},
    {"Bulge"},
    {"Noise", "", {"time" /* only when animated */}},
    {"Fractal", "", {"time" /* only when animated */}},
    {"Marble"},
    {"Cloth"},
    {"Ramp",
     "ramp_color = (255, 0, 0), position = 0.2, ramp_color = (0, 0, 255), position = 0.7, noise "
     "= 0.2, hue_noise = 0.2, sat_noise = 0.2, val_noise = 0.2",
     {"interpolation" /* 0.6: still linear */, "position" /* a third position, no colour */}},
    {"Water",
     "ripple_time = 0.7, wave_time = 1, reflection_boundary = ON, reflections = 2, umin = 0.05",
     {"reflection_boundary" /* on already */}},
    {"Mountain"},
    {"Directional",
     "",
     {"hldirection_z" /* made unit length */, "ramp" /* a texture, not a number */},
     false},
    {"Stencil",
     "image = environment (procedure = Checker, color1 = (255, 0, 0)), mask = environment "
     "(procedure = Noise), color_key = (255, 0, 0)",
     {"image_file", "mask_file" /* files: tested with images */, "hue_range", "sat_range",
      "val_range", "positive_key", "color_key" /* only with key_masking */}},
    {"sFractal"},
    {"sCloud", "", {"edge_threshold", "soft_edges" /* the lookups face z: never side-on */}},
    {"sMarble", "yamplitude = 0.3"},
    {"sWood"},
    {"sRock", "grain_size = 0.2"},
    {"Granite"},
    {"Leather"},
    {"Snow",
     "surface_color = (10, 80, 20), depth_decay = 2, vector_y = 0, vector_z = 1, threshold = 0.9",
     {"snow", "surface" /* textures, not numbers */, "vector_z" /* the only axis: a direction */},
     false},
    {"Projection",
     "image = environment (procedure = Checker, color1 = (255, 0, 0)), xamplitude = 0.2",
     {"level_min", "level_max", "ratio" /* the distortion's fractal: by eye */, "zripples",
      "projection" /* planar along z: z is not seen */, "sfile_type" /* inside the picture */,
      "yamplitude" /* its fractal is the same shape */}},
    // The environments follow the direction: tested for their directions below.
    {"Sky",
     "cloud_threshold = 0.5, sun_elevation = 10",
     {"floor_texture", "cloud_texture" /* textures */, "sun_size", "sun_radius", "sun_blur",
      "sun_brightness" /* the sun's disc: too small to meet here, tested below */,
      "subcloud_samples" /* the air below the clouds is thin: 3 and 5 steps agree */},
     false},
    {"Chrome", "", {"floor_altitude" /* only with real_floor */}, false},
    {"Sphere", "image = environment (procedure = Fractal)", {}, false},
    {"Ball",
     "image = environment (procedure = Fractal), right = (0, 255, 0), sky_radius = 5, altitude = "
     "1",
     {"left", "front", "back", "bottom" /* colours written as numbers: still pictures */,
      "eyespace" /* these lookups know no eye direction: tested below */},
     false},
    {"Gaussian",
     "",
     {"ramp" /* a texture, not a number */, "ctype" /* the name chose the kind */},
     false},
    {"Cube",
     "crossImg = environment (procedure = Fractal)",
     {"left", "right", "front", "back", "bottom" /* under the cross */},
     false},
    {"Geometric",
     "image = environment (procedure = Fractal)",
     {"Height" /* of the cylinder only */},
     false},
};

// Where the i-th of n lookups of a region looks: a jittered grid over two
// repetitions of a surface frame, a cube of solid space, or the sphere of
// directions. `filter` is the footprint in the lookup's own units.
TextureLookup lookup(TextureKind kind, int i, int n, float filter, bool vary_normal) {
    int side = static_cast<int>(std::sqrt(static_cast<double>(n)));
    float a = (static_cast<float>(i % side) + 0.37f) / static_cast<float>(side);
    float b = (static_cast<float>(i / side) + 0.61f) / static_cast<float>(side);
    TextureLookup at;
    switch (kind) {
        case TEXTURE_SURFACE:
            at.u = 2.0f * a;
            at.v = 2.0f * b;
            at.du = at.dv = filter;
            break;
        case TEXTURE_SOLID:
            at.point = Triple{2.0f * a, 2.0f * b, 0.3f + 0.5f * a * b};
            at.normal = Triple{0.0f, 0.0f, 1.0f};
            at.dpoint = filter;
            break;
        case TEXTURE_ENVIRONMENT: {
            float z = 2.0f * b - 1.0f, r = std::sqrt(std::max(0.0f, 1.0f - z * z));
            float phi = 6.2831853f * a;
            at.direction = Triple{r * std::cos(phi), z, r * std::sin(phi)};
            at.point = Triple{0.3f, 0.2f, -0.4f};  // finite surroundings see it
            at.du = at.dv = filter;
            break;
        }
    }
    at.normal = vary_normal ? Triple{0.3f * a, 0.4f * b, 0.866f} : Triple{0.0f, 0.0f, 1.0f};
    // The surface's shape: principal curvatures a and b along x and y.
    at.along[0] = Triple{1.0f, 0.0f, 0.0f};
    at.along[1] = Triple{0.0f, 1.0f, 0.0f};
    at.normal_change[0] = Triple{a, 0.0f, 0.0f};
    at.normal_change[1] = Triple{0.0f, b, 0.0f};
    return at;
}

struct Region {
    std::vector<TextureColour> colours;
    // The variance of the colours (summed over the channels, 0..255 units)
    // and of alpha.
    double variance() const {
        double sum[4] = {}, square[4] = {};
        for (const TextureColour& c : colours) {
            double v[4] = {c.r, c.g, c.b, 255.0 * c.alpha};
            for (int k = 0; k < 4; ++k) {
                sum[k] += v[k];
                square[k] += v[k] * v[k];
            }
        }
        double n = static_cast<double>(colours.size()), total = 0.0;
        for (int k = 0; k < 4; ++k) total += square[k] / n - (sum[k] / n) * (sum[k] / n);
        return std::max(total, 0.0);
    }
    double difference(const Region& other) const {
        double d = 0.0;
        for (std::size_t i = 0; i < colours.size(); ++i) {
            const TextureColour& a = colours[i];
            const TextureColour& b = other.colours[i];
            d = std::max({d, std::fabs(double(a.r) - b.r), std::fabs(double(a.g) - b.g),
                          std::fabs(double(a.b) - b.b),
                          255.0 * std::fabs(double(a.alpha) - b.alpha)});
        }
        return d;
    }
};

class Procedures : public TextureTest {
protected:
    static AR_TextureInfo* make(const Drawn& p, const std::string& more = "") {
        std::string scene = std::string("environment t (procedure = ") + p.name;
        if (*p.settings) scene += std::string(", ") + p.settings;
        if (!more.empty()) scene += ", " + more;
        return declared(scene + ");");
    }
    // The colours of n lookups; normals vary across the region for the
    // procedures that follow them.
    static Region region(const AR_TextureInfo& t, float filter, int n = 1024) {
        bool follows_normal = false;
        for (const Drawn& p : kDrawn)
            if (find_texture_procedure(p.name) == t.procedure) follows_normal = !p.pattern;
        Region r;
        for (int i = 0; i < n; ++i) {
            TextureColour out;
            EXPECT_TRUE(
                Ar_invoke_texture(t, lookup(t.procedure->kind, i, n, filter, follows_normal), out));
            r.colours.push_back(out);
        }
        return r;
    }
};

// A value for a parameter that differs plainly from its default.
std::string other_value(const Parameter& row) {
    const Triple& d = row.value;
    char text[96];
    std::string name = row.name;
    if (name.find("level") != std::string::npos) return d.x == 0.0f ? "2" : "5";
    // Kinds and counts are whole numbers.
    if (name.ends_with("type") || name == "reflections" || name == "numwaves")
        return std::to_string(static_cast<int>(d.x) + 1);
    bool scalar = d.y == 0.0f && d.z == 0.0f;  // numbers set x alone; colours all three
    if (!scalar && (d.x != d.y || d.y != d.z))
        std::snprintf(text, sizeof text, "(%g, %g, %g)", d.z * 0.5 + 20, d.x * 0.7 + 10, d.y + 30);
    else if (d.x == 0.0f)
        std::snprintf(text, sizeof text, "0.63");
    else if (d.x == 1.0f)
        std::snprintf(text, sizeof text, "0.4");  // turns switches off
    else
        std::snprintf(text, sizeof text, "%g", d.x * 0.6);
    return text;
}

TEST_F(Procedures, EveryDrawnProcedureDrawsAPatternWithoutNaN) {
    for (const Drawn& p : kDrawn) {
        AR_TextureInfo* t = make(p);
        ASSERT_NE(t, nullptr) << p.name;
        Region r = region(*t, 0.0f);
        EXPECT_GT(r.variance(), 4.0) << p.name << " is flat";
        for (const TextureColour& c : r.colours) {
            ASSERT_TRUE(std::isfinite(c.r) && std::isfinite(c.g) && std::isfinite(c.b) &&
                        std::isfinite(c.alpha))
                << p.name;
            ASSERT_TRUE(c.alpha >= 0.0f && c.alpha <= 1.0f) << p.name;
        }
        // The same lookups give the same colours, bit for bit.
        EXPECT_EQ(region(*t, 0.0f).difference(r), 0.0) << p.name;
    }
}

TEST_F(Procedures, EveryParameterChangesThePicture) {
    for (const Drawn& p : kDrawn) {
        AR_TextureInfo* plain = make(p);
        ASSERT_NE(plain, nullptr) << p.name;
        Region before = region(*plain, 0.0f, 400);
        for (const Parameter& row : plain->procedure->parameters->rows) {
            if (p.inert.count(row.name)) continue;
            std::string setting = std::string(row.name) + " = " + other_value(row);
            AR_TextureInfo* changed = make(p, setting);
            ASSERT_NE(changed, nullptr) << p.name << ": " << setting;
            EXPECT_GT(region(*changed, 0.0f, 400).difference(before), 0.5)
                << p.name << ": " << setting << " changes nothing";
        }
    }
}

TEST_F(Procedures, ExtremeParametersNeverGiveNaNOrInfiniteColours) {
    for (const Drawn& p : kDrawn) {
        AR_TextureInfo* plain = make(p);
        ASSERT_NE(plain, nullptr) << p.name;
        for (const Parameter& row : plain->procedure->parameters->rows)
            for (const char* extreme : {"1e30", "-1e30", "0"}) {
                std::string setting = std::string(row.name) + " = " + extreme;
                AR_TextureInfo* t = make(p, setting);
                ASSERT_NE(t, nullptr) << p.name << ": " << setting;
                for (const TextureColour& c : region(*t, 0.01f, 64).colours)
                    ASSERT_TRUE(std::isfinite(c.r) && std::isfinite(c.g) && std::isfinite(c.b) &&
                                std::isfinite(c.alpha) && c.alpha >= 0.0f && c.alpha <= 1.0f)
                        << p.name << ": " << setting;
            }
    }
}

TEST_F(Procedures, WideFiltersFadeEveryPatternToAFlatColour) {
    for (const Drawn& p : kDrawn) {
        if (!p.pattern) continue;
        AR_TextureInfo* t = make(p);
        ASSERT_NE(t, nullptr) << p.name;
        double sharp = region(*t, 0.0f).variance();
        // Past the pattern's scale (the frame is 1 wide) the colours close in.
        EXPECT_LT(region(*t, 1.0f).variance(), sharp * 0.25) << p.name;
        EXPECT_LT(region(*t, 4.0f).variance(), sharp * 1e-3 + 1e-6) << p.name;
    }
}

// --- plain meanings --------------------------------------------------------------

TEST_F(Procedures, GridCoversTheFractionItsLineWidthsGive) {
    for (auto [uw, vw] : {std::pair{0.1f, 0.1f}, {0.25f, 0.05f}, {0.0f, 0.4f}}) {
        char scene[160];
        std::snprintf(scene, sizeof scene,
                      "environment t (procedure = Grid, uwidth = %g, vwidth = %g);", uw, vw);
        AR_TextureInfo* t = declared(scene);
        ASSERT_NE(t, nullptr);
        // White lines on black: the mean grey is the covered fraction.
        double sum = 0.0;
        const int n = 400;
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) sum += look(*t, (i + 0.5f) / n, (j + 0.5f) / n).r / 255.0;
        double expected = 1.0 - (1.0 - uw) * (1.0 - vw);
        EXPECT_NEAR(sum / (n * n), expected, 0.01 * std::max(expected, 0.01)) << scene;
        // Under a filter of a whole frame every point shows that mean.
        EXPECT_NEAR(look(*t, 0.3f, 0.8f, 1.0f, 1.0f).r / 255.0, expected, 1e-3);
    }
}

// The mean, spread (root mean square about 0.5) and range of a scalar
// texture's alpha over 1e5 points of a low-discrepancy walk over three
// repetitions of its frame.
struct Statistics {
    double mean = 0, spread = 0;
    float low = 1, high = 0;
};
Statistics statistics(const AR_TextureInfo& t) {
    const int n = 100000;
    double sum = 0, square = 0;
    Statistics s;
    for (int i = 0; i < n; ++i) {
        float u = 0.5f + static_cast<float>(i) * 0.7548777f;
        float v = 0.5f + static_cast<float>(i) * 0.5698403f;
        TextureLookup at;
        at.u = 3.0f * (u - std::floor(u));
        at.v = 3.0f * (v - std::floor(v));
        TextureColour out;
        Ar_invoke_texture(t, at, out);
        s.low = std::min(s.low, out.alpha);
        s.high = std::max(s.high, out.alpha);
        sum += out.alpha;
        square += (out.alpha - 0.5) * (out.alpha - 0.5);
    }
    s.mean = sum / n;
    s.spread = std::sqrt(square / n);
    return s;
}

TEST_F(Procedures, NoiseStaysInRangeWithTheDocumentedMeanAndSpread) {
    AR_TextureInfo* t = declared("environment t (procedure = Noise);");
    ASSERT_NE(t, nullptr);
    Statistics full = statistics(*t);
    std::printf("Noise over 1e5 points: mean %.4f, spread %.4f, range %.3f..%.3f\n", full.mean,
                full.spread, full.low, full.high);
    EXPECT_NEAR(full.mean, 0.5, 0.01);
    EXPECT_GE(full.low, 0.0f);
    EXPECT_LE(full.high, 1.0f);
    EXPECT_NEAR(full.spread, 0.164, 0.005);  // docs/textures.md
    // `amplitude` scales the spread about the mean.
    t = declared("environment t (procedure = Noise, amplitude = 0.5);");
    ASSERT_NE(t, nullptr);
    EXPECT_NEAR(statistics(*t).spread / full.spread, 0.5, 0.01);
}

// The share of a pattern's variance in its fine detail: the mean squared
// difference of neighbours `step` apart, over twice the variance.
double fine_share(const AR_TextureInfo& t, float step) {
    auto alpha = [&](float u, float v) {
        TextureLookup at;
        at.u = u;
        at.v = v;
        TextureColour out;
        Ar_invoke_texture(t, at, out);
        return out.alpha;
    };
    double sum = 0, square = 0, difference = 0;
    const int n = 20000;
    for (int i = 0; i < n; ++i) {
        float u = static_cast<float>(i % 173) / 173.0f, v = static_cast<float>(i / 173) / 116.0f;
        float a = alpha(u, v);
        float b = alpha(u + step, v);
        sum += a;
        square += a * a;
        difference += (a - b) * (a - b);
    }
    double mean = sum / n;
    return difference / n / (2.0 * (square / n - mean * mean));
}

TEST_F(Procedures, ALargerFractalRatioKeepsMoreFineDetail) {
    double previous = 0.0;
    for (float ratio : {0.3f, 0.5f, 0.707f, 0.9f}) {
        char scene[96];
        std::snprintf(scene, sizeof scene, "environment t (procedure = Fractal, ratio = %g);",
                      ratio);
        AR_TextureInfo* t = declared(scene);
        ASSERT_NE(t, nullptr);
        double share = fine_share(*t, 1.0f / 512.0f);
        EXPECT_GT(share, previous * 1.2) << "ratio " << ratio;
        previous = share;
    }
}

TEST_F(Procedures, RampGivesItsEntriesExactlyAtTheirPositions) {
    // Written out of order, with a nested texture among them.
    AR_TextureInfo* t = declared(
        "environment t (procedure = Ramp, ramp_color = (10, 200, 30), position = 0.8, ramp_color "
        "= (250, 5, 60), position = 0.15, ramp_color = environment (procedure = Checker, color1 = "
        "(7, 7, 7), color2 = (7, 7, 7)), position = 0.5);");
    ASSERT_NE(t, nullptr);
    expect_colour(look(*t, 0.3f, 0.15f), 250, 5, 60);
    expect_colour(look(*t, 0.3f, 0.5f), 7, 7, 7);
    expect_colour(look(*t, 0.3f, 0.8f), 10, 200, 30);
    // Before the first and after the last entry the ends hold.
    expect_colour(look(*t, 0.3f, 0.05f), 250, 5, 60);
    expect_colour(look(*t, 0.3f, 0.95f), 10, 200, 30);
    // Linear in between: a quarter of the way from 0.5 to 0.8.
    expect_colour(look(*t, 0.3f, 0.575f), 7 + 0.25f * 3, 7 + 0.25f * 193, 7 + 0.25f * 23, 0.05f);

    // Along u, with no blending: each entry holds until the next.
    t = declared(
        "environment t (procedure = Ramp, ramp_type = 1, interpolation = 0, ramp_color = (255, 0, "
        "0), position = 0.25, ramp_color = (0, 0, 255), position = 0.75);");
    ASSERT_NE(t, nullptr);
    expect_colour(look(*t, 0.7f, 0.1f), 255, 0, 0);
    expect_colour(look(*t, 0.75f, 0.1f), 0, 0, 255);

    // Without colours: black at 0 to white at 1.
    t = declared("environment t (procedure = Ramp);");
    ASSERT_NE(t, nullptr);
    EXPECT_NEAR(look(*t, 0.5f, 0.25f).g, 63.75f, 0.01f);
}

// A direction at azimuth and elevation (degrees; azimuth from +z toward +x).
Triple toward(float azimuth, float elevation) {
    const float k = 3.14159265f / 180.0f;
    return Triple{std::sin(azimuth * k) * std::cos(elevation * k), std::sin(elevation * k),
                  std::cos(azimuth * k) * std::cos(elevation * k)};
}

TEST_F(Procedures, TheSkysSunSitsWhereItsAzimuthAndElevationSay) {
    AR_TextureInfo* t = declared(
        "environment t (procedure = Sky, sun_azimuth = 100, sun_elevation = 30, sun_size = 2, "
        "cloud_density = 0);");
    ASSERT_NE(t, nullptr);
    auto brightness = [&](const Triple& d) {
        TextureLookup at;
        at.direction = d;
        TextureColour out;
        Ar_invoke_texture(*t, at, out);
        return out.r + out.g + out.b;
    };
    float sun = brightness(toward(100, 30));
    // Inside the disc (2 degrees across) it is as bright; outside, far less.
    EXPECT_NEAR(brightness(toward(100.5f, 30)), sun, 0.05f * sun);
    EXPECT_LT(brightness(toward(100, 32)), 0.5f * sun);
    EXPECT_LT(brightness(toward(280, 30)), 0.1f * sun);
    // The sky above the horizon is bluer than the floor below it.
    TextureLookup above, below;
    above.direction = toward(0, 2);
    below.direction = toward(0, -2);
    TextureColour a, b;
    Ar_invoke_texture(*t, above, a);
    Ar_invoke_texture(*t, below, b);
    EXPECT_GT(a.b / a.r, 1.2f * b.b / b.r);
    EXPECT_GT(a.b, a.r);
}

TEST_F(Procedures, EnvironmentsWithoutADirectionLookAlongTheNormal) {
    for (const Drawn& p : kDrawn) {
        AR_TextureInfo* t = make(p);
        ASSERT_NE(t, nullptr) << p.name;
        if (t->procedure->kind != TEXTURE_ENVIRONMENT) continue;
        TextureLookup plain, along;
        plain.normal = along.normal = along.direction = normalise(Triple{0.2f, 0.7f, -0.4f});
        TextureColour a, b;
        ASSERT_TRUE(Ar_invoke_texture(*t, plain, a));
        ASSERT_TRUE(Ar_invoke_texture(*t, along, b));
        expect_colour(a, b.r, b.g, b.b);
        // Nor a normal: straight along z, still a colour.
        plain.normal = Triple{};
        ASSERT_TRUE(Ar_invoke_texture(*t, plain, a));
        EXPECT_TRUE(std::isfinite(a.r + a.g + a.b + a.alpha)) << p.name;
    }
}

// A lookup on a surface whose principal curvatures are k1 and k2 along two
// perpendicular unit directions, seen through two other directions along it
// (skewed and of different lengths: the answer must not depend on them).
TextureLookup on_shape(float k1, float k2) {
    const Triple e1 = normalise(Triple{1.0f, 0.0f, 0.5f});
    const Triple e2 = normalise(Triple{-0.2f, 1.0f, 0.4f});
    const Triple e2_perpendicular = normalise(sub(e2, scale(e1, dot(e1, e2))));
    TextureLookup at;
    at.normal = normalise(cross(e1, e2_perpendicular));
    // Shape operator: the normal turns by k × the step along each principal
    // direction.
    auto turn = [&](const Triple& step) {
        return add(scale(e1, k1 * dot(step, e1)),
                   scale(e2_perpendicular, k2 * dot(step, e2_perpendicular)));
    };
    at.along[0] = scale(add(e1, scale(e2_perpendicular, 0.3f)), 0.02f);
    at.along[1] = scale(sub(e2_perpendicular, scale(e1, 0.7f)), 0.05f);
    for (int i = 0; i < 2; ++i) at.normal_change[i] = turn(at.along[i]);
    return at;
}

TEST_F(Procedures, CurvatureMeasuresSpheresCylindersAndSaddles) {
    struct Shape {
        const char* name;
        float k1, k2;
    };
    // A sphere of radius 2, a cylinder of radius 4, a saddle, a bowl seen
    // from inside.
    const Shape shapes[] = {{"sphere", 0.5f, 0.5f},
                            {"cylinder", 0.25f, 0.0f},
                            {"saddle", 0.4f, -0.2f},
                            {"bowl", -0.5f, -0.5f}};
    for (const char* type : {"Gaussian", "Mean", "PrincMin", "PrincMax"}) {
        // t = 0.5 + 0.5 × curvature: the grey shows curvatures of -1..1.
        AR_TextureInfo* t = declared(std::string("environment t (procedure = ") + type +
                                     ", cscale = 0.5, cvalue = 0.5);");
        ASSERT_NE(t, nullptr);
        for (const Shape& shape : shapes) {
            float expected = std::string(type) == "Gaussian"   ? shape.k1 * shape.k2
                             : std::string(type) == "Mean"     ? 0.5f * (shape.k1 + shape.k2)
                             : std::string(type) == "PrincMin" ? std::min(shape.k1, shape.k2)
                                                               : std::max(shape.k1, shape.k2);
            TextureColour out;
            ASSERT_TRUE(Ar_invoke_texture(*t, on_shape(shape.k1, shape.k2), out));
            EXPECT_NEAR(out.alpha, 0.5f + 0.5f * expected, 1e-4f) << type << " " << shape.name;
            EXPECT_NEAR(out.r, 255.0f * out.alpha, 1e-2f) << type << " " << shape.name;
        }
    }
    // A ramp gets t; `curve_type` names the kind or numbers it in the same order.
    AR_TextureInfo* mean = declared(
        "environment t (Curvature = PrincMin, curve_type = 1, cscale = 0.5, ramp = environment "
        "(procedure = Ramp, ramp_color = (0, 0, 0), position = 0, ramp_color = (200, 100, 0), "
        "position = 1));");
    ASSERT_NE(mean, nullptr);
    TextureColour out;
    ASSERT_TRUE(Ar_invoke_texture(*mean, on_shape(0.4f, -0.2f), out));
    expect_colour(out, 10.0f, 5.0f, 0.0f, 0.05f);
    // A flat plane, and a lookup that knows no shape, are curvature 0.
    ASSERT_TRUE(Ar_invoke_texture(*mean, on_shape(0.0f, 0.0f), out));
    expect_colour(out, 0.0f, 0.0f, 0.0f, 0.05f);
    ASSERT_TRUE(Ar_invoke_texture(*mean, TextureLookup{}, out));
    expect_colour(out, 0.0f, 0.0f, 0.0f, 0.05f);
}

TEST_F(Procedures, AnEyespaceBallTurnsWithTheCamera) {
    const char* scene =
        "environment t (procedure = Ball, image = environment (procedure = Fractal), eyespace = "
        "%s);";
    char text[160];
    std::snprintf(text, sizeof text, scene, "ON");
    AR_TextureInfo* eyespace = declared(text);
    ASSERT_NE(eyespace, nullptr);
    TextureLookup a, b;
    a.direction = normalise(Triple{0.3f, 0.2f, -1.0f});
    b.direction = normalise(Triple{-0.8f, 0.5f, 0.1f});
    a.eye_direction = b.eye_direction = normalise(Triple{0.1f, -0.4f, 0.6f});
    TextureColour seen_a, seen_b, world;
    ASSERT_TRUE(Ar_invoke_texture(*eyespace, a, seen_a));
    ASSERT_TRUE(Ar_invoke_texture(*eyespace, b, seen_b));
    // The same direction from the camera, the same colour, wherever the
    // camera looks in the world; and it is the colour the world ball shows
    // in that direction.
    expect_colour(seen_a, seen_b.r, seen_b.g, seen_b.b, 0.0f);
    std::snprintf(text, sizeof text, scene, "OFF");
    AR_TextureInfo* fixed = declared(text);
    ASSERT_NE(fixed, nullptr);
    TextureLookup same;
    same.direction = a.eye_direction;
    ASSERT_TRUE(Ar_invoke_texture(*fixed, same, world));
    expect_colour(seen_a, world.r, world.g, world.b, 0.0f);
    // Off, the eye direction changes nothing.
    ASSERT_TRUE(Ar_invoke_texture(*fixed, a, seen_a));
    ASSERT_TRUE(Ar_invoke_texture(*fixed, b, seen_b));
    EXPECT_GT(std::fabs(seen_a.r - seen_b.r) + std::fabs(seen_a.alpha - seen_b.alpha), 1.0f);
}

TextureColour toward_direction(const AR_TextureInfo& t, const Triple& d) {
    TextureLookup at;
    at.direction = d;
    TextureColour out;
    EXPECT_TRUE(Ar_invoke_texture(t, at, out));
    return out;
}

TEST_F(Procedures, CubeFacesShowWhereTheDirectionPoints) {
    AR_TextureInfo* t = declared(
        "environment t (procedure = Cube, left = (10, 0, 0), right = (20, 0, 0), front = (30, 0, "
        "0), back = (40, 0, 0), bottom = (50, 0, 0), rgbout = (7, 7, 7));");
    ASSERT_NE(t, nullptr);
    EXPECT_NEAR(toward_direction(*t, Triple{-1, 0.2f, 0.1f}).r, 10, 1e-3);
    EXPECT_NEAR(toward_direction(*t, Triple{1, -0.3f, 0.4f}).r, 20, 1e-3);
    EXPECT_NEAR(toward_direction(*t, Triple{0.2f, 0.1f, -1}).r, 30, 1e-3);  // the front: −z
    EXPECT_NEAR(toward_direction(*t, Triple{0.2f, 0.1f, 1}).r, 40, 1e-3);
    EXPECT_NEAR(toward_direction(*t, Triple{0.2f, -1, 0.1f}).r, 50, 1e-3);
    EXPECT_NEAR(toward_direction(*t, Triple{0.2f, 1, 0.1f}).r, 7, 1e-3);  // no top but in a cross

    // A horizontal cross: the front face is the second cell of the middle row.
    t = declared(
        "environment t (procedure = Cube, crossOrient = 1, crossImg = environment (procedure = "
        "Ramp, ramp_type = 1, interpolation = 0, ramp_color = (1, 0, 0), position = 0, ramp_color "
        "= (2, 0, 0), position = 0.25, ramp_color = (3, 0, 0), position = 0.5, ramp_color = (4, "
        "0, 0), position = 0.75));");
    ASSERT_NE(t, nullptr);
    EXPECT_NEAR(toward_direction(*t, Triple{-1, 0, 0}).r, 1, 1e-3);  // left, first column
    EXPECT_NEAR(toward_direction(*t, Triple{0, 0, -1}).r, 2, 1e-3);  // front
    EXPECT_NEAR(toward_direction(*t, Triple{1, 0, 0}).r, 3, 1e-3);   // right
    EXPECT_NEAR(toward_direction(*t, Triple{0, 0, 1}).r, 4, 1e-3);   // back
}

TEST_F(Procedures, ChromesFloorGridAndSkyLieWhereTheirGeometrySays) {
    AR_TextureInfo* t = declared(
        "environment t (procedure = Chrome, floor_color = (0, 0, 0), grid_color = (255, 0, 0), "
        "grid_width = 0.1, grid_depth = 0.1, horizon_color = (0, 0, 255), sky_color = (0, 0, "
        "255), zenith_color = (0, 255, 0), light_width = 0);");
    ASSERT_NE(t, nullptr);
    // The floor one unit down: (2, -1, 0.5) meets it on a line across x at
    // x = 2, (2.5, -1, 0.5) between the lines.
    EXPECT_NEAR(toward_direction(*t, normalise(Triple{2.0f, -1.0f, 0.5f})).r, 255, 1e-2);
    EXPECT_NEAR(toward_direction(*t, normalise(Triple{2.5f, -1.0f, 0.5f})).r, 0, 1e-2);
    // Lines are a tenth of the spacing wide: 0.04 off the line is on it, 0.06 is not.
    EXPECT_NEAR(toward_direction(*t, normalise(Triple{2.04f, -1.0f, 0.5f})).r, 255, 1e-2);
    EXPECT_NEAR(toward_direction(*t, normalise(Triple{2.06f, -1.0f, 0.5f})).r, 0, 1e-2);
    // Above the horizon the sky, straight up the zenith.
    expect_colour(toward_direction(*t, normalise(Triple{1.0f, 0.01f, 0.0f})), 0, 0, 255, 1.0f);
    expect_colour(toward_direction(*t, Triple{0.0f, 1.0f, 0.0f}), 0, 255, 0, 1.0f);
}

TEST_F(Procedures, SphereWrapsItsPictureByLongitudeAndLatitude) {
    AR_TextureInfo* t = declared(
        "environment t (procedure = Sphere, image = environment (procedure = Ramp, ramp_type = 1, "
        "ramp_color = (0, 0, 0), position = 0, ramp_color = (255, 0, 0), position = 1));");
    ASSERT_NE(t, nullptr);
    // u is 0.5 looking along +z, 0.75 along +x, 0.25 along −x.
    EXPECT_NEAR(toward_direction(*t, Triple{0, 0, 1}).r, 127.5f, 0.5f);
    EXPECT_NEAR(toward_direction(*t, Triple{1, 0, 0}).r, 191.25f, 0.5f);
    EXPECT_NEAR(toward_direction(*t, Triple{-1, 0, 0}).r, 63.75f, 0.5f);
}

// A flat slice of a Volume: every pixel (r, g, b).
bool write_slice(const std::string& name, int size, std::uint8_t r, std::uint8_t g,
                 std::uint8_t b) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(size) * size * 4);
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = r;
        pixels[i + 1] = g;
        pixels[i + 2] = b;
        pixels[i + 3] = 255;
    }
    FBhandle* file = FBopen(name.c_str(), FB_WRITE_IMAGE, FB_FORMAT_QRL, size, size, 4, 0, 0, 90.0);
    if (file == nullptr) return false;
    bool written = FBwrite(file, pixels.data()) != 0;
    return FBclose(file) != 0 && written;
}

std::string reported;
void capture(const char* text) {
    reported += text;
}

TEST_F(Procedures, VolumeStacksItsSlicesAndBlendsBetweenThem) {
    clear_texture_cache();
    ScratchDir scratch;
    std::string base = scratch.file("slice");
    ASSERT_TRUE(write_slice(base + ".1", 4, 200, 0, 0));
    ASSERT_TRUE(write_slice(base + ".2", 4, 0, 200, 0));
    ASSERT_TRUE(write_slice(base + ".3", 4, 0, 0, 200));
    ASSERT_TRUE(write_slice(base + ".4", 8, 90, 90, 90));  // another size: the volume ends
    reported.clear();
    rptSetErrorCB(capture);
    AR_TextureInfo* t = declared(
        "environment t (procedure = Volume, from = 1, pix_sequence = "
        "environment (procedure = file, image = \"" +
        base + "\"));");
    rptSetErrorCB(nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(reported, "Warning: Volume slice " + base +
                            ".4 differs in size from the first; the volume ends before it\n");
    auto at = [&](float x, float y, float z) {
        TextureLookup lookup;
        lookup.point = Triple{x, y, z};
        TextureColour out;
        Ar_invoke_texture(*t, lookup, out);
        return out;
    };
    // Three slices along z: each holds over the middle of its third.
    expect_colour(at(0.3f, 0.6f, 1.0f / 6), 200, 0, 0);
    expect_colour(at(0.3f, 0.6f, 0.5f), 0, 200, 0);
    expect_colour(at(0.8f, 0.1f, 5.0f / 6), 0, 0, 200);
    // Half way between the first two, half of each.
    expect_colour(at(0.3f, 0.6f, 1.0f / 3), 100, 100, 0, 0.5f);

    // Stacked along x instead, and a file name for the sequence.
    t = declared("environment t (procedure = Volume, from = 2, mapping = 2, pix_sequence = \"" +
                 base + "\");");
    ASSERT_NE(t, nullptr);
    expect_colour(at(0.25f, 0.5f, 0.5f), 0, 200, 0);
    expect_colour(at(0.75f, 0.5f, 0.5f), 0, 0, 200);

    // No such sequence, or a texture that is not a file: the outside colour,
    // without a message.
    reported.clear();
    rptSetErrorCB(capture);
    t = declared("environment t (procedure = Volume, rgbout = (1, 2, 3), pix_sequence = \"" +
                 scratch.file("none") + "\");");
    ASSERT_NE(t, nullptr);
    expect_colour(at(0.5f, 0.5f, 0.5f), 1, 2, 3);
    t = declared(
        "environment t (procedure = Volume, rgbout = (1, 2, 3), pix_sequence = environment "
        "(procedure = Checker));");
    ASSERT_NE(t, nullptr);
    expect_colour(at(0.5f, 0.5f, 0.5f), 1, 2, 3);
    rptSetErrorCB(nullptr);
    EXPECT_EQ(reported, "");
    clear_texture_cache();
}

}  // namespace
}  // namespace sky::test
