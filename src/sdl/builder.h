// What the SDL grammar's actions call.
//
// Values (expressions, lists, bodies, statements) are built by the free
// functions below and travel up the parse as semantic values, so error
// recovery can drop a half-built item without leaving shared state behind.
// What a parse *does* with them (declare a symbol, store a setting, append a
// stage or the model statements) goes to a SceneTarget, which tests replace
// with a recording one.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "sdl/body.h"
#include "sdl/expr.h"
#include "sdl/list_runs.h"
#include "sdl/sdl_parser.h"  // SignedNumber and the semantic value types
#include "sdl/statements.h"

namespace sky {

// --- chains: lists under construction ---------------------------------------

// Expressions linked through `next`.
struct ExprChain {
    Expr* first = nullptr;
    Expr* last = nullptr;
    std::int32_t count = 0;
};
ExprChain* chain_start(Expr* first);
ExprChain* chain_append(ExprChain* chain, Expr* item);  // null chain or item: returns the chain
Expr* chain_to_list(ExprChain* chain, std::int32_t line);
ExprChain* expr_chain(std::initializer_list<Expr*> items);

// Two-element and four-element list nodes.
Expr* list2(Expr* a, Expr* b, std::int32_t line);
Expr* list4(Expr* a, Expr* b, Expr* c, Expr* d, std::int32_t line);

// A list that may be packed: while every item is a constant of the list's
// shape (PackShape, list_runs.h), items are stored as floats and the nodes
// that spelt them are given back to the node arena; the first item of another
// shape turns the list back into nodes.
struct PackingList;
PackingList* packing_start(PackShape shape);
// Drops lists that an abandoned parse left unfinished.
void forget_packing_lists();
PackingList* packing_append(PackingList* list, Expr* item);
// Appends the items of a run the scanner read (list_runs.h) and empties it;
// the list ends as if they had been appended one by one, `line` standing
// for theirs.
PackingList* packing_append_run(PackingList* list, ListRun* run, std::int32_t line);
Expr* packing_finish(PackingList* list, std::int32_t line);

// A polyset vertex: (cv), (cv, st) or (cv, st, norm), as a list node.
Expr* make_vertex(Expr* cv, Expr* st, Expr* normal, std::int32_t line);

// A polygon: vertex indices with optional texture-vertex and normal indices
// and a shader slot (-1 when not written), as a list node of three index
// lists (or null) and the slot. Lists of polygons whose indices are all
// numbers are packed (PackedPolygons).
Expr* make_polygon(PackingList* vertices, PackingList* st, PackingList* normals,
                   std::int32_t shader, std::int32_t line);

struct ItemLink {
    BodyItem item;
    ItemLink* next = nullptr;
};
struct ItemChain {
    ItemLink* first = nullptr;
    ItemLink* last = nullptr;
    std::int32_t count = 0;
};
ItemChain* items_empty();
ItemChain* items_append(ItemChain* chain,
                        BodyItem* item);  // a null item (a parse error) is skipped

BodyItem* make_item(const char* name, Expr* value, std::int32_t form, std::int32_t line);

// A finished body; `items` may be null (no parameters).
Body* make_body(std::int32_t type, const char* model, ItemChain* items, std::int32_t line);

// The geometry subsystem takes patch, face and polyset bodies over as they
// are finished (definitions and their checks); until it registers, they stay
// as written.
using BodyFinisher = void (*)(Body& body);
void set_geometry_body_finisher(BodyFinisher finisher);
// Texture bodies, as each closes (nested ones before the body around them).
void set_texture_body_finisher(BodyFinisher finisher);
// Light and shader bodies become records of the shading subsystem as they
// are finished, so an unknown model or parameter is reported while reading.
void set_shading_body_finisher(BodyFinisher finisher);
// The texture subsystem's list of procedure names, asked as each texture
// body opens so an unknown procedure is reported at its line; until it
// registers, every name is taken.
using ProcedureCheck = bool (*)(const char* name);
void set_texture_procedure_check(ProcedureCheck check);

struct StatementChain {
    Statement* first = nullptr;
    Statement* last = nullptr;
};
StatementChain* statements_empty();
StatementChain* statements_append(StatementChain* chain, Statement* statement);

Statement* make_statement(std::int32_t kind, void* operands, std::int32_t line);
Statement* make_assignment(const char* name, Expr* value, std::int32_t line);
Statement* make_element_assignment(const char* name, Expr* subscript, Expr* value,
                                   std::int32_t line);
Statement* make_print_statement(Expr* print, std::int32_t line);
Statement* make_if(Expr* condition, Statement* then_branch, Statement* else_branch,
                   std::int32_t line);
Statement* make_for(Statement* initial, Expr* condition, Statement* step, Statement* body,
                    std::int32_t line);
Statement* make_block(StatementChain* body, std::int32_t line);
Statement* make_rotate(std::int32_t axis, Expr* angle, std::int32_t line);
Statement* make_translate(std::int32_t form, Expr* vector, std::int32_t line);
Statement* make_scale(Expr* vector, std::int32_t line);
Statement* make_object_statement(std::int32_t kind, Expr* object, std::int32_t line);
Statement* make_instance(const char* name, std::int32_t line);

// Texture bodies nest at most 32 deep: entering a 33rd ends the program.
void texture_enter(const char* procedure, bool curvature, std::int32_t line);
// Closes the innermost texture body with its parameters.
Expr* finish_texture(ItemChain* items, std::int32_t line);
// After error recovery nothing is open any more.
void reset_open_bodies();

// A node the parse cannot go on without: null ends the program with status 1
// (its builder has said why).
Expr* built(Expr* node);
// Binary operators and the `&&`, `||` codes.
Expr* make_binary(std::int32_t code, Expr* a, Expr* b, std::int32_t line);
// A prefix sign (100 `+`, 101 `-`) before a primary or a variable.
Expr* apply_sign(std::int32_t sign, Expr* operand, std::int32_t line);

// Trims, kept as tagged records (the geometry reads them).
Expr* tagged(const char* tag, Expr* value, std::int32_t line);
Expr* typed_list(std::int32_t type, ExprChain* chain, std::int32_t line);
Expr* make_trim_face(std::int32_t divisions, ExprChain* boundaries, std::int32_t line);
Expr* make_trim_record(const char* tag, float a, std::int32_t b, float c, ExprChain* children,
                       std::int32_t line);
Expr* make_trim_bspline(ItemChain* header, ExprChain* cvs, std::int32_t line);
Expr* make_trim_cv(float u, float v, float w, float flag, std::int32_t line);
// clm(NAME, 16 or 28 values)
Expr* make_cluster_matrix(const char* name, ExprChain* values, std::int32_t line);

// Stages of the environment section.
struct StageItems {
    Expr* file = nullptr;
    Expr* use_background = nullptr;
    Expr* use_camera = nullptr;
};
StageItems* stage_item(int which, Expr* value);
StageItems* stage_merge(StageItems* into, StageItems* item);  // the last of a kind wins
void add_stage(StageItems* items, std::int32_t line);

// --- what a parse does ------------------------------------------------------

// The environment section's clauses.
enum EnvironmentClause : std::int32_t {
    CLAUSE_BACKGROUND_BODY,     // background (params)
    CLAUSE_BACKGROUND_COLOUR,   // background = color triple
    CLAUSE_BACKGROUND_TEXTURE,  // background = texture
    CLAUSE_BACKGROUND_FILE,     // background = filename
    CLAUSE_FOG,
    CLAUSE_SHADER_GLOW,
    CLAUSE_PHOTO_EFFECTS,
    CLAUSE_MASTER_LIGHT,
    CLAUSE_DYNAMICS,
};

class SceneTarget {
public:
    virtual ~SceneTarget() = default;

