#include "sdl/animation.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>

#include "platform/report.h"
#include "sdl/body.h"
#include "sdl/builder.h"
#include "sdl/expr_internal.h"
#include "sdl/pool.h"
#include "sdl/scene_packets.h"
#include "sdl/sdl_errors.h"
#include "sdl/symbols.h"
#include "sdl/values.h"

namespace sky {
namespace {

constexpr double kTiny = 1e-6;
// 89.9 degrees: a tangent without run has this slope instead of dividing by 0.
constexpr double kSteepAngle = 1.5690509975429023;
const double kSteepSlope = std::tan(kSteepAngle);

std::deque<Keyframe>& key_pool() {
    static std::deque<Keyframe> pool;  // a deque: identifiers' keys never move
    return pool;
}

double slope(double x, double y) {
    return std::fabs(x) <= kTiny ? kSteepSlope : y / x;
}

// A chord's slope, steep where the keys are (nearly) at one time.
double chord_slope(const Keyframe& a, const Keyframe& b) {
    const double dt = double(b.time) - a.time;
    return std::fabs(dt) < 0.0001 ? kSteepSlope : (b.value - a.value) / dt;
}

void set_slope(float& x, float& y, double s, double sign) {
    const double length = std::sqrt(1.0 + s * s);
    x = static_cast<float>(sign / length);
    y = static_cast<float>(sign * s / length);
}

int pre_type(std::uint32_t mode) {
    return static_cast<int>(mode & 0xFF00u);
}
int post_type(std::uint32_t mode) {
    return static_cast<int>(mode & 0xFFu);
}

bool is_odd(double whole) {
    return std::fmod(std::floor(whole), 2.0) != 0.0;
}

}  // namespace

std::uint32_t new_keyframe(const Keyframe& key) {
    key_pool().push_back(key);
    return static_cast<std::uint32_t>(key_pool().size() - 1);
}

Keyframe& keyframe(std::uint32_t id) {
    return key_pool()[id];
}

std::uint32_t tangent_mask(std::int32_t type_a, std::int32_t type_b) {
    auto first = [](std::int32_t type) -> std::uint32_t {
        switch (type) {
            case TAN_FAST:
                return 256;
            case TAN_FLAT:
                return 512;
            case TAN_IN_OUT:
                return 64;
            case TAN_LINEAR:
                return 8;
            case TAN_SLOW:
                return 32;
            case TAN_SMOOTH:
                return 2;
            case TAN_STEP:
                return 1024;
            default:
                return 2048;
        }
    };
    auto second = [](std::int32_t type) -> std::uint32_t {
        switch (type) {
            case TAN_FAST:
                return 0x200000;
            case TAN_FLAT:
                return 0x800000;
            case TAN_IN_OUT:
                return 0x100000;
            case TAN_LINEAR:
                return 0x10000;
            case TAN_SLOW:
                return 0x40000;
            case TAN_SMOOTH:
                return 0x8000;
            default:
                return 0x2000000;
        }
    };
    return first(type_b) | second(type_a);
}

void KeyframeList::add(std::uint32_t id) {
    if (!ids.empty() && keyframe(id).time < keyframe(ids.back()).time) sorted = false;
    ids.push_back(id);
}

void KeyframeList::sort() {
    if (sorted) return;
    std::stable_sort(ids.begin(), ids.end(), [](std::uint32_t a, std::uint32_t b) {
        return keyframe(a).time < keyframe(b).time;
    });
    sorted = true;
}

void smooth_tangent(const Keyframe* previous, Keyframe& key, const Keyframe* next) {
    double out_x = 1, out_y = 0;
    if (previous && next) {
        const double sp = chord_slope(*previous, key), sn = chord_slope(key, *next);
        const double lp =
            std::hypot(double(key.time) - previous->time, key.value - previous->value);
        const double ln = std::hypot(double(next->time) - key.time, next->value - key.value);
        out_y = lp + ln > 0 ? (lp * sn + ln * sp) / (lp + ln) : 0.0;
    } else if (next) {
        out_x = double(next->time) - key.time;
        out_y = next->value - key.value;
    } else if (previous) {
        out_x = double(key.time) - previous->time;
        out_y = key.value - previous->value;
    }
    const double length = std::hypot(out_x, out_y);
    if (length > 0) {
        out_x /= length;
        out_y /= length;
    }
    key.out_x = static_cast<float>(out_x);
    key.out_y = static_cast<float>(out_y);
    key.in_x = -key.out_x;
    key.in_y = -key.out_y;
}

void tangent_from_angle(double angle, float& x, float& y) {
    angle = std::clamp(angle, -1.569051, 1.569051);
    x = 1.0f;
    y = static_cast<float>(std::tan(angle));
}

void set_tangents(KeyframeList& list, TangentType type) {
    list.sort();
    const std::size_t n = list.size();
    for (std::size_t i = 0; i < n; ++i) {
        Keyframe& key = keyframe(list.ids[i]);
        const Keyframe* previous = i > 0 ? &list.at(i - 1) : nullptr;
        const Keyframe* next = i + 1 < n ? &list.at(i + 1) : nullptr;
        const double in_slope = previous ? chord_slope(*previous, key) : 0.0;
        const double out_slope = next ? chord_slope(key, *next) : 0.0;
        switch (type) {
            case TAN_FIXED:
                break;
            case TAN_SMOOTH:
                smooth_tangent(previous, key, next);
                break;
            case TAN_LINEAR:
                set_slope(key.in_x, key.in_y, previous ? in_slope : out_slope, -1);
                set_slope(key.out_x, key.out_y, next ? out_slope : in_slope, 1);
                break;
            case TAN_STEP:
                set_slope(key.in_x, key.in_y, in_slope, -1);
                key.out_x = key.out_y = 0;
                break;
            case TAN_FAST: {
                const double s = std::fabs(in_slope) > std::fabs(out_slope) ? in_slope : out_slope;
                set_slope(key.in_x, key.in_y, s, -1);
                set_slope(key.out_x, key.out_y, s, 1);
                break;
            }
            case TAN_IN_OUT:
                set_slope(key.in_x, key.in_y, 0, -1);
                set_slope(key.out_x, key.out_y, out_slope, 1);
                break;
            default:  // FLAT, SLOW and the unknown
                set_slope(key.in_x, key.in_y, 0, -1);
                set_slope(key.out_x, key.out_y, 0, 1);
                break;
        }
    }
}

bool find_bracketing_keys(const KeyframeList& list, double time, std::uint32_t& lo,
                          std::uint32_t& hi) {
    lo = hi = kNoKey;
    const std::size_t n = list.size();
    if (n == 0) return false;
    if (time >= list.at(n - 1).time) {
        lo = list.ids[n - 1];
        if (time == list.at(n - 1).time) hi = lo;
        return true;
    }
    if (time <= list.at(0).time) {
        hi = list.ids[0];
        if (time == list.at(0).time) lo = hi;
        return true;
    }
    std::size_t low = 0, high = n - 1;  // time(low) < time < time(high)
    while (high - low > 1) {
        const std::size_t middle = (low + high) / 2;
        const double t = list.at(middle).time;
        if (t == time) {
            lo = hi = list.ids[middle];
            return true;
        }
        (t < time ? low : high) = middle;
    }
    lo = list.ids[low];
    hi = list.ids[high];
    return true;
}

OutOfRange apply_out_of_range(std::uint32_t mode, const Keyframe& first, const Keyframe& last,
                              double t) {
    OutOfRange r;
    r.time = t;
    const double tf = first.time, tl = last.time, vf = first.value, vl = last.value;
    const double range = std::fabs(tl - tf);
    auto final_value = [&r](double value) {
        r.final = true;
        r.value = value;
        return r;
    };
    if (t < tf) {
        switch (pre_type(mode)) {
            case PRE_OSCILLATE: {
                if (range <= kTiny) return final_value(vf);
                const double d = tl - t, rest = std::fmod(d, range);
                r.time = is_odd(d / range) ? tf + rest : tl - rest;
                return r;
            }
            case PRE_LINEAR:
                if (std::fabs(first.out_x) <= kTiny) return final_value(vf);
                return final_value(vf + (t - tf) * (double(first.out_y) / first.out_x));
            case PRE_IDENTITY:
                return final_value(vf + (t - tf));
            case PRE_CYCLE:
            case PRE_CYCLE_OFFSET:
                if (range <= kTiny) return final_value(vf);
                r.time = tl - std::fmod(tl - t, range);
                if (pre_type(mode) == PRE_CYCLE_OFFSET)
                    r.offset = (vl - vf) * std::trunc((t - tl) / range);
                return r;
            default:
                return final_value(vf);
        }
    }
    if (t > tl) {
        switch (post_type(mode)) {
            case POST_OSCILLATE: {
                if (range <= kTiny) return final_value(vf);
                const double d = t - tf, rest = std::fmod(d, range);
                r.time = is_odd(d / range) ? tl - rest : tf + rest;
                return r;
            }
            case POST_LINEAR:
                if (std::fabs(last.in_x) <= kTiny) return final_value(vl);
                return final_value(vl + (t - tl) * (double(last.in_y) / last.in_x));
            case POST_IDENTITY:
                return final_value(vl + (t - tl));
            case POST_CYCLE:
            case POST_CYCLE_OFFSET:
                if (range <= kTiny) return final_value(vf);
                r.time = tf + std::fmod(t - tf, range);
                if (post_type(mode) == POST_CYCLE_OFFSET)
                    r.offset = (vl - vf) * std::trunc((t - tf) / range);
                return r;
            default:
                return final_value(vl);
        }
    }
    return r;
}

Hermite hermite_coefficients(const Keyframe& k0, const Keyframe& k1) {
    const double h = double(k1.time) - k0.time, delta = k1.value - k0.value;
    const double m0 = slope(k0.out_x, k0.out_y), m1 = slope(k1.in_x, k1.in_y);
    const double M0 = m0 * h, M1 = m1 * h;
    Hermite c;
    c.a = (M1 + M0 - 2 * delta) / (h * h * h);
    c.b = (3 * delta - 2 * M0 - M1) / (h * h);
    c.c = m0;
    c.d = k0.value;
    return c;
}

namespace {

// The curve a motion curve follows, evaluated now (its CVs may follow the
// frame); null when its path names no curve.
const Body* path_curve(const Body& motion_curve) {
    const Symbol* symbol = motion_curve.model ? find_symbol(motion_curve.model) : nullptr;
    ObjectValue curve;
    if (symbol == nullptr || symbol->type != SDL_BOUNDARY_CURVE ||
        !AR_evaluate(SDL_BOUNDARY_CURVE, &curve, symbol->initialiser, symbol->value))
        return nullptr;
    return curve.body;
}

Triple along(const Triple& p, const Triple& d, double distance) {
    return Triple{static_cast<float>(p.x + distance * d.x),
                  static_cast<float>(p.y + distance * d.y),
                  static_cast<float>(p.z + distance * d.z)};
}

}  // namespace

ActionStatus evaluate_motion_path_action(Aa_Action* action, double time, Triple& position) {
    if (action == nullptr || action->path == nullptr) return ACTION_BAD_ARGUMENTS;
    auto by_length = expression_context().path_by_length;
    if (action->kind != MOTION_PATH_ACTION || by_length == nullptr) return ACTION_NO_OPERATION;
    const Body* curve = path_curve(*action->path);
    if (curve == nullptr) return ACTION_BAD_ARGUMENTS;
    // The path as keys (0, 0) and (1, 1) of slope 1, so that the modes act
    // on the fraction as they act on a keyframed value.
    Keyframe start, end;
    start.in_x = end.in_x = -1;
    start.in_y = end.in_y = -1;
    start.out_x = end.out_x = start.out_y = end.out_y = 1;
    end.time = 1;
    end.value = 1;
    const OutOfRange range = apply_out_of_range(action->mode, start, end, time);
    const double fraction = range.final ? range.value : range.time;
    const double on_path = std::clamp(fraction, 0.0, 1.0);
    Triple point, direction;
    double length = 0;
    const PathResult found = by_length(*curve, on_path, point, direction, length);
    if (found == PATH_NO_LENGTH && !action->path_reported) {
        rptError("Unable to compute start and end tangents in Ai_compute_motion_path_points().\n");
        action->path_reported = true;
    }
    if (found != PATH_OK) return ACTION_BAD_ARGUMENTS;
    position = along(point, direction, (fraction - on_path) * length);
    if (range.offset != 0) {
        Triple first, last, ignored;
        if (by_length(*curve, 0.0, first, ignored, length) != PATH_OK ||
            by_length(*curve, 1.0, last, ignored, length) != PATH_OK)
            return ACTION_BAD_ARGUMENTS;
        const Triple lap{last.x - first.x, last.y - first.y, last.z - first.z};
        position = along(position, lap, range.offset);
    }
    return ACTION_OK;
}

ActionStatus evaluate_keyframe_action(Aa_Action* action, double time, double& value) {
    if (action == nullptr) return ACTION_BAD_ARGUMENTS;
    if (action->kind == MOTION_PATH_ACTION) return ACTION_NO_OPERATION;
    KeyframeList& keys = action->keys;
    if (keys.size() == 0) return ACTION_NO_KEYS;
    keys.sort();
    const OutOfRange range =
        apply_out_of_range(action->mode, keys.at(0), keys.at(keys.size() - 1), time);
    if (range.final) {
        value = range.value;
        return ACTION_OK;
    }
    std::uint32_t lo, hi;
    if (!find_bracketing_keys(keys, range.time, lo, hi) || lo == kNoKey || hi == kNoKey)
        return ACTION_BAD_ARGUMENTS;
    const Keyframe& k0 = keyframe(lo);
    if (lo == hi || (std::fabs(k0.out_x) <= kTiny && std::fabs(k0.out_y) <= kTiny)) {
        value = k0.value + range.offset;
        return ACTION_OK;
    }
    const Hermite c = hermite_coefficients(k0, keyframe(hi));
    const double s = range.time - k0.time;
    value = ((c.a * s + c.b) * s + c.c) * s + c.d + range.offset;
    return ACTION_OK;
}

// --- channels --------------------------------------------------------------------

bool Aa_AnimChannelData::read(double time, double& value) {
    if (cached && cached_time == time) {
        value = cached_value;
        return true;
    }
    if (evaluate_keyframe_action(action, time, value) != ACTION_OK) return false;
    cached = true;
    cached_time = time;
    cached_value = value;
    return true;
}

bool Aa_AnimChannelData::read_path(double time, float clock, Triple& position) {
    if (cached && cached_time == time && cached_clock == clock) {
        position = cached_position;
        return true;
    }
    if (evaluate_motion_path_action(action, time, position) != ACTION_OK) return false;
    cached = true;
    cached_time = time;
    cached_clock = clock;
    cached_position = position;
    return true;
}

Aa_ExprChannelData::Aa_ExprChannelData(Expr* value)
    : expression(value), has_frame(!is_constant_value(value)) {}

bool Aa_ExprChannelData::read(std::uint32_t update, double time, double& value) {
    if (update_id != 0 && (update_id == update || !has_frame)) {
        value = last_value;
        return true;
    }
    // The expression reads `frame`: at the channel's timing, it reads that.
    Symbol* frame = find_symbol("frame");
    float v = 0;
    bool read = false;
    if (frame != nullptr && frame->value != nullptr) {
        const float kept = frame->scalar();
        frame->scalar() = static_cast<float>(time);
        read = AR_evaluate(SDL_SCALAR, &v, expression, nullptr);
        frame->scalar() = kept;
    }
    if (!read) return false;
    modified = update_id == 0 || double(v) != last_value;
    update_id = update;
    last_value = value = v;
    return true;
}

void Aa_AnimChannelData::debug_print(int indent) const {
    rptError("%*sAa_Action: 0x%x\n", indent, "",
             static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(action)));
    if (action == nullptr) return;
    for (std::size_t i = 0; i < action->keys.size(); ++i) {
        const Keyframe& k = action->keys.at(i);
        rptError("%*sKeyframe %d (%#x)\n", indent + 2, "", static_cast<int>(i),
                 action->keys.ids[i]);
        rptError("%*sPosition: (%g, %g)\n", indent + 4, "", double(k.time), k.value);
        rptError("%*sTan In:   (%g, %g)\n", indent + 4, "", double(k.in_x), double(k.in_y));
        rptError("%*sTan Out:  (%g, %g)\n", indent + 4, "", double(k.out_x), double(k.out_y));
        rptError("%*sTan Mask: %#x\n", indent + 4, "", k.flags);
    }
}

