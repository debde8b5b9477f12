// Output tests: a scratch directory that also serves as the temporary path,
// the process-wide settings the outputs read saved and restored around each
// test, rows of a reproducible pattern, and files read back through the image
// file library.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/options.h"
#include "base/options_test_support.h"
#include "output/output_context.h"
#include "platform/image/fb.h"
#include "platform/image/image_test_support.h"
#include "platform/report.h"
#include "scene/camera.h"

namespace sky::test {

struct Window {
    std::int32_t xleft = 0, xright = 0, ylow = 0, yhigh = 0;
    std::int32_t width() const { return xright - xleft + 1; }
};

// The colour of pixel x of image row y: fractions everywhere (16-bit files
// keep them), alpha varying too.
inline float pattern(std::int32_t x, std::int32_t y, int c) {
    return std::fmod(static_cast<float>(x) * 7.25f + static_cast<float>(y) * 13.5f +
                         static_cast<float>(c) * 50.75f,
                     255.0f);
}

inline std::vector<float> pattern_row(std::int32_t y, std::int32_t width) {
    std::vector<float> row(static_cast<std::size_t>(width) * 4);
    for (std::int32_t x = 0; x < width; ++x)
        for (int c = 0; c < 4; ++c) row[static_cast<std::size_t>(x) * 4 + c] = pattern(x, y, c);
    return row;
}

inline std::vector<float> depth_row(std::int32_t y, std::int32_t width) {
    std::vector<float> row(static_cast<std::size_t>(width));
    for (std::int32_t x = 0; x < width; ++x)
        row[static_cast<std::size_t>(x)] = (x % 5 == 0) ? 1e8f : 1.5f + static_cast<float>(x + y);
    return row;
}

// A whole image read back: 4 bytes a pixel (8 with `sixteen`), and its shape.
struct ReadBack {
    bool ok = false;
    int width = 0, height = 0, channels = 0;
    std::vector<std::uint8_t> pixels;
};

inline ReadBack read_image(const std::string& name, bool sixteen = false) {
    ReadBack result;
    FBhandle* handle = FBopen(name.c_str(), FB_READ_IMAGE, FB_FORMAT_ANY, 0, 0, 0, 0, 0, 90.0);
    if (handle == nullptr) return result;
    result.width = handle->width;
    result.height = handle->height;
    result.channels = handle->channels;
    if (sixteen) FBtiff16_set(handle, 1);
    result.pixels.resize(static_cast<std::size_t>(result.width) * result.height *
                         (sixteen ? 8 : 4));
    result.ok = FBread(handle, result.pixels.data()) > 0;
    FBclose(handle);
    return result;
}

class OutputFixture : public ::testing::Test {
protected:
    void SetUp() override {
        saved_gamma_ = Rr_gamma_value;
        saved_gamma_on_ = Rr_gamma_correction_on;
        saved_stages_ = output_stages();
        if (const char* tmpdir = std::getenv("TMPDIR")) saved_tmpdir_ = tmpdir;
        had_tmpdir_ = std::getenv("TMPDIR") != nullptr;
        ::setenv("TMPDIR", scratch_.file("").c_str(), 1);
        render_options().fields = false;
        render_options().post_filter = false;
        render_options().link_mode = false;
        render_options().use_lumenfold_depth = false;
        render_options().image_format = 1;
        Rr_gamma_value = 1.0f;
        Rr_gamma_correction_on = false;
        output_stages() = OutputStages{};
        user().clear();
        errors().clear();
        rptSetUserCB(capture_user);
        rptSetErrorCB(capture_error);
    }
    void TearDown() override {
        rptSetUserCB(nullptr);
        rptSetErrorCB(nullptr);
        Rr_gamma_value = saved_gamma_;
        Rr_gamma_correction_on = saved_gamma_on_;
        output_stages() = saved_stages_;
        if (had_tmpdir_)
            ::setenv("TMPDIR", saved_tmpdir_.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }

    std::string file(const std::string& name) const { return scratch_.file(name); }

    // A camera writing the named files (empty: not wanted), in the scratch
    // directory unless the name is absolute.
    CameraRecord camera(const std::string& image, const std::string& matte = "",
                        const std::string& depth = "", double near = 1, double far = 1000) {
        CameraRecord record;
        auto place = [this](const std::string& name) {
            return name.empty() || name.front() == '/' ? name : file(name);
        };
        record.image_name = place(image);
        record.matte_name = place(matte);
        record.depth_name = place(depth);
        record.near = near;
        record.far = far;
        return record;
    }

    // Delivers the rows of `window` (image rows, top first in `order` unless
    // given) on `threads` threads, round robin over `order`.
    static void deliver(OutputContext& context, const Window& window,
                        const std::vector<std::int32_t>& order, int threads = 1,
                        bool with_depth = true) {
        auto work = [&](int first) {
            for (std::size_t i = static_cast<std::size_t>(first); i < order.size();
                 i += static_cast<std::size_t>(threads)) {
                std::vector<float> colour = pattern_row(order[i], window.width());
                std::vector<float> depth = depth_row(order[i], window.width());
                output_scanline(order[i], context, colour.data(),
                                with_depth ? depth.data() : nullptr, nullptr);
            }
        };
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) workers.emplace_back(work, t);
        for (std::thread& worker : workers) worker.join();
    }

    static std::vector<std::int32_t> top_down(const Window& window) {
        std::vector<std::int32_t> rows;
        for (std::int32_t y = window.yhigh; y >= window.ylow; --y) rows.push_back(y);
        return rows;
    }

    static std::vector<std::int32_t> shuffled(const Window& window, unsigned seed) {
        std::vector<std::int32_t> rows = top_down(window);
        std::mt19937 generator(seed);
        std::shuffle(rows.begin(), rows.end(), generator);
        return rows;
    }

    // Open, every row, close: the whole life of a camera's outputs.
    void render(OutputContext& context, const CameraRecord& record, const Window& window,
                const std::vector<std::int32_t>& order, int threads = 1, bool with_depth = true) {
        open_outputs(context, record, window.xleft, window.xright, window.ylow, window.yhigh, 0);
        deliver(context, window, order, threads, with_depth);
        close_outputs(context);
    }

    static std::string& user() {
        static std::string text;
        return text;
    }
    static std::string& errors() {
        static std::string text;
        return text;
    }

private:
    static void capture_user(const char* text) { user() += text; }
    static void capture_error(const char* text) { errors() += text; }

    ScratchDir scratch_;
    test::RenderOptionsGuard options_;
    float saved_gamma_ = 1.0f;
    bool saved_gamma_on_ = false;
    OutputStages saved_stages_;
    std::string saved_tmpdir_;
    bool had_tmpdir_ = false;
};

}  // namespace sky::test
