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

// The parse routine of a model whose parameters are `table`: the parameter
// into its row's place, or the table's unknown-name rule. A call without a
// node, name or value ends the run with the table's missing_node message.
template <const ParameterTable& table>
int parse_model(void* node, const char* name, Expr* value) {
    if (node == nullptr || name == nullptr || value == nullptr) fatal("%s", table.missing_node);
    return parse_parameter(table, static_cast<ShaderNode*>(node)->values, name, value) ? 1 : 0;
}

// A model's row: its calculation and eval routines (and its own info
// allocation where it derives a constant from its parameters), with the
// shared routines for an info of type `Info` whose parameters are `table`.
template <typename Info, const ParameterTable& table>
constexpr AR_ShaderModel model_row(
    const char* name, decltype(AR_ShaderModel::calculation) calculation,
    decltype(AR_ShaderModel::eval) eval,
    decltype(AR_ShaderModel::alloc_info) alloc_info = allocate_info<Info, table>) {
    return AR_ShaderModel{.name = name,
                          .calculation = calculation,
                          .alloc_node = allocate_node,
                          .alloc_info = alloc_info,
                          .parse = parse_model<table>,
                          .eval = eval,
                          .init = no_init,
                          .copy = copy_info<Info>,
                          .release = release_info<Info>,
                          .parameters = &table};
}

constexpr const char* kDiffuse = "How much of the light the surface scatters, 0..1.";

// The rows the lit models (Blinn, Phong) share, in their order: their
// colour-or-scalar slots first, the highlight's strength and gloss last.
template <typename Info>
constexpr Parameter kLitSlots[] = {
    {.name = "specular",
     .type = SLOT,
     .value = grey(0.5f),
     .store = SKY_FIELD(Info, specular),
     .description = "The highlight's colour, and the tint of reflections."},
    {.name = "reflection",
     .type = SLOT,
     .store = SKY_FIELD(Info, reflection),
     .description = "An environment texture reflected in the surface."},
    {.name = "reflectivity",
     .type = SLOT,
     .value = grey(0.5f),
     .store = SKY_FIELD(Info, reflectivity),
     .description = "How strongly reflections show, at most 1."},
    {.name = "diffuse",
     .type = SLOT,
     .value = grey(0.8f),
     .store = SKY_FIELD(Info, diffuse),
     .description = kDiffuse},
};
template <typename Info>
constexpr Parameter kHighlightStrength[] = {
    {.name = "specular_intensity",
     .value = {1.0f},
     .below = at_least(0),
     .above = at_most(1),
     .store = SKY_FIELD(Info, specular_intensity),
     .description = "The strength of the highlight."},
    {.name = "gloss",
     .value = {0.0f},
     .below = at_least(0),
     .above = at_most(1),
     .store = SKY_FIELD(Info, gloss),
     .description =
         "The highlight's mix between the surface colour (0) and the specular colour (1)."},
};

// --- blinn -------------------------------------------------------------------------

// In the order they are evaluated.
constexpr auto kBlinnRows = join_rows(
    kLitSlots<AR_BlinnShaderInfo>,
    {{.name = "eccentricity",
      .value = {0.3f},
      .store = SKY_FIELD(AR_BlinnShaderInfo, eccentricity),
      .description = "The highlight's spread; 1 fails the evaluation (the highlight would have "
                     "no width)."},
     {.name = "specular_rolloff",
      .value = {0.3f},
      .below = at_least(0),
      .above = at_most(1),
      .store = SKY_FIELD(AR_BlinnShaderInfo, specular_rolloff),
      .description = "How much the highlight brightens at grazing angles (Fresnel term)."}},
    kHighlightStrength<AR_BlinnShaderInfo>);
static_assert(rows_are_consistent(kBlinnRows) && std::size(kBlinnRows) <= kMaxModelParameters);
// An unknown name fails the parse routine, and the shader reports it.
constexpr ParameterTable kBlinnTable{kBlinnRows, nullptr, UnknownName::QUIET,
                                     "Error parsing Blinn shader\n"};

// Blinn's constant of the highlight's distribution.
void derive_blinn(AR_BlinnShaderInfo& b) {
    b.c = 1.0f / (b.eccentricity * b.eccentricity - 1.0f);
}

void* allocate_blinn() {
    auto* b = static_cast<AR_BlinnShaderInfo*>(allocate_info<AR_BlinnShaderInfo, kBlinnTable>());
    derive_blinn(*b);
    return b;
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
    shade_lit<Highlight::BLINN>(shader, point, m);
}

// --- phong -------------------------------------------------------------------------

// In the order they are evaluated.
constexpr auto kPhongRows =
    join_rows(kLitSlots<AR_PhongShaderInfo>,
              {{.name = "shinyness",
                .type = INTEGER,
                .value = {20.0f},
                .below = fails(0),
                .store = SKY_FIELD(AR_PhongShaderInfo, shinyness),
                .description = "The highlight's exponent: larger is smaller and sharper."}},
              kHighlightStrength<AR_PhongShaderInfo>);
static_assert(rows_are_consistent(kPhongRows) && std::size(kPhongRows) <= kMaxModelParameters);
constexpr ParameterTable kPhongTable{kPhongRows, "Unknown parameter %s for phong shader.\n",
                                     UnknownName::FATAL, "Error parsing phong shader\n"};

int eval_phong(AR_ShaderInfo&, void* node, void* info) {
    return evaluate_model(kPhongTable, node, info) ? 1 : 0;
}

void phong(const AR_ShaderInfo& shader, const Triple&, AR_ShadePoint& point, const RenderObject*) {
    const auto& p = *static_cast<const AR_PhongShaderInfo*>(shader.model_info);
    LitModel m{Highlight::PHONG,     &p.diffuse, &p.specular, &p.reflection, &p.reflectivity,
               p.specular_intensity, p.gloss,    p.shinyness, 0.0f,          0.0f};
    shade_lit<Highlight::PHONG>(shader, point, m);
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
                                       UnknownName::FATAL, "Error parsing lambert shader\n"};

int eval_lambert(AR_ShaderInfo&, void* node, void* info) {
    return evaluate_model(kLambertTable, node, info) ? 1 : 0;
}

void lambert(const AR_ShaderInfo& shader, const Triple&, AR_ShadePoint& point,
             const RenderObject*) {
    const auto& l = *static_cast<const AR_LambertShaderInfo*>(shader.model_info);
    LitModel m;
    m.diffuse = &l.diffuse;
    shade_lit<Highlight::NONE>(shader, point, m);
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
    kLightsourceRows, "Unknown parameter %s for Lightsource shader.\n", UnknownName::FATAL,
    "Error parsing Lightsource shader\n"};

int eval_lightsource(AR_ShaderInfo&, void*, void*) {
    return 1;
}

void lightsource(const AR_ShaderInfo& shader, const Triple&, AR_ShadePoint& point,
                 const RenderObject*) {
    shade_unlit(shader, point);
}

}  // namespace

const AR_ShaderModel kBlinnModel =
    model_row<AR_BlinnShaderInfo, kBlinnTable>("blinn", blinn, eval_blinn, allocate_blinn);
const AR_ShaderModel kLightsourceModel = model_row<AR_LightsourceShaderInfo, kLightsourceTable>(
    "lightsource", lightsource, eval_lightsource);
const AR_ShaderModel kLambertModel =
    model_row<AR_LambertShaderInfo, kLambertTable>("lambert", lambert, eval_lambert);
const AR_ShaderModel kPhongModel =
    model_row<AR_PhongShaderInfo, kPhongTable>("phong", phong, eval_phong);

}  // namespace sky::shading
