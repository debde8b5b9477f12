// Value constructors of SDL: triples and the triple functions, control and
// trim vertices, colours, normals, texture coordinates, file names, the
// current transformation and keyframe literals. Each node keeps its argument
// expressions and evaluates them on every request, so frame-dependent
// components follow the frame.
#include <cmath>
#include <string>

#include "platform/report.h"
#include "sdl/animation.h"
#include "sdl/builder.h"
#include "sdl/expr_internal.h"
#include "sdl/pool.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

template <typename Record>
Record* payload_of(const Expr* node) {
    return static_cast<Record*>(node->payload);
}

// Small payloads of the constructors that big lists are made of (triples,
// control vertices, texture coordinates, normals, colours) take a node slot
// of their own rather than pool memory, so a list that folds its items into
// floats gives their memory back with the nodes (see packing.cpp).
template <typename Record>
Record* node_sized() {
    static_assert(sizeof(Record) <= sizeof(Expr) && alignof(Record) <= alignof(Expr));
    return new (allocate_node()) Record();
}

template <typename Record>
Expr* make_node(const ExprKind& kind, std::int32_t type, Record* record, std::int32_t line) {
    Expr* node = allocate_node();
    node->kind = &kind;
    node->type = type;
    node->payload = record;
    node->line = line;
    return node;
}

bool is_scalar_component(const Expr* node) {
    return node != nullptr && (node->type == SDL_SCALAR || node->kind == &kArrayElementKind);
}

bool is_triple_argument(const Expr* node) {
    return node != nullptr && (node->type == SDL_TRIPLE || node->kind == &kArrayElementKind);
}

// --- triples, colours, normals, st pairs ----------------------------------------

struct Components {
    Expr* c[3] = {nullptr, nullptr, nullptr};
};

bool evaluate_triple_literal(Expr* node, void* result) {
    const Components* components = payload_of<Components>(node);
    if (components == nullptr) {
        rptError("SYSTEM ERROR, cannot evaluate TRIPLE literal on %d\n", node->line);
        return false;
    }
    static const char* const kOrdinals[] = {"first", "second", "third"};
    float v[3];
    for (int i = 0; i < 3; ++i) {
        if (!AR_evaluate(SDL_SCALAR, &v[i], components->c[i], nullptr)) {
            rptError("Cannot evaluate %s component of TRIPLE on %d\n", kOrdinals[i], node->line);
            return false;
        }
    }
    *static_cast<Triple*>(result) = Triple{v[0], v[1], v[2]};
    return true;
}

// color(r, g, b), norm(x, y, z) and st(s, t): polyset vertex data.
template <int kCount>
bool evaluate_components(Expr* node, void* result, const char* what) {
    const Components* components = payload_of<Components>(node);
    float v[3] = {0, 0, 0};
    for (int i = 0; i < kCount; ++i) {
        if (components == nullptr || !AR_evaluate(SDL_SCALAR, &v[i], components->c[i], nullptr)) {
            rptError("Can't evaluate %s literal on line %d\n", what, node->line);
            return false;
        }
    }
    *static_cast<Triple*>(result) = Triple{v[0], v[1], v[2]};
    return true;
}

const ExprKind kTripleKind = {"triple", 0, evaluate_triple_literal};
const ExprKind kColourKind = {"color", 0, [](Expr* node, void* result) {
                                  return evaluate_components<3>(node, result, "COLOR");
                              }};
const ExprKind kNormalKind = {"norm", 0, [](Expr* node, void* result) {
                                  return evaluate_components<3>(node, result, "NORM");
                              }};
const ExprKind kStKind = {
    "st", 0, [](Expr* node, void* result) { return evaluate_components<2>(node, result, "ST"); }};

Expr* make_components(const ExprKind& kind, std::int32_t type, Expr* a, Expr* b, Expr* c,
                      std::int32_t line) {
    auto* components = node_sized<Components>();
    components->c[0] = a;
    components->c[1] = b;
    components->c[2] = c;
    return make_node(kind, type, components, line);
}

// --- triple functions ---------------------------------------------------------------

enum TripleFunction { CURRENT_POSITION = 550, MOTION = 551, FORWARD = 552 };

bool evaluate_current_position(Expr* node, void* result) {
    Triple point;
    if (!AR_evaluate(SDL_TRIPLE, &point, node->args, nullptr)) {
        rptError("Cannot determine argument to CURRENT_POSITION on\n");
        return false;
    }
    auto* out = static_cast<Triple*>(result);
    auto current = expression_context().current_transform;
    if (current == nullptr) {  // outside a scene walk: world space is object space
        *out = point;
        return true;
    }
    // Reused between calls: the snapshot's step list keeps its storage.
    static TransformValue transform;
    if (!current(&transform)) return false;
    *out = transform_point(point, transform.model);
    return true;
}

