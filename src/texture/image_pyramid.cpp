// Image pyramids. Each level halves the one before (odd sizes round up, the
// last row or column counting for the missing one) until one pixel is left,
// which is the mean of the image.
//
// A footprint w wide covers w × size texels of level 0, so the level where it
// covers one texel is log2(w × size). Between levels the blend filter mixes
// the two nearest; the weighted filters also spread taps over the footprint
// at the finer level, so their result depends on the kernel's shape.
#include "texture/image_pyramid.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace sky {
namespace {

int wrap(int i, int size) {
    int r = i % size;
    return r < 0 ? r + size : r;
}

float kernel_weight(TextureFilter filter, float r2) {
    switch (filter) {
        case FILTER_QUADRATIC:
            return std::max(0.0f, 1.0f - r2);
        case FILTER_QUARTIC: {
            float q = std::max(0.0f, 1.0f - r2);
            return q * q;
        }
        case FILTER_GAUSS:
            return std::exp(-2.0f * r2);
        default:
            return 1.0f;
    }
}

}  // namespace

bool ImagePyramid::build(int width, int height, std::vector<std::uint8_t>&& pixels) {
    levels_.clear();
    try {
        levels_.push_back(PyramidLevel{width, height, std::move(pixels)});
        while (levels_.back().width > 1 || levels_.back().height > 1) {
            const PyramidLevel& fine = levels_.back();
            PyramidLevel coarse;
            coarse.width = (fine.width + 1) / 2;
            coarse.height = (fine.height + 1) / 2;
            coarse.pixels.resize(static_cast<std::size_t>(coarse.width) * coarse.height * 4);
            for (int y = 0; y < coarse.height; ++y)
                for (int x = 0; x < coarse.width; ++x)
                    for (int c = 0; c < 4; ++c) {
                        int sum = 0;
                        for (int dy = 0; dy < 2; ++dy)
                            for (int dx = 0; dx < 2; ++dx) {
                                int fx = std::min(2 * x + dx, fine.width - 1);
                                int fy = std::min(2 * y + dy, fine.height - 1);
                                sum +=
                                    fine.pixels[(static_cast<std::size_t>(fy) * fine.width + fx) *
                                                    4 +
                                                c];
                            }
                        coarse.pixels[(static_cast<std::size_t>(y) * coarse.width + x) * 4 + c] =
                            static_cast<std::uint8_t>((sum + 2) / 4);
                    }
            levels_.push_back(std::move(coarse));
        }
    } catch (const std::bad_alloc&) {
        levels_.clear();
        return false;
    }
    return true;
}

std::size_t ImagePyramid::bytes() const {
    std::size_t total = 0;
    for (const PyramidLevel& level : levels_) total += level.pixels.size();
    return total;
}

void ImagePyramid::bilinear(int level, float u, float v, float rgba[4]) const {
    const PyramidLevel& l = levels_[static_cast<std::size_t>(level)];
    // Texel centres sit at half-integers; rows count from the top.
    float x = u * static_cast<float>(l.width) - 0.5f;
    float y = (1.0f - v) * static_cast<float>(l.height) - 0.5f;
    float fx = std::floor(x), fy = std::floor(y);
    float tx = x - fx, ty = y - fy;
    int x0 = wrap(static_cast<int>(fx), l.width), x1 = wrap(static_cast<int>(fx) + 1, l.width);
    int y0 = wrap(static_cast<int>(fy), l.height), y1 = wrap(static_cast<int>(fy) + 1, l.height);
    const std::uint8_t* p00 = &l.pixels[(static_cast<std::size_t>(y0) * l.width + x0) * 4];
    const std::uint8_t* p10 = &l.pixels[(static_cast<std::size_t>(y0) * l.width + x1) * 4];
    const std::uint8_t* p01 = &l.pixels[(static_cast<std::size_t>(y1) * l.width + x0) * 4];
    const std::uint8_t* p11 = &l.pixels[(static_cast<std::size_t>(y1) * l.width + x1) * 4];
    for (int c = 0; c < 4; ++c) {
        float top = p00[c] + (p10[c] - p00[c]) * tx;
        float bottom = p01[c] + (p11[c] - p01[c]) * tx;
        rgba[c] = top + (bottom - top) * ty;
    }
}

void ImagePyramid::filtered(int level, float u, float v, float width, TextureFilter filter,
                            float rgba[4]) const {
    if (filter == FILTER_BLEND || filter == FILTER_BOX) {
        bilinear(level, u, v, rgba);
        return;
    }
    // Five by five taps across the footprint, weighted by the kernel.
    constexpr int kTaps = 5;
    float sum[4] = {0, 0, 0, 0};
    float total = 0.0f;
    for (int j = 0; j < kTaps; ++j)
        for (int i = 0; i < kTaps; ++i) {
            float ox = (static_cast<float>(i) + 0.5f) / kTaps - 0.5f;  // -0.4 .. 0.4
            float oy = (static_cast<float>(j) + 0.5f) / kTaps - 0.5f;
            float weight = kernel_weight(filter, 4.0f * (ox * ox + oy * oy));
            if (weight <= 0.0f) continue;
            float tap[4];
            bilinear(level, u + ox * width, v + oy * width, tap);
            for (int c = 0; c < 4; ++c) sum[c] += weight * tap[c];
            total += weight;
        }
    for (int c = 0; c < 4; ++c) rgba[c] = sum[c] / total;
}

void ImagePyramid::lookup(float u, float v, float width, TextureFilter filter,
                          TextureColour& out) const {
    if (levels_.empty()) return;
    const PyramidLevel& base = levels_.front();
    float texels = width * static_cast<float>(std::max(base.width, base.height));
    float top = static_cast<float>(levels_.size() - 1);
    bool weighted = filter != FILTER_BLEND && filter != FILTER_BOX;
    // The weighted filters spread their taps over the footprint themselves,
    // so they start one level finer.
    float level = texels > 1.0f ? std::log2(texels) - (weighted ? 1.0f : 0.0f) : 0.0f;
    level = std::clamp(level, 0.0f, top);

    float rgba[4];
    if (filter == FILTER_BOX) {
        filtered(static_cast<int>(std::ceil(level)), u, v, width, filter, rgba);
    } else {
        int fine = static_cast<int>(std::floor(level));
        float blend = level - static_cast<float>(fine);
        filtered(fine, u, v, width, filter, rgba);
        if (blend > 0.0f && fine + 1 < levels()) {
            float coarse[4];
            filtered(fine + 1, u, v, width, filter, coarse);
            for (int c = 0; c < 4; ++c) rgba[c] += (coarse[c] - rgba[c]) * blend;
        }
    }
    out.r = rgba[0];
    out.g = rgba[1];
    out.b = rgba[2];
    out.alpha = rgba[3] / 255.0f;
}

}  // namespace sky
