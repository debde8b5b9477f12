// Lights: the light record a `light` body becomes, the table of light
// models, the per-frame evaluation into a light info, and the preparation of
// the placed lights for a camera.
//
// Two levels, as everywhere in the renderer: the record (`RR_Light`) holds
// the expressions the parser gathered; each placement of a light in the model
// walk gets an `AR_LightInfo` evaluated at that point of the walk, which the
// workers read while shading. A model's calculation routine answers for one
// shading point with an `AR_LightSample` and allocates nothing.
#pragma once

#include <cstdint>
#include <span>

#include "sdl/expr.h"
#include "sdl/parameter_table.h"
#include "sdl/values.h"
#include "shading/shade_point.h"
#include "texture/texture.h"

namespace sky {

struct AR_LightInfo;
struct Body;
struct CameraRecord;
struct PlacedLight;
struct RenderObject;
struct ShadowMap;

// The common parameters, by slot. Slots 55 to 57 hold the deformation
// settings named by synonym pairs, the particle parameters follow from
// LIGHT_PSYS_FIRST.
enum LightSlot : int {
    LIGHT_ACTIVE = 0,
    LIGHT_EMISSION = 1,
    LIGHT_EXCLUSIVE = 2,
    LIGHT_SHADOW = 3,
    LIGHT_COLOR = 4,
    LIGHT_INTENSITY = 5,
    LIGHT_SOFT_SHADOWS = 6,
    LIGHT_SHADOW_SAMPLES = 7,
    LIGHT_USE_SHADOW_MAP = 9,
    LIGHT_RADIUS = 10,
    LIGHT_GLOW_TYPE = 11,
    LIGHT_HALO_TYPE = 12,
    LIGHT_FOG_TYPE = 13,
    LIGHT_GLOW_INTENSITY = 14,
    LIGHT_HALO_INTENSITY = 15,
    LIGHT_FOG_INTENSITY = 16,
    LIGHT_GLOW_SPREAD = 17,
    LIGHT_HALO_SPREAD = 18,
    LIGHT_FOG_SPREAD = 19,
    LIGHT_GLOW_2D_NOISE = 20,
    LIGHT_FOG_2D_NOISE = 21,
    LIGHT_GLOW_RADIAL_NOISE = 22,
    LIGHT_FOG_RADIAL_NOISE = 23,
    LIGHT_GLOW_STAR_LEVEL = 24,
    LIGHT_FOG_STAR_LEVEL = 25,
    LIGHT_GLOW_OPACITY = 26,
    LIGHT_FOG_OPACITY = 27,
    LIGHT_RADIAL_NOISE_FREQUENCY = 28,
    LIGHT_STAR_POINTS = 29,
    LIGHT_GLOW_ROTATION = 30,
    LIGHT_NOISE_USCALE = 31,
    LIGHT_NOISE_VSCALE = 32,
    LIGHT_NOISE_UOFFSET = 33,
    LIGHT_NOISE_VOFFSET = 34,
    LIGHT_NOISE_THRESHOLD = 35,
    LIGHT_SHADOW_COLOR = 36,
    LIGHT_FORCE_TYPE = 37,
    LIGHT_FORCE_INTENSITY = 38,
    LIGHT_DEFORM = 39,
    LIGHT_GLOW_COLOR = 40,
    LIGHT_HALO_COLOR = 41,
    LIGHT_FOG_COLOR = 42,
    LIGHT_FLARE_COLOR = 43,
    LIGHT_FLARE_INTENSITY = 44,
    LIGHT_FLARE_NUM_CIRCLES = 45,
    LIGHT_FLARE_MIN_SIZE = 46,
    LIGHT_FLARE_MAX_SIZE = 47,
    LIGHT_FLARE_COLOR_SPREAD = 48,
    LIGHT_FLARE_FOCUS = 49,
    LIGHT_HEXAGON_FLARE = 50,
    LIGHT_FLARE = 51,
    LIGHT_FLARE_VERTICAL = 52,
    LIGHT_FLARE_HORIZONTAL = 53,
    LIGHT_FLARE_LENGTH = 54,
    LIGHT_DEFORM_INTENSITY = 55,
    LIGHT_DEFORM_STEPS = 56,
    LIGHT_DEFORM_SAMPLE_SIZE = 57,
    LIGHT_PSYS_FIRST = 58,
};
inline constexpr int kLightSlotCount = LIGHT_PSYS_FIRST + 64;

// Which model a light is: the lighting loop's closed set.
enum LightKind : std::int32_t {
    LIGHT_POINT,
    LIGHT_DIRECTIONAL,
    LIGHT_SPOT,
    LIGHT_LINEAR,
    LIGHT_AREA,
    LIGHT_AMBIENT,
    LIGHT_VOLUME,
};

// A row of the light model table.
struct AR_LightModel {
    const char* name;
    // Non-zero when the light reaches the point; fills `sample`.
    int (*calculation)(const AR_LightInfo& light, const AR_ShadePoint& point,
                       AR_LightSample& sample);
    void* (*alloc_node)();
    void* (*alloc_info)();
    // False when the parameter cannot be taken (the routine has printed why,
    // or ended the program itself).
    bool (*parse)(void* node, const char* name, Expr* value);
    // Evaluates the model's parameters for the frame into the model info.
    bool (*eval)(AR_LightInfo& light, void* node, void* model_info);
    // Per frame, before rendering.
    bool (*init)(AR_LightInfo& light);
    bool (*copy)(void* to_info, const void* from_info);
    void (*release)(void* model_info);
    LightKind kind;
    // The model's own parameters: names, defaults, ranges, unknown names.
    const ParameterTable* parameters;
};

inline constexpr int kMaxLightWorkers = 512;

// The light as the parser built it.
struct RR_Light {
    const char* name = nullptr;
    Expr* params[kLightSlotCount] = {};
    void* model_node = nullptr;
    const AR_LightModel* model = nullptr;
    AR_LightInfo* info = nullptr;  // the declared light's last evaluation
    std::int32_t line = 0;
};

// A light evaluated for the frame at one placement.
struct AR_LightInfo {
    const RR_Light* light = nullptr;  // the record it was evaluated from
    const AR_LightModel* model = nullptr;
    LightKind kind = LIGHT_POINT;
    const char* name = nullptr;

