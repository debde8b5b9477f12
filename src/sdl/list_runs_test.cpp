// Runs of list items: a scene read with runs gives the very lists, messages
// and line numbers it gives read token by token, whatever the items look like
// and wherever the scanner's buffer ends; and every number has the value its
// token has.
#include "sdl/list_runs.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/input_stream.h"
#include "platform/report.h"
#include "sdl/body.h"
#include "sdl/keywords.h"
#include "sdl/lexer.h"
#include "sdl/parse_helper.h"
#include "sdl/parse_test_support.h"
#include "sdl/reader.h"
#include "sdl/sdl_errors.h"
#include "sdl/sdl_input.h"
#include "sdl/sdl_parser.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

std::string messages;
void capture(const char* text) {
    messages += text;
}

std::string hex(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%a", static_cast<double>(value));
    return text;
}

std::string dump(const Expr* node);

std::string dump_body(const Body* body) {
    if (body == nullptr) return "no body";
    std::string out = "{";
    for (const BodyItem& item : body->items)
        out +=
            std::string(item.name) + "/" + std::to_string(item.form) + "=" + dump(item.value) + ";";
    return out + "}";
}

// Everything a list holds, its form (packed or nodes) included.
std::string dump(const Expr* node) {
    if (node == nullptr) return "null";
    if (is_packed_list(node)) {
        const PackedList* list = packed_list(node);
        std::string out = "packed" + std::to_string(list->stride) + "[";
        for (int i = 0; i < list->count * list->stride; ++i) out += hex(list->data[i]) + " ";
        return out + "]";
    }
    if (is_packed_polygons(node)) {
        const PackedPolygons* p = packed_polygons(node);
        std::string out = "polygons[";
        for (int i = 0; i < p->count; ++i) {
            out += "(" + std::to_string(p->shaders[i]) + ":";
            for (int k = p->offsets[i]; k < p->offsets[i + 1]; ++k)
                out += " " + std::to_string(p->vertices[k]) + "/" +
                       (p->texture_vertices ? std::to_string(p->texture_vertices[k]) : "-") + "/" +
                       (p->normals ? std::to_string(p->normals[k]) : "-");
            out += ")";
        }
        return out + "]";
    }
    if (is_list(node)) {
        std::string out = "(";
        for (const Expr* item = list_first(node); item; item = item->next) out += dump(item) + ",";
        return out + ")";
    }
    if (is_body_node(node)) return dump_body(body_of(node));
    Expr* value = const_cast<Expr*>(node);
    switch (node->type) {
        case SDL_SCALAR: {
            float f = 0;
            return AR_evaluate(SDL_SCALAR, &f, value, nullptr) ? hex(f) : "bad scalar";
        }
        case SDL_CV: {
            CvValue cv;
            if (!AR_evaluate(SDL_CV, &cv, value, nullptr)) return "bad cv";
            return "cv(" + hex(cv.x) + " " + hex(cv.y) + " " + hex(cv.z) + " " + hex(cv.w) + ")";
        }
        case SDL_TRIPLE:
        case SDL_ST:
        case SDL_NORMAL:
        case SDL_COLOUR: {
            Triple t;
            if (!AR_evaluate(node->type, &t, value, nullptr)) return "bad triple";
            return std::to_string(node->type) + "(" + hex(t.x) + " " + hex(t.y) + " " + hex(t.z) +
                   ")";
        }
        default: {
            ObjectValue object;
            if (node->type >= SDL_LIGHT && AR_evaluate(node->type, &object, value, nullptr))
                return dump_body(object.body);
            return "type" + std::to_string(node->type);
        }
    }
}

struct Reading {
    int errors = 0;
    std::string messages;
    std::int32_t last_line = 0;
    std::string values;  // the named objects' bodies
};

// Long runs are read in halves at once when `split` is nonzero: those of
// more than `split` bytes of text.
// The scene is read from memory, or from `stream` when one is given.
Reading read(const std::string& scene, const std::vector<std::string>& names, bool runs,
             std::size_t split = 0, InputStream* stream = nullptr) {
    reset_front_end();
    set_list_runs(runs);
    set_list_run_split(split);
    messages.clear();
    rptSetErrorCB(capture);
    rptSetUserCB(capture);
    Reading reading;
    if (stream != nullptr) {
        SdlInput input;
        input.bind(stream);
        input.probe();
        reading.errors = parse_scene(input);
    } else {
        reading.errors = parse_scene_text(scene);
    }
    set_list_runs(true);
    set_list_run_split(kListRunSplit);
    reading.messages = messages;
    reading.last_line = sdl_line();
    // What evaluating the values says (a cluster without its geometry) is
    // not the parse's.
    for (const std::string& name : names) {
        const Symbol* symbol = find_symbol(name.c_str());
        reading.values +=
            name + ":" + (symbol ? dump(symbol->initialiser) : std::string("missing")) + "\n";
    }
    rptSetErrorCB(nullptr);
    rptSetUserCB(nullptr);
    return reading;
}

