#include "sdl/keywords.h"

#include <cstring>
#include <set>
#include <span>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "sdl/environment_settings.h"
#include "sdl/sdl_parser.h"

namespace sky {
namespace {

const KeywordRow& keyword(const char* name) {
    static const KeywordRow missing{"", -1, -1, -1};
    const KeywordRow* row = find_keyword(name, std::strlen(name));
    return row != nullptr ? *row : missing;
}

TEST(KeywordTable, BothTablesAreSortedByByteWithTheirRowCounts) {
    for (auto table : {keyword_table(), operator_table()}) {
        for (std::size_t i = 1; i < table.size(); ++i)
            EXPECT_LT(std::strcmp(table[i - 1].name, table[i].name), 0) << table[i].name;
    }
    EXPECT_EQ(keyword_table().size(), 291u);
    EXPECT_EQ(operator_table().size(), 14u);
    EXPECT_EQ(keyword_table().front().name, std::string("AVERAGE_TAN"));  // upper case first
    EXPECT_EQ(keyword_table().back().name, std::string("zaxis"));
}

TEST(KeywordTable, EveryRowIsFoundAndOnlyExactTextMatches) {
    using Find = const KeywordRow* (*)(const char*, std::size_t);
    const std::pair<std::span<const KeywordRow>, Find> tables[] = {
        {keyword_table(), find_keyword}, {operator_table(), find_operator}};
    for (auto [table, find] : tables) {
        for (const KeywordRow& row : table) {
            std::size_t length = std::strlen(row.name);
            EXPECT_EQ(find(row.name, length), &row) << row.name;
            // A prefix finds only a row of exactly that text (`cv` for `cvs`).
            const KeywordRow* prefix = find(row.name, length - 1);
            if (prefix != nullptr) {
                EXPECT_EQ(std::strlen(prefix->name), length - 1) << row.name;
            }
            std::string longer = std::string(row.name) + "\x01";
            EXPECT_EQ(find(longer.c_str(), longer.size()), nullptr) << row.name;
            // Rows without a value carry 0, so the token cell is 0 for them.
            EXPECT_TRUE(row.kind == 1 || row.value == 0) << row.name;
        }
    }
    for (const char* miss : {"", "Sin", "SIN", "si", "sinx", "xform2", "#", "_"})
        EXPECT_EQ(find_keyword(miss, std::strlen(miss)), nullptr) << miss;
    // Text with an embedded NUL is not the shorter keyword.
    EXPECT_EQ(find_keyword("cv\0x", 4), nullptr);
    for (const char* miss : {"=-", "++", "&", "|", "//", "=>", "!!"})
        EXPECT_EQ(find_operator(miss, std::strlen(miss)), nullptr) << miss;
}

TEST(KeywordTable, SpotChecks) {
    struct Expected {
        const char* name;
        std::int32_t kind, value, token;
    };
    // clang-format off
    const Expected rows[] = {
        {"sin", 1, 501, FUNCTION}, {"atan2d", 1, 538, FUNCTION}, {"gauss", 1, 544, FUNCTION},
        {"extract", 1, 605, FUNCTION}, {"xaxis", 1, 1, AXIS}, {"zaxis", 1, 3, AXIS},
        {"LINEAR", 1, 1, EASE_TYPE}, {"EXPOUT", 1, 6, EASE_TYPE}, {"LINEAR_TAN", 0, 0, TANGENT_TYPE},
        {"raycast", 1, 4, RENDER_MODE}, {"multifillet", 1, 3000, COMMAND_KIND},
        {"forward", 1, 552, TRIPLE_FUNCTION}, {"cluster", 1, 560, CLUSTER},
        {"current_transformation", 1, 570, CURRENT_TRANSFORM},
        {"ENVIRONMENT", 0, 0, K_ENVIRONMENT}, {"environment", 0, 0, K_environment},
        {"texture", 0, 0, K_environment}, {"procedure", 0, 0, K_Highlight}, {"sdl", 0, 0, K_SDL},
        {"trn_so", 0, 0, K_translate_sopivot}, {"pc", 0, 0, K_parameter_curve},
        {"use_lumenfold_depth", 1, setting_index("use_lumenfold_depth"), SCALAR_SETTING},
        {"grid_cache", 1, setting_index("grid_cache"), INTEGER_SETTING}, {"lo_res", 0, 0, K_lo_res},
        {"FORCE_EOF", 0, 0, K_FORCE_EOF}};
    // clang-format on
    for (const Expected& expected : rows) {
        const KeywordRow& row = keyword(expected.name);
        EXPECT_EQ(row.kind, expected.kind) << expected.name;
        EXPECT_EQ(row.value, expected.value) << expected.name;
        EXPECT_EQ(row.token, expected.token) << expected.name;
    }
    const KeywordRow& not_equal = *find_operator("!=", 2);
    EXPECT_EQ(not_equal.token, RELOP);
    EXPECT_EQ(not_equal.value, 109);
    EXPECT_EQ(find_operator("=", 1)->token, '=');
}

TEST(KeywordTable, GroupSizes) {
    // 42 functions, 8 tangent types, and every keyword token of the grammar.
    int functions = 0, tangents = 0;
    std::set<std::int32_t> keyword_tokens;
    for (const KeywordRow& row : keyword_table()) {
        functions += row.token == FUNCTION;
        tangents += row.token == TANGENT_TYPE;
        if (row.token >= K_Curvature && row.token <= K_parameter_curve)
            keyword_tokens.insert(row.token);
    }
    EXPECT_EQ(functions, 42);
    EXPECT_EQ(tangents, 8);
    EXPECT_EQ(keyword_tokens.size(), static_cast<std::size_t>(K_parameter_curve - K_Curvature + 1));
}

}  // namespace
}  // namespace sky
