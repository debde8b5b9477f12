#include "sdl/lexer.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>

#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/input_stream.h"
#include "platform/report.h"
#include "sdl/keywords.h"
#include "sdl/sdl_errors.h"
#include "sdl/sdl_input.h"
#include "sdl/sdl_parser.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

std::string errors;
void capture_error(const char* text) {
    errors += text;
}

// A scene source the way the run driver makes one: a file stream, bound and
// probed, then handed to the scanner.
class Source {
public:
    explicit Source(const std::string& text, bool probe = true) {
        static int serial = 0;
        // The process id keeps test processes running side by side apart.
        std::string path = testing::TempDir() + "lexer_test_" + std::to_string(::getpid()) + "_" +
                           std::to_string(serial++) + ".sdl";
        FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
        std::string error;
        stream_ = InputStream::open_file(path, error);
        std::remove(path.c_str());
        input_.bind(stream_.get());
        if (probe) input_.probe();
        sdl_bind_input(&input_);
    }

private:
    std::unique_ptr<InputStream> stream_;
    SdlInput input_;
};

// One token as text: "name:x", "int:12", "real:1.5", "string:a", "ADDOP:101",
// "AND", "K_cv", or the punctuation character itself.
std::string describe(int token) {
    struct Class {
        int token;
        const char* name;
        bool valued;
    };
    // clang-format off
    static const Class classes[] = {
        {INTEGER, "int", true}, {ADDOP, "ADDOP", true}, {MULOP, "MULOP", true},
        {RELOP, "RELOP", true}, {FUNCTION, "FUNCTION", true}, {AXIS, "AXIS", true},
        {EASE_TYPE, "EASE_TYPE", true}, {RENDER_MODE, "RENDER_MODE", true},
        {COMMAND_KIND, "COMMAND_KIND", true}, {TRIPLE_FUNCTION, "TRIPLE_FUNCTION", true},
        {CLUSTER, "CLUSTER", true}, {CURRENT_TRANSFORM, "CURRENT_TRANSFORM", true},
        {AND, "AND", false}, {OR, "OR", false}, {NOT, "NOT", false},
        {TANGENT_TYPE, "TANGENT_TYPE", false}};
    // clang-format on
    if (token == REAL) {
        char real[64];
        std::snprintf(real, sizeof real, "real:%g", sdl_lval.real);
        return real;
    }
    if (token == NAME) return std::string("name:") + sdl_lval.text;
    if (token == STRING) return std::string("string:") + sdl_lval.text;
    for (const Class& c : classes)
        if (c.token == token)
            return c.valued ? c.name + (":" + std::to_string(sdl_lval.integer)) : c.name;
    if (token < 256) return std::string(1, static_cast<char>(token));
    // Keyword tokens are named after the first spelling of their group, which
    // is also the first in byte order.
    for (const KeywordRow& row : keyword_table())
        if (row.token == token) return std::string("K_") + row.name;
    return "?" + std::to_string(token);
}

// Every token up to the end of the input, separated by blanks.
std::string scan_all() {
    std::string tokens;
    for (int token; (token = sdl_lex()) != 0;) {
        if (!tokens.empty()) tokens += ' ';
        tokens += describe(token);
    }
    return tokens;
}

class Lexer : public testing::Test {
protected:
    void SetUp() override {
        errors.clear();
        rptSetErrorCB(capture_error);
        sdl_reset_error_count();
    }
    void TearDown() override {
        rptSetErrorCB(nullptr);
        sdl_reset_error_count();
    }

    std::string scan(const std::string& text) {
        Source source(text);
        return scan_all();
    }
};

TEST_F(Lexer, OperatorRunsAreLookedUpWholeAndPunctuationIsItsOwnCode) {
    EXPECT_EQ(scan("x=-1;"), "name:x name:=- int:1 ;");
    EXPECT_EQ(scan("x = -1;"), "name:x = ADDOP:101 int:1 ;");
    EXPECT_EQ(scan("+ - * / == != < <= > >= && || ! ="),
              "ADDOP:100 ADDOP:101 MULOP:102 MULOP:103 RELOP:108 RELOP:109 RELOP:110 RELOP:111 "
              "RELOP:112 RELOP:113 AND OR NOT =");
    EXPECT_EQ(scan("++ & | // *- !!!"), "name:++ name:& name:| name:// name:*- name:!! NOT");
    EXPECT_EQ(scan("a<=b"), "name:a RELOP:111 name:b");
    EXPECT_EQ(scan("(){}[],;"), "( ) { } [ ] , ;");
    EXPECT_EQ(errors, "");
}

