// The texture frame: texture records made from the scene's bodies, their
// common parameters, and their evaluation for a frame.
//
// The parser keeps a body as written; when a texture body closes, the hook
// installed here makes its record and hands each parameter to
// Rr_parse_texture, so an unknown parameter stops the run while the scene is
// read, as it always has. The record is kept in the body's `definition`, so
// every TEXTURE value that carries the body (variables, copies) shares it.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "base/routine_rows.h"
#include "platform/fatal.h"
#include "platform/report.h"
#include "scene/scene_hooks.h"
#include "sdl/body.h"
#include "sdl/builder.h"
#include "sdl/pool.h"
#include "sdl/sdl_errors.h"
#include "sdl/symbols.h"
#include "texture/procedure_names.h"
#include "texture/texture.h"
#include "texture/texture_cache.h"
#include "texture/texture_procedure.h"

namespace sky {
namespace {

using enum ParameterType;

#define FRAME(index, member) .slot = (index), .store = SKY_FIELD(TextureFrameValues, member)

// The common parameters, in the order they are evaluated: placement first,
// then the multipliers and offsets, which may be textures of their own.
// `wrap` is a name of its own: it sets both wrap slots.
constexpr Parameter kCommonRows[] = {
    {.name = "ucoverage",
     .value = {1.0f},
     FRAME(SLOT_UCOVERAGE, ucoverage),
     .description = "Fraction of the surface's u range the texture covers."},
    {.name = "vcoverage",
     .value = {1.0f},
     FRAME(SLOT_VCOVERAGE, vcoverage),
     .description = "Fraction of the v range the texture covers."},
    {.name = "urepeat",
     .value = {1.0f},
     FRAME(SLOT_UREPEAT, urepeat),
     .description = "Repetitions across the covered u range."},
    {.name = "vrepeat",
     .value = {1.0f},
     FRAME(SLOT_VREPEAT, vrepeat),
     .description = "Repetitions across the covered v range."},
    {.name = "utranslate",
     FRAME(SLOT_UTRANSLATE, utranslate),
     .description = "Placement of the covered range across u."},
    {.name = "vtranslate",
     FRAME(SLOT_VTRANSLATE, vtranslate),
     .description = "Placement of the covered range across v."},
    {.name = "uoffset",
     .also = "blend",
     FRAME(SLOT_UOFFSET, uoffset),
     .description = "Offset of the texture within its frame across u."},
    {.name = "voffset",
     FRAME(SLOT_VOFFSET, voffset),
     .description = "Offset of the texture within its frame across v."},
    {.name = "rgbout",
     .type = COLOUR,
     FRAME(SLOT_RGBOUT, rgbout),
     .description = "Colour where the texture does not reach, and of a procedure not drawn yet."},
    {.name = "aout", FRAME(SLOT_AOUT, aout), .description = "Alpha there."},
    {.name = "uwrap",
     .type = FLAG,
     .value = {1.0f},
     FRAME(SLOT_UWRAP, uwrap),
     .description = "Repeat beyond the covered u range; `wrap` sets both."},
    {.name = "vwrap",
     .type = FLAG,
     .value = {1.0f},
     FRAME(SLOT_VWRAP, vwrap),
     .description = "Repeat beyond the covered v range; `wrap` sets both."},
    {.name = "blurmult",
     .value = {1.0f},
     FRAME(SLOT_BLURMULT, blurmult),
     .description = "Multiplier of the filter width."},
    {.name = "bluroffset",
     FRAME(SLOT_BLUROFFSET, bluroffset),
     .description = "Added to the filter width."},
    {.name = "chord_length",
     .also = "chordTexture",
     .type = FLAG,
     FRAME(SLOT_CHORD_LENGTH, chord_length),
     .description = "Patches: (u, v) by the length of the control net rather than the "
                    "parameter."},
    {.name = "rotate",
     FRAME(SLOT_ROTATE, rotate),
     .description = "Rotation of the frame, degrees."},
    {.name = "active",
     .type = FLAG,
     .value = {1.0f},
     FRAME(SLOT_ACTIVE, active),
     .description = "Off: the texture is not looked up and the parameter keeps its plain value."},
    {.name = "mirror",
     .type = FLAG,
     FRAME(SLOT_MIRROR, mirror),
     .description = "Mirror alternate repetitions."},
    {.name = "stagger",
     .type = FLAG,
     FRAME(SLOT_STAGGER, stagger),
     .description = "Stagger alternate rows."},
    {.name = "invert",
     .type = FLAG,
     FRAME(SLOT_INVERT, invert),
     .description = "Invert the result: 255 − colour, 1 − alpha."},
    {.name = "transformation_name",
     .also = "xform_name",
     .type = EXPRESSION,
     .slot = SLOT_TRANSFORMATION_NAME,
     .description = "Placement of a solid texture: a transformation, or its name."},
    {.name = "amult",
     .type = VALUE,
     .value = grey(1.0f),
     FRAME(SLOT_AMULT, amult),
     .description = "Alpha multiplier, or a texture whose colour and alpha multiply."},
    {.name = "aoffset",
     .type = VALUE,
     FRAME(SLOT_AOFFSET, aoffset),
     .description = "Alpha offset, or a texture whose colour and alpha are added."},
    {.name = "rgbmult",
     .type = VALUE,
     .value = grey(1.0f),
     FRAME(SLOT_RGBMULT, rgbmult),
     .description = "Colour multiplier, or a texture."},
    {.name = "rgboffset",
     .type = VALUE,
     FRAME(SLOT_RGBOFFSET, rgboffset),
     .description = "Colour offset (0..255), or a texture."},
    {.name = "color_remap",
     .type = TEXTURE,
     FRAME(SLOT_COLOR_REMAP, color_remap),
     .description = "A texture looked up with the result's hue and alpha, replacing its colour."},
    {.name = "smear_map",
     .type = TEXTURE,
     FRAME(SLOT_SMEAR_MAP, smear_map),
     .description = "A texture whose result offsets the lookup."},
    {.name = "overlay",
     .type = TEXTURE,
     FRAME(SLOT_OVERLAY, overlay),
     .description = "A texture composited over the result, and shown beyond the covered area."},
};
#undef FRAME
static_assert(rows_are_consistent(kCommonRows));

constexpr ParameterTable kCommonTable{kCommonRows, nullptr, UnknownName::QUIET};

[[noreturn]] void evaluation_failure(const AR_TextureInfo& texture, int slot) {
    char what[96];
    std::snprintf(what, sizeof what, "texture %s: parameter slot %d does not evaluate",
                  texture.name ? texture.name : "?", slot);
    internal_error(__FILE__, __LINE__, what);
}

// How much a matrix scales lengths: the mean length of its three axes.
float length_scale(const Matrix4& m) {
    float sum = 0.0f;
    for (int row = 0; row < 3; ++row)
        sum += length(Triple{m.m[4 * row], m.m[4 * row + 1], m.m[4 * row + 2]});
    return sum / 3.0f;
}

// Solid textures placed by a transformation's name wait for the walk to
// give that transformation its value: the names are looked up once the walk
// is over, as the objects' placements are built. Main thread only.
std::vector<AR_TextureInfo*>& named_placements() {
    static auto* pending = new std::vector<AR_TextureInfo*>;
    return *pending;
}

// The named transformation variable's placement, or unplaced with a warning
// (once per name and run) when the name is not one.
void place_by_name(AR_TextureInfo& texture) {
    TextureFrameValues& f = texture.frame;
    if (f.transformation_name == nullptr) return;
    const Symbol* symbol = find_symbol(f.transformation_name);
    Matrix4 inverse;
    if (symbol && symbol->type == SDL_TRANSFORM && symbol->value &&
        Ar_invert_matrix(static_cast<const TransformValue*>(symbol->value)->model, inverse)) {
        f.texture_from_object = inverse;
        f.texture_scale = length_scale(inverse);
        return;
    }
    static auto* said = new std::set<std::string>;
    if (said->insert(f.transformation_name).second)
        rptError(
            "Warning: texture placement '%s' is not a transformation that can be inverted; the "
            "texture is not placed\n",
            f.transformation_name);
}

void build_texture_placements(RenderObject&) {
    std::vector<AR_TextureInfo*>& pending = named_placements();
    for (AR_TextureInfo* texture : pending) place_by_name(*texture);
    pending.clear();
}

// The placement of a solid texture: a transformation, or the name of one.
bool evaluate_placement_transformation(AR_TextureInfo& texture) {
    TextureFrameValues& f = texture.frame;
    f.texture_from_object = Matrix4{};
    f.texture_scale = 1.0f;
    f.transformation_name = nullptr;
    Expr* expression = texture.node->slots[SLOT_TRANSFORMATION_NAME];
    if (expression == nullptr) return true;
    if (expression->type == SDL_TRANSFORM) {
        TransformValue placement;
        if (!AR_evaluate(SDL_TRANSFORM, &placement, expression, nullptr)) return false;
        // The placement puts the texture in the world: points go the other way.
        f.texture_from_object = placement.inverse_model;
        f.texture_scale = length_scale(f.texture_from_object);
        return true;
    }
    std::string name;
    if (!AR_evaluate(SDL_FILENAME, &name, expression, nullptr)) return false;
    f.transformation_name = pool_copy_string(name);
    std::vector<AR_TextureInfo*>& pending = named_placements();
    if (texture.procedure->kind == TEXTURE_SOLID &&
        std::find(pending.begin(), pending.end(), &texture) == pending.end())
        pending.push_back(&texture);
    return true;
}

// The routines a procedure must have, in the order they are checked.
constexpr RoutineCheck kProcedureRoutines[] = {
    {Routine::CALCULATION, "Missing %s Texture Calculation routine\n"},
    {Routine::ALLOC_NODE, "Missing %s Texture Allocate_node routine\n"},
    {Routine::ALLOC_INFO, "Missing %s Texture Allocate_info routine\n"},
    {Routine::PARSE, "Missing %s Texture Parse routine\n"},
    {Routine::EVAL, "Missing %s Texture Eval routine\n"},
    {Routine::INIT, "Missing %s Texture Init routine\n"},
    {Routine::COPY, "Missing %s Texture Copy routine\n"},
};

// Turns a closed texture body into its record. A body whose procedure was
// unknown has been reported by the parser and makes no record.
void finish_texture_body(Body& body) {
    if (body.type != SDL_TEXTURE || body.model == nullptr) return;
    if (find_texture_procedure(body.model) == nullptr) return;
    AR_TextureInfo* texture = Rr_create_texture(body.model, body.line);
    for (const BodyItem& item : body.items)
        if (item.name) Rr_parse_texture(texture, item.name, item.value, item.line);
    body.definition = texture;
}

}  // namespace

AR_TextureInfo* Rr_create_texture(const char* procedure_name, std::int32_t line) {
    const AR_TextureProcedure* procedure = find_texture_procedure(procedure_name);
    if (procedure == nullptr) fatal("Unknown Texture : %s\n", procedure_name ? procedure_name : "");
    check_routines(*procedure, kProcedureRoutines);
    const char* name = procedure->name;

    auto* texture = sdl_pool().make<AR_TextureInfo>();
    texture->procedure = procedure;
    texture->name = pool_copy_string(procedure_name);
    texture->line = line;
    // `Gaussian`, `SnowBW` and the like select a procedure with a setting.
    if (std::strcmp(procedure_name, name) != 0) texture->variant = texture->name;
    texture->node = sdl_pool().make<RR_TextureNode>();
    texture->node->procedure = procedure;
    texture->node->procedure_node = procedure->alloc_node(*texture);
    if (texture->node->procedure_node == nullptr)
        fatal("Could not alloc user_texture_node for %s\n", name);
    texture->procedure_info = procedure->alloc_info(*texture);
    if (texture->procedure_info == nullptr)
        fatal("could not alloc user_texture_info for %s\n", name);
    return texture;
}

void Rr_parse_texture(AR_TextureInfo* texture, const char* name, Expr* value, std::int32_t line) {
    if (texture == nullptr || name == nullptr || value == nullptr)
        fatal("NIL args received in Rr_parse_texture\n");
    RR_TextureNode& node = *texture->node;
    if (std::strcmp(name, "wrap") == 0) {
        node.slots[SLOT_UWRAP] = node.slots[SLOT_VWRAP] = value;
        node.slot_lines[SLOT_UWRAP] = node.slot_lines[SLOT_VWRAP] = line;
        return;
    }
    int row = find_parameter(kCommonRows, name);
    if (row >= 0) {
        int slot = slot_of(kCommonRows, row);
        node.slots[slot] = value;
        node.slot_lines[slot] = line;
        return;
    }
    const AR_TextureProcedure& procedure = *texture->procedure;
    if (procedure.parse == nullptr) fatal("No parse routine for %s\n", name);
    if (node.procedure_node == nullptr) {
        if (procedure.alloc_node == nullptr)
            fatal("No alloc_node routine for %s\n", procedure.name);
        node.procedure_node = procedure.alloc_node(*texture);
        if (node.procedure_node == nullptr)
            fatal("Could not alloc user_texture_node for %s\n", procedure.name);
    }
    if (!procedure.parse(*texture, node.procedure_node, name, value))
        fatal("Couldn't parse %s\n", name);
}

void Ar_evaluate_texture(AR_TextureInfo& texture) {
    for (const Parameter& row : kCommonRows) {
        Expr* expression = texture.node->slots[row.slot];
        bool ok = false;
        if (row.type == EXPRESSION)
            ok = evaluate_placement_transformation(texture);
        else if (row.type == VALUE || row.type == TEXTURE || row.type == COLOUR)
            ok = evaluate_texture_parameter(row, expression, &texture.frame);
        else
            ok = evaluate_parameter(row, expression, &texture.frame);
        if (!ok) evaluation_failure(texture, row.slot);
    }

    const AR_TextureProcedure& procedure = *texture.procedure;
    if (texture.procedure_info == nullptr) {
        if (procedure.alloc_info == nullptr) fatal("No alloc_info rtn for %s\n", procedure.name);
        texture.procedure_info = procedure.alloc_info(texture);
        if (texture.procedure_info == nullptr)
            fatal("Couldn't alloc stucture for %s\n", procedure.name);
    }
    if (procedure.eval == nullptr) fatal("No eval for %s\n", procedure.name);
    if (!procedure.eval(texture)) fatal("Problem in eval of for %s\n", procedure.name);
}

namespace {

void init_nested(AR_TextureInfo* texture) {
    if (texture) Ar_init_texture(*texture);
}

}  // namespace

void Ar_init_texture(AR_TextureInfo& texture) {
    TextureFrameValues& f = texture.frame;
    init_nested(f.amult.texture);
    init_nested(f.aoffset.texture);
    init_nested(f.rgbmult.texture);
    init_nested(f.rgboffset.texture);
    init_nested(f.color_remap);
    init_nested(f.smear_map);
    init_nested(f.overlay);
    // The procedure initialises the textures among its own parameters.
    if (!texture.procedure->init(texture))
        fatal("Error in init of texture %s\n", texture.procedure->name);
}

const ParameterTable& texture_common_parameters() {
    return kCommonTable;
}

bool evaluate_texture_parameter(const Parameter& row, Expr* expression, void* record) {
    char* field = static_cast<char*>(record) + row.store.offset;
    switch (row.type) {
        case VALUE:
            return evaluate_textured_value(expression, row.value,
                                           *reinterpret_cast<TexturedValue*>(field));
        case TEXTURE: {
            auto& texture = *reinterpret_cast<AR_TextureInfo**>(field);
            texture = nullptr;
            if (expression == nullptr) return true;
            TexturedValue value;
            if (!evaluate_textured_value(expression, Triple{}, value)) return false;
            texture = value.texture;
            return true;
        }
        case COLOUR: {
            auto& colour = *reinterpret_cast<Triple*>(field);
            colour = row.value;
            if (expression && expression->type == SDL_SCALAR) {
                float grey = 0.0f;
                if (!AR_evaluate(SDL_SCALAR, &grey, expression, nullptr)) return false;
                colour = Triple{grey, grey, grey};
                return true;
            }
            return expression == nullptr || AR_evaluate(SDL_TRIPLE, &colour, expression, nullptr);
        }
        default:
            return false;
    }
}

AR_TextureInfo* texture_of(const TextureValue& value) {
    if (value.constant || value.body == nullptr) return nullptr;
    return static_cast<AR_TextureInfo*>(const_cast<void*>(value.body->definition));
}

bool evaluate_textured_value(Expr* expression, const Triple& default_value, TexturedValue& result) {
    result = TexturedValue{default_value, default_value.x, nullptr};
    if (expression == nullptr) return true;
    switch (expression->type) {
        case SDL_SCALAR: {
            float s = 0.0f;
            if (!AR_evaluate(SDL_SCALAR, &s, expression, nullptr)) return false;
            result.colour = Triple{s, s, s};
            result.scalar = s;
            return true;
        }
        case SDL_TRIPLE: {
            if (!AR_evaluate(SDL_TRIPLE, &result.colour, expression, nullptr)) return false;
            result.scalar = result.colour.x;
            return true;
        }
        default: {
            TextureValue value;
            if (!AR_evaluate(SDL_TEXTURE, &value, expression, nullptr)) return false;
            if (value.constant) {
                result.colour = value.colour;
                result.scalar = value.colour.x;
                return true;
            }
            result.texture = texture_of(value);
            // A body that made no record (an unknown procedure) cannot be
            // here: the parse that read it failed.
            if (result.texture == nullptr) return false;
            Ar_evaluate_texture(*result.texture);
            return true;
        }
    }
}

bool Ar_evaluate_textured_colour(Expr* expression, const Triple& default_colour,
                                 TexturedColour& slot) {
    slot = TexturedColour{default_colour, nullptr};
    if (expression == nullptr) return true;
    TextureValue value;
    if (!AR_evaluate(SDL_TEXTURE, &value, expression, nullptr)) return false;
    if (value.constant) {
        slot.colour = value.colour;
        return true;
    }
    slot.texture = texture_of(value);
    if (slot.texture == nullptr) return false;
    Ar_evaluate_texture(*slot.texture);
    return true;
}

void texture_default_colour(const AR_TextureInfo& texture, TextureColour& out) {
    out.r = texture.frame.rgbout.x;
    out.g = texture.frame.rgbout.y;
    out.b = texture.frame.rgbout.z;
    out.alpha = texture.frame.aout;
    out.vector[0] = out.vector[1] = 0.0f;
}

namespace {

// The hooks of the texture subsystem, listed once so that removing them
// cannot miss one: set, or cleared again.
void set_texture_hooks(bool on) {
    set_texture_body_finisher(on ? finish_texture_body : nullptr);
    set_texture_procedure_check(on ? texture_procedure_exists : nullptr);
    scene_hooks().texture_cache_new_frame = on ? texture_cache_new_frame : nullptr;
    scene_hooks().build_texture_placements = on ? build_texture_placements : nullptr;
    named_placements().clear();
}

}  // namespace

void install_texture_hooks() {
    set_texture_hooks(true);
}

void remove_texture_hooks() {
    set_texture_hooks(false);
}

}  // namespace sky
