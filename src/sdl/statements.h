// The MODEL section as statement records: one record per statement, linked
// in source order into lists, executed by the scene evaluation each frame.
#pragma once

#include <cstdint>

namespace sky {

struct Expr;
struct Symbol;

enum StatementKind : std::int32_t {
    STATEMENT_EMPTY = 901,
    STATEMENT_EXPRESSION = 902,  // assignment, array-element assignment, print
    STATEMENT_IF = 310,
    STATEMENT_FOR = 314,
    STATEMENT_BLOCK = 328,
    STATEMENT_ROTATE = 316,
    STATEMENT_TRANSLATE = 317,
    STATEMENT_SCALE = 318,
    STATEMENT_LIGHT = 708,
    STATEMENT_PATCH = 709,
    STATEMENT_POLYSET = 739,
    STATEMENT_FACE = 710,
    STATEMENT_CAMERA = 711,
    STATEMENT_INSTANCE = 914,
};

struct Statement {
    Statement* next = nullptr;
    std::int32_t kind = STATEMENT_EMPTY;
    std::int32_t line = 0;
    void* operands = nullptr;  // the record of the kind, below
};

// `name = value;`, `name[i] = value;` and `print(...)`.
struct AssignmentRecord {
    Symbol* target = nullptr;        // a plain variable
    Expr* element_target = nullptr;  // an array element reference
    Expr* value = nullptr;
};

struct IfRecord {
    Expr* condition = nullptr;
    Statement* then_branch = nullptr;
    Statement* else_branch = nullptr;  // null without `else`
};

// for (initial; condition; step;) body: the step is a whole statement.
struct LoopRecord {
    Statement* initial = nullptr;
    Expr* condition = nullptr;
    Statement* step = nullptr;
    Statement* body = nullptr;
};

struct BlockRecord {
    Statement* body = nullptr;    // first statement of the block's list
    void* saved_state = nullptr;  // the transformation saved while the block runs
};

struct RotateRecord {
    std::int32_t axis = 0;  // 1 x, 2 y, 3 z
    Expr* angle = nullptr;  // degrees
};

// Translate forms: 0 translate, 6 translate_pivot, 7 translate_ripivot,
// 8 translate_ropivot, 9 translate_sipivot, 10 translate_sopivot.
struct TranslateRecord {
    Expr* vector = nullptr;
    std::int32_t form = 0;
};

struct ScaleRecord {
    Expr* vector = nullptr;
};

// light, patch, polyset, face and camera statements: the object as written.
struct ObjectRecord {
    Expr* object = nullptr;
};

struct InstanceRecord {
    Symbol* symbol = nullptr;  // null when the name was not an instanceable variable
    Expr* object = nullptr;    // a reference to the variable's object
    std::int32_t flag = 0;
};

}  // namespace sky