// The scene read with runs (on one thread, in halves where the runs are
// long, in halves wherever they can be) and token by token gives the same;
// returns the reading with runs as the program reads.
Reading expect_same_both_ways(const std::string& scene, const std::vector<std::string>& names) {
    Reading tokens = read(scene, names, false);
    Reading runs;
    for (std::size_t split : {std::size_t{0}, kListRunSplit, std::size_t{1}}) {
        Reading reading = read(scene, names, true, split);
        EXPECT_EQ(reading.errors, tokens.errors) << split << scene;
        EXPECT_EQ(reading.messages, tokens.messages) << split << scene;
        EXPECT_EQ(reading.last_line, tokens.last_line) << split << scene;
        EXPECT_EQ(reading.values, tokens.values) << split << scene;
        if (split == kListRunSplit) runs = reading;
    }
    return runs;
}

const char* kPrelude =
    "DEFINITION\nscalar one (1);\ncv corner ((0, 3, 0), 1);\n"
    "shader grey (model = lambert, color = (200, 200, 200));\n";

// --- numbers -----------------------------------------------------------------

// What a number's tokens have always meant, computed apart: integers as atoi
// on a 64-bit long, reals through strtod and a rounding narrowing.
float token_value(const std::string& text) {
    std::string digits = text;
    bool negative = false;
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
        negative = digits[0] == '-';
        digits = digits.substr(1);
    }
    float value;
    if (digits.find_first_of(".eE") == std::string::npos) {
        errno = 0;
        long long whole = std::strtoll(digits.c_str(), nullptr, 10);
        value = static_cast<float>(static_cast<std::int32_t>(whole));
    } else {
        double real = std::strtod(digits.c_str(), nullptr);
        if (std::fabs(real) > std::numeric_limits<float>::max())
            value = std::fabs(real) < 0x1.ffffffp127 ? std::numeric_limits<float>::max()
                                                     : std::numeric_limits<float>::infinity();
        else
            value = static_cast<float>(real);
    }
    return negative ? -value : value;
}

TEST(ListRunNumbers, EveryNumberHasItsTokensValue) {
    std::vector<std::string> texts = {"0",
                                      "7",
                                      "-3",
                                      "+12",
                                      "007",
                                      "2147483647",
                                      "2147483648",
                                      "3000000000",
                                      "99999999999999999999",
                                      "123456789012345678",
                                      "1234567890123456789",
                                      "0.1",
                                      "-0.0",
                                      "1.",
                                      ".5",
                                      "-.25",
                                      "2.688557",
                                      "-0.122389",
                                      "1e5",
                                      "1E-5",
                                      "2.5e+3",
                                      "1.e2",
                                      ".5e1",
                                      "3.4028235e38",
                                      "3.4028236e38",
                                      "3.40282357e38",
                                      "3.40282367e38",
                                      "1e39",
                                      "-1e400",
                                      "1e-40",
                                      "1e-46",
                                      "4.9e-324",
                                      "1e-400",
                                      "0.30000000000000004",
                                      "9007199254740993.5",
                                      "1.00000005960464477539062500001",
                                      "0.000000000000000000000000000000000000000000001",
                                      "12345678901234567890.5",
                                      "0.1234567890123456789"};
    std::mt19937 random(21);
    for (int i = 0; i < 3000; ++i) {
        char text[64];
        switch (i % 4) {
            case 0:
                std::snprintf(text, sizeof text, "%.6f",
                              std::uniform_real_distribution<double>(-100, 100)(random));
                break;
            case 1:
                std::snprintf(text, sizeof text, "%.9g",
                              std::uniform_real_distribution<double>(-1e6, 1e6)(random));
                break;
            case 2:
                std::snprintf(text, sizeof text, "%.17e",
                              std::uniform_real_distribution<double>(0, 1)(random) *
                                  std::pow(10.0, static_cast<int>(random() % 80) - 40));
                break;
            default:
                std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(random()));
        }
        texts.push_back(text);
    }
    std::string list;
    for (std::size_t i = 0; i < texts.size(); ++i) list += (i ? ", " : "") + texts[i];
    list += ")";
    ListRun run;
    std::int32_t newlines = 0;
    const char* end = scan_list_run(PACK_SCALAR, list.c_str(), run, newlines);
    ASSERT_EQ(std::string(end), ")");
    ASSERT_EQ(run.count, static_cast<std::int32_t>(texts.size()));
    for (std::size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(hex(run.floats[i]), hex(token_value(texts[i]))) << texts[i];
}

