// Scalar expressions: number literals, variable references, the arithmetic,
// relational and logical operators, and the argument evaluation they share
// with the built-in functions. Also the builders the grammar calls for them.
//
// Comparisons are tolerant (0.001) because scene files carry values that went
// through single precision in the modelling application; logic truncates
// toward zero, so 0.5 is false.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fatal.h"
#include "platform/report.h"
#include "sdl/expr_internal.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

float& scalar_result(void* result) {
    return *static_cast<float*>(result);
}

// --- literals and references ---------------------------------------------------

bool evaluate_literal(Expr* node, void* result) {
    scalar_result(result) = node->value;
    return true;
}

bool evaluate_reference(Expr* node, void* result) {
    const Symbol* symbol = node->symbol;
    if (symbol == nullptr) {
        if (node->type == SDL_SCALAR)
            rptError("Can't evaluate SCALAR variable on line %d\n", node->line);
        return false;
    }
    // An array element changes type when it is assigned: the reference only
    // reads the value it was made for.
    if (symbol->type != node->type || symbol->value == nullptr) return false;
    return copy_value(node->type, result, symbol->value);
}

// The modelling application writes a failed float as "nan0x..." which the
// lexer reads as a name: say where the real fault lies before stopping.
constexpr const char kNanNameWarning[] =
    "\nRegarding the following error message; A 'nan' in a variable name indicates a bad\n"
    "floating point number in the model.\n"
    "Search the SDL file for \"nan0x\" to find the field that holds the bad value,\n"
    "then set that field again in the modelling application and write the SDL file anew.\n\n";

// --- operators --------------------------------------------------------------------

struct BinaryRow {
    ExprKind kind;
    float (*apply)(float a, float b);
};

bool evaluate_binary(Expr* node, void* result);

// A node the left-spine walk below evaluates in its loop rather than by
// recursion: a binary operator yielding a scalar, which AR_evaluate would
// hand straight to evaluate_binary.
bool on_binary_spine(const Expr* node) {
    return node != nullptr && node->kind != nullptr && node->kind->evaluate == evaluate_binary &&
           node->type == SDL_SCALAR;
}

// The spines of the binary nodes being evaluated on this thread, one above
// the other: a right operand's own spine is pushed above its parent's while
// the parent waits for it.
thread_local std::vector<Expr*> spines;

// Gives the levels one evaluation pushed back, however it ends (a fatal
// error may unwind through it in the fuzzing harness).
struct SpineScope {
    std::size_t base = spines.size();
    ~SpineScope() { spines.resize(base); }
};

// Reports that `node` could not evaluate its operand `position`, as the
// argument evaluation does.
void report_operand_failure(Expr* node, int position) {
    if (!quiet_evaluation()) rptError("Can't evaluate argument %d for function\n", position);
    set_evaluation_error(kErrorArgument);
    report_scalar_failure(node);
}

// Operators associate to the left, so a long sum in a scene (`1+1+...+1`)
// is a chain of left operands as deep as it is long. Recursing down it would
// overflow the stack at a few tens of thousands of terms: the chain is
// walked with a loop instead, and evaluated from its innermost operator
// outward, with the same order of evaluation and the same messages as the
// argument evaluation would give level by level.
bool evaluate_binary(Expr* node, void* result) {
    const SpineScope scope;
    const std::size_t base = scope.base;
    for (Expr* level = node;; level = level->args) {
        spines.push_back(level);
        if (!on_binary_spine(level->args)) break;
    }
    // Every level clears the error cell before its first operand, and the
    // first operands are all evaluated before any second one.
    clear_evaluation_error();
    float value = 0;
    bool ok = true;
    std::size_t failed = spines.size();
    for (std::size_t i = spines.size(); i-- > base && ok;) {
        Expr* level = spines[i];
        Expr* first = level->args;
        if (i == spines.size() - 1) {
            if (first == nullptr) {
                set_evaluation_error(kErrorArgument);
                report_scalar_failure(level);
                ok = false;
            } else if (!AR_evaluate(SDL_SCALAR, &value, first, nullptr)) {
                report_operand_failure(level, 0);
                ok = false;
            }
        }
        float second = 0;
        if (ok && (first->next == nullptr)) {
            set_evaluation_error(kErrorArgument);
            report_scalar_failure(level);
            ok = false;
        } else if (ok && !AR_evaluate(SDL_SCALAR, &second, first->next, nullptr)) {
            report_operand_failure(level, 1);
            ok = false;
        }
        if (ok)
            value = reinterpret_cast<const BinaryRow*>(level->kind)->apply(value, second);
        else
            failed = i;
    }
    // A failure inside the chain fails every level above it, each saying so.
    if (!ok)
        for (std::size_t i = failed; i-- > base;) report_operand_failure(spines[i], 0);
    if (ok) scalar_result(result) = value;
    return ok;
}

