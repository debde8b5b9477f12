// Parameter tables: every parameter of a shading model, a light model, a
// texture procedure or an environment setting is declared once, as a row of
// a constexpr array: its names, type, default, range and what happens to a
// value outside the range, where the parser keeps it and where its evaluated
// value goes, and a line for the reference page (docs/parameters.md).
//
// Parsing (a name to its slot), defaults, range corrections, the
// unknown-parameter message and the reference page are all read from the
// rows; the families' own code adds only what a row cannot say (a derived
// constant, a check that ties two parameters together). Evaluated values
// land in flat records that the render core reads as before.
//
// This layer evaluates the types SDL knows (numbers, triples, names,
// expressions). Colours, textures and the like are evaluated by the layer that
// owns them, through a hook handed to evaluate_parameters.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "sdl/values.h"

namespace sky {

struct Expr;

enum class ParameterType : std::uint8_t {
    SCALAR,      // a number
    INTEGER,     // a number, truncated toward zero
    ROUNDED,     // a number, rounded to the nearest integer
    FLAG,        // on when the value is at least 0.5
    SWITCH,      // on when the value's integer part is not 0
    TRIPLE,      // three numbers
    NAME,        // a name or file name (a string)
    EXPRESSION,  // kept as written; its user evaluates it
    COLOUR,      // a colour, 0..255 per channel (a number gives a grey)
    TEXTURED,    // a colour or a texture
    SLOT,        // a colour, a number (a grey, 0..1) or a texture
    VALUE,       // a number, a colour or a texture
    ANY,         // a number, a colour, a name or a texture
    TEXTURE,     // a texture
    IGNORED,     // accepted and ignored
};

// What becomes of a value beyond one end of a parameter's range.
enum class Correction : std::uint8_t {
    NONE,    // that end is open: no limit
    CLAMP,   // silently replaced
    REPORT,  // replaced, after the message on the error channel
    WARN,    // replaced, after the message as a warning ("Warning: ...")
    FATAL,   // the run ends with the message
    FAIL,    // the evaluation fails, and its caller reports the failure
};

// One end of a range.
struct Bound {
    Correction action = Correction::NONE;
    float limit = 0.0f;
    bool open = false;   // the limit itself is beyond the range
    float value = 0.0f;  // what a value beyond it becomes (CLAMP, REPORT, WARN)
    const char* message = nullptr;
    bool catches_nan = false;  // a value that is not a number is beyond it too
};

// The common ends: a limit that is itself the replacement, silently.
constexpr Bound at_least(float limit) {
    return {Correction::CLAMP, limit, false, limit};
}
constexpr Bound at_most(float limit) {
    return {Correction::CLAMP, limit, false, limit};
}
// Beyond `limit` (exclusive when `open`), the value becomes `value`.
constexpr Bound replaced(float limit, float value, bool open = false) {
    return {Correction::CLAMP, limit, open, value};
}
constexpr Bound fails(float limit, bool open = false) {
    return {Correction::FAIL, limit, open};
}
constexpr Bound fatal_beyond(float limit, const char* message, bool open = false) {
    return {Correction::FATAL, limit, open, 0.0f, message};
}
constexpr Bound reported(float limit, float value, const char* message) {
    return {Correction::REPORT, limit, false, value, message};
}
constexpr Bound warned(float limit, float value, const char* message) {
    return {Correction::WARN, limit, false, value, message};
}

// Where a value lives in a record: its byte offset, the C++ type found there
// and how many of them follow each other (a colour's three floats, the two
// numbers of the resolution).
enum class FieldKind : std::uint8_t { NONE, FLOAT, INT32, BOOL, TRIPLE, EXPRESSION, OTHER };

struct Field {
    std::uint32_t offset = 0;
    FieldKind kind = FieldKind::NONE;
    std::uint8_t count = 1;
};

template <typename T>
constexpr FieldKind field_kind() {
    using Element = std::remove_all_extents_t<T>;
    if constexpr (std::is_same_v<Element, float>) return FieldKind::FLOAT;
    if constexpr (std::is_same_v<Element, std::int32_t>) return FieldKind::INT32;
    if constexpr (std::is_same_v<Element, bool>) return FieldKind::BOOL;
    if constexpr (std::is_same_v<Element, Triple>) return FieldKind::TRIPLE;
    if constexpr (std::is_same_v<Element, Expr*>) return FieldKind::EXPRESSION;
    return FieldKind::OTHER;
}

template <typename T>
constexpr std::uint8_t field_count() {
    return static_cast<std::uint8_t>(std::is_array_v<T> ? std::extent_v<T> : 1);
}

// A member of a record, with its type checked by the compiler.
#define SKY_FIELD(Record, member)                                                \
    ::sky::Field {                                                               \
        offsetof(Record, member), ::sky::field_kind<decltype(Record::member)>(), \
            ::sky::field_count<decltype(Record::member)>()                       \
    }
// `count` members of one type that follow each other from `first`.
#define SKY_FIELDS(Record, first, count)                                             \
    ::sky::Field {                                                                   \
        offsetof(Record, first), ::sky::field_kind<decltype(Record::first)>(), count \
    }
// Element `index` of an array member.
#define SKY_ELEMENT(Record, array, index)                                              \
    ::sky::Field {                                                                     \
        static_cast<std::uint32_t>(                                                    \
            offsetof(Record, array) +                                                  \
            (index) * sizeof(std::remove_all_extents_t<decltype(Record::array)>)),     \
            ::sky::field_kind<std::remove_all_extents_t<decltype(Record::array)>>(), 1 \
    }

// How an environment setting is written in the definition section.
enum class Written : std::uint8_t {
    IN_BODY,          // `name = value` in a body (models, procedures, textures)
    KEYWORD,          // `name = expression;`
    KEYWORD_INTEGER,  // `name = integer;`
    VARIABLE,         // `name = expression;` assigning the system variable
    OWN_RULE,         // a statement of its own form (see its description)
};

// Who reads an environment setting's value.
enum class Consumer : std::uint8_t {
    RECORD,            // the table's own record (models, procedures)
    RENDER_OPTIONS,    // transferred into RenderOptions
    RAY_TRACE_LIMITS,  // checked into the ray tracer's limits
    ELSEWHERE,         // evaluated where it is used, or kept for a later renderer
};

inline constexpr float kAnyVersion = 0.0f;

// A colour's default: the same level in every channel.
constexpr Triple grey(float level) {
    return {level, level, level};
}

struct Parameter {
    const char* name;
    const char* also = nullptr;  // synonyms, separated by blanks
    ParameterType type = ParameterType::SCALAR;
    Triple value{};  // the default (colours: the three channels; numbers: x)
    Bound below{};
    Bound above{};
    // Where the parser keeps the expression: the record's slot for the
    // common parameters, whose slots are numbered; -1: the row's index.
    std::int16_t slot = -1;
    Field kept{};   // environment settings: where the definition section keeps it
    Field store{};  // where the evaluated value goes
    Consumer consumer = Consumer::RECORD;
    Written written = Written::IN_BODY;
    bool only_when_set = false;  // settings: the option keeps its value unless the scene sets it
    float before_version = kAnyVersion;  // accepted only in scenes of an older SDL version
    const char* label = nullptr;         // how evaluation failures name it, when not by name
    const char* default_text = nullptr;  // the reference page's default, when not a constant
    const char* description = "";
};

// What a name that no row knows does.
enum class UnknownName : std::uint8_t {
    QUIET,   // the parse routine fails without a message of its own
    REPORT,  // the message on the error channel, and the parse routine fails
    FATAL,   // the run ends with the message
};

// A family member's parameters, its message for a name it does not know (a
// format naming the parameter with one %s), and the message of its parse
// routine when handed no node to keep the parameter in (the shading and
// light models': nor a name or a value).
struct ParameterTable {
    std::span<const Parameter> rows;
    const char* unknown = nullptr;
    UnknownName on_unknown = UnknownName::QUIET;
    const char* missing_node = nullptr;
};

// --- the rows at compile time -------------------------------------------------------

// True when `name` is the row's name or one of its synonyms.
constexpr bool names_row(const Parameter& row, std::string_view name) {
    if (name == row.name) return true;
    if (row.also == nullptr) return false;
    std::string_view also = row.also;
    while (!also.empty()) {
        std::size_t end = also.find(' ');
        if (also.substr(0, end) == name) return true;
        if (end == std::string_view::npos) break;
        also.remove_prefix(end + 1);
    }
    return false;
}

// The index of the row named `name` (or a synonym), -1 when none is.
constexpr int parameter_index(std::span<const Parameter> rows, std::string_view name) {
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (names_row(rows[i], name)) return static_cast<int>(i);
    return -1;
}

// Where the parser keeps a row's expression.
constexpr int slot_of(std::span<const Parameter> rows, int index) {
    return rows[static_cast<std::size_t>(index)].slot >= 0
               ? rows[static_cast<std::size_t>(index)].slot
               : index;
}

// Checks a table's rows against each other at compile time: no name twice,
// stores typed as the rows say.
constexpr bool rows_are_consistent(std::span<const Parameter> rows) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Parameter& row = rows[i];
        for (std::size_t j = 0; j < i; ++j) {
            if (names_row(rows[j], row.name)) return false;
            std::string_view also = row.also ? row.also : "";
            while (!also.empty()) {
                std::size_t end = also.find(' ');
                if (names_row(rows[j], also.substr(0, end))) return false;
                if (end == std::string_view::npos) break;
                also.remove_prefix(end + 1);
            }
        }
        FieldKind kind = row.store.kind;
        switch (row.type) {
            case ParameterType::TRIPLE:
                if (kind != FieldKind::NONE && kind != FieldKind::TRIPLE) return false;
                break;
            case ParameterType::EXPRESSION:
                if (kind != FieldKind::NONE && kind != FieldKind::EXPRESSION) return false;
                break;
            case ParameterType::SCALAR:
            case ParameterType::INTEGER:
            case ParameterType::ROUNDED:
            case ParameterType::FLAG:
            case ParameterType::SWITCH:
                if (kind == FieldKind::TRIPLE || kind == FieldKind::EXPRESSION ||
                    kind == FieldKind::OTHER)
                    return false;
                break;
            default:
                break;
        }
    }
    return true;
}

