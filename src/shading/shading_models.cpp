// The four shading models' rows: their parameter names, the evaluation of
// their parameters for the frame, and their calculation routines (which
// hand over to the shared lit shading).
#include <cmath>
#include <string_view>

#include "platform/fatal.h"
#include "sdl/environment.h"
#include "shading/shader_internal.h"
#include "shading/shading_maths.h"
#include "texture/texture_procedure.h"

namespace sky::shading {
namespace {

// A model's parameter expressions by name index.
struct ShaderNode {
    Expr* values[8] = {};
};

void* allocate_node() {
    return new ShaderNode();
}

int store(void* node, std::initializer_list<std::string_view> names, const char* name,
          Expr* value) {
    int i = 0;
    for (std::string_view n : names) {
        if (n == name) {
            static_cast<ShaderNode*>(node)->values[i] = value;
            return 1;
        }
        ++i;
    }
    return 0;
}

// A colour-or-scalar parameter; absent: the slot keeps the model's initial value.
bool evaluate_slot(Expr* e, ColourSlot& slot) {
    if (e == nullptr) return true;
    if (e->type == SDL_SCALAR) {
        float s = 0.0f;
        if (!AR_evaluate(SDL_SCALAR, &s, e, nullptr)) return false;
        slot = ColourSlot{{s, s, s}, s, nullptr};
        return true;
    }
    if (e->type == SDL_TRIPLE) {
        Triple t;
        if (!AR_evaluate(SDL_TRIPLE, &t, e, nullptr)) return false;
        Triple c = scale(t, 1.0f / 255.0f);
        slot = ColourSlot{c, c.x, nullptr};
        return true;
    }
    TexturedValue value;
    if (!evaluate_textured_value(e, slot.colour, value)) return false;
    slot.texture = value.texture;
    if (value.texture == nullptr) {
        slot.colour = scale(value.colour, 1.0f / 255.0f);
        slot.scalar = slot.colour.x;
    }
    return true;
}

bool scalar(Expr* e, float default_value, float& out) {
    out = default_value;
    return e == nullptr || AR_evaluate(SDL_SCALAR, &out, e, nullptr);
}

template <typename Info>
void* allocate_info() {
    return new Info();
}
template <typename Info>
int copy_info(void* to, const void* from) {
    if (to == nullptr || from == nullptr) return 0;
    *static_cast<Info*>(to) = *static_cast<const Info*>(from);
    return 1;
}
template <typename Info>
void release_info(void* info) {
    delete static_cast<Info*>(info);
}
int no_init(void*) {
    return 1;
}

// --- blinn -------------------------------------------------------------------------

enum {
    B_SPECULAR,
    B_REFLECTION,
    B_REFLECTIVITY,
    B_ECCENTRICITY,
    B_DIFFUSE,
    B_ROLLOFF,
    B_INTENSITY,
    B_GLOSS
};

int parse_blinn(void* node, const char* name, Expr* value) {
    if (node == nullptr || name == nullptr || value == nullptr)
        fatal("Error parsing Blinn shader\n");
    return store(node,
                 {"specular", "reflection", "reflectivity", "eccentricity", "diffuse",
                  "specular_rolloff", "specular_intensity", "gloss"},
                 name, value);
}

int eval_blinn(AR_ShaderInfo&, void* node_pointer, void* info) {
    const auto& n = *static_cast<ShaderNode*>(node_pointer);
    auto& b = *static_cast<AR_BlinnShaderInfo*>(info);
    b = AR_BlinnShaderInfo{};
    if (!evaluate_slot(n.values[B_SPECULAR], b.specular) ||
        !evaluate_slot(n.values[B_REFLECTION], b.reflection) ||
        !evaluate_slot(n.values[B_REFLECTIVITY], b.reflectivity) ||
        !evaluate_slot(n.values[B_DIFFUSE], b.diffuse))
        return 0;
    if (!scalar(n.values[B_ECCENTRICITY], 0.3f, b.eccentricity)) return 0;
    if (b.eccentricity == 1.0f) return 0;  // the highlight would have no width
    b.c = 1.0f / (b.eccentricity * b.eccentricity - 1.0f);
    if (!scalar(n.values[B_ROLLOFF], 0.3f, b.specular_rolloff) ||
        !scalar(n.values[B_INTENSITY], 1.0f, b.specular_intensity) ||
        !scalar(n.values[B_GLOSS], 0.0f, b.gloss))
        return 0;
    b.specular_rolloff = clamp01(b.specular_rolloff);
    b.specular_intensity = clamp01(b.specular_intensity);
    b.gloss = clamp01(b.gloss);
    return 1;
}

void blinn(const AR_ShaderInfo& shader, const Triple&, AR_ShadePoint& point, const RenderObject*) {
    const auto& b = *static_cast<const AR_BlinnShaderInfo*>(shader.model_info);
    LitModel m{Highlight::BLINN,     &b.diffuse, &b.specular, &b.reflection, &b.reflectivity,
               b.specular_intensity, b.gloss,    0,           b.c,           b.specular_rolloff};
    shade_lit(shader, point, m);
}

// --- phong -------------------------------------------------------------------------

enum { P_SPECULAR, P_REFLECTION, P_REFLECTIVITY, P_SHINYNESS, P_DIFFUSE, P_INTENSITY, P_GLOSS };

int parse_phong(void* node, const char* name, Expr* value) {
    if (node == nullptr || name == nullptr || value == nullptr)
        fatal("Error parsing phong shader\n");
    if (!store(node,
               {"specular", "reflection", "reflectivity", "shinyness", "diffuse",
                "specular_intensity", "gloss"},
               name, value))
        fatal("Unknown parameter %s for phong shader.\n", name);
    return 1;
}

int eval_phong(AR_ShaderInfo&, void* node_pointer, void* info) {
    const auto& n = *static_cast<ShaderNode*>(node_pointer);
    auto& p = *static_cast<AR_PhongShaderInfo*>(info);
    p = AR_PhongShaderInfo{};
    if (!evaluate_slot(n.values[P_SPECULAR], p.specular) ||
        !evaluate_slot(n.values[P_REFLECTION], p.reflection) ||
        !evaluate_slot(n.values[P_REFLECTIVITY], p.reflectivity) ||
        !evaluate_slot(n.values[P_DIFFUSE], p.diffuse))
        return 0;
    float shinyness = 20.0f;
    if (!scalar(n.values[P_SHINYNESS], 20.0f, shinyness)) return 0;
    p.shinyness = truncate_to_int(shinyness);
    if (p.shinyness < 0) return 0;
    if (!scalar(n.values[P_INTENSITY], 1.0f, p.specular_intensity) ||
        !scalar(n.values[P_GLOSS], 0.0f, p.gloss))
        return 0;
    p.specular_intensity = clamp01(p.specular_intensity);
    p.gloss = clamp01(p.gloss);
    return 1;
}

void phong(const AR_ShaderInfo& shader, const Triple&, AR_ShadePoint& point, const RenderObject*) {
    const auto& p = *static_cast<const AR_PhongShaderInfo*>(shader.model_info);
    LitModel m{Highlight::PHONG,     &p.diffuse, &p.specular, &p.reflection, &p.reflectivity,
               p.specular_intensity, p.gloss,    p.shinyness, 0.0f,          0.0f};
    shade_lit(shader, point, m);
}

// --- lambert -----------------------------------------------------------------------

// Scenes written before version 3.2 gave lambert shaders a reflectivity.
bool old_scene() {
    return sdl_version() < 3.2f;
}

int parse_lambert(void* node, const char* name, Expr* value) {
    if (node == nullptr || name == nullptr || value == nullptr)
        fatal("Error parsing lambert shader\n");
    if (store(node, {"diffuse"}, name, value)) return 1;
    if (old_scene() && std::string_view(name) == "reflectivity") return 1;
    fatal("Unknown parameter %s for lambert shader.\n", name);
}

int eval_lambert(AR_ShaderInfo&, void* node_pointer, void* info) {
    auto& l = *static_cast<AR_LambertShaderInfo*>(info);
    l = AR_LambertShaderInfo{};
    return evaluate_slot(static_cast<ShaderNode*>(node_pointer)->values[0], l.diffuse) ? 1 : 0;
}

void lambert(const AR_ShaderInfo& shader, const Triple&, AR_ShadePoint& point,
             const RenderObject*) {
    const auto& l = *static_cast<const AR_LambertShaderInfo*>(shader.model_info);
    LitModel m;
    m.diffuse = &l.diffuse;
    shade_lit(shader, point, m);
}

// --- lightsource ---------------------------------------------------------------------

int parse_lightsource(void* node, const char* name, Expr* value) {
    if (node == nullptr || name == nullptr || value == nullptr)
        fatal("Error parsing Lightsource shader\n");
    std::string_view n = name;
    if (old_scene() && (n == "diffuse" || n == "reflectivity")) return 1;  // accepted, ignored
    fatal("Unknown parameter %s for Lightsource shader.\n", name);
}

int eval_lightsource(AR_ShaderInfo&, void*, void*) {
    return 1;
}

void lightsource(const AR_ShaderInfo& shader, const Triple&, AR_ShadePoint& point,
                 const RenderObject*) {
    shade_unlit(shader, point);
}

}  // namespace

const AR_ShaderModel kBlinnModel = {"blinn",
                                    blinn,
                                    allocate_node,
                                    allocate_info<AR_BlinnShaderInfo>,
                                    parse_blinn,
                                    eval_blinn,
                                    no_init,
                                    copy_info<AR_BlinnShaderInfo>,
                                    release_info<AR_BlinnShaderInfo>};
const AR_ShaderModel kLightsourceModel = {"lightsource",
                                          lightsource,
                                          allocate_node,
                                          allocate_info<AR_LightsourceShaderInfo>,
                                          parse_lightsource,
                                          eval_lightsource,
                                          no_init,
                                          copy_info<AR_LightsourceShaderInfo>,
                                          release_info<AR_LightsourceShaderInfo>};
const AR_ShaderModel kLambertModel = {"lambert",
                                      lambert,
                                      allocate_node,
                                      allocate_info<AR_LambertShaderInfo>,
                                      parse_lambert,
                                      eval_lambert,
                                      no_init,
                                      copy_info<AR_LambertShaderInfo>,
                                      release_info<AR_LambertShaderInfo>};
const AR_ShaderModel kPhongModel = {"phong",
                                    phong,
                                    allocate_node,
                                    allocate_info<AR_PhongShaderInfo>,
                                    parse_phong,
                                    eval_phong,
                                    no_init,
                                    copy_info<AR_PhongShaderInfo>,
                                    release_info<AR_PhongShaderInfo>};

}  // namespace sky::shading
