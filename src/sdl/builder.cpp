// The grammar's building blocks: chains, bodies, statements, trims and the
// texture nesting limit. Everything lives in the front end's pool.
//
// The grammar has three shift/reduce conflicts, each resolved by shifting:
// `a[i] = ...` (both readings build the same element reference), a trim face
// used as a value inside a comma-separated list (a "," after it always starts
// another boundary), and `polygon((i), ...)` (a lone parenthesised index is
// an expression, not an index list).
#include "sdl/builder.h"

#include <cstring>
#include <vector>

#include "platform/fatal.h"
#include "sdl/pool.h"
#include "sdl/scene_description.h"
#include "sdl/sdl_errors.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

constexpr int kMaxTextureDepth = 32;

struct OpenTexture {
    const char* procedure;
    bool curvature;
};
std::vector<OpenTexture> open_textures;

BodyFinisher geometry_finisher = nullptr;
BodyFinisher texture_finisher = nullptr;
BodyFinisher shading_finisher = nullptr;
ProcedureCheck procedure_check = nullptr;

// The header of a trim B-spline: its dimension, form, curve type, order, CV
// count and whether it is rational.
void check_trim_bspline_header(const Body& header) {
    static constexpr const char* kFields[] = {"form", "ctype", "dim", "order", "count", "rational"};
    for (const BodyItem& item : header.items) {
        bool known = false;
        for (const char* field : kFields) known = known || std::strcmp(item.name, field) == 0;
        if (!known) fatal("Unknown tbs (trim bspline) parameter %s\n", item.name);
    }
}

}  // namespace

void set_geometry_body_finisher(BodyFinisher finisher) {
    geometry_finisher = finisher;
}
void set_texture_body_finisher(BodyFinisher finisher) {
    texture_finisher = finisher;
}
void set_shading_body_finisher(BodyFinisher finisher) {
    shading_finisher = finisher;
}
void set_texture_procedure_check(ProcedureCheck check) {
    procedure_check = check;
}

// --- chains -------------------------------------------------------------------

ExprChain* chain_start(Expr* first) {
    auto* chain = sdl_pool().make<ExprChain>();
    return chain_append(chain, first);
}

ExprChain* chain_append(ExprChain* chain, Expr* item) {
    if (chain == nullptr || item == nullptr) return chain;
    item->next = nullptr;
    if (chain->last)
        chain->last->next = item;
    else
        chain->first = item;
    chain->last = item;
    ++chain->count;
    return chain;
}

Expr* chain_to_list(ExprChain* chain, std::int32_t line) {
    return make_list(chain ? chain->first : nullptr, line);
}

ExprChain* expr_chain(std::initializer_list<Expr*> items) {
    auto* chain = sdl_pool().make<ExprChain>();
    for (Expr* item : items) chain_append(chain, item);
    return chain;
}

Expr* list2(Expr* a, Expr* b, std::int32_t line) {
    return chain_to_list(chain_append(chain_start(a), b), line);
}

Expr* list4(Expr* a, Expr* b, Expr* c, Expr* d, std::int32_t line) {
    return chain_to_list(chain_append(chain_append(chain_append(chain_start(a), b), c), d), line);
}

ItemChain* items_empty() {
    return sdl_pool().make<ItemChain>();
}

ItemChain* items_append(ItemChain* chain, BodyItem* item) {
    if (chain == nullptr || item == nullptr) return chain;
    auto* link = sdl_pool().make<ItemLink>();
    link->item = *item;
    if (chain->last)
        chain->last->next = link;
    else
        chain->first = link;
    chain->last = link;
    ++chain->count;
    return chain;
}

BodyItem* make_item(const char* name, Expr* value, std::int32_t form, std::int32_t line) {
    auto* item = sdl_pool().make<BodyItem>();
    item->name = name;
    item->value = value;
    item->form = form;
    item->line = line;
    return item;
}

Body* make_body(std::int32_t type, const char* model, ItemChain* items, std::int32_t line) {
    auto* body = sdl_pool().make<Body>();
    body->type = type;
    body->model = model;
    body->line = line;
    if (items && items->count > 0) {
        auto* array = static_cast<BodyItem*>(sdl_pool().allocate(
            sizeof(BodyItem) * static_cast<std::size_t>(items->count), alignof(BodyItem)));
        std::size_t n = 0;
        for (ItemLink* link = items->first; link; link = link->next) array[n++] = link->item;
        body->items = std::span<BodyItem>(array, n);
    }
    if (type == SDL_CAMERA) {
        SceneDescription& scene = scene_description();
        scene.cameras.push_back({body, scene.reading_stage});
    }
    // Geometry is checked as soon as its body is complete, so its errors
    // carry the line the body ends on.
    if (geometry_finisher &&
        (type == SDL_PATCH || type == SDL_FACE || type == SDL_POLYSET || type == SDL_COMMAND))
        geometry_finisher(*body);
    if (shading_finisher && (type == SDL_LIGHT || type == SDL_SHADER)) shading_finisher(*body);
    return body;
}