bool evaluate_forward(Expr* node, void* result) {
    auto* out = static_cast<Triple*>(result);
    if (!AR_evaluate(SDL_TRIPLE, out, node->args, nullptr)) {
        rptError("Cannot determine argument to FORWARD on\n");
        return false;
    }
    auto add = expression_context().add_forward_reference;
    if (add != nullptr && !add(out, node->args)) {
        rptError("Cannot allocate FORWARD reference on\n");
        return false;
    }
    return true;
}

// The in and out behaviours of a motion curve; the body was checked when
// its curve was read.
bool read_path_behaviour(const Body& body, const char* name, std::uint32_t& behaviour) {
    const BodyItem* item = body.find(name);
    if (item == nullptr) return true;
    float value = 0;
    if (!AR_evaluate(SDL_SCALAR, &value, item->value, nullptr)) return false;
    behaviour = static_cast<std::uint32_t>(truncate_to_int(value));
    return true;
}

// Where the path parameter t lies once the behaviour before the start
// (`before`) or after the end takes it back into [t0, t1]; false for a
// behaviour that continues along the end's tangent instead.
bool fold_into_range(double& t, double t0, double t1, bool before, std::uint32_t behaviour) {
    const double range = t1 - t0;
    const bool oscillate = behaviour == (before ? PRE_OSCILLATE : POST_OSCILLATE);
    const bool cycle = behaviour == (before ? PRE_CYCLE : POST_CYCLE) ||
                       behaviour == (before ? PRE_CYCLE_OFFSET : POST_CYCLE_OFFSET);
    if ((oscillate || cycle) && range > 0.0) {
        const double periods = std::floor((t - t0) / range);
        double m = t - t0 - periods * range;
        if (oscillate && std::fmod(periods, 2.0) != 0.0) m = range - m;
        t = t0 + m;
        return true;
    }
    if (behaviour == (before ? PRE_LINEAR : POST_LINEAR) ||
        behaviour == (before ? PRE_IDENTITY : POST_IDENTITY))
        return false;
    t = before ? t0 : t1;  // constant, and whatever else is asked
    return true;
}

// motion(curve, t): the position at parameter t along the motion curve's
// path, the in and out behaviours deciding beyond the path's ends.
bool evaluate_motion(Expr* node, void* result) {
    Expr* curve_expr = node->args;
    if (curve_expr == nullptr) {
        rptError("No arguments given for MOTION function on %d\n", node->line);
        return false;
    }
    if (curve_expr->next == nullptr) {
        rptError("No second argument given for MOTION function on %d\n", node->line);
        return false;
    }
    ObjectValue curve, path;
    const Symbol* path_symbol = nullptr;
    const bool named = curve_expr->type != SDL_FILENAME ||
                       convert_filename_to_reference(curve_expr, SDL_MOTION_CURVE);
    if (named && AR_evaluate(SDL_MOTION_CURVE, &curve, curve_expr, nullptr) && curve.body)
        path_symbol = find_symbol(curve.body->model);
    std::uint32_t before = PRE_CONSTANT, after = POST_CONSTANT;
    auto evaluate_path = expression_context().motion_path;
    if (path_symbol == nullptr || path_symbol->type != SDL_BOUNDARY_CURVE ||
        !AR_evaluate(SDL_BOUNDARY_CURVE, &path, path_symbol->initialiser, path_symbol->value) ||
        path.body == nullptr || !read_path_behaviour(*curve.body, "in", before) ||
        !read_path_behaviour(*curve.body, "out", after) || evaluate_path == nullptr) {
        rptError("Cannot evaluate curve for MOTION function on %d\n", node->line);
        return false;
    }
    float time = 0;
    if (!AR_evaluate(SDL_SCALAR, &time, curve_expr->next, nullptr)) {
        rptError("Cannot evaluate time for MOTION function on %d\n", node->line);
        return false;
    }
    double t = time, range[2] = {0.0, 0.0};
    Triple position, tangent;
    if (!evaluate_path(*path.body, t, position, tangent, range)) {
        rptError("Cannot evaluate curve for MOTION function on %d\n", node->line);
        return false;
    }
    auto* out = static_cast<Triple*>(result);
    const bool outside = t < range[0] || t > range[1];
    if (outside &&
        !fold_into_range(t, range[0], range[1], t < range[0], t < range[0] ? before : after)) {
        // On along the tangent at the end it left the path by.
        const double beyond = t < range[0] ? t - range[0] : t - range[1];
        *out = Triple{static_cast<float>(position.x + beyond * tangent.x),
                      static_cast<float>(position.y + beyond * tangent.y),
                      static_cast<float>(position.z + beyond * tangent.z)};
        return true;
    }
    if (outside && !evaluate_path(*path.body, t, position, tangent, range)) return false;
    *out = position;
    return true;
}

