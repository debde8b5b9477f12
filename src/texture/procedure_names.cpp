// The registry of texture procedures: every row of the table, in its order,
// and the names that select a procedure with a setting.
#include "texture/procedure_names.h"

#include <array>
#include <cstring>

#include "texture/texture_procedure.h"

namespace sky {
namespace {

struct ProcedureTable {
    std::array<const AR_TextureProcedure*, kMaxTextureProcedures> rows{};
    int count = 0;
};

const ProcedureTable& procedure_table() {
    static const ProcedureTable table = [] {
        ProcedureTable t;
        t.rows[t.count++] = &kCheckerProcedure;
        t.rows[t.count++] = &kFileProcedure;
        int others = 0;
        const AR_TextureProcedure* rows = parameter_only_procedures(others);
        for (int i = 0; i < others && t.count < kMaxTextureProcedures; ++i)
            t.rows[t.count++] = &rows[i];
        return t;
    }();
    return table;
}

struct Selection {
    const char* name;
    const char* procedure;
};

// Names that pick a procedure and set one of its parameters to the name.
constexpr Selection kSelections[] = {
    {"Gaussian", "Curvature"}, {"Mean", "Curvature"}, {"PrincMin", "Curvature"},
    {"PrincMax", "Curvature"}, {"SnowBW", "Snow"},    {"SnowDepthRGB", "Snow"},
};

const AR_TextureProcedure* exact(const char* name) {
    const ProcedureTable& table = procedure_table();
    for (int i = 0; i < table.count; ++i)
        if (std::strcmp(table.rows[i]->name, name) == 0) return table.rows[i];
    return nullptr;
}

}  // namespace

const AR_TextureProcedure* find_texture_procedure(const char* name) {
    if (name == nullptr) return nullptr;
    if (const AR_TextureProcedure* row = exact(name)) return row;
    for (const Selection& selection : kSelections)
        if (std::strcmp(selection.name, name) == 0) return exact(selection.procedure);
    return nullptr;
}

bool texture_procedure_exists(const char* name) {
    return find_texture_procedure(name) != nullptr;
}

int texture_procedure_count() {
    return procedure_table().count;
}

}  // namespace sky
