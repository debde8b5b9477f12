// The conventions the renderer's matrices keep (row vectors, translation in
// elements 12 to 14, M ← T·M applying T first), the double-precision
// inverse, and the vector forms' handling of vectors without a length.
#include "base/vecmath.h"

#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

namespace sky {
namespace {

void expect_near(const Triple& got, const Triple& want, float tolerance = 1e-5f) {
    EXPECT_NEAR(got.x, want.x, tolerance);
    EXPECT_NEAR(got.y, want.y, tolerance);
    EXPECT_NEAR(got.z, want.z, tolerance);
}

// A placement of the kind scenes make: turned, scaled unevenly, mirrored and moved.
Matrix4 placement() {
    Matrix4 m = translation_matrix({100.0f, -25.0f, 4.0f});
    m = multiply(axis_rotation(2, std::sin(0.7), std::cos(0.7)), m);
    m = multiply(scale_matrix({0.5f, 3.0f, -2.0f}), m);
    return multiply(axis_rotation(1, std::sin(-1.2), std::cos(-1.2)), m);
}

TEST(VecMath, RecordsStartAsTheOriginAndTheIdentity) {
    Triple t;
    EXPECT_EQ(t.x, 0.0f);
    EXPECT_EQ(t.y, 0.0f);
    EXPECT_EQ(t.z, 0.0f);
    const Imath::M44f identity;
    EXPECT_EQ(std::memcmp(Matrix4{}.m, &identity.x[0][0], sizeof(Matrix4)), 0);
}

TEST(VecMath, PointsAreRowVectorsAndTranslationSitsInElements12To14) {
    const Matrix4 move = translation_matrix({10, 20, 30});
    EXPECT_EQ(move.m[12], 10.0f);
    EXPECT_EQ(move.m[13], 20.0f);
    EXPECT_EQ(move.m[14], 30.0f);
    expect_near(transform_point({1, 2, 3}, move), {11, 22, 33});
    // Directions are not moved.
    expect_near(transform_vector({1, 2, 3}, move), {1, 2, 3});
    // Imath reads the same sixteen floats the same way.
    const Matrix4 m = placement();
    const Triple p{0.5f, -2.0f, 7.0f};
    expect_near(transform_point(p, m), to_triple(to_imath(p) * to_imath(m)), 0.0f);
    float w = 0;
    transform_point(p, m, &w);
    EXPECT_EQ(w, 1.0f);
}

TEST(VecMath, TheStepMultipliedInLastActsFirst) {
    // M ← T·M: with M a scale by 2, the translation T happens before it.
    const Matrix4 m = multiply(translation_matrix({1, 0, 0}), scale_matrix({2, 2, 2}));
    expect_near(transform_point({1, 1, 1}, m), {4, 2, 2});
    // Rotating +x a quarter turn about z gives +y.
    expect_near(transform_vector({1, 0, 0}, axis_rotation(3, 1, 0)), {0, 1, 0});
}

TEST(VecMath, InversionRoundTripsAPlacementAndRefusesASingularMatrix) {
    const Matrix4 m = placement();
    Matrix4 inverse;
    ASSERT_TRUE(Ar_invert_matrix(m, inverse));
    for (const Triple& p : {Triple{0, 0, 0}, Triple{1, 2, 3}, Triple{-50, 0.25f, 9}})
        expect_near(transform_point(transform_point(p, m), inverse), p, 1e-3f);
    const Matrix4 product = multiply(m, inverse);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(product.m[i], Matrix4{}.m[i], 1e-4f) << i;

    Matrix4 flat = scale_matrix({1, 0, 1});
    ASSERT_FALSE(Ar_invert_matrix(flat, inverse));
    EXPECT_EQ(std::memcmp(inverse.m, Matrix4{}.m, sizeof inverse.m), 0);
}

TEST(VecMath, NormaliseLeavesAVectorWithoutLengthAlone) {
    // Zero, and a vector too short for its square to be a float: callers
    // test the result for zero to fall back on another direction.
    for (const Triple& none : {Triple{0, 0, 0}, Triple{1e-30f, 0, -1e-30f}}) {
        const Triple t = normalise(none);
        EXPECT_EQ(t.x, none.x);
        EXPECT_EQ(t.z, none.z);
        float a[3] = {none.x, none.y, none.z};
        normalise3(a);
        EXPECT_EQ(a[0], none.x);
        EXPECT_EQ(a[2], none.z);
    }
    EXPECT_EQ(normalise(std::array<double, 3>{0, 0, 0}), (std::array<double, 3>{0, 0, 0}));

    expect_near(normalise(Triple{3, 0, 4}), {0.6f, 0, 0.8f});
    float a[3] = {3, 0, 4};
    normalise3(a);
    expect_near(to_triple(a), {0.6f, 0, 0.8f});
}

TEST(VecMath, CrossOnArraysMayWriteOverAnInput) {
    float a[3] = {1, 0, 0}, b[3] = {0, 1, 0};
    cross3(a, b, a);
    expect_near(to_triple(a), {0, 0, 1});
    EXPECT_EQ(dot3(a, b), 0.0f);
}

}  // namespace
}  // namespace sky
