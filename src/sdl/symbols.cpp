// Declaring SDL names: the rules a declaration must pass, the value storage
// each type gets, the predefined constants and system variables, and the
// walk that evaluates every declared value before the first frame.
//
// A scene that redeclares a name keeps the first definition (stage files add
// to the same table), and a declaration whose value does not fit its type is
// dropped without a word: the first use of the name then stops the run.
#include <cstdio>
#include <cstring>
#include <deque>
#include <new>
#include <string>

#include "base/options.h"
#include "platform/fatal.h"
#include "platform/report.h"
#include "sdl/expr_internal.h"
#include "sdl/pool.h"
#include "sdl/sdl_errors.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

template <typename T>
void* make_cells(int count) {
    auto* cells = static_cast<T*>(sdl_pool().allocate(sizeof(T) * count, alignof(T)));
    for (int i = 0; i < count; ++i) new (&cells[i]) T();
    return cells;
}

// Values that own heap memory (file-name strings, transformation step lists)
// live in never-destroyed deques rather than the pool: the pool releases its
// blocks at exit without running destructors, which would strand that memory.
template <typename T>
std::deque<T>& owning_cells() {
    static auto* cells = new std::deque<T>;
    return *cells;
}

template <typename T>
void* make_owning_cell() {
    return &owning_cells<T>().emplace_back();
}

bool is_object_type(std::int32_t type) {
    switch (type) {
        case SDL_LIGHT:
        case SDL_PATCH:
        case SDL_FACE:
        case SDL_POLYSET:
        case SDL_SHADER:
        case SDL_TRIM_CV_CURVE:
        case SDL_PARAM_CV_CURVE:
        case SDL_BOUNDARY_CURVE:
        case SDL_MOTION_CURVE:
            return true;
        default:
            return false;
    }
}

// The animation curve a PARAM_CV_CURVE or motion curve symbol stands for is
// made from the body it was declared with. 0, or why it cannot be made.
constexpr int kCurveWithoutBody = 1;

int create_animation_curve(ObjectValue& curve, const Expr* initialiser) {
    curve.body = object_body(initialiser);
    return curve.body == nullptr ? kCurveWithoutBody : 0;
}

void make_elements(Symbol& array, Expr* dimension) {
    if (dimension == nullptr) fatal("No dimension for array %s.\n", array.name);
    float value = 0;
    if (!AR_evaluate(SDL_SCALAR, &value, dimension, nullptr))
        fatal("Bad dimension for Array %s\n", array.name);
    int count = truncate_to_int(value);
    if (count < 1) fatal("Invalid dimension (%d) for array\n", count);
    // Each element is a full symbol record: a mistyped dimension must not
    // take the machine's memory with it.
    constexpr int kMaxElements = 1 << 20;
    if (count > kMaxElements)
        fatal("Invalid dimension (%d) for array %s: at most %d elements\n", count, array.name,
              kMaxElements);
    auto* elements =
        static_cast<Symbol*>(sdl_pool().allocate(sizeof(Symbol) * count, alignof(Symbol)));
    std::string name;
    for (int i = 0; i < count; ++i) {
        Symbol* element = new (&elements[i]) Symbol();
        name.assign(array.name);
        name += '[';
        name += std::to_string(i);
        name += ']';
        element->name = pool_copy_string(name);
    }
    array.initialiser = dimension;
    array.element_count = count;
    array.elements = elements;
}

// False when the declaration is dropped.
bool make_storage(Symbol& symbol, Expr* initialiser) {
    std::int32_t type = symbol.type;
    if (initialiser == nullptr || initialiser->type != type) return false;
    symbol.initialiser = initialiser;
    if (type == SDL_TRIM_FACE) return true;  // kept by its patch, no storage of its own
    symbol.value = make_value_storage(type);
    if (symbol.value == nullptr) return false;  // cameras and the structural types
    if (type == SDL_SCALAR) {
        float value = 0;
        if (!AR_evaluate(SDL_SCALAR, &value, initialiser, nullptr)) return false;
        auto* cells = static_cast<float*>(symbol.value);
        cells[0] = cells[1] = value;
    } else if (is_object_type(type)) {
        auto* object = static_cast<ObjectValue*>(symbol.value);
        object->type = type;
        object->name = symbol.name;
        object->body = object_body(initialiser);
        if (type == SDL_PARAM_CV_CURVE || type == SDL_MOTION_CURVE) {
            if (int error = create_animation_curve(*object, initialiser)) {
                rptError("ERROR [%d] : Can't create parameter curve !\n\n", error);
                run_cleanup_handlers();
                exit_process(1);
            }
        }
    }
    return true;
}