void Aa_ExprChannelData::debug_print(int indent) const {
    rptError("%*sexpression channel, line %d\n", indent, "", expression ? expression->line : 0);
}

AnimationUniverse& animation_universe() {
    static AnimationUniverse universe;
    return universe;
}

Aa_Action* add_action(std::unique_ptr<Aa_Action> action) {
    animation_universe().actions.push_back(std::move(action));
    return animation_universe().actions.back().get();
}

Aa_Channel* add_channel(std::unique_ptr<Aa_Channel> channel) {
    if (channel->data && channel->data->type() == kAnimChannel) {
        Aa_Action* action = static_cast<Aa_AnimChannelData&>(*channel->data).action;
        if (action) ++action->references;
    }
    animation_universe().channels.push_back(std::move(channel));
    return animation_universe().channels.back().get();
}

void release_animation_universe() {
    AnimationUniverse& universe = animation_universe();
    for (auto& channel : universe.channels)
        if (channel->data && channel->data->type() == kAnimChannel) {
            Aa_Action* action = static_cast<Aa_AnimChannelData&>(*channel->data).action;
            if (action) --action->references;
        }
    universe.channels.clear();
    for (auto& action : universe.actions)
        if (action->references != 0)
            rptError("An_universe_destroy: animation->unref_list is not empty\n");
    universe.actions.clear();
}

