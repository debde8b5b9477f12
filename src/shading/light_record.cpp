// The light record: creation for a model name, the parameters the parser
// hands over, and the evaluation of a light at its place in the walk.
#include <vector>

#include "base/routine_rows.h"
#include "platform/fatal.h"
#include "platform/report.h"
#include "sdl/symbols.h"
#include "shading/common_parameters.h"
#include "shading/light.h"
#include "shading/light_internal.h"
#include "shading/particle_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

// A numeric common parameter: its expression and its value share the slot.
#define NUMBER_SLOT(index) .slot = (index), .store = SKY_ELEMENT(AR_LightInfo, param, index)

constexpr const char* kGlowTypes =
    "0 none, 1 linear, 2 exponential, 3 ball, 4 lens flare (spectral), 5 rim halo (rainbow).";

// The common parameters, by slot (the particle parameters follow them).
constexpr Parameter kCommonRows[] = {
    {.name = "active",
     .type = INTEGER,
     .value = {1.0f},
     NUMBER_SLOT(LIGHT_ACTIVE),
     .description = "0 switches the light off."},
    {.name = "light_emission",
     .type = INTEGER,
     .value = {1.0f},
     NUMBER_SLOT(LIGHT_EMISSION),
     .description = "0 switches the light off; read only while the light is active."},
    {.name = "exclusive",
     .type = INTEGER,
     NUMBER_SLOT(LIGHT_EXCLUSIVE),
     .description = "The light lights only the objects that list it."},
    {.name = "shadow",
     .type = FLAG,
     NUMBER_SLOT(LIGHT_SHADOW),
     .description = "The light casts shadows."},
    {.name = "color",
     .also = "colour",
     .type = TEXTURED,
     .value = grey(255.0f),
     .slot = LIGHT_COLOR,
     .store = SKY_FIELD(AR_LightInfo, colour),
     .description = "The light's colour, 0..255 per channel."},
    {.name = "intensity",
     .value = {1.0f},
     NUMBER_SLOT(LIGHT_INTENSITY),
     .description = "Multiplies the colour."},
    {.name = "soft_shadows",
     .type = FLAG,
     NUMBER_SLOT(LIGHT_SOFT_SHADOWS),
     .description = "Soft shadows (ray tracer)."},
    {.name = "shadow_samples",
     .type = INTEGER,
     .value = {2.0f},
     .below = at_least(1),
     .above = at_most(100),
     NUMBER_SLOT(LIGHT_SHADOW_SAMPLES),
     .description = "Samples of soft shadows, and of linear and area lights, per worker."},
    {.name = "use_shadow_map",
     .type = FLAG,
     NUMBER_SLOT(LIGHT_USE_SHADOW_MAP),
     .description = "Shadows from a depth map (ray tracer)."},
    {.name = "light_radius",
     .value = {1.0f},
     NUMBER_SLOT(LIGHT_RADIUS),
     .description = "The light's size for soft shadows."},
    {.name = "glow_type",
     .type = INTEGER,
     .above = reported(5, 0, "invalid glow type: turning glow off\n"),
     NUMBER_SLOT(LIGHT_GLOW_TYPE),
     .description = kGlowTypes},
    {.name = "halo_type",
     .type = INTEGER,
     .above = reported(5, 0, "invalid halo type: turning glow off\n"),
     NUMBER_SLOT(LIGHT_HALO_TYPE),
     .description = kGlowTypes},
    {.name = "fog_type",
     .type = INTEGER,
     NUMBER_SLOT(LIGHT_FOG_TYPE),
     .description = "Light fog: non-zero with a fog intensity turns it on."},
    {.name = "glow_intensity",
     .value = {1.0f},
     NUMBER_SLOT(LIGHT_GLOW_INTENSITY),
     .description = "Brightness of the glow."},
    {.name = "halo_intensity",
     .value = {1.0f},
     NUMBER_SLOT(LIGHT_HALO_INTENSITY),
     .description = "Brightness of the halo."},
    {.name = "fog_intensity",
     .value = {1.0f},
     NUMBER_SLOT(LIGHT_FOG_INTENSITY),
     .description = "Density of the light fog."},
    {.name = "glow_spread",
     .value = {1.0f},
     NUMBER_SLOT(LIGHT_GLOW_SPREAD),
     .description = "Size of the glow."},
    {.name = "halo_spread",
     .value = {1.0f},
     NUMBER_SLOT(LIGHT_HALO_SPREAD),
     .description = "Size of the halo."},
    {.name = "fog_spread",
     .value = {1.0f},
     NUMBER_SLOT(LIGHT_FOG_SPREAD),
     .description = "Size of the light fog."},
    {.name = "glow_2D_noise",
     NUMBER_SLOT(LIGHT_GLOW_2D_NOISE),
     .description = "Noise over the glow."},
    {.name = "fog_2D_noise", NUMBER_SLOT(LIGHT_FOG_2D_NOISE), .description = "Noise over the fog."},
    {.name = "glow_radial_noise",
     NUMBER_SLOT(LIGHT_GLOW_RADIAL_NOISE),
     .description = "Radial streaks in the glow."},
    {.name = "fog_radial_noise",
     NUMBER_SLOT(LIGHT_FOG_RADIAL_NOISE),
     .description = "Radial streaks in the fog."},
    {.name = "glow_star_level",
     NUMBER_SLOT(LIGHT_GLOW_STAR_LEVEL),
     .description = "Star points in the glow."},
    {.name = "fog_star_level",
     NUMBER_SLOT(LIGHT_FOG_STAR_LEVEL),
     .description = "Star points in the fog."},
    {.name = "glow_opacity",
     NUMBER_SLOT(LIGHT_GLOW_OPACITY),
     .description = "How much the glow hides what is behind it."},
    {.name = "fog_opacity",
     NUMBER_SLOT(LIGHT_FOG_OPACITY),
     .description = "How much the fog hides what is behind it."},
    {.name = "radial_noise_frequency",
     .value = {0.5f},
     NUMBER_SLOT(LIGHT_RADIAL_NOISE_FREQUENCY),
     .description = "Frequency of the radial noise."},
    {.name = "star_points",
     .value = {4.0f},
     NUMBER_SLOT(LIGHT_STAR_POINTS),
     .description = "Number of star points."},
    {.name = "glow_rotation",
     NUMBER_SLOT(LIGHT_GLOW_ROTATION),
     .description = "Rotation of the star, degrees."},
    {.name = "noise_uscale",
     .value = {1.0f},
     NUMBER_SLOT(LIGHT_NOISE_USCALE),
     .description = "Scale of the noise across u."},
    {.name = "noise_vscale",
     .value = {1.0f},
     NUMBER_SLOT(LIGHT_NOISE_VSCALE),
     .description = "Scale of the noise across v."},
    {.name = "noise_uoffset",
     .value = {0.5f},
     NUMBER_SLOT(LIGHT_NOISE_UOFFSET),
     .description = "Offset of the noise across u."},
    {.name = "noise_voffset",
     .value = {0.5f},
     NUMBER_SLOT(LIGHT_NOISE_VOFFSET),
     .description = "Offset of the noise across v."},
    {.name = "noise_threshold",
     NUMBER_SLOT(LIGHT_NOISE_THRESHOLD),
     .description = "Noise below it is cut away."},
    {.name = "shadow_color",
     .type = COLOUR,
     .slot = LIGHT_SHADOW_COLOR,
     .store = SKY_FIELD(AR_LightInfo, shadow_colour),
     .description = "What a fully shadowed point still receives, 0..255."},
    {.name = "force_type",
     .type = INTEGER,
     NUMBER_SLOT(LIGHT_FORCE_TYPE),
     .description = "Dynamics: the light's force field."},
    {.name = "force_intensity",
     NUMBER_SLOT(LIGHT_FORCE_INTENSITY),
     .description = "Dynamics: strength of the force."},
    {.name = "deform",
     .also = "warp",
     .type = INTEGER,
     NUMBER_SLOT(LIGHT_DEFORM),
     .description = "Dynamics: the light deforms objects."},
    {.name = "glow_color",
     .type = TEXTURED,
     .value = grey(255.0f),
     .slot = LIGHT_GLOW_COLOR,
     .store = SKY_FIELD(AR_LightInfo, glow_colour),
     .description = "Colour of the glow."},
    {.name = "halo_color",
     .type = TEXTURED,
     .value = grey(255.0f),
     .slot = LIGHT_HALO_COLOR,
     .store = SKY_FIELD(AR_LightInfo, halo_colour),
     .description = "Colour of the halo."},
    {.name = "fog_color",
     .type = TEXTURED,
     .value = grey(255.0f),
     .slot = LIGHT_FOG_COLOR,
     .store = SKY_FIELD(AR_LightInfo, fog_colour),
     .description = "Colour of the light fog."},
    {.name = "flare_color",
     .type = TEXTURED,
     .value = {160.0f, 160.0f, 255.0f},
     .slot = LIGHT_FLARE_COLOR,
     .store = SKY_FIELD(AR_LightInfo, flare_colour),
     .description = "Colour of the lens flare."},
    {.name = "flare_intensity",
     .value = {1.0f},
     NUMBER_SLOT(LIGHT_FLARE_INTENSITY),
     .description = "Brightness of the lens flare."},
    {.name = "flare_num_circles",
     .value = {20.0f},
     NUMBER_SLOT(LIGHT_FLARE_NUM_CIRCLES),
     .description = "Circles in the lens flare."},
    {.name = "flare_min_size",
     .value = {0.1f},
     NUMBER_SLOT(LIGHT_FLARE_MIN_SIZE),
     .description = "Smallest circle."},
    {.name = "flare_max_size",
     .value = {1.0f},
     NUMBER_SLOT(LIGHT_FLARE_MAX_SIZE),
     .description = "Largest circle."},
    {.name = "flare_color_spread",
     .value = {0.5f},
     NUMBER_SLOT(LIGHT_FLARE_COLOR_SPREAD),
     .description = "Spread of the circles' hues."},
    {.name = "flare_focus",
     .value = {0.6f},
     NUMBER_SLOT(LIGHT_FLARE_FOCUS),
     .description = "Sharpness of the circles."},
    {.name = "hexagon_flare",
     .type = ROUNDED,
     NUMBER_SLOT(LIGHT_HEXAGON_FLARE),
     .description = "Hexagons instead of circles."},
    {.name = "flare",
     .type = ROUNDED,
     NUMBER_SLOT(LIGHT_FLARE),
     .description = "The light has a lens flare."},
    {.name = "flare_vertical",
     NUMBER_SLOT(LIGHT_FLARE_VERTICAL),
     .description = "Vertical offset of the flare."},
    {.name = "flare_horizontal",
     NUMBER_SLOT(LIGHT_FLARE_HORIZONTAL),
     .description = "Horizontal offset of the flare."},
    {.name = "flare_length",
     .value = {1.0f},
     NUMBER_SLOT(LIGHT_FLARE_LENGTH),
     .description = "Length of the flare."},
    {.name = "deform_intensity",
     .also = "warp_intensity",
     .value = {1.0f},
     NUMBER_SLOT(LIGHT_DEFORM_INTENSITY),
     .description = "Dynamics: strength of the deformation."},
    {.name = "deform_steps",
     .also = "warp_steps",
     .value = {1.0f},
     NUMBER_SLOT(LIGHT_DEFORM_STEPS),
     .description = "Dynamics: steps of the deformation."},
    {.name = "deform_sample_size",
     .also = "warp_sample_size",
     .value = {0.1f},
     NUMBER_SLOT(LIGHT_DEFORM_SAMPLE_SIZE),
     .description = "Dynamics: sample size of the deformation."},
};
static_assert(rows_are_consistent(kCommonRows));
static_assert(LIGHT_PSYS_FIRST + kParticleParameterCount <= kLightSlotCount);
#undef NUMBER_SLOT

