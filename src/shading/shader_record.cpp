// The shader record: creation for a model name, the parameters the parser
// hands over, and the evaluation and initialisation for a frame time.
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

#include "base/counters.h"
#include "platform/fatal.h"
#include "scene/scene_clock.h"
#include "sdl/body.h"
#include "shading/particle_parameters.h"
#include "shading/shader.h"
#include "shading/shader_internal.h"
#include "shading/shading_maths.h"
#include "shading/unbuilt_features.h"

namespace sky {
namespace {

enum ParameterKind { INTEGER, FLAG, FLOAT, TEXTURED, COLOUR };

struct CommonParameter {
    const char* name;
    int slot;
    ParameterKind kind;
    float default_value;
};

// Every common name, synonyms included, with its slot's evaluation.
constexpr CommonParameter kCommon[] = {
    {"refractive_index", SHADER_REFRACTIVE_INDEX, FLOAT, 10.0f},
    {"color", SHADER_COLOR, TEXTURED, 0},
    {"colour", SHADER_COLOR, TEXTURED, 0},
    {"incandescence", SHADER_INCANDESCENCE, TEXTURED, 0},
    {"transparency", SHADER_TRANSPARENCY, TEXTURED, 0},
    {"bump", SHADER_BUMP, TEXTURED, 0},
    {"displacement", SHADER_DISPLACEMENT, TEXTURED, 0},
    {"shading_map", SHADER_SHADING_MAP, TEXTURED, 0},
    {"opacity_depth", SHADER_OPACITY_DEPTH, FLOAT, 0},
    {"transparency_shade", SHADER_TRANSPARENCY_SHADE, FLOAT, 0},
    {"respect_reflection_map", SHADER_RESPECT_REFLECTION_MAP, FLAG, 0},
    {"reflection_limit", SHADER_REFLECTION_LIMIT, INTEGER, 1},
    {"refraction_limit", SHADER_REFRACTION_LIMIT, INTEGER, 1},
    {"shadow_level_limit", SHADER_SHADOW_LEVEL_LIMIT, INTEGER, 0},
    {"reflect_background", SHADER_REFLECT_BACKGROUND, FLAG, 0},
    {"use_background_color", SHADER_USE_BACKGROUND_COLOR, FLAG, 0},
    {"glow_intensity", SHADER_GLOW_INTENSITY, FLOAT, 0},
    {"hide_glow_source", SHADER_HIDE_GLOW_SOURCE, FLAG, 0},
    {"transparency_depth", SHADER_TRANSPARENCY_DEPTH, FLOAT, 0},
    {"surface_width", SHADER_SURFACE_WIDTH, FLOAT, 0},
    {"reflection_depth", SHADER_REFLECTION_DEPTH, FLOAT, 0},
    {"refraction_jitter", SHADER_REFRACTION_JITTER, FLOAT, 0},
    {"refraction_samples", SHADER_REFRACTION_SAMPLES, INTEGER, 1},
    {"translucence", SHADER_TRANSLUCENCE, FLOAT, 0},
    {"translucence_depth", SHADER_TRANSLUCENCE_DEPTH, FLOAT, 0.5f},
    {"chromatic_abberation", SHADER_CHROMATIC_ABBERATION, FLOAT, 0},
    {"hl_to_fill_color", SHADER_HL_TO_FILL_COLOR, FLAG, 0},
    {"use_fill_color", SHADER_HL_TO_FILL_COLOR, FLAG, 0},
    {"hl_fill_color", SHADER_HL_FILL_COLOR, COLOUR, 0},
    {"fill_color", SHADER_HL_FILL_COLOR, COLOUR, 0},
    {"fill_colour", SHADER_HL_FILL_COLOR, COLOUR, 0},
    {"hl_line_width", SHADER_HL_LINE_WIDTH, INTEGER, 0},
    {"line_thickness", SHADER_HL_LINE_WIDTH, INTEGER, 0},
    {"hl_isoparam_u", SHADER_HL_ISOPARAM_U, INTEGER, 0},
    {"u_patch_lines", SHADER_HL_ISOPARAM_U, INTEGER, 0},
    {"hl_isoparam_v", SHADER_HL_ISOPARAM_V, INTEGER, 0},
    {"v_patch_lines", SHADER_HL_ISOPARAM_V, INTEGER, 0},
    {"matte_fraction", SHADER_MATTE_FRACTION, FLOAT, 0},
    {"density", SHADER_DENSITY, FLOAT, 1},
    {"elasticity", SHADER_ELASTICITY, FLOAT, 1},
    {"friction", SHADER_FRICTION, FLOAT, 1},
    {"drag_coeff", SHADER_DRAG_COEFF, FLOAT, 1},
    {"use_clearcoat", SHADER_USE_CLEARCOAT, FLAG, 0},
    {"clearcoat_index", SHADER_CLEARCOAT_INDEX, FLOAT, 1},
    {"clearcoat_scale", SHADER_CLEARCOAT_SCALE, FLOAT, 1},
    {"clearcoat_bias", SHADER_CLEARCOAT_BIAS, FLOAT, 0},
    {"aoConcentration", SHADER_AO_CONCENTRATION, FLOAT, 0},
    {"aoContrast", SHADER_AO_CONTRAST, FLOAT, 1},
};

int common_slot(std::string_view name) {
    for (const CommonParameter& p : kCommon)
        if (name == p.name) return p.slot;
    for (const ParticleParameterName& p : kParticleParameters)
        if (name == p.name) return SHADER_PSYS_FIRST + p.index;
    return -1;
}

const CommonParameter* row_of_slot(int slot) {
    for (const CommonParameter& p : kCommon)
        if (p.slot == slot) return &p;
    return nullptr;
}

// The default surface colour: a mid grey that shows the lighting.
constexpr Triple kDefaultColour{150.0f, 150.0f, 150.0f};

TexturedColour* textured_slot(AR_ShaderInfo& info, int slot) {
    switch (slot) {
        case SHADER_COLOR:
            return &info.color;
        case SHADER_INCANDESCENCE:
            return &info.incandescence;
        case SHADER_TRANSPARENCY:
            return &info.transparency;
        case SHADER_BUMP:
            return &info.bump;
        case SHADER_DISPLACEMENT:
            return &info.displacement;
        default:
            return &info.shading_map;
    }
}

[[noreturn]] void cannot_evaluate(const RR_Shader& shader, const char* parameter) {
    fatal("Cannot evaluate %s of shader %s (line %d)\n", parameter, shader.name ? shader.name : "",
          shader.line);
}

// The range checks of the common parameters; corrections print nothing.
void correct(float* p) {
    if (p[SHADER_REFRACTIVE_INDEX] < 0.001f) p[SHADER_REFRACTIVE_INDEX] = 0.001f;
    p[SHADER_TRANSPARENCY_SHADE] = shading::clamp01(p[SHADER_TRANSPARENCY_SHADE]);
    if (p[SHADER_REFLECTION_LIMIT] < 0.0f) p[SHADER_REFLECTION_LIMIT] = 0.0f;
    if (p[SHADER_REFRACTION_LIMIT] < 0.0f) p[SHADER_REFRACTION_LIMIT] = 0.0f;
    if (p[SHADER_SHADOW_LEVEL_LIMIT] < -1.0f) p[SHADER_SHADOW_LEVEL_LIMIT] = -1.0f;
    if (p[SHADER_GLOW_INTENSITY] < 0.0f) p[SHADER_GLOW_INTENSITY] = 0.0f;
    if (p[SHADER_CLEARCOAT_INDEX] < 0.1f) p[SHADER_CLEARCOAT_INDEX] = 0.1f;
}

float glow_frame = -1e30f;

void init_texture(const TexturedColour& slot) {
    if (slot.texture) Ar_init_texture(*slot.texture);
}

}  // namespace

std::span<const AR_ShaderModel> shader_models() {
    static const AR_ShaderModel rows[] = {shading::kBlinnModel, shading::kLightsourceModel,
                                          shading::kLambertModel, shading::kPhongModel};
    return rows;
}

const AR_ShaderModel* find_shader_model(const char* name) {
    if (name == nullptr) return nullptr;
    for (const AR_ShaderModel& row : shader_models())
        if (std::strcmp(row.name, name) == 0) return &row;
    return nullptr;
}

void check_shader_model(const AR_ShaderModel& m) {
    if (m.calculation == nullptr) fatal("Unspecified %s shader calculation routine\n", m.name);
    if (m.alloc_node == nullptr) fatal("Unspecified %s shader alloc_node routine\n", m.name);
    if (m.alloc_info == nullptr) fatal("Unspecified %s shader alloc_info routine\n", m.name);
    if (m.parse == nullptr) fatal("Unspecified %s shader parse routine\n", m.name);
    if (m.eval == nullptr) fatal("Unspecified %s shader eval routine\n", m.name);
    if (m.copy == nullptr) fatal("Unspecified %s shader copy routine\n", m.name);
    if (m.init == nullptr) fatal("Unspecified %s shader init routine\n", m.name);
}

// Every shader the scene made, for the whole run: the scene's records refer
// to them from memory that is released wholesale, so the run keeps them here.
namespace {
std::vector<RR_Shader*>& every_shader() {
    static auto* records = new std::vector<RR_Shader*>();
    return *records;
}
}  // namespace

RR_Shader* Rr_create_shader(const char* model_name, std::int32_t line) {
    const AR_ShaderModel* model = find_shader_model(model_name);
    if (model == nullptr) fatal("Unknown shader model %s\n", model_name ? model_name : "");
    check_shader_model(*model);
    auto* shader = new RR_Shader();
    every_shader().push_back(shader);
    shader->info = new AR_ShaderInfo();
    shader->model = model;
    shader->line = line;
    shader->info->shader = shader;
    shader->info->model = model;
    shader->model_node = model->alloc_node();
    if (shader->model_node == nullptr)
        fatal("Unable to allocate memory for %s shader.\n", model->name);
    shader->info->model_info = model->alloc_info();
    if (shader->info->model_info == nullptr)
        fatal("could not allocate user_shader_info for %s\n", model->name);
    return shader;
}

void Rr_parse_shader(RR_Shader* shader, const char* name, Expr* value) {
    SKY_CHECK(shader != nullptr && name != nullptr && value != nullptr);
    int slot = common_slot(name);
    if (slot >= 0) {
        shader->params[slot] = value;
        return;
    }
    if (shader->model_node == nullptr) {
        shader->model_node = shader->model->alloc_node();
        if (shader->model_node == nullptr)
            fatal("Unable to allocate memory for %s shader.\n", shader->model->name);
    }
    if (shader->model->parse(shader->model_node, name, value) == 0)
        fatal("Error in %s shader parse routine\n", shader->model->name);
}

int Rr_evaluate_shader(RR_Shader& shader) {
    AR_ShaderInfo& info = *shader.info;
    const double time = scene_clock().time;
    if (info.evaluated_time == time) return 1;
    info.evaluated_time = time;
    if (info.counted_frame != scene_clock().frame) {
        info.counted_frame = scene_clock().frame;
        render_counters().shaders.fetch_add(1, std::memory_order_relaxed);
    }

    for (int slot = 0; slot < SHADER_PSYS_FIRST; ++slot) {
        const CommonParameter* row = row_of_slot(slot);
        if (row == nullptr) continue;
        Expr* e = shader.params[slot];
        if (row->kind == TEXTURED) {
            Triple fallback = slot == SHADER_COLOR ? kDefaultColour : Triple{};
            if (!Ar_evaluate_textured_colour(e, fallback, *textured_slot(info, slot)))
                cannot_evaluate(shader, row->name);
            continue;
        }
        if (row->kind == COLOUR) {
            TexturedColour c;
            if (!Ar_evaluate_textured_colour(e, Triple{}, c)) cannot_evaluate(shader, row->name);
            info.hl_fill_colour = c.colour;
            continue;
        }
        float value = row->default_value;
        if (e && !AR_evaluate(SDL_SCALAR, &value, e, nullptr)) cannot_evaluate(shader, row->name);
        if (row->kind == INTEGER) value = static_cast<float>(truncate_to_int(value));
        if (row->kind == FLAG) value = value >= 0.5f ? 1.0f : 0.0f;
        info.param[slot] = value;
    }
    for (int i = 0; i < kParticleParameterCount; ++i) {
        Expr* e = shader.params[SHADER_PSYS_FIRST + i];
        float value = 0.0f;
        if (e && e->type == SDL_SCALAR && !AR_evaluate(SDL_SCALAR, &value, e, nullptr))
            cannot_evaluate(shader, "a particle parameter");
        info.param[SHADER_PSYS_FIRST + i] = value;
    }
    correct(info.param);
    info.transparency_luminance = shading::luminance(info.transparency.colour) / 255.0f;

    const AR_ShaderModel& model = *shader.model;
    if (info.model_info == nullptr) {
        info.model_info = model.alloc_info();
        if (info.model_info == nullptr)
            fatal("could not allocate user_shader_info for %s\n", model.name);
    }
    if (model.eval(info, shader.model_node, info.model_info) == 0)
        fatal("Error in %s Shader evaluate routine\n", model.name);

    // A hidden glow source must still glow: a black colour would give it nothing to glow with.
    const Triple& c = info.color.colour;
    if (info.param[SHADER_GLOW_INTENSITY] > 0.0f && info.param[SHADER_HIDE_GLOW_SOURCE] != 0.0f &&
        info.color.texture == nullptr && c.x == 0.0f && c.y == 0.0f && c.z == 0.0f) {
        info.color.colour = Triple{0.001f, 0.001f, 0.001f};
        info.transparency_luminance = 0.001f;
    }

    // Initialisation for rendering.
    init_texture(info.color);
    init_texture(info.incandescence);
    init_texture(info.transparency);
    if (model.init(info.model_info) == 0)
        fatal("Error in init of Shader %s\n", shader.name ? shader.name : "");
    init_texture(info.bump);
    init_texture(info.displacement);
    init_texture(info.shading_map);
    if (info.param[SHADER_GLOW_INTENSITY] > 0.0f) glow_frame = scene_clock().frame;
    warn_unbuilt_shader_features(info);
    return 1;
}

bool Ar_shader_glow_on() {
    return glow_frame == scene_clock().frame;
}

RR_Shader* shader_of(const ObjectValue& value) {
    if (value.body == nullptr || value.body->type != SDL_SHADER) return nullptr;
    auto* shader = static_cast<RR_Shader*>(const_cast<void*>(value.body->definition));
    if (shader && shader->name == nullptr) shader->name = value.name;
    return shader;
}

void finish_shader_body(Body& body) {
    RR_Shader* shader = Rr_create_shader(body.model, body.line);
    for (const BodyItem& item : body.items) Rr_parse_shader(shader, item.name, item.value);
    body.definition = shader;
}

}  // namespace sky
