// Cube: the surroundings as six square pictures on a cube round the viewer,
// looked up by direction (world space, y up, the front toward −z): `left`
// (−x), `right` (+x), `front` (−z), `back` (+z) and `bottom` (−y), each a
// nested texture, a colour or a file name; or all six in one cross-shaped
// picture `crossImg`, a vertical cross (three faces wide, four high: top,
// front, bottom, back down the middle, left and right beside the front)
// or, with `crossOrient` 1, a horizontal one (four wide: left, front,
// right, back across the middle, top above and bottom below the front).
// The top shows only in a cross. With `finiteSize` on the cube is two
// units across round the object's origin and is looked up where the
// direction, from the shaded point, leaves it. A face without a picture
// shows the texture's `rgbout`.
#include <algorithm>
#include <cmath>
#include "platform/report.h"
#include "texture/procedures/environment_maps.h"
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "left", .type = ANY, .description = "Picture of the left face."},
    {.name = "right", .type = ANY, .description = "Picture of the right face."},
    {.name = "front", .type = ANY, .description = "Picture of the front face."},
    {.name = "back", .type = ANY, .description = "Picture of the back face."},
    {.name = "bottom", .type = ANY, .description = "Picture of the bottom face."},
    {.name = "crossOrient", .type = ANY, .description = "Orientation of the cross-shaped picture."},
    {.name = "crossImg", .type = ANY, .description = "All six faces in one cross-shaped picture."},
    {.name = "finiteSize",
     .type = ANY,
     .description = "On: the cube has a finite size rather than lying at infinity."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Cube: %s\n", "NIL CubeNode found\n");

// A cube needs at least one picture; without any it is reported, and the
// texture goes on with none.
bool eval_cube(AR_TextureInfo& texture) {
    if (!eval_procedure_parameters(texture)) return false;
    for (const char* face : {"left", "right", "front", "back", "bottom", "crossImg"})
        if (procedure_expression(texture, parameter_index(kRows, face))) return true;
    rptError("No pix specified for Cube.\n");
    return true;
}

constexpr int kFaceRows[] = {parameter_index(kRows, "right"),
                             parameter_index(kRows, "left"),
                             -1,
                             parameter_index(kRows, "bottom"),
                             parameter_index(kRows, "back"),
                             parameter_index(kRows, "front")};
constexpr int kCrossOrient = parameter_index(kRows, "crossOrient");
constexpr int kCross = parameter_index(kRows, "crossImg");
constexpr int kFinite = parameter_index(kRows, "finiteSize");
constexpr int kCrossSlot = 0;

// The cell (column, row from the bottom) of each face in the two crosses.
constexpr int kVertical[6][2] = {{2, 2}, {0, 2}, {1, 3}, {1, 1}, {1, 0}, {1, 2}};
constexpr int kHorizontal[6][2] = {{2, 1}, {0, 1}, {1, 2}, {1, 0}, {3, 1}, {1, 1}};

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    Triple d = call.at->direction;
    if (parameter_scalar(texture, kFinite) >= 0.5f) {
        // Where the ray from the point leaves the cube [-1, 1]³.
        const Triple& p = call.at->point;
        float leave = 1e30f;
        const float o[3] = {p.x, p.y, p.z}, r[3] = {d.x, d.y, d.z};
        for (int i = 0; i < 3; ++i)
            if (r[i] != 0.0f) leave = std::min(leave, ((r[i] > 0 ? 1.0f : -1.0f) - o[i]) / r[i]);
        if (leave > 0.0f && leave < 1e30f)
            d = Triple{p.x + leave * d.x, p.y + leave * d.y, p.z + leave * d.z};
    }
    float u, v;
    environment::Face face = environment::cube_face(d, u, v);
    // The footprint's angle spans about half its width of a face.
    float width = 0.5f * filter_width(texture, call);
    if (procedure_expression(texture, kCross) || procedure_derived(texture).images[kCrossSlot]) {
        bool horizontal = parameter_scalar(texture, kCrossOrient) >= 0.5f;
        const int* cell = horizontal ? kHorizontal[face] : kVertical[face];
        float columns = horizontal ? 4.0f : 3.0f, rows = horizontal ? 3.0f : 4.0f;
        // The back face of a vertical cross hangs upside down below the bottom.
        if (!horizontal && face == environment::BACK) u = 1.0f - u, v = 1.0f - v;
        float cu = (static_cast<float>(cell[0]) + std::clamp(u, 0.001f, 0.999f)) / columns;
        float cv = (static_cast<float>(cell[1]) + std::clamp(v, 0.001f, 0.999f)) / rows;
        if (picture(texture, kCross, kCrossSlot, cu, cv, width / columns, call, out)) return;
    }
    int row = kFaceRows[face];
    if (row < 0 || !picture(texture, row, 1 + face, u, v, width, call, out))
        texture_default_colour(texture, out);
}

bool init_cube(AR_TextureInfo& texture) {
    if (!init_procedure_parameters(texture)) return false;
    load_picture(texture, kCross, kCrossSlot);
    for (int face = 0; face < 6; ++face)
        if (kFaceRows[face] >= 0) load_picture(texture, kFaceRows[face], 1 + face);
    return true;
}

}  // namespace

const AR_TextureProcedure kCubeProcedure =
    procedure_row("Cube", kTable, calculate, TEXTURE_ENVIRONMENT, false, eval_cube, init_cube);

}  // namespace sky
