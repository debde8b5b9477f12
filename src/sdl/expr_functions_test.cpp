// The built-in functions, checked against the C library called here directly
// and against values worked out by hand.
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "sdl/expr_test_support.h"

namespace sky {
namespace {

using test::error_output;

class Functions : public test::SdlTest {
protected:
    static float f1(int code, double a) { return value_of(call(code, {num(a)})); }
    static float f2(int code, double a, double b) { return value_of(call(code, {num(a), num(b)})); }
    static bool fails(int code, std::initializer_list<Expr*> arguments, int line = 1) {
        float value = 0;
        return !eval(call(code, arguments, line), value);
    }
};

constexpr double kPi = std::numbers::pi;

struct OneArgument {
    int code;
    double argument;
    double (*expected)(double);
};

TEST_F(Functions, OneArgumentFunctionsMatchTheCLibrary) {
    const OneArgument cases[] = {
        {501, 0.7, [](double x) { return std::sin(x); }},
        {502, 0.7, [](double x) { return std::cos(x); }},
        {503, 0.7, [](double x) { return std::tan(x); }},
        {504, 0.3, [](double x) { return std::acos(x); }},
        {505, 2.0, [](double x) { return std::atan(x); }},
        {506, 0.3, [](double x) { return std::asin(x); }},
        {508, 2.0, [](double x) { return std::sqrt(x); }},
        {510, -1.5, [](double x) { return std::ceil(x); }},
        {511, 1.25, [](double x) { return std::exp(x); }},
        {512, -2.5, [](double x) { return std::fabs(x); }},
        {513, -1.5, [](double x) { return std::floor(x); }},
        {515, 2.5, [](double x) { return ::j0(x); }},
        {516, 2.5, [](double x) { return ::j1(x); }},
        {519, 250.0, [](double x) { return std::log10(x); }},
        {525, 0.5, [](double x) { return std::sinh(x); }},
        {526, 0.5, [](double x) { return std::cosh(x); }},
        {528, 0.5, [](double x) { return std::tanh(x); }},
        {529, 5.0, [](double x) { return std::log(24.0); }},  // log-gamma: ln(4!)
        {529, 0.5, [](double x) { return std::log(std::sqrt(kPi)); }},
        {530, 0.5, [](double x) { return std::erf(x); }},
        {531, 0.5, [](double x) { return std::erfc(x); }},
    };
    for (const OneArgument& c : cases) {
        float expected = static_cast<float>(c.expected(static_cast<float>(c.argument)));
        EXPECT_FLOAT_EQ(f1(c.code, c.argument), expected) << "function " << c.code;
    }
    EXPECT_EQ(error_output(), "");
}

TEST_F(Functions, TwoArgumentFunctionsMatchTheCLibrary) {
    EXPECT_FLOAT_EQ(f2(507, 1, -1), static_cast<float>(std::atan2(1.0, -1.0)));
    EXPECT_FLOAT_EQ(f2(514, 3, 4), 5.0f);
    EXPECT_FLOAT_EQ(f2(520, 2, 10), 1024.0f);
    EXPECT_FLOAT_EQ(f2(517, 2.9, 3.5), static_cast<float>(::jn(2, 3.5)));  // order truncated
    EXPECT_FLOAT_EQ(f2(523, 1, 2), static_cast<float>(::yn(1, 2.0)));
    EXPECT_FLOAT_EQ(f2(523, -1.7, 0.5f), static_cast<float>(::yn(-1, 0.5)));
}

TEST_F(Functions, DegreeFunctions) {
    EXPECT_EQ(f1(532, 90), 1.0f);
    EXPECT_FLOAT_EQ(f1(533, 60), 0.5f);
    EXPECT_FLOAT_EQ(f1(534, 45), 1.0f);
    EXPECT_EQ(f1(535, 1), 90.0f);
    EXPECT_EQ(f1(536, 0), 90.0f);
    EXPECT_EQ(f1(537, 1), 45.0f);
    EXPECT_EQ(f2(538, 1, 1), 45.0f);
    EXPECT_EQ(f2(538, -1, 0), -90.0f);
}

TEST_F(Functions, InvalidArgumentsAreReportedByName) {
    EXPECT_TRUE(fails(508, {num(-1)}, 7));
    EXPECT_EQ(error_output(),
              "sqrt function called with invalid argument\nCannot evaluate SCALAR on line 7\n");
    error_output().clear();
    EXPECT_TRUE(fails(519, {num(0)}));             // log10 pole
    EXPECT_TRUE(fails(504, {num(2)}));             // acos domain
    EXPECT_TRUE(fails(520, {num(-1), num(0.5)}));  // pow domain
    EXPECT_TRUE(fails(529, {num(0)}));             // gamma pole
    EXPECT_TRUE(fails(523, {num(0), num(0)}));     // besselyn at 0
    EXPECT_TRUE(fails(523, {num(1), num(-1)}));    // besselyn below 0
    EXPECT_TRUE(fails(511, {num(1000)}));          // exp overflow
    EXPECT_EQ(evaluation_error(), 14);
    EXPECT_NE(error_output().find("besselyn function called with invalid argument\n"),
              std::string::npos);
}

TEST_F(Functions, ArgumentCountsAndFailures) {
    EXPECT_TRUE(fails(507, {num(1)}, 3));  // atan2 needs two
    EXPECT_EQ(error_output(), "Cannot evaluate SCALAR on line 3\n");
    error_output().clear();
    EXPECT_TRUE(fails(520, {num(2), silent_failure()}, 4));
    EXPECT_EQ(error_output(),
              "Can't evaluate argument 1 for function\nCannot evaluate SCALAR on line 4\n");
    EXPECT_EQ(f1(501, 0), 0.0f);
    EXPECT_EQ(value_of(call(501, {num(0), silent_failure()})), 0.0f);  // extra arguments ignored
}

TEST_F(Functions, FmodKeepsTheSignOfTheDividend) {
    EXPECT_EQ(f2(524, -7, 3), -2.0f);
    EXPECT_EQ(f2(524, 7, 3), 1.0f);
    EXPECT_EQ(f2(524, 5, 0), 5.0f);
    EXPECT_EQ(f2(524, 0, 5), 0.0f);
    EXPECT_EQ(f2(524, 7.5, 2), 1.5f);
    EXPECT_EQ(f2(524, -7.5, -2), -1.5f);  // 7.5 - 4*2 ... floored: -7.5 - 3*-2 = -1.5
    EXPECT_EQ(f2(524, 7, -3), 2.0f);      // 7 - (-3)(-3) = -2, made positive
    // A dividend within 1e-6 of 0 is the result; the divisor is never evaluated.
    EXPECT_EQ(value_of(call(524, {num(0.0000005), silent_failure()})), 0.0000005f);
    EXPECT_EQ(value_of(call(524, {num(0)})), 0.0f);
    EXPECT_EQ(error_output(), "");
}

TEST_F(Functions, SignAndFabs) {
    EXPECT_EQ(f1(539, -0.0), 0.0f);
    EXPECT_FALSE(std::signbit(f1(539, -0.0)));
    EXPECT_EQ(f1(539, 0.001), 1.0f);
    EXPECT_EQ(f1(539, -2), -1.0f);
    EXPECT_EQ(f1(512, -3.25), 3.25f);
}

TEST_F(Functions, ConstrainSnapsToTheGrid) {
    auto constrain = [](double a, double b, double c, double d) {
        return value_of(call(604, {num(a), num(b), num(c), num(d)}));
    };
    EXPECT_EQ(constrain(0, 7.5, 2, 100), 6.0f);
    EXPECT_EQ(constrain(1.5, 7.5, 0, 100), 1.5f);  // no grid
    EXPECT_EQ(constrain(0, 7.5, 2, 3), 2.0f);      // limited by d, on the grid
    EXPECT_EQ(constrain(5, 9, 2, 1), 5.0f);        // d below a
    EXPECT_EQ(constrain(1, 8, 3, 20), 7.0f);       // trunc(7/3)*3 + 1
}

TEST_F(Functions, ExtractPicksAComponent) {
    EXPECT_EQ(value_of(call(605, {num(2), triple(1, 2, 3)})), 2.0f);
    EXPECT_EQ(value_of(call(605, {num(3.7), triple(1, 2, 3)})), 3.0f);
    float value = 0;
    EXPECT_FALSE(eval(call(605, {num(4), triple(1, 2, 3)}), value));
    EXPECT_FALSE(eval(call(605, {num(0), triple(1, 2, 3)}), value));
    EXPECT_FALSE(eval(call(605, {}), value));
    EXPECT_FALSE(eval(call(605, {num(1), num(1)}), value));
    EXPECT_EQ(error_output(), "");
    // The caller reports the failure with its own line.
    EXPECT_FALSE(eval(call(100, {call(605, {num(4), triple(1, 2, 3)}), num(1)}, 30), value));
    EXPECT_EQ(error_output(),
              "Can't evaluate argument 0 for function\nCannot evaluate SCALAR on line 30\n");
}

TEST_F(Functions, MinimumAndMaximumOfAllArguments) {
    EXPECT_EQ(value_of(call(602, {num(3), num(-1), num(2)})), -1.0f);
    EXPECT_EQ(value_of(call(603, {num(3), num(-1), num(2), num(7.5)})), 7.5f);
    EXPECT_EQ(value_of(call(602, {num(4)})), 4.0f);
    EXPECT_TRUE(fails(603, {}, 11));
    EXPECT_EQ(error_output(),
              "Can't evaluate argument 0 for function\nCannot evaluate SCALAR on line 11\n");
    error_output().clear();
    EXPECT_TRUE(fails(602, {num(1), num(2), silent_failure()}, 12));
    EXPECT_EQ(error_output(),
              "Can't evaluate argument 2 for function\nCannot evaluate SCALAR on line 12\n");
}

TEST_F(Functions, RandomNumbersFollowTheProcessSource) {
    EXPECT_EQ(value_of(call(542, {num(42.9)})), 42.9f);  // srand yields its seed
    ::srand48(42);
    float first = static_cast<float>(::drand48());
    float second = static_cast<float>(::drand48());
    EXPECT_EQ(value_of(call(541, {})), first);
    EXPECT_EQ(value_of(call(541, {num(99)})), second);  // arguments ignored

    // Box-Muller over the same sequence.
    value_of(call(542, {num(7)}));
    ::srand48(7);
    double u1 = ::drand48(), u2 = ::drand48();
    double z = std::sqrt(-2.0 * std::log(1.0 - u1)) * std::cos(2.0 * kPi * u2);
    EXPECT_FLOAT_EQ(value_of(call(544, {})), static_cast<float>(z));
    u1 = ::drand48();
    u2 = ::drand48();
    z = std::sqrt(-2.0 * std::log(1.0 - u1)) * std::cos(2.0 * kPi * u2);
    EXPECT_FLOAT_EQ(value_of(call(544, {num(10), num(2)})), static_cast<float>(10 + 2 * z));
}

TEST_F(Functions, RandomDistributions) {
    value_of(call(542, {num(1)}));
    Expr* uniform = call(541, {});
    Expr* normal = call(544, {num(10), num(2)});
    const int n = 20000;
    double sum = 0, sum_sq = 0, uniform_sum = 0;
    for (int i = 0; i < n; ++i) {
        float u = value_of(uniform);
        ASSERT_GE(u, 0.0f);
        ASSERT_LT(u, 1.0f);
        uniform_sum += u;
        float g = value_of(normal);
        sum += g;
        sum_sq += g * g;
    }
    double mean = sum / n;
    EXPECT_NEAR(uniform_sum / n, 0.5, 0.01);
    EXPECT_NEAR(mean, 10.0, 0.05);
    EXPECT_NEAR(std::sqrt(sum_sq / n - mean * mean), 2.0, 0.05);
}

TEST_F(Functions, BuildingChoosesTheKindByCode) {
    EXPECT_EQ(call(509, {num(1)}, 9), nullptr);
    EXPECT_EQ(error_output(), "Internal error building AR_EXP_TYPE_SCALAR function on line 9\n");
    Expr* sin = call(501, {num(1)}, 2);
    ASSERT_NE(sin, nullptr);
    EXPECT_EQ(sin->type, SDL_SCALAR);
    EXPECT_EQ(sin->line, 2);
    EXPECT_STREQ(sin->kind->name, "sin");
    EXPECT_EQ(call(540, {triple(1, 2, 3), num(1)}, 10), nullptr);  // animate needs a curve
    EXPECT_NE(call(540, {}, 10), nullptr);
    EXPECT_EQ(make_scalar_literal(0.1, 1)->value, 0.1f);
}

}  // namespace
}  // namespace sky