// --- where runs stop -----------------------------------------------------------

std::string run_text(PackShape shape, const std::string& text, std::int32_t& count,
                     std::int32_t& newlines) {
    ListRun run;
    newlines = 0;
    const char* end = scan_list_run(shape, text.c_str(), run, newlines);
    count = run.count;
    return std::string(text.c_str(), end);
}

TEST(ListRunScanning, RunsEndBeforeTheFirstItemTheyCannotReadWhole) {
    struct Case {
        PackShape shape;
        const char* text;
        const char* run;  // what the run takes
        std::int32_t count;
    };
    const Case cases[] = {
        {PACK_SCALAR, "1, 2, 3)", "1, 2, 3", 3},
        {PACK_SCALAR, "1,\n 2 ,\r\n\t3 )", "1,\n 2 ,\r\n\t3", 3},
        {PACK_SCALAR, "- 1, +\n2)", "- 1, +\n2", 2},
        {PACK_SCALAR, "1, 2, 3 + 4)", "1, 2", 2},
        {PACK_SCALAR, "1, 2 /* c */, 3)", "", 0},  // a number alone is no run
        {PACK_SCALAR, "5)", "", 0},
        {PACK_SCALAR, "1, 2, --3)", "1, 2", 2},
        {PACK_SCALAR, "1, 2, 3e)", "1, 2", 2},  // a dangling exponent
        {PACK_SCALAR, "1, 2, 3.4.5)", "1, 2", 2},
        {PACK_SCALAR, "1, 2, 3x)", "1, 2", 2},
        {PACK_SCALAR, "1, 2, one)", "1, 2", 2},
        {PACK_SCALAR, "1, 2, )", "1, 2", 2},
        {PACK_SCALAR, "1, 2", "", 0},  // cut by the buffer's end
        {PACK_SCALAR, "1, 2, 3", "1, 2", 2},
        {PACK_CV, "cv((1, 2, 3), 1), cv((4, 5, 6), 0.5))", "cv((1, 2, 3), 1), cv((4, 5, 6), 0.5)",
         2},
        {PACK_CV, "cv((1, 2, 3), 1), cl(a, b))", "cv((1, 2, 3), 1)", 1},
        {PACK_CV, "cv ( ( 1 , 2 , 3 ) , 1 ) , cvs((4, 5, 6), 1))", "cv ( ( 1 , 2 , 3 ) , 1 )", 1},
        {PACK_VERTEX, "(cv((1, 2, 3), 1)), (cv((1, 2, 3), 1), st(0, 1)))", "(cv((1, 2, 3), 1))", 1},
        {PACK_VERTEX, "(cv((1, 2, 3), 1), st(0, 1), norm(0, 0, 1)))",
         "(cv((1, 2, 3), 1), st(0, 1), norm(0, 0, 1))", 1},
        {PACK_COLOUR, "colour(1, 2, 3), color(4, 5, 6))", "colour(1, 2, 3), color(4, 5, 6)", 2},
        {PACK_POLYGON, "polygon(0, 1, 2), polygon((5), 4, 3))", "polygon(0, 1, 2)", 1},
        {PACK_POLYGON, "polygon((0, 1, 2), 3), polygon((0, 1), 2))",
         "polygon((0, 1, 2), 3), polygon((0, 1), 2)", 2},
        {PACK_POLYGON, "polygon((0, 1, 2), (0, 1)))", "", 0},  // lists of two lengths
        {PACK_POLYGON, "polygon((0, 1, 2), -1))", "", 0},      // a slot is an INTEGER token
        {PACK_POLYGON, "polygon((0, 1, 2)))", "", 0},
        {PACK_POLYGON, "polygon((0, 1, 2), (0, 1, 2)), polygon(3, 4, 5))",
         "polygon((0, 1, 2), (0, 1, 2))", 1},
    };
    for (const Case& c : cases) {
        std::int32_t count = 0, newlines = 0;
        EXPECT_EQ(run_text(c.shape, c.text, count, newlines), c.run) << c.text;
        EXPECT_EQ(count, c.count) << c.text;
        std::int32_t lines = 0;
        for (const char* p = c.run; *p; ++p) lines += *p == '\n';
        EXPECT_EQ(newlines, lines) << c.text;
    }
}

