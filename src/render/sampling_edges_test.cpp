// The row routines against pictures the test draws itself. The node's
// sample routine is replaced by one that reads the picture and records every
// sample it is asked for, so where each pixel is sampled, how many samples
// it takes and how they combine can be checked exactly, free of
// tessellation and shading.
#include <algorithm>
#include <cmath>
#include <functional>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "base/options.h"
#include "base/options_test_support.h"
#include "render/caster_state.h"
#include "render/rows.h"
#include "render/sampling_tables.h"
#include "scene/camera.h"

namespace sky {
namespace {

// What a sample at a position sees.
struct Seen {
    float rgba[4] = {0, 0, 0, 0};
    float depth = kNothingDepth;
    bool missed = true;  // no geometry (counts only with composite rendering)
};
using Picture = std::function<Seen(double x, double y)>;

Seen surface(float r, float g, float b, float depth = 5.0f) {
    Seen s;
    s.rgba[0] = r, s.rgba[1] = g, s.rgba[2] = b, s.rgba[3] = 255.0f;
    s.depth = depth;
    s.missed = false;
    return s;
}
Seen grey(float v) {
    return surface(v, v, v);
}

struct Taken {
    double x, y;
    std::int32_t pixel_x, pixel_y;  // the pixel being rendered when it was taken
    bool corner;
};

const Picture* picture = nullptr;
std::vector<Taken>* taken = nullptr;

bool at_corner_offset(double v) {
    return std::fabs(v - std::floor(v) - 0.001) < 1e-7;
}

float draw(double x, double y, double, float* out, RR_SampleNode& node) {
    const Seen seen = (*picture)(x, y);
    std::copy(seen.rgba, seen.rgba + 4, out);
    node.missed = seen.missed ? 1 : 0;
    Taken t{x, y, static_cast<std::int32_t>(std::floor(x)),
            static_cast<std::int32_t>(std::floor(y)), at_corner_offset(x) && at_corner_offset(y)};
    if (node.aa_max > 0) {
        t.pixel_x = node.x_left + node.corner_index;
        t.pixel_y = static_cast<std::int32_t>(node.row_y);
    }
    taken->push_back(t);
    return seen.depth;
}

struct Frame {
    std::int32_t x_left = 0, width = 12;
    std::int32_t y_low = 0, height = 8;
    int aa_min = 1, aa_max = 16;
    float threshold = 0.5f;
    bool composite = false;
    bool reduced = false;
    bool flat_background = true;
    std::int32_t gate_left = -1, gate_right = 1 << 20;
};

struct Rendered {
    Frame frame;
    std::vector<float> rgba, depth;  // row y at (y − y_low)·width
    std::vector<Taken> samples;

    std::size_t index(std::int32_t x, std::int32_t y) const {
        return static_cast<std::size_t>(y - frame.y_low) * frame.width + (x - frame.x_left);
    }
    const float* at(std::int32_t x, std::int32_t y) const { return &rgba[4 * index(x, y)]; }
    float depth_at(std::int32_t x, std::int32_t y) const { return depth[index(x, y)]; }
    // The pixel's sample count as the contrast rule counts it: the corner
    // estimate and the jittered samples.
    int count(std::int32_t x, std::int32_t y) const {
        return 1 +
               static_cast<int>(std::count_if(samples.begin(), samples.end(), [&](const Taken& t) {
                   return !t.corner && t.pixel_x == x && t.pixel_y == y;
               }));
    }
    int samples_of(std::int32_t x, std::int32_t y) const {
        return static_cast<int>(std::count_if(samples.begin(), samples.end(), [&](const Taken& t) {
            return t.pixel_x == x && t.pixel_y == y;
        }));
    }
    std::int32_t x_last() const { return frame.x_left + frame.width - 1; }
    std::int32_t y_last() const { return frame.y_low + frame.height - 1; }
};

class RowRoutines : public ::testing::Test {
protected:
    void SetUp() override {
        saved_camera_ = caster_camera();
        saved_grid_ = bucket_grid();
        // The pictures need no triangles: every pixel's list is empty.
        BucketGrid& grid = bucket_grid();
        grid.heads = &no_triangles_;
        grid.width = grid.height = 1;
        build_jitter_tables();
    }
    void TearDown() override {
        RR_release_sample_node(node_);
        caster_camera() = saved_camera_;
        bucket_grid() = saved_grid_;
        picture = nullptr;
        taken = nullptr;
    }

