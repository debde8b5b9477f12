// Cluster CVs and cluster matrices (see cluster.h): the CV node the parser
// builds for `cluster(...)`, the replay of a cluster's steps at a
// percentage, and the cluster matrices an object puts in force while its
// CVs are evaluated.
#include "sdl/cluster.h"

#include <cmath>
#include <string>

#include "base/not_built.h"
#include "base/vecmath.h"
#include "platform/report.h"
#include "sdl/body.h"
#include "sdl/expr_internal.h"
#include "sdl/sdl_errors.h"

namespace sky {
namespace {

// Values of a `clm` record: the matrix alone, or the matrix and three steps.
constexpr int kMatrixValues = 16;
constexpr int kStepValues = 4;
constexpr int kMatrixAndStepsValues = kMatrixValues + 3 * kStepValues;
// Files from other writers carry 27 values: the matrix and eleven more whose
// meaning we do not know. The matrix alone moves their CVs.
constexpr int kMatrixAndElevenValues = 27;

thread_local const std::vector<NamedCluster>* active_clusters = nullptr;

// Cluster CVs the parser has built: most scenes have none, and their
// objects' lists need no search for them.
int built_cluster_references = 0;

bool is_full(float percentage) {
    return percentage >= 0.999999f && percentage <= 1.000001f;
}

bool finite(const CvValue& cv) {
    return std::isfinite(cv.x) && std::isfinite(cv.y) && std::isfinite(cv.z);
}

// The argument kinds a cluster CV accepts; array elements are resolved when
// evaluated.
bool is_element(const Expr* node) {
    return node->kind == &kArrayElementKind;
}

const char* type_written(const Expr* node) {
    return sdl_type_name(node->type);
}

// Wrong arguments are a fault of the scene as written: counted SDL errors,
// so the run stops once the scene is read.
bool check_arguments(Expr* first) {
    int count = 0;
    for (const Expr* a = first; a; a = a->next) ++count;
    if (count < 2 || count > 3) {
        sdl_report_error("a CLUSTER reference takes a CV, a cluster and a percentage");
        return false;
    }
    const Expr* cv = first;
    const Expr* cluster = cv->next;
    const Expr* percentage = cluster->next;
    if (cv->type != SDL_CV && !is_element(cv)) {
        sdl_report_error("the CV of a CLUSTER reference must be a CV, not a %s", type_written(cv));
        return false;
    }
    if (cluster->type != SDL_TRANSFORM && cluster->type != SDL_FILENAME && !is_element(cluster)) {
        sdl_report_error(
            "the cluster of a CLUSTER reference must be a TRANSFORM or the name of a cluster "
            "matrix, not a %s",
            type_written(cluster));
        return false;
    }
    if (percentage && percentage->type != SDL_SCALAR && !is_element(percentage)) {
        sdl_report_error("the percentage of a CLUSTER reference must be a SCALAR, not a %s",
                         type_written(percentage));
        return false;
    }
    return true;
}

// The cluster an argument names: a cluster matrix of the object being
// evaluated, or a TRANSFORM (its model matrix and the steps that made it),
// evaluated into `storage`. Null (reported) when there is none.
const ClusterTransform* cluster_argument(Expr* argument, std::int32_t line,
                                         ClusterTransform& storage) {
    if (const char* name = filename_text(argument)) {
        const NamedCluster* named = find_cluster(name);
        if (named == nullptr)
            rptError("No cluster matrix %s for the CLUSTER reference on line %d\n", name, line);
        return named ? &named->transform : nullptr;
    }
    TransformValue transform;
    if (!AR_evaluate(SDL_TRANSFORM, &transform, argument, nullptr)) {
        rptError("Cannot evaluate the cluster of the CLUSTER reference on line %d\n", line);
        return nullptr;
    }
    storage.matrix = transform.model;
    storage.steps = std::move(transform.steps);
    storage.has_steps = true;
    return &storage;
}

bool evaluate_cluster_reference(Expr* node, void* result) {
    Expr* cv_argument = node->args;
    Expr* cluster_argument_node = cv_argument ? cv_argument->next : nullptr;
    if (cluster_argument_node == nullptr) {  // only a hand-made node gets here
        rptError("CLUSTER reference on line %d takes a CV, a cluster and a percentage\n",
                 node->line);
        return false;
    }
    CvValue cv;
    if (!AR_evaluate(SDL_CV, &cv, cv_argument, nullptr)) {
        rptError("Cannot evaluate the CV of the CLUSTER reference on line %d\n", node->line);
        return false;
    }
    ClusterTransform storage;
    const ClusterTransform* cluster = cluster_argument(cluster_argument_node, node->line, storage);
    if (cluster == nullptr) return false;
    float percentage = 1.0f;
    if (Expr* p = cluster_argument_node->next;
        p != nullptr && !AR_evaluate(SDL_SCALAR, &percentage, p, nullptr)) {
        rptError("Cannot evaluate the percentage of the CLUSTER reference on line %d\n",
                 node->line);
        return false;
    }
    if (!std::isfinite(percentage) || !move_by_cluster(cv, *cluster, percentage, cv)) {
        rptError("The cluster of the CLUSTER reference on line %d moves its CV out of reach\n",
                 node->line);
        return false;
    }
    *static_cast<CvValue*>(result) = cv;
    return true;
}

const ExprKind kClusterKind = {"cluster", 560, evaluate_cluster_reference};

// The values of a `clm` record, evaluated; false (reported) when one fails.
bool cluster_values(const Body& record, std::vector<float>& values) {
    const BodyItem* item = record.find("values");
    const Expr* list = item ? item->value : nullptr;
    values.clear();
    if (is_packed_list(list)) {
        const PackedList* packed = packed_list(list);
        values.assign(packed->data,
                      packed->data + static_cast<std::ptrdiff_t>(packed->count) * packed->stride);
        return true;
    }
    for (Expr* value = is_list(list) ? list_first(list) : nullptr; value; value = value->next) {
        float v = 0;
        if (!AR_evaluate(SDL_SCALAR, &v, value, nullptr) || !std::isfinite(v)) {
            rptError("Cannot evaluate value %d of cluster matrix %s on line %d\n",
                     static_cast<int>(values.size()) + 1, record.model ? record.model : "",
                     record.line);
            return false;
        }
        values.push_back(v);
    }
    return true;
}

bool names_cluster_matrix(const Expr* clusters, const char* name) {
    for (const Expr* node = is_list(clusters) ? list_first(clusters) : nullptr; node;
         node = node->next)
        if (is_body_node(node) && body_of(node)->model &&
            std::string_view(body_of(node)->model) == name)
            return true;
    return false;
}

// Visits the lists and inline curves of an object's parameter for cluster
// CVs that name a cluster matrix the object lacks.
void check_names_in(const Expr* node, const Expr* clusters) {
    if (node == nullptr) return;
    if (is_list(node)) {
        for (const Expr* item = list_first(node); item; item = item->next)
            check_names_in(item, clusters);
    } else if (node->kind == &kClusterKind) {
        const Expr* cluster = node->args ? node->args->next : nullptr;
        const char* name = filename_text(cluster);
        if (name && !names_cluster_matrix(clusters, name)) {
            const std::int32_t line = sdl_line();
            sdl_set_line(node->line);
            sdl_report_error("the object has no cluster matrix %s", name);
            sdl_set_line(line);
        }
        check_names_in(node->args, clusters);
    } else if (const Body* body = object_body(node)) {
        for (const BodyItem& item : body->items) check_names_in(item.value, clusters);
    }
}

}  // namespace

void check_cluster_names(const Body& object) {
    if (built_cluster_references == 0) return;
    const BodyItem* clusters = object.find("clusters");
    for (const BodyItem& item : object.items)
        if (&item != clusters) check_names_in(item.value, clusters ? clusters->value : nullptr);
}

Matrix4 replay_steps(std::span<const TransformStep> steps, float percentage) {
    Matrix4 m = identity_matrix();
    for (const TransformStep& step : steps) {
        Matrix4 t;
        switch (step.kind) {
            case 1:
                t = translation_matrix(
                    {step.x * percentage, step.y * percentage, step.z * percentage});
                break;
            case 2:
            case 3:
            case 4: {
                const int axis = step.kind - 1;
                const double angle = double(axis == 1   ? step.x
                                            : axis == 2 ? step.y
                                                        : step.z) *
                                     percentage;
                t = axis_rotation(axis, std::sin(angle), std::cos(angle));
                break;
            }
            case 5:
                t = scale_matrix({1 + percentage * (step.x - 1), 1 + percentage * (step.y - 1),
                                  1 + percentage * (step.z - 1)});
                break;
            case 6:
            case 7:
            case 8:
            case 9:
            case 10:
                t = translation_matrix({step.x, step.y, step.z});
                break;
            default:
                continue;
        }
        m = multiply(t, m);
    }
    return m;
}

bool move_by_cluster(const CvValue& cv, const ClusterTransform& cluster, float percentage,
                     CvValue& moved) {
    const Triple p{cv.x, cv.y, cv.z};
    Triple q;
    if (is_full(percentage) || !cluster.has_steps) {
        float w = 1;
        Triple full = transform_point(p, cluster.matrix, &w);
        if (w > -1e-6f && w < 1e-6f) return false;
        full = scale(full, 1.0f / w);
        q = is_full(percentage) ? full : add(p, scale(sub(full, p), percentage));
    } else {
        float w = 1;
        q = transform_point(p, replay_steps(cluster.steps, percentage), &w);
    }
    CvValue out{q.x, q.y, q.z, cv.w};
    if (!finite(out)) return false;
    moved = out;
    return true;
}

std::vector<NamedCluster> evaluate_cluster_matrices(const Expr* list) {
    std::vector<NamedCluster> clusters;
    for (Expr* node = is_list(list) ? list_first(list) : nullptr; node; node = node->next) {
        const Body* record = is_body_node(node) ? body_of(node) : nullptr;
        if (record == nullptr || record->type != BODY_CLUSTER_MATRIX) continue;
        std::vector<float> values;
        if (!cluster_values(*record, values)) continue;
        if (values.size() == kMatrixAndElevenValues) {
            warn_not_built("the eleven values after the matrix of a 27-value cluster matrix");
        } else if (values.size() != kMatrixValues && values.size() != kMatrixAndStepsValues) {
            rptError("Cluster matrix %s on line %d has %d values, not %d or %d\n",
                     record->model ? record->model : "", record->line,
                     static_cast<int>(values.size()), kMatrixValues, kMatrixAndStepsValues);
            continue;
        }
        NamedCluster cluster;
        cluster.name = record->model ? record->model : "";
        for (int i = 0; i < kMatrixValues; ++i) cluster.transform.matrix.m[i] = values[i];
        if (values.size() == kMatrixAndStepsValues) {
            cluster.transform.has_steps = true;
            for (std::size_t i = kMatrixValues; i < values.size(); i += kStepValues)
                cluster.transform.steps.push_back(
                    {truncate_to_int(values[i]), values[i + 1], values[i + 2], values[i + 3]});
        }
        clusters.push_back(std::move(cluster));
    }
    return clusters;
}

ClusterScope::ClusterScope(const Expr* clusters_list)
    : clusters_(evaluate_cluster_matrices(clusters_list)), outer_(active_clusters) {
    active_clusters = &clusters_;
}

ClusterScope::~ClusterScope() {
    active_clusters = outer_;
}

const NamedCluster* find_cluster(std::string_view name) {
    if (active_clusters == nullptr) return nullptr;
    for (const NamedCluster& cluster : *active_clusters)
        if (cluster.name == name) return &cluster;
    return nullptr;
}

Expr* make_cluster(Expr* first_argument, std::int32_t line) {
    if (!check_arguments(first_argument)) return nullptr;
    ++built_cluster_references;
    Expr* node = allocate_node();
    node->kind = &kClusterKind;
    node->type = SDL_CV;
    node->args = first_argument;
    node->line = line;
    return node;
}

}  // namespace sky