void append_body_item(Body& body, const BodyItem& item) {
    std::size_t n = body.items.size();
    auto* array =
        static_cast<BodyItem*>(sdl_pool().allocate(sizeof(BodyItem) * (n + 1), alignof(BodyItem)));
    std::copy(body.items.begin(), body.items.end(), array);
    array[n] = item;
    body.items = std::span<BodyItem>(array, n + 1);
}

// --- statements ----------------------------------------------------------------

StatementChain* statements_empty() {
    return sdl_pool().make<StatementChain>();
}

StatementChain* statements_append(StatementChain* chain, Statement* statement) {
    if (chain == nullptr || statement == nullptr) return chain;
    if (chain->last)
        chain->last->next = statement;
    else
        chain->first = statement;
    chain->last = statement;
    return chain;
}

Statement* make_statement(std::int32_t kind, void* operands, std::int32_t line) {
    auto* statement = sdl_pool().make<Statement>();
    statement->kind = kind;
    statement->operands = operands;
    statement->line = line;
    return statement;
}

Statement* make_assignment(const char* name, Expr* value, std::int32_t line) {
    Symbol* target = find_symbol(name);
    if (target == nullptr) fatal("variable %s requires previous declaration\n", name);
    auto* record = sdl_pool().make<AssignmentRecord>();
    record->target = target;
    record->value = value;
    return make_statement(STATEMENT_EXPRESSION, record, line);
}

Statement* make_element_assignment(const char* name, Expr* subscript, Expr* value,
                                   std::int32_t line) {
    auto* record = sdl_pool().make<AssignmentRecord>();
    record->element_target = built(make_array_element(name, subscript, line));
    record->value = value;
    return make_statement(STATEMENT_EXPRESSION, record, line);
}

Statement* make_print_statement(Expr* print, std::int32_t line) {
    auto* record = sdl_pool().make<AssignmentRecord>();
    record->value = print;
    return make_statement(STATEMENT_EXPRESSION, record, line);
}

Statement* make_if(Expr* condition, Statement* then_branch, Statement* else_branch,
                   std::int32_t line) {
    auto* record = sdl_pool().make<IfRecord>();
    record->condition = condition;
    record->then_branch = then_branch;
    record->else_branch = else_branch;
    return make_statement(STATEMENT_IF, record, line);
}

Statement* make_for(Statement* initial, Expr* condition, Statement* step, Statement* body,
                    std::int32_t line) {
    auto* record = sdl_pool().make<LoopRecord>();
    record->initial = initial;
    record->condition = condition;
    record->step = step;
    record->body = body;
    return make_statement(STATEMENT_FOR, record, line);
}

Statement* make_block(StatementChain* body, std::int32_t line) {
    auto* record = sdl_pool().make<BlockRecord>();
    record->body = body ? body->first : nullptr;
    return make_statement(STATEMENT_BLOCK, record, line);
}

Statement* make_rotate(std::int32_t axis, Expr* angle, std::int32_t line) {
    auto* record = sdl_pool().make<RotateRecord>();
    record->axis = axis;
    record->angle = angle;
    return make_statement(STATEMENT_ROTATE, record, line);
}

Statement* make_translate(std::int32_t form, Expr* vector, std::int32_t line) {
    auto* record = sdl_pool().make<TranslateRecord>();
    record->form = form;
    record->vector = vector;
    return make_statement(STATEMENT_TRANSLATE, record, line);
}

Statement* make_scale(Expr* vector, std::int32_t line) {
    auto* record = sdl_pool().make<ScaleRecord>();
    record->vector = vector;
    return make_statement(STATEMENT_SCALE, record, line);
}

Statement* make_object_statement(std::int32_t kind, Expr* object, std::int32_t line) {
    auto* record = sdl_pool().make<ObjectRecord>();
    record->object = object;
    return make_statement(kind, record, line);
}

Statement* make_instance(const char* name, std::int32_t line) {
    auto* record = sdl_pool().make<InstanceRecord>();
    Symbol* symbol = find_symbol(name);
    if (symbol == nullptr) {
        sdl_report_error("Cannot instance undefined variable %s\n", name);
    } else if (symbol->type != SDL_LIGHT && symbol->type != SDL_PATCH && symbol->type != SDL_FACE &&
               symbol->type != SDL_POLYSET) {
        sdl_report_error("Can only instance objects\n");
    } else {
        record->symbol = symbol;
        record->object = built(Rr_make_variable_reference(name, line));
    }
    return make_statement(STATEMENT_INSTANCE, record, line);
}

// --- expressions ---------------------------------------------------------------

Expr* built(Expr* node) {
    if (node == nullptr) exit_process(1);
    return node;
}

Expr* make_binary(std::int32_t code, Expr* a, Expr* b, std::int32_t line) {
    a->next = b;
    b->next = nullptr;
    return make_function(code, a, line);
}

Expr* apply_sign(std::int32_t sign, Expr* operand, std::int32_t line) {
    if (sign != 101) return operand;  // a `+` prefix builds nothing
    operand->next = nullptr;
    return built(make_function(395, operand, line));
}

// --- textures --------------------------------------------------------------------

