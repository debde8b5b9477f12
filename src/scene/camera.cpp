// Camera entries: made from the scene's camera bodies, sorted by the stages'
// camera choice, named by the command line, copied for video fields and
// stereo, placed by the model walk and selected one by one for rendering.
//
// Field and stereo copies share the components (the expressions) of the
// entry they copy and have records of their own; they also share its
// placement snapshots unless the camera moves, when each copy needs its own
// open and close snapshots.
#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

#include "base/options.h"
#include "platform/fatal.h"
#include "scene/camera.h"
#include "scene/camera_internal.h"
#include "scene/scene_clock.h"
#include "sdl/expr.h"
#include "sdl/pool.h"
#include "sdl/scene_description.h"

namespace sky {
namespace {

constexpr const char* kComponentNames[CC_COUNT] = {
    "eye",
    "view",
    "up",
    "twist",
    "filmaperture_x",
    "filmaperture_y",
    "filmoffset_x",
    "filmoffset_y",
    "aov",
    "aspect",
    "aspect_ratio_pixel",
    "viewport",
    "placement_fit_code",
    "placement_shift",
    "near",
    "far",
    "win_xsize",
    "win_ysize",
    "pix",
    "mask",
    "depth_file",
    "active",
    "perspective",
    "depth_of_field",
    "focal_length",
    "f_stop",
    "focal_distance",
    "auto_focus",
    "scaling_factor",
    "motion_blur",
};

struct CameraList {
    CameraEntry* head = nullptr;
    CameraEntry* tail = nullptr;