    // Every numeric common parameter, after its default and checks.
    float param[kLightSlotCount] = {};
    TexturedColour colour;  // 0..255
    TexturedColour glow_colour, halo_colour, fog_colour, flare_colour;
    Triple shadow_colour;  // 0..255: what a fully shadowed point still receives
    // Per channel, how much of the light a full shadow takes away:
    // 1 − shadow_colour / 255, clamped; made with the colour, since every
    // shadowed sample reads it.
    Triple shadow_depth{1.0f, 1.0f, 1.0f};
    float intensity = 1.0f;
    Triple colour_scale{1.0f, 1.0f, 1.0f};  // intensity × the master light, per channel
    bool on = true;
    bool warned = false;  // a degenerate linear light was reported
    bool casts_shadows = false;
    bool exclusive = false;
    bool has_effects = false;  // glow, halo or flare
    bool has_fog = false;      // light fog
    std::int32_t shadow_samples[kMaxLightWorkers] = {};
    // A spot light's depth map for this frame, owned by the shadow pass;
    // null when the light has none.
    ShadowMap* shadow_map = nullptr;

    // World placement (from the model walk): the light's own frame.
    Matrix4 world_from_light;
    Matrix4 world_from_light_direction;  // rotations and scales only
    Triple world_position;
    // Eye space, for the camera being rendered.
    Matrix4 eye_from_light;
    Matrix4 light_from_eye;
    Matrix4 world_from_eye;
    Triple position;  // the light's origin
    Triple axis[3];   // the light's x, y and z axes (with their scale)