TEST(ListRunScanning, EachRunTokenIsTakenWhereItsListsStartAndGoOn) {
    std::vector<int> states(8, 0);
    for (int state = 0; state < 5000; ++state) {
        int token = list_run_token(state);
        if (token == 0) continue;
        for (int run :
             {VERTEX_RUN, POLYGON_RUN, CV_RUN, SCALAR_RUN, ST_RUN, NORMAL_RUN, COLOUR_RUN})
            if (token == run) ++states[static_cast<std::size_t>(run - VERTEX_RUN)];
    }
    // Each list starts in one state and goes on in another (a scalar list
    // starts in several: knots, a polygon's first, second and third lists).
    for (int i = 0; i < 7; ++i) EXPECT_GE(states[static_cast<std::size_t>(i)], 2) << i;
}

TEST(ListRunScanning, ItemKeywordsAndSignsAreTheKeywordTablesAndOperatorTables) {
    const std::pair<const char*, int> keywords[] = {{"cv", K_cv},        {"st", K_st},
                                                    {"norm", K_norm},    {"color", K_color},
                                                    {"colour", K_color}, {"polygon", K_polygon}};
    for (const auto& [name, token] : keywords) {
        const KeywordRow* row = find_keyword(name, std::strlen(name));
        ASSERT_NE(row, nullptr) << name;
        EXPECT_EQ(row->token, token) << name;
    }
    EXPECT_EQ(find_operator("-", 1)->token, ADDOP);
    EXPECT_EQ(find_operator("+", 1)->token, ADDOP);
    EXPECT_EQ(find_operator("-", 1)->value, 101);
}

// --- runs read in pieces at once ----------------------------------------------

// A run and the pieces chained to it, as the one run they stand for.
std::string describe(const ListRun& run) {
    const ListRun* form = &run;
    while (form->count == 0 && form->next != nullptr) form = form->next;
    std::string out = std::to_string(run_item_count(run)) + " items, stride " +
                      std::to_string(form->stride) + ", lists " +
                      std::to_string(form->index_lists) + ":";
    for (const ListRun* part = &run; part != nullptr; part = part->next)
        for (float value : part->floats) out += " " + hex(value);
    for (int k = 0; k < 5; ++k) {
        out += " |";
        for (const ListRun* part = &run; part != nullptr; part = part->next) {
            const std::vector<std::int32_t>* lists[] = {&part->sizes, &part->indices[0],
                                                        &part->indices[1], &part->indices[2],
                                                        &part->shaders};
            for (std::int32_t value : *lists[k]) out += " " + std::to_string(value);
        }
    }
    return out;
}

const std::pair<PackShape, const char*> kSplitTexts[] = {
    {PACK_SCALAR, "1, -2.5,\n 3e2 ,\r\n\t4, - 5, 6 )"},
    {PACK_SCALAR, "1, /* , 2, */ 3, 4, 5, 6, 7, 8)"},
    {PACK_SCALAR, "1, 2, 3, 4, 5 /* , 6, */, 7, 8)"},
    {PACK_SCALAR, "1, 2, 3, 4, 5, one, 7, 8, 9)"},
    {PACK_SCALAR, "1, 2, 3, 4, 5, 6, 7 + 8, 9)"},
    {PACK_SCALAR, "1, 2, 3, 4, 5, 6"},  // cut by the buffer's end
    {PACK_SCALAR, "1, 2)"},
    {PACK_CV, "cv((1, 2, 3), 1),\n cv((4, 5, 6), 0.5), cv((7,\n8, 9), 1), cv((1, 1, 1), 1))"},
    {PACK_CV, "cv((1, 2, 3), 1), cv((4, 5, 6), 1), cv((7, 8, 9), 1), corner, cv((1, 1, 1), 1))"},
    {PACK_ST, "st(0, 1), st(1, 1),\nst(0.5, 0.25), st(1, 0))"},
    {PACK_NORMAL, "norm(0, 0, 1), norm(0, 1, 0), norm(1, 0, 0), norm(0, 0, -1))"},
    {PACK_COLOUR, "color(1, 2, 3), colour(4, 5, 6), color(7, 8, 9), colour(1, 1, 1))"},
    {PACK_VERTEX,
     "(cv((1, 2, 3), 1), st(0, 1), norm(0, 0, 1)),\n(cv((4, 5, 6), 1), st(1, 1), norm(0, 1, 0)),"
     "\n(cv((7, 8, 9), 1), st(1, 0), norm(1, 0, 0)),\n(cv((0, 0, 0), 1), st(0, 0), norm(0, 0, "
     "1)))"},
    // The form of the items changes in the second half.
    {PACK_VERTEX,
     "(cv((1, 2, 3), 1), st(0, 1)), (cv((4, 5, 6), 1), st(1, 1)), (cv((7, 8, 9), 1)), "
     "(cv((1, 1, 1), 1)))"},
    {PACK_POLYGON, "polygon(0, 1, 2),\npolygon(2, 3, 4, 5), polygon(6, 7, 8), polygon(9, 0, 1))"},
    {PACK_POLYGON,
     "polygon(0, 1, 2), polygon(2, 3, 4), polygon((5, 6, 7), (1, 2, 3)), polygon(7, 8, 9))"},
    {PACK_POLYGON,
     "polygon((0, 1, 2), (0, 1, 2), 1), polygon((3, 4, 5), (3, 4, 5)), polygon((6, 7, 8), (6, "
     "7, 8), 0), polygon((1, 2, 3), (1, 2, 3)))"},
    {PACK_POLYGON, "polygon(0, 1, 2), polygon(2, 3, 4), polygon(5, 6, 7), polygon((5), 1, 2))"},
};

