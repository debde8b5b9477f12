// Cluster CVs: the replay of a cluster's steps at a percentage against the
// same motion worked out by hand, the matrix used as it is at a full
// percentage, the cluster matrices an object puts in force, and the
// messages of bad clusters.
#include "sdl/cluster.h"

#include <cmath>
#include <numbers>

#include "sdl/builder.h"
#include "sdl/expr_test_support.h"

namespace sky {
namespace {

using test::error_output;

constexpr double kPi = std::numbers::pi;

class Clusters : public test::SdlTest {
protected:
    static Expr* cv(float x, float y, float z) { return make_cv(triple(x, y, z), num(0.5), 1); }

    static Expr* name(const char* text) { return make_filename(text, nullptr, 1); }

    // clm(name, values...) as the parser builds it.
    static Expr* cluster_matrix(const char* name, std::initializer_list<float> values) {
        ExprChain* chain = nullptr;
        for (float v : values) {
            Expr* n = make_scalar_literal(v, 3);
            chain = chain ? chain_append(chain, n) : chain_start(n);
        }
        return make_cluster_matrix(name, chain, 3);
    }

    static Expr* clusters(std::initializer_list<Expr*> records) {
        return make_list(args(records), 3);
    }

    static CvValue moved(Expr* node) {
        CvValue out{-99, -99, -99, -99};
        EXPECT_TRUE(AR_evaluate(SDL_CV, &out, node, nullptr)) << error_output();
        return out;
    }
};

// A turn about a pivot, a translation and a scale, as a walk records them
// from the outermost statement in: points meet the last step first.
std::vector<TransformStep> pivot_turn_steps() {
    return {
        {1, 2, 4, 6},                            // translate (2, 4, 6)
        {8, 1, 1, 0},                            // rotate pivot out
        {4, 0, 0, static_cast<float>(kPi / 2)},  // rotate 90 degrees about z
        {7, -1, -1, 0},                          // rotate pivot in
        {5, 3, 1, 1},                            // scale x by 3
        {42, 100, 100, 100},                     // no step the replay knows
    };
}

TEST_F(Clusters, HalfAClusterTurnsHalfAsFarAboutTheSamePivot) {
    ClusterTransform cluster;
    cluster.steps = pivot_turn_steps();
    cluster.has_steps = true;
    cluster.matrix = translation_matrix({1000, 0, 0});  // not used below full
    const CvValue cv{2, 3, 5, 0.25f};
    CvValue out;
    ASSERT_TRUE(move_by_cluster(cv, cluster, 0.5f, out));
    // By hand: x scaled by 1 + 0.5·(3 − 1) = 2, turned 45 degrees about
    // (1, 1), moved by half of (2, 4, 6).
    double x = cv.x * 2.0 - 1, y = cv.y - 1.0;
    const double c = std::cos(kPi / 4), s = std::sin(kPi / 4);
    const double tx = x * c - y * s + 1 + 1, ty = x * s + y * c + 1 + 2, tz = cv.z + 3.0;
    EXPECT_NEAR(out.x, tx, 1e-5);
    EXPECT_NEAR(out.y, ty, 1e-5);
    EXPECT_NEAR(out.z, tz, 1e-5);
    EXPECT_EQ(out.w, 0.25f);

    // Nothing of the cluster at 0; all of its steps at 0.999 (still a replay).
    ASSERT_TRUE(move_by_cluster(cv, cluster, 0.0f, out));
    EXPECT_NEAR(out.x, 2, 1e-6);
    EXPECT_NEAR(out.y, 3, 1e-6);
    EXPECT_NEAR(out.z, 5, 1e-6);
    ASSERT_TRUE(move_by_cluster(cv, cluster, 0.999f, out));
    EXPECT_LT(out.x, 100);
}

TEST_F(Clusters, AFullPercentageUsesTheMatrixAsItIs) {
    ClusterTransform cluster;
    cluster.steps = pivot_turn_steps();
    cluster.has_steps = true;
    cluster.matrix = translation_matrix({1000, 0, 0});
    CvValue out;
    for (float full : {1.0f, 1.0000005f, 0.9999995f}) {
        ASSERT_TRUE(move_by_cluster({2, 3, 5, 1}, cluster, full, out));
        EXPECT_EQ(out.x, 1002.0f);
        EXPECT_EQ(out.y, 3.0f);
    }
    // A projective matrix divides; one that sends the CV to infinity fails.
    cluster.matrix.m[15] = 2;
    ASSERT_TRUE(move_by_cluster({2, 3, 5, 1}, cluster, 1.0f, out));
    EXPECT_EQ(out.x, 501.0f);
    cluster.matrix.m[15] = 0;
    cluster.matrix.m[3] = 0;
    EXPECT_FALSE(move_by_cluster({0, 3, 5, 1}, cluster, 1.0f, out));
}

TEST_F(Clusters, AMatrixWithoutStepsMovesItsCvsAlongTheLine) {
    ClusterTransform cluster;
    cluster.matrix = multiply(scale_matrix({2, 2, 2}), translation_matrix({4, 0, 0}));
    CvValue out;
    ASSERT_TRUE(move_by_cluster({1, 1, 1, 1}, cluster, 0.25f, out));
    // Full: (6, 2, 2); a quarter of the way from (1, 1, 1).
    EXPECT_NEAR(out.x, 2.25, 1e-6);
    EXPECT_NEAR(out.y, 1.25, 1e-6);
    EXPECT_NEAR(out.z, 1.25, 1e-6);
}

TEST_F(Clusters, ClusterCvsFollowTheirObjectsMatricesOrATransformation) {
    const ClusterScope scope(clusters({
        cluster_matrix("lift", {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 5, 0, 1}),
    }));
    CvValue out = moved(make_cluster(args({cv(1, 2, 3), name("lift")}), 7));
    EXPECT_EQ(out.y, 7.0f);
    EXPECT_EQ(out.w, 0.5f);

    // A TRANSFORM: its model matrix, or its steps at a percentage.
    ASSERT_TRUE(Declare("handle", SDL_TRANSFORM, nullptr));
    auto& handle = *static_cast<TransformValue*>(find_symbol("handle")->value);
    handle.model = translation_matrix({0, 0, 8});
    handle.steps = {{1, 0, 0, 8}};
    out = moved(make_cluster(args({cv(1, 2, 3), ref("handle")}), 7));
    EXPECT_EQ(out.z, 11.0f);
    out = moved(make_cluster(args({cv(1, 2, 3), ref("handle"), num(0.25)}), 7));
    EXPECT_EQ(out.z, 5.0f);
    EXPECT_EQ(error_output(), "");

    // Once the object is evaluated its matrices are no longer in force.
    {
        const ClusterScope inner(clusters({}));
        EXPECT_EQ(find_cluster("lift"), nullptr);
    }
    EXPECT_NE(find_cluster("lift"), nullptr);
}

// The messages the whole-program cases do not reach: arguments that fail
// to evaluate, and a record of a length the grammar never builds.
TEST_F(Clusters, BadClustersAreReported) {
    EXPECT_EQ(make_cluster(args({cv(1, 2, 3), name("a"), triple(1, 2, 3)}), 4), nullptr);
    EXPECT_EQ(make_cluster(args({triple(1, 2, 3), name("a")}), 4), nullptr);
    EXPECT_EQ(sdl_error_count(), 2);
    error_output().clear();

    Body* short_record = body(BODY_CLUSTER_MATRIX);
    short_record->model = "short";
    short_record->line = 9;
    add_item(short_record, "values", make_list(args({num(1), num(2)}), 9));
    const ClusterScope scope(clusters({
        cluster_matrix("good", {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}),
        make_body_node(short_record, 9),
    }));
    EXPECT_EQ(error_output(), "Cluster matrix short on line 9 has 2 values, not 16 or 28\n");
    EXPECT_EQ(find_cluster("short"), nullptr);
    error_output().clear();
    CvValue out;
    EXPECT_FALSE(AR_evaluate(SDL_CV, &out,
                             make_cluster(args({cv(1, 2, 3), name("good"), silent_failure()}), 14),
                             nullptr));
    EXPECT_EQ(error_output(),
              "Cannot evaluate the percentage of the CLUSTER reference on line 14\n");
    error_output().clear();
    EXPECT_FALSE(AR_evaluate(
        SDL_CV, &out,
        make_cluster(args({make_cv(triple(1, 2, 3), silent_failure(), 15), name("good")}), 15),
        nullptr));
    EXPECT_EQ(error_output(),
              "Can't evaluate CV literal on line 15\n"
              "Cannot evaluate the CV of the CLUSTER reference on line 15\n");
}

}  // namespace
}  // namespace sky
