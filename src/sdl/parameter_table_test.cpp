// The parameter tables' machinery on a table of its own: names and
// synonyms, the SDL version a row needs, unknown names, defaults by type,
// and what becomes of values at and beyond each end of a range.
#include "sdl/parameter_table.h"

#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "platform/report.h"
#include "sdl/expr.h"
#include "sdl/parse_test_support.h"
#include "sdl/reader.h"

namespace sky {
namespace {

using enum ParameterType;

struct Record {
    float scale = 0.0f;
    std::int32_t count = 0;
    std::int32_t rounded = 0;
    bool flag = false;
    bool on = false;
    Triple axis;
    float spread = 0.0f;
    std::int32_t level = 0;
    Expr* kept = nullptr;
};

constexpr Parameter kRows[] = {
    {.name = "scale",
     .also = "size extent",
     .value = {2.5f},
     .below = at_least(0),
     .above = at_most(1),
     .store = SKY_FIELD(Record, scale)},
    {.name = "count",
     .type = INTEGER,
     .value = {3.0f},
     .below = fails(0),
     .store = SKY_FIELD(Record, count)},
    {.name = "rounded", .type = ROUNDED, .store = SKY_FIELD(Record, rounded)},
    {.name = "flag", .type = FLAG, .value = {0.5f}, .store = SKY_FIELD(Record, flag)},
    {.name = "on", .type = SWITCH, .value = {0.5f}, .store = SKY_FIELD(Record, on)},
    {.name = "axis", .type = TRIPLE, .value = {0.0f, 1.0f, 0.0f}, .store = SKY_FIELD(Record, axis)},
    {.name = "spread",
     .value = {40.0f},
     .below = replaced(1, 2, true),
     .above = replaced(180, 179, true),
     .store = SKY_FIELD(Record, spread)},
    {.name = "level",
     .type = INTEGER,
     .below = reported(-1, -1, "level too low\n"),
     .above = warned(5, 5, "level too high\n"),
     .store = SKY_FIELD(Record, level)},
    {.name = "kept", .type = EXPRESSION, .store = SKY_FIELD(Record, kept)},
    {.name = "old", .type = IGNORED, .before_version = 3.2f},
};
static_assert(rows_are_consistent(kRows));

constexpr Parameter kClashingRows[] = {{.name = "a", .also = "b"}, {.name = "b"}};
static_assert(!rows_are_consistent(kClashingRows), "a synonym may name only one row");
constexpr Parameter kMistypedRows[] = {
    {.name = "a", .type = TRIPLE, .store = SKY_FIELD(Record, scale)}};
static_assert(!rows_are_consistent(kMistypedRows), "a triple is not stored in a float");

// Joined groups keep their rows, defaults and order; a group joined twice
// names its rows twice.
constexpr Parameter kGroup[] = {{.name = "b", .value = {2.0f}}, {.name = "c", .also = "see"}};
constexpr auto kJoined = join_rows({{.name = "a"}}, kGroup, {{.name = "d"}, {.name = "e"}});
static_assert(kJoined.size() == 5 && rows_are_consistent(kJoined));
static_assert(parameter_index(kJoined, "see") == 2 && parameter_index(kJoined, "e") == 4);
static_assert(kJoined[1].value.x == 2.0f && kJoined[0].value.x == 0.0f);
static_assert(!rows_are_consistent(join_rows(kGroup, kGroup)));

constexpr int index_of(std::string_view name) {
    return parameter_index(kRows, name);
}
static_assert(index_of("extent") == 0 && index_of("axis") == 5 && index_of("width") == -1);

std::string errors;

class ParameterTables : public testing::Test {
protected:
    void SetUp() override {
        reset_front_end();
        errors.clear();
        rptSetErrorCB([](const char* text) { errors += text; });
    }
    void TearDown() override { rptSetErrorCB(nullptr); }

