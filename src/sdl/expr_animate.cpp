// Animation inside expressions: `ease` between two values over a frame range,
// and `animate`, the value of a keyframed curve at a time.
//
// animate reads a parameter curve (keys written as parameter vertices) or a
// motion curve (keys taken from the control vertices of a `curve`: time = x,
// value = y), then applies the curve's behaviour outside its keys and the
// cubic Hermite segment between them. Times are in frames.
//
// A motion curve's keys get tangents along the chords to their neighbours,
// so each segment is the straight line between two control vertices: the
// curve's own knots and degree need the geometry library, and a polyline
// through the control vertices is the honest approximation without it.
#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <vector>

#include "platform/report.h"
#include "sdl/animation.h"
#include "sdl/body.h"
#include "sdl/expr_internal.h"
#include "sdl/symbols.h"

namespace sky {
namespace {

float& scalar_result(void* result) {
    return *static_cast<float*>(result);
}

// --- ease -------------------------------------------------------------------------

enum EaseType {
    EASE_LINEAR = 1,
    EASE_IN = 2,
    EASE_OUT = 3,
    EASE_INOUT = 4,
    EASE_EXPIN = 5,
    EASE_EXPOUT = 6
};

// Arguments as stored: (type, p, q, s, t). With s = t there is no ramp: the
// value steps from p to q at frame s.
bool evaluate_ease(Expr* node, void* result) {
    float v[5];
    if (!evaluate_scalar_arguments(node, 5, v)) return false;
    float frame = 0;
    if (!current_frame(frame)) {
        report_scalar_failure(node);
        return false;
    }
    double p = v[1], q = v[2], s = v[3], t = v[4];
    if (s == t) {
        scalar_result(result) = static_cast<float>(frame >= s ? q : p);
        return true;
    }
    double u = (std::min(std::max(double(frame), s), t) - s) / (t - s);
    constexpr double kHalfPi = 1.5707963267948966;
    double w = u;
    switch (truncate_to_int(v[0])) {
        case EASE_IN:
            w = 1.0 - std::cos(u * kHalfPi);
            break;
        case EASE_OUT:
            w = std::cos(u * kHalfPi - kHalfPi);
            break;
        case EASE_INOUT:
            w = (1.0 - std::cos(u * 2.0 * kHalfPi)) / 2.0;
            break;
        case EASE_EXPIN:
            w = std::pow(u, 1.8547);
            break;
        case EASE_EXPOUT:
            w = std::pow(u, 0.3);
            break;
        default:  // EASE_LINEAR and anything else
            break;
    }
    scalar_result(result) = static_cast<float>((1.0 - w) * p + w * q);
    return true;
}

// --- animate ----------------------------------------------------------------------

struct Key {
    double time, value;
    double in_x, in_y;    // points back in time
    double out_x, out_y;  // points forward
};

// Per animate node: refilled at every evaluation (key values may depend on
// the frame), kept so that the key storage is reused rather than reallocated.
struct AnimateCache {
    int pre = PRE_CONSTANT;
    int post = POST_CONSTANT;
    std::vector<Key> keys;
};

AnimateCache& cache_of(const Expr* node) {
    static std::unordered_map<const Expr*, AnimateCache> caches;
    return caches[node];
}

// A tangent without run is taken as nearly vertical rather than dividing by 0.
const double kVerticalSlope = std::tan(1.5705061082024432);

double slope(double x, double y) {
    return x == 0.0 ? kVerticalSlope : y / x;
}

bool read_behaviour(const Body& body, const char* name, int& behaviour) {
    const BodyItem* item = body.find(name);
    if (item == nullptr) return true;  // the default stays
    float value = 0;
    if (!AR_evaluate(SDL_SCALAR, &value, item->value, nullptr)) return false;
    behaviour = truncate_to_int(value);
    return true;
}

bool read_parameter_curve(const Body& body, AnimateCache& cache) {
    if (!read_behaviour(body, "in", cache.pre) || !read_behaviour(body, "out", cache.post))
        return false;
    const BodyItem* cvs = body.find("cvs");
    if (cvs == nullptr || cvs->value == nullptr) return false;
    Expr* first = is_list(cvs->value) ? list_first(cvs->value) : cvs->value;
    for (Expr* item = first; item != nullptr; item = item->next) {
        ParamCvValue key;
        if (!AR_evaluate(SDL_PARAM_CV, &key, item, nullptr)) return false;
        cache.keys.push_back({key.time, key.value, key.in_x, key.in_y, key.out_x, key.out_y});
    }
    return true;
}

bool read_motion_curve(const Body& body, AnimateCache& cache) {
    cache.pre = PRE_CONSTANT;
    cache.post = POST_CONSTANT;
    if (!read_behaviour(body, "in", cache.pre) || !read_behaviour(body, "out", cache.post))
        return false;
    Symbol* path = find_symbol(body.model);
    if (path == nullptr || path->type != SDL_BOUNDARY_CURVE) return false;
    ObjectValue curve;
    if (!AR_evaluate(SDL_BOUNDARY_CURVE, &curve, path->initialiser, path->value) ||
        curve.body == nullptr)
        return false;
    const BodyItem* cvs = curve.body->find("cvs");
    if (cvs == nullptr || cvs->value == nullptr) return false;
    if (is_packed_list(cvs->value)) {
        const PackedList& packed = *packed_list(cvs->value);
        if (packed.stride < 2 || packed.data == nullptr) return false;
        for (int i = 0; i < packed.count; ++i) {
            const float* cv = packed.data + static_cast<std::size_t>(i) * packed.stride;
            cache.keys.push_back({cv[0], cv[1], 0, 0, 0, 0});
        }
    } else {
        Expr* first = is_list(cvs->value) ? list_first(cvs->value) : cvs->value;
        for (Expr* item = first; item != nullptr; item = item->next) {
            CvValue cv;
            if (!AR_evaluate(SDL_CV, &cv, item, nullptr)) return false;
            cache.keys.push_back({cv.x, cv.y, 0, 0, 0, 0});
        }
    }
    // Chords to the neighbours; the end keys continue their only chord.
    std::vector<Key>& keys = cache.keys;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (i + 1 < keys.size()) {
            keys[i].out_x = keys[i + 1].time - keys[i].time;
            keys[i].out_y = keys[i + 1].value - keys[i].value;
        }
        if (i > 0) {
            keys[i].in_x = keys[i - 1].time - keys[i].time;
            keys[i].in_y = keys[i - 1].value - keys[i].value;
        }
    }
    if (keys.size() == 1) {
        keys[0].in_x = -1;  // a single key is flat
        keys[0].out_x = 1;
    } else if (!keys.empty()) {
        keys.front().in_x = -keys.front().out_x;
        keys.front().in_y = -keys.front().out_y;
        keys.back().out_x = -keys.back().in_x;
        keys.back().out_y = -keys.back().in_y;
    }
    return true;
}

// Keys come in time order from the modelling application; an insertion sort
// costs one pass then, and still copes with a hand-edited file.
void sort_keys(std::vector<Key>& keys) {
    for (std::size_t i = 1; i < keys.size(); ++i) {
        Key key = keys[i];
        std::size_t j = i;
        for (; j > 0 && keys[j - 1].time > key.time; --j) keys[j] = keys[j - 1];
        keys[j] = key;
    }
}

bool read_curve(Expr* curve_expr, AnimateCache& cache) {
    cache.keys.clear();
    cache.pre = PRE_CONSTANT;
    cache.post = POST_CONSTANT;
    // A name may designate either kind of curve.
    if (curve_expr->type == SDL_FILENAME &&
        !convert_filename_to_reference(curve_expr, SDL_PARAM_CV_CURVE) &&
        !convert_filename_to_reference(curve_expr, SDL_MOTION_CURVE))
        return false;
    ObjectValue curve;
    if (!AR_evaluate(curve_expr->type, &curve, curve_expr, nullptr) || curve.body == nullptr)
        return false;
    bool read = false;
    if (curve_expr->type == SDL_PARAM_CV_CURVE)
        read = read_parameter_curve(*curve.body, cache);
    else if (curve_expr->type == SDL_MOTION_CURVE)
        read = read_motion_curve(*curve.body, cache);
    if (!read || cache.keys.empty()) return false;
    sort_keys(cache.keys);
    return true;
}

// The value between the keys, at a time t0 <= t <= t1 (after the out-of-range
// behaviour has mapped it there).
bool segment_value(const std::vector<Key>& keys, double t, double& value) {
    if (t == keys.front().time) {
        value = keys.front().value;
        return true;
    }
    std::size_t i = 0;
    while (i + 1 < keys.size() && keys[i + 1].time <= t) ++i;
    if (keys[i].time == t) {
        value = keys[i].value;
        return true;
    }
    if (i + 1 >= keys.size()) return false;
    const Key& k = keys[i];
    const Key& n = keys[i + 1];
    if (std::fabs(k.out_x) <= 1e-6 && std::fabs(k.out_y) <= 1e-6) {
        value = k.value;  // a step key holds until the next one
        return true;
    }
    double s0 = slope(k.out_x, k.out_y);
    double s1 = slope(n.in_x, n.in_y);
    double T = n.time - k.time;  // > 0: n.time > t >= k.time
    double D = n.value - k.value;
    double u = t - k.time;
    double a = ((s0 + s1) * T - 2.0 * D) / (T * T * T);
    double b = (3.0 * D - (2.0 * s0 + s1) * T) / (T * T);
    value = ((a * u + b) * u + s0) * u + k.value;
    return true;
}

bool is_odd(double whole) {
    return std::fmod(whole, 2.0) != 0.0;
}

// Whole periods before (negative) or after the first key; the curve repeats
// shifted by the rise of one period each time.
void cycle_with_offset(const std::vector<Key>& keys, double range, double& t, double& offset) {
    double t0 = keys.front().time, t1 = keys.back().time;
    double periods = std::floor((t - t0) / range);
    t = std::min(std::max(t - periods * range, t0), t1);
    offset = periods * (keys.back().value - keys.front().value);
}

bool curve_value(const AnimateCache& cache, double t, double& value) {
    const std::vector<Key>& keys = cache.keys;
    const Key& first = keys.front();
    const Key& last = keys.back();
    double t0 = first.time, y0 = first.value, t1 = last.time, y1 = last.value;
    double range = t1 - t0;
    double offset = 0;
    // Before the first key and after the last, the same behaviours seen from
    // either end: the two switches mirror each other on purpose, each with
    // its own exact formulas (folding one onto the other would change the
    // values in their last bits).
    if (t < t0) {
        // One key has no period to repeat: it holds its value.
        bool periodic =
            cache.pre == PRE_OSCILLATE || cache.pre == PRE_CYCLE || cache.pre == PRE_CYCLE_OFFSET;
        if (periodic && range <= 0) {
            value = y0;
            return true;
        }
        switch (cache.pre) {
            case PRE_OSCILLATE: {
                double d = t1 - t;
                double m = std::fmod(d, range);
                t = is_odd(std::trunc(d / range)) ? m + t0 : t1 - m;
                break;
            }
            case PRE_CONSTANT:
                value = y0;
                return true;
            case PRE_CYCLE: {
                // Any remainder maps into the period, fractional frames included.
                double m = std::fmod(t1 - t, range);
                t = m != 0.0 ? t1 - m : t0;
                break;
            }
            case PRE_LINEAR:
                value = (t - t0) * slope(first.out_x, first.out_y) + y0;
                return true;
            case PRE_IDENTITY:
                value = t + y0 - t0;
                return true;
            case PRE_CYCLE_OFFSET:
                cycle_with_offset(keys, range, t, offset);
                break;
            default:
                return false;
        }
    } else if (t > t1) {
        // Kept apart from the cases before the first key (above) on purpose:
        // their mirror, with formulas of its own.
        bool periodic = cache.post == POST_OSCILLATE || cache.post == POST_CYCLE ||
                        cache.post == POST_CYCLE_OFFSET;
        if (periodic && range <= 0) {
            value = y1;
            return true;
        }
        switch (cache.post) {
            case POST_OSCILLATE: {
                double m = std::fmod(t - t0, range);
                t = is_odd(std::trunc((t - t0) / range)) ? t1 - m : m + t0;
                break;
            }
            case POST_CONSTANT:
                value = y1;
                return true;
            case POST_CYCLE: {
                double m = std::fmod(t - t0, range);
                t = m != 0.0 ? m + t0 : t1;
                break;
            }
            case POST_LINEAR:
                value = (t - t1) * slope(last.in_x, last.in_y) + y1;
                return true;
            case POST_IDENTITY:
                value = y1 + t - t1;
                return true;
            case POST_CYCLE_OFFSET:
                cycle_with_offset(keys, range, t, offset);
                break;
            default:
                return false;
        }
    }
    if (!segment_value(keys, t, value)) return false;
    value += offset;
    return true;
}

void report_animate(const char* format, const Expr* node) {
    if (!quiet_evaluation()) rptError(format, node->line);
    set_evaluation_error(kErrorArgument);
}

bool evaluate_animate(Expr* node, void* result) {
    clear_evaluation_error();
    Expr* curve = node->args;
    if (curve == nullptr) {
        report_animate("No arguments given for ANIMATE function on %d\n", node);
        return false;
    }
    Expr* time = curve->next;
    if (time == nullptr) {
        report_animate("No second argument given for ANIMATE function on %d\n", node);
        return false;
    }
    AnimateCache& cache = cache_of(node);
    if (!read_curve(curve, cache)) {
        report_animate("Cannot evaluate curve for ANIMATE function on %d\n", node);
        return false;
    }
    float t = 0;
    double value = 0;
    if (!AR_evaluate(SDL_SCALAR, &t, time, nullptr) || !curve_value(cache, t, value)) {
        report_animate("Can't evaluate ANIMATE function on line %d\n", node);
        return false;
    }
    scalar_result(result) = static_cast<float>(value);
    return true;
}

}  // namespace

const ExprKind kAnimateKind = {"animate", 540, evaluate_animate};
const ExprKind kEaseKind = {"ease", 543, evaluate_ease};

}  // namespace sky