const ExprKind kCurrentPositionKind = {"current_position", CURRENT_POSITION,
                                       evaluate_current_position};
const ExprKind kMotionKind = {"motion", MOTION, evaluate_motion};
const ExprKind kForwardKind = {"forward", FORWARD, evaluate_forward};

// --- control and trim vertices -----------------------------------------------------

struct CvNode {
    Expr* position;
    Expr* weight;
};

bool evaluate_cv(Expr* node, void* result) {
    const CvNode* cv = payload_of<CvNode>(node);
    Triple p;
    float w = 0;
    if (!AR_evaluate(SDL_TRIPLE, &p, cv->position, nullptr) ||
        !AR_evaluate(SDL_SCALAR, &w, cv->weight, nullptr)) {
        rptError("Can't evaluate CV literal on line %d\n", node->line);
        return false;
    }
    *static_cast<CvValue*>(result) = CvValue{p.x, p.y, p.z, w};
    return true;
}

const ExprKind kCvKind = {"cv", 0, evaluate_cv};

struct TrimVertexNode {
    Expr* position;  // null for the (u, v, flag) form
    Expr* weight;
    float u, v;
    std::int32_t flag;
};

bool evaluate_trim_vertex(Expr* node, void* result) {
    const TrimVertexNode* tv = payload_of<TrimVertexNode>(node);
    TrimCvValue value;
    value.u = tv->u;
    value.v = tv->v;
    value.flag = tv->flag;
    if (tv->position != nullptr) {
        Triple p;
        if (!AR_evaluate(SDL_TRIPLE, &p, tv->position, nullptr) ||
            !AR_evaluate(SDL_SCALAR, &value.w, tv->weight, nullptr)) {
            rptError("Can't evaluate TRIM_CV literal on line %d\n", node->line);
            return false;
        }
        value.x = p.x;
        value.y = p.y;
        value.z = p.z;
        value.has_point = true;
    }
    *static_cast<TrimCvValue*>(result) = value;
    return true;
}

const ExprKind kTrimVertexKind = {"trim_vertex", 0, evaluate_trim_vertex};

// --- keyframe literals -----------------------------------------------------------

// Components in stored order; the type slots are null when not written.
enum { PV_TIME, PV_VALUE, PV_TYPE_A, PV_TYPE_B, PV_IN_X, PV_IN_Y, PV_OUT_X, PV_OUT_Y, PV_COUNT };

struct ParamVertexNode {
    Expr* c[PV_COUNT];
    std::int32_t tangent_type;  // `type = ...`: both types
};

// How the tangents were made: type B by the first table, type A by the second.
std::uint32_t out_type_mask(int type) {
    switch (type) {
        case 1:
            return 256;  // TAN_FAST
        case 4:
            return 512;  // TAN_FLAT
        case 8:
            return 64;  // TAN_IN_OUT
        case 16:
            return 8;  // TAN_LINEAR
        case 17:
            return 32;  // TAN_SLOW
        case 18:
            return 2;  // TAN_SMOOTH
        case 20:
            return 1024;  // TAN_STEP
        default:
            return 2048;
    }
}

std::uint32_t in_type_mask(int type) {
    switch (type) {
        case 1:
            return 0x200000;
        case 4:
            return 0x800000;
        case 8:
            return 0x100000;
        case 16:
            return 0x10000;
        case 17:
            return 0x40000;
        case 18:
            return 0x8000;
        default:
            return 0x2000000;  // TAN_STEP and the rest
    }
}

bool evaluate_param_vertex(Expr* node, void* result) {
    const ParamVertexNode* pv = payload_of<ParamVertexNode>(node);
    float v[PV_COUNT] = {};
    v[PV_TYPE_A] = v[PV_TYPE_B] = static_cast<float>(pv->tangent_type);
    for (int i = 0; i < PV_COUNT; ++i) {
        if (pv->c[i] == nullptr) continue;  // an optional type
        if (!AR_evaluate(SDL_SCALAR, &v[i], pv->c[i], nullptr)) {
            rptError("Can't evaluate PARAM_CV literal on line %d\n", node->line);
            return false;
        }
    }
    ParamCvValue key;
    key.time = v[PV_TIME];
    key.value = v[PV_VALUE];
    key.type_a = truncate_to_int(v[PV_TYPE_A]);
    key.type_b = truncate_to_int(v[PV_TYPE_B]);
    // The in tangent always points back in time, the out tangent forward.
    key.in_x = -std::fabs(v[PV_IN_X]);
    key.in_y = v[PV_IN_Y];
    key.out_x = std::fabs(v[PV_OUT_X]);
    key.out_y = v[PV_OUT_Y];
    key.mask = out_type_mask(key.type_b) | in_type_mask(key.type_a);
    *static_cast<ParamCvValue*>(result) = key;
    return true;
}

