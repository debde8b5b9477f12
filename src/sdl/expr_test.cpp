// AR_evaluate's type rules, the operators, references, the value
// constructors, print nodes, array elements, objects and lists.
#include <cmath>
#include <set>

#include "sdl/expr_test_support.h"

namespace sky {
namespace {

using test::error_output;
using test::user_output;

class Operators : public test::SdlTest {};

TEST_F(Operators, ArithmeticAndTheNearZeroDivisor) {
    EXPECT_EQ(value_of(call(100, {num(1.5), num(2)})), 3.5f);
    EXPECT_EQ(value_of(call(101, {num(5), num(7)})), -2.0f);
    EXPECT_EQ(value_of(call(102, {num(3), num(-4)})), -12.0f);
    EXPECT_EQ(value_of(call(103, {num(7), num(2)})), 3.5f);
    EXPECT_EQ(value_of(call(103, {num(1), num(0)})), 0.0f);
    EXPECT_EQ(value_of(call(103, {num(1), num(0.0000005)})), 0.0f);
    EXPECT_EQ(value_of(call(103, {num(1), num(-0.000001)})), 0.0f);
    EXPECT_NEAR(value_of(call(103, {num(1), num(0.000002)})), 500000.0f, 1.0f);
    EXPECT_EQ(error_output(), "");
}

TEST_F(Operators, ComparisonsUseTheirTolerances) {
    Expr* sum = call(100, {num(0.1), num(0.2)});
    EXPECT_EQ(value_of(call(108, {sum, num(0.3)})), 1.0f);
    EXPECT_EQ(value_of(call(108, {num(1), num(1.002)})), 0.0f);
    EXPECT_EQ(value_of(call(109, {num(1), num(1.0005)})), 0.0f);
    EXPECT_EQ(value_of(call(109, {num(1), num(1.002)})), 1.0f);
    // The ordering operators are exact.
    EXPECT_EQ(value_of(call(110, {num(1), num(1.0005)})), 1.0f);
    EXPECT_EQ(value_of(call(110, {num(2), num(2)})), 0.0f);
    EXPECT_EQ(value_of(call(111, {num(2), num(2)})), 1.0f);
    EXPECT_EQ(value_of(call(112, {num(3), num(2)})), 1.0f);
    EXPECT_EQ(value_of(call(112, {num(2), num(2)})), 0.0f);
    EXPECT_EQ(value_of(call(113, {num(2), num(2)})), 1.0f);
    EXPECT_EQ(value_of(call(113, {num(1), num(2)})), 0.0f);
}

TEST_F(Operators, LogicTruncatesTowardZero) {
    EXPECT_EQ(value_of(call(401, {num(2.7), num(3.9)})), 3.0f);
    EXPECT_EQ(value_of(call(401, {num(0.5), num(1)})), 0.0f);
    EXPECT_EQ(value_of(call(402, {num(0.9), num(-1.5)})), 1.0f);
    EXPECT_EQ(value_of(call(402, {num(0.9), num(0.2)})), 0.0f);
    EXPECT_EQ(value_of(call(403, {num(0.5)})), 1.0f);
    EXPECT_EQ(value_of(call(403, {num(2)})), 0.0f);
    EXPECT_EQ(value_of(call(395, {num(3)})), -3.0f);
}

TEST_F(Operators, AndDoesNotEvaluateItsRightSideAfterAFalseLeftSide) {
    EXPECT_EQ(value_of(call(401, {num(0), silent_failure()}, 4)), 0.0f);
    EXPECT_EQ(error_output(), "");

    float value = 0;
    EXPECT_FALSE(eval(call(401, {num(1), silent_failure()}, 4), value));
    EXPECT_EQ(error_output(),
              "Can't evaluate argument 2 for function\nCannot evaluate SCALAR on line 4\n");
    error_output().clear();
    EXPECT_FALSE(eval(call(401, {silent_failure(), num(1)}, 5), value));
    EXPECT_EQ(error_output(),
              "Can't evaluate argument 1 for function\nCannot evaluate SCALAR on line 5\n");
    error_output().clear();
    EXPECT_FALSE(eval(call(401, {num(1)}, 6), value));  // no right side
    EXPECT_EQ(error_output(), "Cannot evaluate SCALAR on line 6\n");
}

TEST_F(Operators, OrEvaluatesBothSides) {
    float value = 0;
    EXPECT_FALSE(eval(call(402, {num(1), silent_failure()}, 8), value));
    EXPECT_EQ(error_output(),
              "Can't evaluate argument 1 for function\nCannot evaluate SCALAR on line 8\n");
}

TEST_F(Operators, UnaryOperatorsFailQuietly) {
    float value = 0;
    EXPECT_FALSE(eval(call(395, {silent_failure()}), value));
    EXPECT_FALSE(eval(call(403, {silent_failure()}), value));
    EXPECT_EQ(error_output(), "");
}

TEST_F(Operators, MissingAndFailingArguments) {
    float value = 0;
    EXPECT_FALSE(eval(call(100, {num(1)}, 3), value));
    EXPECT_EQ(error_output(), "Cannot evaluate SCALAR on line 3\n");
    error_output().clear();
    EXPECT_FALSE(eval(call(102, {silent_failure(), num(1)}, 9), value));
    EXPECT_EQ(error_output(),
              "Can't evaluate argument 0 for function\nCannot evaluate SCALAR on line 9\n");
    // Arguments beyond the two used are ignored.
    EXPECT_EQ(value_of(call(100, {num(1), num(2), silent_failure()})), 3.0f);
}

// Operators associate to the left: a long sum is a chain of left operands as
// deep as it is long, and must neither overflow the stack nor change what a
// short one gives.
TEST_F(Operators, LongChainsEvaluateWithoutRecursing) {
    Expr* chain = num(1);
    for (int i = 1; i < 1000000; ++i) chain = call(i % 2 ? 100 : 102, {chain, num(1)});
    EXPECT_EQ(value_of(chain), 500001.0f);  // (((1+1)*1)+1)*1 ...
    Expr* mixed = num(10);
    for (int i = 0; i < 300000; ++i) mixed = call(402, {call(108, {mixed, num(10)}), num(0)});
    EXPECT_EQ(value_of(mixed), 0.0f);  // (10 == 10) || 0 is 1, then 1 == 10 is 0, ...
    EXPECT_EQ(error_output(), "");
}

TEST_F(Operators, AFailureInsideAChainFailsEveryLevelAboveIt) {
    float value = 0;
    // ((1 + failure) * 2) - 3, each operator on its own line.
    Expr* sum = call(100, {num(1), silent_failure()}, 1);
    EXPECT_FALSE(eval(call(101, {call(102, {sum, num(2)}, 2), num(3)}, 3), value));
    EXPECT_EQ(error_output(),
              "Can't evaluate argument 1 for function\nCannot evaluate SCALAR on line 1\n"
              "Can't evaluate argument 0 for function\nCannot evaluate SCALAR on line 2\n"
              "Can't evaluate argument 0 for function\nCannot evaluate SCALAR on line 3\n");
    error_output().clear();
    // A chain in a right operand reports within it, then its parent.
    Expr* inner = call(100, {call(100, {silent_failure(), num(1)}, 5), num(1)}, 6);
    EXPECT_FALSE(eval(call(102, {num(2), inner}, 7), value));
    EXPECT_EQ(error_output(),
              "Can't evaluate argument 0 for function\nCannot evaluate SCALAR on line 5\n"
              "Can't evaluate argument 0 for function\nCannot evaluate SCALAR on line 6\n"
              "Can't evaluate argument 1 for function\nCannot evaluate SCALAR on line 7\n");
}

TEST_F(Operators, QuietModeLeavesAnErrorNumberInsteadOfMessages) {
    EXPECT_FALSE(set_quiet_evaluation(true));
    float value = 0;
    EXPECT_FALSE(eval(call(100, {num(1)}), value));
    EXPECT_EQ(evaluation_error(), 12);
    EXPECT_FALSE(eval(call(100, {silent_failure(), num(1)}), value));
    EXPECT_EQ(evaluation_error(), 12);
    EXPECT_FALSE(eval(call(508, {num(-1)}), value));  // sqrt
    EXPECT_EQ(evaluation_error(), 14);
    EXPECT_EQ(value_of(call(100, {num(1), num(1)})), 2.0f);
    EXPECT_EQ(evaluation_error(), 0);  // each evaluation clears it
    EXPECT_TRUE(set_quiet_evaluation(false));
    EXPECT_EQ(error_output(), "");
}

class References : public test::SdlTest {};

TEST_F(References, ScalarReferencesFollowTheCurrentValue) {
    register_predefined_symbols();
    Expr* frame = ref("frame");
    EXPECT_EQ(frame->type, SDL_SCALAR);
    EXPECT_EQ(value_of(frame), 0.0f);
    set_system_scalar("frame", 12);
    EXPECT_EQ(value_of(frame), 12.0f);
    EXPECT_EQ(value_of(ref("TRUE")), 1.0f);
}

TEST_F(References, OtherTypesCopyTheirStorage) {
    ASSERT_TRUE(Declare("p", SDL_TRIPLE, triple(1, 2, 3)));
    initialise_declared_values();
    Triple p;
    EXPECT_TRUE(evaluate_triple(ref("p"), p));
    EXPECT_EQ(p.z, 3.0f);
    float value = 0;
    EXPECT_FALSE(eval(ref("p"), value));  // a TRIPLE is no SCALAR

    // Polysets are objects like patches, although their code lies beyond the others.
    ASSERT_TRUE(Declare("mesh", SDL_POLYSET, make_object(SDL_POLYSET, body(SDL_POLYSET), 1)));
    ObjectValue mesh;
    EXPECT_TRUE(AR_evaluate(SDL_POLYSET, &mesh, ref("mesh"), nullptr));
    EXPECT_STREQ(mesh.name, "mesh");
}

TEST_F(References, AReferenceWithoutSymbolSaysSo) {
    declare_scalar("s", 1);
    Expr* reference = ref("s", 21);
    reference->symbol = nullptr;
    float value = 0;
    EXPECT_FALSE(eval(reference, value));
    EXPECT_EQ(error_output(), "Can't evaluate SCALAR variable on line 21\n");
}

TEST_F(References, BadNamesAndTypesAreFatal) {
    uncaptured();
    EXPECT_EXIT(ref("ghost"), testing::ExitedWithCode(1),
                "^variable ghost requires previous declaration\n$");
    EXPECT_EXIT(ref("nan0x7fc00000"), testing::ExitedWithCode(1),
                "^\nRegarding the following error message; A 'nan' in a variable name indicates a "
                "bad\nfloating point number in the model.\nSearch the SDL file for \"nan0x\" "
                "to find the field that holds the bad value,\nthen set that field again in the "
                "modelling application and write the SDL file anew.\n\n"
                "variable nan0x7fc00000 requires previous declaration\n$");
    ASSERT_TRUE(Declare("a", SDL_ARRAY, num(2)));
    EXPECT_EXIT(ref("a"), testing::ExitedWithCode(1),
                "^Can't make an ARRAY from a variable reference\n$");
    static Symbol camera, curve, odd;
    camera = Symbol{"cam", SDL_CAMERA};
    curve = Symbol{"cc", SDL_CV_CURVE};
    odd = Symbol{"odd", 750};
    insert_symbol(&camera);
    insert_symbol(&curve);
    insert_symbol(&odd);
    EXPECT_EXIT(ref("cam"), testing::ExitedWithCode(1), "^CAMERA variables are not allowed\n$");
    EXPECT_EXIT(ref("cc"), testing::ExitedWithCode(1), "^CV_CURVE variables are not allowed\n$");
    EXPECT_EXIT(ref("odd"), testing::ExitedWithCode(1),
                "^Unknown variable type 750 in Rr_make_variable_reference.\n$");
}

class Evaluate : public test::SdlTest {};

TEST_F(Evaluate, DefaultsAreCopiedByTypeWhenThereIsNoExpression) {
    float scalar = 0, fallback = 2.5f;
    EXPECT_TRUE(AR_evaluate(SDL_SCALAR, &scalar, nullptr, &fallback));
    EXPECT_EQ(scalar, 2.5f);
    std::string name, default_name = "default.pix";
    EXPECT_TRUE(AR_evaluate(SDL_FILENAME, &name, nullptr, &default_name));
    EXPECT_EQ(name, "default.pix");
    ObjectValue light, default_light{SDL_LIGHT, nullptr, nullptr, "sun"};
    EXPECT_TRUE(AR_evaluate(SDL_LIGHT, &light, nullptr, &default_light));
    EXPECT_STREQ(light.name, "sun");

    EXPECT_FALSE(AR_evaluate(SDL_SCALAR, &scalar, nullptr, nullptr));
    EXPECT_FALSE(AR_evaluate(SDL_SCALAR, nullptr, num(1), nullptr));
    int anything = 0;
    EXPECT_FALSE(AR_evaluate(SDL_ARRAY, &anything, nullptr, &anything));
    EXPECT_FALSE(AR_evaluate(SDL_CV_CURVE, &anything, nullptr, &anything));
    EXPECT_FALSE(AR_evaluate(SDL_COLOUR, &anything, nullptr, &anything));  // beyond 739
}

TEST_F(Evaluate, TypesMustMatchExactly) {
    Triple t;
    EXPECT_FALSE(AR_evaluate(SDL_TRIPLE, &t, num(1), nullptr));
    float value = 0;
    EXPECT_FALSE(AR_evaluate(SDL_SCALAR, &value, triple(1, 2, 3), nullptr));
    Expr* list = make_list(num(1), 1);
    EXPECT_FALSE(AR_evaluate(SDL_NO_TYPE, &value, list, nullptr));
    Expr unbuilt;
    unbuilt.type = SDL_SCALAR;
    EXPECT_FALSE(AR_evaluate(SDL_SCALAR, &value, &unbuilt, nullptr));
    EXPECT_EQ(error_output(), "");  // AR_evaluate itself reports nothing
}

TEST_F(Evaluate, TexturesFromNumbersAndTriples) {
    TextureValue texture;
    EXPECT_TRUE(AR_evaluate(SDL_TEXTURE, &texture, num(0.5), nullptr));
    EXPECT_TRUE(texture.constant);
    EXPECT_EQ(texture.colour.x, 127.5f);
    EXPECT_EQ(texture.colour.z, 127.5f);
    EXPECT_TRUE(AR_evaluate(SDL_TEXTURE, &texture, triple(10, 20, 30), nullptr));
    EXPECT_EQ(texture.colour.y, 20.0f);
    Body* procedure = body(SDL_TEXTURE);
    EXPECT_TRUE(
        AR_evaluate(SDL_TEXTURE, &texture, make_object(SDL_TEXTURE, procedure, 1), nullptr));
    EXPECT_FALSE(texture.constant);
    EXPECT_EQ(texture.body, procedure);
    EXPECT_FALSE(AR_evaluate(SDL_TEXTURE, &texture, make_filename("x", nullptr, 1), nullptr));
}

TEST_F(Evaluate, CurvesNamedByAStringBecomeReferencesOnce) {
    Body* keys = body(SDL_PARAM_CV_CURVE);
    ASSERT_TRUE(Declare("bounce", SDL_PARAM_CV_CURVE, make_object(SDL_PARAM_CV_CURVE, keys, 1)));
    Expr* name = make_filename("bounce", nullptr, 1);
    ObjectValue curve;
    EXPECT_TRUE(AR_evaluate(SDL_PARAM_CV_CURVE, &curve, name, nullptr));
    EXPECT_EQ(curve.body, keys);
    EXPECT_STREQ(curve.name, "bounce");
    EXPECT_EQ(name->type, SDL_PARAM_CV_CURVE);
    EXPECT_EQ(filename_text(name), nullptr);  // no longer a file name
    EXPECT_TRUE(AR_evaluate(SDL_PARAM_CV_CURVE, &curve, name, nullptr));

    Body* outline = body(SDL_BOUNDARY_CURVE);
    ASSERT_TRUE(Declare("edge", SDL_BOUNDARY_CURVE, make_object(SDL_BOUNDARY_CURVE, outline, 1)));
    EXPECT_TRUE(
        AR_evaluate(SDL_BOUNDARY_CURVE, &curve, make_filename("edge", nullptr, 1), nullptr));
    EXPECT_EQ(curve.body, outline);

    Expr* wrong = make_filename("edge", nullptr, 1);
    EXPECT_FALSE(AR_evaluate(SDL_PARAM_CV_CURVE, &curve, wrong, nullptr));
    EXPECT_EQ(wrong->type, SDL_FILENAME);
    EXPECT_FALSE(
        AR_evaluate(SDL_PARAM_CV_CURVE, &curve, make_filename("nowhere", nullptr, 1), nullptr));
}

TEST_F(Evaluate, StructuralTypesAreNeverEvaluated) {
    int anything = 0;
    for (std::int32_t type :
         {std::int32_t{SDL_SHARED_EDGE}, std::int32_t{SDL_TRIM_REGION_LIST}, 737})
        EXPECT_FALSE(AR_evaluate(type, &anything, make_object(type, body(type), 1), nullptr));
    ASSERT_TRUE(Declare("a", SDL_ARRAY, num(2)));
    Symbol& element = find_symbol("a")->elements[0];
    element.type = SDL_SCALAR;
    element.value = make_value_storage(SDL_SCALAR);
    Expr* a0 = make_array_element("a", num(0), 1);
    EXPECT_FALSE(AR_evaluate(SDL_ARRAY, &anything, a0, nullptr));
    EXPECT_EQ(value_of(a0), 0.0f);
}

TEST_F(Evaluate, ObjectsYieldTheirBodyUntilTheirOwnerTakesOver) {
    Body* spot = body(SDL_LIGHT);
    Expr* light = make_object(SDL_LIGHT, spot, 1);
    ObjectValue value;
    EXPECT_TRUE(AR_evaluate(SDL_LIGHT, &value, light, nullptr));
    EXPECT_EQ(value.type, SDL_LIGHT);
    EXPECT_EQ(value.body, spot);
    EXPECT_FALSE(AR_evaluate(SDL_PATCH, &value, light, nullptr));

    static int built = 0;
    register_object_evaluator(SDL_COMMAND, [](Expr* node, void* result) {
        static_cast<ObjectValue*>(result)->record = &built;
        return true;
    });
    EXPECT_TRUE(
        AR_evaluate(SDL_COMMAND, &value, make_object(SDL_COMMAND, body(SDL_COMMAND), 1), nullptr));
    EXPECT_EQ(value.record, &built);
    register_object_evaluator(SDL_COMMAND, nullptr);
}

TEST_F(Evaluate, ListsAndBodies) {
    Expr* list = make_list(args({num(1), num(2), num(3)}), 4);
    EXPECT_TRUE(is_list(list));
    EXPECT_EQ(list_length(list), 3);
    EXPECT_EQ(list_length(make_list(nullptr, 4)), 0);
    EXPECT_EQ(list_length(nullptr), 0);
    static const float data[6] = {0, 1, 2, 3, 4, 5};
    Expr* packed = make_packed_list(PackedList{3, 2, SDL_SCALAR, data}, 5);
    EXPECT_TRUE(is_packed_list(packed));
    EXPECT_EQ(list_length(packed), 3);
    EXPECT_EQ(packed_list(packed)->data[5], 5.0f);

    Body* shader = body(SDL_SHADER);
    Expr* first = num(1);
    Expr* last = num(2);
    add_item(shader, "diffuse", first);
    add_item(shader, "color", num(9));
    add_item(shader, "diffuse", last);
    EXPECT_EQ(shader->find("diffuse")->value, last);
    EXPECT_EQ(shader->find("specular"), nullptr);
}

TEST_F(Evaluate, TheArenaHandsOutFreshNodesAcrossBlocksAndRewinds) {
    std::set<Expr*> seen;
    for (int i = 0; i < 9000; ++i) {
        Expr* node = allocate_node();
        EXPECT_EQ(node->kind, nullptr);
        EXPECT_EQ(node->type, SDL_NO_TYPE);
        node->type = SDL_SCALAR;
        seen.insert(node);
    }
    EXPECT_EQ(seen.size(), 9000u);
    ExprArenaMark mark = expr_arena_mark();
    Expr* given_back = allocate_node();
    given_back->line = 77;
    expr_arena_rewind(mark);
    Expr* again = allocate_node();
    EXPECT_EQ(again, given_back);
    EXPECT_EQ(again->line, 0);
}

}  // namespace
}  // namespace sky