void texture_enter(const char* procedure, bool curvature, std::int32_t line) {
    if (static_cast<int>(open_textures.size()) >= kMaxTextureDepth) exit_process(1);
    if (procedure_check && !procedure_check(procedure))
        sdl_report_error("Unknown Procedural Texture %s\n", procedure);
    open_textures.push_back({procedure, curvature});
    (void)line;
}

Expr* finish_texture(ItemChain* items, std::int32_t line) {
    OpenTexture texture{nullptr, false};
    if (!open_textures.empty()) {
        texture = open_textures.back();
        open_textures.pop_back();
    }
    Body* body = make_body(SDL_TEXTURE, texture.procedure, items, line);
    body->curvature = texture.curvature;
    if (texture_finisher) texture_finisher(*body);
    return built(make_object(SDL_TEXTURE, body, line));
}

void reset_open_bodies() {
    open_textures.clear();
}

// --- structural records ------------------------------------------------------------

namespace {

bool evaluate_body_node(Expr* node, void* result) {
    auto* value = static_cast<ObjectValue*>(result);
    value->type = node->type;
    value->body = body_of(node);
    value->record = nullptr;
    return true;
}

Body* single_item_body(std::int32_t type, const char* model, const char* name, Expr* value,
                       std::int32_t line) {
    return make_body(type, model,
                     items_append(items_empty(), make_item(name, value, FORM_VALUE, line)), line);
}

}  // namespace

const ExprKind kBodyNodeKind = {"record", 0, evaluate_body_node};

Expr* make_body_node(Body* body, std::int32_t line) {
    Expr* node = allocate_node();
    node->kind = &kBodyNodeKind;
    node->type = body->type;
    node->payload = body;
    node->line = line;
    return node;
}

Expr* tagged(const char* tag, Expr* value, std::int32_t line) {
    return make_body_node(single_item_body(BODY_TRIM_REGION_ITEM, tag, tag, value, line), line);
}

Expr* typed_list(std::int32_t type, ExprChain* chain, std::int32_t line) {
    return make_body_node(single_item_body(type, nullptr, "cvs", chain_to_list(chain, line), line),
                          line);
}

Expr* make_trim_face(std::int32_t divisions, ExprChain* boundaries, std::int32_t line) {
    Body* body = single_item_body(SDL_TRIM_FACE, nullptr, "boundaries",
                                  chain_to_list(boundaries, line), line);
    body->divisions = divisions;
    return make_body_node(body, line);
}

Expr* make_trim_record(const char* tag, float a, std::int32_t b, float c, ExprChain* children,
                       std::int32_t line) {
    ItemChain* items = items_empty();
    if (tag[1] == 'b') {  // tb(btype = a, edges)
        items_append(items, make_item("btype", make_scalar_literal(a, line), FORM_VALUE, line));
        items_append(items, make_item("edges", chain_to_list(children, line), FORM_LIST, line));
        return make_body_node(make_body(BODY_TRIM_BOUNDARY, tag, items, line), line);
    }
    // te(dim = a, nbs = b, form = c, b-splines)
    items_append(items, make_item("dim", make_scalar_literal(a, line), FORM_VALUE, line));
    items_append(items, make_item("nbs", make_scalar_literal(b, line), FORM_VALUE, line));
    items_append(items, make_item("form", make_scalar_literal(c, line), FORM_VALUE, line));
    items_append(items, make_item("bsplines", chain_to_list(children, line), FORM_LIST, line));
    return make_body_node(make_body(BODY_TRIM_EDGE_RECORD, tag, items, line), line);
}

Expr* make_trim_bspline(ItemChain* header, ExprChain* cvs, std::int32_t line) {
    check_trim_bspline_header(*make_body(BODY_TRIM_BSPLINE, "tbs", header, line));
    items_append(header, make_item("tcvs", chain_to_list(cvs, line), FORM_LIST, line));
    return make_body_node(make_body(BODY_TRIM_BSPLINE, "tbs", header, line), line);
}

Expr* make_trim_cv(float u, float v, float w, float flag, std::int32_t line) {
    return list4(make_scalar_literal(u, line), make_scalar_literal(v, line),
                 make_scalar_literal(w, line), make_scalar_literal(flag, line), line);
}

Expr* make_cluster_matrix(const char* name, ExprChain* values, std::int32_t line) {
    return make_body_node(
        single_item_body(BODY_CLUSTER_MATRIX, name, "values", chain_to_list(values, line), line),
        line);
}

// --- stages ----------------------------------------------------------------------

StageItems* stage_item(int which, Expr* value) {
    auto* items = sdl_pool().make<StageItems>();
    (which == 0 ? items->file : which == 1 ? items->use_background : items->use_camera) = value;
    return items;
}

StageItems* stage_merge(StageItems* into, StageItems* item) {
    if (item->file) into->file = item->file;
    if (item->use_background) into->use_background = item->use_background;
    if (item->use_camera) into->use_camera = item->use_camera;
    return into;
}

void add_stage(StageItems* items, std::int32_t line) {
    if (items)
        scene_target().add_stage(items->file, items->use_background, items->use_camera, line);
}

}  // namespace sky