    virtual void begin_definition() = 0;
    virtual void end_definition() = 0;
    virtual void declare(std::int32_t type, const char* name, Expr* initialiser,
                         std::int32_t line) = 0;
    virtual void declare_command(std::int32_t kind, Body* body, std::int32_t line) = 0;
    // create light/shader/environment (model = NAME, filename = STRING)
    virtual void create_model(const char* kind, const char* model, const char* file,
                              std::int32_t line) = 0;
    // `keyword = expression;` and `keyword = integer;` of the setting whose
    // row of environment_settings.h is `setting`.
    virtual void set_expr_setting(std::int32_t setting, Expr* value, std::int32_t line) = 0;
    virtual void set_int_setting(std::int32_t setting, std::int32_t value, std::int32_t line) = 0;
    virtual void set_resolution(std::int32_t x, std::int32_t y) = 0;
    virtual void set_rt_shadow_offset(float value) = 0;
    virtual void set_clamp_bumpsize(float value) = 0;
    virtual void set_up_axis(std::int32_t axis) = 0;
    virtual void set_rt_top_level_voxel_res(std::int32_t x, std::int32_t y, std::int32_t z) = 0;
    virtual void set_hline_colour(bool fill, Expr* r, Expr* g, Expr* b, std::int32_t line) = 0;
    // (level, triple) pairs, as a list of alternating scalar and triple nodes
    virtual void set_subdivision_control(Expr* pairs, std::int32_t line) = 0;
    virtual void set_output(bool matte, Expr* file, std::int32_t line) = 0;
    virtual void set_image_shade(const char* name, std::int32_t line) = 0;
    virtual void assign_system_variable(const char* name, Expr* value, std::int32_t line) = 0;

    // stage = (SDL = ..., use_background = ..., use_camera = ...)
    virtual void add_stage(Expr* file, Expr* use_background, Expr* use_camera,
                           std::int32_t line) = 0;
    virtual void set_environment_clause(EnvironmentClause clause, Body* body, Expr* value,
                                        std::int32_t line) = 0;

    virtual void set_model(StatementChain* statements) = 0;
};

// The target the grammar's actions use during a parse.
SceneTarget& scene_target();
void set_scene_target(SceneTarget* target);  // null restores the scene's own

// For tests: records which grammar rules the following parses reduce
// (indexed by rule number, 1 to grammar_rule_count()); null stops recording.
void record_grammar_rules(std::vector<bool>* seen);
int grammar_rule_count();

// Parses the bound input; returns 0 on success, 1 when error recovery gave
// up, 2 on stack overflow (the caller decides by the error count).
int parse_bound_input();

}  // namespace sky
