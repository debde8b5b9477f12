// Projection (also sFile): a picture projected through space. `image` is a
// nested texture (or a file name); the point, scaled by the ripples, is
// projected to (u, v) by `projection`: 1 planar along z (x, y), 2
// spherical (longitude, latitude), 3 cylindrical around y (angle, y), 4
// along the axis the normal faces most (cubic); then u = u × `xmult` +
// `xoffset`, v = v × `ymult` + `yoffset`, bent by `xamplitude` and
// `yamplitude` × fractal noise (levels `level_min` .. `level_max`,
// `ratio`). `sfile_type` 0 repeats the picture, 1 shows it once (the
// texture's `rgbout` beyond). The picture is looked up with the
// footprint scaled like the point, so it filters itself.
#include <algorithm>
#include <cmath>
#include <string>
#include "base/vecmath.h"
#include "texture/procedures/pattern_noise.h"
#include "texture/procedures/procedure_parameters.h"
#include "texture/texture_cache.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr auto kRows = join_rows(
    {
        shared_rows::kImage,
        {.name = "projection",
         .type = ANY,
         .value = {1.0f},
         .description = "The projection: planar, spherical, cylindrical ... as a number."},
        {.name = "sfile_type", .type = ANY, .description = "How the picture is repeated."},
    },
    shared_rows::kLevels, shared_rows::kRipples, shared_rows::kScaleAndOffset,
    {
        {.name = "xamplitude", .type = ANY, .description = "Distortion across."},
        shared_rows::kYAmplitude,
    });
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Projection: %s\n", "NIL sFileNode found\n");

#define ROW(name) constexpr int k_##name = parameter_index(kRows, #name)
ROW(image);
ROW(projection);
ROW(sfile_type);
ROW(level_min);
ROW(level_max);
ROW(ratio);
ROW(xripples);
ROW(yripples);
ROW(zripples);
ROW(xmult);
ROW(ymult);
ROW(xoffset);
ROW(yoffset);
ROW(xamplitude);
ROW(yamplitude);
#undef ROW
static_assert(k_level_max == k_level_min + 1 && k_ratio == k_level_min + 2 &&
              k_zripples == k_xripples + 2);  // read as groups

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    auto [p, w] = rippled_point(texture, call, k_xripples, -1);
    float u = p.x, v = p.y;
    switch (static_cast<int>(parameter_scalar(texture, k_projection))) {
        case 2: {
            float radius = length(p);
            u = 0.5f + std::atan2(p.x, p.z) / (2.0f * kPi);
            v = radius > 0.0f ? 0.5f + std::asin(std::clamp(p.y / radius, -1.0f, 1.0f)) / kPi
                              : 0.5f;
            w = radius > 0.0f ? w / (kPi * radius) : w;
            break;
        }
        case 3: {
            float radius = std::hypot(p.x, p.z);
            u = 0.5f + std::atan2(p.x, p.z) / (2.0f * kPi);
            w = radius > 0.0f ? std::max(w / (2.0f * kPi * radius), w) : w;
            break;
        }
        case 4: {
            const Triple& n = call.at->normal;
            float ax = std::fabs(n.x), ay = std::fabs(n.y), az = std::fabs(n.z);
            if (ax >= ay && ax >= az)
                u = p.z, v = p.y;
            else if (ay >= az)
                u = p.x, v = p.z;
            break;
        }
        default:
            break;
    }
    u = u * parameter_scalar(texture, k_xmult) + parameter_scalar(texture, k_xoffset);
    v = v * parameter_scalar(texture, k_ymult) + parameter_scalar(texture, k_yoffset);
    float xa = parameter_number(texture, k_xamplitude, call),
          ya = parameter_number(texture, k_yamplitude, call);
    if (xa != 0.0f || ya != 0.0f) {
        pattern::Fractal f = fractal_levels(texture, call, k_level_min, 121);
        u += xa * pattern::fractal3(p, w, f);
        f.seed = 122;
        v += ya * pattern::fractal3(p, w, f);
    }
    if (parameter_scalar(texture, k_sfile_type) >= 0.5f &&
        (u < 0.0f || u > 1.0f || v < 0.0f || v > 1.0f)) {
        texture_default_colour(texture, out);
        return;
    }
    w *= std::max(std::fabs(parameter_scalar(texture, k_xmult)),
                  std::fabs(parameter_scalar(texture, k_ymult)));
    if (!picture(texture, k_image, 0, u, v, w, call, out))
        colour_result(procedure_value(texture, k_image).value.colour, out);
}

bool init_projection(AR_TextureInfo& texture) {
    if (!init_procedure_parameters(texture)) return false;
    load_picture(texture, k_image, 0);
    return true;
}

}  // namespace

const AR_TextureProcedure kSFileProcedure = procedure_row(
    "sFile", kTable, calculate, TEXTURE_SOLID, false, eval_procedure_parameters, init_projection);
const AR_TextureProcedure kProjectionProcedure =
    procedure_row("Projection", kTable, calculate, TEXTURE_SOLID, false, eval_procedure_parameters,
                  init_projection);

}  // namespace sky
