// Image pyramids. Each level halves the one before (odd sizes round up, the
// last row or column counting for the missing one) until one pixel is left,
// which is the mean of the image.
//
// A footprint w wide covers w × size texels of level 0, so the level where it
// covers one texel is log2(w × size). Between levels the blend filter mixes
// the two nearest; the weighted filters also spread taps over the footprint
// at the finer level, so their result depends on the kernel's shape.
#include "texture/image_pyramid.h"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstring>
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

// A row of the next coarser level from two rows of a level `width` wide
// (the same row twice for an odd height's last): each pixel the mean of four,
// the last column counting twice for an odd width.
void halve_rows(const std::uint8_t* upper, const std::uint8_t* lower, int width,
                std::uint8_t* out) {
    const int coarse = (width + 1) / 2;
    for (int x = 0; x < coarse; ++x) {
        const int left = 2 * x * 4, right = std::min(2 * x + 1, width - 1) * 4;
        for (int c = 0; c < 4; ++c) {
            const int sum = upper[left + c] + upper[right + c] + lower[left + c] + lower[right + c];
            out[x * 4 + c] = static_cast<std::uint8_t>((sum + 2) / 4);
        }
    }
}

}  // namespace

bool ImagePyramid::build(int width, int height, TrackedBlock&& pixels) {
    levels_.clear();
    try {
        levels_.push_back(PyramidLevel{width, height, std::move(pixels)});
        while (levels_.back().width > 1 || levels_.back().height > 1) {
            const PyramidLevel& fine = levels_.back();
            PyramidLevel coarse;
            coarse.width = (fine.width + 1) / 2;
            coarse.height = (fine.height + 1) / 2;
            const std::size_t row_bytes = static_cast<std::size_t>(coarse.width) * 4;
            if (!coarse.pixels.resize(row_bytes * coarse.height, __LINE__, __FILE__)) {
                levels_.clear();
                return false;
            }
            const std::size_t fine_row = static_cast<std::size_t>(fine.width) * 4;
            for (int y = 0; y < coarse.height; ++y)
                halve_rows(fine.pixels.data() + 2 * y * fine_row,
                           fine.pixels.data() + std::min(2 * y + 1, fine.height - 1) * fine_row,
                           fine.width, coarse.pixels.data() + y * row_bytes);
            levels_.push_back(std::move(coarse));
        }
    } catch (const std::bad_alloc&) {
        levels_.clear();
        return false;
    }
    return true;
}

bool ReducedImage::start(int width, int height, int halvings) {
    widths_.assign(1, width);
    heights_.assign(1, height);
    for (int i = 0; i < halvings; ++i) {
        widths_.push_back((widths_.back() + 1) / 2);
        heights_.push_back((heights_.back() + 1) / 2);
    }
    rows_.assign(halvings, 0);
    pending_.clear();
    made_.clear();
    pending_.resize(halvings);
    made_.resize(halvings);
    for (int i = 0; i < halvings; ++i)
        if (!pending_[i].resize(static_cast<std::size_t>(widths_[i]) * 4, __LINE__, __FILE__) ||
            !made_[i].resize(static_cast<std::size_t>(widths_[i + 1]) * 4, __LINE__, __FILE__))
            return false;
    result_.release();
    result_rows_ = 0;
    return true;
}

bool ReducedImage::add_row(const std::uint8_t* row) {
    return pass_on(0, row);
}

bool ReducedImage::pass_on(std::size_t stage, const std::uint8_t* row) {
    if (stage == pending_.size()) {
        // The result grows by doubling: memory follows the rows that came.
        const std::size_t row_bytes = static_cast<std::size_t>(width()) * 4;
        const std::size_t needed = (result_rows_ + 1) * row_bytes;
        if (needed > result_.size()) {
            std::size_t rows = std::max<std::size_t>(64, 2 * result_.size() / row_bytes);
            rows = std::min<std::size_t>(rows, static_cast<std::size_t>(height()));
            if (!result_.resize(rows * row_bytes, __LINE__, __FILE__)) return false;
        }
        std::memcpy(result_.data() + result_rows_ * row_bytes, row, row_bytes);
        ++result_rows_;
        return true;
    }
    const int r = rows_[stage]++;
    const int width = widths_[stage];
    const bool last = r == heights_[stage] - 1;
    if (r % 2 == 0 && !last) {
        std::memcpy(pending_[stage].data(), row, static_cast<std::size_t>(width) * 4);
        return true;
    }
    // An odd last row pairs with itself, as the pyramid repeats its last row.
    const std::uint8_t* upper = r % 2 == 0 ? row : pending_[stage].data();
    halve_rows(upper, row, width, made_[stage].data());
    return pass_on(stage + 1, made_[stage].data());
}

TrackedBlock ReducedImage::take() {
    return std::move(result_);
}

MappedLevels::~MappedLevels() {
    ::munmap(data_, size_);
    if (on_release_) on_release_(size_);
}

std::size_t ImagePyramid::bytes() const {
    std::size_t total = 0;
    for (const PyramidLevel& level : levels_) total += level.bytes();
    return total;
}

std::size_t ImagePyramid::memory_bytes() const {
    std::size_t total = 0;
    for (const PyramidLevel& level : levels_) total += level.pixels.size();
    return total;
}

void ImagePyramid::move_to(std::unique_ptr<MappedLevels> file) {
    std::uint8_t* at = file->data();
    for (PyramidLevel& level : levels_) {
        std::memcpy(at, level.texels(), level.bytes());
        level.mapped = at;
        level.pixels.release();
        at += level.bytes();
    }
    file_ = std::move(file);
}

void ImagePyramid::use_blocks(std::unique_ptr<BlockTexture> blocks) {
    for (PyramidLevel& level : levels_) level.pixels.release();
    blocks_ = std::move(blocks);
}

void ImagePyramid::texel(int level, int x, int y, std::uint8_t rgba[4]) const {
    if (blocks_) {
        blocks_->texel(level, x, y, rgba);
        return;
    }
    const PyramidLevel& l = levels_[static_cast<std::size_t>(level)];
    std::memcpy(rgba, l.texels() + (static_cast<std::size_t>(y) * l.width + x) * 4, 4);
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
    const std::uint8_t *p00, *p10, *p01, *p11;
    std::uint8_t fetched[4][4];
    if (blocks_) {
        blocks_->texel(level, x0, y0, fetched[0]);
        blocks_->texel(level, x1, y0, fetched[1]);
        blocks_->texel(level, x0, y1, fetched[2]);
        blocks_->texel(level, x1, y1, fetched[3]);
        p00 = fetched[0], p10 = fetched[1], p01 = fetched[2], p11 = fetched[3];
    } else {
        const std::uint8_t* texels = l.texels();
        p00 = &texels[(static_cast<std::size_t>(y0) * l.width + x0) * 4];
        p10 = &texels[(static_cast<std::size_t>(y0) * l.width + x1) * 4];
        p01 = &texels[(static_cast<std::size_t>(y1) * l.width + x0) * 4];
        p11 = &texels[(static_cast<std::size_t>(y1) * l.width + x1) * 4];
    }
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