TEST(ListRunSplitting, EverySplitPointGivesWhatOneScanGives) {
    // The split point is only a guess: whatever it is (an item's start, the
    // middle of a number, a comma in a comment or inside an item), the run,
    // its end and its newlines are those one scan reads.
    ParseHelper helper;
    for (const auto& [shape, text] : kSplitTexts) {
        ListRun serial;
        std::int32_t serial_lines = 0;
        const char* serial_end = scan_list_run(shape, text, serial, serial_lines);
        const std::size_t length = std::strlen(text);
        int joined = 0;
        for (std::size_t at = 0; at <= length; ++at) {
            for (ParseHelper* aside : {static_cast<ParseHelper*>(nullptr), &helper}) {
                ListRun run;
                RunPieces pieces;
                std::int32_t lines = 0;
                const char* end =
                    scan_split_list_run(shape, text, text + at, run, pieces, lines, aside);
                ASSERT_EQ(end - text, serial_end - text) << text << " split at " << at;
                EXPECT_EQ(lines, serial_lines) << text << " split at " << at;
                EXPECT_EQ(describe(run), describe(serial)) << text << " split at " << at;
                if (pieces.runs[1].count > 0 && run.next == &pieces.runs[0] &&
                    pieces.runs[0].next == &pieces.runs[1])
                    ++joined;
            }
        }
        // Read on one thread for a while first, then in pieces of every
        // size (from one byte, as many pieces as there may be) in the rest
        // of the text.
        for (std::size_t sure = 0; sure <= length; ++sure) {
            for (std::size_t piece : {std::size_t{1}, std::size_t{5}, std::size_t{17}, length}) {
                ListRun run;
                RunPieces pieces;
                std::int32_t lines = 0;
                const char* end = scan_long_list_run(shape, text, text + length, sure, piece, run,
                                                     pieces, lines, &helper);
                ASSERT_EQ(end - text, serial_end - text)
                    << text << " sure for " << sure << ", pieces of " << piece;
                EXPECT_EQ(lines, serial_lines)
                    << text << " sure for " << sure << ", pieces of " << piece;
                EXPECT_EQ(describe(run), describe(serial))
                    << text << " sure for " << sure << ", pieces of " << piece;
            }
        }
        // The halves were joined somewhere (at least at each item's start).
        if (serial.count >= 2) {
            EXPECT_GT(joined, 0) << text;
        }
    }
}

