// The table of texture procedures: one row of routines per procedure, looked
// up by exact name. Each procedure's file exports its row; the registry
// (procedure_names.cpp) lists them in order.
#pragma once

#include <cstdint>

#include "texture/texture.h"

namespace sky {

// How a procedure reads the lookup: which part of TextureLookup it uses and
// therefore whether the surface placement applies.
enum TextureKind : std::int32_t {
    TEXTURE_SURFACE = 0,      // (u, v) through coverage, repeat, rotate, wrap ...
    TEXTURE_SOLID = 1,        // the point through the placement transformation
    TEXTURE_ENVIRONMENT = 2,  // the direction
};

// The lookup as a procedure's calculation sees it: the placed (u, v) in one
// repetition of the frame, their scaled filter widths, `filter` the larger of
// the two, and the solid point in texture space.
struct TextureCall {
    const TextureLookup* at = nullptr;
    float u = 0.0f, v = 0.0f;
    float du = 0.0f, dv = 0.0f;
    float filter = 0.0f;
    Triple point;
};

struct AR_TextureProcedure {
    const char* name;
    void (*calculation)(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out);
    void* (*alloc_node)(const AR_TextureInfo& texture);
    void* (*alloc_info)(const AR_TextureInfo& texture);
    // False for a name the procedure does not know (after printing its message).
    bool (*parse)(AR_TextureInfo& texture, void* node, const char* name, Expr* value);
    bool (*eval)(AR_TextureInfo& texture);
    bool (*init)(AR_TextureInfo& texture);
    bool (*copy)(AR_TextureInfo& to, const AR_TextureInfo& from);
    void (*release)(AR_TextureInfo& texture);
    // Not routines: what the frame needs to know of the procedure.
    TextureKind kind;
    bool scalar_output;      // only the alpha multiplier applies to the result
    const void* parameters;  // the procedure's parameter table, for shared routines
};

inline constexpr int kMaxTextureProcedures = 64;

// The row of an exact name, or null. Selection names (`Gaussian`, `SnowBW`,
// ...) give their procedure's row.
const AR_TextureProcedure* find_texture_procedure(const char* name);

// The neutral result of a texture that has nothing to show (a procedure not
// calculated yet, a file that could not be read): the texture's `rgbout`
// and `aout`, black and transparent unless the scene says otherwise.
void texture_default_colour(const AR_TextureInfo& texture, TextureColour& out);

// For the procedures' own evaluation: a parameter that may be a number, a
// colour or a nested texture (evaluated for the frame).
bool evaluate_textured_value(Expr* expression, const Triple& default_value, TexturedValue& result);

// Invokes a nested texture with the worker's scan flag cleared. Leaves `out`
// alone and returns false when it gives nothing.
bool invoke_nested_texture(const AR_TextureInfo& texture, const TextureLookup& at,
                           TextureColour& out);

// Rows exported by the procedures' files.
extern const AR_TextureProcedure kCheckerProcedure;
extern const AR_TextureProcedure kFileProcedure;
// The procedures whose parameters are read but whose calculation is still
// the neutral result, in their table order.
const AR_TextureProcedure* parameter_only_procedures(int& count);

}  // namespace sky
