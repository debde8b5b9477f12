// Animation channels and actions: keyframes in one pool, keyframe lists,
// actions that map a time to a value (keyframe curves; parameter curves are
// keyframe curves made from a `parameter_curve` declaration), and channels
// that write an action's value, read at their timing expression, into a
// scalar variable once per evaluation of the scene. The universe owns them
// all for the run.
//
// A parameter curve drives variables through two items of its body (the
// language only grows; docs/sdl-notes.md):
//     scalar height (0);
//     parameter_curve bounce (cvs = (...), out = POST_CYCLE,
//                             channel = height, timing = frame * 0.5);
// Several `channel = NAME` items drive several variables with one timing.
// The channels of binary scene data (docs/packets.md) are made likewise,
// each reading its keys at frame x scale + offset.
//
// A motion curve drives triple variables the same way, with the point of its
// path at the fraction of the path's length its timing gives (motion-path
// actions); a scalar declaration may carry an expression that drives the
// variable itself (expression channels):
//     motion_curve orbit (ring, out = POST_CYCLE, channel = where, timing = frame / 48);
//     scalar height (0, channel = animate(bounce, frame), timing = frame - 2);
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/vecmath.h"

namespace sky {

struct Body;
struct Expr;
struct ItemChain;
struct Symbol;

// --- keyframes -------------------------------------------------------------------

inline constexpr std::uint32_t kNoKey = 0xFFFFFFFFu;

// Flags of a keyframe; a key made from a parameter vertex holds its tangent
// mask instead.
enum KeyframeFlags : std::uint32_t {
    AA_KEYFRAME_ANCHOR = 1,
    AA_KEYFRAME_FLAG_PICKED = 2,
    AA_KEYFRAME_FLAG_IN_PICKED = 4,
    AA_KEYFRAME_FLAG_OUT_PICKED = 8,
};

struct Keyframe {
    double value = 0;
    float time = 0;
    float in_x = -1, in_y = 0;   // arriving at the key (x <= 0)
    float out_x = 1, out_y = 0;  // leaving it (x >= 0)
    std::uint32_t flags = 0;
};

// Tangent types (SDL constants TAN_*).
enum TangentType : std::int32_t {
    TAN_FAST = 1,
    TAN_FIXED = 2,
    TAN_FLAT = 4,
    TAN_IN_OUT = 8,
    TAN_LINEAR = 16,
    TAN_SLOW = 17,
    TAN_SMOOTH = 18,
    TAN_STEP = 20,
    TAN_UNKNOWN = 4096,
};

// Out-of-range modes: the pre type in bits 8-15, the post type in bits 0-7.
enum OutOfRangeMode : std::uint32_t {
    PRE_OSCILLATE = 256,
    PRE_CONSTANT = 512,
    PRE_CYCLE = 1024,
    PRE_LINEAR = 2048,
    PRE_IDENTITY = 4096,
    PRE_CYCLE_OFFSET = 8192,
    POST_OSCILLATE = 1,
    POST_CONSTANT = 2,
    POST_CYCLE = 4,
    POST_LINEAR = 8,
    POST_IDENTITY = 16,
    POST_CYCLE_OFFSET = 32,
};
inline constexpr std::uint32_t kDefaultOutOfRange = PRE_CONSTANT | POST_CONSTANT;

// The global key pool: identifiers stay valid for the run.
std::uint32_t new_keyframe(const Keyframe& key);
Keyframe& keyframe(std::uint32_t id);

// The mask of a key written as a parameter vertex with tangent types a and b.
std::uint32_t tangent_mask(std::int32_t type_a, std::int32_t type_b);

struct KeyframeList {
    std::vector<std::uint32_t> ids;
    bool sorted = true;

