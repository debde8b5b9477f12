// The walk over the model section's statements, its listing and pre-pass,
// and the statements of control flow and transformation.
//
// Handlers walk their child lists through a replaceable walker, so the
// pre-pass's filtering reaches nested statements too.
#include "scene/dag.h"

#include "platform/fatal.h"
#include "platform/report.h"
#include "scene/dag_internal.h"
#include "scene/scene_clock.h"
#include "scene/transform.h"
#include "sdl/expr.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

using Walker = void (*)(Statement* list, int depth);
Walker current_walker = walk;

// Listing: on for the start frame with quiet off; a loop suppresses it for
// everything after its first body.
bool listing_suppressed = false;

bool listing() {
    return scene_clock().listing && !listing_suppressed;
}

void print_indent(int depth) {
    for (int i = 0; i < depth; ++i) rptUser("    ");
}

// The pre-pass ends at the first block or at a statement that stops its list.
bool pre_pass_over = false;

// True when the SCALAR condition holds: non-zero once truncated toward zero
// (0.9 and -0.5 are false).
bool condition_holds(Expr* condition, int line) {
    float value = 0;
    if (!evaluate_scalar(condition, value)) return false;
    (void)line;
    return static_cast<long long>(value) != 0;
}

std::uint64_t loop_iterations_left = 0;  // 0: no bound
bool loops_bounded = false;

bool loop_may_go_on() {
    if (!loops_bounded) return true;
    if (loop_iterations_left == 0) return false;
    --loop_iterations_left;
    return true;
}

int evaluate_empty(Statement&, int, void**) {
    return 0;
}

int evaluate_if(Statement& node, int depth, void**) {
    auto* record = static_cast<IfRecord*>(node.operands);
    SKY_CHECK(record != nullptr);
    if (condition_holds(record->condition, node.line)) {
        if (record->then_branch) current_walker(record->then_branch, depth + 1);
    } else if (record->else_branch) {
        current_walker(record->else_branch, depth + 1);
    }
    return 0;
}

int evaluate_for(Statement& node, int depth, void**) {
    auto* record = static_cast<LoopRecord*>(node.operands);
    SKY_CHECK(record != nullptr);
    bool saved = listing_suppressed;
    listing_suppressed = true;
    if (record->initial) current_walker(record->initial, depth + 1);
    listing_suppressed = saved;
    while (!pre_pass_over && condition_holds(record->condition, node.line) && loop_may_go_on()) {
        if (record->body) current_walker(record->body, depth + 1);
        listing_suppressed = true;  // the body is listed once
        if (record->step) current_walker(record->step, depth + 1);
    }
    listing_suppressed = saved;
    return 0;
}

int evaluate_block(Statement& node, int depth, void**) {
    auto* record = static_cast<BlockRecord*>(node.operands);
    SKY_CHECK(record != nullptr);
    TransformState& state = transform_state();
    // Statements inside a block never change the transformation seen after it.
    BlockMark mark = enter_block(state);
    if (record->body) current_walker(record->body, depth + 1);
    leave_block(state, mark);
    return 0;
}

// A transformation statement's evaluated amount, handed from its evaluate
// to its after operation (which applies it). A statement whose amount does
// not evaluate changes nothing.
thread_local Triple amount;

int evaluate_rotate(Statement& node, int, void** result) {
    auto* record = static_cast<RotateRecord*>(node.operands);
    SKY_CHECK(record != nullptr);
    if (evaluate_scalar(record->angle, amount.x)) *result = &amount;
    return 0;
}

void after_rotate(Statement& node, void* result) {
    auto* record = static_cast<RotateRecord*>(node.operands);
    if (result) apply_rotation(transform_state(), record->axis, static_cast<Triple*>(result)->x);
}

int evaluate_translate(Statement& node, int, void** result) {
    auto* record = static_cast<TranslateRecord*>(node.operands);
    SKY_CHECK(record != nullptr);
    if (evaluate_triple(record->vector, amount)) *result = &amount;
    return 0;
}

void after_translate(Statement& node, void* result) {
    auto* record = static_cast<TranslateRecord*>(node.operands);
    if (result) apply_translation(transform_state(), *static_cast<Triple*>(result), record->form);
}

