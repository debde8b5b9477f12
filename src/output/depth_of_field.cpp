// Depth of field as a splat and a blend over the whole image. Each pixel out
// of focus adds its colour, weighted by a dome falling to 0 at the disc's
// rim, into an accumulation image; then each such pixel is mixed with what
// was accumulated on it, the more the larger its own disc. Pixels in focus
// neither spread nor take anything, so a sharp object stays sharp beside a
// blurred background.
#include "output/depth_of_field.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "output/glow_shapes.h"
#include "platform/memory.h"
#include "platform/report.h"
#include "scene/camera.h"

namespace sky {
namespace {

constexpr int kTableSteps = 102;  // 0 to 1.01 in hundredths
constexpr double kLargestDisc = 25.0;

struct FreeBlock {
    void operator()(void* block) const {
        if (block != nullptr) SKY_FREE(block);
    }
};
template <typename T>
using Block = std::unique_ptr<T[], FreeBlock>;

template <typename T>
Block<T> zeroed(std::size_t count) {
    return Block<T>(static_cast<T*>(SKY_CALLOC(count == 0 ? 1 : count, sizeof(T))));
}

// The dome 2 / (x² + y² + 1) - 1: 1 at the centre, 0 on the unit circle.
struct WeightTable {
    float w[kTableSteps][kTableSteps];
    WeightTable() {
        for (int i = 0; i < kTableSteps; ++i)
            for (int j = 0; j < kTableSteps; ++j) {
                const double x = i * 0.01, y = j * 0.01, r2 = x * x + y * y;
                w[i][j] = r2 <= 1.0 ? static_cast<float>(2.0 / (r2 + 1.0) - 1.0) : 0.0f;
            }
    }
};

const WeightTable& weight_table() {
    static const WeightTable table;
    return table;
}

std::uint8_t* row_of(const ImageBytes& image, std::int32_t y) {
    return image.pixels + static_cast<std::size_t>(y) * image.width * (image.sixteen ? 8 : 4);
}

}  // namespace

double blur_scale(const CameraRecord& camera, std::int32_t width) {
    const double half_angle = std::tan(static_cast<double>(camera.angle_of_view) / 2.0);
    const double across = half_angle * camera.focal_distance * camera.scaling_factor;
    if (!(across > 0.0) || !(camera.f_stop > 0.0f)) return 0.0;
    return width * 0.5 / across * (camera.focal_length / (2.0 * camera.f_stop));
}

bool apply_depth_of_field(ImageBytes& image, float* depth, double focal_distance, double k) {
    const std::int32_t width = image.width, height = image.height;
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    // Red, green, blue, alpha and the weights' sum per pixel.
    Block<float> accumulated = zeroed<float>(pixels * 5);
    const std::size_t largest_side = 2 * static_cast<std::size_t>(kLargestDisc) + 1;
    Block<float> kernel = zeroed<float>(largest_side * largest_side);
    if (!accumulated || !kernel) {
        rptError("No space left for depth of field\n");
        return false;
    }
    const WeightTable& table = weight_table();
    float* sums = accumulated.get();
    double kernel_radius = -1.0;
    int spans[2 * (2 * static_cast<int>(kLargestDisc) + 1)];  // nonzero columns per kernel row

    // The splat, rows from the bottom up; each depth becomes the pixel's
    // blend weight as its row is done.
    for (std::int32_t y = height - 1; y >= 0; --y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const std::size_t pixel = static_cast<std::size_t>(y) * width + x;
            const double z = depth[pixel];
            double c = z > 0.0 ? std::fabs(z - focal_distance) * k / z : 0.0;
            if (!(c > 1.0)) {
                depth[pixel] = 0.0f;
                continue;
            }
            c = std::fmin(c, kLargestDisc);
            depth[pixel] = static_cast<float>(std::fmax(0.0, 1.0 - 6.305 / (c * c + 5.305)));
            const int reach = static_cast<int>(c);
            const int side = 2 * reach + 1;
            // Neighbours at one depth share their disc: build it only when
            // the radius changes.
            if (c != kernel_radius) {
                kernel_radius = c;
                for (int j = -reach; j <= reach; ++j) {
                    const int tj = static_cast<int>(std::abs(j) / c * 100.0 + 0.5);
                    int& first = spans[2 * (j + reach)];
                    int& last = spans[2 * (j + reach) + 1];
                    first = reach + 1, last = -reach - 1;
                    for (int i = -reach; i <= reach; ++i) {
                        const int ti = static_cast<int>(std::abs(i) / c * 100.0 + 0.5);
                        const float w = table.w[ti][tj];
                        kernel[static_cast<std::size_t>(j + reach) * side + (i + reach)] = w;
                        if (w > 0.0f) first = std::min(first, i), last = std::max(last, i);
                    }
                }
            }
            float colour[4];
            const std::uint8_t* bytes = row_of(image, y);
            for (int ch = 0; ch < 4; ++ch) colour[ch] = pixel_channel(bytes, x, ch, image.sixteen);
            const int y0 = std::max(0, y - reach), y1 = std::min(height - 1, y + reach);
            for (int yy = y0; yy <= y1; ++yy) {
                const int j = yy - y + reach;
                const int x0 = std::max(0, x + spans[2 * j]);
                const int x1 = std::min(width - 1, x + spans[2 * j + 1]);
                const float* weights =
                    kernel.get() + static_cast<std::size_t>(j) * side + reach - x;
                float* out = sums + (static_cast<std::size_t>(yy) * width) * 5;
                for (int xx = x0; xx <= x1; ++xx) {
                    const float w = weights[xx];
                    float* cell = out + static_cast<std::size_t>(xx) * 5;
                    cell[0] += colour[0] * w;
                    cell[1] += colour[1] * w;
                    cell[2] += colour[2] * w;
                    cell[3] += colour[3] * w;
                    cell[4] += w;
                }
            }
        }
    }

    // The blend, in the same order.
    for (std::int32_t y = height - 1; y >= 0; --y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const std::size_t pixel = static_cast<std::size_t>(y) * width + x;
            const float b = depth[pixel];
            if (!(b > 0.0f)) continue;
            const float* cell = sums + pixel * 5;
            std::uint8_t* bytes = row_of(image, y);
            for (int ch = 0; ch < 4; ++ch) {
                const float spread = cell[4] > 0.0f ? cell[ch] / cell[4] : 0.0f;
                set_pixel_channel(
                    bytes, x, ch, image.sixteen,
                    pixel_channel(bytes, x, ch, image.sixteen) * (1.0f - b) + spread * b);
            }
        }
    }
    return true;
}

}  // namespace sky