// Predefined names and the values a scene reads before it assigns to them.
// symbols_test.cpp checks a sample of them against a list of its own, on
// purpose: a test that read this table would only check the table.
struct Predefined {
    const char* name;
    float value;
};

constexpr Predefined kConstants[] = {
    {"TRUE", 1},
    {"FALSE", 0},
    {"ON", 1},
    {"OFF", 0},
    {"blinn", 1},
    {"lightsource", 2},
    {"lambert", 3},
    {"phong", 4},
    {"adaptive", 1},
    {"uniform", 0},
    {"PLANAR", 1},
    {"SPHERICAL", 2},
    {"CYLINDRICAL", 3},
    {"BALL", 4},
    {"CUBIC", 5},
    {"TRIPLANAR", 6},
    {"CONCENTRIC", 7},
    {"CAMERA_CD", 8},
    {"NONE", 0},
    {"LINEAR_RAMP", 1},
    {"RAMP_UP", 2},
    {"RAMP_DOWN", 3},
    {"SMOOTH", 4},
    {"BUMP_OUT", 5},
    {"BUMP_IN", 6},
    {"DIRECTIONAL", 0},
    {"VOLUMETRIC", 1},
    {"V_RAMP", 0},
    {"U_RAMP", 1},
    {"DIAGONAL", 2},
    {"CIRCULAR", 4},
    {"BOX", 5},
    {"RADIAL", 3},
    {"TARTAN", 9},
    {"UxV_RAMP", 6},
    {"FOUR_CORNER", 8},
    {"BLEND_FILTER", 1},
    {"BOX_FILTER", 2},
    {"QUADRATIC_FILTER", 3},
    {"QUARTIC_FILTER", 4},
    {"GAUSS_FILTER", 5},
    {"LINEAR_GLOW", 1},
    {"EXPONENTIAL_GLOW", 2},
    {"BALL_GLOW", 3},
    {"LENS_FLARE", 4},
    {"RIM_HALO", 5},
    {"SPECTRAL", 4},
    {"RAINBOW", 5},
    {"MAX_MIN", 3},
    {"LAYERED", 2},
    {"CONSTANT", 1},
    {"BOX_VOLUME", 0},
    {"SPHERE_VOLUME", 1},
    {"CYLINDER_VOLUME", 2},
    {"CONE_VOLUME", 3},
    {"TORUS_VOLUME", 4},
    {"GAS", 0},
    {"SOLID", 2},
    {"HAIR", 3},
    {"THIN_GAS", 0},
    {"CLOUD", 1},
    {"BLOBBY_SURFACE", 2},
    {"THICK_CLOUD", 3},
    {"TUBE", 4},
    {"CONSTANT_LIGHTING", 0},
    {"ILLUMINATED", 1},
    {"SELF_SHADOWING", 2},
    {"GRAVITY", 1},
    {"MAGNET", 2},
    {"WIND", 3},
    {"DRAG", 4},
    {"DAMP", 5},
    {"TRANSFORMED", 2},
    {"RUNUP", 4},
    {"EMIT", 8},
    {"EMIT_XFORMED", 16},
    {"PER_TRIANGLE", 1},
    {"PER_PIXEL", 2},
    {"FULL", 1},
    {"PARTIAL", 2},
    {"AUTOMATIC", 0},
    {"TOP_LEVEL", 1},
    {"NTH_ROOT", 2},
    {"SHOWROOM", 3},
    {"PER_TEXTURE", 2},
    {"BOUNCE", 0},
    {"DIE", 1},
    {"SPLIT", 2},
    {"SPLIT_SKIM", 3},
    {"xaxis", 1},
    {"yaxis", 2},
    {"zaxis", 3},
    {"DOME_GEOMETRY", 1},
    {"CYLINDER_GEOMETRY", 2},
    {"TAN_FAST", 1},
    {"TAN_FIXED", 2},
    {"TAN_FLAT", 4},
    {"TAN_IN_OUT", 8},
    {"TAN_LINEAR", 16},
    {"TAN_SLOW", 17},
    {"TAN_SMOOTH", 18},
    {"TAN_STEP", 20},
    {"TAN_UNKNOWN", 4096},
    {"PRE_OSCILLATE", 256},
    {"PRE_CONSTANT", 512},
    {"PRE_CYCLE", 1024},
    {"PRE_LINEAR", 2048},
    {"PRE_IDENTITY", 4096},
    {"PRE_CYCLE_OFFSET", 8192},
    {"UNKNOWN", 0},
    {"POST_OSCILLATE", 1},
    {"POST_CONSTANT", 2},
    {"POST_CYCLE", 4},
    {"POST_LINEAR", 8},
    {"POST_IDENTITY", 16},
    {"POST_CYCLE_OFFSET", 32},
    {"QUORL", 1},
    {"Quorl", 1},
    {"quorl", 1},
    {"TIFF", 4},
    {"Tiff", 4},
    {"tiff", 4},
    {"TIFF16", 5},
    {"Tiff16", 5},
    {"tiff16", 5},
    {"SGI", 2},
    {"Sgi", 2},
    {"sgi", 2},
    {"RLA", 9},
    {"Rla", 9},
    {"rla", 9},
    {"FIDO", 0},
    {"Fido", 0},
    {"fido", 0},
    {"HARRY", 0},
    {"Harry", 0},
    {"harry", 0},
    {"OMF", 0},
    {"Omf", 0},
    {"omf", 0},
    {"FIT", 0},
    {"Fit", 0},
    {"fit", 0},
    {"LEAF", 1},
    {"JOINT", 2},
    {"NO_COLLISIONS", 1},
    {"GEOMETRY_COLLISIONS", 1},
    {"BOUNDING_BOX_COLLISIONS", 2},
};

