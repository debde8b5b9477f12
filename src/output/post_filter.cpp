// The post filter: every output row smoothed with its neighbours as the rows
// leave the output queue. It works on the bytes the files would hold, keeps
// three rows (previous, current, next) and hands each row on once the row
// below it has arrived, so the files lag one row behind the queue; the last
// row goes out when the outputs close.
//
// Runs under the output lock, one camera at a time: its state is the one
// camera's. Rows are reused from camera to camera, so filtering allocates
// nothing once the first camera has opened.
#include "output/post_filter.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "output/output_context.h"
#include "platform/report.h"
#include "sdl/environment.h"
#include "sdl/expr.h"

namespace sky {
namespace {

struct FilterRow {
    OutputBuffer<float> colour;  // 4 a pixel, the bytes' values
    OutputBuffer<float> depth;
    bool has_depth = false;
};

struct PostFilter {
    PostFilterWeights weights;
    FilterRow rows[3];
    FilterRow* previous = &rows[0];
    FilterRow* current = &rows[1];
    FilterRow* next = &rows[2];
    bool has_previous = false, has_current = false;
    OutputBuffer<std::uint8_t> bytes;
    OutputBuffer<float> filtered;
};

PostFilter& state() {
    static PostFilter filter;
    return filter;
}

// A weight below 1 would let the neighbours outweigh the pixel itself (or,
// at 0 and below, divide by nothing at a corner).
float weight(Expr* expression, float fallback, const char* message) {
    float value = fallback;
    if (expression == nullptr || !AR_evaluate(SDL_SCALAR, &value, expression, &fallback))
        return fallback;
    if (!(value >= 1.0f)) {
        rptWarning("%s", message);
        return fallback;
    }
    return value;
}

void take_row(FilterRow& row, const std::uint8_t* bytes, const float* depth, std::int32_t width,
              bool sixteen) {
    float* colour = row.colour.data();
    for (std::int32_t x = 0; x < width; ++x) {
        for (int c = 0; c < 4; ++c) {
            colour[4 * x + c] =
                sixteen ? static_cast<float>(bytes[8 * x + 4 + c]) + bytes[8 * x + c] / 256.0f
                        : static_cast<float>(bytes[4 * x + c]);
        }
    }
    row.has_depth = depth != nullptr;
    if (depth != nullptr)
        std::memcpy(row.depth.data(), depth, static_cast<std::size_t>(width) * sizeof(float));
}

// Filters the current row into bytes and floats and hands it on.
void emit_current(OutputContext& context, PostFilter& filter, bool has_next, std::int32_t width,
                  std::int32_t height) {
    const float c = filter.weights.center, a = filter.weights.adjacent, d = filter.weights.diagonal;
    const float* above = filter.has_previous ? filter.previous->colour.data() : nullptr;
    const float* row = filter.current->colour.data();
    const float* below = has_next ? filter.next->colour.data() : nullptr;
    const bool sixteen = context.conversion.sixteen;
    std::uint8_t* bytes = filter.bytes.data();
    float* out = filter.filtered.data();
    for (std::int32_t x = 0; x < width; ++x) {
        const bool left = x > 0, right = x + 1 < width;
        float total = c;
        if (left) total += a;
        if (right) total += a;
        if (above) total += a + (left ? d : 0.0f) + (right ? d : 0.0f);
        if (below) total += a + (left ? d : 0.0f) + (right ? d : 0.0f);
        for (int k = 0; k < 4; ++k) {
            const std::int32_t i = 4 * x + k;
            float sum = c * row[i];
            float side = 0.0f, corner = 0.0f;
            if (left) side += row[i - 4];
            if (right) side += row[i + 4];
            for (const float* other : {above, below}) {
                if (other == nullptr) continue;
                side += other[i];
                if (left) corner += other[i - 4];
                if (right) corner += other[i + 4];
            }
            sum += a * side + d * corner;
            float value = sum / total;
            value = value > 255.0f ? 255.0f : (value > 0.0f ? value : 0.0f);
            out[i] = value;
            if (sixteen) {
                float fraction = (value - std::trunc(value)) * 256.0f;
                fraction = fraction > 255.0f ? 255.0f : (fraction > 0.0f ? fraction : 0.0f);
                bytes[8 * x + k] = static_cast<std::uint8_t>(fraction);
                bytes[8 * x + 4 + k] = static_cast<std::uint8_t>(value);
            } else {
                bytes[i] = static_cast<std::uint8_t>(value);
            }
        }
    }
    write_row(context, bytes, out,
              filter.current->has_depth ? filter.current->depth.data() : nullptr, width, height);
}

}  // namespace

PostFilterWeights post_filter_weights() {
    const EnvironmentSettings& settings = environment();
    PostFilterWeights weights;
    weights.center = weight(settings.post_center, 8.0f,
                            "post_center value cannot be less than 1, setting to default 8\n");
    weights.adjacent = weight(settings.post_adjacent, 1.0f,
                              "post_adjacent value cannot be less than 1, setting to default 1\n");
    weights.diagonal = weight(settings.post_diagonal, 1.0f,
                              "post_diagonal value cannot be less than 1, setting to default 1\n");
    return weights;
}

void post_filter_set_up(std::int32_t width) {
    PostFilter& filter = state();
    filter.weights = post_filter_weights();
    const std::size_t pixels = static_cast<std::size_t>(width);
    for (FilterRow& row : filter.rows) {
        row.colour.reserve(pixels * 4);
        row.depth.reserve(pixels);
    }
    filter.bytes.reserve(pixels * 8);
    filter.filtered.reserve(pixels * 4);
    filter.has_previous = filter.has_current = false;
}

void post_filter_row(OutputContext& context, const std::uint8_t* bytes, const float* depth,
                     const std::uint8_t*, const float*, std::int32_t width, std::int32_t height) {
    PostFilter& filter = state();
    if (bytes == nullptr) {  // the outputs close: the last row has no row below
        if (filter.has_current) emit_current(context, filter, false, width, height);
        filter.has_previous = filter.has_current = false;
        return;
    }
    take_row(*filter.next, bytes, depth, width, context.conversion.sixteen);
    if (filter.has_current) {
        emit_current(context, filter, true, width, height);
        std::swap(filter.previous, filter.current);
        filter.has_previous = true;
    }
    std::swap(filter.current, filter.next);
    filter.has_current = true;
}

}  // namespace sky