void validate_channels() {
    for (auto& channel : animation_universe().channels) {
        const bool has_action =
            channel->data && (channel->data->type() != kAnimChannel ||
                              static_cast<Aa_AnimChannelData&>(*channel->data).action != nullptr);
        if (!has_action) rptError("channel for %s has a bad action\n", channel->item.name.c_str());
        if (channel->timing == nullptr) {
            rptError("channel for %s has bad timing, using frame\n", channel->item.name.c_str());
            channel->timing = Rr_make_variable_reference("frame", 0);
        }
    }
}

namespace {

// The out-of-range mode of a curve's `in` and `out` items.
std::uint32_t curve_mode(const Body& body) {
    std::uint32_t pre = PRE_CONSTANT, post = POST_CONSTANT;
    for (const char* name : {"in", "out"}) {
        const BodyItem* item = body.find(name);
        float value = 0;
        if (item && AR_evaluate(SDL_SCALAR, &value, item->value, nullptr))
            (name[0] == 'i' ? pre : post) = static_cast<std::uint32_t>(truncate_to_int(value));
    }
    return (pre & 0xFF00u) | (post & 0xFFu);
}

// Channels for the variables a curve's `channel` items name, all reading
// `action` (null: a bad action, which validation names) at the curve's timing.
void channels_of(const Body& body, Aa_Action* action) {
    Expr* timing = nullptr;
    for (const BodyItem& item : body.items)
        if (std::strcmp(item.name, "timing") == 0) timing = item.value;
    // The parser let through only channels that name declared variables.
    for (const BodyItem& item : body.items) {
        if (std::strcmp(item.name, "channel") != 0) continue;
        Symbol* target = item.value->symbol;
        auto channel = std::make_unique<Aa_Channel>();
        channel->item = {target->name, target};
        channel->data = std::make_unique<Aa_AnimChannelData>(action);
        channel->timing = timing;
        add_channel(std::move(channel));
    }
}

bool names_channels(const Body& body) {
    for (const BodyItem& item : body.items)
        if (std::strcmp(item.name, "channel") == 0) return true;
    return false;
}

// A keyframe action from a parameter curve's keys, as animate() reads them.
std::unique_ptr<Aa_Action> curve_action(const Symbol& symbol, const Body& body) {
    auto action = std::make_unique<Aa_Action>();
    action->name = symbol.name;
    action->kind = PARAM_CURVE_ACTION;
    action->mode = curve_mode(body);
    const BodyItem* cvs = body.find("cvs");
    if (cvs == nullptr || cvs->value == nullptr) return nullptr;
    Expr* first = is_list(cvs->value) ? list_first(cvs->value) : cvs->value;
    for (Expr* item = first; item != nullptr; item = item->next) {
        ParamCvValue cv;
        if (!AR_evaluate(SDL_PARAM_CV, &cv, item, nullptr)) return nullptr;
        Keyframe key;
        key.time = cv.time;
        key.value = cv.value;
        key.in_x = -std::fabs(cv.in_x);
        key.in_y = cv.in_y;
        key.out_x = std::fabs(cv.out_x);
        key.out_y = cv.out_y;
        key.flags = cv.mask;
        action->keys.add(new_keyframe(key));
    }
    if (action->keys.size() == 0) return nullptr;
    action->keys.sort();
    return action;
}

void curve_channels(Symbol& symbol) {
    ObjectValue curve;
    if (!AR_evaluate(SDL_PARAM_CV_CURVE, &curve, symbol.initialiser, symbol.value) ||
        curve.body == nullptr)
        return;
    const Body& body = *curve.body;
    if (!names_channels(body)) return;
    // Made even when the keys are bad, so that validation names the channels.
    Aa_Action* action = nullptr;
    if (std::unique_ptr<Aa_Action> made = curve_action(symbol, body))
        action = add_action(std::move(made));
    channels_of(body, action);
}

void motion_channels(Symbol& symbol) {
    ObjectValue curve;
    if (!AR_evaluate(SDL_MOTION_CURVE, &curve, symbol.initialiser, symbol.value) ||
        curve.body == nullptr || !names_channels(*curve.body))
        return;
    // A path that names no curve, or one that cannot be built, is a bad
    // action; a path without length may gain one as its CVs move.
    Aa_Action* action = nullptr;
    const Body* path = path_curve(*curve.body);
    auto by_length = expression_context().path_by_length;
    Triple point, direction;
    double length = 0;
    if (path && by_length && by_length(*path, 0.0, point, direction, length) != PATH_NO_CURVE) {
        auto made = std::make_unique<Aa_Action>();
        made->name = symbol.name;
        made->kind = MOTION_PATH_ACTION;
        made->mode = curve_mode(*curve.body);
        made->path = curve.body;
        action = add_action(std::move(made));
    }
    channels_of(*curve.body, action);
}

// What a scalar declaration with channel items holds: its initial value,
// which the node yields, and the items.
struct ScalarChannel {
    Expr* initial;
    Body* items;
};

bool evaluate_scalar_with_channel(Expr* node, void* result) {
    return AR_evaluate(SDL_SCALAR, result, static_cast<ScalarChannel*>(node->payload)->initial,
                       nullptr);
}

const ExprKind kScalarWithChannelKind = {"scalar with channel", 0, evaluate_scalar_with_channel};

void expression_channel(Symbol& symbol) {
    if (symbol.initialiser == nullptr || symbol.initialiser->kind != &kScalarWithChannelKind)
        return;
    const Body& items = *static_cast<ScalarChannel*>(symbol.initialiser->payload)->items;
    const BodyItem* drive = items.find("channel");
    const BodyItem* timing = items.find("timing");
    auto channel = std::make_unique<Aa_Channel>();
    channel->item = {symbol.name, &symbol};
    channel->data = std::make_unique<Aa_ExprChannelData>(drive->value);
    channel->timing = timing ? timing->value : nullptr;
    add_channel(std::move(channel));
}

// The timing of a channel of binary scene data: frame x scale + offset.
struct LinearTiming {
    float scale = 1, offset = 0;
};

bool evaluate_linear_timing(Expr* node, void* result) {
    float frame = 0;
    if (!current_frame(frame)) return false;
    const auto* timing = static_cast<const LinearTiming*>(node->payload);
    *static_cast<float*>(result) = frame * timing->scale + timing->offset;
    return true;
}

const ExprKind kLinearTimingKind = {"channel timing", 0, evaluate_linear_timing};

void packet_channel(const PacketChannel& from) {
    Symbol* symbol = find_symbol(from.name.c_str());
    if (symbol == nullptr || symbol->type != SDL_SCALAR || symbol->system != 0) {
        rptError("channel for %s names no declared SCALAR variable\n", from.name.c_str());
        return;
    }
    auto action = std::make_unique<Aa_Action>();
    action->name = from.name;
    action->mode = from.mode != 0 ? from.mode : kDefaultOutOfRange;
    for (const PacketKey& k : from.keys) {
        Keyframe key;
        key.time = k.time;
        key.value = k.value;
        key.in_x = -std::fabs(k.in_x);
        key.in_y = k.in_y;
        key.out_x = std::fabs(k.out_x);
        key.out_y = k.out_y;
        action->keys.add(new_keyframe(key));
    }
    set_tangents(action->keys, static_cast<TangentType>(from.tangents));
    auto* timing = sdl_pool().make<LinearTiming>();
    *timing = {from.scale, from.offset};
    Expr* node = allocate_node();
    node->kind = &kLinearTimingKind;
    node->type = SDL_SCALAR;
    node->payload = timing;
    auto channel = std::make_unique<Aa_Channel>();
    channel->item = {symbol->name, symbol};
    channel->data = std::make_unique<Aa_AnimChannelData>(add_action(std::move(action)));
    channel->timing = node;
    add_channel(std::move(channel));
}

}  // namespace

