// The routines every procedure with a parameter table shares: its
// parameters are read, checked and evaluated every frame from the table, and
// kept as written (number, colour, file name or nested texture) for its
// calculation.
#include "texture/procedures/procedure_parameters.h"

#include "platform/fatal.h"
#include "platform/report.h"
#include "sdl/pool.h"

namespace sky {
namespace {

struct ProcedureInfo {
    const ParameterTable* table;
    ProcedureValue* values;  // one per row
};

struct ProcedureNode {
    Expr** expressions;  // one per row, null where not written
};

const ParameterTable& table_of(const AR_TextureInfo& texture) {
    return *texture.procedure->parameters;
}

}  // namespace

const ProcedureValue& procedure_value(const AR_TextureInfo& texture, int row) {
    return static_cast<const ProcedureInfo*>(texture.procedure_info)->values[row];
}

ProcedureValue& procedure_value(AR_TextureInfo& texture, int row) {
    return static_cast<ProcedureInfo*>(texture.procedure_info)->values[row];
}

Expr* procedure_expression(const AR_TextureInfo& texture, int row) {
    return static_cast<const ProcedureNode*>(texture.node->procedure_node)->expressions[row];
}

void* alloc_procedure_node(const AR_TextureInfo& texture) {
    const ParameterTable& table = table_of(texture);
    auto* node = sdl_pool().make<ProcedureNode>();
    node->expressions = static_cast<Expr**>(
        sdl_pool().allocate(sizeof(Expr*) * (table.rows.size() + 1), alignof(Expr*)));
    return node;
}

void* alloc_procedure_info(const AR_TextureInfo& texture) {
    const ParameterTable& table = table_of(texture);
    auto* info = sdl_pool().make<ProcedureInfo>();
    info->table = &table;
    std::size_t count = table.rows.size();
    auto* values = static_cast<ProcedureValue*>(
        sdl_pool().allocate(sizeof(ProcedureValue) * count, alignof(ProcedureValue)));
    for (std::size_t i = 0; i < count; ++i) new (&values[i]) ProcedureValue();
    info->values = values;
    return info;
}

bool parse_procedure_parameter(AR_TextureInfo& texture, void* node, const char* name, Expr* value) {
    const ParameterTable& table = table_of(texture);
    if (node == nullptr) fatal("%s", table.missing_node);
    return parse_parameter(table, static_cast<ProcedureNode*>(node)->expressions, name, value);
}

bool eval_procedure_parameters(AR_TextureInfo& texture) {
    if (texture.procedure_info == nullptr || texture.node == nullptr ||
        texture.node->procedure_node == nullptr) {
        rptError("Internal System Error at %d in %s, Call Support\n", __LINE__, __FILE__);
        return false;
    }
    auto& info = *static_cast<ProcedureInfo*>(texture.procedure_info);
    const auto& node = *static_cast<const ProcedureNode*>(texture.node->procedure_node);
    const ParameterTable& table = *info.table;
    for (std::size_t i = 0; i < table.rows.size(); ++i) {
        const Parameter& row = table.rows[i];
        ProcedureValue& value = info.values[i];
        Expr* expression = node.expressions[i];
        value.text.clear();
        if (expression && expression->type == SDL_FILENAME) {
            value.value = TexturedValue{};
            if (!AR_evaluate(SDL_FILENAME, &value.text, expression, nullptr))
                fatal("Error in eval\n");
            continue;
        }
        if (!evaluate_textured_value(expression, row.value, value.value)) fatal("Error in eval\n");
    }
    return true;
}

bool init_procedure_parameters(AR_TextureInfo& texture) {
    const auto& info = *static_cast<const ProcedureInfo*>(texture.procedure_info);
    for (std::size_t i = 0; i < info.table->rows.size(); ++i)
        if (AR_TextureInfo* nested = info.values[i].value.texture) Ar_init_texture(*nested);
    return true;
}

bool copy_procedure_parameters(AR_TextureInfo& to, const AR_TextureInfo& from) {
    const auto& source = *static_cast<const ProcedureInfo*>(from.procedure_info);
    auto& target = *static_cast<ProcedureInfo*>(to.procedure_info);
    if (source.table != target.table) return false;
    for (std::size_t i = 0; i < source.table->rows.size(); ++i) target.values[i] = source.values[i];
    return true;
}

void release_procedure_parameters(AR_TextureInfo&) {}  // pool memory: released with the scene

}  // namespace sky