// Groups of rows joined into one table's rows, in order: a group that
// several tables share word for word (the same names, defaults and
// descriptions) is declared once and joined into each, so the copies cannot
// drift apart. A group is a constexpr array or a braced list of rows:
//
//     constexpr auto kRows = join_rows({{.name = "contrast", ...}}, kSharedGroup);
template <std::size_t... Sizes>
constexpr std::array<Parameter, (Sizes + ...)> join_rows(const Parameter (&... groups)[Sizes]) {
    std::array<Parameter, (Sizes + ...)> rows{};
    auto next = rows.begin();
    ((next = std::copy(groups, groups + Sizes, next)), ...);
    return rows;
}

// --- parsing --------------------------------------------------------------------------

// The row a name selects, synonyms included, leaving out rows that the
// scene's SDL version no longer accepts; -1 when none does.
int find_parameter(std::span<const Parameter> rows, const char* name);

// A body parameter: its expression into `slots` (indexed by slot_of), or the
// table's unknown-name rule. Ignored rows take the value and keep nothing.
// Returns false when the name is unknown and the table does not end the run.
bool parse_parameter(const ParameterTable& table, Expr** slots, const char* name, Expr* value);

// --- evaluation -----------------------------------------------------------------------

// Evaluates `expression` (the row's default when null) as the row's type and
// stores it at row.store in `record`, without corrections: the numeric types,
// triples, names (into a std::string), expressions and ignored rows. False
// when the expression does not evaluate.
bool evaluate_parameter(const Parameter& row, Expr* expression, void* record);