    // Renders one tile of the frame top to bottom, as a worker does.
    Rendered render(const Frame& f, const Picture& p) {
        Rendered out;
        out.frame = f;
        RenderOptions& o = render_options();
        o.xleft = f.x_left, o.xright = f.x_left + f.width - 1;
        o.ylow = f.y_low, o.yhigh = f.y_low + f.height - 1;
        o.xresolution = o.xright + 1, o.yresolution = o.yhigh + 1;
        o.aalevelmin = f.aa_min, o.aalevelmax = f.aa_max, o.aathreshold = f.threshold;
        o.reduced_samples = f.reduced;
        o.composite_rendering = f.composite;
        o.composite_threshold = 0.0f;
        o.ignore_filmgate = true;
        o.hidden_line = false;
        o.motion_blur = false;
        CasterCamera& cam = caster_camera();
        cam.composite = f.composite;
        cam.motion_blur = cam.timing = cam.fields = false;
        RR_init_sample_node(&node_, CameraRecord{});
        node_.sample_routine = draw;
        node_.flat_background = f.flat_background ? 1 : 0;
        node_.gate_left = f.gate_left, node_.gate_right = f.gate_right;

        picture = &p;
        taken = &out.samples;
        out.rgba.assign(4 * static_cast<std::size_t>(f.width) * f.height, -1.0f);
        out.depth.assign(static_cast<std::size_t>(f.width) * f.height, -1.0f);
        start_tile_corners(node_);
        for (std::int32_t y = o.yhigh; y >= o.ylow; --y) {
            node_.row_routine(node_.colour_row, y, node_);
            std::copy(node_.colour_row, node_.colour_row + 4 * f.width,
                      &out.rgba[4 * out.index(f.x_left, y)]);
            std::copy(node_.depth_row, node_.depth_row + f.width,
                      &out.depth[out.index(f.x_left, y)]);
        }
        return out;
    }

