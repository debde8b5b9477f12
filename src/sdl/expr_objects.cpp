// Expression nodes that carry more than a value: print nodes (the scene's own
// diagnostics), object nodes (lights, geometry, cameras, shaders, textures and
// curves, evaluated by the subsystem that owns their kind) and array-element
// references, resolved at each evaluation because the subscript may change.
#include <array>

#include "platform/fatal.h"
#include "platform/report.h"
#include "sdl/expr_internal.h"
#include "sdl/pool.h"
#include "sdl/sdl_errors.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

// --- print ------------------------------------------------------------------------

struct PrintNode {
    const char* text;
    Expr* value;
};

bool evaluate_comment(Expr* node, void* result) {
    if (node->text == nullptr) {
        rptError("Can't evaluate PRINT COMMENT on line %d\n", node->line);
        return false;
    }
    rptUser("%s\n", node->text);
    *static_cast<float*>(result) = 0.0f;
    return true;
}

bool evaluate_scalar_print(Expr* node, void* result) {
    const auto* print = static_cast<const PrintNode*>(node->payload);
    float value = 0;
    if (!AR_evaluate(SDL_SCALAR, &value, print->value, nullptr)) {
        rptError("Can't evaluate SCALAR PRINT function on line %d\n", node->line);
        return false;
    }
    rptUser("%s %g\n", print->text ? print->text : "", value);
    *static_cast<float*>(result) = value;
    return true;
}

bool evaluate_triple_print(Expr* node, void* result) {
    const auto* print = static_cast<const PrintNode*>(node->payload);
    Triple value;
    if (!AR_evaluate(SDL_TRIPLE, &value, print->value, nullptr)) {
        rptError("Can't evaluate TRIPLE PRINT function on line %d\n", node->line);
        return false;
    }
    rptUser("%s (%g, %g, %g)\n", print->text ? print->text : "", value.x, value.y, value.z);
    *static_cast<Triple*>(result) = value;
    return true;
}

const ExprKind kCommentKind = {"print comment", 0, evaluate_comment};
const ExprKind kScalarPrintKind = {"print scalar", 0, evaluate_scalar_print};
const ExprKind kTriplePrintKind = {"print triple", 0, evaluate_triple_print};

// --- objects ---------------------------------------------------------------------

// Evaluators registered by the owning subsystems, by type code.
constexpr std::int32_t kFirstObjectType = 700;
std::array<ObjectEvaluator, 64> object_evaluators{};

ObjectEvaluator registered_evaluator(std::int32_t type) {
    std::int32_t slot = type - kFirstObjectType;
    if (slot < 0 || slot >= static_cast<std::int32_t>(object_evaluators.size())) return nullptr;
    return object_evaluators[slot];
}

// Until its subsystem takes over, an object is its body as written. The name
// and record of the result are the owner's to fill and are left alone.
bool evaluate_object(Expr* node, void* result) {
    if (ObjectEvaluator evaluate = registered_evaluator(node->type)) return evaluate(node, result);
    const auto* body = static_cast<const Body*>(node->payload);
    if (node->type == SDL_TEXTURE) {
        *static_cast<TextureValue*>(result) = TextureValue{body, false, Triple{}};
        return true;
    }
    auto* object = static_cast<ObjectValue*>(result);
    object->type = node->type;
    object->body = body;
    return true;
}

const ExprKind kObjectKind = {"object", 0, evaluate_object};

// --- array elements ----------------------------------------------------------------

struct ArrayElementNode {
    Symbol* array;
    Expr* subscript;  // further subscripts follow through `next`, for nested arrays
    Expr scratch;     // points at the element designated by the last evaluation
};