TEST(ListRunSplitting, SplitsAreGuessedAtAnItemsStartPastTheMiddle) {
    for (const auto& [shape, text] : kSplitTexts) {
        ListRun serial;
        std::int32_t lines = 0;
        const char* end = text + std::strlen(text);
        if (scan_list_run(shape, text, serial, lines) != text && serial.count >= 3) {
            const char* split = split_point(shape, text, end);
            if (split == nullptr) continue;  // the second half has no whole item
            EXPECT_GE(split - text, (end - text) / 2) << text;
            EXPECT_EQ(split[-1], ',') << text;
        }
    }
    // A long list: the guess is the start of an item, and the second half
    // reads the items after it.
    std::string text;
    for (int i = 0; i < 1000; ++i)
        text += (i ? ", (cv((" : "(cv((") + std::to_string(i) + ", 0, 0), 1))";
    text += ")";
    const char* split = split_point(PACK_VERTEX, text.c_str(), text.c_str() + text.size());
    ASSERT_NE(split, nullptr);
    ListRun tail;
    std::int32_t newlines = 0;
    scan_list_run(PACK_VERTEX, split, tail, newlines);
    ASSERT_GT(tail.count, 0);
    EXPECT_LE(tail.count, 500);
    EXPECT_EQ(tail.floats[0], static_cast<float>(1000 - tail.count));
    const char names[] = "(a), (b), (c), (d))";
    EXPECT_EQ(split_point(PACK_VERTEX, names, names + sizeof names - 1), nullptr);
}

// --- whole scenes, both ways -------------------------------------------------------

TEST(ListRunScenes, TheCorpusListsReadTheSameBothWays) {
    for (const char* file : {"lists.sdl", "objects.sdl", "model.sdl"}) {
        std::FILE* in =
            std::fopen((std::string(SKYLOOM_SOURCE_DIR) + "/tests/sdl/" + file).c_str(), "rb");
        ASSERT_NE(in, nullptr) << file;
        std::string text;
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
            text.append(buffer, n);
        std::fclose(in);
        Reading reading = expect_same_both_ways(
            text, {"sheet", "edge", "mesh", "textured", "shaded", "box", "plate", "tri", "plane"});
        EXPECT_EQ(reading.errors, 0) << file;
    }
}

// A random item of `shape`, in the plain form or not.
class ItemWriter {
public:
    explicit ItemWriter(unsigned seed) : random_(seed) {}

    std::string blank() {
        static const char* kBlanks[] = {"", "", "", " ", "  ", "\n", "\t", "\r\n", " \f"};
        return kBlanks[random_() % 9];
    }

    // Plain numbers of every form, numbers the grammar reads token by
    // token, and (when errors are wanted) a broken one. Names other than the
    // declared ones would end the run: the grammar takes them for variables.
    std::string number() {
        static const char* kUnusual[] = {"1.",   ".5",    "007",  "1e3",   "2.5E-3",
                                         "1e40", "1e-50", "3e+0", "1e-46", "99999999999",
                                         "- 1",  "+ 2",   "-\n3"};
        static const char* kTokenByToken[] = {"one", "1+0", "(2)", "1 /* c */", "2 * 3"};
        char text[40];
        switch (random_() % 12) {
            case 0:
                return kUnusual[random_() % std::size(kUnusual)];
            case 1:
                return kTokenByToken[random_() % std::size(kTokenByToken)];
            case 2:
                if (errors_ && random_() % 150 == 0) return "1.2.3";
                [[fallthrough]];
            case 3:
                std::snprintf(text, sizeof text, "%d", static_cast<int>(random_() % 2000) - 1000);
                return text;
            default:
                std::snprintf(text, sizeof text, "%.*f", static_cast<int>(random_() % 8),
                              std::uniform_real_distribution<double>(-10, 10)(random_));
                return text;
        }
    }

    std::string numbers(int n) {
        std::string out = "(" + blank();
        for (int i = 0; i < n; ++i) out += (i ? "," + blank() : "") + number() + blank();
        return out + ")";
    }

    std::string cv() { return "cv(" + numbers(3) + "," + number() + ")"; }

    std::string item(PackShape shape) {
        switch (shape) {
            case PACK_SCALAR:
                return number();
            case PACK_CV:
                return random_() % 20 == 0 ? "corner" : cv();
            case PACK_ST:
                return "st" + numbers(2);
            case PACK_NORMAL:
                return "norm" + numbers(3);
            case PACK_COLOUR:
                return (random_() % 2 ? "color" : "colour") + numbers(3);
            case PACK_VERTEX: {
                int form = random_() % 10 == 0 ? static_cast<int>(random_() % 3) : form_;
                std::string out = "(" + cv();  // a vertex takes no CV variable
                if (form >= 1) out += ", " + item(PACK_ST);
                if (form >= 2) out += "," + blank() + item(PACK_NORMAL);
                return out + ")";
            }
            case PACK_POLYGON:
                return polygon();
        }
        return "";
    }