    RR_SampleNode node_;

private:
    test::RenderOptionsGuard options_;
    CasterCamera saved_camera_;
    BucketGrid saved_grid_;
    BucketCell* no_triangles_ = nullptr;
};

// Black and white squares of one pixel: every pixel has full contrast
// through its corners.
Seen checkerboard(double x, double y) {
    return grey(((static_cast<int>(std::floor(x)) + static_cast<int>(std::floor(y))) & 1) ? 255.0f
                                                                                          : 0.0f);
}

TEST_F(RowRoutines, WithoutSupersamplingEachPixelIsSampledOnceAtAFixedPlaceInIt) {
    Frame f;
    f.x_left = 3, f.y_low = 2, f.aa_min = f.aa_max = 0;
    const Picture gradient = [](double x, double y) {
        Seen s = surface(static_cast<float>(40.0 * (x - std::floor(x))),
                         static_cast<float>(40.0 * (y - std::floor(y))), static_cast<float>(x),
                         static_cast<float>(x + 100.0 * y));
        return s;
    };
    Rendered r = render(f, gradient);
    ASSERT_EQ(r.samples.size(), static_cast<std::size_t>(f.width * f.height));
    for (std::int32_t y = f.y_low; y <= r.y_last(); ++y) {
        for (std::int32_t x = f.x_left; x <= r.x_last(); ++x) {
            ASSERT_EQ(r.samples_of(x, y), 1) << x << ", " << y;
            const Seen expected = gradient(x + 0.507, y + 0.485);
            for (int c = 0; c < 4; ++c)
                EXPECT_FLOAT_EQ(r.at(x, y)[c], expected.rgba[c]) << x << ", " << y;
            EXPECT_FLOAT_EQ(r.depth_at(x, y), expected.depth);
        }
    }
    for (const Taken& t : r.samples) {
        EXPECT_DOUBLE_EQ(t.x, t.pixel_x + 0.507);
        EXPECT_DOUBLE_EQ(t.y, t.pixel_y + 0.485);
    }
}

TEST_F(RowRoutines, WithoutMinimumSamplesAFlatPixelIsItsCornerEstimate) {
    // A speck inside pixel (3, 2) that none of its corners sees.
    const Picture speck = [](double x, double y) {
        const double dx = x - 3.5, dy = y - 2.5;
        return dx * dx + dy * dy < 0.3 * 0.3 ? surface(255, 0, 0) : grey(100);
    };
    Frame f;
    f.aa_min = 0;
    Rendered r = render(f, speck);
    for (std::int32_t y = 0; y <= r.y_last(); ++y)
        for (std::int32_t x = 0; x <= r.x_last(); ++x)
            ASSERT_EQ(r.count(x, y), 1) << x << ", " << y;
    EXPECT_FLOAT_EQ(r.at(3, 2)[0], 100.0f);
    EXPECT_FLOAT_EQ(r.at(3, 2)[1], 100.0f);
    // One jittered sample, the one nearest the centre, finds it.
    f.aa_min = 1;
    EXPECT_GT(render(f, speck).at(3, 2)[0], 150.0f);

    // Corners a little apart, too little to refine: a plain background
    // averages the four, any other takes the corner at (x, y) alone.
    const Picture tilted = [](double x, double y) {
        return grey(static_cast<float>(50.0 + 0.25 * std::floor(x) + 0.1 * std::floor(y)));
    };
    f.aa_min = 0;
    Rendered flat = render(f, tilted);
    f.flat_background = false;
    Rendered textured = render(f, tilted);
    for (std::int32_t y = 0; y <= flat.y_last(); ++y) {
        for (std::int32_t x = 0; x <= flat.x_last(); ++x) {
            ASSERT_EQ(flat.count(x, y), 1);
            ASSERT_EQ(textured.count(x, y), 1);
            EXPECT_NEAR(flat.at(x, y)[0], 50.0 + 0.25 * (x + 0.5) + 0.1 * (y + 0.5), 1e-4);
            EXPECT_NEAR(textured.at(x, y)[0], 50.0 + 0.25 * x + 0.1 * y, 1e-4);
        }
    }
}

TEST_F(RowRoutines, ThresholdZeroNeverRefines) {
    for (auto [aa_min, aa_max] :
         {std::pair{0, 16}, std::pair{1, 16}, std::pair{3, 16}, std::pair{1, 36}}) {
        Frame f;
        f.aa_min = aa_min, f.aa_max = aa_max, f.threshold = 0.0f;
        Rendered r = render(f, checkerboard);
        for (std::int32_t y = 0; y <= r.y_last(); ++y)
            for (std::int32_t x = 0; x <= r.x_last(); ++x)
                ASSERT_EQ(r.count(x, y), aa_min + 1)
                    << aa_min << "/" << aa_max << " at " << x << ", " << y;
        // Half the squares in each pixel's samples: neither black nor white.
        EXPECT_GT(r.at(4, 4)[0], 0.0f);
        EXPECT_LT(r.at(4, 4)[0], 255.0f);
    }
}

// Zero everywhere but two squares of one pixel: the four pixels whose
// corners see the square at (3, 3) are `refined`, all others are not.
void expect_refined_around_3_3(const Rendered& r, int refined, int plain) {
    for (std::int32_t y = 0; y <= r.y_last(); ++y) {
        for (std::int32_t x = 0; x <= r.x_last(); ++x) {
            const bool near = (x == 2 || x == 3) && (y == 2 || y == 3);
            ASSERT_EQ(r.count(x, y), near ? refined : plain)
                << "aalevelmax " << r.frame.aa_max << " at " << x << ", " << y;
        }
    }
}

TEST_F(RowRoutines, ThresholdOneRefinesFullyAboveARangeOfAbout12_8AndNothingElse) {
    const Picture squares = [](double x, double y) {
        const int px = static_cast<int>(std::floor(x)), py = static_cast<int>(std::floor(y));
        if (px == 3 && py == 3) return surface(13.0f, 0, 0);
        if (px == 8 && py == 3) return surface(0, 12.7f, 0);
        return grey(0);
    };
    for (int aa_max : {4, 9, 16, 36}) {
        Frame f;
        f.aa_max = aa_max, f.threshold = 1.0f;
        expect_refined_around_3_3(render(f, squares), aa_max, 2);
    }
}

TEST_F(RowRoutines, FullContrastAtThreshold099TakesTheMaximum) {
    const Picture square = [](double x, double y) {
        return grey(std::floor(x) == 3 && std::floor(y) == 3 ? 255.0f : 0.0f);
    };
    for (int aa_max : {4, 9, 16, 25, 36}) {
        Frame f;
        f.aa_max = aa_max, f.threshold = 0.99f;
        expect_refined_around_3_3(render(f, square), aa_max, 2);
    }
}

TEST_F(RowRoutines, CompositeSilhouettesAndHolesAreRefinedToTheMaximum) {
    // Geometry left of x = 4.5 with a hole around the centre of pixel (1, 1)
    // that none of its corners sees; nothing right of it.
    const Picture cut_out = [](double x, double y) {
        const double dx = x - 1.5, dy = y - 1.5;
        if (x >= 4.5 || dx * dx + dy * dy < 0.45 * 0.45) return Seen{};
        return surface(200, 100, 50);
    };
    Frame f;
    f.composite = true;
    f.threshold = 0.0f;  // contrast alone refines nothing
    Rendered r = render(f, cut_out);
    for (std::int32_t y = 0; y <= r.y_last(); ++y) {
        for (std::int32_t x = 0; x <= r.x_last(); ++x) {
            const bool silhouette = x == 4;
            const bool hole = x == 1 && y == 1;
            ASSERT_EQ(r.count(x, y), silhouette || hole ? 16 : 2) << x << ", " << y;
            if (x < 4 && !hole) {
                EXPECT_FLOAT_EQ(r.at(x, y)[0], 200.0f);
                EXPECT_FLOAT_EQ(r.at(x, y)[3], 255.0f);
                EXPECT_FLOAT_EQ(r.depth_at(x, y), 5.0f);
            } else if (x > 4) {
                EXPECT_FLOAT_EQ(r.at(x, y)[3], 0.0f) << x << ", " << y;
                EXPECT_EQ(r.depth_at(x, y), kNothingDepth);
            }
        }
        // The silhouette pixel: the corner estimate (half covered) counts as
        // one hit, each jittered sample on the surface as another; colour is
        // the mean over the hits, alpha that mean times hits per sample.
        int hits = 1;
        for (const Taken& t : r.samples)
            hits += !t.corner && t.pixel_x == 4 && t.pixel_y == y && t.x < 4.5;
        ASSERT_GT(hits, 4);
        ASSERT_LT(hits, 14);
        EXPECT_FLOAT_EQ(r.at(4, y)[0], (100.0f + 200.0f * (hits - 1)) / hits);
        EXPECT_FLOAT_EQ(r.at(4, y)[3], (127.5f + 255.0f * (hits - 1)) / 16.0f);
    }
}

TEST_F(RowRoutines, NearTheEdgeOfRefiningEachPixelTakesWhatTheContrastRuleAsks) {
    // Columns alternately black and grey `level`: every pixel's range is
    // `level`. Swept closely across the ranges where a pixel starts asking
    // for more (about 51.3 at threshold 0.5 with 1 to 16 samples), and
    // with the reduced pattern, which caps the flagged pixels' ask.
    struct Case {
        float threshold;
        int aa_min, aa_max;
        bool reduced;
    };
    for (const Case c : {Case{0.5f, 1, 16, false}, Case{0.5f, 1, 16, true}, Case{0.3f, 2, 9, false},
                         Case{0.05f, 1, 36, false}}) {
        // The first range that refines, found from the rule's own answer.
        float low = 0.0f, high = 255.0f;
        const int first = std::min(c.aa_min + 1, c.reduced ? 5 : c.aa_min + 1);
        auto wanted = [&](float range) {
            return wanted_samples(c.aa_min, c.aa_max, contrast_fraction(range, c.threshold, false));
        };
        for (int k = 0; k < 60; ++k) {
            const float middle = 0.5f * (low + high);
            (wanted(middle) > first ? high : low) = middle;
        }
        std::vector<float> levels = {
            0.0f, 1.0f, 255.0f, std::nextafter(high, 0.0f), high, std::nextafter(high, 300.0f)};
        for (int k = -4; k <= 4; ++k) levels.push_back(high + 0.125f * static_cast<float>(k));
        for (float level : levels) {
            Frame f;
            f.aa_min = c.aa_min, f.aa_max = c.aa_max, f.threshold = c.threshold;
            f.reduced = c.reduced;
            const Picture columns = [level](double x, double) {
                return grey(static_cast<int>(std::floor(x)) & 1 ? level : 0.0f);
            };
            Rendered r = render(f, columns);
            const int largest = std::min(c.aa_max, kMaxGridSamples) + 1;
            for (std::int32_t y = 0; y <= r.y_last(); ++y) {
                for (std::int32_t x = 0; x <= r.x_last(); ++x) {
                    const bool capped = c.reduced && reduced_sample_flag(x, y);
                    const int most = capped ? std::min(largest, 5) : largest;
                    const int m = std::min(c.aa_min + 1, most);
                    const int w =
                        wanted_samples(c.aa_min, c.aa_max,
                                       contrast_fraction(level, c.threshold, capped && m >= 5));
                    ASSERT_EQ(r.count(x, y), w <= m ? m : std::min(w, most))
                        << "threshold " << c.threshold << ", range " << level << " at " << x << ", "
                        << y;
                }
            }
        }
    }
}

TEST_F(RowRoutines, PixelsTheReducedPatternFlagsTakeAtMostFiveSamples) {
    for (auto [aa_min, aa_max] : {std::pair{1, 16}, std::pair{8, 16}, std::pair{1, 36}}) {
        Frame f;
        f.x_left = 5, f.width = 32, f.y_low = 0, f.height = 32;
        f.aa_min = aa_min, f.aa_max = aa_max, f.threshold = 0.99f;
        f.reduced = true;
        Rendered r = render(f, checkerboard);
        int flagged = 0;
        for (std::int32_t y = 0; y <= r.y_last(); ++y) {
            for (std::int32_t x = f.x_left; x <= r.x_last(); ++x) {
                // The pattern runs from the image's first column, so a
                // window rendered alone flags the pixels the whole frame does.
                const bool capped = reduced_sample_flag(x, y);
                flagged += capped;
                ASSERT_EQ(r.count(x, y), capped ? 5 : aa_max)
                    << aa_min << "/" << aa_max << " at " << x << ", " << y;
            }
        }
        EXPECT_EQ(flagged, 4 * 24);
    }
}

// The jittered positions of pixel (x, y) on an n × n grid in the order a
// pixel visits them, worked out from their definition: the cells in
// cell-table order, moved by the jitter table, sorted by their distance
// from the centre (equal ones keeping their order), then picked by rank.
std::vector<std::pair<double, double>> visits(std::int32_t x, std::int32_t y, int aa_max) {
    const JitterTables& tables = jitter_tables();
    const int n = static_cast<int>(std::lround(std::sqrt(aa_max)));
    const int cells = std::min(n * n, kMaxGridSamples);
    std::vector<std::pair<double, double>> at;
    for (int j = 0; j < cells; ++j) {
        const int k = cell_order(cells)[static_cast<std::size_t>(j)];
        const std::int64_t sx = std::int64_t{n} * x + k % n, sy = std::int64_t{n} * y + k / n;
        at.emplace_back((k % n + tables.jitter[sy & 1023]) / n,
                        (k / n + tables.jitter[sx & 1023]) / n);
    }
    auto distance = [](const std::pair<double, double>& p) {
        return (p.first - 0.5) * (p.first - 0.5) + (p.second - 0.5) * (p.second - 0.5);
    };
    std::vector<std::pair<double, double>> sorted = at;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&](const auto& a, const auto& b) { return distance(a) < distance(b); });
    std::vector<std::pair<double, double>> order;
    for (int k = 0; k < cells; ++k)
        order.push_back(sorted[static_cast<std::size_t>(visit_order(cells)[k])]);
    return order;
}

