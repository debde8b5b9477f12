// Ball: the surroundings from a photograph of a mirrored ball, looked up by
// direction (world space, y up, the camera that took it looking along
// −z). With `reflect` on (the usual) `image` is the ball as a mirror shows
// it; off, an angular map (the distance from the centre proportional to
// the angle from the view). `elevation` tilts the ball about x and
// `inclination` about z, degrees. With `sky_radius` above 0 the
// surroundings lie on a sphere that far from the ball's centre, which sits
// `altitude` below the shaded point, so nearby things shift with the
// point. The pictures `left`, `right`, `front`, `back` and `bottom`, where
// given, show instead of the ball for the directions that face them most
// (as on a Cube). With `eyespace` on the ball turns with the camera: it is
// looked up by the direction in eye space, so the camera always sees the
// ball's picture from the side it was taken from.
#include <algorithm>
#include <cmath>
#include "base/vecmath.h"
#include "texture/procedures/environment_maps.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "image", .type = ANY, .description = "The picture of the ball."},
    {.name = "left", .type = ANY, .description = "Picture of the scene's left side."},
    {.name = "right", .type = ANY, .description = "Picture of the right side."},
    {.name = "front", .type = ANY, .description = "Picture of the front."},
    {.name = "back", .type = ANY, .description = "Picture of the back."},
    {.name = "bottom", .type = ANY, .description = "Picture of the bottom."},
    {.name = "inclination", .type = ANY, .description = "Tilt of the ball, degrees."},
    {.name = "altitude", .type = ANY, .description = "Height of the ball above the floor."},
    {.name = "eyespace", .type = ANY, .description = "On: the ball follows the camera."},
    {.name = "elevation",
     .type = ANY,
     .description = "Elevation of the view of the ball, degrees."},
    {.name = "sky_radius", .type = ANY, .description = "Radius of the sky around the ball."},
    {.name = "reflect",
     .type = ANY,
     .value = {1.0f},
     .description = "On: the ball is seen reflected rather than directly."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Ball: %s\n", "NIL BallNode found\n");

constexpr int kImage = parameter_index(kRows, "image");
constexpr int kFaceRows[] = {parameter_index(kRows, "right"),
                             parameter_index(kRows, "left"),
                             -1,
                             parameter_index(kRows, "bottom"),
                             parameter_index(kRows, "back"),
                             parameter_index(kRows, "front")};
constexpr int kInclination = parameter_index(kRows, "inclination");
constexpr int kAltitude = parameter_index(kRows, "altitude");
constexpr int kEyespace = parameter_index(kRows, "eyespace");
constexpr int kElevation = parameter_index(kRows, "elevation");
constexpr int kSkyRadius = parameter_index(kRows, "sky_radius");
constexpr int kReflect = parameter_index(kRows, "reflect");

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    const Triple& eye = call.at->eye_direction;
    float eye_length = dot(eye, eye);
    bool eyespace = parameter_scalar(texture, kEyespace) >= 0.5f && std::isfinite(eye_length) &&
                    eye_length > 1e-20f;
    Triple d = normalise(eyespace ? eye : call.at->direction);
    float radius = parameter_scalar(texture, kSkyRadius);
    if (radius > 0.0f) {
        // From the point, `altitude` above the centre, to the sphere.
        Triple o{0.0f, parameter_scalar(texture, kAltitude), 0.0f};
        float b = dot(o, d), c = dot(o, o) - radius * radius;
        float t = -b + std::sqrt(std::max(b * b - c, 0.0f));
        d = normalise(Triple{o.x + t * d.x, o.y + t * d.y, o.z + t * d.z});
    }
    d = environment::turned(d, parameter_scalar(texture, kElevation),
                            parameter_scalar(texture, kInclination));
    float width = filter_width(texture, call);
    float fu, fv;
    environment::Face face = environment::cube_face(d, fu, fv);
    int row = kFaceRows[face];
    if (row >= 0 && picture(texture, row, 1 + face, fu, fv, 0.5f * width, call, out)) return;

    // The ball seen from +z: the camera looks along −z.
    float u, v;
    if (parameter_scalar(texture, kReflect) >= 0.5f) {
        // The mirror's normal halves the angle between the view back to the
        // camera (+z) and the direction.
        Triple n = normalise(Triple{d.x, d.y, d.z + 1.0f});
        if (length(n) == 0.0f) n = Triple{1.0f, 0.0f, 0.0f};
        u = 0.5f + 0.5f * n.x;
        v = 0.5f + 0.5f * n.y;
        width *= 0.25f;
    } else {
        float angle = std::acos(std::clamp(-d.z, -1.0f, 1.0f)) / kPi;  // 0 ahead, 1 behind
        float side = std::hypot(d.x, d.y);
        u = 0.5f + 0.5f * (side > 0.0f ? angle * d.x / side : 0.0f);
        v = 0.5f + 0.5f * (side > 0.0f ? angle * d.y / side : 0.0f);
        width *= 0.5f / kPi;
    }
    if (!picture(texture, kImage, 0, u, v, width, call, out)) texture_default_colour(texture, out);
}

bool init_ball(AR_TextureInfo& texture) {
    if (!init_procedure_parameters(texture)) return false;
    load_picture(texture, kImage, 0);
    for (int face = 0; face < 6; ++face)
        if (kFaceRows[face] >= 0) load_picture(texture, kFaceRows[face], 1 + face);
    return true;
}

}  // namespace

const AR_TextureProcedure kBallProcedure = procedure_row(
    "Ball", kTable, calculate, TEXTURE_ENVIRONMENT, false, eval_procedure_parameters, init_ball);

}  // namespace sky