const ExprKind kParamVertexKind = {"parameter_vertex", 0, evaluate_param_vertex};

// --- file names and the current transformation ------------------------------------

struct FilenameNode {
    const char* text;
    Expr* frame;  // optional: the frame number appended as ".%d"
};

bool evaluate_filename(Expr* node, void* result) {
    const FilenameNode* name = payload_of<FilenameNode>(node);
    if (name == nullptr || name->text == nullptr) return false;
    auto* out = static_cast<std::string*>(result);
    if (name->frame == nullptr) {
        out->assign(name->text);
        return true;
    }
    float e = 0;
    if (!AR_evaluate(SDL_SCALAR, &e, name->frame, nullptr)) return false;
    // Frame numbers of fields and sub-frame steps are rounded so that the two
    // images of one frame share its number; whole steps round to nearest.
    double byframe = expression_context().byframe;
    double number = (byframe >= -1.0 && byframe <= 1.0) ? byframe * 0.5 + e - 0.01 : e + 0.49;
    out->assign(name->text);
    out->push_back('.');
    out->append(std::to_string(truncate_to_int(number)));
    return true;
}

const ExprKind kFilenameKind = {"filename", 0, evaluate_filename};

bool evaluate_current_transform(Expr*, void* result) {
    auto* out = static_cast<TransformValue*>(result);
    auto current = expression_context().current_transform;
    if (current == nullptr) {
        *out = TransformValue{};  // identity outside a scene walk
        return true;
    }
    return current(out);
}

const ExprKind kCurrentTransformKind = {"cur_xform", 570, evaluate_current_transform};

}  // namespace

// --- builders -----------------------------------------------------------------

Expr* make_triple(Expr* x, Expr* y, Expr* z, std::int32_t line) {
    if (!is_scalar_component(x) || !is_scalar_component(y) || !is_scalar_component(z))
        return nullptr;
    return make_components(kTripleKind, SDL_TRIPLE, x, y, z, line);
}

Expr* make_triple_function(std::int32_t code, Expr* first_argument, std::int32_t line) {
    const ExprKind* kind = nullptr;
    switch (code) {
        case CURRENT_POSITION:
        case FORWARD:
            if (!is_triple_argument(first_argument) || first_argument->next != nullptr)
                return nullptr;
            kind = code == FORWARD ? &kForwardKind : &kCurrentPositionKind;
            break;
        case MOTION:
            // Like animate: the motion curve or its name comes first.
            if (first_argument == nullptr ||
                (first_argument->type != SDL_MOTION_CURVE && first_argument->type != SDL_FILENAME))
                return nullptr;
            kind = &kMotionKind;
            break;
        default:
            rptError("Unknown function (id=%d)\n", code);
            return nullptr;
    }
    Expr* node = allocate_node();
    node->kind = kind;
    node->type = SDL_TRIPLE;
    node->args = first_argument;
    node->line = line;
    return node;
}

Expr* make_cv(Expr* position, Expr* weight, std::int32_t line) {
    if (position == nullptr || weight == nullptr) return nullptr;
    auto* cv = node_sized<CvNode>();
    *cv = CvNode{position, weight};
    return make_node(kCvKind, SDL_CV, cv, line);
}

Expr* make_colour(Expr* r, Expr* g, Expr* b, std::int32_t line) {
    if (r == nullptr || g == nullptr || b == nullptr) return nullptr;
    return make_components(kColourKind, SDL_COLOUR, r, g, b, line);
}

Expr* make_normal(Expr* x, Expr* y, Expr* z, std::int32_t line) {
    if (x == nullptr || y == nullptr || z == nullptr) return nullptr;
    return make_components(kNormalKind, SDL_NORMAL, x, y, z, line);
}

Expr* make_st(Expr* s, Expr* t, std::int32_t line) {
    if (s == nullptr || t == nullptr) return nullptr;
    return make_components(kStKind, SDL_ST, s, t, nullptr, line);
}

