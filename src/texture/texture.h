// Textures: what shaders and lights call to make a parameter vary over a
// surface or through space.
//
// A texture body of the scene (`environment (procedure = Checker, ...)`)
// becomes an `AR_TextureInfo` while the scene is read. Once per frame, before
// the shaders and lights that use it, the texture is evaluated (its
// expressions become plain numbers in the record) and initialised (file
// textures load their images). During rendering every worker invokes it with
// `Ar_invoke_texture`, which reads the record and never writes it.
//
// A caller that holds a textured parameter typically does, per frame:
//     TexturedColour slot;
//     Ar_evaluate_textured_colour(expression, default_colour, slot);
//     if (slot.texture) Ar_init_texture(*slot.texture);
// and per shaded sample:
//     TextureLookup at{...};  TextureColour out;
//     if (slot.texture && Ar_invoke_texture(*slot.texture, at, out)) colour = out.rgb();
#pragma once

#include <cstdint>

#include "sdl/expr.h"
#include "sdl/values.h"

namespace sky {

struct AR_TextureInfo;
struct AR_TextureProcedure;
struct ChordLengthMap;
struct TextureValue;

// --- one lookup ------------------------------------------------------------------

// Where a texture is looked up. Callers fill what they know of the shading
// point; each kind of procedure reads its own part:
//   surface textures (Checker, file, Grid, ...) read (u, v) and (du, dv);
//   solid textures (sMarble, sWood, ...) read `point` and `normal`;
//   environment textures (Ball, Cube, Sphere, Chrome, Sky) read `direction`.
struct TextureLookup {
    // Surface parameters of the point, 0..1 over the surface's range.
    float u = 0.0f, v = 0.0f;
    // Filter widths: how far u and v change across the sample's footprint
    // (a pixel, or a sub-pixel sample). Zero asks for an unfiltered lookup.
    float du = 0.0f, dv = 0.0f;
    // Solid textures: the point and its unit normal in object space (the
    // texture's own placement transformation is applied by the texture).
    Triple point;
    Triple normal;
    // Solid textures: the size of the sample's footprint around `point`, in
    // object space (0: unfiltered).
    float dpoint = 0.0f;
    // Environment textures: the unit direction looked up, in world space
    // (for reflections, the view vector reflected about the normal); the
    // footprint's angle, radians, is `du`.
    Triple direction;
    // The same direction in the camera's eye space (the camera looking along
    // −z), for environments that turn with the camera; zero when unknown.
    Triple eye_direction;
    // The surface's shape around the point, for curvature: two directions
    // along the surface (eye space) and how the unit normal changes along
    // each; all zero when unknown (a flat answer).
    Triple along[2], normal_change[2];
    // The surface's parameters by chord length, for textures that ask for
    // them (`chord_length`); null for surfaces that have none.
    const ChordLengthMap* chord_length = nullptr;
    // The name of the object being shaded, for file textures that use
    // another image on some objects; null when unknown.
    const char* object_name = nullptr;
};

// What a lookup gives: colour 0..255 per channel, alpha 0..1, and, for
// procedures with a two-dimensional output (displacement of (u, v)), the
// vector.
struct TextureColour {
    float r = 0.0f, g = 0.0f, b = 0.0f;
    float alpha = 0.0f;
    float vector[2] = {0.0f, 0.0f};

