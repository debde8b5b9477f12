// Expression trees: every value written in SDL is kept as a tree and
// evaluated on request, so values that depend on the frame follow it.
//
// A node yields a value of one SDL type. Its kind is a row of operations
// (only `evaluate` is needed by the renderer); scalar operators and the
// built-in functions each have their own kind. Nodes come from an arena in
// blocks of 8192 and are never freed one by one.
//
// Evaluation runs on the main thread only (per frame, before the workers
// start): some kinds cache data in their node.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sdl/types.h"
#include "sdl/values.h"

namespace sky {

struct Expr;
struct Symbol;
struct Body;

// The operations of one node kind.
struct ExprKind {
    const char* name;   // for diagnostics
    std::int32_t code;  // operator or function code, 0 for other kinds
    // Fills `result` (of the C++ type AR_evaluate documents for node->type).
    bool (*evaluate)(Expr* node, void* result);
};

struct Expr {
    const ExprKind* kind = nullptr;  // null: a node that cannot be evaluated
    Expr* next = nullptr;            // the next argument when the node is in an argument list
    union {
        float value;       // scalar literal
        Symbol* symbol;    // variable reference
        Expr* args;        // first argument of an operator, function or constructor
        void* payload;     // kind-specific record (file names: see filename_text)
        const char* text;  // string of a print comment
    };
    std::int32_t type = SDL_NO_TYPE;  // SDL type of the value the node yields
    std::int32_t line = 0;            // SDL line the node was built on

