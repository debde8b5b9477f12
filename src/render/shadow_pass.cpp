// The shadow pass runs on the main thread between the frame's evaluation
// and its cameras. For each map it swaps the light's square window into the
// render options, sees the scene from the light through a perspective view
// whose angle covers the cone and penumbra, and releases the workers on
// the map's tiles with the map tile routine in place of the sampler. The
// maps live here, one per light placement, across frames: with -k a map
// built once is kept for every later frame; without it the map is built
// again into the same memory.
#include "render/shadow_pass.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/arena.h"
#include "base/counters.h"
#include "base/frame_passes.h"
#include "base/options.h"
#include "base/tiles.h"
#include "base/workers.h"
#include "geometry/geometry_view.h"
#include "geometry/object_queue.h"
#include "output/statistics.h"
#include "platform/fatal.h"
#include "platform/report.h"
#include "render/automatic_clipping.h"
#include "render/shadow_map.h"
#include "scene/camera.h"
#include "scene/scene_objects.h"
#include "scene/transform.h"
#include "sdl/types.h"
#include "shading/light.h"

namespace sky {
namespace {

constexpr double kDegreesToRadians = 0.017453292519943295;
// The largest map: 16384² floats are a gigabyte. A size beyond it is a
// typing slip, not a map anyone can hold.
constexpr std::int32_t kLargestMap = 16384;

// The maps, by the light record they were evaluated from and the light's
// place among the placements of that record.
using MapKey = std::pair<const RR_Light*, int>;
std::map<MapKey, std::unique_ptr<ShadowMap>>& maps() {
    static std::map<MapKey, std::unique_ptr<ShadowMap>> all;
    return all;
}

// The lights the frame placed with the key of each.
struct FrameLight {
    AR_LightInfo* info;
    MapKey key;
};

std::vector<FrameLight> frame_lights() {
    std::vector<FrameLight> lights;
    std::map<const RR_Light*, int> seen;
    for (auto& entry : light_list()) {
        auto* info = static_cast<AR_LightInfo*>(entry->reference.record);
        if (info == nullptr) continue;
        lights.push_back({info, {info->light, seen[info->light]++}});
    }
    return lights;
}

bool casts_map_shadows(const AR_LightInfo& light) {
    return light.on && light.kind == LIGHT_SPOT && light.casts_shadows &&
           light.param[LIGHT_USE_SHADOW_MAP] != 0.0f && light.model_info != nullptr;
}

const SpotLightInfo& spot_of(const AR_LightInfo& light) {
    return *static_cast<const SpotLightInfo*>(light.model_info);
}

// How the pass's reports name the light: a spot light placed without a
// name by its model's name, rather than by nothing at all.
const char* name_of(const AR_LightInfo& light) {
    return light.name != nullptr && *light.name != '\0' ? light.name : "spot";
}

// The files a map is written to: empty when not wanted.
struct MapFiles {
    std::string depth_map;
    std::string mask;
};

std::string evaluated_name(Expr* expression) {
    std::string name;
    if (expression && !AR_evaluate(SDL_FILENAME, &name, expression, nullptr)) name.clear();
    return name;
}

MapFiles map_files(const AR_LightInfo& light) {
    const SpotLightInfo& spot = spot_of(light);
    const bool on_disk = render_options().spot_depth != 0;
    MapFiles files;
    // Files keep the name as given: an unnamed light's is "_depth_map".
    const std::string fallback = std::string(light.name ? light.name : "") + "_depth_map";
    // Maps are never read back: a map named as input is built and written
    // to that name.
    if (spot.depth_input || on_disk) {
        std::string input = evaluated_name(spot.depth_input);
        files.depth_map = input.empty() ? fallback : input;
    } else if (spot.depth_output) {
        files.depth_map = evaluated_name(spot.depth_output);
        if (files.depth_map.empty()) files.depth_map = fallback;
    }
    if (spot.shadow_output) files.mask = evaluated_name(spot.shadow_output);
    return files;
}

// Whether the light needs a map built this frame; with -k a map kept from
// an earlier frame is handed to it instead.
bool needs_map(FrameLight& light) {
    if (!casts_map_shadows(*light.info)) return false;
    if (render_options().spot_memory) {
        auto found = maps().find(light.key);
        if (found != maps().end() && found->second->size > 0) {
            light.info->shadow_map = found->second.get();
            return false;
        }
    }
    return true;
}

// What a map changes in the render options, kept to be put back.
struct SavedSettings {
    explicit SavedSettings(const RenderOptions& o)
        : xresolution(o.xresolution),
          yresolution(o.yresolution),
          xleft(o.xleft),
          xright(o.xright),
          ylow(o.ylow),
          yhigh(o.yhigh),
          aalevelmax(o.aalevelmax),
          aalevelmin(o.aalevelmin),
          tile_rows(o.tile_rows),
          area_tolerance(o.area_tolerance),
          camera_motion_blur(o.camera_motion_blur) {}
    void restore(RenderOptions& o) const {
        o.xresolution = xresolution, o.yresolution = yresolution;
        o.xleft = xleft, o.xright = xright, o.ylow = ylow, o.yhigh = yhigh;
        o.aalevelmax = aalevelmax, o.aalevelmin = aalevelmin;
        o.tile_rows = tile_rows;
        o.area_tolerance = area_tolerance;
        o.camera_motion_blur = camera_motion_blur;
    }
    std::int32_t xresolution, yresolution, xleft, xright, ylow, yhigh, aalevelmax, aalevelmin,
        tile_rows;
    float area_tolerance;
    bool camera_motion_blur;
};

PassFilter depth_pass_filter(const AR_LightInfo& light, bool linked_only) {
    PassFilter filter;
    filter.light = &light;
    filter.invisible_cast_shadows = render_options().invisible_objects_cast_shadows;
    filter.linked_only = linked_only;
    return filter;
}

// The light's view of the map: a square perspective view along the spot's
// axis, its angle the cone and the penumbra beyond it.
CameraRecord light_view(const AR_LightInfo& light, std::int32_t size, double near, double far) {
    const SpotLightInfo& spot = spot_of(light);
    CameraRecord view;
    view.kind = CAMERA_PERSPECTIVE;
    view.aspect = view.pixel_aspect = 1.0f;
    view.near = near;
    view.far = far;
    double angle = spot.spread + (spot.penumbra > 0 ? 2.0 * spot.penumbra : 0.0);
    angle = std::min(angle, 179.0);
    view.angle_of_view = static_cast<float>(angle * kDegreesToRadians);

    CameraView& v = view.view;
    const Triple eye = light.world_position;
    const Triple along = transform_vector(spot.shine_along, light.world_from_light_direction);
    const Triple up = transform_vector(spot.up_spot, light.world_from_light_direction);
    v.eye = eye;
    v.direction = along;
    v.view_point = Triple{eye.x + along.x, eye.y + along.y, eye.z + along.z};
    v.up_point = Triple{eye.x + up.x, eye.y + up.y, eye.z + up.z};
    view.twist = twist_from_up(v.eye, v.view_point, v.up_point, true);
    v.eye_from_world = look_at_matrix(v.eye, v.view_point, view.twist, true);
    Ar_invert_matrix(v.eye_from_world, v.world_from_eye);

    const double c = 1.0 / std::tan(view.angle_of_view / 2.0);
    const double p10 = 1.0 / (1.0 - near / far);
    v.projection = Matrix4{};
    v.projection.m[0] = v.projection.m[5] = static_cast<float>(c);
    v.projection.m[10] = static_cast<float>(p10);
    v.projection.m[14] = static_cast<float>(-p10 * near);
    v.projection.m[11] = 1.0f;
    v.projection.m[15] = 0.0f;

    const float half = static_cast<float>(size) / 2.0f;
    v.hx = v.hy = half;
    v.cx = v.cy = half;
    v.screen.cx = v.screen.cy = half;
    v.screen.sx = v.projection.m[0] * half;
    v.screen.sy = v.projection.m[5] * half;
    v.screen.perspective = true;
    view.pixel_angle = view.angle_of_view / static_cast<float>(size);
    return view;
}

ShadowMap& allocate_map(const FrameLight& light, std::int32_t size) {
    if (size > kLargestMap) {
        rptError("Error: the shadow map of light %s, %d by %d, is larger than %d by %d\n",
                 name_of(*light.info), size, size, kLargestMap, kLargestMap);
        fatal("Error: can't allocate shadow map\n");
    }
    std::unique_ptr<ShadowMap>& slot = maps()[light.key];
    if (!slot) slot = std::make_unique<ShadowMap>();
    ShadowMap& map = *slot;
    const std::size_t count = static_cast<std::size_t>(size) * size;
    if (map.size != size) {
        map.block.release();
        map.size = 0;
        if (!map.block.resize(count * sizeof(float), __LINE__, __FILE__))
            fatal("Error: can't allocate shadow map\n");
        map.size = size;
    }
    // No clearing: every tile of the pass writes each of its texels, and
    // the tiles cover the map.
    light.info->shadow_map = &map;
    return map;
}

void build_map(FrameLight& light) {
    RenderOptions& options = render_options();
    const AR_LightInfo& info = *light.info;
    const SpotLightInfo& spot = spot_of(info);
    const std::int32_t size = spot.shadow_resolution;

    reset_scratch_pools();
    reset_transform_state(transform_state());
    if (size < 1) fatal("shadow map too small");
    options.xresolution = options.yresolution = size;
    options.xleft = options.ylow = 0;
    options.xright = options.yhigh = size - 1;
    options.aalevelmax = 0;
    options.aalevelmin = 1;
    options.area_tolerance = map_area_tolerance(size);

    ShadowMap& map = allocate_map(light, size);
    reset_geometry_counters();

    // The planes bound what the map renders: a light that lights only its
    // linked objects still renders the others' shadows unless
    // QUORL_ILLUMINATED_SHADOWS_ONLY says not to, and they must not fall
    // outside its planes.
    const PassFilter filter =
        depth_pass_filter(info, std::getenv("QUORL_ILLUMINATED_SHADOWS_ONLY") != nullptr);
    double near = 0.1, far = 1000.0;
    {
        const CameraRecord aim = light_view(info, size, near, far);
        automatic_clipping(filter, aim.view.eye, aim.view.direction, {}, near, far);
    }
    const CameraRecord view = light_view(info, size, near, far);
    map.light_matrix = multiply(view.view.eye_from_world, view.view.projection);

    make_tiles();
    give_tile_buffers(tile_layout().width, tile_layout().rows, worker_count());
    queue_tiles();
    queue_light_objects(view, filter);

    const MapFiles files = map_files(info);

    MapView map_view;
    map_view.map = &map;
    map_view.p0 = view.view.projection.m[0];
    map_view.p5 = view.view.projection.m[5];
    map_view.p10 = view.view.projection.m[10];
    map_view.p14 = view.view.projection.m[14];
    map_view.cx = view.view.cx;
    map_view.cy = view.view.cy;
    map_view.hx = view.view.hx;
    map_view.hy = view.view.hy;
    // Light fog and the mask's preview need the nearest surface itself.
    map_view.nearest_surface = info.has_fog || !files.mask.empty();
    std::vector<float> column_squares(static_cast<std::size_t>(size));
    for (std::int32_t x = 0; x < size; ++x)
        column_squares[static_cast<std::size_t>(x)] = lateral_square(map_view, x, true);
    map_view.column_squares = column_squares.data();
    // The depth-only tiles sum up the query's blocks as they make the
    // texels, when the map's rows are whole blocks.
    const bool summarised_by_tiles = geometry_view().depth_only && size % kShadowBlock == 0;
    map_view.summarise = summarised_by_tiles;
    if (summarised_by_tiles) clear_shadow_summary(map);

    const RenderPass& camera_pass = frame_passes().camera_pass;
    RenderPass pass;
    pass.enter_geometry = camera_pass.enter_geometry;
    pass.render_tile = render_map_tile;
    pass.release_tile = camera_pass.release_tile;
    pass.context = &map_view;
    install_render_pass(pass);
    run_pass();
    install_render_pass(RenderPass{});
    release_object_queue();
    if (!summarised_by_tiles) summarise_shadow_map(map);

    // A file that cannot be made is skipped; the render goes on.
    if (!files.mask.empty()) write_shadow_mask_file(files.mask, map);
    if (!files.depth_map.empty()) write_depth_map_file(files.depth_map, map);

    print_statistics("Shadow Casting", name_of(info));
    rewind_arena(pass_arena());
    rewind_arena(tile_arena());
}

bool shadow_pass() {
    RenderOptions& options = render_options();
    const SavedSettings saved(options);
    options.camera_motion_blur = false;
    int built = 0;
    std::vector<FrameLight> lights = frame_lights();
    for (FrameLight& light : lights) {
        if (!needs_map(light)) continue;
        build_map(light);
        ++built;
    }
    saved.restore(options);
    return built > 0;
}

// Per camera: each map's projection from the camera's eye space.
void prepare_shadow_lookups(const CameraRecord& camera) {
    for (auto& entry : light_list()) {
        auto* info = static_cast<AR_LightInfo*>(entry->reference.record);
        if (info && info->shadow_map)
            info->shadow_map->clip_from_eye =
                multiply(camera.view.world_from_eye, info->shadow_map->light_matrix);
    }
}

}  // namespace

float map_area_tolerance(std::int32_t size) {
    if (size > 4096) return 0.01024f;
    if (size > 2048) return 0.00256f;
    if (size > 1024) return 0.00064f;
    if (size > 512) return 0.00016f;
    if (size > 256) return 0.00004f;
    return 0.00001f;
}

void install_shadow_passes() {
    FramePasses& passes = frame_passes();
    passes.shadow_pass = shadow_pass;
    passes.automatic_clipping = camera_automatic_clipping;
    // Nothing to release after a camera: the lookups live in the maps.
    passes.prepare_shadow_lookups = prepare_shadow_lookups;
}

void remove_shadow_passes() {
    FramePasses& passes = frame_passes();
    passes.shadow_pass = nullptr;
    passes.automatic_clipping = nullptr;
    passes.prepare_shadow_lookups = nullptr;
    maps().clear();
}

}  // namespace sky
