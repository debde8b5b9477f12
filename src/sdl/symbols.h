// The symbol table: every declared and predefined name, with its type, its
// initialiser and its value storage.
//
// Lookups are exact and byte-wise (a hash map); the declaration order is kept
// separately, for the per-frame passes over the declared values.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sdl/expr.h"

namespace sky {

struct RenderOptions;

struct Symbol {
    const char* name = nullptr;  // the lexer's copy, shared with the tokens
    std::int32_t type = SDL_NO_TYPE;
    std::int32_t system = 0;      // 1 for predefined names and system variables
    Expr* initialiser = nullptr;  // absent for predefined names and transformations
    // Storage by type: SCALAR float[2] (current, initial); TRIPLE Triple[2];
    // CV CvValue[2]; TRIM_CV TrimCvValue; PARAM_CV ParamCvValue; FILENAME
    // std::string; TRANSFORM TransformValue; TEXTURE TextureValue; objects
    // ObjectValue. Array elements get theirs at their first assignment.
    void* value = nullptr;
    std::int32_t element_count = 0;  // ARRAY
    Symbol* elements = nullptr;      // ARRAY: element records named "a[0]", "a[1]", ...

    float scalar() const { return *static_cast<const float*>(value); }
    float& scalar() { return *static_cast<float*>(value); }
};

Symbol* find_symbol(const char* name);
// False when another symbol of that name exists (the same one: true).
bool insert_symbol(Symbol* symbol);

// Declares `name` with its initialiser; see the rules in symbols.cpp.
// Returns false when the declaration is dropped.
bool Declare(const char* name, std::int32_t type, Expr* initialiser);

// Zeroed value storage of the form above for `type`, living for the whole
// run; null for types stored elsewhere or not at all (arrays, trim faces,
// cameras). Array-element assignment takes its storage here too.
void* make_value_storage(std::int32_t type);

// A SCALAR constant with the system flag; does not check for an existing name.
Symbol* predefine_scalar(const char* name, float value);

// Stores `value` in a system scalar: fatal "ERROR: Bad variable %s\n" when the
// name is missing or not a SCALAR.
void set_system_scalar(const char* name, float value);

// Copies the final frame range, anti-aliasing and window into the SDL
// system variables, so expressions evaluated later see the command line's
// values. Done once at start-up and at the start of every evaluation.
void publish_system_variables(const RenderOptions& options);

// The predefined constants, `sdl_identity_matrix` and the system variables,
// in their fixed order. Called once before the first parse.
void register_predefined_symbols();

// Declared symbols in declaration order.
const std::vector<Symbol*>& declared_symbols();
void append_declared_symbol(Symbol* symbol);

// Evaluates every declared value (scalars, triples, file names, curves, ...)
// into its storage, in declaration order. Fatal on failure.
void initialise_declared_values();

// For each declared symbol of `type`, in declaration order: `visit`.
void for_each_declared(std::int32_t type, const std::function<void(Symbol&)>& visit);

// Forgets every symbol (tests only).
void reset_symbol_table();
// Releases the values that symbols own outside the pool (with reset_symbol_table).
void reset_symbol_storage();

}  // namespace sky
