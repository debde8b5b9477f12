// Clusters: control vertices that follow a transformation. A cluster CV,
// `cluster(cv, cluster, percentage)` (or `cl(...)`), is its CV moved by the
// cluster's transformation, a TRANSFORM value or one of the cluster
// matrices (`clm(name, ...)`) of the object whose CVs are being evaluated,
// taken at the given fraction of its full effect (1, the default, is all of
// it).
//
// At a full percentage a CV goes through the cluster's matrix as it is; at
// any other the cluster's steps (translate, rotate, scale, the pivot forms)
// are replayed with their amounts scaled by the percentage, so that half a
// cluster turning about a pivot turns half as far about the same pivot.
//
// An object's cluster matrices are evaluated with the object (so they
// follow the frame, and the shutter's ends under motion blur) and are in
// force on the evaluating thread while its CVs are read: ClusterScope.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "sdl/body.h"
#include "sdl/expr.h"
#include "sdl/values.h"

namespace sky {

// A cluster's transformation as the CVs it moves see it: the matrix used at
// a full percentage, and the steps replayed at any other. A cluster without
// steps (a 16-value cluster matrix) moves its CVs along the straight line
// to where the matrix puts them.
struct ClusterTransform {
    Matrix4 matrix;  // moved CV from CV (points, row vectors: p' = p·M)
    std::vector<TransformStep> steps;
    bool has_steps = false;
};

// A cluster matrix of an object, by the name its `clm` gives.
struct NamedCluster {
    std::string_view name;
    ClusterTransform transform;
};

// The matrix the steps make when each is taken at `percentage` of its
// amount: translations (kind 1) scaled, rotations (2-4) by the scaled
// angle, scales (5) by 1 + percentage·(s − 1); the pivot forms (6-10) only
// place the pivots the other steps turn and scale about, and are kept
// whole. Steps of other kinds are skipped.
Matrix4 replay_steps(std::span<const TransformStep> steps, float percentage);

// `cv` moved by `cluster` at `percentage` (within 1e-6 of 1: the matrix as
// it is). False when the result is not finite (a projective matrix that
// sends the CV to infinity). The weight is kept.
bool move_by_cluster(const CvValue& cv, const ClusterTransform& cluster, float percentage,
                     CvValue& moved);

// The cluster matrices of an object's `clusters` list (`clm` records of 16
// values, the matrix, or 28, the matrix and three steps as kind, x, y, z),
// evaluated now. A record that cannot be evaluated is reported and left
// out; the CVs that name it then report that they cannot find it.
std::vector<NamedCluster> evaluate_cluster_matrices(const Expr* list);

// Reports (as SDL errors, on the reference's line) each cluster CV among
// the parameters of a patch, face or polyset body that names a cluster
// matrix the body's `clusters` list lacks.
void check_cluster_names(const Body& object);

// Puts an object's cluster matrices in force on this thread for as long as
// the scope lives (an object's evaluation); scopes nest.
class ClusterScope {
public:
    explicit ClusterScope(const Expr* clusters_list);
    ~ClusterScope();
    ClusterScope(const ClusterScope&) = delete;
    ClusterScope& operator=(const ClusterScope&) = delete;

private:
    std::vector<NamedCluster> clusters_;
    const std::vector<NamedCluster>* outer_;
};

// The cluster matrix of that name in force on this thread, or null.
const NamedCluster* find_cluster(std::string_view name);

}  // namespace sky
