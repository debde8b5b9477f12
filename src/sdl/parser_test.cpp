// The grammar as a whole: the scene corpus under tests/sdl parses cleanly and
// uses every rule; precedence, recovery, limits and what the actions build.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/input_stream.h"
#include "platform/report.h"
#include "sdl/builder.h"
#include "sdl/environment.h"
#include "sdl/environment_settings.h"
#include "sdl/parse_test_support.h"
#include "sdl/reader.h"
#include "sdl/scene_description.h"
#include "sdl/sdl_errors.h"
#include "sdl/sdl_input.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

std::string errors_seen;
void capture_errors(const char* text) {
    errors_seen += text;
}
std::string output_seen;
void capture_output(const char* text) {
    output_seen += text;
}

// A fresh front end: symbols, settings, scene and error count.
void reset_front_end() {
    reset_symbol_table();
    register_predefined_symbols();
    reset_scene_description();
    reset_environment();
    sdl_reset_error_count();
    errors_seen.clear();
    output_seen.clear();
}

int parse_file(const std::string& path, bool capture = true) {
    std::string error;
    auto stream = InputStream::open_file(path, error);
    EXPECT_TRUE(stream) << path << ": " << error;
    if (!stream) return -1;
    SdlInput input;
    input.bind(stream.get());
    input.probe();
    if (capture) {
        rptSetErrorCB(capture_errors);
        rptSetUserCB(capture_output);
    }
    int errors = parse_scene(input);
    rptSetErrorCB(nullptr);
    rptSetUserCB(nullptr);
    return errors;
}

int parse_text(const std::string& text, bool capture = true) {
    if (capture) {
        rptSetErrorCB(capture_errors);
        rptSetUserCB(capture_output);
    }
    int errors = parse_scene_text(text);
    rptSetErrorCB(nullptr);
    rptSetUserCB(nullptr);
    return errors;
}

float scalar_value(const char* name) {
    Symbol* symbol = find_symbol(name);
    EXPECT_NE(symbol, nullptr) << name;
    return symbol ? symbol->scalar() : -1e30f;
}

const std::vector<std::string> kCorpus = {
    "minimal.sdl",
    "definitions.sdl",
    "objects.sdl",
    "environment_body.sdl",
    "environment_colour.sdl",
    "environment_texture.sdl",
    "environment_file.sdl",
    "environment_fog_only.sdl",
    "model.sdl",
    "expressions.sdl",
    "force_eof.sdl",
};

// Scenes with errors in every place the grammar recovers from one.
const std::vector<std::string> kBroken = {"broken/parameters.sdl", "broken/statements.sdl"};

std::string corpus_path(const std::string& name) {
    return std::string(SKYLOOM_SOURCE_DIR) + "/tests/sdl/" + name;
}

TEST(SceneCorpus, EveryFileParsesWithoutErrors) {
    for (const std::string& name : kCorpus) {
        reset_front_end();
        EXPECT_EQ(parse_file(corpus_path(name)), 0) << name << ":\n" << errors_seen;
    }
}

class RecordingTarget;
void parse_create_requests(std::vector<bool>& seen);

TEST(SceneCorpus, TogetherTheFilesUseEveryGrammarRule) {
    std::vector<bool> seen;
    std::vector<bool> all(static_cast<std::size_t>(grammar_rule_count()) + 1, false);
    auto merge = [&] {
        for (std::size_t rule = 0; rule < seen.size() && rule < all.size(); ++rule)
            if (seen[rule]) all[rule] = true;
    };
    std::vector<std::string> files = kCorpus;
    files.insert(files.end(), kBroken.begin(), kBroken.end());
    for (const std::string& name : files) {
        reset_front_end();
        record_grammar_rules(&seen);
        parse_file(corpus_path(name));
        record_grammar_rules(nullptr);
        merge();
    }
    parse_create_requests(seen);
    merge();
    std::ostringstream missing;
    for (int rule = 1; rule < grammar_rule_count(); ++rule)
        if (!all[static_cast<std::size_t>(rule)]) missing << rule << " ";
    EXPECT_EQ(missing.str(), "") << "rules never reduced (see the parser's bison report)";
}