TEST_F(Lexer, NumbersNeverTakeASignOrADanglingExponent) {
    EXPECT_EQ(scan("1.e5 .5e3 1e-5 1.5E5 00012 -3 7."),
              "real:100000 real:500 real:1e-05 real:150000 int:12 ADDOP:101 int:3 real:7");
    EXPECT_EQ(scan("1e"), "int:1 name:e");
    EXPECT_EQ(scan("1.5e+"), "real:1.5 name:e ADDOP:100");
    EXPECT_EQ(scan("1.2.3 12abc 1e5x"), "real:1.2 real:0.3 int:12 name:abc real:100000 name:x");
    EXPECT_EQ(errors, "");
}

TEST_F(Lexer, IntegersWrapAsAtoiDoes) {
    EXPECT_EQ(scan("2147483647 2147483648 4294967297"), "int:2147483647 int:-2147483648 int:1");
    // Beyond the 64-bit range the conversion saturates; its low 32 bits are all ones.
    EXPECT_EQ(scan("99999999999999999999999"), "int:-1");
}

TEST_F(Lexer, RealsAreReadAsDoublesThenNarrowed) {
    constexpr float kLargest = std::numeric_limits<float>::max();
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    const std::pair<const char*, float> cases[] = {
        {"0.1", static_cast<float>(0.1)},
        // Halfway between two floats only once rounded to a double: ties to even.
        {"1.000000059604644776257986737988403547205962240695953369140625", 1.0f},
        {"3.4028235e38", kLargest},
        {"3.40282356e38", kLargest},  // above the largest float, below the rounding point
        {"1e39", kInfinity},
        {"1e400", kInfinity},
        {"1e-400", 0.0f},
        {"1e-45", std::numeric_limits<float>::denorm_min()},
    };
    for (auto [text, expected] : cases) {
        Source source(text);
        EXPECT_EQ(sdl_lex(), REAL) << text;
        EXPECT_EQ(sdl_lval.real, expected) << text;
    }
}

TEST_F(Lexer, NamesAndKeywords) {
    EXPECT_EQ(scan("a.b:c#1 _x #y Sin sin SIN"),
              "name:a.b:c#1 name:_x name:#y name:Sin FUNCTION:501 name:SIN");
    EXPECT_EQ(scan("cv polygon colour color texture environment ENVIRONMENT"),
              "K_cv K_polygon K_color K_color K_environment K_environment K_ENVIRONMENT");
    EXPECT_EQ(scan("xaxis zaxis LINEAR LINEAR_TAN EXPOUT wireframe raycast multifillet"),
              "AXIS:1 AXIS:3 EASE_TYPE:1 TANGENT_TYPE EASE_TYPE:6 RENDER_MODE:1 RENDER_MODE:4 "
              "COMMAND_KIND:3000");
    EXPECT_EQ(scan("motion cl cluster cur_xform current_transformation extract"),
              "TRIPLE_FUNCTION:551 CLUSTER:560 CLUSTER:560 CURRENT_TRANSFORM:570 "
              "CURRENT_TRANSFORM:570 FUNCTION:605");
    EXPECT_EQ(errors, "");
}

TEST_F(Lexer, InvalidCharactersAreReportedAndSkipped) {
    EXPECT_EQ(scan("a % $ ? ~ \\ ^ ` ' .x :y .5"), "name:a name:x name:y real:0.5");
    EXPECT_EQ(errors,
              "line 1: invalid character %\nline 1: invalid character $\n"
              "line 1: invalid character ?\nline 1: invalid character ~\n"
              "line 1: invalid character \\\nline 1: invalid character ^\n"
              "line 1: invalid character `\nline 1: invalid character '\n"
              "line 1: invalid character .\nline 1: invalid character :\n");
    EXPECT_EQ(sdl_error_count(), 10);

    errors.clear();
    EXPECT_EQ(scan(std::string("a\x01\x7f\x80\xff", 5) + std::string(1, '\0') + "b"),
              "name:a name:b");
    EXPECT_EQ(errors,
              "line 1: invalid character \\x01\nline 1: invalid character \\x7f\n"
              "line 1: invalid character \\x80\nline 1: invalid character \\xff\n"
              "line 1: invalid character \\x00\n");
}