namespace {

// A `channel` or `timing` item of a parameter curve (whose channels drive
// scalar variables) or a motion curve (triple variables).
BodyItem* driving_item(const char* name, Expr* value, std::int32_t line, std::int32_t driven) {
    const bool path = driven == SDL_TRIPLE;
    if (std::strcmp(name, "timing") == 0) return make_item(name, value, FORM_VALUE, line);
    if (std::strcmp(name, "channel") != 0) {
        sdl_report_error(
            path ? "Unknown MOTION_CURVE parameter %s" : "Unknown PARAMETER_CURVE parameter %s",
            name);
        return nullptr;
    }
    if (value == nullptr || value->kind != &kVariableKind || value->symbol == nullptr ||
        value->symbol->type != driven || value->symbol->system != 0) {
        sdl_report_error(path ? "a MOTION_CURVE channel names a declared TRIPLE variable"
                              : "a PARAMETER_CURVE channel names a declared SCALAR variable");
        return nullptr;
    }
    return make_item(name, value, FORM_VALUE, line);
}

}  // namespace

BodyItem* curve_item(const char* name, Expr* value, std::int32_t line) {
    return driving_item(name, value, line, SDL_SCALAR);
}

BodyItem* motion_curve_item(const char* name, Expr* value, std::int32_t line) {
    return driving_item(name, value, line, SDL_TRIPLE);
}

