// The four shading models' rows: their parameter tables, the evaluation of
// their parameters for the frame, and their calculation routines (which
// hand over to the shared lit shading).
#include <cmath>

#include "base/vecmath.h"
#include "platform/fatal.h"
#include "shading/shader_internal.h"
#include "texture/texture_procedure.h"

namespace sky::shading {
namespace {

using enum ParameterType;

// A model's parameter expressions, by the row of the model's table.
constexpr int kMaxModelParameters = 8;
struct ShaderNode {
    Expr* values[kMaxModelParameters] = {};
};

void* allocate_node() {
    return new ShaderNode();
}

// A colour-or-scalar parameter: a number is a grey as it stands, a triple is
// a colour written in 0..255, a texture keeps the colour it was given.
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

ColourSlot& slot_at(const Parameter& row, void* info) {
    return *reinterpret_cast<ColourSlot*>(static_cast<char*>(info) + row.store.offset);
}

ColourSlot default_slot(const Parameter& row) {
    return ColourSlot{row.value, row.value.x, nullptr};
}

// The colour-or-scalar slots; the numbers are the table's own.
bool evaluate_model_value(const Parameter& row, Expr* e, void* info) {
    if (row.type != SLOT) return false;
    ColourSlot& slot = slot_at(row, info);
    slot = default_slot(row);
    return evaluate_slot(e, slot);
}

// Every parameter of the model at its default, as a new info starts.
void store_model_defaults(const ParameterTable& table, void* info) {
    for (const Parameter& row : table.rows) {
        if (row.type == SLOT)
            slot_at(row, info) = default_slot(row);
        else
            store_default(row, row.store, info);
    }
}

bool evaluate_model(const ParameterTable& table, void* node, void* info) {
    static_assert(sizeof(ShaderNode::values) / sizeof(Expr*) == kMaxModelParameters);
    return evaluate_parameters(table.rows, static_cast<ShaderNode*>(node)->values, info,
                               evaluate_model_value);
}

template <typename Info, const ParameterTable& table>
void* allocate_info() {
    auto* info = new Info();
    store_model_defaults(table, info);
    return info;
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

// The diffuse, specular and reflection slots of the lit models.
constexpr const char* kDiffuse = "How much of the light the surface scatters, 0..1.";
constexpr const char* kSpecular = "The highlight's colour, and the tint of reflections.";
constexpr const char* kReflection = "An environment texture reflected in the surface.";
constexpr const char* kReflectivity = "How strongly reflections show, at most 1.";
constexpr const char* kSpecularIntensity = "The strength of the highlight.";
constexpr const char* kGloss =
    "The highlight's mix between the surface colour (0) and the specular colour (1).";

// --- blinn -------------------------------------------------------------------------

// In the order they are evaluated.
constexpr Parameter kBlinnRows[] = {
    {.name = "specular",
     .type = SLOT,
     .value = grey(0.5f),
     .store = SKY_FIELD(AR_BlinnShaderInfo, specular),
     .description = kSpecular},
    {.name = "reflection",
     .type = SLOT,
     .store = SKY_FIELD(AR_BlinnShaderInfo, reflection),
     .description = kReflection},
    {.name = "reflectivity",
     .type = SLOT,
     .value = grey(0.5f),
     .store = SKY_FIELD(AR_BlinnShaderInfo, reflectivity),
     .description = kReflectivity},
    {.name = "diffuse",
     .type = SLOT,
     .value = grey(0.8f),
     .store = SKY_FIELD(AR_BlinnShaderInfo, diffuse),
     .description = kDiffuse},
    {.name = "eccentricity",
     .value = {0.3f},
     .store = SKY_FIELD(AR_BlinnShaderInfo, eccentricity),
     .description = "The highlight's spread; 1 fails the evaluation (the highlight would have "
                    "no width)."},
    {.name = "specular_rolloff",
     .value = {0.3f},
     .below = at_least(0),
     .above = at_most(1),
     .store = SKY_FIELD(AR_BlinnShaderInfo, specular_rolloff),
     .description = "How much the highlight brightens at grazing angles (Fresnel term)."},
    {.name = "specular_intensity",
     .value = {1.0f},
     .below = at_least(0),
     .above = at_most(1),
     .store = SKY_FIELD(AR_BlinnShaderInfo, specular_intensity),
     .description = kSpecularIntensity},
    {.name = "gloss",
     .value = {0.0f},
     .below = at_least(0),
     .above = at_most(1),
     .store = SKY_FIELD(AR_BlinnShaderInfo, gloss),
     .description = kGloss},
};
static_assert(rows_are_consistent(kBlinnRows) && std::size(kBlinnRows) <= kMaxModelParameters);
// An unknown name fails the parse routine, and the shader reports it.
constexpr ParameterTable kBlinnTable{kBlinnRows, nullptr, UnknownName::QUIET};

// Blinn's constant of the highlight's distribution.
void derive_blinn(AR_BlinnShaderInfo& b) {
    b.c = 1.0f / (b.eccentricity * b.eccentricity - 1.0f);
}

void* allocate_blinn() {
    auto* b = static_cast<AR_BlinnShaderInfo*>(allocate_info<AR_BlinnShaderInfo, kBlinnTable>());
    derive_blinn(*b);
    return b;
}

int parse_blinn(void* node, const char* name, Expr* value) {
    if (node == nullptr || name == nullptr || value == nullptr)
        fatal("Error parsing Blinn shader\n");
    return parse_parameter(kBlinnTable, static_cast<ShaderNode*>(node)->values, name, value) ? 1
                                                                                             : 0;
}

int eval_blinn(AR_ShaderInfo&, void* node, void* info) {
    auto& b = *static_cast<AR_BlinnShaderInfo*>(info);
    if (!evaluate_model(kBlinnTable, node, info)) return 0;
    if (b.eccentricity == 1.0f) return 0;  // the highlight would have no width
    derive_blinn(b);
    return 1;
}

void blinn(const AR_ShaderInfo& shader, const Triple&, AR_ShadePoint& point, const RenderObject*) {
    const auto& b = *static_cast<const AR_BlinnShaderInfo*>(shader.model_info);
    LitModel m{Highlight::BLINN,     &b.diffuse, &b.specular, &b.reflection, &b.reflectivity,
               b.specular_intensity, b.gloss,    0,           b.c,           b.specular_rolloff};
    shade_lit(shader, point, m);
}

// --- phong -------------------------------------------------------------------------

// In the order they are evaluated.
constexpr Parameter kPhongRows[] = {
    {.name = "specular",
     .type = SLOT,
     .value = grey(0.5f),
     .store = SKY_FIELD(AR_PhongShaderInfo, specular),
     .description = kSpecular},
    {.name = "reflection",
     .type = SLOT,
     .store = SKY_FIELD(AR_PhongShaderInfo, reflection),
     .description = kReflection},
    {.name = "reflectivity",
     .type = SLOT,
     .value = grey(0.5f),
     .store = SKY_FIELD(AR_PhongShaderInfo, reflectivity),
     .description = kReflectivity},
    {.name = "diffuse",
     .type = SLOT,
     .value = grey(0.8f),
     .store = SKY_FIELD(AR_PhongShaderInfo, diffuse),
     .description = kDiffuse},
    {.name = "shinyness",
     .type = INTEGER,
     .value = {20.0f},
     .below = fails(0),
     .store = SKY_FIELD(AR_PhongShaderInfo, shinyness),
     .description = "The highlight's exponent: larger is smaller and sharper."},
    {.name = "specular_intensity",
     .value = {1.0f},
     .below = at_least(0),
     .above = at_most(1),
     .store = SKY_FIELD(AR_PhongShaderInfo, specular_intensity),
     .description = kSpecularIntensity},
    {.name = "gloss",
     .value = {0.0f},
     .below = at_least(0),
     .above = at_most(1),
     .store = SKY_FIELD(AR_PhongShaderInfo, gloss),
     .description = kGloss},
};
static_assert(rows_are_consistent(kPhongRows) && std::size(kPhongRows) <= kMaxModelParameters);
constexpr ParameterTable kPhongTable{kPhongRows, "Unknown parameter %s for phong shader.\n",
                                     UnknownName::FATAL};

int parse_phong(void* node, const char* name, Expr* value) {
    if (node == nullptr || name == nullptr || value == nullptr)
        fatal("Error parsing phong shader\n");
    return parse_parameter(kPhongTable, static_cast<ShaderNode*>(node)->values, name, value) ? 1
                                                                                             : 0;
}

int eval_phong(AR_ShaderInfo&, void* node, void* info) {
    return evaluate_model(kPhongTable, node, info) ? 1 : 0;
}

void phong(const AR_ShaderInfo& shader, const Triple&, AR_ShadePoint& point, const RenderObject*) {
    const auto& p = *static_cast<const AR_PhongShaderInfo*>(shader.model_info);
    LitModel m{Highlight::PHONG,     &p.diffuse, &p.specular, &p.reflection, &p.reflectivity,
               p.specular_intensity, p.gloss,    p.shinyness, 0.0f,          0.0f};
    shade_lit(shader, point, m);
}

// --- lambert -----------------------------------------------------------------------

constexpr Parameter kLambertRows[] = {
    {.name = "diffuse",
     .type = SLOT,
     .value = grey(0.8f),
     .store = SKY_FIELD(AR_LambertShaderInfo, diffuse),
     .description = kDiffuse},
    {.name = "reflectivity",
     .type = IGNORED,
     .before_version = 3.2f,
     .description = "Written by scenes of old versions; no effect."},
};
static_assert(rows_are_consistent(kLambertRows) && std::size(kLambertRows) <= kMaxModelParameters);
constexpr ParameterTable kLambertTable{kLambertRows, "Unknown parameter %s for lambert shader.\n",
                                       UnknownName::FATAL};

int parse_lambert(void* node, const char* name, Expr* value) {
    if (node == nullptr || name == nullptr || value == nullptr)
        fatal("Error parsing lambert shader\n");
    return parse_parameter(kLambertTable, static_cast<ShaderNode*>(node)->values, name, value) ? 1
                                                                                               : 0;
}

int eval_lambert(AR_ShaderInfo&, void* node, void* info) {
    return evaluate_model(kLambertTable, node, info) ? 1 : 0;
}

void lambert(const AR_ShaderInfo& shader, const Triple&, AR_ShadePoint& point,
             const RenderObject*) {
    const auto& l = *static_cast<const AR_LambertShaderInfo*>(shader.model_info);
    LitModel m;
    m.diffuse = &l.diffuse;
    shade_lit(shader, point, m);
}

// --- lightsource ---------------------------------------------------------------------

constexpr Parameter kLightsourceRows[] = {
    {.name = "diffuse",
     .type = IGNORED,
     .before_version = 3.2f,
     .description = "Written by scenes of old versions; no effect."},
    {.name = "reflectivity",
     .type = IGNORED,
     .before_version = 3.2f,
     .description = "Written by scenes of old versions; no effect."},
};
static_assert(rows_are_consistent(kLightsourceRows));
constexpr ParameterTable kLightsourceTable{
    kLightsourceRows, "Unknown parameter %s for Lightsource shader.\n", UnknownName::FATAL};

int parse_lightsource(void* node, const char* name, Expr* value) {
    if (node == nullptr || name == nullptr || value == nullptr)
        fatal("Error parsing Lightsource shader\n");
    return parse_parameter(kLightsourceTable, static_cast<ShaderNode*>(node)->values, name, value)
               ? 1
               : 0;
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
                                    allocate_blinn,
                                    parse_blinn,
                                    eval_blinn,
                                    no_init,
                                    copy_info<AR_BlinnShaderInfo>,
                                    release_info<AR_BlinnShaderInfo>,
                                    &kBlinnTable};
const AR_ShaderModel kLightsourceModel = {
    "lightsource",
    lightsource,
    allocate_node,
    allocate_info<AR_LightsourceShaderInfo, kLightsourceTable>,
    parse_lightsource,
    eval_lightsource,
    no_init,
    copy_info<AR_LightsourceShaderInfo>,
    release_info<AR_LightsourceShaderInfo>,
    &kLightsourceTable};
const AR_ShaderModel kLambertModel = {"lambert",
                                      lambert,
                                      allocate_node,
                                      allocate_info<AR_LambertShaderInfo, kLambertTable>,
                                      parse_lambert,
                                      eval_lambert,
                                      no_init,
                                      copy_info<AR_LambertShaderInfo>,
                                      release_info<AR_LambertShaderInfo>,
                                      &kLambertTable};
const AR_ShaderModel kPhongModel = {"phong",
                                    phong,
                                    allocate_node,
                                    allocate_info<AR_PhongShaderInfo, kPhongTable>,
                                    parse_phong,
                                    eval_phong,
                                    no_init,
                                    copy_info<AR_PhongShaderInfo>,
                                    release_info<AR_PhongShaderInfo>,
                                    &kPhongTable};

}  // namespace sky::shading
