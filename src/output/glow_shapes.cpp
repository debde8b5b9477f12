#include "output/glow_shapes.h"

namespace sky {

float hash_unit(std::uint32_t n) {
    n = (n ^ 61u) ^ (n >> 16);
    n *= 9u;
    n ^= n >> 4;
    n *= 0x27d4eb2du;
    n ^= n >> 15;
    return static_cast<float>(n & 0xffffffu) / 16777216.0f;
}

namespace {

double radial_noise(double angle, double frequency) {
    const int segments = std::max(1, static_cast<int>(std::lround(frequency * 40.0)));
    const double t = (angle / (2.0 * M_PI) + 0.5) * segments;
    const int i0 = static_cast<int>(std::floor(t));
    const double f = t - i0, s = f * f * (3.0 - 2.0 * f);
    auto at = [segments](int i) {
        return static_cast<double>(
            hash_unit(static_cast<std::uint32_t>(((i % segments) + segments) % segments)));
    };
    return at(i0) * (1.0 - s) + at(i0 + 1) * s;
}

}  // namespace

double star_and_streaks(double star_level, double points, double streaks, double frequency,
                        double angle) {
    double n = 1.0;
    if (star_level != 0.0) {
        const double arm = std::pow(std::fabs(std::cos(points * angle / 2.0)), 8.0);
        n = std::max(0.0, 1.0 - star_level + star_level * 2.0 * arm);
    }
    if (streaks != 0.0)
        n *= std::max(0.0, 1.0 + streaks * (2.0 * radial_noise(angle, frequency) - 1.0));
    return n;
}

}  // namespace sky
