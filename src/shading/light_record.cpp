// The light record: creation for a model name, the parameters the parser
// hands over, and the evaluation of a light at its place in the walk.
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/fatal.h"
#include "platform/report.h"
#include "sdl/symbols.h"
#include "shading/light.h"
#include "shading/light_internal.h"
#include "shading/particle_parameters.h"

namespace sky {
namespace {

enum ParameterKind { INTEGER, ROUNDED, FLAG, FLOAT, COLOUR, TEXTURED };

struct CommonParameter {
    const char* name;
    int slot;
    ParameterKind kind;
    float default_value;  // colours: the grey level (255 white)
};

// The common parameters: every name (synonyms included) and how its slot
// is evaluated.
constexpr CommonParameter kCommon[] = {
    {"active", LIGHT_ACTIVE, INTEGER, 1},
    {"light_emission", LIGHT_EMISSION, INTEGER, 1},
    {"exclusive", LIGHT_EXCLUSIVE, INTEGER, 0},
    {"shadow", LIGHT_SHADOW, FLAG, 0},
    {"color", LIGHT_COLOR, TEXTURED, 255},
    {"colour", LIGHT_COLOR, TEXTURED, 255},
    {"intensity", LIGHT_INTENSITY, FLOAT, 1},
    {"soft_shadows", LIGHT_SOFT_SHADOWS, FLAG, 0},
    {"shadow_samples", LIGHT_SHADOW_SAMPLES, INTEGER, 2},
    {"use_shadow_map", LIGHT_USE_SHADOW_MAP, FLAG, 0},
    {"light_radius", LIGHT_RADIUS, FLOAT, 1},
    {"glow_type", LIGHT_GLOW_TYPE, INTEGER, 0},
    {"halo_type", LIGHT_HALO_TYPE, INTEGER, 0},
    {"fog_type", LIGHT_FOG_TYPE, INTEGER, 0},
    {"glow_intensity", LIGHT_GLOW_INTENSITY, FLOAT, 1},
    {"halo_intensity", LIGHT_HALO_INTENSITY, FLOAT, 1},
    {"fog_intensity", LIGHT_FOG_INTENSITY, FLOAT, 1},
    {"glow_spread", LIGHT_GLOW_SPREAD, FLOAT, 1},
    {"halo_spread", LIGHT_HALO_SPREAD, FLOAT, 1},
    {"fog_spread", LIGHT_FOG_SPREAD, FLOAT, 1},
    {"glow_2D_noise", LIGHT_GLOW_2D_NOISE, FLOAT, 0},
    {"fog_2D_noise", LIGHT_FOG_2D_NOISE, FLOAT, 0},
    {"glow_radial_noise", LIGHT_GLOW_RADIAL_NOISE, FLOAT, 0},
    {"fog_radial_noise", LIGHT_FOG_RADIAL_NOISE, FLOAT, 0},
    {"glow_star_level", LIGHT_GLOW_STAR_LEVEL, FLOAT, 0},
    {"fog_star_level", LIGHT_FOG_STAR_LEVEL, FLOAT, 0},
    {"glow_opacity", LIGHT_GLOW_OPACITY, FLOAT, 0},
    {"fog_opacity", LIGHT_FOG_OPACITY, FLOAT, 0},
    {"radial_noise_frequency", LIGHT_RADIAL_NOISE_FREQUENCY, FLOAT, 0.5f},
    {"star_points", LIGHT_STAR_POINTS, FLOAT, 4},
    {"glow_rotation", LIGHT_GLOW_ROTATION, FLOAT, 0},
    {"noise_uscale", LIGHT_NOISE_USCALE, FLOAT, 1},
    {"noise_vscale", LIGHT_NOISE_VSCALE, FLOAT, 1},
    {"noise_uoffset", LIGHT_NOISE_UOFFSET, FLOAT, 0.5f},
    {"noise_voffset", LIGHT_NOISE_VOFFSET, FLOAT, 0.5f},
    {"noise_threshold", LIGHT_NOISE_THRESHOLD, FLOAT, 0},
    {"shadow_color", LIGHT_SHADOW_COLOR, COLOUR, 0},
    {"force_type", LIGHT_FORCE_TYPE, INTEGER, 0},
    {"force_intensity", LIGHT_FORCE_INTENSITY, FLOAT, 0},
    {"deform", LIGHT_DEFORM, INTEGER, 0},
    {"warp", LIGHT_DEFORM, INTEGER, 0},
    {"glow_color", LIGHT_GLOW_COLOR, TEXTURED, 255},
    {"halo_color", LIGHT_HALO_COLOR, TEXTURED, 255},
    {"fog_color", LIGHT_FOG_COLOR, TEXTURED, 255},
    {"flare_color", LIGHT_FLARE_COLOR, TEXTURED, -1},  // (160, 160, 255)
    {"flare_intensity", LIGHT_FLARE_INTENSITY, FLOAT, 1},
    {"flare_num_circles", LIGHT_FLARE_NUM_CIRCLES, FLOAT, 20},
    {"flare_min_size", LIGHT_FLARE_MIN_SIZE, FLOAT, 0.1f},
    {"flare_max_size", LIGHT_FLARE_MAX_SIZE, FLOAT, 1},
    {"flare_color_spread", LIGHT_FLARE_COLOR_SPREAD, FLOAT, 0.5f},
    {"flare_focus", LIGHT_FLARE_FOCUS, FLOAT, 0.6f},
    {"hexagon_flare", LIGHT_HEXAGON_FLARE, ROUNDED, 0},
    {"flare", LIGHT_FLARE, ROUNDED, 0},
    {"flare_vertical", LIGHT_FLARE_VERTICAL, FLOAT, 0},
    {"flare_horizontal", LIGHT_FLARE_HORIZONTAL, FLOAT, 0},
    {"flare_length", LIGHT_FLARE_LENGTH, FLOAT, 1},
    {"deform_intensity", LIGHT_DEFORM_INTENSITY, FLOAT, 1},
    {"warp_intensity", LIGHT_DEFORM_INTENSITY, FLOAT, 1},
    {"deform_steps", LIGHT_DEFORM_STEPS, FLOAT, 1},
    {"warp_steps", LIGHT_DEFORM_STEPS, FLOAT, 1},
    {"deform_sample_size", LIGHT_DEFORM_SAMPLE_SIZE, FLOAT, 0.1f},
    {"warp_sample_size", LIGHT_DEFORM_SAMPLE_SIZE, FLOAT, 0.1f},
};

// The slot of a common name, or −1.
int common_slot(std::string_view name) {
    for (const CommonParameter& p : kCommon)
        if (name == p.name) return p.slot;
    for (const ParticleParameterName& p : kParticleParameters)
        if (name == p.name) return LIGHT_PSYS_FIRST + p.index;
    return -1;
}

// Each slot's row, for evaluation (the first name of a synonym group).
const CommonParameter* row_of_slot(int slot) {
    for (const CommonParameter& p : kCommon)
        if (p.slot == slot) return &p;
    return nullptr;
}

[[noreturn]] void cannot_evaluate(const RR_Light& light, const char* parameter) {
    fatal("Cannot evaluate %s of light %s (line %d)\n", parameter, light.name ? light.name : "",
          light.line);
}

bool evaluate_textured(Expr* e, float grey, TexturedColour& slot) {
    Triple fallback = grey < 0 ? Triple{160.0f, 160.0f, 255.0f} : Triple{grey, grey, grey};
    return Ar_evaluate_textured_colour(e, fallback, slot);
}

}  // namespace

std::span<const AR_LightModel> light_models() {
    static const AR_LightModel rows[] = {
        lights::kPointLight, lights::kDirectionalLight, lights::kSpotLight,  lights::kLinearLight,
        lights::kAreaLight,  lights::kAmbientLight,     lights::kVolumeLight};
    return rows;
}

const AR_LightModel* find_light_model(const char* name) {
    if (name == nullptr) return nullptr;
    for (const AR_LightModel& row : light_models())
        if (std::strcmp(row.name, name) == 0) return &row;
    return nullptr;
}

void check_light_model(const AR_LightModel& m) {
    if (m.calculation == nullptr) fatal("Missing %s Light Calculation routine\n", m.name);
    if (m.alloc_node == nullptr) fatal("Missing %s Light Allocate_node routine\n", m.name);
    if (m.alloc_info == nullptr) fatal("Missing %s Light Allocate_info routine\n", m.name);
    if (m.parse == nullptr) fatal("Missing %s Light Parse routine\n", m.name);
    if (m.eval == nullptr) fatal("Missing %s Light Eval routine\n", m.name);
    if (m.init == nullptr) fatal("Missing %s Light Init routine\n", m.name);
    if (m.copy == nullptr) fatal("Missing %s Light Copy routine\n", m.name);
}

// Every light the scene made, for the whole run: the scene's records refer
// to them from memory that is released wholesale, so the run keeps them here.
namespace {
std::vector<RR_Light*>& every_light() {
    static auto* records = new std::vector<RR_Light*>();
    return *records;
}
}  // namespace

RR_Light* Rr_create_light(const char* model_name, std::int32_t line) {
    const AR_LightModel* model = find_light_model(model_name);
    if (model == nullptr) fatal("Unknown light model %s\n", model_name ? model_name : "");
    check_light_model(*model);
    auto* light = new RR_Light();
    every_light().push_back(light);
    light->model = model;
    light->line = line;
    light->model_node = model->alloc_node();
    if (light->model_node == nullptr) fatal("Unable to allocate node for %s Light\n", model->name);
    return light;
}

void Rr_parse_light(RR_Light& light, const char* name, Expr* value) {
    SKY_CHECK(name != nullptr && value != nullptr);
    int slot = common_slot(name);
    if (slot >= 0) {
        light.params[slot] = value;
        return;
    }
    if (!light.model->parse(light.model_node, name, value))
        fatal("Error in %s Light Parse routine\n", light.model->name);
}

void Ar_evaluate_light(const RR_Light& light, AR_LightInfo& info) {
    info.light = &light;
    info.model = light.model;
    info.kind = light.model->kind;
    info.name = light.name;

    for (int slot = 0; slot < LIGHT_PSYS_FIRST; ++slot) {
        const CommonParameter* row = row_of_slot(slot);
        if (row == nullptr) continue;
        Expr* e = light.params[slot];
        switch (row->kind) {
            case TEXTURED: {
                TexturedColour* target = slot == LIGHT_COLOR        ? &info.colour
                                         : slot == LIGHT_GLOW_COLOR ? &info.glow_colour
                                         : slot == LIGHT_HALO_COLOR ? &info.halo_colour
                                         : slot == LIGHT_FOG_COLOR  ? &info.fog_colour
                                                                    : &info.flare_colour;
                if (!evaluate_textured(e, row->default_value, *target))
                    cannot_evaluate(light, row->name);
                break;
            }
            case COLOUR: {
                TexturedColour c;
                if (!evaluate_textured(e, row->default_value, c)) cannot_evaluate(light, row->name);
                info.shadow_colour = c.colour;
                break;
            }
            default: {
                float value = row->default_value;
                // light_emission is read only while the light is active.
                bool read = !(slot == LIGHT_EMISSION && info.param[LIGHT_ACTIVE] == 0.0f);
                if (read && e && !AR_evaluate(SDL_SCALAR, &value, e, nullptr))
                    cannot_evaluate(light, row->name);
                if (row->kind == INTEGER) value = static_cast<float>(truncate_to_int(value));
                if (row->kind == ROUNDED)
                    value = static_cast<float>(truncate_to_int(std::round(value)));
                if (row->kind == FLAG) value = value >= 0.5f ? 1.0f : 0.0f;
                info.param[slot] = value;
                break;
            }
        }
    }
    // Particle lighting: the numbers; colours and files stay with their expressions.
    for (int i = 0; i < kParticleParameterCount; ++i) {
        Expr* e = light.params[LIGHT_PSYS_FIRST + i];
        float value = 0.0f;
        if (e && e->type == SDL_SCALAR && !AR_evaluate(SDL_SCALAR, &value, e, nullptr))
            cannot_evaluate(light, "a particle parameter");
        info.param[LIGHT_PSYS_FIRST + i] = value;
    }

    float& samples = info.param[LIGHT_SHADOW_SAMPLES];
    samples = std::fmin(std::fmax(samples, 1.0f), 100.0f);
    for (std::int32_t& s : info.shadow_samples) s = static_cast<std::int32_t>(samples);
    for (int slot : {LIGHT_GLOW_TYPE, LIGHT_HALO_TYPE}) {
        if (info.param[slot] > 5.0f) {
            rptError(slot == LIGHT_GLOW_TYPE ? "invalid glow type: turning glow off\n"
                                             : "invalid halo type: turning glow off\n");
            info.param[slot] = 0.0f;
        }
    }
    info.on = info.param[LIGHT_ACTIVE] != 0.0f && info.param[LIGHT_EMISSION] != 0.0f;
    info.intensity = info.param[LIGHT_INTENSITY];
    info.colour_scale = Triple{info.intensity, info.intensity, info.intensity};
    info.casts_shadows = info.param[LIGHT_SHADOW] != 0.0f;
    info.exclusive = info.param[LIGHT_EXCLUSIVE] != 0.0f;
    const float* p = info.param;
    info.has_effects = (p[LIGHT_GLOW_TYPE] != 0 && p[LIGHT_GLOW_INTENSITY] != 0) ||
                       (p[LIGHT_HALO_TYPE] != 0 && p[LIGHT_HALO_INTENSITY] != 0) ||
                       (p[LIGHT_FLARE] != 0 && p[LIGHT_FLARE_INTENSITY] != 0);
    info.has_fog = p[LIGHT_FOG_TYPE] != 0 && p[LIGHT_FOG_INTENSITY] != 0;

    const AR_LightModel& model = *light.model;
    if (info.model_info == nullptr) {
        info.model_info = model.alloc_info();
        if (info.model_info == nullptr)
            fatal("Unable to allocate Info node for %s light\n", model.name);
    }
    if (!model.eval(info, light.model_node, info.model_info))
        fatal("Error in %s Light evaluate routine\n", model.name);
    // Initialisation for rendering (cone cosines; shadow maps are prepared
    // by their own pass).
    if (!model.init(info)) fatal("Error in %s Light evaluate routine\n", model.name);
}

void Ar_release_light_info(AR_LightInfo& info) {
    if (info.model_info && info.model && info.model->release) info.model->release(info.model_info);
    info.model_info = nullptr;
}

}  // namespace sky
