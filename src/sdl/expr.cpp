// The heart of expression evaluation: the node arena, AR_evaluate with its
// type rules, the quiet-evaluation state, and the structural list nodes that
// bodies are made of.
//
// AR_evaluate is strict: a consumer names the type it wants and gets exactly
// that representation, or failure. The few conversions it makes (constant
// textures, curves named by a string) are the ones scene files rely on.
#include <cstring>
#include <new>
#include <vector>

#include "platform/fatal.h"
#include "platform/memory.h"
#include "sdl/body.h"
#include "sdl/expr_internal.h"
#include "sdl/pool.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

// --- node arena ---------------------------------------------------------------

// Nodes live for the whole run. Blocks come from the tracked allocator rather
// than the front end's pool, so a rewind of the pool can never take back a
// block this arena is still handing nodes out of.
constexpr std::size_t kNodesPerBlock = 8192;

struct NodeArena {
    std::vector<Expr*> blocks;
    std::size_t current = 0;  // block being filled
    std::size_t used = 0;     // nodes handed out from it
};

// Never destroyed: nodes must stay valid for anything that runs at exit.
NodeArena& arena() {
    static NodeArena* instance = new NodeArena;
    return *instance;
}

// --- quiet evaluation -------------------------------------------------------

bool quiet = false;
int error_cell = 0;

// --- default values ----------------------------------------------------------

// Defaults exist for the value types and the object records, not for the
// structural types.
bool copy_default(std::int32_t wanted, void* result, const void* value) {
    switch (wanted) {
        case SDL_ARRAY:
        case SDL_CV_CURVE:
        case SDL_SHARED_EDGE:
        case SDL_TRIM_REGION_LIST:
        case 737:
            return false;
        default:
            if (wanted < SDL_SCALAR || wanted > SDL_POLYSET) return false;
            return copy_value(wanted, result, value);
    }
}

// Types a node yields exactly as the consumer reads them. Motion curves, trim
// faces, commands, colours and normals are here too: the declaration walk and
// the owning subsystems read them through AR_evaluate like any other value.
// The types an assignment may store (scene/assign.cpp) are another list that
// shares most of these lines.
bool evaluated_by_equal_type(std::int32_t wanted) {
    switch (wanted) {
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
        case SDL_CAMERA:
        case SDL_SHADER:
        case SDL_CV_CURVE:
        case SDL_TRIM_CV_CURVE:
        case SDL_POLYSET:
        case 740:
        case 741:
        case SDL_ST:
        case SDL_MOTION_CURVE:
        case SDL_TRIM_FACE:
        case SDL_COMMAND:
        case SDL_NORMAL:
        case SDL_COLOUR:
            return true;
        default:
            return false;
    }
}

bool evaluate_node(Expr* node, void* result) {
    return node->kind->evaluate(node, result);
}

bool evaluate_texture(Expr* node, void* result) {
    auto* texture = static_cast<TextureValue*>(result);
    switch (node->type) {
        case SDL_TEXTURE:
            return evaluate_node(node, result);
        case SDL_SCALAR: {
            float s = 0;
            if (!evaluate_node(node, &s)) return false;
            // Scene colours are 0..255 per channel; a number is a grey level in 0..1.
            *texture = TextureValue{nullptr, true, Triple{s * 255.0f, s * 255.0f, s * 255.0f}};
            return true;
        }
        case SDL_TRIPLE: {
            Triple colour;
            if (!evaluate_node(node, &colour)) return false;
            *texture = TextureValue{nullptr, true, colour};
            return true;
        }
        default:
            return false;
    }
}

// Curves may be named by a string ("animate("bounce", frame)"): the node
// becomes a reference to the curve the first time it is read.
bool evaluate_curve(std::int32_t wanted, Expr* node, void* result) {
    if (node->type == SDL_FILENAME && !convert_filename_to_reference(node, wanted)) return false;
    if (node->type != wanted) return false;
    return evaluate_node(node, result);
}

template <typename T>
bool copy_as(void* result, const void* value) {
    *static_cast<T*>(result) = *static_cast<const T*>(value);
    return true;
}

}  // namespace

bool copy_value(std::int32_t type, void* result, const void* value) {
    switch (type) {
        case SDL_SCALAR:
            return copy_as<float>(result, value);
        case SDL_TRIPLE:
        case SDL_ST:
        case SDL_NORMAL:
        case SDL_COLOUR:
            return copy_as<Triple>(result, value);
        case SDL_CV:
            return copy_as<CvValue>(result, value);
        case SDL_TRIM_CV:
            return copy_as<TrimCvValue>(result, value);
        case SDL_PARAM_CV:
            return copy_as<ParamCvValue>(result, value);
        case SDL_FILENAME:
            return copy_as<std::string>(result, value);
        case SDL_TRANSFORM:
            return copy_as<TransformValue>(result, value);
        case SDL_TEXTURE:
            return copy_as<TextureValue>(result, value);
        case SDL_LIGHT:
        case SDL_PATCH:
        case SDL_FACE:
        case SDL_POLYSET:
        case SDL_CAMERA:
        case SDL_SHADER:
        case SDL_TRIM_CV_CURVE:
        case SDL_PARAM_CV_CURVE:
        case SDL_BOUNDARY_CURVE:
        case 719:
        case SDL_MOTION_CURVE:
        case SDL_COMMAND:
            return copy_as<ObjectValue>(result, value);
        default:
            return false;
    }
}

