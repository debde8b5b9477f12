// The ray caster's camera pass: the main thread resolves what the samples
// need of the camera and the objects; every worker then builds its sample
// node, renders the rows of each tile it takes top to bottom, hands every
// finished row to the image writer, and releases the node after its last
// tile.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/frame_passes.h"
#include "base/options.h"
#include "base/tiles.h"
#include "base/workers.h"
#include "geometry/geometry_view.h"
#include "geometry/object_geometry.h"
#include "output/image_output.h"
#include "platform/fatal.h"
#include "platform/memory.h"
#include "render/caster_state.h"
#include "render/hidden_line.h"
#include "render/rows.h"
#include "render/sampling_tables.h"
#include "scene/scene_objects.h"
#include "sdl/environment.h"
#include "sdl/scene_description.h"
#include "sdl/types.h"
#include "shading/light.h"
#include "shading/light_fog.h"
#include "shading/photo_effects.h"
#include "shading/shader.h"

namespace sky {
namespace {

CasterCamera camera_state;
// A worker's state is made the first time the worker asks for it. A table
// of them all, made before main, faulted in and cleared a megabyte of pages
// at every start (more than half the pages a start touches) for workers
// that a render on a few processors never has. Only the worker itself makes
// its own; the main thread reads the others' counts between passes.
alignas(CasterWorker) std::byte worker_storage[kMaxWorkers][sizeof(CasterWorker)];
bool worker_made[kMaxWorkers];

CasterWorker* stored_worker(int index) {
    return std::launder(reinterpret_cast<CasterWorker*>(worker_storage[index]));
}
std::atomic<GlowSink> glow{nullptr};
std::atomic<RowSink> row_sink{nullptr};

template <typename T>
T* allocate(std::size_t count) {
    return static_cast<T*>(SKY_CALLOC(std::max<std::size_t>(count, 1), sizeof(T)));
}

template <typename T>
void release(T*& block) {
    if (block) SKY_FREE(block);
    block = nullptr;
}

const AR_ShaderInfo* object_shader(const RenderObject& object) {
    const auto* common = static_cast<const GeometryCommon*>(object.geometry);
    if (common == nullptr || common->shaders.empty()) return nullptr;
    std::size_t slot =
        object.type == SDL_POLYSET ? static_cast<std::size_t>(object.shader_slot) : 0;
    if (slot >= common->shaders.size()) slot = 0;
    ObjectValue value;
    if (!AR_evaluate(SDL_SHADER, &value, common->shaders[slot], nullptr)) return nullptr;
    const RR_Shader* shader = shader_of(value);
    return shader && shader->info && shader->info->model ? shader->info : nullptr;
}

bool shader_is_transparent(const AR_ShaderInfo& shader) {
    const TexturedColour& t = shader.transparency;
    return t.texture != nullptr || t.colour.x != 0.0f || t.colour.y != 0.0f || t.colour.z != 0.0f;
}

void set_up_worker(void*) {
    RR_init_sample_node(&caster_worker().node, *camera_state.camera);
}

void render_tile(Tile& tile, void*) {
    render_tile_rows(tile);
}

void tear_down_worker(void*) {
    RR_release_sample_node(caster_worker().node);
}

void hand_row(std::int32_t y, const RR_SampleNode& node) {
    const std::int32_t width = node.x_right - node.x_left + 1;
    if (camera_state.photo.active)
        apply_photo_effects(camera_state.photo, node.x_left, y, width, node.colour_row);
    if (RowSink sink = row_sink.load(std::memory_order_relaxed))
        sink(y, node.colour_row, node.depth_row, node.object_row, width);
    else
        output_scanline(y, camera_output(), node.colour_row, node.depth_row, node.object_row);
}

void blank_row(RR_SampleNode& node) {
    const std::int32_t width = node.x_right - node.x_left + 1;
    std::fill(node.colour_row, node.colour_row + 4 * width, 0.0f);
    std::fill(node.depth_row, node.depth_row + width, kNothingDepth);
}

}  // namespace

CasterCamera& caster_camera() {
    return camera_state;
}
CasterWorker& caster_worker() {
    return caster_worker(worker_index());
}
CasterWorker& caster_worker(int index) {
    if (!worker_made[index]) [[unlikely]] {
        new (worker_storage[index]) CasterWorker;
        worker_made[index] = true;
    }
    return *stored_worker(index);
}
void set_glow_sink(GlowSink sink) {
    glow.store(sink);
}
GlowSink glow_sink() {
    return glow.load(std::memory_order_relaxed);
}
void set_row_sink(RowSink sink) {
    row_sink.store(sink);
}

RR_SampleNode& worker_sample_node() {
    return caster_worker().node;
}

bool needs_full_sample_routine(const CameraRecord& camera) {
    const RenderOptions& options = render_options();
    return options.motion_blur || Ar_light_fog_active() || options.composite_rendering ||
           options.hidden_line || Ar_atmosphere().active ||
           scene_description().image_shade != nullptr || !camera.depth_name.empty() ||
           std::getenv("QUORL_USE_SLOW_RAYCASTER") != nullptr;
}

void RR_init_sample_node(RR_SampleNode* node, const CameraRecord& camera) {
    if (node == nullptr) fatal("Bad init of RR_SampleNode\n");
    const RenderOptions& options = render_options();
    RR_release_sample_node(*node);
    node->x_left = options.xleft;
    node->x_right = options.xright;
    node->y_low = options.ylow;
    node->y_high = options.yhigh;
    const std::int32_t width = std::max(options.xright - options.xleft + 1, 1);
    node->corner_width = width + 1;
    node->corner_rows = 2;
    node->aa_max = options.aalevelmax;
    node->aa_min = options.aalevelmin;
    if (options.hidden_line) node->aa_max = std::min(node->aa_max, 1);
    node->sample_spacing =
        node->aa_max > 0 ? 1.0 / std::sqrt(static_cast<double>(node->aa_max)) : 1.0;
    node->aa_threshold = options.aathreshold;
    const std::size_t corners = static_cast<std::size_t>(node->corner_width);
    for (int r = 0; r < 2; ++r) {
        node->corner_colour[r] = allocate<float>(4 * corners);
        node->corner_depth[r] = allocate<float>(corners);
        for (std::size_t k = 0; k < corners; ++k) {
            node->corner_colour[r][4 * k] = kUnsampledCorner;
            node->corner_depth[r][k] = kNothingDepth;
        }
        if (options.composite_rendering) node->coverage[r] = allocate<std::int32_t>(corners);
    }
    node->upper_corners = node->corner_colour[0];
    node->lower_corners = node->corner_colour[1];
    node->upper_depths = node->corner_depth[0];
    node->lower_depths = node->corner_depth[1];
    node->upper_coverage = node->coverage[0];
    node->lower_coverage = node->coverage[1];
    node->depth_row = allocate<float>(static_cast<std::size_t>(width));
    node->colour_row = allocate<float>(4 * static_cast<std::size_t>(width));
    if (options.hidden_line) {
        node->edge_rows = hidden_line_rows();
        // Each lattice row's position, then those of each row of cells.
        node->edge_row_y = allocate<double>(3 * static_cast<std::size_t>(node->edge_rows));
        std::fill(node->edge_row_y, node->edge_row_y + 3 * node->edge_rows, kNoEdgeRow);
        node->edge_records = allocate<EdgeRecord>(hidden_line_records(width));
        node->edge_cells = allocate<std::uint8_t>(hidden_line_cells(width));
    }
    if (scene_description().image_shade != nullptr)
        node->object_row = allocate<std::uint8_t>(8 * static_cast<std::size_t>(width));
    node->pixel_counter = 0;
    node->missed = 0;
    node->scan_direction = 1;
    node->fog_active = Ar_atmosphere().active ? 1 : 0;
    if (options.ignore_filmgate) {
        node->gate_left = -1;
        node->gate_right = options.xresolution + 1;
        node->gate_low = -1;
        node->gate_high = options.yresolution + 1;
    } else {
        node->gate_left = static_cast<std::int32_t>(camera.view.gate[0]);
        node->gate_right = static_cast<std::int32_t>(camera.view.gate[1]);
        node->gate_low = static_cast<std::int32_t>(camera.view.gate[2]);
        node->gate_high = static_cast<std::int32_t>(camera.view.gate[3]);
        // Non-square pixels squeeze the picture across: only the middle
        // 1/aspect of the columns shows it.
        if (sdl_version() >= 6.0f && camera.pixel_aspect != 1.0f) {
            const double squeeze = 1.0 / camera.pixel_aspect;
            const double half_width = options.xresolution / 2.0;
            node->gate_left = static_cast<std::int32_t>((1.0 - squeeze) * half_width);
            node->gate_right = static_cast<std::int32_t>((1.0 + squeeze) * half_width);
        }
    }
    node->flat_background = background_is_flat() ? 1 : 0;
    node->pixel_started = 0;
    node->pixel_triangles = nullptr;
    node->sample_routine = needs_full_sample_routine(camera) ? RC_sample_full : RC_sample_fast;
    // Hidden lines are drawn with or without anti-aliasing: a drawing asked
    // for is never rendered shaded instead.
    if (options.hidden_line)
        node->row_routine = hidden_line_row;
    else
        node->row_routine = node->aa_max > 0 ? adaptive_row : single_sample_row;
}

void RR_release_sample_node(RR_SampleNode& node) {
    release(node.corner_colour[0]);
    release(node.corner_colour[1]);
    release(node.corner_depth[0]);
    release(node.corner_depth[1]);
    release(node.coverage[0]);
    release(node.coverage[1]);
    release(node.depth_row);
    release(node.colour_row);
    release(node.object_row);
    release(node.edge_records);
    release(node.edge_cells);
    release(node.edge_row_y);
    node.edge_rows = 0;
    node.upper_corners = node.lower_corners = nullptr;
    node.upper_depths = node.lower_depths = nullptr;
    node.upper_coverage = node.lower_coverage = nullptr;
}

void render_tile_rows(Tile& tile) {
    CasterWorker& worker = caster_worker();
    RR_SampleNode& node = worker.node;
    const CasterCamera& cam = camera_state;
    if (node.colour_row == nullptr) return;
    // The plane is known by its triangle's address, which outlives the
    // triangle: an object is freed after the last tile that holds it, and
    // the next object made (in a later tile or frame) may take its memory.
    // Only while this tile holds its objects is the address theirs alone.
    worker.plane = TrianglePlane{};
    if (worker.swept) worker.swept->clear();
    node.x_left = tile.x_first;
    node.x_right = tile.x_last;
    node.y_low = tile.y_first;
    node.y_high = tile.y_last;
    start_tile_corners(node);
    const std::int32_t width = node.x_right - node.x_left + 1;
    bool corners_stale = false;
    for (std::int32_t y = tile.y_last; y >= tile.y_first; --y) {
        if (cam.fields && ((cam.yresolution - y) & 1) != cam.field_rows) continue;
        if (y < node.gate_low || y > node.gate_high) {
            blank_row(node);
            corners_stale = true;
        } else {
            if (corners_stale) start_tile_corners(node), corners_stale = false;
            node.row_routine(node.colour_row, y, node);
        }
        hand_row(y, node);
        if (node.object_row) std::memset(node.object_row, 0, 8 * static_cast<std::size_t>(width));
    }
}

void prepare_caster(const CameraRecord& camera) {
    const RenderOptions& options = render_options();
    CasterCamera& cam = camera_state;
    const GeometryView& view = geometry_view();
    cam.camera = &camera;
    cam.screen = camera.view.screen;
    cam.perspective = cam.screen.perspective;
    cam.depth_scale = view.depth_scale;
    cam.depth_offset = view.depth_offset;
    cam.axial_depth = options.use_lumenfold_depth || !cam.perspective;
    cam.depth_file = !camera.depth_name.empty();
    cam.composite = options.composite_rendering;
    cam.glow = Ar_shader_glow_on();
    cam.light_effects = Ar_light_effects_active();
    cam.fog = Ar_atmosphere().active;
    cam.photo = evaluate_photo_effects(scene_description().photo_effects, options.frame,
                                       options.xresolution, options.yresolution);
    Ar_prepare_light_fog();
    cam.light_fog = Ar_light_fog_prepared();
    cam.motion_blur = options.motion_blur;
    Matrix4 world_from_open, world_from_close;
    cam.camera_moves = options.motion_blur && options.camera_motion_blur &&
                       Ar_invert_matrix(view.eye_from_world_open, world_from_open) &&
                       Ar_invert_matrix(view.eye_from_world_close, world_from_close);
    if (cam.camera_moves) {
        cam.frame_from_open = multiply(world_from_open, view.eye_from_world);
        cam.frame_from_close = multiply(world_from_close, view.eye_from_world);
    }
    cam.timing = options.timing_depth;
    cam.xresolution = options.xresolution;
    cam.yresolution = options.yresolution;
    cam.fields = options.fields;
    // The odd field is every other line counted from the top line 1.
    int odd_lines = options.field_parity == 0 ? 1 : 0;
    if (std::getenv("QUORL_SWITCH_SCANLINES_EVEN_ODD_SENSE") != nullptr) odd_lines = !odd_lines;
    cam.field_rows = odd_lines;

    ObjectList& objects = frame_objects();
    cam.objects.assign(objects.size(), ObjectShading{});
    for (std::size_t k = 0; k < objects.size(); ++k) {
        RenderObject& object = objects[k];
        ObjectShading& shading = cam.objects[k];
        shading.shader = object_shader(object);
        shading.lights = Ar_object_lights(object);
        shading.name = object.name;
        if (shading.shader) {
            shading.transparent = shader_is_transparent(*shading.shader);
            shading.opacity_depth = shading.shader->param[SHADER_OPACITY_DEPTH];
        }
        object.shading = &shading;
    }
    prepare_background(options.xresolution, options.yresolution, &camera.view);
    if (options.hidden_line) prepare_hidden_line(cam);
}

namespace {

std::int32_t caster_tile_border(const CameraRecord&) {
    if (!render_options().hidden_line) return 1;
    std::vector<const AR_ShaderInfo*> shaders;
    const ObjectList& objects = frame_objects();
    for (std::size_t k = 0; k < objects.size(); ++k) shaders.push_back(object_shader(objects[k]));
    return hidden_line_border(shaders);
}

}  // namespace

void install_render_passes() {
    build_jitter_tables();
    FramePasses& passes = frame_passes();
    passes.tile_border = caster_tile_border;
    passes.prepare_render = prepare_caster;
    passes.camera_pass.set_up = set_up_worker;
    passes.camera_pass.render_tile = render_tile;
    passes.camera_pass.tear_down = tear_down_worker;
}

void remove_render_passes() {
    FramePasses& passes = frame_passes();
    passes.tile_border = nullptr;
    passes.prepare_render = nullptr;
    passes.camera_pass.set_up = nullptr;
    passes.camera_pass.render_tile = nullptr;
    passes.camera_pass.tear_down = nullptr;
}

std::int64_t worker_samples(int worker) {
    return worker_made[worker] ? stored_worker(worker)->samples : 0;
}

void reset_sample_counts() {
    for (int w = 0; w < kMaxWorkers; ++w)
        if (worker_made[w]) stored_worker(w)->samples = 0;
}

}  // namespace sky