float truth(bool condition) {
    return condition ? 1.0f : 0.0f;
}
double distance(float a, float b) {
    return std::fabs(static_cast<double>(a) - b);
}

constexpr BinaryRow kBinaryRows[] = {
    {{"+", 100, evaluate_binary}, [](float a, float b) { return a + b; }},
    {{"-", 101, evaluate_binary}, [](float a, float b) { return a - b; }},
    {{"*", 102, evaluate_binary}, [](float a, float b) { return a * b; }},
    // A near-zero divisor yields 0 rather than an infinity that would poison
    // every value computed from it.
    {{"/", 103, evaluate_binary},
     [](float a, float b) { return std::fabs(b) <= 1e-6f ? 0.0f : a / b; }},
    {{"==", 108, evaluate_binary}, [](float a, float b) { return truth(distance(a, b) < 0.001); }},
    {{"!=", 109, evaluate_binary}, [](float a, float b) { return truth(distance(a, b) > 0.001); }},
    {{"<", 110, evaluate_binary}, [](float a, float b) { return truth(a < b); }},
    {{"<=", 111, evaluate_binary}, [](float a, float b) { return truth(a <= b); }},
    {{">", 112, evaluate_binary}, [](float a, float b) { return truth(a > b); }},
    {{">=", 113, evaluate_binary}, [](float a, float b) { return truth(a >= b); }},
    // Both sides are evaluated, unlike `&&`.
    {{"||", 402, evaluate_binary},
     [](float a, float b) { return truth(std::trunc(a) != 0.0f || std::trunc(b) != 0.0f); }},
};

bool is_zero_truth(float value) {
    return std::trunc(value) == 0.0f;
}

bool evaluate_negation(Expr* node, void* result) {
    float value = 0;
    if (!AR_evaluate(SDL_SCALAR, &value, node->args, nullptr)) return false;
    scalar_result(result) = -value;
    return true;
}

bool evaluate_not(Expr* node, void* result) {
    float value = 0;
    if (!AR_evaluate(SDL_SCALAR, &value, node->args, nullptr)) return false;
    scalar_result(result) = truth(is_zero_truth(value));
    return true;
}

// Short-circuit: the right side may only be valid when the left one holds
// (`n != 0 && x / n > 1`), so it is not evaluated otherwise.
bool evaluate_and(Expr* node, void* result) {
    clear_evaluation_error();
    Expr* operand = node->args;
    for (int position = 1; position <= 2; ++position) {
        float value = 0;
        if (operand == nullptr) {
            set_evaluation_error(kErrorArgument);
            report_scalar_failure(node);
            return false;
        }
        if (!AR_evaluate(SDL_SCALAR, &value, operand, nullptr)) {
            if (!quiet_evaluation())
                rptError("Can't evaluate argument %d for function\n", position);
            set_evaluation_error(kErrorArgument);
            report_scalar_failure(node);
            return false;
        }
        if (position == 1 && is_zero_truth(value)) {
            scalar_result(result) = 0.0f;
            return true;
        }
        if (position == 2) scalar_result(result) = std::trunc(value);
        operand = operand->next;
    }
    return true;
}

constexpr ExprKind kNegationKind = {"unary -", 395, evaluate_negation};
constexpr ExprKind kAndKind = {"&&", 401, evaluate_and};
constexpr ExprKind kNotKind = {"!", 403, evaluate_not};

}  // namespace

const ExprKind kLiteralKind = {"literal", 0, evaluate_literal};
const ExprKind kVariableKind = {"variable", 0, evaluate_reference};

const ExprKind* operator_kind(std::int32_t code) {
    for (const BinaryRow& row : kBinaryRows)
        if (row.kind.code == code) return &row.kind;
    switch (code) {
        case 395:
            return &kNegationKind;
        case 401:
            return &kAndKind;
        case 403:
            return &kNotKind;
        default:
            return nullptr;
    }
}

void report_scalar_failure(const Expr* node) {
    if (!quiet_evaluation()) rptError("Cannot evaluate SCALAR on line %d\n", node->line);
}

