// Window checks and resolution scaling. The rounding is part of the output
// contract: the products are formed in single precision and the ±0.5 added in
// double precision before truncation toward zero, so a scaled window lines up
// with what the scene's author computed.
#include "run/resolution.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "sdl/environment.h"

namespace sky {
namespace {

// Truncation toward zero that saturates instead of overflowing on absurd scales.
std::int32_t truncate(double value) {
    constexpr double lowest = std::numeric_limits<std::int32_t>::min();
    constexpr double highest = std::numeric_limits<std::int32_t>::max();
    if (!(value >= lowest)) return std::numeric_limits<std::int32_t>::min();  // also NaN
    if (value >= highest) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}

std::int32_t scale_low(std::int32_t low, float factor) {
    float product = static_cast<float>(low) * factor;
    return truncate(static_cast<double>(product) + 0.5);
}

std::int32_t scale_high(std::int32_t high, float factor) {
    float product = static_cast<float>(static_cast<std::int64_t>(high) + 1) * factor;
    return truncate(static_cast<double>(product) - 0.5);
}

}  // namespace

const char* window_error(const RenderOptions& options) {
    if (options.yhigh <= 0 || options.yhigh < options.ylow)
        return "yhigh must be positive and greater than ylow\n";
    if (options.xright <= 0 || options.xright < options.xleft)
        return "xright must be positive and greater that xleft\n";
    return nullptr;
}

const char* scale_resolution(RenderOptions& options, const ResolutionScale& scale) {
    if (scale.y_given) {
        options.yresolution = scale_low(options.yresolution, scale.y);
        options.ylow = scale_low(options.ylow, scale.y);
        options.yhigh = scale_high(options.yhigh, scale.y);
        options.background_ylow = scale_low(options.background_ylow, scale.y);
        options.background_yhigh = scale_high(options.background_yhigh, scale.y);
        if (options.yresolution < 1) return "yresolution too small";
    }
    if (scale.x_given) {
        options.xresolution = scale_low(options.xresolution, scale.x);
        options.xleft = scale_low(options.xleft, scale.x);
        options.xright = scale_high(options.xright, scale.x);
        if (options.xresolution < 1) return "xresolution too small";
        options.area_tolerance =
            resolution_tolerance(std::max(options.xresolution, options.yresolution));
    }
    return nullptr;
}

}  // namespace sky
