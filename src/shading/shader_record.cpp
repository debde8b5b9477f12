// The shader record: creation for a model name, the parameters the parser
// hands over, and the evaluation and initialisation for a frame time.
#include <cmath>
#include <vector>

#include "base/counters.h"
#include "base/routine_rows.h"
#include "base/vecmath.h"
#include "platform/fatal.h"
#include "scene/scene_clock.h"
#include "sdl/body.h"
#include "shading/common_parameters.h"
#include "shading/particle_parameters.h"
#include "shading/shader.h"
#include "shading/shader_internal.h"

namespace sky {
namespace {

using enum ParameterType;

// A numeric common parameter: its expression and its value share the slot.
#define NUMBER_SLOT(index) .slot = (index), .store = SKY_ELEMENT(AR_ShaderInfo, param, index)

// The common parameters, by slot (the particle parameters follow them).
constexpr Parameter kCommonRows[] = {
    {.name = "refractive_index",
     .value = {10.0f},
     .below = at_least(0.001f),
     NUMBER_SLOT(SHADER_REFRACTIVE_INDEX),
     .description = "Index of refraction (ray tracer)."},
    {.name = "color",
     .also = "colour",
     .type = TEXTURED,
     .value = grey(150.0f),
     .slot = SHADER_COLOR,
     .store = SKY_FIELD(AR_ShaderInfo, color),
     .description = "The surface colour; the default is a mid grey that shows the lighting."},
    {.name = "incandescence",
     .type = TEXTURED,
     .slot = SHADER_INCANDESCENCE,
     .store = SKY_FIELD(AR_ShaderInfo, incandescence),
     .description = "Light the surface gives off itself, added to its shading."},
    {.name = "transparency",
     .type = TEXTURED,
     .slot = SHADER_TRANSPARENCY,
     .store = SKY_FIELD(AR_ShaderInfo, transparency),
     .description = "How much of what lies behind shows through, per channel (0..255)."},
    {.name = "bump",
     .type = TEXTURED,
     .slot = SHADER_BUMP,
     .store = SKY_FIELD(AR_ShaderInfo, bump),
     .description = "A texture that perturbs the normal."},
    {.name = "displacement",
     .type = TEXTURED,
     .slot = SHADER_DISPLACEMENT,
     .store = SKY_FIELD(AR_ShaderInfo, displacement),
     .description = "A texture that moves the surface."},
    {.name = "shading_map",
     .type = TEXTURED,
     .slot = SHADER_SHADING_MAP,
     .store = SKY_FIELD(AR_ShaderInfo, shading_map),
     .description = "A texture that changes the shaded colour."},
    {.name = "opacity_depth",
     NUMBER_SLOT(SHADER_OPACITY_DEPTH),
     .description = "Non-zero: transparency depends on the thickness passed through."},
    {.name = "transparency_shade",
     .below = at_least(0),
     .above = at_most(1),
     NUMBER_SLOT(SHADER_TRANSPARENCY_SHADE),
     .description = "How much transparency follows the shading."},
    {.name = "respect_reflection_map",
     .type = FLAG,
     NUMBER_SLOT(SHADER_RESPECT_REFLECTION_MAP),
     .description = "Reflections use the reflection texture even when ray traced."},
    {.name = "reflection_limit",
     .type = INTEGER,
     .value = {1.0f},
     .below = at_least(0),
     NUMBER_SLOT(SHADER_REFLECTION_LIMIT),
     .description = "Reflections traced (ray tracer)."},
    {.name = "refraction_limit",
     .type = INTEGER,
     .value = {1.0f},
     .below = at_least(0),
     NUMBER_SLOT(SHADER_REFRACTION_LIMIT),
     .description = "Refractions traced (ray tracer)."},
    {.name = "shadow_level_limit",
     .type = INTEGER,
     .below = at_least(-1),
     NUMBER_SLOT(SHADER_SHADOW_LEVEL_LIMIT),
     .description = "Transparent surfaces shadow rays pass (ray tracer)."},
    {.name = "reflect_background",
     .type = FLAG,
     NUMBER_SLOT(SHADER_REFLECT_BACKGROUND),
     .description = "Reflections show the background instead of the reflection texture."},
    {.name = "use_background_color",
     .type = FLAG,
     NUMBER_SLOT(SHADER_USE_BACKGROUND_COLOR),
     .description = "The surface takes the background's colour (mattes)."},
    {.name = "glow_intensity",
     .below = at_least(0),
     NUMBER_SLOT(SHADER_GLOW_INTENSITY),
     .description = "The surface glows: above 0, shader glow is on for the frame."},
    {.name = "hide_glow_source",
     .type = FLAG,
     NUMBER_SLOT(SHADER_HIDE_GLOW_SOURCE),
     .description = "Only the glow shows, not the surface that glows."},
    {.name = "transparency_depth",
     NUMBER_SLOT(SHADER_TRANSPARENCY_DEPTH),
     .description = "Depth over which transparency fades (ray tracer)."},
    {.name = "surface_width",
     NUMBER_SLOT(SHADER_SURFACE_WIDTH),
     .description = "Thickness of the surface for refraction (ray tracer)."},
    {.name = "reflection_depth",
     NUMBER_SLOT(SHADER_REFLECTION_DEPTH),
     .description = "Distance over which reflections fade (ray tracer)."},
    {.name = "refraction_jitter",
     NUMBER_SLOT(SHADER_REFRACTION_JITTER),
     .description = "Jitter of refracted rays (ray tracer)."},
    {.name = "refraction_samples",
     .type = INTEGER,
     .value = {1.0f},
     NUMBER_SLOT(SHADER_REFRACTION_SAMPLES),
     .description = "Refracted rays per sample (ray tracer)."},
    {.name = "translucence",
     NUMBER_SLOT(SHADER_TRANSLUCENCE),
     .description = "Light that passes through the surface from behind."},
    {.name = "translucence_depth",
     .value = {0.5f},
     NUMBER_SLOT(SHADER_TRANSLUCENCE_DEPTH),
     .description = "Non-zero: lights behind the surface still add translucence."},
    {.name = "chromatic_abberation",
     NUMBER_SLOT(SHADER_CHROMATIC_ABBERATION),
     .description = "Spread of refraction by wavelength (ray tracer)."},
    {.name = "hl_to_fill_color",
     .also = "use_fill_color",
     .type = FLAG,
     NUMBER_SLOT(SHADER_HL_TO_FILL_COLOR),
     .description = "Hidden line: fill with the fill colour, not the background."},
    {.name = "hl_fill_color",
     .also = "fill_color fill_colour",
     .type = COLOUR,
     .slot = SHADER_HL_FILL_COLOR,
     .store = SKY_FIELD(AR_ShaderInfo, hl_fill_colour),
     .description = "Hidden line: the fill colour."},
    {.name = "hl_line_width",
     .also = "line_thickness",
     .type = INTEGER,
     NUMBER_SLOT(SHADER_HL_LINE_WIDTH),
     .description = "Hidden line: the width of the lines where this surface meets another, in "
                    "pixels (at most 32; 0 and 1 are the thinnest)."},
    {.name = "hl_isoparam_u",
     .also = "u_patch_lines",
     .type = INTEGER,
     NUMBER_SLOT(SHADER_HL_ISOPARAM_U),
     .description = "Hidden line: isoparametric lines inside a patch, evenly across u."},
    {.name = "hl_isoparam_v",
     .also = "v_patch_lines",
     .type = INTEGER,
     NUMBER_SLOT(SHADER_HL_ISOPARAM_V),
     .description = "Hidden line: isoparametric lines inside a patch, evenly across v."},
    {.name = "matte_fraction",
     NUMBER_SLOT(SHADER_MATTE_FRACTION),
     .description = "The surface's share of the matte."},
    {.name = "density",
     .value = {1.0f},
     NUMBER_SLOT(SHADER_DENSITY),
     .description = "Rigid-body dynamics: density."},
    {.name = "elasticity",
     .value = {1.0f},
     NUMBER_SLOT(SHADER_ELASTICITY),
     .description = "Rigid-body dynamics: elasticity."},
    {.name = "friction",
     .value = {1.0f},
     NUMBER_SLOT(SHADER_FRICTION),
     .description = "Rigid-body dynamics: friction."},
    {.name = "drag_coeff",
     .value = {1.0f},
     NUMBER_SLOT(SHADER_DRAG_COEFF),
     .description = "Rigid-body dynamics: drag."},
    {.name = "use_clearcoat",
     .type = FLAG,
     NUMBER_SLOT(SHADER_USE_CLEARCOAT),
     .description = "A clear coat over the surface."},
    {.name = "clearcoat_index",
     .value = {1.0f},
     .below = at_least(0.1f),
     NUMBER_SLOT(SHADER_CLEARCOAT_INDEX),
     .description = "The clear coat's index of refraction."},
    {.name = "clearcoat_scale",
     .value = {1.0f},
     NUMBER_SLOT(SHADER_CLEARCOAT_SCALE),
     .description = "The clear coat's strength."},
    {.name = "clearcoat_bias",
     NUMBER_SLOT(SHADER_CLEARCOAT_BIAS),
     .description = "The clear coat's strength at normal incidence."},
    {.name = "aoConcentration",
     NUMBER_SLOT(SHADER_AO_CONCENTRATION),
     .description = "Ambient occlusion: concentration."},
    {.name = "aoContrast",
     .value = {1.0f},
     NUMBER_SLOT(SHADER_AO_CONTRAST),
     .description = "Ambient occlusion: contrast."},
};
static_assert(rows_are_consistent(kCommonRows));
static_assert(SHADER_PSYS_FIRST + kParticleParameterCount <= SHADER_MODEL_ROW);
#undef NUMBER_SLOT

// Every other name goes to the model.
constexpr ParameterTable kCommonTable{kCommonRows, nullptr, UnknownName::QUIET};

// The routines a shading model must have, in the order they are checked.
constexpr RoutineCheck kShaderRoutines[] = {
    {Routine::CALCULATION, "Unspecified %s shader calculation routine\n"},
    {Routine::ALLOC_NODE, "Unspecified %s shader alloc_node routine\n"},
    {Routine::ALLOC_INFO, "Unspecified %s shader alloc_info routine\n"},
    {Routine::PARSE, "Unspecified %s shader parse routine\n"},
    {Routine::EVAL, "Unspecified %s shader eval routine\n"},
    {Routine::COPY, "Unspecified %s shader copy routine\n"},
    {Routine::INIT, "Unspecified %s shader init routine\n"},
};

[[noreturn]] void cannot_evaluate(const RR_Shader& shader, const char* parameter) {
    fatal("Cannot evaluate %s of shader %s (line %d)\n", parameter, shader.name ? shader.name : "",
          shader.line);
}

float glow_frame = -1e30f;

void init_texture(const TexturedColour& slot) {
    if (slot.texture) Ar_init_texture(*slot.texture);
}

}  // namespace

const ParameterTable& shader_common_parameters() {
    return kCommonTable;
}

std::span<const Parameter> particle_parameters() {
    return kParticleParameters;
}

std::span<const AR_ShaderModel> shader_models() {
    static const AR_ShaderModel rows[] = {shading::kBlinnModel, shading::kLightsourceModel,
                                          shading::kLambertModel, shading::kPhongModel};
    return rows;
}

const AR_ShaderModel* find_shader_model(const char* name) {
    return find_row(shader_models(), name);
}

void check_shader_model(const AR_ShaderModel& m) {
    check_routines(m, kShaderRoutines);
}

RR_Shader* Rr_create_shader(const char* model_name, std::int32_t line) {
    auto* shader = new_model_record<RR_Shader>(shader_models(), model_name,
                                               "Unknown shader model %s\n", kShaderRoutines);
    const AR_ShaderModel* model = shader->model;
    shader->info = new AR_ShaderInfo();
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
    int slot = common_slot(kCommonRows, SHADER_PSYS_FIRST, name);
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

    // Every value first, then the corrections: none of them prints.
    for (const Parameter& row : kCommonRows) {
        Expr* e = shader.params[row.slot];
        bool ok = row.type == TEXTURED || row.type == COLOUR ? evaluate_common_colour(row, e, &info)
                                                             : evaluate_parameter(row, e, &info);
        if (!ok) cannot_evaluate(shader, row.name);
    }
    if (!evaluate_particle_numbers(&shader.params[SHADER_PSYS_FIRST],
                                   &info.param[SHADER_PSYS_FIRST]))
        cannot_evaluate(shader, "a particle parameter");
    for (const Parameter& row : kCommonRows) correct_parameter(row, &info);
    info.transparency_luminance = luminance(info.transparency.colour) / 255.0f;

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