    void* model_info = nullptr;
};

// --- model infos -------------------------------------------------------------------
// What each model's eval routine leaves for its calculation (eye-space
// quantities are filled when the light is prepared for a camera).

// The parameters' values, initial ones included, come from the models'
// parameter tables (shading/lights/*.cpp).
struct PointLightInfo {
    std::int32_t decay = 0;
};

struct DirectionalLightInfo {
    Triple direction;         // as given, the light's own frame
    Triple eye_toward_light;  // unit, eye space: −direction
};

struct SpotLightInfo {
    std::int32_t decay = 0;
    float dropoff = 0.0f;
    float spread = 0.0f;    // full cone angle, degrees
    float penumbra = 0.0f;  // degrees beyond (or within) spread/2
    Triple shine_along;
    Triple up_spot;
    float cone_cos = 0.0f;   // cut-off: nothing below it
    float inner_cos = 0.0f;  // full strength above it
    bool has_penumbra = false;
    Triple eye_axis;  // unit, eye space
    Triple eye_up;
    // Shadow-map settings, for the shadow query.
    std::int32_t shadow_resolution = 0;
    float edge_quality = 0.0f;
    float min_depth = 0.0f;
    float blend_offset = 0.0f;
    std::int32_t fog_samples = 0;
    float size = 0.0f;
    Expr* shadow_output = nullptr;
    Expr* depth_input = nullptr;
    Expr* depth_output = nullptr;
};

// Linear and area lights.
struct ExtendedLightInfo {
    std::int32_t decay = 0;
    float dropoff = 0.0f;
    float spread = 0.0f;  // full angle about the light's axis, degrees
    float spread_cos = -1.0f;
    bool degenerate = false;
};

struct AmbientLightInfo {
    float ambient_shade = 0.0f;
};

enum VolumeShape : std::int32_t {
    BOX_VOLUME = 0,
    SPHERE_VOLUME = 1,
    CYLINDER_VOLUME = 2,
    CONE_VOLUME = 3,
    TORUS_VOLUME = 4,
};

struct VolumeLightInfo {
    std::int32_t shape = 0;
    float decay = 0.0f;
    float decay_start = 0.0f;
    float dropoff = 0.0f;
    float dropoff_start = 0.0f;
    float directionality = 0.0f;
    bool concentric = false;
    bool radial = false;
    float torus_radius = 0.0f;
    float cone_end_radius = 0.0f;
    Triple directional;
    float directional_turbulence = 0.0f;
    bool exclude = false;
    bool specular = false;
    std::int32_t turbulence_type = 0;
    float turbulence_intensity = 0.0f;
    float turbulence_spread = 0.0f;
    float turbulence_persistence = 0.0f;
    float turbulence_space_resolution = 0.0f;
    float turbulence_time_resolution = 0.0f;
    float turbulence_roughness = 0.0f;
    float turbulence_variability = 0.0f;
    float turbulence_granularity = 0.0f;
    bool turbulence_animated = false;
    float time = 0.0f;       // the frame, for animated turbulence
    Triple eye_directional;  // unit, eye space
};

// --- the table ---------------------------------------------------------------------

// The row of an exact model name, or null.
const AR_LightModel* find_light_model(const char* name);
// The rows in table order.
std::span<const AR_LightModel> light_models();
// The parameters every light has (the model's own go to its parse routine).
const ParameterTable& light_common_parameters();

// --- the scene side ------------------------------------------------------------------

// Creates a light of the named model; an unknown model or a row missing a
// routine ends the program.
RR_Light* Rr_create_light(const char* model_name, std::int32_t line);
// Checks a row's routines in the order the messages name them (fatal).
void check_light_model(const AR_LightModel& model);
// Sets one parameter: common names to their slots, others to the model.
void Rr_parse_light(RR_Light& light, const char* name, Expr* value);
// Evaluates the light at the current point of the walk into `info`
// (allocating the model info when it has none). Failures end the program.
void Ar_evaluate_light(const RR_Light& light, AR_LightInfo& info);
// Releases the model info of an evaluated light.
void Ar_release_light_info(AR_LightInfo& info);

// Brings an evaluated light into the camera's eye space, from its world
// placement: `world_from_light` (points) and its direction part.
void Ar_place_light(AR_LightInfo& info, const Matrix4& world_from_light,
                    const Matrix4& world_from_light_direction);
void Ar_prepare_light_for_camera(AR_LightInfo& info, const Matrix4& eye_from_world,
                                 const Matrix4& world_from_eye);

// The environment's master light: every light's colour is scaled by
// `intensity` × `light_color`/255 (defaults 1 and white).
struct MasterLight {
    float intensity = 1.0f;
    Triple colour{255.0f, 255.0f, 255.0f};
};
// The environment's master_light body evaluated for the frame: a value that
// fails keeps its default, and names other than its two are not its own.
MasterLight evaluate_master_light(const Body* body);

// The scene's fog (the environment's `fog` clause): on when the scene has
// one and its `active` is not 0. Evaluated for each camera; a parameter that
// cannot be evaluated ends the program.
struct AR_Atmosphere {
    bool active = false;
    Triple colour{128.0f, 128.0f, 128.0f};
    float density = 0.01f;       // extinction per unit of distance
    float min_distance = 0.0f;   // fog starts here
    float max_distance = 1e30f;  // and is full here
};
void evaluate_atmosphere(const Body* fog, AR_Atmosphere& atmosphere);
const AR_Atmosphere& Ar_atmosphere();

// The frame's light effects, recomputed over the placed lights each frame.
bool Ar_light_effects_active();
bool Ar_light_fog_active();

// --- the frame and the camera ----------------------------------------------------------

// The lights that illuminate `object` for the camera being rendered (empty
// before prepare_lights or for an object it did not see).
std::span<const AR_LightInfo* const> Ar_object_lights(const RenderObject& object);
// Whether the object's light list names the light `light` was evaluated
// from (false for an object without a list).
bool Ar_object_links_light(const RenderObject& object, const RR_Light* light);
// Every light prepared for the camera.
std::span<const AR_LightInfo* const> Ar_camera_lights();

// Per camera: the placed lights into eye space and the objects' light lists.
void prepare_camera_lights(const CameraRecord& camera);
void release_camera_lights();

// The light front end's hooks (bodies into records, LIGHT values, the model
// walk and the frame loop).
void install_light_hooks();
void remove_light_hooks();  // tests

// The lookup of a texture at a shaded point as far as the surface gives it
// alike to every texture: its parameters and their filter widths, the point
// and its normal in object space, the object's name. A shader's lookup adds
// the footprint in space and the surface's shape.
inline TextureLookup surface_lookup(const AR_ShadePoint& shaded) {
    const AR_ShadePoint& point = texture_inputs(shaded);
    TextureLookup at;
    at.u = point.u;
    at.v = point.v;
    at.du = point.du;
    at.dv = point.dv;
    at.point = point.object_point;
    at.normal = point.object_normal;
    at.object_name = point.object_name;
    return at;
}

}  // namespace sky