    Triple rgb() const { return Triple{r, g, b}; }
};

// --- records ---------------------------------------------------------------------

// The common parameters' slots, numbered as scenes and tools know them.
enum TextureSlot : int {
    SLOT_UCOVERAGE = 0,
    SLOT_UREPEAT = 1,
    SLOT_UTRANSLATE = 2,
    SLOT_UOFFSET = 3,
    SLOT_VCOVERAGE = 4,
    SLOT_VREPEAT = 5,
    SLOT_VTRANSLATE = 6,
    SLOT_VOFFSET = 8,
    SLOT_AMULT = 10,
    SLOT_RGBOFFSET = 12,
    SLOT_RGBOUT = 13,
    SLOT_AOUT = 14,
    SLOT_UWRAP = 15,
    SLOT_VWRAP = 16,
    SLOT_BLURMULT = 17,
    SLOT_BLUROFFSET = 18,
    SLOT_CHORD_LENGTH = 19,
    SLOT_ROTATE = 20,
    SLOT_ACTIVE = 21,
    SLOT_MIRROR = 22,
    SLOT_TRANSFORMATION_NAME = 23,
    SLOT_STAGGER = 26,
    SLOT_INVERT = 27,
    SLOT_RGBMULT = 28,
    SLOT_AOFFSET = 29,
    SLOT_COLOR_REMAP = 30,
    SLOT_SMEAR_MAP = 31,
    SLOT_OVERLAY = 32,
    TEXTURE_SLOT_COUNT = 33,
};

// What the parser gathered for a texture: the expressions of the common
// parameters and the procedure's own parameter node.
struct RR_TextureNode {
    Expr* slots[TEXTURE_SLOT_COUNT] = {};
    std::int32_t slot_lines[TEXTURE_SLOT_COUNT] = {};
    void* procedure_node = nullptr;  // from the procedure's alloc_node
    const AR_TextureProcedure* procedure = nullptr;
};

// A colour, a scalar, or a texture standing in for them (the multipliers and
// offsets of the frame, and textured parameters of procedures).
struct TexturedValue {
    Triple colour;        // as written: a triple, or a scalar in all three
    float scalar = 0.0f;  // the first channel, for scalar uses
    AR_TextureInfo* texture = nullptr;
};

// The common parameters as evaluated for the frame.
struct TextureFrameValues {
    float ucoverage = 1.0f, vcoverage = 1.0f;
    float urepeat = 1.0f, vrepeat = 1.0f;
    float utranslate = 0.0f, vtranslate = 0.0f;
    float uoffset = 0.0f, voffset = 0.0f;
    TexturedValue amult{{1.0f, 1.0f, 1.0f}, 1.0f, nullptr};  // alpha multiplier, or a texture
    TexturedValue rgboffset;                                 // colour offset, 0..255 units
    Triple rgbout;      // colour where the texture does not reach
    float aout = 0.0f;  // alpha there
    bool uwrap = true, vwrap = true;
    float blurmult = 1.0f, bluroffset = 0.0f;
    bool chord_length = false;
    float rotate = 0.0f;  // degrees
    bool active = true;
    bool mirror = false;
    bool stagger = false;
    bool invert = false;
    TexturedValue rgbmult{{1.0f, 1.0f, 1.0f}, 1.0f, nullptr};  // colour multiplier, or a texture
    TexturedValue aoffset;  // alpha offset, or a texture whose RGBA is added
    AR_TextureInfo* color_remap = nullptr;
    AR_TextureInfo* smear_map = nullptr;
    AR_TextureInfo* overlay = nullptr;
    // Solid textures: object space to texture space, from the placement
    // transformation (identity without one).
    Matrix4 texture_from_object;
    float texture_scale = 1.0f;  // how much texture_from_object scales lengths
    const char* transformation_name = nullptr;
};

// A texture of the scene. Lives for the whole run (the front end's pool).
struct AR_TextureInfo {
    const AR_TextureProcedure* procedure = nullptr;
    RR_TextureNode* node = nullptr;
    void* procedure_info = nullptr;  // from the procedure's alloc_info
    const char* name = nullptr;      // the procedure name as written
    // Names that select a procedure with a setting (`Gaussian` for Curvature,
    // `SnowBW` for Snow) leave that name here; null otherwise.
    const char* variant = nullptr;
    TextureFrameValues frame;
    std::int32_t line = 0;  // where the body was written
};

// --- the scene side -----------------------------------------------------------------

// Creates a texture of the named procedure (exact names; the selection names
// of procedure_names.h included). An unknown name ends the program.
AR_TextureInfo* Rr_create_texture(const char* procedure_name, std::int32_t line);

// Sets one parameter: the common names to their slots, every other name to
// the procedure's parse routine. Unknown names end the program with the
// procedure's message.
void Rr_parse_texture(AR_TextureInfo* texture, const char* name, Expr* value, std::int32_t line);

// Evaluates every parameter for the current frame, nested textures first.
// Failures end the program. Main thread only.
void Ar_evaluate_texture(AR_TextureInfo& texture);

// Prepares a texture for rendering after its evaluation (file textures
// load their images), nested textures included. Main thread only.
void Ar_init_texture(AR_TextureInfo& texture);

// The texture a TEXTURE value refers to, or null for a constant colour.
AR_TextureInfo* texture_of(const TextureValue& value);

// A shader's or light's textured colour parameter: a constant colour, or a
// texture evaluated for the frame. Without an expression the default is
// taken. Returns false when the expression is not a colour, number or texture.
struct TexturedColour {
    Triple colour;
    AR_TextureInfo* texture = nullptr;
};
bool Ar_evaluate_textured_colour(Expr* expression, const Triple& default_colour,
                                 TexturedColour& slot);

// --- rendering --------------------------------------------------------------------

// Looks the texture up; any worker, any number at once, no allocation.
// Returns false, leaving `out` alone, while texturing is off for the render
// or the texture is not `active`: callers keep their plain values then.
bool Ar_invoke_texture(const AR_TextureInfo& texture, const TextureLookup& at, TextureColour& out);

// Texturing for the render (on unless the run driver switches it off).
void Ar_set_texturing(bool on);
bool Ar_texturing_on();

// The calling worker's scan flag: cleared while nested textures and shaders
// run, restored after them.
bool Ar_get_scan_flag();
void Ar_set_scan_flag(bool on);

// Installs the front end's hook that turns texture bodies into records and
// the frame loop's hook that tells the image cache of a new frame.
void install_texture_hooks();
void remove_texture_hooks();  // tests

}  // namespace sky