int evaluate_scale(Statement& node, int, void** result) {
    auto* record = static_cast<ScaleRecord*>(node.operands);
    SKY_CHECK(record != nullptr);
    if (evaluate_triple(record->vector, amount)) *result = &amount;
    return 0;
}

void after_scale(Statement&, void* result) {
    if (result) apply_scale(transform_state(), *static_cast<Triple*>(result));
}

constexpr DagKind kDagKinds[] = {
    {"", STATEMENT_EMPTY, evaluate_empty, nullptr},
    {"if()", STATEMENT_IF, evaluate_if, nullptr},
    {"for( ; ; )", STATEMENT_FOR, evaluate_for, nullptr},
    {"{", STATEMENT_BLOCK, evaluate_block, nullptr},
    {"expression", STATEMENT_EXPRESSION, evaluate_expression_statement, nullptr},
    {"rotate", STATEMENT_ROTATE, evaluate_rotate, after_rotate},
    {"translate", STATEMENT_TRANSLATE, evaluate_translate, after_translate},
    {"scale", STATEMENT_SCALE, evaluate_scale, after_scale},
    {"light", STATEMENT_LIGHT, evaluate_light_statement, nullptr},
    {"face", STATEMENT_FACE, evaluate_face_statement, nullptr},
    {"patch", STATEMENT_PATCH, evaluate_patch_statement, nullptr},
    {"polyset", STATEMENT_POLYSET, evaluate_polyset_statement, nullptr},
    {"camera", STATEMENT_CAMERA, evaluate_camera_statement, nullptr},
    {"instance", STATEMENT_INSTANCE, evaluate_instance_statement, nullptr},
};
constexpr int kDagKindCount = sizeof kDagKinds / sizeof kDagKinds[0];
constexpr int kPrePassKinds = 5;  // empty, if, for, block, expression

const DagKind* find_kind(std::int32_t code, int rows) {
    for (int i = 0; i < rows; ++i)
        if (kDagKinds[i].code == code) return &kDagKinds[i];
    return nullptr;
}

void list_node(const Statement& node, const DagKind& kind, int depth) {
    print_indent(depth);
    if (node.kind == STATEMENT_INSTANCE) {
        auto* record = static_cast<const InstanceRecord*>(node.operands);
        rptUser("instance %s\n", record && record->symbol ? record->symbol->name : "");
    } else {
        rptUser("%s\n", kind.display_name);
    }
}

void pre_pass_walk(Statement* list, int depth) {
    for (Statement* node = list; node && !pre_pass_over; node = node->next) {
        const DagKind* kind = find_kind(node->kind, kPrePassKinds);
        if (kind == nullptr) continue;  // everything else waits for the main walk
        if (node->kind == STATEMENT_BLOCK) {
            pre_pass_over = true;
            return;
        }
        void* result = nullptr;
        if (kind->evaluate(*node, depth, &result) != 0) {
            pre_pass_over = true;
            return;
        }
    }
}

}  // namespace

const DagKind* dag_kind_table() {
    return kDagKinds;
}
int dag_kind_count() {
    return kDagKindCount;
}

void walk(Statement* list, int depth) {
    for (Statement* node = list; node; node = node->next) {
        const DagKind* kind = find_kind(node->kind, kDagKindCount);
        if (kind == nullptr) fatal("unknown DAG type %d\n", node->kind);
        if (listing()) list_node(*node, *kind, depth);
        void* result = nullptr;
        if (kind->evaluate(*node, depth, &result) != 0) break;
        if (kind->after) kind->after(*node, result);
    }
    if (depth >= 1 && listing()) {
        print_indent(depth - 1);
        rptUser("}\n");
    }
}

void pre_pass(Statement* list) {
    Walker saved = current_walker;
    current_walker = pre_pass_walk;
    pre_pass_over = false;
    bool listing_was = listing_suppressed;
    listing_suppressed = true;
    pre_pass_walk(list, 0);
    pre_pass_over = false;
    listing_suppressed = listing_was;
    current_walker = saved;
}

void set_loop_iteration_limit(std::uint64_t limit) {
    loops_bounded = limit != 0;
    loop_iterations_left = limit;
}

}  // namespace sky