constexpr Predefined kSystemVariables[] = {
    {"startframe", 0},     {"endframe", 0},        {"byframe", 0},
    {"frame", 0},          {"aalevelmin", 0},      {"aalevelmax", 0},
    {"aathreshold", 0},    {"post_center", 8},     {"post_adjacent", 1},
    {"post_diagonal", 1},  {"xleft", 0},           {"xright", 0},
    {"ylow", 0},           {"yhigh", 0},           {"version", 6},
    {"motion_blur_on", 0}, {"shutter_angle", 0},   {"trans_depth", 0},
    {"trans_percent", 1},  {"keep_noglow", 0},     {"spot_memory", 0},
    {"spot_depth", 0},     {"ignore_filmgate", 0}, {"gamma_correction", 1},
    {"atten_trans", 1},    {"stereo_parallel", 0}, {"invisible_objects_cast_shadows", 0},
};

bool is_initialised_by_walk(std::int32_t type) {
    switch (type) {
        case SDL_SCALAR:
        case SDL_TRIPLE:
        case SDL_CV:
        case SDL_TRIM_CV:
        case SDL_PARAM_CV:
        case SDL_FILENAME:
        case SDL_TEXTURE:
        case SDL_TRIM_CV_CURVE:
        case SDL_PARAM_CV_CURVE:
        case SDL_BOUNDARY_CURVE:
        case SDL_MOTION_CURVE:
            return true;
        default:
            return false;
    }
}

// Evaluated by their own passes each frame, or filled by the scene walk
// (transformations) and by assignments (array elements).
bool is_skipped_by_walk(std::int32_t type) {
    switch (type) {
        case SDL_LIGHT:
        case SDL_PATCH:
        case SDL_FACE:
        case SDL_CAMERA:
        case SDL_SHADER:
        case SDL_TRIM_FACE:
        case SDL_POLYSET:
        case SDL_TRANSFORM:
        case SDL_ARRAY:
            return true;
        default:
            return false;
    }
}

[[noreturn]] void stop_silently() {
    run_cleanup_handlers();
    exit_process(1);
}

}  // namespace

void* make_value_storage(std::int32_t type) {
    switch (type) {
        case SDL_SCALAR:
            return make_cells<float>(2);  // current, initial
        case SDL_TRIPLE:
            return make_cells<Triple>(2);
        case SDL_CV:
            return make_cells<CvValue>(2);
        case SDL_TRIM_CV:
            return make_cells<TrimCvValue>(1);
        case SDL_PARAM_CV:
            return make_cells<ParamCvValue>(1);
        case SDL_FILENAME:
            return make_owning_cell<std::string>();
        case SDL_TRANSFORM:
            return make_owning_cell<TransformValue>();
        case SDL_TEXTURE:
            return make_cells<TextureValue>(1);
        default:
            return is_object_type(type) ? make_cells<ObjectValue>(1) : nullptr;
    }
}