    void append(CameraEntry* entry) {
        entry->next = nullptr;
        if (tail)
            tail->next = entry;
        else
            head = entry;
        tail = entry;
    }
    void insert_after(CameraEntry* at, CameraEntry* entry) {
        entry->next = at->next;
        at->next = entry;
        if (tail == at) tail = entry;
    }
};

struct CameraStore {
    std::vector<std::unique_ptr<CameraEntry>> entries;
    std::vector<std::unique_ptr<CameraRecord>> records;
    CameraList rendered;
    CameraList set_aside;
};

CameraStore& store() {
    static CameraStore cameras;
    return cameras;
}

CameraEntry* new_entry() {
    CameraStore& s = store();
    s.entries.push_back(std::make_unique<CameraEntry>());
    s.records.push_back(std::make_unique<CameraRecord>());
    CameraEntry* entry = s.entries.back().get();
    entry->evaluated = s.records.back().get();
    return entry;
}

// A copy for a field or an eye: the same components, a fresh record.
CameraEntry* copy_entry(CameraEntry& from) {
    CameraEntry* copy = new_entry();
    CameraRecord* record = copy->evaluated;
    *copy = from;
    copy->evaluated = record;
    copy->next = nullptr;
    copy->origin = from.origin ? from.origin : &from;
    return copy;
}

int component_of(std::string_view name) {
    if (name == "fov") return CC_AOV;
    for (int c = 0; c < CC_COUNT; ++c)
        if (name == kComponentNames[c]) return c;
    return -1;
}

CameraEntry* entry_from(const CameraSource& source) {
    const Body* body = source.body;
    CameraEntry* entry = new_entry();
    entry->body = body;
    entry->line = body->line;
    entry->name = source.name ? source.name : "";
    // Later items override earlier ones of the same component, `fov` and
    // `aov` included.
    for (const BodyItem& item : body->items) {
        if (item.name == nullptr) continue;
        int c = component_of(item.name);
        if (c < 0) continue;  // units_to_feet and the matte settings are not the camera's
        entry->components[static_cast<std::size_t>(c)] = item.value;
        if (c == CC_TWIST) entry->twist_given = true;
    }
    return entry;
}

// A stage takes part in the camera choice only when it was read.
bool stage_takes_cameras(const SceneDescription& scene, std::int32_t stage) {
    if (stage == 0) return true;
    if (stage < 0 || static_cast<std::size_t>(stage) >= scene.stages.size()) return false;
    const StageRecord& record = scene.stages[static_cast<std::size_t>(stage)];
    return record.file != nullptr && record.camera;
}

void move_all(CameraList& from, CameraList& to) {
    for (CameraEntry* e = from.head; e;) {
        CameraEntry* next = e->next;
        to.append(e);
        e = next;
    }
    from = CameraList{};
}

Expr* filename_literal(const std::string& name) {
    return make_filename(pool_copy_string(name), nullptr, 0);
}

// Every entry made from the same camera body: the entry and its copies.
template <typename Visit>
void for_each_copy_of(const Body* body, Visit visit) {
    for (CameraEntry* e = store().rendered.head; e; e = e->next)
        if (e->body == body) visit(*e);
}

bool global_motion_blur() {
    return render_options().motion_blur;
}

}  // namespace

const char* camera_component_name(CameraComponent component) {
    return component >= 0 && component < CC_COUNT ? kComponentNames[component] : "";
}

CameraGlobals& camera_globals() {
    static CameraGlobals globals;
    return globals;
}

void clear_cameras() {
    CameraStore& s = store();
    s.rendered = CameraList{};
    s.set_aside = CameraList{};
    s.entries.clear();
    s.records.clear();
}

CameraEntry* first_camera() {
    return store().rendered.head;
}
CameraEntry* first_set_aside_camera() {
    return store().set_aside.head;
}

void build_camera_entries() {
    clear_cameras();
    CameraStore& s = store();
    const SceneDescription& scene = scene_description();
    // A stage that chooses its cameras sets aside every camera read before
    // it, whether or not it brings cameras of its own.
    std::int32_t stage = 0;
    auto reach_stage = [&](std::int32_t target) {
        for (; stage < target; ++stage)
            if (stage_takes_cameras(scene, stage + 1)) move_all(s.rendered, s.set_aside);
    };
    for (const CameraSource& source : scene.cameras) {
        if (source.body == nullptr) continue;
        reach_stage(source.stage);
        CameraEntry* entry = entry_from(source);
        (stage_takes_cameras(scene, source.stage) ? s.rendered : s.set_aside).append(entry);
    }
    reach_stage(static_cast<std::int32_t>(scene.stages.size()) - 1);

    if (CameraEntry* first = s.rendered.head) {
        if (!first->components[CC_PIX]) first->components[CC_PIX] = scene.output;
        if (!first->components[CC_MASK]) first->components[CC_MASK] = scene.matte;
    }
}

void apply_command_line_to_cameras(const RenderOptions& options) {
    CameraEntry* first = first_camera();
    if (first) {
        if (!options.image_name.empty())
            first->components[CC_PIX] = filename_literal(options.image_name);
        if (!options.matte_name.empty())
            first->components[CC_MASK] = filename_literal(options.matte_name);
        if (!options.depth_name.empty())
            first->components[CC_DEPTH_FILE] = filename_literal(options.depth_name);
    }
    if (options.aspect_ratio_given) {
        Expr* aspect = first ? make_scalar_literal(options.aspect_ratio, 0) : nullptr;
        if (aspect == nullptr) exit_process(1);
        first->components[CC_ASPECT] = aspect;
    }
}

void prepare_field_cameras(const RenderOptions& options) {
    if (!options.even && !options.odd) fatal("fields=TRUE, but even=FALSE and odd=FALSE\n");
    CameraList& list = store().rendered;
    for (CameraEntry* e = list.head; e; e = e->next) {
        if (options.even && options.odd) {
            e->even_field = 1;
            CameraEntry* odd = copy_entry(*e);
            odd->even_field = 0;
            odd->odd_field = 1;
            list.insert_after(e, odd);
            e = odd;
        } else {
            e->even_field = options.even ? 1 : 0;
            e->odd_field = options.odd ? 1 : 0;
        }
    }
}

void add_stereo_cameras() {
    CameraList& list = store().rendered;
    for (CameraEntry* e = list.head; e; e = e->next) {
        CameraEntry* right = copy_entry(*e);
        right->right_eye = 1;
        list.insert_after(e, right);
        e = right;
    }
}

void place_camera(const Body* body, const TransformState& state) {
    const SceneClock& clock = scene_clock();
    bool moving = clock.camera_motion;
    auto which = [&](CameraRecord& r) -> std::shared_ptr<const TransformValue>& {
        if (moving && at_shutter_open(clock)) return r.open_placement;
        if (moving && at_shutter_close(clock)) return r.close_placement;
        return r.placement;
    };
    auto shared = std::make_shared<const TransformValue>(snapshot(state));
    bool first = true;
    for_each_copy_of(body, [&](CameraEntry& e) {
        // A moving camera's copies keep snapshots of their own, so that each
        // image's shutter interval can be released with its own record.
        which(*e.evaluated) =
            first || !moving ? shared : std::make_shared<const TransformValue>(*shared);
        first = false;
    });
}

void reset_cameras() {
    for (CameraEntry* e = first_camera(); e; e = e->next) {
        CameraRecord& r = *e->evaluated;
        r.placement.reset();
        r.open_placement.reset();
        r.close_placement.reset();
        r.open_aim.known = r.close_aim.known = false;
    }
}

void evaluate_all_cameras() {
    const SceneClock& clock = scene_clock();
    if (time_code(clock) != TIME_FRAME && !clock.camera_motion) return;
    for (CameraEntry* e = first_camera(); e; e = e->next) {
        if (!e->components[CC_PIX] && !e->components[CC_MASK] && !e->components[CC_DEPTH_FILE])
            continue;
        if (!evaluate_camera(*e)) {
            char what[200];
            std::snprintf(what, sizeof what, "the camera %s%s%s(line %d) cannot be evaluated",
                          e->name.empty() ? "" : "\"", e->name.c_str(),
                          e->name.empty() ? "" : "\" ", e->line);
            internal_error(__FILE__, __LINE__, what);
        }
        CameraRecord& r = *e->evaluated;
        if (at_shutter_open(clock) || at_shutter_close(clock)) {
            CameraRecord::Aim& aim = at_shutter_open(clock) ? r.open_aim : r.close_aim;
            aim = CameraRecord::Aim{r.eye, r.view_point, r.twist, true};
        }
    }
}

bool camera_is_moving(const CameraEntry& entry) {
    if (global_motion_blur() && render_options().camera_motion_blur) return true;
    Expr* motion = entry.components[CC_MOTION_BLUR];
    if (motion == nullptr) return false;
    if (!is_constant_value(motion)) return true;
    float value = 0.0f;
    if (!AR_evaluate(SDL_SCALAR, &value, motion, nullptr)) return false;
    return truncate_to_int(value) != 0;
}

bool camera_is_moving() {
    for (CameraEntry* e = first_camera(); e; e = e->next)
        if (camera_is_moving(*e)) return true;
    return false;
}

void set_camera_motion(bool on) {
    render_options().camera_motion_blur = on;
    scene_clock().camera_motion = on;
}

void decide_camera_motion_blur(RenderOptions& options) {
    bool on = options.motion_blur && camera_is_moving();
    options.camera_motion_blur = on;
    set_camera_motion(on);
}

CameraEntry* select_next_camera(CameraEntry* after, int parity) {
    const RenderOptions& options = render_options();
    CameraEntry* e = after ? after->next : first_camera();
    for (; e; e = e->next) {
        if (!e->evaluated->active) continue;
        if (options.fields && !(parity == 1 ? e->even_field : e->odd_field)) continue;
        break;
    }
    if (e == nullptr) return nullptr;

    CameraRecord& record = *e->evaluated;
    TransformState& state = transform_state();
    if (record.placement)
        state.value = *record.placement;
    else
        reset_transform_state(state);
    prepare_camera(record, options.fields, parity, options.animation, options.extension);
    camera_globals().pixel_angle = record.pixel_angle;
    state.value = snapshot(state);
    if (options.camera_motion_blur) {
        // A moving camera whose statement was not reached at a shutter time
        // stays where the frame time put it.
        if (!record.open_placement) record.open_placement = record.placement;
        if (!record.close_placement) record.close_placement = record.placement;
    }
    return e;
}

bool CM_is_camera_PERSP(const CameraRecord& record) {
    return record.kind == CAMERA_PERSPECTIVE;
}

}  // namespace sky