// A numeric row's value for code that keeps it itself: the expression (the
// row's default when null) as the row's type reads it, without corrections.
bool evaluate_number(const Parameter& row, Expr* expression, float& value);

// Brings the value at row.store back into the row's range. False when the
// row says the evaluation fails there; ends the run for a fatal end.
bool correct_parameter(const Parameter& row, void* record);
// The same for the value at another field of the row (a setting as kept).
bool correct_parameter(const Parameter& row, const Field& field, void* record);

// The same, for a value not kept in a record.
bool correct_value(const Parameter& row, double& value);

// A number at a field of kind FLOAT, INT32 or BOOL (element `element` of a
// run of them), and its replacement; values written are whole for integers.
double field_number(const void* record, const Field& field, int element = 0);
void set_field_number(void* record, const Field& field, double value, int element = 0);

// Stores the row's default at `field` of `record` (every kind but OTHER).
void store_default(const Parameter& row, const Field& field, void* record);
// Every row's default at its store.
void store_defaults(std::span<const Parameter> rows, void* record);

// Evaluates the rows of types this layer does not know (colours, textures):
// stores at row.store in `record`; false when the expression does not evaluate.
using ParameterEvaluator = bool (*)(const Parameter& row, Expr* expression, void* record);

// Every row's expression from `slots` (see slot_of), in table order, then
// every row's correction, as the models evaluate their parameters. Stops at
// the first evaluation that fails and returns its row's index through
// `failed` (when given); false then, or when a correction fails.
bool evaluate_parameters(std::span<const Parameter> rows, Expr* const* slots, void* record,
                         ParameterEvaluator others, int* failed = nullptr);

// --- the reference page -------------------------------------------------------------

// The rows as a Markdown table: names, type, default, range, description.
std::string parameter_reference(std::span<const Parameter> rows);
// Environment settings, with how each is written and who reads it.
std::string setting_reference(std::span<const Parameter> rows);
// The unknown-name rule of a table, as a sentence; `parse_failure` is the
// message of the caller whose parse routine fails.
std::string unknown_name_reference(const ParameterTable& table, const char* parse_failure);

}  // namespace sky
