// The built-in scalar functions of SDL (sin, pow, fmod, constrain, ...): one
// row per function, and the registry the builder looks kinds up in by code.
//
// Functions compute in double precision and narrow to float. The C library
// reports a bad argument through errno (sqrt(-1), log10(0), yn(0, 0)); that is
// how a scene learns its value is meaningless rather than getting a NaN that
// would silently blank an image. Functions named with a trailing `d` take or
// give degrees.
#include <cerrno>
#include <cmath>
#include <numbers>

#include "platform/random.h"
#include "platform/report.h"
#include "sdl/expr_internal.h"

namespace sky {
namespace {

constexpr double kPi = std::numbers::pi;
double radians(float degrees) {
    return degrees / 180.0 * kPi;
}
double degrees(double radians) {
    return radians * 180.0 / kPi;
}

float& scalar_result(void* result) {
    return *static_cast<float*>(result);
}

// --- functions of fixed arity over the C library -------------------------------

struct MathRow {
    ExprKind kind;
    int arguments;
    double (*compute)(const float* a);
};

bool evaluate_math(Expr* node, void* result) {
    const auto* row = reinterpret_cast<const MathRow*>(node->kind);
    float a[2] = {0, 0};
    bool fmod_rule = row->kind.code == 524;
    if (!evaluate_scalar_arguments(node, row->arguments, a, fmod_rule)) return false;
    errno = 0;
    double value = row->compute(a);
    if (errno != 0) {
        if (!quiet_evaluation())
            rptError("%s function called with invalid argument\n", row->kind.name);
        set_evaluation_error(kErrorInvalidMath);
        report_scalar_failure(node);
        return false;
    }
    scalar_result(result) = static_cast<float>(value);
    return true;
}

// The remainder keeps the sign of the dividend with the magnitude of the
// floored modulo, as scene files written for this renderer expect: fmod(-7, 3)
// is -2, not the C library's -1. A zero on either side yields the dividend.
double sdl_fmod(const float* v) {
    double a = v[0], b = v[1];
    if (a == 0.0 || b == 0.0) return a;
    double r = a - std::floor(a / b) * b;
    return std::copysign(std::fabs(r), a);
}

double sdl_sign(const float* v) {
    if (v[0] > 0.0f) return 1.0;
    if (v[0] < 0.0f) return -1.0;
    return 0.0;  // both zeros (and NaN)
}

// `gamma` is the log-gamma, as in the C libraries that scene files were
// written against (gamma() there is lgamma()); tgamma would overflow float
// for arguments above 35, where log-gamma stays usable.
constexpr MathRow kMathRows[] = {
    {{"sin", 501, evaluate_math}, 1, [](const float* a) { return std::sin(double(a[0])); }},
    {{"cos", 502, evaluate_math}, 1, [](const float* a) { return std::cos(double(a[0])); }},
    {{"tan", 503, evaluate_math}, 1, [](const float* a) { return std::tan(double(a[0])); }},
    {{"acos", 504, evaluate_math}, 1, [](const float* a) { return std::acos(double(a[0])); }},
    {{"atan", 505, evaluate_math}, 1, [](const float* a) { return std::atan(double(a[0])); }},
    {{"asin", 506, evaluate_math}, 1, [](const float* a) { return std::asin(double(a[0])); }},
    {{"atan2", 507, evaluate_math},
     2,
     [](const float* a) { return std::atan2(double(a[0]), double(a[1])); }},
    {{"sqrt", 508, evaluate_math}, 1, [](const float* a) { return std::sqrt(double(a[0])); }},
    {{"ceil", 510, evaluate_math}, 1, [](const float* a) { return std::ceil(double(a[0])); }},
    {{"exp", 511, evaluate_math}, 1, [](const float* a) { return std::exp(double(a[0])); }},
    {{"fabs", 512, evaluate_math},
     1,
     [](const float* a) { return a[0] < 0.0f ? -double(a[0]) : double(a[0]); }},
    {{"floor", 513, evaluate_math}, 1, [](const float* a) { return std::floor(double(a[0])); }},
    {{"hypot", 514, evaluate_math},
     2,
     [](const float* a) { return std::hypot(double(a[0]), double(a[1])); }},
    {{"besselj0", 515, evaluate_math}, 1, [](const float* a) { return ::j0(double(a[0])); }},
    {{"besselj1", 516, evaluate_math}, 1, [](const float* a) { return ::j1(double(a[0])); }},
    {{"besseljn", 517, evaluate_math},
     2,
     [](const float* a) { return ::jn(truncate_to_int(a[0]), double(a[1])); }},
    {{"log10", 519, evaluate_math}, 1, [](const float* a) { return std::log10(double(a[0])); }},
    {{"pow", 520, evaluate_math},
     2,
     [](const float* a) { return std::pow(double(a[0]), double(a[1])); }},
    {{"besselyn", 523, evaluate_math},
     2,
     [](const float* a) { return ::yn(truncate_to_int(a[0]), double(a[1])); }},
    {{"fmod", 524, evaluate_math}, 2, sdl_fmod},
    {{"sinh", 525, evaluate_math}, 1, [](const float* a) { return std::sinh(double(a[0])); }},
    {{"cosh", 526, evaluate_math}, 1, [](const float* a) { return std::cosh(double(a[0])); }},
    {{"tanh", 528, evaluate_math}, 1, [](const float* a) { return std::tanh(double(a[0])); }},
    {{"gamma", 529, evaluate_math}, 1, [](const float* a) { return std::lgamma(double(a[0])); }},
    {{"erf", 530, evaluate_math}, 1, [](const float* a) { return std::erf(double(a[0])); }},
    {{"erfc", 531, evaluate_math}, 1, [](const float* a) { return std::erfc(double(a[0])); }},
    {{"sind", 532, evaluate_math}, 1, [](const float* a) { return std::sin(radians(a[0])); }},
    {{"cosd", 533, evaluate_math}, 1, [](const float* a) { return std::cos(radians(a[0])); }},
    {{"tand", 534, evaluate_math}, 1, [](const float* a) { return std::tan(radians(a[0])); }},
    {{"asind", 535, evaluate_math},
     1,
     [](const float* a) { return degrees(std::asin(double(a[0]))); }},
    {{"acosd", 536, evaluate_math},
     1,
     [](const float* a) { return degrees(std::acos(double(a[0]))); }},
    {{"atand", 537, evaluate_math},
     1,
     [](const float* a) { return degrees(std::atan(double(a[0]))); }},
    {{"atan2d", 538, evaluate_math},
     2,
     [](const float* a) { return degrees(std::atan2(double(a[0]), double(a[1]))); }},
    {{"sign", 539, evaluate_math}, 1, sdl_sign},
};

// --- functions with their own argument rules ----------------------------------

// rand() ignores any arguments: it draws from the process random source, so
// a scene seeded with srand() renders the same every run.
bool evaluate_rand(Expr*, void* result) {
    float value = static_cast<float>(sky::drand48());
    // Rounding to float may reach 1.0; the deviate stays inside [0, 1).
    if (value >= 1.0f) value = std::nextafter(1.0f, 0.0f);
    scalar_result(result) = value;
    return true;
}

bool evaluate_srand(Expr* node, void* result) {
    float seed = 0;
    if (!evaluate_scalar_arguments(node, 1, &seed)) return false;
    sky::srand48(truncate_to_int(seed));
    scalar_result(result) = seed;
    return true;
}

// gauss(), gauss(mean), gauss(mean, deviation): Box-Muller on the process
// random source. 1 - u keeps the logarithm finite (drand48 may give 0).
bool evaluate_gauss(Expr* node, void* result) {
    int count = 0;
    for (const Expr* argument = node->args; argument && count < 2; argument = argument->next)
        ++count;
    float parameters[2] = {0.0f, 1.0f};
    if (!evaluate_scalar_arguments(node, count, parameters)) return false;
    double u1 = sky::drand48();
    double u2 = sky::drand48();
    double z = std::sqrt(-2.0 * std::log(1.0 - u1)) * std::cos(2.0 * kPi * u2);
    scalar_result(result) = static_cast<float>(parameters[0] + parameters[1] * z);
    return true;
}

// minimum and maximum take any number of arguments, at least one.
template <bool kLargest>
bool evaluate_extreme(Expr* node, void* result) {
    clear_evaluation_error();
    if (node->args == nullptr) {
        if (!quiet_evaluation()) rptError("Can't evaluate argument %d for function\n", 0);
        set_evaluation_error(kErrorArgument);
        report_scalar_failure(node);
        return false;
    }
    float best = 0;
    int position = 0;
    for (Expr* argument = node->args; argument != nullptr; argument = argument->next, ++position) {
        float value = 0;
        if (!AR_evaluate(SDL_SCALAR, &value, argument, nullptr)) {
            if (!quiet_evaluation())
                rptError("Can't evaluate argument %d for function\n", position);
            set_evaluation_error(kErrorArgument);
            report_scalar_failure(node);
            return false;
        }
        if (position == 0 || (kLargest ? value > best : value < best)) best = value;
    }
    scalar_result(result) = best;
    return true;
}

// constrain(a, b, c, d): b snapped to the grid a + k·c, limited by d.
bool evaluate_constrain(Expr* node, void* result) {
    float v[4];
    if (!evaluate_scalar_arguments(node, 4, v)) return false;
    double a = v[0], b = v[1], c = v[2], d = v[3];
    double value = a;
    if (c != 0.0) {
        double grid = std::trunc((b - a) / c) * c + a;
        if (d > grid)
            value = grid;
        else if (a > d)
            value = a;
        else
            value = std::trunc((d - a) / c) * c + a;
    }
    scalar_result(result) = static_cast<float>(value);
    return true;
}

// extract(i, triple): component 1, 2 or 3. Failures are left to the caller
// to report, with its own context.
bool evaluate_extract(Expr* node, void* result) {
    clear_evaluation_error();
    Expr* index_expr = node->args;
    float index = 0;
    Triple triple;
    if (index_expr == nullptr || !AR_evaluate(SDL_SCALAR, &index, index_expr, nullptr) ||
        !AR_evaluate(SDL_TRIPLE, &triple, index_expr->next, nullptr)) {
        set_evaluation_error(kErrorArgument);
        return false;
    }
    switch (truncate_to_int(index)) {
        case 1:
            scalar_result(result) = triple.x;
            return true;
        case 2:
            scalar_result(result) = triple.y;
            return true;
        case 3:
            scalar_result(result) = triple.z;
            return true;
        default:
            return false;
    }
}

constexpr ExprKind kRandKind = {"rand", 541, evaluate_rand};
constexpr ExprKind kSrandKind = {"srand", 542, evaluate_srand};
constexpr ExprKind kGaussKind = {"gauss", 544, evaluate_gauss};
constexpr ExprKind kMinimumKind = {"minimum", 602, evaluate_extreme<false>};
constexpr ExprKind kMaximumKind = {"maximum", 603, evaluate_extreme<true>};
constexpr ExprKind kConstrainKind = {"constrain", 604, evaluate_constrain};
constexpr ExprKind kExtractKind = {"extract", 605, evaluate_extract};

// Every function kind outside the math table, in code order.
const ExprKind* const kOtherKinds[] = {
    &kAnimateKind, &kRandKind,    &kSrandKind,     &kEaseKind,    &kGaussKind,
    &kMinimumKind, &kMaximumKind, &kConstrainKind, &kExtractKind,
};

}  // namespace

const ExprKind* function_kind(std::int32_t code) {
    for (const MathRow& row : kMathRows)
        if (row.kind.code == code) return &row.kind;
    for (const ExprKind* kind : kOtherKinds)
        if (kind->code == code) return kind;
    return nullptr;
}

}  // namespace sky
