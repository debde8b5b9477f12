// Shared by the expression and symbol tests: a fixture that starts each test
// with an empty symbol table and captures both report channels, and short
// builders for trees (no parser is involved).
#pragma once

#include <deque>
#include <initializer_list>
#include <string>

#include <gtest/gtest.h>

#include "platform/report.h"
#include "sdl/body.h"
#include "sdl/expr.h"
#include "sdl/sdl_errors.h"
#include "sdl/symbols.h"

namespace sky::test {

inline std::string& user_output() {
    static std::string text;
    return text;
}

inline std::string& error_output() {
    static std::string text;
    return text;
}

class SdlTest : public testing::Test {
protected:
    void SetUp() override {
        reset_symbol_table();
        sdl_reset_error_count();
        set_quiet_evaluation(false);
        clear_evaluation_error();
        expression_context() = ExpressionContext{};
        user_output().clear();
        error_output().clear();
        rptSetUserCB([](const char* text) { user_output() += text; });
        rptSetErrorCB([](const char* text) { error_output() += text; });
    }
    void TearDown() override {
        rptSetUserCB(nullptr);
        rptSetErrorCB(nullptr);
        set_quiet_evaluation(false);
        reset_symbol_table();
    }

    // Death tests print on the real error channel.
    static void uncaptured() { rptSetErrorCB(nullptr); }

    static Expr* num(double value, int line = 1) { return make_scalar_literal(value, line); }

    // Links argument nodes through `next`, returning the first.
    static Expr* args(std::initializer_list<Expr*> list) {
        Expr* first = nullptr;
        Expr* last = nullptr;
        for (Expr* node : list) {
            if (last)
                last->next = node;
            else
                first = node;
            last = node;
        }
        return first;
    }

    static Expr* call(int code, std::initializer_list<Expr*> list, int line = 1) {
        return make_function(code, args(list), line);
    }

    static Expr* triple(float x, float y, float z) {
        return make_triple(num(x), num(y), num(z), 1);
    }

    // A scalar expression that fails without printing anything.
    static Expr* silent_failure() { return call(605, {num(4), triple(1, 2, 3)}); }

    static Expr* ref(const char* name, int line = 1) {
        return Rr_make_variable_reference(name, line);
    }

    static bool eval(Expr* node, float& value) {
        return AR_evaluate(SDL_SCALAR, &value, node, nullptr);
    }

    static float value_of(Expr* node) {
        float value = -12345.0f;
        EXPECT_TRUE(eval(node, value));
        return value;
    }

    Body* body(std::int32_t type) {
        Body& made = bodies_.emplace_back();
        made.type = type;
        return &made;
    }

    static void add_item(Body* body, const char* name, Expr* value) {
        append_body_item(*body, BodyItem{name, value, FORM_VALUE, 1});
    }

    static void declare_scalar(const char* name, float value) {
        ASSERT_TRUE(Declare(name, SDL_SCALAR, make_scalar_literal(value, 1)));
    }

private:
    std::deque<Body> bodies_;  // outlive the nodes that point at them within a test
};

}  // namespace sky::test
