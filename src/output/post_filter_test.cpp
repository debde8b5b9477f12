// The post filter through the outputs: the files it writes against the
// three-row average worked out here from the unfiltered files, with the
// weight totals of interior, edge and corner pixels written out case by case.
#include "output/post_filter.h"

#include <cmath>

#include "output/output_test_support.h"
#include "sdl/parse_test_support.h"
#include "sdl/reader.h"

namespace sky {
namespace {

using test::OutputFixture;
using test::read_image;
using test::ReadBack;
using test::Window;

class PostFilter : public OutputFixture {
protected:
    void SetUp() override {
        OutputFixture::SetUp();
        reset_front_end();
    }
    void TearDown() override {
        reset_front_end();
        OutputFixture::TearDown();
    }

    // Renders the pattern rows unfiltered and filtered (rows shuffled over
    // three threads), reading both back.
    void render_both(const Window& window, const std::string& scene, ReadBack& plain,
                     ReadBack& filtered, bool sixteen) {
        ASSERT_EQ(parse_scene_text("DEFINITION\n" + scene + "MODEL\n"), 0);
        OutputContext first;
        render(first, camera("plain", "plain.matte", "plain.depth"), window, top_down(window));
        render_options().post_filter = true;
        output_stages().post_filter_set_up = post_filter_set_up;
        output_stages().post_filter_row = post_filter_row;
        OutputContext second;
        render(second, camera("filtered", "filtered.matte", "filtered.depth"), window,
               shuffled(window, 5), 3);
        plain = read_image(file("plain"), sixteen);
        filtered = read_image(file("filtered"), sixteen);
        ASSERT_TRUE(plain.ok && filtered.ok) << FBgetError();
    }
};

// The value of channel c at (x, r) of a read-back image (r from the top).
float value(const ReadBack& image, int x, int r, int c, bool sixteen) {
    const std::size_t pixel = static_cast<std::size_t>(r) * image.width + x;
    if (!sixteen) return image.pixels[pixel * 4 + c];
    return image.pixels[pixel * 8 + 4 + c] + image.pixels[pixel * 8 + c] / 256.0f;
}

// The filtered value, summed from the neighbours and divided by the total
// the pixel's place asks for.
float expected(const ReadBack& image, int x, int r, int c, float center, float adjacent,
               float diagonal, bool sixteen) {
    const int w = image.width, h = image.height;
    auto v = [&](int xx, int rr) {
        return xx < 0 || xx >= w || rr < 0 || rr >= h ? 0.0f : value(image, xx, rr, c, sixteen);
    };
    const float sum =
        center * v(x, r) + adjacent * (v(x - 1, r) + v(x + 1, r) + v(x, r - 1) + v(x, r + 1)) +
        diagonal * (v(x - 1, r - 1) + v(x + 1, r - 1) + v(x - 1, r + 1) + v(x + 1, r + 1));
    const bool edge_column = x == 0 || x == w - 1, edge_row = r == 0 || r == h - 1;
    float total = center + 4 * adjacent + 4 * diagonal;
    if (edge_column && edge_row)
        total = center + 2 * adjacent + diagonal;
    else if (edge_column || edge_row)
        total = center + 3 * adjacent + 2 * diagonal;
    return std::fmin(sum / total, 255.0f);
}

TEST_F(PostFilter, EveryByteIsTheWeightedAverageOfItsNeighboursInteriorEdgesAndCorners) {
    render_options().image_format = 2;
    const Window window{0, 11, 3, 12};
    ReadBack plain, filtered;
    render_both(window, "post_center = 3;\npost_adjacent = 2;\npost_diagonal = 1.5;\n", plain,
                filtered, false);
    ASSERT_EQ(filtered.height, plain.height);
    int changed = 0;
    for (int r = 0; r < plain.height; ++r)
        for (int x = 0; x < plain.width; ++x)
            for (int c = 0; c < 4; ++c) {
                const std::uint8_t want =
                    static_cast<std::uint8_t>(expected(plain, x, r, c, 3, 2, 1.5f, false));
                const std::uint8_t got =
                    filtered.pixels[(static_cast<std::size_t>(r) * plain.width + x) * 4 + c];
                ASSERT_EQ(got, want) << "x " << x << " row " << r << " channel " << c;
                changed +=
                    got != plain.pixels[(static_cast<std::size_t>(r) * plain.width + x) * 4 + c];
            }
    EXPECT_GT(changed, 100);
    EXPECT_EQ(errors(), "");
}

TEST_F(PostFilter, SixteenBitFilesFilterTheirFractionsAndWriteBothBytes) {
    render_options().image_format = 5;
    const Window window{2, 9, 0, 6};
    ReadBack plain, filtered;
    render_both(window, "", plain, filtered, true);
    for (int r = 0; r < plain.height; ++r)
        for (int x = 0; x < plain.width; ++x)
            for (int c = 0; c < 4; ++c) {
                const float want = expected(plain, x, r, c, 8, 1, 1, true);
                const std::size_t at = (static_cast<std::size_t>(r) * plain.width + x) * 8;
                ASSERT_EQ(filtered.pixels[at + 4 + c], static_cast<std::uint8_t>(want))
                    << "high byte, x " << x << " row " << r << " channel " << c;
                const float fraction = std::fmin((want - std::trunc(want)) * 256.0f, 255.0f);
                ASSERT_EQ(filtered.pixels[at + c], static_cast<std::uint8_t>(fraction))
                    << "low byte, x " << x << " row " << r << " channel " << c;
            }
}

TEST_F(PostFilter, TheDepthFileKeepsEveryRowInPlaceThoughTheImageLagsOneRow) {
    const Window window{0, 6, 0, 4};
    ReadBack plain, filtered;
    render_both(window, "", plain, filtered, false);
    EXPECT_EQ(test::read_bytes(file("plain.depth")), test::read_bytes(file("filtered.depth")));
}

TEST_F(PostFilter, WeightsBelowOneAreWarnedAboutAndTakeTheirDefaults) {
    ASSERT_EQ(parse_scene_text("DEFINITION\npost_center = 0.5;\npost_adjacent = 0;\n"
                               "post_diagonal = -2;\nMODEL\n"),
              0);
    const PostFilterWeights weights = post_filter_weights();
    EXPECT_EQ(weights.center, 8.0f);
    EXPECT_EQ(weights.adjacent, 1.0f);
    EXPECT_EQ(weights.diagonal, 1.0f);
    EXPECT_EQ(errors(),
              "Warning: post_center value cannot be less than 1, setting to default 8\n\n"
              "Warning: post_adjacent value cannot be less than 1, setting to default 1\n\n"
              "Warning: post_diagonal value cannot be less than 1, setting to default 1\n\n");
}

TEST_F(PostFilter, AFlatImageStaysFlatAtEveryPixelAndASingleRowIsFilteredToo) {
    for (const Window& window : {Window{0, 7, 0, 5}, Window{0, 4, 0, 0}, Window{0, 0, 0, 3}}) {
        OutputContext context;
        render_options().post_filter = true;
        output_stages().post_filter_set_up = post_filter_set_up;
        output_stages().post_filter_row = post_filter_row;
        open_outputs(context, camera("flat"), window.xleft, window.xright, window.ylow,
                     window.yhigh, 0);
        std::vector<float> row(static_cast<std::size_t>(window.width()) * 4, 77.0f);
        for (std::int32_t y = window.yhigh; y >= window.ylow; --y)
            output_scanline(y, context, row.data(), nullptr, nullptr);
        close_outputs(context);
        ReadBack image = read_image(file("flat"));
        ASSERT_TRUE(image.ok);
        for (std::size_t i = 0; i < image.pixels.size(); ++i)
            ASSERT_EQ(image.pixels[i], i % 4 == 3 ? 255 : 77) << i;
    }
}

}  // namespace
}  // namespace sky
