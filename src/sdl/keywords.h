// The SDL lexer's two name tables: the keyword table, which classifies every
// name the scanner reads, and the operator table, which classifies runs of one
// or two operator characters.
//
// Both are arrays sorted in ascending byte order (upper case before lower
// case) and searched by binary search; a keyword's text is compared exactly
// and case-sensitively, so `Sin` is a name while `sin` is a function.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace sky {

struct KeywordRow {
    const char* name;
    std::int32_t kind;   // 0: the token carries no value; 1: it carries `value`
    std::int32_t value;  // function, axis, ease, operator ... code; 0 for kind 0
    std::int32_t token;  // the parser's token code
};

inline constexpr std::size_t kKeywordCount = 291;
inline constexpr std::size_t kOperatorCount = 14;

std::span<const KeywordRow> keyword_table();
std::span<const KeywordRow> operator_table();

// The row whose name is exactly the `length` bytes at `text`, or null.
const KeywordRow* find_keyword(const char* text, std::size_t length);
const KeywordRow* find_operator(const char* text, std::size_t length);

}  // namespace sky
