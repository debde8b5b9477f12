// What the tables of routines share (the shading models, the light models,
// the texture procedures): a row is found by its exact name, a row is
// checked for every routine the run will call before the first call (each
// family with its own messages and order), and a family's records are made
// for a row and kept for the whole run.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "platform/fatal.h"

namespace sky {

// The row named exactly `name`; null when none is, or when `name` is null.
template <typename Row>
const Row* find_row(std::span<const Row> rows, const char* name) {
    if (name == nullptr) return nullptr;
    for (const Row& row : rows)
        if (std::strcmp(row.name, name) == 0) return &row;
    return nullptr;
}

// The routines every family's row holds.
enum class Routine : std::uint8_t { CALCULATION, ALLOC_NODE, ALLOC_INFO, PARSE, EVAL, INIT, COPY };

// One check of a family: the routine, and the message that ends the run
// when a row lacks it (a format naming the row with one %s).
struct RoutineCheck {
    Routine routine;
    const char* missing;
};

template <typename Row>
bool has_routine(const Row& row, Routine routine) {
    switch (routine) {
        case Routine::CALCULATION:
            return row.calculation != nullptr;
        case Routine::ALLOC_NODE:
            return row.alloc_node != nullptr;
        case Routine::ALLOC_INFO:
            return row.alloc_info != nullptr;
        case Routine::PARSE:
            return row.parse != nullptr;
        case Routine::EVAL:
            return row.eval != nullptr;
        case Routine::INIT:
            return row.init != nullptr;
        case Routine::COPY:
            return row.copy != nullptr;
    }
    return false;
}

// Ends the run with the message of the first check, in the family's order,
// whose routine the row lacks.
template <typename Row>
void check_routines(const Row& row, std::span<const RoutineCheck> checks) {
    for (const RoutineCheck& check : checks)
        if (!has_routine(row, check.routine)) fatal(check.missing, row.name);
}

// A new record (Record::model set) for the row named `name`: a name no row
// has ends the run with `unknown` (a format naming it with one %s), a row
// that lacks a routine with its check's message. The scene's records refer
// to it from memory that is released wholesale, so it is kept for the run.
template <typename Record, typename Row>
Record* new_model_record(std::span<const Row> rows, const char* name, const char* unknown,
                         std::span<const RoutineCheck> checks) {
    const Row* model = find_row(rows, name);
    if (model == nullptr) fatal(unknown, name ? name : "");
    check_routines(*model, checks);
    static auto* records = new std::vector<Record*>();
    Record* record = records->emplace_back(new Record());
    record->model = model;
    return record;
}

}  // namespace sky