Expr* make_filename(const char* text, Expr* frame, std::int32_t line) {
    auto* name = sdl_pool().make<FilenameNode>();
    *name = FilenameNode{text, frame};
    return make_node(kFilenameKind, SDL_FILENAME, name, line);
}

const char* filename_text(const Expr* node) {
    if (node == nullptr || node->kind != &kFilenameKind || node->payload == nullptr) return nullptr;
    return payload_of<FilenameNode>(node)->text;
}

Expr* make_current_transform(std::int32_t line) {
    Expr* node = allocate_node();
    node->kind = &kCurrentTransformKind;
    node->type = SDL_TRANSFORM;
    node->line = line;
    return node;
}

Expr* make_trim_vertex(Expr* position, Expr* weight, float u, float v, std::int32_t flag,
                       std::int32_t line) {
    if ((position == nullptr) != (weight == nullptr)) return nullptr;
    auto* tv = sdl_pool().make<TrimVertexNode>();
    *tv = TrimVertexNode{position, weight, u, v, flag};
    return make_node(kTrimVertexKind, SDL_TRIM_CV, tv, line);
}

Expr* make_param_vertex(std::int32_t form, Expr* const* values, int count,
                        std::int32_t tangent_type, std::int32_t line) {
    auto* pv = sdl_pool().make<ParamVertexNode>();
    if (form == 1 && count == 8) {
        // Written: time, value, type A, (in x, in y), type B, (out x, out y).
        static constexpr int kStoredAt[8] = {PV_TIME, PV_VALUE,  PV_TYPE_A, PV_IN_X,
                                             PV_IN_Y, PV_TYPE_B, PV_OUT_X,  PV_OUT_Y};
        for (int i = 0; i < 8; ++i) pv->c[kStoredAt[i]] = values[i];
    } else if ((form == 2 || form == 3) && count == 6) {
        static constexpr int kStoredAt[6] = {PV_TIME, PV_VALUE, PV_IN_X,
                                             PV_IN_Y, PV_OUT_X, PV_OUT_Y};
        for (int i = 0; i < 6; ++i) pv->c[kStoredAt[i]] = values[i];
        if (form == 3) pv->tangent_type = tangent_type;
    } else {
        return nullptr;
    }
    for (int i = 0; i < count; ++i)
        if (values[i] == nullptr) return nullptr;
    return make_node(kParamVertexKind, SDL_PARAM_CV, pv, line);
}

// --- constants of the shapes big lists are made of ---------------------------

namespace {

bool literal_components(const Expr* node, const ExprKind& kind, int count, float* out) {
    if (node == nullptr || node->kind != &kind || node->payload == nullptr) return false;
    const Components* components = payload_of<Components>(node);
    for (int i = 0; i < count; ++i) {
        if (!is_literal(components->c[i])) return false;
        out[i] = components->c[i]->value;
    }
    return true;
}

bool constant_cv(const Expr* node, float* out) {
    if (node == nullptr || node->kind != &kCvKind || node->payload == nullptr) return false;
    const CvNode* cv = payload_of<CvNode>(node);
    if (!literal_components(cv->position, kTripleKind, 3, out) || !is_literal(cv->weight))
        return false;
    out[3] = cv->weight->value;
    return true;
}

}  // namespace

bool fold_constant(const Expr* item, PackShape shape, float* out, int* stride) {
    switch (shape) {
        case PACK_SCALAR:
            if (!is_literal(item)) return false;
            out[0] = item->value;
            *stride = 1;
            return true;
        case PACK_CV:
            *stride = 4;
            return constant_cv(item, out);
        case PACK_ST:
            *stride = 2;
            return literal_components(item, kStKind, 2, out);
        case PACK_NORMAL:
            *stride = 3;
            return literal_components(item, kNormalKind, 3, out);
        case PACK_COLOUR:
            *stride = 3;
            return literal_components(item, kColourKind, 3, out);
        case PACK_VERTEX: {
            // (cv), (cv, st) or (cv, st, norm), as make_vertex lists them.
            if (!is_list(item)) return false;
            const Expr* cv = list_first(item);
            if (!constant_cv(cv, out)) return false;
            const Expr* st = cv->next;
            if (st == nullptr) {
                *stride = 4;
                return true;
            }
            if (!literal_components(st, kStKind, 2, out + 4)) return false;
            const Expr* normal = st->next;
            if (normal == nullptr) {
                *stride = 6;
                return true;
            }
            *stride = 9;
            return normal->next == nullptr && literal_components(normal, kNormalKind, 3, out + 6);
        }
        case PACK_POLYGON:
            break;
    }
    return false;
}

}  // namespace sky
