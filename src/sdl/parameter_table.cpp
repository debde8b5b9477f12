// Parameter tables: the name lookup, the evaluation of the types SDL knows,
// the range corrections and the reference page's text.
#include "sdl/parameter_table.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/fatal.h"
#include "platform/report.h"
#include "sdl/environment.h"
#include "sdl/expr.h"

namespace sky {
namespace {

char* at(void* record, const Field& field) {
    return static_cast<char*>(record) + field.offset;
}
const char* at(const void* record, const Field& field) {
    return static_cast<const char*>(record) + field.offset;
}

bool is_number(FieldKind kind) {
    return kind == FieldKind::FLOAT || kind == FieldKind::INT32 || kind == FieldKind::BOOL;
}

// A number as the row's type reads it.
double converted(ParameterType type, float value) {
    switch (type) {
        case ParameterType::INTEGER:
            return truncate_to_int(value);
        case ParameterType::ROUNDED:
            return truncate_to_int(std::round(value));
        case ParameterType::FLAG:
            return value >= 0.5f ? 1.0 : 0.0;
        case ParameterType::SWITCH:
            return truncate_to_int(value) != 0 ? 1.0 : 0.0;
        default:
            return value;
    }
}

bool beyond(const Bound& bound, double value, bool below) {
    if (bound.action == Correction::NONE) return false;
    if (std::isnan(value)) return bound.catches_nan;
    if (below) return bound.open ? value <= bound.limit : value < bound.limit;
    return bound.open ? value >= bound.limit : value > bound.limit;
}

// Applies one end; false when the evaluation fails there.
bool apply(const Bound& bound, double& value) {
    switch (bound.action) {
        case Correction::NONE:
            return true;
        case Correction::CLAMP:
            break;
        case Correction::REPORT:
            rptError("%s", bound.message);
            break;
        case Correction::WARN:
            rptWarning("%s", bound.message);
            break;
        case Correction::FATAL:
            fatal("%s", bound.message);
        case Correction::FAIL:
            return false;
    }
    value = bound.value;
    return true;
}

// The types evaluate_parameter knows.
bool is_sdl_type(ParameterType type) {
    switch (type) {
        case ParameterType::SCALAR:
        case ParameterType::INTEGER:
        case ParameterType::ROUNDED:
        case ParameterType::FLAG:
        case ParameterType::SWITCH:
        case ParameterType::TRIPLE:
        case ParameterType::NAME:
        case ParameterType::EXPRESSION:
        case ParameterType::IGNORED:
            return true;
        default:
            return false;
    }
}

bool accepted_in_this_version(const Parameter& row) {
    return row.before_version == kAnyVersion || sdl_version() < row.before_version;
}

}  // namespace

double field_number(const void* record, const Field& field, int element) {
    const char* p = at(record, field);
    switch (field.kind) {
        case FieldKind::FLOAT:
            return reinterpret_cast<const float*>(p)[element];
        case FieldKind::INT32:
            return reinterpret_cast<const std::int32_t*>(p)[element];
        case FieldKind::BOOL:
            return reinterpret_cast<const bool*>(p)[element] ? 1.0 : 0.0;
        default:
            return 0.0;
    }
}

void set_field_number(void* record, const Field& field, double value, int element) {
    char* p = at(record, field);
    switch (field.kind) {
        case FieldKind::FLOAT:
            reinterpret_cast<float*>(p)[element] = static_cast<float>(value);
            break;
        case FieldKind::INT32:
            reinterpret_cast<std::int32_t*>(p)[element] = static_cast<std::int32_t>(value);
            break;
        case FieldKind::BOOL:
            reinterpret_cast<bool*>(p)[element] = value != 0.0;
            break;
        default:
            break;
    }
}

int find_parameter(std::span<const Parameter> rows, const char* name) {
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (names_row(rows[i], name) && accepted_in_this_version(rows[i]))
            return static_cast<int>(i);
    return -1;
}

bool parse_parameter(const ParameterTable& table, Expr** slots, const char* name, Expr* value) {
    int index = find_parameter(table.rows, name);
    if (index >= 0) {
        if (table.rows[static_cast<std::size_t>(index)].type != ParameterType::IGNORED)
            slots[slot_of(table.rows, index)] = value;
        return true;
    }
    switch (table.on_unknown) {
        case UnknownName::FATAL:
            fatal(table.unknown, name);
        case UnknownName::REPORT:
            rptError(table.unknown, name);
            return false;
        case UnknownName::QUIET:
            return false;
    }
    return false;
}

bool evaluate_parameter(const Parameter& row, Expr* expression, void* record) {
    const Field& field = row.store;
    switch (row.type) {
        case ParameterType::IGNORED:
            return true;
        case ParameterType::EXPRESSION:
            if (field.kind == FieldKind::EXPRESSION)
                *reinterpret_cast<Expr**>(at(record, field)) = expression;
            return true;
        case ParameterType::TRIPLE: {
            Triple value = row.value;
            if (expression && !AR_evaluate(SDL_TRIPLE, &value, expression, nullptr)) return false;
            if (field.kind == FieldKind::TRIPLE)
                *reinterpret_cast<Triple*>(at(record, field)) = value;
            return true;
        }
        case ParameterType::NAME: {
            std::string value;
            if (expression && !AR_evaluate(SDL_FILENAME, &value, expression, nullptr)) return false;
            if (field.kind == FieldKind::OTHER)
                *reinterpret_cast<std::string*>(at(record, field)) = std::move(value);
            return true;
        }
        case ParameterType::SCALAR:
        case ParameterType::INTEGER:
        case ParameterType::ROUNDED:
        case ParameterType::FLAG:
        case ParameterType::SWITCH: {
            float value = row.value.x;
            if (expression && !AR_evaluate(SDL_SCALAR, &value, expression, nullptr)) return false;
            if (is_number(field.kind)) set_field_number(record, field, converted(row.type, value));
            return true;
        }
        default:
            return false;  // the owning layer's types
    }
}

bool evaluate_number(const Parameter& row, Expr* expression, float& value) {
    value = row.value.x;
    if (expression && !AR_evaluate(SDL_SCALAR, &value, expression, nullptr)) return false;
    value = static_cast<float>(converted(row.type, value));
    return true;
}

bool correct_value(const Parameter& row, double& value) {
    if (beyond(row.below, value, true)) return apply(row.below, value);
    if (beyond(row.above, value, false)) return apply(row.above, value);
    return true;
}

bool correct_parameter(const Parameter& row, const Field& field, void* record) {
    if (!is_number(field.kind)) return true;
    if (row.below.action == Correction::NONE && row.above.action == Correction::NONE) return true;
    double value = field_number(record, field);
    double corrected = value;
    if (!correct_value(row, corrected)) return false;
    if (corrected != value)
        set_field_number(record, field, converted(row.type, static_cast<float>(corrected)));
    return true;
}

bool correct_parameter(const Parameter& row, void* record) {
    return correct_parameter(row, row.store, record);
}

void store_default(const Parameter& row, const Field& field, void* record) {
    const float channels[3] = {row.value.x, row.value.y, row.value.z};
    switch (field.kind) {
        case FieldKind::FLOAT:
        case FieldKind::INT32:
        case FieldKind::BOOL:
            for (int i = 0; i < field.count && i < 3; ++i)
                set_field_number(record, field, converted(row.type, channels[i]), i);
            break;
        case FieldKind::TRIPLE:
            *reinterpret_cast<Triple*>(at(record, field)) = row.value;
            break;
        case FieldKind::EXPRESSION:
            *reinterpret_cast<Expr**>(at(record, field)) = nullptr;
            break;
        default:
            break;
    }
}

void store_defaults(std::span<const Parameter> rows, void* record) {
    for (const Parameter& row : rows) store_default(row, row.store, record);
}

bool evaluate_parameters(std::span<const Parameter> rows, Expr* const* slots, void* record,
                         ParameterEvaluator others, int* failed) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Parameter& row = rows[i];
        Expr* expression = slots[slot_of(rows, static_cast<int>(i))];
        bool ok = is_sdl_type(row.type) ? evaluate_parameter(row, expression, record)
                                        : others != nullptr && others(row, expression, record);
        if (!ok) {
            if (failed) *failed = static_cast<int>(i);
            return false;
        }
    }
    for (const Parameter& row : rows)
        if (!correct_parameter(row, record)) return false;
    return true;
}

