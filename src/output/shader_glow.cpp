// Shader glow: the glow buffer the samplers fill, the kernels, and the
// spread, normalisation and application of the glow and the halo.
//
// The buffer keeps per cell the sums of its samples' colours and their count
// in 64-bit atomics: every worker adds without a lock, and since sums do not
// depend on the order of their terms, one worker and many give the same
// averages, bit for bit.
#include "output/shader_glow.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "base/not_built.h"
#include "base/options.h"
#include "base/tiles.h"
#include "output/glow_shapes.h"
#include "platform/memory.h"
#include "platform/report.h"
#include "sdl/body.h"
#include "sdl/expr.h"
#include "sdl/scene_description.h"
#include "shading/shader.h"
#include "texture/texture.h"

namespace sky {
namespace {

constexpr double kFixedPoint = 256.0;           // deposits are summed in 1/256ths
constexpr std::int32_t kLargestFilter = 4095;   // cells across a kernel
constexpr std::size_t kLargestGrid = 1u << 28;  // cells of a grid
constexpr double kCornerOffset = 0.001;         // where the samplers take pixel corners

struct GlowCell {
    std::atomic<std::uint64_t> sum[3];
    std::atomic<std::uint64_t> count;
};

struct EffectGrid {
    GlowFilter filter;
    bool active = false;
    std::vector<std::uint8_t> colour;  // 3 a cell, after normalisation
};

struct GlowState {
    ShaderGlowSettings settings;
    bool active = false;
    std::int32_t xleft = 0, ylow = 0, yhigh = 0;
    GlowFilter buffer_filter;
    std::unique_ptr<GlowCell[]> buffer;
    std::size_t buffer_cells = 0;
    EffectGrid glow, halo;
};

GlowState& state() {
    static GlowState glow;
    return glow;
}

float scalar_item(const Body& body, std::string_view name, float fallback) {
    const BodyItem* item = body.find(name);
    float value = fallback;
    if (item == nullptr || !AR_evaluate(SDL_SCALAR, &value, item->value, &fallback))
        return fallback;
    return std::isfinite(value) ? value : fallback;
}

// A constant colour, or a texture evaluated and prepared for the frame.
void colour_item(const Body& body, std::string_view name, GlowEffect& effect) {
    const BodyItem* item = body.find(name);
    if (item == nullptr) return;
    TexturedColour slot;
    if (!Ar_evaluate_textured_colour(item->value, effect.colour, slot)) return;
    effect.colour = slot.colour;
    if (slot.texture != nullptr) {
        Ar_init_texture(*slot.texture);
        effect.texture = slot.texture;
    }
}

void read_effect(const Body& body, const char* prefix, GlowEffect& effect) {
    auto name = [prefix](const char* rest) { return std::string(prefix) + rest; };
    effect.type = static_cast<std::int32_t>(
        scalar_item(body, name("_type"), static_cast<float>(effect.type)));
    if (effect.type < 0) effect.type = 0;
    effect.intensity = scalar_item(body, name("_intensity"), effect.intensity);
    effect.spread = scalar_item(body, name("_spread"), effect.spread);
    effect.eccentricity = scalar_item(body, name("_eccentricity"), effect.eccentricity);
    effect.radial_noise = scalar_item(body, name("_radial_noise"), effect.radial_noise);
    effect.star_level = scalar_item(body, name("_star_level"), effect.star_level);
    effect.opacity = scalar_item(body, name("_opacity"), effect.opacity);
    effect.lens_flare = scalar_item(body, name("_lens_flare"), effect.lens_flare);
    effect.ring_intensity = scalar_item(body, name("_ring_intensity"), effect.ring_intensity);
    effect.ring_frequency = scalar_item(body, name("_ring_frequency"), effect.ring_frequency);
    colour_item(body, name("_color"), effect);
}

// A sample counts twice over (weight 2), except a corner sample on the row
// between two tiles: both tiles take it, so each copy counts once. The grid
// then holds the same averages whatever the tile size.
std::uint64_t corner_weight(const GlowState& glow, double y) {
    const double row = std::floor(y);
    if (y != row + kCornerOffset) return 2;
    const std::int32_t rows = tile_layout().rows;
    if (rows <= 0) return 2;
    const std::int64_t above =
        static_cast<std::int64_t>(glow.yhigh) + 1 - static_cast<std::int64_t>(row);
    return above > 0 && above % rows == 0 && row > glow.ylow ? 1 : 2;
}

bool effect_drawn(const GlowEffect& effect) {
    return effect.type != 0 && effect.intensity != 0.0f;
}

// The star-and-noise factor of kernel offset (i, j): `star_points` arms of
// weight `star_level` turned by `rotation` degrees, times radial streaks.
float star_and_noise(int i, int j, const GlowEffect& effect, const ShaderGlowSettings& settings) {
    if (i == 0 && j == 0) return 1.0f;
    const double angle = std::atan2(static_cast<double>(j), static_cast<double>(i)) -
                         settings.rotation * M_PI / 180.0;
    const double n = star_and_streaks(effect.star_level, settings.star_points, effect.radial_noise,
                                      settings.radial_noise_frequency, angle);
    return static_cast<float>(n);
}

// w × w entries of red, green, blue and grey weights, grey summing to `total`.
void make_kernel(const GlowEffect& effect, const ShaderGlowSettings& settings, std::int32_t w,
                 float total, std::vector<float>& kernel) {
    const int h = w / 2;
    kernel.assign(static_cast<std::size_t>(w) * w * 4, 0.0f);
    const bool shaped = effect.star_level != 0.0f || effect.radial_noise != 0.0f;
    double sum = 0.0;
    for (int j = -h; j <= h; ++j)
        for (int i = -h; i <= h; ++i) {
            double n = shaped ? star_and_noise(i, j, effect, settings) : 1.0;
            const double rho = std::min(1.0, std::sqrt(double(i * i + j * j)) / (h + 1));
            const double f = 1.0 - std::pow(rho, static_cast<double>(effect.eccentricity));
            const double R = effect.ring_intensity;
            if (R != 0.0) {
                const double ring =
                    (std::sin(rho * rho * effect.ring_frequency * 3.14) * 0.5 + 1.0) * R;
                n *= R <= 1.0 ? 1.0 - ring : R - ring;
            }
            double rim = 0.0;
            if (effect.type == 5) {
                const double t = 1.0 - std::fabs(0.9 - rho) / 0.1;
                if (t >= 0.0) rim = ((n - 1.0) * 0.6 + 1.0) * t * 0.1;
            }
            const double grey = f * n * (1.0 - f) + f * f + rim;
            double red = grey, green = grey, blue = grey;
            if (effect.type == 4) {
                red = grey * std::min(1.0, std::max(0.5, 1.3 * rho));
                green = grey * std::clamp(1.2 - 2.0 * std::fabs(0.3 - rho), 0.0, 1.0);
                blue = grey * std::clamp(3.0 * (1.0 - rho) - 1.0, 0.0, 1.0);
            }
            if (effect.texture != nullptr) {
                TextureLookup at;
                at.u = static_cast<float>(i + h) / w;
                at.v = static_cast<float>(j + h) / w;
                TextureColour texel;
                if (Ar_invoke_texture(*effect.texture, at, texel)) {
                    red *= texel.r / 255.0;
                    green *= texel.g / 255.0;
                    blue *= texel.b / 255.0;
                }
            }
            float* entry = &kernel[(static_cast<std::size_t>(j + h) * w + (i + h)) * 4];
            entry[0] = static_cast<float>(red);
            entry[1] = static_cast<float>(green);
            entry[2] = static_cast<float>(blue);
            entry[3] = static_cast<float>(grey);
            sum += grey;
        }
    if (sum == 0.0) return;
    const float scale = static_cast<float>(total / sum);
    for (float& value : kernel) value *= scale;
}

// The buffer's averages resampled (nearest cell) to a grid of `columns` × `rows`.
std::vector<float> source_grid(const std::vector<float>& buffer, const GlowFilter& from,
                               const GlowFilter& to) {
    std::vector<float> grid(static_cast<std::size_t>(to.columns) * to.rows * 3);
    for (std::int32_t r = 0; r < to.rows; ++r) {
        const std::int32_t sr = std::min<std::int32_t>(
            from.rows - 1, static_cast<std::int32_t>((r + 0.5) * from.rows / to.rows));
        for (std::int32_t c = 0; c < to.columns; ++c) {
            const std::int32_t sc = std::min<std::int32_t>(
                from.columns - 1, static_cast<std::int32_t>((c + 0.5) * from.columns / to.columns));
            std::memcpy(&grid[(static_cast<std::size_t>(r) * to.columns + c) * 3],
                        &buffer[(static_cast<std::size_t>(sr) * from.columns + sc) * 3],
                        3 * sizeof(float));
        }
    }
    return grid;
}

// The lens flare of the brightest glowing cell: soft circles of its colour,
// tinted apart, along the line from it through the centre of the image and
// beyond, the same on every run. `core` is the kernel's weight at its centre,
// so that a flare of 1 is about as bright as the glow's core.
void add_lens_flare(float amount, float core, const float* colour, std::size_t cell,
                    const GlowFilter& filter, std::int32_t w, std::vector<float>& spread) {
    constexpr int kCircles = 6;
    const float sx = static_cast<float>(cell % filter.columns) + 0.5f;
    const float sy = static_cast<float>(cell / filter.columns) + 0.5f;
    const float cx = filter.columns / 2.0f, cy = filter.rows / 2.0f;
    for (int k = 0; k < kCircles; ++k) {
        const float t = 0.4f + 1.4f * hash_unit(2u * k + 11u);
        const float x = sx + (cx - sx) * t, y = sy + (cy - sy) * t;
        const float radius = std::max(1.0f, w * (0.1f + 0.3f * hash_unit(2u * k + 12u)));
        float tint[3];
        for (int c = 0; c < 3; ++c)
            tint[c] = colour[c] * amount * core * 0.25f *
                      (1.0f + 0.4f * std::sin(2.0f * static_cast<float>(M_PI) *
                                              (static_cast<float>(k) / kCircles + c / 3.0f)));
        const int r0 = std::max(0, static_cast<int>(y - radius));
        const int r1 = std::min(filter.rows - 1, static_cast<int>(y + radius));
        const int c0 = std::max(0, static_cast<int>(x - radius));
        const int c1 = std::min(filter.columns - 1, static_cast<int>(x + radius));
        for (int r = r0; r <= r1; ++r)
            for (int c = c0; c <= c1; ++c) {
                const float d = std::hypot(c + 0.5f - x, r + 0.5f - y) / radius;
                if (d >= 1.0f) continue;
                // A disc with a soft rim.
                const float v = std::min(1.0f, (1.0f - d) * 4.0f);
                float* out = &spread[(static_cast<std::size_t>(r) * filter.columns + c) * 3];
                for (int ch = 0; ch < 3; ++ch) out[ch] += std::max(0.0f, tint[ch]) * v;
            }
    }
}

bool compute_effect(const GlowEffect& effect, const ShaderGlowSettings& settings,
                    const std::vector<float>& buffer, const GlowFilter& buffer_filter,
                    EffectGrid& out, const char* name, float kernel_total) {
    const GlowFilter& filter = out.filter;
    const RenderOptions& options = render_options();
    if (!options.quiet) rptUser("    Calculating %s effect...\n", name);
    rptUser("    %s ", name[0] == 'g' ? "Glow" : "Halo");
    const std::int32_t w = filter.width;
    const std::size_t cells = static_cast<std::size_t>(filter.columns) * filter.rows;
    if (w > kLargestFilter || cells > kLargestGrid) {
        rptUser("\n");
        rptError(
            "Shader glow: the %s filter (%d cells across, a grid of %zu cells) is too large; "
            "no %s drawn\n",
            name, w, cells, name);
        return false;
    }
    std::vector<float> kernel;
    make_kernel(effect, settings, w, kernel_total, kernel);
    const std::vector<float> source = source_grid(buffer, buffer_filter, filter);
    std::vector<float> spread(cells * 3, 0.0f);
    const bool coloured = effect.type == 4 || effect.texture != nullptr;
    const int h = w / 2;
    float S = 0.0f;
    std::size_t brightest = cells;  // the lens flare's source
    float brightest_sum = 0.0f;
    for (std::int32_t r = 0; r < filter.rows; ++r)
        for (std::int32_t c = 0; c < filter.columns; ++c) {
            const std::size_t at = static_cast<std::size_t>(r) * filter.columns + c;
            const float* value = &source[at * 3];
            if (value[0] <= 0.0f && value[1] <= 0.0f && value[2] <= 0.0f) continue;
            S = std::max({S, value[0], value[1], value[2]});
            if (value[0] + value[1] + value[2] > brightest_sum)
                brightest_sum = value[0] + value[1] + value[2], brightest = at;
            const int r0 = std::max(0, r - h), r1 = std::min(filter.rows - 1, r + h);
            const int c0 = std::max(0, c - h), c1 = std::min(filter.columns - 1, c + h);
            for (int rr = r0; rr <= r1; ++rr) {
                const float* k = &kernel[(static_cast<std::size_t>(rr - r + h) * w) * 4];
                float* o = &spread[static_cast<std::size_t>(rr) * filter.columns * 3];
                for (int cc = c0; cc <= c1; ++cc) {
                    const float* entry = k + static_cast<std::size_t>(cc - c + h) * 4;
                    if (entry[3] < 1e-5f) continue;
                    for (int ch = 0; ch < 3; ++ch)
                        o[cc * 3 + ch] += value[ch] * (coloured ? entry[ch] : entry[3]);
                }
            }
        }
    if (effect.lens_flare != 0.0f && brightest < cells)
        add_lens_flare(effect.lens_flare, kernel[(static_cast<std::size_t>(h) * w + h) * 4 + 3],
                       &source[brightest * 3], brightest, filter, w, spread);
    float P = 0.0f;
    for (float v : spread) P = std::max(P, v);
    const double intensity = effect.intensity;
    double F = settings.auto_exposure ? (P + 0.001) / (intensity * S + 0.001)
                                      : double(w) * w / (intensity * 500.0);
    if (!(F >= 1.0)) F = 1.0;
    rptUser("intensity normalization factor = %g.\n", double(w) * w / (F * 500.0));
    out.colour.assign(cells * 3, 0);
    // An untextured colour tints the glow here; a texture did in the kernel.
    double scale[3];
    const float colour[3] = {effect.colour.x, effect.colour.y, effect.colour.z};
    for (int ch = 0; ch < 3; ++ch)
        scale[ch] = effect.texture != nullptr ? 1.0 / F : 2.0 / (F * 255.0) * colour[ch];
    for (std::size_t i = 0; i < cells; ++i)
        for (int ch = 0; ch < 3; ++ch) {
            const double scaled = spread[i * 3 + ch] * scale[ch];
            out.colour[i * 3 + ch] = static_cast<std::uint8_t>(std::clamp(scaled, 0.0, 255.0));
        }
    return true;
}

// The computed grid at window pixel (x, y), bilinear between cells; at one
// cell a pixel, pixel x reads the cell its centre's samples went to.
bool sample_grid(const EffectGrid& grid, double x, double y, float g[3]) {
    const GlowFilter& f = grid.filter;
    const double u = std::clamp(x * f.resolution, 0.0, double(f.columns - 1));
    const double v = std::clamp(y * f.resolution, 0.0, double(f.rows - 1));
    const int c0 = static_cast<int>(u), r0 = static_cast<int>(v);
    const int c1 = std::min(c0 + 1, f.columns - 1), r1 = std::min(r0 + 1, f.rows - 1);
    const float fu = static_cast<float>(u - c0), fv = static_cast<float>(v - r0);
    auto cell = [&](int r, int c) { return &grid.colour[(std::size_t(r) * f.columns + c) * 3]; };
    const std::uint8_t *a = cell(r0, c0), *b = cell(r0, c1), *c = cell(r1, c0), *d = cell(r1, c1);
    bool any = false;
    for (int ch = 0; ch < 3; ++ch) {
        any = any || a[ch] || b[ch] || c[ch] || d[ch];
        g[ch] = (a[ch] * (1 - fu) + b[ch] * fu) * (1 - fv) + (c[ch] * (1 - fu) + d[ch] * fu) * fv;
    }
    return any;
}

}  // namespace

ShaderGlowSettings shader_glow_settings() {
    ShaderGlowSettings settings;
    const Body* body = scene_description().shader_glow;
    if (body == nullptr) return settings;
    read_effect(*body, "glow", settings.glow);
    read_effect(*body, "halo", settings.halo);
    settings.quality = scalar_item(*body, "quality", settings.quality);
    settings.threshold = scalar_item(*body, "threshold", settings.threshold);
    settings.radial_noise_frequency =
        scalar_item(*body, "radial_noise_frequency", settings.radial_noise_frequency);
    settings.star_points = scalar_item(*body, "star_points", settings.star_points);
    settings.rotation = scalar_item(*body, "rotation", settings.rotation);
    settings.auto_exposure = static_cast<std::int32_t>(scalar_item(*body, "auto_exposure", 1)) != 0;
    return settings;
}

GlowFilter glow_filter(float spread, float quality, std::int32_t x_span, std::int32_t y_span) {
    GlowFilter filter;
    const double s = std::max(static_cast<double>(spread), 1e-5);
    const double q = std::max(static_cast<double>(quality), 0.001);
    double r = std::pow(s * 300.0 * s * q * 600.0 * 600.0, 0.25) / (s * 600.0);
    filter.resolution = std::clamp(r, 0.01, 1.0);
    const double width = std::min(filter.resolution * x_span * s, 1e9);
    filter.width = static_cast<std::int32_t>(width);
    if (filter.width % 2 == 0) filter.width += 1;
    filter.columns = std::max(1, static_cast<std::int32_t>(x_span * filter.resolution));
    filter.rows = std::max(1, static_cast<std::int32_t>(y_span * filter.resolution));
    return filter;
}

void set_up_shader_glow() {
    if (!Ar_shader_glow_on()) {
        state().active = false;
        return;
    }
    const RenderOptions& options = render_options();
    start_shader_glow(shader_glow_settings(), options.xleft, options.xright, options.ylow,
                      options.yhigh, options.quiet != 0);
}

void start_shader_glow(const ShaderGlowSettings& wanted, std::int32_t xleft, std::int32_t xright,
                       std::int32_t ylow, std::int32_t yhigh, bool quiet) {
    GlowState& glow = state();
    const bool again = glow.active;
    glow.settings = wanted;
    ShaderGlowSettings& settings = glow.settings;
    settings.quality = std::max(settings.quality, 0.001f);
    const std::int32_t x_span = xright - xleft;
    const std::int32_t y_span = yhigh - ylow;
    glow.xleft = xleft;
    glow.ylow = ylow;
    glow.yhigh = yhigh;
    glow.glow = EffectGrid{};
    glow.halo = EffectGrid{};
    glow.glow.active = settings.glow.type != 0;
    glow.halo.active = settings.halo.type != 0;
    if (glow.glow.active)
        glow.glow.filter = glow_filter(settings.glow.spread, settings.quality, x_span, y_span);
    if (glow.halo.active)
        glow.halo.filter = glow_filter(settings.halo.spread, settings.quality, x_span, y_span);
    if (!quiet && !again) {
        if (glow.glow.active)
            rptUser("\tGlow: Filter Width = %d\n\t      Resolution = %f\n", glow.glow.filter.width,
                    glow.glow.filter.resolution);
        if (glow.halo.active)
            rptUser("\tHalo: Filter Width = %d\n\t      Resolution = %f\n", glow.halo.filter.width,
                    glow.halo.filter.resolution);
    }
    glow.buffer_filter = glow.glow.filter;
    if (glow.halo.active &&
        (!glow.glow.active || glow.halo.filter.columns > glow.glow.filter.columns))
        glow.buffer_filter = glow.halo.filter;
    const std::size_t cells =
        static_cast<std::size_t>(glow.buffer_filter.columns) * glow.buffer_filter.rows;
    if (cells > kLargestGrid) {
        rptError("Shader glow: a glow buffer of %zu cells is too large; no shader glow drawn\n",
                 cells);
        glow.active = false;
        return;
    }
    if (cells != glow.buffer_cells) {
        glow.buffer.reset(new (std::nothrow) GlowCell[cells]);
        glow.buffer_cells = glow.buffer ? cells : 0;
        if (!glow.buffer) {
            rptError(
                "Shader glow: no memory for a glow buffer of %zu cells; no shader glow drawn\n",
                cells);
            glow.active = false;
            return;
        }
    }
    for (std::size_t i = 0; i < cells; ++i) {
        for (auto& sum : glow.buffer[i].sum) sum.store(0, std::memory_order_relaxed);
        glow.buffer[i].count.store(0, std::memory_order_relaxed);
    }
    glow.active = glow.glow.active || glow.halo.active;
}

bool shader_glow_active() {
    return state().active;
}

void deposit_glow_sample(double x, double y, const float* colour) {
    GlowState& glow = state();
    if (!glow.active) return;
    const GlowFilter& f = glow.buffer_filter;
    const double r = f.resolution;
    const double row = std::floor((y - glow.ylow) * r);
    const double column = std::floor((x - glow.xleft) * r - 0.5);
    const std::size_t cell =
        static_cast<std::size_t>(std::clamp(row, 0.0, double(f.rows - 1))) * f.columns +
        static_cast<std::size_t>(std::clamp(column, 0.0, double(f.columns - 1)));
    GlowCell& target = glow.buffer[std::min(cell, glow.buffer_cells - 1)];
    const std::uint64_t weight = corner_weight(glow, y);
    for (int c = 0; c < 3; ++c) {
        const float value = colour != nullptr ? std::clamp(colour[c], 0.0f, 255.0f) : 0.0f;
        // NaN fails the clamp's comparisons both ways: count it as black.
        const double fixed = value == value ? std::round(value * kFixedPoint) : 0.0;
        target.sum[c].fetch_add(static_cast<std::uint64_t>(fixed) * weight,
                                std::memory_order_relaxed);
    }
    target.count.fetch_add(weight, std::memory_order_relaxed);
}

namespace {

// Threshold, then the glow's and the halo's spread and normalisation.
bool threshold_and_spread() {
    GlowState& glow = state();
    if (!glow.active) return false;
    const ShaderGlowSettings& settings = glow.settings;
    const std::size_t cells = glow.buffer_cells;
    std::vector<float> buffer(cells * 3, 0.0f);
    const float threshold = 255.0f * settings.threshold;
    for (std::size_t i = 0; i < cells; ++i) {
        const std::uint64_t count = glow.buffer[i].count.load(std::memory_order_relaxed);
        if (count == 0) continue;
        float* value = &buffer[i * 3];
        for (int c = 0; c < 3; ++c)
            value[c] = std::trunc(static_cast<float>(
                static_cast<double>(glow.buffer[i].sum[c].load(std::memory_order_relaxed)) /
                (kFixedPoint * count)));
        const float third = (value[0] + value[1] + value[2]) / 12.0f;
        if (0.75f * value[0] + third < threshold && 0.75f * value[1] + third < threshold &&
            0.75f * value[2] + third < threshold)
            value[0] = value[1] = value[2] = 0.0f;
    }
    bool drawn = false;
    struct Effect {
        const GlowEffect& settings;
        EffectGrid& grid;
        const char* name;
        float kernel_total;
    };
    for (const Effect& effect : {Effect{settings.glow, glow.glow, "glow", 25.0f},
                                 Effect{settings.halo, glow.halo, "halo", 100.0f}}) {
        effect.grid.active = effect.grid.active && effect_drawn(effect.settings) &&
                             compute_effect(effect.settings, settings, buffer, glow.buffer_filter,
                                            effect.grid, effect.name, effect.kernel_total);
        drawn = drawn || effect.grid.active;
    }
    return drawn;
}

}  // namespace

bool compute_shader_glow() {
    // The grids are as large as the window allows; one that cannot be had
    // leaves the image without glow rather than ending the run.
    try {
        return threshold_and_spread();
    } catch (const std::bad_alloc&) {
        rptError("Shader glow: no memory for the glow grids; no shader glow drawn\n");
        return false;
    }
}

void apply_shader_glow_row(std::uint8_t* row, std::int32_t width, bool sixteen, std::int32_t y,
                           std::int32_t x_first, std::int32_t x_last) {
    GlowState& glow = state();
    const RenderOptions& options = render_options();
    // Jitter from a generator seeded by the row: the same on every run.
    std::uint32_t seed = 0x9e3779b9u ^ static_cast<std::uint32_t>(y) * 0x85ebca6bu;
    auto jitter = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<float>(seed >> 8) / 8388608.0f - 1.0f;  // [-1, 1)
    };
    const double gy = y - glow.ylow;
    for (std::int32_t x = std::max(0, x_first); x <= std::min(x_last, width - 1); ++x) {
        for (const EffectGrid* effect : {&glow.glow, &glow.halo}) {
            if (!effect->active) continue;
            float g[3];
            if (!sample_grid(*effect, x, gy, g)) continue;
            const float opacity =
                effect == &glow.glow ? glow.settings.glow.opacity : glow.settings.halo.opacity;
            const float G = g[0] + g[1] + g[2];
            float colour[3], alpha = pixel_channel(row, x, 3, sixteen);
            for (int c = 0; c < 3; ++c) colour[c] = pixel_channel(row, x, c, sixteen);
            const float k = opacity * G / 765.0f;
            if (opacity != 0.0f && k > 0.0f) {
                alpha = k * G / 5.0f + G / 5.0f + alpha;
                for (int c = 0; c < 3; ++c)
                    colour[c] = k >= 1.0f ? g[c] : g[c] + colour[c] * (1 - k);
            } else {
                for (int c = 0; c < 3; ++c) colour[c] += g[c];
                alpha += G / 5.0f;
            }
            if (options.glow_jitter)
                for (float& value : colour)
                    if (value > 0.5f) value += jitter();
            for (int c = 0; c < 3; ++c) set_pixel_channel(row, x, c, sixteen, colour[c]);
            set_pixel_channel(row, x, 3, sixteen, alpha);
        }
    }
}

void finish_shader_glow() {
    GlowState& glow = state();
    glow.active = false;
    glow.glow.colour.clear();
    glow.halo.colour.clear();
}

}  // namespace sky