    void add(std::uint32_t id);
    void sort();  // by time; stable, so keys of one time keep their order
    std::size_t size() const { return ids.size(); }
    const Keyframe& at(std::size_t i) const { return keyframe(ids[i]); }
};

// Sets the tangents of every key of a sorted list by a tangent type: FIXED
// keeps them, FLAT and SLOW lie flat, LINEAR follows the chords to the
// neighbours, SMOOTH is `smooth_tangent`, STEP holds each value until the
// next key, FAST takes the steeper chord on both sides, IN_OUT lies flat
// arriving and follows the next chord leaving.
void set_tangents(KeyframeList& list, TangentType type);

// Tangents of a smooth key between its neighbours (either may be null).
void smooth_tangent(const Keyframe* previous, Keyframe& key, const Keyframe* next);
// A tangent given as an angle in radians: (1, tan(angle)), the angle clamped
// to 89.9 degrees either way.
void tangent_from_angle(double angle, float& x, float& y);

// The keys around `time` in a sorted list: equal when a key is at the time,
// kNoKey beyond either end. False for an empty list.
bool find_bracketing_keys(const KeyframeList& list, double time, std::uint32_t& lo,
                          std::uint32_t& hi);

// Outside the keys: either a final value, or the time folded into the keys'
// range and an offset to add to the value read there.
struct OutOfRange {
    bool final = false;
    double value = 0;
    double time = 0;
    double offset = 0;
};
OutOfRange apply_out_of_range(std::uint32_t mode, const Keyframe& first, const Keyframe& last,
                              double time);

// The cubic of a segment in s = t - time(k0): ((a s + b) s + c) s + d.
struct Hermite {
    double a = 0, b = 0, c = 0, d = 0;
};
Hermite hermite_coefficients(const Keyframe& k0, const Keyframe& k1);

// --- actions ---------------------------------------------------------------------

enum ActionKind { KEYFRAME_ACTION, PARAM_CURVE_ACTION, MOTION_PATH_ACTION };

struct Aa_Action {
    std::string name;
    ActionKind kind = KEYFRAME_ACTION;
    std::int32_t in_type = TAN_FIXED, out_type = TAN_FIXED;
    std::uint32_t mode = kDefaultOutOfRange;
    KeyframeList keys;
    const Body* path = nullptr;   // a motion path's motion curve
    bool path_reported = false;   // its path's lack of length has been said
    std::int32_t references = 0;  // channels that read it
};

enum ActionStatus {
    ACTION_OK = 0,
    ACTION_BAD_ARGUMENTS = 1,
    ACTION_NO_OPERATION = 4,
    ACTION_NO_KEYS = 5,
};
ActionStatus evaluate_keyframe_action(Aa_Action* action, double time, double& value);

// The point of a motion-path action at `time`, read as the fraction of the
// way along its path's length (0 the start, 1 the end). Beyond [0, 1] the
// action's out-of-range modes decide as for keys (0, 0) and (1, 1) of slope
// 1: constant holds an end, cycle and oscillate fold the fraction back (the
// offset cycles shifting each lap by end - start), linear and identity go on
// along the end's direction at the same speed. A path without length prints
// "Unable to compute start and end tangents in
// Ai_compute_motion_path_points()." once.
ActionStatus evaluate_motion_path_action(Aa_Action* action, double time, Triple& position);

// --- channels --------------------------------------------------------------------

enum ChannelType { kUnknownChannel, kAnimChannel, kExprChannel };

class Aa_ChannelData {
public:
    virtual ~Aa_ChannelData() = default;
    virtual ChannelType type() const = 0;
    virtual void debug_print(int indent) const = 0;
};

// An action, with the last value read from it: a channel read again at the
// time it was last read (every evaluation of a still frame, the three walks
// of a motion-blurred frame) costs nothing.
class Aa_AnimChannelData final : public Aa_ChannelData {
public:
    explicit Aa_AnimChannelData(Aa_Action* read_from) : action(read_from) {}
    ChannelType type() const override { return kAnimChannel; }
    void debug_print(int indent) const override;
    bool read(double time, double& value);

    // A motion path's point: its curve may move with the frame, so the
    // point is kept only for one time of one evaluation of the scene.
    bool read_path(double time, float clock, Triple& position);

    Aa_Action* action;
    bool cached = false;
    double cached_time = 0, cached_value = 0;
    float cached_clock = 0;
    Triple cached_position;
};

// An expression, evaluated with `frame` at the channel's timing at every
// update; one that no frame can change only at the first.
class Aa_ExprChannelData final : public Aa_ChannelData {
public:
    explicit Aa_ExprChannelData(Expr* value);
    ChannelType type() const override { return kExprChannel; }
    void debug_print(int indent) const override;
    bool read(std::uint32_t update, double time, double& value);

    Expr* expression;
    std::uint32_t update_id = 0;  // the update it was last evaluated in (0: none)
    bool modified = true;         // its value changed at that update
    bool has_frame = true;        // depends on the frame; a constant is read once
    bool listed = false;          // in the debug print already
    double last_value = 0;
};

// The item a channel animates: a scalar variable (a triple one for motion
// paths).
struct AnimatedItem {
    std::string name;
    Symbol* symbol = nullptr;
};

struct Aa_Channel {
    AnimatedItem item;
    std::unique_ptr<Aa_ChannelData> data;
    Expr* timing = nullptr;  // absent: validation makes it `frame`
};

// The universe: every action and channel of the run.
struct AnimationUniverse {
    std::vector<std::unique_ptr<Aa_Action>> actions;
    std::vector<std::unique_ptr<Aa_Channel>> channels;
};
AnimationUniverse& animation_universe();
Aa_Action* add_action(std::unique_ptr<Aa_Action> action);
Aa_Channel* add_channel(std::unique_ptr<Aa_Channel> channel);
// Releases every channel and action (their references first).
void release_animation_universe();

// Every channel without an action: "channel for %s has a bad action";
// without timing: "channel for %s has bad timing, using frame", and the
// timing becomes `frame`. Loading goes on.
void validate_channels();

// A `NAME = value` item of a parameter curve's body, as the parser reads
// it: `channel` (a declared scalar variable) or `timing`; any other name, or
// a channel of something else, is an SDL error and gives null.
struct BodyItem;
BodyItem* curve_item(const char* name, Expr* value, std::int32_t line);
// The same for a motion curve, whose channels name declared TRIPLE variables.
BodyItem* motion_curve_item(const char* name, Expr* value, std::int32_t line);

// A scalar declaration's initial value with its channel items, `channel`
// (the expression that drives it) and `timing`: the node yields the initial
// value, and the channel is made with the others. Another item name, or
// timing without channel, is an SDL error and gives the initial value alone.
BodyItem* scalar_channel_item(const char* name, Expr* value, std::int32_t line);
Expr* scalar_with_channel(Expr* initial, ItemChain* items, std::int32_t line);

// Makes the actions and channels of the declared parameter curves, motion
// curves and scalars that name channels, then validates them. Once, after the declared values have
// their first values (keys may read them).
void load_animation_channels();

// Writes every channel's value at its timing into its variable; `time` is
// the scene clock's.
void update_animation(float time);

// Debug print of the universe on the error channel.
void AA_debug_print(int indent);

}  // namespace sky