BodyItem* scalar_channel_item(const char* name, Expr* value, std::int32_t line) {
    if (std::strcmp(name, "channel") != 0 && std::strcmp(name, "timing") != 0) {
        sdl_report_error("Unknown SCALAR parameter %s", name);
        return nullptr;
    }
    return make_item(name, value, FORM_VALUE, line);
}

Expr* scalar_with_channel(Expr* initial, ItemChain* items, std::int32_t line) {
    Body* body = make_body(SDL_SCALAR, nullptr, items, line);
    if (body->find("channel") == nullptr) {
        if (body->find("timing") != nullptr)
            sdl_report_error("a SCALAR with timing needs a channel");
        return initial;
    }
    auto* record = sdl_pool().make<ScalarChannel>();
    *record = {initial, body};
    Expr* node = allocate_node();
    node->kind = &kScalarWithChannelKind;
    node->type = SDL_SCALAR;
    node->line = line;
    node->payload = record;
    return node;
}

void load_animation_channels() {
    for_each_declared(SDL_PARAM_CV_CURVE, [](Symbol& symbol) { curve_channels(symbol); });
    for_each_declared(SDL_MOTION_CURVE, [](Symbol& symbol) { motion_channels(symbol); });
    for_each_declared(SDL_SCALAR, [](Symbol& symbol) { expression_channel(symbol); });
    for (const PacketChannel& channel : scene_packets().channels) packet_channel(channel);
    validate_channels();
}