constexpr ParameterTable kCommonTable{kCommonRows, nullptr, UnknownName::QUIET};

// The routines a light model must have, in the order they are checked.
constexpr RoutineCheck kLightRoutines[] = {
    {Routine::CALCULATION, "Missing %s Light Calculation routine\n"},
    {Routine::ALLOC_NODE, "Missing %s Light Allocate_node routine\n"},
    {Routine::ALLOC_INFO, "Missing %s Light Allocate_info routine\n"},
    {Routine::PARSE, "Missing %s Light Parse routine\n"},
    {Routine::EVAL, "Missing %s Light Eval routine\n"},
    {Routine::INIT, "Missing %s Light Init routine\n"},
    {Routine::COPY, "Missing %s Light Copy routine\n"},
};

[[noreturn]] void cannot_evaluate(const RR_Light& light, const char* parameter) {
    fatal("Cannot evaluate %s of light %s (line %d)\n", parameter, light.name ? light.name : "",
          light.line);
}

}  // namespace

const ParameterTable& light_common_parameters() {
    return kCommonTable;
}

std::span<const AR_LightModel> light_models() {
    static const AR_LightModel rows[] = {
        lights::kPointLight, lights::kDirectionalLight, lights::kSpotLight,  lights::kLinearLight,
        lights::kAreaLight,  lights::kAmbientLight,     lights::kVolumeLight};
    return rows;
}

