// The texture frame: texture records made from the scene's bodies, their
// common parameters, and their evaluation for a frame.
//
// The parser keeps a body as written; when a texture body closes, the hook
// installed here makes its record and hands each parameter to
// Rr_parse_texture, so an unknown parameter stops the run while the scene is
// read, as it always has. The record is kept in the body's `definition`, so
// every TEXTURE value that carries the body (variables, copies) shares it.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/fatal.h"
#include "platform/report.h"
#include "scene/scene_hooks.h"
#include "sdl/body.h"
#include "sdl/builder.h"
#include "sdl/pool.h"
#include "sdl/sdl_errors.h"
#include "texture/procedure_names.h"
#include "texture/texture.h"
#include "texture/texture_cache.h"
#include "texture/texture_procedure.h"

namespace sky {
namespace {

struct CommonName {
    const char* name;
    int slot;
};

// `wrap` is handled apart: it sets both wrap slots.
constexpr CommonName kCommonNames[] = {
    {"ucoverage", SLOT_UCOVERAGE},
    {"vcoverage", SLOT_VCOVERAGE},
    {"urepeat", SLOT_UREPEAT},
    {"vrepeat", SLOT_VREPEAT},
    {"utranslate", SLOT_UTRANSLATE},
    {"vtranslate", SLOT_VTRANSLATE},
    {"uoffset", SLOT_UOFFSET},
    {"blend", SLOT_UOFFSET},
    {"voffset", SLOT_VOFFSET},
    {"amult", SLOT_AMULT},
    {"rgboffset", SLOT_RGBOFFSET},
    {"rgbout", SLOT_RGBOUT},
    {"aout", SLOT_AOUT},
    {"uwrap", SLOT_UWRAP},
    {"vwrap", SLOT_VWRAP},
    {"blurmult", SLOT_BLURMULT},
    {"bluroffset", SLOT_BLUROFFSET},
    {"chord_length", SLOT_CHORD_LENGTH},
    {"chordTexture", SLOT_CHORD_LENGTH},
    {"rotate", SLOT_ROTATE},
    {"active", SLOT_ACTIVE},
    {"mirror", SLOT_MIRROR},
    {"transformation_name", SLOT_TRANSFORMATION_NAME},
    {"xform_name", SLOT_TRANSFORMATION_NAME},
    {"stagger", SLOT_STAGGER},
    {"invert", SLOT_INVERT},
    {"rgbmult", SLOT_RGBMULT},
    {"aoffset", SLOT_AOFFSET},
    {"color_remap", SLOT_COLOR_REMAP},
    {"smear_map", SLOT_SMEAR_MAP},
    {"overlay", SLOT_OVERLAY},
};

int common_slot(const char* name) {
    for (const CommonName& common : kCommonNames)
        if (std::strcmp(common.name, name) == 0) return common.slot;
    return -1;
}

[[noreturn]] void evaluation_failure(const AR_TextureInfo& texture, int slot) {
    char what[96];
    std::snprintf(what, sizeof what, "texture %s: parameter slot %d does not evaluate",
                  texture.name ? texture.name : "?", slot);
    internal_error(__FILE__, __LINE__, what);
}

float scalar_slot(AR_TextureInfo& texture, int slot, float default_value) {
    float value = default_value;
    if (!AR_evaluate(SDL_SCALAR, &value, texture.node->slots[slot], &default_value))
        evaluation_failure(texture, slot);
    return value;
}

bool flag_slot(AR_TextureInfo& texture, int slot, bool default_value) {
    return scalar_slot(texture, slot, default_value ? 1.0f : 0.0f) >= 0.5f;
}

Triple colour_slot(AR_TextureInfo& texture, int slot, const Triple& default_value) {
    Expr* expression = texture.node->slots[slot];
    Triple value = default_value;
    if (expression && expression->type == SDL_SCALAR) {
        float s = scalar_slot(texture, slot, 0.0f);
        return Triple{s, s, s};
    }
    if (!AR_evaluate(SDL_TRIPLE, &value, expression, &default_value))
        evaluation_failure(texture, slot);
    return value;
}

TexturedValue textured_slot(AR_TextureInfo& texture, int slot, float default_value) {
    TexturedValue value;
    if (!evaluate_textured_value(texture.node->slots[slot],
                                 Triple{default_value, default_value, default_value}, value))
        evaluation_failure(texture, slot);
    return value;
}

AR_TextureInfo* texture_slot(AR_TextureInfo& texture, int slot) {
    Expr* expression = texture.node->slots[slot];
    if (expression == nullptr) return nullptr;
    TexturedValue value;
    if (!evaluate_textured_value(expression, Triple{}, value)) evaluation_failure(texture, slot);
    return value.texture;
}

void evaluate_placement_transformation(AR_TextureInfo& texture) {
    TextureFrameValues& f = texture.frame;
    f.texture_from_object = Matrix4{};
    f.transformation_name = nullptr;
    Expr* expression = texture.node->slots[SLOT_TRANSFORMATION_NAME];
    if (expression == nullptr) return;
    if (expression->type == SDL_TRANSFORM) {
        TransformValue placement;
        if (!AR_evaluate(SDL_TRANSFORM, &placement, expression, nullptr))
            evaluation_failure(texture, SLOT_TRANSFORMATION_NAME);
        // The placement puts the texture in the world: points go the other way.
        f.texture_from_object = placement.inverse_model;
        return;
    }
    std::string name;
    if (!AR_evaluate(SDL_FILENAME, &name, expression, nullptr))
        evaluation_failure(texture, SLOT_TRANSFORMATION_NAME);
    f.transformation_name = pool_copy_string(name);
}

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
    const char* name = procedure->name;
    if (!procedure->calculation) fatal("Missing %s Texture Calculation routine\n", name);
    if (!procedure->alloc_node) fatal("Missing %s Texture Allocate_node routine\n", name);
    if (!procedure->alloc_info) fatal("Missing %s Texture Allocate_info routine\n", name);
    if (!procedure->parse) fatal("Missing %s Texture Parse routine\n", name);
    if (!procedure->eval) fatal("Missing %s Texture Eval routine\n", name);
    if (!procedure->init) fatal("Missing %s Texture Init routine\n", name);
    if (!procedure->copy) fatal("Missing %s Texture Copy routine\n", name);

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
    int slot = common_slot(name);
    if (slot >= 0) {
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
    TextureFrameValues& f = texture.frame;
    f.ucoverage = scalar_slot(texture, SLOT_UCOVERAGE, 1.0f);
    f.vcoverage = scalar_slot(texture, SLOT_VCOVERAGE, 1.0f);
    f.urepeat = scalar_slot(texture, SLOT_UREPEAT, 1.0f);
    f.vrepeat = scalar_slot(texture, SLOT_VREPEAT, 1.0f);
    f.utranslate = scalar_slot(texture, SLOT_UTRANSLATE, 0.0f);
    f.vtranslate = scalar_slot(texture, SLOT_VTRANSLATE, 0.0f);
    f.uoffset = scalar_slot(texture, SLOT_UOFFSET, 0.0f);
    f.voffset = scalar_slot(texture, SLOT_VOFFSET, 0.0f);
    f.rgbout = colour_slot(texture, SLOT_RGBOUT, Triple{});
    f.aout = scalar_slot(texture, SLOT_AOUT, 0.0f);
    f.uwrap = flag_slot(texture, SLOT_UWRAP, true);
    f.vwrap = flag_slot(texture, SLOT_VWRAP, true);
    f.blurmult = scalar_slot(texture, SLOT_BLURMULT, 1.0f);
    f.bluroffset = scalar_slot(texture, SLOT_BLUROFFSET, 0.0f);
    f.chord_length = flag_slot(texture, SLOT_CHORD_LENGTH, false);
    f.rotate = scalar_slot(texture, SLOT_ROTATE, 0.0f);
    f.active = flag_slot(texture, SLOT_ACTIVE, true);
    f.mirror = flag_slot(texture, SLOT_MIRROR, false);
    f.stagger = flag_slot(texture, SLOT_STAGGER, false);
    f.invert = flag_slot(texture, SLOT_INVERT, false);
    evaluate_placement_transformation(texture);

    // The textured ones: each may be a texture of its own, evaluated first.
    f.amult = textured_slot(texture, SLOT_AMULT, 1.0f);
    f.aoffset = textured_slot(texture, SLOT_AOFFSET, 0.0f);
    f.rgbmult = textured_slot(texture, SLOT_RGBMULT, 1.0f);
    f.rgboffset = textured_slot(texture, SLOT_RGBOFFSET, 0.0f);
    f.color_remap = texture_slot(texture, SLOT_COLOR_REMAP);
    f.smear_map = texture_slot(texture, SLOT_SMEAR_MAP);
    f.overlay = texture_slot(texture, SLOT_OVERLAY);

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

void install_texture_hooks() {
    set_texture_body_finisher(finish_texture_body);
    set_texture_procedure_check(texture_procedure_exists);
    scene_hooks().texture_cache_new_frame = texture_cache_new_frame;
}

void remove_texture_hooks() {
    set_texture_body_finisher(nullptr);
    set_texture_procedure_check(nullptr);
    scene_hooks().texture_cache_new_frame = nullptr;
}

}  // namespace sky