void update_animation(float time) {
    static std::uint32_t updates = 0;
    if (++updates == 0) updates = 1;  // 0 is "never evaluated"
    for (auto& channel : animation_universe().channels) {
        Symbol* symbol = channel->item.symbol;
        if (symbol == nullptr || symbol->value == nullptr || !channel->data) continue;
        float at = time;
        if (channel->timing) AR_evaluate(SDL_SCALAR, &at, channel->timing, &time);
        // A channel that cannot be read leaves its variable as it was.
        double value = 0;
        if (channel->data->type() == kExprChannel) {
            if (static_cast<Aa_ExprChannelData&>(*channel->data).read(updates, at, value))
                symbol->scalar() = static_cast<float>(value);
            continue;
        }
        if (channel->data->type() != kAnimChannel) continue;
        auto& data = static_cast<Aa_AnimChannelData&>(*channel->data);
        if (data.action && data.action->kind == MOTION_PATH_ACTION) {
            Triple position;
            if (symbol->type == SDL_TRIPLE && data.read_path(at, time, position))
                *static_cast<Triple*>(symbol->value) = position;
        } else if (data.read(at, value)) {
            symbol->scalar() = static_cast<float>(value);
        }
    }
}

void AA_debug_print(int indent) {
    for (const auto& channel : animation_universe().channels) {
        rptError("%*sAa_Channel: 0x%x\n", indent, "",
                 static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(channel.get())));
        if (channel->data) channel->data->debug_print(indent + 2);
    }
}

}  // namespace sky