TEST(SceneCorpus, BrokenScenesReportEachErrorOnItsLine) {
    reset_front_end();
    EXPECT_EQ(parse_file(corpus_path("broken/parameters.sdl")), 19);
    EXPECT_EQ(errors_seen,
              "line 4: parse error\nline 5: parse error\nline 6: parse error\n"
              "line 7: parse error\nline 8: parse error\nline 9: parse error\n"
              "line 10: parse error\nline 11: parse error\nline 12: parse error\n"
              "line 13: parse error\nline 14: parse error\nline 15: parse error\n"
              "line 16: parse error\n"
              "line 18: parse error\nline 19: parse error\nline 20: parse error\n"
              "line 21: parse error\nline 22: parse error\nline 23: parse error\n");
    // The parameters after each bad one are still read.
    Symbol* camera_light = find_symbol("l");
    ASSERT_NE(camera_light, nullptr);
    ObjectValue light;
    ASSERT_TRUE(AR_evaluate(SDL_LIGHT, &light, camera_light->initialiser, nullptr));
    EXPECT_NE(light.body->find("intensity"), nullptr);

    reset_front_end();
    EXPECT_EQ(parse_file(corpus_path("broken/statements.sdl")), 3);
    EXPECT_EQ(errors_seen, "line 4: parse error\nline 8: parse error\nline 10: parse error\n");
    EXPECT_NE(find_symbol("y"), nullptr);
}

TEST(Grammar, OperatorsBindAsWritten) {
    reset_front_end();
    ASSERT_EQ(parse_text("DEFINITION\n"
                         "scalar a (2); scalar b (3); scalar c (4);\n"
                         "scalar p (a + b * c);\n"
                         "scalar m (a - b - c);\n"
                         "scalar n (!a < b);\n"
                         "scalar o (!0 && 0);\n"
                         "scalar q (-a * b);\n"
                         "scalar r (a * -(b + c));\n"
                         "MODEL\n"),
              0)
        << errors_seen;
    EXPECT_FLOAT_EQ(scalar_value("p"), 14.0f);
    EXPECT_FLOAT_EQ(scalar_value("m"), -5.0f);
    EXPECT_FLOAT_EQ(scalar_value("n"), 0.0f);  // !(2 < 3)
    EXPECT_FLOAT_EQ(scalar_value("o"), 0.0f);  // (!0) && 0
    EXPECT_FLOAT_EQ(scalar_value("q"), -6.0f);
    EXPECT_FLOAT_EQ(scalar_value("r"), -14.0f);
}

TEST(Grammar, ASignNeedsABlankAfterTheEqualsSign) {
    reset_front_end();
    EXPECT_EQ(parse_text("DEFINITION scalar y (1); scalar x (0); MODEL x = -y;\n"), 0)
        << errors_seen;
    reset_front_end();
    EXPECT_EQ(parse_text("DEFINITION scalar y (1); scalar x (0); MODEL x=-y;\n"), 1);
    EXPECT_EQ(errors_seen, "line 1: parse error\n");
}

TEST(Grammar, AMisspeltPatchParameterCostsOneErrorAndNothingElse) {
    reset_front_end();
    int errors = parse_text(
        "DEFINITION\n"
        "patch p (uknots = (0, 1),\n"
        "         vknots = (0, 1),\n"
        "         divisons = (4, 4),\n"
        "         udegree = 3, vdegree = 2);\n"
        "MODEL\n");
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(errors_seen, "line 4: parse error\n");
    Symbol* patch = find_symbol("p");
    ASSERT_NE(patch, nullptr);
    ASSERT_NE(patch->initialiser, nullptr);
    ObjectValue value;
    ASSERT_TRUE(AR_evaluate(SDL_PATCH, &value, patch->initialiser, nullptr));
    ASSERT_NE(value.body, nullptr);
    EXPECT_NE(value.body->find("uknots"), nullptr);
    EXPECT_NE(value.body->find("vknots"), nullptr);
    EXPECT_NE(value.body->find("udegree"), nullptr);
    EXPECT_NE(value.body->find("vdegree"), nullptr);
}