    // The record evaluated from `values` (by row; null where absent).
    static bool evaluate(std::initializer_list<std::pair<const char*, double>> values,
                         Record& record) {
        Expr* slots[std::size(kRows)] = {};
        for (auto [name, value] : values) slots[index_of(name)] = make_scalar_literal(value, 1);
        return evaluate_parameters(kRows, slots, &record, nullptr);
    }
    static Record evaluated(std::initializer_list<std::pair<const char*, double>> values) {
        Record record;
        EXPECT_TRUE(evaluate(values, record));
        return record;
    }
};

TEST_F(ParameterTables, NamesAndSynonymsFindTheirRow) {
    for (const char* name : {"scale", "size", "extent"}) EXPECT_EQ(find_parameter(kRows, name), 0);
    EXPECT_EQ(find_parameter(kRows, "siz"), -1);
    EXPECT_EQ(find_parameter(kRows, "size extent"), -1);
    EXPECT_EQ(find_parameter(kRows, ""), -1);
}

TEST_F(ParameterTables, RowsOfOldVersionsAreKnownOnlyInOldScenes) {
    EXPECT_EQ(find_parameter(kRows, "old"), 9);  // a scene without `version` is of version 0
    ASSERT_EQ(parse_scene_text("DEFINITION version = 3.1; MODEL\n"), 0);
    EXPECT_EQ(find_parameter(kRows, "old"), 9);
    ASSERT_EQ(parse_scene_text("DEFINITION version = 3.2; MODEL\n"), 0);
    EXPECT_EQ(find_parameter(kRows, "old"), -1);
}

TEST_F(ParameterTables, UnknownNamesFollowTheTablesRule) {
    Expr* slots[std::size(kRows)] = {};
    Expr* value = make_scalar_literal(1, 1);
    ParameterTable quiet{kRows, "unknown %s\n", UnknownName::QUIET};
    ParameterTable reported{kRows, "unknown %s\n", UnknownName::REPORT};
    EXPECT_TRUE(parse_parameter(quiet, slots, "size", value));
    EXPECT_EQ(slots[0], value);
    EXPECT_FALSE(parse_parameter(quiet, slots, "width", value));
    EXPECT_EQ(errors, "");
    EXPECT_FALSE(parse_parameter(reported, slots, "width", value));
    EXPECT_EQ(errors, "unknown width\n");
    ASSERT_EQ(parse_scene_text("DEFINITION version = 3.2; MODEL\n"), 0);
    errors.clear();
    EXPECT_FALSE(parse_parameter(reported, slots, "old", value));  // not in this version
    EXPECT_EQ(errors, "unknown old\n");
    ParameterTable fatal_table{kRows, "unknown %s\n", UnknownName::FATAL};
    rptSetErrorCB(nullptr);
    EXPECT_EXIT(parse_parameter(fatal_table, slots, "width", value), testing::ExitedWithCode(1),
                "^unknown width\n$");
}

TEST_F(ParameterTables, IgnoredRowsTakeTheirValueAndKeepNothing) {
    Expr* slots[std::size(kRows)] = {};
    EXPECT_TRUE(parse_parameter({kRows}, slots, "old", make_scalar_literal(1, 1)));
    for (Expr* slot : slots) EXPECT_EQ(slot, nullptr);
}

TEST_F(ParameterTables, AbsentParametersTakeTheirDefaultAsTheirType) {
    Record r = evaluated({});
    EXPECT_FLOAT_EQ(r.scale, 1.0f);  // the default is corrected like any value
    EXPECT_EQ(r.count, 3);
    EXPECT_TRUE(r.flag);  // 0.5 is on for a flag ...
    EXPECT_FALSE(r.on);   // ... and off for a switch
    EXPECT_FLOAT_EQ(r.axis.y, 1.0f);
    EXPECT_FLOAT_EQ(r.spread, 40.0f);
    EXPECT_EQ(r.kept, nullptr);
    Record fresh;
    store_defaults(kRows, &fresh);
    EXPECT_FLOAT_EQ(fresh.scale, 2.5f);  // defaults are stored as they are written
    EXPECT_EQ(fresh.count, 3);
}

TEST_F(ParameterTables, NumbersAreReadAsTheirType) {
    Record r = evaluated({{"count", 2.9}, {"rounded", 2.5}, {"flag", 0.49}, {"on", -0.5}});
    EXPECT_EQ(r.count, 2);
    EXPECT_EQ(r.rounded, 3);
    EXPECT_FALSE(r.flag);
    EXPECT_FALSE(r.on);  // its integer part is 0
    EXPECT_TRUE(evaluated({{"on", -1}}).on);
}

TEST_F(ParameterTables, ClosedEndsKeepTheirLimitAndReplaceWhatLiesBeyond) {
    EXPECT_FLOAT_EQ(evaluated({{"scale", 0}}).scale, 0.0f);
    EXPECT_FLOAT_EQ(evaluated({{"scale", -0.001}}).scale, 0.0f);
    EXPECT_FLOAT_EQ(evaluated({{"scale", 1}}).scale, 1.0f);
    EXPECT_FLOAT_EQ(evaluated({{"scale", 1.001}}).scale, 1.0f);
    EXPECT_EQ(errors, "");
}

TEST_F(ParameterTables, OpenEndsReplaceTheLimitItself) {
    EXPECT_FLOAT_EQ(evaluated({{"spread", 1}}).spread, 2.0f);
    EXPECT_FLOAT_EQ(evaluated({{"spread", 1.01}}).spread, 1.01f);
    EXPECT_FLOAT_EQ(evaluated({{"spread", 180}}).spread, 179.0f);
    EXPECT_FLOAT_EQ(evaluated({{"spread", 179.9}}).spread, 179.9f);
}

TEST_F(ParameterTables, ReportedAndWarnedEndsSayWhatTheyReplace) {
    EXPECT_EQ(evaluated({{"level", -1}}).level, -1);
    EXPECT_EQ(evaluated({{"level", 5}}).level, 5);
    EXPECT_EQ(errors, "");
    EXPECT_EQ(evaluated({{"level", -2}}).level, -1);
    EXPECT_EQ(errors, "level too low\n");
    errors.clear();
    EXPECT_EQ(evaluated({{"level", 6}}).level, 5);
    EXPECT_EQ(errors, "Warning: level too high\n\n");
}

TEST_F(ParameterTables, AFailingEndOrExpressionFailsTheEvaluation) {
    Record r;
    EXPECT_TRUE(evaluate({{"count", 0}}, r));
    EXPECT_TRUE(evaluate({{"count", -0.5}}, r));  // truncated to 0 first
    EXPECT_FALSE(evaluate({{"count", -1}}, r));
    // A triple where a number is wanted does not evaluate; the row is named.
    Expr* slots[std::size(kRows)] = {};
    slots[index_of("spread")] = make_triple(make_scalar_literal(1, 1), make_scalar_literal(2, 1),
                                            make_scalar_literal(3, 1), 1);
    int failed = -1;
    EXPECT_FALSE(evaluate_parameters(kRows, slots, &r, nullptr, &failed));
    EXPECT_EQ(failed, index_of("spread"));
}

TEST_F(ParameterTables, AFatalEndStopsTheRunWithItsMessage) {
    constexpr Parameter rows[] = {{.name = "decay",
                                   .type = INTEGER,
                                   .above = fatal_beyond(3, "Invalid decay\n"),
                                   .store = SKY_FIELD(Record, count)}};
    Record record;
    Expr* slots[] = {make_scalar_literal(3, 1)};
    EXPECT_TRUE(evaluate_parameters(rows, slots, &record, nullptr));
    slots[0] = make_scalar_literal(4, 1);
    rptSetErrorCB(nullptr);
    EXPECT_EXIT(evaluate_parameters(rows, slots, &record, nullptr), testing::ExitedWithCode(1),
                "^Invalid decay\n$");
}

TEST_F(ParameterTables, OnlyEndsThatSaySoCatchValuesThatAreNoNumber) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Parameter lenient{.name = "w", .below = at_least(0)};
    Parameter strict{.name = "w", .below = {Correction::CLAMP, 0.0f, false, 0.0f, nullptr, true}};
    double value = nan;
    EXPECT_TRUE(correct_value(lenient, value));
    EXPECT_TRUE(std::isnan(value));
    EXPECT_TRUE(correct_value(strict, value));
    EXPECT_EQ(value, 0.0);
}

}  // namespace
}  // namespace sky