bool Declare(const char* name, std::int32_t type, Expr* initialiser) {
    if (find_symbol(name) != nullptr) {
        sdl_warning("Variable %s exists, redefinition ignored\n", name);
        return false;
    }
    Symbol* symbol = sdl_pool().make<Symbol>();
    symbol->name = name;
    symbol->type = type;
    if (type == SDL_TRANSFORM) {
        symbol->value = make_value_storage(SDL_TRANSFORM);  // identity until the scene walk
    } else if (type == SDL_ARRAY) {
        make_elements(*symbol, initialiser);
    } else if (!make_storage(*symbol, initialiser)) {
        return false;
    }
    append_declared_symbol(symbol);
    return insert_symbol(symbol);
}

Symbol* predefine_scalar(const char* name, float value) {
    Symbol* symbol = sdl_pool().make<Symbol>();
    symbol->name = name;
    symbol->type = SDL_SCALAR;
    symbol->system = 1;
    auto* cells = static_cast<float*>(make_value_storage(SDL_SCALAR));
    cells[0] = cells[1] = value;
    symbol->value = cells;
    insert_symbol(symbol);  // an existing name keeps its first definition
    return symbol;
}

void set_system_scalar(const char* name, float value) {
    Symbol* symbol = find_symbol(name);
    if (symbol == nullptr || symbol->type != SDL_SCALAR || symbol->value == nullptr)
        fatal("ERROR: Bad variable %s\n", name);
    symbol->scalar() = value;
}

void publish_system_variables(const RenderOptions& options) {
    set_system_scalar("startframe", options.startframe);
    set_system_scalar("endframe", options.endframe);
    set_system_scalar("byframe", options.byframe);
    set_system_scalar("frame", options.frame);
    set_system_scalar("aalevelmin", static_cast<float>(options.aalevelmin));
    set_system_scalar("aalevelmax", static_cast<float>(options.aalevelmax));
    set_system_scalar("aathreshold", options.aathreshold);
    set_system_scalar("xleft", static_cast<float>(options.xleft));
    set_system_scalar("xright", static_cast<float>(options.xright));
    set_system_scalar("ylow", static_cast<float>(options.ylow));
    set_system_scalar("yhigh", static_cast<float>(options.yhigh));
}

bool is_constant_value(const Expr* node) {
    if (is_literal(node)) return true;
    if (node == nullptr || node->kind != &kVariableKind || node->symbol == nullptr) return false;
    const Symbol& symbol = *node->symbol;
    if (symbol.system != 1 || symbol.name == nullptr) return false;
    for (const Predefined& constant : kConstants)
        if (std::strcmp(constant.name, symbol.name) == 0) return true;
    return false;
}

void register_predefined_symbols() {
    for (const Predefined& constant : kConstants) predefine_scalar(constant.name, constant.value);
    if (Declare("sdl_identity_matrix", SDL_TRANSFORM, nullptr))
        find_symbol("sdl_identity_matrix")->system = 1;
    for (const Predefined& variable : kSystemVariables)
        predefine_scalar(variable.name, variable.value);
}

void initialise_declared_values() {
    for (Symbol* symbol : declared_symbols()) {
        std::int32_t type = symbol->type;
        if (is_skipped_by_walk(type)) continue;
        if (!is_initialised_by_walk(type)) fatal("Cannot initialize symbol type %d\n", type);
        // A damaged record: Declare never keeps one like it.
        if (symbol->initialiser == nullptr || symbol->initialiser->type != type ||
            symbol->value == nullptr)
            stop_silently();
        if (!AR_evaluate(type, symbol->value, symbol->initialiser, nullptr)) stop_silently();
    }
}

void for_each_declared(std::int32_t type, const std::function<void(Symbol&)>& visit) {
    for (Symbol* symbol : declared_symbols())
        if (symbol->type == type) visit(*symbol);
}

void reset_symbol_storage() {
    owning_cells<std::string>().clear();
    owning_cells<TransformValue>().clear();
}

}  // namespace sky