    std::string indices(int n) {
        std::string out = "(";
        for (int i = 0; i < n; ++i)
            out += (i ? ", " : "") +
                   (random_() % 40 == 0 ? std::string("one") : std::to_string(random_() % 6));
        return out + ")";
    }

    std::string polygon() {
        int n = 1 + static_cast<int>(random_() % 4);
        int lists = random_() % 8 == 0 ? 1 + static_cast<int>(random_() % 3) : lists_;
        std::string slot = random_() % 2 ? ", " + std::to_string(random_() % 2) : "";
        if (random_() % 30 == 0) n = lists > 1 ? n : 1;  // polygon((5), ...)
        if (lists == 1 && slot.empty()) return "polygon" + indices(n);
        std::string out = "polygon(";
        for (int k = 0; k < lists; ++k)
            out += (k ? ", " : "") + indices(random_() % 25 == 0 ? n + 1 : n);
        return out + slot + ")";
    }

    // A list of `count` items, with errors now and then when `errors`.
    std::string list(PackShape shape, int count, bool errors = true) {
        errors_ = errors;
        form_ = static_cast<int>(random_() % 3);
        lists_ = 1 + static_cast<int>(random_() % 3);
        std::string out = "(" + blank();
        for (int i = 0; i < count; ++i) {
            if (i) out += (errors && random_() % 200 == 0 ? ",," : ",") + blank();
            out += item(shape) + blank();
        }
        return out + ")";
    }

private:
    std::mt19937 random_;
    int form_ = 0;
    int lists_ = 1;
    bool errors_ = true;
};

TEST(ListRunScenes, RandomListsReadTheSameBothWays) {
    for (unsigned seed = 1; seed <= 60; ++seed) {
        ItemWriter writer(seed);
        int count = 1 + static_cast<int>(seed * 7 % 40);
        bool errors = seed % 2 == 0;  // half the scenes have errors to recover from
        std::string scene = kPrelude;
        scene += "polyset mesh (shader = (grey),\n vertices = " +
                 writer.list(PACK_VERTEX, count, errors) +
                 ",\n vertex_colors = " + writer.list(PACK_COLOUR, count, errors) +
                 ",\n vertex_normals = " + writer.list(PACK_NORMAL, count, errors) +
                 ",\n texture_vertices = " + writer.list(PACK_ST, count, errors) +
                 ",\n polygons = " + writer.list(PACK_POLYGON, count, errors) +
                 ",\n polygon_areas = " + writer.list(PACK_SCALAR, count, errors) + ");\n";
        // A patch whose knots match its rows (a mismatch ends the run).
        int per_row = 2 + static_cast<int>(seed % 30);
        scene += "patch sheet (shader = (grey), uknots = " + writer.list(PACK_SCALAR, 3, false) +
                 ",\n vknots = " + writer.list(PACK_SCALAR, per_row, false) + ",\n cvs = (";
        for (int row = 0; row < 3; ++row)
            scene += (row ? ", " : "") + writer.list(PACK_CV, per_row, false);
        scene += "));\n";
        scene += "curve edge (degree = 1, knots = " + writer.list(PACK_SCALAR, count, errors) +
                 ", cvs = " + writer.list(PACK_CV, count, errors) +
                 ");\nscalar after (one + 41);\nMODEL\n";
        expect_same_both_ways(scene, {"mesh", "sheet", "edge", "after"});
    }
}

// About 3 MiB of vertices and polygons, then a declaration after them.
std::string long_mesh_scene() {
    std::string vertices, polygons;
    char line[160];
    for (int i = 0; i < 40000; ++i) {
        std::snprintf(line, sizeof line,
                      "%s(cv((%d.%06d,%d.5,-0.%05d),1),st(0,%d),norm(-0.%05d,0.94044,-0.33997))\n",
                      i ? "," : "", i % 97, i * 7919 % 1000000, i % 13, i % 99991, i % 2, i % 7);
        vertices += line;
        std::snprintf(line, sizeof line, "%spolygon(%d,%d,%d)\n", i ? "," : "", i, (i + 1) % 40000,
                      (i + 7) % 40000);
        polygons += line;
    }
    return std::string(kPrelude) + "polyset mesh (shader = (grey), vertices = (" + vertices +
           "), polygons = (" + polygons + "));\nscalar after (one + 41);\n" + "MODEL\n";
}

