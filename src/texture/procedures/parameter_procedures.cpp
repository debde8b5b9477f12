// The procedures whose parameters are read, checked and evaluated every
// frame, but whose pictures are not drawn yet: until each gets its own
// calculation, it gives the neutral result of the frame (the texture's
// `rgbout` and `aout`: black and transparent unless the scene sets them).
//
// Every procedure here is described by a table of its parameters with their
// defaults; one set of routines serves them all. A parameter may be written
// as a number, a colour, a file name or a nested texture, and keeps whichever
// it was given, so the calculations to come find them all evaluated.
#include <cmath>
#include <cstring>
#include <span>
#include <string>

#include "platform/fatal.h"
#include "platform/report.h"
#include "sdl/pool.h"
#include "texture/texture_procedure.h"

namespace sky {
namespace {

struct ProcedureParameter {
    const char* name;
    float x = 0.0f, y = 0.0f, z = 0.0f;  // a scalar's default in x; colours 0..255
};

struct ParameterTable {
    const char* message_name;  // as the unknown-parameter message names the procedure
    const char* node_name;     // as the null-node message names the node
    std::span<const ProcedureParameter> parameters;
    bool colour_spelling;  // `colour` may stand for `color` in the names
};

// What a parameter holds for the frame.
struct ParameterValue {
    TexturedValue value;
    std::string text;  // a file or type name, when written as a string
};

struct ParameterInfo {
    const ParameterTable* table;
    ParameterValue* values;  // one per parameter, in table order
};

struct ParameterNode {
    Expr** expressions;  // one per parameter, null where not written
};

constexpr float kWhite = 255.0f;

#define GREY(v) v, v, v

constexpr ProcedureParameter kBall[] = {
    {"image"},       {"left"},     {"right"},    {"front"},     {"back"},       {"bottom"},
    {"inclination"}, {"altitude"}, {"eyespace"}, {"elevation"}, {"sky_radius"}, {"reflect", 1.0f},
};
constexpr ProcedureParameter kBulge[] = {{"uwidth", 0.1f}, {"vwidth", 0.1f}};
constexpr ProcedureParameter kChrome[] = {
    {"floor_color", 80.0f, 40.0f, 20.0f},
    {"horizon_color", 200.0f, 170.0f, 150.0f},
    {"sky_color", 40.0f, 80.0f, 180.0f},
    {"zenith_color", 10.0f, 30.0f, 90.0f},
    {"light_color", GREY(kWhite)},
    {"grid_color", GREY(kWhite)},
    {"light_width_mult", 1.0f},
    {"light_depth_mult", 1.0f},
    {"light_width_offset"},
    {"light_depth_offset"},
    {"light_width", 0.1f},
    {"light_depth", 0.1f},
    {"grid_width_mult", 1.0f},
    {"grid_depth_mult", 1.0f},
    {"grid_width_offset"},
    {"grid_depth_offset"},
    {"grid_width", 0.1f},
    {"grid_depth", 0.1f},
    {"real_floor"},
    {"floor_altitude", -1.0f},
};
constexpr ProcedureParameter kCloth[] = {
    {"u_thread_width", 0.75f},
    {"v_thread_width", 0.75f},
    {"u_wave"},
    {"v_wave"},
    {"randomness"},
    {"brightness_spread"},
    {"width_spread"},
    {"u_thread_color", GREY(kWhite)},
    {"v_thread_color", GREY(kWhite)},
    {"gap_color"},
};
constexpr ProcedureParameter kCube[] = {
    {"left"},   {"right"},       {"front"},    {"back"},
    {"bottom"}, {"crossOrient"}, {"crossImg"}, {"finiteSize"},
};
constexpr ProcedureParameter kCurvature[] = {
    {"ctype"}, {"curve_type"}, {"ramp"}, {"cscale", 1.0f}, {"cvalue"},
};
constexpr ProcedureParameter kFractal[] = {
    {"threshold"}, {"animated"},      {"level_min"},       {"level_max", 9.0f},
    {"time"},      {"ratio", 0.707f}, {"amplitude", 1.0f},
};
constexpr ProcedureParameter kGeometric[] = {
    {"image"}, {"geometry_type", 1.0f}, {"Rotate"}, {"Scale", 1.0f}, {"Height", 1.0f},
};
constexpr ProcedureParameter kGranite[] = {
    {"density", 1.0f},
    {"threshold", 0.5f},
    {"contrast", 1.0f},
    {"color1", 0.0f, 0.0f, 0.0f},
    {"color2", GREY(128.0f)},
    {"color3", GREY(kWhite)},
    {"filler_color", GREY(180.0f)},
    {"randomness", 1.0f},
    {"creases", 1.0f},
    {"cell_size", 0.15f},
    {"spottyness", 0.3f},
    {"mix_ratio", 0.5f},
};
constexpr ProcedureParameter kGrid[] = {
    {"uwidth", 0.1f}, {"vwidth", 0.1f}, {"contrast", 1.0f}, {"line_color", GREY(kWhite)},
    {"filler_color"},
};
constexpr ProcedureParameter kHighlight[] = {
    {"angle_min"},
    {"angle_max", 90.0f},
    {"hltype"},
    {"hldirection", 0.0f, 0.0f, 1.0f},
    {"hldirection_x"},
    {"hldirection_y"},
    {"hldirection_z", 1.0f},
    {"ramp"},
};
constexpr ProcedureParameter kLeather[] = {
    {"density", 1.0f},
    {"threshold", 0.83f},
    {"contrast", 1.0f},
    {"randomness", 0.5f},
    {"creases", 1.0f},
    {"cell_size", 0.5f},
    {"spottyness", 0.1f},
    {"cell_color", 120.0f, 60.0f, 20.0f},
    {"crease_color", 60.0f, 30.0f, 10.0f},
};
constexpr ProcedureParameter kMarble[] = {
    {"contrast", 0.5f},         {"vein_thickness", 0.1f},   {"diffusion", 0.5f},
    {"vein_color_r", 76.0f},    {"vein_color_g", 0.0f},     {"vein_color_b", 0.0f},
    {"filler_color_r", 255.0f}, {"filler_color_g", 255.0f}, {"filler_color_b", 255.0f},
};
constexpr ProcedureParameter kMount[] = {
    {"level_max", 20.0f},           {"amplitude", 1.0f},
    {"snow_color", GREY(kWhite)},   {"rock_color", 120.0f, 90.0f, 70.0f},
    {"snow_altitude", 0.5f},        {"snow_dropoff", 2.0f},
    {"snow_max_slope", 0.8f},       {"snow_slope", 0.8f},
    {"snow_roughness", 0.4f},       {"snow_fractal_ratio", 0.73f},
    {"boundary_roughness", 0.6f},   {"snow_border_ratio", 0.0f},
    {"rock_amplitude", 1.0f},       {"rock_roughness", 0.707f},
    {"rock_fractal_ratio", 0.707f},
};
constexpr ProcedureParameter kNoise[] = {
    {"threshold"},
    {"animated"},
    {"time"},
    {"amplitude", 1.0f},
};
constexpr ProcedureParameter kRamp[] = {
    {"u_wave"},
    {"v_wave"},
    {"interpolation", 1.0f},
    {"ramp_type"},
    {"noise"},
    {"noise_frequency", 0.5f},
    {"hue_noise"},
    {"hue_noise_frequency", 0.5f},
    {"sat_noise"},
    {"sat_noise_frequency", 0.5f},
    {"val_noise"},
    {"val_noise_frequency", 0.5f},
    {"ramp_color"},
    {"position"},
};
constexpr ProcedureParameter kSCloud[] = {
    {"contrast", 0.5f},           {"color1"},
    {"color2", GREY(kWhite)},     {"level_min"},
    {"level_max", 20.0f},         {"ratio", 0.707f},
    {"amplitude", 1.0f},          {"soft_edges", 1.0f},
    {"transparency_range", 0.5f}, {"center_threshold"},
    {"edge_threshold", 1.0f},     {"xripples", 1.0f},
    {"yripples", 1.0f},           {"zripples", 1.0f},
};
constexpr ProcedureParameter kSFile[] = {
    {"image"},          {"projection", 1.0f}, {"sfile_type"},
    {"level_min"},      {"level_max", 20.0f}, {"ratio", 0.707f},
    {"xripples", 1.0f}, {"yripples", 1.0f},   {"zripples", 1.0f},
    {"xmult", 1.0f},    {"ymult", 1.0f},      {"xoffset"},
    {"yoffset"},        {"xamplitude"},       {"yamplitude"},
};
constexpr ProcedureParameter kSFractal[] = {
    {"threshold"},       {"level_min"},      {"level_max", 20.0f}, {"ratio", 0.707f},
    {"amplitude", 1.0f}, {"xripples", 1.0f}, {"yripples", 1.0f},   {"zripples", 1.0f},
    {"origin_x"},        {"origin_y"},       {"origin_z"},
};
constexpr ProcedureParameter kSky[] = {
    {"air_density", 1.0f},
    {"sky_radius", 1000.0f},
    {"floor_altitude", -1.0f},
    {"cloud_samples", 5.0f},
    {"subcloud_samples", 5.0f},
    {"sky_samples", 5.0f},
    {"sky_density", 1.0f},
    {"dust_density"},
    {"sky_dust_density"},
    {"sky_mist_density"},
    {"sky_brightness", 1.0f},
    {"sky_thickness", 1000.0f},
    {"sky_fiddle"},
    {"sun_azimuth", 145.0f},
    {"sun_elevation", 45.0f},
    {"sun_size", 0.531f},
    {"sun_radius", 1.0f},
    {"sun_blur", 1.0f},
    {"sun_halo_brightness", 0.5f},
    {"sun_halo", 1.0f},
    {"sun_brightness", 1.0f},
    {"floor_samples", 5.0f},
    {"cloud_density", 1.0f},
    {"cloud_power", 1.0f},
    {"cloud_halo_size", 0.5f},
    {"cloud_altitude", 0.2f},
    {"cloud_threshold"},
    {"cloud_brightness", 0.5f},
    {"cloud_sunset_brightness", 0.5f},
    {"sunset_brightness", 1.0f},
    {"cloud_front"},
    {"total_brightness", 1.0f},
    {"has_floor", 1.0f},
    {"floor_texture"},
    {"cloud_texture"},
};
constexpr ProcedureParameter kSMarble[] = {
    {"contrast", 0.5f},
    {"level_min"},
    {"level_max", 20.0f},
    {"ratio", 0.707f},
    {"amplitude", 1.5f},
    {"filler_color", GREY(kWhite)},
    {"vein_color", 76.0f, 0.0f, 0.0f},
    {"vein_thickness", 0.1f},
    {"vein_width", 0.1f},
    {"diffusion", 0.5f},
    {"xripples", 1.0f},
    {"yripples", 1.0f},
    {"zripples", 1.0f},
    {"xmult", 1.0f},
    {"ymult", 1.0f},
    {"xoffset"},
    {"yoffset"},
    {"yamplitude"},
    {"xorigin"},
    {"yorigin"},
    {"zorigin"},
};
constexpr ProcedureParameter kSnow[] = {
    {"threshold", 0.5f},
    {"contrast", 1.0f},
    {"snow_color", GREY(kWhite)},
    {"surface_color", GREY(128.0f)},
    {"vector_x"},
    {"vector_y", 1.0f},
    {"vector_z"},
    {"depth_decay", 5.0f},
    {"thickness", 1.0f},
    {"surface"},
    {"snow"},
};
constexpr ProcedureParameter kSphere[] = {{"image"}, {"flip"}, {"shear_u"}, {"shear_v"}};
constexpr ProcedureParameter kSRock[] = {
    {"contrast", 1.0f},  {"color1"},          {"color2", GREY(kWhite)},
    {"mix_ratio", 0.5f}, {"diffusion", 0.5f}, {"grain_size", 0.01f},
};
constexpr ProcedureParameter kStencil[] = {
    {"image"},
    {"mask"},
    {"threshold"},
    {"mask_blur"},
    {"mask_level", 1.0f},
    {"edge_blend"},
    {"hue_range", 0.5f},
    {"sat_range", 0.5f},
    {"val_range", 0.5f},
    {"key_masking"},
    {"positive_key"},
    {"color_key", GREY(kWhite)},
    {"image_file"},
    {"mask_file"},
};
constexpr ProcedureParameter kSWood[] = {
    {"randomness", 0.5f},
    {"level_min"},
    {"level_max", 20.0f},
    {"ratio", 0.35f},
    {"filler_color", 230.0f, 170.0f, 110.0f},
    {"vein_color", 120.0f, 70.0f, 30.0f},
    {"grain_color", 100.0f, 60.0f, 30.0f},
    {"xripples", 1.0f},
    {"yripples", 1.0f},
    {"zripples", 1.0f},
    {"xmult", 1.0f},
    {"ymult", 1.0f},
    {"xoffset"},
    {"yoffset"},
    {"xamplitude", 0.1f},
    {"yamplitude", 0.1f},
    {"xorigin"},
    {"yorigin"},
    {"zorigin"},
    {"center_u", 0.5f},
    {"center_v", -0.5f},
    {"vein_spread", 0.25f},
    {"grain_contrast", 1.0f},
    {"grain_spacing", 0.01f},
    {"layer_size", 0.02f},
    {"layer_thickness", 0.5f},
    {"layer_randomisation", 0.5f},
    {"layer_growth_time"},
};
constexpr ProcedureParameter kVolume[] = {{"from"}, {"pix_sequence"}, {"mapping"}};
constexpr ProcedureParameter kWater[] = {
    {"reflection_boundary"},
    {"reflections"},
    {"ripple_frequency", 25.0f},
    {"ripple_wavenumber"},
    {"ripple_phase_velocity", 2.5f},
    {"ripple_group_velocity", 1.0f},
    {"ripple_spread_start", 0.005f},
    {"ripple_origin_spread", 0.01f},
    {"ripple_spread_rate", 1.0f},
    {"ripple_amplitude", 0.05f},
    {"ripple_u_origin", 0.5f},
    {"ripple_v_origin", 0.5f},
    {"ripple_time"},
    {"ripple_drop_size", 0.3f},
    {"numwaves", 8.0f},
    {"sub_frequency", 0.125f},
    {"wave_frequency_step"},
    {"wind_u", 1.0f},
    {"wind_v"},
    {"wave_time"},
    {"wave_amplitude", 0.05f},
    {"wave_amplitude_power"},
    {"wave_velocity", 1.0f},
    {"wave_u_origin"},
    {"wave_v_origin"},
    {"frequency", 4.0f},
    {"wavenumber"},
    {"smoothness", 2.0f},
    {"umin"},
    {"umax", 1.0f},
    {"vmin"},
    {"vmax", 1.0f},
};

#undef GREY

constexpr ParameterTable kBallTable{"Ball", "BallNode", kBall, false};
constexpr ParameterTable kBulgeTable{"Bulge", "BulgeNode", kBulge, false};
constexpr ParameterTable kChromeTable{"Chrome", "ChromeNode", kChrome, true};
constexpr ParameterTable kClothTable{"Cloth", "ClothNode", kCloth, true};
constexpr ParameterTable kCubeTable{"Cube", "CubeNode", kCube, false};
constexpr ParameterTable kCurvatureTable{"Curvature", "CurvatureNode", kCurvature, false};
constexpr ParameterTable kFractalTable{"Fractal", "FractalNode", kFractal, false};
constexpr ParameterTable kGeometricTable{"Geometric", "GeometricNode", kGeometric, false};
constexpr ParameterTable kGraniteTable{"sGranite", "GraniteNode", kGranite, false};
constexpr ParameterTable kGridTable{"Grid", "GridNode", kGrid, true};
constexpr ParameterTable kHighlightTable{"Highlight", "HighlightNode", kHighlight, false};
constexpr ParameterTable kLeatherTable{"sLeather", "LeatherNode", kLeather, false};
constexpr ParameterTable kMarbleTable{"Marble", "MarbleNode", kMarble, true};
constexpr ParameterTable kMountTable{"Mount", "MountNode", kMount, false};
constexpr ParameterTable kNoiseTable{"Noise", "NoiseBWNode", kNoise, false};
constexpr ParameterTable kRampTable{"Ramp", "RampNode", kRamp, false};
constexpr ParameterTable kSCloudTable{"sCloud", "sCloudNode", kSCloud, false};
constexpr ParameterTable kSFileTable{"Projection", "sFileNode", kSFile, false};
constexpr ParameterTable kSFractalTable{"sFractal", "sFractalNode", kSFractal, false};
constexpr ParameterTable kSkyTable{"Sky", "SkyNode", kSky, false};
constexpr ParameterTable kSMarbleTable{"sMarble", "sMarbleNode", kSMarble, false};
constexpr ParameterTable kSnowTable{"SnowBW", "SnowBWNode", kSnow, false};
constexpr ParameterTable kSphereTable{"Sphere", "SphereNode", kSphere, false};
constexpr ParameterTable kSRockTable{"sRock", "sRockNode", kSRock, false};
constexpr ParameterTable kStencilTable{"Stencil", "StencilNode", kStencil, false};
constexpr ParameterTable kSWoodTable{"sWood", "sWoodNode", kSWood, false};
constexpr ParameterTable kVolumeTable{"Volume", "VolumeNode", kVolume, false};
constexpr ParameterTable kWaterTable{"Water", "WaterNode", kWater, false};

const ParameterTable& table_of(const AR_TextureInfo& texture) {
    return *static_cast<const ParameterTable*>(texture.procedure->parameters);
}

int parameter_index(const ParameterTable& table, const char* name) {
    auto find = [&](const char* wanted) {
        for (std::size_t i = 0; i < table.parameters.size(); ++i)
            if (std::strcmp(table.parameters[i].name, wanted) == 0) return static_cast<int>(i);
        return -1;
    };
    int index = find(name);
    if (index >= 0 || !table.colour_spelling) return index;
    std::string spelled(name);
    for (std::size_t at = spelled.find("colour"); at != std::string::npos;
         at = spelled.find("colour", at))
        spelled.erase(at + 4, 1);  // colour -> color
    return find(spelled.c_str());
}

void neutral_calculation(const AR_TextureInfo& texture, const TextureCall&, TextureColour& out) {
    texture_default_colour(texture, out);
}

void* alloc_parameter_node(const AR_TextureInfo& texture) {
    const ParameterTable& table = table_of(texture);
    auto* node = sdl_pool().make<ParameterNode>();
    node->expressions = static_cast<Expr**>(
        sdl_pool().allocate(sizeof(Expr*) * (table.parameters.size() + 1), alignof(Expr*)));
    return node;
}

void* alloc_parameter_info(const AR_TextureInfo& texture) {
    const ParameterTable& table = table_of(texture);
    auto* info = sdl_pool().make<ParameterInfo>();
    info->table = &table;
    std::size_t count = table.parameters.size();
    auto* values = static_cast<ParameterValue*>(
        sdl_pool().allocate(sizeof(ParameterValue) * count, alignof(ParameterValue)));
    for (std::size_t i = 0; i < count; ++i) new (&values[i]) ParameterValue();
    info->values = values;
    return info;
}

bool parse_parameter(AR_TextureInfo& texture, void* node, const char* name, Expr* value) {
    const ParameterTable& table = table_of(texture);
    if (node == nullptr) fatal("NIL %s found\n", table.node_name);
    int index = parameter_index(table, name);
    if (index < 0) {
        rptError("ERROR: Unknown parameter in %s: %s\n", table.message_name, name);
        return false;
    }
    static_cast<ParameterNode*>(node)->expressions[index] = value;
    return true;
}

// The Curvature types a name may select.
constexpr const char* kCurvatureTypes[] = {"Gaussian", "Mean", "PrincMin", "PrincMax"};

bool evaluate_curvature_type(AR_TextureInfo& texture, ParameterValue& type) {
    if (type.text.empty() && texture.variant) type.text = texture.variant;
    if (type.text.empty()) return true;  // the numeric `ctype` decides
    for (std::size_t i = 0; i < std::size(kCurvatureTypes); ++i)
        if (type.text == kCurvatureTypes[i]) {
            type.value.scalar = static_cast<float>(i);
            return true;
        }
    fatal("Unknown Texture: Curvature=%s\n", type.text.c_str());
}

void check_highlight_direction(ParameterInfo& info, const ParameterNode& node) {
    const ParameterTable& table = *info.table;
    ParameterValue& direction = info.values[parameter_index(table, "hldirection")];
    // Components written one by one override the vector.
    const char* components[] = {"hldirection_x", "hldirection_y", "hldirection_z"};
    float* axes[] = {&direction.value.colour.x, &direction.value.colour.y,
                     &direction.value.colour.z};
    for (int i = 0; i < 3; ++i) {
        int index = parameter_index(table, components[i]);
        if (node.expressions[index]) *axes[i] = info.values[index].value.scalar;
    }
    Triple& d = direction.value.colour;
    if (!(length(d) > 0.0f)) {
        rptError("Bad highlight direction vector, setting to (0, 0, 1)\n");
        d = Triple{0.0f, 0.0f, 1.0f};
        return;
    }
    d = to_triple(normalise(to_imath(d)));  // each component divided by the length
}

void check_cube_images(const ParameterInfo& info, const ParameterNode& node) {
    for (const char* face : {"left", "right", "front", "back", "bottom", "crossImg"})
        if (node.expressions[parameter_index(*info.table, face)]) return;
    rptError("No pix specified for Cube.\n");
}

bool eval_parameters(AR_TextureInfo& texture) {
    if (texture.procedure_info == nullptr || texture.node == nullptr ||
        texture.node->procedure_node == nullptr) {
        rptError("Internal System Error at %d in %s, Call Support\n", __LINE__, __FILE__);
        return false;
    }
    auto& info = *static_cast<ParameterInfo*>(texture.procedure_info);
    const auto& node = *static_cast<const ParameterNode*>(texture.node->procedure_node);
    const ParameterTable& table = *info.table;
    for (std::size_t i = 0; i < table.parameters.size(); ++i) {
        const ProcedureParameter& parameter = table.parameters[i];
        ParameterValue& value = info.values[i];
        Expr* expression = node.expressions[i];
        value.text.clear();
        if (expression && expression->type == SDL_FILENAME) {
            value.value = TexturedValue{};
            if (!AR_evaluate(SDL_FILENAME, &value.text, expression, nullptr))
                fatal("Error in eval\n");
            continue;
        }
        if (!evaluate_textured_value(expression, Triple{parameter.x, parameter.y, parameter.z},
                                     value.value))
            fatal("Error in eval\n");
    }
    const char* name = texture.procedure->name;
    if (std::strcmp(name, "Curvature") == 0 &&
        !evaluate_curvature_type(texture, info.values[parameter_index(table, "curve_type")]))
        return false;
    if (std::strcmp(name, "Highlight") == 0 || std::strcmp(name, "Directional") == 0)
        check_highlight_direction(info, node);
    if (std::strcmp(name, "Cube") == 0) check_cube_images(info, node);
    return true;
}

bool init_parameters(AR_TextureInfo& texture) {
    const auto& info = *static_cast<const ParameterInfo*>(texture.procedure_info);
    for (std::size_t i = 0; i < info.table->parameters.size(); ++i)
        if (AR_TextureInfo* nested = info.values[i].value.texture) Ar_init_texture(*nested);
    return true;
}

bool copy_parameters(AR_TextureInfo& to, const AR_TextureInfo& from) {
    const auto& source = *static_cast<const ParameterInfo*>(from.procedure_info);
    auto& target = *static_cast<ParameterInfo*>(to.procedure_info);
    if (source.table != target.table) return false;
    for (std::size_t i = 0; i < source.table->parameters.size(); ++i)
        target.values[i] = source.values[i];
    return true;
}

void release_parameters(AR_TextureInfo&) {}  // pool memory: released with the scene

constexpr AR_TextureProcedure row(const char* name, const ParameterTable& table, TextureKind kind,
                                  bool scalar_output = false) {
    return AR_TextureProcedure{name,
                               neutral_calculation,
                               alloc_parameter_node,
                               alloc_parameter_info,
                               parse_parameter,
                               eval_parameters,
                               init_parameters,
                               copy_parameters,
                               release_parameters,
                               kind,
                               scalar_output,
                               &table};
}

// In table order; synonyms share their procedure's routines and parameters.
constexpr AR_TextureProcedure kRows[] = {
    row("Ball", kBallTable, TEXTURE_ENVIRONMENT),
    row("Bulge", kBulgeTable, TEXTURE_SURFACE, true),
    row("Chrome", kChromeTable, TEXTURE_ENVIRONMENT),
    row("Cloth", kClothTable, TEXTURE_SURFACE),
    row("Cube", kCubeTable, TEXTURE_ENVIRONMENT),
    row("Curvature", kCurvatureTable, TEXTURE_SURFACE),
    row("Fractal", kFractalTable, TEXTURE_SURFACE, true),
    row("Geometric", kGeometricTable, TEXTURE_ENVIRONMENT),
    row("Granite", kGraniteTable, TEXTURE_SOLID),
    row("Grid", kGridTable, TEXTURE_SURFACE),
    row("Highlight", kHighlightTable, TEXTURE_SURFACE),
    row("Directional", kHighlightTable, TEXTURE_SURFACE),
    row("Leather", kLeatherTable, TEXTURE_SOLID),
    row("Marble", kMarbleTable, TEXTURE_SURFACE),
    row("Mount", kMountTable, TEXTURE_SURFACE),
    row("Mountain", kMountTable, TEXTURE_SURFACE),
    row("Noise", kNoiseTable, TEXTURE_SURFACE, true),
    row("Ramp", kRampTable, TEXTURE_SURFACE),
    row("sCloud", kSCloudTable, TEXTURE_SOLID),
    row("sFile", kSFileTable, TEXTURE_SOLID),
    row("Projection", kSFileTable, TEXTURE_SOLID),
    row("sFractal", kSFractalTable, TEXTURE_SOLID, true),
    row("Sky", kSkyTable, TEXTURE_ENVIRONMENT),
    row("sMarble", kSMarbleTable, TEXTURE_SOLID),
    row("Snow", kSnowTable, TEXTURE_SOLID),
    row("Sphere", kSphereTable, TEXTURE_ENVIRONMENT),
    row("sRock", kSRockTable, TEXTURE_SOLID),
    row("Stencil", kStencilTable, TEXTURE_SURFACE),
    row("sWood", kSWoodTable, TEXTURE_SOLID),
    row("Volume", kVolumeTable, TEXTURE_SOLID),
    row("Water", kWaterTable, TEXTURE_SURFACE),
};

}  // namespace

const AR_TextureProcedure* parameter_only_procedures(int& count) {
    count = static_cast<int>(std::size(kRows));
    return kRows;
}

}  // namespace sky
