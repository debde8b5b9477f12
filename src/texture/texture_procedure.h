// The table of texture procedures: one row of routines per procedure, looked
// up by exact name. Each procedure's file (procedures/*.cpp) exports its row
// with its parameter table; the registry (procedure_names.cpp) lists them in
// order.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "sdl/parameter_table.h"
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
    bool scalar_output;                // only the alpha multiplier applies to the result
    const ParameterTable* parameters;  // names, defaults and the unknown-name message
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

// The parameter types of the texture layer for evaluate_parameters: VALUE
// (a TexturedValue), TEXTURE (an AR_TextureInfo*, null when absent) and
// COLOUR (a Triple; a number is a grey) at row.store.
bool evaluate_texture_parameter(const Parameter& row, Expr* expression, void* record);

// Invokes a nested texture with the worker's scan flag cleared. Leaves `out`
// alone and returns false when it gives nothing.
bool invoke_nested_texture(const AR_TextureInfo& texture, const TextureLookup& at,
                           TextureColour& out);

// The picture a file texture names, without any frame extension; false
// for a texture that is not a file texture or names none.
bool file_texture_image(const AR_TextureInfo& texture, std::string& name);

// Rows exported by the procedures' files.
extern const AR_TextureProcedure kCheckerProcedure;
extern const AR_TextureProcedure kFileProcedure;
extern const AR_TextureProcedure kBallProcedure;
extern const AR_TextureProcedure kBulgeProcedure;
extern const AR_TextureProcedure kChromeProcedure;
extern const AR_TextureProcedure kClothProcedure;
extern const AR_TextureProcedure kCubeProcedure;
extern const AR_TextureProcedure kCurvatureProcedure;
extern const AR_TextureProcedure kFractalProcedure;
extern const AR_TextureProcedure kGeometricProcedure;
extern const AR_TextureProcedure kGraniteProcedure;
extern const AR_TextureProcedure kGridProcedure;
extern const AR_TextureProcedure kHighlightProcedure;
extern const AR_TextureProcedure kDirectionalProcedure;
extern const AR_TextureProcedure kLeatherProcedure;
extern const AR_TextureProcedure kMarbleProcedure;
extern const AR_TextureProcedure kMountProcedure;
extern const AR_TextureProcedure kMountainProcedure;
extern const AR_TextureProcedure kNoiseProcedure;
extern const AR_TextureProcedure kRampProcedure;
extern const AR_TextureProcedure kSCloudProcedure;
extern const AR_TextureProcedure kSFileProcedure;
extern const AR_TextureProcedure kProjectionProcedure;
extern const AR_TextureProcedure kSFractalProcedure;
extern const AR_TextureProcedure kSkyProcedure;
extern const AR_TextureProcedure kSMarbleProcedure;
extern const AR_TextureProcedure kSnowProcedure;
extern const AR_TextureProcedure kSphereProcedure;
extern const AR_TextureProcedure kSRockProcedure;
extern const AR_TextureProcedure kStencilProcedure;
extern const AR_TextureProcedure kSWoodProcedure;
extern const AR_TextureProcedure kVolumeProcedure;
extern const AR_TextureProcedure kWaterProcedure;

// Every row in table order (synonyms have rows of their own).
std::span<const AR_TextureProcedure* const> texture_procedures();
// The parameters every texture has, whatever its procedure.
const ParameterTable& texture_common_parameters();

}  // namespace sky