bool evaluate_scalar_arguments(Expr* node, int count, float* values, bool fmod_rule) {
    clear_evaluation_error();
    Expr* argument = node->args;
    for (int i = 0; i < count; ++i) {
        if (fmod_rule && i == 1 && std::fabs(values[0]) <= 1e-6f) {
            for (int rest = 1; rest < count; ++rest) values[rest] = 0.0f;
            return true;
        }
        if (argument == nullptr) {
            set_evaluation_error(kErrorArgument);
            report_scalar_failure(node);
            return false;
        }
        if (!AR_evaluate(SDL_SCALAR, &values[i], argument, nullptr)) {
            if (!quiet_evaluation()) rptError("Can't evaluate argument %d for function\n", i);
            set_evaluation_error(kErrorArgument);
            report_scalar_failure(node);
            return false;
        }
        argument = argument->next;
    }
    return true;
}

bool convert_filename_to_reference(Expr* node, std::int32_t type) {
    const char* name = filename_text(node);
    static std::string evaluated;  // a filename variable holding the name
    if (name == nullptr && node->type == SDL_FILENAME &&
        AR_evaluate(SDL_FILENAME, &evaluated, node, nullptr))
        name = evaluated.c_str();
    Symbol* symbol = find_symbol(name);
    if (symbol == nullptr || symbol->type != type) return false;
    node->kind = &kVariableKind;
    node->symbol = symbol;
    node->type = type;
    return true;
}

bool current_frame(float& frame) {
    const Symbol* symbol = find_symbol("frame");
    if (symbol == nullptr || symbol->type != SDL_SCALAR || symbol->value == nullptr) return false;
    frame = symbol->scalar();
    return true;
}

// --- builders ---------------------------------------------------------------------

Expr* make_scalar_literal(double value, std::int32_t line) {
    Expr* node = allocate_node();
    node->kind = &kLiteralKind;
    node->value = static_cast<float>(value);
    node->type = SDL_SCALAR;
    node->line = line;
    return node;
}

Expr* Rr_make_variable_reference(const char* name, std::int32_t line) {
    Symbol* symbol = find_symbol(name);
    if (symbol == nullptr) {
        if (name != nullptr && std::strncmp(name, "nan0x", 5) == 0) rptError("%s", kNanNameWarning);
        fatal("variable %s requires previous declaration\n", name ? name : "(null)");
    }
    switch (symbol->type) {
        case SDL_CAMERA:
            fatal("CAMERA variables are not allowed\n");
        case SDL_ARRAY:
            fatal("Can't make an ARRAY from a variable reference\n");
        case SDL_CV_CURVE:
            fatal("CV_CURVE variables are not allowed\n");
        case SDL_POLYSET:
            break;  // a full object type like patches and faces, though its code is out of the run
        default:
            if (symbol->type < SDL_SCALAR || symbol->type > 737)
                fatal("Unknown variable type %d in Rr_make_variable_reference.\n", symbol->type);
    }
    Expr* node = allocate_node();
    node->kind = &kVariableKind;
    node->symbol = symbol;
    node->type = symbol->type;
    node->line = line;
    return node;
}

Expr* make_function(std::int32_t code, Expr* first_argument, std::int32_t line) {
    const ExprKind* kind = operator_kind(code);
    if (kind == nullptr) kind = function_kind(code);
    // animate reads a curve: a parameter curve, a motion curve or the name of one.
    bool bad_curve = code == kAnimateKind.code && first_argument != nullptr &&
                     first_argument->type != SDL_PARAM_CV_CURVE &&
                     first_argument->type != SDL_MOTION_CURVE &&
                     first_argument->type != SDL_FILENAME;
    if (kind == nullptr || bad_curve) {
        rptError("Internal error building AR_EXP_TYPE_SCALAR function on line %d\n", line);
        return nullptr;
    }
    Expr* node = allocate_node();
    node->kind = kind;
    node->args = first_argument;
    node->type = SDL_SCALAR;
    node->line = line;
    return node;
}

Expr* make_ease(Expr* p, Expr* q, std::int32_t ease_type, Expr* s, Expr* t, std::int32_t line) {
    if (p == nullptr || q == nullptr || s == nullptr || t == nullptr) {
        rptError("Internal error building AR_EXP_TYPE_SCALAR function on line %d\n", line);
        return nullptr;
    }
    Expr* type = make_scalar_literal(ease_type, line);
    type->next = p;
    p->next = q;
    q->next = s;
    s->next = t;
    t->next = nullptr;
    return make_function(kEaseKind.code, type, line);
}

}  // namespace sky