TEST_F(RowRoutines, JitteredSamplesComeNearestFirstThenInTheVisitOrderOfTheirDistances) {
    // Columns and rows around where the jitter tables wrap, both directions
    // of the rows, every grid size; a flat picture takes only the first
    // visit, a checkerboard all of them. Frames of one grid size over other
    // columns follow one another: what a worker keeps of the columns of one
    // may not be taken for the next. The nearest is looked for among fewer
    // positions the fewer columns a tile has: down to one.
    for (int aa_max : {1, 4, 9, 16, 25, 36}) {
        for (auto [refine, x_left, width] :
             {std::tuple{false, 250, 10}, std::tuple{true, 250, 10}, std::tuple{false, 507, 10},
              std::tuple{true, 251, 10}, std::tuple{false, 255, 1}, std::tuple{false, 300, 2},
              std::tuple{false, 0, 300}}) {
            Frame f;
            f.x_left = x_left, f.width = width, f.y_low = 253, f.height = 6;
            f.aa_min = 1, f.aa_max = aa_max, f.threshold = refine ? 0.99f : 0.0f;
            Rendered r = render(
                f, refine ? Picture(checkerboard) : [](double, double) { return grey(9); });
            for (std::int32_t y = f.y_low; y <= r.y_last(); ++y) {
                for (std::int32_t x = f.x_left; x <= r.x_last(); ++x) {
                    const auto expected = visits(x, y, aa_max);
                    std::vector<std::pair<double, double>> got;
                    for (const Taken& t : r.samples)
                        if (!t.corner && t.pixel_x == x && t.pixel_y == y)
                            got.emplace_back(t.x, t.y);
                    // Fully refined, a pixel takes aalevelmax samples with its
                    // corner estimate.
                    const std::size_t wanted =
                        refine ? std::max<std::size_t>(static_cast<std::size_t>(aa_max) - 1, 1) : 1;
                    ASSERT_EQ(got.size(), wanted) << aa_max << " at " << x << ", " << y;
                    for (std::size_t k = 0; k < got.size(); ++k) {
                        EXPECT_EQ(got[k].first, x + expected[k].first)
                            << aa_max << " at " << x << ", " << y << " visit " << k;
                        EXPECT_EQ(got[k].second, y + expected[k].second)
                            << aa_max << " at " << x << ", " << y << " visit " << k;
                    }
                }
            }
        }
    }
}

TEST_F(RowRoutines, PixelsOutsideTheGateColumnsAreBlackFarAndNotSampled) {
    for (int aa_max : {0, 16}) {
        Frame f;
        f.aa_max = aa_max, f.aa_min = aa_max ? 1 : 0;
        f.gate_left = 3, f.gate_right = 8;
        Rendered r = render(f, [](double, double) { return surface(90, 80, 70, 3.0f); });
        for (std::int32_t y = 0; y <= r.y_last(); ++y) {
            for (std::int32_t x = 0; x <= r.x_last(); ++x) {
                const bool inside = x >= 3 && x <= 8;
                EXPECT_EQ(r.samples_of(x, y) > 0, inside) << x << ", " << y;
                EXPECT_FLOAT_EQ(r.at(x, y)[0], inside ? 90.0f : 0.0f) << x << ", " << y;
                EXPECT_FLOAT_EQ(r.at(x, y)[3], inside ? 255.0f : 0.0f) << x << ", " << y;
                EXPECT_EQ(r.depth_at(x, y), inside ? 3.0f : kNothingDepth) << x << ", " << y;
            }
        }
    }
}

}  // namespace
}  // namespace sky