TEST(Grammar, ABadStatementSkipsToTheNextOne) {
    reset_front_end();
    int errors = parse_text(
        "DEFINITION scalar x (0);\n"
        "MODEL\n"
        "x = 1;\n"
        "x = = 2;\n"
        "x = 3;\n"
        "translate (1, 2);\n"
        "x = 4;\n");
    EXPECT_EQ(errors, 2);
    EXPECT_EQ(errors_seen, "line 4: parse error\nline 6: parse error\n");
    int statements = 0;
    for (Statement* s = scene_description().model; s; s = s->next) ++statements;
    EXPECT_GE(statements, 3);
}

TEST(Grammar, SettingKeywordsAreReadOnlyInTheirOwnForm) {
    reset_front_end();
    // Good settings between the bad ones let each error be reported.
    int errors = parse_text(
        "DEFINITION\n"
        "quiet = ;\n"
        "fields = ON;\n"
        "grid_cache = 1.5;\n"
        "fields = ON;\n"
        "quiet = (1, 2, 3);\n"
        "light l (model = point, quiet = 1, intensity = 2);\n"
        "grid_cache 200;\n"
        "fields = ON; texture_cache_size = 64; aawidth = 3; smallfeatures = 1;\n"
        "MODEL\n"
        "quiet = 1;\n");
    EXPECT_EQ(errors, 6);
    EXPECT_EQ(errors_seen,
              "line 2: parse error\nline 4: parse error\nline 6: parse error\n"
              "line 7: parse error\nline 8: parse error\nline 11: parse error\n");
    // What follows each bad setting is still read.
    EXPECT_NE(environment().fields, nullptr);
    EXPECT_EQ(environment().texture_cache_size, 64);
    ObjectValue light;
    ASSERT_TRUE(AR_evaluate(SDL_LIGHT, &light, find_symbol("l")->initialiser, nullptr));
    EXPECT_NE(light.body->find("intensity"), nullptr);
}

TEST(Grammar, ForceEofStopsReading) {
    reset_front_end();
    EXPECT_EQ(parse_text("DEFINITION MODEL ; FORCE_EOF ((( \" unterminated"), 0) << errors_seen;
}

TEST(Grammar, DeepNestingOverflowsTheParserStack) {
    reset_front_end();
    std::string deep = "DEFINITION scalar x (" + std::string(1200, '(') + "1" +
                       std::string(1200, ')') + "); MODEL\n";
    EXPECT_GE(parse_text(deep), 1);
    EXPECT_NE(errors_seen.find("line 1: parser stack overflow\n"), std::string::npos)
        << errors_seen;
}

TEST(Grammar, LongListsDoNotGrowTheStack) {
    reset_front_end();
    std::string colours;
    for (int i = 0; i < 5000; ++i) colours += (i ? ", " : "") + std::string("color(1, 2, 3)");
    std::string text = "DEFINITION polyset p (vertex_colors = (" + colours + ")); MODEL\n";
    EXPECT_EQ(parse_text(text), 0) << errors_seen;
}

TEST(GrammarDeathTest, TheHundredAndFirstErrorGivesUp) {
    auto run = [] {
        reset_front_end();
        std::string text = "DEFINITION MODEL\n";
        for (int i = 0; i < 150; ++i) text += "x = = 1;\n";
        parse_text(text, false);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(1),
                "line 102: parse error\nline 102: too many errors, giving up\n$");
}

TEST(GrammarDeathTest, CreateCannotLoadModels) {
    auto run = [] {
        reset_front_end();
        parse_text("DEFINITION create shader (model = velvet, filename = \"velvet.so\"); MODEL\n",
                   false);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(1),
                "Dynamic load of OCR shader model velvet from velvet.so failed");
}

