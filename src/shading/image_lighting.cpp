// Image-based lighting: the probe of the frame, its irradiance as spherical
// harmonics and its specular maps, kept across frames while the probe is
// unchanged.
#include "shading/image_lighting.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <numbers>
#include <string>

#include "platform/image/oiio_backend.h"
#include "platform/report.h"
#include "scene/scene_hooks.h"
#include "scene/scene_objects.h"
#include "sdl/expr.h"
#include "sdl/scene_packets.h"
#include "sdl/symbols.h"
#include "sdl/types.h"
#include "shading/shader.h"
#include "shading/shader_internal.h"

namespace sky {
namespace {

constexpr double kPi = std::numbers::pi;

// The filtered copy the specular maps are made from, and their size.
constexpr int kSmallWidth = 64, kSmallHeight = 32;
constexpr int kMapWidth = 64, kMapHeight = 32;
// Beyond this a lobe is narrower than a texel of the small copy.
constexpr std::int32_t kSharpestLobe = 512;

// A map of the sphere, RGB per texel, with each texel's direction and
// solid angle.
struct SphereMap {
    int width = 0, height = 0;
    std::vector<float> rgb;
};

struct SpecularMap {
    SphereMap map;
    bool used = true;
};

struct State {
    bool on = false;
    std::string source;    // what the probe was read from ("" : given directly)
    bool said = false;     // the precomputing message was printed
    double sh[9][3] = {};  // irradiance coefficients (already × the cosine lobe)
    SphereMap small;       // the probe box-filtered
    std::map<std::int32_t, std::unique_ptr<SpecularMap>> maps;
    // Read by the workers while they render: rebuilt between frames.
    std::vector<std::pair<std::int32_t, const SphereMap*>> ready;
    ImageLightingCounts counts;
};

State& state() {
    static State s;
    return s;
}

Triple direction_of(double u, double v) {
    const double phi = (u - 0.5) * 2 * kPi, theta = v * kPi;
    return Triple{static_cast<float>(std::sin(theta) * std::sin(phi)),
                  static_cast<float>(std::cos(theta)),
                  static_cast<float>(-std::sin(theta) * std::cos(phi))};
}

// Where a direction falls on a map, 0..1 each way.
void map_position(const Triple& d, double& u, double& v) {
    u = std::atan2(d.x, -d.z) / (2 * kPi) + 0.5;
    v = std::acos(std::clamp(static_cast<double>(d.y), -1.0, 1.0)) / kPi;
}

// The solid angle of a texel of row `row` of a map `height` rows high.
double texel_angle(int row, int width, int height) {
    const double t0 = kPi * row / height, t1 = kPi * (row + 1) / height;
    return (std::cos(t0) - std::cos(t1)) * 2 * kPi / width;
}

// The nine real spherical harmonics at a unit direction.
void harmonics(const Triple& d, double y[9]) {
    const double x = d.x, yy = d.y, z = d.z;
    y[0] = 0.282095;
    y[1] = 0.488603 * yy;
    y[2] = 0.488603 * z;
    y[3] = 0.488603 * x;
    y[4] = 1.092548 * x * yy;
    y[5] = 1.092548 * yy * z;
    y[6] = 0.315392 * (3 * z * z - 1);
    y[7] = 1.092548 * x * z;
    y[8] = 0.546274 * (x * x - yy * yy);
}

void precompute(const LightProbe& probe, State& s) {
    // Irradiance: project the radiance, then convolve with the clamped
    // cosine (its band factors π, 2π/3, π/4).
    double coefficients[9][3] = {};
    for (int row = 0; row < probe.height; ++row) {
        const double angle = texel_angle(row, probe.width, probe.height);
        const double v = (row + 0.5) / probe.height;
        for (int column = 0; column < probe.width; ++column) {
            const float* c = &probe.rgb[3 * (static_cast<std::size_t>(row) * probe.width + column)];
            double y[9];
            harmonics(direction_of((column + 0.5) / probe.width, v), y);
            for (int k = 0; k < 9; ++k)
                for (int channel = 0; channel < 3; ++channel)
                    coefficients[k][channel] += c[channel] * y[k] * angle;
        }
    }
    const double band[9] = {kPi,     2 * kPi / 3, 2 * kPi / 3, 2 * kPi / 3, kPi / 4,
                            kPi / 4, kPi / 4,     kPi / 4,     kPi / 4};
    for (int k = 0; k < 9; ++k)
        for (int channel = 0; channel < 3; ++channel)
            s.sh[k][channel] = coefficients[k][channel] * band[k];

    // The small copy: each of its texels the solid-angle weighted mean of
    // the probe texels whose centres fall in it.
    s.small = SphereMap{kSmallWidth, kSmallHeight, {}};
    std::vector<double> sum(3 * kSmallWidth * kSmallHeight, 0.0),
        weight(kSmallWidth * kSmallHeight);
    for (int row = 0; row < probe.height; ++row) {
        const double angle = texel_angle(row, probe.width, probe.height);
        const int r = std::min(row * kSmallHeight / probe.height, kSmallHeight - 1);
        for (int column = 0; column < probe.width; ++column) {
            const int c = std::min(column * kSmallWidth / probe.width, kSmallWidth - 1);
            const float* p = &probe.rgb[3 * (static_cast<std::size_t>(row) * probe.width + column)];
            const std::size_t at = static_cast<std::size_t>(r) * kSmallWidth + c;
            for (int channel = 0; channel < 3; ++channel)
                sum[3 * at + channel] += p[channel] * angle;
            weight[at] += angle;
        }
    }
    s.small.rgb.assign(sum.size(), 0.0f);
    for (std::size_t i = 0; i < weight.size(); ++i)
        for (int channel = 0; channel < 3; ++channel)
            if (weight[i] > 0)
                s.small.rgb[3 * i + channel] = static_cast<float>(sum[3 * i + channel] / weight[i]);
    ++s.counts.probes;
}

// The small copy convolved with the normalised lobe (n + 1)/(2π) cos^n.
std::unique_ptr<SpecularMap> make_specular_map(const SphereMap& small, std::int32_t exponent) {
    auto made = std::make_unique<SpecularMap>();
    SphereMap& out = made->map;
    out = SphereMap{kMapWidth, kMapHeight, std::vector<float>(3 * kMapWidth * kMapHeight, 0.0f)};
    std::vector<Triple> directions(static_cast<std::size_t>(small.width) * small.height);
    std::vector<double> angles(small.height);
    for (int row = 0; row < small.height; ++row) {
        angles[row] = texel_angle(row, small.width, small.height);
        for (int column = 0; column < small.width; ++column)
            directions[static_cast<std::size_t>(row) * small.width + column] =
                direction_of((column + 0.5) / small.width, (row + 0.5) / small.height);
    }
    const double n = exponent;
    for (int row = 0; row < kMapHeight; ++row) {
        for (int column = 0; column < kMapWidth; ++column) {
            const Triple r = direction_of((column + 0.5) / kMapWidth, (row + 0.5) / kMapHeight);
            double total[3] = {0, 0, 0}, norm = 0;
            for (int i = 0; i < small.height; ++i) {
                for (int j = 0; j < small.width; ++j) {
                    const std::size_t at = static_cast<std::size_t>(i) * small.width + j;
                    const double c = dot(r, directions[at]);
                    if (c <= 0) continue;
                    const double w = std::pow(c, n) * angles[i];
                    norm += w;
                    for (int channel = 0; channel < 3; ++channel)
                        total[channel] += w * small.rgb[3 * at + channel];
                }
            }
            // Normalised by the lobe's own sum over the texels, so a uniform
            // probe comes back exactly however coarse the copy.
            float* o = &out.rgb[3 * (static_cast<std::size_t>(row) * kMapWidth + column)];
            for (int channel = 0; channel < 3; ++channel)
                o[channel] = norm > 0 ? static_cast<float>(total[channel] / norm) : 0.0f;
        }
    }
    return made;
}

void publish_maps(State& s) {
    s.ready.clear();
    for (auto& [exponent, map] : s.maps) s.ready.emplace_back(exponent, &map->map);
    s.counts.maps_held = static_cast<int>(s.maps.size());
}

// The probe as floats, from an image record of the binary scene data.
bool probe_from_packets(const PacketImage& image, LightProbe& probe, std::string& why) {
    if (image.width == 0 || image.height == 0 || image.channels == 0) {
        why = "it holds no pixels";
        return false;
    }
    probe.width = static_cast<std::int32_t>(image.width);
    probe.height = static_cast<std::int32_t>(image.height);
    const std::size_t texels = static_cast<std::size_t>(image.width) * image.height;
    const std::size_t channels = image.channels;
    const std::size_t size = image.type == PACKET_FLOATS ? 4 : 1;
    if (image.data.size() < texels * channels * size) {
        why = "its pixels are cut short";
        return false;
    }
    probe.rgb.assign(3 * texels, 0.0f);
    for (std::size_t i = 0; i < texels; ++i) {
        for (std::size_t c = 0; c < 3; ++c) {
            const std::size_t source = i * channels + std::min(c, channels > 2 ? c : 0);
            float value = 0;
            if (size == 4)
                std::memcpy(&value, &image.data[4 * source], 4);
            else
                value = image.data[source] / 255.0f;
            probe.rgb[3 * i + c] = std::isfinite(value) ? std::max(value, 0.0f) : 0.0f;
        }
    }
    return true;
}

bool probe_from_file(const std::string& name, LightProbe& probe, std::string& why) {
    std::unique_ptr<OiioReader> reader = OiioReader::open(name, &why);
    if (!reader) return false;
    probe.width = reader->width();
    probe.height = reader->height();
    const int channels = reader->channels();
    std::vector<float> row(static_cast<std::size_t>(probe.width) * channels);
    probe.rgb.assign(3 * static_cast<std::size_t>(probe.width) * probe.height, 0.0f);
    for (int y = 0; y < probe.height; ++y) {
        if (!reader->read_row_float(y, row.data(), &why)) return false;
        for (int x = 0; x < probe.width; ++x)
            for (int c = 0; c < 3; ++c) {
                const float value =
                    row[static_cast<std::size_t>(x) * channels + (channels > 2 ? c : 0)];
                probe.rgb[3 * (static_cast<std::size_t>(y) * probe.width + x) + c] =
                    std::isfinite(value) ? std::max(value, 0.0f) : 0.0f;
            }
    }
    return true;
}

// The frame's probe: its source, and whether one is asked for at all.
bool probe_source(std::string& source, const PacketImage*& packet) {
    packet = nullptr;
    source.clear();
    if (const Symbol* symbol = find_symbol("light_probe")) {
        if (symbol->type == SDL_FILENAME && symbol->value) {
            const std::string& name = *static_cast<const std::string*>(symbol->value);
            if (name.empty()) return false;
            for (const PacketImage& image : scene_packets().lighting)
                if (image.name == name) packet = &image;
            source = (packet ? "binary:" : "file:") + name;
            return true;
        }
    }
    const auto& lighting = scene_packets().lighting;
    if (lighting.empty()) return false;
    packet = &lighting.front();
    source = "binary:" + packet->name;
    return true;
}

// The highlight exponents the frame's lit shaders that reflect the
// background ask for.
void want_frame_maps() {
    SceneHooks& hooks = scene_hooks();
    if (hooks.object_shaders == nullptr) return;
    ObjectList& objects = frame_objects();
    for (std::size_t i = 0; i < objects.size(); ++i) {
        for (Expr* expression : hooks.object_shaders(objects[i])) {
            ObjectValue value;
            if (!AR_evaluate(SDL_SHADER, &value, expression, nullptr)) continue;
            const RR_Shader* shader = shader_of(value);
            if (shader == nullptr || shader->info == nullptr) continue;
            const AR_ShaderInfo& info = *shader->info;
            if (info.param[SHADER_REFLECT_BACKGROUND] == 0.0f || info.model_info == nullptr)
                continue;
            const std::string_view model = info.model ? info.model->name : "";
            if (model == "phong")
                want_specular_map(
                    phong_lobe(static_cast<const AR_PhongShaderInfo*>(info.model_info)->shinyness));
            else if (model == "blinn")
                want_specular_map(
                    blinn_lobe(static_cast<const AR_BlinnShaderInfo*>(info.model_info)->c));
        }
    }
}

}  // namespace

std::int32_t phong_lobe(std::int32_t shinyness) {
    return std::clamp(shinyness, 1, kSharpestLobe);
}

std::int32_t blinn_lobe(float c) {
    // c = 1/(e² − 1); a Blinn lobe of eccentricity e is close to a Phong
    // lobe of exponent (2/e² − 2)/4 about the mirror direction.
    const double e2 = c != 0.0f ? 1.0 + 1.0 / c : 1.0;
    const double n = e2 > 0 ? (2.0 / e2 - 2.0) / 4.0 : kSharpestLobe;
    return std::clamp(static_cast<std::int32_t>(std::lround(n)), 1, kSharpestLobe);
}

void use_light_probe(const LightProbe& probe) {
    State& s = state();
    s.maps.clear();
    s.on = probe.width > 0 && probe.height > 0 &&
           probe.rgb.size() >= 3 * static_cast<std::size_t>(probe.width) * probe.height;
    if (s.on) precompute(probe, s);
    publish_maps(s);
}

void want_specular_map(std::int32_t exponent) {
    State& s = state();
    if (!s.on) return;
    auto& slot = s.maps[exponent];
    if (!slot) {
        slot = make_specular_map(s.small, exponent);
        ++s.counts.specular_maps;
    }
    slot->used = true;
    publish_maps(s);
}

void prepare_image_lighting() {
    State& s = state();
    std::string source;
    const PacketImage* packet = nullptr;
    if (!probe_source(source, packet)) {
        if (s.on || !s.source.empty()) reset_image_lighting();
        return;
    }
    if (source != s.source) {
        s.source = source;
        LightProbe probe;
        std::string why;
        const std::string name = source.substr(source.find(':') + 1);
        bool read =
            packet ? probe_from_packets(*packet, probe, why) : probe_from_file(name, probe, why);
        if (read && probe.width != 2 * probe.height) {
            why = "a latitude-longitude probe is twice as wide as it is high, not " +
                  std::to_string(probe.width) + " by " + std::to_string(probe.height);
            read = false;
        }
        if (!read) {
            rptError("Cannot use light probe %s: %s\n", name.c_str(), why.c_str());
            s.on = false;
            s.maps.clear();
            publish_maps(s);
            return;
        }
        if (!s.said) rptUser("Precomputing image-based lighting.\n");
        s.said = true;
        use_light_probe(probe);
    } else {
        // The maps no shader used last frame go; the others wait to be used.
        std::erase_if(s.maps, [](const auto& entry) { return !entry.second->used; });
        for (auto& entry : s.maps) entry.second->used = false;
    }
    want_frame_maps();
    publish_maps(s);
}

bool image_lighting_on() {
    return state().on;
}

Triple image_diffuse(const Triple& normal) {
    const State& s = state();
    if (!s.on) return Triple{};
    double y[9];
    harmonics(normal, y);
    double e[3] = {0, 0, 0};
    for (int k = 0; k < 9; ++k)
        for (int c = 0; c < 3; ++c) e[c] += s.sh[k][c] * y[k];
    return Triple{static_cast<float>(std::max(e[0], 0.0) / kPi),
                  static_cast<float>(std::max(e[1], 0.0) / kPi),
                  static_cast<float>(std::max(e[2], 0.0) / kPi)};
}

Triple image_specular(const Triple& mirror, std::int32_t exponent) {
    const State& s = state();
    const SphereMap* map = nullptr;
    for (const auto& [e, m] : s.ready)
        if (e == exponent) map = m;
    if (map == nullptr) return Triple{};
    double u = 0, v = 0;
    map_position(mirror, u, v);
    // Bilinear, wrapping around in u.
    const double x = u * map->width - 0.5,
                 y = std::clamp(v * map->height - 0.5, 0.0, map->height - 1.0);
    const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(y);
    const double fx = x - x0, fy = y - y0;
    const int y1 = std::min(y0 + 1, map->height - 1);
    auto at = [&](int column, int row, int c) {
        column = ((column % map->width) + map->width) % map->width;
        return map->rgb[3 * (static_cast<std::size_t>(row) * map->width + column) + c];
    };
    float out[3];
    for (int c = 0; c < 3; ++c)
        out[c] = static_cast<float>((1 - fy) * ((1 - fx) * at(x0, y0, c) + fx * at(x0 + 1, y0, c)) +
                                    fy * ((1 - fx) * at(x0, y1, c) + fx * at(x0 + 1, y1, c)));
    return Triple{out[0], out[1], out[2]};
}

ImageLightingCounts image_lighting_counts() {
    return state().counts;
}

void reset_image_lighting() {
    State& s = state();
    s.on = false;
    s.source.clear();
    s.maps.clear();
    publish_maps(s);
}

}  // namespace sky
