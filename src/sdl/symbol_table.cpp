// The symbol table's lookup structures: an exact, byte-wise hash map from
// names to symbols, and the list of declared symbols in declaration order.
#include <string_view>
#include <unordered_map>

#include "sdl/symbols.h"

namespace sky {
namespace {

struct Table {
    std::unordered_map<std::string_view, Symbol*> by_name;
    std::vector<Symbol*> declared;
};

Table& table() {
    static Table instance;
    return instance;
}

}  // namespace

Symbol* find_symbol(const char* name) {
    if (name == nullptr) return nullptr;
    auto& map = table().by_name;
    auto it = map.find(std::string_view(name));
    return it == map.end() ? nullptr : it->second;
}

bool insert_symbol(Symbol* symbol) {
    auto [it, inserted] = table().by_name.emplace(std::string_view(symbol->name), symbol);
    return inserted || it->second == symbol;
}

const std::vector<Symbol*>& declared_symbols() {
    return table().declared;
}

void append_declared_symbol(Symbol* symbol) {
    table().declared.push_back(symbol);
}

void reset_symbol_table() {
    table().by_name.clear();
    table().declared.clear();
}

}  // namespace sky
