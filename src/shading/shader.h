// Shaders: the record a `shader` body becomes, the table of shading models,
// the per-frame evaluation into an `AR_ShaderInfo`, and the shading of one
// layer of a sample.
//
// The visibility pass fills an AR_ShadePoint (shade_point.h) for a layer,
// with the lights of the layer's object (Ar_object_lights) and its sample
// colour, and calls Ar_shade_layer with the layer's shader; the model
// composites the layer over the colour already in the sample. Shading
// reads the evaluated infos only and allocates nothing.
#pragma once

#include <cstdint>

#include "sdl/expr.h"
#include "sdl/parameter_table.h"
#include "shading/shade_point.h"
#include "texture/texture.h"

namespace sky {

struct AR_ShaderInfo;
struct Body;
struct ObjectValue;
struct RR_Shader;

enum ShaderSlot : int {
    SHADER_REFRACTIVE_INDEX = 0,
    SHADER_COLOR = 1,
    SHADER_INCANDESCENCE = 2,
    SHADER_TRANSPARENCY = 3,
    SHADER_BUMP = 4,
    SHADER_DISPLACEMENT = 5,
    SHADER_SHADING_MAP = 6,
    SHADER_OPACITY_DEPTH = 7,
    SHADER_TRANSPARENCY_SHADE = 8,
    SHADER_RESPECT_REFLECTION_MAP = 9,
    SHADER_REFLECTION_LIMIT = 10,
    SHADER_REFRACTION_LIMIT = 11,
    SHADER_SHADOW_LEVEL_LIMIT = 12,
    SHADER_REFLECT_BACKGROUND = 13,
    SHADER_USE_BACKGROUND_COLOR = 14,
    SHADER_GLOW_INTENSITY = 15,
    SHADER_HIDE_GLOW_SOURCE = 16,
    SHADER_TRANSPARENCY_DEPTH = 17,
    SHADER_SURFACE_WIDTH = 18,
    SHADER_REFLECTION_DEPTH = 19,
    SHADER_REFRACTION_JITTER = 20,
    SHADER_REFRACTION_SAMPLES = 21,
    SHADER_TRANSLUCENCE = 22,
    SHADER_TRANSLUCENCE_DEPTH = 23,
    SHADER_CHROMATIC_ABBERATION = 24,
    SHADER_HL_TO_FILL_COLOR = 25,
    SHADER_HL_FILL_COLOR = 26,
    SHADER_HL_LINE_WIDTH = 27,
    SHADER_HL_ISOPARAM_U = 28,
    SHADER_HL_ISOPARAM_V = 29,
    SHADER_MATTE_FRACTION = 30,
    SHADER_DENSITY = 31,
    SHADER_ELASTICITY = 32,
    SHADER_FRICTION = 33,
    SHADER_DRAG_COEFF = 34,
    SHADER_USE_CLEARCOAT = 35,
    SHADER_CLEARCOAT_INDEX = 36,
    SHADER_CLEARCOAT_SCALE = 37,
    SHADER_CLEARCOAT_BIAS = 38,
    SHADER_AO_CONCENTRATION = 39,
    SHADER_AO_CONTRAST = 40,
    SHADER_PSYS_FIRST = 41,  // the particle parameters, to slot 96
    SHADER_MODEL_ROW = 98,
    kShaderSlotCount = 99,
};

struct AR_ShaderModel {
    const char* name;
    // Shades one layer: composites it over point.output.
    void (*calculation)(const AR_ShaderInfo& shader, const Triple& eye_point, AR_ShadePoint& point,
                        const RenderObject* object);
    void* (*alloc_node)();
    void* (*alloc_info)();
    int (*parse)(void* node, const char* name, Expr* value);
    int (*eval)(AR_ShaderInfo& shader, void* node, void* model_info);
    int (*init)(void* model_info);
    int (*copy)(void* to_info, const void* from_info);
    void (*release)(void* model_info);
    // The model's own parameters: names, defaults, ranges, unknown names.
    const ParameterTable* parameters;
};

// A colour-or-scalar model parameter: a colour (0..1 per channel; a
// triple as written in 0..255 is divided by 255), its scalar, or a texture.
struct ColourSlot {
    Triple colour;
    float scalar = 0.0f;
    AR_TextureInfo* texture = nullptr;
};

// The models' infos. Their values, initial ones included, come from the
// models' parameter tables (shading_models.cpp).
struct AR_BlinnShaderInfo {
    ColourSlot diffuse;
    ColourSlot specular;
    ColourSlot reflection;
    ColourSlot reflectivity;
    float specular_intensity = 0.0f;
    float gloss = 0.0f;
    float eccentricity = 0.0f;
    float c = 0.0f;  // 1/(eccentricity² − 1)
    float specular_rolloff = 0.0f;
};

struct AR_PhongShaderInfo {
    ColourSlot diffuse;
    ColourSlot specular;
    ColourSlot reflection;
    ColourSlot reflectivity;
    float specular_intensity = 0.0f;
    float gloss = 0.0f;
    std::int32_t shinyness = 0;
};

struct AR_LambertShaderInfo {
    ColourSlot diffuse;
};

struct AR_LightsourceShaderInfo {
    void* unused = nullptr;
};

// The shader as the parser built it.
struct RR_Shader {
    const char* name = nullptr;
    Expr* params[kShaderSlotCount] = {};
    AR_ShaderInfo* info = nullptr;
    void* model_node = nullptr;
    const AR_ShaderModel* model = nullptr;
    std::int32_t line = 0;
};

// The shader evaluated for the frame.
struct AR_ShaderInfo {
    float param[kShaderSlotCount] = {};  // numbers, flags and integers by slot
    TexturedColour color, incandescence, transparency, bump, displacement, shading_map;
    float transparency_luminance = 0.0f;
    Triple hl_fill_colour;
    float distance = 1e6f;
    std::int32_t index = -1;
    void* model_info = nullptr;
    const AR_ShaderModel* model = nullptr;
    RR_Shader* shader = nullptr;
    double evaluated_time = -1e30;  // the scene time of the last evaluation
    float counted_frame = -1e30f;   // the frame the statistics counted it in
};

// --- the table ---------------------------------------------------------------------

const AR_ShaderModel* find_shader_model(const char* name);
// The four rows in table order (the table's terminating row excluded).
std::span<const AR_ShaderModel> shader_models();
void check_shader_model(const AR_ShaderModel& model);

// The parameters every shader has (the model's own go to its parse routine),
// and the particle parameters that shaders and lights carry.
const ParameterTable& shader_common_parameters();
std::span<const Parameter> particle_parameters();

// --- the scene side ------------------------------------------------------------------

RR_Shader* Rr_create_shader(const char* model_name, std::int32_t line);
void Rr_parse_shader(RR_Shader* shader, const char* name, Expr* value);
// Evaluates and initialises the shader for the scene clock's time (once per
// time). Returns 1.
int Rr_evaluate_shader(RR_Shader& shader);
// The shader record of a SHADER value, or null.
RR_Shader* shader_of(const ObjectValue& value);
// Turns a finished shader body into its record (the front end's hook).
void finish_shader_body(Body& body);

// Shader glow is on for the frame being rendered (some shader glows).
bool Ar_shader_glow_on();

// --- rendering --------------------------------------------------------------------------

// Shades one layer: the model's calculation with the worker's scan flag
// cleared around it.
void Ar_shade_layer(const AR_ShaderInfo& shader, AR_ShadePoint& point);

// The background in a direction (eye space, unit) over a cone `spread`
// radians wide, for reflections of `reflect_background`; installed by the
// background module. False: none.
using BackgroundLookup = bool (*)(const Triple& direction, float spread, Triple& colour);
void set_background_lookup(BackgroundLookup lookup);

// The camera shading happens for: eye to world for environment lookups.
void set_shading_camera(const Matrix4& world_from_eye);

// Installs the shading subsystem: light and shader bodies, the model walk's
// hooks and the frame loop's light preparation.
void install_shading_hooks();
void remove_shading_hooks();  // tests

}  // namespace sky