// Records what a parse does instead of doing it.
class RecordingTarget final : public SceneTarget {
public:
    std::vector<std::string> calls;
    void begin_definition() override { calls.push_back("begin"); }
    void end_definition() override { calls.push_back("end"); }
    void declare(std::int32_t type, const char* name, Expr*, std::int32_t line) override {
        calls.push_back("declare " + std::to_string(type) + " " + name + " @" +
                        std::to_string(line));
    }
    void declare_command(std::int32_t kind, Body*, std::int32_t) override {
        calls.push_back("command " + std::to_string(kind));
    }
    void create_model(const char* kind, const char* model, const char*, std::int32_t) override {
        calls.push_back(std::string("create ") + kind + " " + model);
    }
    void set_expr_setting(std::int32_t setting, Expr*, std::int32_t) override {
        calls.push_back("setting " + std::to_string(setting));
    }
    void set_int_setting(std::int32_t setting, std::int32_t value, std::int32_t) override {
        calls.push_back("int " + std::to_string(setting) + "=" + std::to_string(value));
    }
    void set_resolution(std::int32_t x, std::int32_t y) override {
        calls.push_back("resolution " + std::to_string(x) + " " + std::to_string(y));
    }
    void set_rt_shadow_offset(float) override { calls.push_back("shadow offset"); }
    void set_clamp_bumpsize(float) override { calls.push_back("clamp"); }
    void set_up_axis(std::int32_t axis) override { calls.push_back("up " + std::to_string(axis)); }
    void set_rt_top_level_voxel_res(std::int32_t, std::int32_t, std::int32_t) override {}
    void set_hline_colour(bool, Expr*, Expr*, Expr*, std::int32_t) override {}
    void set_subdivision_control(Expr*, std::int32_t) override {}
    void set_output(bool matte, Expr*, std::int32_t) override {
        calls.push_back(matte ? "matte" : "output");
    }
    void set_image_shade(const char*, std::int32_t) override {}
    void assign_system_variable(const char* name, Expr*, std::int32_t) override {
        calls.push_back(std::string("assign ") + name);
    }
    void add_stage(Expr* file, Expr*, Expr* camera, std::int32_t) override {
        calls.push_back(std::string("stage") + (file ? " file" : "") + (camera ? " camera" : ""));
    }
    void set_environment_clause(EnvironmentClause clause, Body*, Expr*, std::int32_t) override {
        calls.push_back("clause " + std::to_string(clause));
    }
    void set_model(StatementChain* statements) override {
        int n = 0;
        for (Statement* s = statements ? statements->first : nullptr; s; s = s->next) ++n;
        calls.push_back("model " + std::to_string(n));
    }
};

void parse_create_requests(std::vector<bool>& seen) {
    reset_front_end();
    RecordingTarget target;
    set_scene_target(&target);
    record_grammar_rules(&seen);
    EXPECT_EQ(parse_file(corpus_path("create.sdl")), 0);
    record_grammar_rules(nullptr);
    set_scene_target(nullptr);
    std::vector<std::string> expected = {
        "begin",  "create light neon", "create texture fractal3", "create shader velvet", "end",
        "model 0"};
    EXPECT_EQ(target.calls, expected);
}

TEST(Grammar, ActionsReachTheSceneTargetInOrder) {
    reset_front_end();
    RecordingTarget target;
    set_scene_target(&target);
    int errors = parse_text(
        "DEFINITION\n"
        "resolution = 320 240;\n"
        "quiet = OFF;\n"
        "grid_cache = 200;\n"
        "aalevelmax = 4;\n"
        "up = zaxis;\n"
        "output = \"pix\";\n"
        "scalar s (1);\n"
        "ENVIRONMENT\n"
        "stage = (SDL = \"a.sdl\", use_camera = 1, use_background = 0);\n"
        "background = color (1, 2, 3);\n"
        "MODEL ; ; ;\n");
    set_scene_target(nullptr);
    EXPECT_EQ(errors, 0) << errors_seen;
    std::vector<std::string> expected = {
        "begin",
        "resolution 320 240",
        "setting " + std::to_string(setting_index("quiet")),
        "int " + std::to_string(setting_index("grid_cache")) + "=200",
        "assign aalevelmax",
        "up 3",
        "output",
        "declare 701 s @8",
        "end",
        "stage file camera",
        "clause " + std::to_string(CLAUSE_BACKGROUND_COLOUR),
        "model 3"};
    EXPECT_EQ(target.calls, expected);
}

}  // namespace
}  // namespace sky