    Expr() : payload(nullptr) {}
};

// The single way the renderer reads an SDL value. `wanted` names the type
// the caller needs; `result` points to its C++ representation:
//   SDL_SCALAR float; SDL_TRIPLE, SDL_COLOUR, SDL_NORMAL Triple; SDL_ST Triple
//   (x, y); SDL_CV CvValue; SDL_TRIM_CV TrimCvValue; SDL_PARAM_CV ParamCvValue;
//   SDL_FILENAME std::string; SDL_TRANSFORM TransformValue; SDL_TEXTURE
//   TextureValue; the object types (LIGHT, PATCH, FACE, POLYSET, CAMERA,
//   SHADER, the curves, COMMAND) ObjectValue.
// Without an expression the default (same representation) is copied, when
// given. Reports nothing: callers print their own messages on failure.
bool AR_evaluate(std::int32_t wanted, void* result, Expr* expression, const void* default_value);

// Convenience forms.
bool evaluate_scalar(Expr* expression, float& result);
bool evaluate_triple(Expr* expression, Triple& result);

// A constant colour made from a SCALAR (s × 255 in every channel) or a TRIPLE,
// or a texture body.
struct TextureValue {
    const Body* body = nullptr;
    bool constant = false;
    Triple colour;
};

// Objects (lights, geometry, cameras, shaders, curves, commands) are records
// owned by the subsystem of their kind; until it takes a body over, an object
// evaluates to the body as written.
struct ObjectValue {
    std::int32_t type = SDL_NO_TYPE;
    const Body* body = nullptr;
    void* record = nullptr;      // the owning subsystem's record, when it made one
    const char* name = nullptr;  // the declaring symbol's name, for named objects
};

// The subsystem that owns an object type replaces the default evaluation
// (the body as written) by its own: `evaluate` fills the representation
// AR_evaluate documents for `type`. Registered before the first evaluation.
using ObjectEvaluator = bool (*)(Expr* node, void* result);
void register_object_evaluator(std::int32_t type, ObjectEvaluator evaluate);

// --- quiet evaluation ------------------------------------------------------

// While quiet, scalar functions print nothing on failure and leave an error
// number: 12 an argument missing or not evaluable, 14 an invalid argument
// for a mathematics function. Returns the previous setting.
bool set_quiet_evaluation(bool quiet);
int evaluation_error();
void clear_evaluation_error();

// --- building nodes (the parser's side) ------------------------------------
// Builders report their own failures as the system does and return null;
// the parser then stops the program.

Expr* make_scalar_literal(double value, std::int32_t line);
// Operators 100-103, 108-113, 401-403, 395 and functions 501-605; the
// arguments are already linked through their `next` fields.
Expr* make_function(std::int32_t code, Expr* first_argument, std::int32_t line);
// ease(p, q, TYPE, s, t), stored as (type, p, q, s, t).
Expr* make_ease(Expr* p, Expr* q, std::int32_t ease_type, Expr* s, Expr* t, std::int32_t line);
// print("text") and print("text", e).
Expr* make_print(const char* text, Expr* value, std::int32_t line);
// A reference to a declared name; unknown names and unreferencable types are fatal.
Expr* Rr_make_variable_reference(const char* name, std::int32_t line);
// name[subscript]: the symbol must be an ARRAY (fatal otherwise).
Expr* make_array_element(const char* name, Expr* subscript, std::int32_t line);
// The element record an assignment to an array-element reference writes, with
// the subscripts evaluated now; null when one fails or is out of range.
Symbol* array_element_symbol(Expr* reference);

Expr* make_triple(Expr* x, Expr* y, Expr* z, std::int32_t line);
// current_position (550), motion (551), forward (552).
Expr* make_triple_function(std::int32_t code, Expr* first_argument, std::int32_t line);
Expr* make_cv(Expr* position, Expr* weight, std::int32_t line);
// cluster(cv, cluster, percentage) (sdl/cluster.h); null, with an SDL
// error reported, for arguments of the wrong number or types.
Expr* make_cluster(Expr* first_argument, std::int32_t line);
Expr* make_colour(Expr* r, Expr* g, Expr* b, std::int32_t line);
Expr* make_normal(Expr* x, Expr* y, Expr* z, std::int32_t line);
Expr* make_st(Expr* s, Expr* t, std::int32_t line);
Expr* make_filename(const char* text, Expr* frame, std::int32_t line);
Expr* make_current_transform(std::int32_t line);
// trim_vertex(triple, w, u, v, flag) or trim_vertex(u, v, flag).
Expr* make_trim_vertex(Expr* position, Expr* weight, float u, float v, std::int32_t flag,
                       std::int32_t line);
// parameter_vertex forms; `form` 1, 2 or 3 as written (see ParamCvValue).
// `values` holds the scalar expressions in the order written:
//   form 1 (8): time, value, type A, in x, in y, type B, out x, out y;
//   forms 2 and 3 (6): time, value, in x, in y, out x, out y.
// Form 3's `type = TANGENT_TYPE` gives `tangent_type` as both types.
Expr* make_param_vertex(std::int32_t form, Expr* const* values, int count,
                        std::int32_t tangent_type, std::int32_t line);
// A node yielding an object of `type` built from `body`.
Expr* make_object(std::int32_t type, Body* body, std::int32_t line);

// A zeroed node from the node arena.
Expr* allocate_node();

// The node arena's fill level. Rewinding gives back every node allocated
// since the mark (the caller guarantees none is referenced any more), so a
// list folded into a packed array can return the nodes that spelt it.
struct ExprArenaMark {
    std::size_t block = 0;
    std::size_t used = 0;
};
ExprArenaMark expr_arena_mark();
void expr_arena_rewind(ExprArenaMark mark);

// The string of a FILENAME node (without its frame expression), or null.
const char* filename_text(const Expr* node);

// Structural list node (type SDL_NO_TYPE, not evaluable): `first` and the
// nodes linked after it through `next`.
Expr* make_list(Expr* first, std::int32_t line);
int list_length(const Expr* list);

extern const ExprKind kLiteralKind;

// True for a scalar literal (a number written in the file).
inline bool is_literal(const Expr* node) {
    return node && node->kind == &kLiteralKind;
}

// True for a literal or a reference to one of the language's named
// constants (ON, OFF, TRUE, ...): a value no frame can change.
bool is_constant_value(const Expr* node);

// --- what expressions read from the rest of the renderer ---------------------

// A point along a path by length: found, the body is no valid curve, or the
// curve has no length (no direction of travel at its ends).
enum PathResult { PATH_OK, PATH_NO_CURVE, PATH_NO_LENGTH };

// Set by the scene evaluation; identity until then.
struct ExpressionContext {
    float byframe = 1.0f;  // the run's byframe, for frame-numbered file names
    // The transformation current where an expression is evaluated.
    bool (*current_transform)(TransformValue* out) = nullptr;
    // Registers a forward reference (a triple resolved after the walk).
    bool (*add_forward_reference)(Triple* location, Expr* expression) = nullptr;
    // The point of the curve `curve` (a `curve` body) at parameter t, and
    // its derivative there, with t clamped into the curve's parameter range,
    // which goes to `range`; false when the body is no valid curve. Given by
    // the geometry subsystem, which has the curves; motion() reads it.
    bool (*motion_path)(const Body& curve, double t, Triple& position, Triple& tangent,
                        double range[2]) = nullptr;
    // The point `fraction` of the way along the curve's length (clamped into
    // [0, 1]), the unit direction of travel there, and the curve's whole
    // length. Motion-path channels read it.
    PathResult (*path_by_length)(const Body& curve, double fraction, Triple& position,
                                 Triple& direction, double& length) = nullptr;
};
ExpressionContext& expression_context();

// trunc(x) as an int, saturated (NaN gives 0): scene values may be anything,
// and a plain cast of an out-of-range value is undefined.
int truncate_to_int(double x);

}  // namespace sky
