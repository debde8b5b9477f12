#include "sdl/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include <fast_float/fast_float.h>

namespace sky {

std::int32_t integer_text_value(const char* text, std::size_t length) {
    std::int64_t value = 0;
    // Up to 18 digits cannot leave the 64-bit range.
    if (length <= 18) {
        for (std::size_t i = 0; i < length; ++i) value = value * 10 + (text[i] - '0');
        return static_cast<std::int32_t>(value);
    }
    auto [end, error] = std::from_chars(text, text + length, value);
    if (error == std::errc::result_out_of_range) value = std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int32_t>(value);
}

float narrow_to_float(double value) {
    constexpr double kLargest = std::numeric_limits<float>::max();
    if (std::fabs(value) <= kLargest) return static_cast<float>(value);
    // Half a unit in the last place above the largest float rounds up.
    constexpr double kOverflow = 0x1.ffffffp127;
    return static_cast<float>(std::copysign(
        std::fabs(value) < kOverflow ? kLargest : std::numeric_limits<double>::infinity(), value));
}

float real_text_value(const char* text, std::size_t length) {
    // fast_float rounds correctly, as strtod does, and like strtod gives
    // infinity above the double range and the rounded subnormal or zero
    // below it.
    double value = 0;
    if (fast_float::from_chars(text, text + length, value).ec != std::errc())
        value = std::strtod(std::string(text, length).c_str(), nullptr);
    return narrow_to_float(value);
}

}  // namespace sky
