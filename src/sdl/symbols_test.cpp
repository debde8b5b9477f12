// Declarations, the predefined names, system variables and the walk that
// initialises declared values.
#include <vector>

#include "sdl/expr_test_support.h"

namespace sky {
namespace {

using test::error_output;

class Symbols : public test::SdlTest {};

TEST_F(Symbols, ARedefinitionIsIgnoredWithAWarning) {
    EXPECT_TRUE(Declare("x", SDL_SCALAR, num(1)));
    EXPECT_FALSE(Declare("x", SDL_SCALAR, num(2)));
    EXPECT_EQ(error_output(), "Warning: Variable x exists, redefinition ignored\n\n");
    EXPECT_EQ(value_of(ref("x")), 1.0f);
    EXPECT_EQ(declared_symbols().size(), 1u);
}

TEST_F(Symbols, ScalarsAreEvaluatedWhenDeclared) {
    declare_scalar("a", 2);
    ASSERT_TRUE(Declare("b", SDL_SCALAR, call(102, {ref("a"), num(3)})));
    const Symbol* b = find_symbol("b");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->system, 0);
    EXPECT_EQ(static_cast<const float*>(b->value)[0], 6.0f);
    EXPECT_EQ(static_cast<const float*>(b->value)[1], 6.0f);  // the initial value
    EXPECT_FALSE(Declare("c", SDL_SCALAR, silent_failure()));
    EXPECT_EQ(find_symbol("c"), nullptr);
    EXPECT_EQ(error_output(), "");
}

TEST_F(Symbols, MismatchedOrMissingInitialisersDropTheDeclarationSilently) {
    EXPECT_FALSE(Declare("x", SDL_SCALAR, triple(1, 2, 3)));
    EXPECT_FALSE(Declare("y", SDL_TRIPLE, nullptr));
    EXPECT_FALSE(Declare("cam", SDL_CAMERA, make_object(SDL_CAMERA, body(SDL_CAMERA), 1)));
    EXPECT_EQ(find_symbol("x"), nullptr);
    EXPECT_EQ(find_symbol("cam"), nullptr);
    EXPECT_TRUE(declared_symbols().empty());
    EXPECT_EQ(error_output(), "");
    uncaptured();
    EXPECT_EXIT(ref("x", 3), testing::ExitedWithCode(1),
                "^variable x requires previous declaration\n$");
}

TEST_F(Symbols, ArraysMakeNamedElements) {
    ASSERT_TRUE(Declare("a", SDL_ARRAY, num(2.9)));
    const Symbol* a = find_symbol("a");
    ASSERT_EQ(a->element_count, 2);
    EXPECT_STREQ(a->elements[0].name, "a[0]");
    EXPECT_STREQ(a->elements[1].name, "a[1]");
    EXPECT_EQ(a->elements[1].type, SDL_NO_TYPE);
    EXPECT_EQ(a->elements[1].value, nullptr);
    EXPECT_EQ(find_symbol("a[0]"), nullptr);  // reached through the array only
}

TEST_F(Symbols, BadArrayDimensionsAreFatal) {
    uncaptured();
    EXPECT_EXIT(Declare("a", SDL_ARRAY, num(0)), testing::ExitedWithCode(1),
                "^Invalid dimension \\(0\\) for array\n$");
    EXPECT_EXIT(Declare("a", SDL_ARRAY, num(-3.5)), testing::ExitedWithCode(1),
                "^Invalid dimension \\(-3\\) for array\n$");
    EXPECT_EXIT(Declare("a", SDL_ARRAY, nullptr), testing::ExitedWithCode(1),
                "^No dimension for array a.\n$");
    EXPECT_EXIT(Declare("a", SDL_ARRAY, silent_failure()), testing::ExitedWithCode(1),
                "^Bad dimension for Array a\n$");
}

TEST_F(Symbols, StorageByType) {
    ASSERT_TRUE(Declare("xf", SDL_TRANSFORM, nullptr));
    const auto* xf = static_cast<const TransformValue*>(find_symbol("xf")->value);
    EXPECT_EQ(xf->model.m[15], 1.0f);
    EXPECT_EQ(xf->orientation, 1.0f);

    Body* spot = body(SDL_LIGHT);
    ASSERT_TRUE(Declare("key_light", SDL_LIGHT, make_object(SDL_LIGHT, spot, 1)));
    ObjectValue light;
    EXPECT_TRUE(AR_evaluate(SDL_LIGHT, &light, ref("key_light"), nullptr));
    EXPECT_STREQ(light.name, "key_light");
    EXPECT_EQ(light.body, spot);

    ASSERT_TRUE(Declare("tf", SDL_TRIM_FACE, make_object(SDL_TRIM_FACE, body(SDL_TRIM_FACE), 1)));
    EXPECT_EQ(find_symbol("tf")->value, nullptr);
}

TEST_F(Symbols, ACurveWithoutABodyCannotBeMade) {
    uncaptured();
    EXPECT_EXIT(Declare("c", SDL_PARAM_CV_CURVE, make_object(SDL_PARAM_CV_CURVE, nullptr, 1)),
                testing::ExitedWithCode(1), "^ERROR \\[1\\] : Can't create parameter curve !\n\n$");
}

TEST_F(Symbols, PredefinedNames) {
    register_predefined_symbols();
    EXPECT_EQ(value_of(ref("TRUE")), 1.0f);
    EXPECT_EQ(declared_symbols().size(), 1u);  // sdl_identity_matrix only
    struct Expected {
        const char* name;
        float value;
    };
    // Written out again on purpose, not taken from the table in symbols.cpp.
    const Expected samples[] = {
        {"FALSE", 0},
        {"phong", 4},
        {"CAMERA_CD", 8},
        {"FOUR_CORNER", 8},
        {"RADIAL", 3},
        {"SPECTRAL", 4},
        {"RAINBOW", 5},
        {"CONSTANT", 1},
        {"THICK_CLOUD", 3},
        {"EMIT_XFORMED", 16},
        {"PER_TEXTURE", 2},
        {"zaxis", 3},
        {"TAN_STEP", 20},
        {"TAN_UNKNOWN", 4096},
        {"PRE_CYCLE_OFFSET", 8192},
        {"UNKNOWN", 0},
        {"POST_CYCLE_OFFSET", 32},
        {"Tiff16", 5},
        {"rla", 9},
        {"fit", 0},
        {"BOUNDING_BOX_COLLISIONS", 2},
        {"startframe", 0},
        {"frame", 0},
        {"post_center", 8},
        {"version", 6},
        {"trans_percent", 1},
        {"gamma_correction", 1},
        {"atten_trans", 1},
        {"invisible_objects_cast_shadows", 0},
    };
    for (const Expected& e : samples) {
        const Symbol* symbol = find_symbol(e.name);
        ASSERT_NE(symbol, nullptr) << e.name;
        EXPECT_EQ(symbol->system, 1) << e.name;
        EXPECT_EQ(symbol->type, SDL_SCALAR) << e.name;
        EXPECT_EQ(symbol->scalar(), e.value) << e.name;
    }
    const Symbol* identity = find_symbol("sdl_identity_matrix");
    ASSERT_NE(identity, nullptr);
    EXPECT_EQ(identity->type, SDL_TRANSFORM);
    EXPECT_EQ(identity->system, 1);
}

TEST_F(Symbols, ANameDefinedTwiceKeepsItsFirstValue) {
    register_predefined_symbols();
    predefine_scalar("TRUE", 7);
    predefine_scalar("frame", 99);
    EXPECT_EQ(find_symbol("TRUE")->scalar(), 1.0f);
    EXPECT_EQ(find_symbol("frame")->scalar(), 0.0f);
    EXPECT_FALSE(Declare("TRUE", SDL_SCALAR, num(3)));
    EXPECT_EQ(error_output(), "Warning: Variable TRUE exists, redefinition ignored\n\n");
}

TEST_F(Symbols, SystemScalars) {
    register_predefined_symbols();
    set_system_scalar("frame", 17);
    set_system_scalar("TRUE", 2);  // constants carry the flag too
    EXPECT_EQ(find_symbol("frame")->scalar(), 17.0f);
    EXPECT_EQ(find_symbol("TRUE")->scalar(), 2.0f);
    uncaptured();
    EXPECT_EXIT(set_system_scalar("framecount", 1), testing::ExitedWithCode(1),
                "^ERROR: Bad variable framecount\n$");
    EXPECT_EXIT(set_system_scalar("sdl_identity_matrix", 1), testing::ExitedWithCode(1),
                "^ERROR: Bad variable sdl_identity_matrix\n$");
}

TEST_F(Symbols, InitialisingEvaluatesEveryDeclaredValue) {
    register_predefined_symbols();
    ASSERT_TRUE(Declare("p", SDL_TRIPLE, make_triple(ref("frame"), num(2), num(3), 1)));
    ASSERT_TRUE(Declare("pic", SDL_FILENAME,
                        make_filename("pictures/render_of_the_ball", ref("frame"), 1)));
    ASSERT_TRUE(Declare("v", SDL_CV, make_cv(triple(1, 2, 3), num(0.5), 1)));
    ASSERT_TRUE(Declare("grey", SDL_TEXTURE, make_object(SDL_TEXTURE, body(SDL_TEXTURE), 1)));
    ASSERT_TRUE(Declare("arr", SDL_ARRAY, num(2)));
    ASSERT_TRUE(Declare("m", SDL_TRANSFORM, nullptr));
    ASSERT_TRUE(Declare("sun", SDL_LIGHT, make_object(SDL_LIGHT, body(SDL_LIGHT), 1)));
    set_system_scalar("frame", 3);
    initialise_declared_values();
    const auto* p = static_cast<const Triple*>(find_symbol("p")->value);
    EXPECT_EQ(p->x, 3.0f);
    EXPECT_EQ(*static_cast<const std::string*>(find_symbol("pic")->value),
              "pictures/render_of_the_ball.3");
    EXPECT_EQ(static_cast<const CvValue*>(find_symbol("v")->value)->w, 0.5f);
    EXPECT_NE(static_cast<const TextureValue*>(find_symbol("grey")->value)->body, nullptr);
}

TEST_F(Symbols, InitialisingStopsOnFailuresAndUnknownTypes) {
    ASSERT_TRUE(Declare("p", SDL_TRIPLE, make_triple(num(1), silent_failure(), num(3), 1)));
    uncaptured();
    rptSetErrorCB([](const char*) {});  // the component's own message is not the walk's
    EXPECT_EXIT(initialise_declared_values(), testing::ExitedWithCode(1), "^$");

    reset_symbol_table();
    rptSetErrorCB(nullptr);
    static Symbol edge{"edge", SDL_SHARED_EDGE};
    append_declared_symbol(&edge);
    EXPECT_EXIT(initialise_declared_values(), testing::ExitedWithCode(1),
                "^Cannot initialize symbol type 720\n$");
}

TEST_F(Symbols, ForEachDeclaredVisitsOneTypeInOrder) {
    declare_scalar("b", 1);
    ASSERT_TRUE(Declare("t", SDL_TRIPLE, triple(1, 1, 1)));
    declare_scalar("a", 2);
    std::vector<std::string> names;
    for_each_declared(SDL_SCALAR, [&](Symbol& symbol) { names.push_back(symbol.name); });
    EXPECT_EQ(names, (std::vector<std::string>{"b", "a"}));
}

}  // namespace
}  // namespace sky