TEST(ListRunScenes, ListsLongerThanTheScannersBufferReadTheSameBothWays) {
    // Runs end at each end of the buffer, where an item is cut, and go on
    // after it.
    const std::string scene = long_mesh_scene();
    Reading reading = expect_same_both_ways(scene, {"mesh", "after"});
    EXPECT_EQ(reading.errors, 0);
    EXPECT_NE(reading.values.find("vertices/2=packed9["), std::string::npos);
    EXPECT_NE(reading.values.find("polygons/2=polygons["), std::string::npos);
    std::int32_t lines = 1;
    for (char c : scene) lines += c == '\n';
    EXPECT_EQ(reading.last_line, lines);
}

TEST(ListRunScenes, AScenePipedInUnevenStretchesReadsAsFromMemory) {
    // The input after the scanner's buffer is read ahead while long runs are
    // read in pieces; from a pipe each read takes what has come, so the text
    // arrives in stretches of any length, some ending inside an item, some
    // while a run is being read.
    const std::string scene = long_mesh_scene();
    const Reading whole = read(scene, {"mesh", "after"}, true, kListRunSplit);
    const std::string path = testing::TempDir() + "list_runs_pipe_" + std::to_string(::getpid());
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    std::thread writer([&] {
        const int fd = ::open(path.c_str(), O_WRONLY);
        if (fd < 0) return;
        const std::size_t stretches[] = {1, 4093, 700001, 17, 1 << 20, 65536, 333333};
        for (std::size_t at = 0, k = 0; at < scene.size(); ++k) {
            const std::size_t n = std::min(stretches[k % std::size(stretches)], scene.size() - at);
            for (std::size_t done = 0; done < n;) {
                const ssize_t wrote = ::write(fd, scene.data() + at + done, n - done);
                if (wrote <= 0) break;
                done += static_cast<std::size_t>(wrote);
            }
            at += n;
            std::this_thread::sleep_for(std::chrono::microseconds(k % 3 == 0 ? 2000 : 0));
        }
        ::close(fd);
    });
    std::string error;
    auto stream = InputStream::open_file(path, error);
    ASSERT_NE(stream, nullptr) << error;
    const Reading piped = read(scene, {"mesh", "after"}, true, kListRunSplit, stream.get());
    writer.join();
    std::remove(path.c_str());
    EXPECT_EQ(piped.errors, 0) << piped.messages;
    EXPECT_EQ(piped.messages, whole.messages);
    EXPECT_EQ(piped.last_line, whole.last_line);
    EXPECT_EQ(piped.values, whole.values);
}

TEST(ListRunScenes, LongRunsReadInHalvesKeepTheirLinesAndMessages) {
    // Lists long enough to be read in halves, with an item that is not
    // plain (a comment, a name) in the first or the second half of a run,
    // and an error after them: its message names the same line.
    std::string vertices, polygons;
    char line[160];
    const int count = 12000;
    for (int i = 0; i < count; ++i) {
        std::snprintf(line, sizeof line, "%s(cv((%d.%03d,%d.5,-0.%04d),1),st(0,%d))%s\n",
                      i ? "," : "", i % 89, i * 7 % 1000, i % 11, i % 9973, i % 2,
                      i == count * 3 / 4 ? " /* seam */" : "");
        vertices += line;
        std::snprintf(line, sizeof line, "%spolygon(%s,%d,%d)\n", i ? "," : "",
                      i == count / 3 ? "one" : std::to_string(i).c_str(), (i + 1) % count,
                      (i + 5) % count);
        polygons += line;
    }
    std::string scene = std::string(kPrelude) + "polyset mesh (shader = (grey), vertices = (" +
                        vertices + "), polygons = (" + polygons +
                        "));\nscalar after (one + );\nscalar later (2);\nMODEL\n";
    Reading reading = expect_same_both_ways(scene, {"mesh", "after", "later"});
    EXPECT_EQ(reading.errors, 1) << reading.messages;
    EXPECT_NE(reading.messages.find("line " + std::to_string(2 * count + 6)), std::string::npos)
        << reading.messages;
}

TEST(ListRunScenes, PolygonIndexListsOfOtherLengthsStayNodes) {
    // Packed, the texture indices would be read with the vertex indices'
    // offsets, past the end of their list; as nodes the polyset's
    // definition reports them.
    Reading reading = expect_same_both_ways(
        std::string(kPrelude) +
            "polyset mesh (shader = (grey), polygons = (polygon((0, 1, 2), (0, 1)),\n"
            "                                           polygon((0, 1, 2), (0, 1, 2))));\nMODEL\n",
        {"mesh"});
    EXPECT_NE(reading.values.find("polygons/2=(("), std::string::npos) << reading.values;
}

}  // namespace
}  // namespace sky