// --- the reference page ---------------------------------------------------------------

namespace {

const char* type_words(ParameterType type) {
    switch (type) {
        case ParameterType::SCALAR:
            return "number";
        case ParameterType::INTEGER:
            return "integer";
        case ParameterType::ROUNDED:
            return "integer (rounded)";
        case ParameterType::FLAG:
            return "flag";
        case ParameterType::SWITCH:
            return "switch";
        case ParameterType::TRIPLE:
            return "triple";
        case ParameterType::NAME:
            return "name";
        case ParameterType::EXPRESSION:
            return "expression";
        case ParameterType::COLOUR:
            return "colour";
        case ParameterType::TEXTURED:
            return "colour or texture";
        case ParameterType::SLOT:
            return "colour, number or texture";
        case ParameterType::VALUE:
            return "number, colour or texture";
        case ParameterType::ANY:
            return "number, colour, name or texture";
        case ParameterType::TEXTURE:
            return "texture";
        case ParameterType::IGNORED:
            return "ignored";
    }
    return "";
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string triple(const Triple& t) {
    return "(" + number(t.x) + ", " + number(t.y) + ", " + number(t.z) + ")";
}

std::string default_words(const Parameter& row) {
    if (row.default_text) return row.default_text;
    const Triple& v = row.value;
    switch (row.type) {
        case ParameterType::FLAG:
        case ParameterType::SWITCH:
            return v.x >= 0.5f ? "on" : "off";
        case ParameterType::INTEGER:
        case ParameterType::ROUNDED:
        case ParameterType::SCALAR:
            return number(v.x);
        case ParameterType::TRIPLE:
        case ParameterType::COLOUR:
        case ParameterType::TEXTURED:
            return triple(v);
        case ParameterType::SLOT:
        case ParameterType::VALUE:
        case ParameterType::ANY:
            return v.x == v.y && v.y == v.z ? number(v.x) : triple(v);
        case ParameterType::NAME:
        case ParameterType::EXPRESSION:
        case ParameterType::TEXTURE:
            return "none";
        case ParameterType::IGNORED:
            return "";
    }
    return "";
}

// A message as the page quotes it: without its line end, in quotes.
std::string quoted(const char* message) {
    std::string text = message ? message : "";
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::string escaped;
    for (char c : text) {
        if (c == '|') escaped += '\\';
        escaped += c;
    }
    return "\"" + escaped + "\"";
}

std::string bound_words(const Bound& bound, bool below) {
    std::string where =
        below ? (bound.open ? number(bound.limit) + " or less" : "below " + number(bound.limit))
              : (bound.open ? number(bound.limit) + " or more" : "above " + number(bound.limit));
    switch (bound.action) {
        case Correction::NONE:
            return "";
        case Correction::CLAMP:
            return where + ": " + number(bound.value);
        case Correction::REPORT:
            return where + ": " + number(bound.value) + ", reporting " + quoted(bound.message);
        case Correction::WARN:
            return where + ": " + number(bound.value) + ", warning " + quoted(bound.message);
        case Correction::FATAL:
            return where + ": the run ends with " + quoted(bound.message);
        case Correction::FAIL:
            return where + ": the evaluation fails";
    }
    return "";
}

std::string range_words(const Parameter& row) {
    std::string low = bound_words(row.below, true);
    std::string high = bound_words(row.above, false);
    if (low.empty()) return high;
    if (high.empty()) return low;
    return low + "; " + high;
}

const char* written_words(Written written) {
    switch (written) {
        case Written::IN_BODY:
            return "in a body";
        case Written::KEYWORD:
            return "keyword";
        case Written::KEYWORD_INTEGER:
            return "keyword, integer";
        case Written::VARIABLE:
            return "system variable";
        case Written::OWN_RULE:
            return "own form";
    }
    return "";
}

const char* consumer_words(Consumer consumer) {
    switch (consumer) {
        case Consumer::RECORD:
            return "its record";
        case Consumer::RENDER_OPTIONS:
            return "render options";
        case Consumer::RAY_TRACE_LIMITS:
            return "ray-trace limits";
        case Consumer::ELSEWHERE:
            return "its user";
    }
    return "";
}

std::string names_words(const Parameter& row) {
    std::string names = "`" + std::string(row.name) + "`";
    if (row.also) {
        std::string_view also = row.also;
        while (!also.empty()) {
            std::size_t end = also.find(' ');
            names += ", `" + std::string(also.substr(0, end)) + "`";
            if (end == std::string_view::npos) break;
            also.remove_prefix(end + 1);
        }
    }
    if (row.before_version != kAnyVersion)
        names += " (before version " + number(row.before_version) + ")";
    return names;
}

}  // namespace

std::string parameter_reference(std::span<const Parameter> rows) {
    std::string page =
        "| Parameter | Type | Default | Range | Description |\n"
        "|---|---|---|---|---|\n";
    for (const Parameter& row : rows) {
        page += "| " + names_words(row) + " | " + type_words(row.type) + " | " +
                default_words(row) + " | " + range_words(row) + " | " + row.description + " |\n";
    }
    return page;
}

std::string setting_reference(std::span<const Parameter> rows) {
    std::string page =
        "| Setting | Written | Type | Default | Range | Read by | Description |\n"
        "|---|---|---|---|---|---|---|\n";
    for (const Parameter& row : rows) {
        page += "| " + names_words(row) + " | " + written_words(row.written) + " | " +
                type_words(row.type) + " | " + default_words(row) + " | " + range_words(row) +
                " | " + consumer_words(row.consumer) + " | " + row.description + " |\n";
    }
    return page;
}

std::string unknown_name_reference(const ParameterTable& table, const char* parse_failure) {
    switch (table.on_unknown) {
        case UnknownName::FATAL:
            return "Any other name ends the run with " + quoted(table.unknown) + ".";
        case UnknownName::REPORT:
            return "Any other name is reported as " + quoted(table.unknown) +
                   ", and the run ends with " + quoted(parse_failure) + ".";
        case UnknownName::QUIET:
            return "Any other name ends the run with " + quoted(parse_failure) + ".";
    }
    return "";
}

}  // namespace sky