// Evaluates the subscripts in order, each selecting inside the array the one
// before selected, and returns the element where the walk stops: the last
// subscript's (itself an array when fewer subscripts are given than the array
// nests), or the first that is not an array (further subscripts are not
// evaluated). Null when a subscript fails to evaluate or falls outside its
// array.
Symbol* walk_subscripts(const ArrayElementNode& node) {
    Symbol* array = node.array;
    for (Expr* subscript = node.subscript; subscript != nullptr; subscript = subscript->next) {
        float value = 0;
        if (!AR_evaluate(SDL_SCALAR, &value, subscript, nullptr)) return nullptr;
        int index = truncate_to_int(value);
        if (array == nullptr || index < 0 || index >= array->element_count ||
            array->elements == nullptr)
            return nullptr;
        Symbol* element = &array->elements[index];
        if (subscript->next == nullptr || element->type != SDL_ARRAY) return element;
        array = element;
    }
    return nullptr;
}

bool evaluate_array_element(Expr* node, void* result) {
    Expr* element = resolve_array_element(node);
    if (element == nullptr) return false;
    return element->kind->evaluate(element, result);
}

}  // namespace

const ExprKind kArrayElementKind = {"array element", 0, evaluate_array_element};

Expr* make_print(const char* text, Expr* value, std::int32_t line) {
    const ExprKind* kind = nullptr;
    std::int32_t type = SDL_SCALAR;
    if (value == nullptr) {
        kind = &kCommentKind;
    } else if (value->type == SDL_SCALAR) {
        kind = &kScalarPrintKind;
    } else if (value->type == SDL_TRIPLE || value->kind == &kArrayElementKind) {
        kind = &kTriplePrintKind;
        type = SDL_TRIPLE;
    } else {
        sdl_report_error("can't print %s data yet", sdl_type_name(value->type));
        return nullptr;
    }
    Expr* node = allocate_node();
    node->kind = kind;
    node->type = type;
    node->line = line;
    if (value == nullptr) {
        node->text = text;
    } else {
        auto* print = sdl_pool().make<PrintNode>();
        *print = PrintNode{text, value};
        node->payload = print;
    }
    return node;
}

void register_object_evaluator(std::int32_t type, ObjectEvaluator evaluate) {
    std::int32_t slot = type - kFirstObjectType;
    SKY_CHECK(slot >= 0 && slot < static_cast<std::int32_t>(object_evaluators.size()));
    object_evaluators[slot] = evaluate;
}

Expr* make_object(std::int32_t type, Body* body, std::int32_t line) {
    Expr* node = allocate_node();
    node->kind = &kObjectKind;
    node->type = type;
    node->payload = body;
    node->line = line;
    return node;
}

const Body* object_body(const Expr* node) {
    if (node == nullptr || node->kind != &kObjectKind) return nullptr;
    return static_cast<const Body*>(node->payload);
}

Expr* make_array_element(const char* name, Expr* subscript, std::int32_t line) {
    Symbol* array = find_symbol(name);
    if (array == nullptr) fatal("variable %s requires previous declaration\n", name);
    if (array->type != SDL_ARRAY) fatal("%s is not an ARRAY, on line %d\n", name, line);
    auto* element = sdl_pool().make<ArrayElementNode>();
    element->array = array;
    element->subscript = subscript;
    Expr* node = allocate_node();
    node->kind = &kArrayElementKind;
    node->type = SDL_ARRAY;
    node->payload = element;
    node->line = line;
    return node;
}

Expr* resolve_array_element(Expr* reference) {
    auto* node = static_cast<ArrayElementNode*>(reference->payload);
    if (node == nullptr) return nullptr;
    Symbol* element = walk_subscripts(*node);
    // A whole array is not a value; elements get a type and storage when
    // first assigned.
    if (element == nullptr || element->type == SDL_ARRAY || element->type == SDL_NO_TYPE ||
        element->value == nullptr)
        return nullptr;
    Expr& scratch = node->scratch;
    scratch.kind = &kVariableKind;
    scratch.symbol = element;
    scratch.type = element->type;
    scratch.line = reference->line;
    return &scratch;
}

// The element record an assignment to `name[i]` writes: resolved like a
// reference, but also when the element has no type or storage yet.
Symbol* array_element_symbol(Expr* reference) {
    if (reference == nullptr || reference->kind != &kArrayElementKind) return nullptr;
    auto* node = static_cast<ArrayElementNode*>(reference->payload);
    if (node == nullptr) return nullptr;
    return walk_subscripts(*node);
}

}  // namespace sky
