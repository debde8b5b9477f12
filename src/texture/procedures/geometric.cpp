// Geometric: the surroundings painted on a shape of finite size round the
// object's origin, looked up where the direction from the shaded point
// (object space) meets it, so near things shift as the point moves.
// `geometry_type` 1 is a sphere of radius `Scale` (the picture wrapped by
// longitude and latitude, as on a Sphere), 2 a cylinder of radius `Scale`
// and height `Height` round the y axis (u round it, v up it; beyond its
// ends the direction meets nothing and shows `rgbout`), 3 a cube `Scale`
// from the centre to each face (the picture a horizontal cross, as on a
// Cube). `Rotate` turns the shape about y, degrees. `image` is a nested
// texture, a colour or a file name.
#include <algorithm>
#include <cmath>
#include "base/vecmath.h"
#include "texture/procedures/environment_maps.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    shared_rows::kImage,
    {.name = "geometry_type",
     .type = ANY,
     .value = {1.0f},
     .description = "The shape: sphere, cylinder, cube ... as a number."},
    {.name = "Rotate", .type = ANY, .description = "Rotation of the shape, degrees."},
    {.name = "Scale", .type = ANY, .value = {1.0f}, .description = "Size of the shape."},
    {.name = "Height", .type = ANY, .value = {1.0f}, .description = "Height of the shape."},
};
constexpr ParameterTable kTable = procedure_table(
    kRows, "ERROR: Unknown parameter in Geometric: %s\n", "NIL GeometricNode found\n");

constexpr int kImage = parameter_index(kRows, "image");
constexpr int kType = parameter_index(kRows, "geometry_type");
constexpr int kRotate = parameter_index(kRows, "Rotate");
constexpr int kScale = parameter_index(kRows, "Scale");
constexpr int kHeight = parameter_index(kRows, "Height");
constexpr int kCross[6][2] = {{2, 1}, {0, 1}, {1, 2}, {1, 0}, {3, 1}, {1, 1}};

// The far root of |o + t d|² = r² restricted to some axes (x, z for the
// cylinder), or a negative number when there is none.
float leave_round(const Triple& o, const Triple& d, float r, bool with_y) {
    float oy = with_y ? o.y : 0.0f, dy = with_y ? d.y : 0.0f;
    float a = d.x * d.x + dy * dy + d.z * d.z;
    if (a <= 0.0f) return -1.0f;
    float b = o.x * d.x + oy * dy + o.z * d.z, c = o.x * o.x + oy * oy + o.z * o.z - r * r;
    float disc = b * b - a * c;
    if (disc < 0.0f) return -1.0f;
    return (-b + std::sqrt(disc)) / a;
}

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    // Into the shape's frame: turned back by `Rotate` about y.
    float angle = parameter_scalar(texture, kRotate) * kPi / 180.0f;
    float c = std::cos(angle), s = std::sin(angle);
    auto turn = [&](const Triple& a) { return Triple{c * a.x - s * a.z, a.y, s * a.x + c * a.z}; };
    Triple o = turn(call.at->point), d = turn(normalise(call.at->direction));
    float size = std::max(std::fabs(parameter_scalar(texture, kScale)), 1e-6f);
    float width = filter_width(texture, call);
    float u = 0.0f, v = 0.0f;
    switch (static_cast<int>(parameter_scalar(texture, kType))) {
        case 2: {
            float t = leave_round(o, d, size, false);
            float height = parameter_scalar(texture, kHeight);
            float y = o.y + t * d.y;
            if (t < 0.0f || std::fabs(y) > 0.5f * std::fabs(height)) {
                texture_default_colour(texture, out);
                return;
            }
            Triple h{o.x + t * d.x, y, o.z + t * d.z};
            u = 0.5f + std::atan2(h.x, h.z) / (2.0f * kPi);
            v = 0.5f + y / std::max(std::fabs(height), 1e-6f);
            width /= 2.0f * kPi;
            break;
        }
        case 3: {
            float leave = 1e30f;
            const float oo[3] = {o.x, o.y, o.z}, r[3] = {d.x, d.y, d.z};
            for (int i = 0; i < 3; ++i)
                if (r[i] != 0.0f)
                    leave = std::min(leave, ((r[i] > 0 ? size : -size) - oo[i]) / r[i]);
            Triple h = leave > 0.0f && leave < 1e30f
                           ? Triple{o.x + leave * d.x, o.y + leave * d.y, o.z + leave * d.z}
                           : d;
            float fu, fv;
            environment::Face face = environment::cube_face(h, fu, fv);
            u = (static_cast<float>(kCross[face][0]) + std::clamp(fu, 0.001f, 0.999f)) / 4.0f;
            v = (static_cast<float>(kCross[face][1]) + std::clamp(fv, 0.001f, 0.999f)) / 3.0f;
            width /= 8.0f;
            break;
        }
        default: {
            float t = leave_round(o, d, size, true);
            Triple h = t >= 0.0f ? Triple{o.x + t * d.x, o.y + t * d.y, o.z + t * d.z} : d;
            u = 0.5f + std::atan2(h.x, h.z) / (2.0f * kPi);
            v = 0.5f + std::atan2(h.y, std::hypot(h.x, h.z)) / kPi;
            width /= kPi;
            break;
        }
    }
    if (!picture(texture, kImage, 0, u, v, width, call, out)) texture_default_colour(texture, out);
}

bool init_geometric(AR_TextureInfo& texture) {
    if (!init_procedure_parameters(texture)) return false;
    load_picture(texture, kImage, 0);
    return true;
}

}  // namespace

const AR_TextureProcedure kGeometricProcedure =
    procedure_row("Geometric", kTable, calculate, TEXTURE_ENVIRONMENT, false,
                  eval_procedure_parameters, init_geometric);

}  // namespace sky
