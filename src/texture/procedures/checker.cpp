// Checker: two colours in alternating squares, two by two over the texture's
// frame. Wide filters fade the contrast toward the mean of the colours, so
// the pattern does not alias where checks shrink below a sample.
#include <cmath>

#include "platform/fatal.h"
#include "platform/report.h"
#include "sdl/pool.h"
#include "texture/procedures/procedure_parameters.h"
#include "texture/texture_procedure.h"

namespace sky {
namespace {

using enum ParameterType;

struct CheckerInfo {
    float contrast = 0.0f;
    TexturedValue color1;  // 0..255
    TexturedValue color2;
};

constexpr Parameter kRows[] = {
    {.name = "contrast",
     .value = {1.0f},
     .store = SKY_FIELD(CheckerInfo, contrast),
     .description = "How far the checks stand apart from the mean of the two colours."},
    {.name = "color1",
     .also = "colour1",
     .type = VALUE,
     .store = SKY_FIELD(CheckerInfo, color1),
     .description = "Colour of the check at the origin and of every other one."},
    {.name = "color2",
     .also = "colour2",
     .type = VALUE,
     .value = grey(255.0f),
     .store = SKY_FIELD(CheckerInfo, color2),
     .description = "Colour of the other checks."},
};
static_assert(rows_are_consistent(kRows));
constexpr ParameterTable kTable{kRows, "ERROR: Unknown parameter in Checker: %s\n",
                                UnknownName::REPORT, "NIL CheckerRGBNode found\n"};

struct CheckerNode {
    Expr* expressions[std::size(kRows)] = {};
};

void* alloc_node(const AR_TextureInfo&) {
    return sdl_pool().make<CheckerNode>();
}
void* alloc_info(const AR_TextureInfo&) {
    return sdl_pool().make<CheckerInfo>();
}

bool parse(AR_TextureInfo&, void* node, const char* name, Expr* value) {
    if (node == nullptr) fatal("%s", kTable.missing_node);
    return parse_parameter(kTable, static_cast<CheckerNode*>(node)->expressions, name, value);
}

bool eval(AR_TextureInfo& texture) {
    if (texture.procedure_info == nullptr || texture.node == nullptr ||
        texture.node->procedure_node == nullptr) {
        rptError("Internal System Error at %d in %s, Call Support\n", __LINE__, __FILE__);
        return false;
    }
    const auto& node = *static_cast<const CheckerNode*>(texture.node->procedure_node);
    if (!evaluate_parameters(kRows, node.expressions, texture.procedure_info,
                             evaluate_texture_parameter))
        fatal("Error in eval\n");
    return true;
}

bool init(AR_TextureInfo& texture) {
    auto& info = *static_cast<CheckerInfo*>(texture.procedure_info);
    if (info.color1.texture) Ar_init_texture(*info.color1.texture);
    if (info.color2.texture) Ar_init_texture(*info.color2.texture);
    return true;
}

bool copy(AR_TextureInfo& to, const AR_TextureInfo& from) {
    *static_cast<CheckerInfo*>(to.procedure_info) =
        *static_cast<const CheckerInfo*>(from.procedure_info);
    return true;
}

void release(AR_TextureInfo&) {}

// Distance from x (in 0..1 of a half-period) to the nearest check edge.
float edge_distance(float x) {
    float d = 2.0f * x - std::floor(2.0f * x);
    return d > 0.5f ? 1.0f - d : d;
}

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    const auto& info = *static_cast<const CheckerInfo*>(texture.procedure_info);
    float fu = call.u - std::floor(call.u);
    float fv = call.v - std::floor(call.v);
    float w = 2.0f * (texture.frame.blurmult * call.filter + texture.frame.bluroffset);
    if (w < 1e-8f) w = 1e-8f;

    float a = 0.5f, b = 0.5f;
    if (w < 2.0f) {
        float c = info.contrast;
        float du = edge_distance(fu);
        float dv = edge_distance(fv);
        if (w > du || w > dv) c = c * std::fmin(du, dv) / w;
        if (w > 1.0f) c = c * (2.0f - w);
        if (c > 0.0f) {
            a = (c + 1.0f) / 2.0f;
            b = 1.0f - a;
        }
    }
    bool same = (fu <= 0.5f && fv <= 0.5f) || (fu > 0.5f && fv > 0.5f);
    if (!same) std::swap(a, b);
    Triple c1 = value_colour(info.color1, call);
    Triple c2 = value_colour(info.color2, call);
    out.r = a * c1.x + b * c2.x;
    out.g = a * c1.y + b * c2.y;
    out.b = a * c1.z + b * c2.z;
    out.alpha = (0.3f * out.r + 0.59f * out.g + 0.11f * out.b) / 255.0f;
}

}  // namespace

const AR_TextureProcedure kCheckerProcedure{
    "Checker", calculate, alloc_node, alloc_info,      parse, eval,
    init,      copy,      release,    TEXTURE_SURFACE, false, &kTable};

}  // namespace sky
