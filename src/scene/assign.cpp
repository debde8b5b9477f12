// Expression statements of the model section (`Rr_assign2`): assignments to
// variables and array elements, and prints evaluated for their effect.
#include "platform/fatal.h"
#include "scene/dag_internal.h"
#include "sdl/expr.h"
#include "sdl/symbols.h"

namespace sky {

namespace {

// Predefined names carry the system flag: the render settings the renderer
// publishes and the constants alike; the model section assigns neither.
bool is_system_variable(const Symbol& symbol) {
    return symbol.system != 0;
}

}  // namespace

int evaluate_expression_statement(Statement& node, int, void**) {
    auto* record = static_cast<AssignmentRecord*>(node.operands);
    SKY_CHECK(record != nullptr);
    Expr* value = record->value;

    Symbol* target = record->target;
    if (record->element_target) {
        target = array_element_symbol(record->element_target);
        if (target == nullptr) return 0;  // a subscript that does not evaluate or is out of range
    }
    if (target == nullptr) {
        // A print: evaluated for what it writes.
        if (value && (value->type == SDL_SCALAR || value->type == SDL_TRIPLE)) {
            Triple ignored;
            AR_evaluate(value->type, &ignored, value, nullptr);
        }
        return 0;
    }
    if (value == nullptr) fatal("SYSTEM ERROR on line %d\n", node.line);
    if (is_system_variable(*target))
        fatal("%s SYSTEM VARIABLE may not be assigned a value\n", target->name);

    if (target->type == SDL_NO_TYPE) target->type = value->type;
    if (target->type != value->type) fatal("data type conflict on line %d\n", node.line);

    // The types an assignment may store. Not the list of types AR_evaluate
    // copies as they are (evaluated_by_equal_type, sdl/expr.cpp), though the
    // two share most lines: cameras, arrays and curves are refused here.
    switch (target->type) {
        case SDL_CAMERA:
            fatal("Camera assignment broken in Rr_assign2\n");
        case SDL_ARRAY:
            fatal("ARRAY assignment broken in Rr_assign2\n");
        case SDL_CV_CURVE:
            fatal("Assignment of CV_CURVE not allowed\n");
        case SDL_SCALAR:
        case SDL_TRIPLE:
        case SDL_CV:
        case SDL_TRIM_CV:
        case SDL_PARAM_CV:
        case SDL_FILENAME:
        case SDL_TRANSFORM:
        case SDL_LIGHT:
        case SDL_PATCH:
        case SDL_FACE:
        case SDL_POLYSET:
        case SDL_SHADER:
        case SDL_TEXTURE:
            break;
        default:
            fatal("unknown data type on line %d\n", node.line);
    }
    if (target->value == nullptr) target->value = make_value_storage(target->type);
    if (target->value == nullptr) fatal("unknown data type on line %d\n", node.line);
    // The value lands in the current cell; the initial cell keeps the
    // declaration's value.
    AR_evaluate(target->type, target->value, value, nullptr);
    return 0;
}

}  // namespace sky
