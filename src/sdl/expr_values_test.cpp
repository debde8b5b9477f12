// The value constructors (triples, vertices, keyframe literals, file names,
// transformations), print nodes and array-element references.
#include <cmath>

#include "sdl/expr_test_support.h"

namespace sky {
namespace {

using test::error_output;
using test::user_output;

class Values : public test::SdlTest {
protected:
    static Symbol& element(const char* array, int index) {
        return find_symbol(array)->elements[index];
    }
    static void assign(Symbol& element, float value) {
        element.type = SDL_SCALAR;
        element.value = make_value_storage(SDL_SCALAR);
        element.scalar() = value;
    }
};

TEST_F(Values, TriplesTakeScalarsOrArrayElements) {
    ASSERT_TRUE(Declare("a", SDL_ARRAY, num(2)));
    assign(element("a", 1), 7);
    Triple t;
    EXPECT_TRUE(
        evaluate_triple(make_triple(num(1), make_array_element("a", num(1), 1), num(3), 1), t));
    EXPECT_EQ(t.x, 1.0f);
    EXPECT_EQ(t.y, 7.0f);
    EXPECT_EQ(t.z, 3.0f);
    EXPECT_EQ(make_triple(num(1), triple(1, 2, 3), num(3), 1), nullptr);
    EXPECT_EQ(make_triple(num(1), nullptr, num(3), 1), nullptr);
    EXPECT_EQ(error_output(), "");

    EXPECT_FALSE(evaluate_triple(make_triple(num(1), silent_failure(), num(3), 12), t));
    EXPECT_EQ(error_output(), "Cannot evaluate second component of TRIPLE on 12\n");
}

TEST_F(Values, VerticesColoursAndTextureCoordinates) {
    CvValue cv;
    EXPECT_TRUE(AR_evaluate(SDL_CV, &cv, make_cv(triple(1, 2, 3), num(0.5), 1), nullptr));
    EXPECT_EQ(cv.z, 3.0f);
    EXPECT_EQ(cv.w, 0.5f);
    EXPECT_FALSE(AR_evaluate(SDL_CV, &cv, make_cv(triple(1, 2, 3), silent_failure(), 6), nullptr));
    EXPECT_EQ(error_output(), "Can't evaluate CV literal on line 6\n");

    Triple c;
    EXPECT_TRUE(AR_evaluate(SDL_COLOUR, &c, make_colour(num(255), num(128), num(0), 1), nullptr));
    EXPECT_EQ(c.y, 128.0f);
    EXPECT_TRUE(AR_evaluate(SDL_NORMAL, &c, make_normal(num(0), num(0), num(-1), 1), nullptr));
    EXPECT_EQ(c.z, -1.0f);
    EXPECT_TRUE(AR_evaluate(SDL_ST, &c, make_st(num(0.25), num(0.75), 1), nullptr));
    EXPECT_EQ(c.x, 0.25f);
    EXPECT_EQ(c.y, 0.75f);

    TrimCvValue tv;
    EXPECT_TRUE(AR_evaluate(SDL_TRIM_CV, &tv, make_trim_vertex(nullptr, nullptr, 0.5f, 0.25f, 1, 1),
                            nullptr));
    EXPECT_FALSE(tv.has_point);
    EXPECT_EQ(tv.v, 0.25f);
    EXPECT_TRUE(AR_evaluate(SDL_TRIM_CV, &tv,
                            make_trim_vertex(triple(1, 2, 3), num(2), 0.5f, 0.25f, 3, 1), nullptr));
    EXPECT_TRUE(tv.has_point);
    EXPECT_EQ(tv.w, 2.0f);
    EXPECT_EQ(tv.flag, 3);
}

TEST_F(Values, KeyframeLiteralsPointTheirTangentsAwayFromTheKey) {
    // parameter_vertex(10, 5, TAN_LINEAR, (3, 1), TAN_SMOOTH, (-4, 2))
    Expr* written[8] = {num(10), num(5), num(16), num(3), num(1), num(18), num(-4), num(2)};
    ParamCvValue key;
    EXPECT_TRUE(AR_evaluate(SDL_PARAM_CV, &key, make_param_vertex(1, written, 8, 0, 1), nullptr));
    EXPECT_EQ(key.time, 10.0f);
    EXPECT_EQ(key.value, 5.0f);
    EXPECT_EQ(key.type_a, 16);
    EXPECT_EQ(key.type_b, 18);
    EXPECT_EQ(key.in_x, -3.0f);
    EXPECT_EQ(key.in_y, 1.0f);
    EXPECT_EQ(key.out_x, 4.0f);
    EXPECT_EQ(key.out_y, 2.0f);
    EXPECT_EQ(key.mask, 2u | 0x10000u);  // smooth out (first table) | linear in (second)

    Expr* short_form[6] = {num(0), num(1), num(-1), num(0), num(1), num(0)};
    EXPECT_TRUE(
        AR_evaluate(SDL_PARAM_CV, &key, make_param_vertex(2, short_form, 6, 0, 1), nullptr));
    EXPECT_EQ(key.type_a, 0);
    EXPECT_EQ(key.mask, 2048u | 0x2000000u);
    Expr* typed[6] = {num(0), num(1), num(-1), num(0), num(1), num(0)};
    EXPECT_TRUE(AR_evaluate(SDL_PARAM_CV, &key, make_param_vertex(3, typed, 6, 20, 1), nullptr));
    EXPECT_EQ(key.mask, 1024u | 0x2000000u);  // TAN_STEP

    EXPECT_EQ(make_param_vertex(1, short_form, 6, 0, 1), nullptr);
    Expr* bad[6] = {num(0), silent_failure(), num(-1), num(0), num(1), num(0)};
    EXPECT_FALSE(AR_evaluate(SDL_PARAM_CV, &key, make_param_vertex(2, bad, 6, 0, 31), nullptr));
    EXPECT_EQ(error_output(), "Can't evaluate PARAM_CV literal on line 31\n");
}

TEST_F(Values, FileNamesGetTheFrameNumberOfTheRun) {
    std::string name;
    EXPECT_TRUE(AR_evaluate(SDL_FILENAME, &name, make_filename("pix/ball", nullptr, 1), nullptr));
    EXPECT_EQ(name, "pix/ball");
    auto framed = [&](float byframe, float e) {
        expression_context().byframe = byframe;
        std::string out;
        EXPECT_TRUE(AR_evaluate(SDL_FILENAME, &out, make_filename("img", num(e), 1), nullptr));
        return out;
    };
    EXPECT_EQ(framed(1, 5), "img.5");        // 0.5 + 5 - 0.01 = 5.49
    EXPECT_EQ(framed(1, 5.6f), "img.6");     // 6.09
    EXPECT_EQ(framed(0.5f, 4.8f), "img.5");  // 0.25 + 4.8 - 0.01 = 5.04
    EXPECT_EQ(framed(-1, 3), "img.2");       // -0.5 + 3 - 0.01 = 2.49
    EXPECT_EQ(framed(2, 5.5f), "img.5");     // 5.99
    EXPECT_EQ(framed(2, 5.52f), "img.6");    // 6.01
    EXPECT_EQ(framed(1.5f, 7), "img.7");     // 7.49
    expression_context().byframe = 1;
    EXPECT_FALSE(
        AR_evaluate(SDL_FILENAME, &name, make_filename("img", silent_failure(), 1), nullptr));
    EXPECT_STREQ(filename_text(make_filename("img", num(1), 1)), "img");
}

TEST_F(Values, TransformationsComeFromTheSceneWalk) {
    TransformValue xf;
    xf.model.m[0] = 5;
    EXPECT_TRUE(AR_evaluate(SDL_TRANSFORM, &xf, make_current_transform(1), nullptr));
    EXPECT_EQ(xf.model.m[0], 1.0f);  // identity outside a walk

    Triple p;
    EXPECT_TRUE(evaluate_triple(make_triple_function(550, triple(1, 2, 3), 1), p));
    EXPECT_EQ(p.x, 1.0f);
    expression_context().current_transform = [](TransformValue* out) {
        *out = TransformValue{};
        out->model.m[0] = 2;    // scale x by 2
        out->model.m[13] = 10;  // then move up by 10
        return true;
    };
    EXPECT_TRUE(evaluate_triple(make_triple_function(550, triple(1, 2, 3), 1), p));
    EXPECT_EQ(p.x, 2.0f);
    EXPECT_EQ(p.y, 12.0f);
    EXPECT_EQ(p.z, 3.0f);
    EXPECT_TRUE(AR_evaluate(SDL_TRANSFORM, &xf, make_current_transform(1), nullptr));
    EXPECT_EQ(xf.model.m[13], 10.0f);

    EXPECT_EQ(make_triple_function(550, num(1), 1), nullptr);
    EXPECT_EQ(make_triple_function(550, args({triple(1, 2, 3), triple(1, 2, 3)}), 1), nullptr);
    EXPECT_EQ(error_output(), "");
    EXPECT_EQ(make_triple_function(553, triple(1, 2, 3), 1), nullptr);
    EXPECT_EQ(error_output(), "Unknown function (id=553)\n");
    error_output().clear();
    EXPECT_FALSE(evaluate_triple(
        make_triple_function(550, make_triple(num(1), num(2), silent_failure(), 1), 1), p));
    EXPECT_EQ(error_output(),
              "Cannot evaluate third component of TRIPLE on 1\n"
              "Cannot determine argument to CURRENT_POSITION on\n");
}

TEST_F(Values, ForwardReferencesAreHandedToTheSceneWalk) {
    static Triple* where = nullptr;
    static bool accept;
    accept = true;
    expression_context().add_forward_reference = [](Triple* location, Expr*) {
        where = location;
        return accept;
    };
    Triple p;
    EXPECT_TRUE(evaluate_triple(make_triple_function(552, triple(4, 5, 6), 1), p));
    EXPECT_EQ(where, &p);
    EXPECT_EQ(p.y, 5.0f);
    accept = false;
    EXPECT_FALSE(evaluate_triple(make_triple_function(552, triple(4, 5, 6), 1), p));
    EXPECT_EQ(error_output(), "Cannot allocate FORWARD reference on\n");
}

TEST_F(Values, MotionNeedsAPath) {
    Body* path = body(SDL_MOTION_CURVE);
    path->model = "track";
    ASSERT_TRUE(Declare("move", SDL_MOTION_CURVE, make_object(SDL_MOTION_CURVE, path, 1)));
    Expr* motion = make_triple_function(551, args({ref("move"), num(1)}), 14);
    ASSERT_NE(motion, nullptr);
    // No curve named "track": nothing to follow.
    Triple p{1, 2, 3};
    EXPECT_FALSE(evaluate_triple(motion, p));
    EXPECT_EQ(error_output(), "Cannot evaluate curve for MOTION function on 14\n");
    error_output().clear();
    Expr* alone = make_triple_function(551, args({ref("move")}), 16);
    ASSERT_NE(alone, nullptr);
    EXPECT_FALSE(evaluate_triple(alone, p));
    EXPECT_EQ(error_output(), "No second argument given for MOTION function on 16\n");
    EXPECT_EQ(make_triple_function(551, triple(1, 2, 3), 14), nullptr);
}

TEST_F(Values, PrintWritesToStandardOutput) {
    float value = -1;
    EXPECT_TRUE(eval(make_print("hello", nullptr, 1), value));
    EXPECT_EQ(value, 0.0f);
    EXPECT_TRUE(eval(make_print("x is", call(100, {num(2), num(0.5)}), 1), value));
    EXPECT_EQ(value, 2.5f);
    Triple t;
    Expr* triple_print = make_print("p", triple(1, 2.5f, -3), 1);
    EXPECT_EQ(triple_print->type, SDL_TRIPLE);
    EXPECT_TRUE(evaluate_triple(triple_print, t));
    EXPECT_EQ(t.y, 2.5f);
    EXPECT_EQ(user_output(), "hello\nx is 2.5\np (1, 2.5, -3)\n");
    EXPECT_EQ(error_output(), "");

    EXPECT_FALSE(eval(make_print(nullptr, nullptr, 41), value));
    EXPECT_FALSE(eval(make_print("x", silent_failure(), 42), value));
    EXPECT_EQ(error_output(),
              "Can't evaluate PRINT COMMENT on line 41\n"
              "Can't evaluate SCALAR PRINT function on line 42\n");

    error_output().clear();
    sdl_set_line(43);
    EXPECT_EQ(make_print("v", make_cv(triple(1, 2, 3), num(1), 43), 43), nullptr);
    EXPECT_EQ(error_output(), "line 43: can't print CV data yet\n");
    EXPECT_EQ(sdl_error_count(), 1);
}

TEST_F(Values, ArrayElementsAreResolvedAtEachEvaluation) {
    ASSERT_TRUE(Declare("a", SDL_ARRAY, num(3)));
    declare_scalar("i", 0);
    assign(element("a", 0), 10);
    assign(element("a", 1), 11);
    Expr* by_name = make_array_element("a", ref("i"), 1);
    EXPECT_EQ(value_of(by_name), 10.0f);
    find_symbol("i")->scalar() = 1.9f;  // truncated
    EXPECT_EQ(value_of(by_name), 11.0f);

    float value = 0;
    for (float bad : {-1.0f, 2.0f /* unassigned */, 3.0f, 1e30f}) {
        find_symbol("i")->scalar() = bad;
        EXPECT_FALSE(eval(by_name, value)) << bad;
    }
    EXPECT_FALSE(eval(make_array_element("a", silent_failure(), 1), value));
    EXPECT_FALSE(eval(make_array_element("a", nullptr, 1), value));
    EXPECT_EQ(error_output(), "");

    // An element that is itself an array takes the next subscript.
    Symbol& inner = element("a", 2);
    inner.type = SDL_ARRAY;
    inner.element_count = 2;
    static Symbol inner_elements[2];
    inner.elements = inner_elements;
    assign(inner_elements[1], 21);
    EXPECT_EQ(value_of(make_array_element("a", args({num(2), num(1)}), 1)), 21.0f);
    EXPECT_FALSE(eval(make_array_element("a", num(2), 1), value));

    // Assignments reach the same elements, a whole inner array included, and
    // also an element that has no value yet.
    EXPECT_EQ(array_element_symbol(make_array_element("a", args({num(2), num(1)}), 1)),
              &inner_elements[1]);
    EXPECT_EQ(array_element_symbol(make_array_element("a", num(2), 1)), &inner);
    EXPECT_EQ(array_element_symbol(make_array_element("a", args({num(2), num(0)}), 1)),
              &inner_elements[0]);
    EXPECT_EQ(array_element_symbol(make_array_element("a", args({num(2), num(2)}), 1)), nullptr);
    EXPECT_EQ(array_element_symbol(make_array_element("a", silent_failure(), 1)), nullptr);

    // A subscript past an element that is not an array is never evaluated: the
    // walk stops at that element.
    Expr* past_scalar = make_array_element("a", args({num(1), silent_failure()}), 1);
    EXPECT_EQ(value_of(past_scalar), 11.0f);
    EXPECT_EQ(array_element_symbol(past_scalar), &element("a", 1));
    EXPECT_EQ(error_output(), "");
}

TEST_F(Values, SubscriptingWhatIsNotAnArrayIsFatal) {
    declare_scalar("s", 1);
    uncaptured();
    EXPECT_EXIT(make_array_element("s", num(0), 17), testing::ExitedWithCode(1),
                "^s is not an ARRAY, on line 17\n$");
    EXPECT_EXIT(make_array_element("nothing", num(0), 17), testing::ExitedWithCode(1),
                "^variable nothing requires previous declaration\n$");
}

}  // namespace
}  // namespace sky
