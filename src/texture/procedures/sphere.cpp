// Sphere: a picture wrapped round the surroundings, looked up by direction
// (world space, y up): u is the longitude (0.5 looking along +z, growing
// toward +x), v the latitude (0 straight down, 1 straight up). `flip`
// mirrors it across u; `shear_u` and `shear_v` slide u by shear_u × v and
// v by shear_v × u. `image` is a nested texture, a colour or a file name.
#include <cmath>
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    shared_rows::kImage,
    {.name = "flip", .type = ANY, .description = "On: the picture is mirrored."},
    {.name = "shear_u", .type = ANY, .description = "Shear of the picture across u."},
    {.name = "shear_v", .type = ANY, .description = "Shear of the picture across v."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Sphere: %s\n", "NIL SphereNode found\n");

constexpr int kImage = parameter_index(kRows, "image");
constexpr int kFlip = parameter_index(kRows, "flip");
constexpr int kShearU = parameter_index(kRows, "shear_u");
constexpr int kShearV = parameter_index(kRows, "shear_v");

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    const Triple& d = call.at->direction;
    float horizontal = std::hypot(d.x, d.z);
    float u = 0.5f + std::atan2(d.x, d.z) / (2.0f * kPi);
    float v = 0.5f + std::atan2(d.y, horizontal) / kPi;
    if (parameter_scalar(texture, kFlip) >= 0.5f) u = 1.0f - u;
    float su = parameter_scalar(texture, kShearU), sv = parameter_scalar(texture, kShearV);
    float sheared_u = u + su * v;
    v += sv * u;
    // The footprint's angle over the picture's half turn of latitude.
    float width = filter_width(texture, call) / kPi;
    if (!picture(texture, kImage, 0, sheared_u, v, width, call, out))
        texture_default_colour(texture, out);
}

bool init_sphere(AR_TextureInfo& texture) {
    if (!init_procedure_parameters(texture)) return false;
    load_picture(texture, kImage, 0);
    return true;
}

}  // namespace

const AR_TextureProcedure kSphereProcedure =
    procedure_row("Sphere", kTable, calculate, TEXTURE_ENVIRONMENT, false,
                  eval_procedure_parameters, init_sphere);

}  // namespace sky