const AR_LightModel* find_light_model(const char* name) {
    return find_row(light_models(), name);
}

void check_light_model(const AR_LightModel& m) {
    check_routines(m, kLightRoutines);
}

RR_Light* Rr_create_light(const char* model_name, std::int32_t line) {
    auto* light = new_model_record<RR_Light>(light_models(), model_name, "Unknown light model %s\n",
                                             kLightRoutines);
    const AR_LightModel* model = light->model;
    light->line = line;
    light->model_node = model->alloc_node();
    if (light->model_node == nullptr) fatal("Unable to allocate node for %s Light\n", model->name);
    return light;
}

void Rr_parse_light(RR_Light& light, const char* name, Expr* value) {
    SKY_CHECK(name != nullptr && value != nullptr);
    int slot = common_slot(kCommonRows, LIGHT_PSYS_FIRST, name);
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

    // Every value first, then the corrections in slot order.
    for (const Parameter& row : kCommonRows) {
        Expr* e = light.params[row.slot];
        if (row.type == TEXTURED || row.type == COLOUR) {
            if (!evaluate_common_colour(row, e, &info)) cannot_evaluate(light, row.name);
            continue;
        }
        if (row.slot == LIGHT_EMISSION && info.param[LIGHT_ACTIVE] == 0.0f) e = nullptr;
        if (!evaluate_parameter(row, e, &info)) cannot_evaluate(light, row.name);
    }
    if (!evaluate_particle_numbers(&light.params[LIGHT_PSYS_FIRST], &info.param[LIGHT_PSYS_FIRST]))
        cannot_evaluate(light, "a particle parameter");
    for (const Parameter& row : kCommonRows) correct_parameter(row, &info);
    const Triple& tint = info.shadow_colour;
    info.shadow_depth = Triple{1.0f - clamp01(tint.x / 255.0f), 1.0f - clamp01(tint.y / 255.0f),
                               1.0f - clamp01(tint.z / 255.0f)};
    for (std::int32_t& s : info.shadow_samples)
        s = static_cast<std::int32_t>(info.param[LIGHT_SHADOW_SAMPLES]);
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