int truncate_to_int(double x) {
    if (!(x == x)) return 0;
    if (x >= 2147483647.0) return 2147483647;
    if (x <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int>(x);
}

Expr* allocate_node() {
    NodeArena& nodes = arena();
    if (nodes.current < nodes.blocks.size() && nodes.used < kNodesPerBlock) {
        // the current block has room
    } else if (!nodes.blocks.empty() && nodes.current + 1 < nodes.blocks.size()) {
        ++nodes.current;  // a block kept by an earlier rewind
        nodes.used = 0;
    } else {
        void* block = SKY_MALLOC(kNodesPerBlock * sizeof(Expr));
        if (block == nullptr) fatal("out of memory reading the scene\n");
        nodes.blocks.push_back(static_cast<Expr*>(block));
        nodes.current = nodes.blocks.size() - 1;
        nodes.used = 0;
    }
    Expr* slot = nodes.blocks[nodes.current] + nodes.used++;
    return new (slot) Expr();
}

ExprArenaMark expr_arena_mark() {
    return {arena().current, arena().used};
}

void expr_arena_rewind(ExprArenaMark mark) {
    arena().current = mark.block;
    arena().used = mark.used;
}

bool set_quiet_evaluation(bool on) {
    bool previous = quiet;
    quiet = on;
    return previous;
}

int evaluation_error() {
    return error_cell;
}
void clear_evaluation_error() {
    error_cell = 0;
}
bool quiet_evaluation() {
    return quiet;
}
void set_evaluation_error(int error) {
    error_cell = error;
}

namespace {

// How deep evaluation may recurse: far beyond any scene's nesting (the parser
// refuses parentheses nested a few thousand deep), well within a thread's
// stack. Long chains of one operator do not recurse (evaluate_binary).
constexpr int kMaxEvaluationDepth = 2000;
thread_local int evaluation_depth = 0;

struct DepthGuard {
    explicit DepthGuard(const Expr* node) {
        if (++evaluation_depth > kMaxEvaluationDepth)
            fatal("Expression on line %d is nested too deeply to evaluate\n", node->line);
    }
    ~DepthGuard() { --evaluation_depth; }
};

}  // namespace

bool AR_evaluate(std::int32_t wanted, void* result, Expr* expression, const void* default_value) {
    if (result == nullptr) return false;
    if (expression == nullptr) {
        if (default_value == nullptr) return false;
        return copy_default(wanted, result, default_value);
    }
    Expr* node = expression;
    if (node->kind == &kArrayElementKind) {
        node = resolve_array_element(node);
        if (node == nullptr) return false;
    }
    if (node->kind == nullptr || node->kind->evaluate == nullptr) return false;
    DepthGuard depth(node);
    switch (wanted) {
        case SDL_TEXTURE:
            return evaluate_texture(node, result);
        case SDL_PARAM_CV_CURVE:
        case SDL_BOUNDARY_CURVE:
        case SDL_MOTION_CURVE:
            return evaluate_curve(wanted, node, result);
        default:
            if (!evaluated_by_equal_type(wanted) || node->type != wanted) return false;
            return evaluate_node(node, result);
    }
}

bool evaluate_scalar(Expr* expression, float& result) {
    return AR_evaluate(SDL_SCALAR, &result, expression, nullptr);
}

bool evaluate_triple(Expr* expression, Triple& result) {
    return AR_evaluate(SDL_TRIPLE, &result, expression, nullptr);
}

ExpressionContext& expression_context() {
    static ExpressionContext context;
    return context;
}

// --- lists and bodies ----------------------------------------------------------

const ExprKind kListKind = {"list", 0, nullptr};
const ExprKind kPackedListKind = {"packed list", 0, nullptr};

Expr* make_list(Expr* first, std::int32_t line) {
    Expr* node = allocate_node();
    node->kind = &kListKind;
    node->args = first;
    node->type = SDL_NO_TYPE;
    node->line = line;
    return node;
}

Expr* make_packed_list(const PackedList& list, std::int32_t line) {
    Expr* node = allocate_node();
    node->kind = &kPackedListKind;
    node->payload = sdl_pool().make<PackedList>();
    *static_cast<PackedList*>(node->payload) = list;
    node->type = SDL_NO_TYPE;
    node->line = line;
    return node;
}

int list_length(const Expr* list) {
    if (list == nullptr) return 0;
    if (is_packed_list(list)) return packed_list(list)->count;
    int count = 0;
    for (const Expr* item = list->args; item != nullptr; item = item->next) ++count;
    return count;
}

const BodyItem* Body::find(std::string_view name) const {
    for (auto it = items.rbegin(); it != items.rend(); ++it)
        if (it->name != nullptr && name == it->name) return &*it;
    return nullptr;
}

}  // namespace sky