TEST_F(Lexer, NulBytesAfterANameEndItAndAreReported) {
    // Runs of NUL bytes right after a name once sent the scanner past the end
    // of its tables (found by fuzzing; the sanitizer build is what tells).
    std::string text = "procedure = fog" + std::string(20, '\0') + ", color";
    EXPECT_EQ(scan(text), "K_Highlight = K_fog , K_color");
    EXPECT_EQ(sdl_error_count(), 20);
}

TEST_F(Lexer, StringsKeepOctalEscapeText) {
    EXPECT_EQ(scan(R"("a\tb" "a\qb" "\b\f\n\r\t\v")"),
              R"(string:a\11b string:aqb string:\10\14\12\15\11\13)");
    // A backslash and a digit keep up to two more digits.
    EXPECT_EQ(scan(R"("\1234" "\0x" "\"\\")"), R"(string:\1234 string:\0x string:"\)");
    EXPECT_EQ(scan("\"\" \"a b\" \"\\\xff\""), "string: string:a b string:\xff");
    // A backslash and a newline continue the string on the next line.
    EXPECT_EQ(scan("\"ab\\\ncd\" ?"), "string:abcd");
    EXPECT_EQ(errors, "line 2: invalid character ?\n");
}

TEST_F(Lexer, BrokenStringsReportAndTheTokensAfterThemStillCome) {
    EXPECT_EQ(scan("\"abc\nx 1 ?"), "string:abc name:x int:1");
    EXPECT_EQ(errors, "line 1: newline in string or char constant\nline 2: invalid character ?\n");

    errors.clear();
    EXPECT_EQ(scan("x \"abc"), "name:x string:abc");
    EXPECT_EQ(errors, "line 1: unexpected EOF\n");

    errors.clear();
    EXPECT_EQ(scan("x \"abc\\"), "name:x string:abc");
    EXPECT_EQ(errors, "line 1: unexpected EOF\n");

    // A byte 255 ends a string as the end of the input does.
    errors.clear();
    EXPECT_EQ(scan("\"ab\xff cd"), "string:ab name:cd");
    EXPECT_EQ(errors, "line 1: unexpected EOF\n");
}

TEST_F(Lexer, CommentNewlinesCount) {
    EXPECT_EQ(scan("a /* one\n two\n * / ** \n**/ b\n?"), "name:a name:b");
    EXPECT_EQ(errors, "line 5: invalid character ?\n");
    EXPECT_EQ(sdl_line(), 5);

    EXPECT_EQ(scan("/*/ still a comment */ c"), "name:c");
    // The end of the input ends a comment without a message.
    errors.clear();
    EXPECT_EQ(scan("d /* no end\n"), "name:d");
    EXPECT_EQ(errors, "");
}

TEST_F(Lexer, LineNumbersFollowNewlinesOnly) {
    Source source("a\r\nb\n\n c \f\t\"s\n\"d\"");
    std::vector<int> lines;
    while (sdl_lex() != 0) lines.push_back(sdl_line());
    // The broken string ends on its newline, which counts.
    EXPECT_EQ(lines, (std::vector<int>{1, 2, 4, 5, 5}));
}

TEST_F(Lexer, TheEndOfInputLeavesTheScannerReadyForTheNextStream) {
    {
        Source first("first\nsecond");
        EXPECT_EQ(scan_all(), "name:first name:second");
        EXPECT_EQ(sdl_lex(), 0);  // asking again is harmless
        EXPECT_EQ(sdl_line(), 2);
    }
    {
        Source stage("stage 1");
        EXPECT_EQ(sdl_line(), 1);
        EXPECT_EQ(scan_all(), "K_stage int:1");
    }
    {
        // A parse that stops early leaves text behind; the next stream starts clean.
        Source unfinished("a b c /* d");
        EXPECT_EQ(sdl_lex(), NAME);
    }
    Source last("last");
    EXPECT_EQ(scan_all(), "name:last");
}

TEST_F(Lexer, TheProbedBytesAreReadFirst) {
    for (bool probe : {true, false}) {
        Source source("abcdef 12", probe);
        EXPECT_EQ(scan_all(), "name:abcdef int:12");
    }
    for (const char* text : {"", "a", "ab", "abc", "abcd"}) {
        Source source(text);
        EXPECT_EQ(scan_all(), *text == '\0' ? "" : std::string("name:") + text);
    }
}

TEST_F(Lexer, NamesAndStringsShareTheSymbolsText) {
    Symbol symbol;
    symbol.name = "declared";
    ASSERT_TRUE(insert_symbol(&symbol));
    Source source("declared \"declared\" other other");
    EXPECT_EQ(sdl_lex(), NAME);
    EXPECT_EQ(sdl_lval.text, symbol.name);
    EXPECT_EQ(sdl_lex(), STRING);
    EXPECT_EQ(sdl_lval.text, symbol.name);
    EXPECT_EQ(sdl_lex(), NAME);
    const char* first_copy = sdl_lval.text;
    EXPECT_NE(first_copy, nullptr);
    EXPECT_EQ(sdl_lex(), NAME);
    EXPECT_STREQ(sdl_lval.text, "other");
    EXPECT_NE(sdl_lval.text, first_copy);  // undeclared names are copied each time
    reset_symbol_table();
}

TEST_F(Lexer, TokensAcrossBufferRefillsAndLongTokens) {
    // Tokens straddle the 8 KiB reads; one name and one string outgrow the buffer.
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "ab " + std::to_string(i) + " 2.5,\n";
    std::string long_name(40000, 'n');
    std::string long_string(50000, 's');
    text += long_name + " \"" + long_string + "\" end";
    Source source(text);
    int count = 0;
    bool in_order = true;
    for (int i = 0; i < 20000; ++i) {
        in_order &= sdl_lex() == NAME;
        in_order &= sdl_lex() == INTEGER && sdl_lval.integer == i;
        in_order &= sdl_lex() == REAL && sdl_lval.real == 2.5f;
        in_order &= sdl_lex() == ',';
        count += in_order;
    }
    EXPECT_EQ(count, 20000);
    EXPECT_EQ(sdl_lex(), NAME);
    EXPECT_EQ(sdl_lval.text, long_name);
    EXPECT_EQ(sdl_lex(), STRING);
    EXPECT_EQ(sdl_lval.text, long_string);
    EXPECT_EQ(sdl_lex(), K_end);
    EXPECT_EQ(sdl_line(), 20001);
    EXPECT_EQ(sdl_lex(), 0);
}

TEST(LexerDeathTest, AnInputThatFailsIsNotTakenForItsEnd) {
    auto run = [] {
        // Reading a directory fails with EISDIR after a successful open.
        auto stream = InputStream::from_socket(open("/", O_RDONLY), "scene.sdl");
        SdlInput input;
        input.bind(stream.get());
        sdl_bind_input(&input);
        sdl_lex();
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(1),
                "^Error: cannot read input scene.sdl\n\\(Is a directory\\)\n$");
}

TEST_F(Lexer, RandomBytesNeverUpsetTheScanner) {
    std::mt19937 random(20211);
    const std::string alphabet = "/*\"\\\n\r\t .:#_eE+-=<>!&|(){}[],;0123456789abcXYZ";
    for (int round = 0; round < 3000; ++round) {
        std::string text(random() % 100, '\0');  // fewer bytes than the error limit
        for (char& c : text)
            c = random() % 4 == 0 ? static_cast<char>(random() % 256)
                                  : alphabet[random() % alphabet.size()];
        Source source(text);
        int tokens = 0;
        while (sdl_lex() != 0) {
            ASSERT_LE(++tokens, 120);  // every token consumes at least one byte
            sdl_reset_error_count();   // stay below the error limit
        }
        sdl_reset_error_count();
    }
}

}  // namespace
}  // namespace sky
